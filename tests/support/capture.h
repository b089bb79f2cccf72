// Captures what the code under test writes to standard output.
#pragma once

#include <string>

class StdoutCapture {
 public:
  StdoutCapture();
  ~StdoutCapture();
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  // Everything written since the capture began (or since the last take).
  std::string take();

 private:
  int saved_fd_ = -1;
  int file_fd_ = -1;
  long read_pos_ = 0;
};

// The message part of each log line ("[kel 1.23s (45)] message"), in order.
std::string strip_log_prefixes(const std::string& text);
