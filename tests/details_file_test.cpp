// vesquin-details: what it refuses, the file it writes, and its dialogue over piped input.

#include "details_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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
  EXPECT_NE(FieldProblem(" Ann").find("space"), std::string::npos);
  EXPECT_NE(FieldProblem("Ann ").find("space"), std::string::npos);
  EXPECT_NE(FieldProblem(" "), "");
}

TEST(DetailsFile, TheGameReadsBackExactlyWhatWasWritten) {
  TempFolder folder;
  const Fields fields = {"Ann Marie", "", std::string(99, 'a'), "Norge \xC3\xA6"};
  std::string error;
  ASSERT_TRUE(WriteDetailsFile(folder.Path(), fields, error)) << error;
  EXPECT_EQ(FileText(folder.Path() / "config.dat"),
            "Ann Marie\n\n" + std::string(99, 'a') + "\nNorge \xC3\xA6\n");
  const std::string text = FileText(folder.Path() / "config.dat");
  PlayerDetails read;
  ASSERT_TRUE(ParsePlayerDetails(std::vector<std::uint8_t>(text.begin(), text.end()), read));
  EXPECT_EQ(read.firstName, fields[0]);
  EXPECT_EQ(read.lastName, fields[1]);
  EXPECT_EQ(read.address, fields[2]);
  EXPECT_EQ(read.country, fields[3]);
}

TEST(DetailsFile, ReplacesAnOlderLongerFileWhole) {
  TempFolder folder;
  testing::WriteFile(folder.Path() / "config.dat", std::vector<std::uint8_t>(500, 'z'));
  std::string error;
  ASSERT_TRUE(WriteDetailsFile(folder.Path(), {"A", "B", "C", "D"}, error)) << error;
  EXPECT_EQ(FileText(folder.Path() / "config.dat"), "A\nB\nC\nD\n");
  EXPECT_FALSE(std::filesystem::exists(folder.Path() / "config.dat.new"));
}

TEST(DetailsFile, RefusesABadFieldOrAMissingFolderAndWritesNothing) {
  TempFolder folder;
  std::string error;
  EXPECT_FALSE(WriteDetailsFile(folder.Path(), {"A", "B`", "C", "D"}, error));
  EXPECT_NE(error.find("Last name"), std::string::npos);
  EXPECT_FALSE(WriteDetailsFile(folder.Path() / "absent", {"A", "B", "C", "D"}, error));
  EXPECT_NE(error.find("absent/config.dat: No such file or directory"), std::string::npos) << error;
  EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));
}

TEST(DetailsFile, NeverFollowsAPlantedLinkNorOpensWhatIsNoRegularFile) {
  TempFolder folder;
  const std::filesystem::path victim = folder.Path() / "victim";
  testing::WriteFile(victim, {'k', 'e', 'e', 'p'});
  std::filesystem::create_symlink(victim, folder.Path() / "config.dat.new");
  std::string error;
  ASSERT_TRUE(WriteDetailsFile(folder.Path(), {"A", "B", "C", "D"}, error)) << error;
  EXPECT_EQ(FileText(victim), "keep");
  EXPECT_EQ(FileText(folder.Path() / "config.dat"), "A\nB\nC\nD\n");

  // A named pipe would hold a blocking open until some writer came, for ever.
  TempFolder piped;
  const std::filesystem::path pipe = piped.Path() / "config.dat";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  Fields fields;
  EXPECT_EQ(ReadDetailsFile(piped.Path(), fields, error), ReadResult::Failed);
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  EXPECT_FALSE(WriteDetailsFile(piped.Path(), {"A", "B", "C", "D"}, error));
  EXPECT_TRUE(std::filesystem::is_fifo(pipe));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(piped.Path()), {}), 1);
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
  const Dialogue d =
      Talk(folder.Path(), "Ann\nLee`s\nLees\n" + std::string(120, 'x') + "\n1 Street\nNorway\r\nmaybe\nY\n");
  EXPECT_EQ(d.status, kWritten) << d.output;
  EXPECT_EQ(FileText(folder.Path() / "config.dat"), "Ann\nLees\n1 Street\nNorway\n");
  EXPECT_NE(d.output.find("grave accent"), std::string::npos);
  EXPECT_NE(d.output.find("120 bytes"), std::string::npos);
  EXPECT_NE(d.output.find("Country: Norway\n"), std::string::npos);  // shown before it is written
  EXPECT_NE(d.output.find("Please type y, n or q."), std::string::npos);
}

