#pragma once
// How transcript lines are written: shared by every driver that prints them, so that the
// simulator's, the page's and the Windows test mode's transcripts compare line for line.

#include <cstdint>
#include <cstdio>
#include <string>

#include "shell/services.h"

namespace vesquin {

// At most three decimals, no trailing zeros: -1, 0.5, 10.
inline std::string FormatCoordinate(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(value));
  std::string s = text;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s;
}

}  // namespace vesquin

namespace vesquin {

// The transcript's lines of the game's events, for a driver that writes them as they happen
// (a test mode of the real program); it gives each line its time.
class TranscriptObserver : public GameObserver {
 public:
  void StateChanged(int value) override { Line("state " + std::to_string(value)); }
  void ClipPlayed(const std::string& name, std::int32_t pan, std::int32_t volume) override {
    Line("play " + name + Levels(pan, volume));
  }
  void ClipLooped(const std::string& name, std::int32_t pan, std::int32_t volume) override {
    Line("loop " + name + Levels(pan, volume));
  }
  void ClipResumed(const std::string& name, std::int32_t pan, std::int32_t volume) override {
    Line("resume " + name + Levels(pan, volume));
  }
  void ClipStopped(const std::string& name) override { Line("stop " + name); }
  void ClipPlaced(const std::string& name, float x, float y, float z, float minDistance) override {
    Line("place " + name + " x=" + FormatCoordinate(x) + " y=" + FormatCoordinate(y) +
         " z=" + FormatCoordinate(z) + " min=" + FormatCoordinate(minDistance));
  }
  // One line without its time: an event of the driver's own ("message TEXT", "close").
  virtual void Line(const std::string& event) = 0;

 private:
  static std::string Levels(std::int32_t pan, std::int32_t volume) {
    return " pan=" + std::to_string(pan) + " vol=" + std::to_string(volume);
  }
};

}  // namespace vesquin
