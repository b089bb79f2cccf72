#include "hack/tonebrook/picture.h"

#include <fftw3.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

namespace {

// ---------------------------------------------------------------------------
// Layout

constexpr int kLeft = 44;     // room for the frequency labels
constexpr int kRight = 16;
constexpr int kTop = 10;
constexpr int kWaveH = 120;
constexpr int kGap = 8;
constexpr int kSpecH = 256;
constexpr int kPlotW = 800;
constexpr int kTick = 5;
constexpr int kLabelGap = 3;
constexpr int kBottom = 8;

// The labels' glyphs: 3 x 5 cells, drawn at twice that size.
constexpr int kGlyphW = 3, kGlyphH = 5, kScale = 2;
constexpr int kAdvance = (kGlyphW + 1) * kScale;

// ---------------------------------------------------------------------------
// Colours

struct RGB {
  unsigned char r, g, b;
};

constexpr RGB kBackground{14, 15, 20};
constexpr RGB kPanel{24, 26, 34};
constexpr RGB kMidLine{58, 62, 78};
constexpr RGB kPeak{64, 140, 150};  // the envelope: lowest to highest sample
constexpr RGB kLoud{150, 225, 220};  // and its root mean square
constexpr RGB kInk{200, 202, 210};  // axes and labels

// The spectrogram's scale, dark to bright; each stop is brighter than the
// one before, so brightness follows magnitude.
constexpr std::array<RGB, 6> kHeat{{{0, 0, 0}, {22, 12, 70}, {98, 26, 120}, {190, 55, 84}, {244, 140, 30}, {252, 250, 190}}};

// Magnitudes from this many dB below a full-scale sine up to one.
constexpr double kFloorDb = -90.0;

RGB heat(double level) {
  const double x = std::clamp(level, 0.0, 1.0) * static_cast<double>(kHeat.size() - 1);
  const std::size_t i = std::min(static_cast<std::size_t>(x), kHeat.size() - 2);
  const double f = x - static_cast<double>(i);
  auto mix = [f](unsigned char a, unsigned char b) {
    return static_cast<unsigned char>(std::lround(a + (b - a) * f));
  };
  return {mix(kHeat[i].r, kHeat[i + 1].r), mix(kHeat[i].g, kHeat[i + 1].g), mix(kHeat[i].b, kHeat[i + 1].b)};
}

// ---------------------------------------------------------------------------
// Drawing

class Canvas {
 public:
  explicit Canvas(PICTURE_IMAGE& image) : image_(image) {}

  void set(int x, int y, RGB c) {
    if (x < 0 || y < 0 || x >= image_.width || y >= image_.height) return;
    const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(image_.width) +
                            static_cast<std::size_t>(x)) * 3;
    image_.rgb[at] = c.r;
    image_.rgb[at + 1] = c.g;
    image_.rgb[at + 2] = c.b;
  }

  void fill(int x, int y, int w, int h, RGB c) {
    for (int j = y; j < y + h; ++j)
      for (int i = x; i < x + w; ++i) set(i, j, c);
  }

  // A label whose top left corner is at (x, y).
  void text(int x, int y, const char* s, RGB c) {
    for (; *s; ++s, x += kAdvance) {
      const std::array<unsigned char, kGlyphH>* g = glyph(*s);
      if (!g) continue;
      for (int row = 0; row < kGlyphH; ++row)
        for (int col = 0; col < kGlyphW; ++col)
          if ((*g)[static_cast<std::size_t>(row)] & (4 >> col))
            fill(x + col * kScale, y + row * kScale, kScale, kScale, c);
    }
  }

  static int text_width(const char* s) {
    const int n = static_cast<int>(std::strlen(s));
    return n == 0 ? 0 : n * kAdvance - kScale;
  }

