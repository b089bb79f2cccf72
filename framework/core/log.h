// The runtime's one logging helper.
//
// Every diagnostic line of the runtime and its modules goes to standard
// output (or the stream kel_log_set_stream chose) behind the prefix
// "[kel <seconds>s (<ticks>)] ": the runtime clock (kel_clock_seconds) with
// two decimals, then kel_ticks. The few lines that a module prints bare (the
// sample loader's messages, the synthesiser's beat line, the hex dump) go to
// the same stream through kel_log_bare. Each line is written with a single
// write, so lines of different threads never interleave; kel_log_init makes
// standard output line-buffered so that a pipe or a file sees each line as
// soon as it is complete.
//
// Threads: any thread may log. A thread that has marked itself deferred
// (the audio thread, through KelLogDeferred) never touches standard output:
// its lines are formatted at once, with the prefix values of that moment,
// into a fixed ring, and written by kel_log_flush_deferred, which the main
// loop calls at every pass. Logging on a deferred thread allocates nothing,
// takes no lock and never blocks; a full ring counts the lines it drops and
// the next flush reports the count. Only one thread at a time may be
// deferred.
#pragma once

#include <cstdarg>
#include <cstdio>

// Makes standard output line-buffered. Call it once at start-up, before
// anything is written to standard output (kel_init calls it first thing);
// a later call changes nothing. Main thread.
void kel_log_init();

// Points the log at `stream` (null: standard output, where it starts) and
// returns the stream it wrote to before. Everything the log writes goes
// there from the next line on, deferred lines included, and so does what
// writes beside the log through kel_log_stream (the encoder's echo) or
// kel_log_bare (the loader's messages, the beat line, the hex dump). A
// program whose standard output carries a result of its own points the
// log at standard error. Main thread, while no other thread logs.
std::FILE* kel_log_set_stream(std::FILE* stream);
// The stream the log writes to. Any thread.
std::FILE* kel_log_stream();

// Prefix, then the formatted text exactly as given (the caller ends it with
// "\n" when it wants a line).
void kel_log(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void kel_vlog(const char* fmt, va_list args) __attribute__((format(printf, 1, 0)));

// Prefix, the formatted text and a newline.
void kel_log_line(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The formatted text exactly as given, without the prefix: for the lines
// that a module prints bare. Written like a logged line (queued on a
// deferred thread, after the queued lines otherwise).
void kel_log_bare(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Prefix and the trace line "line <line>: <what>".
void kel_log_trace(int line, const char* what);

// The quiet switch, for a user who wants to see only what concerns them.
// Every line is informational unless it is written as a notice: errors,
// warnings, and what a user must see. While the log is quiet the
// informational lines (all that kel_log, kel_vlog, kel_log_line,
// kel_log_bare and kel_log_trace write) are left out, on every thread (a
// deferred thread's before they are queued); notices go out as ever. Code
// that writes beside the log through kel_log_stream (the encoder's echo)
// leaves out its output while kel_log_quiet() is non-zero. The switch is one
// atomic word: any thread may read it, the audio thread included. Off at
// start.
void kel_log_set_quiet(int quiet);
int kel_log_quiet();

// A notice: prefix, then the formatted text exactly as given; written
// whether or not the log is quiet.
void kel_log_notice(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Marks the calling thread deferred (non-zero) or not (0); returns what it
// was before.
int kel_log_set_deferred(int deferred);

// Writes the lines that deferred threads have queued, oldest first, then
// one line with the number of lines dropped since the last flush, if any.
// Returns the number of queued lines written. Does nothing (and returns 0)
// on a deferred thread, or while another thread is flushing.
int kel_log_flush_deferred();

// Marks the calling thread deferred for the life of the object.
class KelLogDeferred {
 public:
  KelLogDeferred() : was_(kel_log_set_deferred(1)) {}
  ~KelLogDeferred() { kel_log_set_deferred(was_); }
  KelLogDeferred(const KelLogDeferred&) = delete;
  KelLogDeferred& operator=(const KelLogDeferred&) = delete;

 private:
  int was_;
};
