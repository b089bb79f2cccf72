#include "hack/tonebrook/scope_window.h"

#include <memory>
#include <string>

#include "hack/tonebrook/scope.h"
#include "hack/tonebrook/scope_draw.h"
#include "hack/tonebrook/scope_feed.h"

namespace {

struct Facts {
  std::string file;
  double rate = 8000.0;
  int instructions = 0;
  std::string message;
  bool error = false;
};

Facts facts;
std::unique_ptr<ScopeModel> model;
ScopeView view;

void apply_facts() {
  if (!model) return;
  model->set_file(facts.file);
  model->set_tune_rate(facts.rate);
  model->set_instructions(facts.instructions);
  model->set_message(facts.message, facts.error);
}

}  // namespace

int scope_window_open(unsigned device_rate) {
  model.reset();
  if (!view.open()) return 0;
  model = std::make_unique<ScopeModel>(device_rate, scope_sizes());
  apply_facts();
  scope_feed_start();
  return 1;
}

void scope_window_render() {
  if (!model) return;
  scope_feed_drain(*model);
  model->update();
  view.draw(*model);
}

void scope_window_close() { model.reset(); }

void scope_window_set_file(const char* name) {
  facts.file = name ? name : "";
  apply_facts();
}

void scope_window_set_tune_rate(double rate) {
  if (rate > 0) facts.rate = rate;
  apply_facts();
}

void scope_window_set_instructions(int count) {
  facts.instructions = count;
  apply_facts();
}

void scope_window_set_message(const char* text, int is_error) {
  facts.message = text ? text : "";
  facts.error = is_error != 0;
  apply_facts();
}
