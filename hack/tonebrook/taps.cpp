#include "hack/tonebrook/taps.h"

#include <array>
#include <atomic>

namespace {

// Each slot holds a whole pointer or null, written by the main thread and
// read by the dispatcher once per buffer.
std::array<std::atomic<KEL_STREAM_TAP>, TAPS_STREAM_MAX> stream_taps{};
static_assert(std::atomic<KEL_STREAM_TAP>::is_always_lock_free);

void dispatch(const int16_t* stereo, int frames) noexcept {
  for (const std::atomic<KEL_STREAM_TAP>& slot : stream_taps) {
    if (const KEL_STREAM_TAP tap = slot.load(std::memory_order_acquire)) tap(stereo, frames);
  }
}

}  // namespace

int taps_add_stream(KEL_STREAM_TAP tap) {
  if (tap == nullptr) return 0;
  std::atomic<KEL_STREAM_TAP>* free_slot = nullptr;
  for (std::atomic<KEL_STREAM_TAP>& slot : stream_taps) {
    const KEL_STREAM_TAP held = slot.load(std::memory_order_relaxed);
    if (held == tap) return 1;
    if (held == nullptr && free_slot == nullptr) free_slot = &slot;
  }
  if (free_slot == nullptr) return 0;
  free_slot->store(tap, std::memory_order_release);
  kel_set_stream_tap(dispatch);
  return 1;
}

void taps_remove_stream(KEL_STREAM_TAP tap) {
  if (tap == nullptr) return;
  for (std::atomic<KEL_STREAM_TAP>& slot : stream_taps)
    if (slot.load(std::memory_order_relaxed) == tap) slot.store(nullptr, std::memory_order_release);
}
