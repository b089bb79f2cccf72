// The runtime: start-up and shut-down, the fixed-rate main loop, the two
// clocks, the settings record shared with the audio thread, and the audio
// stream's switches.
//
// Threads: main thread only; never from the mixing hook. (kel_seconds and
// the shared words of kel_shared.h may be read from any thread.)
#pragma once

#include <cstdint>

#include "framework/core/kel_shared.h"
#include "framework/core/state.h"

// Brings the framework up in its fixed order (line-buffered standard output,
// log clock, settings, random seed, input, platform, effect slots, atlas
// table, sine table, turtle home, logic rate, clock) and makes the built-in
// splash state current: two growls at 0.5 s and 3 s (heard once the
// synthesiser is switched on) and a spinning emblem of three triangles on a
// pulsing green. Returns 1; a second call does nothing.
int kel_init();
// Runs the main loop until quit is requested, then kel_exit; returns 0. With
// `idle` non-zero runs one pass and returns 1. Brings the framework up with
// a default window first when kel_init was not called.
int kel_run(int idle);
// Takes the framework down (atlases, audio stream, SDL); does nothing when
// it is not up.
void kel_exit();
// A function that kel_run calls once when its loop ends on a quit request,
// just before kel_exit, while the audio stream still plays: for an
// application to let its sound fade out. Null (the default) calls nothing.
using KEL_BEFORE_EXIT = void (*)();
void kel_set_before_exit(KEL_BEFORE_EXIT hook);
// kel_quit and kel_is_quit, the quit request, are in kel_shared.h.

// Logic updates per second (60 by default).
unsigned kel_logic_rate();
// Sets the logic rate and re-bases the tick counters on the platform's tick
// count at the new rate. Returns 1, or -1 when the platform refuses the rate.
int kel_set_logic_rate(unsigned rate);
// Seconds since the end of kel_init; 0 before it and after kel_exit, so
// that the lines logged while the runtime starts read "0.00s". Any thread.
double kel_seconds();
// (1 - t) * start + t * end.
float kel_lerp(float t, float start, float end);

// Sets the video mode (0 for a size asks for half the desktop). Returns 1,
// or -1 when the platform cannot set it.
int kel_graphics(int w, int h, int depth, int fullscreen);
// Titles the window (the platform copies `title`; null counts as empty).
void kel_set_title(const char* title);
// The display size in pixels.
float kel_w();
float kel_h();
// Frames rendered during the last whole platform second.
int kel_fps();

// The pause flag: stored and reported, never looked at by the loop.
void kel_pause(int pause);
int kel_is_paused();
// Non-zero: the loop renders no frames. Logs a change.
void kel_disable_render(int set);

// kel_set_app_name and kel_app_name, the application name, are in
// kel_shared.h (the platform's folder functions read it).

// Opens (or reopens) the audio stream through the platform; 0 asks for the
// default rate or buffer size. Returns the platform's result (1 started,
// 2 already running, -1 no device) and keeps it in stream_init_result.
int kel_init_audio_stream(unsigned samplerate, unsigned bufsize);
// Switches the sample player's voices into the mix. Returns 1, or the
// stream's start-up result when the stream is not running.
int kel_enable_wave(char enable);
// Switches the synthesiser into the mix (effect slots re-initialised on a
// change). Returns 1, or the stream's start-up result when it is not running.
int kel_enable_synth(char enable);
// kel_set_skreel_callback, which installs the bytebeat callback, is in
// kel_shared.h (the engine installs it without the runtime).
