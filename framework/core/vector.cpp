#include "framework/core/vector.h"

#include <cstdlib>
#include <cstring>
#include <optional>

#include "framework/core/kel_assert.h"

namespace {

unsigned char* bytes(const vector_t* self) { return static_cast<unsigned char*>(self->items); }

size_t byte_count(const vector_t* self, uint64_t items) {
  const uint64_t n = items * self->item_size;
  if (items > UINT32_MAX || n > SIZE_MAX / 2) kel_out_of_memory(__LINE__);
  return static_cast<size_t>(n);
}

// Where `p` lies in the items in use, as a byte offset, when it points into
// them: an inserted item may come from the vector itself.
std::optional<size_t> offset_inside(const vector_t* self, const void* p) {
  if (self->items == nullptr) return std::nullopt;
  const auto at = reinterpret_cast<uintptr_t>(p);
  const auto begin = reinterpret_cast<uintptr_t>(self->items);
  const uintptr_t end = begin + static_cast<uintptr_t>(self->size) * self->item_size;
  if (at < begin || at >= end) return std::nullopt;
  return at - begin;
}

// Grows the storage to exactly `count` items.
void grow(vector_t* self, uint64_t count) {
  if (count > UINT32_MAX) kel_out_of_memory(__LINE__);
  vector_reserve(self, static_cast<uint32_t>(count));
}

// Opens a gap of `count` items at `index`, growing as the caller asked, and
// returns where `source` (which may point into the vector) now lies.
const unsigned char* open_gap(vector_t* self, uint32_t index, uint32_t count, uint64_t room, const void* source) {
  const std::optional<size_t> inside = offset_inside(self, source);
  if (room > self->capacity) grow(self, room);
  const size_t item = self->item_size;
  if (index < self->size) {
    std::memmove(bytes(self) + (index + static_cast<size_t>(count)) * item, bytes(self) + index * item,
                 (self->size - index) * item);
  }
  if (!inside) return static_cast<const unsigned char*>(source);
  size_t offset = *inside;
  if (offset >= index * item) offset += count * item;  // moved up with the tail
  return bytes(self) + offset;
}

}  // namespace

vector_t* vector_new(uint32_t item_size) {
  KEL_ASSERT(item_size);
  auto* self = static_cast<vector_t*>(std::malloc(sizeof(vector_t)));
  if (self == nullptr) kel_out_of_memory(__LINE__);
  self->item_size = item_size;
  self->size = 0;
  self->capacity = 1;
  self->items = std::malloc(item_size);
  if (self->items == nullptr) kel_out_of_memory(__LINE__);
  return self;
}

void vector_delete(vector_t* self) {
  KEL_ASSERT(self);
  std::free(self->items);
  std::free(self);
}

const void* vector_get(const vector_t* self, uint32_t index) {
  KEL_ASSERT(self);
  KEL_ASSERT(self->size);
  KEL_ASSERT(index < self->size);
  return bytes(self) + static_cast<size_t>(index) * self->item_size;
}

void* vector_front(vector_t* self) {
  KEL_ASSERT(self);
  KEL_ASSERT(self->size);
  return self->items;
}

void* vector_back(vector_t* self) {
  KEL_ASSERT(self);
  KEL_ASSERT(self->size);
  return bytes(self) + static_cast<size_t>(self->size - 1) * self->item_size;
}

int vector_contains(const vector_t* self, const void* item, VECTOR_COMPARE compare) {
  KEL_ASSERT(self);
  for (uint32_t i = 0; i < self->size; ++i) {
    if (compare(item, bytes(self) + static_cast<size_t>(i) * self->item_size) == 0) return 1;
  }
  return 0;
}

int vector_empty(const vector_t* self) {
  KEL_ASSERT(self);
  return self->size == 0 ? 1 : 0;
}

uint32_t vector_size(const vector_t* self) {
  KEL_ASSERT(self);
  return self->size;
}

uint32_t vector_capacity(const vector_t* self) {
  KEL_ASSERT(self);
  return self->capacity;
}

void vector_reserve(vector_t* self, uint32_t count) {
  KEL_ASSERT(self);
  if (self->capacity >= count) return;
  void* items = std::realloc(self->items, byte_count(self, count));
  if (items == nullptr) kel_out_of_memory(__LINE__);
  self->items = items;
  self->capacity = count;
}

