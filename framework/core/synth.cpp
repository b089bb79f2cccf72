#include "framework/core/synth.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <type_traits>

#include "framework/core/log.h"
#include "framework/core/synth_stage.h"

// The stage operations: they build, configure, enable and inspect stages
// (mostly on the main thread; see synth.h). The evaluation that renders the
// stages on the audio thread is in synth_update.cpp.

constinit SYN synraw;

namespace {

using synth_stage::kRelaxed;
using synth_stage::kTwoPi;
using synth_stage::triangle_start_phase;

// The smallest normal float: a frequency or ramp end that must not be 0.
constexpr float kSmallestNormal = 1.1754944e-38f;
constexpr int kStages = static_cast<int>(SYN_STAGES);

// The audio thread must never wait for a lock hidden inside an atomic.
static_assert(std::atomic<float>::is_always_lock_free);
static_assert(std::atomic<int8_t>::is_always_lock_free);
static_assert(std::atomic<uint8_t>::is_always_lock_free);
static_assert(std::atomic<uint32_t>::is_always_lock_free);
static_assert(std::atomic<int32_t>::is_always_lock_free);
static_assert(std::atomic<SYN_BEAT_CALLBACK>::is_always_lock_free);

// syn_copy moves the two unions as raw bytes: the largest member of each
// covers the whole union.
static_assert(sizeof(SYNARRAY_INP) >= sizeof(SYNOSC_INP) && sizeof(SYNARRAY_INP) >= sizeof(SYNFILTER_INP) &&
              sizeof(SYNARRAY_INP) >= sizeof(SYNMATH_INP) && sizeof(SYNARRAY_INP) >= sizeof(SYNADSR_INP));
static_assert(sizeof(SYNOSC) >= sizeof(SYNFILTER) && sizeof(SYNOSC) >= sizeof(SYNMATH) &&
              sizeof(SYNOSC) >= sizeof(SYNRAMP) && sizeof(SYNOSC) >= sizeof(SYNADSR));

SYNFUNC* stage_at(SYN* syn, unsigned int i) { return (syn != nullptr && i < SYN_STAGES) ? &syn->stage[i] : nullptr; }

// The prologue of every operation on one stage: runs `op` on stage `i` and
// returns what it returns (0 when it returns nothing), or -1 in the
// operation's result type, changing nothing, for a null synthesiser or an
// index of 256 or more.
template <typename Op>
auto on_stage(SYN* syn, unsigned int i, Op op) {
  using Result = std::invoke_result_t<Op, SYNFUNC&>;
  SYNFUNC* s = stage_at(syn, i);
  if constexpr (std::is_void_v<Result>) {
    if (s == nullptr) return -1;
    op(*s);
    return 0;
  } else {
    if (s == nullptr) return static_cast<Result>(-1);
    return op(*s);
  }
}

// An input argument of 256 or more is refused; any negative one disconnects.
bool bad_input(int in) { return in >= kStages; }
int32_t input_index(int in) { return in < 0 ? -1 : in; }

int kind_of(const SYNFUNC& s) {
  const int type = s.type.load(kRelaxed);
  return type < 0 ? -type : type;
}

int8_t signed_kind(int8_t type, bool enabled) {
  const int kind = type < 0 ? -type : type;
  return static_cast<int8_t>(enabled ? kind : -kind);
}

void disconnect_all(SYNFUNC& s) {
  for (int32_t& index : s.in.signal) index = -1;
}

float rate_of(const SYN& syn) { return static_cast<float>(syn.sample_rate); }

// Pulse and triangle divide their step among the sub-steps; a count of 0
// would never advance, so it counts as 1.
float oversample_of(const SYN& syn) { return static_cast<float>(syn.oversample == 0 ? 1u : syn.oversample); }

// Level change per sample that crosses `amount` in `ms` milliseconds; a time
// of 0 (or less) crosses it in one sample.
float envelope_step(float amount, float ms, float rate) {
  if (ms <= 0.0f) return 1.0f;
  return amount / (ms * rate / 1000.0f);
}

void store_duty(SYNFUNC& s, float duty) {
  duty = std::clamp(duty, 0.0f, 1.0f);
  s.osc.duty = duty;
  s.osc.steprise = 2.0f / duty;
  s.osc.stepfall = 2.0f / (1.0f - duty);
}

int make_osc(SYN* syn, unsigned int i, float freq, SYN_TYPE kind) {
  return on_stage(syn, i, [&](SYNFUNC& s) {
    const float rate = rate_of(*syn);
    s.reset = 0;
    s.mix.store(0, kRelaxed);
    if (freq <= 0.0f) freq = rate * kSmallestNormal;
    SYNOSC& o = s.osc;
    o.freq = freq;
    o.amp = 1.0f;
    o.period = 1.0f;
    o.off = 0.0f;
    disconnect_all(s);
    switch (kind) {
      case SYN_NOISE: o.phasestep = 8.0f * freq / rate; break;
      case SYN_TRIANGLE:
      case SYN_PULSE: o.phasestep = freq / rate / oversample_of(*syn); break;
      default: o.phasestep = freq / rate; break;
    }
    if (kind == SYN_TRIANGLE || kind == SYN_PULSE) store_duty(s, 0.5f);
    o.phase = kind == SYN_TRIANGLE ? triangle_start_phase(o.duty) : 0.0f;
    s.type.store(kind, kRelaxed);
  });
}

int make_filter(SYN* syn, unsigned int i, float freq, SYN_TYPE kind) {
  return on_stage(syn, i, [&](SYNFUNC& s) {
    s.reset = 0;
    s.mix.store(0, kRelaxed);
    s.filt.q = 0.0f;
    disconnect_all(s);
    const double omega = kTwoPi * static_cast<double>(freq < 1.0f ? 1.0f : freq);
    const double rate = syn->adjusted_rate;
    s.filt.alpha = static_cast<float>(kind == SYN_HIGHPASS ? 1.0 / (1.0 + omega / rate) : 1.0 / (1.0 + rate / omega));
    s.type.store(kind, kRelaxed);
  });
}

int make_math(SYN* syn, unsigned int i, int a, int b, SYN_TYPE kind) {
  return on_stage(syn, i, [&](SYNFUNC& s) {
    if (bad_input(a)) return -2;
    if (bad_input(b)) return -3;
    disconnect_all(s);
    s.reset = 0;
    s.mix.store(0, kRelaxed);
    s.math_in.a = input_index(a);
    s.math_in.b = input_index(b);
    s.type.store(kind, kRelaxed);
    return 0;
  });
}

// Connects one input of stage `i`; `pick` names the input within the record.
template <typename Pick>
int connect(SYN* syn, unsigned int i, int in, Pick pick) {
  return on_stage(syn, i, [&](SYNFUNC& s) {
    if (bad_input(in)) return -2;
    pick(s) = input_index(in);
    return 0;
  });
}

// Copies one stage record, moving its connected inputs by `offset`. Every
// field is read before any is written, so a stage may be copied onto itself.
void copy_stage(const SYNFUNC& from, SYNFUNC& to, unsigned int offset) {
  const int8_t type = from.type.load(kRelaxed);
  const uint8_t reset = from.reset;
  const uint8_t hold = from.hold.load(kRelaxed);
  const uint8_t end = from.end.load(kRelaxed);
  const uint8_t mix = from.mix.load(kRelaxed);
  const float pan = from.pan;
  const float out = from.out;
  SYNARRAY_INP inputs;
  std::memcpy(&inputs, &from.in, sizeof inputs);
  SYNOSC params;
  std::memcpy(&params, &from.osc, sizeof params);

  for (int32_t& index : inputs.signal) {
    if (index < 0) continue;
    const int64_t moved = static_cast<int64_t>(index) + offset;
    index = moved < kStages ? static_cast<int32_t>(moved) : -1;
  }

  to.reset = reset;
  to.hold.store(hold, kRelaxed);
  to.end.store(end, kRelaxed);
  to.mix.store(mix, kRelaxed);
  to.pan = pan;
  std::memcpy(&to.in, &inputs, sizeof inputs);
  std::memcpy(&to.osc, &params, sizeof params);
  to.out = out;
  to.type.store(type, kRelaxed);
}

void clear_stage(SYNFUNC& s) {
  s.type.store(0, kRelaxed);
  s.reset = 0;
  s.hold.store(0, kRelaxed);
  s.end.store(0, kRelaxed);
  s.mix.store(0, kRelaxed);
  s.pan = 0.0f;
  s.in = SYNARRAY_INP{};
  s.osc = SYNOSC{};
  s.out = 0.0f;
}

}  // namespace

