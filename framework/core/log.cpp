#include "framework/core/log.h"

#include <array>
#include <cstdio>

#include "framework/core/kel.h"

namespace {

// Long enough for the longest line the runtime writes (a 1023-character URL
// text with its message); longer lines are still written whole, in pieces.
constexpr std::size_t kLineCapacity = 2048;

// Standard output is line-buffered from program start, so that log lines
// reach a pipe or a file as they are written, not when a block fills.
[[maybe_unused]] const bool stdout_line_buffered =
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ) == 0;

int format_prefix(char* out, std::size_t size) {
  return std::snprintf(out, size, "[kel %.2fs (%u)] ", kel_seconds(), kel_ticks.load());
}

void write_line(const char* fmt, va_list args, bool add_newline) {
  std::array<char, kLineCapacity> line;
  int used = format_prefix(line.data(), line.size());
  if (used < 0) used = 0;
  va_list copy;
  va_copy(copy, args);
  const int text = std::vsnprintf(line.data() + used, line.size() - used, fmt, copy);
  va_end(copy);
  if (text >= 0 && static_cast<std::size_t>(used + text + (add_newline ? 1 : 0)) < line.size()) {
    std::size_t len = static_cast<std::size_t>(used + text);
    if (add_newline) line[len++] = '\n';
    std::fwrite(line.data(), 1, len, stdout);
    return;
  }
  // Too long for one buffer: write it in pieces under the stream's lock.
  flockfile(stdout);
  std::fwrite(line.data(), 1, static_cast<std::size_t>(used), stdout);
  std::vfprintf(stdout, fmt, args);
  if (add_newline) std::fputc('\n', stdout);
  funlockfile(stdout);
}

}  // namespace

void kel_vlog(const char* fmt, va_list args) { write_line(fmt, args, false); }

void kel_log(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  write_line(fmt, args, false);
  va_end(args);
}

void kel_log_line(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  write_line(fmt, args, true);
  va_end(args);
}

void kel_log_trace(int line, const char* what) { kel_log("line %d: %s\n", line, what); }
