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

namespace {

using Texel = uint32_t;  // red in the low byte, as the bytes lie in memory

constexpr Texel kMagenta = 0xFFFF00FF;

Texel rgba(int r, int g, int b, int a) { return r | (g << 8) | (b << 16) | (static_cast<Texel>(a) << 24); }

// An image of w x h texels, filled with `fill`.
struct Image {
  int w, h;
  std::vector<Texel> px;
  Image(int w_, int h_, Texel fill = 0) : w(w_), h(h_), px(static_cast<size_t>(w_ * h_), fill) {}
  Texel& at(int x, int y) { return px[static_cast<size_t>(y * w + x)]; }
  void rect(int x, int y, int rw, int rh, Texel t) {
    for (int j = y; j < y + rh; ++j)
      for (int i = x; i < x + rw; ++i) at(i, j) = t;
  }
  const unsigned char* bytes() const { return reinterpret_cast<const unsigned char*>(px.data()); }
  // A malloc'ed copy, as the loader hands out.
  unsigned char* copy() const {
    auto* b = static_cast<unsigned char*>(std::malloc(px.size() * 4));
    std::memcpy(b, px.data(), px.size() * 4);
    return b;
  }
  RGBA_DATA data() const { return RGBA_DATA{w, h, const_cast<unsigned char*>(bytes())}; }
};

Texel texel(const IMAGE* atlas, int x, int y) {
  Texel t;
  std::memcpy(&t, atlas->rgba + (static_cast<size_t>(y) * atlas->texture_w + x) * 4, 4);
  return t;
}

// Images the fake loader serves, by file name.
std::map<std::string, Image>& files() {
  static std::map<std::string, Image> f;
  return f;
}

unsigned char* fake_loader(const char* file, int* w, int* h) {
  auto it = files().find(file);
  if (it == files().end()) return nullptr;
  *w = it->second.w;
  *h = it->second.h;
  return it->second.copy();
}

class Atlas : public ::testing::Test {
 protected:
  void SetUp() override {
    atlas_init();
    atlas_set_loader(fake_loader);
    files().clear();
  }
  void TearDown() override {
    atlas_set_loader(nullptr);
    atlas_exit();
  }
  IMAGE* a = atlas_get(0);
};

TEST_F(Atlas, TextureSidesArePowersOfTwoAroundThePacker) {
  struct Case {
    int w, h, tw, th;
  };
  for (const Case& c : {Case{300, 200, 512, 256}, Case{0, 100, 512, 512}, Case{64, 0, 512, 512}, Case{3, 5, 4, 8},
                        Case{8192, 1, 0, 0}, Case{8193, 4, 0, 0}, Case{2, 64, 0, 0}, Case{-4, 64, 0, 0}}) {
    StdoutCapture out;
    unsigned char* buffer = atlas_create_texture(a, c.w, c.h);
    const std::string log = strip_log_prefixes(out.take());
    if (c.tw == 0) {
      if (c.w == 8192) continue;  // 8192 x 1: sides of 3 at least
      EXPECT_EQ(buffer, nullptr) << c.w << "x" << c.h;
      EXPECT_THAT(log, HasSubstr("atlas: texture size")) << c.w;
      continue;
    }
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(a->texture_w, c.tw);
    EXPECT_EQ(a->texture_h, c.th);
    EXPECT_EQ(log, "Created " + std::to_string(c.tw) + "x" + std::to_string(c.th) +
                       " texture for atlas named '[no name]'\n");
    EXPECT_EQ(texel(a, 0, 0), kMagenta);
    EXPECT_EQ(texel(a, c.tw - 1, c.th - 1), kMagenta);
  }
}

TEST_F(Atlas, NamedAtlasKeepsItsNameAndLosesEverythingElse) {
  a->name = "tiles";
  a->markerx = 5;
  StdoutCapture out;
  atlas_create_texture(a, 16, 16);
  EXPECT_EQ(strip_log_prefixes(out.take()), "Created 16x16 texture for atlas named 'tiles'\n");
  EXPECT_STREQ(a->name, "tiles");
  EXPECT_EQ(a->markerx, 0);
  EXPECT_EQ(a->opengl_texture, 0u);
}

TEST_F(Atlas, ImagesAreCopiedWithTheBorderOfTheirMode) {
  // A 2 x 2 image: L1 R1 / L2 R2; its border texels by mode, as
  // (above-left, above, left, right of the first row, below).
  const Texel l1 = rgba(1, 0, 0, 255), r1 = rgba(2, 0, 0, 255), l2 = rgba(3, 0, 0, 255), r2 = rgba(4, 0, 0, 255);
  Image img(2, 2);
  img.at(0, 0) = l1;
  img.at(1, 0) = r1;
  img.at(0, 1) = l2;
  img.at(1, 1) = r2;
  struct Case {
    int mode;
    Texel corner, above, left, right, below;
    int next_x;  // where the next image goes
  };
  for (const Case& c : {Case{ATLAS_MODE_TRANSPARENT_BORDER, 0, 0, 0, 0, 0, 6}, Case{ATLAS_MODE_DOUBLE_BORDER, l1, l1, l1, r1, l2, 6},
                        Case{ATLAS_MODE_WRAP_BORDER, r2, l2, r1, l1, l1, 6},
                        Case{7, kMagenta, kMagenta, kMagenta, kMagenta, kMagenta, 4}}) {
    atlas_create_texture(a, 16, 16);
    SPRITE* s = atlas_add_rgba_image(a, img.bytes(), 2, 2, 2, c.mode);
    ASSERT_NE(s, nullptr);
    const int x = s->atlasx, y = s->atlasy;
    EXPECT_EQ(texel(a, x, y), l1);
    EXPECT_EQ(texel(a, x + 1, y + 1), r2);
    EXPECT_EQ(texel(a, x - 1, y - 1), c.corner) << c.mode;
    EXPECT_EQ(texel(a, x, y - 1), c.above) << c.mode;
    EXPECT_EQ(texel(a, x - 1, y), c.left) << c.mode;
    EXPECT_EQ(texel(a, x + 2, y), c.right) << c.mode;
    EXPECT_EQ(texel(a, x, y + 2), c.below) << c.mode;
    SPRITE* next = atlas_add_rgba_image(a, img.bytes(), 2, 2, 2, c.mode);
    EXPECT_EQ(next->atlasx, c.next_x) << c.mode;
  }
}

TEST_F(Atlas, ABorderNeverOverwritesANeighboursTexels) {
  atlas_create_texture(a, 16, 16);
  Image block(3, 3, rgba(7, 7, 7, 255));
  SPRITE* plain = atlas_add_rgba_image(a, block.bytes(), 3, 3, 3, ATLAS_MODE_NO_BORDER);
  Image dot(1, 1, rgba(9, 9, 9, 255));
  SPRITE* framed = atlas_add_rgba_image(a, dot.bytes(), 1, 1, 1, ATLAS_MODE_TRANSPARENT_BORDER);
  EXPECT_EQ(framed->atlasx, plain->atlasx + 4);  // its left border is its own
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(texel(a, plain->atlasx + x, plain->atlasy + y), rgba(7, 7, 7, 255));
  EXPECT_EQ(texel(a, framed->atlasx - 1, framed->atlasy), 0u);
}

TEST_F(Atlas, ImagesWithoutBorderTouch) {
  atlas_create_texture(a, 16, 16);
  Image img(3, 2, rgba(9, 9, 9, 9));
  atlas_add_rgba_image(a, img.bytes(), 3, 2, 3, ATLAS_MODE_NO_BORDER);
  SPRITE* s = atlas_add_rgba_image(a, img.bytes(), 3, 2, 3, ATLAS_MODE_NO_BORDER);
  EXPECT_EQ(s->atlasx, 4);
  EXPECT_EQ(s->w, 3);
  EXPECT_EQ(s->h, 2);
  EXPECT_EQ(s->atlas, atlas_get_full(0));
  EXPECT_EQ(sprite_count(), 2);
  EXPECT_EQ(sprite_get_id(s), 1);
}

TEST_F(Atlas, AFullAtlasAddsNothing) {
  atlas_create_texture(a, 8, 8);
  Image img(6, 6, 1);
  EXPECT_NE(atlas_add_rgba_image(a, img.bytes(), 6, 6, 6, 0), nullptr);
  EXPECT_EQ(atlas_add_rgba_image(a, img.bytes(), 1, 1, 6, 0), nullptr);
  EXPECT_EQ(sprite_count(), 1);
}

TEST_F(Atlas, OnlyTheAtlasBeingBuiltTakesImages) {
  Image img(4, 4, 1);
  StdoutCapture out;
  EXPECT_EQ(atlas_add_rgba_image(a, img.bytes(), 4, 4, 4, 0), nullptr);  // no texture yet
  atlas_create_texture(a, 8, 8);
  IMAGE* b = atlas_get(1);
  b->name = "big";
  atlas_create_texture(b, 512, 512);  // b's packer: a is no longer being built
  out.take();
  EXPECT_EQ(atlas_add_rgba_image(a, img.bytes(), 4, 4, 4, 0), nullptr);
  EXPECT_EQ(strip_log_prefixes(out.take()), "atlas '[no name]' is not being built\n");
  EXPECT_NE(atlas_add_rgba_image(b, img.bytes(), 4, 4, 4, 0), nullptr);
  EXPECT_EQ(sprite_count(), 1);
}

TEST_F(Atlas, BadImagesAreRefused) {
  atlas_create_texture(a, 64, 64);
  Image img(4, 4, 1);
  StdoutCapture out;
  EXPECT_EQ(atlas_add_rgba_image(a, nullptr, 4, 4, 4, 0), nullptr);
  EXPECT_EQ(atlas_add_rgba_image(a, img.bytes(), 0, 4, 4, 0), nullptr);
  EXPECT_EQ(atlas_add_rgba_image(a, img.bytes(), 4, 4, 3, 0), nullptr);
  EXPECT_EQ(strip_log_prefixes(out.take()),
            "atlas: image 4x4 (rows of 4) refused\natlas: image 0x4 (rows of 4) refused\n"
            "atlas: image 4x4 (rows of 3) refused\n");
}

TEST_F(Atlas, TheSpriteTableRefusesItsFourThousandAndNinetySeventhRecord) {
  atlas_create_texture(a, 512, 512);
  const Texel one = 1;
  for (int i = 0; i < SPRITE_TABLE_SIZE; ++i)
    ASSERT_NE(atlas_add_rgba_image(a, reinterpret_cast<const unsigned char*>(&one), 1, 1, 1, 0), nullptr) << i;
  EXPECT_EQ(sprite_last(), nullptr);
  StdoutCapture out;
  EXPECT_EQ(atlas_add_rgba_image(a, reinterpret_cast<const unsigned char*>(&one), 1, 1, 1, 0), nullptr);
  EXPECT_EQ(strip_log_prefixes(out.take()), "sprite table full (4096 sprites): image not added\n");
  EXPECT_EQ(sprite_count(), SPRITE_TABLE_SIZE);
  EXPECT_EQ(sprite_get(4096), sprite_get(0));
  SPRITE outside{};
  EXPECT_EQ(sprite_get_id(&outside), -1);
}

// Sprite sheets.

SPRITESHEET sheet_of(RGBA_DATA* data, int cw, int ch, int total = 0) { return SPRITESHEET{total, 0, cw, ch, data}; }

TEST_F(Atlas, SheetCellsAreShrinkWrappedAroundTheirPixels) {
  Image img(16, 16);
  img.rect(4, 2, 6, 11, rgba(0, 0, 0, 1));  // columns 4..9, rows 2..12; not opaque, yet not zero
  RGBA_DATA data = img.data();
  SPRITESHEET sheet = sheet_of(&data, 16, 16);
  atlas_create_texture(a, 64, 64);
  StdoutCapture out;
  EXPECT_EQ(atlas_add_sprite_sheet(a, &sheet, 0), 0);
  const SPRITE* s = sprite_get(0);
  EXPECT_EQ(s->w, 6);
  EXPECT_EQ(s->h, 12);  // 11 rows, widened to keep an even cell even
  EXPECT_EQ(s->boxx, 4);
  EXPECT_EQ(s->boxy, 2);
  EXPECT_EQ(s->boxw, 16);
  EXPECT_EQ(s->boxh, 16);
  EXPECT_EQ(s->xoff, -1);
  EXPECT_EQ(s->yoff, 0);
  EXPECT_EQ(texel(a, 1, 1), rgba(0, 0, 0, 1));  // taken from (4, 2)
  EXPECT_EQ(texel(a, 1, 12), 0u);                // the widened row 13 is empty
  EXPECT_EQ(strip_log_prefixes(out.take()),
            "1 sprites added\n    atlas size: 16384 (64x64)\n    atlas used: 72\n    atlas left: 16096\n"
            "    1.76% used\n");
}

TEST_F(Atlas, EmptyCellsBecomeOneOrTwoTexelSprites) {
  struct Case {
    int cell, size;
  };
  for (const Case& c : {Case{8, 2}, Case{7, 1}}) {
    Image img(c.cell, c.cell);
    RGBA_DATA data = img.data();
    SPRITESHEET sheet = sheet_of(&data, c.cell, c.cell);
    atlas_create_texture(a, 32, 32);
    const int before = sprite_count();
    atlas_add_sprite_sheet(a, &sheet, 0);
    EXPECT_EQ(sprite_get(before)->w, c.size) << c.cell;
    EXPECT_EQ(sprite_get(before)->h, c.size) << c.cell;
  }
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
    EXPECT_EQ(sheet.total, c.total == 0 ? 2 : c.total_after) << c.total;
    EXPECT_THAT(strip_log_prefixes(out.take()), ::testing::StartsWith(c.line));
  }
}

