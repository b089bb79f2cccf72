#include "framework/platforms/sdl/wrapper.h"

#include <SDL.h>
#include <GL/gl.h>
#include <pthread.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>

#include "framework/core/atlas.h"
#include "framework/core/draw.h"
#include "framework/core/input.h"
#include "framework/core/kel_shared.h"
#include "framework/core/log.h"
#include "framework/core/plat_msg.h"
#include "framework/platforms/sdl/wrapper_image.h"
#include "framework/platforms/sdl/wrapper_music.h"

namespace {

int display_w = 640;
int display_h = 480;
int desktop_w = 0;
int desktop_h = 0;
int fullscreen_ = 0;
SDL_Joystick* joy = nullptr;

// The clock and sleeping: the platform's, or the stand-ins installed in the
// base library (kel_set_platform_clock). The log prefix reads the clock on
// the audio thread too. The platform's clock counts milliseconds in 64 bits
// on the system's monotonic clock, from the start of the program: SDL 1.2's
// SDL_GetTicks is 32 bits wide and wraps after 49.7 days, which would stall
// the logic loop.
const std::chrono::steady_clock::time_point clock_start = std::chrono::steady_clock::now();

uint64_t clock_ms() {
  if (const KEL_CLOCK_MS ms = kel_platform_clock_ms()) return ms();
  const auto since = std::chrono::steady_clock::now() - clock_start;
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}
void clock_delay(uint32_t ms) {
  if (const KEL_CLOCK_DELAY delay = kel_platform_clock_delay()) {
    delay(ms);
  } else {
    SDL_Delay(ms);
  }
}

// Every subsystem but SDL's timers. The timer subsystem starts a thread that
// wakes every millisecond for as long as SDL runs, to serve SDL_AddTimer,
// which nothing here uses; the clock and SDL_Delay work
// without it.
constexpr Uint32 kSubsystems = SDL_INIT_EVERYTHING & ~Uint32{SDL_INIT_TIMER};

void start_sdl() {
  if (SDL_Init(kSubsystems) == 0) return;
  // One subsystem that cannot start (typically the sound device) must not
  // take the clock, the events and the joystick down with it.
  kel_log_notice("SDL_Init: %s\n", SDL_GetError());
  for (Uint32 subsystem : {Uint32{SDL_INIT_VIDEO}, Uint32{SDL_INIT_JOYSTICK}, Uint32{SDL_INIT_AUDIO}})
    if (SDL_WasInit(subsystem) == 0) SDL_InitSubSystem(subsystem);
}

const char* or_null(const char* text) { return text ? text : "(null)"; }

void queue_event(int type, int keyid, int id, float x, float y) {
  INPUT_EVENT e{};
  e.type = type;
  e.keyid = keyid;
  e.id = id;
  e.x = x;
  e.y = y;
  input_add_event(&e);
}

// An Esc press seen by the last drain. It quits at the next update as a
// held Esc does, however short the press was: one let go within the same
// logic update never shows as held.
bool escape_pressed = false;

// Drains SDL's event queue into the input ring.
void check_events() {
  SDL_Event ev;
  while (SDL_PollEvent(&ev)) {
    switch (ev.type) {
      case SDL_KEYDOWN:
        queue_event(INPUT_DOWN, translate_symbol(ev.key.keysym.sym), 0, 0, 0);
        if (ev.key.keysym.sym == SDLK_ESCAPE) escape_pressed = true;
        break;
      case SDL_KEYUP:
        queue_event(INPUT_UP, translate_symbol(ev.key.keysym.sym), 0, 0, 0);
        break;
      case SDL_MOUSEMOTION:
        queue_event(INPUT_MOVE, K_MOUSE, 0, ev.motion.x, ev.motion.y);
        break;
      case SDL_MOUSEBUTTONDOWN:
        queue_event(INPUT_DOWN, K_MOUSE, ev.button.button - 1, ev.button.x, ev.button.y);
        break;
      case SDL_MOUSEBUTTONUP:
        queue_event(INPUT_UP, K_MOUSE, ev.button.button - 1, ev.button.x, ev.button.y);
        break;
      case SDL_QUIT:
        kel_log_line("SDL_QUIT");
        kel_quit();
        break;
      default:
        break;
    }
  }
}

}  // namespace