// ---- oscillators ------------------------------------------------------------

int syn_osc_sine(SYN* syn, unsigned int i, float freq) { return make_osc(syn, i, freq, SYN_SINE); }
int syn_osc_triangle(SYN* syn, unsigned int i, float freq) { return make_osc(syn, i, freq, SYN_TRIANGLE); }
int syn_osc_pulse(SYN* syn, unsigned int i, float freq) { return make_osc(syn, i, freq, SYN_PULSE); }
int syn_osc_noise(SYN* syn, unsigned int i, float freq) { return make_osc(syn, i, freq, SYN_NOISE); }

int syn_osc_freq(SYN* syn, unsigned int i, float freq) {
  return on_stage(syn, i, [&](SYNFUNC& s) {
    if (!(freq > 0.0f)) return -1;
    s.osc.freq = freq;
    s.osc.period = 1.0f;
    // An enabled noise stage draws eight values per cycle; a disabled one (or
    // any other kind) steps at the frequency itself.
    const float factor = s.type.load(kRelaxed) == SYN_NOISE ? 8.0f : 1.0f;
    s.osc.phasestep = factor * freq / rate_of(*syn);
    return 0;
  });
}

int syn_osc_duty(SYN* syn, unsigned int i, float duty) {
  return on_stage(syn, i, [&](SYNFUNC& s) { store_duty(s, duty); });
}

