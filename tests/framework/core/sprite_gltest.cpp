// Atlases in a real window: a sprite sheet and a glyph sheet written as
// image files, loaded, packed, uploaded and drawn, singly and batched, and
// their pixels read back where the sprite rules put them; text drawn left,
// centred and right; the upload's pixel formats read back from GL.
#include <GL/gl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "framework/core/atlas.h"
#include "framework/core/glyphs.h"
#include "framework/core/kel.h"
#include "framework/core/sprite.h"
#include "framework/core/turtle.h"
#include "support/capture.h"
#include "support/app/gl_window.h"
#include "support/app/image_file.h"
#include "support/wav_file.h"

using ::testing::HasSubstr;
using image_file::Rgba;

namespace {

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kWhite{255, 255, 255};

// Two 16 x 8 cells: a red block filling the first, a 4 x 4 blue square at
// (2, 1) of the second.
std::string sprite_sheet() {
  Rgba img(32, 8);
  img.rect(0, 0, 16, 8, 0xFF0000FF);
  img.rect(18, 1, 4, 4, 0x0000FFFF);
  return image_file::png(img);
}

// 'A' red, 8 x 10, and 'B' white, 6 x 10, framed by an opaque green outline.
std::string glyph_sheet() {
  Rgba img(17, 12, 0x00FF00FF);
  img.rect(1, 1, 8, 10, 0xFF0000FF);
  img.rect(10, 1, 6, 10, 0xFFFFFFFF);
  return image_file::bmp(img);
}

class Sprites : public ::testing::Test {
 protected:
  void SetUp() override {
    kel_init();
    ASSERT_EQ(kel_graphics(640, 480, 0, 0), 1);
    turtle_reset();
    atlas = atlas_get(0);
    ASSERT_NE(atlas_create_texture(atlas, 64, 64), nullptr);
    first = sprite_count();
    ASSERT_EQ(atlas_load_spritesheet(atlas, nullptr, 16, 8, 0, ATLAS_MODE_NO_BORDER, sheet_file.c_str()), 0);
    ASSERT_EQ(atlas_load_font(atlas, &font, 'A', font_file.c_str()), 0);
    ASSERT_EQ(font.count, 2u);
    ASSERT_EQ(atlas_upload(atlas, 0, PIXEL_RGBA8), 1);
    draw_clear(0, 0, 0);
  }
  void TearDown() override { kel_exit(); }
  SPRITE* cell(int i) const { return sprite_get(static_cast<unsigned>(first + i)); }

