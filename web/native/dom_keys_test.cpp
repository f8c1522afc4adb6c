// The page's keys give the SDL program's virtual-key codes: one list of keys, both mappings.
#include "dom_keys.h"

#include <gtest/gtest.h>

#include "platform/key_map.h"

namespace vesquin {
namespace {

struct SameKey {
  const char* domKey;
  const char* domCode;
  SDL_Keycode sym;
  SDL_Scancode scancode;
  std::optional<int> expected;
  Uint16 mod = KMOD_NONE;
};

SDL_Keysym Sym(const SameKey& k) {
  SDL_Keysym key{};
  key.sym = k.sym;
  key.scancode = k.scancode;
  key.mod = k.mod;
  return key;
}

// A key as the browser reports it and as SDL reports it, with the code the game must hear.
const SameKey kKeys[] = {
    {"Enter", "Enter", SDLK_RETURN, SDL_SCANCODE_RETURN, 13},
    {"Enter", "NumpadEnter", SDLK_KP_ENTER, SDL_SCANCODE_KP_ENTER, 13},
    {"Control", "ControlLeft", SDLK_LCTRL, SDL_SCANCODE_LCTRL, 17},
    {"Control", "ControlRight", SDLK_RCTRL, SDL_SCANCODE_RCTRL, 17},
    {"Escape", "Escape", SDLK_ESCAPE, SDL_SCANCODE_ESCAPE, 27},
    {" ", "Space", SDLK_SPACE, SDL_SCANCODE_SPACE, 32},
    {"ArrowLeft", "ArrowLeft", SDLK_LEFT, SDL_SCANCODE_LEFT, 37},
    {"ArrowUp", "ArrowUp", SDLK_UP, SDL_SCANCODE_UP, 38},
    {"ArrowRight", "ArrowRight", SDLK_RIGHT, SDL_SCANCODE_RIGHT, 39},
    {"ArrowDown", "ArrowDown", SDLK_DOWN, SDL_SCANCODE_DOWN, 40},
    {"d", "KeyD", SDLK_d, SDL_SCANCODE_D, 68},
    {"D", "KeyD", SDLK_d, SDL_SCANCODE_D, 68},
    {"n", "KeyN", SDLK_n, SDL_SCANCODE_N, 78},
    {"y", "KeyY", SDLK_y, SDL_SCANCODE_Y, 89},
    // Letters follow the layout: the key marked Y on a German keyboard sits where Z is.
    {"y", "KeyZ", SDLK_y, SDL_SCANCODE_Z, 89},
    {"z", "KeyY", SDLK_z, SDL_SCANCODE_Y, 90},
    // The digit row gives digits whatever the layout prints on it.
    {"1", "Digit1", SDLK_1, SDL_SCANCODE_1, '1'},
    {"&", "Digit1", SDLK_AMPERSAND, SDL_SCANCODE_1, '1'},
    {"0", "Digit0", SDLK_0, SDL_SCANCODE_0, '0'},
    {"F1", "F1", SDLK_F1, SDL_SCANCODE_F1, 112},
    {"F12", "F12", SDLK_F12, SDL_SCANCODE_F12, 123},
    {"Tab", "Tab", SDLK_TAB, SDL_SCANCODE_TAB, 9},
    {"Backspace", "Backspace", SDLK_BACKSPACE, SDL_SCANCODE_BACKSPACE, 8},
    {"Shift", "ShiftLeft", SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, 16},
    {"Home", "Home", SDLK_HOME, SDL_SCANCODE_HOME, 36},
    {"PageDown", "PageDown", SDLK_PAGEDOWN, SDL_SCANCODE_PAGEDOWN, 34},
    {"Delete", "Delete", SDLK_DELETE, SDL_SCANCODE_DELETE, 46},
    // The keypad with NumLock on: its digits and operators.
    {"8", "Numpad8", SDLK_KP_8, SDL_SCANCODE_KP_8, 104, KMOD_NUM},
    {"0", "Numpad0", SDLK_KP_0, SDL_SCANCODE_KP_0, 96, KMOD_NUM},
    {".", "NumpadDecimal", SDLK_KP_PERIOD, SDL_SCANCODE_KP_PERIOD, 110, KMOD_NUM},
    {"+", "NumpadAdd", SDLK_KP_PLUS, SDL_SCANCODE_KP_PLUS, 107, KMOD_NUM},
    {"*", "NumpadMultiply", SDLK_KP_MULTIPLY, SDL_SCANCODE_KP_MULTIPLY, 106, KMOD_NUM},
    // The keypad with NumLock off: SDL names the navigation keys themselves.
    {"ArrowUp", "Numpad8", SDLK_UP, SDL_SCANCODE_KP_8, 38},
    {"ArrowDown", "Numpad2", SDLK_DOWN, SDL_SCANCODE_KP_2, 40},
    {"ArrowLeft", "Numpad4", SDLK_LEFT, SDL_SCANCODE_KP_4, 37},
    {"ArrowRight", "Numpad6", SDLK_RIGHT, SDL_SCANCODE_KP_6, 39},
    {"Home", "Numpad7", SDLK_HOME, SDL_SCANCODE_KP_7, 36},
    {"End", "Numpad1", SDLK_END, SDL_SCANCODE_KP_1, 35},
    {"PageUp", "Numpad9", SDLK_PAGEUP, SDL_SCANCODE_KP_9, 33},
    {"PageDown", "Numpad3", SDLK_PAGEDOWN, SDL_SCANCODE_KP_3, 34},
    {"Insert", "Numpad0", SDLK_INSERT, SDL_SCANCODE_KP_0, 45},
    {"Delete", "NumpadDecimal", SDLK_DELETE, SDL_SCANCODE_KP_PERIOD, 46},
    // Keys the game never hears of.
    {"Meta", "MetaLeft", SDLK_LGUI, SDL_SCANCODE_LGUI, std::nullopt},
    {"Unidentified", "", SDLK_UNKNOWN, SDL_SCANCODE_UNKNOWN, std::nullopt},
};

TEST(DomKeys, GiveTheSdlProgramsCodes) {
  for (const SameKey& k : kKeys) {
    EXPECT_EQ(VirtualKeyOfDom(k.domKey, k.domCode), k.expected) << k.domKey << " / " << k.domCode;
    EXPECT_EQ(VirtualKeyOf(Sym(k)), k.expected) << "SDL, for " << k.domKey << " / " << k.domCode;
  }
}

TEST(DomKeys, KeypadFiveWithoutNumLockIsClear) {
  // SDL reports it as a keypad key of its own; the browser names it Clear, as Windows does.
  EXPECT_EQ(VirtualKeyOfDom("Clear", "Numpad5"), 12);
  EXPECT_EQ(VirtualKeyOfDom("5", "Numpad5"), 101);
}

}  // namespace
}  // namespace vesquin
