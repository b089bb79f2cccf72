#include <gtest/gtest.h>

#include <vector>

#include "framework/core/input.h"
#include "framework/core/kel.h"

namespace {

std::vector<INPUT_EVENT> seen;

class Input : public ::testing::Test {
 protected:
  void SetUp() override {
    input_init();
    seen.clear();
    input_set_callback([](INPUT_EVENT* e) { seen.push_back(*e); });
  }
  void TearDown() override { input_set_callback(nullptr); }

  static void queue(int type, int keyid, int id = 0, float x = 0, float y = 0) {
    INPUT_EVENT e{type, keyid, id, x, y, 0};
    input_add_event(&e);
  }
};

TEST_F(Input, KeyPressedAndReleasedWithinOneTick) {
  queue(INPUT_DOWN, K_ENTER);
  queue(INPUT_UP, K_ENTER);
  EXPECT_EQ(input_update_events(), 2);
  EXPECT_EQ(keys[K_ENTER], 0);
  EXPECT_EQ(keyevent[K_ENTER], INPUT_UP);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].type, INPUT_DOWN);
  EXPECT_EQ(seen[1].type, INPUT_UP);
}

TEST_F(Input, HeldKeysOutliveTheTickButEventsDoNot) {
  queue(INPUT_DOWN, K_LEFT);
  input_update_events();
  input_clear_events();
  EXPECT_EQ(keys[K_LEFT], 1);
  EXPECT_EQ(keyevent[K_LEFT], 0);
}

TEST_F(Input, EventsAreStampedWithTheTickCount) {
  kel_ticks = 77;
  queue(INPUT_DOWN, K_A);
  input_update_events();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].timestamp, 77u);
}

TEST_F(Input, PointerStateCombinesTheTypesOfOneTick) {
  queue(INPUT_DOWN, K_MOUSE, 0, 10.7f, 20.2f);
  queue(INPUT_UP, K_MOUSE, 0, 11, 21);
  input_update_events();
  EXPECT_EQ(mouse_state[0].state, 5);
  EXPECT_EQ(mouse_state[0].down, 0);
  EXPECT_EQ(mouse_state[0].x, 11);
  EXPECT_EQ(mouse_state[0].y, 21);

  input_clear_events();
  EXPECT_EQ(mouse_state[0].state, 0);
  queue(INPUT_DOWN, K_MOUSE, 2, -3.9f, 4);
  queue(INPUT_MOVE, K_MOUSE, 2, 5, 6);
  input_update_events();
  EXPECT_EQ(mouse_state[2].state, 1);  // a move after a press adds nothing
  EXPECT_EQ(mouse_state[2].down, 1);
  EXPECT_EQ(mouse_state[2].x, 5);

  input_clear_events();
  queue(INPUT_MOVE, K_MOUSE, 1, 1, 1);
  queue(INPUT_DOWN, K_MOUSE, 1, 1, 1);
  input_update_events();
  EXPECT_EQ(mouse_state[1].state, 3);
}

TEST_F(Input, UnknownKeysLandOnKeyNone) {
  queue(INPUT_DOWN, K_NONE);
  input_update_events();
  EXPECT_EQ(keys[K_NONE], 1);
}

TEST_F(Input, EventsWithAKeyOutsideTheTableAreDropped) {
  queue(INPUT_DOWN, K_COUNT);
  queue(INPUT_DOWN, -1);
  EXPECT_EQ(input_update_events(), 0);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(input_update_events(), 0);  // consumed
}

TEST_F(Input, PointerIdsBeyondTheTableAreCountedButChangeNoRecord) {
  queue(INPUT_DOWN, K_MOUSE, 25, 3, 3);
  queue(INPUT_DOWN, K_MOUSE, -1, 3, 3);
  EXPECT_EQ(input_update_events(), 2);
  EXPECT_EQ(seen.size(), 2u);
  for (const MOUSE_STATE& m : mouse_state) EXPECT_EQ(m.state, 0);
}

TEST_F(Input, TheRingHoldsAtMost255UndrainedEvents) {
  for (int i = 0; i < 256; ++i) queue(INPUT_DOWN, K_A);
  EXPECT_EQ(input_update_events(), 0);  // exactly 256 reads as empty
  for (int i = 0; i < 300; ++i) queue(INPUT_DOWN, K_A);
  EXPECT_EQ(input_update_events(), 300 % 256);
}

TEST_F(Input, EventsQueuedByTheCallbackAreHandledInTheSameDrain) {
  input_set_callback([](INPUT_EVENT* e) {
    seen.push_back(*e);
    if (e->keyid == K_W) {
      INPUT_EVENT follow{INPUT_DOWN, K_S, 0, 0, 0, 0};
      input_add_event(&follow);
    }
  });
  queue(INPUT_DOWN, K_W);
  EXPECT_EQ(input_update_events(), 2);
  EXPECT_EQ(keys[K_S], 1);
}

TEST_F(Input, ResetForgetsEverything) {
  queue(INPUT_DOWN, K_D);
  input_update_events();
  queue(INPUT_DOWN, K_A);
  input_reset();
  EXPECT_EQ(keys[K_D], 0);
  EXPECT_EQ(input_update_events(), 0);
}

}  // namespace
