#pragma once
// A slow-client attack on a server on 127.0.0.1, with a normal client measured during it:
// `sockets` connections from `addresses` loopback addresses, each sending a request line and
// then one header line every `line_interval`, reconnecting whenever the server closes them.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vesquin::scored::bench {

struct AttackSettings {
  int port = 0;
  int sockets = 200;
  int addresses = 25;  // sources 127.0.0.10, 127.0.0.11, ...
  std::chrono::milliseconds lineInterval{5000};
  std::chrono::milliseconds duration{40000};
  // The normal client: a fresh connection per request from 127.0.0.250, one after another.
  std::string normalPath = "/vesquin/top.json";
  std::chrono::milliseconds normalPause{20};
  std::chrono::milliseconds normalTimeout{5000};
};

struct AttackReport {
  std::vector<double> latenciesMs;  // the normal client's answered requests
  int normalFailures = 0;           // no complete answer in time, or not 200
  int attackConnections = 0;        // connections the attack opened, first ones and reconnects
  int attackOpenAtEnd = 0;
  double Percentile(double p) const;
};

AttackReport RunSlowClientAttack(const AttackSettings& settings);

}  // namespace vesquin::scored::bench
