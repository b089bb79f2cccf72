// The picture of a sound, decoded from the PNG it writes.
#include <gtest/gtest.h>

#include <cstdio>

#include "hack/tonebrook/picture.h"
#include "hack/tonebrook/render.h"
#include "support/capture.h"
#include "support/app/render_files.h"
#include "support/wav_file.h"

namespace {

constexpr double kTopHz = 4000.0;  // half the tune's rate
const PICTURE_LAYOUT kLayout = picture_layout();

// The picture of `given` seconds of `url` in a sound of `seconds`.
PngRgb picture_of(const char* url, unsigned rate, double seconds, double given = -1) {
  StdoutCapture quiet;
  SoundPicture picture(rate, static_cast<uint64_t>(seconds * rate), kTopHz);
  render_tune(url, 8000.0f, rate, static_cast<uint64_t>((given < 0 ? seconds : given) * rate),
              [&](const int16_t* stereo, size_t n) {
                picture.add(stereo, n);
                return true;
              });
  TempFile file("", ".png");
  std::FILE* out = std::fopen(file.c_str(), "wb");
  EXPECT_TRUE(picture_write_png(out, picture.draw(), nullptr));
  std::fclose(out);
  PngRgb png;
  EXPECT_TRUE(read_png_rgb(file.path(), &png));
  return png;
}

TEST(Picture, ASteadyToneIsTheBrightestRowOfTheSpectrogram) {
  // Sawtooths of 256 / k steps of t: k x 31.25 Hz.
  for (const auto& [url, rate, hz] : {std::tuple{"compiled!a8d", 44100u, 250.0}, {"compiled!a10d", 44100u, 500.0},
                                     {"compiled!a20d", 22050u, 1000.0}, {"compiled!a40d", 8000u, 2000.0},
                                     {"compiled!a60d", 48000u, 3000.0}}) {
    const PngRgb png = picture_of(url, rate, 2.0);
    ASSERT_EQ(png.width, kLayout.width);
    ASSERT_EQ(png.height, kLayout.height);
    int brightest = -1;
    double most = -1;
    for (int y = kLayout.spec_y; y < kLayout.spec_y + kLayout.spec_h; ++y) {
      double sum = 0;  // the windows at either end reach past the sound: left out
      for (int x = kLayout.plot_x + kLayout.plot_w / 10; x < kLayout.plot_x + kLayout.plot_w * 9 / 10; ++x)
        sum += png.luma(x, y);
      if (sum > most) most = sum, brightest = y;
    }
    EXPECT_NEAR(picture_row_hz(kLayout, kTopHz, brightest), hz, picture_band_hz(kLayout, kTopHz) / 2) << url;
  }
}

TEST(Picture, TheEnvelopeFollowsTheLoudnessAndTheAxisCountsSeconds) {
  auto envelope_rows = [](const PngRgb& png, int x) {  // rows that differ from the panel
    int rows = 0;
    for (int y = kLayout.wave_y; y < kLayout.wave_y + kLayout.wave_h; ++y) rows += !png.same_colour(x, y, 24, 26, 34);
    return rows;
  };
  const int early = kLayout.plot_x + kLayout.plot_w / 4, late = kLayout.plot_x + kLayout.plot_w * 3 / 4;
  // A square between 0 and 255 swings over half of full scale either way; one
  // between 0 and 1, or silence, leaves the middle line; so does the part of a
  // sound that never came.
  const PngRgb half = picture_of("compiled!a8l0t", 44100, 4.0, 2.0);
  EXPECT_GE(envelope_rows(half, early), kLayout.wave_h * 45 / 100);
  EXPECT_EQ(envelope_rows(half, late), 1);
  EXPECT_EQ(envelope_rows(picture_of("compiled!a4k1l", 44100, 4.0), late), 1);

  // Ticks from 0 s to the end, every 1, 2 or 5 (or minutes), ten at most.
  for (const auto& [seconds, ticks] : {std::pair{30.0, 7}, {2.0, 11}, {0.5, 11}, {45.0, 10}, {3600.0, 7}, {7.0, 8}}) {
    const PngRgb png = picture_of("compiled!", 8000, seconds, 0);
    int seen = 0;
    for (int x = kLayout.plot_x; x < kLayout.plot_x + kLayout.plot_w; ++x) seen += png.luma(x, kLayout.axis_y + 2) > 150;
    EXPECT_EQ(seen, ticks) << seconds << " s";
  }
}

}  // namespace
