#include <windows.h>

#include <atomic>
#include <utility>
#include <vector>

#include "details_file.h"
#include "scores/player_details.h"
#include "windows/handles.h"
#include "windows/text.h"

namespace vesquin::details {
namespace {

using windows::UniqueHandle;

// The system's own sentence for an error, without its line end.
std::string Reason(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring reason = n > 0 ? std::wstring(text, n) : L"error " + std::to_wstring(error);
  LocalFree(text);
  while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r' || reason.back() == L'.')) {
    reason.pop_back();
  }
  return windows::Utf8(reason);
}

bool IsReparsePoint(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

ReadResult ReadDetailsFile(const std::filesystem::path& folder, Fields& fields, std::string& error) {
  const std::filesystem::path target = folder / kFileName;
  try {
    UniqueHandle file(CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      const DWORD reason = GetLastError();
      if (reason == ERROR_FILE_NOT_FOUND || reason == ERROR_PATH_NOT_FOUND) return ReadResult::Missing;
      error = "Could not read " + ShownPath(target) + ": " + Reason(reason) + ".";
      return ReadResult::Failed;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file.get()) != FILE_TYPE_DISK || GetFileInformationByHandle(file.get(), &info) == FALSE ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      error = ShownPath(target) + " is not a regular file, so it is left alone.";
      return ReadResult::Failed;
    }
    std::vector<std::uint8_t> bytes(kPlayerDetailsReadLimit);
    std::size_t got = 0;
    while (got < bytes.size()) {
      DWORD n = 0;
      if (ReadFile(file.get(), bytes.data() + got, static_cast<DWORD>(bytes.size() - got), &n, nullptr) ==
          FALSE) {
        error = "Could not read " + ShownPath(target) + ": " + Reason(GetLastError()) + ".";
        return ReadResult::Failed;
      }
      if (n == 0) break;
      got += n;
    }
    bytes.resize(got);
    return ParseDetailsFile(bytes, fields) ? ReadResult::Read : ReadResult::Missing;
  } catch (...) {
    error = "Could not read " + ShownPath(target) + ".";
    return ReadResult::Failed;
  }
}

bool WriteDetailsFile(const std::filesystem::path& folder, const Fields& fields, std::string& error) {
  const std::filesystem::path target = folder / kFileName;
  try {
    if (std::string problem = FieldsProblem(fields); !problem.empty()) {
      error = std::move(problem);
      return false;
    }
    const DWORD targetAttributes = GetFileAttributesW(target.c_str());
    if (targetAttributes != INVALID_FILE_ATTRIBUTES &&
        (targetAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      error = ShownPath(target) + " is not a regular file, so it is left alone.";
      return false;
    }
    const auto failed = [&](DWORD reason) {
      error = "Could not write " + ShownPath(target) + ": " + Reason(reason) + ".";
      return false;
    };
    const std::string text = FormatDetailsFile(fields);
    // A fresh file of this process's own name (CREATE_NEW never opens what is there), moved
    // over the old file in one step, so that a failed write leaves the old details whole.
    static std::atomic<unsigned> serial{0};
    const std::filesystem::path part =
        folder / (std::string(kFileName) + "." + std::to_string(GetCurrentProcessId()) + "-" +
                  std::to_string(serial.fetch_add(1)) + ".part");
    UniqueHandle file(CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    if (!file) return failed(GetLastError());
    const auto discard = [&](DWORD reason) {
      file.Reset();
      DeleteFileW(part.c_str());
      return failed(reason);
    };
    DWORD written = 0;
    if (WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) == FALSE ||
        written != text.size() || FlushFileBuffers(file.get()) == FALSE) {
      return discard(GetLastError());
    }
    if (!file.Reset()) return discard(GetLastError());
    if (IsReparsePoint(target) || MoveFileExW(part.c_str(), target.c_str(),
                                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
      return discard(GetLastError());
    }
    return true;
  } catch (...) {
    error = "Could not write " + ShownPath(target) + ".";
    return false;
  }
}

}  // namespace vesquin::details
