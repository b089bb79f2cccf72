// Reading back what the tools write (WAV files of 16-bit PCM, PNG
// pictures), and listing a folder to see what was left in it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct WavPcm16 {
  struct Format {  // the "fmt " chunk's body, as in the file
    uint16_t format, channels;
    uint32_t rate, byte_rate;
    uint16_t block_align, bits;
  } fmt;
  uint32_t riff_size, data_size;
  std::vector<int16_t> samples;  // interleaved
};
// False unless the file is RIFF, WAVE, a 16-byte "fmt " and "data" in full.
static_assert(sizeof(WavPcm16::Format) == 16);
bool read_wav_pcm16(const std::string& path, WavPcm16* out);

struct PngRgb {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;  // rows top to bottom
  double luma(int x, int y) const;  // Rec. 709, 0 to 255
  bool same_colour(int x, int y, unsigned char r, unsigned char g, unsigned char b) const;
};
bool read_png_rgb(const std::string& path, PngRgb* out);

// The names in a folder, sorted.
std::vector<std::string> names_in(const std::string& folder);
