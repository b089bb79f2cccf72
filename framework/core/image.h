// The record of an image held in a GL texture, shared by the atlases that
// build and upload it (atlas_build.h, atlas.h) and the drawing code that
// binds it (draw.h). A plain record: no GL here.
//
// Threads: main thread only, as the atlases and the drawing code that use it.
#pragma once

#include <cstdint>

// An image held in a GL texture. Texture coordinates everywhere are in
// texels; binding loads the texture matrix that scales them to 0..1.
struct IMAGE {
  const char* name;                   // shown in the log; may be null
  int32_t texture_w, texture_h;       // texture size in texels, powers of two
  uint32_t opengl_texture;            // GL texture name, 0 before the upload
  int32_t markerx, markery, markerh;  // cleared with the buffer, read by nobody
  unsigned char* rgba;                // texture_w x texture_h texels of RGBA bytes, row 0 at the top
};
