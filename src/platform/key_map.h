#pragma once
// SDL's keys as the virtual-key codes the game hears, and the system keys it never hears.

#include <SDL.h>

#include <optional>

namespace vesquin {

// The virtual-key code of a key, or nothing for a key the game never hears of. Letters
// follow the keyboard layout; the digit row gives its digits whatever the layout prints on it.
std::optional<int> VirtualKeyOf(const SDL_Keysym& key);

// A system key: Alt held without Ctrl, or F10. These never reach the game's key routing.
bool IsSystemKey(const SDL_Keysym& key);

}  // namespace vesquin
