// Glyph text laid out into the batches: alignment, turns, characters
// beyond the font, the plotted length and the measures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/core/glyphs.h"
#include "framework/core/sine.h"
#include "framework/core/turtle.h"
#include "support/capture.h"

namespace {

class Glyphs : public ::testing::Test {
 protected:
  void SetUp() override {
    init_sine_table();
    turtle_reset();
    atlas_init();
    IMAGE* a = atlas_get(0);
    StdoutCapture quiet;
    atlas_create_texture(a, 64, 64);
    // Glyphs 'A' 8 x 10 and 'B' 6 x 4, after one sprite that is not a glyph.
    const std::vector<uint32_t> ink(80, 0xFFFFFFFF);
    const auto* px = reinterpret_cast<const unsigned char*>(ink.data());
    atlas_add_rgba_image(a, px, 1, 1, 1, 0);
    atlas_add_rgba_image(a, px, 8, 10, 8, 0);
    atlas_add_rgba_image(a, px, 6, 4, 6, 0);
    font = glyphs_make_font(1, 'A', 2);
  }
  void TearDown() override {
    StdoutCapture quiet;
    atlas_exit();
  }
  // The centres of the quads plotted into batch `which`.
  static std::vector<std::pair<float, float>> centres(int which = 0) {
    std::vector<std::pair<float, float>> out;
    const ATLAS_BATCH& b = atlas_get_full(0)->batch[which];
    for (int i = 0; i < b.count; ++i) {
      const BATCH_ITEM* q = b.entry + 4 * i;
      out.emplace_back((q[0].x + q[3].x) / 2, (q[0].y + q[3].y) / 2);
    }
    return out;
  }
  static void empty_batches() { atlas_get_full(0)->batch[0].count = atlas_get_full(0)->batch[1].count = 0; }
  SPRITEFONT font{};
  StdoutCapture log_;
};

TEST_F(Glyphs, TextIsAlignedOnThePen) {
  struct Case {
    int alignment;
    float a, b;
  };
  for (const Case& c : {Case{0, 104, 111}, Case{1, 97, 104}, Case{2, 90, 97}, Case{9, 104, 111}}) {
    empty_batches();
    turtle_set_pos_unscaled(100, 20);
    EXPECT_EQ(glyphs_batch_plot(&font, "AB", c.alignment, 0), 2);
    EXPECT_EQ(centres(), (std::vector<std::pair<float, float>>{{c.a, 20}, {c.b, 20}})) << c.alignment;
    EXPECT_EQ(turtle.x, 100);
  }
}

TEST_F(Glyphs, TurnedTextRunsDownTheScreen) {
  turtle_set_pos_unscaled(100, 20);
  turtle_set_angle(90);
  glyphs_batch_plot(&font, "AB", 0, 1);
  const auto c = centres(1);
  ASSERT_EQ(c.size(), 2u);
  EXPECT_NEAR(c[0].first, 100, 1e-3);
  EXPECT_NEAR(c[0].second, 24, 1e-3);
  EXPECT_NEAR(c[1].second, 31, 1e-3);
}

TEST_F(Glyphs, CharactersOutsideTheFontShowItsLastGlyph) {
  glyphs_batch_plot(&font, "Z@\xC8", 0, 0);  // past, before, and a code above 127
  const ATLAS_BATCH& b = atlas_get_full(0)->batch[0];
  ASSERT_EQ(b.count, 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(b.entry[4 * i + 3].x - b.entry[4 * i].x, 6) << i;  // 'B' is 6 wide
}

TEST_F(Glyphs, PlottingTakesAtMost255Characters) {
  const std::string text(300, 'A');
  EXPECT_EQ(glyphs_batch_plot(&font, text.c_str(), 0, 0), 255);
  EXPECT_EQ(atlas_get_full(0)->batch[0].count, 255);
  EXPECT_EQ(glyphs_batch_plot_ex(&font, "AB", 1, 0, 0), 1);
}

TEST_F(Glyphs, MeasuresFollowTheTurtlesScales) {
  turtle_set_scalex(2);
  turtle_set_scaley(3);
  EXPECT_EQ(glyphs_w(&font, "AB"), 28);
  EXPECT_EQ(glyphs_h(&font, "AB"), 30);
  EXPECT_EQ(glyphs_h(&font, "B"), 12);
  // Codes below the font are skipped; codes past it measure as its last glyph.
  EXPECT_EQ(glyphs_w(&font, " A"), 16);
  EXPECT_EQ(glyphs_w(&font, "AZ\xC8"), 16 + 12 + 12);
  EXPECT_EQ(glyphs_h(&font, " "), 0);
  // Records are found through the table: a font past its end wraps inside it.
  SPRITEFONT wrapped = glyphs_make_font(4095, 'A', 3);
  EXPECT_EQ(glyphs_w(&wrapped, "C"), 16);  // record 4097 is record 1, 'A'
}

TEST_F(Glyphs, NullFontsAndEmptyFontsDoNothing) {
  SPRITEFONT none = glyphs_make_font(1, 'A', 0);
  EXPECT_EQ(glyphs_batch_plot(nullptr, "AB", 0, 0), 0);
  EXPECT_EQ(glyphs_batch_plot(&none, "AB", 0, 0), 0);
  EXPECT_EQ(glyphs_batch_plot(&font, nullptr, 0, 0), 0);
  EXPECT_EQ(glyphs_print_char(nullptr, 'A'), 0);
  EXPECT_EQ(glyphs_print_char(&none, 'A'), -1);
  EXPECT_EQ(glyphs_w(nullptr, "AB"), 0);
  EXPECT_EQ(glyphs_h(&font, nullptr), 0);
  EXPECT_EQ(glyphs_w(&none, "AB"), 0);
  EXPECT_EQ(atlas_get_full(0)->batch[0].entry, nullptr);
}

}  // namespace
