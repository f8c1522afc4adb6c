#pragma once
// The HTTP front on libmicrohttpd: connection limits, time-outs, the raw query, the request log.

#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "result.hpp"
#include "service.hpp"

struct MHD_Daemon;

namespace vesquin::scored {

struct ServerOptions {
  std::string listen = "127.0.0.1:8480";  // ADDR:PORT, [IPv6]:PORT; port 0 picks a free one
  unsigned threads = 4;
  unsigned max_connections = 64;
  unsigned max_per_address = 8;
  unsigned timeout_seconds = 10;  // an idle or stalled connection is closed after this
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

  std::uint16_t port() const { return port_; }

  // Stops accepting connections, lets requests under way finish for up to `drain`,
  // then closes every connection. Safe to call more than once.
  void Stop(std::chrono::milliseconds drain = std::chrono::seconds(5));

private:
  struct RequestContext;
  struct DaemonStopper {
    void operator()(MHD_Daemon* d) const;
  };
  HttpServer(Service& service, LogSink log) : service_(service), log_(std::move(log)) {}

  friend struct Callbacks;  // libmicrohttpd's C callbacks, defined beside the implementation

  Service& service_;
  LogSink log_;
  std::unique_ptr<MHD_Daemon, DaemonStopper> daemon_;
  std::uint16_t port_ = 0;
  std::mutex inflight_mutex_;
  std::condition_variable inflight_done_;
  int inflight_ = 0;
};

}  // namespace vesquin::scored
