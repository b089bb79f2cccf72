// skreel_live: playing live. The main thread sends the player commands (a
// new tune with its rate, silence, the volume, pause, a restart, the
// inputs); the audio side applies every waiting command, in the order sent,
// at the start of its next buffer, and answers each with an event that says
// at which frame of the stream it took effect. So every change to what is
// heard falls on a buffer boundary, is known to the frame, and can be
// played again exactly: an offline rendering that sends the same commands
// before the buffers that start at those frames makes the same sound.
//
// Commands travel through a fixed ring of the engine's own and events
// through another, each with one writer and one reader: the sender owns a
// slot until it publishes it, the audio side from then until it gives it
// back. Nothing here allocates, locks or waits; a full ring refuses.
//
// Silence, a pause and a quit do not cut the sound: the held output fades
// to 0 over SKREEL_FADE_SECONDS, and comes back the same way when a tune
// plays again. The hand-over by text pointer (skreel_play_url) goes on
// working beside this; a program uses one or the other.
//
// Threads: the skreel_send_* functions and skreel_take_event on the main
// thread (one sender, one taker); the value tap runs on the audio thread.
#pragma once

#include <cstdint>

#include "keltoolkit/skreelplayer/skreel_model.h"

// How long a fade out or in lasts.
inline constexpr double SKREEL_FADE_SECONDS = 0.005;

// The most commands that may be sent and not yet answered by an event that
// was taken. Beyond that the senders refuse (return 0) until events are
// taken.
inline constexpr int SKREEL_COMMANDS_IN_FLIGHT = 16;

enum SKREEL_COMMAND_KIND : uint8_t {
  SKREEL_TUNE,     // a new program and its rate; the player runs (after a silence, it fades in)
  SKREEL_SILENCE,  // `t` stands still and the output fades out until the next tune
  SKREEL_VOLUME,   // the gain on the filtered output
  SKREEL_PAUSE,    // 1: `t` stands still and the output fades out; 0: on again
  SKREEL_RESTART,  // `t` = 0 and its phase 0, the stack and the memory cleared
  SKREEL_INPUTS,   // the first four inputs (x, y, u, v)
};

// What the audio side did with one command.
struct SKREELEVENT {
  uint32_t seq;          // the command's number, as its sender returned it
  SKREEL_COMMAND_KIND kind;
  uint64_t frame;        // kel_stream_frame() of the buffer that applied it
  int count;             // SKREEL_TUNE: the instructions decoded (the decoder's result)
  float value;           // SKREEL_TUNE: the rate; SKREEL_VOLUME: the volume; SKREEL_PAUSE: 1 or 0
  VAL32 inputs[4];       // SKREEL_INPUTS: the inputs
};

// Each sender queues one command and returns its number (1, 2, 3, ... in
// the order sent), or 0 when SKREEL_COMMANDS_IN_FLIGHT commands are
// unanswered (nothing is queued then: send it again after taking events).
//
// skreel_send_tune copies `url` (URL text, at most 1023 characters; a longer
// text is refused with 0 as well) with `rate`, the steps of `t` a second
// that the tune runs at from the buffer that takes it up (1 to 1e6; others
// are refused with 0). It also installs the bytebeat callback, so that the
// stream starts to call it; the other commands wait until a tune was sent.
uint32_t skreel_send_tune(const char* url, float rate);
uint32_t skreel_send_silence(void);
uint32_t skreel_send_volume(float volume);
uint32_t skreel_send_pause(int paused);
uint32_t skreel_send_restart(void);
uint32_t skreel_send_inputs(const VAL32 inputs[4]);

// Any of the commands above by its kind, with what it carries: `value` (the
// tune's rate, the volume, or the pause as 1 or 0), `inputs` (four words,
// for SKREEL_INPUTS) and `url` (for SKREEL_TUNE); what a kind does not use
// is not read. For a sender that keeps its commands as data (a queue of
// them, an edits file). Returns what the sender of that kind returns.
uint32_t skreel_send(SKREEL_COMMAND_KIND kind, float value, const VAL32* inputs, const char* url);

// Takes the oldest event that the audio side has left. Returns 1 with it in
// `event`, 0 when there is none. Events come in the order of the commands.
int skreel_take_event(SKREELEVENT* event);

// True when the player adds nothing but silence from now on until a tune or
// a resume is applied: a silence or pause was applied and its fade is over.
// Any thread (a quit sends silence and waits for this).
bool skreel_output_silent(void);

// The value tap: `tap` is called on the audio thread for every run of
// evaluations with the values of `t` and the 8-bit results (before the
// output filter), `n` of each. It must return at once: no allocation, lock,
// wait or output. Null (the default) calls nothing. Main thread; the
// callback picks a change up at its next run.
using SKREEL_VALUE_TAP = void (*)(const VAL32* t, const VAL8* value, int n) noexcept;
void skreel_set_value_tap(SKREEL_VALUE_TAP tap);
