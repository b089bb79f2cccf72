// The modular synthesiser: one SYN record holds global settings and 256
// stages (SYNFUNC). A stage is an oscillator, a filter, an envelope, a ramp
// or a small arithmetic unit; stages are wired by index and the ones marked
// for mixing are summed into a mono signed 16-bit output by syn_update.
//
// Threads. syn_update runs on the audio thread. The logic thread claims and
// inspects stage ranges (syn_enable_range, syn_check_active,
// syn_disable_inactive) and may gate envelopes (syn_adsr_hold), change the
// master volume (syn_vol) or the beat callback while it runs. The words both
// threads touch are atomic:
//   SYNFUNC: type (kind and enabled state), hold, end, mix;
//   SYN:     vol, stages, tempo_samples_per_beat, tempo_counter,
//            tempo_callback.
// Every other field (a stage's reset flag, pan, inputs, parameters and out;
// the synthesiser's rates, q_alpha and noise generator) belongs to the
// thread that renders: it is written by syn_update and by code running on
// the audio thread (the sound effect functions), or by anyone while no
// syn_update of that synthesiser runs (for instance before the stream
// starts, or on a template synthesiser that is only a syn_copy source).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

// Number of stages in every synthesiser.
constexpr unsigned SYN_STAGES = 256;

// Stage kinds: the type code is the ASCII code of a letter. 0 is an unused
// stage; a negative code is a disabled stage of the kind |code|.
enum SYN_TYPE : int8_t {
  SYN_UNUSED = 0,
  SYN_SINE = 'S',
  SYN_TRIANGLE = 'T',
  SYN_PULSE = 'P',
  SYN_NOISE = 'N',
  SYN_HIGHPASS = 'H',
  SYN_LOWPASS = 'L',
  SYN_ADSR = 'A',
  SYN_RAMP = 'R',
  SYN_MUL = '*',
  SYN_ADD = '+',
  SYN_VAL = '#',
};

// Input records: five stage indices seen under the names of each kind.
// A negative index (normally -1) is an input that is not connected.
struct SYNOSC_INP {
  int32_t amp, off, sync, freq, duty;
};
struct SYNFILTER_INP {
  int32_t signal, cutoff, q;
};
struct SYNMATH_INP {
  int32_t a, b;
};
struct SYNADSR_INP {
  int32_t signal;
};
struct SYNARRAY_INP {
  int32_t signal[5];
};

// Parameter records of each kind, sharing one place in the stage.
struct SYNOSC {
  SYNOSC_INP input;  // not used
  float freq;        // Hz
  float amp;         // used while no amplitude input is connected
  float off;         // used while no offset input is connected
  float duty;        // 0..1
  float phasestep;   // cycles per step
  float period;      // set to 1, not read
  float steprise;    // triangle slopes
  float stepfall;
  float randval;     // the noise stage's held value
  float phase;       // 0..1
};
struct SYNFILTER {
  float alpha;   // filter coefficient
  float q;       // resonance
  float oldin;   // previous input
  float oldout;  // output before the previous one
};
struct SYNMATH {
  float n;  // the constant
};
struct SYNRAMP {
  float start, end, step;
};
struct SYNADSR {
  char step;  // 'a' attack, 'd' decay, 's' sustain, 'r' release, 'f' finished
  float attack;   // level change per sample
  float decay;    // level change per sample
  float sustain;  // level 0..1
  float release;  // level change per sample
  float level;    // current envelope level
};

// One stage.
struct SYNFUNC {
  std::atomic<int8_t> type;  // SYN_TYPE code; negative when disabled
  uint8_t reset{};           // the oscillator restarted in the last sample
  std::atomic<uint8_t> hold;  // envelope gate
  std::atomic<uint8_t> end;   // ramp reached its end / envelope finished
  std::atomic<uint8_t> mix;   // output is added to the synthesiser's output
  float pan{};                // stored, not used (the output is mono)
  union {
    SYNOSC_INP osc_in{};
    SYNFILTER_INP filt_in;
    SYNMATH_INP math_in;
    SYNADSR_INP adsr_in;
    SYNARRAY_INP in;
  };
  union {
    SYNOSC osc{};
    SYNFILTER filt;
    SYNMATH math;
    SYNRAMP ramp;
    SYNADSR adsr;
  };
  float out{};  // latest output value
};

struct SYN;
using SYN_BEAT_CALLBACK = void (*)(SYN* syn);

struct SYN {
  std::atomic<float> vol;  // master volume 0..1
  int32_t randnum{};       // noise generator state
  uint32_t oversample{};   // sub-steps per sample for pulse and triangle
  uint32_t sample_rate{};  // Hz
  uint32_t sample_size{};  // not used
  float q_alpha{};         // scale of the low-pass resonance term
  float adjusted_rate{};   // rate used by the filter constructors
  std::atomic<uint32_t> stages;  // stages evaluated per sample, from 0
  std::atomic<uint32_t> tempo_samples_per_beat;
  std::atomic<int32_t> tempo_counter;  // samples left until the next beat
  std::atomic<SYN_BEAT_CALLBACK> tempo_callback;
  std::array<SYNFUNC, SYN_STAGES> stage;
};

