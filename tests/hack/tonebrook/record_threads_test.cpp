// The recording's ring: a full ring drops whole buffers, allocating
// nothing, and they come out as silence at their place in the stream; and
// the hand-over between the audio thread and the main thread, hammered
// under ThreadSanitizer (it also fails without one when a frame comes out
// at the wrong place).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "hack/tonebrook/record.h"
#include "support/alloc_counter.h"

namespace {

// What came out of a ring: the left sample of every frame (0 for silence)
// and the silences as (first frame, length).
struct Drained {
  std::vector<int> left;
  std::vector<std::pair<uint64_t, uint64_t>> silences;
  RecordRing::SOUND sound() {
    return [this](std::span<const STEREO_FRAME16> frames) {
      for (const STEREO_FRAME16& f : frames) left.push_back(f.left);
    };
  }
  RecordRing::SILENCE silence() {
    return [this](uint64_t at, uint64_t frames) {
      silences.emplace_back(at, frames);
      left.insert(left.end(), frames, 0);
    };
  }
};

// Buffer `id` of `frames` frames: left = id, right = -id.
std::vector<int16_t> buffer(int id, int frames = 4) {
  std::vector<int16_t> b;
  for (int i = 0; i < frames; ++i) b.insert(b.end(), {static_cast<int16_t>(id), static_cast<int16_t>(-id)});
  return b;
}

// The left samples of buffers of 4 frames, `ids` in order (0: silence).
std::vector<int> frames_of(std::initializer_list<int> ids) {
  std::vector<int> left;
  for (int id : ids) left.insert(left.end(), 4, id);
  return left;
}

TEST(RecordRing, AFullRingDropsWholeBuffersThatComeOutAsSilenceInTheirPlace) {
  RecordRing ring(10, 4);  // two buffers of 4 frames, and a run that wraps
  struct Step {
    std::vector<int> push;  // buffers pushed, by id
    bool last;              // then drain_last instead of drain
    std::vector<int> out;   // the buffers that come out (0: silence)
    std::vector<std::pair<uint64_t, uint64_t>> silences;
  };
  const Step steps[] = {
      {{1, 2, 3, 4}, false, frames_of({1, 2}), {}},           // 3 and 4 dropped, not yet placed
      {{5, 6, 7, 8}, false, frames_of({0, 0, 5, 6}), {{8, 8}}},  // 7 and 8 dropped
      {{9, 10, 11}, false, frames_of({0, 0, 9, 10}), {{24, 8}}},
      {{}, true, frames_of({0}), {{40, 4}}},  // the stretch dropped when the stream stopped
  };
  for (const Step& s : steps) {
    for (int id : s.push) {
      const std::vector<int16_t> b = buffer(id);
      EXPECT_EQ(alloc_counter::during([&] { ring.push(b.data(), 4); }), 0);
    }
    Drained d;
    s.last ? ring.drain_last(d.sound(), d.silence()) : ring.drain(d.sound(), d.silence());
    EXPECT_EQ(d.left, s.out);
    EXPECT_EQ(d.silences, s.silences);
  }
  EXPECT_EQ(ring.drained(), 44u);
  EXPECT_EQ(ring.buffer_frames(), 4u);
  EXPECT_FALSE(ring.buffer_size_changed());
  ring.push(buffer(12, 3).data(), 3);
  EXPECT_TRUE(ring.buffer_size_changed());
}

TEST(RecordRing, EveryBufferComesOutWholeOrAsSilenceInItsPlace) {
  constexpr int kBuffers = 20000, kFrames = 64;
  constexpr size_t kCapacity = 4 * kFrames + 7;
  RecordRing ring(kCapacity, 3);
  std::atomic<bool> done{false};
  std::atomic<int> drains{0};
  std::thread audio([&] {
    std::vector<int16_t> b(2 * kFrames);
    for (int k = 0; k < kBuffers; ++k) {
      // Stretches of buffers that wait for a drain after each, between
      // stretches that rush on and find the ring full.
      const int drained = drains.load();
      for (int i = 0; i < kFrames; ++i) {
        b[2 * i] = static_cast<int16_t>(k % 30000 + 1);
        b[2 * i + 1] = static_cast<int16_t>(i);
      }
      ring.push(b.data(), kFrames);
      if (k / 500 % 2 == 1)
        while (drains.load() == drained) std::this_thread::yield();
    }
    done.store(true);
  });
  std::vector<STEREO_FRAME16> out;
  const RecordRing::SOUND sound = [&](std::span<const STEREO_FRAME16> f) { out.insert(out.end(), f.begin(), f.end()); };
  const RecordRing::SILENCE silence = [&](uint64_t at, uint64_t frames) {
    ASSERT_EQ(at, out.size());
    out.insert(out.end(), frames, STEREO_FRAME16{0, 0});
  };
  while (!done.load()) {
    ring.drain(sound, silence);
    drains.fetch_add(1);
  }
  audio.join();
  ring.drain_last(sound, silence);

  ASSERT_EQ(out.size(), static_cast<size_t>(kBuffers) * kFrames);
  int heard = 0;
  for (int k = 0; k < kBuffers; ++k) {
    const STEREO_FRAME16* b = &out[static_cast<size_t>(k) * kFrames];
    const bool silent = b[0].left == 0;
    heard += silent ? 0 : 1;
    for (int i = 0; i < kFrames; ++i) {
      ASSERT_EQ(b[i].left, silent ? 0 : k % 30000 + 1) << "buffer " << k << ", frame " << i;
      ASSERT_EQ(b[i].right, silent ? 0 : i) << "buffer " << k << ", frame " << i;
    }
  }
  EXPECT_GE(heard, kBuffers / 2);
  EXPECT_LT(heard, kBuffers);
}

}  // namespace
