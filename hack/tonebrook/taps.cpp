#include "hack/tonebrook/taps.h"

#include <array>
#include <atomic>

namespace {

// Each slot is written by the main thread and read by the dispatcher once
// per buffer; a slot holds a whole pointer or null.
std::array<std::atomic<KEL_STREAM_TAP>, TONEBROOK_STREAM_TAPS> slots{};

void dispatch(const int16_t* stereo, int frames) noexcept {
  for (const std::atomic<KEL_STREAM_TAP>& slot : slots)
    if (KEL_STREAM_TAP tap = slot.load(std::memory_order_acquire)) tap(stereo, frames);
}

}  // namespace

bool taps_add_stream(KEL_STREAM_TAP tap) {
  if (tap == nullptr || tap == dispatch) return false;
  std::atomic<KEL_STREAM_TAP>* free_slot = nullptr;
  for (std::atomic<KEL_STREAM_TAP>& slot : slots) {
    const KEL_STREAM_TAP in = slot.load(std::memory_order_relaxed);
    if (in == tap) return false;
    if (in == nullptr && free_slot == nullptr) free_slot = &slot;
  }
  if (free_slot == nullptr) return false;
  free_slot->store(tap, std::memory_order_release);
  if (kel_stream_tap() != dispatch) kel_set_stream_tap(dispatch);
  return true;
}

void taps_remove_stream(KEL_STREAM_TAP tap) {
  if (tap == nullptr) return;
  for (std::atomic<KEL_STREAM_TAP>& slot : slots)
    if (slot.load(std::memory_order_relaxed) == tap) slot.store(nullptr, std::memory_order_release);
}
