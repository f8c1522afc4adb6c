#include "sim/simulation.h"

#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "machine/random.h"
#include "platform/mixer.h"
#include "platform/native_files.h"
#include "sim/transcript.h"
#include "sound/wave_header.h"

namespace vesquin {
namespace {

constexpr std::uint32_t kMixRate = 48'000;
constexpr std::uint32_t kOutputChannels = 2;
constexpr std::uint64_t kUsPerMs = 1'000;
constexpr std::uint64_t kUsPerSecond = 1'000'000;
constexpr std::size_t kRenderBlockFrames = 480;  // 10 ms

std::vector<std::uint8_t> WavHeader(std::uint32_t dataBytes) {
  return WaveHeader(kWavePcm, kOutputChannels, kMixRate, 16, dataBytes);
}

// A voice of the mixer that tells the machine when the game lets it go, and that plays once
// for exactly its clip's length (data bytes / average bytes per second) on the virtual clock,
// where the mixer's voice, converted to whole frames at its own rate, may differ by a frame.
class TrackedVoice final : public SoundVoice {
 public:
  TrackedVoice(std::unique_ptr<SoundVoice> voice, std::uint64_t lengthUs, const std::uint64_t& nowUs,
               std::function<void(const SoundVoice*)> onGone)
      : voice_(std::move(voice)),
        lengthUs_(lengthUs),
        leftUs_(lengthUs),
        nowUs_(nowUs),
        onGone_(std::move(onGone)) {}
  ~TrackedVoice() override {
    voice_.reset();
    onGone_(this);
  }
  void SetCurrentPosition(std::uint32_t frame) override {
    voice_->SetCurrentPosition(frame);
    if (frame != 0) return;
    // Rewound while sounding once: it starts over.
    if (Status() == kStatusPlaying) endUs_ = nowUs_ + lengthUs_;
    leftUs_ = lengthUs_;
  }
  bool SetPan(std::int32_t pan) override { return voice_->SetPan(pan); }
  bool SetVolume(std::int32_t volume) override { return voice_->SetVolume(volume); }
  void Play(bool looping) override {
    // A play that is sounding goes on from where it is; one that has ended stands at its start.
    if (Status() == kStatusPlaying) leftUs_ = endUs_ - nowUs_;
    voice_->Play(looping);
    once_ = !looping;
    if (once_) endUs_ = nowUs_ + leftUs_;
  }
  void Stop() override {
    if (Status() == kStatusPlaying) leftUs_ = endUs_ - nowUs_;
    once_ = false;
    voice_->Stop();
  }
  std::uint32_t Status() override {
    if (!once_) return voice_->Status();
    if (nowUs_ < endUs_) return kStatusPlaying;
    once_ = false;
    leftUs_ = lengthUs_;
    voice_->Stop();
    voice_->SetCurrentPosition(0);
    return 0;
  }
  // When a play that is sounding once ends; nothing when it loops or is silent.
  std::optional<std::uint64_t> EndUs() {
    if (Status() != kStatusPlaying) return std::nullopt;
    return endUs_;
  }
  std::uint32_t LengthMs() const override { return voice_->LengthMs(); }
  bool SetPosition(float x, float y, float z) override { return voice_->SetPosition(x, y, z); }
  bool SetMinDistance(float distance) override { return voice_->SetMinDistance(distance); }

