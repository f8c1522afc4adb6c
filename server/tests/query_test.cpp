#include "query.h"

#include <gtest/gtest.h>

namespace vesquin::scored {
namespace {

std::string Query(const std::string& first, const std::string& last, const std::string& addr,
                  const std::string& country, const std::string& score) {
  return "first_name=" + first + "&last_name=" + last + "&addr=" + addr + "&country=" + country +
         "&score=" + score;
}

TEST(PercentDecode, DecodesEscapesAndPlus) {
  EXPECT_EQ(PercentDecode("a%20b+c%2Bd%2b"), "a b c+d+");
  EXPECT_EQ(PercentDecode("%C3%A9%e9"), "\xC3\xA9\xE9");
  EXPECT_EQ(PercentDecode(""), "");
  EXPECT_EQ(PercentDecode("%00"), std::string(1, '\0'));
}

TEST(PercentDecode, RefusesBrokenEscapes) {
  for (const char* bad : {"%", "%4", "a%zz", "%G0", "%%41", "end%2"}) EXPECT_FALSE(PercentDecode(bad)) << bad;
}

TEST(PercentEncode, KeepsUnreservedAndRoundTripsEveryByte) {
  EXPECT_EQ(PercentEncode("Az09-._~ +&=%"), "Az09-._~%20%2B%26%3D%25");
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(PercentDecode(PercentEncode(all)), all);
}

TEST(ParseQuery, SplitsInOrderAndSkipsEmptyPieces) {
  auto pairs = ParseQuery("a=1&&b&c=x%3Dy=z&");
  ASSERT_TRUE(pairs);
  ASSERT_EQ(pairs->size(), 3u);
  EXPECT_EQ((*pairs)[0].key, "a");
  EXPECT_EQ((*pairs)[0].value, "1");
  EXPECT_EQ((*pairs)[1].key, "b");
  EXPECT_EQ((*pairs)[1].value, "");
  EXPECT_EQ((*pairs)[2].value, "x=y=z");
  EXPECT_FALSE(ParseQuery("a=%zz"));
}

TEST(ParseSubmission, AcceptsWhatTheGameSends) {
  std::string addr = "12 Rue d'\xC3\xA9t\xC3\xA9 & <b> 100%+";
  auto s = ParseSubmission(Query("Ada", "Love+lace", PercentEncode(addr), "%E9", "100"));
  ASSERT_TRUE(s) << s.Error();
  EXPECT_EQ(s->player.firstName, "Ada");
  EXPECT_EQ(s->player.lastName, "Love lace");
  EXPECT_EQ(s->player.addr, addr);
  EXPECT_EQ(s->player.country, "\xE9");  // a Latin-1 byte is kept as sent
  EXPECT_EQ(s->score, 100);
}

TEST(ParseSubmission, AcceptsEmptyFieldsBoundaryLengthsAndExtraKeys) {
  std::string longest(99, 'x');
  auto s = ParseSubmission("nocache=7&" + Query("", longest, "", "", "1"));
  ASSERT_TRUE(s) << s.Error();
  EXPECT_EQ(s->player.lastName, longest);
  EXPECT_EQ(s->score, 1);
}

TEST(ParseSubmission, RefusesScoresTheGameCannotSend) {
  for (const char* bad :
       {"0", "101", "007", "05", "+5", "-1", "5%20", "%205", "abc", "", "1e2", "4.0", "99999999999"}) {
    auto s = ParseSubmission(Query("a", "b", "c", "d", bad));
    EXPECT_FALSE(s) << bad;
    EXPECT_NE(s.Error().find("score"), std::string::npos) << s.Error();
  }
}

TEST(ParseSubmission, RefusesMissingAndRepeatedKeys) {
  EXPECT_EQ(ParseSubmission("last_name=b&addr=c&country=d&score=5").Error(), "missing first_name");
  EXPECT_EQ(ParseSubmission("first_name=a&addr=c&country=d&score=5").Error(), "missing last_name");
  EXPECT_EQ(ParseSubmission("first_name=a&last_name=b&country=d&score=5").Error(), "missing addr");
  EXPECT_EQ(ParseSubmission("first_name=a&last_name=b&addr=c&score=5").Error(), "missing country");
  EXPECT_EQ(ParseSubmission("first_name=a&last_name=b&addr=c&country=d").Error(), "missing score");
  EXPECT_EQ(ParseSubmission("").Error(), "missing first_name");
  EXPECT_FALSE(ParseSubmission(Query("a", "b", "c", "d", "5") + "&first_name=z"));
  EXPECT_FALSE(ParseSubmission(Query("a", "b", "c", "d", "5") + "&score=6"));
}

TEST(ParseSubmission, RefusesLongFieldsControlBytesAndBrokenEscapes) {
  std::string tooLong(100, 'x');
  EXPECT_EQ(ParseSubmission(Query(tooLong, "b", "c", "d", "5")).Error(),
            "first_name is longer than 99 bytes");
  // 99 bytes once decoded is the limit, whatever the encoded length.
  EXPECT_TRUE(ParseSubmission(
      Query(PercentEncode(std::string(33, '\xE9')) + std::string(66, 'a'), "b", "c", "d", "5")));
  for (const char* control : {"%00", "%0A", "%0D%0D", "%0Dx", "%09", "%1F", "%7F"}) {
    auto s = ParseSubmission(Query("a", std::string("x") + control, "c", "d", "5"));
    EXPECT_EQ(s.Error(), "last_name holds a control character") << control;
  }
  EXPECT_FALSE(ParseSubmission(Query("a%", "b", "c", "d", "5")));
}

TEST(ParseSubmission, DropsOneTrailingCarriageReturnPerField) {
  // What the game sends from a details file saved with CRLF line ends.
  auto s = ParseSubmission(Query("Ann%0D", "Lee%0D", "1%20Road%0D", "UK%0D", "42"));
  ASSERT_TRUE(s) << s.Error();
  EXPECT_EQ(s->player, (Player{"Ann", "Lee", "1 Road", "UK"}));
  EXPECT_EQ(ParseSubmission(Query("%0D", "b", "c", "d", "5"))->player.firstName, "");
  // The carriage return does not count towards the 99 bytes.
  EXPECT_TRUE(ParseSubmission(Query(std::string(99, 'x') + "%0D", "b", "c", "d", "5")));
  EXPECT_FALSE(ParseSubmission(Query("a", "b", "c", "d", "5%0D")));
}

TEST(ParseSubmission, ReasonsAreOneLine) {
  for (std::string q : {std::string(""), Query("a", "b", "c", "d", "x"), Query("%0A", "b", "c", "d", "5"),
                        std::string("%zz")}) {
    auto s = ParseSubmission(q);
    ASSERT_FALSE(s);
    EXPECT_EQ(s.Error().find('\n'), std::string::npos);
    EXPECT_FALSE(s.Error().empty());
  }
}

}  // namespace
}  // namespace vesquin::scored
