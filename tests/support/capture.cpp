#include "support/capture.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

StdoutCapture::StdoutCapture(int fd) : fd_(fd) {
  std::fflush(nullptr);
  char name[] = "/tmp/tonebrook-capture-XXXXXX";
  file_fd_ = mkstemp(name);
  if (file_fd_ < 0) std::abort();
  unlink(name);
  saved_fd_ = dup(fd_);
  dup2(file_fd_, fd_);
}

StdoutCapture::~StdoutCapture() {
  // Whatever the test did not take (a failure message among it) goes on to
  // the real output.
  const std::string rest = take();
  dup2(saved_fd_, fd_);
  if (!rest.empty()) {
    std::FILE* out = fd_ == STDERR_FILENO ? stderr : stdout;
    std::fwrite(rest.data(), 1, rest.size(), out);
    std::fflush(out);
  }
  close(saved_fd_);
  close(file_fd_);
}

std::string StdoutCapture::take() {
  std::fflush(nullptr);
  std::string out;
  char chunk[4096];
  for (;;) {
    const ssize_t n = pread(file_fd_, chunk, sizeof chunk, read_pos_);
    if (n <= 0) break;
    out.append(chunk, static_cast<std::size_t>(n));
    read_pos_ += n;
  }
  return out;
}

namespace {

// Length of a log prefix "[kel <seconds>s (<ticks>)] " at `at`, or 0.
size_t prefix_length(const std::string& text, size_t at) {
  static const std::string open = "[kel ";
  if (text.compare(at, open.size(), open) != 0) return 0;
  size_t i = at + open.size();
  if (i < text.size() && text[i] == '-') ++i;
  const size_t digits = i;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  if (i == digits || i + 3 >= text.size() || text[i] != '.' || !std::isdigit(static_cast<unsigned char>(text[i + 1])) ||
      !std::isdigit(static_cast<unsigned char>(text[i + 2])))
    return 0;
  i += 3;
  if (text.compare(i, 3, "s (") != 0) return 0;
  i += 3;
  const size_t ticks = i;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  if (i == ticks || text.compare(i, 3, ")] ") != 0) return 0;
  return i + 3 - at;
}

}  // namespace

std::string strip_log_prefixes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (const size_t n = prefix_length(text, i)) {
      i += n;
    } else {
      out += text[i++];
    }
  }
  return out;
}
