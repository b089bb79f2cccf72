#include "framework/core/sample_ring.h"

std::size_t push_interleaved(SampleRing<STEREO_FRAME16>& ring, const int16_t* stereo, std::size_t frames) noexcept {
  if (stereo == nullptr) return 0;
  const RING_SPANS<STEREO_FRAME16> s = ring.write_spans(frames);
  std::size_t i = 0;
  for (std::span<STEREO_FRAME16> run : {s.first, s.second}) {
    for (STEREO_FRAME16& slot : run) {
      slot.left = stereo[2 * i];
      slot.right = stereo[2 * i + 1];
      ++i;
    }
  }
  ring.commit(i, frames - i);
  return i;
}
