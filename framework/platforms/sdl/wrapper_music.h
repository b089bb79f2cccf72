// The audio stream: one SDL_mixer device, 16-bit signed stereo, and the
// post-mix hook that adds the runtime's own sound sources to each buffer.
//
// Threads: wrapper_sound_init and wrapper_sound_exit on the main thread
// only; mixaudio runs on SDL_mixer's audio thread and must not be called
// from anywhere else while the stream runs.
#pragma once

// Opens (or reopens) the sound device. A rate or size of 0 asks for the
// default; both 0 on a running stream leaves it alone. Returns 1 when the
// stream was started, 2 when it was already running, -1 when the device
// could not be opened.
int wrapper_sound_init(unsigned samplerate, unsigned bufsize);
// Pauses and closes the device when it is open.
void wrapper_sound_exit();

// SDL_mixer's post-mix hook: `len` bytes of interleaved S16 stereo. Adds the
// bytebeat callback (wrapping), the sample player (clipping) and the
// synthesiser (saturating), as kel_settings switches them. Allocates
// nothing, takes no lock, and logs only through the deferred log ring.
void mixaudio(int chan, void* stream, int len, void* udata);

// Frames per buffer that a rate gets when no size is asked for.
unsigned wrapper_default_buffer_frames(unsigned samplerate);
