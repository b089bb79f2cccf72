// Image atlases: GL textures that each hold many small images, and the
// sprite records that say where those images lie.
//
// The framework keeps a fixed table of 16 atlases. An atlas is built in
// memory first: atlas_create_texture makes its pixel buffer (opaque magenta
// where no image lies) and a packer for it; images are then added one by one
// (single images, sprite sheets cut into cells, glyph sheets whose glyphs are
// framed by an outline colour), each placed by the packer (texture-atlas.h)
// and recorded as a sprite; atlas_upload then sends the buffer to GL once,
// in one of four pixel formats. Sprites are drawn by sprite.h and glyph text
// by glyphs.h.
//
// Calling order for one atlas: atlas_create_texture, additions, atlas_upload.
// Only the atlas whose texture was created last is being built: it owns the
// one packer, and uploading any atlas ends the building.
//
// Image files are read through a replaceable loader (atlas_set_loader) into
// plain RGBA bytes; the platform installs its own at start-up
// (wrapper_load_rgba, in framework/platforms/sdl/wrapper_image.h).
//
// Threads: main thread only (uploads need the GL context); never from the
// mixing hook.
//
// GL state: atlas_upload, atlas_update_texture and atlas_update_rect bind
// the atlas's texture (GL_TEXTURE_2D); atlas_upload sets its filters; uploads and deletions make the
// drawing module forget its cached binding (draw_forget_texture).
//
// Chosen here:
// - atlas_create_texture releases the record's earlier pixel buffer and
//   texture (records must start zeroed, as the table's do). It refuses a
//   side outside 3..8192 (after 0 has become 512), logging "atlas: texture
//   size <w>x<h> refused" and returning null, with nothing changed.
// - Additions go only to the atlas being built: an addition to any other
//   atlas (or after the upload) logs "atlas '<name>' is not being built" and
//   adds nothing, so the packer's places are always inside that atlas's
//   buffer.
// - The sprite table holds 4096 records. An addition when it is full logs
//   "sprite table full (4096 sprites): image not added" and adds nothing
//   (no atlas space is taken), and sprite_last returns null.
// - An image of no pixels, a source row shorter than the image, or a side
//   above 8192 is refused with "atlas: image %dx%d (rows of %d) refused".
// - Sprite sheets whose size is not a whole number of cells: the cells of
//   the last column and row are clipped to the image and treated as whole
//   cells whose missing part is empty (their offsets are computed for the
//   whole cell); no pixel outside the image is ever read. A sheet without
//   an image or with a cell size outside 1..8192 logs "sprite sheet refused
//   (cells %dx%d)" and returns -1.
// - A glyph sheet without pixels gives 0 glyphs; a font sheet in which no
//   glyph is found loads as a font of 0 glyphs and logs "font '%s': no
//   glyphs found".
// - A bordered image (modes 1 to 3) takes a region one texel larger on every
//   side and sits one texel in from its corner, so its border lies in its
//   own region and never overwrites a neighbour's texels (an image added
//   without a gap would otherwise lose its last column or row to the next
//   image's border). Other non-zero modes keep a one-texel gap to the right
//   and below.
// - An added sprite record is cleared before it is filled, so no field keeps
//   a value from an earlier use of the record (after a font's roll-back).
// - atlas_update_texture sends the rows bottom first, as atlas_upload does,
//   so the sprites keep showing the right texels after an update.
// - atlas_exit also frees the pixel buffers and the packer and clears the
//   table, so the runtime can be brought up again without leaking.
// - sprite_get_id of a record outside the table is -1.
#pragma once

#include <cstdint>

#include "framework/core/draw.h"

// The `format` argument of atlas_upload.
enum PIXEL_FORMAT : int {
  PIXEL_RGBA8 = 0,
  PIXEL_ALPHA8 = 1,
  PIXEL_RGBA4 = 2,
  PIXEL_RGB5_A1 = 3,
};

