#include "hack/tonebrook/scope.h"

#include <fftw3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "framework/core/kel_assert.h"

namespace {

// The stretches kept: values of the tune, frames of the mix.
constexpr std::size_t kTuneHistory = 8192;
constexpr std::size_t kMixHistory = 32768;
// How far back before the newest window a trigger is looked for.
constexpr std::size_t kTuneSearch = 2048;
constexpr std::size_t kMixSearch = 8192;
// Crossings weighed against the window shown last.
constexpr std::size_t kCandidates = 32;
// Points of a window compared with the one shown last (a longer window is
// compared at every so many points).
constexpr std::size_t kComparePoints = 512;
// How much a spectrum level may fall in one update (rising is at once).
constexpr float kSpectrumFall = 0.03f;
// The spectrum's lowest frequency, if the analysis reaches down to it.
constexpr double kLowestHz = 20.0;

float tune_level(uint8_t v) { return (static_cast<float>(v) - 127.5f) / 127.5f; }
float mix_level(int16_t v) { return static_cast<float>(v) / 32768.0f; }

constexpr SCOPE_SPAN kEmptySpan{1.0f, -1.0f};

SCOPE_SIZES at_least_one(SCOPE_SIZES s) {
  s.trace_columns = std::max(1, s.trace_columns);
  s.raster_columns = std::max(1, s.raster_columns);
  s.spectrum_columns = std::max(1, s.spectrum_columns);
  return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// The spectrum's analysis: one FFT of the last n frames of the mix.

struct ScopeModel::Spectrum {
  int n = 512;
  double bin_hz = 1.0;
  double low_hz = kLowestHz, high_hz = kLowestHz * 2;
  std::vector<float> window;
  double reference = 1.0;  // a full-scale sine's peak magnitude
  float* in = nullptr;
  fftwf_complex* out = nullptr;
  fftwf_plan plan = nullptr;
  std::vector<std::array<int, 2>> bins;  // per column: first and last bin

  Spectrum(unsigned rate, int columns) {
    // About a tenth of a second of sound.
    while (n < 8192 && n < static_cast<int>(rate / 10)) n *= 2;
    bin_hz = rate / static_cast<double>(n);
    high_hz = rate / 2.0;
    low_hz = std::min(std::max(kLowestHz, 2 * bin_hz), high_hz / 2);
    window.resize(static_cast<std::size_t>(n));
    double sum = 0;
    for (int k = 0; k < n; ++k) {
      window[static_cast<std::size_t>(k)] =
          static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * k / static_cast<double>(n)));
      sum += window[static_cast<std::size_t>(k)];
    }
    reference = sum / 2.0;  // levels are in full scale (1.0)
    in = static_cast<float*>(fftwf_malloc(sizeof(float) * static_cast<std::size_t>(n)));
    out = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * static_cast<std::size_t>(n / 2 + 1)));
    KEL_ASSERT(in != nullptr && out != nullptr);
    plan = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);
    KEL_ASSERT(plan != nullptr);
    // Each column takes the bins whose centres fall in its band; a band
    // narrower than a bin takes the nearest bin.
    for (int c = 0; c < columns; ++c) {
      const int first = static_cast<int>(std::lround(edge_hz(c, columns) / bin_hz));
      const int last = static_cast<int>(std::lround(edge_hz(c + 1, columns) / bin_hz)) - 1;
      const int top = n / 2;
      bins.push_back({std::min(first, top), std::min(std::max(first, last), top)});
    }
  }
  ~Spectrum() {
    fftwf_destroy_plan(plan);
    fftwf_free(in);
    fftwf_free(out);
  }
  Spectrum(const Spectrum&) = delete;
  Spectrum& operator=(const Spectrum&) = delete;

  double edge_hz(int column, int columns) const {
    return low_hz * std::pow(high_hz / low_hz, static_cast<double>(column) / columns);
  }
};

// ---------------------------------------------------------------------------

