// The game controller's unplugging, tried on SDL's virtual joystick.

#include "platform/sdl_controller.h"

#include <gtest/gtest.h>

namespace vesquin::testing {
namespace {

// SDL's virtual joystick stands in for a controller being plugged and unplugged.
class SdlControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError();
    if (SDL_NumJoysticks() != 0) GTEST_SKIP() << "a real controller is attached";
  }
  void TearDown() override {
    controller_.Release();
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
  }
  static int Plug() { return SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 2, 4, 1); }
  static void Unplug() {
    for (int i = SDL_NumJoysticks() - 1; i >= 0; --i) SDL_JoystickDetachVirtual(i);
  }

  SdlController controller_;
};

TEST_F(SdlControllerTest, NoControllerAttachedIsNoController) {
  EXPECT_LT(controller_.Create(), 0);
  EXPECT_FALSE(controller_.Opened());
  EXPECT_EQ(controller_.Poll(), 0);
}

TEST_F(SdlControllerTest, AnUnpluggedControllerIsKeptAndTakenAgainWhenItIsBack) {
  ASSERT_GE(Plug(), 0) << SDL_GetError();
  ASSERT_EQ(controller_.Create(), 0);
  EXPECT_EQ(controller_.Poll(), 0);
  EXPECT_TRUE(controller_.Attached());

  Unplug();
  for (int tick = 0; tick < 3; ++tick) EXPECT_EQ(controller_.Poll(), 0) << "an unplug is no failed read";
  EXPECT_TRUE(controller_.Opened());
  EXPECT_FALSE(controller_.Attached());

  ASSERT_GE(Plug(), 0) << SDL_GetError();
  EXPECT_EQ(controller_.Poll(), 0);  // taken again; read from the next tick on
  EXPECT_TRUE(controller_.Attached());
  EXPECT_EQ(controller_.Poll(), 0);
  Unplug();
}

TEST_F(SdlControllerTest, ReleaseIsSafeTwiceAndLeavesNothingToPoll) {
  ASSERT_GE(Plug(), 0) << SDL_GetError();
  ASSERT_EQ(controller_.Create(), 0);
  controller_.Release();
  controller_.Release();
  EXPECT_FALSE(controller_.Opened());
  EXPECT_EQ(controller_.Poll(), 0);
  Unplug();
}

}  // namespace
}  // namespace vesquin::testing
