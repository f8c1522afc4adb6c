#pragma once
// How much the sound server is asked to keep queued for the game's stream. It starts short,
// grows by half after the server ran dry or was about to, and after a long run without either
// goes back down a step at a time: a stall of the machine costs latency for a while, not for
// the rest of the session. Pure arithmetic on frames, driven by the stream's callbacks.

#include <algorithm>
#include <cstdint>

namespace vesquin {

class LatencyTarget {
 public:
  // `shortest` and `longest` bound the target; `quietFrames` of play without trouble shrink it
  // one step.
  constexpr LatencyTarget(std::uint32_t shortest, std::uint32_t longest, std::uint64_t quietFrames)
      : shortest_(shortest), longest_(std::max(shortest, longest)), quietFrames_(quietFrames), frames_(shortest) {}

  std::uint32_t Frames() const { return frames_; }

  // The server ran dry, or a request found it nearly so. True when the target changed.
  bool Grow() {
    quietSoFar_ = 0;
    const std::uint32_t grown = std::min<std::uint64_t>(longest_, static_cast<std::uint64_t>(frames_) * 3 / 2);
    if (grown == frames_) return false;
    frames_ = grown;
    return true;
  }

  // `frames` more were played without trouble. True when the target shrank.
  bool Played(std::uint64_t frames) {
    if (frames_ == shortest_) return false;
    quietSoFar_ += frames;
    if (quietSoFar_ < quietFrames_) return false;
    quietSoFar_ = 0;
    frames_ = std::max<std::uint32_t>(shortest_, static_cast<std::uint32_t>(static_cast<std::uint64_t>(frames_) * 2 / 3));
    return true;
  }

 private:
  std::uint32_t shortest_;
  std::uint32_t longest_;
  std::uint64_t quietFrames_;
  std::uint32_t frames_;
  std::uint64_t quietSoFar_ = 0;
};

}  // namespace vesquin