ScopeModel::ScopeModel(unsigned device_rate, const SCOPE_SIZES& sizes)
    : sizes_(at_least_one(sizes)),
      device_rate_(std::max(1u, device_rate)),
      tune_history_(kTuneHistory),
      mix_history_(kMixHistory),
      stretch_(kMixHistory),
      tune_trace_(static_cast<std::size_t>(sizes_.trace_columns), kEmptySpan),
      spectrum_state_(std::make_unique<Spectrum>(device_rate_, sizes_.spectrum_columns)),
      spectrum_(static_cast<std::size_t>(sizes_.spectrum_columns), 0.0f),
      raster_(static_cast<std::size_t>(sizes_.raster_columns) * kRasterRows, 0),
      raster_dirty_(static_cast<std::size_t>(sizes_.raster_columns), 1) {
  mix_trace_[0] = mix_trace_[1] = tune_trace_;
  tune_shown_.reserve(kTuneHistory);
  mix_shown_.reserve(kMixHistory);
  update();
}

ScopeModel::~ScopeModel() = default;

// ---------------------------------------------------------------------------
// Input

void ScopeModel::add_tune(std::span<const SCOPE_TUNE_VALUE> values) {
  const auto columns = static_cast<uint32_t>(sizes_.raster_columns);
  for (const SCOPE_TUNE_VALUE& v : values) {
    tune_history_[tune_count_ % kTuneHistory] = v.value;
    ++tune_count_;
    last_t_ = v.t;

    const uint32_t column = v.t / kRasterRows;
    if (!raster_any_ || column < raster_newest_) {
      // The first value, or `t` went back (the tune started again): a new
      // picture.
      std::fill(raster_.begin(), raster_.end(), uint8_t{0});
      std::fill(raster_dirty_.begin(), raster_dirty_.end(), uint8_t{1});
      raster_any_ = true;
      raster_newest_ = column;
    } else if (column > raster_newest_) {
      // New columns come in at the right, blank until their values arrive
      // (a rate above the device's skips values of `t`).
      const uint32_t first = column - raster_newest_ >= columns ? column - columns + 1 : raster_newest_ + 1;
      for (uint32_t c = first; c <= column; ++c) clear_raster_column(c);
      raster_newest_ = column;
    }
    const std::size_t ring = column % columns;
    raster_[ring * kRasterRows + v.t % kRasterRows] = v.value;
    raster_dirty_[ring] = 1;
  }
}

void ScopeModel::add_mix(std::span<const STEREO_FRAME16> frames) {
  for (const STEREO_FRAME16& f : frames) {
    mix_history_[mix_count_ % kMixHistory] = f;
    ++mix_count_;
  }
}

void ScopeModel::set_file(std::string_view name) { file_line_.assign(name); }

void ScopeModel::set_tune_rate(double rate) {
  if (rate > 0 && std::isfinite(rate)) tune_rate_ = rate;
}

void ScopeModel::set_instructions(int count) { instructions_ = count; }

void ScopeModel::set_message(std::string_view text, bool error) {
  message_.assign(text);
  message_error_ = error;
}

// ---------------------------------------------------------------------------
// Update

void ScopeModel::update() {
  update_tune_trace();
  update_mix_trace();

  // The spectrum of the last n frames (silence before the first).
  Spectrum& s = *spectrum_state_;
  const auto n = static_cast<uint64_t>(s.n);
  for (uint64_t k = 0; k < n; ++k) {
    float v = 0.0f;
    if (mix_count_ + k >= n) {
      const STEREO_FRAME16& f = mix_history_[(mix_count_ + k - n) % kMixHistory];
      v = 0.5f * (mix_level(f.left) + mix_level(f.right));
    }
    s.in[k] = v * s.window[k];
  }
  fftwf_execute(s.plan);
  const double ref2 = s.reference * s.reference;
  for (std::size_t c = 0; c < spectrum_.size(); ++c) {
    double most = 0;
    for (int k = s.bins[c][0]; k <= s.bins[c][1]; ++k)
      most = std::max(most, static_cast<double>(s.out[k][0]) * s.out[k][0] + static_cast<double>(s.out[k][1]) * s.out[k][1]);
    const double db = 10.0 * std::log10(std::max(most / ref2, 1e-30));
    const auto level = static_cast<float>(std::clamp((db - kFloorDb) / -kFloorDb, 0.0, 1.0));
    spectrum_[c] = std::max(level, spectrum_[c] - kSpectrumFall);
  }

  // The text.
  char line[160];
  const auto centis = static_cast<uint64_t>(static_cast<double>(last_t_) * 100.0 / tune_rate_);
  const uint64_t minutes = centis / 6000;
  if (minutes < 60) {
    std::snprintf(line, sizeof line, "t %u  %u:%02u.%02u", last_t_, static_cast<unsigned>(minutes),
                  static_cast<unsigned>(centis / 100 % 60), static_cast<unsigned>(centis % 100));
  } else {
    std::snprintf(line, sizeof line, "t %u  %u:%02u:%02u.%02u", last_t_, static_cast<unsigned>(minutes / 60),
                  static_cast<unsigned>(minutes % 60), static_cast<unsigned>(centis / 100 % 60),
                  static_cast<unsigned>(centis % 100));
  }
  time_line_ = line;
  std::snprintf(line, sizeof line, "%.10g Hz  %d instruction%s", tune_rate_, instructions_,
                instructions_ == 1 ? "" : "s");
  facts_line_ = line;
}

