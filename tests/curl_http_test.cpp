// The real HTTP client against a small server on 127.0.0.1 that the test runs itself.

#include "platform/curl_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vesquin {
namespace {

using namespace std::chrono_literals;

class Socket {
 public:
  explicit Socket(int fd = -1) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Socket& operator=(Socket&&) = delete;
  Socket(const Socket&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// A listening socket on 127.0.0.1 with a port of the system's choosing.
Socket Listen(std::uint16_t& port, bool listening = true) {
  Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (s.get() < 0 || ::bind(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return Socket();
  socklen_t length = sizeof address;
  ::getsockname(s.get(), reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  if (listening && ::listen(s.get(), 4) != 0) return Socket();
  return s;
}

// Answers one connection after another, each with the next of the given answers: the raw
// bytes sent once the request has come, then either the connection closed or, with `hold`,
// kept open and silent until the server goes.
class TestServer {
 public:
  struct Answer {
    std::string bytes;
    bool hold = false;
  };

  explicit TestServer(std::vector<Answer> answers) : answers_(std::move(answers)), listener_(Listen(port_)) {
    if (listener_.get() >= 0) thread_ = std::thread([this] { Serve(); });
  }
  ~TestServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  bool Ready() const { return listener_.get() >= 0; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::vector<std::string> Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  // Waits for the socket to become readable, a little at a time so that the server can stop.
  bool WaitReadable(int fd) {
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) > 0) return true;
    }
    return false;
  }

  void Serve() {
    for (const Answer& answer : answers_) {
      if (!WaitReadable(listener_.get())) return;
      Socket connection(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (connection.get() < 0) return;
      std::string request;
      char buffer[4096];
      while (request.find("\r\n\r\n") == std::string::npos && WaitReadable(connection.get())) {
        const ssize_t n = ::recv(connection.get(), buffer, sizeof buffer, 0);
        if (n <= 0) break;
        request.append(buffer, static_cast<std::size_t>(n));
      }
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(request.substr(0, request.find("\r\n")));
      }
      for (std::size_t sent = 0; sent < answer.bytes.size();) {
        const ssize_t n =
            ::send(connection.get(), answer.bytes.data() + sent, answer.bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
      if (answer.hold) {
        while (!stop_) std::this_thread::sleep_for(10ms);
      }
    }
  }

  std::vector<Answer> answers_;
  std::uint16_t port_ = 0;
  Socket listener_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

std::string Response(const std::string& statusLine, const std::string& body) {
  return "HTTP/1.1 " + statusLine + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

constexpr HttpTimeouts kShort{300, 300};

class CurlHttpTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A proxy set in the environment must not stand between the test and its own server.
    ::setenv("no_proxy", "127.0.0.1", 1);
  }
};

TEST_F(CurlHttpTest, AnAnswerGivesItsBodyAndTheUrlGoesOutAsGiven) {
  TestServer server({{Response("200 OK", "7 and more")}});
  ASSERT_TRUE(server.Ready());
  CurlHttp http(kShort);
  const auto reply = http.Get(server.Url("/vesquin/top2.php?first_name=Ann%20Marie&last_name=%26&score=67"));
  ASSERT_TRUE(reply.has_value());
  EXPECT_TRUE(reply->bodyRead);
  EXPECT_EQ(reply->body, "7 and more");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0],
            "GET /vesquin/top2.php?first_name=Ann%20Marie&last_name=%26&score=67 HTTP/1.1");
}

TEST_F(CurlHttpTest, AnEmptyBodyAndAnErrorStatusAreStillAnswers) {
  TestServer server({{Response("200 OK", "")},
                     {Response("500 Internal Server Error", "<html>")},
                     {"HTTP/1.1 404 Not Found\r\nConnection: close\r\n\r\nnot here"}});
  ASSERT_TRUE(server.Ready());
  CurlHttp http(kShort);
  const auto empty = http.Get(server.Url("/a"));
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->bodyRead);
  EXPECT_EQ(empty->body, "");
  const auto error = http.Get(server.Url("/b"));
  ASSERT_TRUE(error.has_value());
  EXPECT_TRUE(error->bodyRead);
  EXPECT_EQ(error->body, "<html>");
  // A body that runs to the end of the connection.
  const auto notFound = http.Get(server.Url("/c"));
  ASSERT_TRUE(notFound.has_value());
  EXPECT_EQ(notFound->body, "not here");
}

TEST_F(CurlHttpTest, ABodyThatBreaksOffIsAnAnswerThatCouldNotBeRead) {
  TestServer server({{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n1"}});
  ASSERT_TRUE(server.Ready());
  CurlHttp http(kShort);
  const auto reply = http.Get(server.Url("/a"));
  ASSERT_TRUE(reply.has_value());
  EXPECT_FALSE(reply->bodyRead);
}

TEST_F(CurlHttpTest, OnlyTheFirst100000BytesOfABodyAreKept) {
  const std::string body = std::string(100'000, '2') + std::string(50'000, 'x');
  TestServer server({{Response("200 OK", body)}});
  ASSERT_TRUE(server.Ready());
  CurlHttp http(kShort);
  const auto reply = http.Get(server.Url("/a"));
  ASSERT_TRUE(reply.has_value());
  EXPECT_TRUE(reply->bodyRead);
  EXPECT_EQ(reply->body, std::string(100'000, '2'));
}

TEST_F(CurlHttpTest, ARedirectIsFollowed) {
  TestServer server(
      {{"HTTP/1.1 302 Found\r\nLocation: /moved?score=5\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"},
       {Response("200 OK", "3")}});
  ASSERT_TRUE(server.Ready());
  CurlHttp http(kShort);
  const auto reply = http.Get(server.Url("/vesquin/top2.php?score=5"));
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->body, "3");
  ASSERT_EQ(server.Requests().size(), 2u);
  EXPECT_EQ(server.Requests()[1], "GET /moved?score=5 HTTP/1.1");
}

TEST_F(CurlHttpTest, ARefusedConnectionIsNoAnswer) {
  // A port held by a socket that does not listen: the connection is refused.
  std::uint16_t port = 0;
  const Socket bound = Listen(port, false);
  ASSERT_GE(bound.get(), 0);
  CurlHttp http(kShort);
  EXPECT_FALSE(
      http.Get("http://127.0.0.1:" + std::to_string(port) + "/vesquin/top1.php?score=1").has_value());
}

TEST_F(CurlHttpTest, AnUnusableUrlIsNoAnswer) {
  CurlHttp http(kShort);
  EXPECT_FALSE(http.Get("").has_value());
  EXPECT_FALSE(http.Get("ftp://127.0.0.1/file").has_value());
}

TEST_F(CurlHttpTest, AServerThatNeverAnswersEndsAtTheTimeOut) {
  // Silent after the request, and silent after the status line: both are no answer.
  for (const std::string& bytes :
       {std::string(), std::string("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n1")}) {
    TestServer server({{bytes, true}});
    ASSERT_TRUE(server.Ready());
    CurlHttp http(kShort);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(http.Get(server.Url("/vesquin/top1.php?score=1")).has_value());
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 5s);  // far below what a hung request would take
  }
}

}  // namespace
}  // namespace vesquin
