// Sound effect slots: short synthesiser patches started by game or runtime
// code and advanced once per logic tick by a function of their own.
//
// The first stages of the runtime's synthesiser `synraw` are divided into
// equal ranges, one per slot. Starting an effect claims a slot on the logic
// thread; the effect function then runs on the audio thread, from
// synth_effects_update, and builds and drives its patch inside the slot's
// range. Its result says whether to keep calling it, to let its sound ring
// out, or to silence it at once. When every slot is busy, a new effect may
// take over a slot whose effect has released but is still sounding.
//
// Threads. Every field of a slot is atomic: the logic thread claims a slot
// and writes its parameters while the audio thread may read them, and the
// audio thread frees slots that the logic thread examines for take-over.
// A slot's function is published (release) only after the slot has been
// cleared, its stages disabled and its presets stored, and the audio thread
// loads it with acquire; the parameters a starter writes afterwards may be
// seen by the effect's first call or only by a later one.
#pragma once

#include <atomic>
#include <cstdint>

struct SYNTH_EFFECT_STATE;

// An effect function: called once per logic tick (at most) on the audio
// thread with its slot's state.
using SYNTH_EFFECT = int (*)(SYNTH_EFFECT_STATE* fx);

enum SYNTH_EFFECT_RESULT : int {
  SYNTH_EFFECT_STOP = -1,    // silence now: disable the slot's stages, free the slot
  SYNTH_EFFECT_CONT = 0,     // keep running (so does any other value)
  SYNTH_EFFECT_RELEASE = 1,  // free the slot, leave its stages sounding
};

// Most slots the module can have.
constexpr int SYNTH_EFFECTS_MAX = 32;

struct SYNTH_EFFECT_STATE {
  std::atomic<SYNTH_EFFECT> func;       // running effect; null when the slot is free
  std::atomic<uint32_t> base;           // first stage of the slot's range
  std::atomic<uint32_t> start_time;     // kel_ticks at the first update
  std::atomic<uint32_t> stop_time;      // kel_ticks when it released or stopped
  std::atomic<uint32_t> counter;        // free for the effect
  std::atomic<int8_t> priority;         // compared when a sounding slot is taken over
  std::atomic<int32_t> state;           // free; preset 0
  std::atomic<int32_t> i, j, k;         // free; preset 0
  std::atomic<int32_t> delay;           // free
  std::atomic<float> scale;             // preset 1.0
  std::atomic<float> pitch;             // preset 1.0
  std::atomic<float> freq, freq2, filt, filt_high, q, duty, duty2, ramp_start, ramp_end, a, d, s, r, value;
  std::atomic<void*> info;              // free
};

// Sets the slot count (`voices`: 0 means 4, above 32 means 32, negative
// keeps the current count) and size (`slots`: 0 means 8, above 256 means
// 256, negative keeps the current size), so that all slots fit in 256
// stages, and frees every slot without touching the stages.
void synth_effects_init(int voices, int slots);

// Starts an effect: the returned record is the claimed slot, or a dummy
// that is never run when no slot can be had (or the synthesiser is off).
// The starter fills in the parameters on the returned record.
SYNTH_EFFECT_STATE* synth_effect(SYNTH_EFFECT func);
SYNTH_EFFECT_STATE* synth_effect_ex(SYNTH_EFFECT func, char priority);

// Runs every slot's effect once, at most once per logic tick (kel_ticks),
// and frees the slots whose effects stop or release; about once a second of
// the runtime clock it also disables the stages of free slots whose sound
// has ended. Does nothing while the synthesiser is off. Audio thread: takes
// no lock and allocates nothing itself (effect functions must not either).
void synth_effects_update() noexcept;

// Number of slots whose stages are audible.
int synth_effects_active();

// First stage index after the slots; stages from here up are free for
// other patches.
int synth_effects_tail_slot();

// Claims a slot for `func`: the slot number, -1 when none can be had, -2
// when `func` is null. With `force`, a sounding slot of equal priority may
// be taken over as well as one of lower priority.
int get_effect_ex(SYNTH_EFFECT func, int force, char priority);
// get_effect_ex without and then with force, logging the take-over or the
// failure.
int get_effect(SYNTH_EFFECT func, char priority);

// The growl: a ramp-swept triangle pair through a resonant low-pass under a
// released envelope. Builds five stages and releases at once.
int growl_effect(SYNTH_EFFECT_STATE* fx);

// Starts a growl at `freq` Hz whose envelope releases over `length` ms;
// returns the slot (or the dummy).
SYNTH_EFFECT_STATE* growl(float freq, float length);
