// A real OpenGL window for the GL tests (Mesa on a virtual X server), and
// pixels read back from it.
#pragma once

#include <array>

// The pixel at window position (x, y), counted from the top-left corner:
// red, green, blue.
using Rgb = std::array<int, 3>;
Rgb pixel_at(int x, int y);

// True when every colour component of `a` lies within `tolerance` of `b`.
bool near_rgb(const Rgb& a, const Rgb& b, int tolerance = 2);
