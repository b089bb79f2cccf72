// Rendering: stage evaluation sample by sample, the mix and its conversion
// to 16 bits, and the beat callback.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "framework/core/synth.h"

namespace {

std::unique_ptr<SYN> make_syn(unsigned rate = 44100) {
  auto syn = std::make_unique<SYN>();
  syn_init(syn.get(), rate, 1.0f, 256);
  return syn;
}

std::vector<int16_t> render(SYN* syn, unsigned count) {
  std::vector<int16_t> buf(count, 12345);
  syn_update(syn, buf.data(), count);
  return buf;
}

int16_t render_one(SYN* syn) { return render(syn, 1)[0]; }

// One mixed constant stage at 0 holding `v`: the conversion of v.
int16_t convert(float v, float vol = 1.0f) {
  auto syn = make_syn();
  syn_vol(syn.get(), vol);
  syn_math_val(syn.get(), 0, v);
  syn_mix(syn.get(), 0, 1);
  return render_one(syn.get());
}

TEST(SynthUpdate, NoStagesGiveSilenceAndNoCountDoesNothing) {
  auto syn = make_syn();
  syn_math_val(syn.get(), 0, 0.5f);
  syn_mix(syn.get(), 0, 1);
  syn->stages = 0;
  for (int16_t v : render(syn.get(), 64)) EXPECT_EQ(v, 0);
  EXPECT_FLOAT_EQ(syn->stage[0].out, 0.0f);  // not evaluated

  syn->stages = 1;
  int16_t untouched = 77;
  syn_update(syn.get(), &untouched, 0);
  EXPECT_EQ(untouched, 77);
  EXPECT_FLOAT_EQ(syn->stage[0].out, 0.0f);
}

TEST(SynthUpdate, MixedSineStartsOneStepIn) {
  auto syn = make_syn();
  syn_osc_sine(syn.get(), 0, 441);
  syn_mix(syn.get(), 0, 1);
  const auto buf = render(syn.get(), 100);
  EXPECT_EQ(buf[0], 2057);
  EXPECT_EQ(buf[1], 4106);
  EXPECT_NEAR(buf[24], 32767, 2);  // a quarter cycle in
  EXPECT_NEAR(buf[49], 0, 2);
  EXPECT_NEAR(buf[74], -32767, 2);
  EXPECT_NEAR(buf[99], 0, 2);
}

TEST(SynthUpdate, ConversionClampsAndRoundsDown) {
  EXPECT_EQ(convert(1.5f), 32767);
  EXPECT_EQ(convert(-1.5f), -32767);
  EXPECT_EQ(convert(1.0f), 32767);
  EXPECT_EQ(convert(-1.0f), -32767);
  EXPECT_EQ(convert(-0.00001f), -1);
  EXPECT_EQ(convert(0.00001f), 0);
  EXPECT_EQ(convert(0.5f), 16383);
  EXPECT_EQ(convert(-0.5f), -16384);
  EXPECT_EQ(convert(1.0f, 0.5f), 16383);
  EXPECT_EQ(convert(std::numeric_limits<float>::infinity()), 32767);
  EXPECT_EQ(convert(-std::numeric_limits<float>::infinity()), -32767);
  EXPECT_EQ(convert(std::numeric_limits<float>::quiet_NaN()), 0);
}

TEST(SynthUpdate, HigherAndOwnIndicesArriveOneSampleLate) {
  auto syn = make_syn();
  syn_math_val(syn.get(), 1, 0.25f);
  syn_math_val(syn.get(), 2, 0.0f);
  syn_math_add(syn.get(), 0, 1, 2);  // reads stage 1 before it runs
  syn_math_add(syn.get(), 3, 3, 1);  // accumulates its own previous value
  syn_math_mul(syn.get(), 4, 1, 1);
  render_one(syn.get());
  EXPECT_FLOAT_EQ(syn->stage[0].out, 0.0f);
  EXPECT_FLOAT_EQ(syn->stage[3].out, 0.25f);
  EXPECT_FLOAT_EQ(syn->stage[4].out, 0.0625f);
  render_one(syn.get());
  EXPECT_FLOAT_EQ(syn->stage[0].out, 0.25f);
  EXPECT_FLOAT_EQ(syn->stage[3].out, 0.5f);
}

TEST(SynthUpdate, UnconnectedOrOutOfRangeInputs) {
  auto syn = make_syn();
  syn_math_val(syn.get(), 1, 0.5f);
  syn_math_mul(syn.get(), 0, 1, -1);
  syn_math_add(syn.get(), 2, -1, 1);
  syn_osc_sine(syn.get(), 3, 441);
  syn->stage[3].osc_in.amp = 1000;  // written by hand, past the last stage
  syn->stage[3].osc_in.off = INT_MIN;
  syn->stage[3].osc_in.freq = INT_MAX;
  syn->stage[3].osc_in.sync = 256;
  syn_filt_highpass(syn.get(), 4, 100);  // no signal: reads silence
  syn->stage[4].filt_in.cutoff = 257;
  render(syn.get(), 4);
  EXPECT_FLOAT_EQ(syn->stage[0].out, 0.0f);
  EXPECT_FLOAT_EQ(syn->stage[2].out, 0.0f);
  EXPECT_FLOAT_EQ(syn->stage[3].osc.phasestep, 0.01f);
  EXPECT_NEAR(syn->stage[3].out, std::sin(2 * M_PI * 0.04), 1e-4);
  EXPECT_FLOAT_EQ(syn->stage[4].out, 0.0f);
}

TEST(SynthUpdate, DisabledStagesKeepTheirOutput) {
  auto syn = make_syn();
  syn_math_val(syn.get(), 0, 0.5f);
  syn_math_add(syn.get(), 1, 0, 0);
  syn_mix(syn.get(), 1, 1);
  render_one(syn.get());
  syn_math_val(syn.get(), 0, 0.25f);
  syn_enable(syn.get(), 0, 0);
  EXPECT_EQ(render_one(syn.get()), 32767);  // still reads 0.5 + 0.5
  syn_enable(syn.get(), 1, 0);
  EXPECT_EQ(render_one(syn.get()), 0);
  syn_enable(syn.get(), 0, 1);
  syn_enable(syn.get(), 1, 1);
  EXPECT_EQ(render_one(syn.get()), 16383);
}

TEST(SynthEnvelope, AttackDecaySustainRelease) {
  auto syn = make_syn(1000);
  syn_adsr(syn.get(), 0, 10, 10, 0.5f, 10);
  syn_mix(syn.get(), 0, 1);
  syn_reset(syn.get(), 0);
  std::vector<float> level;
  std::vector<char> step;
  for (int n = 0; n < 40 && syn->stage[0].type > 0; ++n) {
    render_one(syn.get());
    level.push_back(syn->stage[0].out);
    step.push_back(syn->stage[0].adsr.step);
  }
  ASSERT_GE(level.size(), 10u);
  EXPECT_LT(level[8], 1.0f);
  EXPECT_FLOAT_EQ(level[9], 1.0f);  // the tenth sample
  EXPECT_EQ(step[9], 'd');
  EXPECT_LT(level[10], 1.0f);
  size_t s = 0;
  while (s < step.size() && step[s] != 's') ++s;
  ASSERT_LT(s + 1, step.size());
  EXPECT_FLOAT_EQ(level[s], 0.5f);
  // Without the gate, sustain lasts one sample at the same level.
  EXPECT_EQ(step[s + 1], 'r');
  EXPECT_FLOAT_EQ(level[s + 1], 0.5f);
  EXPECT_LT(level[s + 2], 0.5f);
  // The release ends it: finished, disabled, ended, silent.
  EXPECT_EQ(step.back(), 'f');
  EXPECT_FLOAT_EQ(level.back(), 0.0f);
  EXPECT_LT(syn->stage[0].type.load(), 0);
  EXPECT_EQ(syn->stage[0].end.load(), 1);
  EXPECT_LT(level.size(), 35u);
}

TEST(SynthEnvelope, GateHoldsSustainAndSignalIsMultiplied) {
  auto syn = make_syn(1000);
  syn_math_val(syn.get(), 0, 0.5f);
  syn_adsr(syn.get(), 1, 0, 0, 0.8f, 0);
  syn_adsr_in(syn.get(), 1, 0);
  syn_reset(syn.get(), 1);
  syn_adsr_hold(syn.get(), 1, 1);
  render(syn.get(), 100);
  EXPECT_EQ(syn->stage[1].adsr.step, 's');
  EXPECT_FLOAT_EQ(syn->stage[1].out, 0.4f);
  syn_adsr_hold(syn.get(), 1, 0);
  render(syn.get(), 2);
  EXPECT_LT(syn->stage[1].type.load(), 0);  // zero release time: gone at once
  EXPECT_FLOAT_EQ(syn->stage[1].out, 0.0f);
}

TEST(SynthEnvelope, UnstartedEnvelopeFinishesAtOnce) {
  auto syn = make_syn();
  syn_adsr(syn.get(), 0, 1, 1, 1, 1);
  syn_mix(syn.get(), 0, 1);
  syn->stage[0].out = 0.7f;
  EXPECT_EQ(render_one(syn.get()), 0);
  EXPECT_EQ(syn->stage[0].type.load(), -SYN_ADSR);
  EXPECT_EQ(syn->stage[0].end.load(), 1);
  EXPECT_FLOAT_EQ(syn->stage[0].out, 0.0f);
}

TEST(SynthRamps, ReachTheEndThenFlagIt) {
  auto syn = make_syn(1000);
  syn_ramp(syn.get(), 0, 0, 1, 1);
  syn_mix(syn.get(), 0, 1);
  EXPECT_EQ(render_one(syn.get()), 32767);
  EXPECT_FLOAT_EQ(syn->stage[0].out, 1.0f);
  EXPECT_EQ(syn->stage[0].end.load(), 0);
  render_one(syn.get());
  EXPECT_FLOAT_EQ(syn->stage[0].out, 1.0f);
  EXPECT_EQ(syn->stage[0].end.load(), 1);
  EXPECT_GT(syn->stage[0].type.load(), 0);

  syn_ramp(syn.get(), 1, 1, 0, 2);  // down to the smallest normal float
  render(syn.get(), 3);
  EXPECT_EQ(syn->stage[1].out, std::numeric_limits<float>::min());
  EXPECT_EQ(syn->stage[1].end.load(), 1);
}

TEST(SynthOscillators, TriangleStartsNearZeroRising) {
  auto syn = make_syn();
  syn_osc_triangle(syn.get(), 0, 441);
  syn_mix(syn.get(), 0, 1);
  const auto buf = render(syn.get(), 30);
  EXPECT_NEAR(buf[0], 1310, 2);
  EXPECT_GT(buf[1], buf[0]);
  EXPECT_NEAR(buf[24], 32767, 2);  // the top at phase 0 (1)
  EXPECT_LT(buf[26], buf[25]);
}

TEST(SynthOscillators, PulseWrapsAndFlagsRestart) {
  auto syn = make_syn();
  syn_osc_pulse(syn.get(), 0, 11025);  // a quarter cycle per sample
  syn_mix(syn.get(), 0, 1);
  std::vector<int16_t> buf;
  std::vector<int> reset;
  for (int n = 0; n < 8; ++n) {
    buf.push_back(render_one(syn.get()));
    reset.push_back(syn->stage[0].reset);
  }
  EXPECT_EQ(buf, (std::vector<int16_t>{32767, -32767, -32767, 32767, 32767, -32767, -32767, 32767}));
  EXPECT_EQ(reset, (std::vector<int>{0, 0, 0, 1, 0, 0, 0, 1}));

  // A duty input sets the duty from its magnitude.
  syn_math_val(syn.get(), 1, -0.8f);
  syn_osc_in_duty(syn.get(), 0, 1);
  render(syn.get(), 2);  // a higher stage arrives a sample late
  EXPECT_FLOAT_EQ(syn->stage[0].osc.duty, 0.8f);

  // An oversample count of 0 counts as one.
  syn->oversample = 0;
  for (int16_t v : render(syn.get(), 8)) EXPECT_TRUE(v == 32767 || v == -32767) << v;
}

TEST(SynthOscillators, SyncRestartsFromTheMastersWrap) {
  auto syn = make_syn();
  syn_osc_pulse(syn.get(), 0, 11025);
  syn_osc_triangle(syn.get(), 1, 441);
  syn_osc_in_sync(syn.get(), 1, 0);
  for (int n = 0; n < 8; ++n) {
    render_one(syn.get());
    const bool master = syn->stage[0].reset != 0;
    EXPECT_EQ(syn->stage[1].reset != 0, master) << n;
    if (master) {
      EXPECT_FLOAT_EQ(syn->stage[1].osc.phase, 0.75f) << n;
    }
  }
  EXPECT_FLOAT_EQ(syn->stage[1].osc.phase, 0.75f);  // synced on sample 8
}

TEST(SynthOscillators, FrequencyInputTakesEffectOnTheNextStep) {
  auto syn = make_syn();
  syn_math_val(syn.get(), 0, syn_freqval(syn.get(), 441));
  syn_osc_sine(syn.get(), 1, 4410);
  syn_osc_in_freq(syn.get(), 1, 0);
  render_one(syn.get());
  EXPECT_FLOAT_EQ(syn->stage[1].osc.phase, 0.1f);
  render_one(syn.get());
  EXPECT_FLOAT_EQ(syn->stage[1].osc.phase, 0.11f);

  // Negative steps run the phase backwards and wrap below 0.
  syn_math_val(syn.get(), 0, -0.3f);
  render(syn.get(), 2);
  EXPECT_NEAR(syn->stage[1].osc.phase, 0.11f + 0.01f - 0.3f + 1.0f, 1e-6);
  EXPECT_EQ(syn->stage[1].reset, 1);
}

TEST(SynthOscillators, NoiseHoldsBetweenWraps) {
  auto syn = make_syn();
  syn_osc_noise(syn.get(), 0, 44100.0f / 32);  // a quarter cycle per sample
  std::vector<float> out;
  for (int n = 0; n < 8; ++n) {
    render_one(syn.get());
    out.push_back(syn->stage[0].out);
  }
  EXPECT_FLOAT_EQ(out[0], 0.0f);
  EXPECT_FLOAT_EQ(out[2], 0.0f);
  EXPECT_FLOAT_EQ(out[3], 12345.0f / 32767.0f - 1.0f);  // first draw of the generator
  EXPECT_FLOAT_EQ(out[4], out[3]);
  EXPECT_FLOAT_EQ(out[6], out[3]);
  EXPECT_NE(out[7], out[3]);
  EXPECT_EQ(syn->randnum, static_cast<int32_t>(12345u * 1103515245u + 12345u));

  // With no phase step every sample wraps and draws.
  syn->stage[0].osc.phasestep = 0.0f;
  syn->stage[0].osc.phase = 0.0f;
  float last = syn->stage[0].out;
  for (int n = 0; n < 4; ++n) {
    render_one(syn.get());
    EXPECT_EQ(syn->stage[0].reset, 1);
    EXPECT_NE(syn->stage[0].out, last);
    last = syn->stage[0].out;
  }
}

TEST(SynthFilters, HighAndLowPassArithmetic) {
  auto syn = make_syn();
  syn_math_val(syn.get(), 0, 1.0f);
  syn_filt_highpass(syn.get(), 1, 1000);
  syn_filt_in(syn.get(), 1, 0);
  syn_filt_lowpass(syn.get(), 2, 1000);
  syn_filt_in(syn.get(), 2, 0);
  syn_filt_q(syn.get(), 2, 0.5f);
  const float ah = syn->stage[1].filt.alpha;
  const float al = syn->stage[2].filt.alpha;
  render_one(syn.get());
  EXPECT_FLOAT_EQ(syn->stage[1].out, ah);
  EXPECT_FLOAT_EQ(syn->stage[2].out, al);
  render_one(syn.get());
  EXPECT_FLOAT_EQ(syn->stage[1].out, ah * ah);
  const float y1 = al;
  EXPECT_FLOAT_EQ(syn->stage[2].out, y1 + al * (1 - y1) + 0.5f * (y1 - 0.0f));

  // Cutoff and resonance inputs supply the coefficient and q directly.
  syn_math_val(syn.get(), 3, -0.25f);
  syn_filt_in_cutoff(syn.get(), 1, 3);
  syn_filt_in_q(syn.get(), 2, 3);
  render(syn.get(), 2);
  EXPECT_FLOAT_EQ(syn->stage[1].filt.alpha, 0.25f);
  EXPECT_FLOAT_EQ(syn->stage[2].filt.q, 0.25f);
}

TEST(SynthBeat, CallbackRunsAfterTheFirstSampleThenEveryBeat) {
  static int calls;
  static std::vector<unsigned> when;
  static unsigned sample;
  calls = 0;
  when.clear();
  auto syn = make_syn();
  syn_set_beat_callback(syn.get(), [](SYN*) { ++calls; when.push_back(sample); }, 4.0f);
  for (sample = 0; sample < 2 * 11025 + 2; ++sample) render_one(syn.get());
  EXPECT_EQ(when, (std::vector<unsigned>{0, 11025, 22050}));

  // Changes to stages apply from the next sample, to the volume from the
  // next buffer.
  auto other = make_syn();
  syn_math_val(other.get(), 0, 0.5f);
  syn_mix(other.get(), 0, 1);
  syn_set_beat_callback(
      other.get(),
      [](SYN* s) {
        syn_math_val(s, 0, 0.25f);
        syn_vol(s, 0.5f);
      },
      1.0f);
  const auto buf = render(other.get(), 3);
  EXPECT_EQ(buf[0], 16383);
  EXPECT_EQ(buf[1], 8191);
  EXPECT_EQ(render_one(other.get()), 4095);
}

}  // namespace
