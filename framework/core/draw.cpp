#include "framework/core/draw.h"

#include <SDL_opengl.h>

#include "framework/core/log.h"
#include "framework/platforms/sdl/wrapper.h"

namespace {

// No GL texture has this name, so the first bind always goes through.
uint32_t last_texture = 0xFFFFFFFFu;

}  // namespace

void draw_bind_texture(IMAGE* image) {
  if (image == nullptr || image->opengl_texture == last_texture) return;
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glScalef(1.0f / static_cast<float>(image->texture_w), 1.0f / static_cast<float>(image->texture_h), 1.0f);
  glMatrixMode(GL_MODELVIEW);
  glBindTexture(GL_TEXTURE_2D, image->opengl_texture);
  last_texture = image->opengl_texture;
}

void draw_clear_ex(float r, float g, float b, float a) {
  glClearColor(r, g, b, a);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void draw_clear(float r, float g, float b) { draw_clear_ex(r, g, b, 0.0f); }

void draw_reset() {
  const int w = wrapper_display_w();
  const int h = wrapper_display_h();
  glDisable(GL_CULL_FACE);
  glDisable(GL_DEPTH_TEST);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0.0, static_cast<double>(w), static_cast<double>(h), 0.0, -100.0, 100.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  draw_clear(1.0f, 0.0f, 0.0f);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glViewport(0, 0, w, h);
  kel_log("draw: reset (%d x %d)\n", w, h);
}

void draw_flip() { wrapper_flip_screen(); }
