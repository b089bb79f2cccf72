// The audio callback allocates nothing and writes nothing once a tune is
// adopted.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "framework/core/log.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "support/alloc_counter.h"
#include "support/capture.h"

namespace {

TEST(SkreelRealtime, CallbackAllocatesNothingAndIsSilentOnStdout) {
  // The counter itself works.
  EXPECT_GT(alloc_counter::during([] {
              void* volatile p = ::operator new(16);
              ::operator delete(p);
            }),
            0);
  EXPECT_GT(alloc_counter::during([] {
              void* volatile p = std::malloc(16);
              std::free(p);
            }),
            0);

  skreel_reset();
  std::vector<int16_t> buffer(2048);
  StdoutCapture out;
  // Warm the output stream up, so that its own buffer is not counted.
  std::fputs("warm\n", stdout);
  out.take();

  skreel_play_url("compiled!a.a.C.k.a.8.k.m.3F.l.a.4.k.l.d");
  EXPECT_EQ(alloc_counter::during([&] { skreelplayer_callback(buffer.data(), 1024, 44100); }), 0)
      << "adoption allocated";
  EXPECT_EQ(out.take(), "") << "the audio thread wrote to standard output";
  kel_log_flush_deferred();
  EXPECT_EQ(strip_log_prefixes(out.take()), "DECODED 'compiled' 15 opcodes\n");

  // Steady state: many buffers, nothing allocated, nothing written.
  const int steady = alloc_counter::during([&] {
    for (int i = 0; i < 500; ++i) skreelplayer_callback(buffer.data(), 1024, 44100);
  });
  EXPECT_EQ(steady, 0);
  EXPECT_EQ(out.take(), "");

  // A rejected text is reported, and nothing is allocated either.
  skreel_play_url(nullptr);
  skreel_play_url("skreel://bad-name!a");
  EXPECT_EQ(alloc_counter::during([&] { skreelplayer_callback(buffer.data(), 1024, 44100); }), 0);
  kel_log_flush_deferred();
  EXPECT_EQ(strip_log_prefixes(out.take()), "NAME DECODE ERROR!\n");
}

// Standard output is a pipe that nobody reads and that is full, as when
// `tonebrook tune.txt | less` is left alone: a write there would block. The
// callback must still return, and its line arrives once the pipe drains.
TEST(SkreelRealtime, CallbackReturnsWhileStandardOutputIsBlocked) {
  skreel_reset();
  StdoutCapture out;
  std::fflush(stdout);
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const int flags = fcntl(pipe_fds[1], F_GETFL);
  ASSERT_EQ(fcntl(pipe_fds[1], F_SETFL, flags | O_NONBLOCK), 0);
  const std::vector<char> block(4096, 'x');
  while (write(pipe_fds[1], block.data(), block.size()) > 0) {
  }
  ASSERT_EQ(fcntl(pipe_fds[1], F_SETFL, flags), 0);  // writes block again
  const int saved = dup(STDOUT_FILENO);
  ASSERT_EQ(dup2(pipe_fds[1], STDOUT_FILENO), STDOUT_FILENO);

  skreel_play_url("compiled!a.8k");
  std::vector<int16_t> buffer(2048);
  auto audio = std::async(std::launch::async, [&] { skreelplayer_callback(buffer.data(), 1024, 44100); });
  const bool returned = audio.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  // Unblock a writer, if there is one, before anything else.
  if (!returned) {
    std::vector<char> sink(1 << 16);
    fcntl(pipe_fds[0], F_SETFL, O_NONBLOCK);
    while (read(pipe_fds[0], sink.data(), sink.size()) > 0) {
    }
  }
  audio.wait();
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(pipe_fds[0]);
  close(pipe_fds[1]);
  ASSERT_TRUE(returned) << "the callback blocked on standard output";

  kel_log_flush_deferred();
  EXPECT_EQ(strip_log_prefixes(out.take()), "DECODED 'compiled' 3 opcodes\n");
}

// A full ring drops lines and says how many at the next flush.
TEST(SkreelRealtime, AFullLogRingCountsWhatItDrops) {
  StdoutCapture out;
  {
    KelLogDeferred deferred;
    for (int i = 0; i < 70; ++i) kel_log("line %d\n", i);
    EXPECT_EQ(kel_log_flush_deferred(), 0);  // not from the deferred thread
  }
  EXPECT_EQ(out.take(), "");
  EXPECT_EQ(kel_log_flush_deferred(), 64);
  const std::string log = strip_log_prefixes(out.take());
  EXPECT_EQ(log.substr(0, 14), "line 0\nline 1\n");
  EXPECT_NE(log.find("line 63\n6 log lines of the audio thread dropped: the log ring was full\n"), std::string::npos);
  EXPECT_EQ(kel_log_flush_deferred(), 0);
}

}  // namespace
