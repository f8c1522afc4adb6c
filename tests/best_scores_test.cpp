// The best-score file: its coding, what a load reads, what a recording writes, byte for byte.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "machine/random.h"
#include "platform/posix_files.h"
#include "shell/game.h"
#include "support/idle_machine.h"
#include "support/sim_harness.h"
#include "support/test_data.h"

namespace vesquin::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kKey[10] = {7, 19, 4, 12, 22, 9, 15, 3, 25, 11};

Bytes Coded(Bytes plain) {
  for (std::size_t j = 0; j < plain.size() && j < 100; ++j)
    plain[j] = static_cast<std::uint8_t>(plain[j] + kKey[j % 10]);
  return plain;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Plain records as the game writes them: one 8-byte text buffer, zeroed once and reused, so
// the bytes after a record's zero byte are what longer numbers before it left there.
Bytes GameRecords(const std::vector<int>& scores) {
  char text[8] = {};
  Bytes out;
  for (int score : scores) {
    const std::string digits = std::to_string(score);
    std::copy(digits.begin(), digits.end(), text);
    text[digits.size()] = '\0';
    out.insert(out.end(), text, text + 7);
  }
  return out;
}

// A file system in memory that keeps every write it is given.
class MemoryFiles final : public FileSystem {
 public:
  std::optional<Bytes> ReadExisting(const std::string& path, std::size_t maxBytes) override {
    const auto file = files.find(path);
    if (file == files.end()) return std::nullopt;
    return Bytes(file->second.begin(),
                 file->second.begin() + static_cast<std::ptrdiff_t>(std::min(maxBytes, file->second.size())));
  }
  bool ReplaceExisting(const std::string& path, std::span<const std::uint8_t> bytes) override {
    const auto file = files.find(path);
    if (file == files.end() || !writable) return false;
    writes.emplace_back(bytes.begin(), bytes.end());
    if (file->second.size() < bytes.size()) file->second.resize(bytes.size());
    std::copy(bytes.begin(), bytes.end(), file->second.begin());
    return true;
  }
  std::vector<std::string> ListFolder(const std::string&) override { return {}; }

  std::map<std::string, Bytes> files;
  std::vector<Bytes> writes;
  bool writable = true;
};

class BestScoreFile : public ::testing::Test {
 protected:
  static constexpr const char* kPath = "/game/best.dat";

  BestScoreFile() : services_{idle_, files_, idle_, idle_, idle_, random_, observer_}, game_(services_) {
    game_.dataFolder = "/game/";
  }

  void Put(const Bytes& stored) { files_.files[kPath] = stored; }
  const Bytes& File() const { return files_.files.at(kPath); }
  bool Load() { return LoadBestScores(game_); }
  void Record(int score) {
    game_.level.score = score;
    RecordBestScore(game_);
  }
  std::vector<int> List() const {
    const auto& scores = game_.best.bestScores;
    return {scores.begin(), scores.begin() + game_.best.bestScoreLast + 1};
  }
  bool RestEmpty() const {
    const auto& scores = game_.best.bestScores;
    return std::all_of(scores.begin() + game_.best.bestScoreLast + 1, scores.end(),
                       [](int s) { return s == -1; });
  }

  IdleMachine idle_;
  MemoryFiles files_;
  StandardRandom random_;
  GameObserver observer_;
  Services services_;
  Game game_;
};

TEST(BestFileCoding, KeyFollowsThePositionFromTheFileStart) {
  Bytes bytes(105, 0);
  EncodeBestBytes(bytes);
  for (std::size_t j = 0; j < 100; ++j) EXPECT_EQ(bytes[j], kKey[j % 10]) << "byte " << j;
  EXPECT_EQ(bytes[10], bytes[0]);
  EXPECT_EQ(bytes[9], 11);
  // Only the first hundred bytes are coded.
  EXPECT_EQ(Bytes(bytes.begin() + 100, bytes.end()), Bytes(5, 0));

  Bytes all(100);
  for (std::size_t j = 0; j < all.size(); ++j) all[j] = static_cast<std::uint8_t>(250 + j);
  Bytes round = all;
  EncodeBestBytes(round);
  EXPECT_EQ(round[0], 1);  // 250 + 7, low eight bits
  DecodeBestBytes(round);
  EXPECT_EQ(round, all);
}

TEST_F(BestScoreFile, EmptyFileIsTheSingleEntryZero) {
  Put({});
  EXPECT_TRUE(Load());
  EXPECT_EQ(List(), std::vector<int>{0});
  EXPECT_TRUE(RestEmpty());
  EXPECT_TRUE(files_.writes.empty());
  EXPECT_TRUE(File().empty());
}

TEST_F(BestScoreFile, LoadReadsRecordsAsTheirFirstSixCharactersAndNeverWrites) {
  const Bytes plain = {'4', '2', 0,   0xFF, 'x', '9', '9',  // 42, whatever follows the zero byte
                       '1', '2', '3', '4',  '5', '6', '7',  // no zero byte: six digits count
                       ' ', '1', '7', 'a',  'b', 'c', 0,    // read as atoi reads it
                       'a', 'b', 'c', 0,    0,   0,   0,    // no digits
                       '5', '5', 0};                        // a short tail, ignored
  Put(Coded(plain));
  EXPECT_TRUE(Load());
  EXPECT_EQ(List(), (std::vector<int>{42, 123456, 17, 0}));
  EXPECT_TRUE(RestEmpty());
  EXPECT_TRUE(files_.writes.empty());
  EXPECT_EQ(File(), Coded(plain));
}

TEST_F(BestScoreFile, ReadsAtMostElevenRecords) {
  std::vector<int> twelve;
  for (int i = 12; i >= 1; --i) twelve.push_back(i * 10);
  Put(Coded(GameRecords(twelve)));
  EXPECT_TRUE(Load());
  EXPECT_EQ(List(), std::vector<int>(twelve.begin(), twelve.begin() + 11));
}

TEST_F(BestScoreFile, MissingFileEmptiesTheListAndIsNeverCreated) {
  Put(Coded(GameRecords({30, 20, 10})));
  ASSERT_TRUE(Load());
  files_.files.clear();
  EXPECT_FALSE(Load());
  EXPECT_EQ(game_.best.bestScoreLast, 2);  // kept from the last load
  EXPECT_TRUE(
      std::all_of(game_.best.bestScores.begin(), game_.best.bestScores.end(), [](int s) { return s == -1; }));
  Record(50);
  EXPECT_TRUE(files_.files.empty());
  EXPECT_TRUE(files_.writes.empty());
}

TEST_F(BestScoreFile, RecordingIntoAnEmptyFileWritesTheScoreAndTheZeroInOneWrite) {
  Put({});
  Record(500);
  // The zero entry's record keeps the last "0" of 500 behind its zero byte.
  const Bytes plain = {'5', '0', '0', 0, 0, 0, 0, '0', 0, '0', 0, 0, 0, 0};
  EXPECT_EQ(File(), Coded(plain));
  ASSERT_EQ(files_.writes.size(), 1u);
  EXPECT_EQ(files_.writes[0], Coded(plain));
  EXPECT_EQ(List(), (std::vector<int>{500, 0}));

  Record(20);
  EXPECT_EQ(File(), Coded(GameRecords({500, 20, 0})));
  ASSERT_TRUE(Load());
  EXPECT_EQ(List(), (std::vector<int>{500, 20, 0}));
}

TEST_F(BestScoreFile, FullListTakesOnlyAScoreAboveItsLowest) {
  const std::vector<int> ten = {950, 900, 800, 700, 600, 500, 450, 400, 350, 300};
  Put(Coded(GameRecords(ten)));

  Record(300);
  EXPECT_EQ(File(), Coded(GameRecords(ten)));
  EXPECT_EQ(files_.writes.size(), 1u);  // rewritten all the same

  Record(301);
  EXPECT_EQ(File(), Coded(GameRecords({950, 900, 800, 700, 600, 500, 450, 400, 350, 301})));

  Record(1000);
  EXPECT_EQ(File(), Coded(GameRecords({1000, 950, 900, 800, 700, 600, 500, 450, 400, 350})));
  EXPECT_EQ(File().size(), 70u);
  for (const Bytes& write : files_.writes) EXPECT_EQ(write.size(), 70u);
}

TEST_F(BestScoreFile, NineEntriesGrowToTenAndNoFurther) {
  Put(Coded(GameRecords({90, 80, 70, 60, 50, 40, 30, 20, 10})));
  Record(1);
  EXPECT_EQ(List(), (std::vector<int>{90, 80, 70, 60, 50, 40, 30, 20, 10, 1}));
  Record(2);
  EXPECT_EQ(List(), (std::vector<int>{90, 80, 70, 60, 50, 40, 30, 20, 10, 2}));
  EXPECT_EQ(File(), Coded(GameRecords({90, 80, 70, 60, 50, 40, 30, 20, 10, 2})));
}

TEST_F(BestScoreFile, SaveCodesWhatLiesBeyondTheRecordsAgainAndNeverTruncates) {
  const Bytes records = GameRecords({950, 900, 800, 700, 600, 500, 450, 400, 350, 300});
  const Bytes tail = {1, 2, 3, 4, 5};
  Put(Coded(Concat(records, tail)));
  Record(5);  // below the lowest: the records stay as they were

  Bytes expected = Coded(Concat(records, tail));
  for (std::size_t j = records.size(); j < expected.size(); ++j) {
    expected[j] = static_cast<std::uint8_t>(expected[j] + kKey[j % 10]);
  }
  EXPECT_EQ(File(), expected);
  ASSERT_TRUE(Load());
  EXPECT_EQ(List().size(), 10u);

  // Twelve records made elsewhere: eleven are read and written back, the twelfth is coded again.
  std::vector<int> twelve;
  for (int i = 12; i >= 1; --i) twelve.push_back(i * 10);
  Put(Coded(GameRecords(twelve)));
  Record(5);
  expected = Coded(GameRecords(twelve));
  for (std::size_t j = 77; j < expected.size(); ++j)
    expected[j] = static_cast<std::uint8_t>(expected[j] + kKey[j % 10]);
  EXPECT_EQ(File(), expected);
}

TEST_F(BestScoreFile, ReadableButUnwritableFileKeepsItsList) {
  const Bytes stored = Coded(GameRecords({30, 20, 10}));
  Put(stored);
  files_.writable = false;
  EXPECT_TRUE(Load());
  EXPECT_EQ(List(), (std::vector<int>{30, 20, 10}));
  Record(999);
  EXPECT_EQ(File(), stored);
  EXPECT_TRUE(files_.writes.empty());
}

// The system calls of a replace, made to fail: writes stop for good once `writeBudget` bytes
// are written (a full disk), the call numbered `failCall` fails (an I/O error), and with
// `interrupt` every call is first interrupted by a signal and every write falls short.
class FaultyCalls final : public FileCalls {
 public:
  int MakeTemporary(char* pathTemplate) override {
    if (Fails()) return Error(EACCES);
    return FileCalls::MakeTemporary(pathTemplate);
  }
  ssize_t Write(int fd, const void* bytes, std::size_t count) override {
    if (Interrupted()) return Error(EINTR);
    if (Fails()) return Error(EIO);
    if (writeBudget == 0) return Error(ENOSPC);
    count = std::min(count, writeBudget);
    if (interrupt) count = std::min<std::size_t>(count, 3);
    const ssize_t written = FileCalls::Write(fd, bytes, count);
    if (written > 0) writeBudget -= static_cast<std::size_t>(written);
    return written;
  }
  int Sync(int fd) override {
    if (Interrupted()) return Error(EINTR);
    if (Fails()) return Error(EIO);
    return FileCalls::Sync(fd);
  }
  int Close(int fd) override {
    if (Fails()) {
      FileCalls::Close(fd);  // the descriptor is gone all the same
      return Error(EIO);
    }
    return FileCalls::Close(fd);
  }
  int Rename(const char* from, const char* to) override {
    if (Fails()) return Error(EIO);
    return FileCalls::Rename(from, to);
  }

  std::size_t writeBudget = SIZE_MAX;
  int failCall = -1;
  bool interrupt = false;
  int callsMade = 0;

 private:
  static int Error(int code) {
    errno = code;
    return -1;
  }
  bool Fails() { return callsMade++ == failCall; }
  bool Interrupted() {
    interruptNext_ = !interruptNext_;
    return interrupt && interruptNext_;
  }
  bool interruptNext_ = false;
};

// The game's own file code on a real folder, with every system call of a replace in reach.
class BestScoreFileOnDisk : public ::testing::Test {
 protected:
  BestScoreFileOnDisk()
      : files_(calls_), services_{idle_, files_, idle_, idle_, idle_, random_, observer_}, game_(services_) {
    game_.dataFolder = folder_.Str() + "/";
  }
  std::filesystem::path BestDat() const { return folder_.Path() / "best.dat"; }
  void Record(int score) {
    game_.level.score = score;
    RecordBestScore(game_);
  }
  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_.Path()))
      names.push_back(entry.path().filename());
    return names;
  }

  TempFolder folder_;
  IdleMachine idle_;
  FaultyCalls calls_;
  PosixFileSystem files_;
  StandardRandom random_;
  GameObserver observer_;
  Services services_;
  Game game_;
};

