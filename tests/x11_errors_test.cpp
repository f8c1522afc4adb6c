// An X error answered late, about a window that is already gone, must not end the program
// (Xlib's default handler would exit with status 1).

#include "platform/x11_errors.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

// Last: Xlib's macros (None, Bool, Status) would rewrite names in the headers above.
#include <X11/Xlib.h>

namespace vesquin {
namespace {

TEST(XErrors, ASendToAWindowThatIsGoneIsLoggedAndTheConnectionGoesOn) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X server; ctest runs it under xvfb-run";
  KeepRunningOnXErrors();
  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  const Window gone = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
  XDestroyWindow(display, gone);

  testing::internal::CaptureStderr();
  // What SDL does to wake its event loop.
  XEvent wake{};
  wake.xclient.type = ClientMessage;
  wake.xclient.window = gone;
  wake.xclient.format = 32;
  XSendEvent(display, gone, False, NoEventMask, &wake);
  XSync(display, False);
  const std::string logged = testing::internal::GetCapturedStderr();

  EXPECT_NE(logged.find("BadWindow"), std::string::npos) << logged;
  EXPECT_NE(XInternAtom(display, "WM_PROTOCOLS", False), static_cast<Atom>(None));
  XCloseDisplay(display);
}

}  // namespace
}  // namespace vesquin