TEST(DetailsDialogue, NKeepsWhatWasTypedAndPipedAnswersAreRepeatedAfterTheirPrompts) {
  TempFolder folder;
  const Dialogue d = Talk(folder.Path(), "A\nB\nC\nD\nn\nAnn\n\n-\nNorway\nyes\n", true);
  EXPECT_EQ(d.status, kWritten) << d.output;
  EXPECT_EQ(FileText(folder.Path() / "config.dat"), "Ann\nB\n\nNorway\n");
  EXPECT_NE(d.output.find("Address: (empty)\n"), std::string::npos);
  EXPECT_NE(d.output.find("\nFirst name (Enter keeps A): Ann\nLast name (Enter keeps B): \n"),
            std::string::npos)
      << d.output;
  EXPECT_NE(d.output.find("quit without writing: yes\n"), std::string::npos);
}

TEST(DetailsDialogue, SaysWhatIsPublicThenReadsOutTheCurrentDetailsAndEnterKeepsThem) {
  TempFolder folder;
  testing::WriteFile(folder.Path() / "config.dat",
                     {'A', 'n', 'n', '\n', '\n', 'S', 't', '\n', 'N', 'O', '\n'});
  const Dialogue d = Talk(folder.Path(), "\nLee\n-\n\ny\n");
  EXPECT_EQ(d.status, kWritten) << d.output;
  EXPECT_EQ(FileText(folder.Path() / "config.dat"), "Ann\nLee\n\nNO\n");
  const std::size_t publicNote =
      d.output.find("last name and country appear on the public score table; your address never does");
  const std::size_t now =
      d.output.find("Your details now:\nFirst name: Ann\nLast name: (empty)\nAddress: St\nCountry: NO\n");
  const std::size_t firstQuestion = d.output.find("First name (Enter keeps Ann): ");
  ASSERT_NE(publicNote, std::string::npos) << d.output;
  ASSERT_NE(now, std::string::npos) << d.output;
  EXPECT_LT(publicNote, firstQuestion);
  EXPECT_LT(now, firstQuestion);
}

TEST(DetailsDialogue, RefusesSpacesAtTheEndsAndFourEmptyAnswers) {
  TempFolder folder;
  const Dialogue d = Talk(folder.Path(), "\n\n\n\n Ann\nAnn\n\n\nNorway \nNorway\ny\n");
  EXPECT_EQ(d.status, kWritten) << d.output;
  EXPECT_EQ(FileText(folder.Path() / "config.dat"), "Ann\n\n\nNorway\n");
  EXPECT_NE(d.output.find("All four details are empty"), std::string::npos);
  EXPECT_NE(d.output.find("which a screen reader does not read out"), std::string::npos);

  // A file made by hand: Enter cannot keep a detail that the game would read differently.
  testing::WriteFile(folder.Path() / "config.dat", {' ', 'A', '\n', 'B', '\n', 'C', '\n', 'D', '\n'});
  const Dialogue kept = Talk(folder.Path(), "\nAnn\n\n\n\ny\n");
  EXPECT_EQ(kept.status, kWritten) << kept.output;
  EXPECT_EQ(FileText(folder.Path() / "config.dat"), "Ann\nB\nC\nD\n");
}

TEST(DetailsDialogue, AFailedWriteGivesTheSystemsReasonAndKeepsTheAnswers) {
  TempFolder folder;
  const std::filesystem::path gone = folder.Path() / "gone";
  const Dialogue d = Talk(gone, "Ann\nLee\nSt\nNO\ny\nn\n\nLees\n\n\nq\n");
  EXPECT_EQ(d.status, kFailed);
  EXPECT_NE(
      d.output.find("Could not write " + (gone / "config.dat").string() + ": No such file or directory."),
      std::string::npos)
      << d.output;
  EXPECT_EQ(d.output.find("XXXXXX"), std::string::npos);
  EXPECT_EQ(d.output.find(".new"), std::string::npos);
  EXPECT_NE(d.output.find("First name (Enter keeps Ann): Last name (Enter keeps Lee): "), std::string::npos);
  EXPECT_NE(d.output.find("Last name: Lees\n"), std::string::npos);
}

TEST(DetailsDialogue, QuittingOrEndedInputLeavesTheOldFileAlone) {
  TempFolder folder;
  testing::WriteFile(folder.Path() / "config.dat", {'o', 'l', 'd', '\n'});
  for (const char* input : {"A\nB\nC\nD\nq\n", "A\nB\n", "A\nB\nC\nD\n", ""}) {
    const Dialogue d = Talk(folder.Path(), input);
    EXPECT_EQ(d.status, kNothingWritten) << input;
    EXPECT_NE(d.output.find("Nothing was written."), std::string::npos) << input;
    EXPECT_EQ(FileText(folder.Path() / "config.dat"), "old\n");
  }
}

}  // namespace
}  // namespace vesquin::details
