// The scope's model: its text lines (`t` and the time it stands for at
// the tune's rate, and the tune's facts), and the mix's trace, which must
// stand still on a steady sound and keep the two channels apart.
#include <gtest/gtest.h>

#include <vector>

#include "hack/tonebrook/scope.h"

namespace {

TEST(ScopeText, TimeAndFacts) {
  struct Case {
    uint32_t t;
    double rate;
    int instructions;
    const char* time;
    const char* facts;
  };
  const Case cases[] = {
      {0, 8000, 1, "t 0  0:00.00", "8000 Hz  1 instruction"},
      {7999, 8000, 9, "t 7999  0:00.99", "8000 Hz  9 instructions"},  // cut, not rounded up
      {480000, 8000, 0, "t 480000  1:00.00", "8000 Hz  0 instructions"},
      {28800000, 8000, 256, "t 28800000  1:00:00.00", "8000 Hz  256 instructions"},
      {4294967295u, 44100, 3, "t 4294967295  27:03:11.54", "44100 Hz  3 instructions"},
      {11025, 22050.5, 2, "t 11025  0:00.49", "22050.5 Hz  2 instructions"},
  };
  for (const Case& c : cases) {
    ScopeModel model(44100, {8, 8, 8});
    model.set_tune_rate(c.rate);
    model.set_tune_rate(-1);  // ignored
    model.set_instructions(c.instructions);
    const SCOPE_TUNE_VALUE v{c.t, 0};
    model.add_tune({&v, 1});
    model.update();
    EXPECT_EQ(model.time_line(), c.time);
    EXPECT_EQ(model.facts_line(), c.facts);
  }
}

TEST(ScopeMix, ASteadyMixStandsStillWithItsChannelsApart) {
  ScopeModel model(44100, {296, 8, 8});
  model.set_tune_rate(8000);  // 5.5125 frames a column
  uint64_t frame = 0;
  auto feed = [&](int n) {
    std::vector<STEREO_FRAME16> f;
    for (int i = 0; i < n; ++i, ++frame) {
      const auto v = static_cast<int16_t>(static_cast<int>(frame % 200) * 160 - 16000);  // a saw of 200 frames
      f.push_back({v, static_cast<int16_t>(-v)});
    }
    model.add_mix(f);
    model.update();
  };
  feed(20000);
  const std::vector<SCOPE_SPAN> first = model.mix_trace(0);
  for (int n : {1234, 77}) {
    feed(n);
    for (size_t c = 0; c < first.size(); ++c) {
      const SCOPE_SPAN l = model.mix_trace(0)[c], r = model.mix_trace(1)[c];
      ASSERT_EQ(l.low, first[c].low) << "after " << frame << " frames, column " << c;
      ASSERT_EQ(l.high, first[c].high) << "after " << frame << " frames, column " << c;
      ASSERT_EQ(r.low, -l.high) << "column " << c;
      ASSERT_EQ(r.high, -l.low) << "column " << c;
    }
  }
  // The window shows 296 x 5.5125 frames: about eight teeth of the saw,
  // starting where it rises through its middle.
  EXPECT_NEAR(first[0].low, 0.0f, 0.01f);
  int falls = 0;
  for (size_t c = 1; c < first.size(); ++c) falls += first[c].high - first[c].low > 0.5f;
  EXPECT_EQ(falls, 8);
}

}  // namespace
