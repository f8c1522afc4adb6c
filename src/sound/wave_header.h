#pragma once
// The canonical 44-byte header of a WAVE file: RIFF, a 16-byte fmt chunk, then data, and
// nothing else, so that a loader reading at fixed offsets (the game's clip loader) takes it.
// Every WAVE file the project writes starts with it.

#include <cstdint>
#include <vector>

namespace vesquin {

inline constexpr std::uint16_t kWavePcm = 1;
inline constexpr std::uint16_t kWaveFloat = 3;

inline void PutLittleEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The header of `dataBytes` bytes of samples: kWavePcm or kWaveFloat, interleaved channels.
inline std::vector<std::uint8_t> WaveHeader(std::uint16_t formatTag, std::uint16_t channels,
                                            std::uint32_t rate, std::uint16_t bitsPerSample,
                                            std::uint32_t dataBytes) {
  const std::uint32_t blockAlign = channels * bitsPerSample / 8u;
  std::vector<std::uint8_t> header;
  header.reserve(44);
  header.insert(header.end(), {'R', 'I', 'F', 'F'});
  PutLittleEndian(header, 36 + dataBytes, 4);
  header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  PutLittleEndian(header, 16, 4);
  PutLittleEndian(header, formatTag, 2);
  PutLittleEndian(header, channels, 2);
  PutLittleEndian(header, rate, 4);
  PutLittleEndian(header, rate * blockAlign, 4);
  PutLittleEndian(header, blockAlign, 2);
  PutLittleEndian(header, bitsPerSample, 2);
  header.insert(header.end(), {'d', 'a', 't', 'a'});
  PutLittleEndian(header, dataBytes, 4);
  return header;
}

}  // namespace vesquin
