// tonebrook: a live-coding player for bytebeat tunes. It watches a text
// file of postfix program text and plays the tune anew on every save.
//
// Threads: main thread only (the runtime's logic updates).
#pragma once

#include <cstdint>

#include "framework/core/state.h"

// What the watch remembers of the file as last looked at. A file counts as
// changed when any of its identity (device and inode: a file renamed over
// the path), modification time, status change time (a time copied with
// `cp -p`, `rsync -t` or `touch -r` still moves it) or size differ.
struct FILE_STAMP {
  uint64_t device;  // the file system the file is on
  uint64_t inode;  // and the file on it
  uint32_t seconds;  // modification time, whole seconds since the epoch
  uint32_t nanoseconds;  // and its fraction
  uint32_t change_seconds;  // status change time
  uint32_t change_nanoseconds;
  int64_t size;  // in bytes
  int seen;  // 0 until a file has been found at the path
  int missing;  // errno of the last look that found no file, 0 otherwise
  int loaded;  // 1 once a text has been read from the file
  int held_empty;  // the last read found the file empty and held it back
};

extern const char* music_file;
extern STATE main_state;

// Chooses SDL's dummy video driver unless the user has picked one.
void tonebrook_prefer_dummy_video();
// Reads the live player's command line with the parser of options.h
// (FILE and RATE; a command line that tonebrook_early_exit would have
// refused is said on standard error and read as empty), sets the logic
// rate, opens the audio stream at RATE (a RATE the player does not take
// gets a message on standard error and the default rate), takes up the
// options (--keep, --volume; --instant starts the kernel's watch, watch.h;
// --quiet makes the log quiet and adds the line "playing '<file>': <n>
// instructions, rate <r>" for each tune taken up; --scope opens the window,
// player_window.h; --record starts the recording first, record.h) and makes
// main_state current. `music_file` then points into `argv`, which must
// outlive the player; null without FILE. Returns 1, or -1 after a message
// on standard error when the recording cannot start (the stream is not
// opened then).
int app_init(int argc, char** argv);
void setup_audio(unsigned rate);
void update();
// Looks at the file when the watch says so (watch_due) and hands a changed
// tune to the player.
void game_reload_changed_music();

// Reads `file` into `buf` (at most len - 1 bytes, NUL-terminated) when its
// stamp differs from `last`; returns `buf` then, null otherwise. Updates
// `last`. Only a regular file is read, opened without blocking: anything
// else at the path (a FIFO, a directory, a device) gets one message naming
// it and is looked at again when it changes. A path where no file is found
// gets one message "cannot find '<path>': <reason>" each time the reason
// changes. A file longer than len - 1 bytes is read in part, with a
// message. A file found empty after a change, when a text was loaded
// before, is held back until the next look confirms it (an editor that
// truncates and then writes): only then is the empty text returned.
const char* load_if_changed(const char* file, FILE_STAMP* last, char* buf, unsigned len);
