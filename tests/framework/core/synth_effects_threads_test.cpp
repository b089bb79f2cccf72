// The logic thread starts effects, writes their parameters, gates envelopes
// and inspects activity while the audio thread advances the effects and
// renders, the way the runtime's loop and mixing hook share them. Run under
// ThreadSanitizer, this shows that the words they share are atomic.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "framework/core/kel.h"
#include "framework/core/synth.h"
#include "framework/core/synth_effects.h"
#include "support/capture.h"
#include "support/fake_clock.h"
#include "support/synth_fixture.h"

namespace {

std::atomic<long> effect_calls{0};
std::atomic<long> audio_updates{0};
std::atomic<long> beats{0};

// A short tone: a sine under an envelope, held for `d` ticks, then
// released or stopped.
int tone_effect(SYNTH_EFFECT_STATE* fx) {
  effect_calls.fetch_add(1);
  const unsigned base = fx->base;
  if (fx->counter++ == 0) {
    syn_osc_sine(&synraw, base, fx->freq > 0 ? fx->freq.load() : 440.0f);
    syn_osc_amp(&synraw, base, fx->scale);
    syn_adsr(&synraw, base + 1, 1, 5, 0.5f, 20);
    syn_adsr_in(&synraw, base + 1, static_cast<int>(base));
    syn_mix(&synraw, base + 1, 1);
    syn_reset(&synraw, base + 1);
    syn_adsr_hold(&synraw, base + 1, 1);
  }
  if (fx->counter < static_cast<uint32_t>(fx->d.load())) return SYNTH_EFFECT_CONT;
  syn_adsr_hold(&synraw, base + 1, 0);
  return (fx->counter & 1) != 0 ? SYNTH_EFFECT_RELEASE : SYNTH_EFFECT_STOP;
}

class SynthEffectsThreads : public SynthEffectsTest {
 protected:
  SynthEffectsThreads() : SynthEffectsTest(1) {}

  // The mixing hook's part: effects once per logic tick, then a buffer.
  void start_audio() {
    audio_ = std::thread([this] {
      std::vector<int16_t> buf(256);
      while (!done_.load()) {
        if (kel_settings.synth_effects_state.exchange(0) != 0) {
          synth_effects_update();
          audio_updates.fetch_add(1);
        }
        syn_update(&synraw, buf.data(), static_cast<unsigned>(buf.size()));
      }
    });
  }
  void stop_audio() {
    done_ = true;
    audio_.join();
  }
  // The loop's part of a logic update.
  static void logic_tick() {
    kel_ticks.fetch_add(1);
    fake_clock::advance(17);
  }
  static void logic_tick_done() { kel_settings.synth_effects_state.fetch_add(1); }

  std::atomic<bool> done_{false};
  std::thread audio_;
};

TEST_F(SynthEffectsThreads, StartingEffectsWhileTheAudioThreadRuns) {
  StdoutCapture capture;  // slot shortages are logged
  start_audio();
  for (long n = 0; n < 2000 || audio_updates.load() < 200; ++n) {
    logic_tick();
    switch (n % 4) {
      case 0: growl(30.0f + static_cast<float>(n % 7), 300); break;
      case 1: {
        SYNTH_EFFECT_STATE* fx = synth_effect_ex(tone_effect, static_cast<char>(n % 3));
        fx->freq = 200.0f + static_cast<float>(n % 500);
        fx->d = static_cast<float>(2 + n % 9);
        fx->scale = 0.5f;
        fx->priority = static_cast<int8_t>(n % 2);
        break;
      }
      case 2:
        synth_effects_active();
        syn_check_active(&synraw, 0, synth_effects_tail_slot());
        syn_adsr_hold(&synraw, static_cast<unsigned>(n % 32), static_cast<int>(n & 1));
        break;
      default:
        syn_vol(&synraw, (n & 8) != 0 ? 0.5f : 1.0f);
        syn_enable_range(&synraw, 200, 210, static_cast<int>(n & 1));
        break;
    }
    logic_tick_done();
  }
  stop_audio();
  EXPECT_GE(audio_updates.load(), 200);
  EXPECT_GT(effect_calls.load(), 0);
}

TEST_F(SynthEffectsThreads, ReinitAndBeatChangesWhileTheAudioThreadRuns) {
  StdoutCapture capture;
  start_audio();
  for (long n = 0; n < 1000 || audio_updates.load() < 100; ++n) {
    logic_tick();
    if (n % 50 == 0) synth_effects_init(-1, -1);  // the stream's synthesiser switch
    if (n % 20 == 0)
      syn_set_beat_callback(&synraw, (n % 40) == 0 ? +[](SYN*) { beats.fetch_add(1); } : nullptr, 50.0f);
    SYNTH_EFFECT_STATE* fx = synth_effect(tone_effect);
    fx->d = 3;
    logic_tick_done();
  }
  stop_audio();
  EXPECT_GE(audio_updates.load(), 100);
}

}  // namespace
