#include "hack/tonebrook/player_window.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/core/input.h"
#include "framework/core/kel.h"
#include "framework/core/log.h"
#include "hack/tonebrook/live.h"
#include "hack/tonebrook/options.h"
#include "hack/tonebrook/scope_window.h"
#include "hack/tonebrook/taps.h"
#include "hack/tonebrook/tonebrook.h"
#include "keltoolkit/skreelplayer/skreel_live.h"

namespace {

constexpr const char* kPlaysOn = "playing without the window";

// Set by player_window_choose_video: --scope was asked for where there is
// no display to open a window on.
bool no_display = false;

bool window_open = false;

// What the player does, as the window shows it.
bool paused = false;
bool tune_playing = false;  // a tune was taken up and not silenced since
std::string error;          // the last compilation's, empty when it compiled
float volume_now = 1.0f;

// The pointer, as its events left it.
struct Pointer {
  bool seen = false;  // an event of it reached the window
  int x = 0, y = 0;
  bool left = false, right = false;
};
Pointer pointer;
std::array<VAL32, 4> inputs_sent{};

// The window's frames, for the line at the close.
unsigned frames = 0;
double first_frame_at = 0.0, last_frame_at = 0.0;

// Pointer button indices (SDL's button number - 1).
constexpr int kLeftButton = 0;
constexpr int kRightButton = 2;

void show_message() {
  if (!error.empty()) {
    scope_window_set_message(error.c_str(), 1);
  } else if (paused) {
    scope_window_set_message("paused", 0);
  } else {
    scope_window_set_message(tune_playing ? "playing" : "", 0);
  }
}

void on_player_event(const LIVE_EVENT& e) {
  switch (e.event.kind) {
    case SKREEL_TUNE:
      scope_window_set_tune_rate(e.event.value);
      scope_window_set_instructions(e.event.count);
      tune_playing = true;
      break;
    case SKREEL_SILENCE:
      tune_playing = false;
      break;
    default:
      return;
  }
  show_message();
}

void toggle_pause() {
  paused = !paused;
  live_pause(paused ? 1 : 0);
  kel_log_line(paused ? "paused (space plays on)" : "playing on");
  show_message();
}

void step_volume(int direction) {
  volume_now = player_window_volume_step(volume_now, direction);
  live_volume(volume_now);
  kel_log("volume %.1f\n", static_cast<double>(volume_now));
}

void on_key(int key) {
  switch (key) {
    case K_SPACE:
      toggle_pause();
      break;
    case K_HOME:
      live_restart();
      kel_log_line("starting again from t = 0");
      break;
    case K_PLUS:
      step_volume(1);
      break;
    case K_MINUS:
      step_volume(-1);
      break;
    default:
      break;
  }
}

// Every input event, in order, as the logic update applies them: keys act
// on their press, however short; the pointer's position and buttons are
// kept for the update.
void on_input(INPUT_EVENT* e) {
  if (e->keyid != K_MOUSE) {
    if (e->type & INPUT_DOWN) on_key(e->keyid);
    return;
  }
  pointer.seen = true;
  pointer.x = static_cast<int>(e->x);
  pointer.y = static_cast<int>(e->y);
  const bool down = (e->type & INPUT_DOWN) != 0;
  if (e->type == INPUT_MOVE) return;
  if (e->id == kLeftButton) pointer.left = down;
  if (e->id == kRightButton) pointer.right = down;
}

}  // namespace

void player_window_choose_video(int argc, char** argv) {
  COMMAND_LINE line;
  std::string ignored;
  const bool scope =
      tonebrook_parse_command_line(argc, argv, &line, &ignored) && line.command == COMMAND::kPlayer && line.scope;
  if (!scope) {
    tonebrook_prefer_dummy_video();
    return;
  }
  if (std::getenv("SDL_VIDEODRIVER") != nullptr) return;
  const char* display = std::getenv("DISPLAY");
  if (display != nullptr && *display != '\0') {
    setenv("SDL_VIDEODRIVER", "x11", 1);
  } else {
    no_display = true;
    tonebrook_prefer_dummy_video();
  }
}

int player_window_open(const char* file, unsigned device_rate, float volume) {
  volume_now = std::clamp(volume, 0.0f, 1.0f);
  if (no_display) {
    std::fprintf(stderr, "tonebrook: --scope: no display to open the window on (DISPLAY is not set); %s\n",
                 kPlaysOn);
    return 0;
  }
  if (kel_graphics(SCOPE_WINDOW_W, SCOPE_WINDOW_H, 0, 0) != 1) {
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    const char* display = std::getenv("DISPLAY");
    std::fprintf(stderr,
                 "tonebrook: --scope: the window cannot be opened (video driver '%s', display '%s': no X "
                 "server there, or a driver that cannot start); %s\n",
                 driver ? driver : "", display ? display : "", kPlaysOn);
    return 0;
  }
  const std::string title = file ? std::string("tonebrook - ") + file : std::string("tonebrook");
  kel_set_title(title.c_str());
  scope_window_set_file(file);
  show_message();
  if (scope_window_open(device_rate) != 1) {
    std::fprintf(stderr, "tonebrook: --scope: nothing can be drawn in the window (see the log above); %s\n",
                 kPlaysOn);
    return 0;
  }
  skreel_set_value_tap(scope_tap_tune);
  taps_add_stream(scope_tap_mix);
  live_listen(on_player_event);
  input_set_callback(on_input);
  window_open = true;
  frames = 0;
  return 1;
}

void player_window_render() {
  if (!window_open) return;
  scope_window_render();
  last_frame_at = kel_seconds();
  if (frames++ == 0) first_frame_at = last_frame_at;
}

void player_window_update() {
  if (!window_open || !pointer.seen) return;
  const PLAYER_POINTER now{pointer.x,  pointer.y,    static_cast<int>(kel_w()), static_cast<int>(kel_h()),
                           pointer.left, pointer.right};
  const std::array<VAL32, 4> inputs = player_window_inputs(now);
  if (inputs == inputs_sent) return;
  inputs_sent = inputs;
  live_inputs(inputs.data());
}

void player_window_compiled(const char* compile_error) {
  error = compile_error ? compile_error : "";
  show_message();
}

void player_window_close() {
  if (!window_open) return;
  window_open = false;
  input_set_callback(nullptr);
  skreel_set_value_tap(nullptr);
  scope_window_close();
  const double seconds = last_frame_at - first_frame_at;
  if (frames > 1 && seconds > 0)
    kel_log("the window drew %u frames, %.1f a second\n", frames, (frames - 1) / seconds);
}

std::array<VAL32, 4> player_window_inputs(const PLAYER_POINTER& p) {
  // Each of the 256 values covers an equal run of pixels.
  const auto across = [](int pixel, int size) -> VAL32 {
    if (size <= 0) return 0;
    const long long clamped = std::clamp(pixel, 0, size - 1);
    return static_cast<VAL32>(clamped * 256 / size);
  };
  const VAL32 y_down = across(p.y, p.h);
  return {across(p.x, p.w), p.h > 0 ? 255 - y_down : 0, p.left ? 255u : 0u, p.right ? 255u : 0u};
}

float player_window_volume_step(float volume, int direction) {
  // The tenths, with room for a float's error (0.7f is a little above 0.7).
  constexpr double kSlack = 1e-4;
  double tenths = static_cast<double>(volume) * 10.0;
  if (direction > 0) tenths = std::floor(tenths + kSlack) + 1.0;
  if (direction < 0) tenths = std::ceil(tenths - kSlack) - 1.0;
  return static_cast<float>(std::clamp(tenths, 0.0, 10.0) / 10.0);
}
