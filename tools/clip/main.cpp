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
#include <optional>
#include <string>
#include <vector>

#include "platform/posix_files.h"
#include "sound/clip_file.h"

namespace {

using vesquin::ClipImageProblem;
using vesquin::kClipFileLimit;
using vesquin::kClipHeaderSize;
using vesquin::kClipReversedBytes;
using vesquin::RegularFile;
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

// `count` bytes from `offset`, fewer at the file's end; nothing on a read error.
std::optional<Bytes> ReadAt(const RegularFile& file, std::uint64_t offset, std::size_t count) {
  Bytes bytes(count);
  const std::optional<std::size_t> got = file.ReadAt(offset, bytes);
  if (!got) return std::nullopt;
  bytes.resize(*got);
  return bytes;
}

// What the game reads of a clip file: never more than the format allows, and no more than
// its header asks for (the data length sits at file bytes 6 to 9, most significant first).
struct ClipBytes {
  Bytes bytes;
  bool cut = false;  // the file is longer than the game reads
};
std::optional<ClipBytes> ReadClip(const RegularFile& file) {
  std::optional<Bytes> head = ReadAt(file, 0, kClipReversedBytes);
  if (!head) return std::nullopt;
  ClipBytes clip;
  clip.cut = file.Size() > kClipFileLimit;
  if (head->size() < kClipReversedBytes) {
    clip.bytes = std::move(*head);
    return clip;
  }
  const std::uint64_t length =
      (static_cast<std::uint64_t>((*head)[6]) << 24) | ((*head)[7] << 16) | ((*head)[8] << 8) | (*head)[9];
  const std::size_t wanted = static_cast<std::size_t>(
      std::clamp<std::uint64_t>(kClipHeaderSize + length, kClipReversedBytes, kClipFileLimit));
  std::optional<Bytes> rest = ReadAt(file, kClipReversedBytes, wanted - kClipReversedBytes);
  if (!rest) return std::nullopt;
  clip.bytes = std::move(*head);
  clip.bytes.insert(clip.bytes.end(), rest->begin(), rest->end());
  return clip;
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

// The WAVE file in the canonical layout, or the reason it cannot be one. Chunks are walked
// in place, so that only the format block and the sample data are read.
std::optional<Bytes> Canonical(const RegularFile& wave, std::string& why, bool& readFailed) {
  const std::optional<Bytes> riff = ReadAt(wave, 0, 12);
  if (!riff) return readFailed = true, std::nullopt;
  if (riff->size() < 12 || !Tag(*riff, 0, "RIFF") || !Tag(*riff, 8, "WAVE")) {
    why = "not a RIFF WAVE file";
    return std::nullopt;
  }
  std::optional<Bytes> format;
  std::optional<std::pair<std::uint64_t, std::uint64_t>> data;  // where it starts, how long
  for (std::uint64_t at = 12; at + 8 <= wave.Size() && !(format && data);) {
    const std::optional<Bytes> header = ReadAt(wave, at, 8);
    if (!header || header->size() < 8) return readFailed = true, std::nullopt;
    const std::uint64_t size = Read32(*header, 4);
    const std::uint64_t body = at + 8;
    const std::uint64_t present = std::min(size, wave.Size() - body);
    if (Tag(*header, 0, "fmt ") && !format) {
      // 40 bytes hold WAVE_FORMAT_EXTENSIBLE's sub-format too.
      format = ReadAt(wave, body, static_cast<std::size_t>(std::min<std::uint64_t>(present, 40)));
      if (!format) return readFailed = true, std::nullopt;
    } else if (Tag(*header, 0, "data") && !data) {
      data = {body, present};  // a data chunk cut short keeps what is there
    }
    at = body + size + (size & 1);
  }
  if (!format || format->size() < 16) {
    why = "no complete format chunk";
    return std::nullopt;
  }
  if (!data) {
    why = "no data chunk";
    return std::nullopt;
  }
  if (kClipHeaderSize + data->second > kClipFileLimit) {
    why = "longer than the 10,000,000 bytes a clip file may hold";
    return std::nullopt;
  }
  const std::optional<Bytes> samples = ReadAt(wave, data->first, static_cast<std::size_t>(data->second));
  if (!samples || samples->size() < data->second) return readFailed = true, std::nullopt;
  Bytes image(kClipHeaderSize);
  std::copy_n(format->begin(), 16, image.begin() + 20);
  // WAVE_FORMAT_EXTENSIBLE whose sub-format is PCM is plain PCM to the game.
  if (Read16(image, 20) == 0xFFFE && format->size() >= 40 && Read16(*format, 24) == 1) {
    image[20] = 1;
    image[21] = 0;
  }
  image.insert(image.end(), samples->begin(), samples->end());
  CanonicalTags(image, static_cast<std::uint32_t>(samples->size()));
  return image;
}

const char* ChannelName(std::uint32_t channels) { return channels == 1 ? "mono" : "stereo"; }

int Refuse(const char* path, const std::string& why) {
  std::fprintf(stderr, "%s: %s\n", path, why.c_str());
  return 1;
}

int Unreadable(const char* path) {
  std::fprintf(stderr, "%s: cannot be read (missing, unreadable, or not a regular file)\n", path);
  return 2;
}

int ToClip(const char* in, const char* out) {
  const std::optional<RegularFile> wave = RegularFile::Open(in);
  if (!wave) return Unreadable(in);
  std::string why;
  bool readFailed = false;
  std::optional<Bytes> clip = Canonical(*wave, why, readFailed);
  if (readFailed) return Unreadable(in);
  if (!clip) return Refuse(in, why);
  // The game restores a full 50-byte stretch: a clip of under six data bytes is padded.
  if (clip->size() < kClipReversedBytes) clip->resize(kClipReversedBytes);
  ReverseClipHeader(*clip);
  const std::string problem = ClipImageProblem(*clip);
  if (!problem.empty()) return Refuse(in, problem);
  if (!WriteFile(out, *clip)) {
    std::fprintf(stderr, "%s: cannot be written\n", out);
    return 2;
  }
  return 0;
}

int ToWav(const char* in, const char* out) {
  const std::optional<RegularFile> file = RegularFile::Open(in);
  if (!file) return Unreadable(in);
  std::optional<ClipBytes> clip = ReadClip(*file);
  if (!clip) return Unreadable(in);
  Bytes& bytes = clip->bytes;
  const std::string problem = ClipImageProblem(bytes);
  if (!problem.empty()) return Refuse(in, problem);
  ReverseClipHeader(bytes);
  const std::uint32_t length = Read32(bytes, 40);
  bytes.resize(kClipHeaderSize + length);
  CanonicalTags(bytes, length);
  if (!WriteFile(out, bytes)) {
    std::fprintf(stderr, "%s: cannot be written\n", out);
    return 2;
  }
  return 0;
}

int Info(const char* path) {
  const std::optional<RegularFile> file = RegularFile::Open(path);
  if (!file) return Unreadable(path);
  const std::optional<ClipBytes> clip = ReadClip(*file);
  if (!clip) return Unreadable(path);
  const std::string problem = ClipImageProblem(clip->bytes);
  if (!problem.empty()) {
    std::printf("%s: invalid: %s\n", path, problem.c_str());
    return 1;
  }
  Bytes image = clip->bytes;
  ReverseClipHeader(image);
  const std::uint32_t channels = Read16(image, 22);
  const std::uint32_t rate = Read32(image, 24);
  const std::uint32_t byteRate = Read32(image, 28);
  const std::uint32_t bits = Read16(image, 34);
  const std::uint32_t length = Read32(image, 40);
  const auto ms = (static_cast<std::uint64_t>(length) * 1000 + byteRate - 1) / byteRate;
  std::printf("%s: PCM %s %u Hz %u bits, %u data bytes, %llu ms, valid%s\n", path, ChannelName(channels),
              rate, bits, length, static_cast<unsigned long long>(ms),
              clip->cut ? " (cut at 10,000,000 bytes)" : "");
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
