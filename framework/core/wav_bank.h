// The sample player's voice bank, shared by its two sides: the voice
// operations of the logic thread (wav-play.cpp) and the mixers of the audio
// thread (wav_mix.cpp). Not a public header: include wav-play.h.
//
// Threads: the bank and the sequence counter are atomic words that both
// threads use by the protocol below; the helpers are pure.
//
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
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "framework/core/wav-play.h"

namespace wav_bank {

static_assert(std::atomic<uint64_t>::is_always_lock_free);
static_assert(std::atomic<uint32_t>::is_always_lock_free);
static_assert(std::atomic<int32_t>::is_always_lock_free);
static_assert(std::atomic<float>::is_always_lock_free);
static_assert(std::atomic<WAV*>::is_always_lock_free);

// The 32 voices (defined in wav-play.cpp).
extern std::array<VOICE, WAVE_VOICES> voices;

// Odd while a mixing call is running.
extern std::atomic<uint32_t> mix_sequence;

// The state word: bits 0..3 flags, 4..31 the change count, 32..63 the
// position in whole sample frames.
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

}  // namespace wav_bank