TEST_F(BestScoreFileOnDisk, EveryCutOrFailedStepLeavesTheWholeOldListAndNoCopy) {
  // Ten records, then bytes that reach past the coded hundred; their first seven read as an
  // eleventh record of 0, which 301 replaces.
  Bytes tail(40);
  for (std::size_t j = 0; j < tail.size(); ++j) tail[j] = static_cast<std::uint8_t>(j * 7);
  const Bytes old = Coded(Concat(GameRecords({950, 900, 800, 700, 600, 500, 450, 400, 350, 300}), tail));
  Bytes fresh = Coded(Concat(GameRecords({950, 900, 800, 700, 600, 500, 450, 400, 350, 301, 300}),
                             Bytes(tail.begin() + 7, tail.end())));
  for (std::size_t j = 77; j < 100; ++j) fresh[j] = static_cast<std::uint8_t>(fresh[j] + kKey[j % 10]);

  WriteFile(BestDat(), old);
  Record(301);
  ASSERT_EQ(ReadFile(BestDat()), fresh);
  const int cleanCalls = calls_.callsMade;

  for (std::size_t cut = 0; cut < fresh.size(); ++cut) {
    SCOPED_TRACE("write cut after " + std::to_string(cut) + " bytes");
    WriteFile(BestDat(), old);
    calls_.writeBudget = cut;
    Record(301);
    EXPECT_EQ(ReadFile(BestDat()), old);
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"best.dat"});
  }
  calls_.writeBudget = SIZE_MAX;

  for (int step = 0; step < cleanCalls; ++step) {
    SCOPED_TRACE("call " + std::to_string(step) + " fails");
    WriteFile(BestDat(), old);
    calls_.callsMade = 0;
    calls_.failCall = step;
    Record(301);
    const Bytes now = ReadFile(BestDat());
    // Only the folder's flush comes after the rename: the new list is then in place.
    EXPECT_EQ(now, step == cleanCalls - 1 ? fresh : old);
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"best.dat"});
  }
  calls_.failCall = -1;

  // Signals and short writes only slow a replace down.
  WriteFile(BestDat(), old);
  calls_.interrupt = true;
  Record(301);
  EXPECT_EQ(ReadFile(BestDat()), fresh);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"best.dat"});
}