 private:
  static const std::array<unsigned char, kGlyphH>* glyph(char ch) {
    // Rows top to bottom, three bits each, the leftmost cell highest.
    static constexpr std::array<std::array<unsigned char, kGlyphH>, 10> kDigits{{
        {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
        {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 2, 2}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
    }};
    static constexpr std::array<unsigned char, kGlyphH> kDot{0, 0, 0, 0, 2};
    static constexpr std::array<unsigned char, kGlyphH> kS{0, 3, 4, 1, 6};
    static constexpr std::array<unsigned char, kGlyphH> kK{4, 5, 6, 5, 5};
    if (ch >= '0' && ch <= '9') return &kDigits[static_cast<std::size_t>(ch - '0')];
    if (ch == '.') return &kDot;
    if (ch == 's') return &kS;
    if (ch == 'k') return &kK;
    return nullptr;
  }

  PICTURE_IMAGE& image_;
};

// A step between labelled ticks from a 1-2-5 series (and minutes), so that
// at most `most` ticks fit in `span`.
double tick_step(double span, int most, const std::vector<double>& steps) {
  for (double step : steps)
    if (span / step <= most) return step;
  return steps.back() * std::ceil(span / (steps.back() * most));
}

void format_number(char* out, std::size_t size, double value, double step) {
  const int decimals = step >= 1.0 ? 0 : step >= 0.1 ? 1 : 2;
  std::snprintf(out, size, "%.*f", decimals, value);
}

}  // namespace

// ---------------------------------------------------------------------------
// Layout queries

PICTURE_LAYOUT picture_layout() {
  PICTURE_LAYOUT l{};
  l.plot_x = kLeft;
  l.plot_w = kPlotW;
  l.width = kLeft + kPlotW + kRight;
  l.wave_y = kTop;
  l.wave_h = kWaveH;
  l.spec_y = kTop + kWaveH + kGap;
  l.spec_h = kSpecH;
  l.axis_y = l.spec_y + l.spec_h;
  l.height = l.axis_y + 1 + kTick + kLabelGap + kGlyphH * kScale + kBottom;
  return l;
}

double picture_band_hz(const PICTURE_LAYOUT& layout, double top_hz) { return top_hz / layout.spec_h; }

double picture_row_hz(const PICTURE_LAYOUT& layout, double top_hz, int y) {
  return (layout.spec_y + layout.spec_h - 1 - y) * picture_band_hz(layout, top_hz);
}

// ---------------------------------------------------------------------------
// The analysis

struct SoundPicture::Analysis {
  unsigned rate;
  uint64_t total;
  double top_hz;
  PICTURE_LAYOUT layout = picture_layout();
  int columns = layout.plot_w;
  int rows = layout.spec_h;

  // The envelope, per column.
  std::vector<float> low, high;
  std::vector<double> energy;
  std::vector<uint64_t> count;
  int column = 0;              // the column of the next frame
  uint64_t column_end = 0;     // the first frame of the column after it

  // The spectrogram: one window of `n` frames centred on each column.
  int n = 256;
  std::vector<float> ring;     // the last n frames
  uint64_t received = 0;
  std::vector<float> window;   // Hann
  float* in = nullptr;
  fftwf_complex* out = nullptr;
  fftwf_plan plan = nullptr;
  double reference = 1.0;      // a full-scale sine's peak magnitude
  std::vector<std::array<int, 2>> row_bins;  // per row from the top: first and last bin
  std::vector<float> levels;   // per column, per row: 0 (floor) to 1 (full scale)
  int analysed = 0;            // columns whose spectrum is done
  uint64_t next_window_end = 0;

