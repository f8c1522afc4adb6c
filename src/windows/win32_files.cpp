#include "windows/win32_files.h"

#include <windows.h>

#include <atomic>

#include "windows/handles.h"
#include "windows/text.h"

namespace vesquin::windows {
namespace {

constexpr DWORD kAllSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// An ordinary file on a disk: no folder, no reparse point, no pipe or device.
bool IsPlainFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file) != FILE_TYPE_DISK || GetFileInformationByHandle(file, &info) == FALSE) return false;
  return (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

// Up to `limit` bytes from the file's current position; nothing on a read error.
std::optional<std::vector<std::uint8_t>> ReadUpTo(HANDLE file, std::size_t limit) {
  std::vector<std::uint8_t> bytes;
  constexpr std::size_t kChunk = 1 << 16;
  while (bytes.size() < limit) {
    const std::size_t at = bytes.size();
    const auto want = static_cast<DWORD>(std::min(kChunk, limit - at));
    bytes.resize(at + want);
    DWORD got = 0;
    if (ReadFile(file, bytes.data() + at, want, &got, nullptr) == FALSE) return std::nullopt;
    bytes.resize(at + got);
    if (got == 0) break;
  }
  return bytes;
}

bool WriteAll(HANDLE file, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const auto want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
    DWORD written = 0;
    if (WriteFile(file, bytes.data(), want, &written, nullptr) == FALSE || written == 0) return false;
    bytes = bytes.subspan(written);
  }
  return true;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> Win32FileSystem::ReadExisting(const std::string& path,
                                                                       std::size_t maxBytes) {
  try {
    UniqueHandle file(CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file.get()) != FILE_TYPE_DISK || GetFileInformationByHandle(file.get(), &info) == FALSE ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return std::nullopt;
    }
    return ReadUpTo(file.get(), maxBytes);
  } catch (...) {
    return std::nullopt;
  }
}

bool Win32FileSystem::ReplaceExisting(const std::string& path, std::span<const std::uint8_t> bytes) {
  try {
    const std::wstring target = WidePath(path);
    // Opened as itself, never through the link it may be.
    UniqueHandle old(CreateFileW(target.c_str(), GENERIC_READ, kAllSharing, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!old || !IsPlainFile(old.get())) return false;
    LARGE_INTEGER start{};
    start.QuadPart = static_cast<LONGLONG>(bytes.size());
    std::vector<std::uint8_t> rest;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(old.get(), &size) == FALSE) return false;
    if (size.QuadPart > start.QuadPart) {
      if (SetFilePointerEx(old.get(), start, nullptr, FILE_BEGIN) == FALSE) return false;
      std::optional<std::vector<std::uint8_t>> tail =
          ReadUpTo(old.get(), static_cast<std::size_t>(size.QuadPart - start.QuadPart));
      if (!tail) return false;
      rest = std::move(*tail);
    }
    old.Reset();

    // A name of this process's own: CREATE_NEW never opens what is already there.
    static std::atomic<unsigned> serial{0};
    const std::wstring copy = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(serial.fetch_add(1)) + L".part";
    UniqueHandle file(CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    if (!file) return false;
    const bool written = WriteAll(file.get(), bytes) && WriteAll(file.get(), rest) &&
                         FlushFileBuffers(file.get()) != FALSE && file.Reset();
    if (!written || MoveFileExW(copy.c_str(), target.c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
      file.Reset();
      DeleteFileW(copy.c_str());
      return false;
    }
    return true;
  } catch (...) {
    return false;
  }
}

std::vector<std::string> Win32FileSystem::ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  try {
    std::wstring pattern = WidePath(folder);
    if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW entry{};
    FindHandle search(
        FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
    if (!search) return names;
    do {
      const std::wstring_view name = entry.cFileName;
      if (name != L"." && name != L"..") names.push_back(Utf8(name));
    } while (FindNextFileW(search.get(), &entry) != FALSE);
  } catch (...) {
    names.clear();
  }
  return names;
}

}  // namespace vesquin::windows
