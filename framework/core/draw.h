// Fixed-function OpenGL drawing state: pixel projection, clearing, frame
// flips and texture binding through a one-entry cache.
//
// Threads: main thread only (the thread that owns the GL context); never
// from the mixing hook.
//
// GL state: draw_reset is the one place that sets up the state every drawing
// module assumes: blending on with (SRC_ALPHA, ONE_MINUS_SRC_ALPHA), face
// culling and depth test off, GL_TEXTURE_2D on, the vertex, texture
// coordinate and colour client arrays on, a projection in window pixels
// (y down, depth -100 to 100) and the model-view matrix selected. Each
// drawing module says in its header which of these it changes.
#pragma once

#include "framework/core/image.h"

// Makes `image`'s texture current and loads the texture matrix with
// 1/texture_w by 1/texture_h; no GL call when its texture name is the one
// bound last through here. Null is ignored.
void draw_bind_texture(IMAGE* image);
// Forgets the texture bound last, so that the next draw_bind_texture binds
// and loads the texture matrix again. For code that binds or deletes
// textures behind the cache's back (the atlases' uploads and deletions).
void draw_forget_texture();
// Clears colour and depth to (r, g, b) with alpha 0, or alpha `a`.
void draw_clear(float r, float g, float b);
void draw_clear_ex(float r, float g, float b, float a);
// Sets up the whole drawing state above for the display size and logs
// "draw: reset (<w> x <h>)". The platform calls it after every video mode.
void draw_reset();
// Presents the frame (the platform's buffer swap).
void draw_flip();
// Turns blending off (0), for drawing that is opaque (a renderer then need
// not read back what lies under it), or on again (non-zero) with
// draw_reset's function. Whoever turns it off turns it on again.
void draw_set_blending(int on);

// The display as the platform reports it: its size for draw_reset and how
// draw_flip presents a frame. wrapper_init installs the platform's; a null
// argument restores the default (640 x 480, nothing to present).
using DRAW_DISPLAY_SIZE = int (*)();
using DRAW_DISPLAY_FLIP = void (*)();
void draw_set_display(DRAW_DISPLAY_SIZE width, DRAW_DISPLAY_SIZE height, DRAW_DISPLAY_FLIP flip);
