// The synthesiser's evaluation: syn_update renders every stage once per
// output sample, on the audio thread. The stage operations that build and
// configure the stages are in synth.cpp.
#include "framework/core/synth.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "framework/core/synth_stage.h"

namespace {

using synth_stage::connected;
using synth_stage::kRelaxed;
using synth_stage::kTwoPi;
using synth_stage::triangle_start_phase;

inline float input_of(const SYN& syn, int32_t index) { return syn.stage[static_cast<uint32_t>(index)].out; }

// Input value when connected, else the stage's own constant.
inline float input_or(const SYN& syn, int32_t index, float fallback) {
  return connected(index) ? input_of(syn, index) : fallback;
}

// One phase step of an oscillator; true when its cycle restarted (wrapped
// or was synced).
template <int Kind>
inline bool osc_step(const SYN& syn, SYNFUNC& s, float oversample) {
  SYNOSC& o = s.osc;
  o.phase += o.phasestep;
  if constexpr (Kind == SYN_PULSE || Kind == SYN_TRIANGLE) {
    if (connected(s.osc_in.duty)) {
      o.duty = std::fabs(input_of(syn, s.osc_in.duty));
      if constexpr (Kind == SYN_TRIANGLE) {
        o.steprise = 2.0f / o.duty;
        o.stepfall = 2.0f / (1.0f - o.duty);
      }
    }
  }
  if (connected(s.osc_in.freq)) {
    const float step = input_of(syn, s.osc_in.freq);
    if constexpr (Kind == SYN_SINE)
      o.phasestep = step;
    else if constexpr (Kind == SYN_NOISE)
      o.phasestep = 16.0f * step;
    else
      o.phasestep = step / oversample;
  }
  if (o.phase >= 1.0f || o.phase <= 0.0f) {
    float phase = std::fmod(o.phase, 1.0f);
    if (phase < 0.0f) phase += 1.0f;
    o.phase = phase;
    return true;
  }
  if constexpr (Kind != SYN_NOISE) {
    if (connected(s.osc_in.sync) && syn.stage[static_cast<uint32_t>(s.osc_in.sync)].reset != 0) {
      o.phase = triangle_start_phase(o.duty);
      return true;
    }
  }
  return false;
}

inline float eval_sine(SYN& syn, SYNFUNC& s) {
  s.reset = osc_step<SYN_SINE>(syn, s, 1.0f) ? 1 : 0;
  const float wave = static_cast<float>(std::sin(kTwoPi * static_cast<double>(s.osc.phase)));
  return wave * input_or(syn, s.osc_in.amp, s.osc.amp) + input_or(syn, s.osc_in.off, s.osc.off);
}

inline float eval_noise(SYN& syn, SYNFUNC& s) {
  const bool wrapped = osc_step<SYN_NOISE>(syn, s, 1.0f);
  s.reset = wrapped ? 1 : 0;
  if (wrapped) {
    const uint32_t next = static_cast<uint32_t>(syn.randnum) * 1103515245u + 12345u;
    syn.randnum = static_cast<int32_t>(next);
    s.osc.randval = static_cast<float>(next & 0xFFFFu) / 32767.0f - 1.0f;
  }
  return s.osc.randval * input_or(syn, s.osc_in.amp, s.osc.amp) + input_or(syn, s.osc_in.off, s.osc.off);
}

template <int Kind>
inline float eval_oversampled(SYN& syn, SYNFUNC& s, unsigned int oversample, float oversample_f,
                              float oversample_recip) {
  const float amp = input_or(syn, s.osc_in.amp, s.osc.amp);
  const float off = input_or(syn, s.osc_in.off, s.osc.off);
  SYNOSC& o = s.osc;
  float sum = 0.0f;
  bool restarted = false;
  for (unsigned int k = 0; k < oversample; ++k) {
    restarted = osc_step<Kind>(syn, s, oversample_f) || restarted;
    float wave;
    if constexpr (Kind == SYN_PULSE)
      wave = o.duty > o.phase ? 1.0f : -1.0f;
    else
      wave = o.duty > o.phase ? 1.0f - o.phase * o.steprise : 1.0f - (1.0f - o.phase) * o.stepfall;
    sum += wave * amp + off;
  }
  s.reset = restarted ? 1 : 0;
  return sum * oversample_recip;
}

inline float signal_of(const SYN& syn, int32_t index) { return input_or(syn, index, 0.0f); }

inline float eval_highpass(const SYN& syn, SYNFUNC& s) {
  SYNFILTER& f = s.filt;
  if (connected(s.filt_in.cutoff)) f.alpha = std::fabs(input_of(syn, s.filt_in.cutoff));
  const float x = signal_of(syn, s.filt_in.signal);
  const float value = f.alpha * (s.out + x - f.oldin);
  f.oldin = x;
  return value;
}

inline float eval_lowpass(const SYN& syn, SYNFUNC& s, float q_alpha) {
  SYNFILTER& f = s.filt;
  if (connected(s.filt_in.cutoff)) f.alpha = std::fabs(input_of(syn, s.filt_in.cutoff));
  if (connected(s.filt_in.q)) f.q = std::fabs(input_of(syn, s.filt_in.q));
  const float x = signal_of(syn, s.filt_in.signal);
  const float y1 = s.out;
  const float value = y1 + f.alpha * (x - y1) + f.q * q_alpha * (y1 - f.oldout);
  f.oldout = y1;
  return value;
}

inline float eval_envelope(const SYN& syn, SYNFUNC& s) {
  SYNADSR& e = s.adsr;
  float level = e.level;
  bool finished = false;
  switch (e.step) {
    case 'a':
      level += e.attack;
      if (level >= 1.0f) {
        level = 1.0f;
        e.step = 'd';
      }
      break;
    case 'd':
      level -= e.decay;
      if (e.sustain >= level) {
        level = e.sustain;
        e.step = 's';
      }
      break;
    case 's':
      if (s.hold.load(kRelaxed) == 0) e.step = 'r';
      break;
    case 'r':
      level -= e.release;
      if (!(level > 0.0f)) {
        e.step = 'f';
        finished = true;
      }
      break;
    default: finished = true; break;
  }
  if (finished) {
    s.end.store(1, kRelaxed);
    s.type.store(static_cast<int8_t>(-SYN_ADSR), kRelaxed);
    level = 0.0f;
  }
  e.level = level;
  return connected(s.adsr_in.signal) ? level * input_of(syn, s.adsr_in.signal) : level;
}

inline float eval_ramp(SYNFUNC& s) {
  const SYNRAMP& r = s.ramp;
  float value = s.out + r.step;
  if (r.step > 0.0f) {
    if (value > r.end) {
      value = r.end;
      s.end.store(1, kRelaxed);
    }
  } else if (value < r.end) {
    value = r.end;
    s.end.store(1, kRelaxed);
  }
  return value;
}

inline float eval_math(const SYN& syn, const SYNFUNC& s, bool product) {
  const int32_t a = s.math_in.a;
  const int32_t b = s.math_in.b;
  if (!connected(a) || !connected(b)) return 0.0f;
  return product ? input_of(syn, a) * input_of(syn, b) : input_of(syn, a) + input_of(syn, b);
}

// The mix as a signed 16-bit sample: clamped to +-32767 outside -1..1, else
// floor(32767 * v) (the offset makes truncation round down for negative
// values too). A value that is not a number is silence.
inline int16_t to_sample(float v) {
  if (v > 1.0f) return 32767;
  if (v < -1.0f) return -32767;
  if (v != v) return 0;
  return static_cast<int16_t>(static_cast<int32_t>(static_cast<double>(v) * 32767.0 + 32767.0 + 1.0) - 32768);
}

}  // namespace

