// The picture of a sound, decoded from the PNG it writes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "hack/tonebrook/picture.h"
#include "hack/tonebrook/render.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "support/capture.h"
#include "support/render_files.h"
#include "support/wav_file.h"

namespace {

constexpr double kTopHz = 4000.0;  // half the tune's rate

// Draws `frames_given` of `frames` frames of the tune in `url` and reads the
// PNG back.
PngRgb picture_of(const char* url, unsigned rate, uint64_t frames, uint64_t frames_given) {
  StdoutCapture quiet;
  SoundPicture picture(rate, frames, kTopHz);
  render_tune(url, rate, frames_given, [&](const int16_t* stereo, size_t n) {
    picture.add(stereo, n);
    return true;
  });
  TempFile file("", ".png");
  std::FILE* out = std::fopen(file.c_str(), "wb");
  std::string error;
  EXPECT_TRUE(picture_write_png(out, picture.draw(), &error)) << error;
  std::fclose(out);
  PngRgb png;
  EXPECT_TRUE(read_png_rgb(file.path(), &png));
  return png;
}

PngRgb picture_of(const char* url, unsigned rate, double seconds) {
  const auto frames = static_cast<uint64_t>(seconds * rate);
  return picture_of(url, rate, frames, frames);
}

TEST(Picture, ASteadyToneIsTheBrightestRowOfTheSpectrogram) {
  struct Tone {
    const char* url;  // a sawtooth of 256 / k steps of t: k x 31.25 Hz
    unsigned rate;
    double hz;
  };
  const PICTURE_LAYOUT l = picture_layout();
  for (const Tone& tone : {Tone{"compiled!a8d", 44100, 250}, Tone{"compiled!a10d", 44100, 500},
                           Tone{"compiled!a20d", 22050, 1000}, Tone{"compiled!a40d", 8000, 2000},
                           Tone{"compiled!a60d", 48000, 3000}}) {
    const PngRgb png = picture_of(tone.url, tone.rate, 2.0);
    ASSERT_EQ(png.width, l.width);
    ASSERT_EQ(png.height, l.height);
    int brightest = -1;
    double most = -1;
    for (int y = l.spec_y; y < l.spec_y + l.spec_h; ++y) {
      double sum = 0;
      // The windows at either end reach past the sound; leave them out.
      for (int x = l.plot_x + l.plot_w / 10; x < l.plot_x + l.plot_w * 9 / 10; ++x) sum += png.luma(x, y);
      if (sum > most) most = sum, brightest = y;
    }
    EXPECT_NEAR(picture_row_hz(l, kTopHz, brightest), tone.hz, picture_band_hz(l, kTopHz) / 2) << tone.url;
  }
}

// How many rows of the envelope's column `x` differ from the panel.
int envelope_rows(const PngRgb& png, int x) {
  const PICTURE_LAYOUT l = picture_layout();
  int rows = 0;
  for (int y = l.wave_y; y < l.wave_y + l.wave_h; ++y) rows += png.same_colour(x, y, 24, 26, 34) ? 0 : 1;
  return rows;
}

TEST(Picture, TheEnvelopeFollowsTheLoudness) {
  const PICTURE_LAYOUT l = picture_layout();
  const int x = l.plot_x + l.plot_w * 3 / 4;
  // A square between 0 and 255 (t & 8 > 0, at 500 Hz) swings over half of
  // full scale either way;
  // one between 0 and 1 barely moves; an empty tune is silence: the middle
  // line alone.
  EXPECT_GE(envelope_rows(picture_of("compiled!a8l0t", 44100, 4.0), x), l.wave_h * 45 / 100);
  EXPECT_LE(envelope_rows(picture_of("compiled!a4k1l", 44100, 4.0), x), 2);
  EXPECT_EQ(envelope_rows(picture_of("compiled!", 44100, 4.0), x), 1);
  // A sound that ends early is drawn as silence from there on.
  const PngRgb half = picture_of("compiled!a8l0t", 44100, 44100 * 4, 44100 * 2);
  EXPECT_GE(envelope_rows(half, l.plot_x + l.plot_w / 4), l.wave_h * 45 / 100);
  EXPECT_EQ(envelope_rows(half, x), 1);
}

TEST(Picture, TheTimeAxisHasTicksAtRoundSeconds) {
  const PICTURE_LAYOUT l = picture_layout();
  struct Axis {
    double seconds;
    int ticks;  // from 0 s to the end, every 1, 2 or 5 (or minutes)
  };
  for (const Axis a : {Axis{30, 7}, Axis{2, 11}, Axis{0.5, 11}, Axis{45, 10}, Axis{3600, 7}, Axis{7, 8}}) {
    // Only the axis is looked at, so no sound need be made.
    SoundPicture picture(8000, static_cast<uint64_t>(a.seconds * 8000), kTopHz);
    TempFile file("", ".png");
    std::FILE* out = std::fopen(file.c_str(), "wb");
    ASSERT_TRUE(picture_write_png(out, picture.draw(), nullptr));
    std::fclose(out);
    PngRgb png;
    ASSERT_TRUE(read_png_rgb(file.path(), &png));
    int ticks = 0;
    for (int x = l.plot_x; x < l.plot_x + l.plot_w; ++x) ticks += png.luma(x, l.axis_y + 2) > 150 ? 1 : 0;
    EXPECT_EQ(ticks, a.ticks) << a.seconds << " s";
    EXPECT_GT(png.luma(l.plot_x + l.plot_w / 2, l.axis_y), 150);  // the axis line
  }
}

TEST(Picture, AStreamThatCannotTakeThePictureIsReported) {
  TempFile file("", ".png");
  std::FILE* read_only = std::fopen(file.c_str(), "rb");
  SoundPicture picture(44100, 100, kTopHz);
  std::string error;
  EXPECT_FALSE(picture_write_png(read_only, picture.draw(), &error));
  EXPECT_FALSE(error.empty());
  std::fclose(read_only);
  EXPECT_FALSE(picture_write_png(nullptr, PICTURE_IMAGE{}, &error));
}

}  // namespace
