#include <gtest/gtest.h>

#include <cmath>

#include "framework/core/sine.h"

namespace {

class Sine : public ::testing::Test {
 protected:
  void SetUp() override { init_sine_table(); }
};

TEST_F(Sine, QuarterTurnsAreExact) {
  EXPECT_EQ(_sine_table[0], 0.0f);
  EXPECT_EQ(_sine_table[2048], 1.0f);
  EXPECT_EQ(_sine_table[6144], -1.0f);
}

TEST_F(Sine, EntriesAreTheSineOfTheirStep) {
  for (int i = 0; i < SINE_TABLE_SIZE; i += 97)
    EXPECT_EQ(_sine_table[i], static_cast<float>(std::sin(i * 0.0439453125 * 0.017453292519943295)));
}

TEST_F(Sine, AnglesMapToIndicesByTruncation) {
  EXPECT_EQ(sine_table_index(90), 2048);
  EXPECT_EQ(sine_table_index(180), 4096);
  EXPECT_EQ(sine_table_index(270), 6144);
  EXPECT_EQ(sine_table_index(360), 0);
  EXPECT_EQ(sine_table_index(-0.01), 0);
  EXPECT_EQ(sine_table_index(-1), 8170);
  EXPECT_EQ(sine_deg(90), 1.0f);
  EXPECT_EQ(cosine_deg(0), 1.0f);
  EXPECT_EQ(cosine_deg(90), sine_deg(180));
}

}  // namespace
