// What the process is handed when it starts: its standard descriptors and
// the signals that end it.
//
// Threads: the set-up functions run on the main thread, at start-up, before
// any other thread exists; tonebrook_caught_signal may be read by any
// thread. The signal handler does only what is safe in a handler: atomic
// stores, a read of the monotonic clock, and _exit.
#pragma once

// Opens every one of descriptors 0 to 2 that is closed on /dev/null, so
// that no file the program opens later takes its number (a WAV file on
// descriptor 2 would receive the log). Standard input is opened for
// writing only and standard output and error for reading only: reading or
// writing them fails with EBADF, as it did while they were closed, so a
// result written to a closed standard output is still a failure. Call it
// first thing in main. Exits with status 1 when /dev/null cannot be
// opened.
void tonebrook_open_standard_descriptors();

// How a caught signal ends the program.
enum class SIGNAL_USE {
  // The live player: the runtime's quit request (kel_quit), which ends the
  // loop and shuts down cleanly. Interrupted system calls are restarted.
  kPlayer,
  // A tool: the request is read with tonebrook_caught_signal, and a system
  // call that waits (opening a FIFO, writing to a pipe) is interrupted
  // (EINTR), so that the tool stops and removes what it wrote.
  kTool,
};

// Catches SIGINT, SIGTERM, SIGHUP and SIGPIPE: the first of them asks the
// program to end (kel_quit; tonebrook_caught_signal answers it). Copies
// that follow, such as one signal sent both to the process and to its
// group, change nothing, except an interrupt (SIGINT) that comes at least
// half a second after the first signal: the user insists while the
// shut-down hangs, and the process ends at once (_exit, status 130). A
// signal that the parent set to be ignored (a background job of a script,
// nohup) stays ignored. SIGXFSZ is ignored, so that a write past a file
// size limit fails with EFBIG instead of ending the process. Call it once,
// from the main thread, before other threads start.
void tonebrook_catch_signals(SIGNAL_USE use);

// The first signal caught since tonebrook_catch_signals, 0 while none was.
int tonebrook_caught_signal();
