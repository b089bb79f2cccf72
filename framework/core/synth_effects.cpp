#include "framework/core/synth_effects.h"

#include <algorithm>
#include <array>

#include "framework/core/kel_shared.h"
#include "framework/core/log.h"
#include "framework/core/synth.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

static_assert(std::atomic<SYNTH_EFFECT>::is_always_lock_free);
static_assert(std::atomic<void*>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

// Stages the growl builds in its slot.
constexpr int kGrowlStages = 5;

constinit std::array<SYNTH_EFFECT_STATE, SYNTH_EFFECTS_MAX> synth_effects;
// Slot count and size: written by synth_effects_init on the logic thread,
// read by the update on the audio thread.
std::atomic<int> effect_max_{10};
std::atomic<int> effect_slots_{10};
// The slot examined last; only the logic thread claims slots.
unsigned int cur = 0;
// Effects started minus effects released or stopped (for the log).
std::atomic<int> allocated{0};
// Handed out when no slot can be had; never run.
constinit SYNTH_EFFECT_STATE dummy;

// Kept by the update, on the audio thread only.
uint32_t last_update_tick = 0;
double last_idle_clear = 0.0;

bool synth_enabled() { return kel_settings.enable_synth.load() != 0; }

int slot_count() { return std::min(effect_max_.load(kRelaxed), SYNTH_EFFECTS_MAX); }

void clear_slot(SYNTH_EFFECT_STATE& fx) {
  fx.func.store(nullptr, kRelaxed);
  for (std::atomic<uint32_t>* word : {&fx.base, &fx.start_time, &fx.stop_time, &fx.counter}) word->store(0, kRelaxed);
  fx.priority.store(0, kRelaxed);
  for (std::atomic<int32_t>* word : {&fx.state, &fx.i, &fx.j, &fx.k, &fx.delay}) word->store(0, kRelaxed);
  for (std::atomic<float>* word : {&fx.scale, &fx.pitch, &fx.freq, &fx.freq2, &fx.filt, &fx.filt_high, &fx.q, &fx.duty,
                                   &fx.duty2, &fx.ramp_start, &fx.ramp_end, &fx.a, &fx.d, &fx.s, &fx.r, &fx.value})
    word->store(0.0f, kRelaxed);
  fx.info.store(nullptr, kRelaxed);
}

void preset(SYNTH_EFFECT_STATE& fx) {
  fx.state.store(0, kRelaxed);
  fx.scale.store(1.0f, kRelaxed);
  fx.pitch.store(1.0f, kRelaxed);
  fx.i.store(0, kRelaxed);
  fx.j.store(0, kRelaxed);
  fx.k.store(0, kRelaxed);
}

void disable_slot_stages(unsigned int base, int size) {
  syn_enable_range(&synraw, base, base + static_cast<unsigned int>(size) - 1, 0);
}

// Finds a slot for `func` and prepares it (cleared, base set, stages
// disabled) without publishing the function: the audio thread does not run
// the slot until publish().
int claim_slot(SYNTH_EFFECT func, int force, char priority) {
  if (!synth_enabled()) return -1;
  if (func == nullptr) return -2;
  const int count = slot_count();
  if (count <= 0) return -1;
  const int size = effect_slots_.load(kRelaxed);
  const uint32_t now = kel_ticks.load();

  int chosen = -1;
  uint32_t oldest = 0;
  for (int n = 0; n < count; ++n) {
    cur = (cur + 1) % static_cast<unsigned int>(count);
    SYNTH_EFFECT_STATE& fx = synth_effects[cur];
    if (fx.func.load(std::memory_order_acquire) != nullptr) continue;
    if (syn_check_active(&synraw, cur * static_cast<unsigned int>(size), static_cast<unsigned int>(size)) == 0) {
      chosen = static_cast<int>(cur);
      break;
    }
    const int held = fx.priority.load(kRelaxed);
    if (held < priority || (force != 0 && held == priority)) {
      // A tail released in this very tick has age 0 and is never taken.
      const uint32_t age = now - fx.stop_time.load(kRelaxed);
      if (age > oldest) {
        oldest = age;
        chosen = static_cast<int>(cur);
      }
    }
  }
  if (chosen < 0) return -1;

  SYNTH_EFFECT_STATE& fx = synth_effects[static_cast<unsigned int>(chosen)];
  const unsigned int base = static_cast<unsigned int>(chosen) * static_cast<unsigned int>(size);
  clear_slot(fx);
  fx.base.store(base, kRelaxed);
  disable_slot_stages(base, size);
  allocated.fetch_add(1);
  return chosen;
}

// The function is stored last, so that the audio thread sees a cleared,
// silenced and preset slot when it first runs it.
void publish(int slot, SYNTH_EFFECT func) {
  if (slot >= 0) synth_effects[static_cast<unsigned int>(slot)].func.store(func, std::memory_order_release);
}

int claim_logged(SYNTH_EFFECT func, char priority) {
  const int plain = claim_slot(func, 0, priority);
  if (plain >= 0) return plain;
  const int forced = claim_slot(func, 1, priority);
  if (forced >= 0) {
    kel_log("FORCED EFFECT #%d\n", forced);
    return forced;
  }
  kel_log("NO EFFECTS FREE! (%d) %d / %d\n", forced, allocated.load(), effect_max_.load());
  return forced;
}

// Claims and presets a slot (or the dummy) without publishing it; `slot`
// receives the slot number, or -1 for the dummy.
SYNTH_EFFECT_STATE* prepare_effect(SYNTH_EFFECT func, char priority, int& slot) {
  slot = synth_enabled() ? claim_logged(func, priority) : -1;
  SYNTH_EFFECT_STATE* fx = slot >= 0 ? &synth_effects[static_cast<unsigned int>(slot)] : &dummy;
  preset(*fx);
  return fx;
}

}  // namespace

