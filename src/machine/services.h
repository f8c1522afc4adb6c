#pragma once
// The services that the game core asks of the machine. The real program implements them on
// SDL, POSIX files and libcurl; vesquin-sim and the tests implement them on a virtual clock.
// The main window's timer and close are the event pump's (shell/event_pump.h), which keeps
// them for every platform.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "machine/sound_device.h"

namespace vesquin {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds on a monotonic clock.
  virtual std::uint64_t NowMs() = 0;
  // Holds the game's thread; nothing else of the game runs meanwhile.
  virtual void Sleep(std::uint32_t ms) = 0;
  // Seconds of the calendar time, to seed the pseudo-random generator.
  virtual std::int64_t CalendarSeconds() = 0;
  // Holds the game's thread while the voice plays once through, and at most limitMs: an
  // output that stopped consuming would keep it "playing" for ever. A clock that knows when
  // the voice ends may wait for exactly that.
  virtual void SleepWhilePlaying(SoundVoice& voice, std::uint32_t limitMs) {
    const std::uint64_t start = NowMs();
    while (voice.Status() == kStatusPlaying && NowMs() - start < limitMs) Sleep(1);
  }
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Up to maxBytes from the start of an existing regular file; nothing when it cannot be
  // opened or is anything else (a named pipe, a device, a folder). Never creates a file.
  virtual std::optional<std::vector<std::uint8_t>> ReadExisting(const std::string& path,
                                                                std::size_t maxBytes) = 0;
  // Puts the bytes over the start of an existing regular file, the rest kept, as one step:
  // the file is at every moment either the whole old one or the whole new one. False when it
  // does not exist, is no regular file or is a symbolic link (never followed), or a step
  // fails; nothing is created.
  virtual bool ReplaceExisting(const std::string& path, std::span<const std::uint8_t> bytes) = 0;
  // Names of the entries of a folder (files and folders); empty when it cannot be read.
  virtual std::vector<std::string> ListFolder(const std::string& folder) = 0;
};

struct HttpReply {
  bool bodyRead = false;  // false: the answer came but its body could not be read
  std::string body;
};

class Http {
 public:
  virtual ~Http() = default;
  // An HTTP GET; nothing when the request could not be made (no connection, refused,
  // timed out). Any status code counts as an answer.
  virtual std::optional<HttpReply> Get(const std::string& url) = 0;
};

// The main window and what it owns besides painting.
class Window {
 public:
  virtual ~Window() = default;
  // The running executable's full path; nothing when it cannot be read.
  virtual std::optional<std::string> ExecutablePath() = 0;
  // The default sound output; null when none can be opened.
  virtual std::unique_ptr<SoundDevice> CreateSoundDevice() = 0;
  virtual bool StartTimer(std::uint32_t id, std::uint32_t periodMs) = 0;
  virtual void KillTimer(std::uint32_t id) = 0;
  // A modal box with the caption "Error!" and an OK button.
  virtual void ShowError(const std::string& text) = 0;
  // Asks the window to close; shutdown follows once the current handler has returned.
  virtual void Close() = 0;
};

// The first attached game controller.
class Controller {
 public:
  virtual ~Controller() = default;
  // 0 when a controller was opened, negative when there is none usable.
  virtual int Create() = 0;
  // Reads its state; negative when it can no longer be read.
  virtual int Poll() = 0;
  virtual void Release() = 0;
};

// The C library's generator: srand/rand semantics, values 0..32767.
class Random {
 public:
  virtual ~Random() = default;
  virtual void Seed(std::uint32_t seed) = 0;
  virtual int Next() = 0;
};

// What the game does that a listener to the game (the transcript of the simulator and of the
// browser build's checks) wants to see.
class GameObserver {
 public:
  virtual ~GameObserver() = default;
  // The main window is told to close; shutdown follows.
  virtual void Closing() {}
  virtual void MessageShown(const std::string& /*text*/) {}
  virtual void StateChanged(int /*gameState*/) {}
  virtual void ClipPlayed(const std::string& /*name*/, std::int32_t /*pan*/, std::int32_t /*volume*/) {}
  virtual void ClipLooped(const std::string& /*name*/, std::int32_t /*pan*/, std::int32_t /*volume*/) {}
  virtual void ClipResumed(const std::string& /*name*/, std::int32_t /*pan*/, std::int32_t /*volume*/) {}
  virtual void ClipStopped(const std::string& /*name*/) {}
  virtual void ClipPlaced(const std::string& /*name*/, float /*x*/, float /*y*/, float /*z*/,
                          float /*minDistance*/) {}
};

// Everything the core reaches outside itself. All references outlive the game.
struct Services {
  Clock& clock;
  FileSystem& files;
  Http& http;
  Window& window;
  Controller& controller;
  Random& random;
  GameObserver& observer;
};

}  // namespace vesquin
