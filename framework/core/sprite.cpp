#include "framework/core/sprite.h"

#include <GL/gl.h>

#include <array>
#include <cstddef>
#include <cstdlib>
#include <utility>

#include "framework/core/kel_assert.h"
#include "framework/core/log.h"
#include "framework/core/turtle.h"

namespace {

constexpr int kBatchStep = 64;  // sprites added to a batch's storage at a time

// Two triangles per quad, for every quad a batch may hold.
std::array<uint16_t, 6 * ATLAS_BATCH_MAX> quad_indices;
bool quad_indices_ready = false;

// The single-sprite path's corners and texture positions.
std::array<float, 8> single_corners;
std::array<int16_t, 8> single_uv;

int table_index(const ATLAS* atlas) {
  for (int i = 0; i < ATLAS_COUNT; ++i) {
    if (atlas_get_full(i) == atlas) return i;
  }
  return -1;
}

// Room for one more sprite in `batch` (unless it holds its most already).
void make_room(ATLAS_BATCH& batch, int index, int which) {
  if (batch.entry == nullptr) {
    batch.size = kBatchStep;
    batch.max = ATLAS_BATCH_MAX;
    constexpr int bytes = kBatchStep * 4 * static_cast<int>(sizeof(BATCH_ITEM));
    kel_log("ATLAS %d BATCH %d initialized to %d entries (%d bytes)\n", index, which, kBatchStep, bytes);
    batch.entry = static_cast<BATCH_ITEM*>(std::calloc(1, bytes));
    if (batch.entry == nullptr) kel_out_of_memory(__LINE__);
    return;
  }
  if (batch.count >= batch.max) return;
  while (batch.count >= batch.size) {
    batch.size += kBatchStep;
    const int bytes = batch.size * 4 * static_cast<int>(sizeof(BATCH_ITEM));
    kel_log("ATLAS %d BATCH %d grown to %d entries (%d bytes)\n", index, which, batch.size, bytes);
    auto* grown = static_cast<BATCH_ITEM*>(std::realloc(batch.entry, static_cast<size_t>(bytes)));
    if (grown == nullptr) kel_out_of_memory(__LINE__);
    batch.entry = grown;
  }
}

void draw_batch(ATLAS_BATCH& batch) {
  const char* base = reinterpret_cast<const char*>(batch.entry);
  constexpr GLsizei stride = sizeof(BATCH_ITEM);
  glVertexPointer(3, GL_FLOAT, stride, base + offsetof(BATCH_ITEM, x));
  glTexCoordPointer(2, GL_SHORT, stride, base + offsetof(BATCH_ITEM, u));
  glColorPointer(4, GL_UNSIGNED_BYTE, stride, base + offsetof(BATCH_ITEM, r));
  glDrawElements(GL_TRIANGLES, batch.count * 6, GL_UNSIGNED_SHORT, quad_indices.data());
  batch.count = 0;
}

}  // namespace

SPRITE_QUAD sprite_quad(const SPRITE* sprite, int flip, int exact) {
  const TURTLE saved = turtle;
  turtle_trans(flip ? -sprite->xoff : sprite->xoff, -sprite->yoff);
  const auto x = static_cast<float>(turtle.x), y = static_cast<float>(turtle.y);
  turtle = saved;
  const float half_w = exact ? static_cast<float>(sprite->w) * 0.5f : static_cast<float>(sprite->w / 2);
  const float half_h = exact ? static_cast<float>(sprite->h) * 0.5f : static_cast<float>(sprite->h / 2);
  const float hw = half_w * static_cast<float>(turtle.scalex);
  const float hh = half_h * static_cast<float>(turtle.scaley);
  const auto xsin = static_cast<float>(turtle.xsin), xcos = static_cast<float>(turtle.xcos);
  const auto ysin = static_cast<float>(turtle.ysin), ycos = static_cast<float>(turtle.ycos);

  const int texture_h = sprite->atlas->image.texture_h;
  auto u_left = static_cast<int16_t>(sprite->atlasx);
  auto u_right = static_cast<int16_t>(sprite->atlasx + sprite->w);
  if (flip) std::swap(u_left, u_right);
  const auto v_top = static_cast<int16_t>(texture_h - sprite->atlasy);
  const auto v_bottom = static_cast<int16_t>(texture_h - (sprite->atlasy + sprite->h));

  SPRITE_QUAD q{};
  const std::array<float, 4> lx = {-hw, -hw, hw, hw};
  const std::array<float, 4> ly = {-hh, hh, -hh, hh};
  for (size_t i = 0; i < 4; ++i) {
    q.x[i] = x + lx[i] * xsin - ly[i] * ysin;
    q.y[i] = y - lx[i] * xcos + ly[i] * ycos;
    q.u[i] = i < 2 ? u_left : u_right;
    q.v[i] = (i & 1) ? v_bottom : v_top;
  }
  return q;
}

