#pragma once
// Which window messages carry the game's keys. Windows gives the virtual-key codes the game
// uses as they are; keys with Alt (without Ctrl) and F10 come as system keys, which the
// game never hears: they keep their default meaning (Alt+F4 closes, Alt+Space opens the
// system menu).

#include <windows.h>

#include <optional>

namespace vesquin::windows {

struct GameKey {
  int code;
  bool down;  // false: a release
};

// The game's key of a message, or nothing for any other message.
std::optional<GameKey> GameKeyOf(UINT message, WPARAM wParam);
// Messages that the system turns into its own commands: only these are translated.
bool IsSystemKeyMessage(UINT message);

}  // namespace vesquin::windows
