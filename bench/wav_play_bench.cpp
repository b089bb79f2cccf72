// The sample player's stereo mixer on 1024-frame buffers at 44100 Hz, whose
// real-time length is 23.2 ms. "x_realtime" is how many seconds of audio are
// mixed per second of wall time; 23.2 ms divided by it is the time spent per
// buffer. The baseline adds 32 ready-made 16-bit signals into the buffer with
// saturation: the least work any 32-voice mixer does.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/core/wav-play.h"

namespace {

constexpr unsigned kRate = 44100;
constexpr unsigned kFrames = 1024;

// One second of a 441 Hz tone, written to a file and loaded once.
WAV* tone() {
  static WAV* wav = [] {
    wave_init(kRate, 16);
    std::string b = "RIFF0000WAVEfmt ";
    auto put = [&b](uint32_t v, int n) {
      for (int i = 0; i < n; ++i) b += static_cast<char>((v >> (8 * i)) & 0xff);
    };
    put(16, 4), put(1, 2), put(1, 2), put(kRate, 4), put(kRate * 2, 4), put(2, 2), put(16, 2);
    b += "data";
    put(kRate * 2, 4);
    for (unsigned i = 0; i < kRate; ++i)
      put(static_cast<uint16_t>(static_cast<int16_t>(12000 * std::sin(i * 2 * M_PI / 100))), 2);
    const std::string path = "/tmp/wav_play_bench_" + std::to_string(getpid()) + ".wav";
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(b.data(), 1, b.size(), f);
    std::fclose(f);
    WAV* loaded = wave_load(path.c_str());
    std::remove(path.c_str());
    return loaded;
  }();
  return wav;
}

void set_realtime_counter(benchmark::State& state) {
  state.counters["x_realtime"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kFrames / kRate, benchmark::Counter::kIsRate);
}

// Looping voices at different pitches and pans, so that every voice walks
// its own path through the sample.
void BM_WaveOutputStereo(benchmark::State& state) {
  WAV* wav = tone();
  wave_drop_all();
  const int voices = static_cast<int>(state.range(0));
  for (int i = 0; i < voices; ++i)
    wave_play(wav, 0.1f, 0.5f + 0.047f * i, -1.0f + 2.0f * i / WAVE_VOICES, 1);
  std::vector<int16_t> buffer(kFrames * 2, 0);
  for (auto _ : state) {
    benchmark::DoNotOptimize(wave_output_stereo(buffer.data(), kFrames));
    benchmark::ClobberMemory();
  }
  set_realtime_counter(state);
}
BENCHMARK(BM_WaveOutputStereo)->Arg(0)->Arg(1)->Arg(32);

void BM_Baseline_Sum32Signals(benchmark::State& state) {
  std::vector<std::array<int16_t, kFrames>> signals(32);
  for (std::size_t v = 0; v < signals.size(); ++v)
    for (unsigned i = 0; i < kFrames; ++i)
      signals[v][i] = static_cast<int16_t>(1200 * std::sin((i * (v + 1)) * 0.01));
  std::vector<int16_t> buffer(kFrames * 2, 0);
  for (auto _ : state) {
    for (const auto& s : signals) {
      for (unsigned i = 0; i < kFrames; ++i) {
        buffer[2 * i] = static_cast<int16_t>(std::clamp(buffer[2 * i] + s[i], -32768, 32767));
        buffer[2 * i + 1] =
            static_cast<int16_t>(std::clamp(buffer[2 * i + 1] + s[i], -32768, 32767));
      }
    }
    benchmark::ClobberMemory();
  }
  set_realtime_counter(state);
}
BENCHMARK(BM_Baseline_Sum32Signals);

}  // namespace
