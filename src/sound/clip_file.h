#pragma once
// Clip files: a canonical 44-byte-header PCM WAVE image stored with its first 50 bytes reversed.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "machine/clip_image.h"

namespace vesquin {

inline constexpr std::size_t kClipFileLimit = 10'000'000;  // longer files are cut here
inline constexpr std::size_t kClipReversedBytes = 50;
inline constexpr std::uint32_t kClipMinDataBytes = 4;

// Swaps bytes i and 49 - i for i in 0..24. Its own inverse: turns a WAVE file into a clip
// file and back. Bytes past the end of a short buffer are left alone.
void ReverseClipHeader(std::span<std::uint8_t> bytes);

// Restores a clip file's image and checks it; nothing when the bytes are no clip.
// Accepts only what the mixer can play faithfully: PCM, 1 or 2 channels, 8 or 16 bits,
// 4,000..192,000 samples per second, a consistent block alignment and byte rate, and a data
// length of at least 4 bytes that the bytes actually read can hold.
std::optional<ClipImage> RestoreClipImage(std::vector<std::uint8_t> fileBytes);
std::optional<ClipImage> ParseClipImage(std::span<const std::uint8_t> fileBytes);

// Why the bytes are no clip, in one line; empty when they are a valid clip file.
const char* ClipImageProblem(std::span<const std::uint8_t> fileBytes);

}  // namespace vesquin
