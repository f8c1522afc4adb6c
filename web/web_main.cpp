// The game in a web browser: the core on the page's clock, keys, storage and fetch, and the
// project's mixer. The page calls the exported functions below; blocking operations wait
// through Asyncify, so the core runs as it does everywhere else. The AudioWorklet runs a
// second instance of this module on the same shared memory and calls vesquin_render from
// the audio thread, as the SDL program's audio callback does: the mixer's commands cross
// through its lock-free queue, and no block waits ahead of the output.

#include <emscripten.h>
#include <emscripten/stack.h>
#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

#include "details_file.h"
#include "dom_keys.h"
#include "machine/platform_window.h"
#include "machine/random.h"
#include "platform/borrowed_device.h"
#include "platform/mixer.h"
#include "platform/posix_files.h"
#include "shell/event_pump.h"
#include "shell/game.h"
#include "sim/transcript.h"

// The page's side: what the driver reports, and the two waits that hand the thread back to
// the browser's event loop.
EM_JS(void, ReportLine, (const char* line), {
  if (Module.onLine) Module.onLine(UTF8ToString(line));
});
EM_JS(void, ReportError, (const char* text), {
  if (Module.onError) Module.onError(UTF8ToString(text));
});
EM_JS(void, ReportEnded, (), {
  if (Module.onEnded) Module.onEnded();
});
EM_JS(void, PersistFiles, (), {
  if (Module.persist) Module.persist();
});
// The body is JavaScript, whose arrows the formatter would split.
// clang-format off
EM_ASYNC_JS(void, WaitForInput, (double ms), {
  await new Promise(resolve => {
    const timer = setTimeout(resolve, ms);
    Module.wakeLoop = () => {
      clearTimeout(timer);
      resolve();
    };
  });
  Module.wakeLoop = null;
});
// clang-format on
// Fetches a path of the page's origin. Returns the body's length with the body in a malloc'd
// buffer at *body; -1 when no answer came, -2 when the answer came but its body could not be
// read.
EM_ASYNC_JS(int, FetchFromOrigin, (const char* path, unsigned char** body), {
  let response;
  try {
    response = await fetch(UTF8ToString(path), {cache : 'no-store', credentials : 'same-origin'});
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
constexpr std::size_t kMaxRenderFrames = 1024;
constexpr std::size_t kMaxFirstFrames = 64;
constexpr int kIdleWaitMs = 1000;

// What a render leaves for the worklet: owned by the audio thread alone, and outside the
// machine, which may be gone by the time the worklet reads it.
struct RenderOutput {
  std::int16_t pcm[kMaxRenderFrames * kChannels] = {};
  float samples[kMaxRenderFrames * kChannels] = {};
  std::uint64_t start = 0;  // the output frame of the block's first frame
  std::uint64_t firstFrames[kMaxFirstFrames] = {};
  std::size_t firstFrameCount = 0;
};
RenderOutput renderOutput;

class WebMachine final : public Clock,
                         public PlatformWindow,
                         public EventSource,
                         public FileSystem,
                         public Http,
                         public Controller {
 public:
  WebMachine()
      : transcript([this] { return NowMs() - origin_; },
                   [](std::string_view line) { ReportLine(std::string(line).c_str()); }),
        origin_(Monotonic()) {
    mixer_.SetFirstFrameHook(
        [](void* out, std::uint64_t frame) {
          auto& o = *static_cast<RenderOutput*>(out);
          if (o.firstFrameCount < kMaxFirstFrames) o.firstFrames[o.firstFrameCount++] = frame;
        },
        &renderOutput);
  }

  Services ServicesOn(Window& window) {
    return Services{*this, *this, *this, window, *this, random, transcript};
  }

  void QueueKey(int code, bool down) {
    keys_.push_back({down ? WindowEvent::Kind::KeyDown : WindowEvent::Kind::KeyUp, code});
  }
  void FixCalendar(double seconds) {
    calendarFixed_ = true;
    calendarSeconds_ = static_cast<std::int64_t>(seconds);
  }

  // On the audio thread: mixes `frames` frames into floats for the worklet, interleaved.
  const float* Render(std::size_t frames) {
    RenderOutput& o = renderOutput;
    frames = std::min(frames, kMaxRenderFrames);
    o.firstFrameCount = 0;
    o.start = mixer_.FramesRendered();
    mixer_.Render(o.pcm, frames);
    for (std::size_t i = 0; i < frames * kChannels; ++i)
      o.samples[i] = static_cast<float>(o.pcm[i]) / 32768.0F;
    return o.samples;
  }
  bool HasHrtf() const { return mixer_.HasHrtf(); }
  std::uint64_t Origin() const { return origin_; }

  // Clock
  std::uint64_t NowMs() override { return Monotonic(); }
  void Sleep(std::uint32_t ms) override { emscripten_sleep(ms); }
  std::int64_t CalendarSeconds() override {
    return calendarFixed_ ? calendarSeconds_ : static_cast<std::int64_t>(std::time(nullptr));
  }

  // PlatformWindow
  std::optional<std::string> ExecutablePath() override { return std::string(kGameFolder) + "vesquin"; }
  std::unique_ptr<SoundDevice> CreateSoundDevice() override {
    return std::make_unique<BorrowedSoundDevice>(mixer_, nullptr);
  }
  void ShowError(const std::string& text) override { ReportError(text.c_str()); }

  // EventSource: the page's keys, queued by vesquin_key while the game's thread waits.
  std::optional<WindowEvent> PollEvent() override {
    if (keys_.empty()) return std::nullopt;
    const WindowEvent key = keys_.front();
    keys_.pop_front();
    return key;
  }
  std::optional<WindowEvent> WaitEvent(std::optional<std::uint64_t> deadlineMs) override {
    double waitMs = kIdleWaitMs;
    if (deadlineMs) {
      const std::uint64_t now = NowMs();
      waitMs = *deadlineMs > now ? static_cast<double>(*deadlineMs - now) : 0.0;
    }
    WaitForInput(waitMs);
    return PollEvent();
  }
  void TimerStarted(std::uint64_t startMs) override {
    // Times count from the timer's start, whose ticks then fall at 50, 100, ... ms as in the
    // simulator's transcript.
    if (!timerStarted_) origin_ = startMs;
    timerStarted_ = true;
  }

  // FileSystem: the page's files; a write goes on to the browser's storage.
  std::optional<std::vector<std::uint8_t>> ReadExisting(const std::string& path,
                                                        std::size_t maxBytes) override {
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
  std::vector<std::string> ListFolder(const std::string& folder) override {
    return files_.ListFolder(folder);
  }

  // Http: the score table of the server the page came from, whatever host the game names.
  std::optional<HttpReply> Get(const std::string& url) override {
    transcript.RequestMade(url);
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

  // The same lines as the simulator's transcript.
  Transcript transcript;
  ForcedRandom random;

 private:
  static std::uint64_t Monotonic() { return static_cast<std::uint64_t>(std::floor(emscripten_get_now())); }

  std::uint64_t origin_;
  Mixer mixer_{kChannels, std::string(kGameFolder) + "hrtf.table"};
  PosixFileSystem files_;
  std::deque<WindowEvent> keys_;
  bool timerStarted_ = false;
  bool calendarFixed_ = false;
  std::int64_t calendarSeconds_ = 0;
};

// The one the page and the audio thread talk to, while the game runs, and its window. The audio thread says
// when it is inside a render, so that the game's end waits for that render before the
// machine goes (both sequentially consistent: each sees the other's store).
std::atomic<WebMachine*> machine{nullptr};
EventPump* pump = nullptr;
std::atomic<bool> rendering{false};

void Retire() {
  machine.store(nullptr);
  while (rendering.load()) emscripten_sleep(1);
}

}  // namespace
}  // namespace vesquin

using vesquin::machine;
using vesquin::renderOutput;

extern "C" {

EMSCRIPTEN_KEEPALIVE int vesquin_virtual_key(const char* key, const char* code) {
  return vesquin::VirtualKeyOfDom(key, code).value_or(-1);
}

EMSCRIPTEN_KEEPALIVE void vesquin_key(int code, int down) {
  if (auto* m = machine.load()) m->QueueKey(code, down != 0);
}

EMSCRIPTEN_KEEPALIVE void vesquin_force_random(int value) {
  if (auto* m = machine.load()) m->random.Force({value});
}

// The audio thread's: the next `frames` frames, interleaved stereo floats, or null (silence)
// while no game runs.
EMSCRIPTEN_KEEPALIVE const float* vesquin_render(int frames) {
  if (frames <= 0) return nullptr;
  vesquin::rendering.store(true);
  vesquin::WebMachine* m = machine.load();
  const float* samples = m != nullptr ? m->Render(static_cast<std::size_t>(frames)) : nullptr;
  vesquin::rendering.store(false);
  return samples;
}

// Of the last render: the output frame of its first frame, and the output frames at which
// voices started from their first frame in it.
EMSCRIPTEN_KEEPALIVE double vesquin_render_start() { return static_cast<double>(renderOutput.start); }
EMSCRIPTEN_KEEPALIVE int vesquin_first_frame_count() {
  return static_cast<int>(renderOutput.firstFrameCount);
}
EMSCRIPTEN_KEEPALIVE double vesquin_first_frame(int i) {
  return i >= 0 && static_cast<std::size_t>(i) < renderOutput.firstFrameCount
             ? static_cast<double>(renderOutput.firstFrames[i])
             : 0.0;
}

// The worklet's instance reaches the renderer through the function table, which every
// instance of the module lays out alike: the indices of the render calls, and of the two
// that give that instance a stack of its own.
extern "C" void stackRestore(void* top);
EMSCRIPTEN_KEEPALIVE const std::uint32_t* vesquin_worklet_calls() {
  static const std::uint32_t calls[] = {
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&vesquin_render)),
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&vesquin_render_start)),
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&vesquin_first_frame_count)),
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&vesquin_first_frame)),
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&emscripten_stack_set_limits)),
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&stackRestore)),
  };
  return calls;
}

