// The public page in a real browser (Debian's chromium, headless), checked by axe-core.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "support.h"

namespace vesquin::scored {
namespace {

using testing::MakePlayer;
using testing::TempDir;
using testing::TestServer;

std::string Chromium() {
  const char* env = std::getenv("CHROMIUM");
  return env ? env : "/usr/bin/chromium";
}

struct CommandRun {
  int exitCode = -1;
  std::string output;
};

CommandRun RunCommand(const std::string& command) {
  CommandRun run;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return run;
  char buf[4096];
  while (std::size_t n = fread(buf, 1, sizeof buf, pipe)) run.output.append(buf, n);
  int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(Browser, PageIsAccessibleAndShowsNamesAsText) {
  if (!std::filesystem::exists(Chromium()))
    GTEST_SKIP() << "chromium is not installed (" << Chromium() << ")";
  std::string dir = SCORED_BROWSER_DIR;
  ASSERT_TRUE(std::filesystem::exists(dir + "/node_modules/axe-core"))
      << "npm packages missing: run scripts/install-deps.sh";

  TempDir tmp;
  TestServer server(tmp.File("scores.db"));
  ASSERT_EQ(
      server.Submit(MakePlayer("<script>alert(1)</script>", "<img src=x onerror=alert(2)>", "A", "UK"), 90)
          .status,
      200);
  ASSERT_EQ(server
                .Submit(MakePlayer("Ren\xE9", "M\xFCller", "B",
                                   "\xC9"
                                   "cosse"),
                        80)
                .status,
            200);
  ASSERT_EQ(server.Submit(MakePlayer("Ada", "Lovelace", "C", "England"), 70).status, 200);

  CommandRun run = RunCommand("node '" + dir + "/check_page.mjs' '" + server.Url("/vesquin/") + "' '" +
                              tmp.File("page.png") + "'");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("\"violations\":0"), std::string::npos) << run.output;
  // What a screen reader reads in the first row: the markup as plain text.
  EXPECT_NE(
      run.output.find("[\"1\",\"<script>alert(1)</script>\",\"<img src=x onerror=alert(2)>\",\"UK\",\"90\""),
      std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("\"Ren\xC3\xA9\",\"M\xC3\xBCller\",\"\xC3\x89"
                            "cosse\""),
            std::string::npos)
      << run.output;
}

}  // namespace
}  // namespace vesquin::scored
