#include "windows/win32_files.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

#include "support/test_data.h"
#include "windows/text.h"

namespace vesquin::windows {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

std::string GameForm(const fs::path& path) { return GamePath(path.wstring()); }

class Win32FilesTest : public ::testing::Test {
 protected:
  // A game folder as a player may name it.
  Win32FilesTest() : folder_(temp_.Path() / L"Spiele f\u00fcr \u00c5sa") { fs::create_directories(folder_); }
  TempFolder temp_;
  fs::path folder_;
  Win32FileSystem files_;
};

TEST_F(Win32FilesTest, ReadsListsAndReplacesInAFolderWithAnyName) {
  WriteFile(folder_ / L"best.dat", {1, 2, 3, 4, 5, 6, 7, 8});
  fs::create_directories(folder_ / L"Men\u00fc");
  const std::vector<std::string> names = files_.ListFolder(GameForm(folder_));
  EXPECT_EQ(names.size(), 2U);
  EXPECT_NE(std::find(names.begin(), names.end(), "Men\xc3\xbc"), names.end());

  const std::string best = GameForm(folder_ / L"best.dat");
  EXPECT_EQ(files_.ReadExisting(best, 5), (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
  // Over the start of the file, the rest kept, and no copy left beside it.
  ASSERT_TRUE(files_.ReplaceExisting(best, std::vector<std::uint8_t>{9, 9, 9}));
  EXPECT_EQ(ReadFile(folder_ / L"best.dat"), (std::vector<std::uint8_t>{9, 9, 9, 4, 5, 6, 7, 8}));
  EXPECT_EQ(files_.ListFolder(GameForm(folder_)).size(), 2U);
}

TEST_F(Win32FilesTest, NeverCreatesAFileNorReadsAFolder) {
  const std::string missing = GameForm(folder_ / L"best.dat");
  EXPECT_FALSE(files_.ReplaceExisting(missing, std::vector<std::uint8_t>{1}));
  EXPECT_FALSE(fs::exists(folder_ / L"best.dat"));
  EXPECT_FALSE(files_.ReadExisting(missing, 10));
  EXPECT_FALSE(files_.ReadExisting(GameForm(folder_), 10));
  EXPECT_FALSE(files_.ReplaceExisting(GameForm(folder_), std::vector<std::uint8_t>{1}));
  EXPECT_TRUE(files_.ListFolder(GameForm(folder_ / L"none")).empty());
}

TEST_F(Win32FilesTest, APathLongerThanTheClassicLimitStillReaches) {
  fs::path deep = folder_;
  while (deep.wstring().size() < MAX_PATH + 20) deep /= L"Unterordner f\u00fcr Spiele";
  fs::create_directories(deep);
  WriteFile(deep / L"best.dat", {7});
  EXPECT_TRUE(files_.ReplaceExisting(GameForm(deep / L"best.dat"), std::vector<std::uint8_t>{8}));
  EXPECT_EQ(files_.ReadExisting(GameForm(deep / L"best.dat"), 10), (std::vector<std::uint8_t>{8}));
}

}  // namespace
}  // namespace vesquin::windows
