#include "hack/tonebrook/live.h"

#include <algorithm>
#include <array>
#include <deque>
#include <string>

#include "framework/core/kel.h"
#include "framework/platforms/sdl/wrapper.h"

namespace {

// A wish that the engine's ring has not taken yet.
struct Wish {
  SKREEL_COMMAND_KIND kind;
  float value = 0.0f;
  std::array<VAL32, 4> inputs{};
  std::string url{};
};

Wish wish_of(SKREEL_COMMAND_KIND kind, float value = 0.0f) { return Wish{kind, value, {}, {}}; }

std::deque<Wish> waiting;
// The URL texts of the tunes sent and not yet answered, oldest first, with
// their numbers.
std::deque<std::pair<uint32_t, std::string>> sent_tunes;
std::array<LIVE_LISTENER, 8> listeners{};
bool started = false;

// A tune and a silence both say what plays: the later makes the earlier moot.
bool same_wish(SKREEL_COMMAND_KIND a, SKREEL_COMMAND_KIND b) {
  const auto plays = [](SKREEL_COMMAND_KIND k) { return k == SKREEL_TUNE || k == SKREEL_SILENCE; };
  return a == b || (plays(a) && plays(b));
}

uint32_t send(const Wish& w) {
  const uint32_t seq = skreel_send(w.kind, w.value, w.inputs.data(), w.url.c_str());
  if (seq != 0 && w.kind == SKREEL_TUNE) {
    sent_tunes.emplace_back(seq, w.url);
    started = true;
  }
  return seq;
}

void send_waiting() {
  while (!waiting.empty() && send(waiting.front()) != 0) waiting.pop_front();
}

void wish(Wish w) {
  std::erase_if(waiting, [&](const Wish& old) { return same_wish(old.kind, w.kind); });
  waiting.push_back(std::move(w));
  send_waiting();
}

void take_events() {
  for (SKREELEVENT e; skreel_take_event(&e);) {
    LIVE_EVENT event{e, nullptr};
    while (!sent_tunes.empty() && sent_tunes.front().first < e.seq) sent_tunes.pop_front();
    if (e.kind == SKREEL_TUNE && !sent_tunes.empty() && sent_tunes.front().first == e.seq)
      event.url = sent_tunes.front().second.c_str();
    for (LIVE_LISTENER listener : listeners)
      if (listener) listener(event);
  }
}

}  // namespace

void live_play(const char* url, float rate) {
  if (!url) return;
  wish({SKREEL_TUNE, rate, {}, url});
}

void live_silence() { wish(wish_of(SKREEL_SILENCE)); }

void live_volume(float volume) { wish(wish_of(SKREEL_VOLUME, volume)); }

void live_pause(int paused) { wish(wish_of(SKREEL_PAUSE, paused ? 1.0f : 0.0f)); }

void live_restart() { wish(wish_of(SKREEL_RESTART)); }

void live_inputs(const VAL32 inputs[4]) {
  if (!inputs) return;
  Wish w = wish_of(SKREEL_INPUTS);
  std::copy_n(inputs, 4, w.inputs.begin());
  wish(std::move(w));
}

void live_update() {
  send_waiting();
  take_events();
  send_waiting();
}

void live_listen(LIVE_LISTENER listener) {
  if (!listener) return;
  for (LIVE_LISTENER& slot : listeners) {
    if (!slot) {
      slot = listener;
      return;
    }
  }
}

bool live_started() { return started; }

void live_fade_out(unsigned max_ms) {
  if (!started) return;
  live_silence();
  // The fade itself lasts a few milliseconds; the wait is for the audio
  // thread to reach its next buffer, bounded for a stream that never does.
  for (unsigned waited = 0; waited < max_ms; waited += 2) {
    live_update();
    if (waiting.empty() && skreel_output_silent()) break;
    wrapper_delay_ms(2);
  }
  live_update();
}

void live_reset() {
  waiting.clear();
  sent_tunes.clear();
  listeners.fill(nullptr);
  started = false;
}
