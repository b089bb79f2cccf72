#include "framework/core/poly.h"

#include <GL/gl.h>

#include <array>

#include "framework/core/log.h"
#include "framework/core/turtle.h"

namespace {

POLY_LIST polylist;

// The frame lists (the colour list has room for 15000 points, more than the
// vertex list can take).
std::array<float, 3 * POLY_FRAME_POINTS> vertex_list;
std::array<uint8_t, 60000> colour_list;
std::array<uint16_t, 3 * POLY_FRAME_TRIANGLES> element_list;
uint32_t vertex_index = 0;
uint32_t vertex_count = 0;
uint32_t colour_index = 0;
uint32_t element_count = 0;
bool overflow_logged = false;

void move_and_point(TURTLE_FLOAT sideways, TURTLE_FLOAT forward) {
  turtle_trans(sideways, forward);
  poly_point();
}

void bar(float radius1, float length, float radius2, float first_forward) {
  const TURTLE saved = turtle;
  move_and_point(-radius1, first_forward);
  move_and_point(radius1 - radius2, length);
  if (radius2 > 0) move_and_point(2 * radius2, 0);
  move_and_point(radius1 - radius2, -length);
  poly_plot();
  turtle = saved;
}

}  // namespace

void poly_draw_start() {
  polylist.count = 0;
  vertex_index = vertex_count = colour_index = element_count = 0;
  overflow_logged = false;
}

void poly_point() {
  if (polylist.count >= POLY_MAX_POINTS) return;
  const uint32_t i = polylist.count++;
  polylist.point[i] = {static_cast<float>(turtle.x), static_cast<float>(turtle.y), static_cast<float>(turtle.z)};
  polylist.colour[i] = {turtle_colour_byte(turtle.r), turtle_colour_byte(turtle.g), turtle_colour_byte(turtle.b),
                        turtle_colour_byte(turtle.a)};
}

void poly_plot() {
  const uint32_t n = polylist.count;
  if (n < 3) return;
  const uint32_t triangles = n - 2;
  if (vertex_count + n > POLY_FRAME_POINTS || element_count + 3 * triangles > element_list.size()) {
    if (!overflow_logged) kel_log("poly: frame lists full, polygon of %u points dropped\n", n);
    overflow_logged = true;
    polylist.count = 0;
    return;
  }
  const uint32_t base = vertex_count;
  for (uint32_t i = 0; i < n; ++i) {
    vertex_list[vertex_index + 3 * i + 0] = polylist.point[i].x;
    vertex_list[vertex_index + 3 * i + 1] = polylist.point[i].y;
    vertex_list[vertex_index + 3 * i + 2] = polylist.point[i].z;
    const GL_COLOUR& c = polylist.colour[i];
    colour_list[colour_index + 4 * i + 0] = c.r;
    colour_list[colour_index + 4 * i + 1] = c.g;
    colour_list[colour_index + 4 * i + 2] = c.b;
    colour_list[colour_index + 4 * i + 3] = c.a;
  }
  for (uint32_t k = 1; k <= triangles; ++k) {
    element_list[element_count + 3 * (k - 1) + 0] = static_cast<uint16_t>(base);
    element_list[element_count + 3 * (k - 1) + 1] = static_cast<uint16_t>(base + k);
    element_list[element_count + 3 * (k - 1) + 2] = static_cast<uint16_t>(base + k + 1);
  }
  vertex_count += n;
  vertex_index += 3 * n;
  colour_index += 4 * n;
  element_count += 3 * triangles;
  polylist.count = 0;
}

void poly_draw_end() {
  if (element_count == 0) return;
  glDisable(GL_TEXTURE_2D);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  glColorPointer(4, GL_UNSIGNED_BYTE, 0, colour_list.data());
  glVertexPointer(3, GL_FLOAT, 0, vertex_list.data());
  glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(element_count), GL_UNSIGNED_SHORT, element_list.data());
}

void poly_bar(float radius1, float length, float radius2) { bar(radius1, length, radius2, 0); }

void poly_center_bar(float radius1, float length, float radius2) { bar(radius1, length, radius2, -length / 2); }

void poly_circle_ex(float radius, unsigned segments, float cr, float cg, float cb, float ca) {
  if (segments == 0) return;
  const TURTLE saved = turtle;
  const TURTLE_FLOAT cx = turtle.x, cy = turtle.y;
  turtle_set_rgba(cr, cg, cb, ca);
  poly_point();
  turtle.r = saved.r;
  turtle.g = saved.g;
  turtle.b = saved.b;
  turtle.a = saved.a;
  const float step = 360.0f / static_cast<float>(segments);
  auto heading = static_cast<float>(saved.angle);
  TURTLE_FLOAT first_x = cx, first_y = cy;
  for (unsigned i = 0; i <= segments; ++i) {
    if (i < segments) {
      turtle_move(radius);
    } else {
      turtle.x = first_x;
      turtle.y = first_y;
    }
    poly_point();
    if (i == 0) {
      first_x = turtle.x;
      first_y = turtle.y;
    }
    turtle.x = cx;
    turtle.y = cy;
    heading += step;
    turtle_set_angle(heading);
  }
  poly_plot();
  turtle = saved;
}

void poly_circle(float radius, unsigned segments) {
  poly_circle_ex(radius, segments, static_cast<float>(turtle.r), static_cast<float>(turtle.g),
                 static_cast<float>(turtle.b), static_cast<float>(turtle.a));
}

uint32_t poly_vertex_count() { return vertex_count; }
uint32_t poly_element_count() { return element_count; }
const float* poly_vertices() { return vertex_list.data(); }
const uint8_t* poly_colours() { return colour_list.data(); }
const uint16_t* poly_elements() { return element_list.data(); }
const POLY_LIST* poly_current() { return &polylist; }
