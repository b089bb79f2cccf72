#include "framework/core/wav-play.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

#include "framework/core/util.h"

// How the voice bank stays sound without a lock
// ----------------------------------------------
// A voice's flags, its position and a change count share one 64-bit atomic
// word (VOICE::state). The logic thread changes flags with one fetch_or /
// fetch_and, or with a compare-and-swap loop when it also moves the position
// or re-targets the voice; every change that moves the position or gives the
// voice a new sample (wave_play, wave_init, wave_free, a restart by
// wave_start_voice) also bumps the change count.
//
// The mixer snapshots a voice by reading the state word, the sample, the step
// and the gains, then the state word again: if the change count moved in
// between it reads again, so it never pairs a position with another sample.
// wave_play claims a voice by bumping the count (and clearing `playing`)
// before it writes the new sample and gains, and publishes the voice with a
// second bump afterwards.
//
// When the mixer leaves a voice it writes the new position (and, at the end
// of the sample, the flags) back with a compare-and-swap against the current
// word. If the change count moved since its snapshot, the logic thread has
// restarted or re-targeted the voice and the write-back is dropped. If only
// flags changed (a stop, a start, a drop, a loop switch, a take), the new
// position is merged into the current flags: the mixer itself only ever
// clears `playing` (and, for a voice that still has `oneshot`, `taken` and
// `oneshot`), so it cannot undo a stop, a drop or a re-take.
//
// wave_free must not release sample data that a mixing call is reading: each
// mixing call makes a sequence counter odd on entry and even on exit, and
// wave_free, after detaching the sample from every voice, waits until a call
// that was in progress has left. The audio thread itself never waits.

