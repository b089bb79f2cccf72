// Application states: four callbacks, any of them null, and a small state
// machine that keeps the current and the previous state.
#pragma once

struct STATE {
  void (*enter)();
  void (*update)();
  void (*render)();
  void (*leave)();
};

// Makes `state` current: calls the current state's leave, then the new
// state's enter. Returns the state that is current afterwards (an enter may
// switch again). A null `state` changes nothing and returns the current one.
STATE* state_switch(STATE* state);
// Makes `state` current without calling any callback; `last` is kept.
// A null `state` is ignored.
void state_set(STATE* state);
STATE* state_current();
STATE* state_last();
void state_update();
void state_render();