int syn_osc_amp(SYN* syn, unsigned int i, float amp) {
  return on_stage(syn, i, [&](SYNFUNC& s) { s.osc.amp = amp; });
}

int syn_osc_off(SYN* syn, unsigned int i, float off) {
  return on_stage(syn, i, [&](SYNFUNC& s) { s.osc.off = off; });
}

int syn_osc_in_amp(SYN* syn, unsigned int i, int in) {
  return connect(syn, i, in, [](SYNFUNC& s) -> int32_t& { return s.osc_in.amp; });
}
int syn_osc_in_off(SYN* syn, unsigned int i, int in) {
  return connect(syn, i, in, [](SYNFUNC& s) -> int32_t& { return s.osc_in.off; });
}
int syn_osc_in_sync(SYN* syn, unsigned int i, int in) {
  return connect(syn, i, in, [](SYNFUNC& s) -> int32_t& { return s.osc_in.sync; });
}
int syn_osc_in_freq(SYN* syn, unsigned int i, int in) {
  return connect(syn, i, in, [](SYNFUNC& s) -> int32_t& { return s.osc_in.freq; });
}
int syn_osc_in_duty(SYN* syn, unsigned int i, int in) {
  return connect(syn, i, in, [](SYNFUNC& s) -> int32_t& { return s.osc_in.duty; });
}

// ---- filters ----------------------------------------------------------------

int syn_filt_highpass(SYN* syn, unsigned int i, float freq) { return make_filter(syn, i, freq, SYN_HIGHPASS); }
int syn_filt_lowpass(SYN* syn, unsigned int i, float freq) { return make_filter(syn, i, freq, SYN_LOWPASS); }

int syn_filt_cutoff(SYN* syn, unsigned int i, float freq) {
  return on_stage(syn, i, [&](SYNFUNC& s) {
    const double omega = kTwoPi * std::fabs(static_cast<double>(freq));
    const double rate = syn->sample_rate;
    s.filt.alpha =
        static_cast<float>(kind_of(s) == SYN_LOWPASS ? 1.0 / (1.0 + rate / omega) : 1.0 / (1.0 + omega / rate));
  });
}

int syn_filt_q(SYN* syn, unsigned int i, float q) {
  return on_stage(syn, i, [&](SYNFUNC& s) { s.filt.q = q; });
}

