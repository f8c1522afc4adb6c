#include "platform/sdl_window.h"

#include <unistd.h>

#include <climits>

#include "platform/borrowed_device.h"
#include "platform/sdl_audio.h"

namespace vesquin {
namespace {

struct SurfaceDeleter {
  void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using Surface = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

}  // namespace

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

void SdlWindow::ShowError(const std::string& text) {
  const SDL_MessageBoxButtonData ok{
      SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "OK"};
  const SDL_MessageBoxData box{0, window_, "Error!", text.c_str(), 1, &ok, nullptr};
  int pressed = 0;
  if (SDL_ShowMessageBox(&box, &pressed) != 0)
    SDL_Log("Error! %s (no message box: %s)", text.c_str(), SDL_GetError());
}

}  // namespace vesquin
