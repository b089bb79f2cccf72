// A picture of a sound: the waveform's envelope over time above a
// spectrogram (frequency upwards, magnitude on a logarithmic scale), with
// a time axis in seconds, written as a PNG file.
//
// The sound arrives in pieces, in order, as it is rendered; the picture
// keeps only what it draws (a few numbers per column and one spectrum
// window), so its memory does not grow with the length of the sound.
//
// Threads: any; each object is used by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// Where the parts of the picture lie, in pixels from the top left corner.
struct PICTURE_LAYOUT {
  int width, height;
  int plot_x, plot_w;  // the columns that show time, left to right
  int wave_y, wave_h;  // the envelope: full scale at the top and bottom
  int spec_y, spec_h;  // the spectrogram: its top row is the highest band
  int axis_y;          // the row of the time axis line
};

// The layout every picture has.
PICTURE_LAYOUT picture_layout();

// The spectrogram of a picture that reaches up to `top_hz` is made of
// bands of equal width (this many Hz), one per image row, the bottom one
// centred on 0 Hz.
double picture_band_hz(const PICTURE_LAYOUT& layout, double top_hz);
// The frequency in Hz that the spectrogram's image row `y` (spec_y to
// spec_y + spec_h - 1) is centred on.
double picture_row_hz(const PICTURE_LAYOUT& layout, double top_hz, int y);

// An RGB image, 8 bits a channel, rows top to bottom.
struct PICTURE_IMAGE {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
};

class SoundPicture {
 public:
  // For a sound of `total_frames` frames at `rate` Hz whose spectrogram is
  // drawn from 0 up to `top_hz` (at most rate / 2).
  SoundPicture(unsigned rate, uint64_t total_frames, double top_hz);
  ~SoundPicture();
  SoundPicture(const SoundPicture&) = delete;
  SoundPicture& operator=(const SoundPicture&) = delete;

  // Takes the next `frames` interleaved stereo frames; the picture is of
  // their mono mix. Frames beyond `total_frames` are ignored.
  void add(const int16_t* stereo, std::size_t frames);
  // Draws the picture of what was added (a sound that ended early is drawn
  // as silence from there on). Call once, after the last add.
  PICTURE_IMAGE draw();

 private:
  struct Analysis;
  std::unique_ptr<Analysis> a_;
};

// Writes `image` as a PNG to `out`. Returns false, with the reason in
// `error`, when it cannot.
bool picture_write_png(std::FILE* out, const PICTURE_IMAGE& image, std::string* error);
