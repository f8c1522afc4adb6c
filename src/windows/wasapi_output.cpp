#include "windows/wasapi_output.h"

#include <audioclient.h>
#include <avrt.h>
#include <mmdeviceapi.h>
#include <mmreg.h>

#include <algorithm>
#include <vector>

#include "platform/latency_target.h"

namespace vesquin::windows {
namespace {

constexpr std::uint32_t kChannels = 2;
constexpr std::uint32_t kMaxFrames = Mixer::kSampleRate / 5;  // the most one wake-up fills: 200 ms
constexpr DWORD kRetryMs = 500;                               // while there is no output
constexpr DWORD kSilentStreamMs = 2'000;                      // no event for this long: reopen
constexpr REFERENCE_TIME kHnsPerSecond = 10'000'000;
// The engine's buffer as asked for, where the stream chooses it: room for the longest target.
constexpr REFERENCE_TIME kBufferHns = kHnsPerSecond / 10;  // 100 ms
// What is kept queued, in engine periods: it starts at three (one to play, two in hand), and
// climbs a step when a wake-up finds less than half a period queued, back down after 8 s without.
constexpr std::uint32_t kTargetPeriods[] = {3, 4, 6, 9};
constexpr std::uint64_t kQuietFrames = 8 * Mixer::kSampleRate;

// KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, spelled out: mingw declares it only with INITGUID.
constexpr GUID kFloatSubtype = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

using MmcssTask = UniqueOf<HANDLE, &AvRevertMmThreadCharacteristics>;

struct CoTaskMemDeleter {
  void operator()(void* p) const { CoTaskMemFree(p); }
};
using MixFormat = std::unique_ptr<WAVEFORMATEX, CoTaskMemDeleter>;

WAVEFORMATEXTENSIBLE MixerFormat() {
  WAVEFORMATEXTENSIBLE f{};
  f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  f.Format.nChannels = kChannels;
  f.Format.nSamplesPerSec = Mixer::kSampleRate;
  f.Format.wBitsPerSample = 32;
  f.Format.nBlockAlign = kChannels * 4;
  f.Format.nAvgBytesPerSec = Mixer::kSampleRate * f.Format.nBlockAlign;
  f.Format.cbSize = sizeof f - sizeof f.Format;
  f.Samples.wValidBitsPerSample = 32;
  f.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
  f.SubFormat = kFloatSubtype;
  return f;
}

// The engine mixes in exactly the stream's format: no conversion, and IAudioClient3 may
// give it its smallest period.
bool IsMixerFormat(const WAVEFORMATEX& mix) {
  if (mix.nSamplesPerSec != Mixer::kSampleRate || mix.nChannels != kChannels || mix.wBitsPerSample != 32) {
    return false;
  }
  if (mix.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) return true;
  return mix.wFormatTag == WAVE_FORMAT_EXTENSIBLE &&
         reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(mix).SubFormat == kFloatSubtype;
}

std::uint32_t FramesOf(REFERENCE_TIME hns) {
  return static_cast<std::uint32_t>(hns * Mixer::kSampleRate / kHnsPerSecond);
}

}  // namespace

// Tells the render thread when the default output changes. Lives on the render thread's
// stack between its registration and its unregistration; the engine's references to it
// end with the unregistration.
class WasapiOutput::DeviceWatch final : public IMMNotificationClient {
 public:
  explicit DeviceWatch(HANDLE changed) : changed_(changed) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IMMNotificationClient)) {
      *object = static_cast<IMMNotificationClient*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) override {
    if (flow == eRender && role == eConsole) SetEvent(changed_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }

 private:
  HANDLE changed_;
};

