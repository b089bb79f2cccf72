#include "framework/core/input.h"

#include <cstring>

#include "framework/core/kel_shared.h"
#include "framework/core/log.h"

unsigned char keys[K_COUNT];
unsigned char keyevent[K_COUNT];
MOUSE_STATE mouse_state[MOUSE_STATES];

namespace {

INPUT_EVENT events[INPUT_EVENT_RING];
int write_pos = 0;
int read_pos = 0;
INPUT_CALLBACK input_callback_ = nullptr;

int next_pos(int pos) { return (pos + 1) % INPUT_EVENT_RING; }

void set_mouse_state(int button, int state) {
  if (button < 0 || button >= MOUSE_STATES) return;
  MOUSE_STATE& m = mouse_state[button];
  if (state == m.state) return;
  if (state == 0)
    m.state = 0;
  else
    m.state |= state;
}

INPUT_EVENT input_read_event() {
  INPUT_EVENT e = events[read_pos];
  read_pos = next_pos(read_pos);
  return e;
}

void apply_pointer_event(const INPUT_EVENT& e) {
  if (e.id < 0 || e.id >= MOUSE_STATES) return;
  MOUSE_STATE& m = mouse_state[e.id];
  m.x = static_cast<int>(e.x);
  m.y = static_cast<int>(e.y);
  if (e.type & INPUT_DOWN) {
    m.down = 1;
    set_mouse_state(e.id, e.type);
  } else if (e.type == INPUT_UP) {
    m.down = 0;
    set_mouse_state(e.id, e.type);
  } else if (m.state == 0) {
    set_mouse_state(e.id, e.type);
  }
}

void apply_key_event(const INPUT_EVENT& e) {
  if (e.type == INPUT_UP)
    keys[e.keyid] = 0;
  else if (e.type & INPUT_DOWN)
    keys[e.keyid] = 1;
  keyevent[e.keyid] = static_cast<unsigned char>(e.type);
}

}  // namespace

void input_init() {
  kel_log_line("INPUT INIT");
  std::memset(keys, 0, sizeof keys);
  std::memset(keyevent, 0, sizeof keyevent);
  std::memset(mouse_state, 0, sizeof mouse_state);
  write_pos = read_pos = 0;
}

void input_add_event(INPUT_EVENT* e) {
  if (e == nullptr) return;
  events[write_pos] = *e;
  events[write_pos].timestamp = kel_ticks.load();
  write_pos = next_pos(write_pos);
}

void input_set_callback(INPUT_CALLBACK callback) { input_callback_ = callback; }

int input_update_events() {
  int count = 0;
  while (read_pos != write_pos) {
    INPUT_EVENT e = input_read_event();
    if (e.keyid < 0 || e.keyid >= K_COUNT) continue;
    ++count;
    if (e.keyid == K_MOUSE)
      apply_pointer_event(e);
    else
      apply_key_event(e);
    if (input_callback_) input_callback_(&e);
  }
  return count;
}

void input_clear_events() {
  std::memset(keyevent, 0, sizeof keyevent);
  for (int i = 0; i < MOUSE_STATES; ++i)
    if (mouse_state[i].state != 0) set_mouse_state(i, 0);
}

void input_reset() {
  input_clear_events();
  input_init();
}