TEST_F(BestScoreFileOnDisk, ALinkNamedBestDatIsNeverWrittenThrough) {
  const std::filesystem::path target = folder_.Path() / "elsewhere";
  const Bytes stored = Coded(GameRecords({30, 20, 10}));
  WriteFile(target, stored);
  std::filesystem::create_symlink(target, BestDat());
  Record(999);
  EXPECT_EQ(ReadFile(target), stored);
  EXPECT_TRUE(std::filesystem::is_symlink(BestDat()));

  // A hard link is replaced as a name: the other name keeps the old list.
  std::filesystem::remove(BestDat());
  std::filesystem::create_hard_link(target, BestDat());
  Record(999);
  EXPECT_EQ(ReadFile(target), stored);
  EXPECT_EQ(ReadFile(BestDat()), Coded(GameRecords({999, 30, 20, 10})));
}

TEST_F(BestScoreFileOnDisk, AFileThePlayerMayNotWriteKeepsItsListThoughTheFolderIsOpen) {
  const Bytes stored = Coded(GameRecords({30, 20, 10}));
  WriteFile(BestDat(), stored);
  std::filesystem::permissions(BestDat(), std::filesystem::perms::owner_read |
                                              std::filesystem::perms::group_read |
                                              std::filesystem::perms::others_read);
  std::filesystem::permissions(folder_.Path(), std::filesystem::perms::all);
  // Root may write any file: the player is then somebody else.
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    Record(999);
    ::_exit(0);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadFile(BestDat()), stored);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"best.dat"});
}

