// Polygons: flat, untextured, vertex-coloured convex polygons collected
// during a frame and drawn with one GL call. A polygon is built point by
// point at the turtle's position, each point taking the turtle's colour, and
// closed into a triangle fan around its first point. Bars and circles move
// the turtle in its own frame, so they follow its position, scale and angle,
// and leave it as they found it.
//
// Order in a frame: poly_draw_start; any number of polygons (poly_point three
// or more times, then poly_plot) and shapes; poly_draw_end.
//
// Threads: main thread only (the GL context's); never from the mixing hook.
//
// GL state: poly_draw_end disables GL_TEXTURE_2D and the texture-coordinate
// array, enables the colour array and sets the vertex and colour pointers on
// the frame lists. Texturing stays off afterwards; the sprite drawers switch
// it back on.
#pragma once

#include <cstdint>

struct GL_XYZ {
  float x, y, z;
};

struct GL_COLOUR {
  uint8_t r, g, b, a;
};

constexpr uint32_t POLY_MAX_POINTS = 64;      // points of one polygon
constexpr uint32_t POLY_FRAME_POINTS = 10000;  // points of one frame
constexpr uint32_t POLY_FRAME_TRIANGLES = 5000;

// The polygon being built.
struct POLY_LIST {
  uint32_t count;  // points so far
  GL_COLOUR colour[POLY_MAX_POINTS];
  GL_XYZ point[POLY_MAX_POINTS];
};

// Empties the frame lists and the polygon being built.
void poly_draw_start();
// Adds the turtle's position and colour (each component times 255,
// truncated) as the next point; ignored once the polygon has 64 points.
void poly_point();
// Closes the polygon into the frame lists as a fan of count - 2 triangles
// (first, k, k + 1). With fewer than 3 points nothing happens and the points
// stay for the next poly_plot. A polygon that would not fit whole in the
// frame lists (POLY_FRAME_POINTS points, POLY_FRAME_TRIANGLES triangles) is
// dropped whole, nothing of it written, and its points are forgotten; the
// first such polygon of a frame logs "poly: frame lists full, polygon of <n>
// points dropped".
void poly_plot();
// Draws every triangle collected since poly_draw_start (no GL call when
// there is none). The lists stay: a second call draws the same again.
void poly_draw_end();

// A trapezoid from the pen forward: half-width radius1 across the pen and
// radius2 at `length` ahead (a triangle with its tip there when radius2 is
// not above 0).
void poly_bar(float radius1, float length, float radius2);
// The same trapezoid centred on the pen.
void poly_center_bar(float radius1, float length, float radius2);
// A filled circle of `segments` rim points plus the closing one: the centre
// in (cr, cg, cb, ca) (clamped), the rim in the turtle's colour, the first
// rim point straight ahead and the rim running clockwise. The radius is a
// forward move (scaled by scaley). Past 62 segments the 64-point polygon is
// full and the fan stops short of a whole circle; 0 segments add nothing.
void poly_circle_ex(float radius, unsigned segments, float cr, float cg, float cb, float ca);
// poly_circle_ex with the turtle's colour at the centre too.
void poly_circle(float radius, unsigned segments);

// Read-only views of the frame lists for tools and tests, valid until the
// next poly_draw_start or poly_plot: points (x, y, z floats), their colours
// (r, g, b, a bytes), the triangles (three point indices each), and the
// polygon being built.
uint32_t poly_vertex_count();
uint32_t poly_element_count();
const float* poly_vertices();
const uint8_t* poly_colours();
const uint16_t* poly_elements();
const POLY_LIST* poly_current();
