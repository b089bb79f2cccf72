// Fixed-function OpenGL drawing state: pixel projection, clearing, frame
// flips and texture binding through a one-entry cache.
#pragma once

#include <cstdint>

// An image held in a GL texture. Texture coordinates everywhere are in
// texels; binding loads the texture matrix that scales them to 0..1.
struct IMAGE {
  const char* name;
  int32_t texture_w, texture_h;
  uint32_t opengl_texture;
  int32_t markerx, markery, markerh;
  unsigned char* rgba;
};

void draw_bind_texture(IMAGE* image);
void draw_clear(float r, float g, float b);
void draw_clear_ex(float r, float g, float b, float a);
void draw_reset();
void draw_flip();
