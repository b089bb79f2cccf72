// Reading back what the tools write: WAV files of 16-bit PCM and PNG
// pictures; and listing a folder, to see what was left in it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A canonical 44-byte-header WAV file of 16-bit PCM.
struct WavPcm16 {
  uint32_t riff_size = 0;
  uint16_t format = 0, channels = 0, block_align = 0, bits = 0;
  uint32_t rate = 0, byte_rate = 0, data_size = 0;
  std::vector<int16_t> samples;  // interleaved
};
// False when the file is missing, shorter than its header says, or not laid
// out as RIFF, WAVE, "fmt " of 16 bytes, then "data".
bool read_wav_pcm16(const std::string& path, WavPcm16* out);

// A PNG file decoded to 8-bit RGB, rows top to bottom.
struct PngRgb {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  // Rec. 709 luma of the pixel at (x, y), 0 to 255.
  double luma(int x, int y) const;
  bool same_colour(int x, int y, unsigned char r, unsigned char g, unsigned char b) const;
};
bool read_png_rgb(const std::string& path, PngRgb* out);

// The names in a folder, sorted ("." and ".." left out).
std::vector<std::string> names_in(const std::string& folder);
