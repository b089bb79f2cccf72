// Small 2-D helpers for games: a fast approximate square root, distances,
// directions, angle sectors, a line walker, vector arithmetic and circle
// collision tests. Every function is pure (it reads only its arguments, and
// calc_xy the shared sine table) and none allocates. Angles are in degrees;
// values are single-precision floats unless said otherwise.
//
// Threads: any; calc_xy reads the sine table, which init_sine_table
// (run by kel_init) must have filled first.
#pragma once

#include <cstdint>

using FLOAT_T = float;

// A 2-D vector or point, passed and returned by value.
struct XY {
  FLOAT_T x;
  FLOAT_T y;
};

// A float's bits read as an unsigned integer, and back.
union PUNNY {
  uint32_t i;
  float f;
};

// --- Square root and distances ---------------------------------------------

// Approximate square root of `number` (>= 0): one Newton step of the fast
// inverse square root, then its reciprocal. At most about 0.18 % high:
// 4 gives 2.0034, 100 gives 10.0155, 0 a tiny positive number (about 5e-20).
float calc_fsqrt(float number);
// (x1 - x2)^2 + (y1 - y2)^2. Note the order: both x first, then both y.
float calc_dist_sqr(float x1, float x2, float y1, float y2);
// calc_fsqrt of calc_dist_sqr (same argument order).
float calc_dist(float x1, float x2, float y1, float y2);

float magnitude_squared(XY v);
// calc_fsqrt(magnitude_squared(v)).
float magnitude(XY v);
// v divided by its magnitude; (0, 0) when the squared magnitude is <= 0.
XY normalize(XY v);
float dot(XY a, XY b);
XY add(XY a, XY b);
// a - b.
XY sub(XY a, XY b);
XY mult(XY v, float num);
// n * (n + 1) / 2 in 32-bit signed arithmetic: the product wraps round as
// a 32-bit two's-complement number would (defined here, for any n), then
// the division truncates toward zero.
int calc_summation(int n);

// --- Directions and angles ---------------------------------------------------

// dx / max(|dx|, |dy|), with dx and dy from `src` to `target`: the pair
// (calc_rel_dir_x, calc_rel_dir_y) has its larger component at +-1. Both
// are 0 when src == target.
float calc_rel_dir_x(XY src, XY target);
float calc_rel_dir_y(XY src, XY target);
// The point `dist` away at `angle`: *x = dist * sine(angle),
// *y = -dist * sine(angle + 90), read from the sine table without
// interpolation. Angle 0 points toward negative y (up on screen), 90
// toward positive x. A null pointer is skipped.
void calc_xy(float angle, float dist, float* x, float* y);
// The sector of `angle` among `num_sectors` equal sectors, sector k centred
// on k * 360 / num_sectors; the last half-sector wraps to 0 (with 4
// sectors: 0..44.9 -> 0, 45..134.9 -> 1, 315..359.9 -> 0). A negative sum
// keeps its sign before the truncation (-100 with 4 sectors gives 0).
// 0 when num_sectors <= 0, or when the angle is not a finite number that
// fits an int.
int calc_angle_sector(float angle, int num_sectors);
// `a` snapped to the centre of its sector (100 with 4 sectors gives 90);
// `a` itself when sectors <= 0.
float calc_sector_angle(float a, int sectors);

// --- Line walk ---------------------------------------------------------------

// Walks the line from (startx, starty) toward (endx, endy) one step at a
// time and calls func(x, y) for each point after the start, at most `dist`
// times. Returns func's first non-zero result at once; 0 after the end
// point (whose call returned 0), after `dist` calls, for a negative `dist`
// or a null func. From (0, 0) to (3, 1) the calls are (1, 0), (2, 0),
// (3, 1); start == end gives one call with the start point.
int calc_bresenham(int startx, int starty, int endx, int endy, int dist, int (*func)(int x, int y));

// --- Collision ---------------------------------------------------------------

// 1 when the circles overlap or touch: (r1 + r2)^2 >= squared distance.
int calc_is_circle_collide(float x1, float y1, float r1, float x2, float y2, float r2);
// `point` clamped into the box at (x, y) of size w x h.
XY closest_point_in_aabb(XY point, float x, float y, float w, float h);
// 1 when `point` lies strictly inside the circle (the rim is outside).
int test_circle_vs_point(XY circle, float radius, XY point);
// 1 when the box's closest point lies strictly inside the circle.
int test_circle_vs_aabb(XY circle, float radius, float x, float y, float w, float h);
// The point of segment AB closest to X; A for a degenerate segment (A == B).
XY closest_point_on_line_segment(XY X, XY A, XY B);
// 1 when the circle at C of radius r reaches segment AB (touching counts),
// storing the closest point minus C through `ret` when it is not null; 0
// otherwise, `ret` left alone.
int test_circle_vs_line_segment(XY C, float r, XY A, XY B, XY* ret);
// As test_circle_vs_line_segment for a capsule of radius r2 around AB.
int test_circle_vs_capsule(XY C, float r1, XY A, XY B, float r2, XY* ret);
// The push that moves circle 1 out of circle 2: the direction from 2 to 1
// times (radius1 + radius2 - distance); it points the other way when the
// circles are apart, and is (0, 0) when the centres coincide.
XY diff_circle_vs_circle(XY v1, float radius1, XY v2, float radius2);
