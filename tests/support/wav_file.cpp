#include "support/wav_file.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace wav_file {

void put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xff);
  s += static_cast<char>((v >> 8) & 0xff);
}

void put32(std::string& s, uint32_t v) {
  put16(s, v & 0xffff);
  put16(s, v >> 16);
}

std::string chunk(const std::string& id, const std::string& body) {
  std::string c = id;
  put32(c, static_cast<uint32_t>(body.size()));
  c += body;
  if (body.size() % 2) c += '\0';
  return c;
}

std::string fmt_body(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
  std::string b;
  put16(b, tag);
  put16(b, channels);
  put32(b, rate);
  put32(b, rate * channels * bits / 8);
  put16(b, static_cast<uint32_t>(channels * bits / 8));
  put16(b, bits);
  return b;
}

std::string extensible_body(uint16_t sub, uint16_t channels, uint32_t rate, uint16_t bits) {
  std::string b = fmt_body(0xfffe, channels, rate, bits);
  put16(b, 22);
  put16(b, bits);
  put32(b, 0);
  put16(b, sub);
  b += std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71", 14);
  return b;
}

std::string riff(const std::string& chunks) {
  std::string r = "RIFF";
  put32(r, static_cast<uint32_t>(chunks.size() + 4));
  return r + "WAVE" + chunks;
}

std::string samples16(const std::vector<int>& values) {
  std::string s;
  for (int v : values) put16(s, static_cast<uint16_t>(v));
  return s;
}

std::string pcm(uint16_t bits, uint16_t channels, uint32_t rate, const std::string& data) {
  return riff(chunk("fmt ", fmt_body(1, channels, rate, bits)) + chunk("data", data));
}

std::string mono16(const std::vector<int16_t>& values, uint32_t rate) {
  return pcm(16, 1, rate, samples16(std::vector<int>(values.begin(), values.end())));
}

}  // namespace wav_file

size_t file_size(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : static_cast<size_t>(size);
}

std::vector<int16_t> read_s16le(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<int16_t> samples;
  for (char bytes[2]; in.read(bytes, 2);)
    samples.push_back(static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint8_t>(bytes[0]) |
                                                                 static_cast<uint8_t>(bytes[1]) << 8)));
  return samples;
}

TempFile::TempFile(const std::string& bytes, const std::string& suffix) {
  std::string name = "/tmp/tonebrook-test-XXXXXX" + suffix;
  const int fd = mkstemps(name.data(), static_cast<int>(suffix.size()));
  if (fd < 0) std::abort();
  path_ = name;
  if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
  close(fd);
}

TempFile::~TempFile() { std::remove(path_.c_str()); }

TempDir::TempDir() {
  char name[] = "/tmp/tonebrook-test-XXXXXX";
  if (mkdtemp(name) == nullptr) std::abort();
  path_ = name;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}