int translate_symbol(int symbol) {
  if (symbol >= SDLK_0 && symbol <= SDLK_9) return K_0 + (symbol - SDLK_0);
  if (symbol >= SDLK_F1 && symbol <= SDLK_F12) return K_F1 + (symbol - SDLK_F1);
  switch (symbol) {
    case SDLK_BACKSPACE: return K_BS;
    case SDLK_TAB: return K_TAB;
    case SDLK_RETURN: return K_ENTER;
    case SDLK_ESCAPE: return K_ESC;
    case SDLK_DELETE: return K_DEL;
    case SDLK_BACKQUOTE: return K_TILDE;
    case SDLK_UP: return K_UP;
    case SDLK_DOWN: return K_DOWN;
    case SDLK_LEFT: return K_LEFT;
    case SDLK_RIGHT: return K_RIGHT;
    case SDLK_a: return K_A;
    case SDLK_s: return K_S;
    case SDLK_d: return K_D;
    case SDLK_w: return K_W;
    case SDLK_y: return K_BUTTON1;
    case SDLK_z: return K_BUTTON1;
    case SDLK_x: return K_BUTTON2;
    case SDLK_c: return K_BUTTON3;
    case SDLK_SPACE: return K_SPACE;
    case SDLK_HOME: return K_HOME;
    // The key that carries + on most layouts gives '=' unshifted.
    case SDLK_PLUS: case SDLK_EQUALS: case SDLK_KP_PLUS: return K_PLUS;
    case SDLK_MINUS: case SDLK_KP_MINUS: return K_MINUS;
    default: return K_NONE;
  }
}

int wrapper_init() {
  start_sdl();
  joy = SDL_JoystickOpen(0);
  if (desktop_w == 0 && desktop_h == 0) {
    if (const SDL_VideoInfo* info = SDL_GetVideoInfo()) {
      desktop_w = info->current_w;
      desktop_h = info->current_h;
    }
  }
  for (MOUSE_STATE& m : mouse_state) m = MOUSE_STATE{};
  draw_set_display(wrapper_display_w, wrapper_display_h, wrapper_flip_screen);
  plat_msg_set_replier(replier_for_plat_msg);
  atlas_set_loader(wrapper_load_rgba);
  return 1;
}

int wrapper_set_graphics(int w, int h, int depth, int fullscreen) {
  kel_log("Set graphics %dx%d\n", w, h);
  display_w = w ? w : desktop_w;
  display_h = h ? h : desktop_h;
  if (!fullscreen && (w == 0 || h == 0)) {
    display_w /= 2;
    display_h /= 2;
  }
  kel_log("Desktop: %dx%d\n", desktop_w, desktop_h);
  // Without a video subsystem (no display to open) there is no mode to set.
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return -1;
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 8);
  Uint32 flags = SDL_OPENGL;
  if (fullscreen) flags |= SDL_FULLSCREEN;
  if (SDL_SetVideoMode(display_w, display_h, depth, flags) == nullptr) return -1;
  draw_reset();
  wrapper_reset_opengl_matrix(0, 0);
  fullscreen_ = fullscreen;
  return 1;
}

int wrapper_set_fullscreen(int set) {
  if ((set != 0) == (fullscreen_ != 0)) return 1;
  return wrapper_set_graphics(display_w, display_h, 0, set);
}

void wrapper_reset_opengl_matrix(float w, float h) {
  if (w == 0) w = static_cast<float>(display_w);
  if (h == 0) h = static_cast<float>(display_h);
  glLoadIdentity();
  glScalef(static_cast<float>(display_w) / w, static_cast<float>(display_h) / h, 1.0f);
}

void wrapper_handle_events() {
  const bool pressed = escape_pressed;
  escape_pressed = false;
  check_events();
  if (keys[K_ESC] || pressed) kel_quit();
}

double wrapper_get_seconds() { return static_cast<double>(clock_ms()) / 1000.0; }

namespace {

// The tick count at `frequency` when the clock reads `ms`: its low 32 bits,
// which the loop compares round their 32 bits.
uint32_t ticks_at(uint64_t ms, float frequency) {
  const double product = static_cast<double>(ms) * frequency / 1000.0;
  // Keep the conversion defined for absurd rates: out of range counts as 0.
  if (!(std::fabs(product) < 9.2e18)) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(product)));
}

// Whether tick count `a` has reached `b`, counting round the 32 bits.
bool reached(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) >= 0; }

}  // namespace

uint32_t wrapper_get_ticks(float frequency) { return ticks_at(clock_ms(), frequency); }

