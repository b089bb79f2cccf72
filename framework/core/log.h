// The runtime's one logging helper.
//
// Every diagnostic line of the runtime and its modules goes to standard
// output (or the stream kel_log_set_stream chose) behind the prefix
// "[kel <seconds>s (<ticks>)] ": the runtime clock (kel_clock_seconds) with
// two decimals, then kel_ticks. The few lines that a module prints bare (the
// sample loader's messages, the synthesiser's beat line, the hex dump) go to
// the same stream through kel_log_bare, and the encoder's echo through
// kel_log_write. Each line is written with a single write, so lines of
// different threads never interleave; kel_log_init makes standard output
// line-buffered so that a pipe or a file sees each line as soon as it is
// complete.
//
// Until kel_log_start_writer, a line is written by the thread that logs it,
// which waits while the output does not take it. A program whose loop must
// never wait for its output (a pipe nobody reads, a stopped terminal)
// starts the log's writer: from then on lines are queued in a bounded
// buffer (kKelLogQueueBytes) and written by a thread of the log's own,
// which alone waits for the output. A line that does not fit in the queue
// is dropped and counted; once the output takes bytes again, a line where
// the dropped ones would have been says how many they were ("<n> log lines
// dropped: the output did not take them"). An output that fails (a closed pipe, a
// descriptor that is not open) is given up: what follows is discarded.
//
// Threads: any thread may log. A thread that has marked itself deferred
// (the audio thread, through KelLogDeferred) never touches standard output:
// its lines are formatted at once, with the prefix values of that moment,
// into a fixed ring, and written by kel_log_flush_deferred, which the main
// loop calls at every pass. Logging on a deferred thread allocates nothing,
// takes no lock and never blocks; a full ring counts the lines it drops and
// the next flush reports the count. Only one thread at a time may be
// deferred. With the writer started, logging on any other thread takes the
// queue's lock for the time of a copy and never waits for the output.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>

// The bytes of lines the writer holds at most while the output does not
// take them.
inline constexpr std::size_t kKelLogQueueBytes = std::size_t{256} * 1024;

// Makes standard output line-buffered. Call it once at start-up, before
// anything is written to standard output (kel_init calls it first thing);
// a later call changes nothing. Main thread.
void kel_log_init();

// Points the log at `stream` (null: standard output, where it starts) and
// returns the stream it wrote to before. Everything the log writes goes
// there from the next line on, deferred lines included, and so does what
// writes beside the log through kel_log_write (the encoder's echo) or
// kel_log_bare (the loader's messages, the beat line, the hex dump). A
// program whose standard output carries a result of its own points the
// log at standard error. Main thread, while no other thread logs and the
// writer does not run.
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

// `length` bytes exactly as given (NUL bytes included), without the prefix
// and without writing the deferred threads' lines first: for an echo that
// builds its lines piece by piece. Not on a deferred thread (there the
// bytes are dropped and counted).
void kel_log_write(const char* bytes, std::size_t length);

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

// Starts the writer on the stream the log writes to (after flushing what
// the stream holds): from now on lines are queued and written by the log's
// own thread. Returns true when it runs (also when it already ran), false
// when the stream has no descriptor or the thread cannot start (the log
// then goes on writing as before). Main thread.
bool kel_log_start_writer();

// Waits for the writer to write out what it holds, for as long as the
// output keeps taking it: it gives up once the output has taken nothing
// for `stall_seconds`, or after `most_seconds` in all. Returns true when
// everything was written: the writer has stopped and lines are written by
// the thread that logs them again. Returns false when lines are still
// waiting: the writer goes on (it may write them later, while the process
// lives) and lines are still queued; a later call may try again. Returns
// true at once when no writer runs. Main thread.
bool kel_log_stop_writer(double stall_seconds, double most_seconds);

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
