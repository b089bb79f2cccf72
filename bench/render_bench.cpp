// Rendering against real time: 30 seconds of the classic 9-op tune at
// 44100 Hz, as `tonebrook --render` makes them (engine, buffers and the
// WAV file, new or replacing the last), beside the engine's callback alone
// on the same buffers, the rendering into a sink that keeps nothing, and the
// rendering with the picture. `x_realtime` is seconds of sound made per second of wall time.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/platforms/sdl/wrapper_music.h"
#include "hack/tonebrook/picture.h"
#include "hack/tonebrook/render.h"
#include "keltoolkit/skreelplayer/skreel.h"

namespace {

constexpr const char* kClassic = "compiled!aa8kaAkmd";  // t t 8 >> t 10 >> | *
constexpr unsigned kRate = 44100;
constexpr double kSeconds = 30.0;
constexpr uint64_t kFrames = static_cast<uint64_t>(kSeconds * kRate);

// Runs `body` once per iteration, after `before` (not timed), and reports
// seconds of sound per second of the time `body` took.
template <typename Before, typename Body>
void measure(benchmark::State& state, Before before, Body body) {
  std::chrono::duration<double> spent{0};
  for (auto _ : state) {
    state.PauseTiming();
    before();
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    body();
    spent += std::chrono::steady_clock::now() - start;
  }
  state.counters["x_realtime"] = kSeconds * static_cast<double>(state.iterations()) / spent.count();
}

template <typename Body>
void measure(benchmark::State& state, Body body) {
  measure(state, [] {}, body);
}

const std::string kWavPath = "/tmp/tonebrook-render-bench.wav";

void render_to_wav(benchmark::State& state, SoundPicture* picture) {
  WavWriter wav;
  if (!wav.open(kWavPath, kRate, kFrames)) state.SkipWithError("cannot write the WAV file");
  render_tune(kClassic, 8000.0f, kRate, kFrames, [&](const int16_t* stereo, std::size_t frames) {
    if (picture) picture->add(stereo, frames);
    return wav.write(stereo, frames);
  });
  if (picture) benchmark::DoNotOptimize(picture->draw());
  wav.commit();
}

void BM_CallbackAlone(benchmark::State& state) {
  const unsigned per_buffer = wrapper_default_buffer_frames(kRate);
  std::vector<int16_t> buffer(per_buffer * 2);
  measure(state, [&] {
    skreel_reset();
    skreel_play_url(nullptr);
    skreel_play_url(kClassic);
    for (uint64_t done = 0; done < kFrames; done += per_buffer) {
      skreelplayer_callback(buffer.data(), static_cast<int>(per_buffer), kRate);
      benchmark::ClobberMemory();
    }
  });
}

void BM_RenderIntoNothing(benchmark::State& state) {
  measure(state, [&] {
    render_tune(kClassic, 8000.0f, kRate, kFrames, [](const int16_t* stereo, std::size_t) {
      benchmark::DoNotOptimize(stereo);
      return true;
    });
  });
}

// A new file, as a first rendering makes it (the file of the previous
// iteration is removed before the timing).
void BM_RenderToNewWav(benchmark::State& state) {
  measure(state, [] { std::remove(kWavPath.c_str()); }, [&] { render_to_wav(state, nullptr); });
  std::remove(kWavPath.c_str());
}

// Over the file of the previous iteration: the file system then also frees
// the old file, and ext4 starts writing the new one out at the rename.
void BM_RenderReplacingWav(benchmark::State& state) {
  measure(state, [&] { render_to_wav(state, nullptr); });
  std::remove(kWavPath.c_str());
}

void BM_RenderToNewWavAndPicture(benchmark::State& state) {
  measure(state, [] { std::remove(kWavPath.c_str()); }, [&] {
    SoundPicture picture(kRate, kFrames, 4000.0);
    render_to_wav(state, &picture);
  });
  std::remove(kWavPath.c_str());
}

BENCHMARK(BM_CallbackAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderIntoNothing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderToNewWav)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderReplacingWav)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderToNewWavAndPicture)->Unit(benchmark::kMillisecond);

}  // namespace
