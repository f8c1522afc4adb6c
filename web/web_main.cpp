// The game in a web browser: the core on the page's clock, keys, storage and fetch, and the
// project's mixer, whose blocks the page hands to an AudioWorklet. The page calls the
// exported functions below; blocking operations wait through Asyncify, so the core runs as
// it does everywhere else.

#include <emscripten.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

#include "details_file.h"
#include "dom_keys.h"
#include "platform/borrowed_device.h"
#include "platform/mixer.h"
#include "platform/posix_files.h"
#include "shell/game.h"
#include "shell/main_window.h"
#include "sim/transcript_format.h"

// The page's side: what the driver reports, and the two waits that hand the thread back to
// the browser's event loop.
EM_JS(void, ReportLine, (const char* line), { if (Module.onLine) Module.onLine(UTF8ToString(line)); });
EM_JS(void, ReportError, (const char* text), { if (Module.onError) Module.onError(UTF8ToString(text)); });
EM_JS(void, ReportEnded, (), { if (Module.onEnded) Module.onEnded(); });
EM_JS(void, PersistFiles, (), { if (Module.persist) Module.persist(); });
EM_ASYNC_JS(void, WaitForInput, (double ms), {
  await new Promise(resolve => {
    const timer = setTimeout(resolve, ms);
    Module.wakeLoop = () => { clearTimeout(timer); resolve(); };
  });
  Module.wakeLoop = null;
});
// Fetches a path of the page's origin. Returns the body's length with the body in a malloc'd
// buffer at *body; -1 when no answer came, -2 when the answer came but its body could not be
// read.
EM_ASYNC_JS(int, FetchFromOrigin, (const char* path, unsigned char** body), {
  let response;
  try {
    response = await fetch(UTF8ToString(path), {cache: 'no-store', credentials: 'same-origin'});
  } catch (e) {
    return -1;
  }
  let bytes;
  try {
    bytes = new Uint8Array(await response.arrayBuffer());
  } catch (e) {
    return -2;
  }
  const buffer = _malloc(bytes.length + 1);
  HEAPU8.set(bytes, buffer);
  setValue(body, buffer, '*');
  return bytes.length;
});

namespace vesquin {

// The page's file system starts with a mask of 0777, so a file made by a rename-into-place
// would be readable by nobody, not even the game: give it the usual desktop mask.
void UseTheUsualFileMask() { ::umask(022); }

namespace {

// The game folder on the page's file system; best.dat and config.dat are links into the
// browser's persistent storage.
constexpr const char* kGameFolder = "/vesquin/";
constexpr const char* kStorageFolder = "/persist/";
constexpr int kChannels = 2;
constexpr std::size_t kMaxRenderFrames = 8192;
constexpr std::size_t kMaxFirstFrames = 64;

// A periodic timer on deadlines start + k * period: a late tick never pushes the later ones
// back, and ticks that fell due while the game was held merge into one.
class TickTimer {
 public:
  bool Start(std::uint64_t now, std::uint32_t period) {
    if (period == 0) return false;
    running_ = true;
    period_ = period;
    next_ = now + period;
    return true;
  }
  void Stop() { running_ = false; }
  bool Due(std::uint64_t now) const { return running_ && now >= next_; }
  void Take(std::uint64_t now) { next_ += ((now - next_) / period_ + 1) * period_; }
  double WaitMs(std::uint64_t now) const { return running_ ? static_cast<double>(next_ - now) : 1000.0; }

