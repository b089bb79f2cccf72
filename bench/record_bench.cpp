// What recording costs the audio thread, and how fast a performance
// replays.
//
// The audio thread's work per 1024-frame buffer at 44100 Hz, as the mixing
// hook does it for the live player (the silence SDL_mixer hands over, the
// bytebeat callback on the classic 9-op tune, the stream tap, the frame
// count), without a tap and with the recording's tap through the stream
// tap dispatcher; `share_%` is the part of the buffer's 23.2 ms that its
// processor time takes. The ring is emptied outside the timing, as the main thread
// empties it.
//
// Replay against rendering: 30 seconds of a performance of three tunes and
// a silence, replayed from its edits, beside 30 seconds of one tune as
// --render makes them, both into a sink that keeps nothing. `x_realtime`
// is seconds of sound made per second of wall time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "framework/core/kel_shared.h"
#include "hack/tonebrook/record.h"
#include "hack/tonebrook/render.h"
#include "hack/tonebrook/replay.h"
#include "hack/tonebrook/taps.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "keltoolkit/skreelplayer/skreel_live.h"

namespace {

constexpr const char* kClassic = "compiled!aa8kaAkmd";  // t t 8 >> t 10 >> | *
constexpr unsigned kRate = 44100;
constexpr int kFrames = 1024;
constexpr double kBufferSeconds = static_cast<double>(kFrames) / kRate;

RecordRing ring(std::size_t{kRate} * 4, 64);

void record_tap(const int16_t* stereo, int frames) noexcept { ring.push(stereo, frames); }

// The mixing hook's work on one buffer, for the live player.
void mix(int16_t* stream) {
  std::memset(stream, 0, kFrames * 4);
  if (KEL_SKREEL_CALLBACK callback = kel_settings.callback_skreel.load()) callback(stream, kFrames, kRate);
  if (KEL_STREAM_TAP tap = kel_stream_tap()) tap(stream, kFrames);
  kel_advance_stream_frame(kFrames);
}

void audio_thread_share(benchmark::State& state, bool recording) {
  skreel_reset();
  skreel_send_tune(kClassic, 8000.0f);
  if (recording) taps_add_stream(record_tap);
  std::vector<int16_t> stream(kFrames * 2);
  const RecordRing::SOUND keep_nothing = [](std::span<const STEREO_FRAME16> f) { benchmark::DoNotOptimize(f.data()); };
  const RecordRing::SILENCE no_silence = [&](uint64_t, uint64_t) { state.SkipWithError("the ring fell behind"); };
  int since_drain = 0;
  for (auto _ : state) {
    mix(stream.data());
    benchmark::ClobberMemory();
    if (++since_drain == 64) {
      state.PauseTiming();
      ring.drain(keep_nothing, no_silence);
      for (SKREELEVENT e; skreel_take_event(&e);) {
      }
      since_drain = 0;
      state.ResumeTiming();
    }
  }
  taps_remove_stream(record_tap);
  kel_set_skreel_callback(nullptr);
  // The CPU time of a buffer over the buffer's duration, in per cent.
  state.counters["share_%"] = benchmark::Counter(kBufferSeconds / 100.0, benchmark::Counter::kIsIterationInvariantRate |
                                                                             benchmark::Counter::kInvert);
}

void BM_AudioThreadPerBuffer(benchmark::State& state) { audio_thread_share(state, false); }
void BM_AudioThreadPerBufferRecording(benchmark::State& state) { audio_thread_share(state, true); }

// --- Replay against rendering ------------------------------------------------

constexpr double kSeconds = 30.0;
constexpr uint64_t kTotal = static_cast<uint64_t>(kSeconds * kRate);

template <typename Body>
void measure(benchmark::State& state, Body body) {
  std::chrono::duration<double> spent{0};
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    body();
    spent += std::chrono::steady_clock::now() - start;
  }
  state.counters["x_realtime"] = kSeconds * static_cast<double>(state.iterations()) / spent.count();
}

bool keep_nothing(const int16_t* stereo, std::size_t) {
  benchmark::DoNotOptimize(stereo);
  return true;
}

void BM_RenderTune(benchmark::State& state) {
  measure(state, [] { render_tune(kClassic, 8000.0f, kRate, kTotal, keep_nothing); });
}

void BM_ReplayPerformance(benchmark::State& state) {
  // Three tunes and a silence across the 30 seconds, as a live player
  // would have taken them up.
  const std::string edits = "device 44100 1024\n"
                            "frame 22528 tune 8000 compiled!aa8kaAkmd\n"
                            "frame 441344 tune 8000 compiled!a3d\n"
                            "frame 882688 tune 11025 compiled!aa9kaDkmdaAkl\n"
                            "frame 1280000 silence\n"
                            "frame 1323008 end\n";
  PERFORMANCE performance;
  std::string error;
  if (!performance_parse(edits, &performance, &error)) state.SkipWithError(error.c_str());
  measure(state, [&] { replay_render(performance, kTotal, keep_nothing); });
}

BENCHMARK(BM_AudioThreadPerBuffer);
BENCHMARK(BM_AudioThreadPerBufferRecording);
BENCHMARK(BM_RenderTune)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplayPerformance)->Unit(benchmark::kMillisecond);

}  // namespace
