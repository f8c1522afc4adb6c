// Clip files: any bytes in place of a clip go through the loader (path look-up, read, header
// restore and checks) and, when they load, through the mixer's conversion, 2-D and 3-D, and
// are rendered to their end. A clip that loads sounds for exactly its length.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/mixer.h"
#include "support/fuzz_machine.h"

using namespace vesquin;
using vesquin::fuzzing::Require;

namespace {

constexpr const char* kClipName = "fuzz\\clip.vgz";
// Render blocks and gain ramps blur where a clip is heard to end by this many frames.
constexpr std::uint64_t kEndSlackFrames = 512;

Mixer& TheMixer() {
  static Mixer mixer(2);
  return mixer;
}

// Plays the clip once from its start and renders until it falls silent; the frames it took.
std::uint64_t FramesUntilSilent(Game& game, SoundClip& clip, std::uint64_t limit) {
  static std::vector<std::int16_t> block(256 * 2);
  game.sound.PlayClip(clip, 0, 0);
  std::uint64_t frames = 0;
  do {
    TheMixer().Render(block.data(), 256);
    frames += 256;
  } while (game.sound.IsClipPlaying(clip) && frames <= limit);
  return frames;
}

void CheckSoundingLength(Game& game, SoundClip& clip, const ClipImage& image) {
  const std::uint64_t expected =
      static_cast<std::uint64_t>(image.data.size()) * Mixer::kSampleRate / image.format.avgBytesPerSec;
  const std::uint64_t heard = FramesUntilSilent(game, clip, expected + kEndSlackFrames);
  Require(heard + kEndSlackFrames >= expected && heard <= expected + kEndSlackFrames);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::FuzzMachine& machine = fuzzing::FuzzMachine::Get();
  std::filesystem::create_directories(machine.Folder() + "fuzz");
  fuzzing::WriteBytes(machine.Folder() + "fuzz/clip.vgz", std::span(data, size));

  std::unique_ptr<Game> game = machine.NewGame();
  game->sound.SetDevice(&TheMixer());
  const std::span<const std::uint8_t> bytes(data, size);
  const std::string problem = ClipImageProblem(bytes);
  const std::optional<ClipImage> image = ParseClipImage(bytes);
  // The checker and the parser agree on what is a clip.
  Require(problem.empty() == image.has_value());

  SoundClip flat = game->sound.LoadClip(kClipName);
  SoundClip spatial = game->sound.LoadClip3D(kClipName);
  if (!image) {
    Require(!flat && !spatial);
    return 0;
  }
  // Every clip of at least 4 data bytes loads; the sound output refuses shorter buffers.
  Require(static_cast<bool>(flat) == (image->data.size() >= 4));
  Require(!spatial || image->format.channels == 1);
  if (flat) CheckSoundingLength(*game, flat, *image);
  if (spatial) {
    game->sound.PlaceClip(spatial, -5.0F, 0.0F, 5.0F, 1.0F);
    CheckSoundingLength(*game, spatial, *image);
  }
  game->sound.ReleaseClip(flat);
  game->sound.ReleaseClip(spatial);
  machine.TakeTranscript();
  return 0;
}
