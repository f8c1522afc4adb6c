#pragma once
// The sound server side on a desktop: one PulseAudio playback stream fed by the game's Mixer,
// played by PulseAudio itself or by PipeWire through pipewire-pulse. SDL's own PulseAudio
// driver asks the server for a target length of a single device buffer, so every refill must
// arrive within 5 ms or the player hears a gap; here the server keeps a longer target length
// filled in small requests, and the target climbs a ladder when the server runs dry or nearly
// so, and comes back down after a long run without either.

#include <pulse/pulseaudio.h>

#include <atomic>
#include <cstdint>
#include <iterator>
#include <memory>

#include "platform/latency_target.h"
#include "platform/mixer.h"

namespace vesquin {

// How the audio callback has fared since the stream opened (read on any thread).
struct CallbackStats {
  std::uint64_t callbacks = 0;
  std::uint64_t longestNs = 0;
  std::uint64_t overHalfPeriod = 0;  // callbacks that took longer than half a request's duration
  std::uint64_t underruns = 0;
  std::uint64_t nearMisses = 0;           // requests that found the server's queue nearly empty
  std::uint32_t targetFrames = 0;         // what the stream asks the server to keep now
  std::uint32_t longestTargetFrames = 0;  // the most it asked for since it opened
};

// One step of the latency asked of the server: the target length it keeps between the mixer
// and the sink, and the least it asks for at a time.
struct LatencyStep {
  std::uint32_t targetFrames;
  std::uint32_t requestFrames;
};

class PulseOutput {
 public:
  static constexpr std::uint32_t kRequestFrames = 144;  // 3 ms at 48 kHz
  // PulseAudio keeps about half the target in the sink and queues the rest: from 16 ms, each
  // step half as much again, up to 100 ms.
  static constexpr LatencyStep kPulseAudioSteps[] = {{768, kRequestFrames},   {1'152, kRequestFrames},
                                                     {1'728, kRequestFrames}, {2'592, kRequestFrames},
                                                     {3'888, kRequestFrames}, {4'800, kRequestFrames}};
  // pipewire-pulse runs a stream at a quantum of (target - 2 * request) / 2 frames, at least its
  // smallest quantum (256), and queues target - quantum; a quantum that is no power of two the
  // graph runs at the power of two below, which crackles. Every step here is one the graph runs
  // as asked: 256 with 512 frames queued (the game allows itself requests of 128 frames for
  // that), 256 with 768, 512 with 1'024, 1'024 with 1'536. It stops at 53 ms: steps on to
  // 100 ms at a quantum of 1'024 need requests of up to 1'376 frames, which leave the queue
  // only half the target, and under load they lost no fewer blocks, but longer stretches.
  static constexpr std::uint32_t kPipeWireSmallestRequestFrames = 128;
  static constexpr LatencyStep kPipeWireSteps[] = {
      {768, kPipeWireSmallestRequestFrames}, {1'024, 256}, {1'536, 256}, {2'560, 256}};
  // After an underrun, or a request that found less than kRequestFrames queued, the stream
  // climbs a step: a busy machine trades latency for speech without gaps. After kQuietFrames
  // without either it goes down a step (after up to eight times as long while steps down keep
  // meeting trouble).
  static constexpr std::uint64_t kQuietFrames = 8 * 48'000;  // 8 s

  // Starts connecting to the server the environment names (PULSE_SERVER, or the user's own)
  // on a thread of its own, and returns at once; null when it cannot even start (out of memory
  // or threads). The stream takes the default sink's layout (2, 4 or 6 channels) and plays
  // silence until StartRendering hands it the mixer, which must outlive the output.
  static std::unique_ptr<PulseOutput> Open(Mixer& mixer);
  ~PulseOutput();
  PulseOutput(const PulseOutput&) = delete;
  PulseOutput& operator=(const PulseOutput&) = delete;

  // Waits until the stream is ready or has failed: at most about 2 s.
  void WaitOpened();
  // The server has made the stream ready (it stays so until it fails).
  bool Ready() const { return ready_.load(std::memory_order_acquire); }
  // The server refused the connection or the stream, has not made the stream ready within 2 s
  // (pipewire-pulse holds a new stream while no session manager links it), has gone or has
  // dropped the stream: close this output and open another.
  bool Failed() const { return failed_.load(std::memory_order_acquire); }
  // A server took the connection, whether or not it made the stream ready.
  bool ServerFound() const { return serverFound_.load(std::memory_order_acquire); }
  // From now on the stream renders the mixer; call once it is ready, after setting the mixer's
  // layout to Channels().
  void StartRendering() { rendering_.store(true, std::memory_order_release); }
  // The following hold once the stream is ready.
  int Channels() const { return channels_; }
  // The server is PipeWire (through pipewire-pulse), not PulseAudio itself.
  bool OnPipeWire() const { return steps_ == kPipeWireSteps; }
  // The least the server asks for at a time, as it granted it.
  std::uint32_t RequestFrames() const { return requestFrames_; }
  // How long a sample written now takes to leave the server, as the server reports it when
  // asked now; -1 when it cannot tell.
  double LatencyMs() const;
  CallbackStats Stats() const;

 private:
  struct MainloopDeleter {
    void operator()(pa_threaded_mainloop* m) const;
  };
  struct ContextDeleter {
    void operator()(pa_context* c) const;
  };
  struct StreamDeleter {
    void operator()(pa_stream* s) const;
  };

  explicit PulseOutput(Mixer& mixer) : mixer_(mixer) {}
  bool Start();
  // The steps of opening, each on the loop's thread once the one before has answered.
  static void OnContextState(pa_context* context, void* self);
  static void OnServerInfo(pa_context* context, const pa_server_info* info, void* self);
  static void OnSinkInfo(pa_context* context, const pa_sink_info* info, int last, void* self);
  void ConnectStream();
  static void OnStreamState(pa_stream* stream, void* self);
  static void OnDeadline(pa_mainloop_api* api, pa_time_event* event, const timeval* when, void* self);
  void Fail();
  static void OnWrite(pa_stream* stream, std::size_t bytes, void* self);
  static void OnUnderflow(pa_stream* stream, void* self);
  const LatencyStep& CurrentStep() const { return steps_[target_.Step()]; }
  // On the loop's thread: asks the server for the current step now.
  void ApplyTarget(pa_stream* stream);

  Mixer& mixer_;
  int channels_ = 2;
  // The ladder of the server found at connection.
  const LatencyStep* steps_ = kPulseAudioSteps;
  LatencyTarget target_{std::size(kPulseAudioSteps), kQuietFrames};
  std::uint32_t requestFrames_ = kRequestFrames;
  // Requests still to come before a request's size says anything about the server's queue:
  // the first ones after a change of target ask for the difference.
  int unsettledRequests_ = 0;
  std::atomic<bool> serverFound_{false};
  std::atomic<bool> ready_{false};
  std::atomic<bool> failed_{false};
  std::atomic<bool> rendering_{false};
  // The callback's own figures, published for Stats().
  std::atomic<std::uint64_t> callbacks_{0};
  std::atomic<std::uint64_t> longestNs_{0};
  std::atomic<std::uint64_t> overHalf_{0};
  std::atomic<std::uint64_t> underruns_{0};
  std::atomic<std::uint64_t> nearMisses_{0};
  std::atomic<std::uint32_t> targetFrames_{kPulseAudioSteps[0].targetFrames};
  std::atomic<std::uint32_t> longestTargetFrames_{kPulseAudioSteps[0].targetFrames};

  // Destroyed in reverse: the stream, then the context, then the loop (stopped first).
  std::unique_ptr<pa_threaded_mainloop, MainloopDeleter> loop_;
  std::unique_ptr<pa_context, ContextDeleter> context_;
  std::unique_ptr<pa_stream, StreamDeleter> stream_;
};

}  // namespace vesquin
