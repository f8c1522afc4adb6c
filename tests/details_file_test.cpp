// vesquin-details: what it refuses, the file it writes, and its dialogue over piped input.

#include "details_file.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "scores/player_details.h"
#include "support/test_data.h"

namespace vesquin::details {
namespace {

using testing::TempFolder;

std::string FileText(const std::filesystem::path& path) {
  const std::vector<std::uint8_t> bytes = testing::ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(DetailsField, RefusesWhatTheGameWouldReadDifferently) {
  EXPECT_EQ(FieldProblem(""), "");
  EXPECT_EQ(FieldProblem("Ann-Marie O'Neil & Sons, 5 Rue de l'\xC3\x89glise"), "");
  EXPECT_EQ(FieldProblem(std::string(99, 'x')), "");
  EXPECT_NE(FieldProblem(std::string(100, 'x')).find("100 bytes"), std::string::npos);
  // 50 letters of two bytes each.
  std::string twoByteLetters;
  for (int i = 0; i < 50; ++i) twoByteLetters += "\xC3\xA6";
  EXPECT_NE(FieldProblem(twoByteLetters), "");
  EXPECT_NE(FieldProblem("Ann`e").find("grave accent"), std::string::npos);
  EXPECT_NE(FieldProblem("Ann\nLee").find("line feed"), std::string::npos);
  EXPECT_NE(FieldProblem(std::string("Ann\0", 4)).find("zero byte"), std::string::npos);
  EXPECT_NE(FieldProblem("Ann\r"), "");
  EXPECT_NE(FieldProblem("Ann\x1b[D"), "");  // an arrow key in a terminal without line editing
}

TEST(DetailsFile, TheGameReadsBackExactlyWhatWasWritten) {
  TempFolder folder;
  const Fields fields = {"Ann Marie", "", std::string(99, 'a'), "Norge \xC3\xA6"};
  std::string error;
  ASSERT_TRUE(WriteDetailsFile(folder.path(), fields, error)) << error;
  EXPECT_EQ(FileText(folder.path() / "config.dat"), "Ann Marie\n\n" + std::string(99, 'a') + "\nNorge \xC3\xA6\n");
  const std::string text = FileText(folder.path() / "config.dat");
  PlayerDetails read;
  ASSERT_TRUE(ParsePlayerDetails(std::vector<std::uint8_t>(text.begin(), text.end()), read));
  EXPECT_EQ(read.firstName, fields[0]);
  EXPECT_EQ(read.lastName, fields[1]);
  EXPECT_EQ(read.address, fields[2]);
  EXPECT_EQ(read.country, fields[3]);
}

TEST(DetailsFile, ReplacesAnOlderLongerFileWhole) {
  TempFolder folder;
  testing::WriteFile(folder.path() / "config.dat", std::vector<std::uint8_t>(500, 'z'));
  std::string error;
  ASSERT_TRUE(WriteDetailsFile(folder.path(), {"A", "B", "C", "D"}, error)) << error;
  EXPECT_EQ(FileText(folder.path() / "config.dat"), "A\nB\nC\nD\n");
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "config.dat.new"));
}

TEST(DetailsFile, RefusesABadFieldOrAMissingFolderAndWritesNothing) {
  TempFolder folder;
  std::string error;
  EXPECT_FALSE(WriteDetailsFile(folder.path(), {"A", "B`", "C", "D"}, error));
  EXPECT_NE(error.find("Last name"), std::string::npos);
  EXPECT_FALSE(WriteDetailsFile(folder.path() / "absent", {"A", "B", "C", "D"}, error));
  EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

struct Dialogue {
  int status;
  std::string output;
};

Dialogue Talk(const std::filesystem::path& folder, const std::string& input, bool echo = false) {
  std::istringstream in(input);
  std::ostringstream out;
  const int status = RunDetailsDialogue(in, out, folder, echo);
  return {status, out.str()};
}

TEST(DetailsDialogue, AsksForEachDetailAgainUntilItCanBeWrittenThenWritesOnConfirmation) {
  TempFolder folder;
  const Dialogue d = Talk(folder.path(), "Ann\nLee`s\nLees\n" + std::string(120, 'x') + "\n1 Street\nNorway\r\nmaybe\nY\n");
  EXPECT_EQ(d.status, kWritten) << d.output;
  EXPECT_EQ(FileText(folder.path() / "config.dat"), "Ann\nLees\n1 Street\nNorway\n");
  EXPECT_NE(d.output.find("grave accent"), std::string::npos);
  EXPECT_NE(d.output.find("120 bytes"), std::string::npos);
  EXPECT_NE(d.output.find("Country: Norway\n"), std::string::npos);  // shown before it is written
  EXPECT_NE(d.output.find("Please type y, n or q."), std::string::npos);
}

TEST(DetailsDialogue, NStartsOverAndPipedAnswersAreRepeatedAfterTheirPrompts) {
  TempFolder folder;
  const Dialogue d = Talk(folder.path(), "A\nB\nC\nD\nn\nAnn\n\n\nNorway\nyes\n", true);
  EXPECT_EQ(d.status, kWritten) << d.output;
  EXPECT_EQ(FileText(folder.path() / "config.dat"), "Ann\n\n\nNorway\n");
  EXPECT_NE(d.output.find("Address: (empty)\n"), std::string::npos);
  EXPECT_NE(d.output.find("\nFirst name: Ann\nLast name: \n"), std::string::npos) << d.output;
  EXPECT_NE(d.output.find("quit without writing: yes\n"), std::string::npos);
}

TEST(DetailsDialogue, QuittingOrEndedInputLeavesTheOldFileAlone) {
  TempFolder folder;
  testing::WriteFile(folder.path() / "config.dat", {'o', 'l', 'd', '\n'});
  for (const char* input : {"A\nB\nC\nD\nq\n", "A\nB\n", "A\nB\nC\nD\n", ""}) {
    const Dialogue d = Talk(folder.path(), input);
    EXPECT_EQ(d.status, kNothingWritten) << input;
    EXPECT_NE(d.output.find("Nothing was written."), std::string::npos) << input;
    EXPECT_EQ(FileText(folder.path() / "config.dat"), "old\n");
  }
}

}  // namespace
}  // namespace vesquin::details