TEST_F(Atlas, CellsOfASheetThatIsNoWholeNumberOfCellsAreClippedToTheImage) {
  // 10 x 7 in cells of 4 x 4: columns 0-3, 4-7, 8-9; rows 0-3, 4-6.
  Image img(10, 7);
  img.at(9, 0) = rgba(1, 1, 1, 1);  // last column of the partial cell (8, 0)
  img.at(2, 6) = rgba(2, 2, 2, 2);  // last row of the partial cell (0, 4)
  RGBA_DATA data = img.data();
  SPRITESHEET sheet = sheet_of(&data, 4, 4);
  atlas_create_texture(a, 64, 64);
  EXPECT_EQ(atlas_add_sprite_sheet(a, &sheet, 0), 0);
  EXPECT_EQ(sheet.total, 6);
  const SPRITE* right = sprite_get(2);
  EXPECT_EQ(right->boxx, 0);  // widened to 2 and moved left inside the 2 columns there are
  EXPECT_EQ(right->w, 2);
  EXPECT_EQ(right->boxw, 4);
  EXPECT_EQ(texel(a, right->atlasx + 1, right->atlasy), rgba(1, 1, 1, 1));
  const SPRITE* bottom = sprite_get(3);
  EXPECT_EQ(bottom->boxy, 1);  // rows 5..6 of the 3 rows inside the image
  EXPECT_EQ(bottom->h, 2);
  EXPECT_EQ(texel(a, bottom->atlasx + (2 - bottom->boxx), bottom->atlasy + 1), rgba(2, 2, 2, 2));
  const SPRITE* corner = sprite_get(5);  // (8, 4): 2 x 3 inside the image, empty
  EXPECT_EQ(corner->w, 2);
  EXPECT_EQ(corner->h, 2);
}

