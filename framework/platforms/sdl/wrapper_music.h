// The audio stream: one SDL_mixer device, 16-bit signed stereo, and the
// post-mix hook that adds the runtime's own sound sources to each buffer;
// and the music channel: one streamed music file at a time, which SDL_mixer
// mixes into each buffer before the hook runs.
//
// Threads: wrapper_sound_init, wrapper_sound_exit and the music functions
// on the main thread only; mixaudio runs on SDL_mixer's audio thread and
// must not be called from anywhere else while the stream runs.
#pragma once

// Opens (or reopens) the sound device. A rate or size of 0 asks for the
// default; both 0 on a running stream leaves it alone. Returns 1 when the
// stream was started, 2 when it was already running, -1 when the device
// could not be opened. When SDL plays through its alsa driver while a
// PulseAudio-compatible server listens (the driver then polls the server's
// ALSA plug-in busily), logs a notice that says to choose pulse or none.
int wrapper_sound_init(unsigned samplerate, unsigned bufsize);
// Pauses and closes the device when it is open.
void wrapper_sound_exit();

// SDL_mixer's post-mix hook: `len` bytes of interleaved S16 stereo. Adds the
// bytebeat callback (wrapping), the sample player (clipping) and the
// synthesiser (saturating), as kel_settings switches them. Allocates
// nothing, takes no lock, and logs only through the deferred log ring.
// After it, every buffer that goes to the device (from the device's first,
// before this hook is registered) is handed to the stream tap
// (kel_set_stream_tap) and counted in the stream's frames
// (kel_stream_frame; wrapper_sound_init starts the count at 0).
void mixaudio(int chan, void* stream, int len, void* udata) noexcept;

// Frames per buffer that a rate gets when no size is asked for.
unsigned wrapper_default_buffer_frames(unsigned samplerate);

// --- Music ------------------------------------------------------------------
//
// Music needs the device that wrapper_sound_init opens; closing the stream
// ends it. The current music stream belongs to this module: it lives until
// it is replaced or the music is turned off (it is not released at exit).
// Volumes run from 0.0 (silent) to 1.0 (full): SDL_mixer gets
// truncate(volume * 128), 0..128.

// Plays `filename` on the music channel, `loops` times (-1: until stopped;
// other values go to SDL_mixer as they are), replacing and releasing the
// music that played before. A file that cannot be loaded logs
// "Mix_LoadMUS: <SDL's error>" and plays nothing, so the old music stops
// all the same. Returns 1, also after a failed load; a null filename stops
// and releases the music and returns 0.
int wrapper_play_music_ex(const char* filename, int loops);
// wrapper_play_music_ex(filename, -1).
int wrapper_play_music(const char* filename);
void wrapper_pause_music();
void wrapper_resume_music();
// SDL_mixer's music volume to truncate(volume * 128): 0.5 gives 64, 1.0
// 128. SDL_mixer keeps it within 0..128 and takes a negative value as a
// question, leaving the volume as it is; so does a NaN here.
void wrapper_music_volume(float volume);
// Rewinds the music and moves it to `seconds` (where its format allows).
// Returns 1.
int wrapper_set_music_position(float seconds);
// No other player is ever reported on this platform: 0.
int wrapper_is_other_music_playing();
// Nothing to do on this platform.
void wrapper_set_audio_for_background(int ok);
void wrapper_set_audio_for_ambient(int ok);
