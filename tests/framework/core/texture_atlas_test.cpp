// The skyline packer: the places it hands out, the skyline it leaves, the
// copy into its buffer, and the assertions that stop misuse.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "framework/core/texture-atlas.h"
#include "support/assertion.h"

namespace {

using Node = std::array<int, 3>;
using Region = std::array<int, 4>;

struct Packer {
  texture_atlas_t* p;
  Packer(uint32_t w, uint32_t h, uint32_t depth = 1) : p(texture_atlas_new(w, h, depth)) {}
  ~Packer() { texture_atlas_delete(p); }
  Region get(uint32_t w, uint32_t h) {
    const ivec4 r = texture_atlas_get_region(p, w, h);
    return {r.x, r.y, r.width, r.height};
  }
  std::vector<Node> nodes() const {
    std::vector<Node> out;
    for (uint32_t i = 0; i < vector_size(p->nodes); ++i) {
      const auto* n = static_cast<const ivec3*>(vector_get(p->nodes, i));
      out.push_back({n->x, n->y, n->z});
    }
    return out;
  }
};

TEST(TextureAtlas, FirstRegionSitsInsideTheMargin) {
  Packer a(512, 512);
  EXPECT_EQ(a.nodes(), (std::vector<Node>{{1, 1, 510}}));
  EXPECT_EQ(a.p->used, 0u);
  EXPECT_EQ(a.p->id, 0u);
  EXPECT_EQ(a.get(10, 10), (Region{1, 1, 10, 10}));
  EXPECT_EQ(a.nodes(), (std::vector<Node>{{1, 11, 10}, {11, 1, 500}}));
  EXPECT_EQ(a.p->used, 100u);
}

TEST(TextureAtlas, RequestsFitUpToTheFarMargin) {
  struct Case {
    uint32_t w, h;
    bool fits;
  };
  for (const Case& c : {Case{510, 1, true}, Case{511, 1, false}, Case{1, 510, true}, Case{1, 511, false},
                        Case{510, 510, true}, Case{0xFFFFFFFFu, 1, false}, Case{1, 0xFFFFFFFFu, false}}) {
    Packer a(512, 512);
    const Region r = a.get(c.w, c.h);
    EXPECT_EQ(r[0] == 1, c.fits) << c.w << " x " << c.h;
    if (!c.fits) {
      EXPECT_EQ(r, (Region{-1, -1, 0, 0}));
      EXPECT_EQ(a.nodes(), (std::vector<Node>{{1, 1, 510}}));
      EXPECT_EQ(a.p->used, 0u);
    }
  }
}

TEST(TextureAtlas, LowestFarEdgeWinsThenTheNarrowerSegmentThenTheLeftmost) {
  Packer a(64, 64);
  // Skyline: (1, 11, 10) (11, 6, 20) (31, 11, 10) (41, 6, 22)
  for (auto [w, h] : {std::pair{10u, 10u}, {20u, 5u}, {10u, 10u}, {22u, 5u}}) a.get(w, h);
  ASSERT_EQ(a.nodes(), (std::vector<Node>{{1, 11, 10}, {11, 6, 20}, {31, 11, 10}, {41, 6, 22}}));
  // Far edge 6 + 4 on both low segments: the narrower (20 wide) wins.
  EXPECT_EQ(a.get(5, 4), (Region{11, 6, 5, 4}));
  Packer b(64, 64);
  for (auto [w, h] : {std::pair{10u, 10u}, {20u, 5u}, {10u, 10u}, {20u, 5u}}) b.get(w, h);
  EXPECT_EQ(b.get(5, 4), (Region{11, 6, 5, 4}));  // two equal low segments: the leftmost wins
}

TEST(TextureAtlas, SideBySideRegionsMergeAndCoveredNodesGo) {
  Packer a(64, 64);
  a.get(10, 5);
  a.get(10, 5);  // equal heights side by side: one node
  EXPECT_EQ(a.nodes(), (std::vector<Node>{{1, 6, 20}, {21, 1, 42}}));
  EXPECT_EQ(a.get(42, 10), (Region{21, 1, 42, 10}));
  EXPECT_EQ(a.nodes(), (std::vector<Node>{{1, 6, 20}, {21, 11, 42}}));
  // Over the whole first node and 10 columns of the second.
  EXPECT_EQ(a.get(30, 2), (Region{1, 11, 30, 2}));
  EXPECT_EQ(a.nodes(), (std::vector<Node>{{1, 13, 30}, {31, 11, 32}}));
  EXPECT_EQ(a.p->used, 100u + 420u + 60u);
}

TEST(TextureAtlas, ClearRestoresTheWholeArea) {
  Packer a(32, 32, 3);
  for (int i = 0; i < 20; ++i) a.get(3 + i % 4, 2 + i % 3);
  a.p->data[100] = 7;
  texture_atlas_clear(a.p);
  EXPECT_EQ(a.nodes(), (std::vector<Node>{{1, 1, 30}}));
  EXPECT_EQ(a.p->used, 0u);
  EXPECT_EQ(a.p->data[100], 0);
}

TEST(TextureAtlas, SetRegionCopiesRowsAtTheirStride) {
  Packer a(8, 8, 3);
  const unsigned char src[] = {1, 2, 3, 4, 5, 6, 99, 7, 8, 9, 10, 11, 12, 99};  // rows of 7 bytes
  texture_atlas_set_region(a.p, 2, 3, 2, 2, src, 7);
  const unsigned char* row3 = a.p->data + (3 * 8 + 2) * 3;
  const unsigned char* row4 = a.p->data + (4 * 8 + 2) * 3;
  EXPECT_EQ(std::vector<int>(row3, row3 + 6), (std::vector<int>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(std::vector<int>(row4, row4 + 6), (std::vector<int>{7, 8, 9, 10, 11, 12}));
  EXPECT_EQ(a.p->data[(3 * 8 + 4) * 3], 0);
  texture_atlas_set_region(a.p, 1, 1, 6, 0, nullptr, 0);  // no rows: nothing read
}

TEST(TextureAtlas, EmptyRequestsAreToldTheirPlaceAndMarkNothing) {
  Packer a(16, 16);
  EXPECT_EQ(a.get(0, 5), (Region{1, 1, 0, 5}));
  EXPECT_EQ(a.get(5, 0), (Region{1, 1, 5, 0}));
  EXPECT_EQ(a.get(0, 0xFFFFFF), (Region{-1, -1, 0, 0}));  // taller than the packer
  EXPECT_EQ(a.nodes(), (std::vector<Node>{{1, 1, 14}}));
  EXPECT_EQ(a.p->used, 0u);
}

TEST(TextureAtlas, TinyPackersHandOutNothing) {
  for (uint32_t side : {0u, 1u, 2u}) {
    Packer a(side, side);
    EXPECT_EQ(a.get(1, 1), (Region{-1, -1, 0, 0})) << side;
  }
}

TEST(TextureAtlas, DeletingAPackerWithATextureAsksTheDeleter) {
  static std::vector<uint32_t> deleted;
  texture_atlas_set_texture_deleter([](uint32_t id) { deleted.push_back(id); });
  texture_atlas_t* a = texture_atlas_new(4, 4, 4);
  a->id = 17;
  texture_atlas_delete(a);
  texture_atlas_delete(texture_atlas_new(4, 4, 4));
  texture_atlas_set_texture_deleter(nullptr);
  EXPECT_EQ(deleted, (std::vector<uint32_t>{17}));
}

TEST(TextureAtlasDeathTest, MisuseStopsWithTheConditionsText) {
  struct Case {
    void (*op)();
    const char* condition;
  };
  static const unsigned char pixels[64] = {};
  const Case cases[] = {
      {[] { texture_atlas_new(8, 8, 2); }, "(depth == 1) || (depth == 3) || (depth == 4)"},
      {[] { texture_atlas_get_region(nullptr, 1, 1); }, "self"},
      {[] { texture_atlas_set_region(texture_atlas_new(8, 8, 1), 2, 1, 6, 1, pixels, 1); },
       "(x + width) <= (self->width-1)"},
      {[] { texture_atlas_set_region(texture_atlas_new(8, 8, 1), 5, 1, 0xFFFFFFFEu, 1, pixels, 1); },
       "width < self->width"},
  };
  for (const Case& c : cases) EXPECT_DEATH(c.op(), assertion_failed(c.condition)) << c.condition;
}

}  // namespace
