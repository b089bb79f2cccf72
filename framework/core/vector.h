// A type-blind growable array: a contiguous block of equally sized items,
// copied in and out by bytes (no constructors, no destructors), with an
// explicit capacity. The texture atlas packer keeps its skyline in one.
//
// Threads: none of its own; a vector belongs to one thread at a time.
//
// Misuse stops the program: every operation checks its preconditions with
// KEL_ASSERT (on in every build type) and the failed condition's text is
// printed. Running out of memory (the allocator refuses, or a size or
// capacity would not fit in 32 bits) writes "line <site>: No more memory
// for allocating data" to standard error and exits with status 1; no
// operation returns an allocation failure.
//
// Pointers into the storage (vector_get, vector_front, vector_back and the
// items field) stay valid until the next operation that grows or shrinks the
// storage: vector_insert, vector_push_back, vector_insert_data,
// vector_push_back_data, vector_reserve, vector_resize, vector_shrink and
// vector_delete.
#pragma once

#include <cstdint>

struct vector_t {
  void* items;         // capacity items of item_size bytes, contiguous
  uint32_t capacity;   // items the storage holds
  uint32_t size;       // items in use, at most capacity
  uint32_t item_size;  // bytes per item, never 0
};

// 0 for equal. For vector_sort, negative, zero or positive as qsort wants.
using VECTOR_COMPARE = int (*)(const void* a, const void* b);

// A new empty vector (size 0, capacity 1) for items of `item_size` bytes
// (asserts "item_size"). The caller owns it: vector_delete frees it.
vector_t* vector_new(uint32_t item_size);
// Frees the storage and the record.
void vector_delete(vector_t* self);

// Read-only pointer to item `index` (asserts "self", "self->size",
// "index < self->size").
const void* vector_get(const vector_t* self, uint32_t index);
// Item 0 and item size - 1 (assert "self", "self->size").
void* vector_front(vector_t* self);
void* vector_back(vector_t* self);
// 1 when `compare(item, stored)` returns 0 for some stored item (searched
// from item 0), else 0. An empty vector never calls `compare`.
int vector_contains(const vector_t* self, const void* item, VECTOR_COMPARE compare);
// 1 when the vector holds no item.
int vector_empty(const vector_t* self);
uint32_t vector_size(const vector_t* self);
uint32_t vector_capacity(const vector_t* self);

// Grows the storage to exactly `count` items when it holds fewer; never
// shrinks it. Contents are kept.
void vector_reserve(vector_t* self, uint32_t count);
// Reallocates the storage to exactly `size` items. An empty vector's
// storage is freed (capacity 0); the next insertion makes room for one item
// again.
void vector_shrink(vector_t* self);
// Forgets every item; storage and capacity are kept.
void vector_clear(vector_t* self);

// Copies item_size bytes from `item` over item `index` (asserts "self",
// "self->size", "index < self->size").
void vector_set(vector_t* self, uint32_t index, const void* item);
// Inserts a copy of `item` before `index`; `index` == size appends (asserts
// "self", "index <= self->size"). A full vector doubles its capacity first.
// `item` may point into the vector itself: it is read from its new place
// when the storage moves, so vector_push_back(v, vector_get(v, 0)) is safe.
void vector_insert(vector_t* self, uint32_t index, const void* item);
// Removes items first up to, not including, last (asserts "self",
// "first < self->size", "last < self->size+1", "first < last"). The
// storage is kept.
void vector_erase_range(vector_t* self, uint32_t first, uint32_t last);
// Removes item `index` (asserts "self", "index < self->size").
void vector_erase(vector_t* self, uint32_t index);
// vector_insert at the end.
void vector_push_back(vector_t* self, const void* item);
// Drops the last item (asserts "self", "self->size").
void vector_pop_back(vector_t* self);
// Sets size to `count`, growing the storage to exactly `count` items when
// needed; new items hold whatever the storage held.
void vector_resize(vector_t* self, uint32_t count);
// Appends `count` items copied from `data`, growing to exactly the room
// needed (asserts "self", "data", "count"). `data` may point into the vector
// itself, as for vector_insert.
void vector_push_back_data(vector_t* self, const void* data, uint32_t count);
// Inserts `count` items from `data` before `index`, which must name an
// existing item: use vector_push_back_data to append (asserts "self",
// "index < self->size", "data", "count"). `data` may point into the vector
// itself, as for vector_insert.
void vector_insert_data(vector_t* self, uint32_t index, const void* data, uint32_t count);
// Sorts the items in place with qsort (asserts "self", "self->size").
void vector_sort(vector_t* self, VECTOR_COMPARE compare);
