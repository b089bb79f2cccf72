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

TEST(Calc, FastSquareRootIsSlightlyHigh) {
  EXPECT_NEAR(calc_fsqrt(4), 2.0034f, 1e-4f);
  EXPECT_NEAR(calc_fsqrt(100), 10.0155f, 1e-4f);
  for (float in : {1e-6f, 0.25f, 1.0f, 2.0f, 3.0f, 1000.0f, 12345.678f, 1e12f}) {
    EXPECT_GE(calc_fsqrt(in), std::sqrt(in)) << in;
    EXPECT_LE(calc_fsqrt(in), std::sqrt(in) * 1.0018f) << in;
  }
  const float zero = calc_fsqrt(0);
  EXPECT_GT(zero, 0.0f);
  EXPECT_NEAR(zero, 5e-20f, 1e-20f);
  EXPECT_FLOAT_EQ(calc_dist(0, 3, 0, 4), calc_fsqrt(25));  // both x, then both y
  EXPECT_FLOAT_EQ(calc_dist_sqr(1, 4, 2, 6), 25);
}

TEST(Calc, VectorArithmetic) {
  const XY a{3, 4}, b{-1, 2};
  EXPECT_FLOAT_EQ(dot(a, b), 5);
  EXPECT_FLOAT_EQ(add(a, b).x, 2);
  EXPECT_FLOAT_EQ(add(a, b).y, 6);
  EXPECT_FLOAT_EQ(sub(a, b).x, 4);
  EXPECT_FLOAT_EQ(sub(a, b).y, 2);
  EXPECT_FLOAT_EQ(mult(a, -2).y, -8);
  EXPECT_FLOAT_EQ(magnitude_squared(a), 25);
  EXPECT_FLOAT_EQ(magnitude(a), calc_fsqrt(25));
  const XY n = normalize(a);
  EXPECT_FLOAT_EQ(n.x, 3 / calc_fsqrt(25));
  EXPECT_FLOAT_EQ(n.y, 4 / calc_fsqrt(25));
  EXPECT_EQ(normalize(XY{0, 0}).x, 0.0f);
  EXPECT_EQ(normalize(XY{0, 0}).y, 0.0f);
}

TEST(Calc, SummationTruncatesAndWrapsAs32BitSigned) {
  const std::pair<int, int> cases[] = {{0, 0}, {1, 1}, {4, 10}, {-1, 0}, {-2, 1}, {-4, 6}, {46340, 1073720970},
                                       // 65535 * 65536 wraps to -65536: -32768
                                       {65535, -32768},
                                       // 65536 * 65537 wraps to 65536: 32768
                                       {65536, 32768}};
  for (const auto& [n, sum] : cases) EXPECT_EQ(calc_summation(n), sum) << n;
}

TEST(Calc, RelativeDirectionsHaveTheLargerComponentAtOne) {
  const struct { XY to; float x, y; } cases[] = {
      {{-4, 2}, -1, 0.5f}, {{2, 8}, 0.25f, 1}, {{0, 0}, 0, 0}, {{5, -5}, 1, -1}, {{0, -3}, 0, -1}};
  for (const auto& c : cases) {
    EXPECT_FLOAT_EQ(calc_rel_dir_x(XY{0, 0}, c.to), c.x) << c.to.x << "," << c.to.y;
    EXPECT_FLOAT_EQ(calc_rel_dir_y(XY{0, 0}, c.to), c.y) << c.to.x << "," << c.to.y;
  }
  EXPECT_FLOAT_EQ(calc_rel_dir_x(XY{10, 10}, XY{6, 12}), -1);  // from src, not the origin
}

TEST(Calc, PointsAtAnAngleFollowTheSineTable) {
  init_sine_table();
  const struct { float angle, x, y; } cases[] = {{0, 0, -10}, {90, 10, 0}, {180, 0, 10}, {270, -10, 0}};
  for (const auto& c : cases) {
    float x = 99, y = 99;
    calc_xy(c.angle, 10, &x, &y);
    EXPECT_NEAR(x, c.x, 1e-4f) << c.angle;
    EXPECT_NEAR(y, c.y, 1e-4f) << c.angle;
  }
  float x = 0, y = 0;
  calc_xy(33, 2, &x, &y);  // no interpolation: exactly the table entries
  EXPECT_EQ(x, 2 * _sine_table[sine_table_index(33)]);
  EXPECT_EQ(y, -2 * _sine_table[sine_table_index(123)]);
}

TEST(Calc, AngleSectorsAreCentredAndWrap) {
  const struct { float angle; int sectors, sector; } cases[] = {
      {0, 4, 0},     {44.9f, 4, 0},  {45, 4, 1},   {134.9f, 4, 1}, {135, 4, 2}, {315, 4, 0}, {359, 4, 0},
      {-100, 4, 0},  {-200, 4, -1},  {720, 4, 0},  {100, 3, 1},    {59, 3, 0},  {10, 1, 0},  {10, 0, 0},
      {10, -3, 0},   {400, 8, 1}};
  for (const auto& c : cases) EXPECT_EQ(calc_angle_sector(c.angle, c.sectors), c.sector) << c.angle << "/" << c.sectors;
  for (float odd : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 1e30f})
    EXPECT_EQ(calc_angle_sector(odd, 4), 0) << odd;
}