 private:
  std::unique_ptr<SoundVoice> voice_;
  std::uint64_t lengthUs_;
  std::uint64_t leftUs_;     // from the current position to the end
  std::uint64_t endUs_ = 0;  // while playing once
  bool once_ = false;
  const std::uint64_t& nowUs_;
  std::function<void(const SoundVoice*)> onGone_;
};

// The game's handle on the machine's mixer. The mixer itself lives as long as the machine,
// so clips that screens still hold after shutdown never outlive it.
class LentDevice final : public SoundDevice {
 public:
  LentDevice(Mixer& mixer, const std::uint64_t& nowUs, std::function<void(const SoundVoice*)> onVoiceGone,
             std::function<void()> onRelease)
      : mixer_(mixer),
        nowUs_(nowUs),
        onVoiceGone_(std::move(onVoiceGone)),
        onRelease_(std::move(onRelease)) {}
  ~LentDevice() override { onRelease_(); }
  std::unique_ptr<SoundVoice> CreateVoice(const ClipImage& clip, bool threeD) override {
    std::unique_ptr<SoundVoice> voice = mixer_.CreateVoice(clip, threeD);
    if (!voice) return nullptr;
    // Rounded up to a whole microsecond: the clip is still playing at every time before its end.
    const std::uint64_t bytes = clip.data.size();
    const std::uint64_t rate = clip.format.avgBytesPerSec;
    const std::uint64_t lengthUs = (bytes * kUsPerSecond + rate - 1) / rate;
    return std::make_unique<TrackedVoice>(std::move(voice), lengthUs, nowUs_, onVoiceGone_);
  }
  std::unique_ptr<SoundListener> CreateListener() override { return mixer_.CreateListener(); }

