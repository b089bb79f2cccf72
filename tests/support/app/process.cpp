#include "support/app/process.h"

#include "support/capture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

extern char** environ;

PlayerProcess::PlayerProcess(const std::string& program, const std::vector<std::string>& args,
                             const std::vector<std::string>& env) {
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) std::abort();
  pid_ = fork();
  if (pid_ < 0) std::abort();
  if (pid_ == 0) {
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    close(out_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[0]);
    close(err_pipe[1]);
    signal(SIGINT, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (const std::string& e : env) {
      if (e.find('=') == std::string::npos)
        unsetenv(e.c_str());
      else
        putenv(const_cast<char*>(e.c_str()));
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  out_fd_ = out_pipe[0];
  err_fd_ = err_pipe[0];
}

PlayerProcess::~PlayerProcess() {
  if (!reaped_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_fd_ >= 0) close(out_fd_);
  if (err_fd_ >= 0) close(err_fd_);
}

// Reads what has arrived on either pipe; a closed pipe's descriptor is -1,
// which poll passes over.
void PlayerProcess::pump(int timeout_ms) {
  pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
  if (poll(fds, 2, timeout_ms) <= 0) return;
  char chunk[4096];
  for (int i = 0; i < 2; ++i) {
    if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
    const ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
    if (n > 0) (i == 0 ? out_ : err_).append(chunk, static_cast<size_t>(n));
    if (n == 0) {
      close(fds[i].fd);
      (i == 0 ? out_fd_ : err_fd_) = -1;
    }
  }
}

bool PlayerProcess::read_until(const std::function<bool(const std::string&)>& done, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done(out_) && out_fd_ >= 0 && std::chrono::steady_clock::now() < deadline) pump(100);
  return done(out_);
}

bool PlayerProcess::wait_for(const std::string& text, std::chrono::seconds limit) {
  return read_until([&](const std::string& out) { return out.find(text) != std::string::npos; }, limit);
}

void PlayerProcess::interrupt() { kill(pid_, SIGINT); }

void PlayerProcess::send_signal(int sig) { kill(pid_, sig); }

int PlayerProcess::wait(std::chrono::seconds limit) {
  read_until([](const std::string&) { return false; }, limit);
  while (err_fd_ >= 0) pump(100);
  if (!reaped_) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return -1;
      usleep(10000);
    }
    reaped_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return status_;
}

std::vector<std::string> log_messages(const std::string& output) {
  std::string clean;
  for (char c : output)
    if (c != '\0') clean += c;
  std::vector<std::string> lines;
  std::istringstream in(clean);
  std::string line;
  while (std::getline(in, line)) {
    const auto at = line.find("[kel ");
    if (at == std::string::npos) continue;
    lines.push_back(strip_log_prefixes(line.substr(at)));
  }
  return lines;
}
