#include "platform/sdl_window.h"

#include <unistd.h>

#include <chrono>
#include <climits>
#include <ctime>
#include <thread>

#include "platform/borrowed_device.h"
#include "platform/sdl_audio.h"

namespace vesquin {
namespace {

struct SurfaceDeleter {
  void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
struct TextureDeleter {
  void operator()(SDL_Texture* t) const { SDL_DestroyTexture(t); }
};
using Surface = std::unique_ptr<SDL_Surface, SurfaceDeleter>;
using Texture = std::unique_ptr<SDL_Texture, TextureDeleter>;

}  // namespace

std::optional<int> VirtualKeyOf(SDL_Keycode key) {
  if (key >= SDLK_a && key <= SDLK_z) return 'A' + (key - SDLK_a);
  if (key >= SDLK_0 && key <= SDLK_9) return '0' + (key - SDLK_0);
  if (key >= SDLK_F1 && key <= SDLK_F12) return 112 + (key - SDLK_F1);
  if (key >= SDLK_KP_1 && key <= SDLK_KP_9) return 97 + (key - SDLK_KP_1);
  switch (key) {
    case SDLK_BACKSPACE: return 8;
    case SDLK_TAB: return 9;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return 13;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return 16;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return 17;
    case SDLK_PAUSE: return 19;
    case SDLK_CAPSLOCK: return 20;
    case SDLK_ESCAPE: return 27;
    case SDLK_SPACE: return 32;
    case SDLK_PAGEUP: return 33;
    case SDLK_PAGEDOWN: return 34;
    case SDLK_END: return 35;
    case SDLK_HOME: return 36;
    case SDLK_LEFT: return 37;
    case SDLK_UP: return 38;
    case SDLK_RIGHT: return 39;
    case SDLK_DOWN: return 40;
    case SDLK_INSERT: return 45;
    case SDLK_DELETE: return 46;
    case SDLK_KP_0: return 96;
    case SDLK_KP_MULTIPLY: return 106;
    case SDLK_KP_PLUS: return 107;
    case SDLK_KP_MINUS: return 109;
    case SDLK_KP_PERIOD: return 110;
    case SDLK_KP_DIVIDE: return 111;
    default: return std::nullopt;
  }
}

std::uint64_t SdlClock::NowMs() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SdlClock::Sleep(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::int64_t SdlClock::CalendarSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

int SdlController::Create() {
  if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER | SDL_INIT_JOYSTICK) != 0) return -1;
  for (int i = 0; i < SDL_NumJoysticks(); ++i) {
    // The first attached controller that can be opened is the one.
    if (SDL_IsGameController(i)) {
      controller_ = SDL_GameControllerOpen(i);
      if (controller_ != nullptr) return 0;
    } else {
      joystick_ = SDL_JoystickOpen(i);
      if (joystick_ != nullptr) return 0;
    }
  }
  return -1;
}

int SdlController::Poll() {
  SDL_Joystick* joystick = controller_ != nullptr ? SDL_GameControllerGetJoystick(controller_) : joystick_;
  if (joystick == nullptr) return 0;
  SDL_JoystickUpdate();
  if (!SDL_JoystickGetAttached(joystick)) return 0;  // unplugged: nothing read on this tick
  // The state is read and not used: no game action is bound to the controller.
  for (int axis = 0; axis < SDL_JoystickNumAxes(joystick); ++axis) SDL_JoystickGetAxis(joystick, axis);
  for (int button = 0; button < SDL_JoystickNumButtons(joystick); ++button) SDL_JoystickGetButton(joystick, button);
  return 0;
}

void SdlController::Release() {
  if (controller_ != nullptr) SDL_GameControllerClose(controller_);
  if (joystick_ != nullptr) SDL_JoystickClose(joystick_);
  controller_ = nullptr;
  joystick_ = nullptr;
}

SdlWindow::SdlWindow() = default;

SdlWindow::~SdlWindow() {
  audio_.reset();
  if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
  if (window_ != nullptr) SDL_DestroyWindow(window_);
}

bool SdlWindow::Open() {
  window_ = SDL_CreateWindow("Vesquin", 0, 0, kWindowWidth, kWindowHeight, SDL_WINDOW_SHOWN);
  if (window_ == nullptr) return false;
  renderer_ = SDL_CreateRenderer(window_, -1, 0);
  const std::string folder = OwnFolder();
  if (Surface icon{SDL_LoadBMP((folder + "icon.bmp").c_str())}) SDL_SetWindowIcon(window_, icon.get());
  return true;
}

void SdlWindow::Paint() {
  if (renderer_ == nullptr) return;
  // The picture is loaded, stretched over the client area and freed on every paint.
  Surface picture{SDL_LoadBMP((OwnFolder() + "picture.bmp").c_str())};
  SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
  SDL_RenderClear(renderer_);
  if (picture) {
    Texture texture{SDL_CreateTextureFromSurface(renderer_, picture.get())};
    if (texture) SDL_RenderCopy(renderer_, texture.get(), nullptr, nullptr);
  }
  SDL_RenderPresent(renderer_);
}

std::string SdlWindow::OwnFolder() {
  const std::optional<std::string> path = ExecutablePath();
  if (!path) return std::string();
  const std::size_t slash = path->find_last_of('/');
  return slash == std::string::npos ? std::string() : path->substr(0, slash + 1);
}

std::optional<std::string> SdlWindow::ExecutablePath() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return std::nullopt;
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
  timerRunning_ = true;
  timerPeriodMs_ = periodMs;
  return true;
}

void SdlWindow::KillTimer(std::uint32_t) { timerRunning_ = false; }

void SdlWindow::ShowAbout(const std::function<void()>& keepTicking) {
  SDL_Window* about = SDL_CreateWindow("About Vesquin", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, 240, 120,
                                       SDL_WINDOW_SHOWN);
  if (about == nullptr) return;
  for (bool open = true; open;) {
    keepTicking();
    SDL_Event event;
    if (!SDL_WaitEventTimeout(&event, 10)) continue;
    if (event.type == SDL_QUIT) {
      // The game's own close command waits until the box is gone.
      SDL_PushEvent(&event);
      open = false;
    } else if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE &&
               event.window.windowID == SDL_GetWindowID(about)) {
      open = false;
    } else if (event.type == SDL_KEYDOWN &&
               (event.key.keysym.sym == SDLK_RETURN || event.key.keysym.sym == SDLK_KP_ENTER ||
                event.key.keysym.sym == SDLK_ESCAPE)) {
      open = false;
    }
  }
  SDL_DestroyWindow(about);
  SDL_RaiseWindow(window_);
}

void SdlWindow::ShowError(const std::string& text) {
  const SDL_MessageBoxButtonData ok{SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0,
                                    "OK"};
  const SDL_MessageBoxData box{0, window_, "Error!", text.c_str(), 1, &ok, nullptr};
  int pressed = 0;
  SDL_ShowMessageBox(&box, &pressed);
}

}  // namespace vesquin
