#include "framework/core/log.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "framework/core/kel_shared.h"

namespace {

// Long enough for the longest line the runtime writes (a 1023-character URL
// text with its message); longer lines are still written whole, in pieces.
constexpr std::size_t kLineCapacity = 2048;

int format_prefix(char* out, std::size_t size) {
  return std::snprintf(out, size, "[kel %.2fs (%u)] ", kel_clock_seconds(), kel_ticks.load());
}

// How a line is dressed: behind the prefix or bare, with a newline added or
// ended by its text.
// A notice is written even while the log is quiet.
struct LineForm {
  bool prefix;
  bool add_newline;
  bool notice = false;
};
constexpr LineForm kLogged{true, false};
constexpr LineForm kLoggedLine{true, true};
constexpr LineForm kBare{false, false};
constexpr LineForm kNotice{true, false, true};

// Formats the prefix (when the form has one) and the text into `out`;
// returns the length that the whole line needs (it fits when below `size`),
// or -1 on a formatting error.
int format_line(char* out, std::size_t size, const char* fmt, va_list args, LineForm form) {
  int used = 0;
  if (form.prefix) {
    used = format_prefix(out, size);
  } else if (size > 0) {
    out[0] = '\0';
  }
  if (used < 0) return -1;
  if (static_cast<std::size_t>(used) >= size) used = static_cast<int>(size - 1);
  va_list copy;
  va_copy(copy, args);
  const int text = std::vsnprintf(out + used, size - static_cast<std::size_t>(used), fmt, copy);
  va_end(copy);
  if (text < 0) return -1;
  int length = used + text;
  if (form.add_newline) {
    if (static_cast<std::size_t>(length) + 1 < size) out[length] = '\n', out[length + 1] = '\0';
    ++length;
  }
  return length;
}

// ---------------------------------------------------------------------------
// The deferred ring: one producer (the deferred thread) and one consumer at a
// time (whoever flushes, kept to one by `flushing`). The producer owns the
// slot at `write_index` until it publishes it by advancing the index; the
// consumer owns the slots from `read_index` up to the published index until
// it gives them back by advancing `read_index`.

constexpr std::size_t kRingLines = 64;
constexpr std::size_t kRingLineCapacity = 256;

struct RingLine {
  std::array<char, kRingLineCapacity> text;
  std::size_t length;
};

std::array<RingLine, kRingLines> ring;
std::atomic<std::size_t> write_index{0};
std::atomic<std::size_t> read_index{0};
std::atomic<unsigned> dropped{0};
std::atomic_flag flushing = ATOMIC_FLAG_INIT;
static_assert(std::atomic<std::size_t>::is_always_lock_free);

thread_local bool deferred_thread = false;

void queue_line(const char* fmt, va_list args, LineForm form) {
  const std::size_t w = write_index.load(std::memory_order_relaxed);
  if (w - read_index.load(std::memory_order_acquire) >= kRingLines) {
    dropped.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  RingLine& line = ring[w % kRingLines];
  const int length = format_line(line.text.data(), line.text.size(), fmt, args, form);
  if (length < 0) {
    dropped.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  std::size_t stored = static_cast<std::size_t>(length);
  if (stored >= line.text.size()) {
    // Cut to the slot, and say so; a line keeps its line break.
    constexpr char kCut[] = "...\n";
    stored = line.text.size() - 1;
    std::memcpy(line.text.data() + stored - (sizeof kCut - 1), kCut, sizeof kCut - 1);
  }
  line.length = stored;
  write_index.store(w + 1, std::memory_order_release);
}

// A piece of raw bytes from a deferred thread: as much as a slot holds.
void queue_bytes(const char* bytes, std::size_t length) {
  const std::size_t w = write_index.load(std::memory_order_relaxed);
  if (w - read_index.load(std::memory_order_acquire) >= kRingLines) {
    dropped.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  RingLine& line = ring[w % kRingLines];
  line.length = std::min(length, line.text.size());
  std::memcpy(line.text.data(), bytes, line.length);
  write_index.store(w + 1, std::memory_order_release);
}

// ---------------------------------------------------------------------------
// The writer: a byte queue of kKelLogQueueBytes between the threads that
// log and the log's own thread, which writes it to the output's descriptor.
// `queued` and `written` count every byte ever put in and taken out; the
// bytes between them are the writer's, which it reads without the lock
// while it writes them out, and the room beyond `queued` is the loggers',
// who fill it under the lock. Each moves only its own count, under the
// lock, so neither touches bytes the other owns.

struct Writer {
  std::mutex mutex;
  std::condition_variable wake;     // the writer: bytes to write, or stop
  std::condition_variable written_out;  // stop_writer: the writer took some
  std::vector<char> queue = std::vector<char>(kKelLogQueueBytes);
  uint64_t queued = 0;
  uint64_t written = 0;
  unsigned dropped = 0;  // lines dropped since the last that fitted
  bool stop = false;     // the writer ends once it has nothing to write
  bool failed = false;   // the output failed: bytes are discarded
  int fd = -1;
  std::thread thread;
};

// Never destroyed: a writer blocked on an output that never takes its
// bytes may outlive main and every static object.
Writer& the_writer() {
  static Writer* const writer = new Writer;
  return *writer;
}

// Whether lines go to the writer's queue.
std::atomic<bool> writer_running{false};

// Writes `length` bytes to `fd`, waiting while it would block. Returns the
// count written (at least 1), or 0 when the output failed.
std::size_t write_some(int fd, const char* bytes, std::size_t length) {
  for (;;) {
    const ssize_t n = ::write(fd, bytes, length);
    if (n > 0) return static_cast<std::size_t>(n);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // Someone set the shared file description non-blocking.
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, -1);
      continue;
    }
    return 0;
  }
}

void copy_in(Writer* w, const char* bytes, std::size_t length) {
  for (std::size_t k = 0; k < length;) {
    const std::size_t at = static_cast<std::size_t>(w->queued % w->queue.size());
    const std::size_t n = std::min(length - k, w->queue.size() - at);
    std::memcpy(w->queue.data() + at, bytes + k, n);
    w->queued += n;
    k += n;
  }
}

uint64_t room_of(const Writer& w) { return w.queue.size() - (w.queued - w.written); }

// Queues the line that says how many lines were dropped, where they would
// have been, when `line_length` more bytes fit after it. Under the lock.
bool note_dropped(Writer* w, std::size_t line_length) {
  std::array<char, 128> note{};
  const int prefix = format_prefix(note.data(), note.size());
  const auto used = static_cast<std::size_t>(std::clamp(prefix, 0, static_cast<int>(note.size()) - 1));
  const int n = std::snprintf(note.data() + used, note.size() - used,
                              "%u log line%s dropped: the output did not take them\n", w->dropped,
                              w->dropped == 1 ? "" : "s");
  const std::size_t length = std::min(used + static_cast<std::size_t>(std::max(n, 0)), note.size() - 1);
  if (length + line_length > room_of(*w)) return false;
  copy_in(w, note.data(), length);
  w->dropped = 0;
  return true;
}

void writer_main(Writer* w) {
  std::unique_lock lock(w->mutex);
  for (;;) {
    w->wake.wait(lock, [w] { return w->queued != w->written || w->stop; });
    if (w->queued == w->written) return;  // stopped, and all written
    const std::size_t at = static_cast<std::size_t>(w->written % w->queue.size());
    const std::size_t span =
        static_cast<std::size_t>(std::min<uint64_t>(w->queued - w->written, w->queue.size() - at));
    std::size_t done = span;  // a failed output takes everything
    if (!w->failed) {
      const char* bytes = w->queue.data() + at;
      lock.unlock();
      done = write_some(w->fd, bytes, span);
      lock.lock();
      if (done == 0) {
        w->failed = true;
        done = span;
      }
    }
    w->written += done;
    // The output moved: the lines dropped before are said now.
    if (w->dropped > 0 && !w->failed) note_dropped(w, 0);
    w->written_out.notify_all();
  }
}

// Queues a line for the writer. Returns false when the writer is stopping
// (the caller writes the line itself).
bool writer_queue(const char* text, std::size_t length) {
  Writer& w = the_writer();
  {
    const std::lock_guard lock(w.mutex);
    if (w.stop) return false;
    if (w.failed) return true;
    if ((w.dropped > 0 && !note_dropped(&w, length)) || length > room_of(w)) {
      ++w.dropped;
      return true;
    }
    copy_in(&w, text, length);
  }
  w.wake.notify_one();
  return true;
}

// Null stands for standard output, which is not a constant.
std::atomic<std::FILE*> log_stream{nullptr};
static_assert(std::atomic<std::FILE*>::is_always_lock_free);

std::FILE* current_stream() {
  std::FILE* stream = log_stream.load(std::memory_order_relaxed);
  return stream ? stream : stdout;
}

void write_out(const char* text, std::size_t length) {
  if (writer_running.load(std::memory_order_acquire) && writer_queue(text, length)) return;
  std::fwrite(text, 1, length, current_stream());
}

// The quiet switch: while it is on, only notices are written.
std::atomic<bool> quiet{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void write_line(const char* fmt, va_list args, LineForm form) {
  if (!form.notice && quiet.load(std::memory_order_relaxed)) return;
  if (deferred_thread) {
    queue_line(fmt, args, form);
    return;
  }
  // Lines queued earlier by the audio thread go first, so the output keeps
  // its order in time.
  kel_log_flush_deferred();
  std::array<char, kLineCapacity> line;
  const int length = format_line(line.data(), line.size(), fmt, args, form);
  if (length < 0) return;
  if (static_cast<std::size_t>(length) < line.size()) {
    write_out(line.data(), static_cast<std::size_t>(length));
    return;
  }
  // Too long for the buffer: formatted again, whole, on the heap.
  std::string whole(static_cast<std::size_t>(length) + 1, '\0');
  const int again = format_line(whole.data(), whole.size(), fmt, args, form);
  if (again >= 0) write_out(whole.data(), std::min(static_cast<std::size_t>(again), whole.size() - 1));
}

}  // namespace

void kel_log_init() {
  // Only the first call may set the buffering: the standard allows it
  // before any other operation on the stream.
  static bool done = false;
  if (done) return;
  done = true;
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}

std::FILE* kel_log_set_stream(std::FILE* stream) {
  std::FILE* was = current_stream();
  log_stream.store(stream == stdout ? nullptr : stream, std::memory_order_relaxed);
  return was;
}

std::FILE* kel_log_stream() { return current_stream(); }

int kel_log_set_deferred(int deferred) {
  const int was = deferred_thread ? 1 : 0;
  deferred_thread = deferred != 0;
  return was;
}

int kel_log_flush_deferred() {
  if (deferred_thread) return 0;
  if (flushing.test_and_set(std::memory_order_acquire)) return 0;
  int written = 0;
  std::size_t r = read_index.load(std::memory_order_relaxed);
  const std::size_t w = write_index.load(std::memory_order_acquire);
  for (; r != w; ++r) {
    const RingLine& line = ring[r % kRingLines];
    write_out(line.text.data(), line.length);
    read_index.store(r + 1, std::memory_order_release);
    ++written;
  }
  if (const unsigned lost = dropped.exchange(0, std::memory_order_relaxed); lost > 0) {
    std::array<char, 160> note;
    const int prefix = format_prefix(note.data(), note.size());
    if (prefix > 0 && static_cast<std::size_t>(prefix) < note.size()) {
      const auto used = static_cast<std::size_t>(prefix);
      const int text = std::snprintf(note.data() + used, note.size() - used,
                                     "%u log line%s of the audio thread dropped: the log ring was full\n", lost,
                                     lost == 1 ? "" : "s");
      if (text > 0) write_out(note.data(), std::min(used + static_cast<std::size_t>(text), note.size() - 1));
    }
  }
  flushing.clear(std::memory_order_release);
  return written;
}

void kel_vlog(const char* fmt, va_list args) { write_line(fmt, args, kLogged); }

void kel_log(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  write_line(fmt, args, kLogged);
  va_end(args);
}

void kel_log_line(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  write_line(fmt, args, kLoggedLine);
  va_end(args);
}

void kel_log_bare(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  write_line(fmt, args, kBare);
  va_end(args);
}

void kel_log_write(const char* bytes, std::size_t length) {
  if (bytes == nullptr || length == 0) return;
  if (deferred_thread) {
    queue_bytes(bytes, length);
    return;
  }
  write_out(bytes, length);
}

bool kel_log_start_writer() {
  if (deferred_thread) return false;
  if (writer_running.load()) return true;
  std::FILE* stream = current_stream();
  std::fflush(stream);
  const int fd = fileno(stream);
  if (fd < 0) return false;
  Writer& w = the_writer();
  {
    const std::lock_guard lock(w.mutex);
    w.fd = fd;
    w.stop = false;
    w.failed = false;
    w.dropped = 0;
    w.queued = w.written = 0;
  }
  try {
    w.thread = std::thread(writer_main, &w);
  } catch (const std::system_error&) {
    return false;
  }
  writer_running.store(true, std::memory_order_release);
  return true;
}

bool kel_log_stop_writer(double stall_seconds, double most_seconds) {
  if (!writer_running.load()) return true;
  Writer& w = the_writer();
  using Clock = std::chrono::steady_clock;
  auto seconds = [](double s) { return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s)); };
  const Clock::time_point give_up = Clock::now() + seconds(std::max(most_seconds, 0.0));
  {
    std::unique_lock lock(w.mutex);
    // Each time the output takes bytes, the stall's clock starts again.
    while (w.queued != w.written) {
      const uint64_t before = w.written;
      const Clock::time_point until = std::min(give_up, Clock::now() + seconds(std::max(stall_seconds, 0.0)));
      w.written_out.wait_until(lock, until, [&] { return w.written != before; });
      if (w.written == before && Clock::now() >= until) break;
    }
    if (w.queued != w.written) return false;
    // From here on the thread that logs writes its line itself; a line
    // that comes in between finds `stop` and does so too.
    writer_running.store(false, std::memory_order_release);
    w.stop = true;
  }
  w.wake.notify_one();
  w.thread.join();
  return true;
}

void kel_log_trace(int line, const char* what) { kel_log("line %d: %s\n", line, what); }

void kel_log_set_quiet(int on) { quiet.store(on != 0, std::memory_order_relaxed); }
int kel_log_quiet() { return quiet.load(std::memory_order_relaxed) ? 1 : 0; }

void kel_log_notice(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  write_line(fmt, args, kNotice);
  va_end(args);
}
