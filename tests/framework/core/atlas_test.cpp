// Building atlases in memory: texture sizes, placed images and their
// borders, sprite sheets cut into cells, glyph sheets scanned for glyphs,
// fonts loaded through the loader seam, and what is refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "framework/core/atlas.h"
#include "support/capture.h"

using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

using Texel = uint32_t;  // red in the low byte, as the bytes lie in memory
constexpr Texel kMagenta = 0xFFFF00FF, kOutline = 0xFF00FF00, kInk = 0xFFFFFFFF;

Texel rgba(int r, int g, int b, int a) { return r | (g << 8) | (b << 16) | (static_cast<Texel>(a) << 24); }

struct Image {
  int w, h;
  std::vector<Texel> px;
  Image(int w_, int h_, Texel fill = 0) : w(w_), h(h_), px(static_cast<size_t>(w_ * h_), fill) {}
  Image& rect(int x, int y, int rw, int rh, Texel t) {
    for (int j = y; j < y + rh; ++j)
      for (int i = x; i < x + rw; ++i) px[static_cast<size_t>(j * w + i)] = t;
    return *this;
  }
  const unsigned char* bytes() const { return reinterpret_cast<const unsigned char*>(px.data()); }
  RGBA_DATA data() const { return RGBA_DATA{w, h, const_cast<unsigned char*>(bytes())}; }
};

// A row of glyphs of the given widths and height, framed by the outline.
Image glyph_row(const std::vector<int>& widths, int height) {
  int w = 1;
  for (int g : widths) w += g + 1;
  Image img(w, height + 2, kOutline);
  for (int x = 1; int g : widths) img.rect(x, 1, g, height, kInk), x += g + 1;
  return img;
}

Texel texel(const IMAGE* atlas, int x, int y) {
  Texel t;
  std::memcpy(&t, atlas->rgba + (static_cast<size_t>(y) * atlas->texture_w + x) * 4, 4);
  return t;
}

// Images the fake loader serves, by file name.
std::map<std::string, Image> files;
unsigned char* fake_loader(const char* file, int* w, int* h) {
  auto it = files.find(file);
  if (it == files.end()) return nullptr;
  *w = it->second.w, *h = it->second.h;
  auto* b = static_cast<unsigned char*>(std::malloc(it->second.px.size() * 4));
  std::memcpy(b, it->second.bytes(), it->second.px.size() * 4);
  return b;
}

class Atlas : public ::testing::Test {
 protected:
  void SetUp() override {
    atlas_init();
    atlas_set_loader(fake_loader);
  }
  void TearDown() override {
    atlas_set_loader(nullptr);
    atlas_exit();
  }
  SPRITE* add(const Image& img, int mode = 0) { return atlas_add_rgba_image(a, img.bytes(), img.w, img.h, img.w, mode); }
  IMAGE* a = atlas_get(0);
};

TEST_F(Atlas, TextureSidesArePowersOfTwoAroundThePacker) {
  struct Case {
    int w, h, tw, th;
  };
  a->name = "tiles";
  for (const Case& c : {Case{300, 200, 512, 256}, Case{0, 100, 512, 512}, Case{3, 5, 4, 8}, Case{8193, 4, 0, 0},
                        Case{2, 64, 0, 0}, Case{-4, 64, 0, 0}}) {
    StdoutCapture out;
    const bool made = atlas_create_texture(a, c.w, c.h) != nullptr;
    const std::string log = strip_log_prefixes(out.take());
    EXPECT_EQ(made, c.tw != 0) << c.w << "x" << c.h;
    if (!made) {
      EXPECT_THAT(log, StartsWith("atlas: texture size")) << c.w;
      continue;
    }
    EXPECT_EQ(log, "Created " + std::to_string(c.tw) + "x" + std::to_string(c.th) + " texture for atlas named 'tiles'\n");
    EXPECT_EQ(a->texture_h, c.th);
    EXPECT_EQ(texel(a, c.tw - 1, c.th - 1), kMagenta);
  }
  a->name = nullptr;
  StdoutCapture out;
  atlas_create_texture(a, 16, 16);
  EXPECT_EQ(strip_log_prefixes(out.take()), "Created 16x16 texture for atlas named '[no name]'\n");
}

