#include "platform/sdl_window.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>
#include <string_view>
#include <thread>

#include "platform/borrowed_device.h"
#include "platform/curl_http.h"
#include "platform/posix_files.h"
#include "platform/sdl_audio.h"
#include "platform/x11_errors.h"
#include "shell/game.h"
#include "shell/main_window.h"

#ifndef VESQUIN_VERSION
#error "VESQUIN_VERSION must name the game's version"
#endif

namespace vesquin {
namespace {

struct SurfaceDeleter {
  void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using Surface = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

// A 5 x 7 bitmap font for the About box: one byte per row, bit 4 is the leftmost column.
struct Glyph {
  char c;
  std::uint8_t rows[7];
};
constexpr Glyph kFont[] = {
    {' ', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}}, {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}}, {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}}, {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}}, {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}}, {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}}, {'A', {0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}}, {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}}, {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}}, {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}}, {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}}, {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}}, {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}}, {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}}, {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}}, {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}}, {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}}, {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}}, {'a', {0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F}},
    {'b', {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x1E}}, {'c', {0x00, 0x00, 0x0E, 0x10, 0x10, 0x11, 0x0E}},
    {'d', {0x01, 0x01, 0x0D, 0x13, 0x11, 0x11, 0x0F}}, {'e', {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E}},
    {'f', {0x06, 0x09, 0x08, 0x1C, 0x08, 0x08, 0x08}}, {'g', {0x00, 0x0F, 0x11, 0x11, 0x0F, 0x01, 0x0E}},
    {'h', {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11}}, {'i', {0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E}},
    {'j', {0x02, 0x00, 0x06, 0x02, 0x02, 0x12, 0x0C}}, {'k', {0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12}},
    {'l', {0x0C, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'m', {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11}},
    {'n', {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11}}, {'o', {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E}},
    {'p', {0x00, 0x00, 0x1E, 0x11, 0x1E, 0x10, 0x10}}, {'q', {0x00, 0x00, 0x0F, 0x11, 0x0F, 0x01, 0x01}},
    {'r', {0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10}}, {'s', {0x00, 0x00, 0x0E, 0x10, 0x0E, 0x01, 0x1E}},
    {'t', {0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06}}, {'u', {0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x0D}},
    {'v', {0x00, 0x00, 0x11, 0x11, 0x11, 0x0A, 0x04}}, {'w', {0x00, 0x00, 0x11, 0x11, 0x15, 0x15, 0x0A}},
    {'x', {0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11}}, {'y', {0x00, 0x00, 0x11, 0x11, 0x0F, 0x01, 0x0E}},
    {'z', {0x00, 0x00, 0x1F, 0x02, 0x04, 0x08, 0x1F}},
};
constexpr int kGlyphAdvance = 6;  // five columns and one of space
constexpr int kGlyphHeight = 7;
constexpr int kTextScale = 2;

const Glyph* GlyphOf(char c) {
  for (const Glyph& g : kFont) {
    if (g.c == c) return &g;
  }
  return nullptr;
}

int TextWidth(std::string_view text) {
  return static_cast<int>(text.size()) * kGlyphAdvance * kTextScale - kTextScale;
}

void DrawText(SDL_Surface* target, int x, int y, std::string_view text, Uint32 colour) {
  for (const char c : text) {
    if (const Glyph* g = GlyphOf(c)) {
      for (int row = 0; row < kGlyphHeight; ++row) {
        for (int col = 0; col < 5; ++col) {
          if ((g->rows[row] >> (4 - col) & 1) == 0) continue;
          const SDL_Rect dot{x + col * kTextScale, y + row * kTextScale, kTextScale, kTextScale};
          SDL_FillRect(target, &dot, colour);
        }
      }
    }
    x += kGlyphAdvance * kTextScale;
  }
}

void Frame(SDL_Surface* target, const SDL_Rect& r, int width, Uint32 colour) {
  const SDL_Rect sides[] = {{r.x, r.y, r.w, width},
                            {r.x, r.y + r.h - width, r.w, width},
                            {r.x, r.y, width, r.h},
                            {r.x + r.w - width, r.y, width, r.h}};
  SDL_FillRects(target, sides, 4, colour);
}

constexpr int kAboutWidth = 200;
constexpr int kAboutHeight = 120;
constexpr SDL_Rect kOkButton{60, 80, 80, 28};
constexpr std::string_view kGameName = "Vesquin";
constexpr std::string_view kVersionLine = "Version " VESQUIN_VERSION;

