// RIFF/WAVE files made byte by byte for the tests, and temporary files and
// folders that remove themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace wav_file {

void put16(std::string& s, uint32_t v);  // little-endian
void put32(std::string& s, uint32_t v);

// A chunk: id, size, body, and the pad byte after an odd-sized body.
std::string chunk(const std::string& id, const std::string& body);
// The 16-byte body of a "fmt " chunk.
std::string fmt_body(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits);
// A WAVE_FORMAT_EXTENSIBLE "fmt " body whose sub-format starts with `sub`.
std::string extensible_body(uint16_t sub, uint16_t channels, uint32_t rate, uint16_t bits);
// "RIFF", the size, "WAVE" and the chunks.
std::string riff(const std::string& chunks);
// Signed 16-bit samples, little-endian.
std::string samples16(const std::vector<int>& values);
// A whole integer PCM file.
std::string pcm(uint16_t bits, uint16_t channels, uint32_t rate, const std::string& data);
std::string mono16(const std::vector<int16_t>& values, uint32_t rate = 44100);

}  // namespace wav_file

// The size of a file in bytes, 0 when it does not exist.
size_t file_size(const std::string& path);
// The signed 16-bit little-endian samples of a raw file (what SDL's disk
// writer records: left and right interleaved).
std::vector<int16_t> read_s16le(const std::string& path);

// A file in /tmp holding `bytes`, removed with this object.
class TempFile {
 public:
  explicit TempFile(const std::string& bytes, const std::string& suffix = ".wav");
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }
  const char* c_str() const { return path_.c_str(); }

 private:
  std::string path_;
};

// A new folder in /tmp, removed with everything in it with this object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};