void sprite_draw(SPRITE* sprite, int flip) {
  if (sprite == nullptr || sprite->atlas == nullptr) return;
  const SPRITE_QUAD q = sprite_quad(sprite, flip, 0);
  for (size_t i = 0; i < 4; ++i) {
    single_corners[2 * i] = q.x[i];
    single_corners[2 * i + 1] = q.y[i];
    single_uv[2 * i] = q.u[i];
    single_uv[2 * i + 1] = q.v[i];
  }
  glColor4f(static_cast<float>(turtle.r), static_cast<float>(turtle.g), static_cast<float>(turtle.b),
            static_cast<float>(turtle.a));
  draw_bind_texture(&sprite->atlas->image);
  glDisableClientState(GL_COLOR_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glEnable(GL_TEXTURE_2D);
  glVertexPointer(2, GL_FLOAT, 0, single_corners.data());
  glTexCoordPointer(2, GL_SHORT, 0, single_uv.data());
  glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

void sprite_batch_plot(SPRITE* sprite, int flip, int which) {
  if (sprite == nullptr || sprite->atlas == nullptr) return;
  which = which ? 1 : 0;
  ATLAS_BATCH& batch = sprite->atlas->batch[which];
  make_room(batch, table_index(sprite->atlas), which);
  if (batch.count >= batch.max) return;
  const SPRITE_QUAD q = sprite_quad(sprite, flip, 1);
  BATCH_ITEM* item = batch.entry + 4 * batch.count;
  const auto z = static_cast<float>(turtle.z);
  const uint8_t r = turtle_colour_byte(turtle.r), g = turtle_colour_byte(turtle.g),
                b = turtle_colour_byte(turtle.b), a = turtle_colour_byte(turtle.a);
  for (size_t i = 0; i < 4; ++i) item[i] = BATCH_ITEM{q.x[i], q.y[i], z, q.u[i], q.v[i], r, g, b, a, {0, 0, 0}};
  ++batch.count;
}

void sprite_batch_draw(IMAGE* image) {
  if (!quad_indices_ready) {
    for (size_t q = 0; q < ATLAS_BATCH_MAX; ++q) {
      const auto first = static_cast<uint16_t>(4 * q);
      const std::array<uint16_t, 6> quad = {first, static_cast<uint16_t>(first + 1), static_cast<uint16_t>(first + 2),
                                            static_cast<uint16_t>(first + 3), static_cast<uint16_t>(first + 2),
                                            static_cast<uint16_t>(first + 1)};
      for (size_t k = 0; k < 6; ++k) quad_indices[6 * q + k] = quad[k];
    }
    quad_indices_ready = true;
  }
  if (image == nullptr) return;
  ATLAS* atlas = reinterpret_cast<ATLAS*>(image);
  if (atlas->batch[0].count == 0 && atlas->batch[1].count == 0) return;
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  glEnable(GL_TEXTURE_2D);
  draw_bind_texture(image);
  if (atlas->batch[0].count > 0) draw_batch(atlas->batch[0]);
  if (atlas->batch[1].count > 0) {
    glBlendFunc(GL_ONE, GL_ONE);
    draw_batch(atlas->batch[1]);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  }
}

int atlas_draw_full(IMAGE* atlas) {
  if (atlas == nullptr) return -1;
  SPRITE whole{};
  whole.w = static_cast<int16_t>(atlas->texture_w);
  whole.h = static_cast<int16_t>(atlas->texture_h);
  whole.atlas = reinterpret_cast<ATLAS*>(atlas);
  sprite_draw(&whole, 0);
  return 1;
}
