#include "hack/tonebrook/taps.h"

#include <array>
#include <atomic>

namespace {

// Filled from the front and never emptied, so the dispatcher may stop at
// the first empty slot.
std::array<std::atomic<KEL_STREAM_TAP>, TAPS_STREAM_MAX> stream_taps{};
static_assert(std::atomic<KEL_STREAM_TAP>::is_always_lock_free);

void dispatch(const int16_t* stereo, int frames) noexcept {
  for (const std::atomic<KEL_STREAM_TAP>& slot : stream_taps) {
    const KEL_STREAM_TAP tap = slot.load(std::memory_order_acquire);
    if (tap == nullptr) return;
    tap(stereo, frames);
  }
}

}  // namespace

int taps_add_stream(KEL_STREAM_TAP tap) {
  if (tap == nullptr) return 0;
  for (std::atomic<KEL_STREAM_TAP>& slot : stream_taps) {
    const KEL_STREAM_TAP held = slot.load(std::memory_order_relaxed);
    if (held == tap) return 1;
    if (held == nullptr) {
      slot.store(tap, std::memory_order_release);
      kel_set_stream_tap(dispatch);
      return 1;
    }
  }
  return 0;
}
