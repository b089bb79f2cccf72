// Fuzzes the skyline packer with sequences of requests and clears, checking
// its invariants after every call: the nodes ordered, touching, covering
// columns 1 to width - 2 with no empty node and no two neighbours of equal
// height; every region inside the one-texel margin, clear of every region
// handed out before it, and counted in `used`.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "framework/core/texture-atlas.h"

namespace {

void fail(const char* what) {
  std::fprintf(stderr, "packer invariant broken: %s\n", what);
  std::abort();
}

void check_skyline(const texture_atlas_t* p) {
  const uint32_t n = vector_size(p->nodes);
  if (n == 0) fail("no node");
  const auto* nodes = static_cast<const ivec3*>(p->nodes->items);
  if (nodes[0].x != 1) fail("first node does not start at column 1");
  for (uint32_t i = 0; i < n; ++i) {
    if (nodes[i].z <= 0) fail("empty node");
    if (nodes[i].y < 1 || nodes[i].y > static_cast<int64_t>(p->height) - 1) fail("node height outside the margin");
    if (i + 1 < n) {
      if (nodes[i + 1].x != nodes[i].x + nodes[i].z) fail("nodes overlap or leave a gap");
      if (nodes[i + 1].y == nodes[i].y) fail("neighbours of equal height");
    }
  }
  if (nodes[n - 1].x + nodes[n - 1].z != static_cast<int64_t>(p->width) - 1) fail("nodes do not end at width - 2");
}

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  bool more() const { return at < size; }
  uint32_t byte() { return at < size ? data[at++] : 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  const uint32_t w = 3 + in.byte() % 126, h = 3 + in.byte() % 126;
  texture_atlas_t* p = texture_atlas_new(w, h, 1);
  std::vector<uint8_t> owner(static_cast<size_t>(w) * h, 0);  // texels handed out
  uint64_t area = 0;
  check_skyline(p);
  while (in.more()) {
    const uint32_t op = in.byte();
    if (op == 0xFF) {
      texture_atlas_clear(p);
      std::fill(owner.begin(), owner.end(), 0);
      area = 0;
      check_skyline(p);
      if (p->used != 0) fail("used after clear");
      continue;
    }
    // Mostly small requests, sometimes far too large ones.
    uint32_t rw = in.byte(), rh = in.byte();
    if (op & 0x80) rw = (rw << 24) | 0x00FFFFFF;
    if (op & 0x40) rh = (rh << 24) | 0x00FFFFFF;
    rw %= (op & 0x80) ? 0xFFFFFFFFu : w + 2;
    rh %= (op & 0x40) ? 0xFFFFFFFFu : h + 2;
    const uint32_t before = p->used;
    const ivec4 r = texture_atlas_get_region(p, rw, rh);
    check_skyline(p);
    if (r.x < 0) {
      if (r.x != -1 || r.y != -1 || r.width != 0 || r.height != 0) fail("refusal is not (-1, -1, 0, 0)");
      if (p->used != before) fail("a refusal changed used");
      continue;
    }
    if (r.width != static_cast<int32_t>(rw) || r.height != static_cast<int32_t>(rh)) fail("region of another size");
    if (r.x < 1 || r.y < 1 || static_cast<int64_t>(r.x) + rw > w - 1 || static_cast<int64_t>(r.y) + rh > h - 1)
      fail("region outside the margin");
    for (uint32_t y = 0; y < rh; ++y)
      for (uint32_t x = 0; x < rw; ++x) {
        uint8_t& t = owner[(static_cast<uint32_t>(r.y) + y) * w + static_cast<uint32_t>(r.x) + x];
        if (t) fail("regions overlap");
        t = 1;
      }
    area += static_cast<uint64_t>(rw) * rh;
    if (p->used != static_cast<uint32_t>(area)) fail("used is not the area handed out");
  }
  texture_atlas_delete(p);
  return 0;
}
