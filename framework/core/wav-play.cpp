// The sample player's face: the voice operations of the logic thread. The
// voice bank and the protocol that keeps it sound without a lock are in
// wav_bank.h, the mixers of the audio thread in wav_mix.cpp and the loader
// in wav_load.cpp.
#include "framework/core/wav-play.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "framework/core/wav_bank.h"
#include "framework/core/wav_load.h"

std::array<VOICE, WAVE_VOICES> wav_bank::voices{};
std::atomic<uint32_t> wav_bank::mix_sequence{0};

namespace {

using wav_bank::flags_of;
using wav_bank::mix_sequence;
using wav_bank::next_count;
using wav_bank::pack;
using wav_bank::pos_of;
using wav_bank::voices;

std::atomic<int> initialized{0};
std::atomic<float> sample_rate{44100.0f};
std::atomic<unsigned int> sample_bits{16};

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

// Returns once no mixing call that may have seen the voices as they were
// before this call is still running.
void wait_for_mixer() {
  const uint32_t seen = mix_sequence.load();
  if ((seen & 1u) == 0) return;
  while (mix_sequence.load() == seen) std::this_thread::yield();
}

}  // namespace

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
  return wav_load_file(fname, sample_bits.load());
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
  wav_release(wav);
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
