// The signals that end the program: what the parent ignores stays ignored,
// a copy that comes at once changes nothing, and only an interrupt that
// comes half a second after the first signal ends the process at once.
// Each case runs in a child process, whose handlers it may change freely.
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>

#include "framework/core/kel_shared.h"
#include "hack/tonebrook/process.h"

namespace {

// The exit status of a child that runs `body` and exits with what it
// returns; -signal when the child was killed.
int in_child(const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0) _exit(body());
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

bool ignored(int sig) {
  struct sigaction now {};
  sigaction(sig, nullptr, &now);
  return now.sa_handler == SIG_IGN;
}

TEST(Signals, WhatEndsTheProgramAndWhatDoesNot) {
  for (const SIGNAL_USE use : {SIGNAL_USE::kPlayer, SIGNAL_USE::kTool}) {
    const struct {
      const char* what;
      std::function<int()> body;
      int status;
    } cases[] = {
        {"each of them is caught; copies at once change nothing",
         [use] {
           tonebrook_catch_signals(use);
           for (const int sig : {SIGHUP, SIGPIPE, SIGTERM, SIGTERM, SIGINT}) raise(sig);
           return tonebrook_caught_signal() == SIGHUP && kel_is_quit() ? 0 : 1;
         },
         0},
        {"what the parent ignores stays ignored; a file size limit is a failed write",
         [use] {
           for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(sig, SIG_IGN);
           tonebrook_catch_signals(use);
           for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) {
             if (!ignored(sig)) return sig;
             raise(sig);
           }
           return tonebrook_caught_signal();
         },
         0},
        {"an interrupt half a second after the first signal ends it at once",
         [use] {
           tonebrook_catch_signals(use);
           raise(SIGTERM);
           const timespec wait{0, 600'000'000};
           nanosleep(&wait, nullptr);
           raise(SIGINT);
           return 0;
         },
         130},
    };
    for (const auto& c : cases) EXPECT_EQ(in_child(c.body), c.status) << c.what << (use == SIGNAL_USE::kTool ? " (tool)" : "");
  }
}

}  // namespace
