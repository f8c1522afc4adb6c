#pragma once
// One owning type per kind of Windows handle: kernel handles, find handles, WinINet handles,
// COM pointers (Microsoft::WRL::ComPtr), and the apartment and MMCSS registrations of a thread.

#include <windows.h>
#include <wininet.h>
#include <wrl/client.h>

#include <utility>

namespace vesquin::windows {

using Microsoft::WRL::ComPtr;

// A handle closed by `Close`; `kEmpty` and, for kernel handles, the other empty value
// (null or INVALID_HANDLE_VALUE, whichever the call that made it does not use) are both empty.
template <typename Handle, BOOL(WINAPI* Close)(Handle)>
class UniqueOf {
 public:
  UniqueOf() = default;
  explicit UniqueOf(Handle handle) : handle_(handle) {}
  ~UniqueOf() { Reset(); }
  UniqueOf(UniqueOf&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueOf& operator=(UniqueOf&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  UniqueOf(const UniqueOf&) = delete;
  UniqueOf& operator=(const UniqueOf&) = delete;

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  // Closes now; false when the close itself failed (a write that the close completes).
  bool Reset() {
    const bool closed = !*this || Close(handle_) != FALSE;
    handle_ = nullptr;
    return closed;
  }

 private:
  Handle handle_ = nullptr;
};

// Files, events, threads, waitable timers.
using UniqueHandle = UniqueOf<HANDLE, &CloseHandle>;
// FindFirstFileExW's search.
using FindHandle = UniqueOf<HANDLE, &FindClose>;
// InternetOpenA's session and InternetOpenUrlA's request.
using InternetHandle = UniqueOf<HINTERNET, &InternetCloseHandle>;

// COM on this thread for as long as it lives, in the multithreaded apartment.
class ComApartment {
 public:
  ComApartment() : ready_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
  ~ComApartment() {
    if (ready_) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  bool Ready() const { return ready_; }

 private:
  bool ready_;
};

}  // namespace vesquin::windows
