#include "slow_attack.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <thread>

namespace vesquin::scored::bench {
namespace {

using Clock = std::chrono::steady_clock;

int ConnectFrom(const std::string& source, int port, bool nonblocking) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonblocking ? SOCK_NONBLOCK : 0), 0);
  if (fd < 0) return -1;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, source.c_str(), &local.sin_addr);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &peer.sin_addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      (::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0 && errno != EINPROGRESS)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

struct Attacker {
  std::string source;
  int fd = -1;
  Clock::time_point nextLine;
  bool sentRequestLine = false;
};

// One request on a fresh connection; the latency, or a negative value for a failure.
double NormalRequest(const AttackSettings& s) {
  auto start = Clock::now();
  int fd = ConnectFrom("127.0.0.250", s.port, false);
  if (fd < 0) return -1;
  std::string request = "GET " + s.normalPath + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
    ::close(fd);
    return -1;
  }
  std::string answer;
  auto deadline = start + s.normalTimeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) break;
    char buf[4096];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    answer.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (answer.rfind("HTTP/1.1 200", 0) != 0) return -1;
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

double AttackReport::Percentile(double p) const {
  if (latenciesMs.empty()) return 0;
  std::vector<double> sorted = latenciesMs;
  std::sort(sorted.begin(), sorted.end());
  auto index = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size()))) - 1;
  return sorted[std::min(index, sorted.size() - 1)];
}

AttackReport RunSlowClientAttack(const AttackSettings& s) {
  AttackReport report;
  std::vector<Attacker> attackers(static_cast<std::size_t>(s.sockets));
  for (int i = 0; i < s.sockets; ++i) attackers[i].source = "127.0.0." + std::to_string(10 + i % s.addresses);

  const auto start = Clock::now();
  const auto end = start + s.duration;
  std::atomic<bool> attackUp{false};
  std::thread attack([&] {
    char scratch[4096];
    // Connections are opened in waves as the real attack does, a few per millisecond.
    while (Clock::now() < end) {
      auto now = Clock::now();
      std::vector<pollfd> fds;
      for (auto& a : attackers) {
        if (a.fd < 0) {
          a.fd = ConnectFrom(a.source, s.port, true);
          a.sentRequestLine = false;
          a.nextLine = now;
          if (a.fd >= 0) ++report.attackConnections;
        }
        if (a.fd >= 0 && now >= a.nextLine) {
          std::string line =
              a.sentRequestLine ? "X-Slow: still here\r\n" : "GET /vesquin/ HTTP/1.1\r\nHost: x\r\n";
          // A socket still connecting refuses the write; it is tried again on the next round.
          if (::send(a.fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT) > 0) {
            a.sentRequestLine = true;
            a.nextLine = now + s.lineInterval;
          }
        }
        fds.push_back({a.fd, POLLIN, 0});
      }
      attackUp = true;
      ::poll(fds.data(), fds.size(), 50);
      for (std::size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        ssize_t n = ::recv(fds[i].fd, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN)) {
          ::close(attackers[i].fd);
          attackers[i].fd = -1;  // reconnects on the next round
        }
      }
    }
    for (auto& a : attackers) {
      if (a.fd >= 0) {
        ++report.attackOpenAtEnd;
        ::close(a.fd);
      }
    }
  });

  while (!attackUp) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // The attack holds its sockets before the measurement starts.
  std::this_thread::sleep_for(std::min(s.duration / 8, std::chrono::milliseconds(2000)));
  while (Clock::now() + s.normalTimeout / 5 < end) {
    double ms = NormalRequest(s);
    if (ms < 0)
      ++report.normalFailures;
    else
      report.latenciesMs.push_back(ms);
    std::this_thread::sleep_for(s.normalPause);
  }
  attack.join();
  return report;
}

}  // namespace vesquin::scored::bench
