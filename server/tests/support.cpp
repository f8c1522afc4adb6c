#include "support.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace vesquin::scored::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "scored-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

namespace {

struct CurlGlobal {
  CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
  ~CurlGlobal() { curl_global_cleanup(); }
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  std::string line(data, size * count);
  auto colon = line.find(':');
  if (colon != std::string::npos) {
    std::string name = line.substr(0, colon);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
    (*static_cast<std::map<std::string, std::string>*>(user))[name] = value;
  }
  return size * count;
}

}  // namespace

HttpResult HttpGet(const std::string& url, std::chrono::seconds timeout) {
  static CurlGlobal global;
  HttpResult result;
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
  if (!curl) {
    result.error = "curl_easy_init failed";
    return result;
  }
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &result.body);
  curl_easy_setopt(curl.get(), CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(curl.get(), CURLOPT_HEADERDATA, &result.headers);
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, static_cast<long>(timeout.count()));
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");
  CURLcode rc = curl_easy_perform(curl.get());
  if (rc != CURLE_OK) {
    result.error = curl_easy_strerror(rc);
    return result;
  }
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &result.status);
  return result;
}

std::string GameQuery(const Player& p, int score) {
  return "first_name=" + PercentEncode(p.firstName) + "&last_name=" + PercentEncode(p.lastName) +
         "&addr=" + PercentEncode(p.addr) + "&country=" + PercentEncode(p.country) +
         "&score=" + std::to_string(score);
}

Player MakePlayer(const std::string& first, const std::string& last, const std::string& addr,
                  const std::string& country) {
  return Player{first, last, addr, country};
}

RawClient::RawClient(int port, const std::string& source) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  if (!source.empty()) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, source.c_str(), &local.sin_addr);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
  }
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &peer.sin_addr);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

RawClient::~RawClient() {
  if (fd_ >= 0) ::close(fd_);
}

bool RawClient::Send(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string RawClient::ReadUntilClosed(std::chrono::milliseconds timeout, bool* closed) {
  std::string out;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  if (closed) *closed = false;
  for (;;) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return out;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return out;
    char buf[4096];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
      if (closed) *closed = true;
      return out;
    }
    out.append(buf, static_cast<std::size_t>(n));
  }
}

TestServer::TestServer(const std::string& dbPath, Settings settings) {
  auto store = SqliteStore::Open(dbPath);
  if (!store) throw std::runtime_error(store.Error());
  store_ = std::move(*store);
  service_ = std::make_unique<Service>(*store_, ServiceOptions{settings.rateLimit, {}, {}});
  auto server = HttpServer::Start(*service_, settings.server, [this](const std::string& line) {
    std::lock_guard lock(logMutex_);
    log_.push_back(line);
  });
  if (!server) throw std::runtime_error(server.Error());
  server_ = std::move(*server);
}

TestServer::~TestServer() {
  if (server_) server_->Stop(std::chrono::seconds(2));
}

std::string TestServer::Url(const std::string& pathAndQuery) const {
  return "http://127.0.0.1:" + std::to_string(server_->Port()) + pathAndQuery;
}

std::vector<std::string> TestServer::LogLines() {
  std::lock_guard lock(logMutex_);
  return log_;
}

}  // namespace vesquin::scored::testing
