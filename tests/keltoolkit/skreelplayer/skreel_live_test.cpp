// Playing live: commands take effect at the start of the next buffer, in
// order, each answered with the frame it took effect at; silence and pauses
// stand `t` still and fade out; nothing on the audio side allocates.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/core/kel_shared.h"
#include "framework/core/log.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "keltoolkit/skreelplayer/skreel_live.h"
#include "support/alloc_counter.h"
#include "support/capture.h"

namespace {

constexpr int kRate = 44100;
constexpr int kFrames = 1024;

// The values of `t` the player evaluated and its results, through the
// value tap.
std::vector<VAL32> seen_t;
std::vector<VAL8> seen_value;
void record_t(const VAL32* t, const VAL8* value, int n) noexcept {
  seen_t.insert(seen_t.end(), t, t + n);
  seen_value.insert(seen_value.end(), value, value + n);
}

class SkreelLive : public ::testing::Test {
 protected:
  void SetUp() override {
    skreel_reset_filter();
    skreel_reset();
    kel_set_stream_frame(0);
    seen_t.clear();
    skreel_set_value_tap(record_t);
  }
  void TearDown() override { skreel_set_value_tap(nullptr); }

  // One buffer as the mixing hook plays it: from silence, then the stream
  // moves on.
  std::vector<int16_t> buffer() {
    std::vector<int16_t> b(2 * kFrames, 0);
    seen_t.clear();
    seen_value.clear();
    skreelplayer_callback(b.data(), kFrames, kRate);
    kel_advance_stream_frame(kFrames);
    return b;
  }
  std::vector<SKREELEVENT> events() {
    std::vector<SKREELEVENT> all;
    for (SKREELEVENT e; skreel_take_event(&e);) all.push_back(e);
    return all;
  }

  StdoutCapture quiet_;  // the decoder's lines
};

TEST_F(SkreelLive, CommandsTakeEffectAtTheNextBufferInOrderAndSayAtWhichFrame) {
  ASSERT_EQ(skreel_send_tune("compiled!a", 8000.0f), 1u);
  EXPECT_EQ(skreel_send_volume(0.5f), 2u);
  EXPECT_TRUE(events().empty()) << "nothing is applied before a buffer starts";
  buffer();
  buffer();
  ASSERT_EQ(skreel_send_tune("compiled!a.1f", 44100.0f), 3u);  // t + 1, a step every frame
  const VAL32 before = seen_t.back();
  buffer();
  ASSERT_EQ(seen_t.size(), static_cast<size_t>(kFrames)) << "the rate came with the tune, in the buffer that took it";
  EXPECT_EQ(seen_t.front(), before + 1) << "t runs on across the change";
  const std::vector<SKREELEVENT> got = events();
  ASSERT_EQ(got.size(), 3u);
  const struct {
    uint32_t seq;
    SKREEL_COMMAND_KIND kind;
    uint64_t frame;
    int count;
    float value;
  } want[] = {{1, SKREEL_TUNE, 0, 1, 8000.0f}, {2, SKREEL_VOLUME, 0, 0, 0.5f}, {3, SKREEL_TUNE, 2 * kFrames, 3, 44100.0f}};
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].seq, want[i].seq);
    EXPECT_EQ(got[i].kind, want[i].kind);
    EXPECT_EQ(got[i].frame, want[i].frame);
    EXPECT_EQ(got[i].count, want[i].count);
    EXPECT_EQ(got[i].value, want[i].value);
  }
}

