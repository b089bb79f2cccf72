#include "framework/core/draw.h"

#include <GL/gl.h>

#include "framework/core/log.h"

namespace {

// No GL texture has this name, so the first bind always goes through.
uint32_t last_texture = 0xFFFFFFFFu;

int default_width() { return 640; }
int default_height() { return 480; }
void no_flip() {}

DRAW_DISPLAY_SIZE display_width = default_width;
DRAW_DISPLAY_SIZE display_height = default_height;
DRAW_DISPLAY_FLIP display_flip = no_flip;

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

void draw_forget_texture() { last_texture = 0xFFFFFFFFu; }

void draw_clear_ex(float r, float g, float b, float a) {
  glClearColor(r, g, b, a);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void draw_clear(float r, float g, float b) { draw_clear_ex(r, g, b, 0.0f); }

void draw_reset() {
  const int w = display_width();
  const int h = display_height();
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

void draw_flip() { display_flip(); }

void draw_set_display(DRAW_DISPLAY_SIZE width, DRAW_DISPLAY_SIZE height, DRAW_DISPLAY_FLIP flip) {
  display_width = width ? width : default_width;
  display_height = height ? height : default_height;
  display_flip = flip ? flip : no_flip;
}

void draw_set_blending(int on) {
  if (on) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  } else {
    glDisable(GL_BLEND);
  }
}