  Analysis(unsigned r, uint64_t frames, double top) : rate(r ? r : 1), total(frames), top_hz(top) {
    top_hz = std::clamp(top_hz, 1.0, rate / 2.0);
    low.assign(static_cast<std::size_t>(columns), 0.0f);
    high.assign(static_cast<std::size_t>(columns), 0.0f);
    energy.assign(static_cast<std::size_t>(columns), 0.0);
    count.assign(static_cast<std::size_t>(columns), 0);
    column_end = first_frame(1);

    // Bins no wider than a row's band.
    const double band = picture_band_hz(layout, top_hz);
    while (n < 65536 && rate / static_cast<double>(n) > band) n *= 2;
    ring.assign(static_cast<std::size_t>(n), 0.0f);
    window.resize(static_cast<std::size_t>(n));
    double sum = 0;
    for (int k = 0; k < n; ++k) {
      window[static_cast<std::size_t>(k)] =
          static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * k / static_cast<double>(n)));
      sum += window[static_cast<std::size_t>(k)];
    }
    reference = 32768.0 * sum / 2.0;
    in = static_cast<float*>(fftwf_malloc(sizeof(float) * static_cast<std::size_t>(n)));
    out = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * static_cast<std::size_t>(n / 2 + 1)));
    plan = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);

    // Row y from the top is centred on (rows - 1 - y) bands.
    const double hz_per_bin = rate / static_cast<double>(n);
    for (int y = 0; y < rows; ++y) {
      const double centre = (rows - 1 - y) * band;
      int first = std::max(0, static_cast<int>(std::ceil((centre - band / 2) / hz_per_bin)));
      int last = static_cast<int>(std::ceil((centre + band / 2) / hz_per_bin)) - 1;
      last = std::min(last, n / 2);
      if (last < first) last = first = std::min(n / 2, static_cast<int>(std::lround(centre / hz_per_bin)));
      row_bins.push_back({first, last});
    }
    levels.assign(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows), 0.0f);
    next_window_end = window_end(0);
  }

  ~Analysis() {
    if (plan) fftwf_destroy_plan(plan);
    fftwf_free(in);
    fftwf_free(out);
  }

  // The first frame of column c: frame i lies in column i * columns / total.
  uint64_t first_frame(int c) const {
    const uint64_t cs = static_cast<uint64_t>(columns);
    return (static_cast<uint64_t>(c) * total + cs - 1) / cs;
  }

  int64_t window_start(int c) const {
    const uint64_t centre = (static_cast<uint64_t>(2 * c + 1) * total) / (2 * static_cast<uint64_t>(columns));
    return static_cast<int64_t>(centre) - n / 2;
  }

  uint64_t window_end(int c) const {
    const int64_t end = window_start(c) + n;
    return end < 0 ? 0 : static_cast<uint64_t>(end);
  }

  void take(float v) {
    while (received >= column_end && column < columns - 1) {
      ++column;
      column_end = first_frame(column + 1);
    }
    const auto c = static_cast<std::size_t>(column);
    if (count[c] == 0) {
      low[c] = high[c] = v;
    } else {
      low[c] = std::min(low[c], v);
      high[c] = std::max(high[c], v);
    }
    energy[c] += static_cast<double>(v) * v;
    ++count[c];
    ring[static_cast<std::size_t>(received % static_cast<uint64_t>(n))] = v;
    ++received;
    while (analysed < columns && next_window_end <= received) analyse_next();
  }

  // The spectrum of the next column's window; frames not (yet) received
  // count as silence.
  void analyse_next() {
    const int64_t start = window_start(analysed);
    for (int k = 0; k < n; ++k) {
      const int64_t j = start + k;
      const bool have = j >= 0 && static_cast<uint64_t>(j) < received;
      const float v = have ? ring[static_cast<std::size_t>(static_cast<uint64_t>(j) % static_cast<uint64_t>(n))] : 0.0f;
      in[k] = v * window[static_cast<std::size_t>(k)];
    }
    fftwf_execute(plan);
    const double ref2 = reference * reference;
    float* level = &levels[static_cast<std::size_t>(analysed) * static_cast<std::size_t>(rows)];
    for (int y = 0; y < rows; ++y) {
      double most = 0;
      for (int k = row_bins[static_cast<std::size_t>(y)][0]; k <= row_bins[static_cast<std::size_t>(y)][1]; ++k) {
        const double re = out[k][0], im = out[k][1];
        most = std::max(most, re * re + im * im);
      }
      const double db = 10.0 * std::log10(std::max(most / ref2, 1e-30));
      level[y] = static_cast<float>((db - kFloorDb) / -kFloorDb);
    }
    ++analysed;
    if (analysed < columns) next_window_end = window_end(analysed);
  }
};

SoundPicture::SoundPicture(unsigned rate, uint64_t total_frames, double top_hz)
    : a_(std::make_unique<Analysis>(rate, total_frames, top_hz)) {}

SoundPicture::~SoundPicture() = default;

void SoundPicture::add(const int16_t* stereo, std::size_t frames) {
  Analysis& a = *a_;
  for (std::size_t i = 0; i < frames && a.received < a.total; ++i)
    a.take(0.5f * (static_cast<float>(stereo[2 * i]) + static_cast<float>(stereo[2 * i + 1])));
}

