// The filter table the browser's mixer reads: its format, and what vesquin-hrtf-table puts in
// it against libmysofa's own filters for the same directions.
#include <gtest/gtest.h>
#include <mysofa.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/prepared_hrtf/sofa_table_format.h"

namespace vesquin {
namespace {

constexpr const char* kSofa = "/usr/share/libmysofa/default.sofa";

TEST(HrtfTable, KeepsEachDirectionWithinItsQuantisation) {
  const float ahead[3] = {1, 0, 0};
  const float left[3] = {0, 1, 0};
  const std::vector<float> a = {0.5F, -0.25F, 0.125F, 0.0F}, b = {-1.0F, 0.75F, 0.0F, 0.001F};
  std::string bytes = HrtfTableHeader(48000, 4, 2);
  AppendHrtfDirection(bytes, ahead, a, b);
  AppendHrtfDirection(bytes, left, b, a);
  HrtfTable table;
  ASSERT_TRUE(ParseHrtfTable(bytes, table));
  EXPECT_EQ(table.rate, 48000.0F);
  EXPECT_EQ(table.taps, 4u);
  ASSERT_EQ(table.directions.size(), 6u);
  EXPECT_EQ(table.directions[4], 1.0F);
  ASSERT_EQ(table.filters.size(), 16u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_NEAR(table.filters[i], a[i], 1.0 / 32767);
    EXPECT_NEAR(table.filters[4 + i], b[i], 1.0 / 32767);
    EXPECT_NEAR(table.filters[8 + i], b[i], 1.0 / 32767);
  }
}

TEST(HrtfTable, RefusesAnythingButAWholeTable) {
  const float ahead[3] = {1, 0, 0};
  const std::vector<float> h = {0.5F, 0.25F};
  std::string whole = HrtfTableHeader(48000, 2, 1);
  AppendHrtfDirection(whole, ahead, h, h);
  HrtfTable table;
  EXPECT_TRUE(ParseHrtfTable(whole, table));
  EXPECT_FALSE(ParseHrtfTable(std::string_view(whole).substr(0, whole.size() - 1), table));
  EXPECT_FALSE(ParseHrtfTable(whole + "x", table));
  std::string wrongMagic = whole;
  wrongMagic[0] = 'X';
  EXPECT_FALSE(ParseHrtfTable(wrongMagic, table));
  EXPECT_FALSE(ParseHrtfTable(HrtfTableHeader(48000, 0, 1), table));
}

TEST(HrtfTable, ToolGivesLibmysofasFiltersForTheMeasuredDirections) {
  char folder[] = "/tmp/vesquin-hrtf-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string out = std::string(folder) + "/hrtf.table";
  const std::string command = std::string(HRTF_TABLE_TOOL) + " " + kSofa + " 48000 " + out + " > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream file(out, std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  ::unlink(out.c_str());
  ::rmdir(folder);
  HrtfTable table;
  ASSERT_TRUE(ParseHrtfTable(bytes, table));

  int taps = 0, err = 0;
  MYSOFA_EASY* easy = mysofa_open(kSofa, 48000, &taps, &err);
  ASSERT_NE(easy, nullptr);
  EXPECT_EQ(table.directions.size() / 3, easy->hrtf->M);
  ASSERT_LE(table.taps, static_cast<std::uint32_t>(taps));
  std::vector<float> left(static_cast<std::size_t>(taps)), right(static_cast<std::size_t>(taps));
  const std::size_t count = table.directions.size() / 3;
  for (std::size_t d = 0; d < count; d += count / 7) {
    const float* v = &table.directions[3 * d];
    float delayLeft = 0, delayRight = 0;
    mysofa_getfilter_float(easy, v[0], v[1], v[2], left.data(), right.data(), &delayLeft, &delayRight);
    // The data set keeps no separate delays, so the filters stand as they are.
    EXPECT_EQ(delayLeft, 0.0F);
    EXPECT_EQ(delayRight, 0.0F);
    float peak = 0;
    for (int i = 0; i < taps; ++i) peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
    for (std::uint32_t i = 0; i < table.taps; ++i) {
      EXPECT_NEAR(table.filters[2 * table.taps * d + i], left[i], peak / 16000)
          << "direction " << d << " tap " << i;
      EXPECT_NEAR(table.filters[2 * table.taps * d + table.taps + i], right[i], peak / 16000);
    }
  }
  mysofa_close(easy);
}

}  // namespace
}  // namespace vesquin
