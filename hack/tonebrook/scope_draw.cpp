#include "hack/tonebrook/scope_draw.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "framework/core/draw.h"
#include "framework/core/glyphs.h"
#include "framework/core/log.h"
#include "framework/core/poly.h"
#include "framework/core/sprite.h"
#include "framework/core/turtle.h"
#include "hack/tonebrook/scope_font.h"

namespace {

constexpr int kMargin = 16;
constexpr int kPanelW = 296, kPanelGap = 20;
constexpr int kPanelTop = 32, kPanelH = 184;
constexpr int kRasterTop = kPanelTop + kPanelH + 16;
constexpr int kCaptionRows = 20;  // a panel's caption, above its trace or bars
constexpr int kTracePad = 4;      // rows kept free below a trace
constexpr int kLabelRows = 18;    // the spectrum's frequency labels, under its bars
constexpr int kSpectrumBarW = 2;  // pixels a spectrum column

constexpr SCOPE_COLOUR kFrame{0.22f, 0.24f, 0.30f, 1.0f};
constexpr SCOPE_COLOUR kGrid{0.15f, 0.16f, 0.21f, 1.0f};
constexpr SCOPE_COLOUR kCaption{0.5f, 0.53f, 0.6f, 1.0f};
constexpr SCOPE_COLOUR kTitle{1.0f, 1.0f, 1.0f, 1.0f};
// The mix's channels: the right one first, the left over it, so that a mix
// the same on both sides shows one trace.
constexpr SCOPE_COLOUR kMixLeft{1.0f, 0.72f, 0.3f, 1.0f};
constexpr SCOPE_COLOUR kMixRight{0.45f, 0.65f, 1.0f, 1.0f};
constexpr SCOPE_COLOUR kSpectrumLow{0.2f, 0.3f, 0.85f, 1.0f};
constexpr SCOPE_COLOUR kSpectrumHigh{1.0f, 0.85f, 0.35f, 1.0f};

void pen(const SCOPE_COLOUR& c) { turtle_set_rgba(c[0], c[1], c[2], c[3]); }

// A filled rectangle from (x0, y0) to (x1, y1): the pixels x0..x1-1,
// y0..y1-1.
void rect(double x0, double y0, double x1, double y1) {
  turtle_set_pos_unscaled(x0, y0);
  poly_point();
  turtle_set_pos_unscaled(x1, y0);
  poly_point();
  turtle_set_pos_unscaled(x1, y1);
  poly_point();
  turtle_set_pos_unscaled(x0, y1);
  poly_point();
  poly_plot();
}

// A line one pixel wide, drawn by the turtle from (x0, y0) to (x1, y1)
// along its middle: a row of pixels y lies between y and y + 1, so its
// middle is y + 0.5.
void line(double x0, double y0, double x1, double y1) {
  turtle_set_pos_unscaled(x0, y0);
  turtle_point_at(x1, y1);
  poly_bar(0.5f, static_cast<float>(std::hypot(x1 - x0, y1 - y0)), 0.5f);
}

// A frame one pixel wide just inside `r`.
void frame(const SCOPE_RECT& r) {
  const double x0 = r.x, y0 = r.y, x1 = r.x + r.w, y1 = r.y + r.h;
  line(x0, y0 + 0.5, x1, y0 + 0.5);
  line(x0, y1 - 0.5, x1, y1 - 0.5);
  line(x0 + 0.5, y0 + 1, x0 + 0.5, y1 - 1);
  line(x1 - 0.5, y0 + 1, x1 - 0.5, y1 - 1);
}

// A panel is the window's background in a frame: filling it would cost the
// software renderer more than a tenth of the frame.
void panel(const SCOPE_RECT& r) {
  pen(kFrame);
  frame(r);
}

// A trace: each column's span as a rectangle, neighbours that cover the
// same rows joined into one (a flat stretch costs one polygon).
void trace(const SCOPE_RECT& r, const std::vector<SCOPE_SPAN>& spans, const SCOPE_COLOUR& colour) {
  pen(colour);
  const int n = static_cast<int>(std::min(spans.size(), static_cast<std::size_t>(r.w)));
  auto rows = [&](int c) -> std::array<int, 2> {
    const SCOPE_SPAN& s = spans[static_cast<std::size_t>(c)];
    if (s.low > s.high) return {0, -1};
    return {scope_trace_row(r, s.high), scope_trace_row(r, s.low)};
  };
  for (int c = 0; c < n;) {
    const std::array<int, 2> span = rows(c);
    int end = c + 1;
    while (end < n && rows(end) == span) ++end;
    if (span[0] <= span[1]) rect(r.x + c, span[0], r.x + end, span[1] + 1);
    c = end;
  }
}

// The zero line of an oscilloscope.
void middle(const SCOPE_RECT& r) {
  pen(kGrid);
  const double y = scope_trace_row(r, 0.0f) + 0.5;
  line(r.x + 1, y, r.x + r.w - 1, y);
}

SCOPE_COLOUR mix_colour(const SCOPE_COLOUR& a, const SCOPE_COLOUR& b, float f) {
  return {a[0] + (b[0] - a[0]) * f, a[1] + (b[1] - a[1]) * f, a[2] + (b[2] - a[2]) * f, 1.0f};
}

void spectrum_bars(const SCOPE_RECT& r, const ScopeModel& model) {
  const std::vector<float>& levels = model.spectrum();
  const int bottom = r.y + r.h - kLabelRows, top = r.y + kCaptionRows;
  const std::size_t n = std::min(levels.size(), static_cast<std::size_t>(r.w / kSpectrumBarW));
  for (std::size_t c = 0; c < n; ++c) {
    const float level = levels[c];
    const double height = std::round(level * static_cast<float>(bottom - top));
    if (height < 1) continue;
    const double x = r.x + static_cast<double>(c) * kSpectrumBarW;
    // The bar's foot in the low colour, its head in its level's.
    pen(kSpectrumLow);
    turtle_set_pos_unscaled(x, bottom);
    poly_point();
    turtle_set_pos_unscaled(x + kSpectrumBarW, bottom);
    poly_point();
    pen(mix_colour(kSpectrumLow, kSpectrumHigh, level));
    turtle_set_pos_unscaled(x + kSpectrumBarW, bottom - height);
    poly_point();
    turtle_set_pos_unscaled(x, bottom - height);
    poly_point();
    poly_plot();
  }
  // Ticks at the decades.
  pen(kFrame);
  for (double hz = 100; hz < model.spectrum_edge_hz(model.sizes().spectrum_columns); hz *= 10) {
    if (hz < model.spectrum_edge_hz(0)) continue;
    const double x = r.x + model.spectrum_column_of(hz) * kSpectrumBarW + 0.5;
    line(x, bottom + 1, x, bottom + 4);
  }
}

// Text in the font, printable characters only (others show as '?').
std::string printable(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < SCOPE_FONT_FIRST || static_cast<unsigned char>(c) >= SCOPE_FONT_FIRST + SCOPE_FONT_COUNT)
      c = '?';
  return out;
}

}  // namespace

