// vesquin.exe: the game on Windows. The window, its events and the machine's services; the
// game and its event pump are the core's.
//
// For the tests under Wine only: `--test-transcript FILE` writes what the player hears, as
// vesquin-sim's transcript, timed from the 50 ms timer's start, and `--test-origin FILE` that
// start on the performance counter, in milliseconds; `--test-random "V V ..."` makes the
// first random draws these values, as the simulator's `rand`; `--test-calendar N` fixes the
// calendar time that seeds the rest; `--test-score-server HOST:PORT` sends the scores there
// whatever server the build names; `--test-stats FILE` writes how the sound output fared;
// `--test-ticks FILE` holds the performance counter's time of the last tick the game took.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "machine/random.h"
#include "shell/event_pump.h"
#include "shell/game.h"
#include "sim/transcript.h"
#include "windows/directinput_controller.h"
#include "windows/text.h"
#include "windows/win32_clock.h"
#include "windows/win32_files.h"
#include "windows/win32_window.h"
#include "windows/wininet_http.h"

namespace vesquin::windows {
namespace {

// The test mode's HTTP: to the test's own score server, each request in the transcript.
class TestHttp final : public Http {
 public:
  TestHttp(Http& http, std::string server, Transcript* transcript)
      : http_(http), server_(std::move(server)), transcript_(transcript) {}
  std::optional<HttpReply> Get(const std::string& url) override {
    if (transcript_ != nullptr) transcript_->RequestMade(url);
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
  Transcript* transcript_;
};

void WriteStats(const std::filesystem::path& path, const std::optional<OutputStats>& output) {
  std::ofstream out(path, std::ios::binary);
  if (!output) {
    out << "output: none\n";
    return;
  }
  const OutputStats& stats = *output;
  out << "output_period: " << stats.periodFrames << " frames\n"
      << "output_buffer: " << stats.bufferFrames << " frames\n"
      << "output_target: " << stats.targetFrames << " frames\n"
      << "output_longest_target: " << stats.longestTargetFrames << " frames\n"
      << "output_low_latency: " << (stats.lowLatency ? 1 : 0) << "\n"
      << "output_converted: " << (stats.converted ? 1 : 0) << "\n"
      << "output_opens: " << stats.opens << "\n"
      << "output_empty_wakes: " << stats.emptyWakes << "\n"
      << "output_hrtf: " << (stats.hrtf ? 1 : 0) << "\n";
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

  // The test mode: a transcript timed from the timer's start (start-up's lines at 0), forced
  // draws, a fixed calendar.
  std::ofstream transcriptFile;
  std::unique_ptr<Transcript> transcript;
  if (const std::wstring path = Option(__argc, __wargv, L"--test-transcript"); !path.empty()) {
    transcriptFile.open(std::filesystem::path(path), std::ios::binary);
    transcript = std::make_unique<Transcript>(
        [&] {
          const std::uint64_t now = clock.NowMs();
          const std::uint64_t origin = window->TimerOrigin().value_or(now);
          return now >= origin ? now - origin : 0;
        },
        [&](std::string_view line) { transcriptFile << line << '\n'
                                                    << std::flush; });
  }
  ForcedRandom random;
  std::wistringstream forced(Option(__argc, __wargv, L"--test-random"));
  std::vector<int> draws;
  for (int value = 0; forced >> value;) draws.push_back(value);
  random.Force(draws);
  if (const std::wstring calendar = Option(__argc, __wargv, L"--test-calendar"); !calendar.empty()) {
    clock.FixCalendar(std::wcstoll(calendar.c_str(), nullptr, 10));
  }

  std::ofstream ticksFile;
  if (const std::wstring path = Option(__argc, __wargv, L"--test-ticks"); !path.empty()) {
    ticksFile.open(std::filesystem::path(path), std::ios::binary);
    window->ReportTicks([&](std::uint64_t takenMs) {
      // One line of fixed width, written over the last.
      char line[24];
      std::snprintf(line, sizeof line, "%20llu\n", static_cast<unsigned long long>(takenMs));
      ticksFile.seekp(0);
      ticksFile << line << std::flush;
    });
  }
  Win32FileSystem files;
  WinInetHttp wininet;
  const std::string testServer = Utf8(Option(__argc, __wargv, L"--test-score-server"));
  TestHttp testHttp(wininet, testServer, transcript.get());
  Http& http = transcript || !testServer.empty() ? static_cast<Http&>(testHttp) : wininet;
  DirectInputController controller(window->Handle());
  window->SetController(controller);
  GameObserver quiet;
  GameObserver& observer = transcript ? static_cast<GameObserver&>(*transcript) : quiet;
  EventPump pump(clock, *window, *window, observer);
  Services services{clock, files, http, pump, controller, random, observer};
  Game game(services);

  pump.Start(game);
  if (const std::wstring originPath = Option(__argc, __wargv, L"--test-origin"); !originPath.empty()) {
    std::ofstream(std::filesystem::path(originPath), std::ios::binary)
        << window->TimerOrigin().value_or(0) << '\n';
  }
  if (!pump.IsClosing()) window->Show();
  pump.Run(game);
  if (const std::wstring statsPath = Option(__argc, __wargv, L"--test-stats"); !statsPath.empty()) {
    WriteStats(std::filesystem::path(statsPath), window->OutputFigures());
  }
  return 0;
}
