#pragma once
// The HTTP front: an accept loop of its own that decides who gets a connection slot (see
// connection_table.h), libmicrohttpd for the protocol, the raw query, the request log.

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "connection_table.h"
#include "log_budget.h"
#include "platform/unique_fd.h"
#include "refusal_log.h"
#include "result.h"
#include "service.h"
#include "trusted_proxies.h"

struct MHD_Daemon;

namespace vesquin::scored {

struct ServerOptions {
  std::string listen = "127.0.0.1:8480";  // ADDR:PORT, [IPv6]:PORT; port 0 picks a free one
  unsigned threads = 4;
  unsigned maxConnections = 64;
  unsigned maxPerAddress = 8;
  unsigned timeoutSeconds = 10;             // a connection that stalls (sends or reads nothing) is closed
  unsigned requestTimeoutSeconds = 5;       // the whole request head must arrive within this
  std::vector<std::string> trustedProxies;  // ADDR[/PREFIX]
};

struct ListenAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
  bool ipv6 = false;
};
Result<ListenAddress> ParseListenAddress(const std::string& text);

using LogSink = std::function<void(const std::string& line)>;
// Writes each line to standard error in one write, so lines from threads never interleave.
void LogToStderr(const std::string& line);

class HttpServer {
 public:
  static Result<std::unique_ptr<HttpServer>> Start(Service& service, const ServerOptions& options,
                                                   LogSink log = LogToStderr);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  std::uint16_t Port() const { return port_; }

  // Stops accepting connections, lets requests under way finish for up to `drain`,
  // then closes every connection. Safe to call more than once.
  void Stop(std::chrono::milliseconds drain = std::chrono::seconds(5));

 private:
  struct RequestContext;
  struct Slot {
    UniqueFd fd;     // the socket while it waits here; libmicrohttpd owns it once served
    UniqueFd watch;  // a duplicate kept while served, to cut the connection short
    sockaddr_storage address{};
    socklen_t addressLength = 0;
    std::string peer;
    bool closedHere = false;  // this side cut it (and noted why)
    // When the client was seen to have closed its side while served between requests.
    std::optional<std::chrono::steady_clock::time_point> peerClosedAt;
  };
  struct DaemonStopper {
    void operator()(MHD_Daemon* d) const;
  };
  HttpServer(Service& service, const ServerOptions& options, LogSink log);

  friend struct Callbacks;  // libmicrohttpd's C callbacks, defined beside the implementation

  void Log(const std::string& line);
  void NoteRefusal(const std::string& reason, const std::string& client);
  void AcceptLoop();
  void AcceptReady(std::vector<ConnectionTable::Id>& toServe);
  // With slotsMutex_ held: closes a connection this side gave up on.
  void CloseLocked(ConnectionTable::Id id);
  void Serve(ConnectionTable::Id id);
  // With slotsMutex_ held: closes the connections whose clients closed their side before a whole
  // request head came, since such a connection can never be answered.
  void DropDeserted(const std::vector<pollfd>& polled, const std::vector<ConnectionTable::Id>& ids,
                    std::vector<std::string>& peers);
  void Wake();

  Service& service_;
  LogSink log_;
  ServerOptions options_;
  TrustedProxies proxies_;
  std::unique_ptr<MHD_Daemon, DaemonStopper> daemon_;
  UniqueFd listener_;
  UniqueFd wake_;  // eventfd: slots freed, or stopping
  std::thread acceptor_;
  std::atomic<bool> stopping_{false};
  std::uint16_t port_ = 0;

  std::mutex slotsMutex_;
  ConnectionTable table_;
  std::unordered_map<ConnectionTable::Id, Slot> slots_;
  std::unordered_map<int, ConnectionTable::Id> starting_;  // libmicrohttpd's socket -> slot, until it starts
  ConnectionTable::Id nextId_ = 1;
  RefusalLog refusals_;
  LogBudget logBudget_;

  std::mutex inflightMutex_;
  std::condition_variable inflightDone_;
  int inflight_ = 0;
  int pendingReplies_ = 0;  // answers the service still owes
};

}  // namespace vesquin::scored
