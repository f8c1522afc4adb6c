// Reading and writing the few WAVE layouts the asset tools exchange, and the
// game's clip files (a canonical 44-byte-header PCM WAVE file whose first 50
// bytes are stored in reverse order).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "sound/wave_header.h"

namespace vqa {

constexpr int kRate = 48000;
constexpr std::size_t kHeaderBytes = 44;
constexpr std::size_t kReversedBytes = 50;

// Interleaved samples in [-1, 1].
struct Audio {
  int rate = kRate;
  int channels = 1;
  std::vector<float> samples;

  std::size_t Frames() const { return channels ? samples.size() / channels : 0; }
  double Seconds() const { return double(Frames()) / rate; }
};

inline std::uint32_t ReadLe(const std::uint8_t* p, int n) {
  std::uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

inline std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!out) throw std::runtime_error("short write to " + path);
}

// Accepts any RIFF WAVE with 16-bit PCM or 32-bit float samples, walking the
// chunks, because Festival and sox write headers the game's loader would not take.
inline Audio ParseWave(const std::vector<std::uint8_t>& b, const std::string& what) {
  if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) || std::memcmp(b.data() + 8, "WAVE", 4))
    throw std::runtime_error(what + ": not a RIFF WAVE file");
  int format = 0, channels = 0, bits = 0;
  Audio a;
  const std::uint8_t* data = nullptr;
  std::size_t dataLen = 0;
  for (std::size_t pos = 12; pos + 8 <= b.size();) {
    std::uint32_t len = ReadLe(&b[pos + 4], 4);
    const std::uint8_t* body = &b[pos + 8];
    std::size_t avail = b.size() - pos - 8;
    if (!std::memcmp(&b[pos], "fmt ", 4) && len >= 16) {
      format = int(ReadLe(body, 2));
      channels = int(ReadLe(body + 2, 2));
      a.rate = int(ReadLe(body + 4, 4));
      bits = int(ReadLe(body + 14, 2));
      if (format == 0xFFFE && len >= 26) format = int(ReadLe(body + 24, 2));
    } else if (!std::memcmp(&b[pos], "data", 4)) {
      data = body;
      dataLen = std::min<std::size_t>(len, avail);
      break;
    }
    pos += 8 + len + (len & 1);
  }
  if (!data || channels < 1) throw std::runtime_error(what + ": no format or data chunk");
  a.channels = channels;
  if (format == 1 && bits == 16) {
    a.samples.resize(dataLen / 2);
    for (std::size_t i = 0; i < a.samples.size(); ++i)
      a.samples[i] = float(std::int16_t(ReadLe(data + 2 * i, 2))) / 32768.0f;
  } else if (format == 3 && bits == 32) {
    a.samples.resize(dataLen / 4);
    for (std::size_t i = 0; i < a.samples.size(); ++i) {
      std::uint32_t u = ReadLe(data + 4 * i, 4);
      float f;
      std::memcpy(&f, &u, 4);
      a.samples[i] = f;
    }
  } else {
    throw std::runtime_error(what + ": only 16-bit PCM or 32-bit float samples are read");
  }
  a.samples.resize(a.Frames() * channels);
  return a;
}

inline Audio ReadWave(const std::string& path) { return ParseWave(ReadFileBytes(path), path); }

// Restores the WAVE image of a clip file (the reversal is its own inverse).
inline std::vector<std::uint8_t> FlipClipHead(std::vector<std::uint8_t> bytes) {
  std::size_t n = std::min(bytes.size(), kReversedBytes);
  std::reverse(bytes.begin(), bytes.begin() + std::ptrdiff_t(n));
  return bytes;
}

inline Audio ReadClip(const std::string& path) { return ParseWave(FlipClipHead(ReadFileBytes(path)), path); }

inline std::int16_t ToPcm16(float v) {
  double s = std::nearbyint(double(v) * 32768.0);
  return std::int16_t(std::clamp(s, -32768.0, 32767.0));
}

// The canonical 44-byte header, so that the game's fixed-offset loader reads it.
inline std::vector<std::uint8_t> EncodePcm16(const Audio& a) {
  const std::uint32_t dataLen = std::uint32_t(a.samples.size() * 2);
  std::vector<std::uint8_t> out =
      vesquin::WaveHeader(vesquin::kWavePcm, std::uint16_t(a.channels), std::uint32_t(a.rate), 16, dataLen);
  out.reserve(kHeaderBytes + dataLen);
  for (float v : a.samples) vesquin::PutLittleEndian(out, std::uint16_t(ToPcm16(v)), 2);
  return out;
}

inline void WriteClip(const std::string& path, const Audio& a) {
  WriteFileBytes(path, FlipClipHead(EncodePcm16(a)));
}

// Float WAVE for handing unrounded sound from one tool to the next.
inline void WriteFloatWave(const std::string& path, const Audio& a) {
  const std::uint32_t dataLen = std::uint32_t(a.samples.size() * 4);
  std::vector<std::uint8_t> out =
      vesquin::WaveHeader(vesquin::kWaveFloat, std::uint16_t(a.channels), std::uint32_t(a.rate), 32, dataLen);
  for (float v : a.samples) {
    std::uint32_t u;
    std::memcpy(&u, &v, 4);
    vesquin::PutLittleEndian(out, u, 4);
  }
  WriteFileBytes(path, out);
}

}  // namespace vqa
