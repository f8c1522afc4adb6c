#include "platform/key_map.h"

namespace vesquin {
namespace {

// SDL names keypad keys by their digits whatever NumLock says. On the keyboard the game was
// made for, NumLock on gives the keypad digit codes and NumLock off the keys printed under
// the digits: the arrows, Home, End, Page Up and Down, Insert, Delete, and 5 is Clear (12).
std::optional<int> KeypadKeyOf(const SDL_Keysym& key) {
  struct KeypadKey {
    SDL_Scancode scancode;
    int withNumLock;
    int withoutNumLock;
  };
  static constexpr KeypadKey kKeypad[] = {
      {SDL_SCANCODE_KP_0, 96, 45},  {SDL_SCANCODE_KP_1, 97, 35},       {SDL_SCANCODE_KP_2, 98, 40},
      {SDL_SCANCODE_KP_3, 99, 34},  {SDL_SCANCODE_KP_4, 100, 37},      {SDL_SCANCODE_KP_5, 101, 12},
      {SDL_SCANCODE_KP_6, 102, 39}, {SDL_SCANCODE_KP_7, 103, 36},      {SDL_SCANCODE_KP_8, 104, 38},
      {SDL_SCANCODE_KP_9, 105, 33}, {SDL_SCANCODE_KP_PERIOD, 110, 46},
  };
  const bool numLock = (key.mod & KMOD_NUM) != 0;
  for (const KeypadKey& k : kKeypad) {
    if (k.scancode == key.scancode || SDL_SCANCODE_TO_KEYCODE(k.scancode) == key.sym) {
      return numLock ? k.withNumLock : k.withoutNumLock;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<int> VirtualKeyOf(const SDL_Keysym& key) {
  if (const std::optional<int> keypad = KeypadKeyOf(key)) return keypad;
  const SDL_Keycode k = key.sym;
  if (k >= SDLK_a && k <= SDLK_z) return 'A' + (k - SDLK_a);
  if (k >= SDLK_0 && k <= SDLK_9) return '0' + (k - SDLK_0);
  // Layouts that print other characters on the digit row (AZERTY) still give its digits.
  if (key.scancode >= SDL_SCANCODE_1 && key.scancode <= SDL_SCANCODE_9)
    return '1' + (key.scancode - SDL_SCANCODE_1);
  if (key.scancode == SDL_SCANCODE_0) return '0';
  if (k >= SDLK_F1 && k <= SDLK_F12) return 112 + (k - SDLK_F1);
  switch (k) {
    case SDLK_BACKSPACE:
      return 8;
    case SDLK_TAB:
      return 9;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return 13;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
      return 16;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
      return 17;
    case SDLK_LALT:
    case SDLK_RALT:
      return 18;
    case SDLK_PAUSE:
      return 19;
    case SDLK_CAPSLOCK:
      return 20;
    case SDLK_ESCAPE:
      return 27;
    case SDLK_SPACE:
      return 32;
    case SDLK_PAGEUP:
      return 33;
    case SDLK_PAGEDOWN:
      return 34;
    case SDLK_END:
      return 35;
    case SDLK_HOME:
      return 36;
    case SDLK_LEFT:
      return 37;
    case SDLK_UP:
      return 38;
    case SDLK_RIGHT:
      return 39;
    case SDLK_DOWN:
      return 40;
    case SDLK_INSERT:
      return 45;
    case SDLK_DELETE:
      return 46;
    case SDLK_KP_MULTIPLY:
      return 106;
    case SDLK_KP_PLUS:
      return 107;
    case SDLK_KP_MINUS:
      return 109;
    case SDLK_KP_DIVIDE:
      return 111;
    default:
      return std::nullopt;
  }
}

bool IsSystemKey(const SDL_Keysym& key) {
  // As on the system the game was made for: with Ctrl also held (AltGr) a chord is an
  // ordinary key press.
  const bool alt = (key.mod & KMOD_ALT) != 0;
  const bool ctrl = (key.mod & KMOD_CTRL) != 0;
  return (alt && !ctrl) || key.sym == SDLK_F10;
}

}  // namespace vesquin
