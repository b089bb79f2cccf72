#include "hack/tonebrook/scope_font.h"

#include <array>
#include <cstdint>
#include <cstdlib>

#include "framework/core/kel_assert.h"

namespace {

constexpr std::array<std::array<uint8_t, SCOPE_GLYPH_H>, SCOPE_FONT_COUNT> kGlyphs{{
#include "hack/tonebrook/scope_font_glyphs.inc"
}};

constexpr int kPerRow = 16;

}  // namespace

bool scope_font_ink(char c, int x, int y) {
  const unsigned k = static_cast<unsigned char>(c) - SCOPE_FONT_FIRST;
  if (k >= SCOPE_FONT_COUNT || x < 0 || x >= SCOPE_GLYPH_W || y < 0 || y >= SCOPE_GLYPH_H) return false;
  return (kGlyphs[k][static_cast<std::size_t>(y)] >> (SCOPE_GLYPH_W - 1 - x)) & 1;
}

RGBA_DATA* scope_font_sheet() {
  constexpr int rows = (SCOPE_FONT_COUNT + kPerRow - 1) / kPerRow;
  constexpr int w = 1 + kPerRow * (SCOPE_GLYPH_W + 1), h = 1 + rows * (SCOPE_GLYPH_H + 1);
  auto* sheet = static_cast<RGBA_DATA*>(std::malloc(sizeof(RGBA_DATA)));
  auto* bytes = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(w) * h * 4));
  if (sheet == nullptr || bytes == nullptr) kel_out_of_memory(__LINE__);
  *sheet = RGBA_DATA{w, h, bytes};
  auto put = [&](int x, int y, uint32_t rgba) {
    unsigned char* p = bytes + (static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x)) * 4;
    p[0] = static_cast<unsigned char>(rgba >> 24);
    p[1] = static_cast<unsigned char>(rgba >> 16);
    p[2] = static_cast<unsigned char>(rgba >> 8);
    p[3] = static_cast<unsigned char>(rgba);
  };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) put(x, y, 0xFF00FFFF);
  for (unsigned k = 0; k < SCOPE_FONT_COUNT; ++k) {
    const int x0 = 1 + static_cast<int>(k % kPerRow) * (SCOPE_GLYPH_W + 1);
    const int y0 = 1 + static_cast<int>(k / kPerRow) * (SCOPE_GLYPH_H + 1);
    const char c = static_cast<char>(SCOPE_FONT_FIRST + k);
    for (int y = 0; y < SCOPE_GLYPH_H; ++y)
      for (int x = 0; x < SCOPE_GLYPH_W; ++x) put(x0 + x, y0 + y, scope_font_ink(c, x, y) ? 0xFFFFFFFF : 0xFFFFFF00);
  }
  return sheet;
}
