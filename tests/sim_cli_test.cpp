// The vesquin-sim program itself: its command line, exit status and WAVE output.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "support/test_data.h"

namespace vesquin::testing {
namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Text(const std::filesystem::path& path) {
  const std::vector<std::uint8_t> bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

std::uint32_t Le(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | b.at(at + static_cast<std::size_t>(i));
  return value;
}

class SimProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeGameData(data_.Path()); }

  // Runs the program with `args` (already quoted as needed) and `script` on its input.
  Outcome Run(const std::string& args, const std::string& script = "") {
    const std::filesystem::path in = work_.Path() / "script.txt";
    WriteFile(in, std::vector<std::uint8_t>(script.begin(), script.end()));
    const std::string command = std::string("'") + VESQUIN_BIN_DIR "/vesquin-sim' " + args + " < '" +
                                in.string() + "' > '" + (work_.Path() / "out").string() + "' 2> '" +
                                (work_.Path() / "err").string() + "'";
    const int raw = std::system(command.c_str());
    Outcome outcome;
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    outcome.out = Text(work_.Path() / "out");
    outcome.err = Text(work_.Path() / "err");
    return outcome;
  }
  std::string Data() const { return "--data '" + data_.Str() + "'"; }

  TempFolder data_;
  TempFolder work_;
};

TEST_F(SimProgramTest, ABadScriptLineGivesStatus2AndItsNumber) {
  const Outcome outcome = Run(Data(), "wait 100\n\n# fine so far\nkey Shift\nwait 100\n");
  EXPECT_EQ(outcome.status, 2);
  EXPECT_NE(outcome.err.find("line 4"), std::string::npos) << outcome.err;
  EXPECT_EQ(outcome.out, "");
}

TEST_F(SimProgramTest, LinesOfOtherWhiteSpaceAreBlank) {
  // Vertical tabs and form feeds separate words as spaces do; alone on a line they leave none.
  const Outcome outcome = Run(Data(), "\v\n\f\n \v\f\t\r\n\vwait\f100\v\n\f# note\nshow\n");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("100 show "), std::string::npos) << outcome.out;
}

TEST_F(SimProgramTest, ABadCommandLineGivesStatus2) {
  for (const std::string& args : std::vector<std::string>{
           "--data", "--seed x " + Data(), "--seed -1 " + Data(), "--seed 4294967296 " + Data(),
           "--frames 5 " + Data(), Data() + " - extra", Data() + " /no/such/script",
           Data() + " --wav /no/such/folder/out.wav", Data() + " '" + work_.Str() + "'"}) {
    SCOPED_TRACE(args);
    const Outcome outcome = Run(args, "wait 100\n");
    EXPECT_EQ(outcome.status, 2);
    EXPECT_NE(outcome.err, "");
    EXPECT_EQ(outcome.out, "");
  }
}

TEST_F(SimProgramTest, AScriptFileAndStandardInputRunAlike) {
  const std::string script = "wait 1000\nkey Escape\n";
  WriteFile(work_.Path() / "file.txt", std::vector<std::uint8_t>(script.begin(), script.end()));
  const Outcome fromFile = Run(Data() + " '" + (work_.Path() / "file.txt").string() + "'");
  const Outcome fromInput = Run(Data() + " -", script);
  const Outcome implicit = Run(Data(), script);
  EXPECT_EQ(fromFile.status, 0) << fromFile.err;
  EXPECT_EQ(fromInput.status, 0) << fromInput.err;
  EXPECT_NE(fromFile.out.find("1200 close\n"), std::string::npos) << fromFile.out;
  EXPECT_EQ(fromFile.out, fromInput.out);
  EXPECT_EQ(fromFile.out, implicit.out);
}

TEST_F(SimProgramTest, WithoutDataTheProgramsOwnFolderIsTheDataFolder) {
  const Outcome outcome = Run("", "show\n");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out.rfind("0 state 0\n0 play game\\game_intro.vgz pan=0 vol=0\n", 0), 0u) << outcome.out;
}

TEST_F(SimProgramTest, TheSeedIsOneUnlessGiven) {
  const std::string script = "key Ctrl\nkey Enter\nshow\n";  // Enter during the prompt starts a game
  const Outcome unseeded = Run(Data(), script);
  const Outcome one = Run("--seed 1 " + Data(), script);
  const Outcome other = Run(Data() + " --seed 3", script);
  ASSERT_EQ(unseeded.status, 0) << unseeded.err;
  EXPECT_NE(unseeded.out.find(" show gameState=100 "), std::string::npos) << unseeded.out;
  EXPECT_EQ(unseeded.out, one.out);
  EXPECT_NE(unseeded.out, other.out);  // the quarry stands elsewhere
}

TEST_F(SimProgramTest, TheWaveFileCoversTheWholeRun) {
  const std::filesystem::path wav = work_.Path() / "out.wav";
  for (const auto& [script, endMs] : std::vector<std::pair<std::string, std::uint32_t>>{
           {"wait 1000\nkey Ctrl\nwait 500\n", 1500}, {"wait 300\nkey Escape\nwait 900\n", 500}}) {
    SCOPED_TRACE(script);
    const Outcome outcome = Run(Data() + " --wav '" + wav.string() + "'", script);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const std::vector<std::uint8_t> b = ReadFile(wav);
    ASSERT_GE(b.size(), 44u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(Le(b, 4, 4), b.size() - 8);
    EXPECT_EQ(Le(b, 16, 4), 16u);
    EXPECT_EQ(Le(b, 20, 2), 1u);  // PCM
    EXPECT_EQ(Le(b, 22, 2), 2u);  // stereo
    EXPECT_EQ(Le(b, 24, 4), 48'000u);
    EXPECT_EQ(Le(b, 28, 4), 48'000u * 4);
    EXPECT_EQ(Le(b, 32, 2), 4u);
    EXPECT_EQ(Le(b, 34, 2), 16u);
    EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
    EXPECT_EQ(Le(b, 40, 4), endMs * 48u * 4u);
    EXPECT_EQ(b.size(), 44u + endMs * 48u * 4u);
    // The intro's tone sounds in the first 200 ms.
    bool heard = false;
    for (std::size_t at = 44; at < 44 + 200 * 48 * 4 && at + 1 < b.size(); at += 2)
      heard |= Le(b, at, 2) != 0;
    EXPECT_TRUE(heard);
  }
}

}  // namespace
}  // namespace vesquin::testing
