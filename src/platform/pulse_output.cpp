#include "platform/pulse_output.h"

#include "platform/realtime.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

namespace vesquin {
namespace {

constexpr const char* kName = "Vesquin";
constexpr const char* kIconName = "vesquin";
constexpr std::uint32_t kFrameBytesPerChannel = 2;
// Requests after a change of target that may ask for the difference rather than what was
// played: the server answers the change in the next one or two.
constexpr int kSettleRequests = 8;
// A server that has not made the stream ready by then is given up, to be tried again later:
// pipewire-pulse holds a new stream for as long as no session manager links it.
constexpr pa_usec_t kReadyWithinUsec = 2'000'000;

pa_channel_map ChannelMap(int channels) {
  pa_channel_map map{};
  map.channels = static_cast<std::uint8_t>(channels);
  // The mixer's layouts: front left and right; then the back pair; 5.1 adds centre and LFE
  // before the back pair.
  static constexpr pa_channel_position_t kQuad[] = {
      PA_CHANNEL_POSITION_FRONT_LEFT, PA_CHANNEL_POSITION_FRONT_RIGHT, PA_CHANNEL_POSITION_REAR_LEFT,
      PA_CHANNEL_POSITION_REAR_RIGHT};
  static constexpr pa_channel_position_t kSix[] = {
      PA_CHANNEL_POSITION_FRONT_LEFT, PA_CHANNEL_POSITION_FRONT_RIGHT, PA_CHANNEL_POSITION_FRONT_CENTER,
      PA_CHANNEL_POSITION_LFE,        PA_CHANNEL_POSITION_REAR_LEFT,   PA_CHANNEL_POSITION_REAR_RIGHT};
  const pa_channel_position_t* positions = channels == 6 ? kSix : kQuad;
  for (int c = 0; c < channels; ++c) map.map[c] = positions[c];
  return map;
}

// Names the client or the stream for the player's sound settings.
struct Proplist {
  pa_proplist* list = pa_proplist_new();
  Proplist() {
    pa_proplist_sets(list, PA_PROP_APPLICATION_NAME, kName);
    pa_proplist_sets(list, PA_PROP_APPLICATION_ID, kIconName);
    pa_proplist_sets(list, PA_PROP_APPLICATION_ICON_NAME, kIconName);
    pa_proplist_sets(list, PA_PROP_MEDIA_NAME, kName);
    pa_proplist_sets(list, PA_PROP_MEDIA_ROLE, "game");
  }
  ~Proplist() { pa_proplist_free(list); }
  Proplist(const Proplist&) = delete;
  Proplist& operator=(const Proplist&) = delete;
};

// What the stream asks of the server for a step of its ladder; the server chooses the rest.
pa_buffer_attr BufferAttr(const LatencyStep& step, int channels) {
  const std::uint32_t frameBytes = kFrameBytesPerChannel * static_cast<std::uint32_t>(channels);
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<std::uint32_t>(-1);
  attr.tlength = step.targetFrames * frameBytes;
  attr.prebuf = static_cast<std::uint32_t>(-1);
  attr.minreq = step.requestFrames * frameBytes;
  attr.fragsize = static_cast<std::uint32_t>(-1);
  return attr;
}

// Holds the loop's lock for a scope.
class LoopLock {
 public:
  explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
  ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;