std::size_t ScopeModel::trigger(std::size_t count, std::size_t window, const std::vector<float>& shown) const {
  const float* x = stretch_.data();
  const std::size_t newest = count - window;
  const auto [lo, hi] = std::minmax_element(x, x + count);
  if (*hi - *lo < 1e-6f) return newest;
  const float mid = 0.5f * (*lo + *hi), hysteresis = (*hi - *lo) / 8;

  // The latest rising crossings: the first level at or above the middle
  // after one below it by the hysteresis.
  std::array<std::size_t, kCandidates> found{};
  std::size_t n = 0;
  bool armed = false;
  for (std::size_t i = 0; i <= newest; ++i) {
    if (x[i] < mid - hysteresis) {
      armed = true;
    } else if (armed && x[i] >= mid) {
      found[n++ % kCandidates] = i;
      armed = false;
    }
  }
  if (n == 0) return newest;
  const std::size_t latest = found[(n - 1) % kCandidates];
  if (shown.size() != window) return latest;

  // Of those, the one whose window repeats the one shown last, the latest
  // of equals: a steady tune then stands still whatever its shape.
  const std::size_t step = std::max<std::size_t>(1, window / kComparePoints);
  auto distance = [&](std::size_t at) {
    float d = 0;
    for (std::size_t k = 0; k < window; k += step) d += std::fabs(x[at + k] - shown[k]);
    return d;
  };
  std::size_t best = latest;
  float best_distance = distance(latest);
  for (std::size_t j = 1; j < std::min(n, kCandidates); ++j) {
    const std::size_t at = found[(n - 1 - j) % kCandidates];
    const float d = distance(at);
    if (d < best_distance) {
      best = at;
      best_distance = d;
    }
  }
  return best;
}

void ScopeModel::update_tune_trace() {
  const auto window = static_cast<std::size_t>(sizes_.trace_columns);
  const std::size_t have = static_cast<std::size_t>(std::min<uint64_t>(tune_count_, kTuneHistory));
  const std::size_t count = std::min(have, window + kTuneSearch);
  for (std::size_t k = 0; k < count; ++k)
    stretch_[k] = tune_level(tune_history_[(tune_count_ - count + k) % kTuneHistory]);
  // Until a window is full, the values stand from the left.
  const std::size_t start = count > window ? trigger(count, window, tune_shown_) : 0;
  tune_shown_.assign(stretch_.begin() + static_cast<std::ptrdiff_t>(start),
                     stretch_.begin() + static_cast<std::ptrdiff_t>(std::min(count, start + window)));
  for (std::size_t c = 0; c < window; ++c) {
    if (start + c >= count) {
      tune_trace_[c] = kEmptySpan;
      continue;
    }
    const float v = stretch_[start + c], before = c > 0 ? stretch_[start + c - 1] : v;
    tune_trace_[c] = {std::min(v, before), std::max(v, before)};
  }
  if (tune_shown_.size() != window) tune_shown_.clear();
}

