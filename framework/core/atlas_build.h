// Building image atlases in memory: the table of 16 atlases, their pixel
// buffers, the images added to them (single images, sprite sheets cut into
// cells, glyph sheets whose glyphs are framed by an outline colour), the
// borders around those images, and the table of sprite records that say
// where each image lies. No GL here: the upload of a built atlas to a
// texture, and the atlases' start and end in the runtime, are in atlas.h.
//
// An atlas is built in memory first: atlas_create_texture makes its pixel
// buffer (opaque magenta where no image lies) and the one packer
// (texture-atlas.h); images are then added one by one, each placed by the
// packer and recorded as a sprite; atlas_upload (atlas.h) then sends the
// buffer to GL once. Only the atlas whose texture was created last is being
// built: it owns the packer, and atlas_end_building (which the upload
// calls) ends the building.
//
// Image files are read through a replaceable loader (atlas_set_loader) into
// plain RGBA bytes; the platform installs its own at start-up
// (wrapper_load_rgba, in framework/platforms/sdl/wrapper_image.h).
//
// Threads: main thread only (the thread that builds the atlases); never
// from the mixing hook.
#pragma once

#include <cstdint>

#include "framework/core/image.h"

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
  BATCH_ITEM* entry;  // storage (malloc'ed), null until first use
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

// Atlas `index` & 15 of the table: its IMAGE, or the whole record. Both are
// valid for the whole run.
IMAGE* atlas_get(int index);
ATLAS* atlas_get_full(int index);

// Starts building `atlas`: a new packer of w x h texels (0 for either means
// 512 x 512) and a pixel buffer whose sides are the next powers of two,
// filled with opaque magenta. For a record of the table, the pixel buffer
// that an earlier call made for it is freed and its texture deleted
// (through the texture deleter) while the record still holds that buffer.
// Nothing else is ever freed: a record outside the table may have fields
// that were never set, and the buffers made for it are its owner's to free
// (std::free). Logs "Created <w>x<h> texture for atlas
// named '<name>'" ("[no name]" without a name). Returns the buffer, owned by
// the record (valid until the record's next atlas_create_texture or
// atlas_release_all). A side outside 3..8192 (after 0 has become 512) is
// refused: logs "atlas: texture size <w>x<h> refused", returns null and
// changes nothing; so does a null atlas, without the message.
unsigned char* atlas_create_texture(IMAGE* atlas, int w, int h);

// Adds a w x h image whose rows are `sheetw` texels apart (read during the
// call only), with the border `mode`. A bordered image (modes 1 to 3) takes
// a region one texel larger on every side and sits one texel in from its
// corner, so its border lies in its own region and never overwrites a
// neighbour's texels; other non-zero modes keep a one-texel gap to the right
// and below. Returns its new sprite record, cleared and then filled (valid
// for the whole run), or null with nothing changed when:
//   the atlas is full (no message);
//   the atlas is not the one being built (null, another one, or after the
//     upload): logs "atlas '<name>' is not being built";
//   the sprite table holds 4096 records: logs "sprite table full (4096
//     sprites): image not added" (no atlas space is taken);
//   the image has no pixels, a row shorter than the image or a side above
//     8192: logs "atlas: image <w>x<h> (rows of <sheetw>) refused".
SPRITE* atlas_add_rgba_image(IMAGE* atlas, const unsigned char* pixels, int w, int h, int sheetw, int mode);

// Cuts a sheet into cells of spritew x spriteh, left to right and top to
// bottom, shrink-wraps each cell to its non-zero pixels and adds it. Cells of
// the last column and row that the image does not fill are clipped to the
// image and treated as whole cells whose missing part is empty (their
// offsets are computed for the whole cell): no pixel outside the image is
// read. Logs a report ("<n> sprites added" or "Ran out of atlas space, <n>
// sprites remaining", then the atlas's size, use and space left). Returns
// the number of requested cells not added (0 when all were). A null sheet, a
// sheet without an image, or a cell size outside 1..8192 logs "sprite sheet
// refused (cells <w>x<h>)" and returns -1; so does an atlas that is not
// being built (with that message instead). The sheet is read during the
// call only; its `total` is updated as described there.
int atlas_add_sprite_sheet(IMAGE* atlas, SPRITESHEET* sheet, int mode);

// Finds the glyphs of a sheet whose outline colour is its pixel (0, 0) and
// adds them in scan order (by top-left corner, top to bottom, then left to
// right); each glyph's boxw, boxh are its size. Returns the number added (0
// for a null sheet or one without pixels), or -1 when the atlas filled up or
// cannot take them. The sheet is read during the call only.
int atlas_add_glyphs(IMAGE* atlas, const RGBA_DATA* sheet, int mode);

// Loads an image file as a sprite sheet (into `sheet`, or a temporary one
// when null) and adds `count` cells (0 for all). Returns -2 when the file
// cannot be loaded, else atlas_add_sprite_sheet's result. The image is
// freed afterwards and `sheet->rgba` is null again.
int atlas_load_spritesheet(IMAGE* atlas, SPRITESHEET* sheet, int spritew, int spriteh, int count, int mode,
                           const char* file);

// Loads a glyph sheet file as a font whose first glyph is `first_char`, with
// transparent borders, into `font` (cleared first). Returns 0, or -1 null
// atlas, -2 atlas without buffer or already uploaded, -3 null font, -4 file
// not loadable, -5 glyphs did not fit (the sprite records are given back).
// A sheet in which no glyph is found loads as a font of 0 glyphs and logs
// "font '<file>': no glyphs found".
int atlas_load_font(IMAGE* atlas, SPRITEFONT* font, uint8_t first_char, const char* file);

// Ends the building of every atlas: deletes the packer, so that no atlas
// takes additions until the next atlas_create_texture. atlas_upload calls
// it.
void atlas_end_building();

// Releases everything the table holds: for each atlas its texture (through
// the texture deleter), its batch storage (logging "ATLAS <i> freeing batch
// <b>" for each) and the pixel buffer made for it; then the packer; and
// clears the 16 records. Returns the number of textures deleted. The sprite table is left
// as it is. atlas_exit calls it.
int atlas_release_all();

// Who deletes an atlas's GL texture by its name. atlas_init installs the
// drawing library's; null restores the default, which only forgets the
// name (there is no texture without the drawing library).
using ATLAS_DELETE_TEXTURE = void (*)(uint32_t texture);
void atlas_set_texture_deleter(ATLAS_DELETE_TEXTURE deleter);

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
// null when it cannot be loaded (the loader says why). The caller owns the
// result and frees it with rgba_free.
RGBA_DATA* rgba_load(const char* file);
// Frees the bytes and the record; null is ignored.
void rgba_free(RGBA_DATA* data);

// The image loader: returns w x h x 4 bytes (RGBA, top row first) that the
// caller frees with free(), or null after logging why. wrapper_init installs
// the platform's; null restores the default, which loads nothing and logs
// "image '<file>' load failed (no image loader)".
using ATLAS_LOAD_RGBA = unsigned char* (*)(const char* file, int* w, int* h);
void atlas_set_loader(ATLAS_LOAD_RGBA loader);