int syn_filt_in(SYN* syn, unsigned int i, int in) {
  return connect(syn, i, in, [](SYNFUNC& s) -> int32_t& { return s.filt_in.signal; });
}
int syn_filt_in_cutoff(SYN* syn, unsigned int i, int in) {
  return connect(syn, i, in, [](SYNFUNC& s) -> int32_t& { return s.filt_in.cutoff; });
}
int syn_filt_in_q(SYN* syn, unsigned int i, int in) {
  return connect(syn, i, in, [](SYNFUNC& s) -> int32_t& { return s.filt_in.q; });
}

// ---- envelope ---------------------------------------------------------------

int syn_adsr(SYN* syn, unsigned int i, float a, float d, float s, float r) {
  return on_stage(syn, i, [&](SYNFUNC& st) {
    st.reset = 0;
    st.mix.store(0, kRelaxed);
    st.hold.store(0, kRelaxed);
    st.end.store(0, kRelaxed);
    disconnect_all(st);
    s = std::clamp(s, 0.0f, 1.0f);
    a = std::max(a, 0.0f);
    d = std::max(d, 0.0f);
    r = std::max(r, 0.0f);
    SYNADSR& e = st.adsr;
    e.level = 0.0f;
    st.out = 0.0f;
    const float rate = rate_of(*syn);
    e.attack = envelope_step(1.0f, a, rate);
    e.decay = envelope_step(1.0f - s, d, rate);
    e.release = envelope_step(s, r, rate);
    e.sustain = s;
    e.step = 'f';
    st.type.store(SYN_ADSR, kRelaxed);
  });
}

int syn_adsr_attack(SYN* syn, unsigned int i, float a) {
  return on_stage(syn, i, [&](SYNFUNC& s) { s.adsr.attack = envelope_step(1.0f, std::max(a, 0.0f), rate_of(*syn)); });
}

int syn_adsr_decay(SYN* syn, unsigned int i, float d) {
  return on_stage(syn, i, [&](SYNFUNC& s) {
    s.adsr.decay = envelope_step(1.0f - s.adsr.sustain, std::max(d, 0.0f), rate_of(*syn));
  });
}

int syn_adsr_release(SYN* syn, unsigned int i, float r) {
  return on_stage(syn, i, [&](SYNFUNC& s) {
    s.adsr.release = envelope_step(s.adsr.sustain, std::max(r, 0.0f), rate_of(*syn));
  });
}

int syn_adsr_sustain(SYN* syn, unsigned int i, float s) {
  return on_stage(syn, i, [&](SYNFUNC& st) { st.adsr.sustain = std::clamp(s, 0.0f, 1.0f); });
}

int syn_adsr_in(SYN* syn, unsigned int i, int in) {
  return connect(syn, i, in, [](SYNFUNC& s) -> int32_t& { return s.adsr_in.signal; });
}

int syn_adsr_hold(SYN* syn, unsigned int i, int enable) {
  return on_stage(syn, i, [&](SYNFUNC& s) {
    // Any non-zero value closes the gate, also one whose low byte is 0.
    s.hold.store(enable != 0 ? 1 : 0, kRelaxed);
  });
}

char syn_adsr_get_step(SYN* syn, unsigned int i) {
  return on_stage(syn, i, [&](SYNFUNC& s) -> char {
    if (s.type.load(kRelaxed) != SYN_ADSR) return 0;
    const char step = s.adsr.step;
    if ((step == 's' || step == 'r') && s.adsr.sustain <= 0.0f) return 0;
    return step;
  });
}

float syn_adsr_get_sustain(SYN* syn, unsigned int i) {
  return on_stage(syn, i, [&](SYNFUNC& s) -> float {
    if (s.type.load(kRelaxed) != SYN_ADSR) return 0.0f;
    return s.adsr.sustain;
  });
}

// ---- ramps, arithmetic, constants --------------------------------------------

int syn_ramp(SYN* syn, unsigned int i, float start, float end, float ms) {
  return on_stage(syn, i, [&](SYNFUNC& s) {
    s.out = start;
    s.ramp.start = start;
    // A ramp down to zero ends at the smallest normal float, never at 0.
    s.ramp.end = end > 0.0f ? end : kSmallestNormal;
    s.reset = 0;
    s.mix.store(0, kRelaxed);
    const float distance = s.ramp.end - start;
    // A ramp that has nowhere to go stands still, also when its time is 0.
    s.ramp.step = distance == 0.0f ? 0.0f : distance / (rate_of(*syn) * ms / 1000.0f);
    s.type.store(SYN_RAMP, kRelaxed);
  });
}

