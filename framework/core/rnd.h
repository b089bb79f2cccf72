// A small pseudo-random generator with a global state, and helpers built on
// it: ranges, coin flips, dice, one-in-N chances and weighted choice.
//
// Threads: main thread only for everything that uses mrand_seed; mrand_ex
// touches only the seed it is given.
#pragma once

#include <cstdint>

extern uint32_t mrand_seed;

// One entry of a weighted list; a list ends with an entry that is all zero.
struct WEIGHTED_CHOICE {
  int32_t id;
  int32_t info;
  uint32_t weight;
};

unsigned mrand_ex(uint32_t* seed);  // 0..65535, advances *seed
unsigned mrand();  // 0..65535, advances mrand_seed
int rnd(int min, int max);  // both ends included, in either order
double frnd(float min, float max);  // both ends reachable
int rnd5050();
float rndsign();
int dice(int rolls, int sides);
int onein(int num);
WEIGHTED_CHOICE* choose_weighted_item_ex(WEIGHTED_CHOICE* itemlist, int max);
WEIGHTED_CHOICE* choose_weighted_item(WEIGHTED_CHOICE* itemlist);
