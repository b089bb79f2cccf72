// Start-up, shut-down, the clocks and the runtime's small accessors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "framework/core/kel.h"
#include "framework/core/rnd.h"
#include "framework/core/sine.h"
#include "support/capture.h"
#include "support/fake_clock.h"

using ::testing::MatchesRegex;

namespace {

class Kel : public ::testing::Test {
 protected:
  void SetUp() override { fake_clock::install(2500); }
  void TearDown() override {
    kel_exit();
    fake_clock::uninstall();
  }
};

// The runtime clock starts at the end of kel_init: the lines before it read
// 0.00s, not the platform's seconds (2.5 here).
TEST_F(Kel, InitLogsItsStepsOnceAndPrefixesEveryLine) {
  StdoutCapture out;
  EXPECT_EQ(kel_init(), 1);
  EXPECT_EQ(kel_init(), 1);
  const std::string log = out.take();
  EXPECT_THAT(log, MatchesRegex(R"(\[kel 0\.00s \(0\)\] kel init
\[kel 0\.00s \(0\)\] INPUT INIT
\[kel 0\.00s \(0\)\] line [0-9]+: plat_msg_set_replier
\[kel 0\.00s \(0\)\] EFFECT MAX   4
\[kel 0\.00s \(0\)\] EFFECT SLOTS 8
\[kel 0\.00s \(0\)\] atlas: init
\[kel 0\.00s \(0\)\] line [0-9]+: kel_set_logic_rate
\[kel 0\.00s \(0\)\] RATE 60
)"));
}

TEST_F(Kel, ClocksCountFromTheEndOfInit) {
  kel_init();
  EXPECT_EQ(kel_ticks, 150u);  // 2.5 s of platform time at 60 per second
  EXPECT_DOUBLE_EQ(kel_seconds(), 0.0);
  fake_clock::advance(1250);
  EXPECT_DOUBLE_EQ(kel_seconds(), 1.25);
  StdoutCapture out;
  kel_set_app_name("x");
  kel_enable_wave(1);  // refused before the stream: logs nothing
  EXPECT_EQ(out.take(), "");
}

TEST_F(Kel, InitSeedsTheGeneratorAndFillsTheSineTable) {
  mrand_seed = 0;
  _sine_table[2048] = 0;
  kel_init();
  EXPECT_NE(mrand_seed, 0u);
  EXPECT_EQ(_sine_table[2048], 1.0f);
}

TEST_F(Kel, InitClearsTheSettings) {
  kel_settings.enable_wav = 1;
  kel_settings.stream_init_result = 5;
  kel_settings.callback_skreel = [](int16_t*, int, int) {};
  kel_init();
  EXPECT_EQ(kel_settings.enable_wav, 0);
  EXPECT_EQ(kel_settings.stream_init_result, 0);
  EXPECT_EQ(kel_settings.callback_skreel.load(), nullptr);
}

TEST_F(Kel, ExitLogsOnceAndMayBeCalledAgain) {
  kel_init();
  StdoutCapture out;
  kel_exit();
  kel_exit();
  EXPECT_EQ(strip_log_prefixes(out.take()), "Quitting...\natlas: deleted 0 textures\nBye! :)\n");
}

TEST_F(Kel, AppNameIsUnnamedUntilSet) {
  EXPECT_STREQ(kel_app_name(), "unnamed");
  static const char name[] = "tonebrook";
  kel_set_app_name(name);
  EXPECT_EQ(kel_app_name(), name);
}

TEST_F(Kel, SwitchesAreRefusedBeforeTheStreamStarts) {
  kel_init();
  EXPECT_EQ(kel_enable_wave(1), 0);
  EXPECT_EQ(kel_enable_synth(1), 0);
  EXPECT_EQ(kel_settings.enable_wav, 0);
  EXPECT_EQ(kel_settings.enable_synth, 0);
}

TEST_F(Kel, LerpAndPause) {
  EXPECT_FLOAT_EQ(kel_lerp(0.25f, 4.0f, 8.0f), 5.0f);
  kel_pause(1);
  EXPECT_EQ(kel_is_paused(), 1);
}

TEST_F(Kel, DisplaySizeBeforeAnyVideoMode) {
  EXPECT_EQ(kel_w(), 640.0f);
  EXPECT_EQ(kel_h(), 480.0f);
}

}  // namespace