int syn_ramp_freq(SYN* syn, unsigned int i, float start, float end, float ms) {
  return on_stage(syn, i, [&](SYNFUNC&) {
    const float rate = rate_of(*syn);
    return syn_ramp(syn, i, std::min(start / rate, 1.0f), std::min(end / rate, 1.0f), ms);
  });
}

int syn_math_mul(SYN* syn, unsigned int i, int a, int b) { return make_math(syn, i, a, b, SYN_MUL); }
int syn_math_add(SYN* syn, unsigned int i, int a, int b) { return make_math(syn, i, a, b, SYN_ADD); }

int syn_math_val(SYN* syn, unsigned int i, float n) {
  return on_stage(syn, i, [&](SYNFUNC& s) {
    disconnect_all(s);
    s.math.n = n;
    s.type.store(SYN_VAL, kRelaxed);
  });
}

float syn_freqval(SYN* syn, float freq) {
  if (syn == nullptr) return 0.0f;
  return freq / rate_of(*syn);
}

// ---- stage control and inspection -------------------------------------------

int syn_reset(SYN* syn, unsigned int i) {
  return on_stage(syn, i, [&](SYNFUNC& s) {
    const float rate = rate_of(*syn);
    SYNOSC& o = s.osc;
    switch (kind_of(s)) {
      case SYN_ADSR:
        s.adsr.level = 0.0f;
        s.out = 0.0f;
        s.adsr.step = 'a';
        break;
      case SYN_NOISE:
        o.phase = 0.0f;
        o.randval = static_cast<float>(static_cast<uint32_t>(syn->randnum) & 0xFFFFu) / 32767.0f - 1.0f;
        s.out = o.randval;
        o.period = 1.0f;
        o.phasestep = 8.0f * o.freq / rate;
        break;
      case SYN_PULSE:
        o.phase = 0.0f;
        s.out = 1.0f;
        o.period = 1.0f;
        o.phasestep = o.freq / rate / oversample_of(*syn);
        break;
      case SYN_RAMP: s.out = s.ramp.start; break;
      case SYN_SINE:
        o.period = 1.0f;
        o.phase = 0.0f;
        s.out = 0.0f;
        o.phasestep = o.freq / rate;
        break;
      case SYN_TRIANGLE:
        o.phase = triangle_start_phase(o.duty);
        s.out = 0.0f;
        o.period = 1.0f;
        o.phasestep = o.freq / rate / oversample_of(*syn);
        break;
      default: break;
    }
    s.reset = 1;
    s.end.store(0, kRelaxed);
    s.hold.store(0, kRelaxed);
    s.type.store(signed_kind(s.type.load(kRelaxed), true), kRelaxed);
  });
}

int syn_mix(SYN* syn, unsigned int i, int enable) {
  return on_stage(syn, i, [&](SYNFUNC& s) { s.mix.store(enable != 0 ? 1 : 0, kRelaxed); });
}

int syn_enable(SYN* syn, unsigned int i, int enable) {
  return on_stage(syn, i, [&](SYNFUNC& s) { s.type.store(signed_kind(s.type.load(kRelaxed), enable != 0), kRelaxed); });
}

void syn_enable_range(SYN* syn, unsigned int first, unsigned int last, int flag) {
  if (syn == nullptr) return;
  const unsigned int top = std::min(last, SYN_STAGES - 1);
  for (unsigned int i = first; i <= top; ++i) syn_enable(syn, i, flag);
}

const SYNFUNC* syn_stage(SYN* syn, unsigned int i) { return stage_at(syn, i); }

namespace {
// Whether `count` stages from `slot` lie inside the stage array (the sum is
// taken wide, so that a huge slot cannot wrap round into range).
bool range_fits(unsigned int slot, unsigned int count) {
  return static_cast<uint64_t>(slot) + count <= SYN_STAGES;
}
}  // namespace

int syn_check_active(SYN* syn, unsigned int slot, unsigned int count) {
  if (syn == nullptr || !range_fits(slot, count) || count == 0) return 0;
  for (unsigned int i = slot; i < slot + count; ++i) {
    const SYNFUNC& s = syn->stage[i];
    if (s.type.load(kRelaxed) > 0 && s.end.load(kRelaxed) == 0 && s.mix.load(kRelaxed) != 0) return -1;
  }
  return 0;
}

