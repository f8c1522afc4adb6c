// The player's details in config.dat: the last byte dropped, line feeds and grave accents
// ending fields, a zero byte ending the text, and files that hold no text.

#include "scores/player_details.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix_files.h"
#include "support/test_data.h"

namespace vesquin {
namespace {

using testing::TempFolder;

class PlayerDetailsFile : public ::testing::Test {
 protected:
  // Reads `text` back through the game's reader from a config.dat in a fresh folder; the
  // details start out filled, so that a field the file leaves empty shows.
  bool Read(const std::string& text) {
    testing::WriteFile(folder_.Path() / "config.dat", std::vector<std::uint8_t>(text.begin(), text.end()));
    return ReadFromFolder();
  }
  bool ReadFromFolder() {
    details_ = {"old first", "old last", "old address", "old country"};
    return ReadPlayerDetails(files_, folder_.Str() + "/", details_);
  }
  void ExpectFields(const std::string& first, const std::string& last, const std::string& address,
                    const std::string& country) const {
    EXPECT_EQ(details_.firstName, first);
    EXPECT_EQ(details_.lastName, last);
    EXPECT_EQ(details_.address, address);
    EXPECT_EQ(details_.country, country);
  }

  TempFolder folder_;
  PosixFileSystem files_;
  PlayerDetails details_;
};

TEST_F(PlayerDetailsFile, FourLinesGiveTheFourFieldsWithoutTheirLineFeeds) {
  ASSERT_TRUE(Read("Ann Marie\nLee\n1 High Street, Oslo\nNorway\n"));
  ExpectFields("Ann Marie", "Lee", "1 High Street, Oslo", "Norway");
}

TEST_F(PlayerDetailsFile, TheLastByteIsAlwaysDropped) {
  ASSERT_TRUE(Read("Ann\nLee\nStreet\nNorway"));
  ExpectFields("Ann", "Lee", "Street", "Norwa");
}

TEST_F(PlayerDetailsFile, MissingLinesGiveEmptyFieldsAndLinesAfterTheFourthAreIgnored) {
  ASSERT_TRUE(Read("Ann\nLee\n"));
  ExpectFields("Ann", "Lee", "", "");
  ASSERT_TRUE(Read("A\nB\nC\nD\nE\nF\n"));
  ExpectFields("A", "B", "C", "D");
  // Empty lines in the middle still count as lines.
  ASSERT_TRUE(Read("\n\nC\nD\n"));
  ExpectFields("", "", "C", "D");
}

TEST_F(PlayerDetailsFile, AFileWithoutTextIsRefused) {
  EXPECT_FALSE(ReadFromFolder());  // no file at all
  EXPECT_FALSE(Read(""));
  EXPECT_FALSE(Read("\n"));
  EXPECT_FALSE(Read(std::string("\0Ann\nLee\n", 9)));  // the text ends before it starts
  EXPECT_TRUE(std::filesystem::exists(folder_.Path() / "config.dat"));
}

TEST_F(PlayerDetailsFile, AGraveAccentEndsAFieldAndMovesTheLaterOnesOn) {
  ASSERT_TRUE(Read("Ann`Marie\nLee\nStreet\nNorway\n"));
  ExpectFields("Ann", "Marie", "Lee", "Street");
}

TEST_F(PlayerDetailsFile, CarriageReturnsStayInTheFields) {
  ASSERT_TRUE(Read("Ann\r\nLee\r\nStreet\r\nNorway\r\n"));
  ExpectFields("Ann\r", "Lee\r", "Street\r", "Norway\r");
}

TEST_F(PlayerDetailsFile, AZeroByteEndsTheText) {
  ASSERT_TRUE(Read(std::string("Ann\nLee\0Street\nNorway\n", 22)));
  ExpectFields("Ann", "Lee", "", "");
}

TEST_F(PlayerDetailsFile, LongFieldsAreCutAndOnlyTheFirst999CharactersTakePart) {
  const std::string longName(150, 'x');
  ASSERT_TRUE(Read(longName + "\nLee\n" + longName + "\nNorway\n"));
  ExpectFields(std::string(99, 'x'), "Lee", std::string(99, 'x'), "Norway");

  // 995 characters, a line feed and "Lee" make 999; the rest of the file is not read.
  ASSERT_TRUE(Read(std::string(995, 'y') + "\nLeeds\nStreet\nNorway\n"));
  ExpectFields(std::string(99, 'y'), "Lee", "", "");
}

TEST_F(PlayerDetailsFile, BytesAboveAsciiPassUnchanged) {
  ASSERT_TRUE(Read("\xC3\x85se\n\xE6\n\xFF\n\x01\t\n"));
  ExpectFields("\xC3\x85se", "\xE6", "\xFF", "\x01\t");
}

}  // namespace
}  // namespace vesquin
