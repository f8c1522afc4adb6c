#pragma once
// A periodic timer on deadlines start + k * period of a monotonic clock: a late tick never
// pushes the later ones back, and the ticks that fell due while the game was held are merged
// into one. Every driver's loop keeps the game's 50 ms timer with it.

#include <cstdint>

namespace vesquin {

class TickTimer {
 public:
  // False for a period of 0.
  bool Start(std::uint64_t nowMs, std::uint32_t periodMs);
  void Stop() { running_ = false; }
  bool Running() const { return running_; }
  bool Due(std::uint64_t nowMs) const { return running_ && nowMs >= next_; }
  // Takes the tick that is due at `nowMs`; the next deadline is the first one after it.
  void Take(std::uint64_t nowMs);
  // Milliseconds to wait for the next deadline, 0 when one is due, `idleMs` while stopped.
  int WaitMs(std::uint64_t nowMs, int idleMs) const;
  std::uint64_t NextDeadline() const { return next_; }

 private:
  bool running_ = false;
  std::uint64_t start_ = 0;
  std::uint64_t period_ = 0;
  std::uint64_t next_ = 0;
};

}  // namespace vesquin