void synth_effects_init(int voices, int slots) {
  int count = voices;
  if (voices > SYNTH_EFFECTS_MAX)
    count = SYNTH_EFFECTS_MAX;
  else if (voices == 0)
    count = 4;
  else if (voices < 0)
    count = effect_max_.load();
  int size = slots;
  if (slots > static_cast<int>(SYN_STAGES))
    size = static_cast<int>(SYN_STAGES);
  else if (slots == 0)
    size = 8;
  else if (slots < 0)
    size = effect_slots_.load();
  if (count * size > static_cast<int>(SYN_STAGES)) count = static_cast<int>(SYN_STAGES) / size;

  effect_max_.store(count);
  effect_slots_.store(size);
  kel_log("EFFECT MAX   %d\n", count);
  kel_log("EFFECT SLOTS %d\n", size);
  for (SYNTH_EFFECT_STATE& fx : synth_effects) clear_slot(fx);
  // Every slot is free now, so none counts as started.
  allocated.store(0);
}

int get_effect_ex(SYNTH_EFFECT func, int force, char priority) {
  const int slot = claim_slot(func, force, priority);
  publish(slot, func);
  return slot;
}

int get_effect(SYNTH_EFFECT func, char priority) {
  const int slot = claim_logged(func, priority);
  publish(slot, func);
  return slot;
}

SYNTH_EFFECT_STATE* synth_effect(SYNTH_EFFECT func) { return synth_effect_ex(func, 0); }

SYNTH_EFFECT_STATE* synth_effect_ex(SYNTH_EFFECT func, char priority) {
  int slot = -1;
  SYNTH_EFFECT_STATE* fx = prepare_effect(func, priority, slot);
  publish(slot, func);
  return fx;
}

