#include "screens/speaker_test.h"

#include "shell/game.h"

namespace vesquin {
namespace {

struct SpeakerPlace {
  const char* name;
  float x, y, z;
};

// Front left, front right, rear left, rear right: all nearer than the minimum distance, so
// only the direction differs.
constexpr SpeakerPlace kSpeakerPlaces[4] = {
    {"TestSpk\\f_left.vgz", -1.0f, 0.0f, 5.0f},
    {"TestSpk\\f_right.vgz", 1.0f, 0.0f, 5.0f},
    {"TestSpk\\f_left1.vgz", -8.0f, 0.0f, -5.0f},
    {"TestSpk\\f_right1.vgz", 8.0f, 0.0f, -5.0f},
};
constexpr float kSpeakerMinDistance = 10.0f;
constexpr std::uint32_t kSilenceAfterEachMs = 1'000;

void ReleaseSpeakerTestClips(Game& game) {
  for (SoundClip& clip : game.speakerTest.speakerTestClips) game.sound.ReleaseClip(clip);
}

}  // namespace

bool RunSpeakerTest(Game& game) {
  try {
    auto& clips = game.speakerTest.speakerTestClips;
    for (std::size_t i = 0; i < clips.size(); ++i) {
      clips[i] = game.sound.LoadClip3D(kSpeakerPlaces[i].name);
      if (!clips[i]) {
        ReleaseSpeakerTestClips(game);
        return false;
      }
    }
    for (std::size_t i = 0; i < clips.size(); ++i) {
      const SpeakerPlace& place = kSpeakerPlaces[i];
      game.sound.PlaceClip(clips[i], place.x, place.y, place.z, kSpeakerMinDistance);
      game.sound.PlayClipAndWait(clips[i], 0, 0);
      game.sys.clock.Sleep(kSilenceAfterEachMs);
    }
    // Loaded afresh on every run; released so that repeated tests hold nothing.
    ReleaseSpeakerTestClips(game);
    ReturnToMenu(game);
    return true;
  } catch (...) {
    ReleaseSpeakerTestClips(game);
    return false;
  }
}

}  // namespace vesquin
