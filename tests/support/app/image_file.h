// Image files made for the tests: PNG (through libpng) and BMP (byte by
// byte). Files of the other formats are in fuzz/corpus/image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace image_file {

// w x h texels of red, green, blue, alpha, top row first.
struct Rgba {
  int w = 0, h = 0;
  std::vector<uint8_t> px;
  Rgba(int w_, int h_, uint32_t fill = 0);  // fill: 0xRRGGBBAA
  void set(int x, int y, uint32_t rrggbbaa);
  uint32_t get(int x, int y) const;
  void rect(int x, int y, int rw, int rh, uint32_t rrggbbaa);
};

std::string png(const Rgba& image);  // 8-bit RGBA
std::string bmp(const Rgba& image);  // 24-bit, alpha dropped

// 0xRRGGBBAA of the bytes at `p`.
uint32_t texel(const unsigned char* p);

}  // namespace image_file
