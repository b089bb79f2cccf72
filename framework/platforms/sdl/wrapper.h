// The SDL 1.2 platform layer: start-up, the OpenGL video mode, events,
// clocks, sleeping, buffer swaps and shut-down.
#pragma once

#include <cstdint>

int wrapper_init();
int wrapper_set_graphics(int w, int h, int depth, int fullscreen);
int wrapper_set_fullscreen(int set);
void wrapper_reset_opengl_matrix(float w, float h);
void wrapper_handle_events();

double wrapper_get_seconds();
uint32_t wrapper_get_ticks(float frequency);
int wrapper_set_logic_rate(float frequency);
void wrapper_delay(double seconds);
void wrapper_yield();
void wrapper_flip_screen();

int wrapper_display_w();
int wrapper_display_h();
int wrapper_desktop_w();
int wrapper_desktop_h();
int wrapper_fullscreen();

void wrapper_start_audio_stream();
void wrapper_stop_audio_stream();
void wrapper_exit();

// The platform's clock, replaceable so that tests can drive time by hand.
// `ms` answers the milliseconds since start-up (SDL_GetTicks by default) and
// `delay` sleeps (SDL_Delay by default); a null argument restores SDL's.
using WRAPPER_CLOCK_MS = uint32_t (*)();
using WRAPPER_CLOCK_DELAY = void (*)(uint32_t ms);
void wrapper_set_clock(WRAPPER_CLOCK_MS ms, WRAPPER_CLOCK_DELAY delay);