// Only what the module made for a record of the table is ever freed: a
// record outside it whose fields were never set keeps its garbage.
TEST_F(Atlas, ARecordWhoseFieldsWereNeverSetIsNotFreedFrom) {
  IMAGE mine;
  std::memset(&mine, 0xAB, sizeof mine);
  mine.name = "mine";
  unsigned char* made = atlas_create_texture(&mine, 8, 8);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(mine.opengl_texture, 0u);
  std::free(made);  // its owner's
}

TEST_F(Atlas, ImagesAreCopiedWithTheBorderOfTheirMode) {
  const Texel l1 = rgba(1, 0, 0, 255), r1 = rgba(2, 0, 0, 255), l2 = rgba(3, 0, 0, 255), r2 = rgba(4, 0, 0, 255);
  Image img(2, 2);
  img.px = {l1, r1, l2, r2};
  struct Case {
    int mode;
    Texel corner, above, left, right, below;
    int next_x;  // where the next image goes
  };
  for (const Case& c : {Case{ATLAS_MODE_TRANSPARENT_BORDER, 0, 0, 0, 0, 0, 6}, Case{ATLAS_MODE_DOUBLE_BORDER, l1, l1, l1, r1, l2, 6},
                        Case{ATLAS_MODE_WRAP_BORDER, r2, l2, r1, l1, l1, 6}, Case{7, kMagenta, kMagenta, kMagenta, kMagenta, kMagenta, 4},
                        Case{ATLAS_MODE_NO_BORDER, kMagenta, kMagenta, kMagenta, kMagenta, kMagenta, 3}}) {
    atlas_create_texture(a, 16, 16);
    const SPRITE* s = add(img, c.mode);
    const int x = s->atlasx, y = s->atlasy;
    EXPECT_EQ(texel(a, x + 1, y + 1), r2);
    EXPECT_EQ(texel(a, x - 1, y - 1), c.corner) << c.mode;
    EXPECT_EQ(texel(a, x, y - 1), c.above) << c.mode;
    EXPECT_EQ(texel(a, x - 1, y), c.left) << c.mode;
    EXPECT_EQ(texel(a, x + 2, y), c.right) << c.mode;
    EXPECT_EQ(texel(a, x, y + 2), c.below) << c.mode;
    EXPECT_EQ(add(img, c.mode)->atlasx, c.next_x) << c.mode;
  }
  // A border never lands on a neighbour's texels, even one without a gap.
  atlas_create_texture(a, 16, 16);
  const SPRITE* plain = add(Image(3, 3, r1));
  add(Image(1, 1, l1), ATLAS_MODE_TRANSPARENT_BORDER);
  EXPECT_EQ(texel(a, plain->atlasx + 2, plain->atlasy), r1);
}

TEST_F(Atlas, AdditionsThatCannotBeMadeChangeNothing) {
  const Image img(4, 4, 1);
  StdoutCapture out;
  EXPECT_EQ(add(img), nullptr);  // no texture yet
  atlas_create_texture(a, 8, 8);
  IMAGE* b = atlas_get(1);
  atlas_create_texture(b, 512, 512);  // b's packer now: a is no longer being built
  EXPECT_EQ(add(img), nullptr);
  EXPECT_NE(atlas_add_rgba_image(b, img.bytes(), 4, 4, 4, 0), nullptr);
  atlas_create_texture(a, 8, 8);
  EXPECT_EQ(atlas_add_rgba_image(a, nullptr, 4, 4, 4, 0), nullptr);
  EXPECT_EQ(atlas_add_rgba_image(a, img.bytes(), 4, 4, 3, 0), nullptr);
  EXPECT_NE(add(Image(6, 6, 1)), nullptr);
  EXPECT_EQ(add(Image(1, 1, 1)), nullptr);  // full
  EXPECT_EQ(sprite_count(), 2);
  const std::string log = strip_log_prefixes(out.take());
  EXPECT_THAT(log, HasSubstr("Created 512x512 texture for atlas named '[no name]'\natlas '[no name]' is not being built\n"));
  EXPECT_THAT(log, HasSubstr("atlas: image 4x4 (rows of 4) refused\natlas: image 4x4 (rows of 3) refused\n"));
}

