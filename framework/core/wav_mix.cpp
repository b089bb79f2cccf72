// The sample player's mixers: each call adds every playing voice of the
// bank into the caller's buffer, on the audio thread. The voice bank and its
// protocol are described in wav_bank.h; the voice operations of the logic
// thread are in wav-play.cpp.
#include "framework/core/wav-play.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "framework/core/wav_bank.h"

namespace {

using wav_bank::count_of;
using wav_bank::flags_of;
using wav_bank::mix_sequence;
using wav_bank::pack;
using wav_bank::pos_of;
using wav_bank::voices;

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

}  // namespace

int wave_output(void* buffer, unsigned int frames) noexcept { return mix_all<1>(buffer, frames); }

int wave_output_stereo(void* interleaved_buffer, unsigned int frames) noexcept {
  return mix_all<2>(interleaved_buffer, frames);
}
