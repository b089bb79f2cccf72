// The SDL 1.2 platform layer: start-up, the OpenGL video mode, events,
// clocks, sleeping, buffer swaps and shut-down.
//
// The platform stands below the runtime (kel): the runtime calls down into
// it, and it calls up into the core only through the input queue
// (input_add_event), the quit request (kel_quit) and the mixing hook
// (mixaudio, which runs the sources that kel_settings switches on). It is
// the only user of SDL, SDL_mixer and SDL_image.
//
// Threads: main thread only; never from the mixing hook. (wrapper_get_seconds
// and wrapper_get_ticks may be read from any thread: the log prefix reads the
// clock on the audio thread.)
#pragma once

#include <cstdint>

#include "framework/core/kel_shared.h"
#include "framework/core/plat_msg.h"

// Starts SDL with every subsystem but its timers (a subsystem that cannot
// start does not take the others down; the clock and sleeping need no
// timers), opens joystick 0, takes the desktop size, clears the pointer
// records, installs the display for the drawing module, the image loader
// for the atlases (wrapper_load_rgba) and replier_for_plat_msg as the
// platform messages' replier.
// Returns 1.
int wrapper_init();
// Opens the OpenGL window: a size of 0 takes the desktop's, halved each way
// for a window. Resets the drawing state. Returns 1, or -1 when SDL cannot
// set the mode (or no video subsystem runs); the size is kept either way.
int wrapper_set_graphics(int w, int h, int depth, int fullscreen);
// Switches full-screen on or off at the current size; 1 when nothing needs
// changing, else wrapper_set_graphics's result.
int wrapper_set_fullscreen(int set);
// Scales the model-view matrix so that a logical w x h area fills the
// window (0 for either means the display size).
void wrapper_reset_opengl_matrix(float w, float h);
// Drains SDL's events into the input queue; SDL_QUIT requests quit, and so
// does Esc at the next call after its press, held or already let go.
void wrapper_handle_events();

// Seconds since the program started (from the platform clock, which counts
// milliseconds in 64 bits and so never wraps).
double wrapper_get_seconds();
// Milliseconds since the program started times `frequency` / 1000,
// truncated; the low 32 bits of that count (compare two of them round
// their 32 bits, as the loop does).
uint32_t wrapper_get_ticks(float frequency);
// Milliseconds from now until wrapper_get_ticks(frequency) reaches `ticks`
// (the counts compared round their 32 bits): 0 when it has, the largest
// value when it never will (no rate).
uint32_t wrapper_ms_until_ticks(float frequency, uint32_t ticks);
// Accepts any logic rate; returns 0.
int wrapper_set_logic_rate(float frequency);
// Sleeps `seconds` (truncated to whole milliseconds).
void wrapper_delay(double seconds);
// Sleeps `ms` milliseconds.
void wrapper_delay_ms(uint32_t ms);
// Gives up the processor for 1 ms.
void wrapper_yield();
// Swaps the window's buffers (nothing without a video subsystem).
void wrapper_flip_screen();

// Window size in pixels (640 x 480 until a mode is set), desktop size (0 x 0
// before wrapper_init) and whether the mode is full-screen.
int wrapper_display_w();
int wrapper_display_h();
int wrapper_desktop_w();
int wrapper_desktop_h();
int wrapper_fullscreen();

// Nothing to do on this platform.
void wrapper_start_audio_stream();
void wrapper_stop_audio_stream();
// Closes the audio stream, then shuts SDL down.
void wrapper_exit();

// Maps an SDL key symbol to a K_ code of the input module (K_NONE for keys
// without one).
int translate_symbol(int symbol);

// The platform's clock, replaceable so that tests can drive time by hand.
// `ms` answers the milliseconds since start-up (by default the system's
// monotonic clock, in 64 bits) and `delay` sleeps (SDL_Delay by default); a
// null argument restores the platform's own.
// Both may be called from any thread. The same as kel_set_platform_clock,
// which holds them in the base library.
using WRAPPER_CLOCK_MS = KEL_CLOCK_MS;
using WRAPPER_CLOCK_DELAY = KEL_CLOCK_DELAY;
void wrapper_set_clock(WRAPPER_CLOCK_MS ms, WRAPPER_CLOCK_DELAY delay);

// --- Platform messages --------------------------------------------------------

// This platform's replier (installed by wrapper_init): logs a score
// message as "Received score:" and "'<category>' <value>" and answers every
// message, of whatever kind, with PLAT_MSG_CODE_ABORT. The category is read
// up to its zero or its 80th character, whichever comes first.
int replier_for_plat_msg(PLAT_MSG* msg);

// --- Outside services ---------------------------------------------------------
//
// This desktop platform has no social network, browser hand-over or
// clipboard service: those calls log what was asked and return -1 (not
// available). A null text is logged as "(null)". Only the thread and the
// cursor services do real work.

// One sequence: start, add texts and links, finish.
int wrapper_tweet_start();
int wrapper_tweet_add_text(const char* text);
int wrapper_tweet_add_url(const char* url);
int wrapper_tweet_finish();
// Logs "OPEN URL (hint <hint>): <url>"; -1.
int wrapper_open_url(int hint, const char* url);
// Logs the data's address, its size and the hint; -1.
int wrapper_copy_data_to_clipboard(const char* hint, const char* data, int size);
// Progress callback of a file copy: bytes done, bytes in all.
using WRAPPER_PROGRESS = void (*)(unsigned done, unsigned total);
// Logs the file name and the hint; -1. `progress` is never called.
int wrapper_copy_file_to_clipboard(const char* hint, const char* filename, WRAPPER_PROGRESS progress);

// Runs func(data) on a new POSIX thread, detached at once: nobody joins it,
// its resources go when it ends, and the framework neither tracks nor stops
// it (what it touches is the caller's business; no lock is offered). When
// the thread cannot be started, or `func` is null, nothing runs.
using WRAPPER_THREAD_FUNC = void* (*)(void* data);
void wrapper_run_thread(WRAPPER_THREAD_FUNC func, void* data);

// Sets the window's title (and its icon's), copied; null counts as empty.
// It holds for the open window and one opened later; nothing without a
// video subsystem.
void wrapper_set_title(const char* title);

// Shows the mouse cursor (set non-zero) or hides it, through SDL.
void wrapper_show_cursor(int set);

// Result callback of a named platform call.
using WRAPPER_CALL_RESULT = void (*)(void* result, int size);
// Calls of named platform functions. This platform has none: both run
// nothing, never call `callback`, and return 0.
int wrapper_call_ex(const char* name, int argc, const char* const* argv, WRAPPER_CALL_RESULT callback);
int wrapper_call(const char* call, const char* arg);
