// Drawing state in a real OpenGL window (Mesa's software renderer on a
// virtual X server): what draw_reset sets up, read back as pixels.
#include <SDL_opengl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

#include "framework/core/draw.h"
#include "framework/core/kel.h"
#include "framework/platforms/sdl/wrapper.h"
#include "support/capture.h"

using ::testing::HasSubstr;

namespace {

using Rgb = std::array<int, 3>;

// The pixel at window position (x, y), counted from the top-left corner.
Rgb pixel_at(int x, int y) {
  std::array<unsigned char, 4> p{};
  glReadPixels(x, wrapper_display_h() - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p.data());
  return {p[0], p[1], p[2]};
}

// Fills the rectangle from (x0, y0) to (x1, y1) in drawing coordinates.
void fill_rect(float x0, float y0, float x1, float y1, Rgb c) {
  const std::array<float, 8> v = {x0, y0, x1, y0, x1, y1, x0, y1};
  std::array<unsigned char, 16> colours{};
  for (int i = 0; i < 4; ++i) {
    colours[i * 4 + 0] = static_cast<unsigned char>(c[0]);
    colours[i * 4 + 1] = static_cast<unsigned char>(c[1]);
    colours[i * 4 + 2] = static_cast<unsigned char>(c[2]);
    colours[i * 4 + 3] = 255;
  }
  glDisable(GL_TEXTURE_2D);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glVertexPointer(2, GL_FLOAT, 0, v.data());
  glColorPointer(4, GL_UNSIGNED_BYTE, 0, colours.data());
  glDrawArrays(GL_QUADS, 0, 4);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glEnable(GL_TEXTURE_2D);
  glFinish();
}

class Draw : public ::testing::Test {
 protected:
  void SetUp() override {
    kel_init();
    StdoutCapture out;
    ASSERT_EQ(kel_graphics(640, 480, 0, 0), 1);
    log_ = strip_log_prefixes(out.take());
  }
  void TearDown() override { kel_exit(); }
  std::string log_;
};

TEST_F(Draw, ResetLogsTheDisplaySizeAndClearsToRed) {
  EXPECT_THAT(log_, HasSubstr("draw: reset (640 x 480)\n"));
  EXPECT_EQ(pixel_at(0, 0), (Rgb{255, 0, 0}));
  EXPECT_EQ(pixel_at(639, 479), (Rgb{255, 0, 0}));
}

TEST_F(Draw, OriginIsTheTopLeftPixelAndOneUnitIsOnePixel) {
  draw_clear(0, 0, 0);
  fill_rect(0, 0, 1, 1, {0, 255, 0});
  EXPECT_EQ(pixel_at(0, 0), (Rgb{0, 255, 0}));
  EXPECT_EQ(pixel_at(1, 0), (Rgb{0, 0, 0}));
  EXPECT_EQ(pixel_at(0, 1), (Rgb{0, 0, 0}));
  fill_rect(639, 479, 640, 480, {0, 0, 255});  // ends on the bottom-right corner
  EXPECT_EQ(pixel_at(639, 479), (Rgb{0, 0, 255}));
  EXPECT_EQ(pixel_at(638, 479), (Rgb{0, 0, 0}));
}

TEST_F(Draw, StateForSpritesAndPolygons) {
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
  EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
  EXPECT_TRUE(glIsEnabled(GL_VERTEX_ARRAY));
  EXPECT_TRUE(glIsEnabled(GL_COLOR_ARRAY));
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
  GLint src = 0, dst = 0;
  glGetIntegerv(GL_BLEND_SRC, &src);
  glGetIntegerv(GL_BLEND_DST, &dst);
  EXPECT_EQ(src, GL_SRC_ALPHA);
  EXPECT_EQ(dst, GL_ONE_MINUS_SRC_ALPHA);
  std::array<GLint, 4> viewport{};
  glGetIntegerv(GL_VIEWPORT, viewport.data());
  EXPECT_EQ(viewport, (std::array<GLint, 4>{0, 0, 640, 480}));
}

TEST_F(Draw, ClearUsesTheGivenColour) {
  draw_clear(0, 0, 1);
  glFinish();
  EXPECT_EQ(pixel_at(320, 240), (Rgb{0, 0, 255}));
  draw_clear_ex(0, 1, 0, 1);
  glFinish();
  EXPECT_EQ(pixel_at(320, 240), (Rgb{0, 255, 0}));
}

GLuint bound_texture() {
  GLint name = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
  return static_cast<GLuint>(name);
}

std::array<float, 16> texture_matrix() {
  std::array<float, 16> m{};
  glGetFloatv(GL_TEXTURE_MATRIX, m.data());
  return m;
}

TEST_F(Draw, BindingGoesThroughACacheOfOneTexture) {
  GLuint names[2];
  glGenTextures(2, names);
  IMAGE a{"a", 4, 8, names[0], 0, 0, 0, nullptr};
  IMAGE same{"same", 16, 16, names[0], 0, 0, 0, nullptr};
  IMAGE b{"b", 32, 2, names[1], 0, 0, 0, nullptr};

  draw_bind_texture(&a);
  EXPECT_EQ(bound_texture(), names[0]);
  EXPECT_FLOAT_EQ(texture_matrix()[0], 0.25f);  // texels to 0..1
  EXPECT_FLOAT_EQ(texture_matrix()[5], 0.125f);
  GLint mode = 0;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_MODELVIEW);

  glBindTexture(GL_TEXTURE_2D, 0);  // behind the cache's back
  draw_bind_texture(&a);
  draw_bind_texture(&same);
  EXPECT_EQ(bound_texture(), 0u);  // no GL call was made

  draw_bind_texture(&b);
  EXPECT_EQ(bound_texture(), names[1]);
  EXPECT_FLOAT_EQ(texture_matrix()[0], 1.0f / 32);
  EXPECT_FLOAT_EQ(texture_matrix()[5], 0.5f);
  glDeleteTextures(2, names);
}

TEST_F(Draw, FirstBindReachesGlEvenForTextureZero) {
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glScalef(7, 7, 1);
  glMatrixMode(GL_MODELVIEW);
  IMAGE zero{"zero", 2, 2, 0, 0, 0, 0, nullptr};
  draw_bind_texture(&zero);
  EXPECT_FLOAT_EQ(texture_matrix()[0], 0.5f);
}

TEST_F(Draw, FlipPresentsTheFrame) {
  draw_clear(0, 1, 0);
  draw_flip();
  glFinish();
  // After a swap the new back buffer's content is undefined; the call
  // itself must be harmless and leave the context usable.
  draw_clear(0, 0, 1);
  glFinish();
  EXPECT_EQ(pixel_at(10, 10), (Rgb{0, 0, 255}));
}

}  // namespace
