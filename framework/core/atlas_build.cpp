#include "framework/core/atlas_build.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "framework/core/kel_assert.h"
#include "framework/core/log.h"
#include "framework/core/texture-atlas.h"

int32_t spritecount = 0;

namespace {

std::array<ATLAS, ATLAS_COUNT> atlas_;
std::array<SPRITE, SPRITE_TABLE_SIZE> sprites_;

// The pixel buffer this module made for each record of the table, which the
// record owns while it still holds it. Only that buffer, and the texture
// uploaded from the record, are ever released: a record outside the table
// (one on the stack, say) may hold garbage in fields never set, and its
// buffers are its owner's.
std::array<unsigned char*, ATLAS_COUNT> made_rgba{};

// The slot of `record` in made_rgba, or null for a record outside the table.
unsigned char** made_slot(const IMAGE* record) {
  for (std::size_t i = 0; i < atlas_.size(); ++i)
    if (&atlas_[i].image == record) return &made_rgba[i];
  return nullptr;
}

// Whether `record` holds the buffer this module made for it (and so owns
// it, and any texture uploaded from it).
bool holds_made_buffer(const IMAGE* record) {
  const unsigned char* const* slot = made_slot(record);
  return slot != nullptr && *slot != nullptr && *slot == record->rgba;
}

// The one packer, and the atlas it belongs to.
texture_atlas_t* packer = nullptr;
const IMAGE* packer_owner = nullptr;

constexpr uint32_t kMagenta = 0xFFFF00FFu;  // red 255, green 0, blue 255, alpha 255 in memory order

unsigned char* no_loader(const char* file, int*, int*) {
  kel_log("image '%s' load failed (no image loader)\n", file ? file : "(null)");
  return nullptr;
}
ATLAS_LOAD_RGBA loader = no_loader;

void forget_texture(uint32_t) {}
ATLAS_DELETE_TEXTURE delete_texture = forget_texture;

void delete_packer() {
  if (packer) texture_atlas_delete(packer);
  packer = nullptr;
  packer_owner = nullptr;
}

const char* name_of(const IMAGE* image) { return image->name ? image->name : "[no name]"; }

uint32_t texel_at(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Byte offset of texel (x, y) in RGBA rows of `row` texels; all three are
// known not to be negative.
size_t texel_offset(int x, int y, int row) {
  return (static_cast<size_t>(y) * static_cast<size_t>(row) + static_cast<size_t>(x)) * 4;
}

int next_power_of_two(int n) {
  int p = 1;
  while (p < n) p *= 2;
  return p;
}

// The atlas `atlas` can take additions: it is the one being built.
bool being_built(const IMAGE* atlas) {
  if (atlas != nullptr && atlas == packer_owner && packer != nullptr && atlas->rgba != nullptr) return true;
  kel_log("atlas '%s' is not being built\n", atlas ? name_of(atlas) : "(null)");
  return false;
}

// Border texels around a w x h image copied to (x, y) of a buffer with rows
// of `stride` texels.
void write_borders(unsigned char* buffer, int stride, int x, int y, int w, int h, int mode) {
  auto texel = [&](int col, int row) { return buffer + texel_offset(col, row, stride); };
  auto copy_texel = [](unsigned char* to, const unsigned char* from) { std::memcpy(to, from, 4); };
  for (int row = y; row < y + h; ++row) {
    unsigned char* left = texel(x - 1, row);
    unsigned char* right = texel(x + w, row);
    if (mode == ATLAS_MODE_TRANSPARENT_BORDER) {
      std::memset(left, 0, 4);
      std::memset(right, 0, 4);
    } else if (mode == ATLAS_MODE_DOUBLE_BORDER) {
      copy_texel(left, texel(x, row));
      copy_texel(right, texel(x + w - 1, row));
    } else {
      copy_texel(left, texel(x + w - 1, row));
      copy_texel(right, texel(x, row));
    }
  }
  const size_t span = static_cast<size_t>(w + 2) * 4;
  unsigned char* above = texel(x - 1, y - 1);
  unsigned char* below = texel(x - 1, y + h);
  if (mode == ATLAS_MODE_TRANSPARENT_BORDER) {
    std::memset(above, 0, span);
    std::memset(below, 0, span);
  } else if (mode == ATLAS_MODE_DOUBLE_BORDER) {
    std::memcpy(above, texel(x - 1, y), span);
    std::memcpy(below, texel(x - 1, y + h - 1), span);
  } else {
    std::memcpy(above, texel(x - 1, y + h - 1), span);
    std::memcpy(below, texel(x - 1, y), span);
  }
}

void log_sheet_report(const IMAGE* atlas) {
  const int texels = atlas->texture_w * atlas->texture_h;
  const auto used = static_cast<int>(packer ? packer->used : 0);
  kel_log("    atlas size: %d (%dx%d)\n", texels * 4, atlas->texture_w, atlas->texture_h);
  kel_log("    atlas used: %d\n", used);
  kel_log("    atlas left: %d\n", (texels - used) * 4);
  kel_log("    %.2f%% used\n", static_cast<double>(static_cast<float>(used) / static_cast<float>(texels) * 100.0f));
}

// The smallest box of non-zero pixels of a cell, widened to keep an even
// cell's sprite even, and kept inside the `avail` pixels of the cell that
// lie inside the image.
struct Span {
  int start, length;
};
Span fit_span(int first, int last, int cell, int avail) {
  Span s = last < first ? Span{0, 1} : Span{first, last + 1 - first};
  if ((s.length & 1) && !(cell & 1)) ++s.length;
  if (avail < s.length + s.start) --s.start;
  if (s.start < 0) {
    s.start = 0;
    s.length = std::min(s.length, avail);
  }
  return s;
}

}  // namespace

IMAGE* atlas_get(int index) { return &atlas_[static_cast<size_t>(index & 15)].image; }
ATLAS* atlas_get_full(int index) { return &atlas_[static_cast<size_t>(index & 15)]; }

unsigned char* atlas_create_texture(IMAGE* atlas, int w, int h) {
  if (atlas == nullptr) return nullptr;
  if (w == 0 || h == 0) w = h = 512;
  if (w < 3 || h < 3 || w > ATLAS_MAX_SIDE || h > ATLAS_MAX_SIDE) {
    kel_log("atlas: texture size %dx%d refused\n", w, h);
    return nullptr;
  }
  delete_packer();
  packer = texture_atlas_new(static_cast<uint32_t>(w), static_cast<uint32_t>(h), 4);
  packer_owner = atlas;

  if (holds_made_buffer(atlas)) {
    if (atlas->opengl_texture != 0) delete_texture(atlas->opengl_texture);
    std::free(atlas->rgba);
  }
  const char* name = atlas->name;
  *atlas = IMAGE{};
  atlas->name = name;
  atlas->texture_w = next_power_of_two(w);
  atlas->texture_h = next_power_of_two(h);
  const size_t texels = static_cast<size_t>(atlas->texture_w) * static_cast<size_t>(atlas->texture_h);
  atlas->rgba = static_cast<unsigned char*>(std::malloc(texels * 4));
  if (atlas->rgba == nullptr) kel_out_of_memory(__LINE__);
  if (unsigned char** slot = made_slot(atlas)) *slot = atlas->rgba;
  for (size_t i = 0; i < texels; ++i) std::memcpy(atlas->rgba + 4 * i, &kMagenta, 4);
  kel_log("Created %dx%d texture for atlas named '%s'\n", atlas->texture_w, atlas->texture_h, name_of(atlas));
  return atlas->rgba;
}

SPRITE* atlas_add_rgba_image(IMAGE* atlas, const unsigned char* pixels, int w, int h, int sheetw, int mode) {
  if (!being_built(atlas)) return nullptr;
  if (pixels == nullptr || w < 1 || h < 1 || sheetw < w || w > ATLAS_MAX_SIDE || h > ATLAS_MAX_SIDE) {
    kel_log("atlas: image %dx%d (rows of %d) refused\n", w, h, sheetw);
    return nullptr;
  }
  if (spritecount >= SPRITE_TABLE_SIZE) {
    kel_log("sprite table full (%d sprites): image not added\n", SPRITE_TABLE_SIZE);
    return nullptr;
  }
  // A border takes a texel on every side inside the image's own region, so
  // that it never lands on a neighbour's texels; other non-zero modes keep a
  // gap to the right and below.
  const bool border =
      mode == ATLAS_MODE_TRANSPARENT_BORDER || mode == ATLAS_MODE_DOUBLE_BORDER || mode == ATLAS_MODE_WRAP_BORDER;
  const int extra = border ? 2 : mode != 0 ? 1 : 0;
  const ivec4 region =
      texture_atlas_get_region(packer, static_cast<uint32_t>(w + extra), static_cast<uint32_t>(h + extra));
  if (region.x < 0 || region.y < 0) return nullptr;

  const int inset = border ? 1 : 0;
  const int x = region.x + inset, y = region.y + inset, stride = atlas->texture_w;
  for (int row = 0; row < h; ++row) {
    std::memcpy(atlas->rgba + texel_offset(x, y + row, stride), pixels + texel_offset(0, row, sheetw),
                texel_offset(w, 0, 0));
  }
  if (border) write_borders(atlas->rgba, stride, x, y, w, h, mode);
  SPRITE* sprite = &sprites_[static_cast<size_t>(spritecount)];
  *sprite = SPRITE{};
  sprite->atlasx = static_cast<int16_t>(x);
  sprite->atlasy = static_cast<int16_t>(y);
  sprite->w = static_cast<int16_t>(w);
  sprite->h = static_cast<int16_t>(h);
  sprite->atlas = reinterpret_cast<ATLAS*>(atlas);
  ++spritecount;
  return sprite;
}

int atlas_add_sprite_sheet(IMAGE* atlas, SPRITESHEET* sheet, int mode) {
  if (sheet == nullptr || sheet->rgba == nullptr || sheet->rgba->bytes == nullptr || sheet->spritew < 1 ||
      sheet->spriteh < 1 || sheet->spritew > ATLAS_MAX_SIDE || sheet->spriteh > ATLAS_MAX_SIDE) {
    kel_log("sprite sheet refused (cells %dx%d)\n", sheet ? sheet->spritew : 0, sheet ? sheet->spriteh : 0);
    return -1;
  }
  if (!being_built(atlas)) return -1;
  const RGBA_DATA& image = *sheet->rgba;
  const int cw = sheet->spritew, ch = sheet->spriteh;
  const int remaining = sheet->total;
  int i = 0, column = 0, row = 0;
  for (;;) {
    if (sheet->total != 0 && i >= remaining) break;
    const int cx = column * cw, cy = row * ch;
    if (image.w < 1 || image.h < 1 || cy >= image.h) {
      sheet->total = i;
      break;
    }
    // The part of the cell inside the image.
    const int aw = std::min(cw, image.w - cx), ah = std::min(ch, image.h - cy);
    int minx = aw, maxx = -1, miny = ah, maxy = -1;
    for (int y = 0; y < ah; ++y) {
      const unsigned char* line = image.bytes + texel_offset(cx, cy + y, image.w);
      for (int x = 0; x < aw; ++x) {
        if (texel_at(line + 4 * x) == 0) continue;
        minx = std::min(minx, x);
        maxx = std::max(maxx, x);
        miny = std::min(miny, y);
        maxy = std::max(maxy, y);
      }
    }
    const Span bx = fit_span(minx, maxx, cw, aw);
    const Span by = fit_span(miny, maxy, ch, ah);
    const unsigned char* first = image.bytes + texel_offset(cx + bx.start, cy + by.start, image.w);
    SPRITE* sprite = atlas_add_rgba_image(atlas, first, bx.length, by.length, image.w, mode);
    if (sprite == nullptr) break;
    sprite->boxx = static_cast<int16_t>(bx.start);
    sprite->boxy = static_cast<int16_t>(by.start);
    sprite->boxw = static_cast<int16_t>(cw);
    sprite->boxh = static_cast<int16_t>(ch);
    sprite->xoff = static_cast<int16_t>((bx.start - (cw - bx.length - bx.start)) * 0.5);
    sprite->yoff = static_cast<int16_t>((by.start - (ch - by.length - by.start)) * 0.5);
    if (++column * cw >= image.w) {
      column = 0;
      ++row;
    }
    ++i;
  }
  int result = 0;
  if (i < remaining) {
    result = remaining - i;
    kel_log("Ran out of atlas space, %d sprites remaining\n", result);
  } else {
    kel_log("%d sprites added\n", i);
  }
  log_sheet_report(atlas);
  return result;
}

int atlas_add_glyphs(IMAGE* atlas, const RGBA_DATA* sheet, int mode) {
  if (sheet == nullptr || sheet->bytes == nullptr || sheet->w < 1 || sheet->h < 1) return 0;
  if (!being_built(atlas)) return -1;
  const int w = sheet->w, h = sheet->h;
  auto at = [&](int x, int y) -> uint32_t {
    if (x < 0 || y < 0 || x >= w || y >= h) return 0;
    return texel_at(sheet->bytes + texel_offset(x, y, w));
  };
  const uint32_t outline = at(0, 0);
  int count = 0;
  for (int y = 1; y < h; ++y) {
    for (int x = 1; x < w; ++x) {
      if (at(x, y) == outline || at(x - 1, y) != outline || at(x, y - 1) != outline || at(x - 1, y - 1) != outline) {
        continue;
      }
      int gw = 1, gh = 1;
      while (x + gw < w && at(x + gw, y) != outline) ++gw;
      while (y + gh < h && at(x, y + gh) != outline) ++gh;
      const unsigned char* first = sheet->bytes + texel_offset(x, y, w);
      SPRITE* sprite = atlas_add_rgba_image(atlas, first, gw, gh, w, mode);
      if (sprite == nullptr) return -1;
      sprite->boxw = static_cast<int16_t>(gw);
      sprite->boxh = static_cast<int16_t>(gh);
      ++count;
    }
  }
  return count;
}

int atlas_load_spritesheet(IMAGE* atlas, SPRITESHEET* sheet, int spritew, int spriteh, int count, int mode,
                           const char* file) {
  RGBA_DATA* image = rgba_load(file);
  if (image == nullptr) return -2;
  SPRITESHEET temporary{};
  SPRITESHEET* s = sheet ? sheet : &temporary;
  s->rgba = image;
  s->spritew = spritew;
  s->spriteh = spriteh;
  s->total = count;
  const int result = atlas_add_sprite_sheet(atlas, s, mode);
  rgba_free(image);
  s->rgba = nullptr;
  return result;
}

int atlas_load_font(IMAGE* atlas, SPRITEFONT* font, uint8_t first_char, const char* file) {
  const int32_t count_before = spritecount;
  if (font) *font = SPRITEFONT{};
  if (atlas == nullptr) return -1;
  if (atlas->rgba == nullptr || atlas->opengl_texture != 0) return -2;
  if (font == nullptr) return -3;
  RGBA_DATA* image = rgba_load(file);
  if (image == nullptr) return -4;
  font->first = first_char;
  font->glyphbase = static_cast<uint32_t>(spritecount);
  font->glyphs = sprite_last();
  const int glyphs = atlas_add_glyphs(atlas, image, ATLAS_MODE_TRANSPARENT_BORDER);
  rgba_free(image);
  if (glyphs < 0) {
    spritecount = count_before;
    return -5;
  }
  if (glyphs == 0) kel_log("font '%s': no glyphs found\n", file);
  font->count = static_cast<uint32_t>(glyphs);
  return 0;
}

SPRITE* sprite_last() {
  if (spritecount < 0 || spritecount >= SPRITE_TABLE_SIZE) return nullptr;
  return &sprites_[static_cast<size_t>(spritecount)];
}

SPRITE* sprite_get(unsigned id) { return &sprites_[id & (SPRITE_TABLE_SIZE - 1)]; }

int sprite_get_id(const SPRITE* sprite) {
  const auto at = reinterpret_cast<uintptr_t>(sprite);
  const auto begin = reinterpret_cast<uintptr_t>(sprites_.data());
  if (at < begin || at >= begin + sizeof(sprites_)) return -1;
  return static_cast<int>((at - begin) / sizeof(SPRITE));
}

int sprite_count() { return spritecount; }

RGBA_DATA* rgba_load(const char* file) {
  int w = 0, h = 0;
  unsigned char* bytes = loader(file, &w, &h);
  if (bytes == nullptr) return nullptr;
  auto* data = static_cast<RGBA_DATA*>(std::malloc(sizeof(RGBA_DATA)));
  if (data == nullptr) kel_out_of_memory(__LINE__);
  *data = RGBA_DATA{w, h, bytes};
  return data;
}

void rgba_free(RGBA_DATA* data) {
  if (data == nullptr) return;
  std::free(data->bytes);
  std::free(data);
}

void atlas_set_loader(ATLAS_LOAD_RGBA new_loader) { loader = new_loader ? new_loader : no_loader; }

void atlas_end_building() { delete_packer(); }

int atlas_release_all() {
  int deleted = 0;
  for (int i = 0; i < ATLAS_COUNT; ++i) {
    ATLAS& a = atlas_[static_cast<size_t>(i)];
    if (a.image.opengl_texture != 0) {
      delete_texture(a.image.opengl_texture);
      ++deleted;
    }
    for (int b = 0; b < 2; ++b) {
      if (a.batch[b].entry == nullptr) continue;
      kel_log("ATLAS %d freeing batch %d\n", i, b);
      std::free(a.batch[b].entry);
    }
    if (holds_made_buffer(&a.image)) std::free(a.image.rgba);
    made_rgba[static_cast<size_t>(i)] = nullptr;
    a = ATLAS{};
  }
  delete_packer();
  return deleted;
}

void atlas_set_texture_deleter(ATLAS_DELETE_TEXTURE deleter) { delete_texture = deleter ? deleter : forget_texture; }
