// SDL's keys as virtual-key codes, and the system keys that never reach the game.

#include <gtest/gtest.h>

#include <optional>

#include "platform/key_map.h"

namespace vesquin::testing {
namespace {

SDL_Keysym Key(SDL_Keycode sym, Uint16 mod = KMOD_NONE, SDL_Scancode scancode = SDL_SCANCODE_UNKNOWN) {
  SDL_Keysym key{};
  key.sym = sym;
  key.mod = mod;
  key.scancode = scancode == SDL_SCANCODE_UNKNOWN ? SDL_GetScancodeFromKey(sym) : scancode;
  return key;
}

TEST(VirtualKeys, KeysTheScreensUseGiveTheirCodes) {
  EXPECT_EQ(VirtualKeyOf(Key(SDLK_RETURN)), 13);
  EXPECT_EQ(VirtualKeyOf(Key(SDLK_KP_ENTER)), 13);
  EXPECT_EQ(VirtualKeyOf(Key(SDLK_LCTRL)), 17);
  EXPECT_EQ(VirtualKeyOf(Key(SDLK_RCTRL)), 17);
  EXPECT_EQ(VirtualKeyOf(Key(SDLK_ESCAPE)), 27);
  EXPECT_EQ(VirtualKeyOf(Key(SDLK_SPACE)), 32);
  EXPECT_EQ(VirtualKeyOf(Key(SDLK_LEFT)), 37);
  EXPECT_EQ(VirtualKeyOf(Key(SDLK_UP)), 38);
  EXPECT_EQ(VirtualKeyOf(Key(SDLK_RIGHT)), 39);
  EXPECT_EQ(VirtualKeyOf(Key(SDLK_DOWN)), 40);
}

TEST(VirtualKeys, LettersDigitsAndFunctionKeysCoverTheirRanges) {
  for (SDL_Keycode k = SDLK_a; k <= SDLK_z; ++k) EXPECT_EQ(VirtualKeyOf(Key(k)), 65 + (k - SDLK_a)) << k;
  for (SDL_Keycode k = SDLK_0; k <= SDLK_9; ++k) EXPECT_EQ(VirtualKeyOf(Key(k)), 48 + (k - SDLK_0)) << k;
  const SDL_Keycode functionKeys[] = {SDLK_F1, SDLK_F2, SDLK_F3, SDLK_F4,  SDLK_F5,  SDLK_F6,
                                      SDLK_F7, SDLK_F8, SDLK_F9, SDLK_F10, SDLK_F11, SDLK_F12};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(VirtualKeyOf(Key(functionKeys[i])), 112 + i) << i;
  EXPECT_EQ(VirtualKeyOf(Key(SDLK_d)), 68);
  EXPECT_EQ(VirtualKeyOf(Key(SDLK_n)), 78);
  EXPECT_EQ(VirtualKeyOf(Key(SDLK_y)), 89);
}

TEST(VirtualKeys, DigitRowGivesDigitsOnLayoutsThatPrintOtherCharactersThere) {
  // AZERTY: the key that gives '1' shifted gives '&' unshifted.
  EXPECT_EQ(VirtualKeyOf(Key(SDLK_AMPERSAND, KMOD_NONE, SDL_SCANCODE_1)), 49);
  EXPECT_EQ(VirtualKeyOf(Key(0xE0 /* à */, KMOD_NONE, SDL_SCANCODE_0)), 48);
}

TEST(VirtualKeys, KeypadGivesDigitsWithNumLockAndTheKeysUnderThemWithout) {
  const struct {
    SDL_Keycode key;
    int withNumLock;
    int withoutNumLock;
  } keypad[] = {
      {SDLK_KP_0, 96, 45},  {SDLK_KP_1, 97, 35},  {SDLK_KP_2, 98, 40},       {SDLK_KP_3, 99, 34},
      {SDLK_KP_4, 100, 37}, {SDLK_KP_5, 101, 12}, {SDLK_KP_6, 102, 39},      {SDLK_KP_7, 103, 36},
      {SDLK_KP_8, 104, 38}, {SDLK_KP_9, 105, 33}, {SDLK_KP_PERIOD, 110, 46},
  };
  for (const auto& k : keypad) {
    SCOPED_TRACE(SDL_GetKeyName(k.key));
    EXPECT_EQ(VirtualKeyOf(Key(k.key, KMOD_NUM)), k.withNumLock);
    EXPECT_EQ(VirtualKeyOf(Key(k.key, KMOD_NUM | KMOD_LSHIFT)), k.withNumLock);
    EXPECT_EQ(VirtualKeyOf(Key(k.key)), k.withoutNumLock);
  }
  // The rest of the keypad does not depend on NumLock.
  for (const Uint16 mod : {KMOD_NONE, KMOD_NUM}) {
    EXPECT_EQ(VirtualKeyOf(Key(SDLK_KP_ENTER, mod)), 13);
    EXPECT_EQ(VirtualKeyOf(Key(SDLK_KP_PLUS, mod)), 107);
    EXPECT_EQ(VirtualKeyOf(Key(SDLK_KP_DIVIDE, mod)), 111);
  }
}

TEST(VirtualKeys, KeysTheGameNeverHearsOfGiveNothing) {
  EXPECT_EQ(VirtualKeyOf(Key(SDLK_AUDIOMUTE)), std::nullopt);
  EXPECT_EQ(VirtualKeyOf(Key(SDLK_UNKNOWN)), std::nullopt);
}

TEST(SystemKeys, AltChordsAndF10AreSystemKeysButNotWithCtrl) {
  EXPECT_TRUE(IsSystemKey(Key(SDLK_F4, KMOD_LALT)));
  EXPECT_TRUE(IsSystemKey(Key(SDLK_a, KMOD_RALT)));
  EXPECT_TRUE(IsSystemKey(Key(SDLK_LALT, KMOD_LALT)));  // Alt itself
  EXPECT_TRUE(IsSystemKey(Key(SDLK_F10)));
  EXPECT_FALSE(IsSystemKey(Key(SDLK_a, KMOD_LCTRL | KMOD_RALT)));  // AltGr
  EXPECT_FALSE(IsSystemKey(Key(SDLK_F4)));
  EXPECT_FALSE(IsSystemKey(Key(SDLK_DOWN, KMOD_LCTRL)));
  EXPECT_FALSE(IsSystemKey(Key(SDLK_RETURN, KMOD_LSHIFT)));
}

}  // namespace
}  // namespace vesquin::testing