SCOPE_LAYOUT scope_layout() {
  SCOPE_LAYOUT l{};
  l.header_y = 16;
  l.tune = {kMargin, kPanelTop, kPanelW, kPanelH};
  l.mix = {kMargin + kPanelW + kPanelGap, kPanelTop, kPanelW, kPanelH};
  l.spectrum = {kMargin + 2 * (kPanelW + kPanelGap), kPanelTop, kPanelW, kPanelH};
  l.raster = {kMargin, kRasterTop, 2 * kPanelW + kPanelGap, ScopeModel::kRasterRows};
  l.info = {l.spectrum.x, kRasterTop, kPanelW, ScopeModel::kRasterRows};
  l.text_x = l.info.x + 8;
  l.text_chars = (l.info.w - 16) / SCOPE_GLYPH_W;
  l.line_h = SCOPE_GLYPH_H + 2;
  l.time_y = l.info.y + kCaptionRows + SCOPE_GLYPH_H / 2;
  l.message_y = l.time_y + 3 * l.line_h;
  l.message_lines = (l.info.y + l.info.h - 4 - (l.message_y - SCOPE_GLYPH_H / 2)) / l.line_h;
  return l;
}

SCOPE_SIZES scope_sizes() {
  const SCOPE_LAYOUT l = scope_layout();
  return {l.tune.w, l.raster.w, l.spectrum.w / kSpectrumBarW};
}

