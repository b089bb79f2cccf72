// The signals that end the program, in child processes whose handlers the
// cases may change freely. (That each one ends the program cleanly, also
// twice at once, is tested end to end.)
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>

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

TEST(Signals, WhatTheParentIgnoresStaysIgnoredAndOnlyALateInterruptEndsItAtOnce) {
  for (const SIGNAL_USE use : {SIGNAL_USE::kPlayer, SIGNAL_USE::kTool}) {
    EXPECT_EQ(in_child([use] {
                for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(sig, SIG_IGN);
                tonebrook_catch_signals(use);
                // A file size limit makes a write fail instead.
                for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) {
                  struct sigaction now {};
                  sigaction(sig, nullptr, &now);
                  if (now.sa_handler != SIG_IGN) return sig;
                }
                return 0;
              }),
              0);
    EXPECT_EQ(in_child([use] {
                tonebrook_catch_signals(use);
                raise(SIGTERM);
                const timespec half_a_second_on{0, 600'000'000};
                nanosleep(&half_a_second_on, nullptr);
                raise(SIGINT);
                return 0;
              }),
              130);
  }
}

}  // namespace