// The runtime's synthesiser, rendered by the audio stream.
extern SYN synraw;

// Results: 0 on success, -1 for a stage index of 256 or more, -2 for an
// input index of 256 or more (a negative input index disconnects).

// Oscillators.
int syn_osc_sine(SYN* syn, unsigned int i, float freq);
int syn_osc_triangle(SYN* syn, unsigned int i, float freq);
int syn_osc_pulse(SYN* syn, unsigned int i, float freq);
int syn_osc_noise(SYN* syn, unsigned int i, float freq);
int syn_osc_freq(SYN* syn, unsigned int i, float freq);
int syn_osc_duty(SYN* syn, unsigned int i, float duty);
int syn_osc_amp(SYN* syn, unsigned int i, float amp);
int syn_osc_off(SYN* syn, unsigned int i, float off);
int syn_osc_in_amp(SYN* syn, unsigned int i, int in);
int syn_osc_in_off(SYN* syn, unsigned int i, int in);
int syn_osc_in_sync(SYN* syn, unsigned int i, int in);
int syn_osc_in_freq(SYN* syn, unsigned int i, int in);
int syn_osc_in_duty(SYN* syn, unsigned int i, int in);

// Filters.
int syn_filt_highpass(SYN* syn, unsigned int i, float freq);
int syn_filt_lowpass(SYN* syn, unsigned int i, float freq);
int syn_filt_cutoff(SYN* syn, unsigned int i, float freq);
int syn_filt_q(SYN* syn, unsigned int i, float q);
int syn_filt_in(SYN* syn, unsigned int i, int in);
int syn_filt_in_cutoff(SYN* syn, unsigned int i, int in);
int syn_filt_in_q(SYN* syn, unsigned int i, int in);

// Envelope: times in milliseconds, sustain level 0..1.
int syn_adsr(SYN* syn, unsigned int i, float a, float d, float s, float r);
int syn_adsr_attack(SYN* syn, unsigned int i, float a);
int syn_adsr_decay(SYN* syn, unsigned int i, float d);
int syn_adsr_release(SYN* syn, unsigned int i, float r);
int syn_adsr_sustain(SYN* syn, unsigned int i, float s);
int syn_adsr_in(SYN* syn, unsigned int i, int in);
int syn_adsr_hold(SYN* syn, unsigned int i, int enable);
char syn_adsr_get_step(SYN* syn, unsigned int i);
float syn_adsr_get_sustain(SYN* syn, unsigned int i);

// Ramps, arithmetic and constants.
int syn_ramp(SYN* syn, unsigned int i, float start, float end, float ms);
int syn_ramp_freq(SYN* syn, unsigned int i, float start, float end, float ms);
// -1 for a bad i, -2 for a >= 256, -3 for b >= 256.
int syn_math_mul(SYN* syn, unsigned int i, int a, int b);
int syn_math_add(SYN* syn, unsigned int i, int a, int b);
int syn_math_val(SYN* syn, unsigned int i, float n);
// A frequency as cycles per sample.
float syn_freqval(SYN* syn, float freq);

// Stage control and inspection.
int syn_reset(SYN* syn, unsigned int i);
int syn_mix(SYN* syn, unsigned int i, int enable);
int syn_enable(SYN* syn, unsigned int i, int enable);
void syn_enable_range(SYN* syn, unsigned int first, unsigned int last, int flag);
const SYNFUNC* syn_stage(SYN* syn, unsigned int i);
int syn_check_active(SYN* syn, unsigned int slot, unsigned int count);
int syn_disable_inactive(SYN* syn, unsigned int slot, unsigned int count);
int syn_find_last_used(SYN* syn);
// -1 when srci + count passes the last stage, -2 likewise for desti, -3 for
// a null synthesiser. Overlapping ranges copy as if through a temporary.
int syn_copy(SYN* src, unsigned int srci, SYN* dest, unsigned int desti, unsigned int count);

// Synthesiser.
void syn_init(SYN* syn, unsigned int rate, float vol, unsigned int stages);
void syn_vol(SYN* syn, float vol);
int syn_set_beat_callback(SYN* syn, SYN_BEAT_CALLBACK callback, float bps);

// Renders `count` signed 16-bit mono samples into `buf` (the caller's, at
// least `count` values, used during the call only): each sample evaluates
// stages 0 to stages - 1 once, in order, sums the mixed ones, scales the sum
// by the master volume and clamps it; the beat callback runs inside. Null
// `syn` or `buf`, or a count of 0, does nothing. Audio thread (no two
// updates of one synthesiser at once): allocates nothing, takes no lock,
// never waits.
void syn_update(SYN* syn, void* buf, unsigned int count) noexcept;