int scope_trace_row(const SCOPE_RECT& panel, float level) {
  const double top = panel.y + kCaptionRows, rows = panel.h - kCaptionRows - kTracePad;
  const double y = top + (1.0 - std::clamp(level, -1.0f, 1.0f)) * (rows - 1) / 2.0;
  return static_cast<int>(std::lround(y));
}

std::array<uint8_t, 3> scope_raster_rgb(uint8_t v) {
  // A phosphor's green, brightest at 255.
  return {static_cast<uint8_t>(v * 3 / 5), v, static_cast<uint8_t>(v * 4 / 5)};
}

bool ScopeView::open() {
  open_ = false;
  const SCOPE_LAYOUT l = scope_layout();

  IMAGE* font_atlas = atlas_get(SCOPE_FONT_ATLAS);
  font_atlas->name = "scope font";
  if (atlas_create_texture(font_atlas, 256, 256) == nullptr) {
    kel_log_line("scope: cannot make the font's texture");
    return false;
  }
  RGBA_DATA* sheet = scope_font_sheet();
  const int glyphbase = sprite_count();
  const int found = atlas_add_glyphs(font_atlas, sheet, ATLAS_MODE_TRANSPARENT_BORDER);
  rgba_free(sheet);
  if (found != static_cast<int>(SCOPE_FONT_COUNT) || atlas_upload(font_atlas, 0, PIXEL_RGBA8) != 1) {
    kel_log_line("scope: cannot load the font (%d glyphs)", found);
    return false;
  }
  font_ = glyphs_make_font(static_cast<unsigned>(glyphbase), SCOPE_FONT_FIRST, SCOPE_FONT_COUNT);

  IMAGE* raster = atlas_get(SCOPE_RASTER_ATLAS);
  raster->name = "scope picture";
  unsigned char* texels = atlas_create_texture(raster, l.raster.w, l.raster.h);
  if (texels == nullptr) {
    kel_log_line("scope: cannot make the picture's texture");
    return false;
  }
  const auto bytes = static_cast<std::size_t>(raster->texture_w) * static_cast<std::size_t>(raster->texture_h) * 4;
  for (std::size_t i = 0; i < bytes; i += 4) {
    texels[i] = texels[i + 1] = texels[i + 2] = 0;
    texels[i + 3] = 255;
  }
  if (atlas_upload(raster, 0, PIXEL_RGBA8) != 1) {
    kel_log_line("scope: cannot upload the picture's texture");
    return false;
  }
  open_ = true;
  return true;
}

