// The sample player's loader: RIFF/WAVE files into WAV records. Not a public
// header: wave_load (wav-play.h) is the way in; the loader is apart from the
// voice bank so that it can be read, tested and fuzzed on its own.
//
// Threads: main thread only (it reads files and writes messages to the
// log's stream); never from the mixing hook.
#pragma once

#include "framework/core/wav-play.h"

// Loads the PCM WAV file `fname` for a player whose samples are `bits` wide
// (8 or 16): 8- or 16-bit integer PCM, any number of channels (mixed down to
// mono), converted to `bits`. Returns a new record that the caller owns
// (wav_release frees it), or null after writing why to the log's stream,
// without the log prefix. A null `fname` reads as "(null)" and fails.
WAV* wav_load_file(const char* fname, unsigned int bits);

// Frees a record made by wav_load_file and its data; null is ignored.
void wav_release(WAV* wav);
