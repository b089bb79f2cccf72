// Renders the pictures of the README in a real window and saves them as PNG
// files: the splash state at 0.5 s, a scene of sprites and text drawn from
// a sprite sheet and a glyph sheet made here, and the live window on two
// example tunes, fed with the engine's own rendering of their first 30
// seconds. Run by scripts/screenshots.sh under a virtual X server.
//
//   screenshots OUTPUT_FOLDER [SOURCE_FOLDER]
//
// SOURCE_FOLDER (the current folder when not given) holds examples/.
#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "framework/core/atlas.h"
#include "framework/core/glyphs.h"
#include "framework/core/kel.h"
#include "framework/core/sprite.h"
#include "framework/core/turtle.h"
#include "framework/core/util.h"
#include "framework/platforms/sdl/wrapper.h"
#include "hack/tonebrook/picture.h"
#include "hack/tonebrook/render.h"
#include "hack/tonebrook/scope.h"
#include "hack/tonebrook/scope_draw.h"
#include "hack/tonebrook/share.h"
#include "keltoolkit/skreelplayer/skreel.h"

namespace {

constexpr int kW = 640, kH = 360;

// The frame buffer of a window of kW x kH, or of another size, top row
// first, written as an RGB PNG.
bool save_png(const std::string& path, int w = kW, int h = kH) {
  glFinish();
  std::vector<unsigned char> bottom_up(static_cast<size_t>(w) * h * 3);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, bottom_up.data());
  PICTURE_IMAGE image;
  image.width = w;
  image.height = h;
  image.rgb.resize(bottom_up.size());
  const size_t row = static_cast<size_t>(w) * 3;
  for (size_t y = 0; y < static_cast<size_t>(h); ++y)
    std::memcpy(&image.rgb[y * row], &bottom_up[(static_cast<size_t>(h) - 1 - y) * row], row);
  UniqueFile f(std::fopen(path.c_str(), "wb"));
  return f && picture_write_png(f.get(), image, nullptr) && std::fclose(f.release()) == 0;
}

// Where the pictures' clock stands: the splash is shown at 0.5 s.
uint64_t clock_ms = 0;
uint64_t fixed_clock() { return clock_ms; }
void no_sleep(uint32_t) {}

// A sheet of four 16 x 16 cells: a ball, a diamond, a ring and a small
// square off the cell's centre.
RGBA_DATA* sprite_sheet() {
  auto* d = static_cast<RGBA_DATA*>(std::malloc(sizeof(RGBA_DATA)));
  *d = RGBA_DATA{64, 16, static_cast<unsigned char*>(std::calloc(64 * 16, 4))};
  auto put = [&](int x, int y, uint32_t rgba) {
    unsigned char* p = d->bytes + (y * 64 + x) * 4;
    p[0] = rgba >> 24, p[1] = (rgba >> 16) & 0xFF, p[2] = (rgba >> 8) & 0xFF, p[3] = rgba & 0xFF;
  };
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const int dx = 2 * x - 15, dy = 2 * y - 15, r2 = dx * dx + dy * dy;
      if (r2 < 196) put(x, y, 0xFFB030FF);
      if (std::abs(dx) + std::abs(dy) < 15) put(16 + x, y, 0x40E0FFFF);
      if (r2 < 225 && r2 > 100) put(32 + x, y, 0xFF60C0FF);
      if (x >= 2 && x < 8 && y >= 3 && y < 9) put(48 + x, y, 0x80FF60FF);
    }
  }
  return d;
}

