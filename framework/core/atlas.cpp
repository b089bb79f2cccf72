// The GL side of the atlases: their start and end in the runtime, and the
// upload of a built atlas's pixel buffer. Building in memory is in
// atlas_build.cpp.
#include "framework/core/atlas.h"

#include <GL/gl.h>

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <vector>

#include "framework/core/log.h"
#include "framework/core/texture-atlas.h"

namespace {

void delete_gl_texture(uint32_t name) {
  const GLuint texture = name;
  glDeleteTextures(1, &texture);
  draw_forget_texture();
}

uint32_t texel_at(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// The rows of `atlas`'s buffer, bottom row first, as GL takes them.
std::vector<unsigned char> rows_bottom_first(const IMAGE* atlas) {
  const size_t row = static_cast<size_t>(atlas->texture_w) * 4;
  const auto rows = static_cast<size_t>(atlas->texture_h);
  std::vector<unsigned char> copy(row * rows);
  for (size_t r = 0; r < rows; ++r) std::memcpy(copy.data() + (rows - 1 - r) * row, atlas->rgba + r * row, row);
  return copy;
}

struct GlPixels {
  GLenum format;
  GLenum type;
};

// Converts RGBA8 texels in place; returns how GL is to read them.
GlPixels convert(std::vector<unsigned char>& texels, int format) {
  const size_t n = texels.size() / 4;
  unsigned char* p = texels.data();
  switch (format) {
    case PIXEL_RGBA4:
    case PIXEL_RGB5_A1:
      for (size_t i = 0; i < n; ++i) {
        const uint32_t v = texel_at(p + 4 * i);
        const uint32_t r = v & 0xFF, g = (v >> 8) & 0xFF, b = (v >> 16) & 0xFF, a = v >> 24;
        const auto packed = static_cast<uint16_t>(
            format == PIXEL_RGBA4 ? ((r >> 4) << 12) | ((g >> 4) << 8) | ((b >> 4) << 4) | (a >> 4)
                                  : ((r >> 3) << 11) | ((g >> 3) << 6) | ((b >> 3) << 1) | (a >> 7));
        std::memcpy(p + 2 * i, &packed, 2);
      }
      return {GL_RGBA, static_cast<GLenum>(format == PIXEL_RGBA4 ? GL_UNSIGNED_SHORT_4_4_4_4
                                                                 : GL_UNSIGNED_SHORT_5_5_5_1)};
    case PIXEL_ALPHA8:
      for (size_t i = 0; i < n; ++i) p[i] = p[4 * i];
      return {GL_ALPHA, GL_UNSIGNED_BYTE};
    default:
      return {GL_RGBA, GL_UNSIGNED_BYTE};
  }
}

}  // namespace

int atlas_init() {
  for (int i = 0; i < ATLAS_COUNT; ++i) *atlas_get_full(i) = ATLAS{};
  texture_atlas_set_texture_deleter(delete_gl_texture);
  atlas_set_texture_deleter(delete_gl_texture);
  kel_log_line("atlas: init");
  return 0;
}

void atlas_exit() {
  const int deleted = atlas_release_all();
  kel_log("atlas: deleted %d textures\n", deleted);
}

int atlas_upload(IMAGE* atlas, int linear, int format) {
  if (atlas == nullptr) {
    kel_log_line("NULL atlas");
    return -1;
  }
  if (atlas->rgba == nullptr) {
    kel_log_line("No rgba data");
    return -2;
  }
  atlas_end_building();
  kel_log("Uploading IMAGE %p\n", static_cast<void*>(atlas));
  if (atlas->opengl_texture != 0) {
    kel_log("Deleting texture %d\n", atlas->opengl_texture);
    delete_gl_texture(atlas->opengl_texture);
  }
  std::vector<unsigned char> texels = rows_bottom_first(atlas);
  GLuint name = 0;
  glGenTextures(1, &name);
  atlas->opengl_texture = name;
  glBindTexture(GL_TEXTURE_2D, name);
  draw_forget_texture();
  const GLint filter = linear ? GL_LINEAR : GL_NEAREST;
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
  const GlPixels pixels = convert(texels, format);
  glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(pixels.format), atlas->texture_w, atlas->texture_h, 0,
               pixels.format, pixels.type, texels.data());
  const GLenum error = glGetError();
  if (error != GL_NO_ERROR) {
    kel_log("Error uploading texture. glError: 0x%04X", error);
    kel_log_line("atlas upload failed");
    return -3;
  }
  kel_log("upload atlas texid %d %d x %d\n", atlas->opengl_texture, atlas->texture_w, atlas->texture_h);
  return 1;
}

int atlas_update_texture(IMAGE* image) {
  if (image == nullptr || image->rgba == nullptr) return -1;
  const std::vector<unsigned char> texels = rows_bottom_first(image);
  draw_bind_texture(image);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image->texture_w, image->texture_h, 0, GL_RGBA, GL_UNSIGNED_BYTE,
               texels.data());
  return 1;
}

int atlas_update_rect(IMAGE* image, int x, int y, int w, int h) {
  if (image == nullptr || image->rgba == nullptr || image->opengl_texture == 0) return -1;
  const int x0 = std::max(x, 0), y0 = std::max(y, 0);
  const int x1 = std::min(x + std::max(w, 0), image->texture_w), y1 = std::min(y + std::max(h, 0), image->texture_h);
  if (x0 >= x1 || y0 >= y1) return 1;
  static std::vector<unsigned char> texels;
  const auto row = static_cast<size_t>(x1 - x0) * 4;
  const auto rows = static_cast<size_t>(y1 - y0);
  texels.resize(row * rows);
  for (size_t r = 0; r < rows; ++r) {
    const size_t from = (static_cast<size_t>(y0) + r) * static_cast<size_t>(image->texture_w) + static_cast<size_t>(x0);
    std::memcpy(texels.data() + (rows - 1 - r) * row, image->rgba + from * 4, row);
  }
  draw_bind_texture(image);
  glTexSubImage2D(GL_TEXTURE_2D, 0, x0, image->texture_h - y1, x1 - x0, y1 - y0, GL_RGBA, GL_UNSIGNED_BYTE,
                  texels.data());
  return 1;
}
