#include "keltoolkit/calc/calc.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "framework/core/sine.h"

static_assert(sizeof(PUNNY) == 4);

namespace {

// A float truncated toward zero, or nothing when it has no int value.
bool truncate_to_int(float value, int* out) {
  if (!(std::fabs(value) < 2147483520.0f)) return false;  // also false for NaN
  *out = static_cast<int>(value);
  return true;
}

// The sector index of `angle` for sectors `unit` degrees wide: the angle
// plus half a sector, truncated; modulo 360 with the sign of the sum; over
// the sector width, truncated toward zero.
int sector_index(float angle, float unit) {
  int a = 0;
  if (!truncate_to_int(angle + unit * 0.5f, &a)) return 0;
  const int r = a % 360;
  int index = 0;
  return truncate_to_int(static_cast<float>(r) / unit, &index) ? index : 0;
}

float square(float v) { return v * v; }

int sign(long long v) { return (v > 0) - (v < 0); }

}  // namespace

float calc_fsqrt(float number) {
  const float x2 = number * 0.5f;
  const uint32_t i = 0x5F3759DFu - (std::bit_cast<uint32_t>(number) >> 1);
  float y = std::bit_cast<float>(i);
  y = y * (1.5f - (x2 * y * y));
  return 1.0f / y;
}

float calc_dist_sqr(float x1, float x2, float y1, float y2) { return square(x1 - x2) + square(y1 - y2); }
float calc_dist(float x1, float x2, float y1, float y2) { return calc_fsqrt(calc_dist_sqr(x1, x2, y1, y2)); }

float magnitude_squared(XY v) { return v.x * v.x + v.y * v.y; }
float magnitude(XY v) { return calc_fsqrt(magnitude_squared(v)); }

XY normalize(XY v) {
  if (magnitude_squared(v) <= 0) return XY{0, 0};
  const float m = magnitude(v);
  return XY{v.x / m, v.y / m};
}

float dot(XY a, XY b) { return a.x * b.x + a.y * b.y; }
XY add(XY a, XY b) { return XY{a.x + b.x, a.y + b.y}; }
XY sub(XY a, XY b) { return XY{a.x - b.x, a.y - b.y}; }
XY mult(XY v, float num) { return XY{v.x * num, v.y * num}; }

int calc_summation(int n) {
  const uint32_t u = static_cast<uint32_t>(n);
  const auto product = static_cast<int32_t>(u * (u + 1u));
  return product / 2;
}

float calc_rel_dir_x(XY src, XY target) {
  const float dx = target.x - src.x, dy = target.y - src.y;
  const float m = std::max(std::fabs(dx), std::fabs(dy));
  return m == 0 ? 0.0f : dx / m;
}

float calc_rel_dir_y(XY src, XY target) {
  const float dx = target.x - src.x, dy = target.y - src.y;
  const float m = std::max(std::fabs(dx), std::fabs(dy));
  return m == 0 ? 0.0f : dy / m;
}

void calc_xy(float angle, float dist, float* x, float* y) {
  if (x) *x = dist * sine_deg(angle);
  if (y) *y = -dist * sine_deg(angle + 90.0f);
}

int calc_angle_sector(float angle, int num_sectors) {
  if (num_sectors <= 0) return 0;
  return sector_index(angle, 360.0f / static_cast<float>(num_sectors));
}

float calc_sector_angle(float a, int sectors) {
  if (sectors <= 0) return a;
  const float step = static_cast<float>(360.0 / sectors);
  return step * static_cast<float>(sector_index(a, step));
}

int calc_bresenham(int startx, int starty, int endx, int endy, int dist, int (*func)(int x, int y)) {
  if (func == nullptr) return 0;
  // 64-bit differences and errors: no overflow for any pair of ints.
  const long long ddx = static_cast<long long>(endx) - startx;
  const long long ddy = static_cast<long long>(endy) - starty;
  const long long dx = std::llabs(ddx), dy = std::llabs(ddy);
  const long long distance = std::max(dx, dy);
  const int incx = sign(ddx), incy = sign(ddy);
  int x = startx, y = starty;
  long long xerr = 0, yerr = 0;
  for (int i = 0; i <= dist; ++i) {
    xerr += dx;
    yerr += dy;
    if (xerr > distance) {
      x += incx;
      xerr -= distance;
    }
    if (yerr > distance) {
      y += incy;
      yerr -= distance;
    }
    if (i >= 1) {
      if (const int result = func(x, y)) return result;
      if (x == endx && y == endy) return 0;
    }
    if (i == dist) break;  // (dist may be INT_MAX)
  }
  return 0;
}

int calc_is_circle_collide(float x1, float y1, float r1, float x2, float y2, float r2) {
  return square(r1 + r2) >= square(x1 - x2) + square(y1 - y2) ? 1 : 0;
}

XY closest_point_in_aabb(XY point, float x, float y, float w, float h) {
  return XY{std::min(std::max(x, point.x), x + w), std::min(std::max(y, point.y), y + h)};
}

int test_circle_vs_point(XY circle, float radius, XY point) {
  return radius * radius > magnitude_squared(sub(point, circle)) ? 1 : 0;
}

int test_circle_vs_aabb(XY circle, float radius, float x, float y, float w, float h) {
  return test_circle_vs_point(circle, radius, closest_point_in_aabb(circle, x, y, w, h));
}

XY closest_point_on_line_segment(XY X, XY A, XY B) {
  const XY v = sub(B, A);
  const float vv = dot(v, v);
  if (vv <= 0) return A;
  const float t = dot(sub(X, A), v) / vv;
  if (t < 0) return A;
  return add(A, mult(v, std::min(t, 1.0f)));
}

int test_circle_vs_line_segment(XY C, float r, XY A, XY B, XY* ret) {
  const XY d = sub(closest_point_on_line_segment(C, A, B), C);
  if (!(r * r >= magnitude_squared(d))) return 0;
  if (ret) *ret = d;
  return 1;
}

int test_circle_vs_capsule(XY C, float r1, XY A, XY B, float r2, XY* ret) {
  return test_circle_vs_line_segment(C, r1 + r2, A, B, ret);
}

XY diff_circle_vs_circle(XY v1, float radius1, XY v2, float radius2) {
  const XY d = sub(v1, v2);
  return mult(normalize(d), radius1 + radius2 - magnitude(d));
}