void ScopeView::draw(ScopeModel& model) {
  if (!open_) return;
  const SCOPE_LAYOUT l = scope_layout();
  const TURTLE saved = turtle;
  turtle_set_angle(0);
  turtle_set_scale(1);
  turtle.z = 0;
  draw_clear(SCOPE_BACKGROUND[0], SCOPE_BACKGROUND[1], SCOPE_BACKGROUND[2]);

  // Panels, traces and bars: one batch of polygons.
  poly_draw_start();
  for (const SCOPE_RECT& r : {l.tune, l.mix, l.spectrum, l.info}) panel(r);
  pen(kFrame);
  frame({l.raster.x - 1, l.raster.y - 1, l.raster.w + 2, l.raster.h + 2});
  middle(l.tune);
  middle(l.mix);
  trace(l.tune, model.tune_trace(), SCOPE_TUNE_TRACE);
  trace(l.mix, model.mix_trace(1), kMixRight);
  trace(l.mix, model.mix_trace(0), kMixLeft);
  spectrum_bars(l.spectrum, model);
  turtle_set_angle(0);
  poly_draw_end();

  // The bytebeat picture: the changed columns into the texture (each run
  // of them sent on its own), then the ring drawn as two sprites, the
  // oldest column at the left.
  IMAGE* raster = atlas_get(SCOPE_RASTER_ATLAS);
  const int columns = std::min(model.sizes().raster_columns, l.raster.w);
  for (int c = 0; c < columns;) {
    if (!model.raster_changed(c)) {
      ++c;
      continue;
    }
    const int first = c;
    for (; c < columns && model.raster_changed(c); ++c) {
      const uint8_t* cells = model.raster_column(c);
      for (int row = 0; row < ScopeModel::kRasterRows; ++row) {
        const std::array<uint8_t, 3> rgb = scope_raster_rgb(cells[row]);
        const std::size_t texel = static_cast<std::size_t>(row) * static_cast<std::size_t>(raster->texture_w) + static_cast<std::size_t>(c);
        std::memcpy(raster->rgba + texel * 4, rgb.data(), 3);
      }
    }
    atlas_update_rect(raster, first, 0, c - first, ScopeModel::kRasterRows);
  }
  model.raster_mark_clean();
  const int newest = model.raster_newest();
  const int split = newest < 0 ? 0 : newest + 1;  // the oldest column's ring index
  const struct {
    int from, count;
  } runs[] = {{split, columns - split}, {0, split}};
  double x = l.raster.x;
  turtle_set_rgba(1, 1, 1, 1);
  for (const auto& run : runs) {
    if (run.count <= 0) continue;
    SPRITE part{};
    part.atlasx = static_cast<int16_t>(run.from);
    part.w = static_cast<int16_t>(run.count);
    part.h = static_cast<int16_t>(ScopeModel::kRasterRows);
    part.atlas = atlas_get_full(SCOPE_RASTER_ATLAS);
    turtle_set_pos_unscaled(x + run.count / 2.0, l.raster.y + ScopeModel::kRasterRows / 2.0);
    sprite_batch_plot(&part, 0, 0);
    x += run.count;
  }
  // The picture is opaque: drawn without blending, which the software
  // renderer would otherwise do for each of its texels.
  draw_set_blending(0);
  sprite_batch_draw(raster);
  draw_set_blending(1);

  // The text.
  auto text = [&](double tx, double ty, std::string_view s, const SCOPE_COLOUR& colour, int alignment) {
    pen(colour);
    turtle_set_pos_unscaled(tx, ty);
    glyphs_batch_plot(&font_, printable(s).c_str(), alignment, 0);
  };
  // A name too long for the line shows its end.
  const auto per_line = static_cast<std::size_t>((SCOPE_WINDOW_W - 2 * kMargin) / SCOPE_GLYPH_W);
  std::string_view name = model.file_line();
  std::string cut;
  if (name.size() > per_line) {
    cut = "..." + std::string(name.substr(name.size() - (per_line - 3)));
    name = cut;
  }
  text(kMargin, l.header_y, name, kTitle, 0);
  const SCOPE_RECT* panels[] = {&l.tune, &l.mix, &l.spectrum, &l.info};
  const char* captions[] = {"tune", "mix", "spectrum", "player"};
  for (int i = 0; i < 4; ++i) text(panels[i]->x + 6, panels[i]->y + kCaptionRows / 2 + 1, captions[i], kCaption, 0);
  const int label_y = l.spectrum.y + l.spectrum.h - kLabelRows / 2 + 2;
  for (double hz = 100; hz < model.spectrum_edge_hz(model.sizes().spectrum_columns); hz *= 10) {
    if (hz < model.spectrum_edge_hz(0)) continue;
    const int lx = l.spectrum.x + model.spectrum_column_of(hz) * kSpectrumBarW;
    text(lx, label_y, hz < 1000 ? "100" : hz < 10000 ? "1k" : "10k", kCaption, 1);
  }
  text(l.text_x, l.time_y, model.time_line(), SCOPE_TEXT, 0);
  text(l.text_x, l.time_y + l.line_h, model.facts_line(), SCOPE_TEXT, 0);
  // The message, broken at its line ends and at the panel's width.
  const auto chars = static_cast<std::size_t>(l.text_chars);
  const SCOPE_COLOUR& colour = model.message_is_error() ? SCOPE_ERROR : SCOPE_PLAYING;
  std::string_view rest = model.message();
  for (int line_no = 0; line_no < l.message_lines && !rest.empty(); ++line_no) {
    const std::size_t take = std::min({rest.find('\n'), chars, rest.size()});
    text(l.text_x, l.message_y + line_no * l.line_h, rest.substr(0, take), colour, 0);
    rest.remove_prefix(take);
    if (!rest.empty() && rest.front() == '\n') rest.remove_prefix(1);
  }
  sprite_batch_draw(atlas_get(SCOPE_FONT_ATLAS));
  turtle = saved;
}
