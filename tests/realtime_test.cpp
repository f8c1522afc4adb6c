// Real-time scheduling through rtkit, against a bus of the test's own (dbus-daemon in a fresh
// folder) where the test itself answers as rtkit: what is asked for, for which thread, and
// that a missing or refusing rtkit is a plain false. Skipped where dbus-daemon is missing.

#include "platform/realtime.h"

#include <dbus/dbus.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "support/test_data.h"

extern char** environ;

namespace vesquin {
namespace {

using namespace std::chrono_literals;

constexpr const char* kRtkit = "org.freedesktop.RealtimeKit1";

// Answers on the bus as rtkit does, with a real-time ceiling of 3 and a CPU-time bound of
// 150 ms; records the last request.
class FakeRtkit {
 public:
  explicit FakeRtkit(const std::string& address, bool refuse) : refuse_(refuse) {
    DBusError error;
    dbus_error_init(&error);
    connection_ = dbus_connection_open_private(address.c_str(), &error);
    if (connection_ != nullptr && dbus_bus_register(connection_, &error) &&
        dbus_bus_request_name(connection_, kRtkit, DBUS_NAME_FLAG_DO_NOT_QUEUE, &error) ==
            DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) {
      ready_ = true;
      thread_ = std::thread([this] { Serve(); });
    }
    dbus_error_free(&error);
  }
  ~FakeRtkit() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (connection_ != nullptr) {
      dbus_connection_close(connection_);
      dbus_connection_unref(connection_);
    }
  }
  bool Ready() const { return ready_; }
  std::uint64_t Thread() const { return thread_id_.load(); }
  std::uint32_t Priority() const { return priority_.load(); }
  int Nice() const { return nice_.load(); }

 private:
  void Serve() {
    while (!stop_) {
      dbus_connection_read_write(connection_, 20);
      while (DBusMessage* m = dbus_connection_pop_message(connection_)) {
        Answer(m);
        dbus_message_unref(m);
      }
    }
  }

  void Answer(DBusMessage* m) {
    DBusMessage* reply = nullptr;
    if (dbus_message_is_method_call(m, "org.freedesktop.DBus.Properties", "Get")) {
      const char* interface = nullptr;
      const char* name = nullptr;
      dbus_message_get_args(m, nullptr, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &name,
                            DBUS_TYPE_INVALID);
      reply = dbus_message_new_method_return(m);
      DBusMessageIter it;
      DBusMessageIter variant;
      dbus_message_iter_init_append(reply, &it);
      if (std::string(name) == "RTTimeUSecMax") {
        const dbus_int64_t v = 150'000;
        dbus_message_iter_open_container(&it, DBUS_TYPE_VARIANT, "x", &variant);
        dbus_message_iter_append_basic(&variant, DBUS_TYPE_INT64, &v);
      } else {
        const dbus_int32_t v = std::string(name) == "MaxRealtimePriority" ? 3 : -15;
        dbus_message_iter_open_container(&it, DBUS_TYPE_VARIANT, "i", &variant);
        dbus_message_iter_append_basic(&variant, DBUS_TYPE_INT32, &v);
      }
      dbus_message_iter_close_container(&it, &variant);
    } else if (dbus_message_get_type(m) == DBUS_MESSAGE_TYPE_METHOD_CALL) {
      dbus_uint64_t thread = 0;
      dbus_uint32_t priority = 0;
      dbus_int32_t nice = 0;
      if (dbus_message_is_method_call(m, kRtkit, "MakeThreadRealtime") &&
          dbus_message_get_args(m, nullptr, DBUS_TYPE_UINT64, &thread, DBUS_TYPE_UINT32, &priority,
                                DBUS_TYPE_INVALID)) {
        thread_id_ = thread;
        priority_ = priority;
      } else if (dbus_message_is_method_call(m, kRtkit, "MakeThreadHighPriority") &&
                 dbus_message_get_args(m, nullptr, DBUS_TYPE_UINT64, &thread, DBUS_TYPE_INT32, &nice,
                                       DBUS_TYPE_INVALID)) {
        thread_id_ = thread;
        nice_ = nice;
      }
      reply = refuse_ ? dbus_message_new_error(m, "org.freedesktop.DBus.Error.AccessDenied", "no")
                      : dbus_message_new_method_return(m);
    }
    if (reply != nullptr) {
      dbus_connection_send(connection_, reply, nullptr);
      dbus_message_unref(reply);
      dbus_connection_flush(connection_);
    }
  }

