// The slow-client attack against a running vesquin-scored on 127.0.0.1, as figures.
// Usage: scored-bench-attack PORT [SOCKETS ADDRESSES LINE_INTERVAL_S DURATION_S]

#include <cstdio>
#include <cstdlib>

#include "slow_attack.h"

using namespace vesquin::scored::bench;

int main(int argc, char** argv) {
  if (argc != 2 && argc != 6) {
    std::fprintf(stderr, "usage: scored-bench-attack PORT [SOCKETS ADDRESSES LINE_INTERVAL_S DURATION_S]\n");
    return 2;
  }
  AttackSettings s;
  s.port = std::atoi(argv[1]);
  if (argc == 6) {
    s.sockets = std::atoi(argv[2]);
    s.addresses = std::atoi(argv[3]);
    s.lineInterval = std::chrono::milliseconds(std::atoi(argv[4]) * 1000);
    s.duration = std::chrono::milliseconds(std::atoi(argv[5]) * 1000);
  }
  AttackReport r = RunSlowClientAttack(s);
  std::printf("slow_attack_normal_requests: %zu count\n", r.latenciesMs.size());
  std::printf("slow_attack_normal_failures: %d count\n", r.normalFailures);
  std::printf("slow_attack_normal_latency_p50: %.2f ms\n", r.Percentile(50));
  std::printf("slow_attack_normal_latency_p99: %.2f ms\n", r.Percentile(99));
  std::printf("slow_attack_normal_latency_max: %.2f ms\n", r.Percentile(100));
  std::printf("slow_attack_connections_opened: %d count\n", r.attackConnections);
  std::printf("slow_attack_connections_open_at_end: %d count\n", r.attackOpenAtEnd);
  return 0;
}