void vector_shrink(vector_t* self) {
  KEL_ASSERT(self);
  if (self->size < self->capacity) {
    if (self->size == 0) {
      std::free(self->items);
      self->items = nullptr;
    } else {
      void* items = std::realloc(self->items, byte_count(self, self->size));
      if (items == nullptr) kel_out_of_memory(__LINE__);
      self->items = items;
    }
  }
  self->capacity = self->size;
}

void vector_clear(vector_t* self) {
  KEL_ASSERT(self);
  self->size = 0;
}

void vector_set(vector_t* self, uint32_t index, const void* item) {
  KEL_ASSERT(self);
  KEL_ASSERT(self->size);
  KEL_ASSERT(index < self->size);
  std::memmove(bytes(self) + static_cast<size_t>(index) * self->item_size, item, self->item_size);
}

void vector_insert(vector_t* self, uint32_t index, const void* item) {
  KEL_ASSERT(self);
  KEL_ASSERT(index <= self->size);
  // Full: twice the capacity (at least one item after a shrink to nothing).
  uint64_t room = self->capacity;
  if (self->size >= self->capacity) room = self->capacity ? 2ull * self->capacity : 1;
  const unsigned char* source = open_gap(self, index, 1, room, item);
  ++self->size;
  vector_set(self, index, source);
}

void vector_erase_range(vector_t* self, uint32_t first, uint32_t last) {
  KEL_ASSERT(self);
  KEL_ASSERT(first < self->size);
  KEL_ASSERT(last < self->size+1);
  KEL_ASSERT(first < last);
  const size_t item = self->item_size;
  std::memmove(bytes(self) + first * item, bytes(self) + last * item, (self->size - last) * item);
  self->size -= last - first;
}

void vector_erase(vector_t* self, uint32_t index) {
  KEL_ASSERT(self);
  KEL_ASSERT(index < self->size);
  vector_erase_range(self, index, index + 1);
}

void vector_push_back(vector_t* self, const void* item) {
  KEL_ASSERT(self);
  vector_insert(self, self->size, item);
}

void vector_pop_back(vector_t* self) {
  KEL_ASSERT(self);
  KEL_ASSERT(self->size);
  --self->size;
}

void vector_resize(vector_t* self, uint32_t count) {
  KEL_ASSERT(self);
  if (count > self->capacity) vector_reserve(self, count);
  self->size = count;
}

void vector_push_back_data(vector_t* self, const void* data, uint32_t count) {
  KEL_ASSERT(self);
  KEL_ASSERT(data);
  KEL_ASSERT(count);
  const uint64_t room = static_cast<uint64_t>(self->size) + count;
  const unsigned char* source = open_gap(self, self->size, count, room, data);
  std::memmove(bytes(self) + static_cast<size_t>(self->size) * self->item_size, source,
               static_cast<size_t>(count) * self->item_size);
  self->size += count;
}

void vector_insert_data(vector_t* self, uint32_t index, const void* data, uint32_t count) {
  KEL_ASSERT(self);
  KEL_ASSERT(index < self->size);
  KEL_ASSERT(data);
  KEL_ASSERT(count);
  const uint64_t room = static_cast<uint64_t>(self->size) + count;
  const size_t item = self->item_size;
  const std::optional<size_t> inside = offset_inside(self, data);
  const unsigned char* source = open_gap(self, index, count, room, data);
  if (inside && *inside < index * item && *inside + count * item > index * item) {
    // The block straddles the gap: its tail moved up with the items after
    // `index`. Copy the part below the gap, then the part that moved.
    const size_t below = index * item - *inside;
    std::memmove(bytes(self) + index * item, bytes(self) + *inside, below);
    std::memmove(bytes(self) + index * item + below, bytes(self) + (index + static_cast<size_t>(count)) * item,
                 count * item - below);
  } else {
    std::memmove(bytes(self) + index * item, source, count * item);
  }
  self->size += count;
}

void vector_sort(vector_t* self, VECTOR_COMPARE compare) {
  KEL_ASSERT(self);
  KEL_ASSERT(self->size);
  std::qsort(self->items, self->size, self->item_size, compare);
}
