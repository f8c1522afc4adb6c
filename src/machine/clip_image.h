#pragma once
// A clip as the sound device receives it: a canonical PCM WAVE image, checked, with its
// format and its sample bytes.

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace vesquin {

inline constexpr std::size_t kClipHeaderSize = 44;

// The PCM format block found at offset 20 of the image.
struct ClipFormat {
  std::uint16_t formatTag = 0;
  std::uint16_t channels = 0;
  std::uint32_t samplesPerSec = 0;
  std::uint32_t avgBytesPerSec = 0;
  std::uint16_t blockAlign = 0;
  std::uint16_t bitsPerSample = 0;
};

// A validated clip: its format and its sample bytes. Move-only, because `data` points into
// the image it owns.
class ClipImage {
 public:
  ClipImage(ClipFormat format, std::vector<std::uint8_t> image, std::uint32_t dataLength)
      : format(format), image_(std::move(image)) {
    data = std::span<const std::uint8_t>(image_.data() + kClipHeaderSize, dataLength);
  }
  ClipImage(ClipImage&&) noexcept = default;
  ClipImage& operator=(ClipImage&&) noexcept = default;
  ClipImage(const ClipImage&) = delete;
  ClipImage& operator=(const ClipImage&) = delete;

  ClipFormat format;
  std::span<const std::uint8_t> data;  // the sample bytes, image offset 44 onwards

 private:
  std::vector<std::uint8_t> image_;
};

}  // namespace vesquin