TEST_F(Atlas, ASheetWithoutCellsIsRefused) {
  Image img(8, 8, 1);
  RGBA_DATA data = img.data();
  atlas_create_texture(a, 64, 64);
  StdoutCapture out;
  for (SPRITESHEET sheet : {sheet_of(&data, 0, 4), sheet_of(&data, 4, -1), sheet_of(nullptr, 4, 4)})
    EXPECT_EQ(atlas_add_sprite_sheet(a, &sheet, 0), -1);
  EXPECT_EQ(atlas_add_sprite_sheet(a, nullptr, 0), -1);
  EXPECT_THAT(strip_log_prefixes(out.take()), HasSubstr("sprite sheet refused (cells 0x4)\n"));
  EXPECT_EQ(sprite_count(), 0);
}

TEST_F(Atlas, SpriteSheetFilesLoadThroughTheLoader) {
  files().emplace("sheet.png", Image(8, 8, 1));
  atlas_create_texture(a, 64, 64);
  SPRITESHEET sheet{};
  EXPECT_EQ(atlas_load_spritesheet(a, &sheet, 4, 4, 0, 0, "sheet.png"), 0);
  EXPECT_EQ(sheet.total, 4);
  EXPECT_EQ(sheet.spritew, 4);
  EXPECT_EQ(sheet.rgba, nullptr);
  EXPECT_EQ(atlas_load_spritesheet(a, nullptr, 4, 4, 3, 0, "sheet.png"), 0);
  EXPECT_EQ(sprite_count(), 7);
  EXPECT_EQ(atlas_load_spritesheet(a, nullptr, 4, 4, 0, 0, "missing.png"), -2);
}

