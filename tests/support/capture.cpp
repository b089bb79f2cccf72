#include "support/capture.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <regex>

StdoutCapture::StdoutCapture() {
  std::fflush(stdout);
  char name[] = "/tmp/tonebrook-capture-XXXXXX";
  file_fd_ = mkstemp(name);
  if (file_fd_ < 0) std::abort();
  unlink(name);
  saved_fd_ = dup(STDOUT_FILENO);
  dup2(file_fd_, STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture() {
  // Whatever the test did not take (a failure message among it) goes on to
  // the real output.
  const std::string rest = take();
  dup2(saved_fd_, STDOUT_FILENO);
  if (!rest.empty()) {
    std::fwrite(rest.data(), 1, rest.size(), stdout);
    std::fflush(stdout);
  }
  close(saved_fd_);
  close(file_fd_);
}

std::string StdoutCapture::take() {
  std::fflush(stdout);
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

std::string strip_log_prefixes(const std::string& text) {
  static const std::regex prefix(R"(\[kel -?[0-9]+\.[0-9]{2}s \([0-9]+\)\] )");
  return std::regex_replace(text, prefix, "");
}
