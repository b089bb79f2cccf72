// The live window's font: the printable ASCII characters (' ' to '~') of
// Debian's "Fixed" console font, 8 x 16 pixels each, compiled into the
// program (scripts/make_scope_font.py made the table from the package
// console-setup-linux), so that no font file is looked for at run time.
//
// Threads: any (pure).
#pragma once

#include "framework/core/atlas.h"

constexpr int SCOPE_GLYPH_W = 8;
constexpr int SCOPE_GLYPH_H = 16;
constexpr unsigned SCOPE_FONT_FIRST = ' ';
constexpr unsigned SCOPE_FONT_COUNT = '~' - ' ' + 1;

// Whether pixel (x, y) of the glyph of `c` is ink (x from the left, y from
// the top); false for a character outside the font or a pixel outside the
// glyph.
bool scope_font_ink(char c, int x, int y);

// A glyph sheet of the font, as atlas_add_glyphs reads one: cells of 8 x 16
// pixels, 16 a row in character order, framed by opaque magenta (the colour
// of the sheet's top-left pixel); white ink, the rest transparent white.
// The caller owns it (rgba_free).
RGBA_DATA* scope_font_sheet();
