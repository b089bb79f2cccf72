// The growl effect, and the audio side's promise to allocate nothing and
// write nothing while it advances effects and renders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "framework/core/kel.h"
#include "framework/core/synth.h"
#include "framework/core/synth_effects.h"
#include "support/alloc_counter.h"
#include "support/capture.h"
#include "support/fake_clock.h"
#include "support/synth_fixture.h"

namespace {

constexpr float kRate = 44100.0f;

class Growl : public SynthEffectsTest {
 protected:
  Growl() : SynthEffectsTest(10) {}
  const SYNFUNC& stage(unsigned i) { return synraw.stage[i]; }
};

TEST_F(Growl, StartsWithTheRuntimesParameters) {
  SYNTH_EFFECT_STATE* fx = growl(32.704f, 3000);
  ASSERT_EQ(fx->func.load(), &growl_effect);
  EXPECT_FLOAT_EQ(fx->freq.load(), 32.704f);
  EXPECT_FLOAT_EQ(fx->q.load(), 0.9f);
  EXPECT_FLOAT_EQ(fx->d.load(), 3000.0f);
  EXPECT_FLOAT_EQ(fx->filt.load(), 65.408f);
  EXPECT_FLOAT_EQ(fx->ramp_start.load(), 2000.0f);
  EXPECT_FLOAT_EQ(fx->ramp_end.load(), 200.0f);
  EXPECT_FLOAT_EQ(fx->scale.load(), 1.0f);

  // The splash's second growl finds a slot of its own.
  SYNTH_EFFECT_STATE* second = growl(30.868f, 3000);
  EXPECT_NE(second, fx);
  EXPECT_EQ(second->func.load(), &growl_effect);
}

TEST_F(Growl, BuildsItsPatchAndReleasesAtOnce) {
  SYNTH_EFFECT_STATE* fx = growl(32.704f, 3000);
  const unsigned b = fx->base;
  tick();
  EXPECT_EQ(fx->func.load(), nullptr);
  EXPECT_EQ(fx->stop_time.load(), kel_ticks.load());
  EXPECT_EQ(synraw.stages.load(), b + 5);

  EXPECT_EQ(stage(b).type.load(), SYN_RAMP);
  EXPECT_FLOAT_EQ(stage(b).ramp.start, 2000 / kRate);
  EXPECT_FLOAT_EQ(stage(b).ramp.end, 200 / kRate);
  EXPECT_FLOAT_EQ(stage(b).ramp.step, (200 / kRate - 2000 / kRate) / (kRate * 3));

  EXPECT_EQ(stage(b + 1).type.load(), SYN_TRIANGLE);
  EXPECT_FLOAT_EQ(stage(b + 1).osc.freq, 32.704f);
  EXPECT_FLOAT_EQ(stage(b + 1).osc.duty, 0.25f);
  EXPECT_EQ(stage(b + 1).osc_in.amp, static_cast<int>(b));

  EXPECT_EQ(stage(b + 2).type.load(), SYN_TRIANGLE);
  EXPECT_FLOAT_EQ(stage(b + 2).osc.duty, 0.5f);
  EXPECT_FLOAT_EQ(stage(b + 2).osc.amp, 1.0f);
  EXPECT_EQ(stage(b + 2).osc_in.freq, static_cast<int>(b + 1));

  EXPECT_EQ(stage(b + 3).type.load(), SYN_LOWPASS);
  EXPECT_EQ(stage(b + 3).filt_in.signal, static_cast<int>(b + 2));
  EXPECT_FLOAT_EQ(stage(b + 3).filt.q, 0.9f);
  const double w = 6.283185307179586 * 65.408;
  EXPECT_FLOAT_EQ(stage(b + 3).filt.alpha, static_cast<float>(1.0 / (1.0 + 44100.0 / w)));

  const SYNFUNC& env = stage(b + 4);
  EXPECT_EQ(env.type.load(), SYN_ADSR);
  EXPECT_EQ(env.mix.load(), 1);
  EXPECT_EQ(env.hold.load(), 0);
  EXPECT_EQ(env.adsr.step, 'a');
  EXPECT_EQ(env.adsr_in.signal, static_cast<int>(b + 3));
  EXPECT_FLOAT_EQ(env.adsr.sustain, 0.9f);
  EXPECT_FLOAT_EQ(env.adsr.attack, 1.0f / (2 * kRate / 1000));
  EXPECT_FLOAT_EQ(env.adsr.release, 0.9f / (3000 * kRate / 1000));
  for (unsigned k = 0; k < 4; ++k) EXPECT_EQ(stage(b + k).mix.load(), 0) << k;
}

TEST_F(Growl, ZeroParametersTakeDefaults) {
  SYNTH_EFFECT_STATE* fx = synth_effect(growl_effect);
  const unsigned b = fx->base;
  tick();
  EXPECT_FLOAT_EQ(stage(b + 1).osc.freq, 32.704f);
  EXPECT_FLOAT_EQ(stage(b).ramp.start, 1800 / kRate);
  EXPECT_FLOAT_EQ(stage(b).ramp.end, 200 / kRate);
  EXPECT_FLOAT_EQ(stage(b + 4).adsr.release, 0.9f / (3000 * kRate / 1000));
  EXPECT_FLOAT_EQ(stage(b + 3).filt.alpha, static_cast<float>(1.0 / (1.0 + 44100.0 / 6.283185307179586)));
}

TEST_F(Growl, SoundsThenFadesAndIsCleared) {
  growl(32.704f, 3000);
  tick();
  std::vector<int16_t> buf(1024);
  int loudest_first_second = 0;
  int loudest_after = 0;
  // 4.4 seconds of audio, one logic tick and 1024 frames at a time.
  for (int n = 0; n < 190; ++n) {
    syn_update(&synraw, buf.data(), 1024);
    int peak = 0;
    for (int16_t v : buf) peak = std::max(peak, std::abs(static_cast<int>(v)));
    if (n < 43) loudest_first_second = std::max(loudest_first_second, peak);
    if (n > 150) loudest_after = std::max(loudest_after, peak);
    fake_clock::advance(23);
    tick();
  }
  EXPECT_GT(loudest_first_second, 1000);
  EXPECT_EQ(loudest_after, 0);
  EXPECT_EQ(synth_effects_active(), 0);
  EXPECT_EQ(syn_find_last_used(&synraw), -1);  // the idle clearing took the rest
  EXPECT_EQ(synraw.stages.load(), 0u);
}

TEST_F(Growl, NeedsFiveStagesPerSlot) {
  synth_effects_init(64, 4);
  syn_math_val(&synraw, 8, 0.25f);  // the first stage of the slot after
  SYNTH_EFFECT_STATE* fx = growl(50, 100);
  ASSERT_EQ(fx->base.load(), 4u);
  tick();
  EXPECT_EQ(fx->func.load(), nullptr);
  EXPECT_EQ(stage(8).type.load(), SYN_VAL);
  EXPECT_FLOAT_EQ(stage(8).math.n, 0.25f);
  for (unsigned k = 4; k < 8; ++k) EXPECT_LE(stage(k).type.load(), 0) << k;
}

TEST_F(Growl, NotStartedWhileTheSynthesiserIsOff) {
  kel_settings.enable_synth = 0;
  SYNTH_EFFECT_STATE* fx = growl(32.704f, 3000);
  EXPECT_EQ(fx->func.load(), nullptr);
  kel_settings.enable_synth = 1;
  tick();
  EXPECT_EQ(syn_find_last_used(&synraw), -1);
}

TEST_F(Growl, AudioSideAllocatesAndWritesNothing) {
  growl(32.704f, 3000);
  growl(30.868f, 3000);
  std::vector<int16_t> buf(1024);
  StdoutCapture capture;
  const long allocations = alloc_counter::during([&] {
    for (int n = 0; n < 200; ++n) {
      kel_ticks.fetch_add(1);
      fake_clock::advance(23);
      synth_effects_update();
      syn_update(&synraw, buf.data(), static_cast<unsigned>(buf.size()));
    }
  });
  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(capture.take(), "");
}

}  // namespace