// Glyph sheets: an outline colour around each glyph.

constexpr Texel kOutline = 0xFF00FF00;  // opaque green
const Texel kInk = rgba(255, 255, 255, 255);

// A row of glyphs of the given widths and height, framed by the outline.
Image glyph_row(const std::vector<int>& widths, int height) {
  int w = 1;
  for (int g : widths) w += g + 1;
  Image img(w, height + 2, kOutline);
  int x = 1;
  for (int g : widths) {
    img.rect(x, 1, g, height, kInk);
    x += g + 1;
  }
  return img;
}

TEST_F(Atlas, GlyphsAreFoundLeftToRightWithTheirSizes) {
  Image img = glyph_row({3, 1, 5}, 4);
  img.at(2, 2) = 0;  // a transparent pixel inside a glyph is part of it
  RGBA_DATA data = img.data();
  atlas_create_texture(a, 64, 64);
  EXPECT_EQ(atlas_add_glyphs(a, &data, ATLAS_MODE_TRANSPARENT_BORDER), 3);
  const int widths[] = {3, 1, 5};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(sprite_get(i)->w, widths[i]);
    EXPECT_EQ(sprite_get(i)->h, 4);
    EXPECT_EQ(sprite_get(i)->boxw, widths[i]);
    EXPECT_EQ(sprite_get(i)->boxh, 4);
  }
}

