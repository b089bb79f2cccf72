#include "framework/core/state.h"

namespace {

void nothing() {}

STATE my_state = {nothing, nothing, nothing, nothing};
STATE* current = &my_state;
STATE* last = nullptr;

}  // namespace

STATE* state_switch(STATE* state) {
  if (state == nullptr) return current;
  if (current->leave) current->leave();
  if (state != current) last = current;
  current = state;
  if (state->enter) {
    state->enter();
    return current;
  }
  return state;
}

void state_set(STATE* state) {
  // A null state would leave the loop nothing to call; keep the current one.
  if (state != nullptr) current = state;
}

STATE* state_current() { return current; }

STATE* state_last() { return last; }

void state_update() {
  if (current->update) current->update();
}

void state_render() {
  if (current->render) current->render();
}