TEST(Calc, SectorAnglesSnapToTheCentre) {
  const struct { float a; int sectors; float snapped; } cases[] = {
      {100, 4, 90}, {44, 4, 0}, {46, 4, 90}, {350, 4, 0}, {200, 3, 240}, {100, 0, 100}, {7.5f, -1, 7.5f}};
  for (const auto& c : cases) EXPECT_FLOAT_EQ(calc_sector_angle(c.a, c.sectors), c.snapped) << c.a;
}

std::vector<std::pair<int, int>> walked;
int record(int x, int y) {
  walked.emplace_back(x, y);
  return 0;
}
using Points = std::vector<std::pair<int, int>>;

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
  walked.clear();
  EXPECT_EQ(calc_bresenham(0, 0, 10, 0, 10, [](int x, int) { return x == 3 ? 42 : 0; }), 42);
  EXPECT_EQ(calc_bresenham(0, 0, 1, 1, 5, nullptr), 0);
  EXPECT_EQ(calc_bresenham(INT_MIN, 0, INT_MAX, 0, INT_MAX, [](int x, int) { return x == INT_MIN + 2 ? 1 : 0; }), 1);
}

TEST(Calc, CircleTestsCountTouchingAsTheirContractsSay) {
  EXPECT_EQ(calc_is_circle_collide(0, 0, 1, 3, 0, 2), 1);  // touching counts
  EXPECT_EQ(calc_is_circle_collide(0, 0, 1, 3.01f, 0, 2), 0);
  EXPECT_EQ(test_circle_vs_point(XY{0, 0}, 5, XY{3, 4}), 0);  // on the rim: outside
  EXPECT_EQ(test_circle_vs_point(XY{0, 0}, 5, XY{3, 3.9f}), 1);
  const XY clamped = closest_point_in_aabb(XY{-5, 15}, 0, 0, 10, 10);
  EXPECT_FLOAT_EQ(clamped.x, 0);
  EXPECT_FLOAT_EQ(clamped.y, 10);
  EXPECT_EQ(test_circle_vs_aabb(XY{-2, 5}, 2, 0, 0, 10, 10), 0);  // strict
  EXPECT_EQ(test_circle_vs_aabb(XY{-2, 5}, 2.01f, 0, 0, 10, 10), 1);
  EXPECT_EQ(test_circle_vs_aabb(XY{5, 5}, 0.1f, 0, 0, 10, 10), 1);  // inside the box
}

TEST(Calc, ClosestPointsOnASegment) {
  const XY A{0, 0}, B{10, 0};
  const struct { XY X, P; } cases[] = {{{5, 3}, {5, 0}}, {{-4, 2}, {0, 0}}, {{14, -1}, {10, 0}}, {{10, 5}, {10, 0}}};
  for (const auto& c : cases) {
    const XY p = closest_point_on_line_segment(c.X, A, B);
    EXPECT_FLOAT_EQ(p.x, c.P.x) << c.X.x;
    EXPECT_FLOAT_EQ(p.y, c.P.y) << c.X.x;
  }
  const XY degenerate = closest_point_on_line_segment(XY{3, 3}, XY{1, 2}, XY{1, 2});
  EXPECT_FLOAT_EQ(degenerate.x, 1);
  EXPECT_FLOAT_EQ(degenerate.y, 2);

  XY ret{99, 99};
  EXPECT_EQ(test_circle_vs_line_segment(XY{5, 3}, 2.9f, A, B, &ret), 0);
  EXPECT_FLOAT_EQ(ret.x, 99);  // left alone
  EXPECT_EQ(test_circle_vs_line_segment(XY{5, 3}, 3, A, B, &ret), 1);  // touching counts
  EXPECT_FLOAT_EQ(ret.x, 0);
  EXPECT_FLOAT_EQ(ret.y, -3);
  EXPECT_EQ(test_circle_vs_line_segment(XY{5, 3}, 3, A, B, nullptr), 1);
  EXPECT_EQ(test_circle_vs_capsule(XY{5, 3}, 1, A, B, 2, &ret), 1);
  EXPECT_EQ(test_circle_vs_capsule(XY{5, 3}, 1, A, B, 1.9f, nullptr), 0);
}

TEST(Calc, CirclePushPointsOutOfTheOther) {
  const struct { XY v1; float r1; XY v2; float r2; XY push; } cases[] = {
      {{3, 0}, 2, {0, 0}, 2, {1, 0}},    // overlapping by 1: away from 2
      {{0, 10}, 1, {0, 0}, 1, {0, -8}},  // 8 apart: toward 2
      {{1, 1}, 1, {1, 1}, 1, {0, 0}}};   // same centre
  for (const auto& c : cases) {
    const XY p = diff_circle_vs_circle(c.v1, c.r1, c.v2, c.r2);
    EXPECT_NEAR(p.x, c.push.x, 0.02f) << c.v1.x << "," << c.v1.y;
    EXPECT_NEAR(p.y, c.push.y, 0.02f) << c.v1.x << "," << c.v1.y;
  }
}

}  // namespace