TEST_F(Atlas, GlyphEdgeCases) {
  struct Case {
    const char* what;
    Image sheet;
    int glyphs;
    int first_w, first_h;
  };
  Image edge(5, 4, kOutline);  // a glyph that runs to the right and bottom edges
  edge.rect(2, 1, 3, 3, kInk);
  Image no_outline(6, 6, kInk);  // (0, 0) is the outline: nothing is framed by it
  Image tiny(3, 3, kOutline);
  tiny.at(1, 1) = kInk;
  Image rows(4, 7, kOutline);  // two one-pixel-wide glyphs, one above the other
  rows.rect(1, 1, 1, 2, kInk);
  rows.rect(1, 4, 2, 2, kInk);
  Case cases[] = {{"to the edges", edge, 1, 3, 3},
                  {"no outline", no_outline, 0, 0, 0},
                  {"one pixel", tiny, 1, 1, 1},
                  {"two rows", rows, 2, 1, 2},
                  {"one pixel sheet", Image(1, 1, kInk), 0, 0, 0}};
  for (Case& c : cases) {
    RGBA_DATA data = c.sheet.data();
    atlas_create_texture(a, 64, 64);
    const int before = sprite_count();
    EXPECT_EQ(atlas_add_glyphs(a, &data, 1), c.glyphs) << c.what;
    if (c.glyphs > 0) {
      EXPECT_EQ(sprite_get(before)->w, c.first_w) << c.what;
      EXPECT_EQ(sprite_get(before)->h, c.first_h) << c.what;
    }
  }
  RGBA_DATA empty{0, 0, nullptr};
  EXPECT_EQ(atlas_add_glyphs(a, &empty, 1), 0);
}

