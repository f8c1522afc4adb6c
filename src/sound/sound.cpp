#include "sound/sound.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace vesquin {
namespace {

// Slack on top of a clip's own length before a wait gives up on an output that has stalled.
constexpr std::uint32_t kStalledOutputSlackMs = 250;
constexpr std::size_t kMaxPathBytes = 1023;  // a composed path fits 1,024 bytes with its zero

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::vector<std::string> SplitComponents(std::string_view name) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : name) {
    if (c == '\\' || c == '/') {
      parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  parts.push_back(current);
  return parts;
}

}  // namespace

std::optional<std::string> ResolveDataPath(FileSystem& files, const std::string& dataFolder,
                                           std::string_view name) {
  if (name.empty() || name.front() == '\\' || name.front() == '/' ||
      name.find(':') != std::string_view::npos) {
    return std::nullopt;
  }
  const std::vector<std::string> parts = SplitComponents(name);
  for (const std::string& part : parts) {
    if (part.empty() || part == "." || part == "..") return std::nullopt;
  }
  std::string path = dataFolder;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::vector<std::string> entries = files.ListFolder(path.empty() ? std::string(".") : path);
    const std::string* found = nullptr;
    for (const std::string& entry : entries) {
      if (entry == parts[i]) {
        found = &entry;
        break;
      }
    }
    if (found == nullptr) {
      // The folder's own order is arbitrary: take the smallest matching name, so the same
      // file is chosen on every machine.
      for (const std::string& entry : entries) {
        if (SameIgnoringCase(entry, parts[i]) && (found == nullptr || entry < *found)) found = &entry;
      }
    }
    if (found == nullptr) return std::nullopt;
    path += *found;
    if (i + 1 < parts.size()) path += '/';
  }
  if (path.size() > kMaxPathBytes) return std::nullopt;
  return path;
}

std::optional<ClipImage> Sound::ReadClipFile(std::string_view name) {
  try {
    const std::optional<std::string> path = ResolveDataPath(sys_.files, dataFolder_, name);
    if (!path) return std::nullopt;
    std::optional<std::vector<std::uint8_t>> bytes = sys_.files.ReadExisting(*path, kClipFileLimit);
    if (!bytes || bytes->empty()) return std::nullopt;
    return RestoreClipImage(std::move(*bytes));
  } catch (...) {
    return std::nullopt;
  }
}

SoundClip Sound::Load(std::string_view name, bool threeD) {
  try {
    if (device_ == nullptr) return {};
    std::optional<ClipImage> image = ReadClipFile(name);
    if (!image) return {};
    std::unique_ptr<SoundVoice> voice = device_->CreateVoice(*image, threeD);
    if (!voice) return {};
    return SoundClip(std::string(name), std::move(voice));
  } catch (...) {
    return {};
  }
}

SoundClip Sound::LoadClip(std::string_view name) { return Load(name, false); }
SoundClip Sound::LoadClip3D(std::string_view name) { return Load(name, true); }

std::unique_ptr<SoundListener> Sound::CreateListener() {
  try {
    return device_ != nullptr ? device_->CreateListener() : nullptr;
  } catch (...) {
    return nullptr;
  }
}

void Sound::PlayClip(SoundClip& clip, std::int32_t pan, std::int32_t volume) {
  SoundVoice* voice = clip.Voice();
  if (voice == nullptr) return;
  sys_.observer.ClipPlayed(clip.Name(), pan, volume);
  voice->SetCurrentPosition(0);
  voice->SetPan(pan);
  voice->SetVolume(volume);
  voice->Play(false);
}

void Sound::LoopClip(SoundClip& clip, std::int32_t pan, std::int32_t volume) {
  SoundVoice* voice = clip.Voice();
  if (voice == nullptr) return;
  sys_.observer.ClipLooped(clip.Name(), pan, volume);
  voice->SetCurrentPosition(0);
  voice->SetPan(pan);
  voice->SetVolume(volume);
  voice->Play(true);
}

void Sound::PlayClipAndWait(SoundClip& clip, std::int32_t pan, std::int32_t volume) {
  SoundVoice* voice = clip.Voice();
  if (voice == nullptr) return;
  PlayClip(clip, pan, volume);
  // An output that stopped consuming (device gone, sound server restarted) would leave the
  // clip "playing" for ever: the wait ends at the latest when the clip could have played.
  sys_.clock.SleepWhilePlaying(*voice, voice->LengthMs() + kStalledOutputSlackMs);
}

void Sound::ResumeClip(SoundClip& clip, std::int32_t pan, std::int32_t volume) {
  SoundVoice* voice = clip.Voice();
  if (voice == nullptr) return;
  sys_.observer.ClipResumed(clip.Name(), pan, volume);
  voice->SetPan(pan);
  voice->SetVolume(volume);
  voice->Play(false);
}

bool Sound::IsClipPlaying(SoundClip& clip) { return clip && clip.Voice()->Status() == kStatusPlaying; }
bool Sound::IsClipLooping(SoundClip& clip) { return clip && clip.Voice()->Status() == kStatusLooping; }
bool Sound::IsSounding(SoundClip& clip) { return IsClipPlaying(clip) || IsClipLooping(clip); }

void Sound::StopClip(SoundClip& clip) {
  if (!clip) return;
  if (IsSounding(clip)) sys_.observer.ClipStopped(clip.Name());
  clip.Voice()->Stop();
}

void Sound::ReleaseClip(SoundClip& clip) {
  if (!clip) return;
  if (IsSounding(clip)) sys_.observer.ClipStopped(clip.Name());
  clip.Reset();
}

void Sound::RewindClip(SoundClip& clip) {
  if (clip) clip.Voice()->SetCurrentPosition(0);
}

void Sound::PlaceClip(SoundClip& clip, float x, float y, float z, float minDistance) {
  if (!clip) return;
  sys_.observer.ClipPlaced(clip.Name(), x, y, z, minDistance);
  clip.Voice()->SetMinDistance(minDistance);
  clip.Voice()->SetPosition(x, y, z);
}

}  // namespace vesquin
