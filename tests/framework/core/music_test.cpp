// Music on SDL_mixer's music channel, heard for real: the runtime's audio
// stream runs on SDL's disk writer, and the music is found in the captured
// stream by correlation with the file's samples.
#include <SDL.h>
#include <SDL_mixer.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/core/kel.h"
#include "framework/core/music.h"
#include "framework/core/synth.h"
#include "framework/core/synth_effects.h"
#include "framework/core/wav-play.h"
#include "framework/platforms/sdl/wrapper_music.h"
#include "support/capture.h"
#include "support/wav_file.h"

using ::testing::HasSubstr;

namespace {

constexpr int kRate = 44100;
constexpr size_t kBufferSamples = 2 * 1024;  // one buffer: 1024 stereo frames
constexpr size_t kMusicFrames = kRate / 4;

// Interleaved stereo noise in -8000..8000, different in each channel.
std::vector<int16_t> noise(size_t frames, uint32_t seed) {
  std::vector<int16_t> samples(2 * frames);
  for (int16_t& s : samples) {
    seed = seed * 1664525u + 1013904223u;
    s = static_cast<int16_t>(static_cast<int>(seed >> 16) % 16001 - 8000);
  }
  return samples;
}

std::string stereo_wav(const std::vector<int16_t>& samples) {
  return wav_file::pcm(16, 2, kRate, wav_file::samples16(std::vector<int>(samples.begin(), samples.end())));
}

// Where `music` starts in `stream`, at or after `from`: the frame offset at
// which the stream correlates best with the music's first 1024 samples.
size_t locate(const std::vector<int16_t>& stream, const std::vector<int16_t>& music, size_t from = 0) {
  constexpr size_t kProbe = 1024;
  size_t best_at = 0;
  double best = 0;
  for (size_t at = from; at + kProbe <= stream.size(); at += 2) {
    double sum = 0;
    for (size_t k = 0; k < kProbe; ++k) sum += static_cast<double>(stream[at + k]) * music[k];
    if (sum > best) best = sum, best_at = at;
  }
  return best_at;
}

struct Fit {
  double gain;         // least-squares scale of the music in the stream
  double correlation;  // 1 for a perfect match
};
Fit fit(const std::vector<int16_t>& stream, const std::vector<int16_t>& music, size_t at) {
  double sm = 0, ss = 0, mm = 0;
  for (size_t k = 0; k < music.size() && at + k < stream.size(); ++k) {
    sm += static_cast<double>(stream[at + k]) * music[k];
    ss += static_cast<double>(stream[at + k]) * stream[at + k];
    mm += static_cast<double>(music[k]) * music[k];
  }
  return {sm / mm, sm / std::sqrt(ss * mm)};
}

class Music : public ::testing::Test {
 protected:
  void SetUp() override { start(); }
  void TearDown() override { kel_exit(); }
  // Opens the stream on the disk writer, which writes the file afresh.
  void start() {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "1", 1);
    kel_init();
    ASSERT_EQ(kel_init_audio_stream(kRate, 0), 1);
  }

  // Waits until the capture has grown by `samples` more samples. The bound
  // is a safety net against a hang, not a measure of speed.
  void wait_for_more(size_t samples) {
    const size_t target = file_size(raw) + 2 * samples;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (file_size(raw) < target && std::chrono::steady_clock::now() < deadline) SDL_Delay(2);
    ASSERT_GE(file_size(raw), target) << "the stream stopped";
  }
  static void wait_for_music_end() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (Mix_PlayingMusic() && std::chrono::steady_clock::now() < deadline) SDL_Delay(2);
    ASSERT_EQ(Mix_PlayingMusic(), 0);
  }
  // Stops the stream and returns all that it wrote.
  std::vector<int16_t> captured() {
    kel_exit();
    return read_s16le(raw);
  }

  TempDir dir;
  std::string raw = dir.file("stream.raw");
  std::vector<int16_t> tune = noise(kMusicFrames, 7);
  TempFile file{stereo_wav(tune)};
};

TEST_F(Music, PlaysOnTheMusicChannelScaledByTheVolume) {
  StdoutCapture out;
  EXPECT_EQ(music_load_ex(file.c_str(), 0), 1);  // once, at full volume
  EXPECT_EQ(strip_log_prefixes(out.take()), "Load music '" + file.path() + "'\n");
  EXPECT_EQ(Mix_VolumeMusic(-1), 128);
  wait_for_music_end();
  music_volume(0.5f);
  EXPECT_EQ(Mix_VolumeMusic(-1), 64);
  EXPECT_EQ(music_load_ex(file.c_str(), 0), 1);  // once more, at half
  wait_for_music_end();
  wait_for_more(4 * kBufferSamples);
  const std::vector<int16_t> stream = captured();

  const size_t first = locate(stream, tune);
  const Fit full = fit(stream, tune, first);
  EXPECT_GT(full.correlation, 0.9999);
  EXPECT_NEAR(full.gain, 1.0, 1e-4);
  const size_t second = locate(stream, tune, first + tune.size());
  const Fit half = fit(stream, tune, second);
  EXPECT_GT(half.correlation, 0.999);
  EXPECT_NEAR(half.gain, 0.5, 1e-3);
  for (size_t i = 0; i < first; ++i) ASSERT_EQ(stream[i], 0) << "nothing before the music";
}

