// The voice bank under two threads: the logic thread changes voices while
// the audio thread mixes. Run under ThreadSanitizer; the checks below also
// fail if a mixer write-back undoes a restart, a stop, a drop or a take.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "framework/core/wav-play.h"
#include "support/wav_file.h"

namespace {

constexpr unsigned kBufferFrames = 256;

// A mono 16-bit WAV file of `frames` frames.
std::string ramp_wav(uint32_t frames) {
  std::vector<int16_t> values(frames);
  for (uint32_t i = 0; i < frames; ++i) values[i] = static_cast<int16_t>(static_cast<uint16_t>(i * 37u));
  return wav_file::mono16(values);
}

// Mixes on its own thread until stopped, counting finished calls.
class AudioThread {
 public:
  explicit AudioThread(unsigned frames = kBufferFrames)
      : thread_([this, frames] {
          std::vector<int16_t> buf(frames * 2);
          while (!stop_.load()) {
            if (calls_.load() % 3 == 2)
              wave_output(buf.data(), frames);
            else
              wave_output_stereo(buf.data(), frames);
            calls_.fetch_add(1);
          }
        }) {}
  ~AudioThread() {
    stop_.store(true);
    thread_.join();
  }
  uint64_t calls() const { return calls_.load(); }
  // Returns once `n` more mixing calls have finished.
  void wait_calls(uint64_t n) const {
    const uint64_t target = calls() + n;
    while (calls() < target) std::this_thread::yield();
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> calls_{0};
  std::thread thread_;
};

TEST(WavVoicesThreads, MixerNeverUndoesARestartOrAStop) {
  wave_init(44100, 16);
  const TempFile path(ramp_wav(1u << 20));
  WAV* wav = wave_load(path.c_str());
  ASSERT_NE(wav, nullptr);
  // Pitch 64: 64 sample frames per output frame, this many per mixing call.
  constexpr uint64_t kPerCall = 64 * kBufferFrames;
  AudioThread audio;
  for (int round = 0; round < 100; ++round) {
    const uint64_t before = audio.calls();
    wave_drop_voice(0);
    ASSERT_EQ(wave_play(wav, 1.0f, 64.0f, 0.0f, 1), 0);
    const uint64_t pos = wave_voice(0)->pos();
    const uint64_t after = audio.calls();
    // Only calls that saw the restart may have moved the voice since.
    ASSERT_LE(pos, (after - before + 1) * kPerCall) << "round " << round;

    while (wave_voice(0)->pos() < 5 * kPerCall) std::this_thread::yield();
    wave_stop_voice(0);
    audio.wait_calls(2);
    ASSERT_FALSE(wave_voice(0)->playing());
    const uint32_t stopped_at = wave_voice(0)->pos();
    audio.wait_calls(2);
    ASSERT_EQ(wave_voice(0)->pos(), stopped_at);
  }
  wave_free(wav);
}

TEST(WavVoicesThreads, FreeingASamplePlayingEverywhereWaitsForTheMixer) {
  wave_init(44100, 16);
  const TempFile path(ramp_wav(1u << 15));
  AudioThread audio(2048);
  for (int round = 0; round < 200; ++round) {
    WAV* wav = wave_load(path.c_str());
    ASSERT_NE(wav, nullptr);
    for (int v = 0; v < WAVE_VOICES; ++v) wave_play(wav, 1.0f, 1.0f + 0.01f * v, 0.0f, 1);
    audio.wait_calls(1);
    // The mixer is almost surely inside one of these voices right now.
    wave_free(wav);
    ASSERT_EQ(wave_count_playing(), 0);
  }
}

TEST(WavVoicesThreads, HammeredVoiceChangesStayConsistent) {
  wave_init(44100, 16);
  const TempFile paths[] = {TempFile(ramp_wav(300)), TempFile(ramp_wav(5000))};
  std::vector<WAV*> wavs = {wave_load(paths[0].c_str()), wave_load(paths[1].c_str())};
  ASSERT_NE(wavs[0], nullptr);
  ASSERT_NE(wavs[1], nullptr);
  std::mt19937 rng(1234);
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  AudioThread audio;
  for (int i = 0; i < 20000; ++i) {
    const int v = pick(WAVE_VOICES);
    WAV* w = wavs[static_cast<std::size_t>(pick(2))];
    switch (pick(12)) {
      case 0:
        wave_play(w, 0.1f * pick(11), 0.25f * pick(16), 0.2f * pick(11) - 1.0f, pick(2));
        break;
      case 1: wave_stop_voice(v); break;
      case 2: wave_start_voice(v); break;
      case 3: wave_drop_voice(v); break;
      case 4: wave_set_voice_pitch(v, 0.5f * pick(9)); break;
      case 5: wave_set_voice_pan(v, 0.5f * pick(5) - 1.0f); break;
      case 6: wave_set_voice_vol(v, 0.25f * pick(5)); break;
      case 7: wave_set_voice_loop(v, pick(2)); break;
      case 8: {
        const int taken = wave_take_voice();
        if (taken >= 0) {
          // A voice taken over from an ending one-shot stays with its owner.
          audio.wait_calls(1);
          ASSERT_TRUE(wave_voice(taken)->taken());
        }
        break;
      }
      case 9:
        wave_drop_all();
        for (int k = 0; k < WAVE_VOICES; ++k)
          ASSERT_EQ(wave_voice(k)->flags() & (VOICE_TAKEN | VOICE_PLAYING), 0u);
        break;
      case 10:
        wave_stop_wav(w);
        ASSERT_EQ(wave_is_wav_playing(w), 0);
        break;
      default: {
        // Free a sample that voices are playing and load it again.
        const std::size_t which = static_cast<std::size_t>(pick(2));
        wave_free(wavs[which]);
        wavs[which] = wave_load(paths[which].c_str());
        ASSERT_NE(wavs[which], nullptr);
        break;
      }
    }
    ASSERT_LE(wave_count_playing(), WAVE_VOICES);
  }
  for (WAV* w : wavs) wave_free(w);
}

}  // namespace