double ScopeModel::mix_frames_per_column() const {
  const double most = static_cast<double>(kMixHistory / 2) / sizes_.trace_columns;
  return std::clamp(device_rate_ / tune_rate_, 1.0, std::max(1.0, most));
}

void ScopeModel::update_mix_trace() {
  const double per_column = mix_frames_per_column();
  const auto columns = static_cast<std::size_t>(sizes_.trace_columns);
  const auto window = std::min(kMixHistory / 2, static_cast<std::size_t>(std::ceil(per_column * static_cast<double>(columns))));
  const std::size_t have = static_cast<std::size_t>(std::min<uint64_t>(mix_count_, kMixHistory));
  const std::size_t count = std::min(have, window + kMixSearch);
  const uint64_t base = mix_count_ - count;
  auto frame = [&](std::size_t k) -> const STEREO_FRAME16& { return mix_history_[(base + k) % kMixHistory]; };
  // Triggered on the left channel, which is drawn on top (a mono sum
  // would vanish for channels of opposite signs).
  for (std::size_t k = 0; k < count; ++k) stretch_[k] = mix_level(frame(k).left);
  const std::size_t start = count > window ? trigger(count, window, mix_shown_) : 0;
  mix_shown_.assign(stretch_.begin() + static_cast<std::ptrdiff_t>(start),
                    stretch_.begin() + static_cast<std::ptrdiff_t>(std::min(count, start + window)));
  if (mix_shown_.size() != window) mix_shown_.clear();

  for (int ch = 0; ch < 2; ++ch) {
    auto level = [&](std::size_t k) { return mix_level(ch == 0 ? frame(k).left : frame(k).right); };
    for (std::size_t c = 0; c < columns; ++c) {
      const std::size_t from = start + static_cast<std::size_t>(std::floor(per_column * static_cast<double>(c)));
      const std::size_t to = std::min(count, start + static_cast<std::size_t>(std::floor(per_column * static_cast<double>(c + 1))));
      if (from >= count) {
        mix_trace_[ch][c] = kEmptySpan;
        continue;
      }
      // From the last frame of the column before, so that the trace joins.
      float lo = level(from > start ? from - 1 : from), hi = lo;
      for (std::size_t k = from; k < std::max(to, from + 1); ++k) {
        lo = std::min(lo, level(k));
        hi = std::max(hi, level(k));
      }
      mix_trace_[ch][c] = {lo, hi};
    }
  }
}

// ---------------------------------------------------------------------------
// Queries

double ScopeModel::spectrum_edge_hz(int column) const {
  return spectrum_state_->edge_hz(column, sizes_.spectrum_columns);
}

int ScopeModel::spectrum_column_of(double hz) const {
  const Spectrum& s = *spectrum_state_;
  if (!(hz > s.low_hz)) return 0;
  const double at = std::log(hz / s.low_hz) / std::log(s.high_hz / s.low_hz) * sizes_.spectrum_columns;
  return std::clamp(static_cast<int>(at), 0, sizes_.spectrum_columns - 1);
}

const uint8_t* ScopeModel::raster_column(int ring_index) const {
  const int i = std::clamp(ring_index, 0, sizes_.raster_columns - 1);
  return &raster_[static_cast<std::size_t>(i) * kRasterRows];
}

int ScopeModel::raster_newest() const {
  return raster_any_ ? static_cast<int>(raster_newest_ % static_cast<uint32_t>(sizes_.raster_columns)) : -1;
}

bool ScopeModel::raster_changed(int ring_index) const {
  return ring_index >= 0 && ring_index < sizes_.raster_columns &&
         raster_dirty_[static_cast<std::size_t>(ring_index)] != 0;
}

void ScopeModel::raster_mark_clean() { std::fill(raster_dirty_.begin(), raster_dirty_.end(), uint8_t{0}); }

void ScopeModel::clear_raster_column(uint32_t column) {
  const std::size_t ring = column % static_cast<uint32_t>(sizes_.raster_columns);
  std::memset(&raster_[ring * kRasterRows], 0, kRasterRows);
  raster_dirty_[ring] = 1;
}
