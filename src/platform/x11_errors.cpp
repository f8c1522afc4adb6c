#include "platform/x11_errors.h"

#include <SDL.h>
#include <X11/Xlib.h>

namespace vesquin {
namespace {

// Xlib's default handler ends the process. The errors a running game meets are late answers
// about windows that are already gone: SDL wakes its waiting event loop by sending to the
// window it waits on, and when that window was just destroyed (the player closing the game)
// the server answers BadWindow. Nothing is lost by going on; ending with a failure would turn
// the player's close into a crash.
int LogXError(Display* display, XErrorEvent* error) {
  char text[160] = "";
  XGetErrorText(display, error->error_code, text, sizeof text);
  SDL_Log("vesquin: X error ignored: %s (request %u, resource 0x%lx)", text,
          static_cast<unsigned>(error->request_code), error->resourceid);
  return 0;
}

}  // namespace

void KeepRunningOnXErrors() { XSetErrorHandler(&LogXError); }

}  // namespace vesquin
