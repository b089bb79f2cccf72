// The sample player and the synthesiser in the audio stream: their order and
// addition rules in the mixing hook, a growl heard from start to silence,
// and a WAV file heard through SDL's disk writer.
#include <SDL.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "framework/core/kel.h"
#include "framework/core/synth.h"
#include "framework/core/synth_effects.h"
#include "framework/core/wav-play.h"
#include "framework/platforms/sdl/wrapper_music.h"
#include "support/capture.h"
#include "support/fake_clock.h"
#include "support/wav_file.h"

namespace {

constexpr int kRate = 44100;
constexpr int kFrames = 1024;

class Sources : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_clock::install(0);
    kel_init();
    ASSERT_EQ(kel_init_audio_stream(kRate, 0), 1);
    SDL_PauseAudio(1);  // the test calls the hook itself
  }
  void TearDown() override {
    kel_exit();
    fake_clock::uninstall();
  }
  // One buffer through the hook, starting from what SDL_mixer would have
  // mixed (`base` in every sample).
  static std::vector<int16_t> mix(int16_t base = 0, int frames = kFrames) {
    std::vector<int16_t> stream(static_cast<size_t>(frames) * 2, base);
    mixaudio(MIX_CHANNEL_POST_VALUE, stream.data(), frames * 4, nullptr);
    return stream;
  }
  static constexpr int MIX_CHANNEL_POST_VALUE = -2;
};

// A mixed constant on a stage above the effect slots.
void synth_constant(int value) {
  const unsigned stage = static_cast<unsigned>(synth_effects_tail_slot());
  syn_math_val(&synraw, stage, (static_cast<float>(value) + 0.5f) / 32767.0f);
  syn_mix(&synraw, stage, 1);
  synraw.stages = stage + 1;
}

TEST_F(Sources, BytebeatWrapsSamplesClipAndTheSynthesiserSaturatesInThatOrder) {
  kel_set_skreel_callback([](int16_t* buffer, int frames, int) {
    for (int i = 0; i < 2 * frames; ++i) buffer[i] = static_cast<int16_t>(static_cast<uint16_t>(buffer[i] + 20000));
  });
  const TempFile file(wav_file::mono16(std::vector<int16_t>(4 * kFrames, -20000)));
  WAV* wav = wave_load(file.c_str());
  ASSERT_NE(wav, nullptr);
  ASSERT_EQ(kel_enable_wave(1), 1);
  ASSERT_GE(wave_just_play(wav), 0);
  ASSERT_EQ(kel_enable_synth(1), 1);
  synth_constant(16383);

  // 20000 + 20000 wraps to -25536; -20000 more clips at -32768; +16383.
  const std::vector<int16_t> out = mix(20000);
  EXPECT_EQ(out.front(), -16385);
  EXPECT_EQ(out.back(), -16385);
  kel_set_skreel_callback(nullptr);
  wave_free(wav);
}

TEST_F(Sources, TheSynthesiserSaturatesBothWays) {
  ASSERT_EQ(kel_enable_synth(1), 1);
  synth_constant(30000);
  EXPECT_EQ(mix(10000).front(), 32767);
  synth_constant(-30000);
  EXPECT_EQ(mix(-10000).front(), -32768);
  EXPECT_EQ(mix(100)[1], -29900);
}

TEST_F(Sources, ABufferLongerThanTheSynthesiserScratchIsMixedInPieces) {
  ASSERT_EQ(kel_enable_synth(1), 1);
  synth_constant(1234);
  const std::vector<int16_t> out = mix(0, 70000);
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](int16_t s) { return s == 1234; }));
}

int effect_calls = 0;
int counting_effect(SYNTH_EFFECT_STATE*) {
  ++effect_calls;
  return SYNTH_EFFECT_CONT;
}

TEST_F(Sources, EffectsAdvanceAtMostOncePerBufferAndOnlyAfterALogicTick) {
  ASSERT_EQ(kel_enable_synth(1), 1);
  synth_effect(counting_effect);
  effect_calls = 0;
  mix();
  EXPECT_EQ(effect_calls, 0);  // no logic tick yet
  for (int i = 0; i < 3; ++i) {
    kel_ticks.fetch_add(1);
    kel_settings.synth_effects_state.fetch_add(1);
  }
  mix();
  EXPECT_EQ(effect_calls, 1);
  EXPECT_EQ(kel_settings.synth_effects_state, 0);
  mix();
  EXPECT_EQ(effect_calls, 1);
  kel_ticks.fetch_add(1);
  kel_settings.synth_effects_state.fetch_add(1);
  mix();
  EXPECT_EQ(effect_calls, 2);
}

TEST_F(Sources, DisabledSourcesAreNotMixed) {
  const TempFile file(wav_file::mono16(std::vector<int16_t>(kFrames, 5000)));
  WAV* wav = wave_load(file.c_str());
  wave_just_play(wav);
  synth_constant(777);
  const std::vector<int16_t> out = mix(3);
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](int16_t s) { return s == 3; }));
  wave_free(wav);
}

