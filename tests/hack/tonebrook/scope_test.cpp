// The scope's text lines: `t` and the time it stands for at the tune's
// rate, and the tune's facts.
#include <gtest/gtest.h>

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

}  // namespace