// The letters the scene writes, 5 x 7 each, drawn at twice their size into
// a glyph sheet framed by an outline colour.
struct Letter {
  char c;
  const char* rows[7];
};
const Letter kLetters[] = {
    {' ', {".....", ".....", ".....", ".....", ".....", ".....", "....."}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'F', {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
    {'G', {".###.", "#....", "#....", "#.###", "#...#", "#...#", ".###."}},
    {'H', {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'I', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"}},
    {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'N', {"#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'X', {"#...#", ".#.#.", "..#..", "..#..", "..#..", ".#.#.", "#...#"}},
};
constexpr int kLetterCount = sizeof(kLetters) / sizeof(kLetters[0]);

RGBA_DATA* glyph_sheet() {
  const int gw = 12, gh = 16;  // twice 5 x 7, with a column and two rows of spacing
  const int w = 1 + kLetterCount * (gw + 1), h = gh + 2;
  auto* d = static_cast<RGBA_DATA*>(std::malloc(sizeof(RGBA_DATA)));
  *d = RGBA_DATA{w, h, static_cast<unsigned char*>(std::malloc(static_cast<size_t>(w) * h * 4))};
  for (int i = 0; i < w * h; ++i) {
    unsigned char* p = d->bytes + i * 4;
    p[0] = 255, p[1] = 0, p[2] = 255, p[3] = 255;  // outline: opaque magenta
  }
  for (int g = 0; g < kLetterCount; ++g) {
    for (int y = 0; y < gh; ++y) {
      for (int x = 0; x < gw; ++x) {
        unsigned char* p = d->bytes + ((1 + y) * w + 1 + g * (gw + 1) + x) * 4;
        const int bx = x / 2, by = y / 2;
        const bool ink = bx < 5 && by < 7 && kLetters[g].rows[by][bx] == '#';
        p[0] = p[1] = p[2] = 255;
        p[3] = ink ? 255 : 0;
      }
    }
  }
  return d;
}

// The text as glyph codes: glyph k of the font shows code 'A' + k.
std::string to_glyphs(const char* text) {
  std::string out;
  for (const char* c = text; *c; ++c) {
    int k = 0;
    while (k < kLetterCount && kLetters[k].c != *c) ++k;
    out += static_cast<char>('A' + (k < kLetterCount ? k : 0));
  }
  return out;
}

// The live window on the tune in `file` (a path under `source`), 30 seconds
// in: the tune's values from the engine's machine, the stereo mix from its
// rendering at 44100 Hz, fed as the taps would feed them.
bool scope_picture(const std::string& source, const char* file, const std::string& out) {
  constexpr unsigned kRate = 44100;
  constexpr double kSeconds = 30;
  std::string text, error;
  bool cut = false;
  if (!tune_read((source + "/" + file).c_str(), &text, &cut, &error)) {
    std::fprintf(stderr, "screenshots: cannot read %s: %s\n", file, error.c_str());
    return false;
  }
  unsigned tune_rate = 0;
  const char* compiled = tune_compile(text.c_str(), file, &tune_rate);
  if (!compiled) return false;
  const std::string url = compiled;

  ScopeModel model(kRate, scope_sizes());
  SKREELCODEARRAY code{};
  const int count = skreel_decode_url_to_array(url.c_str(), &code);
  static SKREELPROGRAM program;
  skreel_prepare(&code, &program);
  STACK stack{}, memory{};
  const auto steps = static_cast<uint32_t>(tune_rate * kSeconds);
  std::vector<VAL32> ts(SKREEL_BLOCK_LANES);
  std::vector<VAL8> values(SKREEL_BLOCK_LANES);
  std::vector<SCOPE_TUNE_VALUE> fed(SKREEL_BLOCK_LANES);
  for (uint32_t t0 = 0; t0 < steps; t0 += SKREEL_BLOCK_LANES) {
    const int n = static_cast<int>(std::min<uint32_t>(SKREEL_BLOCK_LANES, steps - t0));
    for (int i = 0; i < n; ++i) ts[i] = t0 + i;
    skreel_run_many(&program, &stack, &memory, nullptr, ts.data(), n, values.data());
    for (int i = 0; i < n; ++i) fed[i] = {ts[i], values[i]};
    model.add_tune(std::span(fed).first(static_cast<size_t>(n)));
  }
  render_tune(url.c_str(), static_cast<float>(tune_rate), kRate, static_cast<uint64_t>(kRate * kSeconds), [&](const int16_t* stereo, std::size_t frames) {
    std::vector<STEREO_FRAME16> f(frames);
    for (std::size_t i = 0; i < frames; ++i) f[i] = {stereo[2 * i], stereo[2 * i + 1]};
    model.add_mix(f);
    return true;
  });
  model.set_file(file);
  model.set_tune_rate(static_cast<float>(tune_rate));
  model.set_instructions(count);
  model.set_message("playing", false);
  model.update();
  ScopeView view;
  if (!view.open()) return false;
  view.draw(model);
  return save_png(out, SCOPE_WINDOW_W, SCOPE_WINDOW_H);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: screenshots OUTPUT_FOLDER [SOURCE_FOLDER]\n");
    return 2;
  }
  const std::string folder = argv[1];
  const std::string source = argc == 3 ? argv[2] : ".";
  wrapper_set_clock(fixed_clock, no_sleep);
  kel_init();
  if (kel_graphics(kW, kH, 0, 0) != 1) {
    std::fprintf(stderr, "screenshots: no window\n");
    return 1;
  }

  // The splash state, as kel_init left it current, at 0.5 s.
  clock_ms = 500;
  state_render();
  if (!save_png(folder + "/splash.png")) return 1;

  // Sprites and text.
  IMAGE* atlas = atlas_get(0);
  atlas->name = "screenshot";
  atlas_create_texture(atlas, 256, 128);
  RGBA_DATA* sheet_image = sprite_sheet();
  SPRITESHEET sheet{0, 0, 16, 16, sheet_image};
  const int first = sprite_count();
  atlas_add_sprite_sheet(atlas, &sheet, ATLAS_MODE_TRANSPARENT_BORDER);
  RGBA_DATA* glyphs = glyph_sheet();
  const auto glyphbase = static_cast<unsigned>(sprite_count());
  const int found = atlas_add_glyphs(atlas, glyphs, ATLAS_MODE_TRANSPARENT_BORDER);
  SPRITEFONT font = glyphs_make_font(glyphbase, 'A', static_cast<unsigned>(found));
  atlas_upload(atlas, 0, PIXEL_RGBA8);

  draw_clear(0.08f, 0.1f, 0.16f);
  for (int i = 0; i < 48; ++i) {
    turtle_reset();
    turtle_set_pos_unscaled(40 + (i % 12) * 52, 130 + (i / 12) * 44);
    turtle_set_scale(1.5 + (i % 5) * 0.25);
    turtle_set_angle(i * 15);
    turtle_set_rgba(1, 1, 1, 0.6f + 0.1f * static_cast<float>(i % 4));
    sprite_batch_plot(sprite_get(static_cast<unsigned>(first + i % 4)), i % 2, i % 7 == 0);
  }
  turtle_reset();
  turtle_set_pos_unscaled(kW / 2.0, 50);
  turtle_set_scale(1.5);
  glyphs_batch_plot(&font, to_glyphs("TONEBROOK").c_str(), 1, 0);
  turtle_set_scale(1);
  turtle_set_rgb(0.6f, 0.9f, 1.0f);
  turtle_set_pos_unscaled(20, kH - 30);
  glyphs_batch_plot(&font, to_glyphs("LEFT").c_str(), 0, 0);
  turtle_set_pos_unscaled(kW / 2.0, kH - 30);
  glyphs_batch_plot(&font, to_glyphs("ATLAS TEXT").c_str(), 1, 0);
  turtle_set_pos_unscaled(kW - 20, kH - 30);
  turtle_set_rgb(1.0f, 0.8f, 0.4f);
  glyphs_batch_plot(&font, to_glyphs("RIGHT").c_str(), 2, 0);
  sprite_batch_draw(atlas);
  if (!save_png(folder + "/sprites.png")) return 1;

  rgba_free(sheet_image);
  rgba_free(glyphs);

  // The live window, in a window of its own size (a new video mode in the
  // same window keeps the old size on some X servers).
  kel_exit();
  kel_init();
  if (kel_graphics(SCOPE_WINDOW_W, SCOPE_WINDOW_H, 0, 0) != 1) {
    std::fprintf(stderr, "screenshots: no window of %dx%d\n", SCOPE_WINDOW_W, SCOPE_WINDOW_H);
    return 1;
  }
  if (!scope_picture(source, "examples/classic.txt", folder + "/scope-classic.png")) return 1;
  if (!scope_picture(source, "examples/sierpinski.txt", folder + "/scope-sierpinski.png")) return 1;
  kel_exit();
  wrapper_set_clock(nullptr, nullptr);
  return 0;
}