TEST_F(Atlas, TheSpriteTableRefusesItsFourThousandAndNinetySeventhRecord) {
  atlas_create_texture(a, 512, 512);
  const Image dot(1, 1, 1);
  for (int i = 0; i < SPRITE_TABLE_SIZE; ++i) ASSERT_NE(add(dot), nullptr) << i;
  EXPECT_EQ(sprite_last(), nullptr);
  StdoutCapture out;
  EXPECT_EQ(add(dot), nullptr);
  EXPECT_EQ(strip_log_prefixes(out.take()), "sprite table full (4096 sprites): image not added\n");
  EXPECT_EQ(sprite_get(4096), sprite_get(0));
  EXPECT_EQ(sprite_get_id(sprite_get(4095)), 4095);
  SPRITE outside{};
  EXPECT_EQ(sprite_get_id(&outside), -1);
}

SPRITESHEET sheet_of(RGBA_DATA* data, int cw, int ch, int total = 0) { return SPRITESHEET{total, 0, cw, ch, data}; }

TEST_F(Atlas, SheetCellsAreShrinkWrappedAroundTheirPixels) {
  Image img(32, 16);
  img.rect(4, 2, 6, 11, rgba(0, 0, 0, 1));  // not opaque, yet not zero; the second cell is empty
  RGBA_DATA data = img.data();
  SPRITESHEET sheet = sheet_of(&data, 16, 16);
  atlas_create_texture(a, 64, 64);
  StdoutCapture out;
  EXPECT_EQ(atlas_add_sprite_sheet(a, &sheet, 0), 0);
  const SPRITE* s = sprite_get(0);
  EXPECT_EQ((std::vector<int>{s->w, s->h, s->boxx, s->boxy, s->boxw, s->boxh, s->xoff, s->yoff}),
            (std::vector<int>{6, 12, 4, 2, 16, 16, -1, 0}));  // 11 rows widened to keep an even cell even
  EXPECT_EQ(texel(a, 1, 1), rgba(0, 0, 0, 1));
  EXPECT_EQ((std::vector<int>{sprite_get(1)->w, sprite_get(1)->h}), (std::vector<int>{2, 2}));  // empty: 1 x 1 widened
  EXPECT_EQ(strip_log_prefixes(out.take()),
            "2 sprites added\n    atlas size: 16384 (64x64)\n    atlas used: 76\n    atlas left: 16080\n"
            "    1.86% used\n");
}

TEST_F(Atlas, SheetTotalsCountWhatWasAddedAndWhatWasLeft) {
  Image img(8, 4, 1);  // two 4 x 4 cells
  RGBA_DATA data = img.data();
  struct Case {
    int total, result, total_after;
    const char* line;
  };
  for (const Case& c : {Case{0, 0, 2, "2 sprites added\n"}, Case{1, 0, 1, "1 sprites added\n"},
                        Case{5, 3, 2, "Ran out of atlas space, 3 sprites remaining\n"}}) {
    SPRITESHEET sheet = sheet_of(&data, 4, 4, c.total);
    atlas_create_texture(a, 64, 64);
    StdoutCapture out;
    EXPECT_EQ(atlas_add_sprite_sheet(a, &sheet, 0), c.result) << c.total;
    EXPECT_EQ(sheet.total, c.total_after) << c.total;
    EXPECT_THAT(strip_log_prefixes(out.take()), StartsWith(c.line));
  }
  files.emplace("sheet.png", img);
  SPRITESHEET loaded{};
  EXPECT_EQ(atlas_load_spritesheet(a, &loaded, 4, 4, 0, 0, "sheet.png"), 0);
  EXPECT_EQ(loaded.total, 2);
  EXPECT_EQ(loaded.rgba, nullptr);
  EXPECT_EQ(atlas_load_spritesheet(a, nullptr, 4, 4, 0, 0, "missing.png"), -2);
}

