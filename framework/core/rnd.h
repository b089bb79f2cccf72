// A small pseudo-random generator with a global state, and helpers built on
// it: ranges, coin flips, dice, one-in-N chances and weighted choice.
//
// The generator: x = state * 1103515245 + 12345 (wrapping in 32 bits); the
// new state is x ^ (x >> 1) ^ (0xD0000001 when x is odd, else 0); a draw is
// the new state >> 16, so every draw is 0..65535. Nothing here allocates or
// fails.
//
// Threads: main thread only for everything that uses mrand_seed (a plain
// read-modify-write: draws on two threads at once may repeat or lose a
// state); mrand_ex touches only the seed it is given, so any thread may use
// it with a seed of its own. The audio thread keeps its own generators.
#pragma once

#include <cstdint>

// The global generator's state: 0 until kel_init stores the calendar time
// in seconds in it; anyone may set it to repeat a sequence.
extern uint32_t mrand_seed;

// One entry of a weighted list; a list ends with an entry that is all zero.
// An entry of weight 0 whose id or info is not 0 belongs to the list but is
// never chosen.
struct WEIGHTED_CHOICE {
  int32_t id;       // the caller's identifier of the item
  int32_t info;     // a free value that travels with the item
  uint32_t weight;  // the item's relative chance
};

// Advances the caller's generator state `*seed` (must not be null) by one
// step and returns the draw, 0..65535.
unsigned mrand_ex(uint32_t* seed);
// mrand_ex(&mrand_seed).
unsigned mrand();
// A number from the smaller to the larger of `min` and `max`, both included
// (the arguments may come in either order): lower + mrand() % span. One
// draw. A span above 65536 never reaches its top values, and spans that do
// not divide 65536 are slightly uneven.
int rnd(int min, int max);
// min + mrand() * (max - min) / 65535, with max - min rounded to single
// precision first: 65536 evenly spaced values, both ends reachable. One
// draw.
double frnd(float min, float max);
// 0 or 1: the top bit of one draw.
int rnd5050();
// -1.0 when rnd5050() gives 1, else +1.0.
float rndsign();
// The sum of `rolls` draws of rnd(1, sides); 0 without drawing when `rolls`
// is 0 or less.
int dice(int rolls, int sides);
// 1 one time in |num| (rnd(1, |num|) came up 1), else 0; 1 without drawing
// when `num` is 0. onein(1) is always 1.
int onein(int num);
// Chooses an entry of the zero-terminated list `itemlist` with a chance
// proportional to its weight, drawing pick = mrand() % max and returning
// the first entry whose running sum of weights exceeds pick (a pick on a
// boundary goes to the later entry). `max` 0, or above the total weight,
// means the total (1 when the total is 0); a `max` from 1 up to the total
// limits the draw to the first `max` units, so entries lying wholly beyond
// it are never chosen; a negative `max` counts as 0. Returns a pointer into
// `itemlist` (valid as long as the list), or null for a null or empty list
// (no draw) or when every weight is 0 (after one draw).
WEIGHTED_CHOICE* choose_weighted_item_ex(WEIGHTED_CHOICE* itemlist, int max);
// choose_weighted_item_ex(itemlist, 0).
WEIGHTED_CHOICE* choose_weighted_item(WEIGHTED_CHOICE* itemlist);
