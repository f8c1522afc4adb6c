#include "dom_keys.h"

#include <array>
#include <utility>

namespace vesquin {
namespace {

constexpr std::array<std::pair<std::string_view, int>, 22> kNamedKeys{{
    {"Backspace", 8}, {"Tab", 9},         {"Enter", 13},     {"Shift", 16},  {"Control", 17},
    {"Alt", 18},      {"Pause", 19},      {"CapsLock", 20},  {"Escape", 27}, {" ", 32},
    {"PageUp", 33},   {"PageDown", 34},   {"End", 35},       {"Home", 36},   {"ArrowLeft", 37},
    {"ArrowUp", 38},  {"ArrowRight", 39}, {"ArrowDown", 40}, {"Insert", 45}, {"Delete", 46},
    {"Clear", 12},    {"AltGraph", 18},
}};

constexpr std::array<std::pair<std::string_view, int>, 6> kKeypadOperators{{
    {"NumpadMultiply", 106},
    {"NumpadAdd", 107},
    {"NumpadSubtract", 109},
    {"NumpadDecimal", 110},
    {"NumpadDivide", 111},
    {"NumpadEnter", 13},
}};

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::optional<int> VirtualKeyOfDom(std::string_view key, std::string_view code) {
  const bool keypad = StartsWith(code, "Numpad");
  if (keypad) {
    // With NumLock on the keypad types digits and operators; off, it names navigation keys.
    if (code.size() == 7 && code[6] >= '0' && code[6] <= '9' && key.size() == 1 && key[0] >= '0' &&
        key[0] <= '9') {
      return 96 + (code[6] - '0');
    }
    for (const auto& [name, value] : kKeypadOperators) {
      if (code == name && (name != "NumpadDecimal" || key != "Delete")) return value;
    }
  } else {
    if (key.size() == 1) {
      const char c = key[0];
      if (c >= 'a' && c <= 'z') return 'A' + (c - 'a');
      if (c >= 'A' && c <= 'Z') return c;
    }
    if (code.size() == 6 && StartsWith(code, "Digit") && code[5] >= '0' && code[5] <= '9') return code[5];
    if (StartsWith(code, "F") && code.size() <= 3) {
      int n = 0;
      for (char c : code.substr(1)) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
      }
      if (n >= 1 && n <= 12) return 111 + n;
    }
  }
  for (const auto& [name, value] : kNamedKeys) {
    if (key == name) return value;
  }
  return std::nullopt;
}

}  // namespace vesquin
