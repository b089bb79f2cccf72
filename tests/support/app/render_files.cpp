#include "support/app/render_files.h"

#include <png.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

bool read_wav_pcm16(const std::string& path, WavPcm16* out) {
  std::stringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  const std::string b = s.str();
  if (b.size() < 44 || b.compare(0, 4, "RIFF") || b.compare(8, 12, std::string("WAVEfmt \x10\0\0\0", 12)) ||
      b.compare(36, 4, "data"))
    return false;
  // The test machines are little-endian, as the file is.
  std::memcpy(&out->riff_size, &b[4], 4);
  std::memcpy(&out->fmt, &b[20], sizeof out->fmt);
  std::memcpy(&out->data_size, &b[40], 4);
  if (b.size() - 44 < out->data_size) return false;
  out->samples.resize(out->data_size / 2);
  std::memcpy(out->samples.data(), &b[44], out->samples.size() * 2);
  return true;
}

double PngRgb::luma(int x, int y) const {
  const unsigned char* p = &rgb[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3];
  return 0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2];
}

bool PngRgb::same_colour(int x, int y, unsigned char r, unsigned char g, unsigned char b) const {
  const unsigned char* p = &rgb[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3];
  return p[0] == r && p[1] == g && p[2] == b;
}

bool read_png_rgb(const std::string& path, PngRgb* out) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  out->width = static_cast<int>(image.width);
  out->height = static_cast<int>(image.height);
  out->rgb.resize(PNG_IMAGE_SIZE(image));
  const bool ok = png_image_finish_read(&image, nullptr, out->rgb.data(), 0, nullptr) != 0;
  png_image_free(&image);
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
