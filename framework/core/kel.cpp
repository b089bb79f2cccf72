#include "framework/core/kel.h"

#include <algorithm>
#include <atomic>
#include <ctime>

#include "framework/core/atlas.h"
#include "framework/core/draw.h"
#include "framework/core/input.h"
#include "framework/core/log.h"
#include "framework/core/poly.h"
#include "framework/core/rnd.h"
#include "framework/core/sine.h"
#include "framework/core/synth_effects.h"
#include "framework/core/turtle.h"
#include "framework/platforms/sdl/wrapper.h"
#include "framework/platforms/sdl/wrapper_music.h"

namespace {

// Most logic updates one pass may run to catch up after a stall.
constexpr int kMaxCatchUp = 4;

int is_init_ = 0;
unsigned logic_rate = 60;
uint32_t time_ticks = 0;
uint32_t logic_ticks = 0;
// Platform seconds at the end of kel_init; negative while the runtime clock
// has not started (before kel_init took it, and again after kel_exit). Read
// by the log prefix on the audio thread as well.
constexpr double kClockNotStarted = -1.0;
std::atomic<double> start_seconds{kClockNotStarted};
int fps_ = 0;
int paused_ = 0;
int render_disabled_ = 0;

// Kept by the loop from pass to pass.
int loop_seconds = 0;
int loop_frames = 0;
unsigned old_rate = 0;
bool logic_updated = false;

void clear_settings() {
  kel_settings.stream_sample_rate = 0;
  kel_settings.stream_buffer_size = 0;
  kel_settings.stream_init_result = 0;
  kel_settings.synth_effects_state.store(0);
  kel_settings.enable_synth.store(0);
  kel_settings.enable_wav.store(0);
  kel_settings.render_first = 0;
  kel_settings.delta_timing = 0;
  kel_settings.callback_skreel.store(nullptr);
}

void render_frame() {
  state_render();
  draw_flip();
  ++loop_frames;
}

void logic_update() {
  ++logic_ticks;
  kel_ticks.fetch_add(1);
  wrapper_handle_events();
  input_update_events();
  state_update();
  kel_settings.synth_effects_state.fetch_add(1);
  input_clear_events();
}

// One pass of the main loop.
void kel_loop(int idle) {
  // Lines that the audio thread queued since the last pass.
  kel_log_flush_deferred();
  const uint32_t ticks = wrapper_get_ticks(static_cast<float>(logic_rate));
  if (logic_rate != old_rate) {
    kel_log("changed logic rate %d -> %d\n", old_rate, logic_rate);
    logic_ticks = time_ticks;
    old_rate = logic_rate;
  }
  int32_t updates = static_cast<int32_t>(ticks - logic_ticks);
  if (updates > kMaxCatchUp) {
    logic_ticks = ticks;
    updates = kMaxCatchUp;
  }
  if (idle && !render_disabled_) render_frame();

  const int cur_seconds = static_cast<int>(wrapper_get_seconds());
  for (int32_t i = 0; i < updates; ++i) logic_update();
  if (updates > 0) logic_updated = true;

  if (!idle && logic_updated) {
    logic_updated = false;
    if (!render_disabled_) render_frame();
  }
  if (cur_seconds > loop_seconds) {
    fps_ = loop_frames;
    loop_seconds = cur_seconds;
    loop_frames = 0;
  }
}

// Called once when the loop ends on a quit request, before kel_exit.
KEL_BEFORE_EXIT before_exit = nullptr;

// The longest and shortest sleep between passes of the normal loop.
constexpr uint32_t kMinSleepMs = 1;
constexpr uint32_t kMaxSleepMs = 1000;

// How long the normal loop may sleep after a pass: until the platform's tick
// count reaches the next tick the logic clock will run, so that a pass with
// nothing due never happens, and at least 1 ms. After a change of rate the
// next pass re-bases the clock first, and without a rate no tick falls due:
// then it sleeps the shortest time, as it always did.
uint32_t sleep_after_pass() {
  if (kel_is_quit() || logic_rate == 0 || logic_rate != old_rate) return kMinSleepMs;
  const uint32_t wait = wrapper_ms_until_ticks(static_cast<float>(logic_rate), logic_ticks + 1);
  return std::clamp(wait, kMinSleepMs, kMaxSleepMs);
}

// The splash state: two low growls in the first seconds and a spinning
// three-triangle emblem on a pulsing green background. It is current from
// kel_init until the application switches to a state of its own.
//
// The growls' progress (0 none yet, 1 the first, 2 both); never reset, so
// they play once per process.
int splash_growls = 0;

void splash_update() {
  constexpr float kGrowlMs = 3000;
  if (splash_growls == 0 && kel_seconds() >= 0.5) {
    growl(32.704f, kGrowlMs);
    splash_growls = 1;
  } else if (splash_growls == 1 && kel_seconds() >= 3.0) {
    growl(30.868f, kGrowlMs);
    splash_growls = 2;
  }
}

void splash_render() {
  const double s = kel_seconds();
  const double beat = 0.5 + 0.5 * sine_deg(180 * s);  // 0..1, a 2-second period
  draw_clear(0, static_cast<float>(1 - beat), 0);
  const int w = wrapper_display_w(), h = wrapper_display_h();
  const double d = std::min(w, h) / 4;
  const TURTLE saved = turtle;
  turtle.r = 0;
  turtle.g = beat;
  turtle.b = 0;
  turtle.a = 1;
  turtle_set_pos(w / 2, h / 2);
  poly_draw_start();
  turtle_set_scale(1 + 0.25 * sine_deg(15 * s));  // breathes every 24 seconds
  turtle_set_angle(60 * s);                       // a turn every 6 seconds
  for (int i = 0; i < 3; ++i) {
    turtle_trans(-d, d);
    poly_point();
    turtle_trans(2 * d, 0);
    poly_point();
    turtle_trans(-d, -d);
    poly_point();
    poly_plot();
    turtle_turn(120);
  }
  poly_draw_end();
  turtle = saved;
}

STATE kel_state = {nullptr, splash_update, splash_render, nullptr};

}  // namespace