// The page's performance time at which the transcript's times start.
EMSCRIPTEN_KEEPALIVE double vesquin_origin_ms() {
  auto* m = machine.load();
  return m != nullptr ? static_cast<double>(m->Origin()) : 0.0;
}

// The page's time of the next tick the game will take; 0 while the timer is stopped.
EMSCRIPTEN_KEEPALIVE double vesquin_next_tick_ms() {
  if (machine.load() == nullptr || vesquin::pump == nullptr) return 0.0;
  return static_cast<double>(vesquin::pump->NextTick().value_or(0));
}

EMSCRIPTEN_KEEPALIVE int vesquin_has_hrtf() {
  auto* m = machine.load();
  return m != nullptr && m->HasHrtf() ? 1 : 0;
}

// The player details form: empty when the text can stand as one detail, else what is wrong.
EMSCRIPTEN_KEEPALIVE const char* vesquin_detail_problem(const char* text) {
  static std::string problem;
  problem = vesquin::details::FieldProblem(text);
  return problem.c_str();
}

// Writes config.dat into `folder` from four details; empty on success, else what went wrong.
EMSCRIPTEN_KEEPALIVE const char* vesquin_write_details(const char* folder, const char* first,
                                                       const char* last, const char* address,
                                                       const char* country) {
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
  vesquin::EventPump pump(web, web, web, web.transcript);
  vesquin::Services services = web.ServicesOn(pump);
  vesquin::Game game(services);
  vesquin::pump = &pump;
  machine.store(&web);
  pump.Start(game);
  pump.Run(game);
  vesquin::Retire();
  vesquin::pump = nullptr;
  ReportEnded();
  return 0;
}
