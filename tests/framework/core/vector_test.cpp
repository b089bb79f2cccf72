// The growable vector: growth steps, moves of inserted and erased items,
// items that come from the vector itself, and the assertions that stop
// misuse in every build type.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/core/vector.h"
#include "support/assertion.h"

namespace {

// A vector of chars, read back as a string.
struct Chars {
  vector_t* v = vector_new(1);
  explicit Chars(const std::string& s = "") {
    for (char c : s) vector_push_back(v, &c);
  }
  ~Chars() { vector_delete(v); }
  std::string str() const { return std::string(static_cast<const char*>(v->items), v->size); }
};

TEST(Vector, CapacityDoublesOnInsertAndGrowsExactlyOtherwise) {
  for (auto [pushes, capacity] : std::vector<std::pair<int, uint32_t>>{{0, 1}, {1, 1}, {2, 2}, {3, 4}, {5, 8}}) {
    Chars a(std::string(static_cast<size_t>(pushes), 'x'));
    EXPECT_EQ(vector_capacity(a.v), capacity) << pushes;
  }
  Chars block;
  vector_push_back_data(block.v, "abcde", 5);
  EXPECT_EQ(vector_capacity(block.v), 5u);
  vector_resize(block.v, 2);  // smaller: the storage stays
  EXPECT_EQ(vector_capacity(block.v), 5u);
  vector_resize(block.v, 11);  // larger: exactly that
  EXPECT_EQ(vector_capacity(block.v), 11u);
  vector_clear(block.v);
  void* storage = block.v->items;
  vector_push_back(block.v, "Q");
  EXPECT_EQ(block.v->items, storage);
}

TEST(Vector, InsertsAndErasesMoveTheOtherItems) {
  struct Case {
    const char* start;
    void (*op)(vector_t*);
    const char* result;
  };
  const Case cases[] = {
      {"ABC", [](vector_t* v) { vector_insert(v, 0, "X"); }, "XABC"},
      {"ABC", [](vector_t* v) { vector_insert(v, 3, "X"); }, "ABCX"},
      {"ABCD", [](vector_t* v) { vector_insert_data(v, 1, "XY", 2); }, "AXYBCD"},
      {"ABCD", [](vector_t* v) { vector_erase_range(v, 1, 3); }, "AD"},
      {"ABCD", [](vector_t* v) { vector_erase(v, 3); }, "ABC"},
      {"ABCD", [](vector_t* v) { vector_set(v, 2, "Z"); }, "ABZD"},
      {"DBCA", [](vector_t* v) {
         vector_sort(v, [](const void* a, const void* b) { return *(const char*)a - *(const char*)b; });
       }, "ABCD"},
      // Items taken from the vector itself survive its growth.
      {"AB", [](vector_t* v) { vector_push_back(v, vector_get(v, 0)); }, "ABA"},
      {"ABCD", [](vector_t* v) { vector_shrink(v), vector_insert_data(v, 1, vector_get(v, 2), 2); }, "ACDBCD"},
      {"ABCD", [](vector_t* v) { vector_shrink(v), vector_insert_data(v, 2, vector_get(v, 1), 2); }, "ABBCCD"},
      {"ABC", [](vector_t* v) { vector_shrink(v), vector_push_back_data(v, v->items, 3); }, "ABCABC"},
      // Shrunk to nothing, it still finds room.
      {"AB", [](vector_t* v) { vector_clear(v), vector_shrink(v), vector_push_back(v, "C"); }, "C"},
  };
  for (const Case& c : cases) {
    Chars a(c.start);
    c.op(a.v);
    EXPECT_EQ(a.str(), c.result) << c.start << " -> " << c.result;
  }
}

std::vector<std::string> compared;
int compare_chars(const void* searched, const void* stored) {
  compared.push_back({*static_cast<const char*>(searched), *static_cast<const char*>(stored)});
  return *static_cast<const char*>(searched) != *static_cast<const char*>(stored);
}

TEST(Vector, ContainsComparesTheSearchedItemFirst) {
  Chars empty, a("ABC");
  EXPECT_EQ(vector_contains(empty.v, "A", compare_chars), 0);
  EXPECT_TRUE(compared.empty());
  EXPECT_EQ(vector_contains(a.v, "B", compare_chars), 1);
  EXPECT_EQ(compared, (std::vector<std::string>{"BA", "BB"}));
  EXPECT_EQ(vector_contains(a.v, "Z", compare_chars), 0);
}

TEST(VectorDeathTest, MisuseStopsWithTheConditionsText) {
  struct Case {
    void (*op)();
    const char* condition;
  };
  const Case cases[] = {
      {[] { vector_new(0); }, "item_size"},
      {[] { vector_size(nullptr); }, "self"},
      {[] { vector_get(vector_new(4), 0); }, "self->size"},
      {[] { vector_insert(vector_new(1), 1, "A"); }, "index <= self->size"},
      {[] {
         vector_t* v = vector_new(1);
         vector_push_back_data(v, "AB", 2);
         vector_erase_range(v, 1, 3);
       }, "last < self->size+1"},
      {[] {
         vector_t* v = vector_new(1);
         vector_push_back(v, "A");
         vector_insert_data(v, 1, "B", 1);  // appending is push_back_data's
       }, "index < self->size"},
  };
  for (const Case& c : cases) EXPECT_DEATH(c.op(), assertion_failed(c.condition)) << c.condition;
}

}  // namespace