void syn_update(SYN* syn, void* buf, unsigned int count) noexcept {
  if (syn == nullptr || buf == nullptr || count == 0) return;
  auto* out = static_cast<int16_t*>(buf);
  SYN& s = *syn;

  // Read once for the whole buffer.
  const unsigned int stages = std::min(s.stages.load(kRelaxed), SYN_STAGES);
  const unsigned int oversample = s.oversample == 0 ? 1u : s.oversample;
  const float oversample_f = static_cast<float>(oversample);
  const float oversample_recip = 1.0f / oversample_f;
  const float vol = s.vol.load(kRelaxed);
  const float q_alpha = s.q_alpha;

  for (unsigned int n = 0; n < count; ++n) {
    float mix = 0.0f;
    for (unsigned int j = 0; j < stages; ++j) {
      SYNFUNC& st = s.stage[j];
      float value;
      switch (st.type.load(kRelaxed)) {
        case SYN_SINE: value = eval_sine(s, st); break;
        case SYN_NOISE: value = eval_noise(s, st); break;
        case SYN_PULSE:
          value = eval_oversampled<SYN_PULSE>(s, st, oversample, oversample_f, oversample_recip);
          break;
        case SYN_TRIANGLE:
          value = eval_oversampled<SYN_TRIANGLE>(s, st, oversample, oversample_f, oversample_recip);
          break;
        case SYN_HIGHPASS: value = eval_highpass(s, st); break;
        case SYN_LOWPASS: value = eval_lowpass(s, st, q_alpha); break;
        case SYN_ADSR: value = eval_envelope(s, st); break;
        case SYN_RAMP: value = eval_ramp(st); break;
        case SYN_MUL: value = eval_math(s, st, true); break;
        case SYN_ADD: value = eval_math(s, st, false); break;
        case SYN_VAL: value = st.math.n; break;
        default: continue;  // unused, disabled or unknown: keeps its out
      }
      st.out = value;
      if (st.mix.load(kRelaxed) != 0) mix += value;
    }
    out[n] = to_sample(mix * vol);

    if (SYN_BEAT_CALLBACK beat = s.tempo_callback.load(kRelaxed)) {
      int64_t left = static_cast<int64_t>(s.tempo_counter.load(kRelaxed)) - 1;
      if (left <= 0) {
        beat(syn);
        left = std::min<uint32_t>(s.tempo_samples_per_beat.load(kRelaxed), 2147483647u);
      }
      s.tempo_counter.store(static_cast<int32_t>(left), kRelaxed);
    }
  }
}