// The `mode` argument of the additions: what goes in the one-texel border
// around an image (none, transparent black, the image's own edge, or the
// opposite edge for wrapping textures).
enum ATLAS_MODE : int {
  ATLAS_MODE_NO_BORDER = 0,
  ATLAS_MODE_TRANSPARENT_BORDER = 1,
  ATLAS_MODE_DOUBLE_BORDER = 2,
  ATLAS_MODE_WRAP_BORDER = 3,
};

constexpr int ATLAS_COUNT = 16;
constexpr int SPRITE_TABLE_SIZE = 4096;
constexpr int ATLAS_BATCH_MAX = 5000;  // sprites one batch may hold
constexpr int ATLAS_MAX_SIDE = 8192;   // largest texture and image side

// One vertex of a batched quad, laid out for GL's interleaved arrays.
struct BATCH_ITEM {
  float x, y, z;         // screen position
  int16_t u, v;          // texture position in texels
  uint8_t r, g, b, a;    // colour
  float pad[3];
};
static_assert(sizeof(BATCH_ITEM) == 32);

// A sprite batch: four items per sprite. Filled and drawn by sprite.h.
struct ATLAS_BATCH {
  BATCH_ITEM* entry;  // storage, null until first use
  int32_t count;      // sprites plotted since the last draw
  int32_t size;       // sprites the storage holds
  int32_t max;        // most sprites it may hold
};

// An atlas: its IMAGE, then batch 0 (alpha blended) and batch 1 (additive).
// The IMAGE is at the record's address, so an ATLAS* and its IMAGE* are the
// same pointer.
union ATLAS {
  IMAGE image;
  struct {
    IMAGE src_image;
    ATLAS_BATCH batch[2];
  };
};

// Where a stored image lies in its atlas (row 0 at the top), and how it sat
// in its sheet cell.
struct SPRITE {
  int16_t atlasx, atlasy;  // top-left texel in the atlas buffer
  int16_t w, h;            // stored size in texels
  int16_t boxx, boxy;      // sheet sprites: where the stored image sat in its cell
  int16_t boxw, boxh;      // sheet cell size, or the glyph's size
  int16_t xoff, yoff;      // stored image's centre from the cell's centre
  ATLAS* atlas;
};

// Pixels in memory: w x h texels of red, green, blue, alpha, top row first.
// Owns its bytes (malloc'ed; rgba_free frees both).
struct RGBA_DATA {
  int32_t w, h;
  unsigned char* bytes;
};

struct SPRITESHEET {
  int32_t total;     // cells to add, 0 for all; set to the cells found when the image runs out
  int32_t uploaded;  // not used here
  int32_t spritew, spriteh;  // cell size in pixels
  RGBA_DATA* rgba;   // the sheet
};

// A run of consecutive sprite records, glyph k showing character first + k.
struct SPRITEFONT {
  uint32_t glyphbase;  // index of the first glyph's sprite
  uint32_t first;      // character code of the first glyph
  uint32_t count;      // number of glyphs
  SPRITE* glyphs;      // the first glyph's record (informational)
};

// Records 0 to spritecount - 1 of the sprite table are in use.
extern int32_t spritecount;

// Clears the 16 atlas records and installs the packer's texture deleter;
// logs "atlas: init". Returns 0. Does not touch the sprite table.
int atlas_init();
// Deletes the atlases' textures, frees their batch storage (logging "ATLAS
// <i> freeing batch <b>" for each), pixel buffers and the packer, logs
// "atlas: deleted <n> textures" and clears the table.
void atlas_exit();
// Atlas `index` & 15 of the table.
IMAGE* atlas_get(int index);
ATLAS* atlas_get_full(int index);

