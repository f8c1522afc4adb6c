#include "platform/realtime.h"

#include <dbus/dbus.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>

namespace vesquin {
namespace {

constexpr const char* kService = "org.freedesktop.RealtimeKit1";
constexpr const char* kPath = "/org/freedesktop/RealtimeKit1";
constexpr int kTimeoutMs = 500;

class Bus {
 public:
  Bus() {
    DBusError error;
    dbus_error_init(&error);
    // A private connection to the bus the environment names now (libdbus's own look-up
    // keeps the first address it saw); the process's shared connection is left alone.
    const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    connection_ = dbus_connection_open_private(
        address != nullptr && *address != '\0' ? address : "unix:path=/var/run/dbus/system_bus_socket",
        &error);
    if (connection_ != nullptr) {
      dbus_connection_set_exit_on_disconnect(connection_, FALSE);
      if (!dbus_bus_register(connection_, &error)) {
        dbus_connection_close(connection_);
        dbus_connection_unref(connection_);
        connection_ = nullptr;
      }
    }
    dbus_error_free(&error);
  }
  ~Bus() {
    if (connection_ == nullptr) return;
    dbus_connection_close(connection_);
    dbus_connection_unref(connection_);
  }
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;
  DBusConnection* get() const { return connection_; }

 private:
  DBusConnection* connection_ = nullptr;
};

class Message {
 public:
  explicit Message(DBusMessage* m) : message_(m) {}
  ~Message() {
    if (message_ != nullptr) dbus_message_unref(message_);
  }
  Message(const Message&) = delete;
  Message& operator=(const Message&) = delete;
  DBusMessage* get() const { return message_; }

 private:
  DBusMessage* message_;
};

// Sends `call` and waits for its reply; null on any failure.
DBusMessage* Send(const Bus& bus, const Message& call) {
  if (call.get() == nullptr) return nullptr;
  DBusError error;
  dbus_error_init(&error);
  DBusMessage* reply = dbus_connection_send_with_reply_and_block(bus.get(), call.get(), kTimeoutMs, &error);
  dbus_error_free(&error);
  return reply;
}

// One of rtkit's integer properties.
std::optional<std::int64_t> Property(const Bus& bus, const char* name) {
  Message call(dbus_message_new_method_call(kService, kPath, "org.freedesktop.DBus.Properties", "Get"));
  const char* interface = kService;
  if (call.get() == nullptr || !dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &interface,
                                                         DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)) {
    return std::nullopt;
  }
  const Message reply(Send(bus, call));
  DBusMessageIter it;
  DBusMessageIter variant;
  if (reply.get() == nullptr || !dbus_message_iter_init(reply.get(), &it) ||
      dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_VARIANT) {
    return std::nullopt;
  }
  dbus_message_iter_recurse(&it, &variant);
  switch (dbus_message_iter_get_arg_type(&variant)) {
    case DBUS_TYPE_INT32: {
      dbus_int32_t v = 0;
      dbus_message_iter_get_basic(&variant, &v);
      return v;
    }
    case DBUS_TYPE_INT64: {
      dbus_int64_t v = 0;
      dbus_message_iter_get_basic(&variant, &v);
      return v;
    }
    default:
      return std::nullopt;
  }
}

std::uint64_t ThisThreadId() { return static_cast<std::uint64_t>(syscall(SYS_gettid)); }

}  // namespace

bool AskRtkitForRealtime(int priority) {
  const Bus bus;
  if (bus.get() == nullptr) return false;
  if (const std::optional<std::int64_t> most = Property(bus, "MaxRealtimePriority")) {
    priority = static_cast<int>(std::min<std::int64_t>(priority, *most));
  }
  if (priority < 1) return false;
  // rtkit only serves processes that bound their real-time CPU time, at most to its own bound.
  const std::optional<std::int64_t> rtTime = Property(bus, "RTTimeUSecMax");
  const rlim_t bound = static_cast<rlim_t>(rtTime && *rtTime > 0 ? *rtTime : 200'000);
  rlimit limit{};
  if (getrlimit(RLIMIT_RTTIME, &limit) != 0) return false;
  if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > bound) {
    limit.rlim_cur = limit.rlim_max = bound;
    if (setrlimit(RLIMIT_RTTIME, &limit) != 0) return false;
  }
  Message call(dbus_message_new_method_call(kService, kPath, kService, "MakeThreadRealtime"));
  const dbus_uint64_t thread = ThisThreadId();
  const dbus_uint32_t level = static_cast<dbus_uint32_t>(priority);
  if (call.get() == nullptr || !dbus_message_append_args(call.get(), DBUS_TYPE_UINT64, &thread,
                                                         DBUS_TYPE_UINT32, &level, DBUS_TYPE_INVALID)) {
    return false;
  }
  const Message reply(Send(bus, call));
  return reply.get() != nullptr && dbus_message_get_type(reply.get()) == DBUS_MESSAGE_TYPE_METHOD_RETURN;
}

bool RaiseThreadToRealtime(int priority) {
  sched_param param{};
  param.sched_priority = priority;
  if (pthread_setschedparam(pthread_self(), SCHED_RR | SCHED_RESET_ON_FORK, &param) == 0) return true;
  return AskRtkitForRealtime(priority);
}

bool RaiseThreadNice(int niceLevel) {
  // On Linux a thread's nice level is its own: PRIO_PROCESS with a thread id.
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(ThisThreadId()), niceLevel) == 0) return true;
  const Bus bus;
  if (bus.get() == nullptr) return false;
  if (const std::optional<std::int64_t> least = Property(bus, "MinNiceLevel")) {
    niceLevel = static_cast<int>(std::max<std::int64_t>(niceLevel, *least));
  }
  Message call(dbus_message_new_method_call(kService, kPath, kService, "MakeThreadHighPriority"));
  const dbus_uint64_t thread = ThisThreadId();
  const dbus_int32_t level = niceLevel;
  if (call.get() == nullptr || !dbus_message_append_args(call.get(), DBUS_TYPE_UINT64, &thread,
                                                         DBUS_TYPE_INT32, &level, DBUS_TYPE_INVALID)) {
    return false;
  }
  const Message reply(Send(bus, call));
  return reply.get() != nullptr && dbus_message_get_type(reply.get()) == DBUS_MESSAGE_TYPE_METHOD_RETURN;
}

}  // namespace vesquin
