#pragma once
// How a transcript line writes a 3-D position: shared by every driver that prints one, so
// that the simulator's and the page's transcripts compare line for line.

#include <cstdio>
#include <string>

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
