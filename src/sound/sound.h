#pragma once
// Clip loading and the eight playback operations that every screen uses. All of them accept
// an empty clip and then do nothing; none of them throws.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "machine/services.h"
#include "machine/sound_device.h"
#include "sound/clip_file.h"

namespace vesquin {

// A loaded clip, or no clip. Owned by the screen that loaded it.
class SoundClip {
 public:
  SoundClip() = default;
  SoundClip(std::string name, std::unique_ptr<SoundVoice> voice)
      : name_(std::move(name)), voice_(std::move(voice)) {}
  explicit operator bool() const { return voice_ != nullptr; }
  const std::string& Name() const { return name_; }
  SoundVoice* Voice() const { return voice_.get(); }
  void Reset() {
    voice_.reset();
    name_.clear();
  }

 private:
  std::string name_;  // as the game wrote it, for the transcript
  std::unique_ptr<SoundVoice> voice_;
};

// The path of a clip name below the data folder: backslashes become separators, letter case
// is matched against the folder's real entries. Nothing for a name that would leave the data
// folder (absolute, or with a ".." component) or that names no entry.
std::optional<std::string> ResolveDataPath(FileSystem& files, const std::string& dataFolder,
                                           std::string_view name);

class Sound {
 public:
  Sound(Services& services, const std::string& dataFolder) : sys_(services), dataFolder_(dataFolder) {}

  // The device every clip is created on; null while there is none (then every load fails).
  void SetDevice(SoundDevice* device) { device_ = device; }
  SoundDevice* Device() const { return device_; }

  // The restored, checked image of a clip file; nothing for a missing file or no clip.
  std::optional<ClipImage> ReadClipFile(std::string_view name);
  SoundClip LoadClip(std::string_view name);
  // Mono clips only: a 3-D clip heard from a position.
  SoundClip LoadClip3D(std::string_view name);
  std::unique_ptr<SoundListener> CreateListener();

  void PlayClip(SoundClip& clip, std::int32_t pan, std::int32_t volume);
  void LoopClip(SoundClip& clip, std::int32_t pan, std::int32_t volume);
  // Plays the clip and holds the game's thread until it has ended.
  void PlayClipAndWait(SoundClip& clip, std::int32_t pan, std::int32_t volume);
  // Sets pan and volume and plays on from where the clip stands, without rewinding.
  void ResumeClip(SoundClip& clip, std::int32_t pan, std::int32_t volume);
  bool IsClipPlaying(SoundClip& clip);
  bool IsClipLooping(SoundClip& clip);
  void StopClip(SoundClip& clip);
  void ReleaseClip(SoundClip& clip);

  // Rewinds without playing.
  void RewindClip(SoundClip& clip);
  // Minimum distance, then position, of a 3-D clip, both applied at once.
  void PlaceClip(SoundClip& clip, float x, float y, float z, float minDistance);

 private:
  SoundClip Load(std::string_view name, bool threeD);
  bool IsSounding(SoundClip& clip);

  Services& sys_;
  const std::string& dataFolder_;
  SoundDevice* device_ = nullptr;
};

}  // namespace vesquin
