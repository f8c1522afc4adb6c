// The vesquin-scored program itself: options, start-up, signals, restart.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <regex>
#include <thread>

#include "support.h"

extern char** environ;

namespace vesquin::scored {
namespace {

using namespace std::chrono_literals;
using testing::HttpGet;
using testing::MakePlayer;
using testing::TempDir;

// The server as a child process whose standard error the test reads.
class Child {
 public:
  explicit Child(std::vector<std::string> args) {
    args.insert(args.begin(), SCORED_BINARY);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    readFd_ = fds[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, SCORED_BINARY, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (readFd_ >= 0) close(readFd_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Reads standard error until `pattern` matches or the time is up.
  std::string WaitFor(const std::regex& pattern, std::chrono::milliseconds timeout,
                      std::smatch* match = nullptr) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!std::regex_search(output_, *(match ? match : &scratch_), pattern)) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{readFd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      char buf[1024];
      ssize_t n = read(readFd_, buf, sizeof buf);
      if (n <= 0) break;
      output_.append(buf, static_cast<std::size_t>(n));
    }
    return output_;
  }
  void Signal(int sig) { kill(pid_, sig); }
  // Exit code, or -1 if the child did not exit in time.
  int Wait(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(20ms);
    }
    return -1;
  }
  bool Started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int readFd_ = -1;
  std::string output_;
  std::smatch scratch_;
};

int StartedPort(Child& child) {
  std::smatch m;
  child.WaitFor(std::regex("listening on 127\\.0\\.0\\.1:([0-9]+)"), 10s, &m);
  return m.empty() ? 0 : std::stoi(m[1]);
}

TEST(Program, StopsCleanlyOnSignalsAndKeepsTheTable) {
  TempDir dir;
  std::string db = dir.File("scores.db");
  for (int sig : {SIGTERM, SIGINT}) {
    Child child({"--db", db, "--listen", "127.0.0.1:0"});
    ASSERT_TRUE(child.Started());
    int port = StartedPort(child);
    ASSERT_GT(port, 0) << child.WaitFor(std::regex("$^"), 0ms);
    std::string base = "http://127.0.0.1:" + std::to_string(port) + "/vesquin/";
    Player p = MakePlayer(sig == SIGTERM ? "first run" : "second run");
    EXPECT_EQ(HttpGet(base + "top1.php?" + testing::GameQuery(p, sig == SIGTERM ? 50 : 60)).status, 200);
    // The previous run's player is still there after the restart.
    if (sig == SIGINT) {
      EXPECT_EQ(HttpGet(base + "top2.php?" + testing::GameQuery(MakePlayer("first run"), 50)).body, "2");
    }
    child.Signal(sig);
    EXPECT_EQ(child.Wait(10s), 0);
    std::string log = child.WaitFor(std::regex("stopped"), 2s);
    EXPECT_NE(log.find("GET /vesquin/top1.php 200"), std::string::npos) << log;
    EXPECT_NE(log.find("vesquin-scored: stopped"), std::string::npos) << log;
  }
}

TEST(Program, KillDashNineUnderLoadLosesNoAnsweredSubmission) {
  TempDir dir;
  std::string db = dir.File("scores.db");
  std::vector<std::string> answered;
  {
    Child child({"--db", db, "--listen", "127.0.0.1:0", "--rate-limit", "0", "--max-per-address", "64"});
    int port = StartedPort(child);
    ASSERT_GT(port, 0);
    std::string base = "http://127.0.0.1:" + std::to_string(port) + "/vesquin/top1.php?";
    std::mutex mutex;
    std::atomic<bool> killed{false};
    std::vector<std::thread> senders;
    for (int t = 0; t < 8; ++t) {
      senders.emplace_back([&, t] {
        for (int i = 0; !killed; ++i) {
          std::string name = "p" + std::to_string(t) + "-" + std::to_string(i);
          if (HttpGet(base + testing::GameQuery(MakePlayer(name), 1 + i % 100), 5s).status == 200) {
            std::lock_guard lock(mutex);
            answered.push_back(name);
          }
        }
      });
    }
    std::this_thread::sleep_for(1500ms);
    child.Signal(SIGKILL);
    killed = true;
    for (auto& s : senders) s.join();
  }
  ASSERT_GT(answered.size(), 50u);
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open_v2(db.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> conn(raw, &sqlite3_close);
  sqlite3_stmt* find = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(raw, "SELECT count(*) FROM players WHERE first_name = ?1", -1, &find, nullptr),
            SQLITE_OK);
  int lost = 0;
  for (const auto& name : answered) {
    sqlite3_bind_blob(find, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(find) != SQLITE_ROW || sqlite3_column_int(find, 0) != 1) ++lost;
    sqlite3_reset(find);
  }
  sqlite3_finalize(find);
  EXPECT_EQ(lost, 0) << "of " << answered.size() << " answered submissions";
}

TEST(Program, RefusesBadOptionsAndBadFiles) {
  TempDir dir;
  {
    Child child({"--rate-limit", "lots"});
    EXPECT_EQ(child.Wait(10s), 2);
    EXPECT_NE(child.WaitFor(std::regex("usage"), 2s).find("bad value for --rate-limit"), std::string::npos);
  }
  {
    Child child({"--db", dir.File("no/such/folder/scores.db"), "--listen", "127.0.0.1:0"});
    EXPECT_EQ(child.Wait(10s), 1);
    EXPECT_NE(child.WaitFor(std::regex("cannot open"), 2s).find("cannot open"), std::string::npos);
  }
  {
    Child child({"--help"});
    EXPECT_EQ(child.Wait(10s), 0);
  }
}

}  // namespace
}  // namespace vesquin::scored