TEST_F(Atlas, GlyphsThatDoNotFitReportMinusOne) {
  Image img = glyph_row({7, 7, 7}, 7);
  RGBA_DATA data = img.data();
  atlas_create_texture(a, 16, 16);  // room for one 8 x 8 glyph with its gap
  EXPECT_EQ(atlas_add_glyphs(a, &data, 1), -1);
}

TEST_F(Atlas, FontsLoadWithTheirFirstCharacterAndGiveBackSpriteRecordsOnFailure) {
  files().emplace("font.png", glyph_row({4, 2}, 5));
  files().emplace("wide.png", glyph_row({40, 40, 40}, 30));
  files().emplace("blank.png", Image(4, 4, kOutline));
  SPRITEFONT font{};
  EXPECT_EQ(atlas_load_font(nullptr, &font, 'A', "font.png"), -1);
  EXPECT_EQ(atlas_load_font(a, &font, 'A', "font.png"), -2);  // no buffer
  atlas_create_texture(a, 64, 64);
  EXPECT_EQ(atlas_load_font(a, nullptr, 'A', "font.png"), -3);
  EXPECT_EQ(atlas_load_font(a, &font, 'A', "missing.png"), -4);
  atlas_add_rgba_image(a, reinterpret_cast<const unsigned char*>(&kInk), 1, 1, 1, 0);
  ASSERT_EQ(atlas_load_font(a, &font, 'A', "font.png"), 0);
  EXPECT_EQ(font.first, static_cast<uint32_t>('A'));
  EXPECT_EQ(font.glyphbase, 1u);
  EXPECT_EQ(font.count, 2u);
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

TEST_F(Atlas, WithoutALoaderNothingLoads) {
  atlas_set_loader(nullptr);
  StdoutCapture out;
  EXPECT_EQ(rgba_load("x.png"), nullptr);
  EXPECT_EQ(strip_log_prefixes(out.take()), "image 'x.png' load failed (no image loader)\n");
  rgba_free(nullptr);
}

TEST_F(Atlas, UploadRefusesWhatItCannotSend) {
  StdoutCapture out;
  EXPECT_EQ(atlas_upload(nullptr, 0, PIXEL_RGBA8), -1);
  EXPECT_EQ(atlas_upload(a, 0, PIXEL_RGBA8), -2);
  EXPECT_EQ(atlas_update_texture(a), -1);
  EXPECT_EQ(strip_log_prefixes(out.take()), "NULL atlas\nNo rgba data\n");
}

TEST_F(Atlas, TableIndicesWrapAndExitLogsWhatItFreed) {
  EXPECT_EQ(atlas_get(16), atlas_get(0));
  EXPECT_EQ(atlas_get(-1), atlas_get(15));
  EXPECT_EQ(static_cast<void*>(atlas_get_full(3)), static_cast<void*>(atlas_get(3)));
  atlas_create_texture(a, 16, 16);
  atlas_get_full(2)->batch[1].entry = static_cast<BATCH_ITEM*>(std::calloc(4, sizeof(BATCH_ITEM)));
  StdoutCapture out;
  atlas_exit();
  EXPECT_EQ(strip_log_prefixes(out.take()), "ATLAS 2 freeing batch 1\natlas: deleted 0 textures\n");
  EXPECT_EQ(a->rgba, nullptr);
  StdoutCapture again;
  EXPECT_EQ(atlas_init(), 0);
  EXPECT_EQ(strip_log_prefixes(again.take()), "atlas: init\n");
}

}  // namespace
