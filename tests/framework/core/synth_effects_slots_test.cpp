// Effect slots: sizing, claiming, take-over of sounding tails, the update
// and its idle clearing.
#include <gtest/gtest.h>

#include <string>

#include "framework/core/kel.h"
#include "framework/core/synth.h"
#include "framework/core/synth_effects.h"
#include "support/capture.h"
#include "support/fake_clock.h"
#include "support/synth_fixture.h"

namespace {

int cont_effect(SYNTH_EFFECT_STATE* fx) {
  ++fx->counter;
  return SYNTH_EFFECT_CONT;
}

int odd_result_effect(SYNTH_EFFECT_STATE* fx) {
  ++fx->counter;
  return 7;
}

// Leaves a tail that sounds for ever: a mixed constant.
int tail_effect(SYNTH_EFFECT_STATE* fx) {
  syn_math_val(&synraw, fx->base, 0.1f);
  syn_mix(&synraw, fx->base, 1);
  return SYNTH_EFFECT_RELEASE;
}

// Fills its slot with enabled stages and stops on its second call.
int stop_effect(SYNTH_EFFECT_STATE* fx) {
  for (unsigned k = 0; k < 8; ++k) syn_math_val(&synraw, fx->base + k, 0.1f);
  syn_mix(&synraw, fx->base, 1);
  return fx->counter++ == 0 ? SYNTH_EFFECT_CONT : SYNTH_EFFECT_STOP;
}

// A click: a mixed envelope that finishes within two samples, fed by a
// constant that stays enabled.
int click_effect(SYNTH_EFFECT_STATE* fx) {
  syn_math_val(&synraw, fx->base, 0.5f);
  syn_adsr(&synraw, fx->base + 1, 0, 0, 1, 0);
  syn_adsr_in(&synraw, fx->base + 1, static_cast<int>(fx->base));
  syn_mix(&synraw, fx->base + 1, 1);
  syn_reset(&synraw, fx->base + 1);
  return SYNTH_EFFECT_RELEASE;
}

class SynthEffects : public SynthEffectsTest {
 protected:
  static void render(unsigned frames) {
    static int16_t buf[4096];
    syn_update(&synraw, buf, frames);
  }
};

TEST_F(SynthEffects, InitSizesTheSlots) {
  StdoutCapture capture;
  synth_effects_init(0, 0);
  EXPECT_EQ(strip_log_prefixes(capture.take()), "EFFECT MAX   4\nEFFECT SLOTS 8\n");
  EXPECT_EQ(synth_effects_tail_slot(), 32);
  synth_effects_init(40, 16);
  EXPECT_EQ(strip_log_prefixes(capture.take()), "EFFECT MAX   16\nEFFECT SLOTS 16\n");
  EXPECT_EQ(synth_effects_tail_slot(), 256);
  synth_effects_init(3, 100);
  EXPECT_EQ(strip_log_prefixes(capture.take()), "EFFECT MAX   2\nEFFECT SLOTS 100\n");
  synth_effects_init(-1, -1);
  EXPECT_EQ(strip_log_prefixes(capture.take()), "EFFECT MAX   2\nEFFECT SLOTS 100\n");
  synth_effects_init(5, 300);
  EXPECT_EQ(synth_effects_tail_slot(), 256);  // one slot of 256
  synth_effects_init(-1, 0);
  EXPECT_EQ(synth_effects_tail_slot(), 8);
  capture.take();
}

TEST_F(SynthEffects, NothingStartsWhileTheSynthesiserIsOff) {
  kel_settings.enable_synth = 0;
  StdoutCapture capture;
  SYNTH_EFFECT_STATE* fx = synth_effect(cont_effect);
  EXPECT_EQ(fx->func.load(), nullptr);
  EXPECT_FLOAT_EQ(fx->scale.load(), 1.0f);
  EXPECT_EQ(get_effect_ex(cont_effect, 1, 0), -1);
  EXPECT_EQ(capture.take(), "");
  kel_settings.enable_synth = 1;
  tick();
  EXPECT_EQ(fx->counter.load(), 0u);
}

TEST_F(SynthEffects, ClaimsRoundRobinAndPresetsTheRecord) {
  syn_math_val(&synraw, 8, 1.0f);  // left over in the first slot to be claimed
  SYNTH_EFFECT_STATE* fx[4];
  for (SYNTH_EFFECT_STATE*& f : fx) f = synth_effect(cont_effect);
  EXPECT_EQ(fx[0]->base.load(), 8u);
  EXPECT_EQ(fx[1]->base.load(), 16u);
  EXPECT_EQ(fx[2]->base.load(), 24u);
  EXPECT_EQ(fx[3]->base.load(), 0u);
  EXPECT_LT(synraw.stage[8].type.load(), 0);  // claiming silences the slot
  for (SYNTH_EFFECT_STATE* f : fx) {
    EXPECT_EQ(f->func.load(), &cont_effect);
    EXPECT_FLOAT_EQ(f->scale.load(), 1.0f);
    EXPECT_FLOAT_EQ(f->pitch.load(), 1.0f);
    EXPECT_EQ(f->state.load(), 0);
    EXPECT_EQ(f->priority.load(), 0);
  }

  StdoutCapture capture;
  SYNTH_EFFECT_STATE* none = synth_effect(cont_effect);
  EXPECT_EQ(strip_log_prefixes(capture.take()), "NO EFFECTS FREE! (-1) 4 / 4\n");
  EXPECT_EQ(none->func.load(), nullptr);
  none->freq = 440;  // the dummy takes parameters harmlessly
  SYNTH_EFFECT_STATE* null_func = synth_effect(nullptr);
  EXPECT_EQ(strip_log_prefixes(capture.take()), "NO EFFECTS FREE! (-2) 4 / 4\n");
  EXPECT_EQ(null_func, none);
  EXPECT_EQ(get_effect_ex(nullptr, 0, 0), -2);

  tick();
  for (SYNTH_EFFECT_STATE* f : fx) EXPECT_EQ(f->counter.load(), 1u);
  EXPECT_EQ(none->counter.load(), 0u);
}

TEST_F(SynthEffects, UpdatesOncePerTick) {
  SYNTH_EFFECT_STATE* a = synth_effect(cont_effect);
  SYNTH_EFFECT_STATE* b = synth_effect(odd_result_effect);
  const uint32_t first = kel_ticks.load() + 1;
  tick();
  synth_effects_update();
  EXPECT_EQ(a->counter.load(), 1u);
  EXPECT_EQ(b->counter.load(), 1u);
  EXPECT_EQ(a->start_time.load(), first);
  tick();
  EXPECT_EQ(a->counter.load(), 2u);
  EXPECT_EQ(b->counter.load(), 2u);  // any other result keeps it running
  EXPECT_EQ(b->func.load(), &odd_result_effect);
  EXPECT_EQ(a->start_time.load(), first);
}

TEST_F(SynthEffects, StopSilencesExactlyTheSlot) {
  SYNTH_EFFECT_STATE* fx = synth_effect(stop_effect);
  const unsigned base = fx->base;
  syn_math_val(&synraw, base + 8, 1.0f);  // the next slot's first stage
  tick();
  EXPECT_EQ(synraw.stages.load(), base + 9);
  for (unsigned k = 0; k < 8; ++k) EXPECT_GT(synraw.stage[base + k].type.load(), 0);
  EXPECT_EQ(synth_effects_active(), 1);
  tick();
  EXPECT_EQ(fx->func.load(), nullptr);
  EXPECT_EQ(fx->stop_time.load(), kel_ticks.load());
  for (unsigned k = 0; k < 8; ++k) EXPECT_LT(synraw.stage[base + k].type.load(), 0);
  EXPECT_GT(synraw.stage[base + 8].type.load(), 0);
  EXPECT_EQ(synraw.stages.load(), base + 9);
  EXPECT_EQ(synth_effects_active(), 0);
}

TEST_F(SynthEffects, SoundingTailsAreTakenOverByAgeAndPriority) {
  SYNTH_EFFECT_STATE* tails[4];
  for (SYNTH_EFFECT_STATE*& t : tails) {
    t = synth_effect(tail_effect);  // each finds a silent slot
    tick();
    EXPECT_EQ(t->func.load(), nullptr);
  }
  EXPECT_EQ(synth_effects_active(), 4);
  const unsigned oldest = tails[0]->base;

  StdoutCapture capture;
  SYNTH_EFFECT_STATE* forced = synth_effect(cont_effect);
  EXPECT_EQ(strip_log_prefixes(capture.take()), "FORCED EFFECT #" + std::to_string(oldest / 8) + "\n");
  EXPECT_EQ(forced, tails[0]);
  EXPECT_EQ(forced->base.load(), oldest);

  // A higher priority takes the next oldest without the log line; a tail
  // protected by its own priority is passed over.
  tails[2]->priority = 5;
  SYNTH_EFFECT_STATE* urgent = synth_effect_ex(cont_effect, 1);
  EXPECT_EQ(capture.take(), "");
  EXPECT_EQ(urgent, tails[1]);

  // The last tail was released in this very tick: it cannot be taken yet.
  SYNTH_EFFECT_STATE* none = synth_effect_ex(cont_effect, 1);
  EXPECT_EQ(strip_log_prefixes(capture.take()), "NO EFFECTS FREE! (-1) 2 / 4\n");
  EXPECT_EQ(none->func.load(), nullptr);
  kel_ticks.fetch_add(1);
  EXPECT_EQ(synth_effect_ex(cont_effect, 1), tails[3]);
  EXPECT_EQ(synth_effects_active(), 1);  // only the protected tail still sounds
}

TEST_F(SynthEffects, IdleSlotsAreClearedOncePerSecond) {
  SYNTH_EFFECT_STATE* fx = synth_effect(click_effect);
  const unsigned base = fx->base;
  tick();
  EXPECT_EQ(synth_effects_active(), 1);
  render(4);
  EXPECT_LT(synraw.stage[base + 1].type.load(), 0);  // the envelope finished
  EXPECT_GT(synraw.stage[base].type.load(), 0);
  EXPECT_EQ(synth_effects_active(), 0);

  fake_clock::set(999);
  tick();
  EXPECT_GT(synraw.stage[base].type.load(), 0);
  EXPECT_EQ(synraw.stages.load(), base + 1);
  fake_clock::set(1000);
  tick();
  EXPECT_LT(synraw.stage[base].type.load(), 0);
  EXPECT_EQ(synraw.stages.load(), 0u);
}

TEST_F(SynthEffects, ReinitFreesEverySlot) {
  for (int n = 0; n < 4; ++n) synth_effect(cont_effect);
  StdoutCapture capture;
  synth_effects_init(-1, -1);
  capture.take();
  for (int n = 0; n < 4; ++n) EXPECT_NE(synth_effect(cont_effect)->func.load(), nullptr);
  synth_effect(cont_effect);
  // The count in the log is of the running effects, not of every start.
  EXPECT_EQ(strip_log_prefixes(capture.take()), "NO EFFECTS FREE! (-1) 4 / 4\n");
}

TEST_F(SynthEffects, GetEffectPublishesTheFunction) {
  const int slot = get_effect_ex(cont_effect, 0, 0);
  ASSERT_GE(slot, 0);
  EXPECT_EQ(get_effect(cont_effect, 0), (slot + 1) % 4);
  tick();
  EXPECT_EQ(synth_effects_active(), 0);
}

}  // namespace
