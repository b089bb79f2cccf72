// The live window's cost per frame, against the 16.7 ms of a frame at 60
// a second, with a tune at 8000 Hz on a device at 44100 Hz (133 values of
// the tune and 735 frames of the mix a frame):
// - BM_ScopeCompute: the main thread's work without drawing: draining the
//   taps' rings into the model and computing the traces, the picture and
//   the spectrum (the taps' own pushes, the audio thread's part, are
//   included); beside BM_FftAlone, the spectrum's FFT by itself;
// - BM_ScopeFrame: a whole frame in the 960 x 504 window: the above, drawing
//   everything, the buffer swap and waiting for the renderer; beside
//   BM_ClearAndSwap, a frame that only clears and swaps.
// "frame" is the share of a 60 Hz frame that one iteration takes in real
// time; "core_at_60" the share of one core that 60 iterations a second
// take in processor time, the whole process's (the renderer's threads
// included).
//
// The frame cases need a window: run under a virtual X server with Mesa's
// software renderer, e.g.
//   SDL_AUDIODRIVER=dummy LIBGL_ALWAYS_SOFTWARE=1 xvfb-run -a -s "-screen 0 1920x1080x24" build/bench/scope_bench
#include <GL/gl.h>
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "framework/core/draw.h"
#include "framework/core/kel.h"
#include "hack/tonebrook/scope.h"
#include "hack/tonebrook/scope_draw.h"
#include "hack/tonebrook/scope_feed.h"
#include "hack/tonebrook/scope_window.h"

namespace {

constexpr double kFrameSeconds = 1.0 / 60;
constexpr unsigned kDeviceRate = 44100;

double process_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Times the loop in real and process time for the "frame" and
// "core_at_60" counters.
class Shares {
 public:
  explicit Shares(benchmark::State& state)
      : state_(state), wall_(std::chrono::steady_clock::now()), cpu_(process_seconds()) {}
  ~Shares() {
    const double n = static_cast<double>(state_.iterations());
    if (n == 0) return;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count();
    state_.counters["frame"] = wall / n / kFrameSeconds;
    state_.counters["core_at_60"] = (process_seconds() - cpu_) / n * 60;
  }
  Shares(const Shares&) = delete;
  Shares& operator=(const Shares&) = delete;

 private:
  benchmark::State& state_;
  std::chrono::steady_clock::time_point wall_;
  double cpu_;
};

// One frame's worth of sound: the classic tune's values at 8000 Hz and its
// held, centred values at 44100 Hz, continuing from frame to frame.
class Sound {
 public:
  void push_frame() {
    t_.clear();
    v_.clear();
    for (int i = 0; i < 133 + (frame_ % 3 == 0); ++i) {
      t_.push_back(next_t_);
      v_.push_back(value(next_t_++));
    }
    mix_.clear();
    for (int i = 0; i < 735; ++i) {
      const auto s = static_cast<int16_t>((value(static_cast<uint32_t>(mix_frame_++ * 8000 / kDeviceRate)) - 128) * 200);
      mix_.push_back(s);
      mix_.push_back(s);
    }
    ++frame_;
    scope_tap_tune(t_.data(), v_.data(), static_cast<int>(t_.size()));
    scope_tap_mix(mix_.data(), 735);
  }

 private:
  static uint8_t value(uint32_t t) { return static_cast<uint8_t>(t * (((t >> 12) | (t >> 8)) & 63 & (t >> 4))); }
  std::vector<uint32_t> t_;
  std::vector<uint8_t> v_;
  std::vector<int16_t> mix_;
  uint32_t next_t_ = 0;
  uint64_t mix_frame_ = 0;
  int frame_ = 0;
};

void BM_ScopeCompute(benchmark::State& state) {
  scope_feed_start();
  ScopeModel model(kDeviceRate, scope_sizes());
  Sound sound;
  for (int i = 0; i < 600; ++i) {  // ten seconds in
    sound.push_frame();
    scope_feed_drain(model);
  }
  const Shares shares(state);
  for (auto _ : state) {
    sound.push_frame();
    scope_feed_drain(model);
    model.update();
    benchmark::DoNotOptimize(model.spectrum().data());
  }
}
BENCHMARK(BM_ScopeCompute)->Unit(benchmark::kMicrosecond);

// The spectrum's transform: 4096 points at 44100 Hz.
void BM_FftAlone(benchmark::State& state) {
  constexpr int n = 4096;
  float* in = static_cast<float*>(fftwf_malloc(sizeof(float) * n));
  auto* out = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * (n / 2 + 1)));
  fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);
  for (int i = 0; i < n; ++i) in[i] = static_cast<float>(i % 100) / 100.0f;
  const Shares shares(state);
  for (auto _ : state) {
    fftwf_execute(plan);
    benchmark::DoNotOptimize(out[1][0]);
  }
  fftwf_destroy_plan(plan);
  fftwf_free(in);
  fftwf_free(out);
}
BENCHMARK(BM_FftAlone)->Unit(benchmark::kMicrosecond);

// The window, made once.
bool window() {
  static const bool open = [] {
    if (std::getenv("DISPLAY") == nullptr) return false;
    kel_init();
    return kel_graphics(SCOPE_WINDOW_W, SCOPE_WINDOW_H, 0, 0) == 1 && scope_window_open(kDeviceRate) == 1;
  }();
  return open;
}

void BM_ScopeFrame(benchmark::State& state) {
  if (!window()) return state.SkipWithError("no window (run under xvfb-run)");
  scope_window_set_file("examples/classic.txt");
  scope_window_set_instructions(15);
  scope_window_set_message("playing", 0);
  Sound sound;
  for (int i = 0; i < 600; ++i) {
    sound.push_frame();
    scope_window_render();
    draw_flip();
  }
  glFinish();
  const Shares shares(state);
  for (auto _ : state) {
    sound.push_frame();
    scope_window_render();
    draw_flip();
    glFinish();
  }
}
BENCHMARK(BM_ScopeFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ClearAndSwap(benchmark::State& state) {
  if (!window()) return state.SkipWithError("no window (run under xvfb-run)");
  const Shares shares(state);
  for (auto _ : state) {
    draw_clear(0.05f, 0.055f, 0.07f);
    draw_flip();
    glFinish();
  }
}
BENCHMARK(BM_ClearAndSwap)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
