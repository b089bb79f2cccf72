// The texture atlas packer: hands out free rectangles of a fixed-size
// texture so that many small images can share one GL texture.
//
// The packed area is a skyline: a left-to-right list of segments (nodes),
// each with the height up to which the texture is filled along it. A new
// rectangle goes where its far edge ends nearest to the origin (lowest
// bottom edge first, then the narrower starting segment, then the leftmost).
// A one-texel margin stays free on all four sides: column 0, column width-1,
// row 0 and row height-1 are never handed out.
//
// Invariants after every public operation: the nodes are ordered by x, do
// not overlap, together cover columns 1 to width-2, no two neighbours have
// the same y, and there is at least one node.
//
// Threads: main thread only (whichever thread builds the atlases); never from
// the mixing hook.
//
// Misuse stops the program with KEL_ASSERT and the failed condition's text;
// running out of memory writes "line <site>: No more memory for allocating
// data" to standard error and exits with status 1.
//
// The packer has no GL of its own: a texture named by a packer's `id` is
// deleted through the deleter that the drawing library installs.
#pragma once

#include <cstdint>

#include "framework/core/vector.h"

union ivec3 {
  int32_t data[3];
  int32_t xyz[3];
  int32_t rgb[3];
  int32_t xy[2];
  struct {
    int32_t x, y, z;
  };
  struct {
    int32_t width, height, depth;
  };
  struct {
    int32_t r, g, b;
  };
  struct {
    int32_t red, green, blue;
  };
};
static_assert(sizeof(ivec3) == 12);

union ivec4 {
  int32_t data[4];
  int32_t xyzw[4];
  int32_t rgba[4];
  int32_t xyz[3];
  int32_t rgb[3];
  int32_t xy[2];
  struct {
    int32_t x, y, z, w;
  };
  struct {
    int32_t x_, y_, width, height;
  };
  struct {
    int32_t r, g, b, a;
  };
  struct {
    int32_t red, green, blue, alpha;
  };
};
static_assert(sizeof(ivec4) == 16);

struct texture_atlas_t {
  vector_t* nodes;      // the skyline: ivec3 (x left edge, y filled height, z width)
  uint32_t width;       // texels
  uint32_t height;      // texels
  uint32_t depth;       // bytes per texel: 1, 3 or 4
  uint32_t used;        // sum of width * height of the regions handed out
  uint32_t id;          // GL texture name of the caller's, 0 for none
  unsigned char* data;  // width * height * depth bytes, rows of width texels
};

// A new packer of `width` x `height` texels of `depth` bytes (asserts
// "(depth == 1) || (depth == 3) || (depth == 4)"): one node (1, 1,
// width - 2), used 0, id 0 and a zeroed data buffer. The caller owns it and
// frees it with texture_atlas_delete.
texture_atlas_t* texture_atlas_new(uint32_t width, uint32_t height, uint32_t depth);
// Frees the nodes, the data buffer and the record; a non-zero `id` goes to
// the installed texture deleter first. Asserts "self".
void texture_atlas_delete(texture_atlas_t* self);

// Finds room for a `width` x `height` rectangle and marks it used. The fit
// is tested in 64-bit arithmetic, so a request far larger than the packer
// (or any request to a packer smaller than 3 x 3, which has no free texel
// inside its margin) fits nowhere rather than wrapping round. Returns
// (x, y, width, height), or (-1, -1, 0, 0) when nothing fits, in which case
// nothing changes. Asserts "self".
ivec4 texture_atlas_get_region(texture_atlas_t* self, uint32_t width, uint32_t height);
// The y at which a `width` x `height` rectangle would sit with its left edge
// on node `index`'s x, or -1 when it does not fit there. A zero width gives
// the node's y. Compares in 64-bit arithmetic, as texture_atlas_get_region.
// Asserts "self" (and `index` is checked as vector_get does).
int texture_atlas_fit(texture_atlas_t* self, uint32_t index, uint32_t width, uint32_t height);
// Joins neighbouring nodes of equal y. Asserts "self".
void texture_atlas_merge(texture_atlas_t* self);
// Copies `height` rows of `width` texels into the data buffer at (x, y);
// source rows are `stride` bytes apart. Nothing is converted. Asserts, in
// this order, "self", "x > 0", "y > 0", "x < (self->width-1)",
// "(x + width) <= (self->width-1)", "y < (self->height-1)",
// "(y + height) <= (self->height-1)", then "width < self->width" and
// "height < self->height", so that a block whose end would wrap round 32
// bits is refused before anything is copied. The region must lie inside the
// margin, so the copy never leaves the buffer.
void texture_atlas_set_region(texture_atlas_t* self, uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                              const unsigned char* data, uint32_t stride);
// Makes the whole packer free again (one node, used 0) and zeroes the data
// buffer. Asserts "self", "self->data".
void texture_atlas_clear(texture_atlas_t* self);

// Who deletes a GL texture named by a packer's `id`. The drawing library
// installs glDeleteTextures through this; null restores the default, which
// deletes nothing.
using TEXTURE_ATLAS_DELETE_TEXTURE = void (*)(uint32_t id);
void texture_atlas_set_texture_deleter(TEXTURE_ATLAS_DELETE_TEXTURE deleter);
