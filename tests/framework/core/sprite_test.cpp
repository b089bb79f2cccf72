// Sprite quads as vertex lists: corners, texture positions, offsets,
// flips and turns, and what the batches hold and log.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "framework/core/sine.h"
#include "framework/core/sprite.h"
#include "framework/core/turtle.h"
#include "support/capture.h"

using ::testing::HasSubstr;

namespace {

using Corners = std::array<std::array<float, 2>, 4>;

Corners corners(const SPRITE_QUAD& q) { return {{{q.x[0], q.y[0]}, {q.x[1], q.y[1]}, {q.x[2], q.y[2]}, {q.x[3], q.y[3]}}}; }

MATCHER_P(NearCorners, expected, "") {
  for (size_t i = 0; i < 4; ++i)
    if (std::fabs(arg[i][0] - expected[i][0]) > 1e-3 || std::fabs(arg[i][1] - expected[i][1]) > 1e-3) return false;
  return true;
}

class Sprite : public ::testing::Test {
 protected:
  void SetUp() override {
    init_sine_table();
    turtle_reset();
    atlas_init();
    atlas_get(0)->texture_h = 64;
    atlas_get(0)->texture_w = 64;
    sprite = SPRITE{1, 1, 16, 8, 0, 0, 16, 8, 0, 0, atlas_get_full(0)};
    turtle_set_pos_unscaled(100, 50);
  }
  void TearDown() override { atlas_exit(); }
  SPRITE sprite{};
};

TEST_F(Sprite, QuadIsCentredOnThePenWithTexturePositionsFromTheBottom) {
  const SPRITE_QUAD q = sprite_quad(&sprite, 0, 0);
  EXPECT_THAT(corners(q), NearCorners(Corners{{{92, 46}, {92, 54}, {108, 46}, {108, 54}}}));
  EXPECT_EQ(std::vector<int>(q.u, q.u + 4), (std::vector<int>{1, 1, 17, 17}));
  EXPECT_EQ(std::vector<int>(q.v, q.v + 4), (std::vector<int>{63, 55, 63, 55}));
  const SPRITE_QUAD flipped = sprite_quad(&sprite, 1, 0);
  EXPECT_EQ(std::vector<int>(flipped.u, flipped.u + 4), (std::vector<int>{17, 17, 1, 1}));
  EXPECT_THAT(corners(flipped), NearCorners(corners(q)));
}

TEST_F(Sprite, OffsetsMoveTheQuadAndNotThePen) {
  sprite.xoff = -1;
  sprite.yoff = 2;
  const TURTLE before = turtle;
  struct Case {
    int flip;
    float cx, cy;
  };
  for (const Case& c : {Case{0, 99, 52}, Case{1, 101, 52}}) {
    const SPRITE_QUAD q = sprite_quad(&sprite, c.flip, 1);
    EXPECT_FLOAT_EQ((q.x[0] + q.x[3]) / 2, c.cx) << c.flip;
    EXPECT_FLOAT_EQ((q.y[0] + q.y[3]) / 2, c.cy) << c.flip;
  }
  EXPECT_EQ(std::memcmp(&turtle, &before, sizeof(TURTLE)), 0);
}

TEST_F(Sprite, TurnedAQuarterTheTopPointsRight) {
  turtle_set_angle(90);
  const SPRITE_QUAD q = sprite_quad(&sprite, 0, 0);
  // Left-top lands right of the pen, above it: the sprite's top is on the right.
  EXPECT_THAT(corners(q), NearCorners(Corners{{{104, 42}, {96, 42}, {104, 58}, {96, 58}}}));
}

TEST_F(Sprite, ScalesStretchTheHalfSizesWhichOddSizesHalveAsIntegersSinglyAndExactlyInBatches) {
  turtle_set_scalex(2);
  turtle_set_scaley(0.5);
  EXPECT_THAT(corners(sprite_quad(&sprite, 0, 0)), NearCorners(Corners{{{84, 48}, {84, 52}, {116, 48}, {116, 52}}}));
  turtle_set_scale(1);
  sprite.w = 7;
  EXPECT_FLOAT_EQ(sprite_quad(&sprite, 0, 0).x[0], 97);
  EXPECT_FLOAT_EQ(sprite_quad(&sprite, 0, 1).x[0], 96.5f);
}

TEST_F(Sprite, BatchItemsCarryPositionDepthTextureAndColour) {
  turtle.z = 3;
  turtle_set_rgba(1, 0.5f, 0, 1);
  StdoutCapture out;
  sprite_batch_plot(&sprite, 0, 0);
  sprite_batch_plot(&sprite, 1, 5);  // any non-zero: the additive batch
  EXPECT_EQ(strip_log_prefixes(out.take()),
            "ATLAS 0 BATCH 0 initialized to 64 entries (8192 bytes)\n"
            "ATLAS 0 BATCH 1 initialized to 64 entries (8192 bytes)\n");
  const ATLAS* atlas = atlas_get_full(0);
  ASSERT_EQ(atlas->batch[0].count, 1);
  ASSERT_EQ(atlas->batch[1].count, 1);
  const BATCH_ITEM& lt = atlas->batch[0].entry[0];
  EXPECT_EQ(lt.x, 92);
  EXPECT_EQ(lt.y, 46);
  EXPECT_EQ(lt.z, 3);
  EXPECT_EQ(lt.u, 1);
  EXPECT_EQ(lt.v, 63);
  EXPECT_EQ((std::vector<int>{lt.r, lt.g, lt.b, lt.a}), (std::vector<int>{255, 127, 0, 255}));
  EXPECT_EQ(atlas->batch[0].entry[3].x, 108);
  EXPECT_EQ(atlas->batch[1].entry[0].u, 17);  // flipped
}

TEST_F(Sprite, BatchesGrowBySixtyFourUpToFiveThousand) {
  StdoutCapture out;
  for (int i = 0; i < 65; ++i) sprite_batch_plot(&sprite, 0, 0);
  EXPECT_EQ(strip_log_prefixes(out.take()),
            "ATLAS 0 BATCH 0 initialized to 64 entries (8192 bytes)\n"
            "ATLAS 0 BATCH 0 grown to 128 entries (16384 bytes)\n");
  for (int i = 65; i < 5100; ++i) sprite_batch_plot(&sprite, 0, 0);
  const ATLAS_BATCH& b = atlas_get_full(0)->batch[0];
  EXPECT_EQ(b.count, 5000);
  EXPECT_EQ(b.max, 5000);
  EXPECT_EQ(b.size, 5056);
  EXPECT_THAT(strip_log_prefixes(out.take()), HasSubstr("grown to 5056 entries (647168 bytes)\n"));
}

TEST_F(Sprite, NothingIsPlottedWithoutASpriteOrItsAtlas) {
  sprite_batch_plot(nullptr, 0, 0);
  sprite.atlas = nullptr;
  sprite_batch_plot(&sprite, 0, 0);
  sprite_draw(&sprite, 0);
  EXPECT_EQ(atlas_get_full(0)->batch[0].entry, nullptr);
  EXPECT_EQ(atlas_draw_full(nullptr), -1);
}

}  // namespace
