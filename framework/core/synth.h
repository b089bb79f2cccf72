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

// Every stage operation takes the synthesiser first and, where it names a
// stage, the stage index `i` second. Results: 0 on success, -1 for a stage
// index of 256 or more (or a null synthesiser), -2 for an input index of 256
// or more (a negative input index disconnects); a refused call changes
// nothing. Frequencies are in Hz, times in milliseconds. A constructor sets
// the fields it names and leaves the others as the stage held them.

// Oscillators.
// Make stage `i` an oscillator of that kind, enabled and not mixed, with
// amplitude 1, offset 0, every input disconnected and phase 0 (the
// triangle: 0.75, where it crosses 0 rising); the triangle and the pulse get
// duty 0.5. A frequency of 0 or less becomes the smallest normal float times
// the rate: the oscillator stands still. The noise stage draws a new value
// eight times per cycle of `freq`.
int syn_osc_sine(SYN* syn, unsigned int i, float freq);
int syn_osc_triangle(SYN* syn, unsigned int i, float freq);
int syn_osc_pulse(SYN* syn, unsigned int i, float freq);
int syn_osc_noise(SYN* syn, unsigned int i, float freq);
// A new frequency (an enabled noise stage steps eight times as fast); a
// frequency of 0 or less (or not a number) is refused with -1.
int syn_osc_freq(SYN* syn, unsigned int i, float freq);
// Clamps the duty cycle to 0..1 and stores it with the triangle's slopes:
// 2 / duty rising and 2 / (1 - duty) falling (infinite at the ends).
int syn_osc_duty(SYN* syn, unsigned int i, float duty);
// The constant amplitude and offset, used while the matching input is not
// connected.
int syn_osc_amp(SYN* syn, unsigned int i, float amp);
int syn_osc_off(SYN* syn, unsigned int i, float off);
// Connect the amplitude, offset, sync, frequency or duty input to stage
// `in`. A frequency input is read as a phase step in cycles per sample
// (syn_freqval, syn_ramp_freq); a duty input as a duty (its magnitude); an
// oscillator restarts in a sample in which its sync stage restarted.
int syn_osc_in_amp(SYN* syn, unsigned int i, int in);
int syn_osc_in_off(SYN* syn, unsigned int i, int in);
int syn_osc_in_sync(SYN* syn, unsigned int i, int in);
int syn_osc_in_freq(SYN* syn, unsigned int i, int in);
int syn_osc_in_duty(SYN* syn, unsigned int i, int in);

// Filters.
// Make stage `i` a high-pass or a resonant low-pass filter, enabled and not
// mixed, resonance 0, every input disconnected, with cutoff `freq` (below
// 1 Hz counts as 1 Hz) at the synthesiser's adjusted rate. The previous
// input and output are kept.
int syn_filt_highpass(SYN* syn, unsigned int i, float freq);
int syn_filt_lowpass(SYN* syn, unsigned int i, float freq);
// A new cutoff |freq| at the sample rate (no 1 Hz floor): a low-pass stage,
// enabled or not, takes the low-pass coefficient, any other stage the
// high-pass one. A cutoff of 0 freezes a low-pass and opens a high-pass.
int syn_filt_cutoff(SYN* syn, unsigned int i, float freq);
// The resonance, read by the low-pass.
int syn_filt_q(SYN* syn, unsigned int i, float q);
// Connect the signal, cutoff or resonance input. A cutoff input supplies
// the filter coefficient itself (its magnitude), not a frequency.
int syn_filt_in(SYN* syn, unsigned int i, int in);
int syn_filt_in_cutoff(SYN* syn, unsigned int i, int in);
int syn_filt_in_q(SYN* syn, unsigned int i, int in);

// Envelope: times in milliseconds, sustain level 0..1.
// Makes stage `i` an envelope that multiplies its signal input (or outputs
// its level when none is connected): enabled, not mixed, gate open, not
// ended, every input disconnected, level and output 0. The sustain level is
// clamped to 0..1, negative times count as 0, and a time of 0 crosses its
// part in one sample. The envelope waits in its finished step, silent,
// until syn_reset starts its attack.
int syn_adsr(SYN* syn, unsigned int i, float a, float d, float s, float r);
// Recompute one step from a time (negative counts as 0). Decay and release
// use the sustain level stored at the call: set a new level first.
int syn_adsr_attack(SYN* syn, unsigned int i, float a);
int syn_adsr_decay(SYN* syn, unsigned int i, float d);
int syn_adsr_release(SYN* syn, unsigned int i, float r);
// A new sustain level, clamped to 0..1; the decay and release steps are not
// recomputed.
int syn_adsr_sustain(SYN* syn, unsigned int i, float s);
// Connects the signal that the envelope multiplies.
int syn_adsr_in(SYN* syn, unsigned int i, int in);
// Closes (non-zero) or opens (0) the gate: while it is closed, an envelope
// in its sustain step stays there.
int syn_adsr_hold(SYN* syn, unsigned int i, int enable);
// The current step letter ('a' attack, 'd' decay, 's' sustain, 'r' release,
// 'f' finished); 0 when the stage is not an enabled envelope, and for 's'
// and 'r' when the sustain level is 0 or below; -1 for a bad index.
char syn_adsr_get_step(SYN* syn, unsigned int i);
// The sustain level; 0.0 when the stage is not an enabled envelope; -1.0
// for a bad index.
float syn_adsr_get_sustain(SYN* syn, unsigned int i);

