// player_window: the live player's window (--scope). It opens the window
// that shows the sound (scope_window.h) through the runtime, feeds it from
// the engine's value tap and the stream tap, keeps its text up to date
// from the player's answers (live.h) and the watch's compilations, and
// lets the window play the tune: the pointer and its two buttons are the
// tune's inputs x, y, u and v, and keys pause, start again, change the
// volume and quit.
//
// Without a display (no DISPLAY, no X server there, or a video driver that
// cannot start) the player says so in one line on standard error and plays
// on without the window; the inputs then stay 0.
//
// Threads: main thread only (start-up, the logic updates and the frames).
// The taps it installs run on the audio thread (scope_feed.h, taps.h).
#pragma once

#include <array>

#include "keltoolkit/skreelplayer/skreel_model.h"

// Chooses SDL's video driver for the command line in `argc`/`argv` before
// the runtime starts SDL. Without --scope: the dummy driver
// (tonebrook_prefer_dummy_video). With it: the X11 driver when DISPLAY
// names a display (so that no text-mode driver is tried instead), else the
// dummy driver, and player_window_open will say that there is no display.
// A driver the user has chosen (SDL_VIDEODRIVER set) is kept. Call once,
// before kel_init.
void player_window_choose_video(int argc, char** argv);

// Opens the window for the tune file `file` (its name is shown and titles
// the window; null for none), for a sound device at `device_rate` frames a
// second, with the player's volume at `volume` (where + and - step from).
// Installs the taps, a listener of the player's answers and the input
// callback. Call after the audio stream is opened and before the loop
// runs; then make player_window_render the state's render. Returns 1 when
// the window is open; 0 after one line on standard error saying why not
// and that the player plays on without it.
int player_window_open(const char* file, unsigned device_rate, float volume);

// The state's render: one frame of the window.
void player_window_render();

// Once per logic update, before live_update: sends the tune's inputs from
// the pointer when they changed since they were last sent (none before the
// pointer was first seen in the window). Nothing while no window is open.
void player_window_update();

// After each compilation of the watch: `error` is its error line
// (tune_compile_error), or null or empty when the tune compiled. The
// window's message shows the error (in the error colour) until a
// compilation succeeds; otherwise "paused" while paused, "playing" while a
// tune plays. Copied.
void player_window_compiled(const char* error);

// Lets go of the window's model and logs how many frames the window drew
// and how many a second. Before kel_exit. Nothing while no window is open.
void player_window_close();

// --- The pure parts ----------------------------------------------------------

// The pointer in a window: its position in pixels from the top-left corner,
// the window's size, and whether the left and right buttons are held.
struct PLAYER_POINTER {
  int x, y;
  int w, h;
  bool left, right;
};

// The tune's inputs x, y, u, v for `pointer`: x from 0 at the left edge to
// 255 at the right, y from 0 at the bottom to 255 at the top, each value
// covering an equal run of pixels (a position outside the window counts as
// the nearest edge); u 255 while the left button is held, v while the
// right one is, else 0. A window without a size gives 0 for x and y.
std::array<VAL32, 4> player_window_inputs(const PLAYER_POINTER& pointer);

// The volume one step up (`direction` > 0) or down (< 0) from `volume`:
// the next tenth in that direction, within 0 to 1. A direction of 0 gives
// `volume` within 0 to 1.
float player_window_volume_step(float volume, int direction);
