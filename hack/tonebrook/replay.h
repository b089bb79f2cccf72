// A performance and its replay. The recording player (record.h) keeps,
// beside the sound, what it did: the edits file, a text a person can read,
// one line for each change the player took up, with the stream frame at
// which it took it up:
//
//   # tonebrook performance ...          (comments, and blank lines, anywhere)
//   device 44100 1024                    the device's rate and buffer size
//   frame 0 volume 0.5
//   frame 17408 tune 8000 compiled!a8k   the tune's rate, then its URL text
//   frame 52224 silence
//   frame 60416 pause 1                  1 paused, 0 on again
//   frame 61440 restart
//   frame 62464 inputs 1 2 3 4           x y u v
//   frame 1234944 end                    where the recording ended
//
// The device line comes first; the frames never go back, and every edit's
// frame starts a buffer. The engine is deterministic, so rendering buffers
// of the device's size at its rate, from a reset, and sending each edit
// before the buffer that starts at its frame, makes the recorded sound
// again sample for sample.
//
// Threads: main thread only, while no audio stream plays the engine (the
// engine's state is one per process).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hack/tonebrook/render.h"
#include "keltoolkit/skreelplayer/skreel_live.h"

struct COMMAND_LINE;

// One edit: what the player took up, and at which frame.
struct PERFORMANCE_EDIT {
  uint64_t frame = 0;
  SKREEL_COMMAND_KIND kind = SKREEL_TUNE;
  float value = 0.0f;             // the tune's rate, the volume, or pause 1/0
  std::array<VAL32, 4> inputs{};  // SKREEL_INPUTS
  std::string url;                // SKREEL_TUNE: the URL text
};

// A performance as its edits file holds it.
struct PERFORMANCE {
  unsigned rate = 0;           // the device's, in Hz
  unsigned buffer_frames = 0;  // frames per buffer
  std::vector<PERFORMANCE_EDIT> edits;  // in the order taken up
  bool ended = false;          // the file has its end line
  uint64_t end_frame = 0;      // and this is where the recording ended
};

// The lines of an edits file, without their newline. `url` is the URL text
// of an SKREEL_TUNE event (it must hold no line break); numbers are written
// so that they read back to the same values.
std::string performance_device_line(unsigned rate, unsigned buffer_frames);
std::string performance_edit_line(const SKREELEVENT& event, const char* url);
std::string performance_end_line(uint64_t frame);

// Reads the text of an edits file. Returns false, with "line N: what is
// wrong" in `error`, for the first line that is not as above: an unknown
// word, a missing or malformed number, a rate or buffer size the player
// does not take, a frame that goes back or does not start a buffer, more
// edits at one frame than the player takes up at once, a line after the end.
bool performance_parse(std::string_view text, PERFORMANCE* out, std::string* error);

// Renders `frames` frames of `performance` into `sink`, in pieces of one
// buffer, from the state a freshly started player has (the engine's output
// filter cleared, then skreel_reset): before each buffer it sends the edits
// of the frame the buffer starts at, with the engine's commands, and runs
// the bytebeat callback once a tune was sent, as the mixing hook does. Past
// the last edit the player plays on. Returns the frames handed to the sink:
// `frames`, or fewer when the sink stopped. Leaves the callback uninstalled.
uint64_t replay_render(const PERFORMANCE& performance, uint64_t frames, const RENDER_SINK& sink);

// `tonebrook --render OUT.wav --replay EDITS` (and --picture): reads the
// edits file named in `line` and makes `job` render it: at the recorded
// rate, as long as --seconds says, else up to the end line, else (a
// recording cut short) as long as the recording beside the edits file
// holds, which is the name without ".edits" (REC.wav for REC.wav.edits,
// REC.wav.part for REC.wav.edits.part). Returns 0, or 1 with a message on
// standard error when the file cannot be read, is malformed, or its length
// cannot be told.
int replay_prepare(const COMMAND_LINE& line, RENDER_JOB* job);
