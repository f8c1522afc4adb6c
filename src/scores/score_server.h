#pragma once
// The score server a build sends to, from its VESQUIN_SCORE_SERVER setting: "https://host[:port]",
// "http://host[:port]", or "host[:port]" as older builds wrote it, which means plain HTTP. Read at
// compile time, so that a bad setting stops the build; every HTTP driver is handed whole URLs
// that begin with Origin().

#include <optional>
#include <string_view>

namespace vesquin {

struct ScoreServer {
  std::string_view origin;  // "http://host[:port]" or "https://host[:port]"; empty for host[:port]
  std::string_view hostAndPort;
  bool tls = false;
};

namespace score_server_detail {

constexpr bool IsHostByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// "host", "host:port" or "[IPv6]:port"; the port 1..65535 in plain digits.
constexpr bool IsHostAndPort(std::string_view text) {
  std::string_view host = text, port;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos || close == 1) return false;
    for (char c : text.substr(1, close - 1))
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':'))
        return false;
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') return false;
    host = "ipv6";
    port = rest.empty() ? rest : rest.substr(1);
    if (!rest.empty() && port.empty()) return false;
  } else if (const std::size_t colon = text.find(':'); colon != std::string_view::npos) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (port.empty()) return false;
  }
  if (host.empty() || host.front() == '-' || host.front() == '.') return false;
  for (char c : host)
    if (!IsHostByte(c)) return false;
  if (port.size() > 5) return false;
  unsigned value = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return port.empty() || (port.front() != '0' && value >= 1 && value <= 65535);
}

}  // namespace score_server_detail

// The setting read, or nothing when it is none of the three forms.
constexpr std::optional<ScoreServer> ParseScoreServer(std::string_view setting) {
  ScoreServer server;
  std::string_view rest = setting;
  if (setting.substr(0, 8) == "https://") {
    server.tls = true;
    server.origin = setting;
    rest = setting.substr(8);
  } else if (setting.substr(0, 7) == "http://") {
    server.origin = setting;
    rest = setting.substr(7);
  }
  if (!score_server_detail::IsHostAndPort(rest)) return std::nullopt;
  server.hostAndPort = rest;
  return server;
}

}  // namespace vesquin
