// taps: the runtime's one stream tap (kel_set_stream_tap), shared by every
// part of the live player that listens to the stream as it goes to the
// device (the window, a recording). Each adds its own tap here; the first
// add installs this module's dispatcher as the stream tap, which hands
// every buffer to the added taps in the order they were added.
//
// Threads: taps_add_stream and taps_remove_stream on the main thread; the dispatcher and the taps
// it calls on the audio thread. A tap added while the stream runs gets the
// buffers from the next one on; the slots are atomic words, so the audio
// thread never sees half a tap.
#pragma once

#include "framework/core/kel_shared.h"

// The most taps that the stream may have.
inline constexpr int TAPS_STREAM_MAX = 4;

// Adds `tap` to the stream's taps, for the rest of the run, and makes sure
// the dispatcher is the runtime's stream tap. A tap must keep to the
// stream tap's rules (kel_shared.h: return at once, no allocation, lock,
// wait or output). Returns 1, or 0 for a null tap or when TAPS_STREAM_MAX
// taps are already there (nothing changes then). Adding the same tap twice
// adds it once.
int taps_add_stream(KEL_STREAM_TAP tap);

// Removes `tap` (nothing when it was not added); the dispatcher stops
// calling it from its next buffer on. The function and what it touches must
// stay valid until then: a buffer that started before the removal may
// still call it.
void taps_remove_stream(KEL_STREAM_TAP tap);
