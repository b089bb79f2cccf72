// The live player's stream taps. The runtime has one stream tap slot
// (kel_set_stream_tap); this module installs one dispatcher there that
// hands every buffer going to the sound device to each tap added here, in
// the order they were added: the recording, the live window. The
// dispatcher holds the runtime's slot: nothing else may call
// kel_set_stream_tap while it is installed.
//
// Threads: taps_add_stream and taps_remove_stream on the main thread; the
// dispatcher, and so every tap added, runs on the audio thread and must
// return at once (no allocation, lock, wait or output).
#pragma once

#include "framework/core/kel_shared.h"

// How many taps may be added at once.
inline constexpr int TONEBROOK_STREAM_TAPS = 4;

// Adds `tap` (not null, not yet added) and installs the dispatcher when it
// is not installed. Returns false, adding nothing, when TONEBROOK_STREAM_TAPS
// taps are added already or `tap` is null or added already. A tap added
// before the stream opens sees its first buffer; otherwise it starts at
// the next buffer. The function and what it touches must stay valid for
// the rest of the run: a buffer that started before a removal may still
// call it.
bool taps_add_stream(KEL_STREAM_TAP tap);

// Removes `tap` (nothing when it was not added); the dispatcher stops
// calling it from its next buffer on.
void taps_remove_stream(KEL_STREAM_TAP tap);
