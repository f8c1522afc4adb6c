// vesquin-clip: WAVE files to clip files and back, and a check of clip files.
//
//   vesquin-clip to-clip IN.wav OUT.vgz   any PCM WAVE file the game can play; a file with
//                                         extra chunks, or a PCM WAVE_FORMAT_EXTENSIBLE one, is
//                                         rewritten in the canonical 44-byte-header layout
//   vesquin-clip to-wav IN.vgz OUT.wav    the WAVE file a clip file holds
//   vesquin-clip info FILE                format, length and validity of a clip file
//
// Exit status: 0 done (info: a valid clip), 1 the file is refused (one line says why),
// 2 a bad command line or a file that cannot be read or written.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "sound/clip_file.h"

namespace {

using vesquin::ClipImageProblem;
using vesquin::kClipFileLimit;
using vesquin::kClipHeaderSize;
using vesquin::ReverseClipHeader;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t Read16(const Bytes& b, std::size_t at) { return b[at] | (b[at + 1] << 8); }
std::uint32_t Read32(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}
bool Tag(const Bytes& b, std::size_t at, const char* tag) { return std::memcmp(b.data() + at, tag, 4) == 0; }

std::optional<Bytes> ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

bool WriteFile(const char* path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// The canonical header: RIFF, WAVE, a 16-byte format chunk, then the data chunk.
void CanonicalTags(Bytes& image, std::uint32_t dataLength) {
  std::memcpy(image.data(), "RIFF", 4);
  Put32(image, 4, 36 + dataLength);
  std::memcpy(image.data() + 8, "WAVEfmt ", 8);
  Put32(image, 16, 16);
  std::memcpy(image.data() + 36, "data", 4);
  Put32(image, 40, dataLength);
}

// The WAVE file in the canonical layout, or the reason it cannot be one.
std::optional<Bytes> Canonical(const Bytes& wave, std::string& why) {
  if (wave.size() < 12 || !Tag(wave, 0, "RIFF") || !Tag(wave, 8, "WAVE")) {
    why = "not a RIFF WAVE file";
    return std::nullopt;
  }
  std::optional<std::size_t> format;
  std::size_t formatSize = 0;
  std::optional<std::size_t> data;
  std::size_t dataSize = 0;
  for (std::size_t at = 12; at + 8 <= wave.size();) {
    const std::size_t size = Read32(wave, at + 4);
    const std::size_t body = at + 8;
    const std::size_t present = std::min(size, wave.size() - body);
    if (Tag(wave, at, "fmt ") && !format) {
      format = body;
      formatSize = present;
    } else if (Tag(wave, at, "data") && !data) {
      data = body;
      dataSize = present;  // a data chunk cut short keeps what is there
    }
    at = body + size + (size & 1);
  }
  if (!format || formatSize < 16) {
    why = "no complete format chunk";
    return std::nullopt;
  }
  if (!data) {
    why = "no data chunk";
    return std::nullopt;
  }
  Bytes image(kClipHeaderSize + dataSize);
  std::copy_n(wave.begin() + static_cast<std::ptrdiff_t>(*format), 16, image.begin() + 20);
  // WAVE_FORMAT_EXTENSIBLE whose sub-format is PCM is plain PCM to the game.
  if (Read16(image, 20) == 0xFFFE && formatSize >= 40 && Read16(wave, *format + 24) == 1) {
    image[20] = 1;
    image[21] = 0;
  }
  std::copy_n(wave.begin() + static_cast<std::ptrdiff_t>(*data), dataSize, image.begin() + kClipHeaderSize);
  CanonicalTags(image, static_cast<std::uint32_t>(dataSize));
  return image;
}

const char* ChannelName(std::uint32_t channels) { return channels == 1 ? "mono" : "stereo"; }

int Refuse(const char* path, const std::string& why) {
  std::fprintf(stderr, "%s: %s\n", path, why.c_str());
  return 1;
}

int ToClip(const char* in, const char* out) {
  const auto wave = ReadFile(in);
  if (!wave) {
    std::fprintf(stderr, "%s: cannot be read\n", in);
    return 2;
  }
  std::string why;
  auto image = Canonical(*wave, why);
  if (!image) return Refuse(in, why);
  if (image->size() > kClipFileLimit) return Refuse(in, "longer than the 10,000,000 bytes a clip file may hold");
  Bytes clip = *image;
  ReverseClipHeader(clip);
  const std::string problem = ClipImageProblem(clip);
  if (!problem.empty()) return Refuse(in, problem);
  if (!WriteFile(out, clip)) {
    std::fprintf(stderr, "%s: cannot be written\n", out);
    return 2;
  }
  return 0;
}

int ToWav(const char* in, const char* out) {
  auto clip = ReadFile(in);
  if (!clip) {
    std::fprintf(stderr, "%s: cannot be read\n", in);
    return 2;
  }
  if (clip->size() > kClipFileLimit) clip->resize(kClipFileLimit);  // as the game reads it
  const std::string problem = ClipImageProblem(*clip);
  if (!problem.empty()) return Refuse(in, problem);
  ReverseClipHeader(*clip);
  const std::uint32_t length = Read32(*clip, 40);
  clip->resize(kClipHeaderSize + length);
  CanonicalTags(*clip, length);
  if (!WriteFile(out, *clip)) {
    std::fprintf(stderr, "%s: cannot be written\n", out);
    return 2;
  }
  return 0;
}

int Info(const char* path) {
  auto clip = ReadFile(path);
  if (!clip) {
    std::fprintf(stderr, "%s: cannot be read\n", path);
    return 2;
  }
  const bool cut = clip->size() > kClipFileLimit;
  if (cut) clip->resize(kClipFileLimit);
  const std::string problem = ClipImageProblem(*clip);
  if (!problem.empty()) {
    std::printf("%s: invalid: %s\n", path, problem.c_str());
    return 1;
  }
  Bytes image = *clip;
  ReverseClipHeader(image);
  const std::uint32_t channels = Read16(image, 22);
  const std::uint32_t rate = Read32(image, 24);
  const std::uint32_t byteRate = Read32(image, 28);
  const std::uint32_t bits = Read16(image, 34);
  const std::uint32_t length = Read32(image, 40);
  const auto ms = (static_cast<std::uint64_t>(length) * 1000 + byteRate - 1) / byteRate;
  std::printf("%s: PCM %s %u Hz %u bits, %u data bytes, %llu ms, valid%s\n", path, ChannelName(channels), rate, bits,
              length, static_cast<unsigned long long>(ms), cut ? " (cut at 10,000,000 bytes)" : "");
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: vesquin-clip to-clip IN.wav OUT.vgz\n"
               "       vesquin-clip to-wav IN.vgz OUT.wav\n"
               "       vesquin-clip info FILE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string verb = argv[1];
  if (verb == "to-clip" && argc == 4) return ToClip(argv[2], argv[3]);
  if (verb == "to-wav" && argc == 4) return ToWav(argv[2], argv[3]);
  if (verb == "info" && argc == 3) return Info(argv[2]);
  return Usage();
}
