// Keyboard and pointer input: a ring of events filled by the platform and
// drained once per logic update into tables that application code reads.
//
// Threads: main thread only; never from the mixing hook.
#pragma once

#include <cstdint>

enum {
  INPUT_DOWN = 1,
  INPUT_MOVE = 2,
  INPUT_UP = 4,
};

enum {
  K_NONE, K_MOUSE, K_UP, K_DOWN, K_LEFT, K_RIGHT, K_BUTTON1, K_BUTTON2, K_BUTTON3,
  K_ENTER, K_TAB, K_ESC, K_BS, K_DEL,
  K_0, K_1, K_2, K_3, K_4, K_5, K_6, K_7, K_8, K_9,
  K_AMPERSAND, K_ASTERISK, K_SLASH, K_PLUS, K_MINUS, K_CARET, K_TILDE,
  K_F1, K_F2, K_F3, K_F4, K_F5, K_F6, K_F7, K_F8, K_F9, K_F10, K_F11, K_F12,
  K_W, K_A, K_S, K_D,
  K_SPACE, K_HOME,
  K_COUNT
};

constexpr int INPUT_EVENT_RING = 256;
constexpr int MOUSE_STATES = 20;

struct INPUT_EVENT {
  int type;  // INPUT_DOWN, INPUT_MOVE or INPUT_UP
  int keyid;  // K_ code; K_MOUSE for pointer events
  int id;  // pointer button index; 0 for keys and moves
  float x, y;  // pointer position in window pixels
  uint32_t timestamp;  // kel_ticks when queued
};

struct MOUSE_STATE {
  int x, y;
  int state;  // OR of the event types seen this logic update
  int down;  // 1 while the button is held
};

extern unsigned char keys[K_COUNT];
extern unsigned char keyevent[K_COUNT];
extern MOUSE_STATE mouse_state[MOUSE_STATES];

using INPUT_CALLBACK = void (*)(INPUT_EVENT* event);

// Logs "INPUT INIT", clears the key, key-event and pointer tables and
// empties the ring; the callback stays.
void input_init();
// Copies *e into the ring, stamped with kel_ticks. The ring has no full
// check: 256 undrained events read as none.
void input_add_event(INPUT_EVENT* e);
// Called with each applied event (a copy); null removes it.
void input_set_callback(INPUT_CALLBACK callback);
// Applies the queued events to the tables (and the callback); returns how
// many were applied. Events with a key outside the table are dropped.
int input_update_events();
// Forgets this tick's key events and pointer states; held keys, buttons and
// positions stay.
void input_clear_events();
// input_clear_events, then input_init.
void input_reset();
