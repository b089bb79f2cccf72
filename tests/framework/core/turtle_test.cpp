// The turtle: moves in its own frame, turns by the sine table, points at
// screen positions and clamps its colour.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "framework/core/sine.h"
#include "framework/core/turtle.h"

namespace {

class Turtle : public ::testing::Test {
 protected:
  void SetUp() override {
    init_sine_table();
    turtle_reset();
  }
};

constexpr double kTable = 1e-6;  // the table's precision, near whole quarter turns

TEST_F(Turtle, MovesForwardAlongItsHeading) {
  struct Case {
    double angle, x, y;
  };
  for (const Case& c : {Case{0, 0, -10}, Case{90, 10, 0}, Case{180, 0, 10}, Case{270, -10, 0}, Case{450, 10, 0},
                        Case{-270, 10, 0}}) {
    turtle_set_pos_unscaled(0, 0);
    turtle_set_angle(c.angle);
    turtle_move(10);
    EXPECT_NEAR(turtle.x, c.x, kTable) << c.angle;
    EXPECT_NEAR(turtle.y, c.y, kTable) << c.angle;
  }
}

TEST_F(Turtle, ScalesItsAxesAndItsPositions) {
  turtle_set_scalex(2);
  turtle_set_scaley(3);
  turtle_trans(1, 1);
  EXPECT_NEAR(turtle.x, 2, kTable);
  EXPECT_NEAR(turtle.y, -3, kTable);
  turtle_set_pos(5, 5);
  EXPECT_EQ(turtle.x, 10);
  EXPECT_EQ(turtle.y, 15);
}

TEST_F(Turtle, TurnsAddUpAndEqualAnglesGiveEqualFactors) {
  turtle_turn(30);
  turtle_turn(30);
  turtle_turn(30);
  const TURTLE turned = turtle;
  for (double a : {90.0, 450.0, -270.0}) {
    turtle_set_angle(a);
    EXPECT_EQ(turtle.xsin, turned.xsin) << a;
    EXPECT_EQ(turtle.xcos, turned.xcos) << a;
    EXPECT_EQ(turtle.ysin, turned.ysin) << a;
    EXPECT_EQ(turtle.ycos, turned.ycos) << a;
  }
  EXPECT_EQ(turned.angle, 90);
  EXPECT_EQ(turned.ysin, 1.0);
  EXPECT_NEAR(turtle_dx(), 1, kTable);  // heading right
  EXPECT_NEAR(turtle_dy(), 0, kTable);
}

TEST_F(Turtle, AnglesToScreenPoints) {
  struct Case {
    double x, y, angle;
  };
  for (const Case& c : {Case{10, 0, 90}, Case{-10, 0, -90}, Case{0, -10, 0}, Case{0, 10, 180}}) {
    EXPECT_NEAR(turtle_angle_to(c.x, c.y), c.angle, 1e-9) << c.x << "," << c.y;
  }
  turtle_set_angle(90);
  EXPECT_NEAR(turtle_angle_to(0, 10), 90, 1e-9);  // already facing right: a quarter turn on
  EXPECT_NEAR(turtle_angle_to(-10, 0), 180, 1e-9);  // exactly -180 comes back as 180
  turtle_set_angle(-90);
  EXPECT_NEAR(turtle_angle_to(10, 0), -180, 1e-9);  // and exactly 180 as -180
  turtle_point_at(10, 0);
  EXPECT_NEAR(turtle.angle, 90, 1e-9);
  turtle_point_at(0, 0);  // its own position
  EXPECT_EQ(turtle.angle, -90);
}

TEST_F(Turtle, ColourIsClampedToTheUnitRange) {
  turtle_set_rgba(1.5f, -0.2f, 0.5f, NAN);
  EXPECT_EQ(turtle.r, 1);
  EXPECT_EQ(turtle.g, 0);
  EXPECT_EQ(turtle.b, 0.5);
  EXPECT_EQ(turtle.a, 1);
  turtle_set_rgb(0.25f, 0, 0);
  EXPECT_EQ(turtle.a, 1);
}

TEST_F(Turtle, HomeRestoresEveryField) {
  turtle_set_pos_unscaled(3, 4);
  turtle.z = 2;
  turtle_set_scale(2);
  turtle_set_angle(33);
  turtle_set_rgb(0.5f, 0.5f, 0.5f);
  turtle_set_home();
  const TURTLE home = turtle;
  turtle_set_pos_unscaled(9, 9);
  turtle_set_angle(200);
  turtle_set_rgba(0, 0, 0, 0);
  turtle_home();
  EXPECT_EQ(std::memcmp(&turtle, &home, sizeof(TURTLE)), 0);
  turtle_reset();  // the start values, with the factors of angle 0, become home
  const TURTLE start = turtle;
  turtle_set_angle(0);
  EXPECT_EQ(std::memcmp(&turtle, &start, sizeof(TURTLE)), 0);
  turtle_set_pos_unscaled(1, 1);
  turtle_home();
  EXPECT_EQ(turtle.x, 0);
}

// Angles and colours out of their range: an angle of any size reaches the
// table through its reduced index (beyond about 9.4e7 degrees the plain
// conversion to a 32-bit integer is undefined), and a colour component
// outside 0..1 becomes the byte of the nearest end instead of wrapping.
TEST_F(Turtle, AnglesAndColoursOutOfRangeAreReduced) {
  struct AngleCase {
    double degrees;
    int index;
  };
  for (const AngleCase& c : {AngleCase{1e8, 6371}, AngleCase{-1e8, 1821}, AngleCase{9.5e7, 7281},
                             AngleCase{1e15, 6372}, AngleCase{-3.6e11 - 90, 6144}, AngleCase{3.6e11 + 90, 2048},
                             AngleCase{NAN, 0}, AngleCase{INFINITY, 0}, AngleCase{-INFINITY, 0}}) {
    SCOPED_TRACE(c.degrees);
    EXPECT_EQ(sine_table_index(c.degrees), c.index);
    turtle_set_angle(c.degrees);  // the heading's factors come from the same index
    EXPECT_EQ(turtle.ysin, _sine_table[c.index]);
  }
  struct ColourCase {
    double component;
    int byte;
  };
  for (const ColourCase& c : {ColourCase{1.5, 255}, ColourCase{-0.2, 0}, ColourCase{0.5, 127}, ColourCase{1.0, 255},
                              ColourCase{0.0, 0}, ColourCase{1e30, 255}, ColourCase{-INFINITY, 0},
                              ColourCase{NAN, 255}}) {
    SCOPED_TRACE(c.component);
    EXPECT_EQ(turtle_colour_byte(c.component), c.byte);
  }
}

}  // namespace
