// The voice bank and the mixers: allocation, gains, steps, the end of a
// sample, looping, saturation, and the guards around freed and ended voices.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/core/wav-play.h"
#include "support/wav_file.h"
#include "support/alloc_counter.h"
#include "support/capture.h"

namespace {

// Loads a mono 16-bit sample holding `values`.
WAV* make_wav(const std::vector<int16_t>& values, uint32_t rate = 44100) {
  const TempFile file(wav_file::mono16(values, rate));
  return wave_load(file.c_str());
}

std::vector<int16_t> ramp(int n, int from = 1) {
  std::vector<int16_t> v(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) v[static_cast<std::size_t>(i)] = static_cast<int16_t>(from + i);
  return v;
}

class WavMix : public ::testing::Test {
 protected:
  void SetUp() override { wave_init(44100, 16); }
};

TEST(WavPlayUninitialised, RefusesToPlayOrCount) {
  WAV fake{};
  EXPECT_EQ(wave_play(&fake, 1, 1, 0, 0), -1);
  EXPECT_EQ(wave_count_playing(), 0);
}

TEST_F(WavMix, PlayTakesTheLowestFreeVoiceUntilTheBankIsFull) {
  WAV* wav = make_wav(ramp(10));
  EXPECT_EQ(wave_play(nullptr, 1, 1, 0, 0), -2);
  for (int i = 0; i < WAVE_VOICES; ++i) EXPECT_EQ(wave_just_play(wav), i);
  EXPECT_EQ(wave_play(wav, 0.5f, 2.0f, 0.5f, 1), -1);
  EXPECT_EQ(wave_take_voice(), -1);
  EXPECT_EQ(wave_count_playing(), WAVE_VOICES);
  EXPECT_EQ(wave_voice(0)->flags(), VOICE_TAKEN | VOICE_PLAYING | VOICE_ONESHOT);
  EXPECT_EQ(wave_voice(31)->left.load(), 256);

  // A dropped voice sounds on but is reused, and cut off, by the next play.
  int16_t buf[8] = {};
  wave_output(buf, 4);
  wave_drop_voice(3);
  EXPECT_TRUE(wave_voice(3)->playing());
  EXPECT_EQ(wave_play(wav, 1, 1, 0, 0), 3);
  EXPECT_EQ(wave_voice(3)->pos(), 0u);
  wave_drop_all();
  EXPECT_EQ(wave_count_playing(), 0);
  EXPECT_EQ(wave_take_voice(), 0);
  wave_free(wav);
}

TEST_F(WavMix, PanVolumeAndPitchSetGainsAndStep) {
  WAV* wav = make_wav(ramp(10), 22050);
  const int v = wave_play(wav, 0.5f, 1.0f, 0.0f, 0);
  const VOICE* voice = wave_voice(v);
  EXPECT_EQ(voice->left.load(), 128);
  EXPECT_EQ(voice->right.load(), 128);
  EXPECT_EQ(voice->step.load(), 128u);  // a 22050 Hz sample on a 44100 Hz stream
  wave_set_voice_pan(v, 2.0f);
  EXPECT_EQ(voice->pan.load(), 1.0f);
  EXPECT_EQ(voice->left.load(), 0);
  EXPECT_EQ(voice->right.load(), 128);
  wave_set_voice_pan(v, -0.25f);
  wave_set_voice_vol(v, 7.0f);
  EXPECT_EQ(voice->vol.load(), 1.0f);
  EXPECT_EQ(voice->left.load(), 256);
  EXPECT_EQ(voice->right.load(), 192);
  wave_set_voice_vol(v, NAN);
  EXPECT_EQ(voice->left.load(), 0);
  wave_set_voice_pitch(v, -3.0f);
  EXPECT_EQ(voice->step.load(), 0u);
  wave_set_voice_pitch(v, 1e30f);
  EXPECT_EQ(voice->step.load(), UINT32_MAX);
  // Indices outside the bank are ignored.
  wave_set_voice_pan(-1, 0), wave_set_voice_vol(32, 0), wave_start_voice(32), wave_stop_voice(-1);
  wave_drop_voice(99), wave_set_voice_pitch(32, 1), wave_set_voice_loop(-5, 1);
  EXPECT_EQ(wave_voice(32), nullptr);
  wave_free(wav);
}

TEST_F(WavMix, OneShotSoundsToItsEndThenFreesItsVoice) {
  WAV* wav = make_wav(ramp(100));
  const int v = wave_just_play(wav);
  std::vector<int16_t> buf(128, 0);
  EXPECT_EQ(wave_output_stereo(buf.data(), 64), 1);
  EXPECT_EQ(wave_voice(v)->pos(), 64u);
  EXPECT_EQ(buf[0], 1);
  EXPECT_EQ(buf[127], 64);
  std::vector<int16_t> rest(128, 0);
  EXPECT_EQ(wave_output_stereo(rest.data(), 64), 1);  // ends during this call
  EXPECT_EQ(rest[71], 100);
  EXPECT_EQ(rest[72], 0);
  EXPECT_EQ(wave_voice(v)->flags(), 0u);
  EXPECT_EQ(wave_voice(v)->pos(), 0u);
  EXPECT_EQ(wave_output_stereo(rest.data(), 64), 0);
  wave_free(wav);
}

TEST_F(WavMix, LoopingWrapsWithoutAGapAndZeroFramesChangeNothing) {
  WAV* wav = make_wav(ramp(10));
  const int v = wave_play(wav, 1, 1, -1, 1);
  std::vector<int16_t> buf(50, 0);
  EXPECT_EQ(wave_output_stereo(buf.data(), 25), 1);
  for (int i = 0; i < 25; ++i) {
    EXPECT_EQ(buf[2 * i], i % 10 + 1);
    EXPECT_EQ(buf[2 * i + 1], 0);  // panned hard left
  }
  EXPECT_EQ(wave_voice(v)->pos(), 5u);
  EXPECT_EQ(wave_output_stereo(buf.data(), 0), 1);
  EXPECT_EQ(wave_voice(v)->pos(), 5u);
  EXPECT_EQ(wave_output_stereo(nullptr, 10), 0);
  // A step longer than the whole sample still stays inside it.
  wave_set_voice_pitch(v, 25.0f);
  EXPECT_EQ(wave_output_stereo(buf.data(), 25), 1);
  EXPECT_LT(wave_voice(v)->pos(), 10u);
  wave_free(wav);
}

TEST_F(WavMix, SumsSaturateAndTheMonoMixerUsesTheLeftGain) {
  WAV* loud = make_wav({30000, -30000});
  wave_play(loud, 1, 1, 0, 1);
  wave_play(loud, 1, 1, 0, 1);
  int16_t stereo[4] = {100, -100, 0, 0};
  EXPECT_EQ(wave_output_stereo(stereo, 2), 2);
  EXPECT_EQ(stereo[0], 32767);
  EXPECT_EQ(stereo[1], 32767);
  EXPECT_EQ(stereo[2], -32768);
  wave_set_voice_pan(0, 1.0f);
  wave_set_voice_pan(1, 1.0f);
  int16_t mono[2] = {5, 5};
  wave_output(mono, 2);
  EXPECT_EQ(mono[0], 5);
  wave_free(loud);
}

TEST_F(WavMix, FreedSamplesDetachFromEveryVoice) {
  WAV* a = make_wav(ramp(50));
  WAV* b = make_wav(ramp(50));
  const int va = wave_just_play(a), va2 = wave_just_play(a), vb = wave_just_play(b);
  EXPECT_EQ(wave_is_wav_playing(a), 1);
  wave_free(a);
  for (int v : {va, va2}) {
    EXPECT_EQ(wave_voice(v)->flags() & (VOICE_TAKEN | VOICE_PLAYING), 0u);
    EXPECT_EQ(wave_voice(v)->wav.load(), nullptr);
    wave_start_voice(v);
    EXPECT_FALSE(wave_voice(v)->playing());
  }
  EXPECT_TRUE(wave_voice(vb)->playing());
  wave_stop_wav(b);
  EXPECT_EQ(wave_is_wav_playing(b), 0);
  EXPECT_EQ(wave_is_wav_playing(nullptr), 0);
  wave_free(b);
}

TEST_F(WavMix, TakenVoicesStopAtTheEndAndRestartFromTheStart) {
  WAV* wav = make_wav(ramp(10));
  const int v = wave_just_play(wav);
  wave_drop_voice(v);
  // The new owner keeps the voice when the sound it took over ends.
  EXPECT_EQ(wave_take_voice(), v);
  std::vector<int16_t> buf(64, 0);
  wave_output_stereo(buf.data(), 32);
  EXPECT_EQ(wave_voice(v)->flags(), VOICE_TAKEN);
  EXPECT_EQ(wave_voice(v)->pos(), 10u);
  wave_output_stereo(buf.data(), 32);  // not playing: nothing read past the end
  wave_start_voice(v);
  EXPECT_EQ(wave_voice(v)->pos(), 0u);
  std::vector<int16_t> again(8, 0);
  wave_output_stereo(again.data(), 4);
  EXPECT_EQ(again[6], 4);
  // Stopping keeps the position; starting resumes there.
  wave_stop_voice(v);
  wave_output_stereo(again.data(), 4);
  EXPECT_EQ(wave_voice(v)->pos(), 4u);
  wave_start_voice(v);
  EXPECT_EQ(wave_voice(v)->pos(), 4u);
  wave_free(wav);
}

TEST_F(WavMix, InitAgainSilencesVoicesButKeepsSamples) {
  WAV* wav = make_wav(ramp(10));
  wave_play(wav, 1, 1, 0, 1);
  wave_init(22050, 16);
  EXPECT_EQ(wave_count_playing(), 0);
  EXPECT_EQ(wave_voice(0)->wav.load(), nullptr);
  EXPECT_EQ(wave_play(wav, 1, 1, 0, 0), 0);
  EXPECT_EQ(wave_voice(0)->step.load(), 512u);
  wave_free(wav);
}

TEST_F(WavMix, EightBitSamplesPlayOnAnEightBitPlayer) {
  wave_init(44100, 8);
  WAV* wav = make_wav({0x1234, -0x100, 0x7f00});
  ASSERT_NE(wav, nullptr);
  ASSERT_EQ(wav->width, 8u);
  wave_just_play(wav);
  int16_t mono[4] = {};
  EXPECT_EQ(wave_output(mono, 4), 1);
  EXPECT_EQ(mono[0], 0x1200);
  EXPECT_EQ(mono[1], -0x100);
  EXPECT_EQ(mono[2], 0x7f00);
  EXPECT_EQ(mono[3], 0);
  wave_free(wav);
}

TEST_F(WavMix, MixingAllocatesAndPrintsNothing) {
  WAV* wav = make_wav(ramp(3000));
  for (int i = 0; i < WAVE_VOICES; ++i) wave_play(wav, 0.5f, 0.5f + i * 0.1f, 0, i % 2);
  std::vector<int16_t> buf(2048, 0);
  StdoutCapture capture;
  const long allocations = alloc_counter::during([&] {
    for (int i = 0; i < 20; ++i) {
      wave_output_stereo(buf.data(), 1024);
      wave_output(buf.data(), 1024);
    }
  });
  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(capture.take(), "");
  wave_free(wav);
}

}  // namespace
