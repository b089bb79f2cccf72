// player: the state of the bytebeat player, inside the engine. The audio
// callback (skreel.cpp) plays it; the live control (skreel_live.cpp)
// changes it at the start of a buffer. Not for callers of the engine: they
// use skreel.h and skreel_live.h.
//
// Threads: the audio thread owns all of it while a stream runs the
// callback; skreel_reset and skreel_reset_filter write it only while none
// does.
#pragma once

#include <atomic>
#include <cstdint>

#include "keltoolkit/skreelplayer/machine/machine.h"
#include "keltoolkit/skreelplayer/skreel_model.h"

namespace skreel_player {

struct Player {
  SKREELSTATE skreel{};     // program, stack, memory, inputs, `t`, volume, rate
  SKREELPROGRAM prepared{};  // the program, ready to run
  uint64_t phase = 0;       // of `t`, in billionths of a step, from buffer to buffer
  // The output filter, kept from buffer to buffer and never reset by a new
  // tune.
  int16_t val16 = 0;
  int16_t lastval16 = 0;
  int16_t otm1 = 0;
  // `running`: `t` advances and the program runs; otherwise `t` stands still
  // and the held output fades out. `gain` is the share of the held output
  // that is heard: 1 but for a fade, when it moves toward 1 (running) or 0
  // (not) by one step a frame.
  bool running = true;
  float gain = 1.0f;
};

extern Player player;

// True while the player is not running and its fade is over: it adds
// nothing. Written by the callback, read by anyone (skreel_output_silent).
extern std::atomic<bool> silent;

// Decodes `url` into the program and prepares it (the decoder's lines go to
// the log, deferred on the audio thread). A text that does not decode leaves
// the program as the decoder leaves it. Returns the decoder's result.
int adopt(const char* url) noexcept;

// Applies the live commands that wait (skreel_live.h), in order, and sets
// `running` from them. Audio thread, called by the callback at the start of
// every buffer, before it plays it.
void apply_commands() noexcept;

// Clears the live control: no command waiting, no event untaken, not paused
// or silenced. With skreel_reset.
void reset_commands() noexcept;

// The value tap (skreel_set_value_tap), or null.
using VALUE_TAP = void (*)(const VAL32* t, const VAL8* value, int n) noexcept;
VALUE_TAP value_tap() noexcept;

}  // namespace skreel_player