PICTURE_IMAGE SoundPicture::draw() {
  Analysis& a = *a_;
  while (a.analysed < a.columns) a.analyse_next();
  const PICTURE_LAYOUT& l = a.layout;

  PICTURE_IMAGE image;
  image.width = l.width;
  image.height = l.height;
  image.rgb.assign(static_cast<std::size_t>(l.width) * static_cast<std::size_t>(l.height) * 3, 0);
  Canvas canvas(image);
  canvas.fill(0, 0, l.width, l.height, kBackground);

  // The envelope: from the lowest to the highest sample of each column, and
  // the root mean square either side of the middle.
  canvas.fill(l.plot_x, l.wave_y, l.plot_w, l.wave_h, kPanel);
  const int mid = l.wave_y + l.wave_h / 2;
  const double half = (l.wave_h - 1) / 2.0;
  auto y_of = [&](double v) {
    return std::clamp(static_cast<int>(std::lround(mid - v / 32768.0 * half)), l.wave_y, l.wave_y + l.wave_h - 1);
  };
  canvas.fill(l.plot_x, mid, l.plot_w, 1, kMidLine);
  for (int c = 0; c < a.columns; ++c) {
    const auto i = static_cast<std::size_t>(c);
    if (a.count[i] == 0) continue;
    const int top = y_of(a.high[i]), bottom = y_of(a.low[i]);
    canvas.fill(l.plot_x + c, top, 1, bottom - top + 1, kPeak);
    const double rms = std::sqrt(a.energy[i] / static_cast<double>(a.count[i]));
    const int rt = y_of(rms), rb = y_of(-rms);
    canvas.fill(l.plot_x + c, rt, 1, rb - rt + 1, kLoud);
  }

  // The spectrogram.
  for (int c = 0; c < a.columns; ++c)
    for (int y = 0; y < a.rows; ++y)
      canvas.set(l.plot_x + c, l.spec_y + y,
                 heat(a.levels[static_cast<std::size_t>(c) * static_cast<std::size_t>(a.rows) + static_cast<std::size_t>(y)]));

  // Frequency labels at the left, each level with its row.
  char label[32];
  const double step_hz = tick_step(a.top_hz, 8, {100, 200, 250, 500, 1000, 2000, 5000, 10000, 20000});
  const double band = picture_band_hz(l, a.top_hz);
  for (double f = 0; f <= a.top_hz - band / 2; f += step_hz) {
    const int y = l.spec_y + l.spec_h - 1 - static_cast<int>(std::lround(f / band));
    if (f >= 1000) {
      format_number(label, sizeof label, f / 1000.0, std::fmod(f, 1000.0) == 0 ? 1.0 : 0.5);
      std::strncat(label, "k", sizeof label - std::strlen(label) - 1);
    } else {
      format_number(label, sizeof label, f, 1.0);
    }
    canvas.fill(l.plot_x - 4, y, 3, 1, kInk);
    const int ty = std::clamp(y - kGlyphH * kScale / 2, 0, l.height - kGlyphH * kScale);
    canvas.text(l.plot_x - 7 - Canvas::text_width(label), ty, label, kInk);
  }

  // The time axis, in seconds.
  canvas.fill(l.plot_x, l.axis_y, l.plot_w, 1, kInk);
  const double seconds = static_cast<double>(a.total) / a.rate;
  if (seconds > 0) {
    const double step = tick_step(seconds, l.plot_w / 80,
                                  {0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600});
    for (int k = 0; k * step <= seconds + 1e-9; ++k) {
      const double s = k * step;
      const int x = std::min(l.plot_x + static_cast<int>(std::lround(s / seconds * l.plot_w)), l.plot_x + l.plot_w - 1);
      canvas.fill(x, l.axis_y + 1, 1, kTick, kInk);
      format_number(label, sizeof label, s, step);
      std::strncat(label, "s", sizeof label - std::strlen(label) - 1);
      const int w = Canvas::text_width(label);
      const int tx = std::clamp(x - w / 2, 0, l.width - w);
      canvas.text(tx, l.axis_y + 1 + kTick + kLabelGap, label, kInk);
    }
  }
  return image;
}

bool picture_write_png(std::FILE* out, const PICTURE_IMAGE& image, std::string* error) {
  if (!out || image.width <= 0 || image.height <= 0 ||
      image.rgb.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 3) {
    if (error) *error = "no picture to write";
    return false;
  }
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = PNG_FORMAT_RGB;
  const int ok = png_image_write_to_stdio(&png, out, 0, image.rgb.data(), 0, nullptr);
  if (!ok && error) *error = png.message[0] ? png.message : "cannot write the PNG data";
  png_image_free(&png);
  return ok != 0;
}
