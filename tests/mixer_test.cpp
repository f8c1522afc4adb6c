// The mixer measured on what it renders: pan and volume laws, ramps, the status of voices,
// converted lengths, loops and saturation.

#include "platform/mixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "clip_builder.h"
#include "support/sim_harness.h"
#include "support/test_data.h"

namespace vesquin {
namespace {

using testclips::Db;
using testclips::MakeClip;
using testclips::Rms;
using testclips::Sine;

std::vector<std::int16_t> Render(Mixer& mixer, std::size_t frames) {
  std::vector<std::int16_t> out(frames * static_cast<std::size_t>(mixer.OutputChannels()));
  mixer.Render(out.data(), frames);
  return out;
}

// A mono clip at the mixer's rate whose every sample is `value`.
ClipImage Constant(std::int16_t value, std::size_t frames) {
  return MakeClip(1, 48'000, 16, std::vector<std::int16_t>(frames, value));
}

// Level of the left channel relative to the right, in dB, of a fresh one-shot play.
struct Levels {
  double left;
  double right;
};
Levels Measure(Mixer& mixer, SoundVoice& voice) {
  voice.SetCurrentPosition(0);
  voice.Play(false);
  const auto out = Render(mixer, 4'800);
  voice.Stop();
  Render(mixer, Mixer::kFadeFrames);  // the stop's fade-out
  return {Rms(out, 2, 0, 0, 4'800), Rms(out, 2, 1, 0, 4'800)};
}

TEST(MixerLaws, PanAndVolumeFollowTheClassicUnits) {
  Mixer mixer;
  const auto samples = Sine(1'000.0, 48'000, 9'600, 8'000.0);
  auto voice = mixer.CreateVoice(MakeClip(1, 48'000, 16, samples), false);
  ASSERT_NE(voice, nullptr);

  // Pan 0, volume 0: the clip as recorded on both sides, no centre dip.
  voice->Play(false);
  auto out = Render(mixer, 9'600 + Mixer::kFadeFrames);
  for (std::size_t i = 0; i < 9'600; ++i) {
    ASSERT_EQ(out[2 * i], samples[i]);
    ASSERT_EQ(out[2 * i + 1], samples[i]);
  }
  const double full = Rms(out, 2, 0, 0, 4'800);

  ASSERT_TRUE(voice->SetPan(400));
  Levels l = Measure(mixer, *voice);
  EXPECT_NEAR(Db(l.left / l.right), -4.0, 0.02);
  EXPECT_NEAR(l.right, full, 0.5);

  ASSERT_TRUE(voice->SetPan(-2'500));
  l = Measure(mixer, *voice);
  EXPECT_NEAR(Db(l.right / l.left), -25.0, 0.05);
  EXPECT_NEAR(l.left, full, 0.5);

  ASSERT_TRUE(voice->SetPan(-10'000));
  l = Measure(mixer, *voice);
  EXPECT_EQ(l.right, 0.0);
  EXPECT_NEAR(l.left, full, 0.5);

  ASSERT_TRUE(voice->SetPan(10'000));
  l = Measure(mixer, *voice);
  EXPECT_EQ(l.left, 0.0);

  // Out of range: refused, and the previous pan stays in force.
  ASSERT_TRUE(voice->SetPan(400));
  EXPECT_FALSE(voice->SetPan(10'001));
  EXPECT_FALSE(voice->SetPan(-20'000));
  l = Measure(mixer, *voice);
  EXPECT_NEAR(Db(l.left / l.right), -4.0, 0.02);

  ASSERT_TRUE(voice->SetPan(0));
  ASSERT_TRUE(voice->SetVolume(-600));
  l = Measure(mixer, *voice);
  EXPECT_NEAR(Db(l.left / full), -6.0, 0.02);
  EXPECT_NEAR(Db(l.right / full), -6.0, 0.02);

  EXPECT_FALSE(voice->SetVolume(1));
  EXPECT_FALSE(voice->SetVolume(-10'001));
  l = Measure(mixer, *voice);
  EXPECT_NEAR(Db(l.left / full), -6.0, 0.02);

  ASSERT_TRUE(voice->SetVolume(-10'000));
  l = Measure(mixer, *voice);
  EXPECT_EQ(l.left, 0.0);
  EXPECT_EQ(l.right, 0.0);
}

TEST(MixerLaws, StereoClipKeepsItsSidesAndPanAttenuatesOne) {
  Mixer mixer;
  std::vector<std::int16_t> samples;
  for (int i = 0; i < 4'800; ++i) {
    samples.push_back(1'000);
    samples.push_back(-3'000);
  }
  auto voice = mixer.CreateVoice(MakeClip(2, 48'000, 16, samples), false);
  ASSERT_NE(voice, nullptr);
  voice->SetPan(-600);
  voice->Play(false);
  const auto out = Render(mixer, 100);
  EXPECT_EQ(out[0], 1'000);
  EXPECT_EQ(out[1], static_cast<std::int16_t>(std::lround(-3'000 * std::pow(10.0, -0.3))));
}

TEST(MixerLaws, GainChangesOfASoundingVoiceRampToTheExactValue) {
  Mixer mixer;
  auto voice = mixer.CreateVoice(Constant(10'000, 48'000), false);
  voice->Play(true);
  Render(mixer, 1'000);
  ASSERT_TRUE(voice->SetVolume(-600));
  const auto out = Render(mixer, 1'000);
  const auto exact = static_cast<std::int16_t>(std::lround(10'000 * std::pow(10.0, -0.3)));
  // Falling step by step, never below the new value, and there within 5 ms.
  EXPECT_LT(out[0], 10'000);
  EXPECT_GT(out[0], 9'900);
  for (std::size_t i = 1; i < 1'000; ++i) {
    ASSERT_LE(out[2 * i], out[2 * (i - 1)]);
    ASSERT_LT(out[2 * (i - 1)] - out[2 * i], 50);
    ASSERT_GE(out[2 * i], exact);
  }
  for (std::size_t i = 240; i < 1'000; ++i) ASSERT_EQ(out[2 * i], exact) << i;

  // A pan change ramps on the side it attenuates and lands exactly; the other side holds.
  ASSERT_TRUE(voice->SetPan(10'000));
  const auto panned = Render(mixer, 400);
  EXPECT_GT(panned[0], 0);
  EXPECT_EQ(panned[2 * 300], 0);
  for (std::size_t i = 0; i < 400; ++i) ASSERT_EQ(panned[2 * i + 1], exact);
}

// A clip whose sample n is n, so that positions can be read off the output.
ClipImage Counting(std::size_t frames) {
  std::vector<std::int16_t> s(frames);
  for (std::size_t i = 0; i < frames; ++i) s[i] = static_cast<std::int16_t>(i);
  return MakeClip(1, 48'000, 16, s);
}

TEST(MixerVoices, StatusAndPositionFollowPlayStopAndTheEnd) {
  Mixer mixer;
  auto voice = mixer.CreateVoice(Counting(1'000), false);
  EXPECT_EQ(voice->Status(), 0U);

  voice->Play(false);
  EXPECT_EQ(voice->Status(), kStatusPlaying);
  auto out = Render(mixer, 300);
  EXPECT_EQ(out[2 * 299], 299);

  // A second play from the start restarts it; it is not heard twice over itself: the first
  // play fades out as the second begins.
  voice->SetCurrentPosition(0);
  voice->Play(false);
  out = Render(mixer, 200);
  EXPECT_GT(out[0], 290);
  EXPECT_LE(out[2 * (Mixer::kFadeFrames - 1)] - static_cast<int>(Mixer::kFadeFrames - 1), 1);
  for (std::size_t i = Mixer::kFadeFrames; i < 200; ++i) ASSERT_EQ(out[2 * i], static_cast<int>(i));

  // Stop reports silence at once and keeps the position; playing without a rewind continues
  // there once the stop's fade-out has passed.
  voice->Stop();
  EXPECT_EQ(voice->Status(), 0U);
  out = Render(mixer, 150);
  EXPECT_EQ(out[2 * Mixer::kFadeFrames], 0);
  EXPECT_EQ(*std::max_element(out.begin() + 2 * Mixer::kFadeFrames, out.end()), 0);
  voice->Play(false);
  out = Render(mixer, 10);
  EXPECT_EQ(out[0], 200);

  // The end: playing for exactly the frames left, then silent and back at the start.
  out = Render(mixer, 789);
  EXPECT_EQ(out[2 * 788], 998);
  EXPECT_EQ(voice->Status(), kStatusPlaying);
  out = Render(mixer, 1);
  EXPECT_EQ(voice->Status(), 0U);
  out = Render(mixer, 5);
  EXPECT_EQ(out[0], 0);
  voice->Play(false);  // a resume after the end starts over
  out = Render(mixer, 5);
  EXPECT_EQ(out[2 * 4], 4);

  // Looping reports 5; a single play of a looping voice turns it back into 1.
  voice->SetCurrentPosition(0);
  voice->Play(true);
  EXPECT_EQ(voice->Status(), kStatusLooping);
  out = Render(mixer, 2'500);
  EXPECT_EQ(voice->Status(), kStatusLooping);
  EXPECT_EQ(out[2 * 1'000], 0);
  EXPECT_EQ(out[2 * 2'499], 499);
  voice->SetCurrentPosition(0);
  voice->Play(false);
  EXPECT_EQ(voice->Status(), kStatusPlaying);
  Render(mixer, 1'000);
  EXPECT_EQ(voice->Status(), 0U);

  // Destroying a sounding voice silences it, after its fade-out.
  voice->Play(true);
  voice.reset();
  out = Render(mixer, 200);
  EXPECT_EQ(*std::max_element(out.begin() + 2 * Mixer::kFadeFrames, out.end()), 0);
}

TEST(MixerVoices, ConvertedClipsKeepTheirFullLengthAndLevel) {
  SKIP_UNLESS_RATES_CONVERT();
  struct Case {
    std::uint16_t channels;
    std::uint32_t rate;
    std::uint16_t bits;
    std::size_t frames;
  };
  for (const Case c : {Case{1, 11'025, 8, 11'111}, Case{2, 22'050, 16, 22'222}, Case{1, 44'100, 16, 4'411},
                       Case{2, 48'000, 16, 4'800}, Case{1, 8'000, 16, 799}, Case{1, 192'000, 16, 19'201}}) {
    SCOPED_TRACE(c.rate);
    Mixer mixer;
    const double hz = 440.0;
    auto voice = mixer.CreateVoice(
        MakeClip(c.channels, c.rate, c.bits, Sine(hz, c.rate, c.frames, 8'000.0, c.channels)), false);
    ASSERT_NE(voice, nullptr);
    const std::uint64_t expected = (static_cast<std::uint64_t>(c.frames) * 48'000 + c.rate - 1) / c.rate;
    EXPECT_EQ(voice->LengthMs(), (c.frames * 1'000 + c.rate - 1) / c.rate);
    voice->Play(false);
    const auto out = Render(mixer, expected - 1);
    EXPECT_EQ(voice->Status(), kStatusPlaying);
    Render(mixer, 1);
    EXPECT_EQ(voice->Status(), 0U);
    // The level of a tone well inside every band survives the conversion.
    const std::size_t n = expected - 1;
    EXPECT_NEAR(Db(Rms(out, 2, 0, n / 4, 3 * n / 4) / (8'000.0 / std::sqrt(2.0))), 0.0,
                c.bits == 8 ? 0.1 : 0.02);
    // Nothing lost at the end: the last tenth still carries the tone.
    EXPECT_NEAR(Db(Rms(out, 2, 1, n - n / 10, n - 20) / (8'000.0 / std::sqrt(2.0))), 0.0, 0.3);
  }
}

TEST(MixerVoices, LoopsWithoutAClickAtTheSeam) {
  SKIP_UNLESS_RATES_CONVERT();
  // 441 Hz at 22,050 Hz: exactly 441 periods in one second, converted to 48 kHz.
  for (const std::uint32_t rate : {8'000U, 22'050U, 44'100U, 48'000U}) {
    SCOPED_TRACE(rate);
    Mixer mixer;
    auto voice = mixer.CreateVoice(MakeClip(1, rate, 16, Sine(441.0, rate, rate, 12'000.0)), false);
    voice->Play(true);
    const auto out = Render(mixer, 48'000 * 2 + 1'000);
    int interior = 0;
    for (std::size_t i = 1'000; i < 47'000; ++i)
      interior = std::max(interior, std::abs(out[2 * i] - out[2 * (i - 1)]));
    for (const std::size_t seam : {48'000U, 96'000U}) {
      for (std::size_t i = seam - 50; i < seam + 50; ++i) {
        ASSERT_LE(std::abs(out[2 * i] - out[2 * (i - 1)]), interior + 2) << i;
      }
    }
  }
}

TEST(MixerOutput, MixClampsAtFullScaleAndFillsOnlyTheFrontOfWiderLayouts) {
  Mixer mixer;
  auto a = mixer.CreateVoice(Constant(30'000, 1'000), false);
  auto b = mixer.CreateVoice(Constant(30'000, 1'000), false);
  auto c = mixer.CreateVoice(Constant(-30'000, 1'000), false);
  a->Play(false);
  b->Play(false);
  auto out = Render(mixer, 10);
  EXPECT_EQ(out[0], 32'767);
  b->Stop();
  a->Stop();
  Render(mixer, Mixer::kFadeFrames);
  c->SetCurrentPosition(0);
  c->Play(false);
  a->SetCurrentPosition(0);
  a->SetVolume(-10'000);
  a->Play(false);
  b->SetCurrentPosition(0);
  b->SetPan(10'000);
  b->SetVolume(0);
  auto d = mixer.CreateVoice(Constant(-30'000, 1'000), false);
  d->Play(false);
  out = Render(mixer, 10);
  EXPECT_EQ(out[0], -32'768);

  Mixer quad(4);
  auto e = quad.CreateVoice(Constant(1'000, 1'000), false);
  e->Play(false);
  out = Render(quad, 10);
  EXPECT_EQ(out[0], 1'000);
  EXPECT_EQ(out[1], 1'000);
  EXPECT_EQ(out[2], 0);
  EXPECT_EQ(out[3], 0);
}

TEST(MixerVoices, AdvanceLeavesEveryVoiceWhereRenderingWould) {
  SKIP_UNLESS_RATES_CONVERT();
  // Two mixers alike; one renders the stretches the other only advances over, and from then
  // on both must sound the same, sample for sample.
  std::vector<std::int16_t> noise(30'000);
  for (std::size_t i = 0; i < noise.size(); ++i)
    noise[i] = static_cast<std::int16_t>((i * 7'919) % 12'001) - 6'000;
  const ClipImage spatialClip = MakeClip(1, 48'000, 16, noise);
  const ClipImage flatClip = MakeClip(2, 22'050, 16, std::vector<std::int16_t>(4'000, 3'000));
  const ClipImage shortClip = Counting(700);
  struct Side {
    Mixer mixer;
    std::unique_ptr<SoundVoice> looping, once, spatial;
  } rendered, advanced;
  for (Side* side : {&rendered, &advanced}) {
    side->looping = side->mixer.CreateVoice(flatClip, false);
    side->once = side->mixer.CreateVoice(shortClip, false);
    side->spatial = side->mixer.CreateVoice(spatialClip, true);
    ASSERT_TRUE(side->spatial->SetPosition(2.0F, 0.0F, 1.0F));
    side->looping->Play(true);
    side->once->Play(false);
    side->spatial->Play(true);
    Render(side->mixer, 100);
    // Changes that ramp and fade across the stretch skipped next.
    side->looping->SetVolume(-1'200);
    side->looping->SetPan(-3'000);
    side->spatial->SetPosition(-3.0F, 1.0F, -2.0F);
  }
  Render(rendered.mixer, 150);
  advanced.mixer.Advance(150);
  EXPECT_EQ(Render(rendered.mixer, 2'000), Render(advanced.mixer, 2'000));
  Render(rendered.mixer, 50'000);
  advanced.mixer.Advance(50'000);
  EXPECT_EQ(advanced.once->Status(), 0U);
  EXPECT_EQ(advanced.looping->Status(), kStatusLooping);
  EXPECT_EQ(advanced.mixer.FramesRendered(), rendered.mixer.FramesRendered());
  rendered.once->Play(false);
  advanced.once->Play(false);
  EXPECT_EQ(Render(rendered.mixer, 1'000), Render(advanced.mixer, 1'000));
}

TEST(MixerVoices, RefusalsAndTheListener) {
  Mixer mixer(2, "/nonexistent/filters.sofa");
  EXPECT_NE(mixer.CreateListener(), nullptr);
  EXPECT_EQ(mixer.CreateVoice(MakeClip(2, 48'000, 16, std::vector<std::int16_t>(200)), true), nullptr);
  auto flat = mixer.CreateVoice(Constant(1, 10), false);
  EXPECT_FALSE(flat->SetPosition(1.0F, 0.0F, 1.0F));
  EXPECT_FALSE(flat->SetMinDistance(10.0F));
  auto spatial = mixer.CreateVoice(Constant(1, 10), true);
  ASSERT_NE(spatial, nullptr);
  EXPECT_FALSE(spatial->SetPan(100));
  EXPECT_TRUE(spatial->SetVolume(-100));
  EXPECT_FALSE(spatial->SetMinDistance(0.0F));
  // A clip with no sample data never reaches the mixer: the loader refuses it.
  auto bytes = testclips::WaveBytes(1, 48'000, 16, std::vector<std::int16_t>(3));
  testclips::Put32(bytes, 40, 0);
  ReverseClipHeader(bytes);
  EXPECT_FALSE(RestoreClipImage(bytes).has_value());
}

// The sample before the silence that follows frame `from` on the left channel (0 when the
// output is silent from there), and how many frames after `from` it lies.
struct LastSound {
  int value = 0;
  std::size_t after = 0;
};
LastSound LastBeforeSilence(const std::vector<std::int16_t>& out, std::size_t stride, std::size_t from) {
  LastSound last;
  for (std::size_t i = from; i < out.size() / stride; ++i) {
    if (out[i * stride] != 0) last = {out[i * stride], i - from};
  }
  return last;
}

TEST(MixerFades, StoppingReleasingOrRestartingAtAnyPointEndsNearSilence) {
  // A loud tone (-0.8 dBFS), stopped at many points of its cycle, in every way the game
  // stops a clip: a hard cut there would leave a step of up to 30,000.
  const auto tone = Sine(997.0, 48'000, 48'000, 30'000.0);
  int largestCut = 0;
  for (std::size_t at = 101; at < 2'000; at += 37) {
    SCOPED_TRACE(at);
    for (const int way : {0, 1, 2, 3}) {
      SCOPED_TRACE(way);
      Mixer mixer(2, "/nonexistent/filters.sofa");
      // way 3: a 3-D voice (speaker gains without filters) stopped like a flat one.
      auto voice = mixer.CreateVoice(MakeClip(1, 48'000, 16, tone), way == 3);
      ASSERT_NE(voice, nullptr);
      voice->Play(way == 1);
      const auto before = Render(mixer, at);
      largestCut = std::max(largestCut, std::abs(static_cast<int>(before[2 * (at - 1)])));
      auto silent = mixer.CreateVoice(Constant(0, 48'000), false);
      if (way == 0 || way == 3) voice->Stop();
      if (way == 1) voice.reset();
      if (way == 2) {
        // A restart fades the old play out; measured with the new play at zero volume.
        voice->SetVolume(kVolumeSilent);
        voice->SetCurrentPosition(0);
        voice->Play(false);
      }
      const auto after = Render(mixer, 1'000);
      const LastSound last = LastBeforeSilence(after, 2, 0);
      EXPECT_LE(std::abs(last.value), 64);
      EXPECT_LT(last.after, Mixer::kFadeFrames + (way == 2 ? Mixer::kRampFrames : 0));
      // The fade starts where the clip was, not with a step: no larger than the tone's own
      // largest step between two frames (30,000 * 2 pi * 997 / 48,000 = 3,916).
      EXPECT_LT(std::abs(after[0] - before[2 * (at - 1)]), 3'920);
    }
  }
  EXPECT_GT(largestCut, 25'000);
}

TEST(MixerFades, AStopHeardAfterItsFadeResumesWhereItStopped) {
  Mixer mixer;
  auto voice = mixer.CreateVoice(Counting(2'000), false);
  voice->Play(false);
  Render(mixer, 500);
  voice->Stop();
  EXPECT_EQ(voice->Status(), 0U);
  Render(mixer, 300);
  voice->Play(false);  // as ResumeClip
  const auto out = Render(mixer, 10);
  EXPECT_EQ(out[0], 500);
  EXPECT_EQ(out[18], 509);

  // A play stopped before any of it was heard leaves nothing to fade.
  voice->SetCurrentPosition(0);
  voice->Stop();
  Render(mixer, 200);
  voice->Play(false);
  voice->Stop();
  const auto none = Render(mixer, 200);
  EXPECT_EQ(*std::max_element(none.begin(), none.end()), 0);
}

TEST(MixerThreads, QueriesAnswerAtOnceWhileTheRendererCatchesUp) {
  Mixer mixer;
  auto voice = mixer.CreateVoice(Counting(1'000), false);
  // Nothing rendered in between: each query answers as the last command left the voice.
  voice->Play(true);
  EXPECT_EQ(voice->Status(), kStatusLooping);
  voice->Stop();
  EXPECT_EQ(voice->Status(), 0U);
  voice->Play(false);
  EXPECT_EQ(voice->Status(), kStatusPlaying);
  Render(mixer, 999);
  EXPECT_EQ(voice->Status(), kStatusPlaying);
  Render(mixer, 1);
  EXPECT_EQ(voice->Status(), 0U);  // the end, as the renderer published it
}

TEST(MixerThreads, AMixerThatNothingRendersTakesAnyNumberOfCommands) {
  // No output running (or a driver that plays and renders on one thread and has not rendered
  // yet): far more commands than the queue holds must neither hang nor be lost.
  Mixer mixer;
  auto voice = mixer.CreateVoice(Counting(1'000), false);
  for (int i = 0; i < 20'000; ++i) {
    voice->Stop();
    voice->SetCurrentPosition(0);
    ASSERT_TRUE(voice->SetPan(i % 2 == 0 ? kPanLeft : 0));
  }
  ASSERT_TRUE(voice->SetPan(kPanLeft));
  voice->Play(false);
  EXPECT_EQ(voice->Status(), kStatusPlaying);
  const auto out = Render(mixer, 10);
  EXPECT_EQ(out[2 * 9], 9);  // from the start, left only, as the last commands said
  EXPECT_EQ(out[2 * 9 + 1], 0);
}

TEST(MixerThreads, AdvanceMovesEveryVoiceOnAsRenderDoes) {
  SKIP_UNLESS_RATES_CONVERT();
  Mixer rendered;
  Mixer advanced;
  std::vector<std::unique_ptr<SoundVoice>> a;
  std::vector<std::unique_ptr<SoundVoice>> b;
  for (Mixer* m : {&rendered, &advanced}) {
    auto& voices = m == &rendered ? a : b;
    voices.push_back(m->CreateVoice(Counting(700), false));
    voices.push_back(m->CreateVoice(MakeClip(1, 22'050, 16, Sine(300.0, 22'050, 5'000, 9'000.0)), false));
    voices.push_back(m->CreateVoice(Counting(3'000), false));
    voices[0]->Play(true);
    voices[1]->Play(false);
    voices[2]->Play(false);
    voices[1]->SetVolume(-900);
  }
  std::vector<std::int16_t> scratch(1'234 * 2);
  rendered.Render(scratch.data(), 1'234);
  advanced.Advance(1'234);
  for (auto* voices : {&a, &b}) {
    (*voices)[2]->Stop();  // mid-fade when the two are compared
    (*voices)[0]->SetPan(-700);
  }
  rendered.Render(scratch.data(), 60);
  advanced.Advance(60);
  EXPECT_EQ(rendered.FramesRendered(), advanced.FramesRendered());
  for (std::size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i]->Status(), b[i]->Status()) << i;
  EXPECT_EQ(Render(rendered, 20'000), Render(advanced, 20'000));
  for (std::size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i]->Status(), b[i]->Status()) << i;
}

TEST(MixerThreads, TheGameNeverWaitsForTheRendererNorTheRendererForTheGame) {
  SKIP_UNLESS_RATES_CONVERT();
  // The audio callback's side on a thread of its own, as the sound output runs it, while the
  // game thread loads, plays, places, stops, waits for ends and lets clips go. Run under
  // ThreadSanitizer in the checks.
  Mixer mixer;
  std::atomic<bool> done{false};
  std::thread renderer([&] {
    std::vector<std::int16_t> buffer(256 * 2);
    while (!done.load()) {
      mixer.Render(buffer.data(), 256);
      mixer.Advance(64);
    }
  });
  const ClipImage shortClip = MakeClip(1, 22'050, 16, Sine(500.0, 22'050, 300, 9'000.0));
  const ClipImage spatialClip = MakeClip(1, 48'000, 16, Sine(700.0, 48'000, 2'000, 9'000.0));
  for (int round = 0; round < 30; ++round) {
    auto flat = mixer.CreateVoice(shortClip, false);
    auto spatial = mixer.CreateVoice(spatialClip, true);
    ASSERT_NE(flat, nullptr);
    ASSERT_NE(spatial, nullptr);
    spatial->SetPosition(static_cast<float>(round % 7) - 3.0F, 0.0F, 2.0F);
    spatial->SetMinDistance(1.5F);
    spatial->Play(true);
    flat->SetPan(round * 100);
    flat->Play(false);
    // As PlayClipAndWait: the end reaches the game thread.
    while (flat->Status() == kStatusPlaying) std::this_thread::yield();
    EXPECT_EQ(spatial->Status(), kStatusLooping);
    spatial->SetPosition(1.0F, 0.0F, static_cast<float>(round % 3));
    if (round % 2 == 0) spatial->Stop();
    EXPECT_NE(spatial->Status(), kStatusPlaying);
  }
  done = true;
  renderer.join();
}

TEST(MixerFades, CtrlDuringTheIntroFadesTheIntroOut) {
  SKIP_UNLESS_RATES_CONVERT();
  // The whole game on the simulator: a loud intro cut by Ctrl at many points, with every
  // other clip silent, so that what follows the stop is the intro's fade alone.
  testing::TempFolder data;
  testing::MakeGameData(data.Path(), {{"game/game_intro.vgz", 3'000}});
  const std::filesystem::path intro = data.Path() / "game" / "game_intro.vgz";
  testing::WriteFile(intro, testing::MakeClipFile(3'000, 1, 22'050, 16, 441.0, 0.9));
  for (const char* name : {"menu/bgrn.vgz", "menu/arrows.vgz"}) {
    testing::WriteFile(data.Path() / name, testing::MakeClipFile(2'000, 1, 48'000, 16, 440.0, 0.0));
  }
  testing::TempFolder work;
  for (const int ms : {333, 1'001, 1'717, 2'468}) {
    SCOPED_TRACE(ms);
    SimOptions options;
    options.dataFolder = data.Str() + "/";
    options.wavPath = (work.Path() / "out.wav").string();
    const testing::SimRun run =
        testing::RunSim(options, "wait " + std::to_string(ms) + "\nkey Ctrl\nwait 100\n");
    ASSERT_TRUE(run.Has(std::to_string(ms) + " stop game\\game_intro.vgz")) << run.Text();
    const std::vector<std::uint8_t> bytes = testing::ReadFile(options.wavPath);
    std::vector<std::int16_t> out((bytes.size() - 44) / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
      out[i] = static_cast<std::int16_t>(bytes[44 + 2 * i] | (bytes[45 + 2 * i] << 8));
    }
    const std::size_t stop = static_cast<std::size_t>(ms) * 48;
    const LastSound last = LastBeforeSilence(out, 2, stop);
    EXPECT_LE(std::abs(last.value), 64);
    EXPECT_LT(last.after, Mixer::kFadeFrames);
    EXPECT_GT(Rms(out, 2, 0, stop - 480, stop), 10'000.0);  // it was loud up to the stop
  }
}

}  // namespace
}  // namespace vesquin
