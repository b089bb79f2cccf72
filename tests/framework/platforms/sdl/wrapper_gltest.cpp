// Video modes in a real window on a virtual X server of 1920 x 1080.
#include <SDL.h>
#include <SDL_opengl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

#include "framework/core/kel.h"
#include "framework/platforms/sdl/wrapper.h"
#include "support/capture.h"

using ::testing::HasSubstr;

namespace {

class VideoMode : public ::testing::Test {
 protected:
  void SetUp() override {
    kel_init();
    ASSERT_EQ(wrapper_desktop_w(), 1920);
    ASSERT_EQ(wrapper_desktop_h(), 1080);
  }
  void TearDown() override { kel_exit(); }
};

std::array<int, 2> surface_size() {
  const SDL_Surface* s = SDL_GetVideoSurface();
  return s ? std::array<int, 2>{s->w, s->h} : std::array<int, 2>{0, 0};
}

TEST_F(VideoMode, DefaultWindowIsHalfTheDesktop) {
  StdoutCapture out;
  ASSERT_EQ(wrapper_set_graphics(0, 0, 0, 0), 1);
  const std::string log = strip_log_prefixes(out.take());
  EXPECT_THAT(log, HasSubstr("Set graphics 0x0\nDesktop: 1920x1080\ndraw: reset (960 x 540)\n"));
  EXPECT_EQ(wrapper_display_w(), 960);
  EXPECT_EQ(wrapper_display_h(), 540);
  EXPECT_EQ(surface_size(), (std::array<int, 2>{960, 540}));
  EXPECT_EQ(kel_w(), 960.0f);
}

TEST_F(VideoMode, EitherSizeMissingHalvesBoth) {
  ASSERT_EQ(wrapper_set_graphics(800, 0, 0, 0), 1);
  EXPECT_EQ(wrapper_display_w(), 400);
  EXPECT_EQ(wrapper_display_h(), 540);
}

TEST_F(VideoMode, GivenSizesAreKept) {
  ASSERT_EQ(kel_graphics(320, 200, 0, 0), 1);
  EXPECT_EQ(surface_size(), (std::array<int, 2>{320, 200}));
  EXPECT_EQ(wrapper_fullscreen(), 0);
}

TEST_F(VideoMode, FullscreenWithoutASizeTakesTheWholeDesktop) {
  ASSERT_EQ(wrapper_set_graphics(0, 0, 0, 1), 1);
  EXPECT_EQ(wrapper_display_w(), 1920);
  EXPECT_EQ(wrapper_display_h(), 1080);
  EXPECT_EQ(wrapper_fullscreen(), 1);
  StdoutCapture out;
  EXPECT_EQ(wrapper_set_fullscreen(1), 1);  // already: the mode is left alone
  EXPECT_EQ(out.take(), "");
}

TEST_F(VideoMode, SwitchingToFullscreenKeepsTheWindowSize) {
  ASSERT_EQ(wrapper_set_graphics(640, 480, 0, 0), 1);
  ASSERT_EQ(wrapper_set_fullscreen(1), 1);
  EXPECT_EQ(wrapper_display_w(), 640);
  EXPECT_EQ(wrapper_display_h(), 480);
  EXPECT_EQ(wrapper_fullscreen(), 1);
}

TEST_F(VideoMode, DrawingScaleMapsALogicalAreaOntoTheWindow) {
  ASSERT_EQ(wrapper_set_graphics(640, 480, 0, 0), 1);
  wrapper_reset_opengl_matrix(320, 240);
  std::array<float, 16> m{};
  glGetFloatv(GL_MODELVIEW_MATRIX, m.data());
  EXPECT_FLOAT_EQ(m[0], 2.0f);
  EXPECT_FLOAT_EQ(m[5], 2.0f);
  EXPECT_FLOAT_EQ(m[10], 1.0f);
  wrapper_reset_opengl_matrix(0, 0);
  glGetFloatv(GL_MODELVIEW_MATRIX, m.data());
  EXPECT_FLOAT_EQ(m[0], 1.0f);
}

}  // namespace
