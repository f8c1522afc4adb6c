#include "windows/text.h"

#include <windows.h>

#include <algorithm>

namespace vesquin::windows {

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(count > 0 ? count : 0), L'\0');
  if (count > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), count);
  return wide;
}

std::string Utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int count = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(count > 0 ? count : 0), '\0');
  if (count > 0) WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), count, nullptr, nullptr);
  return utf8;
}

std::wstring WidePath(std::string_view utf8Path) {
  std::wstring path = Wide(utf8Path);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  const bool drivePath = path.size() > 2 && path[1] == L':' && path[2] == L'\\';
  if (drivePath && path.size() >= MAX_PATH) path.insert(0, L"\\\\?\\");
  return path;
}

std::string GamePath(std::wstring_view windowsPath) {
  std::string path = Utf8(windowsPath);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

}  // namespace vesquin::windows