 private:
  bool running_ = false;
  std::uint64_t period_ = 0;
  std::uint64_t next_ = 0;
};

// A key event of the page, waiting for the game's thread.
struct KeyEvent {
  int code;
  bool down;
};

class WebMachine final : public Clock,
                         public Window,
                         public FileSystem,
                         public Http,
                         public Controller,
                         public Random,
                         public GameObserver {
 public:
  WebMachine() : origin_(Monotonic()) {
    mixer_.SetFirstFrameHook(
        [](void* self, std::uint64_t frame) {
          auto& machine = *static_cast<WebMachine*>(self);
          if (machine.firstFrameCount_ < kMaxFirstFrames) machine.firstFrames_[machine.firstFrameCount_++] = frame;
        },
        this);
  }

  Services services() { return Services{*this, *this, *this, *this, *this, *this, *this}; }

  // The driver's loop: keys in the order they came, then at most one tick, then a wait for
  // the next deadline or the next key.
  void Run(Game& game) {
    InitialiseWindow(game);
    if (!closing_) PaintWindow(game);
    while (!closing_) {
      if (!keys_.empty()) {
        const KeyEvent key = keys_.front();
        keys_.pop_front();
        if (key.down) {
          KeyDownEvent(game, key.code);
        } else {
          KeyUpEvent(game, key.code);
        }
        continue;
      }
      const std::uint64_t now = NowMs();
      if (timer_.Due(now)) {
        timer_.Take(now);
        TimerEvent(game, tickTimerId);
        continue;
      }
      WaitForInput(timer_.WaitMs(now));
    }
    ShutdownWindow(game);
  }

  void QueueKey(int code, bool down) { keys_.push_back({code, down}); }
  void Force(int value) { forced_.push_back(value); }
  void FixCalendar(double seconds) {
    calendarFixed_ = true;
    calendarSeconds_ = static_cast<std::int64_t>(seconds);
  }

  // Mixes `frames` frames into floats for the worklet, interleaved.
  const float* Render(std::size_t frames) {
    frames = std::min(frames, kMaxRenderFrames);
    firstFrameCount_ = 0;
    mixer_.Render(pcm_.data(), frames);
    for (std::size_t i = 0; i < frames * kChannels; ++i) samples_[i] = static_cast<float>(pcm_[i]) / 32768.0F;
    return samples_.data();
  }
  std::uint64_t FramesRendered() const { return mixer_.FramesRendered(); }
  std::size_t FirstFrameCount() const { return firstFrameCount_; }
  std::uint64_t FirstFrame(std::size_t i) const { return i < firstFrameCount_ ? firstFrames_[i] : 0; }
  bool HasHrtf() const { return mixer_.HasHrtf(); }
  std::uint64_t Origin() const { return origin_; }

  // Clock
  std::uint64_t NowMs() override { return Monotonic(); }
  void Sleep(std::uint32_t ms) override { emscripten_sleep(ms); }
  std::int64_t CalendarSeconds() override {
    return calendarFixed_ ? calendarSeconds_ : static_cast<std::int64_t>(std::time(nullptr));
  }

  // Window
  std::optional<std::string> ExecutablePath() override { return std::string(kGameFolder) + "vesquin"; }
  std::unique_ptr<SoundDevice> CreateSoundDevice() override {
    return std::make_unique<BorrowedSoundDevice>(mixer_, nullptr);
  }
  bool StartTimer(std::uint32_t id, std::uint32_t periodMs) override {
    if (id != tickTimerId || !timer_.Start(NowMs(), periodMs)) return false;
    // Times count from the timer's start, whose ticks then fall at 50, 100, ... ms as in the
    // simulator's transcript.
    if (!timerStarted_) origin_ = NowMs();
    timerStarted_ = true;
    return true;
  }
  void KillTimer(std::uint32_t) override { timer_.Stop(); }
  void ShowError(const std::string& text) override {
    Line("message " + text);
    ReportError(text.c_str());
  }
  void Close() override {
    if (closing_) return;
    closing_ = true;
    Line("close");
  }

  // FileSystem: the page's files; a write goes on to the browser's storage.
  std::optional<std::vector<std::uint8_t>> ReadExisting(const std::string& path, std::size_t maxBytes) override {
    return files_.ReadExisting(path, maxBytes);
  }
  bool ReplaceExisting(const std::string& path, std::span<const std::uint8_t> bytes) override {
    // A replace never goes through a link, and the game folder's best.dat and config.dat are
    // the page's links to its storage: replace the stored file itself.
    std::string target = path;
    for (const char* name : {"best.dat", "config.dat"}) {
      if (path == std::string(kGameFolder) + name) target = std::string(kStorageFolder) + name;
    }
    const bool written = files_.ReplaceExisting(target, bytes);
    if (written) PersistFiles();
    return written;
  }
  std::vector<std::string> ListFolder(const std::string& folder) override { return files_.ListFolder(folder); }

  // Http: the score table of the server the page came from, whatever host the game names.
  std::optional<HttpReply> Get(const std::string& url) override {
    Line("get " + url);
    std::string path = url;
    if (const std::size_t scheme = url.find("://"); scheme != std::string::npos) {
      const std::size_t slash = url.find('/', scheme + 3);
      path = slash == std::string::npos ? std::string("/") : url.substr(slash);
    }
    unsigned char* body = nullptr;
    const int length = FetchFromOrigin(path.c_str(), &body);
    if (length == -1) return std::nullopt;
    HttpReply reply;
    if (length >= 0) {
      reply.bodyRead = true;
      reply.body.assign(reinterpret_cast<const char*>(body), static_cast<std::size_t>(length));
    }
    std::free(body);
    return reply;
  }

  // Controller: none is read in the browser.
  int Create() override { return -1; }
  int Poll() override { return -1; }
  void Release() override {}

  // Random
  void Seed(std::uint32_t seed) override { seeded_.Seed(seed); }
  int Next() override {
    if (!forced_.empty()) {
      const int value = forced_.front();
      forced_.pop_front();
      return value;
    }
    return seeded_.Next();
  }

  // GameObserver: the same lines as the simulator's transcript.
  void StateChanged(int value) override { Line("state " + std::to_string(value)); }
  void ClipPlayed(const std::string& name, std::int32_t pan, std::int32_t volume) override {
    Line("play " + name + Levels(pan, volume));
  }
  void ClipLooped(const std::string& name, std::int32_t pan, std::int32_t volume) override {
    Line("loop " + name + Levels(pan, volume));
  }
  void ClipResumed(const std::string& name, std::int32_t pan, std::int32_t volume) override {
    Line("resume " + name + Levels(pan, volume));
  }
  void ClipStopped(const std::string& name) override { Line("stop " + name); }
  void ClipPlaced(const std::string& name, float x, float y, float z, float minDistance) override {
    Line("place " + name + " x=" + FormatCoordinate(x) + " y=" + FormatCoordinate(y) + " z=" + FormatCoordinate(z) +
         " min=" + FormatCoordinate(minDistance));
  }

 private:
  static std::uint64_t Monotonic() { return static_cast<std::uint64_t>(std::floor(emscripten_get_now())); }
  static std::string Levels(std::int32_t pan, std::int32_t volume) {
    return " pan=" + std::to_string(pan) + " vol=" + std::to_string(volume);
  }
  void Line(const std::string& event) {
    const std::string line = std::to_string(NowMs() - origin_) + ' ' + event;
    ReportLine(line.c_str());
  }

  std::uint64_t origin_;
  Mixer mixer_{kChannels, std::string(kGameFolder) + "hrtf.table"};
  PosixFileSystem files_;
  TickTimer timer_;
  std::deque<KeyEvent> keys_;
  StandardRandom seeded_;
  std::deque<int> forced_;
  bool timerStarted_ = false;
  bool calendarFixed_ = false;
  std::int64_t calendarSeconds_ = 0;
  bool closing_ = false;
  std::vector<std::int16_t> pcm_ = std::vector<std::int16_t>(kMaxRenderFrames * kChannels);
  std::vector<float> samples_ = std::vector<float>(kMaxRenderFrames * kChannels);
  std::uint64_t firstFrames_[kMaxFirstFrames] = {};
  std::size_t firstFrameCount_ = 0;
};

WebMachine* machine = nullptr;  // the one the page talks to, while the game runs

}  // namespace
}  // namespace vesquin

