// The audio callback allocates nothing and writes nothing once a tune is
// adopted.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

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
  EXPECT_EQ(strip_log_prefixes(out.take()), "NAME DECODE ERROR!\n");
}

}  // namespace
