#include "framework/platforms/sdl/wrapper_image.h"

#include <SDL.h>
#include <SDL_image.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "framework/core/log.h"
#include "framework/core/util.h"

namespace {

constexpr long kMaxFileBytes = 512L << 20;
constexpr long kMaxSide = 8192;

enum class Format { None, Png, Bmp, Tga, Jpeg, Gif };

struct Size {
  long w, h;
};

using Bytes = std::vector<unsigned char>;

uint32_t le16(const Bytes& b, size_t at) { return static_cast<uint32_t>(b[at] | (b[at + 1] << 8)); }
uint32_t be16(const Bytes& b, size_t at) { return static_cast<uint32_t>((b[at] << 8) | b[at + 1]); }
uint32_t le32(const Bytes& b, size_t at) { return le16(b, at) | (le16(b, at + 2) << 16); }
uint32_t be32(const Bytes& b, size_t at) { return (be16(b, at) << 16) | be16(b, at + 2); }

bool starts_with(const Bytes& b, const char* magic, size_t n) {
  return b.size() >= n && std::memcmp(b.data(), magic, n) == 0;
}

bool one_of(unsigned v, std::initializer_list<unsigned> values) {
  for (unsigned x : values)
    if (v == x) return true;
  return false;
}

// A TGA header that makes sense: TGA has no signature.
bool looks_like_tga(const Bytes& b) {
  if (b.size() < 18) return false;
  const unsigned colour_map = b[1], type = b[2], entry_bits = b[7], depth = b[16];
  if (colour_map == 1 && !one_of(type, {1, 9})) return false;
  if (colour_map == 0 && !one_of(type, {2, 3, 10, 11})) return false;
  if (colour_map > 1) return false;
  return one_of(entry_bits, {0, 15, 16, 24, 32}) && one_of(depth, {8, 15, 16, 24, 32});
}

Format format_of(const Bytes& b) {
  if (starts_with(b, "\x89PNG\r\n\x1a\n", 8)) return Format::Png;
  if (starts_with(b, "BM", 2)) return Format::Bmp;
  if (starts_with(b, "\xFF\xD8\xFF", 3)) return Format::Jpeg;
  if (starts_with(b, "GIF87a", 6) || starts_with(b, "GIF89a", 6)) return Format::Gif;
  if (looks_like_tga(b)) return Format::Tga;
  return Format::None;
}

// The first image of a GIF, found as SDL_image's decoder finds it: after
// the colour table, extension blocks are skipped, and so is any byte that
// starts no block. `damaged` tells of what that decoder never returns from:
// an extension that runs past the end of the file, or image data whose code
// size is out of range.
struct GifScan {
  std::optional<Size> size;
  bool damaged = false;
};
GifScan scan_gif(const Bytes& b) {
  if (b.size() < 13) return {};
  const Size screen{static_cast<long>(le16(b, 6)), static_cast<long>(le16(b, 8))};
  size_t at = 13;
  if (b[10] & 0x80) at += 3u << ((b[10] & 7) + 1);
  while (at < b.size() && b[at] != 0x3B) {
    if (b[at] == 0x21) {
      // Extension: label, then sub-blocks up to an empty one; the decoder
      // takes the first block of a graphic control extension (0xF9) even
      // when it is empty.
      const bool control = at + 1 < b.size() && b[at + 1] == 0xF9;
      at += 2;
      for (bool first = true;; first = false) {
        if (at >= b.size()) return {std::nullopt, true};
        const size_t n = b[at];
        at += 1 + n;
        if (n == 0 && !(first && control)) break;
      }
    } else if (b[at] == 0x2C) {
      if (at + 10 > b.size()) return {};
      const Size image{static_cast<long>(le16(b, at + 5)), static_cast<long>(le16(b, at + 7))};
      // The image data opens with its code size, which that decoder does
      // not check either: GIF allows 2 to 8 bits.
      size_t data = at + 10;
      if (b[at + 9] & 0x80) data += 3u << ((b[at + 9] & 7) + 1);
      if (data >= b.size() || b[data] < 2 || b[data] > 8) return {std::nullopt, true};
      // An image of no pixels would get no surface, which the decoder does
      // not check: report the image's own size then.
      if (image.w < 1 || image.h < 1 || image.w > kMaxSide || image.h > kMaxSide) return {image};
      return {Size{std::max(screen.w, image.w), std::max(screen.h, image.h)}};
    } else {
      ++at;
    }
  }
  return {screen};
}

// The frame size of a JPEG: its first start-of-frame marker.
std::optional<Size> jpeg_size(const Bytes& b) {
  size_t at = 2;
  while (at + 4 <= b.size()) {
    if (b[at] != 0xFF) return std::nullopt;
    const unsigned marker = b[at + 1];
    if (marker == 0xFF) {
      ++at;
      continue;
    }
    if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      at += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA) return std::nullopt;
    const bool frame = marker >= 0xC0 && marker <= 0xCF && !one_of(marker, {0xC4, 0xC8, 0xCC});
    if (frame) {
      if (at + 9 > b.size()) return std::nullopt;
      return Size{static_cast<long>(be16(b, at + 7)), static_cast<long>(be16(b, at + 5))};
    }
    at += 2 + be16(b, at + 2);
  }
  return std::nullopt;
}