bool InOkButton(int x, int y) {
  const SDL_Point p{x, y};
  return SDL_PointInRect(&p, &kOkButton) == SDL_TRUE;
}

// SDL names keypad keys by their digits whatever NumLock says. On the keyboard the game was
// made for, NumLock on gives the keypad digit codes and NumLock off the keys printed under
// the digits: the arrows, Home, End, Page Up and Down, Insert, Delete, and 5 is Clear (12).
std::optional<int> KeypadKeyOf(const SDL_Keysym& key) {
  struct KeypadKey {
    SDL_Scancode scancode;
    int withNumLock;
    int withoutNumLock;
  };
  static constexpr KeypadKey kKeypad[] = {
      {SDL_SCANCODE_KP_0, 96, 45},  {SDL_SCANCODE_KP_1, 97, 35},       {SDL_SCANCODE_KP_2, 98, 40},
      {SDL_SCANCODE_KP_3, 99, 34},  {SDL_SCANCODE_KP_4, 100, 37},      {SDL_SCANCODE_KP_5, 101, 12},
      {SDL_SCANCODE_KP_6, 102, 39}, {SDL_SCANCODE_KP_7, 103, 36},      {SDL_SCANCODE_KP_8, 104, 38},
      {SDL_SCANCODE_KP_9, 105, 33}, {SDL_SCANCODE_KP_PERIOD, 110, 46},
  };
  const bool numLock = (key.mod & KMOD_NUM) != 0;
  for (const KeypadKey& k : kKeypad) {
    if (k.scancode == key.scancode || SDL_SCANCODE_TO_KEYCODE(k.scancode) == key.sym) {
      return numLock ? k.withNumLock : k.withoutNumLock;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<int> VirtualKeyOf(const SDL_Keysym& key) {
  if (const std::optional<int> keypad = KeypadKeyOf(key)) return keypad;
  const SDL_Keycode k = key.sym;
  if (k >= SDLK_a && k <= SDLK_z) return 'A' + (k - SDLK_a);
  if (k >= SDLK_0 && k <= SDLK_9) return '0' + (k - SDLK_0);
  // Layouts that print other characters on the digit row (AZERTY) still give its digits.
  if (key.scancode >= SDL_SCANCODE_1 && key.scancode <= SDL_SCANCODE_9)
    return '1' + (key.scancode - SDL_SCANCODE_1);
  if (key.scancode == SDL_SCANCODE_0) return '0';
  if (k >= SDLK_F1 && k <= SDLK_F12) return 112 + (k - SDLK_F1);
  switch (k) {
    case SDLK_BACKSPACE:
      return 8;
    case SDLK_TAB:
      return 9;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return 13;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
      return 16;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
      return 17;
    case SDLK_LALT:
    case SDLK_RALT:
      return 18;
    case SDLK_PAUSE:
      return 19;
    case SDLK_CAPSLOCK:
      return 20;
    case SDLK_ESCAPE:
      return 27;
    case SDLK_SPACE:
      return 32;
    case SDLK_PAGEUP:
      return 33;
    case SDLK_PAGEDOWN:
      return 34;
    case SDLK_END:
      return 35;
    case SDLK_HOME:
      return 36;
    case SDLK_LEFT:
      return 37;
    case SDLK_UP:
      return 38;
    case SDLK_RIGHT:
      return 39;
    case SDLK_DOWN:
      return 40;
    case SDLK_INSERT:
      return 45;
    case SDLK_DELETE:
      return 46;
    case SDLK_KP_MULTIPLY:
      return 106;
    case SDLK_KP_PLUS:
      return 107;
    case SDLK_KP_MINUS:
      return 109;
    case SDLK_KP_DIVIDE:
      return 111;
    default:
      return std::nullopt;
  }
}

bool IsSystemKey(const SDL_Keysym& key) {
  // As on the system the game was made for: with Ctrl also held (AltGr) a chord is an
  // ordinary key press.
  const bool alt = (key.mod & KMOD_ALT) != 0;
  const bool ctrl = (key.mod & KMOD_CTRL) != 0;
  return (alt && !ctrl) || key.sym == SDLK_F10;
}

std::uint64_t MonotonicMs() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SdlClock::Sleep(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::int64_t SdlClock::CalendarSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

int SdlController::Create() {
  if (!subsystem_) {
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) return -1;
    subsystem_ = true;
  }
  // The first attached controller that can be opened is the one.
  for (int i = 0; i < SDL_NumJoysticks() && joystick_ == nullptr; ++i) joystick_ = SDL_JoystickOpen(i);
  if (joystick_ == nullptr) return -1;
  guid_ = SDL_JoystickGetGUID(joystick_);
  return 0;
}

void SdlController::Reacquire() {
  for (int i = 0; i < SDL_NumJoysticks(); ++i) {
    const SDL_JoystickGUID guid = SDL_JoystickGetDeviceGUID(i);
    if (std::memcmp(guid.data, guid_.data, sizeof guid.data) != 0) continue;
    SDL_Joystick* again = SDL_JoystickOpen(i);
    if (again == nullptr) return;
    SDL_JoystickClose(joystick_);
    joystick_ = again;
    return;
  }
}

int SdlController::Poll() {
  if (joystick_ == nullptr) return 0;
  SDL_JoystickUpdate();
  if (!SDL_JoystickGetAttached(joystick_)) {
    // Unplugged: nothing is read on this tick; the device is taken again once it is back.
    Reacquire();
    return 0;
  }
  const int axes = SDL_JoystickNumAxes(joystick_);
  const int buttons = SDL_JoystickNumButtons(joystick_);
  const int hats = SDL_JoystickNumHats(joystick_);
  if (axes < 0 || buttons < 0 || hats < 0) return -1;
  // The state is read and not used: no game action is bound to the controller.
  for (int i = 0; i < axes; ++i) static_cast<void>(SDL_JoystickGetAxis(joystick_, i));
  for (int i = 0; i < buttons; ++i) static_cast<void>(SDL_JoystickGetButton(joystick_, i));
  for (int i = 0; i < hats; ++i) static_cast<void>(SDL_JoystickGetHat(joystick_, i));
  return 0;
}

void SdlController::Release() {
  if (joystick_ != nullptr) SDL_JoystickClose(joystick_);
  joystick_ = nullptr;
  if (subsystem_) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
  subsystem_ = false;
}

std::unique_ptr<AboutBox> AboutBox::Create(SDL_Window* owner) {
  int x = SDL_WINDOWPOS_CENTERED;
  int y = SDL_WINDOWPOS_CENTERED;
  if (owner != nullptr) {
    // Centred over the main window, as a dialog box stands over its owner.
    int ox = 0;
    int oy = 0;
    SDL_GetWindowPosition(owner, &ox, &oy);
    x = std::max(0, ox + (kWindowWidth - kAboutWidth) / 2);
    y = std::max(0, oy + (kWindowHeight - kAboutHeight) / 2);
  }
  SDL_Window* window = SDL_CreateWindow("About Vesquin", x, y, kAboutWidth, kAboutHeight, SDL_WINDOW_HIDDEN);
  if (window == nullptr) return nullptr;
  if (owner != nullptr) SDL_SetWindowModalFor(window, owner);
  return std::unique_ptr<AboutBox>(new AboutBox(window));
}

void AboutBox::Show() {
  shown_ = true;
  buttonPressed_ = false;
  SDL_ShowWindow(window_);
  SDL_RaiseWindow(window_);
  Paint();
}

bool AboutBox::End() {
  shown_ = false;
  SDL_HideWindow(window_);
  return false;
}

AboutBox::~AboutBox() { SDL_DestroyWindow(window_); }

void AboutBox::Paint() {
  SDL_Surface* target = SDL_GetWindowSurface(window_);
  if (target == nullptr) return;
  const Uint32 face = SDL_MapRGB(target->format, 0xF0, 0xF0, 0xF0);
  const Uint32 ink = SDL_MapRGB(target->format, 0x00, 0x00, 0x00);
  const Uint32 button = SDL_MapRGB(target->format, 0xE1, 0xE1, 0xE1);
  const Uint32 edge = SDL_MapRGB(target->format, 0x00, 0x78, 0xD7);
  SDL_FillRect(target, nullptr, face);
  DrawText(target, (kAboutWidth - TextWidth(kGameName)) / 2, 14, kGameName, ink);
  DrawText(target, (kAboutWidth - TextWidth(kVersionLine)) / 2, 42, kVersionLine, ink);
  SDL_FillRect(target, &kOkButton, button);
  Frame(target, kOkButton, 2, edge);  // the default button, with the focus
  DrawText(target, kOkButton.x + (kOkButton.w - TextWidth("OK")) / 2,
           kOkButton.y + (kOkButton.h - kGlyphHeight * kTextScale) / 2, "OK", ink);
  SDL_UpdateWindowSurface(window_);
}

bool AboutBox::Handle(const SDL_Event& event) {
  switch (event.type) {
    case SDL_KEYDOWN: {
      const SDL_Keycode k = event.key.keysym.sym;
      if (k == SDLK_F4 && (event.key.keysym.mod & KMOD_ALT) != 0) return End();  // its close command
      // Enter and Escape end it; Space presses the OK button, which has the focus.
      if (k == SDLK_RETURN || k == SDLK_KP_ENTER || k == SDLK_ESCAPE || k == SDLK_SPACE) return End();
      return true;
    }
    case SDL_WINDOWEVENT:
      if (event.window.windowID != windowId()) return true;
      if (event.window.event == SDL_WINDOWEVENT_CLOSE) return End();
      if (event.window.event == SDL_WINDOWEVENT_EXPOSED) Paint();
      return true;
    case SDL_MOUSEBUTTONDOWN:
      if (event.button.windowID == windowId() && event.button.button == SDL_BUTTON_LEFT) {
        buttonPressed_ = InOkButton(event.button.x, event.button.y);
      }
      return true;
    case SDL_MOUSEBUTTONUP:
      if (event.button.windowID == windowId() && event.button.button == SDL_BUTTON_LEFT) {
        const bool clicked = buttonPressed_ && InOkButton(event.button.x, event.button.y);
        buttonPressed_ = false;
        if (clicked) return End();
      }
      return true;
    default:
      return true;
  }
}

SdlWindow::~SdlWindow() {
  audio_.reset();
  about_.reset();
  if (window_ != nullptr) SDL_DestroyWindow(window_);
}

bool SdlWindow::Open() {
  // One small picture needs no 3-D renderer behind the window surface; making one costs tens
  // of milliseconds at start-up.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  window_ = SDL_CreateWindow("Vesquin", 0, 0, kWindowWidth, kWindowHeight, SDL_WINDOW_SHOWN);
  if (window_ == nullptr) return false;
  if (const std::optional<std::string> path = ExecutablePath()) {
    const std::size_t slash = path->find_last_of('/');
    if (slash != std::string::npos) folder_ = path->substr(0, slash + 1);
  }
  // SDL takes one image for the window's icon: the large one, else the small one.
  Surface icon{SDL_LoadBMP((folder_ + "icon.bmp").c_str())};
  if (!icon) icon.reset(SDL_LoadBMP((folder_ + "icon16.bmp").c_str()));
  if (icon) SDL_SetWindowIcon(window_, icon.get());
  // Keys are never turned into characters.
  SDL_StopTextInput();
  return true;
}

AboutBox* SdlWindow::MakeAbout() {
  if (!about_ && window_ != nullptr) about_ = AboutBox::Create(window_);
  return about_.get();
}

void SdlWindow::Paint() {
  SDL_Surface* target = SDL_GetWindowSurface(window_);
  if (target == nullptr) return;
  // The picture is loaded, stretched over the whole client area and freed on every paint;
  // a picture that cannot be loaded leaves the window as it was.
  if (Surface picture{SDL_LoadBMP((folder_ + "picture.bmp").c_str())}) {
    SDL_BlitScaled(picture.get(), nullptr, target, nullptr);
  }
  SDL_UpdateWindowSurface(window_);
}

std::optional<std::string> SdlWindow::ExecutablePath() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof path) return std::nullopt;
  return std::string(path, static_cast<std::size_t>(n));
}

std::unique_ptr<SoundDevice> SdlWindow::CreateSoundDevice() {
  if (!audio_) audio_ = SdlAudioOutput::Open();
  if (!audio_) return nullptr;
  // The output lives as long as the window, so that clips screens still hold at shutdown
  // never outlive it; the game's release closes the device.
  return std::make_unique<BorrowedSoundDevice>(*audio_, [this] { audio_.reset(); });
}

bool SdlWindow::StartTimer(std::uint32_t, std::uint32_t periodMs) {
  return timer_.Start(MonotonicMs(), periodMs);
}

void SdlWindow::KillTimer(std::uint32_t) { timer_.Stop(); }

void SdlWindow::ShowError(const std::string& text) {
  const SDL_MessageBoxButtonData ok{
      SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "OK"};
  const SDL_MessageBoxData box{0, window_, "Error!", text.c_str(), 1, &ok, nullptr};
  int pressed = 0;
  if (SDL_ShowMessageBox(&box, &pressed) != 0)
    SDL_Log("Error! %s (no message box: %s)", text.c_str(), SDL_GetError());
}

namespace {

// The window's own loop, the only loop of the game.
class MainLoop {
 public:
  MainLoop(SdlWindow& window, Game& game) : window_(window), game_(game) {}

  void Run() {
    TickTimer& timer = window_.timer();
    while (!window_.closeRequested()) {
      SDL_Event event;
      // Every queued event comes before a due tick: keys pressed while the game was held are
      // handled first, in the order they were pressed, then the one merged tick.
      if (SDL_PollEvent(&event) != 0) {
        Handle(event);
        continue;
      }
      const std::uint64_t now = MonotonicMs();
      if (timer.Due(now)) {
        timer.Take(now);
        Tick();
        continue;
      }
      if (SDL_WaitEventTimeout(&event, timer.WaitMs(now, 100)) != 0) Handle(event);
    }
  }

 private:
  void Tick() {
    TimerEvent(game_, tickTimerId);
    if (window_.audio() != nullptr) window_.audio()->Maintain();
  }

  void Handle(const SDL_Event& event) {
    switch (event.type) {
      case SDL_QUIT:
        window_.Close();
        break;
      case SDL_WINDOWEVENT:
        WindowEvent(event);
        break;
      case SDL_KEYDOWN:
      case SDL_KEYUP:
        if (AboutShown()) {
          // Keys go to the About box alone while it is open.
          EndAboutUnless(window_.about()->Handle(event));
        } else if (event.type == SDL_KEYDOWN) {
          KeyDown(event.key.keysym);
        } else if (const std::optional<int> code = VirtualKeyOf(event.key.keysym)) {
          KeyUpEvent(game_, *code);
        }
        break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP:
        if (AboutShown()) EndAboutUnless(window_.about()->Handle(event));
        break;
      case SDL_AUDIODEVICEADDED:
      case SDL_AUDIODEVICEREMOVED:
        if (window_.audio() != nullptr) window_.audio()->HandleEvent(event);
        break;
      default:
        break;
    }
  }

  void WindowEvent(const SDL_Event& event) {
    if (AboutBox* about = window_.about(); about != nullptr && event.window.windowID == about->windowId()) {
      if (about->shown()) EndAboutUnless(about->Handle(event));
      return;
    }
    if (event.window.event == SDL_WINDOWEVENT_EXPOSED) {
      window_.Paint();
      PaintWindow(game_);
    } else if (event.window.event == SDL_WINDOWEVENT_CLOSE && !AboutShown()) {
      // The close command; while the About box is open its owner takes no commands.
      window_.Close();
    }
  }

  void KeyDown(const SDL_Keysym& key) {
    if (IsSystemKey(key)) {
      // System keys never reach the game: Alt+F4 is the close command (no exit clip), Alt+A
      // opens the About box.
      if (key.sym == SDLK_F4 && (key.mod & KMOD_ALT) != 0) window_.Close();
      if (key.sym == SDLK_a && (key.mod & KMOD_ALT) != 0) ShowAbout();
      return;
    }
    // Automatic repeats of a held key are further presses.
    if (const std::optional<int> code = VirtualKeyOf(key)) KeyDownEvent(game_, *code);
  }

  bool AboutShown() const { return window_.about() != nullptr && window_.about()->shown(); }

  void ShowAbout() {
    if (AboutBox* about = window_.MakeAbout()) about->Show();
  }

  void EndAboutUnless(bool open) {
    if (open) return;
    // The keyboard comes back to the main window, as it does when a dialog box ends.
    SDL_RaiseWindow(window_.handle());
    SDL_SetWindowInputFocus(window_.handle());
  }

  SdlWindow& window_;
  Game& game_;
};

}  // namespace

int RunProgram(const ProgramHooks& hooks) {
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  KeepRunningOnXErrors();
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    SDL_Log("vesquin: no window can be opened: %s", SDL_GetError());
    return 1;
  }
  int result = 0;
  {
    SdlWindow window;
    if (window.Open()) {
      SdlClock clock;
      PosixFileSystem files;
      CurlHttp http;
      SdlController controller;
      StandardRandom random;
      GameObserver quiet;
      Services services{clock, files, http, window, controller, random, quiet};
      Game game(services);

      InitialiseWindow(game);
      if (hooks.started) hooks.started(window);
      if (!window.closeRequested()) {
        // The window is visible from its creation: its first paint follows at once.
        window.Paint();
        PaintWindow(game);
        MainLoop(window, game).Run();
      }
      ShutdownWindow(game);
    } else {
      SDL_Log("vesquin: no window can be opened: %s", SDL_GetError());
      result = 1;
    }
  }
  SDL_Quit();
  return result;
}

}  // namespace vesquin
