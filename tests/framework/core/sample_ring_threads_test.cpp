// The sample ring: its runs and drops on one thread, then the hand-over
// between a producer and a consumer thread hammered under ThreadSanitizer.
// The stress test also fails without a sanitizer when an element reaches
// the consumer before it was written whole, or is overwritten while the
// consumer still holds it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "framework/core/sample_ring.h"
#include "support/alloc_counter.h"

namespace {

TEST(SampleRing, RunsWrapAndAFullRingDropsTheNewest) {
  SampleRing<int> ring(5);
  struct Step {
    int push;           // elements to push (values count on from the last)
    int release;        // then elements to release
    size_t fitted;      // how many the push took
    size_t first, second;  // the read spans after the step
    uint64_t dropped;   // in all, so far
  };
  const Step steps[] = {
      {3, 0, 3, 3, 0, 0},  // slots 0-2
      {0, 2, 0, 1, 0, 0},  // slot 2 left
      {4, 0, 4, 3, 2, 0},  // slots 3, 4, then 0, 1: the run wraps
      {2, 0, 0, 3, 2, 2},  // full: both dropped
      {0, 5, 0, 0, 0, 2},
      {6, 0, 5, 3, 2, 3},  // one too many
  };
  int next = 0, oldest = 0;
  for (const Step& s : steps) {
    std::vector<int> in;
    for (int i = 0; i < s.push; ++i) in.push_back(next + i);
    size_t fitted = 0;
    EXPECT_EQ(alloc_counter::during([&] { fitted = ring.push(in.data(), in.size()); }), 0);
    EXPECT_EQ(fitted, s.fitted);
    next += static_cast<int>(fitted);
    ring.release(static_cast<size_t>(s.release));
    oldest += s.release;
    const RING_SPANS<const int> r = ring.read_spans();
    EXPECT_EQ(r.first.size(), s.first);
    EXPECT_EQ(r.second.size(), s.second);
    EXPECT_EQ(ring.dropped(), s.dropped);
    int expect = oldest;
    for (auto run : {r.first, r.second})
      for (int v : run) EXPECT_EQ(v, expect++);
  }

  // Interleaved stereo becomes frames.
  SampleRing<STEREO_FRAME16> frames(3);
  const int16_t stereo[] = {1, -1, 2, -2, 3, -3, 4, -4};
  EXPECT_EQ(push_interleaved(frames, stereo, 4), 3u);
  EXPECT_EQ(push_interleaved(frames, nullptr, 4), 0u);
  EXPECT_EQ(frames.dropped(), 1u);
  const RING_SPANS<const STEREO_FRAME16> f = frames.read_spans();
  ASSERT_EQ(f.first.size(), 3u);
  EXPECT_EQ(f.first[2].left, 3);
  EXPECT_EQ(f.first[2].right, -3);
}

// An element that cannot be mistaken: every word depends on its number.
struct Item {
  uint64_t seq;
  uint64_t words[5];
  static Item make(uint64_t seq) {
    Item it{seq, {}};
    for (int k = 0; k < 5; ++k) it.words[k] = seq * 0x9E3779B97F4A7C15u + static_cast<uint64_t>(k);
    return it;
  }
  bool whole() const {
    for (int k = 0; k < 5; ++k)
      if (words[k] != seq * 0x9E3779B97F4A7C15u + static_cast<uint64_t>(k)) return false;
    return true;
  }
};

TEST(SampleRingThreads, EveryPublishedElementArrivesWholeOnceAndInOrder) {
  constexpr uint64_t kItems = 200000;
  SampleRing<Item> ring(61);  // small and not a power of two: it wraps often and unevenly
  std::atomic<bool> done{false};
  uint64_t published = 0, refused = 0;  // the producer's own count

  std::thread producer([&] {
    std::mt19937 rng(1);
    while (published < kItems) {
      const size_t wanted = 1 + rng() % 40;
      const RING_SPANS<Item> s = ring.write_spans(wanted);
      size_t n = 0;
      for (auto run : {s.first, s.second})
        for (Item& slot : run) slot = Item::make(published + n++);
      ring.commit(n, wanted - n);
      published += n;
      refused += wanted - n;
      if (rng() % 8 == 0) std::this_thread::yield();
    }
    done.store(true);
  });

  uint64_t expect = 0;
  std::mt19937 rng(2);
  bool failed = false;
  for (;;) {
    const bool last_look = done.load();
    const RING_SPANS<const Item> r = ring.read_spans();
    // Read everything once, let the producer run, and read it again: a
    // slot the producer reused while it was ours would have changed.
    uint64_t seq = expect;
    for (int pass = 0; pass < 2 && !failed; ++pass) {
      seq = expect;
      for (auto run : {r.first, r.second})
        for (const Item& it : run) failed |= it.seq != seq++ || !it.whole();
      std::this_thread::yield();
    }
    ASSERT_FALSE(failed) << "element " << seq - 1 << " torn, lost or overwritten";
    // Give back a part, to hold some slots across the producer's next turns.
    const size_t give = r.size() == 0 ? 0 : 1 + rng() % r.size();
    ring.release(give);
    expect += give;
    if (last_look && give == r.size()) break;
  }
  producer.join();
  EXPECT_GE(published, kItems);
  EXPECT_EQ(expect, published);
  EXPECT_EQ(ring.dropped(), refused);
}

}  // namespace