// Starts a growl at the first logic update after 100 ms.
double growl_started_at = -1;
STATE growl_state = {nullptr,
                     [] {
                       if (growl_started_at < 0 && kel_seconds() >= 0.1) {
                         growl(32.704f, 3000);
                         growl_started_at = kel_seconds();
                       }
                     },
                     nullptr, nullptr};

TEST_F(Sources, AGrowlSoundsAtOnceDecaysToSilenceAndIsClearedAway) {
  ASSERT_EQ(kel_enable_synth(1), 1);
  kel_disable_render(1);
  state_switch(&growl_state);
  StdoutCapture quiet;

  // Five seconds of buffers, with the logic loop run between them on a
  // clock that follows the stream.
  const double buffer_seconds = static_cast<double>(kFrames) / kRate;
  std::vector<std::pair<double, int>> peaks;  // (start of buffer, peak)
  for (int n = 0; n * buffer_seconds < 5.0; ++n) {
    const double now = n * buffer_seconds;
    fake_clock::set(static_cast<uint32_t>(now * 1000));
    kel_run(1);
    const std::vector<int16_t> out = mix();
    int peak = 0;
    for (int16_t s : out) peak = std::max(peak, std::abs(static_cast<int>(s)));
    peaks.emplace_back(now, peak);
  }
  ASSERT_GE(growl_started_at, 0.1);

  double first_sound = -1, last_sound = -1;
  for (const auto& [at, peak] : peaks) {
    if (peak == 0) continue;
    if (first_sound < 0) first_sound = at;
    last_sound = at;
  }
  RecordProperty("growl_started", std::to_string(growl_started_at));
  RecordProperty("first_sound", std::to_string(first_sound));
  RecordProperty("last_sound", std::to_string(last_sound));
  EXPECT_GE(first_sound, growl_started_at - buffer_seconds) << "silent before the growl";
  EXPECT_LT(first_sound - growl_started_at, 0.2) << "sounding within 200 ms";
  EXPECT_GT(last_sound - growl_started_at, 2.5) << "a release of three seconds";
  EXPECT_LT(last_sound - growl_started_at, 3.5) << "silent within about 3.5 s";

  // Idle clearing has run since: the slot's five stages are all disabled.
  for (unsigned i = 0; i < 5; ++i) EXPECT_LE(syn_stage(&synraw, i)->type.load(), 0) << "stage " << i;
  EXPECT_EQ(synth_effects_active(), 0);
  state_switch(nullptr);
}

TEST(SourcesOnTheDevice, AWavFileIsHeardThroughAVoiceAtItsGains) {
  const TempDir dir;
  const std::string raw = dir.file("stream.raw");
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
  setenv("SDL_DISKAUDIODELAY", "1", 1);
  StdoutCapture quiet;
  kel_init();
  ASSERT_EQ(kel_init_audio_stream(kRate, 0), 1);

  std::vector<int16_t> sample(3000);
  for (size_t i = 0; i < sample.size(); ++i)
    sample[i] = static_cast<int16_t>((i % 2 ? 1 : -1) * (1000 + static_cast<int>(i * 7 % 20000)));
  const TempFile file(wav_file::mono16(sample));
  WAV* wav = wave_load(file.c_str());
  ASSERT_NE(wav, nullptr);
  ASSERT_EQ(kel_enable_wave(1), 1);
  // Volume 0.5, panned half left: left gain 128, right gain 64.
  ASSERT_EQ(wave_play(wav, 0.5f, 1.0f, -0.5f, 0), 0);

  // Let the voice play out, then a few more buffers.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (wave_count_playing() > 0 && std::chrono::steady_clock::now() < deadline) SDL_Delay(5);
  const size_t target = file_size(raw) + 4 * kFrames * 4;
  while (file_size(raw) < target && std::chrono::steady_clock::now() < deadline) SDL_Delay(5);
  kel_exit();
  wave_free(wav);

  const std::vector<int16_t> stream = read_s16le(raw);
  size_t first = 0;
  while (first < stream.size() && stream[first] == 0) ++first;
  ASSERT_EQ(first % (2 * kFrames), 0u) << "a voice starts with a buffer";
  ASSERT_GE(stream.size(), first + 2 * sample.size() + 2 * kFrames);
  for (size_t i = 0; i < sample.size(); ++i) {
    ASSERT_EQ(stream[first + 2 * i], (128 * sample[i]) >> 8) << "left, frame " << i;
    ASSERT_EQ(stream[first + 2 * i + 1], (64 * sample[i]) >> 8) << "right, frame " << i;
  }
  for (size_t i = first + 2 * sample.size(); i < stream.size(); ++i) ASSERT_EQ(stream[i], 0) << "after the end";
}

}  // namespace