using vesquin::machine;

extern "C" {

EMSCRIPTEN_KEEPALIVE int vesquin_virtual_key(const char* key, const char* code) {
  return vesquin::VirtualKeyOfDom(key, code).value_or(-1);
}

EMSCRIPTEN_KEEPALIVE void vesquin_key(int code, int down) {
  if (machine != nullptr) machine->QueueKey(code, down != 0);
}

EMSCRIPTEN_KEEPALIVE void vesquin_force_random(int value) {
  if (machine != nullptr) machine->Force(value);
}

EMSCRIPTEN_KEEPALIVE const float* vesquin_render(int frames) {
  return machine != nullptr && frames > 0 ? machine->Render(static_cast<std::size_t>(frames)) : nullptr;
}

EMSCRIPTEN_KEEPALIVE double vesquin_frames_rendered() {
  return machine != nullptr ? static_cast<double>(machine->FramesRendered()) : 0.0;
}

// Output frames at which voices started from their first frame in the last render.
EMSCRIPTEN_KEEPALIVE int vesquin_first_frame_count() {
  return machine != nullptr ? static_cast<int>(machine->FirstFrameCount()) : 0;
}
EMSCRIPTEN_KEEPALIVE double vesquin_first_frame(int i) {
  return machine != nullptr ? static_cast<double>(machine->FirstFrame(static_cast<std::size_t>(i))) : 0.0;
}

// The page's performance time at which the transcript's times start.
EMSCRIPTEN_KEEPALIVE double vesquin_origin_ms() {
  return machine != nullptr ? static_cast<double>(machine->Origin()) : 0.0;
}

EMSCRIPTEN_KEEPALIVE int vesquin_has_hrtf() { return machine != nullptr && machine->HasHrtf() ? 1 : 0; }

// The player details form: empty when the text can stand as one detail, else what is wrong.
EMSCRIPTEN_KEEPALIVE const char* vesquin_detail_problem(const char* text) {
  static std::string problem;
  problem = vesquin::details::FieldProblem(text);
  return problem.c_str();
}

// Writes config.dat into `folder` from four details; empty on success, else what went wrong.
EMSCRIPTEN_KEEPALIVE const char* vesquin_write_details(const char* folder, const char* first, const char* last,
                                                       const char* address, const char* country) {
  static std::string error;
  error.clear();
  vesquin::UseTheUsualFileMask();
  const vesquin::details::Fields fields{first, last, address, country};
  if (!vesquin::details::WriteDetailsFile(folder, fields, error) && error.empty()) error = "Could not write.";
  return error.c_str();
}

}  // extern "C"

// `--calendar N` fixes the calendar time that seeds the random draws (for tests).
int main(int argc, char** argv) {
  vesquin::UseTheUsualFileMask();
  vesquin::WebMachine web;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--calendar") web.FixCalendar(std::atof(argv[i + 1]));
  }
  vesquin::Services services = web.services();
  vesquin::Game game(services);
  machine = &web;
  web.Run(game);
  machine = nullptr;
  ReportEnded();
  return 0;
}