uint32_t wrapper_ms_until_ticks(float frequency, uint32_t ticks) {
  const uint64_t now = clock_ms();
  const uint32_t now_ticks = ticks_at(now, frequency);
  if (reached(now_ticks, ticks)) return 0;
  // A tick count that no clock reading reaches (no rate, or one out of
  // range) is never due.
  if (!(frequency > 0.0f) || !std::isfinite(frequency)) return std::numeric_limits<uint32_t>::max();
  // A first guess from the rate, then the exact millisecond, by the same
  // arithmetic as wrapper_get_ticks.
  const double guess = static_cast<double>(ticks - now_ticks) * 1000.0 / frequency;
  if (guess >= 4.0e9) return std::numeric_limits<uint32_t>::max();
  uint32_t wait = guess > 2.0 ? static_cast<uint32_t>(guess) - 1 : 1;
  for (int step = 0; step < 8 && !reached(ticks_at(now + wait, frequency), ticks); ++step) ++wait;
  while (wait > 1 && reached(ticks_at(now + wait - 1, frequency), ticks)) --wait;
  return wait;
}

int wrapper_set_logic_rate(float) { return 0; }

void wrapper_delay(double seconds) {
  const double ms = seconds * 1000.0;
  clock_delay(ms > 0 && ms < 4.0e9 ? static_cast<uint32_t>(ms) : 0);
}

void wrapper_delay_ms(uint32_t ms) { clock_delay(ms); }

void wrapper_yield() { wrapper_delay(0.001); }

void wrapper_flip_screen() {
  if (SDL_WasInit(SDL_INIT_VIDEO) != 0) SDL_GL_SwapBuffers();
}

int wrapper_display_w() { return display_w; }
int wrapper_display_h() { return display_h; }
int wrapper_desktop_w() { return desktop_w; }
int wrapper_desktop_h() { return desktop_h; }
int wrapper_fullscreen() { return fullscreen_; }

void wrapper_start_audio_stream() {}
void wrapper_stop_audio_stream() {}

void wrapper_exit() {
  wrapper_sound_exit();
  SDL_Quit();
  joy = nullptr;  // SDL_Quit closed it
}

void wrapper_set_clock(WRAPPER_CLOCK_MS ms, WRAPPER_CLOCK_DELAY delay) { kel_set_platform_clock(ms, delay); }

int replier_for_plat_msg(PLAT_MSG* msg) {
  if (msg != nullptr && msg->typeid_ == PLAT_MSG_TYPE_SCORE) {
    const PLAT_MSG_SCORE& score = msg->info.score;
    kel_log_line("Received score:");
    kel_log("'%.*s' %lld\n", static_cast<int>(sizeof score.category), score.category,
            static_cast<long long>(score.value));
  }
  return PLAT_MSG_CODE_ABORT;
}

int wrapper_tweet_start() {
  kel_log_line("TWEET START");
  return -1;
}

int wrapper_tweet_add_text(const char* text) {
  kel_log("TWEET ADD TEXT '%s'\n", or_null(text));
  return -1;
}

int wrapper_tweet_add_url(const char* url) {
  kel_log("TWEET ADD URL '%s'\n", or_null(url));
  return -1;
}

int wrapper_tweet_finish() {
  kel_log_line("TWEET FINISH");
  return -1;
}

int wrapper_open_url(int hint, const char* url) {
  kel_log("OPEN URL (hint %d): %s\n", hint, or_null(url));
  return -1;
}

int wrapper_copy_data_to_clipboard(const char* hint, const char* data, int size) {
  kel_log("Copy data %p size %d (hint '%s') to clipboard\n", static_cast<const void*>(data), size, or_null(hint));
  return -1;
}

int wrapper_copy_file_to_clipboard(const char* hint, const char* filename, WRAPPER_PROGRESS) {
  kel_log("Copy file '%s' (hint '%s') to clipboard\n", or_null(filename), or_null(hint));
  return -1;
}

void wrapper_run_thread(WRAPPER_THREAD_FUNC func, void* data) {
  if (func == nullptr) return;
  pthread_t thread;
  if (pthread_create(&thread, nullptr, func, data) == 0) pthread_detach(thread);
}

void wrapper_set_title(const char* title) {
  const char* text = title ? title : "";
  SDL_WM_SetCaption(text, text);
}

void wrapper_show_cursor(int set) { SDL_ShowCursor(set ? 1 : 0); }

int wrapper_call_ex(const char*, int, const char* const*, WRAPPER_CALL_RESULT) { return 0; }
int wrapper_call(const char*, const char*) { return 0; }
