// The growable vector: growth steps, moves of inserted and erased items,
// items that come from the vector itself, and the assertions that stop
// misuse in every build type.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "framework/core/vector.h"
#include "support/assertion.h"

namespace {

// A vector of chars, read back as a string.
struct Chars {
  vector_t* v = vector_new(1);
  ~Chars() { vector_delete(v); }
  explicit Chars(const std::string& s = "") {
    for (char c : s) vector_push_back(v, &c);
  }
  std::string str() const { return std::string(static_cast<const char*>(v->items), v->size); }
};

TEST(Vector, CapacityDoublesOnInsertAndGrowsExactlyForBlocks) {
  struct Case {
    const char* what;
    int pushes;
    uint32_t capacity;
  };
  for (const Case& c : {Case{"new", 0, 1}, Case{"one", 1, 1}, Case{"two", 2, 2}, Case{"three", 3, 4},
                        Case{"five", 5, 8}, Case{"nine", 9, 16}}) {
    Chars a;
    for (int i = 0; i < c.pushes; ++i) vector_push_back(a.v, "x");
    EXPECT_EQ(vector_capacity(a.v), c.capacity) << c.what;
    EXPECT_EQ(vector_size(a.v), static_cast<uint32_t>(c.pushes)) << c.what;
  }
  Chars block;
  vector_push_back_data(block.v, "abcde", 5);
  EXPECT_EQ(vector_capacity(block.v), 5u);
  EXPECT_EQ(block.str(), "abcde");
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
      {"ABCD", [](vector_t* v) { vector_pop_back(v); }, "ABC"},
      {"ABCD", [](vector_t* v) { vector_set(v, 2, "Z"); }, "ABZD"},
      {"AB", [](vector_t* v) { vector_push_back_data(v, "CD", 2); }, "ABCD"},
      {"DBCA", [](vector_t* v) {
         vector_sort(v, [](const void* a, const void* b) {
           return *static_cast<const char*>(a) - *static_cast<const char*>(b);
         });
       }, "ABCD"},
  };
  for (const Case& c : cases) {
    Chars a(c.start);
    c.op(a.v);
    EXPECT_EQ(a.str(), c.result) << c.start;
  }
}

TEST(Vector, ErasingAndClearingKeepTheStorage) {
  Chars a("ABCD");
  const uint32_t capacity = vector_capacity(a.v);
  vector_erase_range(a.v, 1, 3);
  EXPECT_EQ(vector_capacity(a.v), capacity);
  vector_clear(a.v);
  EXPECT_TRUE(vector_empty(a.v));
  void* storage = a.v->items;
  vector_push_back(a.v, "Q");
  EXPECT_EQ(a.v->items, storage);
  EXPECT_EQ(vector_capacity(a.v), capacity);
}

TEST(Vector, ResizeGrowsExactlyAndNeverShrinksTheStorage) {
  Chars a("ABCDEFG");  // capacity 8
  vector_resize(a.v, 2);
  EXPECT_EQ(a.str(), "AB");
  EXPECT_EQ(vector_capacity(a.v), 8u);
  vector_resize(a.v, 11);
  EXPECT_EQ(vector_capacity(a.v), 11u);
  vector_reserve(a.v, 3);
  EXPECT_EQ(vector_capacity(a.v), 11u);
}

TEST(Vector, ShrinkToNothingStillLeavesRoomForTheNextItem) {
  Chars a("AB");
  vector_clear(a.v);
  vector_shrink(a.v);
  EXPECT_EQ(vector_capacity(a.v), 0u);
  vector_push_back(a.v, "C");
  vector_push_back(a.v, "D");
  EXPECT_EQ(a.str(), "CD");
  vector_shrink(a.v);
  EXPECT_EQ(vector_capacity(a.v), 2u);
}

TEST(Vector, ItemsTakenFromTheVectorItselfSurviveItsGrowth) {
  Chars a("AB");  // full: the next insert reallocates
  vector_push_back(a.v, vector_get(a.v, 0));
  EXPECT_EQ(a.str(), "ABA");
  vector_insert(a.v, 0, vector_back(a.v));
  EXPECT_EQ(a.str(), "AABA");
  Chars b("ABCD");
  vector_shrink(b.v);
  vector_insert_data(b.v, 1, vector_get(b.v, 2), 2);  // "CD" moves up with the tail
  EXPECT_EQ(b.str(), "ACDBCD");
  Chars c("ABCD");
  vector_shrink(c.v);
  vector_insert_data(c.v, 2, vector_get(c.v, 1), 2);  // "BC" straddles the gap
  EXPECT_EQ(c.str(), "ABBCCD");
  Chars d("ABC");
  vector_shrink(d.v);
  vector_push_back_data(d.v, d.v->items, 3);
  EXPECT_EQ(d.str(), "ABCABC");
}

struct Seen {
  static int compare(const void* searched, const void* stored) {
    calls.push_back(std::string(1, *static_cast<const char*>(searched)) + *static_cast<const char*>(stored));
    return *static_cast<const char*>(searched) != *static_cast<const char*>(stored);
  }
  static inline std::vector<std::string> calls;
};

TEST(Vector, ContainsComparesTheSearchedItemFirst) {
  Chars empty;
  EXPECT_EQ(vector_contains(empty.v, "A", Seen::compare), 0);
  EXPECT_TRUE(Seen::calls.empty());
  Chars a("ABC");
  EXPECT_EQ(vector_contains(a.v, "B", Seen::compare), 1);
  EXPECT_EQ(Seen::calls, (std::vector<std::string>{"BA", "BB"}));
  EXPECT_EQ(vector_contains(a.v, "Z", Seen::compare), 0);
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
      {[] {
         vector_t* v = vector_new(1);
         vector_push_back(v, "A");
         vector_get(v, 1);
       }, "index < self->size"},
      {[] { vector_insert(vector_new(1), 1, "A"); }, "index <= self->size"},
      {[] {
         vector_t* v = vector_new(1);
         vector_push_back_data(v, "AB", 2);
         vector_erase_range(v, 1, 3);
       }, "last < self->size+1"},
      {[] {
         vector_t* v = vector_new(1);
         vector_push_back_data(v, "AB", 2);
         vector_erase_range(v, 1, 1);
       }, "first < last"},
      {[] { vector_push_back_data(vector_new(1), nullptr, 1); }, "data"},
      {[] { vector_push_back_data(vector_new(1), "A", 0); }, "count"},
      {[] {
         vector_t* v = vector_new(1);
         vector_push_back(v, "A");
         vector_insert_data(v, 1, "B", 1);  // appending is push_back_data's
       }, "index < self->size"},
      {[] { vector_pop_back(vector_new(1)); }, "self->size"},
  };
  for (const Case& c : cases) {
    EXPECT_DEATH(c.op(), assertion_failed(c.condition)) << c.condition;
  }
}

}  // namespace
