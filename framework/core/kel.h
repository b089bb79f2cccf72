// The runtime: start-up and shut-down, the fixed-rate main loop, the two
// clocks, the settings record shared with the audio thread, and the audio
// stream's switches.
#pragma once

#include <atomic>
#include <cstdint>

#include "framework/core/state.h"

// The bytebeat callback: adds `stereo_sample_count` interleaved stereo
// frames into `buffer`, running at `sample_rate`.
using KEL_SKREEL_CALLBACK = void (*)(int16_t* buffer, int stereo_sample_count, int sample_rate);

// The runtime's settings. Every field that the audio thread reads or writes
// is atomic; the main thread writes the switches and the callback, the audio
// thread reads them once per buffer.
struct KEL_SETTINGS {
  uint32_t stream_sample_rate;
  uint32_t stream_buffer_size;
  // Result of the last kel_init_audio_stream: 0 never started, 1 started,
  // 2 already running, negative when the device could not be opened.
  int8_t stream_init_result;
  // Logic updates since the audio side last advanced the sound effects:
  // the loop adds one per update, the mixer clears it.
  std::atomic<uint8_t> synth_effects_state;
  std::atomic<uint8_t> enable_synth;
  std::atomic<uint8_t> enable_wav;
  uint8_t render_first;
  uint8_t delta_timing;
  std::atomic<KEL_SKREEL_CALLBACK> callback_skreel;
};

extern KEL_SETTINGS kel_settings;

// Logic tick counter, printed in every log line and read by the audio side.
extern std::atomic<uint32_t> kel_ticks;

int kel_init();
int kel_run(int idle);
void kel_exit();
void kel_quit();
int kel_is_quit();

unsigned kel_logic_rate();
int kel_set_logic_rate(unsigned rate);
double kel_seconds();
float kel_lerp(float t, float start, float end);

int kel_graphics(int w, int h, int depth, int fullscreen);
float kel_w();
float kel_h();
int kel_fps();

void kel_pause(int pause);
int kel_is_paused();
void kel_disable_render(int set);

void kel_set_app_name(const char* name);
const char* kel_app_name();

// Audio stream (the device itself is opened by the platform layer).
int kel_init_audio_stream(unsigned samplerate, unsigned bufsize);
int kel_enable_wave(char enable);
int kel_enable_synth(char enable);
void kel_set_skreel_callback(KEL_SKREEL_CALLBACK callback);
