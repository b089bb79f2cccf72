// Glyph text: strings drawn with a sprite font, a run of consecutive sprite
// records (one per character, usually made from a glyph sheet by
// atlas_load_font). Text is laid out along the turtle's sideways axis, so it
// follows the turtle's position, scale and angle, and is plotted into the
// sprite batches of the font's atlas (drawn by sprite_batch_draw). Each glyph
// is centred on the pen; consecutive glyphs touch, with no spacing added
// (spacing belongs in the glyph images), and glyphs of different heights are
// centred on one line.
//
// A character code c (read as an unsigned byte) shows glyph c - first; codes
// below `first` or at or past first + count show the font's last glyph.
// Glyph k's record is sprite_get(glyphbase + k), so whatever a font says,
// no glyph is read from outside the sprite table.
//
// Threads: main thread only; never from the mixing hook.
// GL state: as sprite.h (glyphs_print_char draws at once with sprite_draw;
// the others only fill batches).
#pragma once

#include "framework/core/atlas.h"

// Plots `l` characters of `text` into the font atlas's batch `additive` (0
// normal, 1 additive): alignment 0 starts the text at the pen, 1 centres it
// on the pen, 2 ends it at the pen (others as 0). Returns l; 0 for a null
// font or text, or a font without glyphs. The turtle is left as it was.
int glyphs_batch_plot_ex(const SPRITEFONT* font, const char* text, int l, int alignment, int additive);
// glyphs_batch_plot_ex of a zero-terminated text, at most 255 characters.
int glyphs_batch_plot(const SPRITEFONT* font, const char* text, int alignment, int additive);
// Draws the glyph of `c` at the pen at once (codes 128 to 255 arrive
// negative and show the last glyph). Returns 1, 0 for a null font, -1 for a
// font without glyphs.
int glyphs_print_char(const SPRITEFONT* font, char c);
// Width (sum of the glyph widths, times scalex) and height (the tallest
// glyph, times scaley) of a zero-terminated text; 0 for a null font or text.
// Codes below `first` are skipped; codes past the font measure as its last
// glyph, the one drawn for them. Neither reads past the font's glyphs.
float glyphs_w(const SPRITEFONT* font, const char* text);
float glyphs_h(const SPRITEFONT* font, const char* text);
// A font over `count` sprite records from `first_sprite`, the first showing
// character `first_char`.
SPRITEFONT glyphs_make_font(unsigned first_sprite, unsigned first_char, unsigned count);