TEST_F(Atlas, CellsOfASheetThatIsNoWholeNumberOfCellsAreClippedToTheImage) {
  // 10 x 7 in cells of 4 x 4: columns 0-3, 4-7, 8-9; rows 0-3, 4-6.
  Image img(10, 7);
  img.rect(9, 0, 1, 1, rgba(1, 1, 1, 1)).rect(2, 6, 1, 1, rgba(2, 2, 2, 2));
  RGBA_DATA data = img.data();
  SPRITESHEET sheet = sheet_of(&data, 4, 4);
  atlas_create_texture(a, 64, 64);
  EXPECT_EQ(atlas_add_sprite_sheet(a, &sheet, 0), 0);
  EXPECT_EQ(sheet.total, 6);
  const SPRITE* right = sprite_get(2);  // widened to 2, kept inside the 2 columns there are
  EXPECT_EQ((std::vector<int>{right->boxx, right->w, right->boxw}), (std::vector<int>{0, 2, 4}));
  EXPECT_EQ(texel(a, right->atlasx + 1, right->atlasy), rgba(1, 1, 1, 1));
  const SPRITE* bottom = sprite_get(3);  // rows 5..6 of the 3 inside the image
  EXPECT_EQ((std::vector<int>{bottom->boxy, bottom->h}), (std::vector<int>{1, 2}));
  EXPECT_EQ(texel(a, bottom->atlasx + 2 - bottom->boxx, bottom->atlasy + 1), rgba(2, 2, 2, 2));
  StdoutCapture out;
  for (SPRITESHEET bad : {sheet_of(&data, 0, 4), sheet_of(&data, 4, -1), sheet_of(nullptr, 4, 4)})
    EXPECT_EQ(atlas_add_sprite_sheet(a, &bad, 0), -1);
  EXPECT_THAT(strip_log_prefixes(out.take()), StartsWith("sprite sheet refused (cells 0x4)\n"));
}

TEST_F(Atlas, GlyphsAreFoundInScanOrderWithTheirSizes) {
  struct Case {
    const char* what;
    Image sheet;
    std::vector<std::pair<int, int>> glyphs;
  };
  Image stacked(4, 7, kOutline);  // one above the other, one pixel wide
  stacked.rect(1, 1, 1, 2, kInk).rect(1, 4, 2, 2, kInk);
  Case cases[] = {
      {"a row", glyph_row({3, 1, 5}, 4).rect(2, 2, 1, 1, 0), {{3, 4}, {1, 4}, {5, 4}}},
      {"to the edges", Image(5, 4, kOutline).rect(2, 1, 3, 3, kInk), {{3, 3}}},
      {"one pixel", Image(3, 3, kOutline).rect(1, 1, 1, 1, kInk), {{1, 1}}},
      {"stacked", stacked, {{1, 2}, {2, 2}}},
      {"no outline", Image(6, 6, kInk), {}},
      {"one pixel sheet", Image(1, 1, kInk), {}},
  };
  for (Case& c : cases) {
    RGBA_DATA data = c.sheet.data();
    atlas_create_texture(a, 64, 64);
    const int before = sprite_count();
    ASSERT_EQ(atlas_add_glyphs(a, &data, 1), static_cast<int>(c.glyphs.size())) << c.what;
    for (size_t i = 0; i < c.glyphs.size(); ++i) {
      const SPRITE* g = sprite_get(static_cast<unsigned>(before) + i);
      EXPECT_EQ(std::make_pair(int{g->w}, int{g->h}), c.glyphs[i]) << c.what;
      EXPECT_EQ(std::make_pair(int{g->boxw}, int{g->boxh}), c.glyphs[i]) << c.what;
    }
  }
  RGBA_DATA empty{0, 0, nullptr};
  EXPECT_EQ(atlas_add_glyphs(a, &empty, 1), 0);
}

