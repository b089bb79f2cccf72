// Tests of the effect slots: the runtime's synthesiser switched on in the
// settings, the slots at their start-up sizes, a clock the test drives and
// logic ticks the test makes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "framework/core/kel_shared.h"
#include "framework/core/synth.h"
#include "framework/core/synth_effects.h"
#include "support/fake_clock.h"

class SynthEffectsTest : public ::testing::Test {
 protected:
  explicit SynthEffectsTest(uint32_t first_tick = 100) : first_tick_(first_tick) {}

  void SetUp() override {
    fake_clock::install(0);
    kel_set_clock(fake_clock::seconds);
    kel_settings.enable_synth = 1;
    kel_settings.synth_effects_state = 0;
    kel_ticks = first_tick_;
    syn_init(&synraw, 44100, 1.0f, 256);
    synth_effects_init(0, 0);
  }
  void TearDown() override {
    kel_settings.enable_synth = 0;
    kel_set_clock(nullptr);
    fake_clock::uninstall();
  }

  // One logic tick, and the effects' update that follows it.
  static void tick() {
    kel_ticks.fetch_add(1);
    synth_effects_update();
  }

 private:
  uint32_t first_tick_;
};