TEST_F(Music, VolumesTurnIntoSdlMixersScale) {
  const struct { float volume; int level; } cases[] = {{1.0f, 128}, {0.5f, 64}, {0.0f, 0}, {0.999f, 127},
                                                       {2.0f, 128}, {0.3f, 38}};
  for (const auto& c : cases) {
    music_volume(c.volume);
    EXPECT_EQ(Mix_VolumeMusic(-1), c.level) << c.volume;
  }
  music_volume(-3.0f);  // a negative level only asks: unchanged
  EXPECT_EQ(Mix_VolumeMusic(-1), 38);
  music_volume(std::nanf(""));
  EXPECT_EQ(Mix_VolumeMusic(-1), 38);
}

// Stopping the music: with null, or with a file that cannot be loaded
// (SDL_mixer's error is logged, the result is still 1).
TEST_F(Music, StoppingSilencesTheStream) {
  const std::string missing = dir.file("missing.ogg");
  const struct { const char* name; int result; } stops[] = {{nullptr, 0}, {missing.c_str(), 1}};
  for (const auto& stop : stops) {
    if (&stop != &stops[0]) start();
    StdoutCapture out;
    ASSERT_EQ(music_load(file.c_str()), 1);
    wait_for_more(3 * tune.size());  // repeating: heard twice at least
    out.take();
    EXPECT_EQ(music_load(stop.name), stop.result);
    const std::string log = strip_log_prefixes(out.take());
    if (stop.name) {
      EXPECT_THAT(SDL_GetError(), HasSubstr("missing.ogg"));
      EXPECT_EQ(log, "Load music '" + missing + "'\nMix_LoadMUS: " + SDL_GetError() + "\n");
    } else {
      EXPECT_EQ(log, "Load music 'OFF'\n");
    }
    const size_t off_at = file_size(raw) / 2;
    EXPECT_EQ(Mix_PlayingMusic(), 0);
    wait_for_more(8 * kBufferSamples);
    const std::vector<int16_t> stream = captured();
    const size_t at = locate(stream, tune);
    EXPECT_GT(fit(stream, tune, at).correlation, 0.9999);
    EXPECT_GT(fit(stream, tune, at + tune.size()).correlation, 0.9999) << "repeated";
    // One buffer may have been mixed before the music stopped and written
    // after; from then on, silence.
    ASSERT_LT(off_at + kBufferSamples, stream.size());
    for (size_t i = off_at + kBufferSamples; i < stream.size(); ++i) ASSERT_EQ(stream[i], 0) << "sample " << i;
  }
}

TEST_F(Music, ANegativeLoopCountRepeatsUntilStopped) {
  StdoutCapture quiet;
  ASSERT_EQ(music_load_ex(file.c_str(), -5), 1);
  wait_for_more(4 * tune.size());
  EXPECT_EQ(Mix_PlayingMusic(), 1);
  music_pause(1);
  EXPECT_EQ(Mix_PausedMusic(), 1);
  music_pause(0);
  EXPECT_EQ(Mix_PausedMusic(), 0);
  EXPECT_EQ(wrapper_set_music_position(0.1f), 1);
  EXPECT_EQ(wrapper_is_other_music_playing(), 0);
  const std::vector<int16_t> stream = captured();
  const size_t at = locate(stream, tune);
  for (size_t n = 0; n < 3; ++n)
    EXPECT_GT(fit(stream, tune, at + n * tune.size()).correlation, 0.9999) << "repetition " << n;
}

// The runtime's own sources are mixed after the music, as before: the
// stream holds the music plus exactly what they add without it.
TEST_F(Music, TheRuntimesSourcesStillMixAfterTheMusic) {
  kel_set_skreel_callback([](int16_t* buffer, int frames, int) {
    for (int i = 0; i < 2 * frames; ++i) buffer[i] = static_cast<int16_t>(buffer[i] + 1000);
  });
  const TempFile level(wav_file::mono16(std::vector<int16_t>(512, 2000)));
  WAV* wav = wave_load(level.c_str());
  ASSERT_NE(wav, nullptr);
  ASSERT_EQ(kel_enable_wave(1), 1);
  const int voice = wave_play(wav, 1.0f, 1.0f, 0.0f, 1);
  ASSERT_GE(voice, 0);
  ASSERT_EQ(kel_enable_synth(1), 1);
  const unsigned stage = static_cast<unsigned>(synth_effects_tail_slot());
  syn_math_val(&synraw, stage, 500.5f / 32767.0f);
  syn_mix(&synraw, stage, 1);
  synraw.stages = stage + 1;
  const int left = 1000 + ((wave_voice(voice)->left.load() * 2000) >> 8) + 500;
  const int right = 1000 + ((wave_voice(voice)->right.load() * 2000) >> 8) + 500;
  wait_for_more(4 * kBufferSamples);

  StdoutCapture quiet;
  ASSERT_EQ(music_load_ex(file.c_str(), 0), 1);
  wait_for_music_end();
  wait_for_more(4 * kBufferSamples);
  kel_set_skreel_callback(nullptr);
  const std::vector<int16_t> stream = captured();
  wave_free(wav);

  const size_t at = locate(stream, tune);
  ASSERT_GE(at, 2u);
  EXPECT_EQ(stream[at - 2], left) << "the sources alone, just before the music";
  EXPECT_EQ(stream[at - 1], right);
  for (size_t k = 0; k < tune.size(); k += 2) {
    ASSERT_EQ(stream[at + k], tune[k] + left) << "left, frame " << k / 2;
    ASSERT_EQ(stream[at + k + 1], tune[k + 1] + right) << "right, frame " << k / 2;
  }
}

}  // namespace
