#include "sim/simulation.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/borrowed_device.h"
#include "platform/mixer.h"
#include "shell/main_window.h"

namespace vesquin {
namespace {

constexpr std::uint32_t kMixRate = 48'000;
constexpr std::uint32_t kFramesPerMs = kMixRate / 1000;
constexpr std::uint32_t kOutputChannels = 2;

// At most three decimals, no trailing zeros: -1, 0.5, 10.
std::string FormatCoordinate(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(value));
  std::string s = text;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s;
}

void PutLE(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

// Every service of the machine, on the virtual clock.
class Simulation::Machine final : public Clock,
                                  public Window,
                                  public Http,
                                  public Controller,
                                  public Random,
                                  public GameObserver {
 public:
  Machine(const SimOptions& options, std::ostream& out)
      : options_(options), out_(out), mixer_(kOutputChannels) {
    seeded_.Seed(options.seed);
  }

  Services services() { return Services{*this, files_, *this, *this, *this, *this, *this}; }

  // Brings the mixer, and with it every clip's status, up to virtual time t.
  void AdvanceTo(std::uint64_t t) {
    while (now < t) {
      const std::uint64_t step = std::min<std::uint64_t>(t - now, 10);
      const std::size_t frames = static_cast<std::size_t>(step * kFramesPerMs);
      block_.resize(frames * kOutputChannels);
      mixer_.Render(block_.data(), frames);
      if (!options_.wavPath.empty()) wav_.insert(wav_.end(), block_.begin(), block_.end());
      now += step;
    }
  }

  std::ostream& Line() {
    out_ << now << ' ';
    return out_;
  }

  bool WriteWav() {
    if (options_.wavPath.empty()) return true;
    std::vector<std::uint8_t> file;
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(wav_.size() * 2);
    file.insert(file.end(), {'R', 'I', 'F', 'F'});
    PutLE(file, 36 + dataBytes, 4);
    file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutLE(file, 16, 4);
    PutLE(file, 1, 2);
    PutLE(file, kOutputChannels, 2);
    PutLE(file, kMixRate, 4);
    PutLE(file, kMixRate * kOutputChannels * 2, 4);
    PutLE(file, kOutputChannels * 2, 2);
    PutLE(file, 16, 2);
    file.insert(file.end(), {'d', 'a', 't', 'a'});
    PutLE(file, dataBytes, 4);
    for (std::int16_t sample : wav_) PutLE(file, static_cast<std::uint16_t>(sample), 2);
    std::ofstream stream(options_.wavPath, std::ios::binary);
    stream.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    return static_cast<bool>(stream);
  }

  // Clock
  std::uint64_t NowMs() override { return now; }
  void Sleep(std::uint32_t ms) override { AdvanceTo(now + ms); }
  std::int64_t CalendarSeconds() override { return 0; }

  // Window
  std::optional<std::string> ExecutablePath() override {
    std::string folder = options_.dataFolder.empty() ? std::string(".") : options_.dataFolder;
    if (folder.back() != '/') folder += '/';
    return folder + "vesquin";
  }
  std::unique_ptr<SoundDevice> CreateSoundDevice() override {
    if (!options_.soundOutput) return nullptr;
    return std::make_unique<BorrowedSoundDevice>(mixer_, [this] { steps.push_back("sound device"); });
  }
  bool StartTimer(std::uint32_t id, std::uint32_t periodMs) override {
    timerRunning = id == tickTimerId && periodMs == kTickMs;
    return timerRunning;
  }
  void KillTimer(std::uint32_t) override {
    timerRunning = false;
    steps.push_back("timer");
  }
  void ShowError(const std::string& text) override { Line() << "message " << text << '\n'; }
  void Close() override {
    if (closing) return;
    closing = true;
    Line() << "close\n";
  }

  // Http
  std::optional<HttpReply> Get(const std::string& url) override {
    Line() << "get " << url << '\n';
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
    if (options_.controllerReadsBeforeFailure >= 0 && polls > options_.controllerReadsBeforeFailure) return -1;
    return 0;
  }
  void Release() override {
    controllerReleased = true;
    steps.push_back("controller");
  }

  // Random
  void Seed(std::uint32_t) override {}  // the run's seed is the command line's, never the clock's
  int Next() override {
    if (!forced_.empty()) {
      const int value = forced_.front();
      forced_.pop_front();
      return value;
    }
    return seeded_.Next();
  }
  void Force(const std::vector<int>& values) { forced_.insert(forced_.end(), values.begin(), values.end()); }

  // GameObserver
  void StateChanged(int value) override { Line() << "state " << value << '\n'; }
  void ClipPlayed(const std::string& name, std::int32_t pan, std::int32_t volume) override {
    Line() << "play " << name << " pan=" << pan << " vol=" << volume << '\n';
  }
  void ClipLooped(const std::string& name, std::int32_t pan, std::int32_t volume) override {
    Line() << "loop " << name << " pan=" << pan << " vol=" << volume << '\n';
  }
  void ClipResumed(const std::string& name, std::int32_t pan, std::int32_t volume) override {
    Line() << "resume " << name << " pan=" << pan << " vol=" << volume << '\n';
  }
  void ClipStopped(const std::string& name) override { Line() << "stop " << name << '\n'; }
  void ClipPlaced(const std::string& name, float x, float y, float z, float minDistance) override {
    Line() << "place " << name << " x=" << FormatCoordinate(x) << " y=" << FormatCoordinate(y)
           << " z=" << FormatCoordinate(z) << " min=" << FormatCoordinate(minDistance) << '\n';
  }

  std::uint64_t now = 0;
  bool timerRunning = false;
  bool closing = false;
  bool controllerReleased = false;
  int polls = 0;
  std::vector<std::string> steps;  // what shutdown released, in order

 private:
  const SimOptions& options_;
  std::ostream& out_;
  PosixFileSystem files_;
  Mixer mixer_;
  StandardRandom seeded_;
  std::deque<int> forced_;
  std::deque<std::optional<std::string>> replies_;
  std::vector<std::int16_t> block_;
  std::vector<std::int16_t> wav_;
};

Simulation::Simulation(SimOptions options, std::ostream& transcript)
    : options_(std::move(options)), out_(transcript), machine_(std::make_unique<Machine>(options_, out_)) {}

Simulation::~Simulation() {
  // Clips the screens still hold go before the machine that plays them.
  game_.reset();
}

std::uint64_t Simulation::Now() const { return machine_->now; }
int Simulation::controllerPolls() const { return machine_->polls; }
bool Simulation::controllerReleased() const { return machine_->controllerReleased; }
bool Simulation::timerRunning() const { return machine_->timerRunning; }
std::vector<std::string> Simulation::shutdownSteps() const { return machine_->steps; }

void Simulation::Start() {
  services_ = std::make_unique<Services>(machine_->services());
  game_ = std::make_unique<Game>(*services_);
  InitialiseWindow(*game_);
  AfterHandler();
  if (ended_) return;
  PaintWindow(*game_);  // the window is visible from its creation: its first paint follows
  AfterHandler();
}

void Simulation::AfterHandler() {
  if (machine_->closing) {
    ShutdownWindow(*game_);
    ended_ = true;
    return;
  }
  // Timer events that fell due while the handler held the game wait, merged into one.
  if (machine_->timerRunning && machine_->now >= nextTimer_) timerPending_ = true;
}

void Simulation::DeliverTick() {
  TimerEvent(*game_, tickTimerId);
  AfterHandler();
}

void Simulation::RunTimersUntil(std::uint64_t scriptTime) {
  while (!ended_) {
    if (timerPending_) {
      // Keys queued during the block come first; the merged tick runs once the script has
      // moved past the block.
      if (scriptTime <= machine_->now) return;
      timerPending_ = false;
      nextTimer_ = (machine_->now / kTickMs + 1) * kTickMs;
      DeliverTick();
      continue;
    }
    if (machine_->timerRunning && nextTimer_ <= scriptTime) {
      machine_->AdvanceTo(nextTimer_);
      nextTimer_ += kTickMs;
      DeliverTick();
      continue;
    }
    if (!machine_->timerRunning) nextTimer_ = (std::max(machine_->now, scriptTime) / kTickMs + 1) * kTickMs;
    machine_->AdvanceTo(std::max(machine_->now, scriptTime));
    return;
  }
}

void Simulation::Wait(std::uint64_t ms) {
  scriptTime_ += ms;
  RunTimersUntil(scriptTime_);
}

void Simulation::Key(int virtualKey) {
  RunTimersUntil(scriptTime_);
  if (ended_) return;
  KeyDownEvent(*game_, virtualKey);
  AfterHandler();
}

void Simulation::KeyUp(int virtualKey) {
  RunTimersUntil(scriptTime_);
  if (ended_) return;
  KeyUpEvent(*game_, virtualKey);
  AfterHandler();
}

void Simulation::Close() {
  RunTimersUntil(scriptTime_);
  if (ended_) return;
  machine_->Close();
  AfterHandler();
}

void Simulation::Show() {
  if (!game_) return;
  const Game& g = *game_;
  const LevelState& l = g.level;
  machine_->Line() << "show gameState=" << g.gameState << " ticksEnabled=" << (g.ticksEnabled ? 1 : 0)
                   << " menuIndex=" << g.menu.menuIndex << " score=" << l.score << " lives=" << l.lives
                   << " won=" << (l.won ? 1 : 0) << " heading=" << l.heading << " chaserNorth=" << l.chaserNorth
                   << " chaserEast=" << l.chaserEast << " quarryNorth=" << l.quarryNorth
                   << " quarryEast=" << l.quarryEast << '\n';
}

void Simulation::ForceRandom(const std::vector<int>& values) { machine_->Force(values); }
void Simulation::QueueReply(std::optional<std::string> body) { machine_->QueueReply(std::move(body)); }
bool Simulation::Finish() { return machine_->WriteWav(); }

}  // namespace vesquin