void synth_effects_update() noexcept {
  if (!synth_enabled()) return;
  const int count = slot_count();
  const int size = effect_slots_.load(kRelaxed);
  if (count <= 0 || size <= 0) return;
  const uint32_t now = kel_ticks.load();
  if (now == last_update_tick) return;

  // Once a second of runtime clock, free slots whose tails have finished
  // get their remaining stages disabled. A clock that went back (the
  // runtime restarted it) counts as moved on.
  const double seconds = kel_clock_seconds();
  const bool clear_idle = seconds - last_idle_clear >= 1.0 || seconds < last_idle_clear;
  if (clear_idle) last_idle_clear = seconds;

  last_update_tick = now;
  for (int n = 0; n < count; ++n) {
    SYNTH_EFFECT_STATE& fx = synth_effects[static_cast<unsigned int>(n)];
    const unsigned int base = static_cast<unsigned int>(n) * static_cast<unsigned int>(size);
    const SYNTH_EFFECT func = fx.func.load(std::memory_order_acquire);
    if (func == nullptr) {
      if (clear_idle) syn_disable_inactive(&synraw, base, static_cast<unsigned int>(size));
      continue;
    }
    if (fx.start_time.load(kRelaxed) == 0) fx.start_time.store(now, kRelaxed);
    const int result = func(&fx);
    if (result == SYNTH_EFFECT_STOP) disable_slot_stages(base, size);
    if (result == SYNTH_EFFECT_STOP || result == SYNTH_EFFECT_RELEASE) {
      allocated.fetch_sub(1);
      fx.stop_time.store(now, kRelaxed);
      fx.func.store(nullptr, std::memory_order_release);
    }
  }
  synraw.stages.store(static_cast<uint32_t>(syn_find_last_used(&synraw) + 1), kRelaxed);
}

int synth_effects_active() {
  const int count = slot_count();
  const int size = effect_slots_.load(kRelaxed);
  int active = 0;
  for (int n = 0; n < count; ++n)
    if (syn_check_active(&synraw, static_cast<unsigned int>(n * size), static_cast<unsigned int>(size)) != 0)
      ++active;
  return active;
}

int synth_effects_tail_slot() { return effect_max_.load() * effect_slots_.load(); }

int growl_effect(SYNTH_EFFECT_STATE* fx) {
  // The patch needs five stages of its own; in a smaller slot it would
  // overwrite the next slot's stages, so it does not sound at all.
  if (fx == nullptr || effect_slots_.load(kRelaxed) < kGrowlStages) return SYNTH_EFFECT_STOP;

  const float freq = fx->freq != 0.0f ? fx->freq.load() : 32.704f;
  const float length = fx->d != 0.0f ? fx->d.load() : 3000.0f;
  const float ramp_start = fx->ramp_start != 0.0f ? fx->ramp_start.load() : 1800.0f;
  const float ramp_end = fx->ramp_end != 0.0f ? fx->ramp_end.load() : 200.0f;
  const unsigned int base = fx->base;
  const int sweep = static_cast<int>(base);

  // The ramp sweeps the swing of the second triangle's pitch ...
  syn_ramp_freq(&synraw, base, ramp_start, ramp_end, length);
  // ... which the first triangle, at the growl's pitch, swings to and fro.
  syn_osc_triangle(&synraw, base + 1, freq);
  syn_osc_duty(&synraw, base + 1, 0.25f);
  syn_osc_in_amp(&synraw, base + 1, sweep);
  syn_osc_triangle(&synraw, base + 2, 0.0f);
  syn_osc_duty(&synraw, base + 2, 0.5f);
  syn_osc_amp(&synraw, base + 2, fx->scale);
  syn_osc_in_freq(&synraw, base + 2, sweep + 1);
  syn_filt_lowpass(&synraw, base + 3, fx->filt);
  syn_filt_in(&synraw, base + 3, sweep + 2);
  syn_filt_q(&synraw, base + 3, fx->q);
  syn_adsr(&synraw, base + 4, 2.0f, 200.0f, 0.9f, length);
  syn_adsr_in(&synraw, base + 4, sweep + 3);
  syn_mix(&synraw, base + 4, 1);
  syn_reset(&synraw, base + 4);
  return SYNTH_EFFECT_RELEASE;
}

SYNTH_EFFECT_STATE* growl(float freq, float length) {
  int slot = -1;
  SYNTH_EFFECT_STATE* fx = prepare_effect(growl_effect, 0, slot);
  fx->freq = freq;
  fx->q = 0.9f;
  fx->d = length;
  fx->filt = 2.0f * freq;
  fx->ramp_start = 2000.0f;
  fx->ramp_end = 200.0f;
  publish(slot, growl_effect);
  return fx;
}
