#include "sound/clip_file.h"

#include <algorithm>
#include <utility>

namespace vesquin {
namespace {

std::uint16_t Read16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Read32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Checks a restored image; returns the reason it is no clip, or nullptr.
const char* ImageProblem(std::span<const std::uint8_t> image, ClipFormat& format, std::uint32_t& length) {
  if (image.size() < kClipHeaderSize) return "shorter than its 44-byte header";
  const std::uint8_t* p = image.data();
  format.formatTag = Read16(p + 20);
  format.channels = Read16(p + 22);
  format.samplesPerSec = Read32(p + 24);
  format.avgBytesPerSec = Read32(p + 28);
  format.blockAlign = Read16(p + 32);
  format.bitsPerSample = Read16(p + 34);
  length = Read32(p + 40);
  if (format.formatTag != 1) return "not PCM (format tag is not 1)";
  if (format.channels != 1 && format.channels != 2) return "neither mono nor stereo";
  if (format.bitsPerSample != 8 && format.bitsPerSample != 16) return "neither 8 nor 16 bits per sample";
  if (format.samplesPerSec < 4'000 || format.samplesPerSec > 192'000)
    return "sample rate outside 4,000..192,000";
  if (format.blockAlign != format.channels * format.bitsPerSample / 8)
    return "block alignment does not match the format";
  if (format.avgBytesPerSec != format.samplesPerSec * format.blockAlign)
    return "byte rate does not match the format";
  // The sound layer the game was made for creates no buffer of fewer than four bytes.
  if (length < kClipMinDataBytes) return "fewer than 4 data bytes";
  if (length > image.size() - kClipHeaderSize) return "data length runs past the end of the file";
  return nullptr;
}

}  // namespace

void ReverseClipHeader(std::span<std::uint8_t> bytes) {
  const std::size_t n = std::min(bytes.size(), kClipReversedBytes);
  if (n < kClipReversedBytes) return;  // a short file has no complete header to restore
  std::reverse(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

std::optional<ClipImage> RestoreClipImage(std::vector<std::uint8_t> fileBytes) {
  if (fileBytes.size() > kClipFileLimit) fileBytes.resize(kClipFileLimit);
  if (fileBytes.size() < kClipReversedBytes) return std::nullopt;
  ReverseClipHeader(fileBytes);
  ClipFormat format;
  std::uint32_t length = 0;
  if (ImageProblem(fileBytes, format, length) != nullptr) return std::nullopt;
  return ClipImage(format, std::move(fileBytes), length);
}

std::optional<ClipImage> ParseClipImage(std::span<const std::uint8_t> fileBytes) {
  return RestoreClipImage(std::vector<std::uint8_t>(fileBytes.begin(), fileBytes.end()));
}

const char* ClipImageProblem(std::span<const std::uint8_t> fileBytes) {
  if (fileBytes.empty()) return "empty file";
  std::vector<std::uint8_t> image(
      fileBytes.begin(),
      fileBytes.begin() + static_cast<std::ptrdiff_t>(std::min(fileBytes.size(), kClipFileLimit)));
  if (image.size() < kClipReversedBytes) return "shorter than the 50 reversed bytes";
  ReverseClipHeader(image);
  ClipFormat format;
  std::uint32_t length = 0;
  const char* problem = ImageProblem(image, format, length);
  return problem != nullptr ? problem : "";
}

}  // namespace vesquin
