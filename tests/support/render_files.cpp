#include "support/render_files.h"

#include <png.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

uint32_t get32(const std::string& s, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) | static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}

uint16_t get16(const std::string& s, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8);
}

}  // namespace

bool read_wav_pcm16(const std::string& path, WavPcm16* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 44 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 8, "WAVEfmt ") != 0 ||
      get32(bytes, 16) != 16 || bytes.compare(36, 4, "data") != 0)
    return false;
  WavPcm16 w;
  w.riff_size = get32(bytes, 4);
  w.format = get16(bytes, 20);
  w.channels = get16(bytes, 22);
  w.rate = get32(bytes, 24);
  w.byte_rate = get32(bytes, 28);
  w.block_align = get16(bytes, 32);
  w.bits = get16(bytes, 34);
  w.data_size = get32(bytes, 40);
  if (bytes.size() - 44 < w.data_size) return false;
  for (size_t at = 44; at + 1 < 44 + static_cast<size_t>(w.data_size); at += 2)
    w.samples.push_back(static_cast<int16_t>(get16(bytes, at)));
  *out = std::move(w);
  return true;
}

double PngRgb::luma(int x, int y) const {
  const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
  return 0.2126 * rgb[at] + 0.7152 * rgb[at + 1] + 0.0722 * rgb[at + 2];
}

bool PngRgb::same_colour(int x, int y, unsigned char r, unsigned char g, unsigned char b) const {
  const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
  return rgb[at] == r && rgb[at + 1] == g && rgb[at + 2] == b;
}

bool read_png_rgb(const std::string& path, PngRgb* out) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  PngRgb p;
  p.width = static_cast<int>(image.width);
  p.height = static_cast<int>(image.height);
  p.rgb.resize(PNG_IMAGE_SIZE(image));
  const bool ok = png_image_finish_read(&image, nullptr, p.rgb.data(), 0, nullptr) != 0;
  png_image_free(&image);
  if (ok) *out = std::move(p);
  return ok;
}

std::vector<std::string> names_in(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}
