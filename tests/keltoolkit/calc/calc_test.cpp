// The geometry helpers against tables of expected values, edge cases
// included.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "framework/core/sine.h"
#include "keltoolkit/calc/calc.h"

namespace {

#define EXPECT_XY(v, ex, ey, tol) \
  do {                            \
    const XY xy_ = (v);           \
    EXPECT_NEAR(xy_.x, ex, tol);  \
    EXPECT_NEAR(xy_.y, ey, tol);  \
  } while (0)

TEST(Calc, SquareRootDistancesAndVectors) {
  EXPECT_NEAR(calc_fsqrt(4), 2.0034f, 1e-4f);
  EXPECT_NEAR(calc_fsqrt(100), 10.0155f, 1e-4f);
  EXPECT_NEAR(calc_fsqrt(0), 5e-20f, 1e-20f);  // tiny, not 0
  for (float in : {1e-6f, 0.25f, 2.0f, 1000.0f, 1e12f}) {
    EXPECT_GE(calc_fsqrt(in), std::sqrt(in)) << in;
    EXPECT_LE(calc_fsqrt(in), std::sqrt(in) * 1.0018f) << in;
  }
  EXPECT_FLOAT_EQ(calc_dist_sqr(1, 4, 2, 6), 25);  // both x, then both y
  EXPECT_FLOAT_EQ(calc_dist(0, 3, 0, 4), calc_fsqrt(25));
  const XY a{3, 4}, b{-1, 2};
  EXPECT_FLOAT_EQ(dot(a, b), 5);
  EXPECT_XY(add(a, b), 2, 6, 0);
  EXPECT_XY(sub(a, b), 4, 2, 0);
  EXPECT_XY(mult(a, -2), -6, -8, 0);
  EXPECT_FLOAT_EQ(magnitude(a), calc_fsqrt(25));
  EXPECT_XY(normalize(a), 0.6f, 0.8f, 2e-3f);
  EXPECT_XY(normalize(XY{0, 0}), 0, 0, 0);
}

TEST(Calc, SummationTruncatesAndWrapsAs32BitSigned) {
  const std::pair<int, int> cases[] = {{0, 0},  {1, 1},   {4, 10}, {-1, 0}, {-2, 1},
                                       {-4, 6}, {46340, 1073720970},
                                       {65535, -32768},  // 65535 * 65536 wraps to -65536
                                       {65536, 32768}};  // 65536 * 65537 wraps to 65536
  for (const auto& [n, sum] : cases) EXPECT_EQ(calc_summation(n), sum) << n;
}

TEST(Calc, DirectionsAndPointsAtAnAngle) {
  const struct { XY to; float x, y; } dirs[] = {{{-4, 2}, -1, 0.5f}, {{2, 8}, 0.25f, 1}, {{0, 0}, 0, 0}, {{5, -5}, 1, -1}};
  for (const auto& c : dirs) {
    EXPECT_FLOAT_EQ(calc_rel_dir_x(XY{1, 1}, add(c.to, XY{1, 1})), c.x) << c.to.x << "," << c.to.y;
    EXPECT_FLOAT_EQ(calc_rel_dir_y(XY{1, 1}, add(c.to, XY{1, 1})), c.y) << c.to.x << "," << c.to.y;
  }
  init_sine_table();
  const struct { float angle, x, y; } points[] = {{0, 0, -10}, {90, 10, 0}, {180, 0, 10}, {270, -10, 0}};
  for (const auto& c : points) {
    XY p;
    calc_xy(c.angle, 10, &p.x, &p.y);
    EXPECT_XY(p, c.x, c.y, 1e-4f);
  }
  float x = 0, y = 0;
  calc_xy(33, 2, &x, &y);  // no interpolation: the table's own entries
  EXPECT_EQ(x, 2 * _sine_table[sine_table_index(33)]);
  EXPECT_EQ(y, -2 * _sine_table[sine_table_index(123)]);
}

TEST(Calc, AngleSectorsAreCentredAndWrap) {
  const struct { float angle; int sectors, sector; } cases[] = {
      {0, 4, 0},    {44.9f, 4, 0}, {45, 4, 1}, {134.9f, 4, 1}, {315, 4, 0}, {359, 4, 0}, {-100, 4, 0},
      {-200, 4, -1}, {720, 4, 0},  {100, 3, 1}, {400, 8, 1},   {10, 0, 0},  {10, -3, 0}};
  for (const auto& c : cases) EXPECT_EQ(calc_angle_sector(c.angle, c.sectors), c.sector) << c.angle << "/" << c.sectors;
  for (float odd : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 1e30f})
    EXPECT_EQ(calc_angle_sector(odd, 4), 0) << odd;
  const struct { float a; int sectors; float snapped; } snaps[] = {
      {100, 4, 90}, {44, 4, 0}, {46, 4, 90}, {350, 4, 0}, {200, 3, 240}, {7.5f, 0, 7.5f}};
  for (const auto& c : snaps) EXPECT_FLOAT_EQ(calc_sector_angle(c.a, c.sectors), c.snapped) << c.a;
}

