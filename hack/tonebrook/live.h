// live: the live player's side of the engine's commands (skreel_live.h).
// It sends what the player wants heard, keeps what the engine's ring cannot
// take yet (a stream that has not started, or a sound device that never
// opened, takes nothing) and sends it as soon as there is room, newest wish
// first where a later one makes an earlier one moot; and it takes the
// engine's answers and hands each to the listeners, with the URL text of
// the tune it took up.
//
// Threads: main thread only (the logic updates).
#pragma once

#include <cstdint>

#include "keltoolkit/skreelplayer/skreel_live.h"

// One answer of the engine, as the listeners get it. `url` is the URL text
// of an SKREEL_TUNE (valid during the call), null for every other kind.
struct LIVE_EVENT {
  SKREELEVENT event;
  const char* url;
};
using LIVE_LISTENER = void (*)(const LIVE_EVENT& event);

// What the player wants heard. Each is sent at once when the engine's ring
// has room and waits otherwise (a later wish of the same kind replaces a
// waiting one: a tune or a silence replaces a waiting tune or silence).
void live_play(const char* url, float rate);  // copies `url`
void live_silence();
void live_volume(float volume);
void live_pause(int paused);
void live_restart();
void live_inputs(const VAL32 inputs[4]);

// Sends what waits, then takes the engine's answers and hands each, in
// order, to every listener. Once per logic update.
void live_update();

// Adds a listener (at most 8; null or a ninth is ignored). Listeners stay
// for the run.
void live_listen(LIVE_LISTENER listener);

// True once a tune was sent: the stream calls the player.
bool live_started();

// For the quit: silences the player and waits until its output has faded
// out, at most `max_ms` milliseconds (a stream that does not run never
// fades); takes the last answers. Does nothing when no tune was sent.
void live_fade_out(unsigned max_ms);

// Forgets everything: nothing waits, no listener. For tests.
void live_reset();
