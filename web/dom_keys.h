#pragma once
// The page's keyboard events as the virtual-key codes the game hears, the same codes the SDL
// program gives for the same keys.

#include <optional>
#include <string_view>

namespace vesquin {

// `key` and `code` are a KeyboardEvent's values. Letters follow the keyboard layout (`key`);
// the digit row gives its digits whatever the layout prints on it (`code`); the keypad gives
// its digits with NumLock on and its navigation keys with NumLock off, as `key` tells.
// Nothing for a key the game never hears of.
std::optional<int> VirtualKeyOfDom(std::string_view key, std::string_view code);

}  // namespace vesquin
