#include <gtest/gtest.h>

#include <string>

#include "framework/core/state.h"

namespace {

std::string calls;
STATE* switch_from_enter = nullptr;

STATE a = {[] { calls += "a.enter "; }, [] { calls += "a.update "; }, [] { calls += "a.render "; },
           [] { calls += "a.leave "; }};
STATE b = {[] {
             calls += "b.enter ";
             if (switch_from_enter) state_switch(switch_from_enter);
           },
           nullptr, nullptr, [] { calls += "b.leave "; }};
STATE bare = {nullptr, nullptr, nullptr, nullptr};

TEST(State, StartsOnADefaultStateWhoseCallbacksDoNothing) {
  ASSERT_NE(state_current(), nullptr);
  EXPECT_EQ(state_last(), nullptr);
  state_update();
  state_render();
}

TEST(State, SwitchCallsLeaveThenEnterAndRemembersTheLastState) {
  state_switch(&a);
  calls.clear();
  EXPECT_EQ(state_switch(&b), &b);
  EXPECT_EQ(calls, "a.leave b.enter ");
  EXPECT_EQ(state_current(), &b);
  EXPECT_EQ(state_last(), &a);
}

TEST(State, SwitchingToTheCurrentStateLeavesAndEntersItButKeepsLast) {
  state_switch(&b);
  state_switch(&a);
  calls.clear();
  EXPECT_EQ(state_switch(&a), &a);
  EXPECT_EQ(calls, "a.leave a.enter ");
  EXPECT_EQ(state_last(), &b);
}

TEST(State, NullSwitchReturnsTheCurrentStateAndCallsNothing) {
  state_switch(&a);
  calls.clear();
  EXPECT_EQ(state_switch(nullptr), &a);
  EXPECT_EQ(calls, "");
}

TEST(State, AnEnterThatSwitchesAgainDecidesTheResult) {
  switch_from_enter = &bare;
  EXPECT_EQ(state_switch(&b), &bare);
  EXPECT_EQ(state_current(), &bare);
  switch_from_enter = nullptr;
}

TEST(State, SetChangesTheCurrentStateWithoutCallbacks) {
  state_switch(&a);
  STATE* last = state_last();
  calls.clear();
  state_set(&b);
  EXPECT_EQ(calls, "");
  EXPECT_EQ(state_current(), &b);
  EXPECT_EQ(state_last(), last);
  state_set(nullptr);  // ignored: the loop always has a state to call
  EXPECT_EQ(state_current(), &b);
}

TEST(State, NullCallbacksAreSkipped) {
  state_switch(&bare);
  state_update();
  state_render();
  calls.clear();
  state_switch(&a);
  state_update();
  state_render();
  EXPECT_EQ(calls, "a.enter a.update a.render ");
}

}  // namespace