using Points = std::vector<std::pair<int, int>>;
Points walked;
int record(int x, int y) {
  walked.emplace_back(x, y);
  return 0;
}

TEST(Calc, LineWalkVisitsEveryStepAfterTheStart) {
  const struct { int sx, sy, ex, ey, dist; Points points; } cases[] = {
      {0, 0, 3, 1, 10, {{1, 0}, {2, 0}, {3, 1}}},
      {0, 0, -2, -2, 10, {{-1, -1}, {-2, -2}}},
      {5, 5, 5, 2, 10, {{5, 4}, {5, 3}, {5, 2}}},
      {0, 0, 4, 3, 10, {{1, 1}, {2, 2}, {3, 2}, {4, 3}}},
      {0, 0, 3, 1, 2, {{1, 0}, {2, 0}}},  // dist caps the calls
      {7, 7, 7, 7, 10, {{7, 7}}},         // start == end: one call
      {0, 0, 3, 1, 0, {}},
      {0, 0, 3, 1, -1, {}}};
  for (const auto& c : cases) {
    walked.clear();
    EXPECT_EQ(calc_bresenham(c.sx, c.sy, c.ex, c.ey, c.dist, record), 0);
    EXPECT_EQ(walked, c.points) << c.sx << "," << c.sy << " -> " << c.ex << "," << c.ey << " dist " << c.dist;
  }
  EXPECT_EQ(calc_bresenham(0, 0, 10, 0, 10, [](int x, int) { return x == 3 ? 42 : 0; }), 42);
  EXPECT_EQ(calc_bresenham(0, 0, 1, 1, 5, nullptr), 0);
  EXPECT_EQ(calc_bresenham(INT_MIN, 0, INT_MAX, 0, INT_MAX, [](int x, int) { return x == INT_MIN + 2 ? 1 : 0; }), 1);
}

TEST(Calc, CollisionsCountTouchingAsEachContractSays) {
  const XY o{0, 0}, A{0, 0}, B{10, 0};
  const struct { int got, want; const char* what; } cases[] = {
      {calc_is_circle_collide(0, 0, 1, 3, 0, 2), 1, "circles touching"},
      {calc_is_circle_collide(0, 0, 1, 3.01f, 0, 2), 0, "circles apart"},
      {test_circle_vs_point(o, 5, XY{3, 4}), 0, "point on the rim"},
      {test_circle_vs_point(o, 5, XY{3, 3.9f}), 1, "point inside"},
      {test_circle_vs_aabb(XY{-2, 5}, 2, 0, 0, 10, 10), 0, "box touching"},
      {test_circle_vs_aabb(XY{-2, 5}, 2.01f, 0, 0, 10, 10), 1, "box overlapping"},
      {test_circle_vs_aabb(XY{5, 5}, 0.1f, 0, 0, 10, 10), 1, "centre in the box"},
      {test_circle_vs_line_segment(XY{5, 3}, 3, A, B, nullptr), 1, "segment touching"},
      {test_circle_vs_line_segment(XY{5, 3}, 2.9f, A, B, nullptr), 0, "segment apart"},
      {test_circle_vs_capsule(XY{5, 3}, 1, A, B, 2, nullptr), 1, "capsule touching"},
      {test_circle_vs_capsule(XY{5, 3}, 1, A, B, 1.9f, nullptr), 0, "capsule apart"}};
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
  EXPECT_XY(closest_point_in_aabb(XY{-5, 15}, 0, 0, 10, 10), 0, 10, 0);
  const struct { XY X, P; } nearest[] = {{{5, 3}, {5, 0}}, {{-4, 2}, {0, 0}}, {{14, -1}, {10, 0}}};
  for (const auto& c : nearest) EXPECT_XY(closest_point_on_line_segment(c.X, A, B), c.P.x, c.P.y, 0);
  EXPECT_XY(closest_point_on_line_segment(XY{3, 3}, XY{1, 2}, XY{1, 2}), 1, 2, 0);  // degenerate: A

  XY ret{99, 99};
  EXPECT_EQ(test_circle_vs_line_segment(XY{5, 3}, 2.9f, A, B, &ret), 0);
  EXPECT_XY(ret, 99, 99, 0);  // left alone
  EXPECT_EQ(test_circle_vs_line_segment(XY{5, 3}, 3, A, B, &ret), 1);
  EXPECT_XY(ret, 0, -3, 0);
  // The push out of circle 2: away from it when overlapping, toward it
  // when apart, nothing for one centre.
  EXPECT_XY(diff_circle_vs_circle(XY{3, 0}, 2, o, 2), 1, 0, 0.02f);
  EXPECT_XY(diff_circle_vs_circle(XY{0, 10}, 1, o, 1), 0, -8, 0.02f);
  EXPECT_XY(diff_circle_vs_circle(XY{1, 1}, 1, XY{1, 1}, 1), 0, 0, 0);
}

}  // namespace