// Ramps, arithmetic and constants.
// Makes stage `i` a ramp, enabled and not mixed, whose output starts at
// `start` and moves by a fixed step each sample so as to reach `end` in
// `ms`; once it passes `end` it stays there and sets the stage's `end`
// flag. An end of 0 or below becomes the smallest normal float; a ramp with
// nowhere to go stands still.
int syn_ramp(SYN* syn, unsigned int i, float start, float end, float ms);
// syn_ramp with `start` and `end` in Hz turned into cycles per sample (each
// capped at 1): a ramp that drives an oscillator's frequency input.
int syn_ramp_freq(SYN* syn, unsigned int i, float start, float end, float ms);
// Make stage `i` the product or the sum of stages `a` and `b` (0 while
// either is disconnected), enabled and not mixed. -1 for a bad i, -2 for
// a >= 256, -3 for b >= 256.
int syn_math_mul(SYN* syn, unsigned int i, int a, int b);
int syn_math_add(SYN* syn, unsigned int i, int a, int b);
// Makes stage `i` the constant `n`, enabled, every input disconnected; its
// mix flag is kept.
int syn_math_val(SYN* syn, unsigned int i, float n);
// A frequency as cycles per sample: freq / sample rate; 0 for a null
// synthesiser.
float syn_freqval(SYN* syn, float freq);

// Stage control and inspection.
// The note-on: restarts stage `i` by its kind (oscillators to their
// starting phase, an envelope to its attack from level 0, a ramp to its
// start), sets its reset flag, clears its end flag, opens its gate and
// enables it.
int syn_reset(SYN* syn, unsigned int i);
// Marks the stage's output for mixing (non-zero) or not.
int syn_mix(SYN* syn, unsigned int i, int enable);
// Enables or disables the stage, keeping its kind and settings; a disabled
// stage is skipped by syn_update and keeps its last output.
int syn_enable(SYN* syn, unsigned int i, int enable);
// syn_enable on every index from `first` to `last`, both included; indices
// of 256 or more are skipped.
void syn_enable_range(SYN* syn, unsigned int first, unsigned int last, int flag);
// Read-only view of stage `i`, valid as long as the synthesiser; null for a
// bad index.
const SYNFUNC* syn_stage(SYN* syn, unsigned int i);
// -1 when some stage of the `count` stages from `slot` is audible (enabled,
// not ended and mixed), else 0; 0 also for a count of 0, a range past the
// last stage or a null synthesiser.
int syn_check_active(SYN* syn, unsigned int slot, unsigned int count);
// Disables the `count` stages from `slot` when every mixed stage among them
// is disabled and ended, returning -2 when one of the stages was still
// enabled, else -1. Returns 0 and changes nothing when a mixed stage is
// enabled or not ended, when the range runs past the last stage or for a
// null synthesiser; -1 for a count of 0.
int syn_disable_inactive(SYN* syn, unsigned int slot, unsigned int count);
// The highest index whose stage is enabled, or -1.
int syn_find_last_used(SYN* syn);
// Copies `count` whole stages from index `srci` of `src` to index `desti` of
// `dest`, adding `desti` to every connected input, so a block copied from
// stage 0 keeps its wiring at any place (an input moved past the last
// stage is disconnected). Returns 0 (also for a count of 0), -1 when
// srci + count passes the last stage, -2 likewise for desti, -3 for a null
// synthesiser. Overlapping ranges copy as if through a temporary.
int syn_copy(SYN* src, unsigned int srci, SYN* dest, unsigned int desti, unsigned int count);

// Synthesiser.
// Clears the whole synthesiser (every stage unused, no beat callback, noise
// generator 0) and sets the rate (also the adjusted rate), oversampling 1,
// the resonance scale 1, the master volume (clamped to 0..1) and the number
// of stages evaluated (at most 256). Logs "syn_init sample rate <rate>".
// Null is ignored. Not while syn_update runs on it.
void syn_init(SYN* syn, unsigned int rate, float vol, unsigned int stages);
// The master volume, clamped to 0..1. Null is ignored.
void syn_vol(SYN* syn, float vol);
// Installs `callback` to run inside syn_update, on the audio thread, after
// the next sample and then every rate / bps samples (truncated), and writes
// "tempo_samples_per_beat <n> (<bps> bps)" to the log's stream without the
// log prefix; a null callback or a bps not above 0 removes the callback.
// Returns 1.
int syn_set_beat_callback(SYN* syn, SYN_BEAT_CALLBACK callback, float bps);

// Renders `count` signed 16-bit mono samples into `buf` (the caller's, at
// least `count` values, used during the call only): each sample evaluates
// stages 0 to stages - 1 once, in order, sums the mixed ones, scales the sum
// by the master volume and clamps it; the beat callback runs inside. Null
// `syn` or `buf`, or a count of 0, does nothing. Audio thread (no two
// updates of one synthesiser at once): allocates nothing, takes no lock,
// never waits.
void syn_update(SYN* syn, void* buf, unsigned int count) noexcept;
