// Application states: four callbacks, any of them null, and a small state
// machine that keeps the current and the previous state.
//
// Threads: main thread only; never from the mixing hook.
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
// The current state (a built-in empty state before any is set).
STATE* state_current();
// The state that was current before the last switch to another; null before.
STATE* state_last();
// Calls the current state's update, if it has one.
void state_update();
// Calls the current state's render, if it has one.
void state_render();