int syn_disable_inactive(SYN* syn, unsigned int slot, unsigned int count) {
  if (syn == nullptr || !range_fits(slot, count)) return 0;
  if (count == 0) return -1;
  for (unsigned int i = slot; i < slot + count; ++i) {
    const SYNFUNC& s = syn->stage[i];
    if (s.mix.load(kRelaxed) == 0) continue;
    if (s.type.load(kRelaxed) > 0 || s.end.load(kRelaxed) == 0) return 0;
  }
  bool was_enabled = false;
  for (unsigned int i = slot; i < slot + count; ++i) {
    SYNFUNC& s = syn->stage[i];
    const int8_t type = s.type.load(kRelaxed);
    if (type > 0) was_enabled = true;
    s.type.store(signed_kind(type, false), kRelaxed);
  }
  return was_enabled ? -2 : -1;
}

int syn_find_last_used(SYN* syn) {
  if (syn == nullptr) return -1;
  for (int i = kStages - 1; i >= 0; --i)
    if (syn->stage[static_cast<unsigned>(i)].type.load(kRelaxed) > 0) return i;
  return -1;
}

int syn_copy(SYN* src, unsigned int srci, SYN* dest, unsigned int desti, unsigned int count) {
  if (!range_fits(srci, count)) return -1;
  if (!range_fits(desti, count)) return -2;
  if (src == nullptr || dest == nullptr) return -3;
  // Within one synthesiser a block moved up is copied from its top down, so
  // that no stage is overwritten before it has been read.
  if (src == dest && desti > srci) {
    for (unsigned int k = count; k-- > 0;) copy_stage(src->stage[srci + k], dest->stage[desti + k], desti);
  } else {
    for (unsigned int k = 0; k < count; ++k) copy_stage(src->stage[srci + k], dest->stage[desti + k], desti);
  }
  return 0;
}

// ---- synthesiser ------------------------------------------------------------

void syn_init(SYN* syn, unsigned int rate, float vol, unsigned int stages) {
  if (syn == nullptr) return;
  syn->tempo_callback.store(nullptr, kRelaxed);
  syn->tempo_samples_per_beat.store(0, kRelaxed);
  syn->tempo_counter.store(0, kRelaxed);
  syn->randnum = 0;
  syn->sample_size = 0;
  for (SYNFUNC& s : syn->stage) clear_stage(s);
  syn->sample_rate = rate;
  syn->oversample = 1;
  syn->q_alpha = 1.0f;
  syn->vol.store(std::clamp(vol, 0.0f, 1.0f), kRelaxed);
  syn->stages.store(std::min(stages, SYN_STAGES), kRelaxed);
  syn->adjusted_rate = static_cast<float>(rate);
  kel_log("%s sample rate %d\n", "syn_init", static_cast<int>(rate));
}

void syn_vol(SYN* syn, float vol) {
  if (syn == nullptr) return;
  syn->vol.store(std::clamp(vol, 0.0f, 1.0f), kRelaxed);
}

int syn_set_beat_callback(SYN* syn, SYN_BEAT_CALLBACK callback, float bps) {
  if (syn == nullptr) return 1;  // nothing to install into
  if (!(bps > 0.0f) || callback == nullptr) {
    syn->tempo_callback.store(nullptr, kRelaxed);
    syn->tempo_samples_per_beat.store(0, kRelaxed);
    syn->tempo_counter.store(0, kRelaxed);
    return 1;
  }
  // The counter is a signed 32-bit value, so a beat can be at most that long.
  const float samples = std::trunc(rate_of(*syn) / bps);
  const uint32_t per_beat = samples >= 2147483647.0f ? 2147483647u : static_cast<uint32_t>(samples);
  syn->tempo_samples_per_beat.store(per_beat, kRelaxed);
  syn->tempo_counter.store(1, kRelaxed);
  syn->tempo_callback.store(callback, kRelaxed);
  kel_log_bare("tempo_samples_per_beat %d (%f bps)\n", static_cast<int>(per_beat), static_cast<double>(bps));
  return 1;
}