namespace {

static_assert(std::atomic<uint64_t>::is_always_lock_free);
static_assert(std::atomic<uint32_t>::is_always_lock_free);
static_assert(std::atomic<int32_t>::is_always_lock_free);
static_assert(std::atomic<float>::is_always_lock_free);
static_assert(std::atomic<WAV*>::is_always_lock_free);

std::atomic<int> initialized{0};
std::atomic<float> sample_rate{44100.0f};
std::atomic<unsigned int> sample_bits{16};
std::array<VOICE, WAVE_VOICES> voices{};

// Odd while a mixing call is running.
std::atomic<uint32_t> mix_sequence{0};

// ---------------------------------------------------------------------------
// The state word

constexpr uint32_t kFlagMask = 0xfu;
constexpr uint32_t kCountMask = 0xffff'fff0u;
constexpr uint32_t kCountUnit = 0x10u;

constexpr uint32_t flags_of(uint64_t s) { return static_cast<uint32_t>(s) & kFlagMask; }
constexpr uint32_t count_of(uint64_t s) { return static_cast<uint32_t>(s) & kCountMask; }
constexpr uint32_t pos_of(uint64_t s) { return static_cast<uint32_t>(s >> 32); }
constexpr uint32_t next_count(uint64_t s) { return (count_of(s) + kCountUnit) & kCountMask; }
constexpr uint64_t pack(uint32_t pos, uint32_t count, uint32_t flags) {
  return (static_cast<uint64_t>(pos) << 32) | (count & kCountMask) | (flags & kFlagMask);
}

VOICE* voice_at(int index) {
  if (index < 0 || index >= WAVE_VOICES) return nullptr;
  return &voices[static_cast<std::size_t>(index)];
}

// Replaces the state word with change(current), retrying when the mixer
// wrote in between.
template <class Change>
void update_state(VOICE& v, Change change) {
  uint64_t cur = v.state.load();
  while (!v.state.compare_exchange_weak(cur, change(cur))) {
  }
}

void set_flags(VOICE& v, uint32_t bits) { v.state.fetch_or(bits); }
void clear_flags(VOICE& v, uint32_t bits) { v.state.fetch_and(~static_cast<uint64_t>(bits)); }

// ---------------------------------------------------------------------------
// Voice parameters (logic thread)

float clamp_pan(float pan) { return std::isnan(pan) ? 0.0f : std::clamp(pan, -1.0f, 1.0f); }
float clamp_vol(float vol) { return std::isnan(vol) ? 0.0f : std::clamp(vol, 0.0f, 1.0f); }
float clamp_pitch(float pitch) { return std::isnan(pitch) || pitch < 0.0f ? 0.0f : pitch; }

// Gains from the stored pan and volume; centre gives both channels full gain.
void store_gains(VOICE& v) {
  const float pan = v.pan.load();
  const float vol = v.vol.load();
  const float left = pan <= 0.0f ? 256.0f * vol : (1.0f - pan) * 256.0f * vol;
  const float right = pan >= 0.0f ? 256.0f * vol : (1.0f + pan) * 256.0f * vol;
  v.left.store(static_cast<int32_t>(left));
  v.right.store(static_cast<int32_t>(right));
}

// pitch x 256 x (sample rate / output rate), truncated; steps too large for
// 32 bits saturate rather than wrap.
uint32_t compute_step(float pitch, uint32_t rate) {
  const float step = pitch * 256.0f * (static_cast<float>(rate) / sample_rate.load());
  if (!(step > 0.0f)) return 0;
  if (step >= 4294967296.0f) return UINT32_MAX;
  return static_cast<uint32_t>(step);
}

void apply_vol(VOICE& v, float vol) {
  v.vol.store(clamp_vol(vol));
  store_gains(v);
}

void apply_pan(VOICE& v, float pan) {
  v.pan.store(clamp_pan(pan));
  store_gains(v);
}

void apply_pitch(VOICE& v, float pitch) {
  const WAV* wav = v.wav.load();
  if (!wav) return;
  const float p = clamp_pitch(pitch);
  v.pitch.store(p);
  v.step.store(compute_step(p, wav->rate));
}

void release_sample(WAV* wav) {
  delete[] static_cast<std::byte*>(wav->data);
  delete wav;
}

// Returns once no mixing call that may have seen the voices as they were
// before this call is still running.
void wait_for_mixer() {
  const uint32_t seen = mix_sequence.load();
  if ((seen & 1u) == 0) return;
  while (mix_sequence.load() == seen) std::this_thread::yield();
}

// ---------------------------------------------------------------------------
// Mixing (audio thread)

class MixPass {
 public:
  MixPass() { mix_sequence.fetch_add(1); }
  ~MixPass() { mix_sequence.fetch_add(1); }
  MixPass(const MixPass&) = delete;
  MixPass& operator=(const MixPass&) = delete;
};

struct Snapshot {
  uint64_t state;
  const WAV* wav;
  uint32_t step;
  int32_t left;
  int32_t right;
};

constexpr int kSnapshotTries = 4;

// A consistent view of a playing voice, or false when it is not playing (or
// keeps changing under the mixer, in which case it waits for the next call).
bool take_snapshot(const VOICE& v, Snapshot& snap) {
  uint64_t before = v.state.load();
  for (int tries = 0; tries < kSnapshotTries; ++tries) {
    if (!(flags_of(before) & VOICE_PLAYING)) return false;
    snap.wav = v.wav.load();
    snap.step = v.step.load();
    snap.left = v.left.load();
    snap.right = v.right.load();
    const uint64_t after = v.state.load();
    if (count_of(after) == count_of(before)) {
      if (!(flags_of(after) & VOICE_PLAYING) || !snap.wav) return false;
      snap.state = after;
      return true;
    }
    before = after;
  }
  return false;
}

constexpr int16_t saturate(int32_t x) {
  return static_cast<int16_t>(std::clamp<int32_t>(x, INT16_MIN, INT16_MAX));
}

struct MixResult {
  uint64_t position;  // 24.8
  bool ended;
};

// Adds one voice into `out` (`Channels` values per frame) from position `p`
// (24.8) of a sample of `end` / 256 frames; 8-bit data is scaled to 16 bits.
template <int Channels, bool Wide>
MixResult mix_voice(int16_t* out, unsigned int frames, const void* data, uint64_t p, uint64_t end,
                    uint32_t step, int32_t left, int32_t right, bool loop) {
  const auto* data16 = static_cast<const int16_t*>(data);
  const auto* data8 = static_cast<const int8_t*>(data);
  for (unsigned int i = 0; i < frames; ++i) {
    const std::size_t index = static_cast<std::size_t>(p >> 8);
    int32_t s;
    if constexpr (Wide) {
      s = data16[index];
    } else {
      s = static_cast<int32_t>(data8[index]) * 256;
    }
    int16_t* frame = out + static_cast<std::size_t>(i) * Channels;
    frame[0] = saturate(frame[0] + ((left * s) >> 8));
    if constexpr (Channels == 2) frame[1] = saturate(frame[1] + ((right * s) >> 8));
    p += step;
    if (p >= end) {
      if (!loop) return {p, true};
      p -= end;
      if (p >= end) p %= end;  // only when the step is longer than the sample
    }
  }
  return {p, false};
}

// Writes the mixer's outcome back unless the logic thread restarted or
// re-targeted the voice meanwhile; flags changed meanwhile are kept.
void write_back(VOICE& v, uint64_t snapshot, bool ended, uint32_t running_pos, uint32_t frames) {
  uint64_t cur = snapshot;
  for (;;) {
    if (count_of(cur) != count_of(snapshot)) return;
    uint32_t flags = flags_of(cur);
    uint32_t pos = running_pos;
    if (ended) {
      flags &= ~VOICE_PLAYING;
      if (flags & VOICE_ONESHOT) {
        flags &= ~(VOICE_TAKEN | VOICE_ONESHOT);
        pos = 0;
      } else {
        pos = frames;
      }
    }
    if (v.state.compare_exchange_weak(cur, pack(pos, count_of(cur), flags))) return;
  }
}

template <int Channels>
int mix_all(void* buffer, unsigned int frames) {
  if (!buffer) return 0;
  const MixPass pass;
  auto* out = static_cast<int16_t*>(buffer);
  int count = 0;
  for (VOICE& v : voices) {
    Snapshot snap;
    if (!take_snapshot(v, snap)) continue;
    ++count;
    if (frames == 0) continue;

    const uint32_t sample_frames = snap.wav->frames;
    const uint64_t end = static_cast<uint64_t>(sample_frames) << 8;
    const bool loop = (flags_of(snap.state) & VOICE_LOOP) != 0;
    uint64_t p = static_cast<uint64_t>(pos_of(snap.state)) << 8;
    MixResult result{p, false};
    if (p >= end && (!loop || end == 0)) {
      result.ended = true;  // nothing left to read
    } else {
      if (p >= end) p %= end;
      const bool wide = snap.wav->width == 16;
      result = wide ? mix_voice<Channels, true>(out, frames, snap.wav->data, p, end, snap.step,
                                                snap.left, snap.right, loop)
                    : mix_voice<Channels, false>(out, frames, snap.wav->data, p, end, snap.step,
                                                 snap.left, snap.right, loop);
    }
    write_back(v, snap.state, result.ended, static_cast<uint32_t>(result.position >> 8),
               sample_frames);
  }
  return count;
}

// ---------------------------------------------------------------------------
// Loading (logic thread)


using Bytes = std::unique_ptr<std::byte[]>;
Bytes allocate_bytes(std::size_t n) { return Bytes(new (std::nothrow) std::byte[n]); }

struct WavDeleter {
  void operator()(WAV* wav) const {
    delete[] static_cast<std::byte*>(wav->data);
    delete wav;
  }
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
  Loader(const char* name, std::FILE* file, uint64_t size) : name_(name), file_(file), size_(size) {}

