// The window that shows the sound live, as the live player uses it: one
// model of the sound (scope.h), fed by the audio thread's taps
// (scope_feed.h) and drawn by the view (scope_draw.h) every frame.
//
// Wiring, in the live player:
//   1. kel_graphics(SCOPE_WINDOW_W, SCOPE_WINDOW_H, 0, 0) == 1, then
//      scope_window_open(device_rate); either failing means no window;
//   2. install scope_tap_tune as the engine's tap and scope_tap_mix as the
//      stream's (scope_feed.h);
//   3. scope_window_render() as the state's render callback;
//   4. the facts as they change: scope_window_set_file, _set_tune_rate,
//      _set_instructions, _set_message;
//   5. scope_window_close() before kel_exit.
//
// Threads: main thread only; never from the mixing hook (the taps are the
// audio thread's part).
#pragma once

#include "hack/tonebrook/scope_draw.h"  // SCOPE_WINDOW_W, SCOPE_WINDOW_H
#include "hack/tonebrook/scope_feed.h"  // the taps

// Builds the view in the open window and the model for a device of
// `device_rate` frames a second, and starts the feed. Returns 1, or 0
// after logging why when the view cannot be built (nothing is shown then).
// The facts set before are kept.
int scope_window_open(unsigned device_rate);
// One frame: drains the taps into the model, computes and draws. Nothing
// while no window is open.
void scope_window_render();
// Lets go of the model (the feed's rings stay, the taps keep filling and
// dropping). The facts are kept for a later open.
void scope_window_close();

// The facts of the text, shown from the next frame on; any of them may be
// set before the window opens. A null text counts as empty. The message is
// the player's last: a compile error (`is_error` non-zero, shown in the
// error colour, with its line and column as the player wrote them) or
// "playing".
void scope_window_set_file(const char* name);
void scope_window_set_tune_rate(double rate);
void scope_window_set_instructions(int count);
void scope_window_set_message(const char* text, int is_error);
