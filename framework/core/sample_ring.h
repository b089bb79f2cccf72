// A lock-free ring that hands samples from one producer thread to one
// consumer thread: the audio thread writes what it has just made, the main
// thread reads it later (a live picture of the sound, a recording).
//
// Threads: exactly one producer thread (the audio thread: write_spans,
// commit, push, push_interleaved) and one consumer thread (the main thread:
// read_spans, release, discard, size). Construction and destruction happen
// while neither side runs. dropped() and capacity() may be read anywhere.
//
// Hand-over, by ownership and never by timing. Two counters run on from 0
// and are never reset: `written` (how many elements the producer has
// published) and `read` (how many the consumer has given back). The slots
// from `read` up to `written` belong to the consumer, all others to the
// producer. The producer fills slots it owns and only then publishes them
// by storing the new `written` (release); the consumer loads `written`
// (acquire), so it sees the slots' contents, reads them, and only then
// gives them back by storing the new `read` (release); the producer loads
// `read` (acquire) before it reuses a slot. Neither side ever touches a
// slot the other owns, and a slot is never reused while pending or taken.
//
// The producer never waits and never fails loudly: what does not fit is
// dropped (the newest elements, since the oldest are the consumer's) and
// counted. Writing allocates nothing, takes no lock, makes no system call
// and copies with plain loops over the element type.
//
// Chosen here: the capacity is fixed at construction (1 to 2^31 elements;
// the storage is allocated there, on the constructing thread). The 64-bit
// counters would take centuries to wrap at any audio rate.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <type_traits>

#include "framework/core/kel_assert.h"

// Up to two contiguous runs of a ring's slots, in order: `first`, then
// `second` (empty unless the run wraps round the end of the storage).
template <typename T>
struct RING_SPANS {
  std::span<T> first;
  std::span<T> second;
  std::size_t size() const noexcept { return first.size() + second.size(); }
};

template <typename T>
class SampleRing {
  static_assert(std::is_trivially_copyable_v<T>, "the ring copies its elements as plain data");
  static_assert(std::atomic<uint64_t>::is_always_lock_free);

 public:
  // Makes a ring of `capacity` elements (1 to 2^31; the assertion stops the
  // program otherwise). Allocates the storage here.
  explicit SampleRing(std::size_t capacity) : capacity_(checked(capacity)), slots_(new T[capacity_]) {}
  SampleRing(const SampleRing&) = delete;
  SampleRing& operator=(const SampleRing&) = delete;

  std::size_t capacity() const noexcept { return capacity_; }

  // --- Producer ------------------------------------------------------------

  // The free slots the producer may fill, at most `wanted`, in order; fill
  // them, then commit how many were filled. The spans stay the producer's
  // until it commits (the consumer never sees them before).
  RING_SPANS<T> write_spans(std::size_t wanted) noexcept {
    const uint64_t w = written_.load(std::memory_order_relaxed);
    const uint64_t r = read_.load(std::memory_order_acquire);
    const auto space = static_cast<std::size_t>(capacity_ - (w - r));
    return spans_at(w, wanted < space ? wanted : space);
  }
  // Publishes the first `n` slots of the last write_spans (n no more than
  // it gave) to the consumer, and counts `dropped` elements that did not
  // fit.
  void commit(std::size_t n, std::size_t dropped = 0) noexcept {
    if (dropped > 0)
      dropped_.store(dropped_.load(std::memory_order_relaxed) + dropped, std::memory_order_relaxed);
    written_.store(written_.load(std::memory_order_relaxed) + n, std::memory_order_release);
  }
  // Copies `n` elements in; returns how many fitted. The rest are dropped
  // and counted.
  std::size_t push(const T* items, std::size_t n) noexcept {
    const RING_SPANS<T> s = write_spans(n);
    std::size_t i = 0;
    for (T& slot : s.first) slot = items[i++];
    for (T& slot : s.second) slot = items[i++];
    commit(i, n - i);
    return i;
  }

  // Elements dropped by a full ring since construction.
  uint64_t dropped() const noexcept { return dropped_.load(std::memory_order_relaxed); }

  // --- Consumer ------------------------------------------------------------

  // Everything published and not yet released, oldest first. The spans stay
  // valid and unchanged until the consumer releases them.
  RING_SPANS<const T> read_spans() const noexcept {
    const uint64_t r = read_.load(std::memory_order_relaxed);
    const uint64_t w = written_.load(std::memory_order_acquire);
    const RING_SPANS<T> s = spans_at(r, static_cast<std::size_t>(w - r));
    return {s.first, s.second};
  }
  // Gives the oldest `n` read elements back to the producer (n no more than
  // read_spans gave).
  void release(std::size_t n) noexcept {
    read_.store(read_.load(std::memory_order_relaxed) + n, std::memory_order_release);
  }
  // Gives back everything published so far, unread.
  void discard() noexcept { release(read_spans().size()); }
  // How many elements are waiting to be read.
  std::size_t size() const noexcept { return read_spans().size(); }

 private:
  static std::size_t checked(std::size_t capacity) {
    KEL_ASSERT(capacity > 0 && capacity <= (std::size_t{1} << 31));
    return capacity;
  }

  // The run of `n` slots (n <= capacity) that starts at counter value `at`.
  RING_SPANS<T> spans_at(uint64_t at, std::size_t n) const noexcept {
    const auto start = static_cast<std::size_t>(at % capacity_);
    const std::size_t to_end = capacity_ - start;
    if (n <= to_end) return {{slots_.get() + start, n}, {}};
    return {{slots_.get() + start, to_end}, {slots_.get(), n - to_end}};
  }

  const std::size_t capacity_;
  const std::unique_ptr<T[]> slots_;
  // Each counter on a cache line of its own, so that the two threads do not
  // invalidate each other's line on every store.
  alignas(64) std::atomic<uint64_t> written_{0};  // stored by the producer only
  alignas(64) std::atomic<uint64_t> read_{0};     // stored by the consumer only
  alignas(64) std::atomic<uint64_t> dropped_{0};  // stored by the producer only
};

// One frame of 16-bit stereo sound.
struct STEREO_FRAME16 {
  int16_t left;
  int16_t right;
};

// Producer side, for the mixing hook: copies `frames` interleaved stereo
// frames (left, right, left, ...) into `ring`; returns how many fitted (the
// rest are dropped and counted). A null `stereo` pushes nothing.
std::size_t push_interleaved(SampleRing<STEREO_FRAME16>& ring, const int16_t* stereo, std::size_t frames) noexcept;