 private:
  Mixer& mixer_;
  const std::uint64_t& nowUs_;
  std::function<void(const SoundVoice*)> onVoiceGone_;
  std::function<void()> onRelease_;
};

}  // namespace

// Every service of the machine, on the virtual clock.
class Simulation::Machine final : public Clock,
                                  public PlatformWindow,
                                  public EventSource,
                                  public Http,
                                  public Controller {
 public:
  Machine(const SimOptions& options, std::ostream& out)
      : transcript([this] { return nowUs / kUsPerMs; },
                   [&out](std::string_view line) { out << line << '\n'; }),
        options_(options),
        mixer_(kOutputChannels) {
    random.Seed(options.seed);
    if (!options.wavPath.empty()) {
      wav_.open(options.wavPath, std::ios::binary | std::ios::trunc);
      const std::vector<std::uint8_t> header = WavHeader(0);  // sizes filled in at the end
      wav_.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
    }
  }

  Services ServicesOn(Window& window) {
    return Services{*this, files_, *this, window, *this, random, transcript};
  }

  // Brings the clock, the mixer and with it every clip's status up to virtual time tUs. The
  // mixer renders only when its sound is written; otherwise its voices are moved on.
  void AdvanceTo(std::uint64_t tUs) {
    if (tUs <= nowUs) return;
    nowUs = tUs;
    const std::uint64_t frames = tUs * kMixRate / kUsPerSecond - mixedFrames_;
    mixedFrames_ += frames;
    if (!wav_.is_open()) {
      mixer_.Advance(static_cast<std::size_t>(frames));
      return;
    }
    for (std::uint64_t left = frames; left > 0;) {
      const std::size_t block = static_cast<std::size_t>(std::min<std::uint64_t>(left, kRenderBlockFrames));
      block_.resize(block * kOutputChannels);
      mixer_.Render(block_.data(), block);
      wavBytes_.clear();
      for (std::int16_t sample : block_) {
        const auto bits = static_cast<std::uint16_t>(sample);
        wavBytes_.push_back(static_cast<char>(bits & 0xFF));
        wavBytes_.push_back(static_cast<char>(bits >> 8));
      }
      wav_.write(wavBytes_.data(), static_cast<std::streamsize>(wavBytes_.size()));
      wavDataBytes_ += wavBytes_.size();
      left -= block;
    }
  }

  bool WavOpen() const { return options_.wavPath.empty() || static_cast<bool>(wav_); }

  // Completes the WAVE file with the sizes of what was written.
  bool FinishWav() {
    if (options_.wavPath.empty()) return true;
    if (!wav_ || wavDataBytes_ > 0xFFFFFFFFull - 36) return false;
    const std::vector<std::uint8_t> header = WavHeader(static_cast<std::uint32_t>(wavDataBytes_));
    wav_.seekp(0);
    wav_.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
    wav_.close();
    return !wav_.fail();
  }

  // Clips whose release shutdown reports as one step, by their voices.
  void Group(const SoundVoice* voice, const std::string& group) {
    if (voice != nullptr) groups_[voice] = group;
  }
  void VoiceGone(const SoundVoice* voice) {
    const auto it = groups_.find(voice);
    if (it == groups_.end()) return;
    if (steps.empty() || steps.back() != it->second) steps.push_back(it->second);
    groups_.erase(it);
  }

  // Clock
  std::uint64_t NowMs() override { return nowUs / kUsPerMs; }
  void Sleep(std::uint32_t ms) override { AdvanceTo(nowUs + ms * kUsPerMs); }
  // A clip played to its end holds the game for exactly its length.
  void SleepWhilePlaying(SoundVoice& voice, std::uint32_t limitMs) override {
    auto* tracked = dynamic_cast<TrackedVoice*>(&voice);
    if (tracked == nullptr) return Clock::SleepWhilePlaying(voice, limitMs);
    if (const std::optional<std::uint64_t> end = tracked->EndUs())
      AdvanceTo(std::min(*end, nowUs + limitMs * kUsPerMs));
  }
  // The run's calendar reads as its seed, so that start-up seeds the generator with the
  // command line's seed.
  std::int64_t CalendarSeconds() override { return options_.seed; }

  // PlatformWindow
  std::optional<std::string> ExecutablePath() override {
    std::string folder = options_.dataFolder.empty() ? std::string(".") : options_.dataFolder;
    if (folder.back() != '/') folder += '/';
    return folder + "vesquin";
  }
  std::unique_ptr<SoundDevice> CreateSoundDevice() override {
    if (!options_.soundOutput) return nullptr;
    return std::make_unique<LentDevice>(
        mixer_, nowUs, [this](const SoundVoice* voice) { VoiceGone(voice); },
        [this] { steps.push_back("sound device"); });
  }
  // The message is in the transcript already: the game's window tells the listener.
  void ShowError(const std::string&) override {}

  // EventSource: the script's time is how far the player has got. A script event that lies
  // before the clock came while the game was busy; until the script passes the clock, more
  // may still come, so the loop stops there rather than take the ticks that fell due.
  std::optional<WindowEvent> PollEvent() override {
    if (scriptUs >= nowUs) return std::nullopt;
    return TakeEvent();
  }
  std::optional<WindowEvent> WaitEvent(std::optional<std::uint64_t> deadlineMs) override {
    // A tick due by the script's time comes before the script's event at that time.
    if (deadlineMs && *deadlineMs * kUsPerMs <= scriptUs) {
      AdvanceTo(*deadlineMs * kUsPerMs);
      return std::nullopt;
    }
    AdvanceTo(scriptUs);
    return TakeEvent();
  }
  void TimerStopped() override { steps.push_back("timer"); }
  void Ticked(std::uint64_t takenMs) override { timerEvents.push_back(takenMs); }

  // Http
  std::optional<HttpReply> Get(const std::string& url) override {
    transcript.RequestMade(url);
    if (replies_.empty()) return std::nullopt;
    std::optional<std::string> body = std::move(replies_.front());
    replies_.pop_front();
    if (!body) return std::nullopt;
    return HttpReply{true, std::move(*body)};
  }
  void QueueReply(std::optional<std::string> body) { replies_.push_back(std::move(body)); }

  // Controller
  int Create() override { return options_.controllerAttached ? 0 : -1; }
  int Poll() override {
    ++polls;
    if (options_.controllerReadsBeforeFailure >= 0 && polls > options_.controllerReadsBeforeFailure)
      return -1;
    return 0;
  }
  void Release() override {
    controllerReleased = true;
    steps.push_back("controller");
  }

  Transcript transcript;
  ForcedRandom random;
  std::uint64_t nowUs = 0;                 // the virtual clock, exact
  std::uint64_t scriptUs = 0;              // the script's time
  std::optional<WindowEvent> scriptEvent;  // the script's event at its time, until handled
  bool controllerReleased = false;
  int polls = 0;
  std::vector<std::string> steps;  // what shutdown released, in order
  std::vector<std::uint64_t> timerEvents;

 private:
  std::optional<WindowEvent> TakeEvent() {
    std::optional<WindowEvent> event = scriptEvent;
    scriptEvent.reset();
    if (!event) return WindowEvent{WindowEvent::Kind::InputEnded};
    return event;
  }

  const SimOptions& options_;
  NativeFileSystem files_;
  Mixer mixer_;
  std::deque<std::optional<std::string>> replies_;
  std::map<const SoundVoice*, std::string> groups_;
  std::uint64_t mixedFrames_ = 0;
  std::vector<std::int16_t> block_;
  std::ofstream wav_;
  std::vector<char> wavBytes_;
  std::uint64_t wavDataBytes_ = 0;
};

Simulation::Simulation(SimOptions options, std::ostream& transcript)
    : options_(std::move(options)),
      machine_(std::make_unique<Machine>(options_, transcript)),
      pump_(*machine_, *machine_, *machine_, machine_->transcript) {}

Simulation::~Simulation() {
  // Clips the screens still hold go before the machine that plays them.
  game_.reset();
}

std::uint64_t Simulation::Now() const { return machine_->nowUs / kUsPerMs; }
int Simulation::ControllerPolls() const { return machine_->polls; }
bool Simulation::ControllerReleased() const { return machine_->controllerReleased; }
bool Simulation::TimerRunning() const { return pump_.TimerRunning(); }
const std::vector<std::uint64_t>& Simulation::TimerEvents() const { return machine_->timerEvents; }
std::vector<std::string> Simulation::ShutdownSteps() const { return machine_->steps; }

void Simulation::Start() {
  services_ = std::make_unique<Services>(machine_->ServicesOn(pump_));
  game_ = std::make_unique<Game>(*services_);
  pump_.Start(*game_);
  // Shutdown reports the menu clips and the number clips each as one step.
  for (const SoundClip& clip : game_->menu.menuClips) machine_->Group(clip.Voice(), "menu clips");
  for (const SoundClip& clip : game_->numbers.numberClips) machine_->Group(clip.Voice(), "number clips");
  pump_.Run(*game_);
}

void Simulation::Deliver(WindowEvent event) {
  if (!game_) return;
  machine_->scriptEvent = event;
  pump_.Run(*game_);
  machine_->scriptEvent.reset();  // a script event after the close is never handled
}

void Simulation::Wait(std::uint64_t ms) {
  machine_->scriptUs += ms * kUsPerMs;
  if (game_) pump_.Run(*game_);
}

void Simulation::Key(int virtualKey) { Deliver({WindowEvent::Kind::KeyDown, virtualKey}); }
void Simulation::KeyUp(int virtualKey) { Deliver({WindowEvent::Kind::KeyUp, virtualKey}); }
void Simulation::Close() { Deliver({WindowEvent::Kind::Close}); }

void Simulation::Show() {
  if (!game_) return;
  const Game& g = *game_;
  const LevelState& l = g.level;
  std::ostringstream line;
  line << "show gameState=" << g.gameState << " ticksEnabled=" << (g.ticksEnabled ? 1 : 0)
       << " menuIndex=" << g.menu.menuIndex << " score=" << l.score << " lives=" << l.lives
       << " won=" << (l.won ? 1 : 0) << " heading=" << l.heading << " chaserNorth=" << l.chaserNorth
       << " chaserEast=" << l.chaserEast << " quarryNorth=" << l.quarryNorth
       << " quarryEast=" << l.quarryEast;
  machine_->transcript.Line(line.str());
}

void Simulation::ForceRandom(const std::vector<int>& values) { machine_->random.Force(values); }
void Simulation::QueueReply(std::optional<std::string> body) { machine_->QueueReply(std::move(body)); }
bool Simulation::WavOpen() const { return machine_->WavOpen(); }
bool Simulation::Finish() { return machine_->FinishWav(); }

}  // namespace vesquin
