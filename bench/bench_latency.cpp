// vesquin-bench-latency: the real program's answer by ear. Each measurement runs the whole
// game (RunProgram, the very loop of `vesquin`) in a child process started fresh, with SDL's
// disk audio driver writing to /dev/null, and a thread that presses keys by pushing SDL events.
// The mixer's first-frame hook stamps, on the monotonic clock, the audio callback that writes
// a started clip's first sample. Prints `name: value unit` lines (notes start with '#'):
//   - start-up: process start (just before spawning) to the intro's first sample leaving the
//     mixer, median of several process starts;
//   - key-to-sound latency: Up and Down pressed in the menu at random moments, each timed from
//     its push to the first sample of the item it names (mean, median, p95, max);
//   - idle CPU: the program resting in the menu for 10 s, user + system time of the whole
//     process (getrusage) as a share of one core, median of several runs.
//
//   xvfb-run -a build/bin/vesquin-bench-latency
//
// It must lie beside the data folder, as `vesquin` does.

#include <SDL.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/sdl_audio.h"
#include "platform/sdl_main_loop.h"

extern char** environ;

namespace {

constexpr int kStartupRuns = 7;
constexpr int kLatencyRuns = 3;
constexpr int kPressesPerRun = 40;
constexpr int kIdleRuns = 3;
constexpr int kIdleSeconds = 10;

std::int64_t NowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

void SleepUs(std::int64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); }

// When the audio callback wrote the first frame of each started clip. One writer (the audio
// callback, through the mixer's hook), read by the key-pressing thread.
class FirstFrames {
 public:
  static void Record(void* self, std::uint64_t /*frameIndex*/) {
    auto* f = static_cast<FirstFrames*>(self);
    const int i = f->count_.load(std::memory_order_relaxed);
    if (i >= kCapacity) return;
    f->ns_[i] = NowNs();
    f->count_.store(i + 1, std::memory_order_release);
  }

  int Count() const { return count_.load(std::memory_order_acquire); }

  // The first record from index `from` on stamped at `sinceNs` or later, waiting up to
  // `timeoutMs` for it; nothing when none came.
  std::optional<std::int64_t> WaitFor(int from, std::int64_t sinceNs, int timeoutMs) const {
    const std::int64_t deadline = NowNs() + static_cast<std::int64_t>(timeoutMs) * 1'000'000;
    for (;;) {
      const int n = Count();
      for (int i = from; i < n; ++i) {
        if (ns_[i] >= sinceNs) return ns_[i];
      }
      if (NowNs() > deadline) return std::nullopt;
      SleepUs(200);  // the stamp is taken by the callback, so this poll adds nothing to it
    }
  }