  WAV* load() {
    unsigned char riff[12];
    const std::size_t got = read_some(riff, sizeof riff);
    if (got < 4 || std::memcmp(riff, "RIFF", 4) != 0) {
      std::fputs("Error: not a RIFF file\n", stdout);
      return nullptr;
    }
    if (got < sizeof riff) return truncated();
    if (std::memcmp(riff + 8, "WAVE", 4) != 0) {
      std::fputs("Error: RIFF file but not a wave file\n", stdout);
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
        std::printf(have_format ? "Error: '%s' has no data chunk\n"
                                : "Error: '%s' has no format chunk\n",
                    name_);
        return nullptr;
      }
      if (got < sizeof header) return truncated();
      const uint32_t size = le32(header + 4);
      if (std::memcmp(header, "data", 4) == 0) {
        if (!have_format) {
          std::printf("Error: '%s' has no format chunk before its data\n", name_);
          return nullptr;
        }
        return load_data(parse_format(fmt_bytes.data(), fmt_size), size);
      }
      if (size > remaining()) return truncated();
      uint64_t to_skip = size;
      if (std::memcmp(header, "fmt ", 4) == 0 && !have_format) {
        if (size < kFormatMin) {
          std::printf("Error: '%s' has a format chunk of %u bytes (16 at least)\n", name_, size);
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
      std::printf("Error: '%s' is not integer PCM (format tag 0x%04x)\n", name_, format.tag);
      return nullptr;
    }
    if (format.channels == 0) {
      std::printf("Error: '%s' has 0 channels\n", name_);
      return nullptr;
    }
    if (format.rate == 0) {
      std::printf("Error: '%s' has a sample rate of 0\n", name_);
      return nullptr;
    }
    if (data_size > remaining()) {
      std::printf("Error: '%s' announces %u data bytes but only %llu follow\n", name_, data_size,
                  static_cast<unsigned long long>(remaining()));
      return nullptr;
    }
    const unsigned int player_bits = sample_bits.load();
    if (!convertible(format.bits, player_bits)) {
      std::printf("'%s':\n", name_);
      std::printf("channels: %u\n", static_cast<unsigned>(format.channels));
      std::printf("rate: %u\n", format.rate);
      std::printf("width: %u\n", static_cast<unsigned>(format.bits));
      std::fputs("Error: conversion problem\n", stdout);
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
      std::printf("Converting 16 -> 8 bits (%d bytes -> %d bytes)\n", static_cast<int>(frames * 2u),
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
      std::printf("Converting 8 -> 16 bits (%d bytes -> %d bytes)\n", static_cast<int>(frames),
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
    std::printf("Error: '%s' is truncated\n", name_);
    return nullptr;
  }

  WAV* out_of_memory(uint64_t bytes) {
    std::printf("Error: no memory for %llu bytes of '%s'\n", static_cast<unsigned long long>(bytes),
                name_);
    return nullptr;
  }

  const char* name_;
  std::FILE* file_;
  uint64_t size_;
  uint64_t offset_ = 0;
};

}  // namespace

// ---------------------------------------------------------------------------
// Public functions

void wave_init(unsigned int rate, unsigned int bits) {
  sample_rate.store(static_cast<float>(rate));
  sample_bits.store(bits);
  for (VOICE& v : voices) {
    update_state(v, [](uint64_t s) { return pack(0, next_count(s), 0); });
    v.pan.store(0.0f);
    v.left.store(0);
    v.right.store(0);
    v.vol.store(0.0f);
    v.pitch.store(0.0f);
    v.step.store(0);
    v.wav.store(nullptr);
  }
  initialized.store(1);
}

WAV* wave_load(const char* fname) {
  if (!initialized.load()) return nullptr;
  const char* name = fname ? fname : "(null)";
  UniqueFile file(fname ? std::fopen(fname, "rb") : nullptr);
  struct stat info {};
  if (!file || fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
    std::printf("Error: no file '%s'?\n", name);
    return nullptr;
  }
  return Loader(name, file.get(), static_cast<uint64_t>(info.st_size)).load();
}

void wave_free(WAV* wav) {
  if (!wav) return;
  for (VOICE& v : voices) {
    if (v.wav.load() != wav) continue;
    update_state(v, [](uint64_t s) {
      return pack(pos_of(s), next_count(s), flags_of(s) & ~(VOICE_TAKEN | VOICE_PLAYING));
    });
    v.wav.store(nullptr);
  }
  wait_for_mixer();
  release_sample(wav);
}

int wave_play(WAV* wav, float vol, float pitch, float pan, int loop) {
  if (!initialized.load()) return -1;
  if (!wav) return -2;
  for (int index = 0; index < WAVE_VOICES; ++index) {
    VOICE& v = *voice_at(index);
    uint64_t cur = v.state.load();
    bool claimed = false;
    while (!(flags_of(cur) & VOICE_TAKEN)) {
      // Taken and silent, under a new change count: a mixing call still
      // holding the old voice drops its write-back.
      const uint64_t claim =
          pack(pos_of(cur), next_count(cur), (flags_of(cur) | VOICE_TAKEN) & ~VOICE_PLAYING);
      if (v.state.compare_exchange_weak(cur, claim)) {
        claimed = true;
        break;
      }
    }
    if (!claimed) continue;
    v.wav.store(wav);
    apply_vol(v, vol);
    apply_pitch(v, pitch);
    apply_pan(v, pan);
    const uint32_t flags =
        VOICE_TAKEN | VOICE_PLAYING | VOICE_ONESHOT | (loop ? VOICE_LOOP : 0u);
    update_state(v, [flags](uint64_t s) { return pack(0, next_count(s), flags); });
    return index;
  }
  return -1;
}

int wave_just_play(WAV* wav) { return wave_play(wav, 1.0f, 1.0f, 0.0f, 0); }

int wave_take_voice() {
  for (int index = 0; index < WAVE_VOICES; ++index) {
    VOICE& v = *voice_at(index);
    uint64_t cur = v.state.load();
    while (!(flags_of(cur) & VOICE_TAKEN)) {
      // The new owner keeps the voice: it must not free itself at the end of
      // a sample that an earlier wave_play left sounding.
      const uint64_t taken = (cur | VOICE_TAKEN) & ~static_cast<uint64_t>(VOICE_ONESHOT);
      if (v.state.compare_exchange_weak(cur, taken)) return index;
    }
  }
  return -1;
}

void wave_drop_voice(int voice) {
  if (VOICE* v = voice_at(voice)) clear_flags(*v, VOICE_TAKEN);
}

void wave_start_voice(int voice) {
  VOICE* v = voice_at(voice);
  if (!v) return;
  const WAV* wav = v->wav.load();
  if (!wav) return;
  update_state(*v, [wav](uint64_t s) {
    // A voice that reached the end of its sample starts over.
    if (pos_of(s) >= wav->frames) return pack(0, next_count(s), flags_of(s) | VOICE_PLAYING);
    return s | VOICE_PLAYING;
  });
}

void wave_stop_voice(int voice) {
  if (VOICE* v = voice_at(voice)) clear_flags(*v, VOICE_PLAYING);
}

void wave_set_voice_pan(int voice, float pan) {
  if (VOICE* v = voice_at(voice)) apply_pan(*v, pan);
}

void wave_set_voice_vol(int voice, float vol) {
  if (VOICE* v = voice_at(voice)) apply_vol(*v, vol);
}

void wave_set_voice_pitch(int voice, float pitch) {
  if (VOICE* v = voice_at(voice)) apply_pitch(*v, pitch);
}

void wave_set_voice_loop(int voice, int loop) {
  VOICE* v = voice_at(voice);
  if (!v) return;
  if (loop)
    set_flags(*v, VOICE_LOOP);
  else
    clear_flags(*v, VOICE_LOOP);
}

int wave_output(void* buffer, unsigned int frames) { return mix_all<1>(buffer, frames); }

int wave_output_stereo(void* interleaved_buffer, unsigned int frames) {
  return mix_all<2>(interleaved_buffer, frames);
}

void wave_drop_all() {
  for (VOICE& v : voices) clear_flags(v, VOICE_TAKEN | VOICE_PLAYING);
}

void wave_stop_wav(WAV* wav) {
  if (!wav) return;
  for (VOICE& v : voices)
    if (v.wav.load() == wav) clear_flags(v, VOICE_TAKEN | VOICE_PLAYING);
}

int wave_is_wav_playing(WAV* wav) {
  if (!wav) return 0;
  for (const VOICE& v : voices)
    if (v.wav.load() == wav && v.playing()) return 1;
  return 0;
}

int wave_count_playing() {
  if (!initialized.load()) return 0;
  return static_cast<int>(std::count_if(voices.begin(), voices.end(),
                                        [](const VOICE& v) { return v.playing(); }));
}

const VOICE* wave_voice(int voice) { return voice_at(voice); }