int kel_init() {
  if (is_init_) return 1;
  kel_log_init();
  kel_set_clock(kel_seconds);
  kel_log_line("kel init");
  clear_settings();
  mrand_seed = static_cast<uint32_t>(std::time(nullptr));
  input_init();
  wrapper_init();
  synth_effects_init(0, 0);
  atlas_init();
  init_sine_table();
  turtle_home();
  kel_set_logic_rate(60);
  start_seconds.store(wrapper_get_seconds());
  state_set(&kel_state);
  is_init_ = 1;
  return 1;
}

void kel_exit() {
  if (!is_init_) return;
  kel_log_line("Quitting...");
  atlas_exit();
  wrapper_exit();
  is_init_ = 0;
  kel_log_line("Bye! :)");
  // The audio thread has stopped: whatever it queued last goes out now.
  kel_log_flush_deferred();
  start_seconds.store(kClockNotStarted);
}

void kel_set_before_exit(KEL_BEFORE_EXIT hook) { before_exit = hook; }

int kel_run(int idle) {
  if (!is_init_) {
    const int result = kel_init();
    if (result < 0) return result;
    kel_graphics(0, 0, 0, 0);
  }
  if (!kel_is_quit()) {
    if (!idle) logic_updated = false;
    while (!kel_is_quit()) {
      kel_loop(idle);
      if (idle) return 1;
      wrapper_delay_ms(sleep_after_pass());
    }
  }
  if (before_exit) before_exit();
  kel_exit();
  return 0;
}


unsigned kel_logic_rate() { return logic_rate; }

int kel_set_logic_rate(unsigned rate) {
  kel_log_trace(__LINE__, "kel_set_logic_rate");
  kel_log("RATE %d\n", rate);
  logic_rate = rate;
  if (wrapper_set_logic_rate(static_cast<float>(rate)) < 0) return -1;
  const uint32_t t = wrapper_get_ticks(static_cast<float>(rate));
  time_ticks = logic_ticks = t;
  kel_ticks.store(t);
  return 1;
}

double kel_seconds() {
  const double start = start_seconds.load();
  return start < 0 ? 0.0 : wrapper_get_seconds() - start;
}

float kel_lerp(float t, float start, float end) { return (1 - t) * start + t * end; }

int kel_graphics(int w, int h, int depth, int fullscreen) {
  return wrapper_set_graphics(w, h, depth, fullscreen) < 0 ? -1 : 1;
}

void kel_set_title(const char* title) { wrapper_set_title(title); }

float kel_w() { return static_cast<float>(wrapper_display_w()); }
float kel_h() { return static_cast<float>(wrapper_display_h()); }
int kel_fps() { return fps_; }

void kel_pause(int pause) { paused_ = pause; }
int kel_is_paused() { return paused_; }

void kel_disable_render(int set) {
  if (set != render_disabled_) kel_log("%s %d _> %d\n", "kel_disable_render", render_disabled_, set);
  render_disabled_ = set;
}

int kel_init_audio_stream(unsigned samplerate, unsigned bufsize) {
  const int result = wrapper_sound_init(samplerate, bufsize);
  kel_settings.stream_init_result = static_cast<int8_t>(result);
  return result;
}

int kel_enable_wave(char enable) {
  if (kel_settings.stream_init_result <= 0) return kel_settings.stream_init_result;
  kel_log("ENABLE WAV? %d\n", kel_settings.enable_wav.load());
  kel_settings.enable_wav.store(static_cast<uint8_t>(enable));
  return 1;
}

int kel_enable_synth(char enable) {
  if (kel_settings.stream_init_result <= 0) return kel_settings.stream_init_result;
  const auto value = static_cast<uint8_t>(enable);
  if (value != kel_settings.enable_synth.load()) synth_effects_init(-1, -1);
  kel_settings.enable_synth.store(value);
  return 1;
}