// One open stream on the default output.
class WasapiOutput::Stream {
 public:
  static std::unique_ptr<Stream> Open(IMMDeviceEnumerator* devices) {
    if (devices == nullptr) return nullptr;
    auto stream = std::unique_ptr<Stream>(new Stream);
    stream->event_ = UniqueHandle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!stream->event_) return nullptr;
    ComPtr<IMMDevice> device;
    if (FAILED(devices->GetDefaultAudioEndpoint(eRender, eConsole, &device))) return nullptr;
    if (!stream->InitialiseLowLatency(device.Get()) && !stream->InitialiseConverted(device.Get()))
      return nullptr;
    ComPtr<IAudioClient>& client = stream->client_;
    if (FAILED(client->SetEventHandle(stream->event_.get())) ||
        FAILED(client->GetBufferSize(&stream->bufferFrames_)) ||
        FAILED(client->GetService(IID_PPV_ARGS(&stream->render_))) || stream->periodFrames_ == 0) {
      return nullptr;
    }
    return stream;
  }

  ~Stream() {
    if (started_) client_->Stop();
  }

  // Tops the engine's queue up to the target; false when the device is gone.
  bool Fill(Mixer& mixer, std::vector<std::int16_t>& scratch, std::atomic<std::uint64_t>& emptyWakes) {
    UINT32 padding = 0;
    if (FAILED(client_->GetCurrentPadding(&padding))) return false;
    padding = std::min(padding, bufferFrames_);
    if (started_) {
      if (padding == 0) emptyWakes.fetch_add(1, std::memory_order_relaxed);
      if (padding < periodFrames_ / 2) {
        target_.Grow();
      } else {
        target_.Played(queued_ > padding ? queued_ - padding : 0);
      }
    }
    const UINT32 target = TargetFrames();
    const UINT32 frames = std::min(target > padding ? target - padding : 0, kMaxFrames);
    if (frames > 0) {
      BYTE* data = nullptr;
      if (FAILED(render_->GetBuffer(frames, &data))) return false;
      mixer.Render(scratch.data(), frames);
      auto* out = reinterpret_cast<float*>(data);
      for (std::size_t i = 0; i < std::size_t{frames} * kChannels; ++i)
        out[i] = scratch[i] * (1.0F / 32768.0F);
      if (FAILED(render_->ReleaseBuffer(frames, 0))) return false;
    }
    queued_ = padding + frames;
    if (!started_) started_ = SUCCEEDED(client_->Start());
    return started_;
  }

  HANDLE Event() const { return event_.get(); }
  std::uint32_t PeriodFrames() const { return periodFrames_; }
  std::uint32_t BufferFrames() const { return bufferFrames_; }
  std::uint32_t TargetFrames() const {
    return std::min(kTargetPeriods[target_.Step()] * periodFrames_, bufferFrames_);
  }
  bool LowLatency() const { return lowLatency_; }

 private:
  Stream() = default;

  bool InitialiseLowLatency(IMMDevice* device) {
    ComPtr<IAudioClient3> client;
    if (FAILED(device->Activate(__uuidof(IAudioClient3), CLSCTX_ALL, nullptr, &client))) return false;
    WAVEFORMATEX* raw = nullptr;
    if (FAILED(client->GetMixFormat(&raw))) return false;
    const MixFormat mix(raw);
    if (!IsMixerFormat(*mix)) return false;
    UINT32 defaultPeriod = 0, fundamental = 0, smallest = 0, largest = 0;
    if (FAILED(client->GetSharedModeEnginePeriod(mix.get(), &defaultPeriod, &fundamental, &smallest,
                                                 &largest)) ||
        smallest == 0 ||
        FAILED(client->InitializeSharedAudioStream(AUDCLNT_STREAMFLAGS_EVENTCALLBACK, smallest, mix.get(),
                                                   nullptr))) {
      return false;
    }
    client_ = client;
    periodFrames_ = smallest;
    lowLatency_ = true;
    return true;
  }

  bool InitialiseConverted(IMMDevice* device) {
    if (FAILED(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, &client_))) return false;
    const WAVEFORMATEXTENSIBLE format = MixerFormat();
    const DWORD flags = AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM |
                        AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;
    if (FAILED(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, kBufferHns, 0, &format.Format, nullptr)))
      return false;
    REFERENCE_TIME defaultPeriod = 0, smallest = 0;
    if (SUCCEEDED(client_->GetDevicePeriod(&defaultPeriod, &smallest)))
      periodFrames_ = FramesOf(defaultPeriod);
    return true;
  }

  ComPtr<IAudioClient> client_;
  ComPtr<IAudioRenderClient> render_;
  UniqueHandle event_;
  UINT32 bufferFrames_ = 0;
  std::uint32_t periodFrames_ = 0;
  LatencyTarget target_{std::size(kTargetPeriods), kQuietFrames};
  UINT32 queued_ = 0;  // what the engine held after the last fill
  bool lowLatency_ = false;
  bool started_ = false;
};

WasapiOutput::WasapiOutput(const std::string& hrtfPath)
    : mixer_(static_cast<int>(kChannels), hrtfPath),
      stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      defaultChanged_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      firstOpen_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

