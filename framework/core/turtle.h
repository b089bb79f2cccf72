// The turtle: the framework's one global pen. A position, two scales, a
// heading in degrees with its direction factors, and a colour, read by every
// drawing module (sprites are centred on it, glyph text is laid out from it,
// polygon points take its position and colour). Drawing code moves it in its
// own frame (sideways and forward, scaled and turned) and saves and restores
// the whole record around a drawing.
//
// Screen coordinates have y growing downwards. Angle 0 points up the screen
// and positive angles turn clockwise as seen on screen; angles are never
// wrapped (the table's look-up reduces them, so a heading may grow without
// bound). The direction factors are read from the shared sine table
// (sine.h): xsin = ycos = cos a, xcos = -ysin = -sin a, to the table's
// precision, so the table must be filled (init_sine_table) before turning.
//
// Threads: main thread only; never from the mixing hook.
// GL state: none; the turtle is plain data.
#pragma once

#include <cstdint>

using TURTLE_FLOAT = double;

struct TURTLE {
  TURTLE_FLOAT x, y;            // position in screen units
  TURTLE_FLOAT z;               // depth of polygon points and batched sprites
  TURTLE_FLOAT scalex, scaley;  // scales of the sideways and forward axes
  TURTLE_FLOAT angle;           // heading in degrees
  TURTLE_FLOAT xcos, xsin, ycos, ysin;
  TURTLE_FLOAT r, g, b, a;      // colour, each 0..1
};

// The pen. Starts (like the home turtle) at (0, 0, 0), scales 1, angle 0 and
// opaque white.
extern TURTLE turtle;

// angle += addangle, then the direction factors of the new angle.
void turtle_turn(TURTLE_FLOAT addangle);
// angle = 0, then turtle_turn(angle).
void turtle_set_angle(TURTLE_FLOAT angle);
// Position (x * scalex, y * scaley).
void turtle_set_pos(TURTLE_FLOAT x, TURTLE_FLOAT y);
void turtle_set_pos_unscaled(TURTLE_FLOAT x, TURTLE_FLOAT y);
void turtle_set_posx_unscaled(TURTLE_FLOAT x);
void turtle_set_posy_unscaled(TURTLE_FLOAT y);
// Both scales, or one.
void turtle_set_scale(TURTLE_FLOAT scale);
void turtle_set_scalex(TURTLE_FLOAT scale);
void turtle_set_scaley(TURTLE_FLOAT scale);
// The colour, each component clamped to 0..1 (not a number gives 1).
void turtle_set_rgba(float r, float g, float b, float a);
void turtle_set_rgb(float r, float g, float b);
// A colour component as the byte that drawing sends: clamped to 0..1 as
// turtle_set_rgba clamps (drawing code may write the record's components
// directly), then times 255, truncated. 1.5 gives 255, -0.2 gives 0, 0.5
// gives 127.
uint8_t turtle_colour_byte(double component);
// Moves x along the sideways axis and y along the heading, in turtle units
// (times scalex and scaley). At angle 0 and scale 1: right by x, up by y.
void turtle_trans(TURTLE_FLOAT x, TURTLE_FLOAT y);
// turtle_trans(0, amount): forward.
void turtle_move(TURTLE_FLOAT amount);
// Copies the turtle into the home turtle, or the home turtle into the turtle.
void turtle_set_home();
void turtle_home();
// The turtle back to its start values, which also become home.
void turtle_reset();
// Turns to head towards the screen point (x, y). Pointing at the turtle's
// own position gives the angle -90.
void turtle_point_at(TURTLE_FLOAT x, TURTLE_FLOAT y);
// The turn, in degrees from -180 to 180, that would head the turtle towards
// (x, y); exactly 180 comes back as -180.
TURTLE_FLOAT turtle_angle_to(TURTLE_FLOAT x, TURTLE_FLOAT y);
// The heading vector: -xcos and -xsin.
TURTLE_FLOAT turtle_dx();
TURTLE_FLOAT turtle_dy();
