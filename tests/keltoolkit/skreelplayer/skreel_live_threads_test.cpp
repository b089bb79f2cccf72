// The live commands under load: one thread sends tunes, each with a rate of
// its own, as fast as the ring takes them, while another plays buffers as
// the mixing hook does. Every event must answer its command whole: the
// program it decoded and the rate it applied are those sent with that
// number, in the order sent.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "framework/core/log.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "keltoolkit/skreelplayer/skreel_live.h"
#include "support/capture.h"

namespace {

TEST(SkreelLiveThreads, EveryEventAnswersItsCommandWhole) {
  StdoutCapture quiet;
  skreel_reset();
  // Tune k: k + 1 instructions ("t" then k "DUP"s) at 1000 + k steps a second.
  auto url_of = [](uint32_t k) { return "compiled!a" + std::string(k % 200, 'p'); };
  std::atomic<bool> done{false};
  std::thread audio([&] {
    KelLogDeferred deferred;
    std::vector<int16_t> buffer(2 * 64);
    while (!done.load()) skreelplayer_callback(buffer.data(), 64, 44100);
  });
  constexpr uint32_t kTunes = 20000;
  uint32_t sent = 0, answered = 0;
  while (answered < kTunes) {
    if (sent < kTunes) {
      const uint32_t seq = skreel_send_tune(url_of(sent).c_str(), 1000.0f + static_cast<float>(sent));
      if (seq != 0) {
        ASSERT_EQ(seq, sent + 1);
        ++sent;
      }
    }
    for (SKREELEVENT e; skreel_take_event(&e); ++answered) {
      ASSERT_EQ(e.seq, answered + 1);
      ASSERT_EQ(e.count, static_cast<int>(answered % 200) + 1);
      ASSERT_EQ(e.value, 1000.0f + static_cast<float>(answered));
    }
    kel_log_flush_deferred();
  }
  done.store(true);
  audio.join();
  kel_log_flush_deferred();
}

}  // namespace
