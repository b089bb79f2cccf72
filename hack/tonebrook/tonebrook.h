// tonebrook: a live-coding player for bytebeat tunes. It watches a text
// file of postfix program text and plays the tune anew on every save.
//
// Threads: main thread only (the runtime's logic updates).
#pragma once

#include <cstdint>

#include "framework/core/state.h"

// What the watch remembers of the file as last looked at.
struct FILE_STAMP {
  uint32_t seconds;  // modification time, whole seconds since the epoch
  uint32_t nanoseconds;  // and its fraction
  int64_t size;  // in bytes
  uint32_t change_seconds;  // status change time, looked at after a failed open
  uint32_t change_nanoseconds;
  int open_failed;  // the file could not be opened at the last look
  int seen;  // 0 until the file has been looked at once
};

extern const char* music_file;
extern STATE main_state;

// Handles the options that end the program before the runtime starts
// (-h, --help, --version, and the tools of options.h: --render, --picture,
// --url, --text). Returns the exit status, or -1 to go on.
int tonebrook_early_exit(int argc, char** argv);
// Chooses SDL's dummy video driver unless the user has picked one.
void tonebrook_prefer_dummy_video();

int app_init(int argc, char** argv);
void setup_audio(unsigned rate);
void update();
void game_reload_changed_music();

// Reads `file` into `buf` (at most len - 1 bytes, NUL-terminated) when its
// modification time or size differ from `last`; returns `buf` then, null
// otherwise.
const char* load_if_changed(const char* file, FILE_STAMP* last, char* buf, unsigned len);
