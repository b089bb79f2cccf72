// The drawing side per frame, beside the 16.7 ms of a frame at 60 per
// second: 5000 sprites of one atlas batched against drawn one by one, and
// 5000 polygon triangles; and packing 4096 random rectangles into a
// 2048 x 2048 atlas, which happens at load time. "frame" is the share of a
// 60 Hz frame that one iteration takes (1 is the whole frame); the CPU
// column is the time the drawing code itself spends, the rest is the
// renderer's.
//
// The GL cases need a window: run under a virtual X server, e.g.
//   SDL_AUDIODRIVER=dummy xvfb-run -a -s "-screen 0 1920x1080x24" build/bench/graphics_bench
// (Mesa's software renderer there: a real card is far faster).
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <vector>

#include "framework/core/atlas.h"
#include "framework/core/kel.h"
#include "framework/core/poly.h"
#include "framework/core/sprite.h"
#include "framework/core/texture-atlas.h"
#include "framework/core/turtle.h"

namespace {

constexpr int kSprites = 5000;
constexpr int kTriangles = 5000;
constexpr double kFrameSeconds = 1.0 / 60;

// A 640 x 480 window and an atlas of one 16 x 16 sprite, made once.
SPRITE* window_and_sprite() {
  static SPRITE* sprite = [] {
    if (std::getenv("DISPLAY") == nullptr) return static_cast<SPRITE*>(nullptr);
    kel_init();
    if (kel_graphics(640, 480, 0, 0) != 1) return static_cast<SPRITE*>(nullptr);
    IMAGE* atlas = atlas_get(0);
    atlas_create_texture(atlas, 64, 64);
    std::vector<uint32_t> texels(16 * 16, 0xFF40C0FF);
    SPRITE* s = atlas_add_rgba_image(atlas, reinterpret_cast<const unsigned char*>(texels.data()), 16, 16, 16, 1);
    atlas_upload(atlas, 0, PIXEL_RGBA8);
    return s;
  }();
  return sprite;
}

std::vector<float> positions(int n) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> x(0, 640), y(0, 480);
  std::vector<float> p;
  for (int i = 0; i < n; ++i) {
    p.push_back(x(rng));
    p.push_back(y(rng));
  }
  return p;
}

// Times the loop itself (real time, the renderer's work included) for the
// "frame" counter.
class FrameShare {
 public:
  explicit FrameShare(benchmark::State& state) : state_(state), start_(std::chrono::steady_clock::now()) {}
  ~FrameShare() {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    if (state_.iterations() > 0)
      state_.counters["frame"] = seconds / static_cast<double>(state_.iterations()) / kFrameSeconds;
  }
  FrameShare(const FrameShare&) = delete;
  FrameShare& operator=(const FrameShare&) = delete;

 private:
  benchmark::State& state_;
  std::chrono::steady_clock::time_point start_;
};

void BM_SpritesBatched(benchmark::State& state) {
  SPRITE* sprite = window_and_sprite();
  if (!sprite) return state.SkipWithError("no window (run under xvfb-run)");
  const std::vector<float> p = positions(kSprites);
  const FrameShare share(state);
  for (auto _ : state) {
    for (int i = 0; i < kSprites; ++i) {
      turtle_set_pos_unscaled(p[2 * i], p[2 * i + 1]);
      sprite_batch_plot(sprite, 0, 0);
    }
    sprite_batch_draw(atlas_get(0));
    glFinish();
  }
}
BENCHMARK(BM_SpritesBatched)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SpritesSingly(benchmark::State& state) {
  SPRITE* sprite = window_and_sprite();
  if (!sprite) return state.SkipWithError("no window (run under xvfb-run)");
  const std::vector<float> p = positions(kSprites);
  const FrameShare share(state);
  for (auto _ : state) {
    for (int i = 0; i < kSprites; ++i) {
      turtle_set_pos_unscaled(p[2 * i], p[2 * i + 1]);
      sprite_draw(sprite, 0);
    }
    glFinish();
  }
}
BENCHMARK(BM_SpritesSingly)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PolygonTriangles(benchmark::State& state) {
  if (!window_and_sprite()) return state.SkipWithError("no window (run under xvfb-run)");
  const std::vector<float> p = positions(kTriangles);
  const FrameShare share(state);
  for (auto _ : state) {
    poly_draw_start();
    for (int i = 0; i < kTriangles; ++i) {
      turtle_set_pos_unscaled(p[2 * i], p[2 * i + 1]);
      poly_point();
      turtle_trans(12, 0);
      poly_point();
      turtle_trans(-6, 10);
      poly_point();
      poly_plot();
    }
    poly_draw_end();
    glFinish();
  }
}
BENCHMARK(BM_PolygonTriangles)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Pack4096RandomRectangles(benchmark::State& state) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<uint32_t> side(4, 40);
  std::vector<uint32_t> sizes;
  for (int i = 0; i < 2 * 4096; ++i) sizes.push_back(side(rng));
  int placed = 0;
  for (auto _ : state) {
    texture_atlas_t* packer = texture_atlas_new(2048, 2048, 1);
    placed = 0;
    for (int i = 0; i < 4096; ++i) placed += texture_atlas_get_region(packer, sizes[2 * i], sizes[2 * i + 1]).x >= 0;
    texture_atlas_delete(packer);
  }
  state.counters["placed"] = placed;
}
BENCHMARK(BM_Pack4096RandomRectangles)->Unit(benchmark::kMillisecond);

}  // namespace
