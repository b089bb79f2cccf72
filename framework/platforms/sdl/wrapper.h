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

// Starts SDL with every subsystem (a subsystem that cannot start does not
// take the others down), opens joystick 0, takes the desktop size, clears
// the pointer records and installs the display for the drawing module and
// the image loader for the atlases (wrapper_load_rgba).
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
// Drains SDL's events into the input queue; SDL_QUIT and a held Esc key
// request quit.
void wrapper_handle_events();

// Seconds since SDL started (from the platform clock).
double wrapper_get_seconds();
// Milliseconds since SDL started times `frequency` / 1000, truncated.
uint32_t wrapper_get_ticks(float frequency);
// Accepts any logic rate; returns 0.
int wrapper_set_logic_rate(float frequency);
// Sleeps `seconds` (truncated to whole milliseconds).
void wrapper_delay(double seconds);
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
// `ms` answers the milliseconds since start-up (SDL_GetTicks by default) and
// `delay` sleeps (SDL_Delay by default); a null argument restores SDL's.
// Both may be called from any thread.
using WRAPPER_CLOCK_MS = uint32_t (*)();
using WRAPPER_CLOCK_DELAY = void (*)(uint32_t ms);
void wrapper_set_clock(WRAPPER_CLOCK_MS ms, WRAPPER_CLOCK_DELAY delay);
