#pragma once
// How much the sound server is asked to keep queued for the game's stream. It starts short,
// grows by half after the server ran dry or was about to, and after a long run without either
// goes back down a step at a time: a stall of the machine costs latency for a while, not for
// the rest of the session. A step down that trouble follows within one stretch was one too
// many for this machine as it is now: the stretch before the next step doubles (up to eight
// times), so a lasting load costs one dropout rather than one every few seconds; a whole
// stretch without trouble at the shortest target forgets it. Pure arithmetic on frames, driven
// by the stream's callbacks.

#include <algorithm>
#include <cstdint>

namespace vesquin {

class LatencyTarget {
 public:
  // `shortest` and `longest` bound the target; `quietFrames` of play without trouble shrink it
  // one step.
  constexpr LatencyTarget(std::uint32_t shortest, std::uint32_t longest, std::uint64_t quietFrames)
      : shortest_(shortest),
        longest_(std::max(shortest, longest)),
        quietFrames_(quietFrames),
        stretch_(quietFrames),
        frames_(shortest) {}

  std::uint32_t Frames() const { return frames_; }

  // The server ran dry, or a request found it nearly so. True when the target changed.
  bool Grow() {
    if (shrankRecently_) stretch_ = std::min(stretch_ * 2, quietFrames_ * kLongestStretchFactor);
    shrankRecently_ = false;
    quietSoFar_ = 0;
    const std::uint32_t grown =
        std::min<std::uint64_t>(longest_, static_cast<std::uint64_t>(frames_) * 3 / 2);
    if (grown == frames_) return false;
    frames_ = grown;
    return true;
  }

  // `frames` more were played without trouble. True when the target shrank.
  bool Played(std::uint64_t frames) {
    quietSoFar_ += frames;
    if (shrankRecently_ && quietSoFar_ >= quietFrames_) shrankRecently_ = false;
    if (frames_ == shortest_) {
      if (quietSoFar_ >= quietFrames_) stretch_ = quietFrames_;
      return false;
    }
    if (quietSoFar_ < stretch_) return false;
    quietSoFar_ = 0;
    shrankRecently_ = true;
    frames_ = std::max<std::uint32_t>(
        shortest_, static_cast<std::uint32_t>(static_cast<std::uint64_t>(frames_) * 2 / 3));
    return true;
  }

 private:
  static constexpr std::uint64_t kLongestStretchFactor = 8;

  std::uint32_t shortest_;
  std::uint32_t longest_;
  std::uint64_t quietFrames_;
  std::uint64_t stretch_;  // quiet play needed for the next step down
  std::uint32_t frames_;
  std::uint64_t quietSoFar_ = 0;
  bool shrankRecently_ = false;  // a step down less than one quietFrames_ ago
};

}  // namespace vesquin
