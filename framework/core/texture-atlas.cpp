#include "framework/core/texture-atlas.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "framework/core/kel_assert.h"

namespace {

void no_delete(uint32_t) {}
TEXTURE_ATLAS_DELETE_TEXTURE delete_texture = no_delete;

ivec3* node_at(texture_atlas_t* self, uint32_t index) {
  return static_cast<ivec3*>(self->nodes->items) + index;
}

size_t data_bytes(const texture_atlas_t* self) {
  const uint64_t n = static_cast<uint64_t>(self->width) * self->height * self->depth;
  if (n > SIZE_MAX / 2) kel_out_of_memory(__LINE__);
  return static_cast<size_t>(n);
}

void push_first_node(texture_atlas_t* self) {
  const ivec3 node{{1, 1, static_cast<int32_t>(self->width - 2)}};
  vector_push_back(self->nodes, &node);
}

constexpr ivec4 kNoRegion{{-1, -1, 0, 0}};

}  // namespace

texture_atlas_t* texture_atlas_new(uint32_t width, uint32_t height, uint32_t depth) {
  KEL_ASSERT((depth == 1) || (depth == 3) || (depth == 4));
  auto* self = static_cast<texture_atlas_t*>(std::malloc(sizeof(texture_atlas_t)));
  if (self == nullptr) kel_out_of_memory(__LINE__);
  self->nodes = vector_new(sizeof(ivec3));
  self->width = width;
  self->height = height;
  self->depth = depth;
  self->used = 0;
  self->id = 0;
  // One byte at least, so that an empty packer still owns a buffer.
  const size_t n = data_bytes(self);
  self->data = static_cast<unsigned char*>(std::calloc(n ? n : 1, 1));
  if (self->data == nullptr) kel_out_of_memory(__LINE__);
  push_first_node(self);
  return self;
}

void texture_atlas_delete(texture_atlas_t* self) {
  KEL_ASSERT(self);
  vector_delete(self->nodes);
  if (self->data) std::free(self->data);
  if (self->id) delete_texture(self->id);
  std::free(self);
}

int texture_atlas_fit(texture_atlas_t* self, uint32_t index, uint32_t width, uint32_t height) {
  KEL_ASSERT(self);
  const auto* node = static_cast<const ivec3*>(vector_get(self->nodes, index));
  const int64_t right_limit = static_cast<int64_t>(self->width) - 1;
  const int64_t bottom_limit = static_cast<int64_t>(self->height) - 1;
  if (static_cast<int64_t>(node->x) + width > right_limit) return -1;
  int64_t y = node->y;
  int64_t width_left = width;
  const uint32_t count = vector_size(self->nodes);
  for (uint32_t i = index; width_left > 0; ++i) {
    // The nodes end at column width-2, which the test above keeps us within.
    if (i >= count) return -1;
    const ivec3* n = node_at(self, i);
    if (n->y > y) y = n->y;
    if (y + height > bottom_limit) return -1;
    width_left -= n->z;
  }
  return static_cast<int>(y);
}

ivec4 texture_atlas_get_region(texture_atlas_t* self, uint32_t width, uint32_t height) {
  KEL_ASSERT(self);
  if (vector_empty(self->nodes)) return kNoRegion;
  int64_t best_height = INT_MAX;
  int64_t best_width = INT_MAX;
  int64_t best_index = -1;
  ivec4 region{{0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height)}};
  const uint32_t count = vector_size(self->nodes);
  for (uint32_t i = 0; i < count; ++i) {
    const int y = texture_atlas_fit(self, i, width, height);
    if (y < 0) continue;
    const ivec3* node = node_at(self, i);
    const int64_t far = static_cast<int64_t>(y) + height;
    if (far < best_height || (far == best_height && node->z < best_width)) {
      best_height = far;
      best_index = i;
      best_width = node->z;
      region.x = node->x;
      region.y = y;
    }
  }
  if (best_index == -1) return kNoRegion;
  // An empty rectangle takes no room: its place is reported, nothing marked.
  // (The fit test skips the height test for a zero width; do it here.)
  if (width == 0 || height == 0) {
    if (static_cast<int64_t>(region.y) + height > static_cast<int64_t>(self->height) - 1) return kNoRegion;
    return region;
  }

  const ivec3 placed{{region.x, region.y + static_cast<int32_t>(height), static_cast<int32_t>(width)}};
  const auto at = static_cast<uint32_t>(best_index);
  vector_insert(self->nodes, at, &placed);

  // Shadowing: the nodes under the new one shrink from the left, and those
  // it covers entirely go.
  const int32_t right = placed.x + placed.z;
  while (at + 1 < vector_size(self->nodes)) {
    ivec3* next = node_at(self, at + 1);
    if (next->x >= right) break;
    const int32_t shrink = right - next->x;
    next->x += shrink;
    next->z -= shrink;
    if (next->z > 0) break;
    vector_erase(self->nodes, at + 1);
  }
  texture_atlas_merge(self);
  self->used += width * height;
  return region;
}

void texture_atlas_merge(texture_atlas_t* self) {
  KEL_ASSERT(self);
  uint32_t i = 0;
  while (i + 1 < vector_size(self->nodes)) {
    ivec3* node = node_at(self, i);
    const ivec3* next = node_at(self, i + 1);
    if (next->y == node->y) {
      node->z += next->z;
      vector_erase(self->nodes, i + 1);
    } else {
      ++i;
    }
  }
}

void texture_atlas_set_region(texture_atlas_t* self, uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                              const unsigned char* data, uint32_t stride) {
  KEL_ASSERT(self);
  KEL_ASSERT(x > 0);
  KEL_ASSERT(y > 0);
  KEL_ASSERT(x < (self->width-1));
  KEL_ASSERT((x + width) <= (self->width-1));
  KEL_ASSERT(y < (self->height-1));
  KEL_ASSERT((y + height) <= (self->height-1));
  KEL_ASSERT(width < self->width);
  KEL_ASSERT(height < self->height);
  const size_t depth = self->depth;
  const size_t row_bytes = width * depth;
  for (size_t i = 0; i < height; ++i) {
    std::memcpy(self->data + ((y + i) * self->width + x) * depth, data + i * stride, row_bytes);
  }
}

void texture_atlas_clear(texture_atlas_t* self) {
  KEL_ASSERT(self);
  KEL_ASSERT(self->data);
  vector_clear(self->nodes);
  self->used = 0;
  push_first_node(self);
  std::memset(self->data, 0, data_bytes(self));
}

void texture_atlas_set_texture_deleter(TEXTURE_ATLAS_DELETE_TEXTURE deleter) {
  delete_texture = deleter ? deleter : no_delete;
}
