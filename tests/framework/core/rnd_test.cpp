#include <gtest/gtest.h>

#include <set>

#include "framework/core/rnd.h"

namespace {

TEST(Rnd, GeneratorStepFromZero) {
  mrand_seed = 0;
  EXPECT_EQ(mrand(), 53248u);
  EXPECT_EQ(mrand_seed, 0xD0002824u);
}

TEST(Rnd, SeparateStatesDoNotShare) {
  uint32_t mine = 0;
  mrand_seed = 99;
  EXPECT_EQ(mrand_ex(&mine), 53248u);
  EXPECT_EQ(mrand_seed, 99u);
}

TEST(Rnd, IntegerRangesIncludeBothEndsInEitherOrder) {
  mrand_seed = 1;
  std::set<int> forward, backward;
  for (int i = 0; i < 2000; ++i) {
    forward.insert(rnd(3, 7));
    backward.insert(rnd(7, 3));
  }
  EXPECT_EQ(forward, (std::set<int>{3, 4, 5, 6, 7}));
  EXPECT_EQ(backward, forward);
  EXPECT_EQ(rnd(5, 5), 5);
  EXPECT_EQ(rnd(-2, -2), -2);
}

TEST(Rnd, TheWidestRangeIsDefined) {
  mrand_seed = 5;
  for (int i = 0; i < 100; ++i) {
    const int v = rnd(INT32_MIN, INT32_MAX);
    EXPECT_GE(v, INT32_MIN);
  }
}

TEST(Rnd, FloatRangesReachBothEnds) {
  EXPECT_EQ(frnd(1.0f, 1.0f), 1.0);
  // Find seeds that draw 0 and 65535 to see both ends.
  uint32_t s = 0;
  bool low = false, high = false;
  for (uint32_t seed = 0; seed < 2000000 && !(low && high); ++seed) {
    s = seed;
    const unsigned v = mrand_ex(&s);
    mrand_seed = seed;
    if (v == 0) low = frnd(0.0f, 1.0f) == 0.0;
    if (v == 65535) high = frnd(0.0f, 1.0f) == 1.0;
  }
  EXPECT_TRUE(low);
  EXPECT_TRUE(high);
}

TEST(Rnd, CoinFlipsAndSigns) {
  mrand_seed = 0;
  EXPECT_EQ(rnd5050(), 1);  // 53248 has bit 15 set
  mrand_seed = 0;
  EXPECT_EQ(rndsign(), -1.0f);
}

TEST(Rnd, DiceAndChancesThatDrawNothing) {
  mrand_seed = 42;
  EXPECT_EQ(dice(0, 6), 0);
  EXPECT_EQ(dice(-3, 6), 0);
  EXPECT_EQ(onein(0), 1);
  EXPECT_EQ(mrand_seed, 42u);
  EXPECT_EQ(onein(1), 1);
  EXPECT_EQ(onein(-1), 1);
  for (int i = 0; i < 100; ++i) {
    const int d = dice(3, 6);
    EXPECT_GE(d, 3);
    EXPECT_LE(d, 18);
  }
}

TEST(Rnd, WeightedChoice) {
  WEIGHTED_CHOICE empty[] = {{0, 0, 0}};
  mrand_seed = 3;
  EXPECT_EQ(choose_weighted_item(empty), nullptr);
  EXPECT_EQ(mrand_seed, 3u);  // no draw

  WEIGHTED_CHOICE zeros[] = {{1, 0, 0}, {2, 0, 0}, {0, 0, 0}};
  EXPECT_EQ(choose_weighted_item(zeros), nullptr);
  EXPECT_NE(mrand_seed, 3u);  // after one draw

  WEIGHTED_CHOICE list[] = {{1, 10, 1}, {2, 20, 0}, {3, 30, 3}, {0, 0, 0}};
  std::set<int> ids;
  for (int i = 0; i < 500; ++i) ids.insert(choose_weighted_item(list)->id);
  EXPECT_EQ(ids, (std::set<int>{1, 3}));
  for (int i = 0; i < 50; ++i) EXPECT_EQ(choose_weighted_item_ex(list, 1)->id, 1);
}

TEST(Rnd, WeightedChoiceTiesGoToTheLaterEntry) {
  // With weights 1 and 1 a pick of 1 lands on the second entry.
  WEIGHTED_CHOICE list[] = {{1, 0, 1}, {2, 0, 1}, {0, 0, 0}};
  for (uint32_t seed = 0; seed < 64; ++seed) {
    uint32_t s = seed;
    const unsigned pick = mrand_ex(&s) % 2;
    mrand_seed = seed;
    EXPECT_EQ(choose_weighted_item(list)->id, pick == 0 ? 1 : 2);
  }
}

}  // namespace
