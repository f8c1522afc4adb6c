// The game's files on a real folder: only regular files are read or replaced, opening never
// waits on a named pipe, and a replace refuses what it must not write through.

#include "platform/posix_files.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "scores/player_details.h"
#include "support/sim_harness.h"
#include "support/test_data.h"

namespace vesquin::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Runs `body` in a child process that is killed after five seconds; its exit status, or -1
// when it did not end by itself (it hung, or crashed).
int Bounded(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(5);
    ::_exit(body());
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

class FilesInAFolder : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (folder_.Path() / name).string(); }
  void Pipe(const std::string& name) const { ASSERT_EQ(::mkfifo(Path(name).c_str(), 0600), 0); }

  TempFolder folder_;
  PosixFileSystem files_;
};

TEST_F(FilesInAFolder, ANamedPipeIsRefusedAtOnceAndNeverWaitedOn) {
  Pipe("best.dat");
  EXPECT_EQ(Bounded([&] { return files_.ReadExisting(Path("best.dat"), 100) ? 1 : 0; }), 0);
  const Bytes bytes = {1, 2, 3};
  EXPECT_EQ(Bounded([&] { return files_.ReplaceExisting(Path("best.dat"), bytes) ? 1 : 0; }), 0);

  Pipe("config.dat");
  EXPECT_EQ(Bounded([&] {
              PlayerDetails details;
              return ReadPlayerDetails(files_, folder_.Str() + "/", details) ? 1 : 0;
            }),
            0);
}

TEST_F(FilesInAFolder, ANamedPipeInAClipsPlaceIsAMissingClip) {
  MakeGameData(folder_.Path(), {{"game/game_intro.vgz", 1000}});
  std::filesystem::remove(folder_.Path() / "game" / "game_intro.vgz");
  Pipe("game/game_intro.vgz");
  EXPECT_EQ(Bounded([&] {
              const SimRun run = RunSim(folder_.Path(), "wait 100\n");
              // No intro: the first tick goes on to the menu.
              return run.status == 0 && run.Matching("game_intro").empty() && run.Has("50 state 1") ? 0 : 1;
            }),
            0);
}

TEST_F(FilesInAFolder, AReplaceNeedsAnExistingRegularFile) {
  const Bytes bytes = {1, 2, 3};
  EXPECT_FALSE(files_.ReplaceExisting(Path("best.dat"), bytes));
  EXPECT_FALSE(std::filesystem::exists(Path("best.dat")));  // nothing is created
  std::filesystem::create_directory(Path("best.dat"));
  EXPECT_FALSE(files_.ReplaceExisting(Path("best.dat"), bytes));
  EXPECT_FALSE(files_.ReadExisting(Path("best.dat"), 100));
  EXPECT_TRUE(std::filesystem::is_directory(Path("best.dat")));

  // The new bytes go over the start; what lies beyond them stays.
  WriteFile(Path("file"), {9, 9, 9, 9, 9});
  EXPECT_TRUE(files_.ReplaceExisting(Path("file"), bytes));
  EXPECT_EQ(ReadFile(Path("file")), (Bytes{1, 2, 3, 9, 9}));
  EXPECT_EQ(files_.ReadExisting(Path("file"), 4), (Bytes{1, 2, 3, 9}));
}

}  // namespace
}  // namespace vesquin::testing
