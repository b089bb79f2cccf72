#include "framework/core/wav_load.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "framework/core/log.h"
#include "framework/core/util.h"

namespace {

using Bytes = std::unique_ptr<std::byte[]>;
Bytes allocate_bytes(std::size_t n) { return Bytes(new (std::nothrow) std::byte[n]); }

struct WavDeleter {
  void operator()(WAV* wav) const { wav_release(wav); }
};
using WavPtr = std::unique_ptr<WAV, WavDeleter>;

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xfffe;
constexpr std::size_t kFormatMin = 16;
constexpr std::size_t kFormatExtensibleSize = 40;
// The sub-format GUID of integer PCM in a WAVE_FORMAT_EXTENSIBLE chunk.
constexpr std::array<unsigned char, 16> kPcmSubFormat = {
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
    0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};

uint16_t le16(const unsigned char* b) { return static_cast<uint16_t>(b[0] | (b[1] << 8)); }
uint32_t le32(const unsigned char* b) {
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

struct Format {
  uint16_t tag = 0;  // for WAVE_FORMAT_EXTENSIBLE: the sub-format's code
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint16_t bits = 0;
};

Format parse_format(const unsigned char* b, std::size_t size) {
  Format f;
  f.tag = le16(b);
  f.channels = le16(b + 2);
  f.rate = le32(b + 4);
  f.bits = le16(b + 14);
  if (f.tag == kFormatExtensible) {
    const bool has_sub_format = size >= kFormatExtensibleSize && le16(b + 16) >= 22;
    const bool pcm = has_sub_format && std::equal(kPcmSubFormat.begin(), kPcmSubFormat.end(), b + 24);
    f.tag = pcm ? kFormatPcm : (has_sub_format ? le16(b + 24) : kFormatExtensible);
  }
  return f;
}

bool convertible(unsigned int file_bits, unsigned int player_bits) {
  if (file_bits != 8 && file_bits != 16) return false;
  return file_bits == player_bits || (file_bits == 16 && player_bits == 8) ||
         (file_bits == 8 && player_bits == 16);
}

// Averages the interleaved channels of each frame into one value, in place,
// and leaves 16-bit data in the host's byte order.
void mix_down(std::byte* data, uint32_t frames, uint32_t channels, uint32_t bits) {
  auto* bytes = reinterpret_cast<unsigned char*>(data);
  if (bits == 8) {
    if (channels == 1) return;
    for (std::size_t i = 0; i < frames; ++i) {
      uint64_t sum = 0;
      for (std::size_t c = 0; c < channels; ++c) sum += bytes[i * channels + c];
      bytes[i] = static_cast<unsigned char>(sum / channels);
    }
    return;
  }
  if (channels == 1 && std::endian::native == std::endian::little) return;
  for (std::size_t i = 0; i < frames; ++i) {
    int64_t sum = 0;
    for (std::size_t c = 0; c < channels; ++c)
      sum += static_cast<int16_t>(le16(bytes + (i * channels + c) * 2));
    const auto value = static_cast<int16_t>(sum / static_cast<int64_t>(channels));
    std::memcpy(bytes + i * 2, &value, sizeof value);
  }
}

class Loader {
 public:
  Loader(const char* name, std::FILE* file, uint64_t size, unsigned int player_bits)
      : name_(name), file_(file), size_(size), player_bits_(player_bits) {}

  WAV* load() {
    unsigned char riff[12];
    const std::size_t got = read_some(riff, sizeof riff);
    if (got < 4 || std::memcmp(riff, "RIFF", 4) != 0) {
      kel_log_bare("Error: not a RIFF file\n");
      return nullptr;
    }
    if (got < sizeof riff) return truncated();
    if (std::memcmp(riff + 8, "WAVE", 4) != 0) {
      kel_log_bare("Error: RIFF file but not a wave file\n");
      return nullptr;
    }
    return walk_chunks();
  }

 private:
  WAV* walk_chunks() {
    std::array<unsigned char, kFormatExtensibleSize> fmt_bytes{};
    std::size_t fmt_size = 0;
    bool have_format = false;
    for (;;) {
      unsigned char header[8];
      const std::size_t got = read_some(header, sizeof header);
      if (got == 0) {
        kel_log_bare(have_format ? "Error: '%s' has no data chunk\n" : "Error: '%s' has no format chunk\n", name_);
        return nullptr;
      }
      if (got < sizeof header) return truncated();
      const uint32_t size = le32(header + 4);
      if (std::memcmp(header, "data", 4) == 0) {
        if (!have_format) {
          kel_log_bare("Error: '%s' has no format chunk before its data\n", name_);
          return nullptr;
        }
        return load_data(parse_format(fmt_bytes.data(), fmt_size), size);
      }
      if (size > remaining()) return truncated();
      uint64_t to_skip = size;
      if (std::memcmp(header, "fmt ", 4) == 0 && !have_format) {
        if (size < kFormatMin) {
          kel_log_bare("Error: '%s' has a format chunk of %u bytes (16 at least)\n", name_, size);
          return nullptr;
        }
        fmt_size = std::min<std::size_t>(size, fmt_bytes.size());
        if (read_some(fmt_bytes.data(), fmt_size) < fmt_size) return truncated();
        to_skip -= fmt_size;
        have_format = true;
      }
      to_skip += size & 1u;  // chunks are padded to even sizes
      if (!skip(std::min(to_skip, remaining()))) return truncated();
    }
  }

  WAV* load_data(const Format& format, uint32_t data_size) {
    if (format.tag != kFormatPcm) {
      kel_log_bare("Error: '%s' is not integer PCM (format tag 0x%04x)\n", name_, format.tag);
      return nullptr;
    }
    if (format.channels == 0) {
      kel_log_bare("Error: '%s' has 0 channels\n", name_);
      return nullptr;
    }
    if (format.rate == 0) {
      kel_log_bare("Error: '%s' has a sample rate of 0\n", name_);
      return nullptr;
    }
    if (data_size > remaining()) {
      kel_log_bare("Error: '%s' announces %u data bytes but only %llu follow\n", name_, data_size,
                   static_cast<unsigned long long>(remaining()));
      return nullptr;
    }
    const unsigned int player_bits = player_bits_;
    if (!convertible(format.bits, player_bits)) {
      kel_log_bare("'%s':\n", name_);
      kel_log_bare("channels: %u\n", static_cast<unsigned>(format.channels));
      kel_log_bare("rate: %u\n", format.rate);
      kel_log_bare("width: %u\n", static_cast<unsigned>(format.bits));
      kel_log_bare("Error: conversion problem\n");
      return nullptr;
    }

    Bytes data = allocate_bytes(data_size);
    if (!data) return out_of_memory(data_size);
    if (read_some(data.get(), data_size) < data_size) return truncated();

    const auto frames = static_cast<uint32_t>((static_cast<uint64_t>(data_size) * 8u) /
                                              (static_cast<uint64_t>(format.channels) * format.bits));
    mix_down(data.get(), frames, format.channels, format.bits);

    WavPtr wav(new (std::nothrow) WAV{});
    if (!wav) return out_of_memory(sizeof(WAV));
    wav->channels = format.channels;
    wav->rate = format.rate;
    wav->width = format.bits;
    wav->frames = frames;
    wav->data = data.release();

    if (wav->width == 16 && player_bits == 8) {
      kel_log_bare("Converting 16 -> 8 bits (%d bytes -> %d bytes)\n", static_cast<int>(frames * 2u),
                   static_cast<int>(frames));
      Bytes narrow = allocate_bytes(frames);
      if (!narrow) return out_of_memory(frames);
      const int16_t* wide = wav->buffer16();
      for (std::size_t i = 0; i < frames; ++i) {
        const auto high = static_cast<int8_t>(wide[i] >> 8);
        std::memcpy(narrow.get() + i, &high, 1);
      }
      delete[] static_cast<std::byte*>(wav->data);
      wav->data = narrow.release();
      wav->width = 8;
    } else if (wav->width == 8 && player_bits == 16) {
      kel_log_bare("Converting 8 -> 16 bits (%d bytes -> %d bytes)\n", static_cast<int>(frames),
                   static_cast<int>(frames * 2u));
      Bytes wide = allocate_bytes(static_cast<std::size_t>(frames) * 2);
      if (!wide) return out_of_memory(static_cast<uint64_t>(frames) * 2);
      const auto* narrow = static_cast<const unsigned char*>(wav->data);
      for (std::size_t i = 0; i < frames; ++i) {
        const auto value = static_cast<int16_t>((narrow[i] - 128) * 256);
        std::memcpy(wide.get() + i * 2, &value, sizeof value);
      }
      delete[] static_cast<std::byte*>(wav->data);
      wav->data = wide.release();
      wav->width = 16;
    }
    return wav.release();
  }

  std::size_t read_some(void* dst, std::size_t n) {
    const std::size_t got = std::fread(dst, 1, n, file_);
    offset_ += got;
    return got;
  }

  bool skip(uint64_t n) {
    if (n == 0) return true;
    if (std::fseek(file_, static_cast<long>(n), SEEK_CUR) != 0) return false;
    offset_ += n;
    return true;
  }

  uint64_t remaining() const { return offset_ < size_ ? size_ - offset_ : 0; }

  WAV* truncated() {
    kel_log_bare("Error: '%s' is truncated\n", name_);
    return nullptr;
  }

  WAV* out_of_memory(uint64_t bytes) {
    kel_log_bare("Error: no memory for %llu bytes of '%s'\n", static_cast<unsigned long long>(bytes), name_);
    return nullptr;
  }

  const char* name_;
  std::FILE* file_;
  uint64_t size_;
  unsigned int player_bits_;
  uint64_t offset_ = 0;
};

}  // namespace

WAV* wav_load_file(const char* fname, unsigned int bits) {
  const char* name = fname ? fname : "(null)";
  UniqueFile file(fname ? std::fopen(fname, "rb") : nullptr);
  struct stat info {};
  if (!file || fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
    kel_log_bare("Error: no file '%s'?\n", name);
    return nullptr;
  }
  return Loader(name, file.get(), static_cast<uint64_t>(info.st_size), bits).load();
}

void wav_release(WAV* wav) {
  if (wav == nullptr) return;
  delete[] static_cast<std::byte*>(wav->data);
  delete wav;
}
