// What the live window keeps of the sound and computes from it, with no
// drawing: the pure half of the scope (scope_draw.h draws it).
//
// It is fed, in order, with the tune's own 8-bit values together with the
// `t` each was computed for, and with the stereo mix that goes to the
// device. From these it keeps the last stretch and, on update():
// - two oscilloscopes, of the tune's values (one value a column) and of the
//   mix (both channels, as much of them a column as one step of `t`
//   lasts), each started at a rising crossing of its middle level (the
//   left channel's for the mix), so that a steady tune stands still;
// - the bytebeat picture: a raster of one column per run of 256 values of
//   `t` (the column is t / 256, the row t % 256, from the top), each cell's
//   brightness its 8-bit value, scrolling as `t` grows;
// - the spectrum of the last stretch of the mix (FFTW, Hann window), on a
//   logarithmic frequency axis, in levels from 0 (the floor, 84 dB below a
//   full-scale sine) to 1;
// - the text: the file's name, `t` and the time it stands for at the
//   tune's rate, the rate, the number of instructions and the player's
//   last message (an error or not).
//
// Everything is allocated at construction; adding and updating allocate
// nothing but the text lines' strings.
//
// Threads: main thread only (one object for one thread; FFTW plans are
// made in the constructor, and FFTW's planner is not thread-safe). The
// audio thread reaches it only through the rings of scope_feed.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "framework/core/sample_ring.h"

// One value of the tune and the `t` it was computed for.
struct SCOPE_TUNE_VALUE {
  uint32_t t;
  uint8_t value;
};

// How many columns each part has (the view's widths in pixels, or less).
struct SCOPE_SIZES {
  int trace_columns = 296;     // each oscilloscope
  int raster_columns = 928;    // the bytebeat picture
  int spectrum_columns = 148;  // the spectrum
};

// One column of an oscilloscope: the lowest and highest level in it, from
// -1 (bottom) to 1 (top), joined to the column before so that the trace is
// unbroken. A column with nothing in it yet has low > high.
struct SCOPE_SPAN {
  float low, high;
};

class ScopeModel {
 public:
  // Values of `t` in one raster column.
  static constexpr int kRasterRows = 256;
  // The spectrum's floor, in dB below a full-scale sine.
  static constexpr double kFloorDb = -84.0;

  // For a device running at `device_rate` frames a second (at least 1).
  // Sizes below 1 count as 1.
  explicit ScopeModel(unsigned device_rate, const SCOPE_SIZES& sizes = {});
  ~ScopeModel();
  ScopeModel(const ScopeModel&) = delete;
  ScopeModel& operator=(const ScopeModel&) = delete;

  // --- Input ---------------------------------------------------------------

  // The next values of the tune, in the order they were computed.
  void add_tune(std::span<const SCOPE_TUNE_VALUE> values);
  // The next frames of the mix.
  void add_mix(std::span<const STEREO_FRAME16> frames);

  // The facts of the text. The rate is the tune's (steps of `t` a second;
  // not a positive number keeps the one before); the message is the
  // player's last, shown as an error when `error`.
  void set_file(std::string_view name);
  void set_tune_rate(double rate);
  void set_instructions(int count);
  void set_message(std::string_view text, bool error);

  // Computes the traces, the spectrum and the text from what was added.
  // Call once a frame, after the input.
  void update();

  // --- Results (valid until the next call that changes the model) ----------

  const SCOPE_SIZES& sizes() const { return sizes_; }
  // The tune's trace: trace_columns spans, all empty before any value.
  const std::vector<SCOPE_SPAN>& tune_trace() const { return tune_trace_; }
  // The mix's trace of channel 0 (left) or 1 (right).
  const std::vector<SCOPE_SPAN>& mix_trace(int channel) const { return mix_trace_[channel != 0 ? 1 : 0]; }
  // Mix frames shown in one trace column (at least 1): one step of `t`.
  double mix_frames_per_column() const;

  // spectrum_columns levels, 0 to 1, lowest frequency first.
  const std::vector<float>& spectrum() const { return spectrum_; }
  // The frequency in Hz at the left edge of spectrum column `column`
  // (column spectrum_columns is the right edge of the last).
  double spectrum_edge_hz(int column) const;
  // The column whose band holds `hz` (clamped to the columns).
  int spectrum_column_of(double hz) const;

  // The raster: raster_columns columns of kRasterRows values each, in a
  // ring; column n of `t` (t / 256) lies at ring index n % raster_columns.
  // The newest column is shown at the right, the ones before it to its
  // left. raster_newest() is the ring index of the newest, -1 before any.
  const uint8_t* raster_column(int ring_index) const;
  int raster_newest() const;
  // Whether ring column `ring_index` changed since the last mark_clean().
  bool raster_changed(int ring_index) const;
  void raster_mark_clean();

  // The last `t` added (0 before any).
  uint32_t t() const { return last_t_; }
  // Text lines: the file's name; "t <t>  <m>:<ss.cc>"; "<rate> Hz  <n>
  // instructions"; and the message.
  const std::string& file_line() const { return file_line_; }
  const std::string& time_line() const { return time_line_; }
  const std::string& facts_line() const { return facts_line_; }
  const std::string& message() const { return message_; }
  bool message_is_error() const { return message_error_; }

 private:
  struct Spectrum;

  void update_tune_trace();
  void update_mix_trace();
  void clear_raster_column(uint32_t column);
  // Where, in a stretch of `count` levels of which the last `window` are
  // the newest that fit, a window of `window` levels starts: at a rising
  // crossing (with hysteresis) that best repeats the window shown before,
  // else the latest crossing, else the newest window.
  std::size_t trigger(std::size_t count, std::size_t window, const std::vector<float>& shown) const;

  SCOPE_SIZES sizes_;
  unsigned device_rate_;
  double tune_rate_ = 8000.0;
  int instructions_ = 0;

  // The last stretch of the tune's values and of the mix, in rings, and
  // how many of each have come in all.
  std::vector<uint8_t> tune_history_;
  uint64_t tune_count_ = 0;
  std::vector<STEREO_FRAME16> mix_history_;
  uint64_t mix_count_ = 0;
  uint32_t last_t_ = 0;

  // Scratch for the trigger: the stretch searched, as levels, and the
  // windows shown last.
  mutable std::vector<float> stretch_;
  std::vector<float> tune_shown_, mix_shown_;
  std::vector<SCOPE_SPAN> tune_trace_;
  std::vector<SCOPE_SPAN> mix_trace_[2];

  std::unique_ptr<Spectrum> spectrum_state_;
  std::vector<float> spectrum_;

  std::vector<uint8_t> raster_;  // column-major, kRasterRows per column
  std::vector<uint8_t> raster_dirty_;
  uint32_t raster_newest_ = 0;  // column number (t / 256) of the newest column
  bool raster_any_ = false;

  std::string file_line_, time_line_, facts_line_, message_;
  bool message_error_ = false;
};
