#pragma once
// The sound server side on a desktop: one PulseAudio playback stream fed by the game's Mixer.
// SDL's own PulseAudio driver asks the server for a target length of a single device buffer,
// so every refill must arrive within 5 ms or the player hears a gap; here the server keeps a
// longer target length filled in small requests, and the target grows when the server runs
// dry or nearly so, and shrinks back after a long run without either.

#include <pulse/pulseaudio.h>

#include <atomic>
#include <cstdint>
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

class PulseOutput {
 public:
  // The latency asked of the server: it keeps up to kTargetFrames between the mixer and the
  // sink (about half in the sink, the rest queued for it) and asks for at least
  // kRequestFrames at a time. After an underrun, or a request that found less than a request's
  // worth queued, the target grows by half, up to kLongestTargetFrames: a busy machine trades
  // latency for speech without gaps. After kQuietFrames without either it shrinks a step (after
  // up to eight times as long while steps down keep meeting trouble).
  static constexpr std::uint32_t kTargetFrames = 768;           // 16 ms at 48 kHz
  static constexpr std::uint32_t kRequestFrames = 144;          // 3 ms
  static constexpr std::uint32_t kLongestTargetFrames = 4'800;  // 100 ms
  static constexpr std::uint64_t kQuietFrames = 8 * 48'000;     // 8 s

  // Connects to the server the environment names (PULSE_SERVER, or the user's own) and
  // starts playing `channels` channels from `mixer`; null when there is no server or it
  // refuses the stream. The mixer must outlive the output.
  static std::unique_ptr<PulseOutput> Open(Mixer& mixer, int channels);
  ~PulseOutput();
  PulseOutput(const PulseOutput&) = delete;
  PulseOutput& operator=(const PulseOutput&) = delete;

  // The server has gone or dropped the stream: close this output and open another.
  bool Failed() const { return failed_.load(std::memory_order_acquire); }
  int Channels() const { return channels_; }
  std::uint32_t RequestFrames() const { return kRequestFrames; }
  // How long a sample written now takes to leave the server, as the server reports it; -1
  // when it cannot tell yet.
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

  PulseOutput(Mixer& mixer, int channels) : mixer_(mixer), channels_(channels) {}
  bool Start();
  bool WaitReady();
  static void OnContextState(pa_context* context, void* self);
  static void OnStreamState(pa_stream* stream, void* self);
  static void OnWrite(pa_stream* stream, std::size_t bytes, void* self);
  static void OnUnderflow(pa_stream* stream, void* self);
  // On the loop's thread: asks the server for the target's length now.
  void ApplyTarget(pa_stream* stream);

  Mixer& mixer_;
  int channels_;
  LatencyTarget target_{kTargetFrames, kLongestTargetFrames, kQuietFrames};
  // Requests still to come before a request's size says anything about the server's queue:
  // the first ones after a change of target ask for the difference.
  int unsettledRequests_ = 0;
  std::atomic<bool> failed_{false};
  // The callback's own figures, published for Stats().
  std::atomic<std::uint64_t> callbacks_{0};
  std::atomic<std::uint64_t> longestNs_{0};
  std::atomic<std::uint64_t> overHalf_{0};
  std::atomic<std::uint64_t> underruns_{0};
  std::atomic<std::uint64_t> nearMisses_{0};
  std::atomic<std::uint32_t> targetFrames_{kTargetFrames};
  std::atomic<std::uint32_t> longestTargetFrames_{kTargetFrames};

  // Destroyed in reverse: the stream, then the context, then the loop (stopped first).
  std::unique_ptr<pa_threaded_mainloop, MainloopDeleter> loop_;
  std::unique_ptr<pa_context, ContextDeleter> context_;
  std::unique_ptr<pa_stream, StreamDeleter> stream_;
};

}  // namespace vesquin
