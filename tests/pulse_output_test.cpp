// The PulseAudio stream against a private server of its own (a null sink at 48 kHz in a fresh
// runtime folder): the mixer is heard at the sink, the stream carries the game's names, and
// a server that goes away, is not there or never answers is noticed, without holding the
// caller for longer than the stream's 2 s. Through a private PipeWire with pipewire-pulse,
// every latency the stream climbs to is a quantum the graph runs as asked. Skipped where the
// server is not installed.

#include "platform/pulse_output.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <thread>

#include "clip_builder.h"
#include "support/test_data.h"

extern char** environ;

namespace vesquin {
namespace {

using namespace std::chrono_literals;

// The stream open and rendering `mixer`, or null.
std::unique_ptr<PulseOutput> OpenRendering(Mixer& mixer) {
  std::unique_ptr<PulseOutput> output = PulseOutput::Open(mixer);
  if (output == nullptr) return nullptr;
  output->WaitOpened();
  if (!output->Ready()) return nullptr;
  mixer.SetOutputChannels(output->Channels());
  output->StartRendering();
  return output;
}

std::string Output(const std::string& command) {
  std::string text;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4'096];
    std::size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, got);
    pclose(pipe);
  }
  return text;
}

class PulseOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Output("command -v pulseaudio").empty()) GTEST_SKIP() << "pulseaudio is not installed";
    socket_ = (folder_.Path() / "native").string();
    std::ofstream(folder_.Path() / "server.pa")
        << "load-module module-native-protocol-unix socket=" << socket_ << " auth-anonymous=1\n"
        << "load-module module-null-sink sink_name=capture rate=48000 channels=2\n"
        << "set-default-sink capture\n";
    const std::string config = (folder_.Path() / "server.pa").string();
    const std::string home = "HOME=" + folder_.Str();
    const std::string runtime = "XDG_RUNTIME_DIR=" + folder_.Str();
    const char* argv[] = {"pulseaudio",
                          "-n",
                          "--daemonize=no",
                          "--exit-idle-time=-1",
                          "--use-pid-file=no",
                          "--disallow-exit",
                          "--log-target=stderr",
                          "--log-level=0",
                          "-F",
                          config.c_str(),
                          nullptr};
    const char* env[] = {home.c_str(), runtime.c_str(), "PATH=/usr/bin:/bin", nullptr};
    ASSERT_EQ(posix_spawnp(&server_, "pulseaudio", nullptr, nullptr, const_cast<char**>(argv),
                           const_cast<char**>(env)),
              0);
    setenv("PULSE_SERVER", ("unix:" + socket_).c_str(), 1);
    // Ready once the sink is there (the socket comes first).
    bool ready = false;
    for (int i = 0; i < 100 && !ready; ++i) {
      ready = Pulse("pactl list short sinks").find("capture") != std::string::npos;
      if (!ready) std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(ready);
  }

  void TearDown() override { StopServer(); }

  void StopServer() {
    if (server_ <= 0) return;
    kill(server_, SIGTERM);
    waitpid(server_, nullptr, 0);
    server_ = 0;
  }

  std::string Pulse(const std::string& arguments) {
    return Output("PULSE_SERVER=unix:" + socket_ + " " + arguments + " 2>/dev/null");
  }

  testing::TempFolder folder_;
  std::string socket_;
  pid_t server_ = 0;
};

TEST_F(PulseOutputTest, TheMixerIsHeardAtTheSinkUnderTheGamesName) {
  Mixer mixer;
  auto voice = mixer.CreateVoice(
      testclips::MakeClip(1, 48'000, 16, testclips::Sine(440.0, 48'000, 4'800, 9'000.0)), false);
  voice->Play(true);
  auto output = OpenRendering(mixer);
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(output->Channels(), 2);
  // A null sink that has been idle wakes late the first time (on its long idle timer).
  for (int i = 0; i < 250 && output->Stats().callbacks < 20; ++i) std::this_thread::sleep_for(20ms);

  // What the sink plays: the tone, not silence.
  const std::string capture = (folder_.Path() / "capture.raw").string();
  Pulse("timeout 1 parec --device=capture.monitor --format=s16le --rate=48000 --channels=2 --raw > '" +
        capture + "'");
  const std::vector<std::uint8_t> bytes = testing::ReadFile(capture);
  int loudest = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    loudest = std::max(loudest,
                       std::abs(static_cast<int>(static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8)))));
  }
  EXPECT_GT(loudest, 8'000);

  const std::string inputs = Pulse("pactl list sink-inputs");
  EXPECT_NE(inputs.find("application.name = \"Vesquin\""), std::string::npos) << inputs;
  EXPECT_NE(inputs.find("media.name = \"Vesquin\""), std::string::npos) << inputs;
  EXPECT_NE(inputs.find("application.icon_name = \"vesquin\""), std::string::npos) << inputs;

  EXPECT_FALSE(output->Failed());
  EXPECT_GT(output->Stats().callbacks, 10U);
  const double latency = output->LatencyMs();
  EXPECT_GT(latency, 0.0);
  EXPECT_LT(latency, 100.0);
}

TEST_F(PulseOutputTest, TheStreamTakesTheDefaultSinksLayout) {
  Pulse("pactl load-module module-null-sink sink_name=surround rate=48000 channels=6");
  Pulse("pactl set-default-sink surround");
  Mixer mixer;
  auto output = OpenRendering(mixer);
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(output->Channels(), 6);
  // The short listing ends each stream's line with its sample format.
  EXPECT_NE(Pulse("pactl list short sink-inputs").find("\ts16le 6ch 48000Hz"), std::string::npos);
}

