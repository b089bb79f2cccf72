#include "hack/tonebrook/process.h"

#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "framework/core/kel_shared.h"

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
// A second interrupt this long after the first signal ends the process.
constexpr int64_t kInsistNanoseconds = 500'000'000;
constexpr int kInsistedStatus = 128 + SIGINT;

std::atomic<int> caught{0};
std::atomic<int64_t> first_caught_at{0};  // CLOCK_MONOTONIC, ns; 0: none yet
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<int64_t>::is_always_lock_free);

int64_t monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void on_ending_signal(int sig) {
  const int saved = errno;
  const int64_t now = monotonic_ns();
  int none = 0;
  if (caught.compare_exchange_strong(none, sig)) {
    first_caught_at.store(now);
    kel_quit();
  } else if (sig == SIGINT && now - first_caught_at.load() >= kInsistNanoseconds) {
    _exit(kInsistedStatus);
  }
  errno = saved;
}

}  // namespace

void tonebrook_open_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor: this one, as those below it are open.
    const int opened = open("/dev/null", (fd == 0 ? O_WRONLY : O_RDONLY) | O_NOCTTY);
    if (opened != fd) _exit(1);
  }
}

void tonebrook_catch_signals(SIGNAL_USE use) {
  struct sigaction act {};
  act.sa_handler = on_ending_signal;
  sigemptyset(&act.sa_mask);
  for (const int sig : kEndingSignals) sigaddset(&act.sa_mask, sig);
  act.sa_flags = use == SIGNAL_USE::kPlayer ? SA_RESTART : 0;
  for (const int sig : kEndingSignals) {
    struct sigaction was {};
    if (sigaction(sig, nullptr, &was) == 0 && was.sa_handler == SIG_IGN) continue;
    sigaction(sig, &act, nullptr);
  }
  signal(SIGXFSZ, SIG_IGN);
}

int tonebrook_caught_signal() { return caught.load(); }