std::unique_ptr<WasapiOutput> WasapiOutput::Open(const std::string& hrtfPath) {
  try {
    std::unique_ptr<WasapiOutput> output(new WasapiOutput(hrtfPath));
    if (!output->stop_ || !output->defaultChanged_ || !output->firstOpen_) return nullptr;
    output->thread_ = std::thread(&WasapiOutput::Run, output.get());
    WaitForSingleObject(output->firstOpen_.get(), INFINITE);
    if (!output->opened_.load()) return nullptr;  // the thread has ended; the destructor joins it
    return output;
  } catch (...) {
    return nullptr;
  }
}

WasapiOutput::~WasapiOutput() {
  if (stop_) SetEvent(stop_.get());
  if (thread_.joinable()) thread_.join();
}

OutputStats WasapiOutput::Stats() const {
  OutputStats stats;
  stats.periodFrames = periodFrames_.load();
  stats.bufferFrames = bufferFrames_.load();
  stats.targetFrames = targetFrames_.load();
  stats.longestTargetFrames = longestTargetFrames_.load();
  stats.sampleRate = sampleRate_.load();
  stats.lowLatency = lowLatency_.load();
  stats.converted = converted_.load();
  stats.opens = opens_.load();
  stats.emptyWakes = emptyWakes_.load();
  stats.hrtf = mixer_.HasHrtf();
  return stats;
}

void WasapiOutput::Run() {
  const ComApartment com;
  DWORD taskIndex = 0;
  const MmcssTask task(AvSetMmThreadCharacteristicsW(L"Pro Audio", &taskIndex));
  // Where MMCSS does nothing (Wine), the thread's own priority still puts it first.
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  ComPtr<IMMDeviceEnumerator> devices;
  if (com.Ready()) {
    CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, IID_PPV_ARGS(&devices));
  }
  DeviceWatch watch(defaultChanged_.get());
  const bool watching = devices && SUCCEEDED(devices->RegisterEndpointNotificationCallback(&watch));
  std::vector<std::int16_t> scratch(std::size_t{kMaxFrames} * kChannels);

  std::unique_ptr<Stream> stream;
  const auto open = [&] {
    stream = Stream::Open(devices.Get());
    // The first fill starts the stream: its events come only after.
    if (stream && !stream->Fill(mixer_, scratch, emptyWakes_)) stream.reset();
    periodFrames_ = stream ? stream->PeriodFrames() : 0;
    bufferFrames_ = stream ? stream->BufferFrames() : 0;
    sampleRate_ = stream ? Mixer::kSampleRate : 0;
    lowLatency_ = stream && stream->LowLatency();
    converted_ = stream && !stream->LowLatency();
    if (stream) opens_.fetch_add(1);
  };
  open();
  opened_ = stream != nullptr;
  SetEvent(firstOpen_.get());

  ULONGLONG closedAt = GetTickCount64();
  while (opened_) {
    if (!stream) {
      const HANDLE waits[] = {stop_.get(), defaultChanged_.get()};
      if (WaitForMultipleObjects(2, waits, FALSE, kRetryMs) == WAIT_OBJECT_0) break;
      // No output renders: the clips' time goes on, so that a clip still ends when it would.
      const ULONGLONG now = GetTickCount64();
      mixer_.Advance(static_cast<std::size_t>(now - closedAt) * (Mixer::kSampleRate / 1'000));
      closedAt = now;
      open();
      continue;
    }
    const HANDLE waits[] = {stop_.get(), defaultChanged_.get(), stream->Event()};
    const DWORD woken = WaitForMultipleObjects(3, waits, FALSE, kSilentStreamMs);
    if (woken == WAIT_OBJECT_0) break;
    if (woken == WAIT_OBJECT_0 + 2 && stream->Fill(mixer_, scratch, emptyWakes_)) {
      const std::uint32_t target = stream->TargetFrames();
      targetFrames_.store(target, std::memory_order_relaxed);
      if (target > longestTargetFrames_.load(std::memory_order_relaxed)) {
        longestTargetFrames_.store(target, std::memory_order_relaxed);
      }
      continue;
    }
    // The default output changed, went away, or stopped asking: reopen on the default one.
    stream.reset();
    open();
    closedAt = GetTickCount64();
  }
  stream.reset();
  if (watching) devices->UnregisterEndpointNotificationCallback(&watch);
}

}  // namespace vesquin::windows
