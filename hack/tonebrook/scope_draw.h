// The live window's drawing: the scope's model (scope.h) drawn every frame
// with the runtime's own modules: polygons placed with the turtle for the
// panels, traces, lines and spectrum bars (poly.h, turtle.h), the bytebeat
// picture as the texture of an atlas updated each frame and drawn as
// sprites (atlas.h, sprite.h), and glyph text from the window's font
// (scope_font.h, glyphs.h).
//
// Layout, in a window of 960 x 504 pixels (y down): the file's name along
// the top; three panels side by side (the tune's
// oscilloscope, the mix's oscilloscope, the spectrum); below them the
// bytebeat picture under the first two, and beside it a panel of `t`, its
// time, the tune's rate and number of instructions, and the player's last
// message. (The picture is the costliest thing
// to draw with the software renderer: 612 columns keep a frame's work
// there under a third of one core at 60 frames a second.)
//
// Threads: main thread only (the GL context's); never from the mixing hook.
//
// GL state: as the modules it uses: poly_draw_end leaves texturing off,
// the sprite batches turn it on again; the picture is drawn with blending
// off, which is then turned on again; everything else is draw_reset's.
// Atlases SCOPE_FONT_ATLAS and SCOPE_RASTER_ATLAS of the table are the
// view's once it is open, and 95 records of the sprite table each time it
// opens.
#pragma once

#include <array>
#include <cstdint>

#include "framework/core/atlas.h"
#include "hack/tonebrook/scope.h"

constexpr int SCOPE_WINDOW_W = 960;
constexpr int SCOPE_WINDOW_H = 504;
constexpr int SCOPE_FONT_ATLAS = 14;
constexpr int SCOPE_RASTER_ATLAS = 15;

struct SCOPE_RECT {
  int x, y, w, h;
};

// Where everything lies, in window pixels from the top-left corner.
struct SCOPE_LAYOUT {
  int header_y;        // centre row of the top line of text
  SCOPE_RECT tune;     // the tune's oscilloscope
  SCOPE_RECT mix;      // the mix's oscilloscope
  SCOPE_RECT spectrum;
  SCOPE_RECT raster;   // the bytebeat picture, one pixel a cell
  SCOPE_RECT info;     // `t` and the message
  int text_x;          // left edge of the text in the info panel
  int text_chars;      // characters a line of it holds
  int time_y;          // centre row of the line of `t`, the facts' on the next
  int message_y;       // centre row of the message's first line
  int message_lines;   // lines the message may take
  int line_h;          // rows from one line of text to the next
};

// The layout of the window.
SCOPE_LAYOUT scope_layout();
// The model's sizes that fill the layout: one trace column a pixel, one
// raster column a pixel, one spectrum column every two pixels.
SCOPE_SIZES scope_sizes();

// The pixel row that an oscilloscope level (-1 bottom to 1 top) is drawn
// at in `panel`.
int scope_trace_row(const SCOPE_RECT& panel, float level);

// Colours, red, green, blue, alpha from 0 to 1.
using SCOPE_COLOUR = std::array<float, 4>;
constexpr SCOPE_COLOUR SCOPE_BACKGROUND{0.06f, 0.065f, 0.085f, 1.0f};
constexpr SCOPE_COLOUR SCOPE_TUNE_TRACE{0.45f, 1.0f, 0.8f, 1.0f};
constexpr SCOPE_COLOUR SCOPE_TEXT{0.85f, 0.87f, 0.92f, 1.0f};
constexpr SCOPE_COLOUR SCOPE_PLAYING{0.55f, 0.95f, 0.6f, 1.0f};
constexpr SCOPE_COLOUR SCOPE_ERROR{1.0f, 0.36f, 0.3f, 1.0f};

// The colour of a raster cell of value `v`, red, green, blue: its
// brightness grows with v, from black at 0.
std::array<uint8_t, 3> scope_raster_rgb(uint8_t v);

class ScopeView {
 public:
  ScopeView() = default;
  ScopeView(const ScopeView&) = delete;
  ScopeView& operator=(const ScopeView&) = delete;

  // Builds the font's atlas and the picture's texture. Needs the window's
  // GL context: call after the video mode is set (kel_graphics). Returns
  // false, after logging why, when they cannot be built; draw then draws
  // nothing. A second call builds them again (after a new video mode).
  bool open();
  // Draws the whole window from `model` (whose sizes should be
  // scope_sizes(); parts that do not fit are cut) and marks its raster
  // clean. Nothing before a successful open.
  void draw(ScopeModel& model);

 private:
  bool open_ = false;
  SPRITEFONT font_{};
};
