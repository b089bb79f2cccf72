// Captures what the code under test writes to standard output (or error).
#pragma once

#include <unistd.h>

#include <string>

class StdoutCapture {
 public:
  StdoutCapture() : StdoutCapture(STDOUT_FILENO) {}
  ~StdoutCapture();
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  // Everything written since the capture began (or since the last take).
  std::string take();

 protected:
  explicit StdoutCapture(int fd);

 private:
  int fd_;
  int saved_fd_ = -1;
  int file_fd_ = -1;
  long read_pos_ = 0;
};

// The same for standard error (perror lines).
class StderrCapture : public StdoutCapture {
 public:
  StderrCapture() : StdoutCapture(STDERR_FILENO) {}
};

// The message part of each log line ("[kel 1.23s (45)] message"), in order.
std::string strip_log_prefixes(const std::string& text);
