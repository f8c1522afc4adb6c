#include "windows/win32_window.h"

#include "platform/borrowed_device.h"
#include "windows/handles.h"
#include "windows/key_map.h"
#include "windows/text.h"

namespace vesquin::windows {
namespace {

constexpr wchar_t kClassName[] = L"Vesquin";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

using DeviceContext = UniqueOf<HDC, &DeleteDC>;
using GdiObject = UniqueOf<HGDIOBJ, &DeleteObject>;

}  // namespace

Win32Window::Win32Window(HINSTANCE instance, Win32Clock& clock) : instance_(instance), clock_(clock) {}

std::unique_ptr<Win32Window> Win32Window::Create(HINSTANCE instance, Win32Clock& clock) {
  std::unique_ptr<Win32Window> self(new Win32Window(instance, clock));
  self->icon_ = LoadIconW(instance, MAKEINTRESOURCEW(kIconResource));
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = Proc;
  windowClass.hInstance = instance;
  windowClass.hIcon = self->icon_;
  windowClass.hIconSm =
      static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                    GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kClassName;
  if (RegisterClassExW(&windowClass) == 0) return nullptr;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  // At the top left of the screen, as the Linux build's window.
  self->window_ = CreateWindowExW(0, kClassName, L"Vesquin", kStyle, 0, 0, frame.right - frame.left,
                                  frame.bottom - frame.top, nullptr, nullptr, instance, self.get());
  if (self->window_ == nullptr) return nullptr;
  self->about_ = std::make_unique<AboutBox>(self->window_);
  self->AddAboutEntry();
  return self;
}

Win32Window::~Win32Window() {
  about_.reset();
  audio_.reset();
  if (window_ != nullptr) DestroyWindow(window_);
}

void Win32Window::AddAboutEntry() {
  HMENU menu = GetSystemMenu(window_, FALSE);
  wchar_t text[128] = {};
  if (menu == nullptr || LoadStringW(instance_, kAboutMenuText, text, 128) <= 0) return;
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kAboutCommand, text);
}

void Win32Window::Show() {
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
  UpdateWindow(window_);
}

LRESULT CALLBACK Win32Window::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr || self->window_ == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  return self->OnMessage(message, wParam, lParam);
}

LRESULT Win32Window::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (const std::optional<GameKey> key = GameKeyOf(message, wParam)) {
    // Consumed before any default handling: Enter and Escape never close the window.
    events_.push_back({key->down ? WindowEvent::Kind::KeyDown : WindowEvent::Kind::KeyUp, key->code});
    return 0;
  }
  switch (message) {
    case WM_PAINT:
      // Drawn with the game's part of the paint, when the pump takes the event.
      ValidateRect(window_, nullptr);
      events_.push_back({WindowEvent::Kind::Paint});
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == kAboutCommand) {
        about_->Show();
        return 0;
      }
      break;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && controller_ != nullptr) controller_->Activated();
      return 0;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<LRESULT>(icon_);
    case WM_CLOSE:
      // The close command (Alt+F4, the system menu): no exit clip.
      events_.push_back({WindowEvent::Kind::Close});
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

void Win32Window::Paint() {
  HDC target = GetDC(window_);
  if (target == nullptr) return;
  // Loaded, stretched over the whole client area and freed on every paint.
  if (GdiObject picture{LoadBitmapW(instance_, MAKEINTRESOURCEW(kPictureBitmap))}) {
    BITMAP size{};
    GetObjectW(picture.get(), sizeof size, &size);
    if (DeviceContext memory{CreateCompatibleDC(target)}) {
      HGDIOBJ previous = SelectObject(memory.get(), picture.get());
      RECT client{};
      GetClientRect(window_, &client);
      SetStretchBltMode(target, HALFTONE);
      StretchBlt(target, 0, 0, client.right, client.bottom, memory.get(), 0, 0, size.bmWidth, size.bmHeight,
                 SRCCOPY);
      SelectObject(memory.get(), previous);
    }
  }
  ReleaseDC(window_, target);
}

std::optional<WindowEvent> Win32Window::Dispatch() {
  MSG message;
  while (events_.empty() && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
    if (message.message == WM_QUIT) {
      events_.push_back({WindowEvent::Kind::Close});
      break;
    }
    if (about_->Take(message)) continue;
    // Only system keys are translated (Alt+Space opens the system menu); the game's keys
    // never become characters.
    if (IsSystemKeyMessage(message.message)) TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (events_.empty()) return std::nullopt;
  const WindowEvent event = events_.front();
  events_.pop_front();
  return event;
}

std::optional<WindowEvent> Win32Window::PollEvent() { return Dispatch(); }

std::optional<WindowEvent> Win32Window::WaitEvent(std::optional<std::uint64_t> deadlineMs) {
  if (std::optional<WindowEvent> event = Dispatch()) return event;
  // While the timer is stopped, a look now and then all the same.
  clock_.WaitForMessageUntil(deadlineMs.value_or(clock_.NowMs() + 1'000));
  return Dispatch();
}

void Win32Window::TimerStarted(std::uint64_t startMs) {
  if (!timerOrigin_) timerOrigin_ = startMs;
}

void Win32Window::Ticked(std::uint64_t takenMs) {
  if (reportTick_) reportTick_(takenMs);
}

std::optional<std::string> Win32Window::ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::nullopt;
    if (n < path.size()) {
      path.resize(n);
      return GamePath(path);
    }
    if (path.size() >= 32'768) return std::nullopt;
    path.resize(path.size() * 2);
  }
}

std::unique_ptr<SoundDevice> Win32Window::CreateSoundDevice() {
  if (!audio_) {
    const std::optional<std::string> path = ExecutablePath();
    const std::string folder = path ? path->substr(0, path->find_last_of('/') + 1) : std::string();
    audio_ = WasapiOutput::Open(folder + "hrtf.table");
  }
  if (!audio_) return nullptr;
  // The output lives as long as the window, so that clips screens still hold at shutdown
  // never outlive it; the game's release ends it.
  return std::make_unique<BorrowedSoundDevice>(*audio_, [this] {
    lastStats_ = audio_->Stats();
    audio_.reset();
  });
}

void Win32Window::ShowError(const std::string& text) {
  MessageBoxW(window_, Wide(text).c_str(), L"Error!", MB_OK);
}

}  // namespace vesquin::windows
