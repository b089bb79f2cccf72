// The words that the runtime shares with the floors below it and with the
// audio thread: the settings record, the logic tick counter, the quit
// request, the bytebeat callback's installation and the runtime clock. They
// live in the base library so that the sound modules, the input queue, the
// log and the bytebeat engine can reach them without reaching up into the
// runtime.
//
// Threads: the main thread writes the settings and the tick counter; the
// audio thread reads the switches and the callback once per buffer and
// clears synth_effects_state. Every field the two share is atomic.
#pragma once

#include <atomic>
#include <cstdint>

// The bytebeat callback: adds `stereo_sample_count` interleaved stereo
// frames into `buffer`, running at `sample_rate`. Called on the audio thread.
using KEL_SKREEL_CALLBACK = void (*)(int16_t* buffer, int stereo_sample_count, int sample_rate);

// The runtime's settings, cleared by kel_init. The main thread writes the
// switches and the callback, the audio thread reads them once per buffer.
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
static_assert(std::atomic<KEL_SKREEL_CALLBACK>::is_always_lock_free);
static_assert(std::atomic<uint8_t>::is_always_lock_free);

extern KEL_SETTINGS kel_settings;

// Logic tick counter: advanced once per logic update by the main loop,
// printed in every log line and read by the audio side.
extern std::atomic<uint32_t> kel_ticks;

// The quit request: set by kel_quit (from the platform's quit event, Esc, a
// signal handler or the application), never cleared; the main loop ends
// when it is set. Any thread, and safe in a signal handler.
void kel_quit();
// 1 once quit was requested.
int kel_is_quit();

// Installs the bytebeat callback in kel_settings (null removes it); the
// audio thread picks it up at its next buffer. Main thread.
void kel_set_skreel_callback(KEL_SKREEL_CALLBACK callback);

// The runtime clock (seconds since the end of kel_init), as the log prefix
// and the modules below the runtime read it. kel_init installs the
// runtime's own (kel_seconds); until then, and after a null, it reads 0.
// The installed function must be callable from any thread.
using KEL_CLOCK_SECONDS = double (*)();
void kel_set_clock(KEL_CLOCK_SECONDS seconds);
double kel_clock_seconds();

// Stand-ins for the platform's clock, so that a test can drive time by hand
// without the platform: `ms` answers the milliseconds since start-up (64
// bits: the clock never wraps, so the loop and the log run on past 2^32 ms,
// about 49.7 days) and `delay` sleeps `ms` milliseconds. The platform reads both on every call
// and uses its own for each one that is null (the default). The functions
// installed must be callable from any thread: the log prefix reads the
// clock on the audio thread.
using KEL_CLOCK_MS = uint64_t (*)();
using KEL_CLOCK_DELAY = void (*)(uint32_t ms);
void kel_set_platform_clock(KEL_CLOCK_MS ms, KEL_CLOCK_DELAY delay);
// The installed stand-ins; null where the platform's own is in use.
KEL_CLOCK_MS kel_platform_clock_ms();
KEL_CLOCK_DELAY kel_platform_clock_delay();

// The audio stream's position: the frames it has passed before the buffer
// that is being mixed now (0 before the first). The mixing hook advances it
// after every buffer, on the audio thread; an offline rendering that runs
// the bytebeat callback itself sets it before each buffer. Any thread may
// read it; the bytebeat player reads it to say at which frame it took up a
// change.
uint64_t kel_stream_frame();
void kel_set_stream_frame(uint64_t frame);
void kel_advance_stream_frame(uint64_t frames);

// The stream tap: called by the mixing hook on the audio thread with every
// buffer as it goes to the device (`frames` interleaved stereo frames, all
// sources mixed) and kel_stream_frame() still at the buffer's first frame.
// It must return at once: no allocation, lock, wait or output. Null (the
// default) calls nothing. kel_set_stream_tap runs on the main thread; the
// hook picks a change up at its next buffer.
using KEL_STREAM_TAP = void (*)(const int16_t* stereo, int frames) noexcept;
void kel_set_stream_tap(KEL_STREAM_TAP tap);
KEL_STREAM_TAP kel_stream_tap();

// The application name, which names the per-user folders (wrapper_file).
// Stored by pointer, not copied: the caller keeps the text alive. Main
// thread only.
void kel_set_app_name(const char* name);
// The stored name, or "unnamed" until one was set.
const char* kel_app_name();
