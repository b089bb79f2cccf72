// The live window drawn in a real window and read back: a steady tune's
// trace where its values put it, frame after frame; the bytebeat picture
// filled with the values fed; the spectrum's peak at a sine's frequency;
// the message in the error colour, in the window's font.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "framework/core/kel.h"
#include "hack/tonebrook/scope.h"
#include "hack/tonebrook/scope_draw.h"
#include "hack/tonebrook/scope_font.h"
#include "support/app/gl_window.h"

namespace {

Rgb rgb_of(const SCOPE_COLOUR& c) {
  return {static_cast<int>(c[0] * 255), static_cast<int>(c[1] * 255), static_cast<int>(c[2] * 255)};
}

// The whole window, read back once.
class Frame {
 public:
  Frame() : px_(static_cast<size_t>(SCOPE_WINDOW_W) * SCOPE_WINDOW_H * 3) {
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, SCOPE_WINDOW_W, SCOPE_WINDOW_H, GL_RGB, GL_UNSIGNED_BYTE, px_.data());
  }
  Rgb at(int x, int y) const {
    const size_t i = (static_cast<size_t>(SCOPE_WINDOW_H - 1 - y) * SCOPE_WINDOW_W + x) * 3;
    return {px_[i], px_[i + 1], px_[i + 2]};
  }

 private:
  std::vector<unsigned char> px_;
};

class Scope : public ::testing::Test {
 protected:
  void SetUp() override {
    kel_init();
    ASSERT_EQ(kel_graphics(SCOPE_WINDOW_W, SCOPE_WINDOW_H, 0, 0), 1);
    ASSERT_TRUE(view.open());
  }
  void TearDown() override { kel_exit(); }
  void tune(uint32_t from, uint32_t to, uint8_t (*f)(uint32_t)) {
    std::vector<SCOPE_TUNE_VALUE> v;
    for (uint32_t t = from; t < to; ++t) v.push_back({t, f(t)});
    model.add_tune(v);
  }
  Frame draw() {
    model.update();
    view.draw(model);
    return Frame();
  }

  ScopeView view;
  ScopeModel model{44100, scope_sizes()};
  const SCOPE_LAYOUT l = scope_layout();
};

uint8_t saw(uint32_t t) { return static_cast<uint8_t>(t * 4); }  // a period of 64

TEST_F(Scope, ASteadyTuneStandsStillAtARisingCrossing) {
  const Rgb trace = rgb_of(SCOPE_TUNE_TRACE);
  // Fed in pieces that are not whole periods, drawn after each.
  uint32_t t = 0;
  for (uint32_t piece : {4096u, 1000u, 37u}) {
    tune(t, t + piece, saw);
    t += piece;
    const Frame f = draw();
    // The window starts where the saw crosses its middle going up (value
    // 128, t % 64 == 32), so column c shows the value of t = 32 + c.
    for (int c = 1; c < l.tune.w; ++c) {
      if ((32 + c) % 64 == 0) continue;  // the fall back to 0: a vertical line
      const float now = (saw(32 + c) - 127.5f) / 127.5f, before = (saw(31 + c) - 127.5f) / 127.5f;
      const int top = scope_trace_row(l.tune, now), bottom = scope_trace_row(l.tune, before);
      const int x = l.tune.x + c;
      for (int y = scope_trace_row(l.tune, 1); y <= scope_trace_row(l.tune, -1); ++y) {
        const bool on = y >= top && y <= bottom;
        ASSERT_EQ(near_rgb(f.at(x, y), trace), on)
            << "after " << t << " values, column " << c << " row " << y << " (trace " << top << " to " << bottom << ")";
      }
    }
  }
}

uint8_t pattern(uint32_t t) { return static_cast<uint8_t>(t ^ (t >> 3)); }

TEST_F(Scope, ThePictureFillsWithTheValuesColumnByColumn) {
  tune(0, 256 * 10, pattern);  // ten whole columns
  draw();
  tune(256 * 10, 256 * 10 + 100, pattern);  // and 100 values of the eleventh, sent on their own
  const Frame f = draw();
  // The newest column (t / 256 = 10) stands at the right edge.
  const int right = l.raster.x + l.raster.w - 1;
  struct Cell {
    uint32_t t;
    bool filled;
  };
  for (const Cell cell : {Cell{0, true}, {255, true}, {1000, true}, {2559, true}, {2560, true}, {2659, true},
                          {2660, false}, {2815, false}}) {
    const int x = right - (10 - static_cast<int>(cell.t / 256)), y = l.raster.y + static_cast<int>(cell.t % 256);
    const std::array<uint8_t, 3> want = scope_raster_rgb(cell.filled ? pattern(cell.t) : 0);
    EXPECT_TRUE(near_rgb(f.at(x, y), {want[0], want[1], want[2]}, 0)) << "t " << cell.t;
  }
  EXPECT_TRUE(near_rgb(f.at(right - 11, l.raster.y + 50), {0, 0, 0}, 0)) << "left of the first column";
}

TEST_F(Scope, TheSpectrumPeaksAtTheSinesFrequency) {
  std::vector<STEREO_FRAME16> sine(44100 / 5);
  for (size_t i = 0; i < sine.size(); ++i) {
    const auto v = static_cast<int16_t>(std::lround(16000 * std::sin(2 * std::numbers::pi * 1000 * i / 44100.0)));
    sine[i] = {v, v};
  }
  model.add_mix(sine);
  const Frame f = draw();
  auto bar_height = [&](double hz) {
    const int x = l.spectrum.x + 2 * model.spectrum_column_of(hz);
    int h = 0;
    for (int y = l.spectrum.y + l.spectrum.h - 19; y > l.spectrum.y && !near_rgb(f.at(x, y), rgb_of(SCOPE_BACKGROUND)); --y) ++h;
    return h;
  };
  EXPECT_GT(bar_height(1000), 120);
  EXPECT_LT(bar_height(200), 40);
  EXPECT_LT(bar_height(5000), 40);
}

TEST_F(Scope, AnErrorIsShownInItsColourAndPlayingIsNot) {
  const char* error = "?UNKNOWN SYMBOL: 'foo' at line 3, column 7";
  const Rgb red = rgb_of(SCOPE_ERROR);
  auto count = [&](const Frame& f, const Rgb& c) {
    int n = 0;
    for (int y = l.message_y - 8; y < l.message_y + 8; ++y)
      for (int x = l.info.x; x < l.info.x + l.info.w; ++x) n += near_rgb(f.at(x, y), c) ? 1 : 0;
    return n;
  };

  model.set_message(error, true);
  const Frame f = draw();
  // The first characters, pixel by pixel in the font.
  const Rgb background = rgb_of(SCOPE_BACKGROUND);
  for (int i = 0; i < 8; ++i)
    for (int y = 0; y < SCOPE_GLYPH_H; ++y)
      for (int x = 0; x < SCOPE_GLYPH_W; ++x)
        ASSERT_TRUE(near_rgb(f.at(l.text_x + i * SCOPE_GLYPH_W + x, l.message_y - SCOPE_GLYPH_H / 2 + y),
                             scope_font_ink(error[i], x, y) ? red : background))
            << "'" << error[i] << "' at " << x << "," << y;

  model.set_message("playing", false);
  const Frame g = draw();
  EXPECT_EQ(count(g, red), 0);
  EXPECT_GT(count(g, rgb_of(SCOPE_PLAYING)), 20);
}

}  // namespace
