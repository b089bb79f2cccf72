#include "framework/core/log.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

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

// Null stands for standard output, which is not a constant.
std::atomic<std::FILE*> log_stream{nullptr};
static_assert(std::atomic<std::FILE*>::is_always_lock_free);

std::FILE* current_stream() {
  std::FILE* stream = log_stream.load(std::memory_order_relaxed);
  return stream ? stream : stdout;
}

void write_out(const char* text, std::size_t length) { std::fwrite(text, 1, length, current_stream()); }

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
  if (length >= 0 && static_cast<std::size_t>(length) < line.size()) {
    write_out(line.data(), static_cast<std::size_t>(length));
    return;
  }
  // Too long for one buffer: write it in pieces under the stream's lock.
  std::FILE* stream = current_stream();
  flockfile(stream);
  if (form.prefix) {
    const int prefix = format_prefix(line.data(), line.size());
    if (prefix > 0) std::fwrite(line.data(), 1, static_cast<std::size_t>(prefix), stream);
  }
  std::vfprintf(stream, fmt, args);
  if (form.add_newline) std::fputc('\n', stream);
  funlockfile(stream);
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

void kel_log_trace(int line, const char* what) { kel_log("line %d: %s\n", line, what); }

void kel_log_set_quiet(int on) { quiet.store(on != 0, std::memory_order_relaxed); }
int kel_log_quiet() { return quiet.load(std::memory_order_relaxed) ? 1 : 0; }

void kel_log_notice(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  write_line(fmt, args, kNotice);
  va_end(args);
}
