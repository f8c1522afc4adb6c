#include "sim/transcript.h"

#include <cstdio>

namespace vesquin {
namespace {

std::string Levels(std::int32_t pan, std::int32_t volume) {
  return " pan=" + std::to_string(pan) + " vol=" + std::to_string(volume);
}

}  // namespace

std::string FormatCoordinate(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(value));
  std::string s = text;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s;
}

void Transcript::Line(std::string_view event) {
  std::string line = std::to_string(now_());
  line += ' ';
  line += event;
  write_(line);
}

void Transcript::Closing() { Line("close"); }
void Transcript::MessageShown(const std::string& text) { Line("message " + text); }
void Transcript::RequestMade(const std::string& url) { Line("get " + url); }
void Transcript::StateChanged(int gameState) { Line("state " + std::to_string(gameState)); }

void Transcript::ClipPlayed(const std::string& name, std::int32_t pan, std::int32_t volume) {
  Line("play " + name + Levels(pan, volume));
}

void Transcript::ClipLooped(const std::string& name, std::int32_t pan, std::int32_t volume) {
  Line("loop " + name + Levels(pan, volume));
}

void Transcript::ClipResumed(const std::string& name, std::int32_t pan, std::int32_t volume) {
  Line("resume " + name + Levels(pan, volume));
}

void Transcript::ClipStopped(const std::string& name) { Line("stop " + name); }

void Transcript::ClipPlaced(const std::string& name, float x, float y, float z, float minDistance) {
  Line("place " + name + " x=" + FormatCoordinate(x) + " y=" + FormatCoordinate(y) +
       " z=" + FormatCoordinate(z) + " min=" + FormatCoordinate(minDistance));
}

}  // namespace vesquin
