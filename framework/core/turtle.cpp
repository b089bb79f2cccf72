#include "framework/core/turtle.h"

#include <cmath>

#include "framework/core/sine.h"

namespace {

// The sine table's entry for `degrees`, computed as init_sine_table does,
// for the start values, which exist before the table is filled.
double table_sine(double degrees) {
  const int index = sine_table_index(degrees);
  return static_cast<float>(std::sin(index * 0.0439453125 * 0.017453292519943295));
}

TURTLE start_turtle() {
  TURTLE t{};
  t.scalex = t.scaley = 1;
  t.ysin = table_sine(0);
  t.ycos = t.xsin = table_sine(90);
  t.xcos = table_sine(180);
  t.r = t.g = t.b = t.a = 1;
  return t;
}

TURTLE home_turtle = start_turtle();

float clamp_unit(float v) {
  if (std::isnan(v) || v > 1.0f) return 1.0f;
  return v < 0.0f ? 0.0f : v;
}

}  // namespace

TURTLE turtle = start_turtle();

void turtle_turn(TURTLE_FLOAT addangle) {
  turtle.angle += addangle;
  const TURTLE_FLOAT a = turtle.angle;
  turtle.ysin = sine_deg(a);
  turtle.ycos = turtle.xsin = sine_deg(a + 90);
  turtle.xcos = sine_deg(a + 180);
}

void turtle_set_angle(TURTLE_FLOAT angle) {
  turtle.angle = 0;
  turtle_turn(angle);
}

void turtle_set_pos(TURTLE_FLOAT x, TURTLE_FLOAT y) {
  turtle.x = x * turtle.scalex;
  turtle.y = y * turtle.scaley;
}

void turtle_set_pos_unscaled(TURTLE_FLOAT x, TURTLE_FLOAT y) {
  turtle.x = x;
  turtle.y = y;
}

void turtle_set_posx_unscaled(TURTLE_FLOAT x) { turtle.x = x; }
void turtle_set_posy_unscaled(TURTLE_FLOAT y) { turtle.y = y; }

void turtle_set_scale(TURTLE_FLOAT scale) { turtle.scalex = turtle.scaley = scale; }
void turtle_set_scalex(TURTLE_FLOAT scale) { turtle.scalex = scale; }
void turtle_set_scaley(TURTLE_FLOAT scale) { turtle.scaley = scale; }

void turtle_set_rgba(float r, float g, float b, float a) {
  turtle.r = clamp_unit(r);
  turtle.g = clamp_unit(g);
  turtle.b = clamp_unit(b);
  turtle.a = clamp_unit(a);
}

void turtle_set_rgb(float r, float g, float b) { turtle_set_rgba(r, g, b, 1.0f); }

uint8_t turtle_colour_byte(double component) {
  if (std::isnan(component) || component > 1.0) return 255;
  return component < 0.0 ? 0 : static_cast<uint8_t>(component * 255.0);
}

void turtle_trans(TURTLE_FLOAT x, TURTLE_FLOAT y) {
  const TURTLE_FLOAT sideways = x * turtle.scalex;
  const TURTLE_FLOAT forward = y * turtle.scaley;
  turtle.x += forward * turtle.ysin + sideways * turtle.xsin;
  turtle.y -= forward * turtle.ycos + sideways * turtle.xcos;
}

void turtle_move(TURTLE_FLOAT amount) { turtle_trans(0, amount); }

void turtle_set_home() { home_turtle = turtle; }
void turtle_home() { turtle = home_turtle; }

void turtle_reset() {
  turtle = start_turtle();
  home_turtle = turtle;
}

void turtle_point_at(TURTLE_FLOAT x, TURTLE_FLOAT y) {
  turtle_set_angle(std::atan2(turtle.y - y, turtle.x - x) * 57.29577951308232 - 90);
}

TURTLE_FLOAT turtle_angle_to(TURTLE_FLOAT x, TURTLE_FLOAT y) {
  const TURTLE_FLOAT d = std::atan2(turtle.y - y, turtle.x - x) * 57.29577951308232 - 90 - turtle.angle;
  const TURTLE_FLOAT b = std::fmod(d, 360.0);
  if (b >= 180) return b - 360;
  if (b <= -180) return b + 360;
  return b;
}

TURTLE_FLOAT turtle_dx() { return -turtle.xcos; }
TURTLE_FLOAT turtle_dy() { return -turtle.xsin; }
