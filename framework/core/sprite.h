// Sprites: rectangles of an atlas texture (atlas.h) drawn as textured quads
// at the turtle's pen, centred on its position, scaled by its scales, turned
// by its angle and tinted by its colour. Drawing never moves the pen.
//
// Two paths: sprite_draw draws one sprite now, with its own GL calls;
// sprite_batch_plot collects quads into one of the two batches of the
// sprite's atlas (0 alpha blended, 1 additive) and sprite_batch_draw draws
// both batches of an atlas with one call each, batch 0 first. A frame plots
// any number of sprites, then calls sprite_batch_draw once per atlas.
//
// Threads: main thread only (the GL context's); never from the mixing hook.
//
// GL state: sprite_draw sets the current colour, disables the colour array
// and enables the texture-coordinate array and GL_TEXTURE_2D; the batches
// enable the texture-coordinate and colour arrays and GL_TEXTURE_2D, and
// batch 1 draws with the blend function (ONE, ONE), set back to (SRC_ALPHA,
// ONE_MINUS_SRC_ALPHA) afterwards. Both bind the atlas through
// draw_bind_texture and set the vertex (and texture, colour) pointers.
#pragma once

#include <cstdint>

#include "framework/core/atlas.h"

// The quad of a sprite at the turtle: corners left-top, left-bottom,
// right-top, right-bottom, and their texture positions in texels with the
// atlas rows counted from the bottom (as uploaded). The turtle is first
// moved by (xoff, -yoff) ((-xoff, -yoff) when flipped) and put back after.
// `exact` halves the sprite's size exactly (the batches), otherwise as an
// integer, truncating (sprite_draw), so odd sizes differ by half a texel.
// Flipping swaps the left and right u. Pure: no GL call.
struct SPRITE_QUAD {
  float x[4], y[4];
  int16_t u[4], v[4];
};
SPRITE_QUAD sprite_quad(const SPRITE* sprite, int flip, int exact);

// Draws one sprite now; `flip` non-zero mirrors it left to right. A null
// sprite, or one without an atlas, draws nothing.
void sprite_draw(SPRITE* sprite, int flip);
// Adds the sprite's quad (at the turtle's z, in the turtle's colour) to
// batch `which` of its atlas: 0 the alpha-blended one, any other value the
// additive one. A null sprite, or one without an atlas, plots nothing. The
// first plot allocates room for 64 sprites and logs "ATLAS <i> BATCH <b>
// initialized to 64 entries (8192 bytes)" (<i> is -1 for an atlas outside
// the table); it grows by 64 sprites at a time ("ATLAS <i> BATCH <b> grown
// to <n> entries (<bytes> bytes)") up to 5000, past which plots are dropped
// silently. The storage stays until
// atlas_exit; storage that cannot be allocated ends the program as running
// out of memory does ("line <site>: No more memory for allocating data" on
// standard error, status 1).
void sprite_batch_plot(SPRITE* sprite, int flip, int which);
// Draws and empties both batches of the atlas whose IMAGE this is; `image`
// must be the image of an ATLAS record (atlas_get gives such). Null, or two
// empty batches, draw nothing.
void sprite_batch_draw(IMAGE* image);
// Draws the whole texture of an atlas at the turtle, as one sprite.
// Returns 1, or -1 for a null atlas.
int atlas_draw_full(IMAGE* atlas);
