#pragma once
// The pseudo-random generators of the machine.

#include <cstdint>
#include <deque>
#include <vector>

#include "machine/services.h"

namespace vesquin {

// The generator of the C standard's reference rand(), kept here so that a seed always gives
// the same game on every machine.
class StandardRandom final : public Random {
 public:
  void Seed(std::uint32_t seed) override { state_ = seed; }
  int Next() override {
    state_ = state_ * 1103515245u + 12345u;
    return static_cast<int>((state_ / 65536u) % 32768u);
  }

 private:
  std::uint32_t state_ = 1;
};

// The standard generator, whose next draws a test can force: forced values come first, in
// order, then the seeded sequence goes on.
class ForcedRandom final : public Random {
 public:
  void Seed(std::uint32_t seed) override { seeded_.Seed(seed); }
  int Next() override {
    if (forced_.empty()) return seeded_.Next();
    const int value = forced_.front();
    forced_.pop_front();
    return value;
  }
  void Force(const std::vector<int>& values) { forced_.insert(forced_.end(), values.begin(), values.end()); }

 private:
  StandardRandom seeded_;
  std::deque<int> forced_;
};

}  // namespace vesquin
