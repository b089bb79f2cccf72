// What the synthesiser's stage operations (synth.cpp, main thread) and its
// evaluation (synth_update.cpp, audio thread) agree on about a stage. Not a
// public header: include synth.h.
//
// Threads: pure helpers; any thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "framework/core/synth.h"

namespace synth_stage {

// The words shared between the threads carry no ordering of their own (see
// synth.h): each is read and written whole.
constexpr auto kRelaxed = std::memory_order_relaxed;

constexpr double kTwoPi = 6.283185307179586;

// Whether an input index names a stage. Anything else (negative, or a
// relocated or hand-written index past the last stage) reads as unconnected.
constexpr bool connected(int32_t index) { return static_cast<uint32_t>(index) < SYN_STAGES; }

// Where a triangle starts, and where a synced oscillator jumps to: the
// point 1 - duty / 2 (rounded to single precision), where the triangle
// crosses 0 rising.
constexpr float triangle_start_phase(float duty) { return static_cast<float>(1.0 - static_cast<double>(duty) / 2.0); }

}  // namespace synth_stage
