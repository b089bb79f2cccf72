#include "support/app/image_file.h"

#include <png.h>

#include <stdexcept>

namespace image_file {

Rgba::Rgba(int w_, int h_, uint32_t fill) : w(w_), h(h_), px(static_cast<size_t>(w_) * h_ * 4) {
  rect(0, 0, w, h, fill);
}

void Rgba::set(int x, int y, uint32_t c) {
  uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 4];
  p[0] = c >> 24;
  p[1] = c >> 16;
  p[2] = c >> 8;
  p[3] = c;
}

uint32_t Rgba::get(int x, int y) const { return texel(&px[(static_cast<size_t>(y) * w + x) * 4]); }

void Rgba::rect(int x, int y, int rw, int rh, uint32_t c) {
  for (int j = y; j < y + rh; ++j)
    for (int i = x; i < x + rw; ++i) set(i, j, c);
}

uint32_t texel(const unsigned char* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

namespace {

void put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& s, uint32_t v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}

void png_write(png_structp png, png_bytep data, png_size_t n) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), n);
}
void png_flush(png_structp) {}

}  // namespace

std::string png(const Rgba& image) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) throw std::runtime_error("png");
  png_set_write_fn(png, &out, png_write, png_flush);
  png_set_IHDR(png, info, image.w, image.h, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < image.h; ++y) png_write_row(png, const_cast<png_bytep>(&image.px[static_cast<size_t>(y) * image.w * 4]));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

std::string bmp(const Rgba& image) {
  const int row = (image.w * 3 + 3) & ~3;
  std::string s = "BM";
  put32(s, 54 + row * image.h);
  put32(s, 0);
  put32(s, 54);
  put32(s, 40);
  put32(s, image.w);
  put32(s, image.h);  // bottom-up
  put16(s, 1);
  put16(s, 24);
  put32(s, 0);
  put32(s, row * image.h);
  put32(s, 2835);
  put32(s, 2835);
  put32(s, 0);
  put32(s, 0);
  for (int y = image.h - 1; y >= 0; --y) {
    std::string r;
    for (int x = 0; x < image.w; ++x) {
      const uint32_t c = image.get(x, y);
      r += static_cast<char>((c >> 8) & 0xFF);   // blue
      r += static_cast<char>((c >> 16) & 0xFF);  // green
      r += static_cast<char>(c >> 24);           // red
    }
    r.resize(static_cast<size_t>(row), '\0');
    s += r;
  }
  return s;
}

}  // namespace image_file
