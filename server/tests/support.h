#pragma once
// Helpers shared by the server's tests: temporary folders, an HTTP client, raw sockets,
// and a server running in the test process on a free loopback port.

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http_server.h"
#include "query.h"
#include "service.h"
#include "sqlite_store.h"

namespace vesquin::scored::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

struct HttpResult {
  long status = 0;  // 0 when no answer came
  std::string body;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string error;
};
HttpResult HttpGet(const std::string& url, std::chrono::seconds timeout = std::chrono::seconds(10));

// The query exactly as the game builds it.
std::string GameQuery(const Player& player, int score);
Player MakePlayer(const std::string& first, const std::string& last = "Tester",
                  const std::string& addr = "1 Road", const std::string& country = "Nowhere");

// A blocking TCP client socket to 127.0.0.1, optionally bound to another loopback source address.
class RawClient {
 public:
  RawClient(int port, const std::string& source = "");
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;
  bool Connected() const { return fd_ >= 0; }
  bool Send(const std::string& bytes);
  // Everything until the peer closes or `timeout` passes.
  std::string ReadUntilClosed(std::chrono::milliseconds timeout, bool* closed = nullptr);

 private:
  int fd_ = -1;
};

class TestServer {
 public:
  struct Settings {
    unsigned rateLimit = 0;  // off unless a test is about it
    ServerOptions server{"127.0.0.1:0", 2, 64, 8, 10, 5, {}};
  };
  explicit TestServer(const std::string& dbPath) : TestServer(dbPath, Settings()) {}
  TestServer(const std::string& dbPath, Settings settings);
  ~TestServer();

  std::string Url(const std::string& pathAndQuery) const;
  int Port() const { return server_->Port(); }
  Store& Scores() { return *store_; }
  HttpServer& Http() { return *server_; }
  std::vector<std::string> LogLines();

  HttpResult Submit(const Player& p, int score) {
    return HttpGet(Url("/vesquin/top1.php?" + GameQuery(p, score)));
  }
  HttpResult AskPlace(const Player& p, int score) {
    return HttpGet(Url("/vesquin/top2.php?" + GameQuery(p, score)));
  }

 private:
  std::unique_ptr<Store> store_;
  std::unique_ptr<Service> service_;
  std::unique_ptr<HttpServer> server_;
  std::mutex logMutex_;
  std::vector<std::string> log_;
};

}  // namespace vesquin::scored::testing
