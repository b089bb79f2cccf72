// The window's pointer as the tune's inputs, and the volume's steps.
#include "hack/tonebrook/player_window.h"

#include <gtest/gtest.h>

namespace {

TEST(PlayerWindow, ThePointerIsTheInputs) {
  const struct {
    PLAYER_POINTER pointer;
    std::array<VAL32, 4> inputs;  // x, y, u, v
  } cases[] = {
      {{0, 503, 960, 504, false, false}, {0, 0, 0, 0}},          // bottom-left corner
      {{959, 0, 960, 504, false, false}, {255, 255, 0, 0}},      // top-right corner
      {{480, 252, 960, 504, false, false}, {128, 127, 0, 0}},    // the middle
      {{3, 503, 960, 504, false, false}, {0, 0, 0, 0}},          // each value: 3.75 pixels across, 1.97 up
      {{4, 501, 960, 504, false, false}, {1, 1, 0, 0}},
      {{-20, 600, 960, 504, true, false}, {0, 0, 255, 0}},       // outside: the nearest edge
      {{2000, -1, 960, 504, false, true}, {255, 255, 0, 255}},
      {{10, 10, 0, 0, true, true}, {0, 0, 255, 255}},            // no window
  };
  for (const auto& c : cases)
    EXPECT_EQ(player_window_inputs(c.pointer), c.inputs) << c.pointer.x << ", " << c.pointer.y;
}

TEST(PlayerWindow, TheVolumeStepsByTenthsWithinZeroAndOne) {
  const struct {
    float volume;
    int direction;
    float after;
  } cases[] = {
      {1.0f, 1, 1.0f}, {1.0f, -1, 0.9f}, {0.7f, 1, 0.8f}, {0.7f, -1, 0.6f}, {0.3f, -1, 0.2f},
      {0.55f, 1, 0.6f}, {0.55f, -1, 0.5f}, {0.0f, -1, 0.0f}, {0.05f, -1, 0.0f}, {0.0f, 1, 0.1f},
  };
  for (const auto& c : cases)
    EXPECT_FLOAT_EQ(player_window_volume_step(c.volume, c.direction), c.after) << c.volume << " " << c.direction;
  // Ten steps down from the top reach silence exactly.
  float v = 1.0f;
  for (int i = 0; i < 10; ++i) v = player_window_volume_step(v, -1);
  EXPECT_EQ(v, 0.0f);
}

}  // namespace
