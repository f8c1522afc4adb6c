#pragma once
// The game's paths and texts are UTF-8 with "/" between folders; Windows' wide calls take
// UTF-16 with "\". Conversions between the two.

#include <string>
#include <string_view>

namespace vesquin::windows {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);
// A path for the wide file calls: "\" between folders, and the "\\?\" form for a full path
// too long for the classic limit.
std::wstring WidePath(std::string_view utf8Path);
// The game's form of a path Windows gave: UTF-8 with "/" between folders.
std::string GamePath(std::wstring_view windowsPath);

}  // namespace vesquin::windows