 private:
  pa_threaded_mainloop* loop_;
};

// Runs once on the loop's thread, the one that renders: audio must win the cores over busy
// programs of the same user, so it asks for real-time scheduling below the server's own
// (priority 5 on Debian), else for a higher nice level. Without either right it stays as it
// is, and the stream's target grows if it runs dry.
void RaisePriority(pa_mainloop_api* /*api*/, void* /*unused*/) {
  if (!RaiseThreadToRealtime(4)) RaiseThreadNice(-11);
}

}  // namespace

void PulseOutput::MainloopDeleter::operator()(pa_threaded_mainloop* m) const {
  pa_threaded_mainloop_stop(m);
  pa_threaded_mainloop_free(m);
}

void PulseOutput::ContextDeleter::operator()(pa_context* c) const {
  pa_context_set_state_callback(c, nullptr, nullptr);
  pa_context_disconnect(c);
  pa_context_unref(c);
}

void PulseOutput::StreamDeleter::operator()(pa_stream* s) const {
  pa_stream_set_state_callback(s, nullptr, nullptr);
  pa_stream_set_write_callback(s, nullptr, nullptr);
  pa_stream_set_underflow_callback(s, nullptr, nullptr);
  pa_stream_disconnect(s);
  pa_stream_unref(s);
}

std::unique_ptr<PulseOutput> PulseOutput::Open(Mixer& mixer) {
  std::unique_ptr<PulseOutput> output;
  try {
    output.reset(new PulseOutput(mixer));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (!output->Start()) return nullptr;
  return output;
}

PulseOutput::~PulseOutput() {
  // The loop's thread stops before the stream and the context go.
  if (loop_) pa_threaded_mainloop_stop(loop_.get());
  stream_.reset();
  context_.reset();
}

bool PulseOutput::Start() {
  loop_.reset(pa_threaded_mainloop_new());
  if (!loop_) return false;
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_.get());
  {
    const Proplist props;
    // pipewire-pulse keeps at least three of a client's smallest requests queued (256 frames
    // each unless the client says otherwise); PulseAudio ignores the property.
    char smallestRequest[32];
    std::snprintf(smallestRequest, sizeof smallestRequest, "%u/%u", kPipeWireSmallestRequestFrames,
                  Mixer::kSampleRate);
    pa_proplist_sets(props.list, "pulse.min.req", smallestRequest);
    context_.reset(pa_context_new_with_proplist(api, kName, props.list));
  }
  if (!context_) return false;
  pa_context_set_state_callback(context_.get(), &PulseOutput::OnContextState, this);
  if (pa_context_connect(context_.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    failed_.store(true, std::memory_order_release);  // no server: nothing to wait for
    return true;
  }
  // Freed by its own call, or with the loop.
  if (pa_context_rttime_new(context_.get(), pa_rtclock_now() + kReadyWithinUsec, &PulseOutput::OnDeadline,
                            this) == nullptr) {
    return false;
  }
  pa_mainloop_api_once(api, &RaisePriority, nullptr);
  return pa_threaded_mainloop_start(loop_.get()) >= 0;
}

void PulseOutput::WaitOpened() {
  LoopLock hold(loop_.get());
  while (!Ready() && !Failed()) pa_threaded_mainloop_wait(loop_.get());
}

void PulseOutput::OnContextState(pa_context* context, void* self) {
  auto* output = static_cast<PulseOutput*>(self);
  switch (pa_context_get_state(context)) {
    case PA_CONTEXT_UNCONNECTED:
    case PA_CONTEXT_CONNECTING:
      break;
    case PA_CONTEXT_AUTHORIZING:
    case PA_CONTEXT_SETTING_NAME:
      output->serverFound_.store(true, std::memory_order_release);
      break;
    case PA_CONTEXT_READY:
      output->serverFound_.store(true, std::memory_order_release);
      // The ladder depends on the server: PipeWire names itself in the server's name.
      if (pa_operation* op = pa_context_get_server_info(context, &PulseOutput::OnServerInfo, self)) {
        pa_operation_unref(op);
      } else {
        output->Fail();
      }
      break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
      output->Fail();
      break;
  }
}

void PulseOutput::OnServerInfo(pa_context* context, const pa_server_info* info, void* self) {
  auto* output = static_cast<PulseOutput*>(self);
  if (info == nullptr) {
    output->Fail();
    return;
  }
  if (info->server_name != nullptr && std::strstr(info->server_name, "PipeWire") != nullptr) {
    output->steps_ = kPipeWireSteps;
    output->target_ = LatencyTarget(std::size(kPipeWireSteps), kQuietFrames);
  }
  // The stream takes the default sink's layout.
  pa_operation* op =
      info->default_sink_name != nullptr
          ? pa_context_get_sink_info_by_name(context, info->default_sink_name, &PulseOutput::OnSinkInfo, self)
          : nullptr;
  if (op != nullptr) {
    pa_operation_unref(op);
  } else {
    output->ConnectStream();
  }
}

// Called with the sink, then once more with `last` set (or only that, with no such sink).
void PulseOutput::OnSinkInfo(pa_context* /*context*/, const pa_sink_info* info, int last, void* self) {
  auto* output = static_cast<PulseOutput*>(self);
  if (last == 0 && info != nullptr) {
    // The widest layout the mixer knows that the sink has.
    const int channels = info->sample_spec.channels;
    output->channels_ = channels >= 6 ? 6 : channels >= 4 ? 4 : 2;
    return;
  }
  output->ConnectStream();
}

void PulseOutput::ConnectStream() {
  if (Failed()) return;
  const pa_sample_spec spec{PA_SAMPLE_S16LE, Mixer::kSampleRate, static_cast<std::uint8_t>(channels_)};
  const pa_channel_map map = ChannelMap(channels_);
  {
    const Proplist props;
    stream_.reset(pa_stream_new_with_proplist(context_.get(), kName, &spec, &map, props.list));
  }
  if (!stream_) {
    Fail();
    return;
  }
  pa_stream_set_state_callback(stream_.get(), &PulseOutput::OnStreamState, this);
  pa_stream_set_write_callback(stream_.get(), &PulseOutput::OnWrite, this);
  pa_stream_set_underflow_callback(stream_.get(), &PulseOutput::OnUnderflow, this);
  const pa_buffer_attr attr = BufferAttr(CurrentStep(), channels_);
  unsettledRequests_ = kSettleRequests;
  const int connected =
      pa_stream_connect_playback(stream_.get(), nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr);
  if (connected < 0) Fail();
}

void PulseOutput::OnStreamState(pa_stream* stream, void* self) {
  auto* output = static_cast<PulseOutput*>(self);
  const pa_stream_state_t state = pa_stream_get_state(stream);
  if (state == PA_STREAM_READY && !output->Failed()) {
    if (const pa_buffer_attr* granted = pa_stream_get_buffer_attr(stream)) {
      output->requestFrames_ =
          granted->minreq / (kFrameBytesPerChannel * static_cast<std::uint32_t>(output->channels_));
    }
    output->ready_.store(true, std::memory_order_release);
    pa_threaded_mainloop_signal(output->loop_.get(), 0);
  } else if (!PA_STREAM_IS_GOOD(state)) {
    output->Fail();
  }
}

void PulseOutput::OnDeadline(pa_mainloop_api* api, pa_time_event* event, const timeval* /*when*/,
                             void* self) {
  auto* output = static_cast<PulseOutput*>(self);
  api->time_free(event);
  if (!output->Ready()) output->Fail();
}

void PulseOutput::Fail() {
  failed_.store(true, std::memory_order_release);
  pa_threaded_mainloop_signal(loop_.get(), 0);
}

// The audio callback: the server wants `bytes` more. Renders straight into the server's
// own memory block.
void PulseOutput::OnWrite(pa_stream* stream, std::size_t bytes, void* self) {
  auto* output = static_cast<PulseOutput*>(self);
  const auto began = std::chrono::steady_clock::now();
  const std::size_t frameBytes = kFrameBytesPerChannel * static_cast<std::size_t>(output->channels_);
  const std::size_t asked = bytes;
  // What the server still held when it asked: its queue's target less what it wants.
  bool nearlyDry = false;
  if (output->unsettledRequests_ > 0) {
    --output->unsettledRequests_;
  } else if (const pa_buffer_attr* attr = pa_stream_get_buffer_attr(stream)) {
    nearlyDry = attr->tlength < asked + kRequestFrames * frameBytes;
  }
  while (bytes >= frameBytes) {
    void* data = nullptr;
    std::size_t size = bytes;
    if (pa_stream_begin_write(stream, &data, &size) < 0 || data == nullptr) return;
    size = std::min(size, bytes) / frameBytes * frameBytes;
    if (size == 0) {
      pa_stream_cancel_write(stream);
      return;
    }
    if (output->rendering_.load(std::memory_order_acquire)) {
      output->mixer_.Render(static_cast<std::int16_t*>(data), size / frameBytes);
    } else {
      std::memset(data, 0, size);
    }
    if (pa_stream_write(stream, data, size, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
    bytes -= size;
  }
  const auto took = static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - began).count());
  output->callbacks_.fetch_add(1, std::memory_order_relaxed);
  if (took > output->longestNs_.load(std::memory_order_relaxed))
    output->longestNs_.store(took, std::memory_order_relaxed);
  constexpr std::uint64_t kHalfRequestNs = 1'000'000'000ULL * kRequestFrames / Mixer::kSampleRate / 2;
  if (took > kHalfRequestNs) output->overHalf_.fetch_add(1, std::memory_order_relaxed);

  if (nearlyDry) {
    output->nearMisses_.fetch_add(1, std::memory_order_relaxed);
    if (output->target_.Grow()) output->ApplyTarget(stream);
  } else if (output->target_.Played(asked / frameBytes)) {
    output->ApplyTarget(stream);
  }
}

// The server ran dry: ask it to keep more queued from now on.
void PulseOutput::OnUnderflow(pa_stream* stream, void* self) {
  auto* output = static_cast<PulseOutput*>(self);
  output->underruns_.fetch_add(1, std::memory_order_relaxed);
  if (output->target_.Grow()) output->ApplyTarget(stream);
}

void PulseOutput::ApplyTarget(pa_stream* stream) {
  const std::uint32_t frames = CurrentStep().targetFrames;
  targetFrames_.store(frames, std::memory_order_relaxed);
  if (frames > longestTargetFrames_.load(std::memory_order_relaxed)) {
    longestTargetFrames_.store(frames, std::memory_order_relaxed);
  }
  unsettledRequests_ = kSettleRequests;
  const pa_buffer_attr attr = BufferAttr(CurrentStep(), channels_);
  if (pa_operation* op = pa_stream_set_buffer_attr(stream, &attr, nullptr, nullptr)) pa_operation_unref(op);
}

double PulseOutput::LatencyMs() const {
  LoopLock hold(loop_.get());
  // A fresh look rather than libpulse's interpolation between looks, which strays by several
  // milliseconds behind pipewire-pulse.
  pa_operation* update = pa_stream_update_timing_info(
      stream_.get(),
      [](pa_stream*, int, void* loop) {
        pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
      },
      loop_.get());
  if (update == nullptr) return -1.0;
  while (pa_operation_get_state(update) == PA_OPERATION_RUNNING && !Failed())
    pa_threaded_mainloop_wait(loop_.get());
  const bool done = pa_operation_get_state(update) == PA_OPERATION_DONE;
  pa_operation_unref(update);
  const pa_timing_info* timing = pa_stream_get_timing_info(stream_.get());
  if (!done || timing == nullptr || timing->write_index_corrupt || timing->read_index_corrupt) return -1.0;
  // Queued in the server, then what its sink holds.
  const std::int64_t queued = std::max<std::int64_t>(timing->write_index - timing->read_index, 0);
  const pa_usec_t usec =
      pa_bytes_to_usec(static_cast<std::uint64_t>(queued), pa_stream_get_sample_spec(stream_.get())) +
      timing->sink_usec;
  return static_cast<double>(usec) / 1e3;
}

CallbackStats PulseOutput::Stats() const {
  CallbackStats s;
  s.callbacks = callbacks_.load(std::memory_order_relaxed);
  s.longestNs = longestNs_.load(std::memory_order_relaxed);
  s.overHalfPeriod = overHalf_.load(std::memory_order_relaxed);
  s.underruns = underruns_.load(std::memory_order_relaxed);
  s.nearMisses = nearMisses_.load(std::memory_order_relaxed);
  s.targetFrames = targetFrames_.load(std::memory_order_relaxed);
  s.longestTargetFrames = longestTargetFrames_.load(std::memory_order_relaxed);
  return s;
}

}  // namespace vesquin
