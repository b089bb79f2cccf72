// Image atlases: GL textures that each hold many small images, and the
// sprite records that say where those images lie.
//
// An atlas is built in memory first (atlas_build.h: the table, the pixel
// buffers, the additions and the sprite table, with no GL); atlas_upload
// then sends the buffer to GL once, in one of four pixel formats. Sprites
// are drawn by sprite.h and glyph text by glyphs.h. The runtime calls
// atlas_init at start-up and atlas_exit at shut-down.
//
// Calling order for one atlas: atlas_create_texture, additions, atlas_upload.
//
// Threads: main thread only (uploads need the GL context); never from the
// mixing hook.
//
// GL state: atlas_upload, atlas_update_texture and atlas_update_rect bind
// the atlas's texture (GL_TEXTURE_2D); atlas_upload sets its filters; uploads and deletions make the
// drawing module forget its cached binding (draw_forget_texture).
#pragma once

#include "framework/core/atlas_build.h"
#include "framework/core/draw.h"

// The `format` argument of atlas_upload.
enum PIXEL_FORMAT : int {
  PIXEL_RGBA8 = 0,
  PIXEL_ALPHA8 = 1,
  PIXEL_RGBA4 = 2,
  PIXEL_RGB5_A1 = 3,
};

// Clears the 16 atlas records and installs the GL texture deleter for them
// and for the packer; logs "atlas: init". Returns 0. Does not touch the
// sprite table.
int atlas_init();
// Deletes the atlases' textures, frees their batch storage (logging "ATLAS
// <i> freeing batch <b>" for each), pixel buffers and the packer, logs
// "atlas: deleted <n> textures" and clears the table, so the runtime can be
// brought up again without leaking (atlas_release_all, with the GL
// deleter).
void atlas_exit();

// Sends the pixel buffer to a new GL texture (rows bottom first), converted
// to `format`, with linear or nearest filtering; deletes the atlas's earlier
// texture ("Deleting texture <name>") and ends the building of every atlas.
// Returns 1, or -1 ("NULL atlas"), -2 ("No rgba data"), -3 (GL error,
// "Error uploading texture. glError: 0x<hex>" and "atlas upload failed").
// The pixel buffer stays, owned by the record.
int atlas_upload(IMAGE* atlas, int linear, int format);
// Sends the pixel buffer again as RGBA8 to the image's texture, rows bottom
// first as atlas_upload does, so the sprites keep showing the right texels.
// Returns 1, or -1 when there is no image or no buffer.
int atlas_update_texture(IMAGE* image);
// Sends the texels of the rectangle at (x, y) of w x h texels of the pixel
// buffer (row 0 at the top) again to the image's texture, rows bottom first
// as atlas_upload sends them, for a texture whose buffer changes in a small
// part every frame. The texture keeps its size and format; the rectangle is
// clipped to the texture, and an empty one sends nothing. Returns 1, or -1
// when there is no image, buffer or texture. The texels go through a
// buffer of the module's that grows to the largest rectangle sent and is
// kept for the next.
int atlas_update_rect(IMAGE* image, int x, int y, int w, int h);