TEST_F(SkreelLive, SilenceAndPauseStandTStillAndFadeOutThenInAgain) {
  const int fade = static_cast<int>(std::lround(SKREEL_FADE_SECONDS * kRate));
  skreel_send_tune("compiled!FF", 8000.0f);  // a step up: the filter holds a large value
  buffer();
  for (const bool pause : {false, true}) {
    SCOPED_TRACE(pause ? "pause" : "silence");
    const VAL32 t_then = seen_t.back();
    pause ? skreel_send_pause(1) : skreel_send_silence();
    const std::vector<int16_t> fading = buffer();
    EXPECT_TRUE(seen_t.empty()) << "t stands still";
    EXPECT_NE(fading[0], 0);
    for (int f = 1; f < kFrames; ++f) {
      ASSERT_LE(std::abs(fading[2 * f]), std::abs(fading[2 * f - 2])) << "frame " << f;
      ASSERT_EQ(fading[2 * f], fading[2 * f + 1]);
    }
    EXPECT_EQ(fading[2 * (fade + 1)], 0) << "faded out within the fade's length";
    EXPECT_TRUE(skreel_output_silent());
    EXPECT_EQ(buffer(), std::vector<int16_t>(2 * kFrames, 0));
    pause ? skreel_send_pause(0) : skreel_send_tune("compiled!FF", 8000.0f);
    const std::vector<int16_t> back = buffer();
    EXPECT_FALSE(skreel_output_silent());
    ASSERT_FALSE(seen_t.empty());
    EXPECT_EQ(seen_t.front(), t_then + 1) << "t goes on from where it stood";
    EXPECT_LT(std::abs(back[0]), std::abs(back[2 * fade])) << "fades in";
    buffer();
  }
}

TEST_F(SkreelLive, RestartClearsTStackAndMemoryAndInputsReachTheProgram) {
  skreel_send_tune("compiled!7.5w5v", 8000.0f);  // stores 7 at cell 5 and fetches it back
  buffer();
  EXPECT_EQ(seen_value.back(), 7);
  const VAL32 x[4] = {200, 0, 0, 0};
  skreel_send_restart();
  skreel_send_tune("compiled!5v", 8000.0f);  // cell 5 alone
  buffer();
  EXPECT_EQ(seen_t.front(), 1u) << "t starts again from 0";
  EXPECT_EQ(seen_value.back(), 0) << "the memory was cleared";
  skreel_send_inputs(x);
  skreel_send_tune("compiled!x", 8000.0f);
  buffer();
  EXPECT_EQ(seen_value.back(), 200);
  const std::vector<SKREELEVENT> got = events();
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[1].kind, SKREEL_RESTART);
  EXPECT_EQ(got[3].kind, SKREEL_INPUTS);
  EXPECT_EQ(got[3].inputs[0], 200u);
}

TEST_F(SkreelLive, AFullRingRefusesUntilEventsAreTakenAndTheAudioSideNeverAllocates) {
  const std::string long_url = "compiled!" + std::string(1015, 'a');
  EXPECT_EQ(skreel_send_tune(long_url.c_str(), 8000.0f), 0u) << "longer than the slot";
  EXPECT_EQ(skreel_send_tune("compiled!a", 0.0f), 0u) << "no rate";
  for (int i = 0; i < SKREEL_COMMANDS_IN_FLIGHT; ++i) ASSERT_NE(skreel_send_tune("compiled!a8k", 8000.0f), 0u) << i;
  EXPECT_EQ(skreel_send_volume(1.0f), 0u);
  buffer();  // warms the log's stream
  EXPECT_EQ(skreel_send_volume(1.0f), 0u) << "applied, but the events are not taken";
  events();
  for (int i = 0; i < SKREEL_COMMANDS_IN_FLIGHT; ++i) ASSERT_NE(skreel_send_tune("compiled!a8k", 8000.0f), 0u) << i;
  std::vector<int16_t> b(2 * kFrames, 0);
  skreel_set_value_tap(nullptr);  // the test's own tap allocates
  EXPECT_EQ(alloc_counter::during([&] { skreelplayer_callback(b.data(), kFrames, kRate); }), 0);
  EXPECT_EQ(events().size(), static_cast<size_t>(SKREEL_COMMANDS_IN_FLIGHT));
}

}  // namespace
