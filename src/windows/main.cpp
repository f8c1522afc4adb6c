// vesquin.exe: the game on Windows. The window, its loop and the machine's services; the game
// itself is the core.
//
// For the tests under Wine only: `--test-transcript FILE` writes what the player hears, as
// vesquin-sim's transcript, timed from the 50 ms timer's start, and `--test-origin FILE` that
// start on the performance counter, in milliseconds; `--test-random "V V ..."` makes the
// first random draws these values, as the simulator's `rand`; `--test-calendar N` fixes the
// calendar time that seeds the rest; `--test-score-server HOST:PORT` sends the scores there
// whatever server the build names; `--test-stats FILE` writes how the sound output fared.

#include <windows.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "shell/game.h"
#include "shell/main_window.h"
#include "sim/transcript_format.h"
#include "windows/directinput_controller.h"
#include "windows/key_map.h"
#include "windows/text.h"
#include "windows/win32_clock.h"
#include "windows/win32_files.h"
#include "windows/win32_window.h"
#include "windows/wininet_http.h"

namespace vesquin::windows {
namespace {

// The seeded generator, after any values a test forces.
class TestableRandom final : public Random {
 public:
  void Force(int value) { forced_.push_back(value); }
  void Seed(std::uint32_t seed) override { seeded_.Seed(seed); }
  int Next() override {
    if (forced_.empty()) return seeded_.Next();
    const int value = forced_.front();
    forced_.pop_front();
    return value;
  }

 private:
  StandardRandom seeded_;
  std::deque<int> forced_;
};

// The transcript of the test mode, each line flushed as it comes, with the simulator's line
// ends.
class TranscriptFile final : public TranscriptObserver {
 public:
  TranscriptFile(const std::wstring& path, Win32Window& window, Clock& clock)
      : file_(std::filesystem::path(path), std::ios::binary), window_(window), clock_(clock) {}
  void Line(const std::string& event) override {
    // Times count from the timer's start, whose ticks then fall at 50, 100, ... ms as in the
    // simulator's; start-up's lines come at 0.
    const std::uint64_t now = clock_.NowMs();
    const std::uint64_t origin = window_.timerOrigin().value_or(now);
    file_ << (now >= origin ? now - origin : 0) << ' ' << event << std::endl;
  }

 private:
  std::ofstream file_;
  Win32Window& window_;
  Clock& clock_;
};

// The test mode's HTTP: to the test's own score server, each request in the transcript.
class TestHttp final : public Http {
 public:
  TestHttp(Http& http, std::string server, TranscriptObserver* transcript)
      : http_(http), server_(std::move(server)), transcript_(transcript) {}
  std::optional<HttpReply> Get(const std::string& url) override {
    if (transcript_ != nullptr) transcript_->Line("get " + url);
    std::string target = url;
    const std::size_t host = url.find("://");
    if (!server_.empty() && host != std::string::npos) {
      const std::size_t path = url.find('/', host + 3);
      target = url.substr(0, host + 3) + server_ + (path == std::string::npos ? "/" : url.substr(path));
    }
    return http_.Get(target);
  }

 private:
  Http& http_;
  std::string server_;
  TranscriptObserver* transcript_;
};

// The window's loop: every queued message before a due tick, so that keys pressed while the
// game was held are handled first, in their order, then the one merged tick.
void RunLoop(Win32Window& window, Win32Clock& clock, Game& game) {
  while (!window.closeRequested()) {
    MSG message;
    if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
      if (message.message == WM_QUIT) break;
      if (window.TakeForAbout(message)) continue;
      // Only system keys are translated (Alt+Space opens the system menu); the game's keys
      // never become characters.
      if (IsSystemKeyMessage(message.message)) TranslateMessage(&message);
      DispatchMessageW(&message);
      continue;
    }
    TickTimer& timer = window.timer();
    const std::uint64_t now = clock.NowMs();
    if (timer.Due(now)) {
      timer.Take(now);
      TimerEvent(game, tickTimerId);
      continue;
    }
    clock.WaitForMessageUntil(timer.running() ? timer.nextDeadline() : now + 1'000);
  }
}

void WriteStats(const std::filesystem::path& path, const WasapiOutput* audio) {
  std::ofstream out(path, std::ios::binary);
  if (audio == nullptr) {
    out << "output: none\n";
    return;
  }
  const OutputStats stats = audio->Stats();
  out << "output_period: " << stats.periodFrames << " frames\n"
      << "output_buffer: " << stats.bufferFrames << " frames\n"
      << "output_target: " << stats.targetFrames << " frames\n"
      << "output_longest_target: " << stats.longestTargetFrames << " frames\n"
      << "output_low_latency: " << (stats.lowLatency ? 1 : 0) << "\n"
      << "output_converted: " << (stats.converted ? 1 : 0) << "\n"
      << "output_opens: " << stats.opens << "\n"
      << "output_empty_wakes: " << stats.emptyWakes << "\n";
}

std::wstring Option(int argc, wchar_t** argv, std::wstring_view name) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (argv[i] == name) return argv[i + 1];
  }
  return {};
}

}  // namespace
}  // namespace vesquin::windows

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  using namespace vesquin;
  using namespace vesquin::windows;
  // Keys pressed while the game holds its thread (a clip played to its end, the score's
  // sending) wait in the queue for the window, which Windows must not replace by a ghost.
  DisableProcessWindowsGhosting();
  const ComApartment com;
  Win32Clock clock;
  std::unique_ptr<Win32Window> window = Win32Window::Create(instance, clock);
  if (!window) return 1;

  TestableRandom random;
  std::unique_ptr<TranscriptFile> transcript;
  GameObserver quiet;
  const std::wstring transcriptPath = Option(__argc, __wargv, L"--test-transcript");
  if (!transcriptPath.empty()) transcript = std::make_unique<TranscriptFile>(transcriptPath, *window, clock);
  std::wistringstream forced(Option(__argc, __wargv, L"--test-random"));
  for (int value = 0; forced >> value;) random.Force(value);
  if (const std::wstring calendar = Option(__argc, __wargv, L"--test-calendar"); !calendar.empty()) {
    clock.FixCalendar(std::wcstoll(calendar.c_str(), nullptr, 10));
  }

  Win32FileSystem files;
  WinInetHttp wininet;
  const std::string testServer = Utf8(Option(__argc, __wargv, L"--test-score-server"));
  TestHttp testHttp(wininet, testServer, transcript.get());
  Http& http = transcript || !testServer.empty() ? static_cast<Http&>(testHttp) : wininet;
  DirectInputController controller(window->handle());
  GameObserver& observer = transcript ? static_cast<GameObserver&>(*transcript) : quiet;
  Services services{clock, files, http, *window, controller, random, observer};
  Game game(services);
  window->Attach(game, controller, transcript.get());

  InitialiseWindow(game);
  if (const std::wstring originPath = Option(__argc, __wargv, L"--test-origin"); !originPath.empty()) {
    std::ofstream(std::filesystem::path(originPath), std::ios::binary)
        << window->timerOrigin().value_or(0) << '\n';
  }
  if (!window->closeRequested()) {
    window->Show();
    RunLoop(*window, clock, game);
  }
  if (const std::wstring statsPath = Option(__argc, __wargv, L"--test-stats"); !statsPath.empty()) {
    WriteStats(std::filesystem::path(statsPath), window->audio());
  }
  ShutdownWindow(game);
  return 0;
}
