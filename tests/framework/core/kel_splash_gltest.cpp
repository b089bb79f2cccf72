// The splash state in a real window: the pulsing background, the three
// spinning triangles where the turtle puts them, the turtle left as it was,
// and the two growls, each started once, at 0.5 s and 3 s.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "framework/core/kel.h"
#include "framework/core/sine.h"
#include "framework/core/synth.h"
#include "framework/core/synth_effects.h"
#include "framework/core/turtle.h"
#include "support/capture.h"
#include "support/fake_clock.h"
#include "support/app/gl_window.h"

namespace {

class Splash : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_clock::install(0);
    StdoutCapture quiet;
    kel_init();
    ASSERT_EQ(kel_graphics(640, 480, 0, 0), 1);
    splash = state_current();
  }
  void TearDown() override {
    StdoutCapture quiet;
    kel_exit();
    fake_clock::uninstall();
  }
  STATE* splash = nullptr;
};

TEST_F(Splash, IsTheStateThatKelInitMakesCurrent) {
  ASSERT_NE(splash, nullptr);
  EXPECT_EQ(splash->enter, nullptr);
  EXPECT_EQ(splash->leave, nullptr);
  EXPECT_NE(splash->update, nullptr);
  EXPECT_NE(splash->render, nullptr);
}

// A point of the emblem: `forward` and `sideways` in units of the
// triangles' size d, from the centre, in the frame of triangle `i`.
struct Frame {
  double seconds;
  double cx = 320, cy = 240;
  double d() const { return 120 * (1 + 0.25 * sine_deg(15 * seconds)); }
  std::array<int, 2> at(int i, double forward, double sideways) const {
    const double a = 60 * seconds + 120 * i;
    const double fx = sine_deg(a), fy = -sine_deg(a + 90);  // heading
    const double sx = sine_deg(a + 90), sy = sine_deg(a);   // to its right
    return {static_cast<int>(std::lround(cx + d() * (forward * fx + sideways * sx))),
            static_cast<int>(std::lround(cy + d() * (forward * fy + sideways * sy)))};
  }
};

TEST_F(Splash, DrawsThreeTrianglesInTheBeatsGreenOnItsOpposite) {
  struct Case {
    double seconds;
    int background, triangles;  // green
  };
  for (const Case& c : {Case{0.5, 0, 255}, Case{1.5, 255, 0}, Case{0.0, 128, 128}}) {
    fake_clock::set(static_cast<uint32_t>(c.seconds * 1000));
    turtle_set_pos_unscaled(7, 9);
    turtle_set_rgba(0.1f, 0.2f, 0.3f, 0.4f);
    turtle_set_angle(17);
    const TURTLE before = turtle;
    splash->render();
    EXPECT_EQ(std::memcmp(&turtle, &before, sizeof(TURTLE)), 0) << c.seconds;

    const Frame f{c.seconds};
    EXPECT_TRUE(near_rgb(pixel_at(2, 2), {0, c.background, 0})) << c.seconds;
    for (int i = 0; i < 3; ++i) {
      // Inside: between the centre and the middle of the far edge.
      const auto inside = f.at(i, 0.6, 0);
      EXPECT_TRUE(near_rgb(pixel_at(inside[0], inside[1]), {0, c.triangles, 0})) << c.seconds << " triangle " << i;
      const auto near_corner = f.at(i, 0.9, 0.8);
      EXPECT_TRUE(near_rgb(pixel_at(near_corner[0], near_corner[1]), {0, c.triangles, 0})) << c.seconds << " " << i;
      // Outside: beyond the far edge, and in the gap behind the triangle.
      const auto beyond = f.at(i, 1.15, 0);
      EXPECT_TRUE(near_rgb(pixel_at(beyond[0], beyond[1]), {0, c.background, 0})) << c.seconds << " " << i;
      const auto behind = f.at(i, -0.7, 0);
      EXPECT_TRUE(near_rgb(pixel_at(behind[0], behind[1]), {0, c.background, 0})) << c.seconds << " " << i;
    }
  }
}

// The slots' growls, read from the stages they built: the frequency of each
// slot's first oscillator.
std::vector<float> growls_heard() {
  std::vector<float> out;
  for (unsigned base = 0; base < static_cast<unsigned>(synth_effects_tail_slot()); base += 8) {
    const SYNFUNC& osc = synraw.stage[base + 1];
    if (osc.type.load() == SYN_TRIANGLE) out.push_back(osc.osc.freq);
  }
  return out;
}

TEST_F(Splash, GrowlsOnceAtHalfASecondAndOnceAtThreeSeconds) {
  syn_init(&synraw, 44100, 1.0f, 256);
  kel_settings.enable_synth = 1;
  struct Step {
    uint32_t ms;
    std::vector<float> growls;
  };
  const Step steps[] = {{0, {}},           {499, {}},          {500, {32.704f}},          {1000, {32.704f}},
                        {2999, {32.704f}}, {3000, {32.704f, 30.868f}}, {3100, {32.704f, 30.868f}},
                        {9000, {32.704f, 30.868f}}};
  for (const Step& s : steps) {
    fake_clock::set(s.ms);
    for (int tick = 0; tick < 3; ++tick) {
      splash->update();
      kel_ticks.fetch_add(1);
      synth_effects_update();  // the audio side runs the started effects
    }
    EXPECT_EQ(growls_heard(), s.growls) << s.ms << " ms";
  }
  kel_settings.enable_synth = 0;
}

}  // namespace
