// The synthesiser rendering 1024-frame buffers at 44100 Hz, the size the
// audio stream asks for at that rate: one buffer lasts 23.2 ms of real
// time. "realtime" is how many buffers' worth of sound one buffer's time
// renders (above 1 keeps up); the empty synthesiser is the baseline.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

#include "framework/core/synth.h"

namespace {

constexpr unsigned kRate = 44100;
constexpr unsigned kFrames = 1024;
constexpr double kBufferSeconds = static_cast<double>(kFrames) / kRate;

SYN bench_syn;
std::array<int16_t, kFrames> buffer;

// 256 enabled stages, the eleven kinds in turn, each wired to the stages
// just below it; every stage is mixed.
void build_mixed_patch(SYN* syn) {
  syn_init(syn, kRate, 0.01f, 256);
  for (unsigned i = 0; i < SYN_STAGES; ++i) {
    const int below = static_cast<int>(i) - 1;
    const int below2 = static_cast<int>(i) - 2;
    const float freq = 55.0f + static_cast<float>(i) * 7.0f;
    switch (i % 11) {
      case 0: syn_osc_sine(syn, i, freq); break;
      case 1:
        syn_osc_triangle(syn, i, freq);
        syn_osc_in_sync(syn, i, below);
        break;
      case 2:
        syn_osc_pulse(syn, i, freq);
        syn_osc_in_amp(syn, i, below);
        break;
      case 3: syn_osc_noise(syn, i, freq * 4); break;
      case 4:
        syn_filt_lowpass(syn, i, 800);
        syn_filt_in(syn, i, below2);
        syn_filt_q(syn, i, 0.5f);
        break;
      case 5:
        syn_filt_highpass(syn, i, 200);
        syn_filt_in(syn, i, below2);
        break;
      case 6:
        syn_adsr(syn, i, 5, 50, 0.7f, 100);
        syn_adsr_in(syn, i, below);
        syn_reset(syn, i);
        syn_adsr_hold(syn, i, 1);  // held in sustain: stays enabled
        break;
      case 7: syn_ramp(syn, i, 0, 1, 60000); break;
      case 8: syn_math_mul(syn, i, below, below2); break;
      case 9: syn_math_add(syn, i, below, below2); break;
      default: syn_math_val(syn, i, 0.25f); break;
    }
    syn_mix(syn, i, 1);
  }
}

void report(benchmark::State& state) {
  state.counters["realtime"] = benchmark::Counter(kBufferSeconds, benchmark::Counter::kIsIterationInvariantRate);
}

// Baseline: no stages at all, only the per-sample conversion.
void BM_SynthEmpty(benchmark::State& state) {
  syn_init(&bench_syn, kRate, 1.0f, 0);
  for (auto _ : state) {
    syn_update(&bench_syn, buffer.data(), kFrames);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  report(state);
}
BENCHMARK(BM_SynthEmpty)->Unit(benchmark::kMicrosecond);

// 256 unused stages: one test each per sample.
void BM_SynthUnusedStages(benchmark::State& state) {
  syn_init(&bench_syn, kRate, 1.0f, 256);
  for (auto _ : state) {
    syn_update(&bench_syn, buffer.data(), kFrames);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  report(state);
}
BENCHMARK(BM_SynthUnusedStages)->Unit(benchmark::kMicrosecond);

// Every stage enabled, all kinds.
void BM_Synth256MixedStages(benchmark::State& state) {
  build_mixed_patch(&bench_syn);
  for (auto _ : state) {
    syn_update(&bench_syn, buffer.data(), kFrames);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  report(state);
}
BENCHMARK(BM_Synth256MixedStages)->Unit(benchmark::kMicrosecond);

}  // namespace