TEST_F(BestScoreFileOnDisk, TheReplacedFileKeepsItsPermissions) {
  WriteFile(BestDat(), {});
  std::filesystem::permissions(BestDat(),
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                   std::filesystem::perms::group_read | std::filesystem::perms::others_read);
  Record(5);
  EXPECT_EQ(std::filesystem::status(BestDat()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read | std::filesystem::perms::others_read);
  EXPECT_EQ(ReadFile(BestDat()), Coded(GameRecords({5, 0})));
}

// A won game of 36 steps, 64 points: the quarry starts at north 10, east 12, straight ahead of
// the chaser; it is pushed north to the edge, then west into the corner, never drifting.
std::string WinningGame() {
  std::string script = "wait 250\nrand 2 0";
  for (int i = 0; i < 26; ++i) script += " 1";
  script += "\nkey Enter\n";
  for (int i = 0; i < 22; ++i) script += "key Up\n";
  script += "key Right\nkey Up\nkey Left\nkey Up\nkey Left\n";
  for (int i = 0; i < 12; ++i) script += "key Up\n";
  return script + "wait 6000\nshow\n";
}

// Transcript lines without their times.
class BestScoreFileInPlay : public ::testing::Test {
 protected:
  void SetUp() override { MakeGameData(data_.Path(), {}, {}, false); }
  std::filesystem::path BestDat() const { return data_.Path() / "best.dat"; }
  TempFolder data_;
};

TEST_F(BestScoreFileInPlay, WonGameIsRecordedInAnEmptyFileAndAnnounced) {
  WriteFile(BestDat(), {});
  const SimRun run = RunSim(data_.Path(), WinningGame());
  ASSERT_EQ(run.status, 0) << run.errors;
  ASSERT_EQ(run.Matching(" show ").size(), 1u) << run.Text();
  EXPECT_NE(run.Matching(" show ")[0].find("score=64 lives=3 won=1"), std::string::npos) << run.Text();
  EXPECT_EQ(ReadFile(BestDat()), Coded(GameRecords({64, 0})));

  EXPECT_EQ(Untimed(run.Matching(" play score\\")),
            (std::vector<std::string>{"play score\\say_final_score.vgz pan=0 vol=0",
                                      "play score\\60.vgz pan=0 vol=0", "play score\\4.vgz pan=0 vol=0",
                                      "play score\\say_points.vgz pan=0 vol=0"}))
      << run.Text();
}

TEST_F(BestScoreFileInPlay, ScoreEqualToTheLowestOfTenRewritesTheSameRecords) {
  const Bytes records = GameRecords({950, 900, 800, 700, 600, 500, 450, 400, 350, 64});
  const Bytes tail = {'1', '2', 0};
  WriteFile(BestDat(), Coded(Concat(records, tail)));
  const SimRun run = RunSim(data_.Path(), WinningGame());
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.Matching(" state 6").size(), 1u) << run.Text();
  // The short tail is left in place, coded once more by the save, and the file keeps its length.
  Bytes expected = Coded(Concat(records, tail));
  for (std::size_t j = 70; j < 73; ++j) expected[j] = static_cast<std::uint8_t>(expected[j] + kKey[j % 10]);
  EXPECT_EQ(ReadFile(BestDat()), expected);
}

TEST_F(BestScoreFileInPlay, WonGameWithoutAFileCreatesNone) {
  const SimRun run = RunSim(data_.Path(), WinningGame());
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.Matching(" state 6").size(), 1u) << run.Text();
  EXPECT_FALSE(std::filesystem::exists(BestDat()));
}

TEST_F(BestScoreFileInPlay, ViewingTheListLeavesTheFileByteForByte) {
  const Bytes stored = Coded(Concat(GameRecords({300, 200, 100}), {9, 9, 9}));
  WriteFile(BestDat(), stored);
  // Down four times from the first item reaches the best list.
  const SimRun run = RunSim(
      data_.Path(),
      "wait 450\nkey Down\nkey Down\nkey Down\nkey Down\nkey Enter\nwait 3000\nkey Escape\nwait 100\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  ASSERT_EQ(run.Matching(" state 7").size(), 1u) << run.Text();
  EXPECT_EQ(run.Matching(" play score\\3.vgz").size(), 1u) << run.Text();
  EXPECT_EQ(ReadFile(BestDat()), stored);
}

}  // namespace
}  // namespace vesquin::testing