// Starts building `atlas`: a new packer of w x h texels (0 for either means
// 512 x 512) and a pixel buffer whose sides are the next powers of two,
// filled with opaque magenta. Logs "Created <w>x<h> texture for atlas named
// '<name>'" ("[no name]" without a name). Returns the buffer, owned by the
// record (valid until the record's next atlas_create_texture or atlas_exit),
// or null when the size is refused.
unsigned char* atlas_create_texture(IMAGE* atlas, int w, int h);
// Adds a w x h image whose rows are `sheetw` texels apart, with the border
// `mode`. Returns its new sprite record (valid for the whole run), or null
// when the atlas is full, not being built, the table is full or the image is
// refused; nothing is changed then.
SPRITE* atlas_add_rgba_image(IMAGE* atlas, const unsigned char* pixels, int w, int h, int sheetw, int mode);
// Cuts a sheet into cells of spritew x spriteh, left to right and top to
// bottom, shrink-wraps each cell to its non-zero pixels and adds it. Logs a
// report ("<n> sprites added" or "Ran out of atlas space, <n> sprites
// remaining", then the atlas's size, use and space left). Returns the number
// of requested cells not added (0 when all were), or -1 for a refused sheet.
int atlas_add_sprite_sheet(IMAGE* atlas, SPRITESHEET* sheet, int mode);
// Finds the glyphs of a sheet whose outline colour is its pixel (0, 0) and
// adds them in scan order (by top-left corner, top to bottom, then left to
// right); each glyph's boxw, boxh are its size. Returns the number added, or
// -1 when the atlas filled up (or cannot take them).
int atlas_add_glyphs(IMAGE* atlas, const RGBA_DATA* sheet, int mode);
// Loads an image file as a sprite sheet (into `sheet`, or a temporary one
// when null) and adds `count` cells (0 for all). Returns -2 when the file
// cannot be loaded, else atlas_add_sprite_sheet's result. The image is
// freed afterwards.
int atlas_load_spritesheet(IMAGE* atlas, SPRITESHEET* sheet, int spritew, int spriteh, int count, int mode,
                           const char* file);
// Loads a glyph sheet file as a font whose first glyph is `first_char`, with
// transparent borders. Returns 0, or -1 null atlas, -2 atlas without buffer
// or already uploaded, -3 null font, -4 file not loadable, -5 glyphs did not
// fit (the sprite records are given back).
int atlas_load_font(IMAGE* atlas, SPRITEFONT* font, uint8_t first_char, const char* file);
// Sends the pixel buffer to a new GL texture (rows bottom first), converted
// to `format`, with linear or nearest filtering; ends the building of every
// atlas. Returns 1, or -1 ("NULL atlas"), -2 ("No rgba data"), -3 (GL error,
// "Error uploading texture. glError: 0x<hex>" and "atlas upload failed").
// The pixel buffer stays.
int atlas_upload(IMAGE* atlas, int linear, int format);
// Sends the pixel buffer again as RGBA8 to the image's texture. Returns 1,
// or -1 when there is no image or no buffer.
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

// The next free sprite record (index spritecount), or null when the table
// is full.
SPRITE* sprite_last();
// Record `id` & 4095.
SPRITE* sprite_get(unsigned id);
// The record's index in the table, or -1 for a record outside it.
int sprite_get_id(const SPRITE* sprite);
// spritecount.
int sprite_count();

// Loads an image file into a new RGBA_DATA through the installed loader;
// null when it cannot be loaded (the loader says why).
RGBA_DATA* rgba_load(const char* file);
// Frees the bytes and the record; null is ignored.
void rgba_free(RGBA_DATA* data);

// The image loader: returns w x h x 4 bytes (RGBA, top row first) that the
// caller frees with free(), or null after logging why. wrapper_init installs
// the platform's; null restores the default, which loads nothing and logs
// "image '<file>' load failed (no image loader)".
using ATLAS_LOAD_RGBA = unsigned char* (*)(const char* file, int* w, int* h);
void atlas_set_loader(ATLAS_LOAD_RGBA loader);