// The image size that the header announces, when it can be told.
std::optional<Size> header_size(Format format, const Bytes& b) {
  switch (format) {
    case Format::Png:
      if (b.size() < 24) return std::nullopt;
      return Size{static_cast<long>(be32(b, 16)), static_cast<long>(be32(b, 20))};
    case Format::Bmp: {
      if (b.size() < 26) return std::nullopt;
      if (le32(b, 14) == 12) return Size{static_cast<long>(le16(b, 18)), static_cast<long>(le16(b, 20))};
      // A negative height is a top-down bitmap.
      const auto w = static_cast<int64_t>(static_cast<int32_t>(le32(b, 18)));
      const auto h = static_cast<int64_t>(static_cast<int32_t>(le32(b, 22)));
      return Size{static_cast<long>(w < 0 ? -w : w), static_cast<long>(h < 0 ? -h : h)};
    }
    case Format::Tga:
      return Size{static_cast<long>(le16(b, 12)), static_cast<long>(le16(b, 14))};
    case Format::Gif:
      return scan_gif(b).size;
    case Format::Jpeg:
      return jpeg_size(b);
    case Format::None:
      break;
  }
  return std::nullopt;
}

SDL_Surface* decode(Format format, const Bytes& b) {
  SDL_RWops* rw = SDL_RWFromConstMem(b.data(), static_cast<int>(b.size()));
  if (rw == nullptr) return nullptr;
  SDL_Surface* surface = nullptr;
  switch (format) {
    case Format::Png: surface = IMG_LoadPNG_RW(rw); break;
    case Format::Bmp: surface = IMG_LoadBMP_RW(rw); break;
    case Format::Tga: surface = IMG_LoadTGA_RW(rw); break;
    case Format::Jpeg: surface = IMG_LoadJPG_RW(rw); break;
    case Format::Gif: surface = IMG_LoadGIF_RW(rw); break;
    case Format::None: break;
  }
  SDL_RWclose(rw);
  return surface;
}

