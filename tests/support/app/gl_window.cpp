#include "support/app/gl_window.h"

#include <GL/gl.h>

#include <cstdlib>

#include "framework/platforms/sdl/wrapper.h"

Rgb pixel_at(int x, int y) {
  glFinish();
  std::array<unsigned char, 4> p{};
  glReadPixels(x, wrapper_display_h() - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p.data());
  return {p[0], p[1], p[2]};
}

bool near_rgb(const Rgb& a, const Rgb& b, int tolerance) {
  for (size_t i = 0; i < 3; ++i)
    if (std::abs(a[i] - b[i]) > tolerance) return false;
  return true;
}