TEST_F(Atlas, FontsLoadWithTheirFirstCharacterAndGiveBackSpriteRecordsOnFailure) {
  files.emplace("font.png", glyph_row({4, 2}, 5));
  files.emplace("wide.png", glyph_row({40, 40, 40}, 30));
  files.emplace("blank.png", Image(4, 4, kOutline));
  SPRITEFONT font{};
  EXPECT_EQ(atlas_load_font(nullptr, &font, 'A', "font.png"), -1);
  EXPECT_EQ(atlas_load_font(a, &font, 'A', "font.png"), -2);  // no buffer
  atlas_create_texture(a, 64, 64);
  EXPECT_EQ(atlas_load_font(a, nullptr, 'A', "font.png"), -3);
  EXPECT_EQ(atlas_load_font(a, &font, 'A', "missing.png"), -4);
  add(Image(1, 1, kInk));
  ASSERT_EQ(atlas_load_font(a, &font, 'A', "font.png"), 0);
  EXPECT_EQ((std::vector<unsigned>{font.first, font.glyphbase, font.count}), (std::vector<unsigned>{'A', 1, 2}));
  EXPECT_EQ(font.glyphs, sprite_get(1));
  SPRITEFONT failed{};
  EXPECT_EQ(atlas_load_font(a, &failed, 'a', "wide.png"), -5);
  EXPECT_EQ(sprite_count(), 3);  // the wide font's first glyph was given back
  StdoutCapture out;
  EXPECT_EQ(atlas_load_font(a, &failed, 'a', "blank.png"), 0);
  EXPECT_EQ(failed.count, 0u);
  EXPECT_EQ(strip_log_prefixes(out.take()), "font 'blank.png': no glyphs found\n");
  a->opengl_texture = 5;  // uploaded: no more glyphs
  EXPECT_EQ(atlas_load_font(a, &font, 'A', "font.png"), -2);
  EXPECT_EQ(font.count, 0u);  // cleared first
  a->opengl_texture = 0;
}

TEST_F(Atlas, LoaderUploadAndExitReportWhatTheyCouldNotDoAndWhatTheyFreed) {
  atlas_set_loader(nullptr);
  StdoutCapture out;
  EXPECT_EQ(rgba_load("x.png"), nullptr);
  EXPECT_EQ(atlas_upload(nullptr, 0, PIXEL_RGBA8), -1);
  EXPECT_EQ(atlas_upload(a, 0, PIXEL_RGBA8), -2);
  EXPECT_EQ(atlas_update_texture(a), -1);
  EXPECT_EQ(strip_log_prefixes(out.take()), "image 'x.png' load failed (no image loader)\nNULL atlas\nNo rgba data\n");
  EXPECT_EQ(atlas_get(16), atlas_get(0));
  EXPECT_EQ(static_cast<void*>(atlas_get_full(3)), static_cast<void*>(atlas_get(3)));
  atlas_create_texture(a, 16, 16);
  atlas_get_full(2)->batch[1].entry = static_cast<BATCH_ITEM*>(std::calloc(4, sizeof(BATCH_ITEM)));
  out.take();
  atlas_exit();
  EXPECT_EQ(strip_log_prefixes(out.take()), "ATLAS 2 freeing batch 1\natlas: deleted 0 textures\n");
  EXPECT_EQ(a->rgba, nullptr);
  atlas_init();
}

}  // namespace
