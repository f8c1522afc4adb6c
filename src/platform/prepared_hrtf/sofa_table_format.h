#pragma once
// The prepared head-related filter table: "VQHRTF1" and a zero byte, then little-endian
// uint32 rate, uint32 taps, uint32 directions; per direction a unit vector x, y, z in SOFA
// axes (x ahead, y left, z up) as float32, then the left ear's taps and the right ear's as
// 16-bit samples scaled by the float32 that ends the header of each direction.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace vesquin {

inline constexpr char kHrtfTableMagic[8] = {'V', 'Q', 'H', 'R', 'T', 'F', '1', '\0'};

struct HrtfTable {
  float rate = 0.0F;
  std::uint32_t taps = 0;
  std::vector<float> directions;  // 3 per direction
  std::vector<float> filters;     // 2 * taps per direction: left, then right
};

namespace hrtf_table_detail {
inline std::uint32_t U32(const char* p) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}
inline float F32(const char* p) {
  const std::uint32_t bits = U32(p);
  float f = 0.0F;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}
inline void PutU32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
inline void PutF32(std::string& out, float f) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &f, sizeof f);
  PutU32(out, bits);
}
}  // namespace hrtf_table_detail

// False for anything but a whole table.
inline bool ParseHrtfTable(std::span<const char> bytes, HrtfTable& table) {
  using namespace hrtf_table_detail;
  if (bytes.size() < 20 || std::memcmp(bytes.data(), kHrtfTableMagic, 8) != 0) return false;
  const char* p = bytes.data();
  table.rate = static_cast<float>(U32(p + 8));
  table.taps = U32(p + 12);
  const std::uint32_t count = U32(p + 16);
  const std::size_t each = 16 + 4 * static_cast<std::size_t>(table.taps);
  if (table.taps == 0 || table.taps > 4096 || count == 0 || count > 100'000 ||
      bytes.size() != 20 + each * count) {
    return false;
  }
  table.directions.resize(3 * static_cast<std::size_t>(count));
  table.filters.resize(2 * static_cast<std::size_t>(table.taps) * count);
  for (std::size_t d = 0; d < count; ++d) {
    const char* e = p + 20 + d * each;
    for (int k = 0; k < 3; ++k) table.directions[3 * d + k] = F32(e + 4 * k);
    const float scale = F32(e + 12);
    for (std::size_t i = 0; i < 2 * table.taps; ++i) {
      const auto sample = static_cast<std::int16_t>(static_cast<std::uint16_t>(
          static_cast<unsigned char>(e[16 + 2 * i]) | (static_cast<unsigned char>(e[17 + 2 * i]) << 8)));
      table.filters[2 * table.taps * d + i] = static_cast<float>(sample) * scale;
    }
  }
  return true;
}

// One direction's entry: its unit vector and its two filters of `taps` taps each.
inline void AppendHrtfDirection(std::string& out, const float xyz[3], std::span<const float> left,
                                std::span<const float> right) {
  using namespace hrtf_table_detail;
  float peak = 0.0F;
  for (float v : left) peak = std::max(peak, v < 0 ? -v : v);
  for (float v : right) peak = std::max(peak, v < 0 ? -v : v);
  const float scale = peak > 0.0F ? peak / 32767.0F : 1.0F;
  for (int k = 0; k < 3; ++k) PutF32(out, xyz[k]);
  PutF32(out, scale);
  for (std::span<const float> ear : {left, right}) {
    for (float v : ear) {
      const long q = std::lround(v / scale);
      const auto s = static_cast<std::int16_t>(q > 32767 ? 32767 : (q < -32767 ? -32767 : q));
      out.push_back(static_cast<char>(static_cast<std::uint16_t>(s) & 0xFF));
      out.push_back(static_cast<char>(static_cast<std::uint16_t>(s) >> 8));
    }
  }
}

inline std::string HrtfTableHeader(std::uint32_t rate, std::uint32_t taps, std::uint32_t count) {
  using namespace hrtf_table_detail;
  std::string out(kHrtfTableMagic, 8);
  PutU32(out, rate);
  PutU32(out, taps);
  PutU32(out, count);
  return out;
}

}  // namespace vesquin
