#include "support/image_file.h"

// libjpeg's header needs size_t and FILE first.
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
#include <png.h>

#include <cstdlib>
#include <map>
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

std::string jpeg(const Rgba& image, int quality) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = image.w;
  c.image_height = image.h;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<unsigned char> row(static_cast<size_t>(image.w) * 3);
  while (c.next_scanline < c.image_height) {
    for (int x = 0; x < image.w; ++x)
      for (int k = 0; k < 3; ++k) row[x * 3 + k] = image.px[(static_cast<size_t>(c.next_scanline) * image.w + x) * 4 + k];
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  std::string out(reinterpret_cast<const char*>(mem), size);
  jpeg_destroy_compress(&c);
  std::free(mem);
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

std::string tga(const Rgba& image) {
  std::string s(18, '\0');
  s[2] = 2;  // uncompressed true colour
  s[12] = static_cast<char>(image.w & 0xFF);
  s[13] = static_cast<char>(image.w >> 8);
  s[14] = static_cast<char>(image.h & 0xFF);
  s[15] = static_cast<char>(image.h >> 8);
  s[16] = 32;
  s[17] = 0x28;  // 8 alpha bits, top row first
  for (int y = 0; y < image.h; ++y) {
    for (int x = 0; x < image.w; ++x) {
      const uint32_t c = image.get(x, y);
      s += static_cast<char>((c >> 8) & 0xFF);
      s += static_cast<char>((c >> 16) & 0xFF);
      s += static_cast<char>(c >> 24);
      s += static_cast<char>(c & 0xFF);
    }
  }
  return s;
}

std::string gif(const Rgba& image) {
  // Palette of 256 entries; each pixel is one 9-bit code, with a clear code
  // before the table would grow, so no compression happens.
  std::map<uint32_t, int> index;
  std::vector<uint32_t> palette;
  int transparent = -1;
  std::vector<int> pixels;
  for (int y = 0; y < image.h; ++y) {
    for (int x = 0; x < image.w; ++x) {
      uint32_t c = image.get(x, y);
      if ((c & 0xFF) == 0) {
        if (transparent < 0) {
          transparent = static_cast<int>(palette.size());
          palette.push_back(0);
          index[0xFFFFFFFF] = transparent;
        }
        pixels.push_back(transparent);
        continue;
      }
      c |= 0xFF;
      auto it = index.find(c);
      if (it == index.end()) {
        if (palette.size() >= 256) throw std::runtime_error("gif: too many colours");
        it = index.emplace(c, static_cast<int>(palette.size())).first;
        palette.push_back(c);
      }
      pixels.push_back(it->second);
    }
  }
  std::string s = "GIF89a";
  put16(s, image.w);
  put16(s, image.h);
  s += static_cast<char>(0xF7);  // global table of 256 colours
  s += '\0';
  s += '\0';
  for (int i = 0; i < 256; ++i) {
    const uint32_t c = i < static_cast<int>(palette.size()) ? palette[i] : 0;
    s += static_cast<char>(c >> 24);
    s += static_cast<char>((c >> 16) & 0xFF);
    s += static_cast<char>((c >> 8) & 0xFF);
  }
  if (transparent >= 0) {
    s += "\x21\xF9\x04\x01";
    s += '\0';
    s += '\0';
    s += static_cast<char>(transparent);
    s += '\0';
  }
  s += ',';
  put16(s, 0);
  put16(s, 0);
  put16(s, image.w);
  put16(s, image.h);
  s += '\0';
  s += '\x08';  // minimum code size
  std::string data;
  uint32_t bits = 0;
  int nbits = 0;
  auto emit = [&](int code) {
    bits |= static_cast<uint32_t>(code) << nbits;
    nbits += 9;
    while (nbits >= 8) {
      data += static_cast<char>(bits & 0xFF);
      bits >>= 8;
      nbits -= 8;
    }
  };
  int since_clear = 0;
  emit(256);
  for (int p : pixels) {
    if (since_clear == 254) {
      emit(256);
      since_clear = 0;
    }
    emit(p);
    ++since_clear;
  }
  emit(257);
  if (nbits > 0) data += static_cast<char>(bits & 0xFF);
  for (size_t at = 0; at < data.size(); at += 255) {
    const size_t n = std::min<size_t>(255, data.size() - at);
    s += static_cast<char>(n);
    s += data.substr(at, n);
  }
  s += '\0';
  s += ';';
  return s;
}

}  // namespace image_file
