// vesquin-clip on files a player might hand it: pipes, huge files, the shortest clips.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "clip_builder.h"
#include "support/test_data.h"

extern char** environ;

namespace vesquin::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct ToolRun {
  int status = -1;  // -1: killed (it hung past its bound, or crashed)
  long peakKb = 0;  // its largest resident size, or this process's when that was larger
};

// Before its program starts, a spawned child counts this process's memory as its own.
long OwnPeakKb() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}
constexpr long kReadAllKb = 500'000;  // far less than the gigabyte a whole read would take

// Runs vesquin-clip with `args`, output to /dev/null, killed after ten seconds.
ToolRun RunTool(std::vector<std::string> args) {
  args.insert(args.begin(), VESQUIN_BIN_DIR "/vesquin-clip");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t child = -1;
  const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ToolRun run;
  if (spawned != 0) return run;
  int status = 0;
  rusage usage{};
  for (int waited = 0; ::wait4(child, &status, WNOHANG, &usage) == 0; ++waited) {
    if (waited == 1000) ::kill(child, SIGKILL);
    ::usleep(10'000);
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.peakKb = usage.ru_maxrss;
  return run;
}

class ClipTool : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (folder_.Path() / name).string(); }
  TempFolder folder_;
};

TEST_F(ClipTool, RefusesANamedPipeAtOnce) {
  ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0600), 0);
  EXPECT_EQ(RunTool({"info", Path("pipe")}).status, 2);
  EXPECT_EQ(RunTool({"to-wav", Path("pipe"), Path("out.wav")}).status, 2);
  EXPECT_EQ(RunTool({"to-clip", Path("pipe"), Path("out.vgz")}).status, 2);
}

TEST_F(ClipTool, ReadsNoMoreOfAHugeFileThanTheFormatAllows) {
  // A valid clip followed by a gigabyte of nothing (a sparse file: it costs no disk).
  Bytes clip = testclips::WaveBytes(1, 22'050, 16, std::vector<std::int16_t>(100, 7));
  ReverseClipHeader(clip);
  WriteFile(Path("huge.vgz"), clip);
  ASSERT_EQ(::truncate(Path("huge.vgz").c_str(), 1'000'000'000), 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"info", Path("huge.vgz")},
        std::vector<std::string>{"to-wav", Path("huge.vgz"), Path("out.wav")}}) {
    SCOPED_TRACE(args[0]);
    const ToolRun run = RunTool(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_LT(run.peakKb, OwnPeakKb() + kReadAllKb);
  }
  EXPECT_EQ(ReadFile(Path("out.wav")),
            testclips::WaveBytes(1, 22'050, 16, std::vector<std::int16_t>(100, 7)));

  // A WAVE file whose data chunk runs past what a clip may hold is refused unread.
  Bytes wave = testclips::WaveBytes(1, 22'050, 16, {});
  testclips::Put32(wave, 40, 999'999'000);
  WriteFile(Path("huge.wav"), wave);
  ASSERT_EQ(::truncate(Path("huge.wav").c_str(), 1'000'000'000), 0);
  const ToolRun run = RunTool({"to-clip", Path("huge.wav"), Path("out.vgz")});
  EXPECT_EQ(run.status, 1);
  EXPECT_LT(run.peakKb, OwnPeakKb() + kReadAllKb);
}

TEST_F(ClipTool, EveryClipThatLoadsSurvivesTheRoundTrip) {
  for (std::size_t samples : {2U, 3U, 4U}) {  // 4, 6 and 8 data bytes
    SCOPED_TRACE(samples);
    const Bytes wave = testclips::WaveBytes(1, 8'000, 8, std::vector<std::int16_t>(samples * 2, 1000));
    Bytes padded = wave;
    padded.resize(std::max<std::size_t>(padded.size(), kClipReversedBytes));  // as a clip file holds it
    ReverseClipHeader(padded);
    WriteFile(Path("in.vgz"), padded);
    ASSERT_EQ(RunTool({"to-wav", Path("in.vgz"), Path("out.wav")}).status, 0);
    EXPECT_EQ(ReadFile(Path("out.wav")), wave);
    ASSERT_EQ(RunTool({"to-clip", Path("out.wav"), Path("back.vgz")}).status, 0);
    const std::optional<ClipImage> back = ParseClipImage(ReadFile(Path("back.vgz")));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(Bytes(back->data.begin(), back->data.end()), Bytes(wave.begin() + 44, wave.end()));
  }
  // Under four data bytes it is no clip, either way.
  WriteFile(Path("tiny.wav"), testclips::WaveBytes(1, 8'000, 8, {1, 2, 3}));
  EXPECT_EQ(RunTool({"to-clip", Path("tiny.wav"), Path("tiny.vgz")}).status, 1);
}

}  // namespace
}  // namespace vesquin::testing
