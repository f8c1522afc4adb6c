#pragma once
// Which step of a ladder of latencies the sound server is asked for: the stream starts on the
// lowest, climbs a step after the server ran dry or was about to, and after a long run without
// either goes back down a step at a time: a stall of the machine costs latency for a while, not
// for the rest of the session. A step down that trouble follows within one stretch was one too
// many for this machine as it is now: the stretch before the next step doubles (up to eight
// times), so a lasting load costs one dropout rather than one every few seconds; a whole
// stretch on the lowest step forgets it. Pure arithmetic, driven by the stream's callbacks;
// what each step asks of the server is the stream's business.

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace vesquin {

class LatencyTarget {
 public:
  // Steps 0 to `steps` - 1; `quietFrames` of play without trouble go down one.
  constexpr LatencyTarget(std::size_t steps, std::uint64_t quietFrames)
      : top_(std::max<std::size_t>(steps, 1) - 1), quietFrames_(quietFrames), stretch_(quietFrames) {}

  std::size_t Step() const { return step_; }

  // The server ran dry, or a request found it nearly so. True when the step changed.
  bool Grow() {
    if (shrankRecently_) stretch_ = std::min(stretch_ * 2, quietFrames_ * kLongestStretchFactor);
    shrankRecently_ = false;
    quietSoFar_ = 0;
    if (step_ == top_) return false;
    ++step_;
    return true;
  }

  // `frames` more were played without trouble. True when the step went down.
  bool Played(std::uint64_t frames) {
    quietSoFar_ += frames;
    if (shrankRecently_ && quietSoFar_ >= quietFrames_) shrankRecently_ = false;
    if (step_ == 0) {
      if (quietSoFar_ >= quietFrames_) stretch_ = quietFrames_;
      return false;
    }
    if (quietSoFar_ < stretch_) return false;
    quietSoFar_ = 0;
    shrankRecently_ = true;
    --step_;
    return true;
  }

 private:
  static constexpr std::uint64_t kLongestStretchFactor = 8;

  std::size_t top_;
  std::uint64_t quietFrames_;
  std::uint64_t stretch_;  // quiet play needed for the next step down
  std::size_t step_ = 0;
  std::uint64_t quietSoFar_ = 0;
  bool shrankRecently_ = false;  // a step down less than one quietFrames_ ago
};

}  // namespace vesquin