  TempFile sheet_file{sprite_sheet(), ".png"};
  TempFile font_file{glyph_sheet(), ".bmp"};
  IMAGE* atlas = nullptr;
  int first = 0;
  SPRITEFONT font{};
};

// Expects `colour` on the pixels of the rectangle and `outside` on the
// pixels just left, right, above and below it.
void expect_rect(int x0, int y0, int x1, int y1, Rgb colour, Rgb outside, const char* what) {
  for (auto [x, y] : std::vector<std::array<int, 2>>{{x0, y0}, {x1, y0}, {x0, y1}, {x1, y1}})
    EXPECT_TRUE(near_rgb(pixel_at(x, y), colour)) << what << " at " << x << "," << y;
  const int mx = (x0 + x1) / 2, my = (y0 + y1) / 2;
  for (auto [x, y] : std::vector<std::array<int, 2>>{{x0 - 1, my}, {x1 + 1, my}, {mx, y0 - 1}, {mx, y1 + 1}})
    EXPECT_TRUE(near_rgb(pixel_at(x, y), outside)) << what << " outside at " << x << "," << y;
}

TEST_F(Sprites, DrawnSinglyAtThePen) {
  turtle_set_pos_unscaled(100, 50);
  sprite_draw(cell(0), 0);
  expect_rect(92, 46, 107, 53, kRed, kBlack, "red block");
  // The blue square sat 4 texels left of and 1 above the cell's centre.
  turtle_set_pos_unscaled(200, 50);
  sprite_draw(cell(1), 0);
  expect_rect(194, 47, 197, 50, kBlue, kBlack, "blue square");
  EXPECT_EQ(turtle.x, 200);
}

TEST_F(Sprites, BatchedAsTheSingleDrawsAndFlippedToTheOtherSide) {
  turtle_set_pos_unscaled(100, 150);
  sprite_batch_plot(cell(0), 0, 0);
  turtle_set_pos_unscaled(200, 150);
  sprite_batch_plot(cell(1), 1, 0);
  sprite_batch_draw(atlas);
  expect_rect(92, 146, 107, 153, kRed, kBlack, "red block");
  expect_rect(202, 147, 205, 150, kBlue, kBlack, "flipped blue square");
  EXPECT_EQ(atlas_get_full(0)->batch[0].count, 0);
}

TEST_F(Sprites, TheAdditiveBatchAddsToWhatIsThere) {
  draw_clear(0, 1, 0);
  turtle_set_pos_unscaled(300, 300);
  sprite_batch_plot(cell(0), 0, 1);
  turtle_set_pos_unscaled(300, 320);
  sprite_batch_plot(cell(0), 0, 0);
  sprite_batch_draw(atlas);
  EXPECT_TRUE(near_rgb(pixel_at(300, 300), {255, 255, 0}));  // red onto green
  EXPECT_TRUE(near_rgb(pixel_at(300, 320), kRed));           // blended over it
  GLint dst = 0;
  glGetIntegerv(GL_BLEND_DST, &dst);
  EXPECT_EQ(dst, GL_ONE_MINUS_SRC_ALPHA);
}

TEST_F(Sprites, TheTurtlesColourTintsTheSprite) {
  turtle_set_pos_unscaled(100, 50);
  turtle_set_rgba(0.5f, 1, 1, 1);
  sprite_draw(cell(0), 0);
  EXPECT_TRUE(near_rgb(pixel_at(100, 50), {128, 0, 0}));
  turtle_set_pos_unscaled(100, 100);
  sprite_batch_plot(cell(0), 0, 0);
  sprite_batch_draw(atlas);
  EXPECT_TRUE(near_rgb(pixel_at(100, 100), {127, 0, 0}));
}

TEST_F(Sprites, TextLeftCentredAndRight) {
  struct Case {
    int alignment;
    int a0;  // first column of 'A'; 'B' follows it
  };
  for (const Case& c : {Case{0, 100}, Case{1, 313}, Case{2, 486}}) {
    const int pen = c.alignment == 0 ? 100 : c.alignment == 1 ? 320 : 500;
    turtle_set_pos_unscaled(pen, 300);
    glyphs_batch_plot(&font, "AB", c.alignment, 0);
    sprite_batch_draw(atlas);
    // 'A' from a0 to a0 + 7, then 'B' up to a0 + 13, rows 295 to 304.
    struct Probe {
      int dx, y;
      Rgb colour;
    };
    for (const Probe& p : {Probe{-1, 300, kBlack}, Probe{0, 295, kRed}, Probe{7, 304, kRed}, Probe{8, 295, kWhite},
                           Probe{13, 304, kWhite}, Probe{14, 300, kBlack}, Probe{3, 294, kBlack}, Probe{3, 305, kBlack}})
      EXPECT_TRUE(near_rgb(pixel_at(c.a0 + p.dx, p.y), p.colour)) << c.alignment << " at +" << p.dx << "," << p.y;
  }
  turtle_set_pos_unscaled(50, 400);
  EXPECT_EQ(glyphs_print_char(&font, 'B'), 1);
  expect_rect(47, 395, 52, 404, kWhite, kBlack, "B drawn at once");
}

TEST_F(Sprites, UploadingAgainDeletesTheOldTexture) {
  const uint32_t old = atlas->opengl_texture;
  StdoutCapture out;
  EXPECT_EQ(atlas_upload(atlas, 1, PIXEL_RGBA8), 1);
  const std::string log = strip_log_prefixes(out.take());
  EXPECT_THAT(log, HasSubstr("Deleting texture " + std::to_string(old) + "\n"));
  EXPECT_THAT(log, HasSubstr("upload atlas texid " + std::to_string(atlas->opengl_texture) + " 64 x 64\n"));
}

TEST_F(Sprites, AnotherAtlasUploadedLaterDoesNotHideThisOnesTexture) {
  turtle_set_pos_unscaled(100, 50);
  sprite_draw(cell(0), 0);  // binds atlas 0 through the cache
  IMAGE* other = atlas_get(1);
  atlas_create_texture(other, 8, 8);
  atlas_upload(other, 0, PIXEL_RGBA8);  // all magenta, bound directly
  draw_clear(0, 0, 0);
  sprite_draw(cell(0), 0);
  EXPECT_TRUE(near_rgb(pixel_at(100, 50), kRed));
}

TEST_F(Sprites, AnUpdatedTextureShowsTheNewPixelsWhereTheSpritesExpectThem) {
  const SPRITE* s = cell(0);
  for (int y = 0; y < s->h; ++y)
    for (int x = 0; x < s->w; ++x)
      std::memcpy(atlas->rgba + ((s->atlasy + y) * atlas->texture_w + s->atlasx + x) * 4, "\x00\x00\xFF\xFF", 4);
  EXPECT_EQ(atlas_update_texture(atlas), 1);
  turtle_set_pos_unscaled(100, 50);
  sprite_draw(cell(0), 0);
  expect_rect(92, 46, 107, 53, kBlue, kBlack, "updated block");
}

TEST_F(Sprites, TheWholeAtlasDrawsAtThePen) {
  turtle_set_pos_unscaled(320, 240);
  EXPECT_EQ(atlas_draw_full(atlas), 1);
  // The red block lies at texels (1, 1) to (16, 8): screen (289, 209) on.
  EXPECT_TRUE(near_rgb(pixel_at(290, 210), kRed));
  EXPECT_TRUE(near_rgb(pixel_at(288, 208), {255, 0, 255}));  // magenta where nothing was put
}

// Pixel formats, read back from the texture.
TEST(AtlasUpload, PixelFormatsPackTheTopBitsOfEachComponent) {
  kel_init();
  ASSERT_EQ(kel_graphics(64, 64, 0, 0), 1);
  IMAGE* a = atlas_get(2);
  atlas_create_texture(a, 4, 4);
  for (int i = 0; i < 16; ++i) std::memcpy(a->rgba + 4 * i, "\xFF\x80\x40\x10", 4);
  struct Case {
    int format;
    GLenum gl_format, type;
    unsigned expected;
  };
  for (const Case& c : {Case{PIXEL_RGBA4, GL_RGBA, GL_UNSIGNED_SHORT_4_4_4_4, 0xF841},
                        Case{PIXEL_RGB5_A1, GL_RGBA, GL_UNSIGNED_SHORT_5_5_5_1, 0xFC10},
                        Case{PIXEL_ALPHA8, GL_ALPHA, GL_UNSIGNED_BYTE, 0xFF},
                        Case{PIXEL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, 0x104080FF}}) {
    ASSERT_EQ(atlas_upload(a, 0, c.format), 1) << c.format;
    std::array<uint32_t, 16> back{};
    glBindTexture(GL_TEXTURE_2D, a->opengl_texture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, c.gl_format, c.type, back.data());
    unsigned got = back[0];
    if (c.type == GL_UNSIGNED_SHORT_4_4_4_4 || c.type == GL_UNSIGNED_SHORT_5_5_5_1) got &= 0xFFFF;
    if (c.gl_format == GL_ALPHA) got &= 0xFF;
    EXPECT_EQ(got, c.expected) << c.format;
  }
  kel_exit();
}

}  // namespace
