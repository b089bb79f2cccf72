// Fuzzes the glyph-sheet scan and the sprite-sheet cut on arbitrary RGBA
// buffers of arbitrary sizes and cell sizes, in atlases of arbitrary sizes
// and border modes. The buffers are exactly as large as their image, so the
// sanitizer sees any read outside them; every sprite must lie inside its
// atlas's texture. Building atlases needs no GL: only the base library.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "framework/core/atlas_build.h"

namespace {

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint32_t byte() { return at < size ? data[at++] : 0; }
};

void check_sprites(const IMAGE* atlas, int from) {
  for (int i = from; i < sprite_count(); ++i) {
    const SPRITE* s = sprite_get(static_cast<unsigned>(i));
    if (s->w < 1 || s->h < 1 || s->atlasx < 1 || s->atlasy < 1 || s->atlasx + s->w > atlas->texture_w - 1 ||
        s->atlasy + s->h > atlas->texture_h - 1) {
      std::fprintf(stderr, "sprite %d outside its atlas\n", i);
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  const int w = static_cast<int>(in.byte() % 80), h = static_cast<int>(in.byte() % 80);
  const int cw = static_cast<int>(in.byte() % 40) - 2, ch = static_cast<int>(in.byte() % 40) - 2;
  const int side = 3 + static_cast<int>(in.byte() % 200);
  const int mode = static_cast<int>(in.byte() % 5);
  const int total = static_cast<int>(in.byte() % 8);
  // Few colours, so that outlines and glyphs both happen.
  std::vector<uint8_t> palette(16);
  for (uint8_t& b : palette) b = static_cast<uint8_t>(in.byte());
  auto* pixels = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(w * h) * 4 + 1));
  for (int i = 0; i < w * h; ++i) {
    const uint32_t c = in.byte() & 3;
    std::memcpy(pixels + 4 * static_cast<size_t>(i), &palette[4 * c], 4);
  }
  RGBA_DATA image{w, h, pixels};

  spritecount = 0;
  IMAGE* atlas = atlas_get(0);
  if (atlas_create_texture(atlas, side, side) != nullptr) {
    atlas_add_glyphs(atlas, &image, mode);
    check_sprites(atlas, 0);
    const int before = sprite_count();
    SPRITESHEET sheet{total, 0, cw, ch, &image};
    atlas_add_sprite_sheet(atlas, &sheet, mode);
    check_sprites(atlas, before);
  }
  atlas_release_all();
  std::free(pixels);
  return 0;
}
