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
  std::chrono::milliseconds line_interval{5000};
  std::chrono::milliseconds duration{40000};
  // The normal client: a fresh connection per request from 127.0.0.250, one after another.
  std::string normal_path = "/vesquin/top.json";
  std::chrono::milliseconds normal_pause{20};
  std::chrono::milliseconds normal_timeout{5000};
};

struct AttackReport {
  std::vector<double> latencies_ms;  // the normal client's answered requests
  int normal_failures = 0;           // no complete answer in time, or not 200
  int attack_connections = 0;        // connections the attack opened, first ones and reconnects
  int attack_open_at_end = 0;
  double Percentile(double p) const;
};

AttackReport RunSlowClientAttack(const AttackSettings& settings);

}  // namespace vesquin::scored::bench
