#include "hack/tonebrook/scope_feed.h"

#include <atomic>
#include <span>

#include "framework/core/sample_ring.h"
#include "hack/tonebrook/scope.h"

namespace {

constexpr std::size_t kRingSize = 65536;

struct Feed {
  SampleRing<SCOPE_TUNE_VALUE> tune{kRingSize};
  SampleRing<STEREO_FRAME16> mix{kRingSize};
};

// Published once by scope_feed_start (release) and never taken back; the
// taps load it (acquire) so that they see the rings made.
std::atomic<Feed*> feed{nullptr};

}  // namespace

void scope_feed_start() {
  // Never destroyed, not even at exit: an audio thread still running then
  // finds its rings in place.
  static Feed* const made = new Feed;
  feed.store(made, std::memory_order_release);
}

void scope_tap_tune(const uint32_t* t, const uint8_t* values, int n) noexcept {
  Feed* f = feed.load(std::memory_order_acquire);
  if (f == nullptr || t == nullptr || values == nullptr || n <= 0) return;
  const auto wanted = static_cast<std::size_t>(n);
  const RING_SPANS<SCOPE_TUNE_VALUE> s = f->tune.write_spans(wanted);
  std::size_t i = 0;
  for (std::span<SCOPE_TUNE_VALUE> run : {s.first, s.second}) {
    for (SCOPE_TUNE_VALUE& slot : run) {
      slot = SCOPE_TUNE_VALUE{t[i], values[i]};
      ++i;
    }
  }
  f->tune.commit(i, wanted - i);
}

void scope_tap_mix(const int16_t* stereo, int frames) noexcept {
  Feed* f = feed.load(std::memory_order_acquire);
  if (f == nullptr || frames <= 0) return;
  push_interleaved(f->mix, stereo, static_cast<std::size_t>(frames));
}

void scope_feed_drain(ScopeModel& model) {
  Feed* f = feed.load(std::memory_order_acquire);
  if (f == nullptr) return;
  const RING_SPANS<const SCOPE_TUNE_VALUE> tune = f->tune.read_spans();
  model.add_tune(tune.first);
  model.add_tune(tune.second);
  f->tune.release(tune.size());
  const RING_SPANS<const STEREO_FRAME16> mix = f->mix.read_spans();
  model.add_mix(mix.first);
  model.add_mix(mix.second);
  f->mix.release(mix.size());
}

uint64_t scope_feed_dropped_tune() {
  Feed* f = feed.load(std::memory_order_acquire);
  return f ? f->tune.dropped() : 0;
}

uint64_t scope_feed_dropped_mix() {
  Feed* f = feed.load(std::memory_order_acquire);
  return f ? f->mix.dropped() : 0;
}