  bool refuse_;
  bool ready_ = false;
  DBusConnection* connection_ = nullptr;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> thread_id_{0};
  std::atomic<std::uint32_t> priority_{0};
  std::atomic<int> nice_{0};
  std::thread thread_;
};

class Realtime : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v dbus-daemon >/dev/null") != 0) GTEST_SKIP() << "dbus-daemon is not installed";
    getrlimit(RLIMIT_RTTIME, &savedLimit_);
    const char* previous = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (previous != nullptr) savedAddress_ = previous;
    address_ = "unix:path=" + (folder_.Path() / "bus").string();
    const std::string listen = "--address=" + address_;
    const char* argv[] = {"dbus-daemon", "--session", "--nofork", "--nopidfile", listen.c_str(), nullptr};
    ASSERT_EQ(posix_spawnp(&daemon_, "dbus-daemon", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    for (int i = 0; i < 100 && !std::filesystem::exists(folder_.Path() / "bus"); ++i)
      std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(std::filesystem::exists(folder_.Path() / "bus"));
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
  }

  void TearDown() override {
    if (daemon_ > 0) {
      kill(daemon_, SIGTERM);
      waitpid(daemon_, nullptr, 0);
    }
    if (savedAddress_.empty()) {
      unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    } else {
      setenv("DBUS_SYSTEM_BUS_ADDRESS", savedAddress_.c_str(), 1);
    }
    setrlimit(RLIMIT_RTTIME, &savedLimit_);
  }

  // Runs `ask` on a thread of its own; its result and that thread's kernel id.
  template <typename Ask>
  static std::pair<bool, std::uint64_t> OnAThread(Ask ask) {
    bool granted = false;
    std::uint64_t id = 0;
    std::thread([&] {
      id = static_cast<std::uint64_t>(syscall(SYS_gettid));
      granted = ask();
    }).join();
    return {granted, id};
  }

  testing::TempFolder folder_;
  std::string address_;
  std::string savedAddress_;
  rlimit savedLimit_{};
  pid_t daemon_ = 0;
};

TEST_F(Realtime, RtkitIsAskedForTheCallingThreadWithinItsBounds) {
  FakeRtkit rtkit(address_, false);
  ASSERT_TRUE(rtkit.Ready());
  const auto [granted, id] = OnAThread([] { return AskRtkitForRealtime(4); });
  EXPECT_TRUE(granted);
  EXPECT_EQ(rtkit.Thread(), id);
  EXPECT_EQ(rtkit.Priority(), 3U);  // rtkit's ceiling, not the 4 asked for
  // rtkit serves only a process whose real-time CPU time is bounded within its own bound.
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_RTTIME, &limit), 0);
  EXPECT_LE(limit.rlim_max, 150'000U);
  EXPECT_LE(limit.rlim_cur, limit.rlim_max);
}

TEST_F(Realtime, ARefusalOrNoRtkitIsFalseAndQuick) {
  {
    FakeRtkit rtkit(address_, true);
    ASSERT_TRUE(rtkit.Ready());
    EXPECT_FALSE(OnAThread([] { return AskRtkitForRealtime(4); }).first);
    // It was asked (its answer may have come after the caller stopped waiting).
    for (int i = 0; i < 100 && rtkit.Priority() == 0; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_NE(rtkit.Priority(), 0U);
  }
  // A bus without rtkit on it, then no bus at all.
  const auto began = std::chrono::steady_clock::now();
  EXPECT_FALSE(OnAThread([] { return AskRtkitForRealtime(4); }).first);
  setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + (folder_.Path() / "none").string()).c_str(), 1);
  int policy = -1;
  EXPECT_FALSE(OnAThread([&] {
                 const bool granted = AskRtkitForRealtime(4);
                 sched_param param{};
                 pthread_getschedparam(pthread_self(), &policy, &param);
                 return granted;
               }).first);
  EXPECT_EQ(policy, SCHED_OTHER);
  EXPECT_LT(std::chrono::steady_clock::now() - began, 3s);
}

TEST_F(Realtime, ADirectRightNeedsNoRtkit) {
  rlimit rtprio{};
  getrlimit(RLIMIT_RTPRIO, &rtprio);
  if (geteuid() != 0 && rtprio.rlim_cur < 4) GTEST_SKIP() << "this process may not use real-time scheduling";
  FakeRtkit rtkit(address_, false);
  int policy = -1;
  int priority = -1;
  EXPECT_TRUE(OnAThread([&] {
                const bool granted = RaiseThreadToRealtime(4);
                sched_param param{};
                pthread_getschedparam(pthread_self(), &policy, &param);
                priority = param.sched_priority;
                return granted;
              }).first);
  EXPECT_EQ(policy & ~SCHED_RESET_ON_FORK, SCHED_RR);
  EXPECT_EQ(priority, 4);
  EXPECT_EQ(rtkit.Thread(), 0U);  // never asked
}

}  // namespace
}  // namespace vesquin