std::optional<Bytes> read_file(const char* filename, bool& too_large) {
  UniqueFile f(std::fopen(filename, "rb"));
  if (!f) return std::nullopt;
  Bytes bytes;
  unsigned char chunk[65536];
  for (;;) {
    const size_t n = std::fread(chunk, 1, sizeof chunk, f.get());
    if (n == 0) break;
    if (static_cast<long>(bytes.size() + n) > kMaxFileBytes) {
      too_large = true;
      return std::nullopt;
    }
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  if (std::ferror(f.get())) return std::nullopt;
  return bytes;
}

struct SurfaceFree {
  void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using Surface = std::unique_ptr<SDL_Surface, SurfaceFree>;

Uint32 pixel_value(const Uint8* p, int bytes_per_pixel) {
  switch (bytes_per_pixel) {
    case 4: {
      Uint32 v;
      std::memcpy(&v, p, 4);
      return v;
    }
    case 3: return static_cast<Uint32>(p[0] | (p[1] << 8) | (p[2] << 16));
    case 2: {
      Uint16 v;
      std::memcpy(&v, p, 2);
      return v;
    }
    default: return p[0];
  }
}

}  // namespace

unsigned char* wrapper_load_rgba(const char* filename, int* w, int* h) {
  const char* name = filename ? filename : "(null)";
  if (w) *w = 0;
  if (h) *h = 0;
  bool too_large = false;
  const std::optional<Bytes> file = filename ? read_file(filename, too_large) : std::nullopt;
  if (too_large) {
    kel_log("image '%s' refused: larger than 512 MiB\n", name);
    return nullptr;
  }
  if (!file) {
    kel_log("image '%s' load failed\n", name);
    return nullptr;
  }
  const Format format = format_of(*file);
  if (format == Format::None) {
    kel_log("image '%s' refused: not a PNG, BMP, TGA, JPEG or GIF file\n", name);
    return nullptr;
  }
  if (format == Format::Gif && scan_gif(*file).damaged) {
    kel_log("image '%s' load failed\n", name);
    return nullptr;
  }
  // A header too short or too damaged to tell the size is not decoded.
  const std::optional<Size> size = header_size(format, *file);
  if (!size) {
    kel_log("image '%s' load failed\n", name);
    return nullptr;
  }
  if (size->w < 1 || size->h < 1 || size->w > kMaxSide || size->h > kMaxSide) {
    kel_log("image '%s' refused: %ldx%ld pixels (sides of 1 to 8192 are taken)\n", name, size->w, size->h);
    return nullptr;
  }
  const Surface loaded(decode(format, *file));
  if (!loaded) {
    kel_log("image '%s' load failed\n", name);
    return nullptr;
  }
  if (loaded->w < 1 || loaded->h < 1 || loaded->w > kMaxSide || loaded->h > kMaxSide) {
    kel_log("image '%s' refused: %dx%d pixels (sides of 1 to 8192 are taken)\n", name, loaded->w, loaded->h);
    return nullptr;
  }
  SDL_PixelFormat rgba{};
  rgba.BitsPerPixel = 32;
  rgba.BytesPerPixel = 4;
  rgba.Rmask = 0x000000FF;
  rgba.Gmask = 0x0000FF00;
  rgba.Bmask = 0x00FF0000;
  rgba.Amask = 0xFF000000;
  rgba.Gshift = 8;
  rgba.Bshift = 16;
  rgba.Ashift = 24;
  rgba.alpha = 255;
  const Surface surface(SDL_ConvertSurface(loaded.get(), &rgba, SDL_SWSURFACE));
  if (!surface) {
    kel_log("image '%s' SDL surface error\n", name);
    return nullptr;
  }
  const int width = surface->w, height = surface->h;
  const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
  auto* out = static_cast<unsigned char*>(std::malloc(bytes));
  if (out == nullptr) {
    kel_log("image '%s' SDL surface error\n", name);
    return nullptr;
  }
  kel_log("image '%s' %dx%d (%d bytes)\n", name, width, height, static_cast<int>(bytes));
  if (SDL_MUSTLOCK(surface.get())) SDL_LockSurface(surface.get());
  const SDL_PixelFormat* f = surface->format;
  const bool keyed = (surface->flags & SDL_SRCCOLORKEY) != 0;
  unsigned char* o = out;
  const bool plain = !keyed && f->BytesPerPixel == 4 && f->Rmask == rgba.Rmask && f->Gmask == rgba.Gmask &&
                     f->Bmask == rgba.Bmask && f->Amask == rgba.Amask;
  for (int y = 0; plain && y < height; ++y, o += static_cast<size_t>(width) * 4) {
    // Already the bytes wanted: red, green, blue, alpha.
    std::memcpy(o, static_cast<const Uint8*>(surface->pixels) + static_cast<size_t>(y) * surface->pitch,
                static_cast<size_t>(width) * 4);
  }
  for (int y = 0; !plain && y < height; ++y) {
    const Uint8* row = static_cast<const Uint8*>(surface->pixels) + static_cast<size_t>(y) * surface->pitch;
    for (int x = 0; x < width; ++x, o += 4) {
      const Uint32 v = pixel_value(row + static_cast<size_t>(x) * f->BytesPerPixel, f->BytesPerPixel);
      if (keyed && v == f->colorkey) {
        std::memset(o, 0, 4);
        continue;
      }
      SDL_GetRGBA(v, surface->format, &o[0], &o[1], &o[2], &o[3]);
    }
  }
  if (SDL_MUSTLOCK(surface.get())) SDL_UnlockSurface(surface.get());
  if (w) *w = width;
  if (h) *h = height;
  return out;
}
