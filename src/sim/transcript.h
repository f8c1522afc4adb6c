#pragma once
// What the player hears, one line per event, each starting with its time in whole
// milliseconds: the transcript of vesquin-sim and of the browser build, which compare line
// for line.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "machine/services.h"

namespace vesquin {

class Transcript final : public GameObserver {
 public:
  // `now` gives each line's time; `write` takes each line, without its line feed.
  Transcript(std::function<std::uint64_t()> now, std::function<void(std::string_view)> write)
      : now_(std::move(now)), write_(std::move(write)) {}

  // A line of the driver's own, at the current time.
  void Line(std::string_view event);
  // The machine's HTTP client was asked for `url`.
  void RequestMade(const std::string& url);

  void Closing() override;
  void MessageShown(const std::string& text) override;
  void StateChanged(int gameState) override;
  void ClipPlayed(const std::string& name, std::int32_t pan, std::int32_t volume) override;
  void ClipLooped(const std::string& name, std::int32_t pan, std::int32_t volume) override;
  void ClipResumed(const std::string& name, std::int32_t pan, std::int32_t volume) override;
  void ClipStopped(const std::string& name) override;
  void ClipPlaced(const std::string& name, float x, float y, float z, float minDistance) override;

 private:
  std::function<std::uint64_t()> now_;
  std::function<void(std::string_view)> write_;
};

// A coordinate with at most three decimals and no trailing zeros: -1, 0.5, 10.
std::string FormatCoordinate(float value);

}  // namespace vesquin
