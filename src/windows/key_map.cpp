#include "windows/key_map.h"

namespace vesquin::windows {

std::optional<GameKey> GameKeyOf(UINT message, WPARAM wParam) {
  // Automatic repeats of a held key come as further key-down messages: further presses.
  if (message == WM_KEYDOWN) return GameKey{static_cast<int>(wParam), true};
  if (message == WM_KEYUP) return GameKey{static_cast<int>(wParam), false};
  return std::nullopt;
}

bool IsSystemKeyMessage(UINT message) {
  return message == WM_SYSKEYDOWN || message == WM_SYSKEYUP || message == WM_SYSCHAR;
}

}  // namespace vesquin::windows
