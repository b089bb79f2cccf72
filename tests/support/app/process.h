// Runs the built player as a child process and reads its output as it comes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class PlayerProcess {
 public:
  // Starts `program` with `args`, adding `env` entries (NAME=value) to the
  // environment; an entry without '=' removes that variable. Standard output is read through a pipe; standard error
  // goes to a pipe of its own. SIGINT is delivered to the child as from a
  // terminal (it is not ignored there).
  PlayerProcess(const std::string& program, const std::vector<std::string>& args,
                const std::vector<std::string>& env = {});
  ~PlayerProcess();
  PlayerProcess(const PlayerProcess&) = delete;
  PlayerProcess& operator=(const PlayerProcess&) = delete;

  // Reads standard output until `done` holds for what has arrived, the
  // child closes it, or `limit` passes (a safety net against a hang, not a
  // measure of speed). Returns whether `done` held.
  bool read_until(const std::function<bool(const std::string&)>& done,
                  std::chrono::seconds limit = std::chrono::seconds(60));
  // Waits for a line containing `text`.
  bool wait_for(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(60));

  void interrupt();
  // Sends `sig` to the child.
  void send_signal(int sig);
  // Reads the rest of the output and waits for the exit status (-1 when the
  // child did not end within `limit`, or ended by a signal).
  int wait(std::chrono::seconds limit = std::chrono::seconds(60));

  const std::string& output() const { return out_; }
  const std::string& errors() const { return err_; }

 private:
  void pump(int timeout_ms);

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  std::string out_;
  std::string err_;
  int status_ = -1;
  bool reaped_ = false;
};

// The log lines of `output` (from the first "[kel " on each line), prefix
// removed, NUL bytes dropped.
std::vector<std::string> log_messages(const std::string& output);
