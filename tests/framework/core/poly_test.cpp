// Polygons as vertex lists: fans, bars, circles, colours, and the frame
// lists' limits.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "framework/core/poly.h"
#include "framework/core/sine.h"
#include "framework/core/turtle.h"
#include "support/capture.h"

using ::testing::HasSubstr;

namespace {

using Point = std::array<float, 2>;

class Poly : public ::testing::Test {
 protected:
  void SetUp() override {
    init_sine_table();
    turtle_reset();
    poly_draw_start();
  }
  static void point_at(float x, float y) {
    turtle_set_pos_unscaled(x, y);
    poly_point();
  }
  static std::vector<Point> points() {
    std::vector<Point> out;
    for (uint32_t i = 0; i < poly_vertex_count(); ++i) out.push_back({poly_vertices()[3 * i], poly_vertices()[3 * i + 1]});
    return out;
  }
  static std::vector<int> elements() { return {poly_elements(), poly_elements() + poly_element_count()}; }
};

MATCHER_P(NearPoints, expected, "") {
  if (arg.size() != expected.size()) return false;
  for (size_t i = 0; i < arg.size(); ++i)
    if (std::fabs(arg[i][0] - expected[i][0]) > 1e-3 || std::fabs(arg[i][1] - expected[i][1]) > 1e-3) return false;
  return true;
}

TEST_F(Poly, PointsCloseIntoAFanAroundTheFirst) {
  struct Case {
    int points;
    std::vector<int> elements;
  };
  for (const Case& c : {Case{3, {0, 1, 2}}, Case{5, {0, 1, 2, 0, 2, 3, 0, 3, 4}}, Case{2, {}}}) {
    poly_draw_start();
    for (int i = 0; i < c.points; ++i) point_at(static_cast<float>(i), 0);
    poly_plot();
    EXPECT_EQ(elements(), c.elements) << c.points;
  }
}

TEST_F(Poly, TooFewPointsWaitForMore) {
  point_at(0, 0);
  point_at(1, 0);
  poly_plot();
  EXPECT_EQ(poly_element_count(), 0u);
  point_at(1, 1);
  poly_plot();
  EXPECT_EQ(elements(), (std::vector<int>{0, 1, 2}));
  EXPECT_THAT(points(), NearPoints(std::vector<Point>{{0, 0}, {1, 0}, {1, 1}}));
  for (int i = 0; i < 65; ++i) point_at(5, 5);  // a second polygon, numbered after the first; the 65th point is ignored
  EXPECT_EQ(poly_current()->count, 64u);
  poly_plot();
  EXPECT_EQ(elements()[3], 3);
  EXPECT_EQ(poly_element_count(), 3u + 3 * 62);
}

TEST_F(Poly, ColoursAreTheTurtlesTimes255Truncated) {
  turtle_set_rgba(1, 0.5f, 0, 1);
  turtle.z = 7;
  for (int i = 0; i < 3; ++i) point_at(0, 0);
  poly_plot();
  EXPECT_EQ(std::vector<int>(poly_colours(), poly_colours() + 4), (std::vector<int>{255, 127, 0, 255}));
  EXPECT_EQ(poly_vertices()[2], 7.0f);
}

TEST_F(Poly, CircleStartsAheadAndRunsClockwise) {
  turtle_set_pos_unscaled(100, 100);
  const TURTLE before = turtle;
  poly_circle(10, 8);
  const float d = 10 * std::sqrt(0.5f);
  EXPECT_THAT(points(), NearPoints(std::vector<Point>{{100, 100},
                                                      {100, 90},
                                                      {100 + d, 100 - d},
                                                      {110, 100},
                                                      {100 + d, 100 + d},
                                                      {100, 110},
                                                      {100 - d, 100 + d},
                                                      {90, 100},
                                                      {100 - d, 100 - d},
                                                      {100, 90}}));
  EXPECT_EQ(poly_element_count(), 3u * 8);
  EXPECT_EQ(poly_vertices()[3 * 9], poly_vertices()[3]);  // the rim closes exactly
  EXPECT_EQ(std::memcmp(&turtle, &before, sizeof(TURTLE)), 0);
}

TEST_F(Poly, CircleCentreTakesItsOwnColourAndTheRimTheTurtles) {
  turtle_set_rgb(0, 0, 1);
  poly_circle_ex(5, 4, 2.0f, 0.5f, 0, 1);  // clamped
  EXPECT_EQ(std::vector<int>(poly_colours(), poly_colours() + 8), (std::vector<int>{255, 127, 0, 255, 0, 0, 255, 255}));
  EXPECT_EQ(turtle.b, 1);
}

TEST_F(Poly, CircleFollowsTheTurtlesScaleAndHeading) {
  turtle_set_pos_unscaled(50, 50);
  turtle_set_scaley(2);
  turtle_set_angle(90);
  poly_circle(10, 4);
  EXPECT_THAT(points(), NearPoints(std::vector<Point>{{50, 50}, {70, 50}, {50, 70}, {30, 50}, {50, 30}, {70, 50}}));
  poly_draw_start();
  poly_circle(10, 0);  // no segments: nothing
  EXPECT_EQ(poly_current()->count, 0u);
  poly_circle(10, 100);  // more than fit: the polygon stops at 64 points
  EXPECT_EQ(poly_vertex_count(), 64u);
}

TEST_F(Poly, BarsAreTrapezoidsFromOrAroundThePen) {
  struct Case {
    void (*shape)(float, float, float);
    float r1, length, r2;
    std::vector<Point> corners;
  };
  const Case cases[] = {
      {poly_bar, 10, 50, 0, {{90, 100}, {100, 50}, {110, 100}}},
      {poly_bar, 10, 50, 5, {{90, 100}, {95, 50}, {105, 50}, {110, 100}}},
      {poly_center_bar, 10, 50, 5, {{90, 125}, {95, 75}, {105, 75}, {110, 125}}},
  };
  for (const Case& c : cases) {
    poly_draw_start();
    turtle_set_pos_unscaled(100, 100);
    const TURTLE before = turtle;
    c.shape(c.r1, c.length, c.r2);
    EXPECT_THAT(points(), NearPoints(c.corners));
    EXPECT_EQ(std::memcmp(&turtle, &before, sizeof(TURTLE)), 0);
  }
}

TEST_F(Poly, APolygonPastTheFrameListsIsDroppedWhole) {
  StdoutCapture out;
  // 2000 pentagons: 10000 points, 6000 triangles; the triangles run out
  // first, at polygon 1667.
  for (int i = 0; i < 2000; ++i) {
    for (int k = 0; k < 5; ++k) point_at(static_cast<float>(k), static_cast<float>(i));
    poly_plot();
  }
  EXPECT_EQ(poly_element_count(), 3u * 3 * 1666);
  EXPECT_EQ(poly_vertex_count(), 5u * 1666);
  EXPECT_EQ(poly_current()->count, 0u);
  EXPECT_EQ(strip_log_prefixes(out.take()), "poly: frame lists full, polygon of 5 points dropped\n");

  // Points run out first for triangles: 3333 fit in 10000 points.
  poly_draw_start();
  for (int i = 0; i < 4000; ++i) {
    for (int k = 0; k < 3; ++k) point_at(static_cast<float>(k), 0);
    poly_plot();
  }
  EXPECT_EQ(poly_vertex_count(), 3u * 3333);
  EXPECT_EQ(poly_element_count(), 3u * 3333);
  EXPECT_EQ(strip_log_prefixes(out.take()), "poly: frame lists full, polygon of 3 points dropped\n");
  // A new frame starts empty again.
  poly_draw_start();
  EXPECT_EQ(poly_vertex_count(), 0u);
}

}  // namespace
