#include "framework/core/rnd.h"

#include <cstdlib>

uint32_t mrand_seed = 0;

unsigned mrand_ex(uint32_t* seed) {
  const uint32_t x = *seed * 1103515245u + 12345u;
  const uint32_t next = x ^ (x >> 1) ^ ((x & 1u) ? 0xD0000001u : 0u);
  *seed = next;
  return next >> 16;
}

unsigned mrand() { return mrand_ex(&mrand_seed); }

int rnd(int min, int max) {
  const int lower = min < max ? min : max;
  const int64_t distance = static_cast<int64_t>(max) - static_cast<int64_t>(min);
  const uint32_t span = static_cast<uint32_t>((distance < 0 ? -distance : distance) + 1);
  // A span of 2^32 wraps to 0; every draw is below it then.
  const uint32_t draw = span ? mrand() % span : mrand();
  return static_cast<int>(static_cast<uint32_t>(lower) + draw);
}

double frnd(float min, float max) {
  const float range = max - min;
  return min + mrand() * static_cast<double>(range) / 65535.0;
}

int rnd5050() { return (mrand() >> 15) & 1; }

float rndsign() { return rnd5050() ? -1.0f : 1.0f; }

int dice(int rolls, int sides) {
  int sum = 0;
  for (int i = 0; i < rolls; ++i) sum += rnd(1, sides);
  return sum;
}

int onein(int num) {
  if (num == 0) return 1;
  const int magnitude = num < 0 ? (num == INT32_MIN ? INT32_MAX : -num) : num;
  return rnd(1, magnitude) == 1 ? 1 : 0;
}

WEIGHTED_CHOICE* choose_weighted_item_ex(WEIGHTED_CHOICE* itemlist, int max) {
  if (itemlist == nullptr) return nullptr;
  int count = 0;
  uint32_t total = 0;
  for (WEIGHTED_CHOICE* e = itemlist; e->id || e->info || e->weight; ++e) {
    ++count;
    total += e->weight;
  }
  if (count == 0) return nullptr;
  int32_t signed_total = static_cast<int32_t>(total);
  if (signed_total == 0) signed_total = 1;
  if (max <= 0 || signed_total < max) max = signed_total;
  if (max <= 0) max = 1;  // a total past the signed range: draw from the first unit
  const uint32_t pick = mrand() % static_cast<uint32_t>(max);
  uint32_t running = 0;
  for (int i = 0; i < count; ++i) {
    running += itemlist[i].weight;
    if (pick < running) return &itemlist[i];
  }
  return nullptr;
}

WEIGHTED_CHOICE* choose_weighted_item(WEIGHTED_CHOICE* itemlist) {
  return choose_weighted_item_ex(itemlist, 0);
}
