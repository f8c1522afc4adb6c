#include "windows/wininet_http.h"

#include <gtest/gtest.h>

namespace vesquin::windows {
namespace {

TEST(WinInetRedirects, GoToWebAddressesOnlyAsTheLinuxBuildDoes) {
  const std::string base = "http://scores.example.org:8480/vesquin/top2.php?score=68";
  EXPECT_EQ(RedirectTarget(base, "https://other.example.org/x"), "https://other.example.org/x");
  EXPECT_EQ(RedirectTarget(base, "/moved/top2.php?a=1"), "http://scores.example.org:8480/moved/top2.php?a=1");
  EXPECT_EQ(RedirectTarget(base, "top3.php"), "http://scores.example.org:8480/vesquin/top3.php");
  EXPECT_EQ(RedirectTarget(base, "//mirror.example.org/t"), "http://mirror.example.org/t");
  EXPECT_EQ(RedirectTarget("http://host", "a"), "http://host/a");
  EXPECT_FALSE(RedirectTarget(base, "ftp://scores.example.org/top2.php"));
  EXPECT_FALSE(RedirectTarget(base, "file:///c:/windows/win.ini"));
  EXPECT_FALSE(RedirectTarget(base, ""));
}

TEST(WinInetGet, NoServerAndNoWebAddressAreRequestsNotMade) {
  WinInetHttp http({1'000, 3'000});
  EXPECT_FALSE(http.Get("http://127.0.0.1:1/vesquin/top1.php"));
  EXPECT_FALSE(http.Get("file:///c:/windows/win.ini"));
}

}  // namespace
}  // namespace vesquin::windows