  // Waits until at least `n` records are there; false after `timeoutMs`.
  bool WaitCount(int n, int timeoutMs) const {
    const std::int64_t deadline = NowNs() + static_cast<std::int64_t>(timeoutMs) * 1'000'000;
    while (Count() < n) {
      if (NowNs() > deadline) return false;
      SleepUs(1'000);
    }
    return true;
  }

 private:
  static constexpr int kCapacity = 4'096;
  std::int64_t ns_[kCapacity] = {};
  std::atomic<int> count_{0};
};

enum class Mode { Startup, Latency, Idle, Session };

// What a child found; written by its key-pressing thread, read after that thread ended.
struct Findings {
  std::string error;
  std::string audioDriver;
  std::string videoDriver;
  int bufferFrames = 0;
  std::int64_t introNs = -1;
  std::vector<double> latenciesMs;
  std::vector<double> serverLatenciesMs;  // as the sound server reported it at each answer
  int unanswered = 0;
  vesquin::CallbackStats stats;
  double idleShare = -1.0;
};

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Pushes a key event as the keyboard would send it; the time just before the push, or
// nothing when SDL refused the event.
std::optional<std::int64_t> PushKey(std::uint32_t windowId, SDL_Keycode key, SDL_Scancode scancode,
                                    bool down) {
  SDL_Event e{};
  e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
  e.key.windowID = windowId;
  e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
  e.key.keysym.sym = key;
  e.key.keysym.scancode = scancode;
  const std::int64_t at = NowNs();
  if (SDL_PushEvent(&e) != 1) return std::nullopt;
  return at;
}

void PushQuit() {
  SDL_Event e{};
  e.type = SDL_QUIT;
  SDL_PushEvent(&e);
}

struct Key {
  SDL_Keycode sym;
  SDL_Scancode scancode;
};
constexpr Key kCtrl{SDLK_LCTRL, SDL_SCANCODE_LCTRL};
constexpr Key kUp{SDLK_UP, SDL_SCANCODE_UP};
constexpr Key kDown{SDLK_DOWN, SDL_SCANCODE_DOWN};

// The player's side of a run: waits for the intro, then presses keys as `mode` wants, and
// always ends the program with SDL_QUIT.
void Drive(Mode mode, std::uint32_t windowId, const FirstFrames& frames, const vesquin::SdlAudioOutput& audio,
           int sessionSeconds, Findings& out) {
  const auto press = [&](Key key) {
    const std::optional<std::int64_t> at = PushKey(windowId, key.sym, key.scancode, true);
    PushKey(windowId, key.sym, key.scancode, false);
    return at;
  };
  // The first clip started is the intro (the first paint starts it).
  const std::optional<std::int64_t> intro = frames.WaitFor(0, 0, 10'000);
  if (!intro) {
    out.error = "the intro never sounded";
    PushQuit();
    return;
  }
  out.introNs = *intro;
  if (mode == Mode::Startup) {
    PushQuit();
    return;
  }

  if (mode == Mode::Session) {
    // The intro for 12 s, then the menu (its prompt, then the background loop) to the end.
    SleepUs(12'000'000 - (NowNs() - *intro) / 1'000);
  }

  // Ctrl ends the intro; the menu starts its background loop and its prompt.
  const int beforeMenu = frames.Count();
  if (!press(kCtrl) || !frames.WaitCount(beforeMenu + 2, 2'000)) {
    out.error = "Ctrl did not open the menu";
    PushQuit();
    return;
  }

  if (mode == Mode::Session) {
    SleepUs(static_cast<std::int64_t>(sessionSeconds) * 1'000'000 - (NowNs() - *intro) / 1'000);
    out.stats = audio.Stats();
    PushQuit();
    return;
  }

  if (mode == Mode::Idle) {
    // The prompt heard to its end: the menu names its first item and then rests.
    if (!frames.WaitCount(beforeMenu + 3, 20'000)) {
      out.error = "the menu never named its first item";
      PushQuit();
      return;
    }
    SleepUs(1'500'000);  // the item's own clip ends
    const double cpu0 = CpuSeconds();
    const std::int64_t wall0 = NowNs();
    SleepUs(static_cast<std::int64_t>(kIdleSeconds) * 1'000'000);
    out.idleShare = (CpuSeconds() - cpu0) / (static_cast<double>(NowNs() - wall0) / 1e9);
    PushQuit();
    return;
  }

  // Down cuts the prompt and names the first item; from then on each Up or Down names an
  // item at once, and nothing else starts a clip.
  const int beforeFirst = frames.Count();
  const std::optional<std::int64_t> first = press(kDown);
  if (!first || !frames.WaitFor(beforeFirst, *first, 1'000)) {
    out.error = "Down did not answer in the menu";
    PushQuit();
    return;
  }
  SleepUs(300'000);
  std::mt19937 random(20'240'611);
  // Gaps drawn to the microsecond: the presses fall at every phase of the audio buffer.
  std::uniform_int_distribution<int> gapUs(60'000, 160'000);
  std::bernoulli_distribution up(0.5);
  for (int i = 0; i < kPressesPerRun; ++i) {
    SleepUs(gapUs(random));
    const int before = frames.Count();
    const std::optional<std::int64_t> pushed = press(up(random) ? kUp : kDown);
    const std::optional<std::int64_t> answer = pushed ? frames.WaitFor(before, *pushed, 1'000) : std::nullopt;
    if (answer) {
      out.latenciesMs.push_back(static_cast<double>(*answer - *pushed) / 1e6);
      out.serverLatenciesMs.push_back(audio.ServerLatencyMs());
    } else {
      ++out.unanswered;
    }
  }
  PushQuit();
}

// The game in this process, driven as `mode` says; prints its findings for the parent.
int Child(Mode mode, int sessionSeconds = 0) {
  FirstFrames frames;
  Findings found;
  std::thread driver;
  vesquin::ProgramHooks hooks;
  hooks.started = [&](vesquin::SdlWindow& window, vesquin::EventPump& pump) {
    vesquin::SdlAudioOutput* audio = window.Audio();
    if (audio == nullptr || pump.IsClosing()) {
      found.error = "the game started without a sound output";
      pump.Close();
      return;
    }
    audio->GetMixer().SetFirstFrameHook(&FirstFrames::Record, &frames);
    found.bufferFrames = audio->BufferFrames();
    const char* driverName = SDL_GetCurrentAudioDriver();
    // SDL's audio does not start where the game plays through its own PulseAudio stream.
    found.audioDriver = driverName != nullptr ? driverName : "none (the game's own PulseAudio stream)";
    const char* videoName = SDL_GetCurrentVideoDriver();
    found.videoDriver = videoName != nullptr ? videoName : "?";
    const std::uint32_t windowId = SDL_GetWindowID(window.Handle());
    driver = std::thread([&frames, &found, audio, mode, windowId, sessionSeconds] {
      Drive(mode, windowId, frames, *audio, sessionSeconds, found);
    });
  };
  const int exitCode = vesquin::RunProgram(hooks);
  if (driver.joinable()) driver.join();

  if (!found.error.empty()) std::printf("error %s\n", found.error.c_str());
  if (exitCode != 0) std::printf("error the game exited with %d\n", exitCode);
  std::printf("driver %s\n", found.audioDriver.c_str());
  std::printf("video %s\n", found.videoDriver.c_str());
  std::printf("buffer_frames %d\n", found.bufferFrames);
  if (found.introNs >= 0) std::printf("intro_ns %lld\n", static_cast<long long>(found.introNs));
  for (const double l : found.latenciesMs) std::printf("latency_ms %.4f\n", l);
  for (const double l : found.serverLatenciesMs) std::printf("server_latency_ms %.4f\n", l);
  if (mode == Mode::Session) {
    std::printf("callbacks: %llu callbacks\n", static_cast<unsigned long long>(found.stats.callbacks));
    std::printf("callback_longest: %.3f ms\n", static_cast<double>(found.stats.longestNs) / 1e6);
    std::printf("callback_over_half_period: %llu callbacks\n",
                static_cast<unsigned long long>(found.stats.overHalfPeriod));
    std::printf("server_underruns: %llu underruns\n", static_cast<unsigned long long>(found.stats.underruns));
    std::printf("server_near_misses: %llu requests\n",
                static_cast<unsigned long long>(found.stats.nearMisses));
    std::printf("stream_target_longest: %.1f ms\n",
                static_cast<double>(found.stats.longestTargetFrames) * 1e3 / vesquin::Mixer::kSampleRate);
    std::printf("stream_target_at_end: %.1f ms\n",
                static_cast<double>(found.stats.targetFrames) * 1e3 / vesquin::Mixer::kSampleRate);
  }
  std::printf("unanswered %d\n", found.unanswered);
  if (found.idleShare >= 0.0) std::printf("idle_share %.6f\n", found.idleShare);
  return found.error.empty() && exitCode == 0 ? 0 : 1;
}

// A child's output, and the time just before it was spawned.
struct ChildRun {
  std::string out;
  std::int64_t spawnedNs = 0;
  bool finished = false;
};

// Runs this program as a child in `mode`; a child still running after `timeoutS` is killed.
ChildRun RunChild(const std::string& self, const char* mode, int timeoutS) {
  ChildRun run;
  int fds[2];
  if (pipe(fds) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  // SDL's own messages too: shown only when the run fails.
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  char* argv[] = {const_cast<char*>(self.c_str()), const_cast<char*>(mode), nullptr};
  pid_t pid = 0;
  run.spawnedNs = NowNs();
  const int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (spawned != 0) {
    close(fds[0]);
    return run;
  }
  const std::int64_t deadline = NowNs() + static_cast<std::int64_t>(timeoutS) * 1'000'000'000;
  bool timedOut = false;
  char buffer[4'096];
  for (;;) {
    const std::int64_t left = deadline - NowNs();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(std::min<std::int64_t>(left / 1'000'000 + 1, 1'000))) < 0) break;
    if (p.revents == 0) continue;
    const ssize_t got = read(fds[0], buffer, sizeof buffer);
    if (got <= 0) break;
    run.out.append(buffer, static_cast<std::size_t>(got));
  }
  close(fds[0]);
  if (timedOut) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  run.finished = !timedOut;
  return run;
}

// The values of the child's lines that start with `key` and a space.
std::vector<std::string> Values(const std::string& text, const std::string& key) {
  std::vector<std::string> found;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == ' ') {
      found.push_back(line.substr(key.size() + 1));
    }
    at = end + 1;
  }
  return found;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// The nearest-rank percentile of sorted values.
double Percentile(const std::vector<double>& sorted, int p) {
  const auto rank = static_cast<std::size_t>(
      std::ceil(static_cast<double>(p) / 100.0 * static_cast<double>(sorted.size())));
  return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

// Runs one child and checks it; prints why and returns nothing when it failed.
std::optional<ChildRun> Measure(const std::string& self, const char* mode, int timeoutS) {
  ChildRun run = RunChild(self, mode, timeoutS);
  const std::vector<std::string> errors = Values(run.out, "error");
  if (!run.finished || !errors.empty() || Values(run.out, "intro_ns").empty()) {
    std::fprintf(stderr, "vesquin-bench-latency: %s run failed: %s\n", mode,
                 !errors.empty() ? errors[0].c_str()
                 : run.finished  ? "no intro sound"
                                 : "timed out");
    std::fprintf(stderr,
                 "  (a display is needed: run it under xvfb-run -a; it must lie beside the data folder)\n");
    std::fprintf(stderr, "--- the run's output ---\n%s", run.out.c_str());
    return std::nullopt;
  }
  // Without a window system SDL falls back to a driver whose event wait is a polling loop:
  // neither the latency nor the idle figure would be the game's.
  const std::vector<std::string> video = Values(run.out, "video");
  if (video.empty() || (video[0] != "x11" && video[0] != "wayland")) {
    std::fprintf(stderr,
                 "vesquin-bench-latency: the game ran on SDL's '%s' video driver, not on a display;\n",
                 video.empty() ? "?" : video[0].c_str());
    std::fprintf(stderr, "  run it under xvfb-run -a\n");
    return std::nullopt;
  }
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  // Through the sound server that PULSE_SERVER names, as a player hears the game. Without
  // one, SDL's disk driver: it paces its callbacks by the buffer's duration and writes to
  // /dev/null, the same timing on every machine, and nothing heard.
  const bool throughServer = std::getenv("PULSE_SERVER") != nullptr;
  if (!throughServer) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
  }
  if (argc > 2 && std::strcmp(argv[1], "--child-session") == 0)
    return Child(Mode::Session, std::atoi(argv[2]));
  if (argc > 1 && std::strcmp(argv[1], "--child-startup") == 0) return Child(Mode::Startup);
  if (argc > 1 && std::strcmp(argv[1], "--child-latency") == 0) return Child(Mode::Latency);
  if (argc > 1 && std::strcmp(argv[1], "--child-idle") == 0) return Child(Mode::Idle);
  if (argc > 1) {
    std::fprintf(stderr, "usage: xvfb-run -a %s\n", argv[0]);
    return 2;
  }

  char path[4'096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return 2;
  path[n] = '\0';
  const std::string self(path);

  std::vector<double> startups;
  std::string driver;
  std::string video;
  std::string buffer;
  for (int i = 0; i < kStartupRuns; ++i) {
    const std::optional<ChildRun> run = Measure(self, "--child-startup", 30);
    if (!run) return 1;
    startups.push_back(static_cast<double>(std::stoll(Values(run->out, "intro_ns")[0]) - run->spawnedNs) /
                       1e6);
    driver = Values(run->out, "driver")[0];
    video = Values(run->out, "video")[0];
    buffer = Values(run->out, "buffer_frames")[0];
  }
  std::sort(startups.begin(), startups.end());
  std::printf("# %s; SDL audio driver %s, video driver %s; %d process starts, min %.1f ms, max %.1f ms\n",
              throughServer ? "through the PulseAudio server of PULSE_SERVER" : "no sound server",
              driver.c_str(), video.c_str(), kStartupRuns, startups.front(), startups.back());
  std::printf("audio_buffer: %s frames\n", buffer.c_str());
  std::printf("audio_buffer_duration: %.2f ms\n", std::stod(buffer) * 1e3 / 48'000.0);
  // Through a server the first sample also waits for the sink's first request: a null sink
  // that has been idle wakes on its old, long timer.
  std::printf("startup_to_first_intro_sample%s: %.1f ms\n", throughServer ? "_through_server" : "",
              Median(startups));
  std::fflush(stdout);

  std::vector<double> latencies;
  std::vector<double> endToEnd;  // the key's answer leaving the sound server
  int unanswered = 0;
  for (int i = 0; i < kLatencyRuns; ++i) {
    const std::optional<ChildRun> run = Measure(self, "--child-latency", 60);
    if (!run) return 1;
    const std::vector<std::string> own = Values(run->out, "latency_ms");
    const std::vector<std::string> server = Values(run->out, "server_latency_ms");
    for (std::size_t k = 0; k < own.size(); ++k) {
      latencies.push_back(std::stod(own[k]));
      if (k < server.size() && std::stod(server[k]) >= 0.0)
        endToEnd.push_back(latencies.back() + std::stod(server[k]));
    }
    unanswered += std::stoi(Values(run->out, "unanswered")[0]);
  }
  if (latencies.empty()) {
    std::fprintf(stderr, "vesquin-bench-latency: no key was answered by a sound\n");
    return 1;
  }
  std::sort(latencies.begin(), latencies.end());
  double sum = 0.0;
  for (const double l : latencies) sum += l;
  std::printf("# %zu presses of Up or Down in the menu over %d runs, %d unanswered\n", latencies.size(),
              kLatencyRuns, unanswered);
  std::printf("key_to_sound_latency_mean: %.2f ms\n", sum / static_cast<double>(latencies.size()));
  std::printf("key_to_sound_latency_median: %.2f ms\n", Median(latencies));
  std::printf("key_to_sound_latency_p95: %.2f ms\n", Percentile(latencies, 95));
  std::printf("key_to_sound_latency_max: %.2f ms\n", latencies.back());
  std::printf("keys_unanswered: %d presses\n", unanswered);
  if (throughServer && !endToEnd.empty()) {
    std::sort(endToEnd.begin(), endToEnd.end());
    std::printf("# the same presses to the answer's first sample leaving the sound server (the latency it\n");
    std::printf("# reports for the stream added to each)\n");
    std::printf("key_to_sound_leaving_server_median: %.2f ms\n", Median(endToEnd));
    std::printf("key_to_sound_leaving_server_p95: %.2f ms\n", Percentile(endToEnd, 95));
    std::printf("key_to_sound_leaving_server_max: %.2f ms\n", endToEnd.back());
  }
  std::fflush(stdout);

  std::vector<double> idle;
  for (int i = 0; i < kIdleRuns; ++i) {
    const std::optional<ChildRun> run = Measure(self, "--child-idle", 30 + kIdleSeconds);
    if (!run || Values(run->out, "idle_share").empty()) return 1;
    idle.push_back(std::stod(Values(run->out, "idle_share")[0]) * 100.0);
  }
  std::sort(idle.begin(), idle.end());
  std::printf("# idle in the menu: %d runs of %d s, min %.2f %%, max %.2f %%\n", kIdleRuns, kIdleSeconds,
              idle.front(), idle.back());
  std::printf("idle_cpu_share_of_one_core_in_menu: %.2f %%\n", Median(idle));
  return unanswered == 0 ? 0 : 1;
}
