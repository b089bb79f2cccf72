// Stage constructors, configuration, inspection and copying.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <memory>

#include "framework/core/synth.h"
#include "support/capture.h"

namespace {

std::unique_ptr<SYN> make_syn(unsigned rate = 44100) {
  auto syn = std::make_unique<SYN>();
  syn_init(syn.get(), rate, 1.0f, 256);
  return syn;
}

TEST(SynthInit, ClearsClampsAndLogs) {
  auto syn = std::make_unique<SYN>();
  syn_osc_sine(syn.get(), 3, 100);
  StdoutCapture capture;
  syn_init(syn.get(), 22050, 2.5f, 1000);
  EXPECT_EQ(strip_log_prefixes(capture.take()), "syn_init sample rate 22050\n");
  EXPECT_EQ(syn->stages.load(), 256u);
  EXPECT_FLOAT_EQ(syn->vol.load(), 1.0f);
  EXPECT_EQ(syn->oversample, 1u);
  EXPECT_EQ(syn_find_last_used(syn.get()), -1);
  syn_vol(syn.get(), -3.0f);
  EXPECT_FLOAT_EQ(syn->vol.load(), 0.0f);
}

TEST(SynthStages, RefusesBadIndicesAndNullSynthesisers) {
  auto syn = make_syn();
  EXPECT_EQ(syn_osc_sine(syn.get(), 256, 440), -1);
  EXPECT_EQ(syn_adsr(syn.get(), UINT_MAX, 1, 1, 1, 1), -1);
  EXPECT_EQ(syn_stage(syn.get(), 256), nullptr);
  EXPECT_EQ(syn_adsr_get_step(syn.get(), 256), -1);
  EXPECT_FLOAT_EQ(syn_adsr_get_sustain(syn.get(), 256), -1.0f);
  EXPECT_EQ(syn_osc_in_amp(syn.get(), 0, 256), -2);
  EXPECT_EQ(syn_math_mul(syn.get(), 256, 0, 0), -1);
  EXPECT_EQ(syn_math_mul(syn.get(), 0, 256, 0), -2);
  EXPECT_EQ(syn_math_add(syn.get(), 0, 0, 256), -3);
  EXPECT_EQ(syn_find_last_used(syn.get()), -1);  // nothing was built

  EXPECT_EQ(syn_osc_sine(nullptr, 0, 440), -1);
  EXPECT_EQ(syn_stage(nullptr, 0), nullptr);
  syn_update(nullptr, nullptr, 10);
  syn_update(syn.get(), nullptr, 10);
}

TEST(SynthStages, ConstructorEdgeCases) {
  auto syn = make_syn();
  // A frequency of 0 or less stands the oscillator still.
  syn_osc_sine(syn.get(), 0, 0);
  EXPECT_EQ(syn->stage[0].osc.phasestep, FLT_MIN);
  EXPECT_EQ(syn_osc_freq(syn.get(), 0, 0), -1);

  // Duty is clamped; the slopes may go infinite.
  syn_osc_duty(syn.get(), 1, 1.5f);
  EXPECT_FLOAT_EQ(syn->stage[1].osc.duty, 1.0f);
  EXPECT_FLOAT_EQ(syn->stage[1].osc.steprise, 2.0f);
  EXPECT_TRUE(std::isinf(syn->stage[1].osc.stepfall));
  syn_osc_duty(syn.get(), 1, -0.5f);
  EXPECT_TRUE(std::isinf(syn->stage[1].osc.steprise));
  EXPECT_FLOAT_EQ(syn->stage[1].osc.stepfall, 2.0f);

  // Zero envelope times cross in one sample; a new envelope waits, finished.
  syn_adsr(syn.get(), 2, 0, 0, 1, 0);
  EXPECT_FLOAT_EQ(syn->stage[2].adsr.attack, 1.0f);
  EXPECT_FLOAT_EQ(syn->stage[2].adsr.decay, 1.0f);
  EXPECT_FLOAT_EQ(syn->stage[2].adsr.release, 1.0f);
  EXPECT_EQ(syn_adsr_get_step(syn.get(), 2), 'f');
  // Release follows the sustain stored when it is set; with sustain 0 the
  // sustain and release steps report 0.
  syn_adsr_sustain(syn.get(), 2, 0);
  syn_adsr_release(syn.get(), 2, 100);
  EXPECT_FLOAT_EQ(syn->stage[2].adsr.release, 0.0f);
  syn->stage[2].adsr.step = 's';
  EXPECT_EQ(syn_adsr_get_step(syn.get(), 2), 0);
  syn_enable(syn.get(), 2, 0);
  syn->stage[2].adsr.step = 'a';
  EXPECT_EQ(syn_adsr_get_step(syn.get(), 2), 0);  // not an enabled envelope
  EXPECT_FLOAT_EQ(syn_adsr_get_sustain(syn.get(), 2), 0.0f);

  // A ramp down to 0 ends at the smallest normal float; one that goes
  // nowhere stands still even over no time.
  syn_ramp(syn.get(), 3, 1, 0, 100);
  EXPECT_EQ(syn->stage[3].ramp.end, FLT_MIN);
  EXPECT_NEAR(syn->stage[3].ramp.step, -1.0 / 4410, 1e-9);
  syn_ramp(syn.get(), 4, 0.5f, 0.5f, 0);
  EXPECT_FLOAT_EQ(syn->stage[4].ramp.step, 0.0f);

  // A cutoff of 0 freezes a low-pass (enabled or not) and opens a high-pass.
  syn_filt_lowpass(syn.get(), 5, 1000);
  syn_enable(syn.get(), 5, 0);
  syn_filt_cutoff(syn.get(), 5, 0);
  EXPECT_FLOAT_EQ(syn->stage[5].filt.alpha, 0.0f);
  syn_filt_highpass(syn.get(), 6, 1000);
  syn_filt_cutoff(syn.get(), 6, 0);
  EXPECT_FLOAT_EQ(syn->stage[6].filt.alpha, 1.0f);

  // An enabled noise stage draws eight values a cycle; a disabled one steps
  // at the frequency itself.
  syn_osc_noise(syn.get(), 7, 100);
  syn_osc_freq(syn.get(), 7, 441);
  EXPECT_FLOAT_EQ(syn->stage[7].osc.phasestep, 0.08f);
  syn_enable(syn.get(), 7, 0);
  syn_osc_freq(syn.get(), 7, 441);
  EXPECT_FLOAT_EQ(syn->stage[7].osc.phasestep, 0.01f);

  // Any non-zero gate value closes the gate.
  syn_adsr_hold(syn.get(), 2, 256);
  EXPECT_EQ(syn->stage[2].hold.load(), 1);
}

TEST(SynthControl, ResetStartsAndEnables) {
  auto syn = make_syn();
  syn->randnum = 0x12345;
  syn_osc_noise(syn.get(), 0, 441);
  syn_osc_triangle(syn.get(), 1, 441);
  syn_adsr(syn.get(), 2, 1, 1, 0.5f, 1);
  for (unsigned i = 0; i < 3; ++i) {
    syn->stage[i].osc.phase = 0.3f;
    syn->stage[i].end = 1;
    syn->stage[i].hold = 1;
    syn_enable(syn.get(), i, 0);
    ASSERT_EQ(syn_reset(syn.get(), i), 0);
    EXPECT_GT(syn->stage[i].type.load(), 0) << i;
    EXPECT_EQ(syn->stage[i].reset, 1) << i;
    EXPECT_EQ(syn->stage[i].end.load() + syn->stage[i].hold.load(), 0) << i;
  }
  EXPECT_FLOAT_EQ(syn->stage[0].out, static_cast<float>(0x2345) / 32767.0f - 1.0f);
  EXPECT_EQ(syn->randnum, 0x12345);  // not advanced
  EXPECT_FLOAT_EQ(syn->stage[1].osc.phase, 0.75f);
  EXPECT_EQ(syn_adsr_get_step(syn.get(), 2), 'a');
  syn_reset(syn.get(), 100);
  EXPECT_EQ(syn->stage[100].type.load(), 0);  // an unused stage stays unused
}

TEST(SynthControl, EnableRangeAndFindLastUsed) {
  auto syn = make_syn();
  for (unsigned i = 250; i < 256; ++i) syn_math_val(syn.get(), i, 1);
  EXPECT_EQ(syn_find_last_used(syn.get()), 255);
  syn_enable_range(syn.get(), 252, UINT_MAX, 0);  // indices past the end are skipped
  EXPECT_EQ(syn_find_last_used(syn.get()), 251);
  EXPECT_EQ(syn->stage[255].type.load(), -SYN_VAL);
  syn_enable_range(syn.get(), 0, 300, 0);
  EXPECT_EQ(syn_find_last_used(syn.get()), -1);
  syn_enable(syn.get(), 250, 7);
  EXPECT_EQ(syn_find_last_used(syn.get()), 250);
}

TEST(SynthControl, ActivityOfRanges) {
  auto syn = make_syn();
  // A ramp at its end, still enabled and mixed: not audible, not silent.
  syn_ramp(syn.get(), 4, 0, 1, 1);
  syn_mix(syn.get(), 4, 1);
  syn_math_val(syn.get(), 5, 1);  // enabled, not mixed: does not count
  EXPECT_EQ(syn_check_active(syn.get(), 0, 8), -1);
  syn->stage[4].end = 1;
  EXPECT_EQ(syn_check_active(syn.get(), 0, 8), 0);
  EXPECT_EQ(syn_disable_inactive(syn.get(), 0, 8), 0);
  // Disabled but not ended is not silent either; disabled and ended is.
  syn_enable(syn.get(), 4, 0);
  syn->stage[4].end = 0;
  EXPECT_EQ(syn_disable_inactive(syn.get(), 0, 8), 0);
  syn->stage[4].end = 1;
  EXPECT_EQ(syn_disable_inactive(syn.get(), 0, 8), -2);
  EXPECT_LT(syn->stage[5].type.load(), 0);
  EXPECT_EQ(syn_disable_inactive(syn.get(), 0, 8), -1);

  EXPECT_EQ(syn_check_active(syn.get(), 0, 0), 0);
  EXPECT_EQ(syn_disable_inactive(syn.get(), 0, 0), -1);
  EXPECT_EQ(syn_disable_inactive(syn.get(), 250, 7), 0);
  // A huge start cannot wrap round into range.
  syn_math_val(syn.get(), 0, 1);
  syn_mix(syn.get(), 0, 1);
  EXPECT_EQ(syn_check_active(syn.get(), UINT_MAX, 2), 0);
  EXPECT_EQ(syn_disable_inactive(syn.get(), UINT_MAX, 2), 0);
  EXPECT_EQ(syn_check_active(syn.get(), 0, 1), -1);
}

TEST(SynthCopy, RelocatesInputsIntoTheDestinationBlock) {
  auto src = make_syn();
  auto dest = make_syn();
  syn_math_add(src.get(), 0, 1, -1);
  syn_mix(src.get(), 0, 1);
  syn_math_val(src.get(), 1, 0.5f);
  syn_osc_sine(src.get(), 2, 100);
  syn_osc_in_freq(src.get(), 2, 250);  // would land past the last stage

  EXPECT_EQ(syn_copy(src.get(), 0, dest.get(), 40, 3), 0);
  EXPECT_EQ(dest->stage[40].type.load(), SYN_ADD);
  EXPECT_EQ(dest->stage[40].mix.load(), 1);
  EXPECT_EQ(dest->stage[40].math_in.a, 41);
  EXPECT_EQ(dest->stage[40].math_in.b, -1);
  EXPECT_FLOAT_EQ(dest->stage[41].math.n, 0.5f);
  EXPECT_EQ(dest->stage[42].osc_in.freq, -1);
  EXPECT_EQ(src->stage[0].math_in.a, 1);

  EXPECT_EQ(syn_copy(src.get(), 250, dest.get(), 0, 7), -1);
  EXPECT_EQ(syn_copy(src.get(), 0, dest.get(), 250, 7), -2);
  EXPECT_EQ(syn_copy(nullptr, 0, dest.get(), 0, 1), -3);
  EXPECT_EQ(syn_copy(src.get(), UINT_MAX, dest.get(), 0, 2), -1);
}

TEST(SynthCopy, OverlappingRangesCopyAsThroughATemporary) {
  for (const int shift : {2, -2}) {
    auto syn = make_syn();
    const unsigned from = 10;
    const unsigned to = static_cast<unsigned>(static_cast<int>(from) + shift);
    for (unsigned k = 0; k < 5; ++k) {
      syn_math_val(syn.get(), from + k, static_cast<float>(k));
      syn->stage[from + k].math_in.a = static_cast<int32_t>(k);  // block-relative wiring
    }
    ASSERT_EQ(syn_copy(syn.get(), from, syn.get(), to, 5), 0);
    for (unsigned k = 0; k < 5; ++k) {
      EXPECT_FLOAT_EQ(syn->stage[to + k].math.n, static_cast<float>(k)) << shift << " " << k;
      EXPECT_EQ(syn->stage[to + k].math_in.a, static_cast<int32_t>(to + k)) << shift << " " << k;
    }
  }
}

TEST(SynthBeat, CallbackSettings) {
  auto syn = make_syn();
  StdoutCapture capture;
  EXPECT_EQ(syn_set_beat_callback(syn.get(), [](SYN*) {}, 4.0f), 1);
  EXPECT_EQ(capture.take(), "tempo_samples_per_beat 11025 (4.000000 bps)\n");
  EXPECT_EQ(syn->tempo_samples_per_beat.load(), 11025u);
  EXPECT_EQ(syn->tempo_counter.load(), 1);

  EXPECT_EQ(syn_set_beat_callback(syn.get(), [](SYN*) {}, 0.0f), 1);
  EXPECT_EQ(syn->tempo_callback.load(), nullptr);
  EXPECT_EQ(syn->tempo_samples_per_beat.load(), 0u);
  EXPECT_EQ(capture.take(), "");
  EXPECT_EQ(syn_set_beat_callback(nullptr, nullptr, 4.0f), 1);  // always 1

  // A beat too long for the signed counter is cut to the longest it holds.
  syn_set_beat_callback(syn.get(), [](SYN*) {}, 1e-30f);
  EXPECT_EQ(syn->tempo_samples_per_beat.load(), 2147483647u);
  capture.take();
}

}  // namespace