TEST_F(PulseOutputTest, AServerThatGoesAwayIsNoticedAndNoneIsNoServer) {
  Mixer mixer;
  auto output = OpenRendering(mixer);
  ASSERT_NE(output, nullptr);
  StopServer();
  for (int i = 0; i < 100 && !output->Failed(); ++i) std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(output->Failed());
  output.reset();

  // Nothing listens any more.
  output = PulseOutput::Open(mixer);
  ASSERT_NE(output, nullptr);
  output->WaitOpened();
  EXPECT_TRUE(output->Failed());
  EXPECT_FALSE(output->ServerFound());
}

TEST_F(PulseOutputTest, AServerThatNeverAnswersIsGivenUpWithoutHoldingTheCaller) {
  Mixer mixer;
  kill(server_, SIGSTOP);  // its socket still takes the connection
  const auto began = std::chrono::steady_clock::now();
  auto output = PulseOutput::Open(mixer);
  ASSERT_NE(output, nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - began, 500ms);
  EXPECT_FALSE(output->Ready());
  EXPECT_FALSE(output->Failed());

  output->WaitOpened();
  EXPECT_LT(std::chrono::steady_clock::now() - began, 5s);
  EXPECT_TRUE(output->Failed());
  EXPECT_FALSE(output->Ready());
  EXPECT_TRUE(output->ServerFound());  // so nothing else is tried through it
  kill(server_, SIGCONT);
}

// bench/pipewire_server.sh's PipeWire, run by a shell that stops it on SIGTERM.
class PipeWireOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"pipewire", "pipewire-pulse", "wireplumber", "dbus-daemon", "pw-dump"}) {
      if (Output(std::string("command -v ") + tool).empty()) GTEST_SKIP() << tool << " is not installed";
    }
    const std::string script = std::string(VESQUIN_SOURCE_DIR) + "/bench/pipewire_server.sh";
    const std::string folder = folder_.Str();
    const char* argv[] = {
        "bash",
        "-c",
        "pids=(); trap 'kill \"${pids[@]}\"; wait' EXIT; trap 'exit 0' TERM; source \"$0\"; "
        "pipewire_start \"$1\" || exit 1; touch \"$1/ready\"; sleep infinity & pids+=($!); wait $!",
        script.c_str(),
        folder.c_str(),
        nullptr};
    ASSERT_EQ(posix_spawnp(&server_, "bash", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    for (int i = 0; i < 200 && !std::filesystem::exists(folder_.Path() / "ready"); ++i) {
      std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(std::filesystem::exists(folder_.Path() / "ready"));
    runtime_ = "XDG_RUNTIME_DIR=" + folder_.Str() + "/runtime ";
    setenv("PULSE_SERVER", ("unix:" + folder_.Str() + "/runtime/pulse/native").c_str(), 1);
  }

  void TearDown() override {
    if (monitor_ > 0) kill(monitor_, SIGTERM);
    if (server_ <= 0) return;
    kill(server_, SIGTERM);
    waitpid(server_, nullptr, 0);
  }

  // Records every change of the graph's objects from now on (pw-dump --monitor).
  void MonitorGraph() {
    monitor_ = std::stoi(Output(runtime_ + "pw-dump --monitor --no-colors > '" + folder_.Str() +
                                "/dump.json' 2>/dev/null & echo $!"));
  }

  // Every node.latency the graph's nodes carried since MonitorGraph.
  std::set<std::string> LatenciesSeen() {
    std::ifstream in(folder_.Path() / "dump.json");
    const std::string dump((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::regex latency("\"node\\.latency\": \"([0-9]+/[0-9]+)\"");
    std::set<std::string> seen;
    for (std::sregex_iterator it(dump.begin(), dump.end(), latency), end; it != end; ++it)
      seen.insert((*it)[1]);
    return seen;
  }

  testing::TempFolder folder_;
  std::string runtime_;
  pid_t server_ = 0;
  pid_t monitor_ = 0;
};

// Stalls the audio callback once per clip started, long enough for the server to run dry.
void Stall(void* /*context*/, std::uint64_t /*frameIndex*/) { std::this_thread::sleep_for(60ms); }

TEST_F(PipeWireOutputTest, EveryStepIsAQuantumTheGraphRunsAsAsked) {
  MonitorGraph();
  Mixer mixer;
  mixer.SetFirstFrameHook(&Stall, nullptr);
  auto output = OpenRendering(mixer);
  ASSERT_NE(output, nullptr);
  EXPECT_TRUE(output->OnPipeWire());
  EXPECT_EQ(output->RequestFrames(), PulseOutput::kPipeWireSmallestRequestFrames);

  // Each stall costs an underrun, and the stream climbs, up to its top step.
  const std::uint32_t top = std::end(PulseOutput::kPipeWireSteps)[-1].targetFrames;
  for (int stall = 0; stall < 10 && output->Stats().targetFrames < top; ++stall) {
    auto voice = mixer.CreateVoice(
        testclips::MakeClip(1, 48'000, 16, testclips::Sine(440.0, 48'000, 480, 9'000.0)), false);
    voice->Play(false);
    std::this_thread::sleep_for(300ms);
  }
  EXPECT_EQ(output->Stats().targetFrames, top);
  EXPECT_GT(output->Stats().underruns, 0U);
  EXPECT_GT(output->LatencyMs(), 0.0);
  EXPECT_FALSE(output->Failed());

  std::this_thread::sleep_for(200ms);  // the last change reaches the monitor
  const std::set<std::string> seen = LatenciesSeen();
  EXPECT_EQ(seen, (std::set<std::string>{"256/48000", "512/48000", "1024/48000"}));
}

}  // namespace
}  // namespace vesquin
