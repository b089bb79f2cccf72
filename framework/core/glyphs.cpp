#include "framework/core/glyphs.h"

#include <cstring>

#include "framework/core/sprite.h"
#include "framework/core/turtle.h"

namespace {

constexpr int kMaxPlotted = 255;  // characters glyphs_batch_plot takes

// The glyph drawn for character code `code` (count must be non-zero).
SPRITE* glyph_for(const SPRITEFONT* font, unsigned code) {
  unsigned index = code - font->first;
  if (index >= font->count) index = font->count - 1;
  return sprite_get(font->glyphbase + index);
}

float half_width(const SPRITE* g) { return static_cast<float>(g->w) * 0.5f; }

}  // namespace

int glyphs_batch_plot_ex(const SPRITEFONT* font, const char* text, int l, int alignment, int additive) {
  if (font == nullptr || text == nullptr) return 0;
  const TURTLE saved = turtle;
  if (font->count == 0) return 0;
  const auto* chars = reinterpret_cast<const unsigned char*>(text);
  float start = half_width(glyph_for(font, chars[0]));
  float total = 0;
  for (int j = 0; j < l; ++j) total += static_cast<float>(glyph_for(font, chars[j])->w);
  if (alignment == 2) {
    start -= total;
  } else if (alignment == 1) {
    start -= total / 2;
  }
  turtle_trans(start, 0);
  for (int j = 0; j < l; ++j) {
    SPRITE* g = glyph_for(font, chars[j]);
    if (j > 0) turtle_trans(half_width(g), 0);
    sprite_batch_plot(g, 0, additive);
    turtle_trans(half_width(g), 0);
  }
  turtle = saved;
  return l;
}

int glyphs_batch_plot(const SPRITEFONT* font, const char* text, int alignment, int additive) {
  if (text == nullptr) return 0;
  const auto l = static_cast<int>(strnlen(text, kMaxPlotted));
  return glyphs_batch_plot_ex(font, text, l, alignment, additive);
}

int glyphs_print_char(const SPRITEFONT* font, char c) {
  if (font == nullptr) return 0;
  if (font->count == 0) return -1;
  // A plain char: codes 128 to 255 are negative here, and so past the font.
  sprite_draw(glyph_for(font, static_cast<unsigned>(static_cast<int>(c))), 0);
  return 1;
}

float glyphs_w(const SPRITEFONT* font, const char* text) {
  if (font == nullptr || text == nullptr || font->count == 0) return 0;
  float width = 0;
  for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    if (*p < font->first) continue;
    width += static_cast<float>(glyph_for(font, *p)->w);
  }
  return width * static_cast<float>(turtle.scalex);
}

float glyphs_h(const SPRITEFONT* font, const char* text) {
  if (font == nullptr || text == nullptr || font->count == 0) return 0;
  int height = 0;
  for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    if (*p < font->first) continue;
    const int h = glyph_for(font, *p)->h;
    if (h > height) height = h;
  }
  return static_cast<float>(height) * static_cast<float>(turtle.scaley);
}

SPRITEFONT glyphs_make_font(unsigned first_sprite, unsigned first_char, unsigned count) {
  return SPRITEFONT{first_sprite, first_char, count, sprite_get(first_sprite)};
}
