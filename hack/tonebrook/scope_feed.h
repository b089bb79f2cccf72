// The live window's feed: the audio thread's side of the scope. Two taps,
// called where the sound is made, copy what they are given into two sample
// rings (sample_ring.h); once a frame the main thread drains both rings
// into the scope's model (scope.h).
//
// Threads: the taps run on the audio thread: they allocate nothing, take
// no lock, never wait and never fail loudly (a full ring drops what does
// not fit and counts it), and do nothing before scope_feed_start. The
// other functions are the main thread's.
//
// Chosen here: the rings hold 65536 values of the tune and 65536 frames of
// the mix (about 1.5 s at 44100 Hz, far more than one frame's worth), are
// made once by scope_feed_start and live until the program ends, so a tap
// can never run on a ring that is gone.
#pragma once

#include <cstdint>

class ScopeModel;

// Makes the rings, once (later calls do nothing), and lets the taps fill
// them. Main thread, before the taps are installed.
void scope_feed_start();

// The engine's tap: `n` values of the tune, values[i] computed for t[i], in
// order. Null arrays or n <= 0 push nothing. Audio thread.
void scope_tap_tune(const uint32_t* t, const uint8_t* values, int n) noexcept;
// The stream's tap, after all sources are mixed: `frames` interleaved
// stereo frames. Null or frames <= 0 pushes nothing. Audio thread.
void scope_tap_mix(const int16_t* stereo, int frames) noexcept;

// Moves everything the taps have pushed into `model` (tune values first,
// then mix frames) and frees the rings' slots. Nothing before
// scope_feed_start. Main thread.
void scope_feed_drain(ScopeModel& model);

// Values of the tune and frames of the mix dropped by full rings so far.
uint64_t scope_feed_dropped_tune();
uint64_t scope_feed_dropped_mix();
