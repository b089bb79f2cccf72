// The hand-over of tunes from the main thread to the audio thread, under
// load: one thread swaps tunes as the live player does (null, then the new
// text) while another plays buffers as the mixing hook does. Every buffer
// must be exactly the output of one whole tune; a program decoded in part or
// mixed from two texts would give a value that none of the tunes gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "framework/core/kel.h"
#include "framework/core/log.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "support/capture.h"

namespace {

constexpr int kFrames = 1024;
constexpr int kRate = 44100;

// "c" followed by m times "inc +" (single digits, the same in hexadecimal):
// the value c + m x inc, with instruction count 1 + 2m. The steps are chosen
// so that no prefix of one program gives the full value of any program: A's
// prefixes are odd, B's are multiples of 4, C's are 2 modulo 8.
struct Tune {
  std::string url;
  int value;
  int count;
};

Tune make_tune(int c, int inc, int m) {
  std::string url = "compiled!";
  url.append(std::to_string(c));
  for (int i = 0; i < m; ++i) {
    url.push_back('.');
    url.append(std::to_string(inc));
    url.push_back('f');
  }
  return {url, c + m * inc, 1 + 2 * m};
}

// What the player's output filter holds between buffers.
struct Filter {
  int16_t otm1 = 0, last = 0, val16 = 0;
  uint64_t phase = 0;  // of `t`, carried from buffer to buffer
};

// The output of one buffer of a program that gives `value` at every step,
// from filter state `f` (updated), the phase of `t` running on.
std::vector<int16_t> expected_buffer(int value, Filter& f) {
  const uint64_t step = static_cast<uint64_t>(8000.0 / kRate * 1e9);
  std::vector<int16_t> out(kFrames * 2);
  uint64_t& phase = f.phase;
  for (int frame = 0; frame < kFrames; ++frame) {
    phase += step;
    if (phase >= 1'000'000'000) {
      phase -= 1'000'000'000;
      const int x = value * 128;
      f.otm1 = static_cast<int16_t>(static_cast<float>(x - f.last) + 0.999f * static_cast<float>(f.otm1));
      f.last = static_cast<int16_t>(x);
      f.val16 = f.otm1;
    }
    out[2 * frame] = out[2 * frame + 1] = f.val16;
  }
  return out;
}

TEST(SkreelHandOver, EveryBufferPlaysOneWholeTune) {
  skreel_reset();
  kel_set_skreel_callback(nullptr);
  const std::vector<Tune> tunes = {make_tune(3, 2, 120), make_tune(4, 4, 20), make_tune(2, 8, 25),
                                   {"compiled!", 0, 0}};

  StdoutCapture out;
  std::atomic<bool> stop{false};
  std::atomic<int> buffers{0};
  std::atomic<int> silent{0};
  std::atomic<int> failed_buffer{-1};
  std::set<int> heard;  // written by the audio side until it is joined
  Filter filter;

  // Checks one buffer against every tune, following the filter through the
  // buffers: exactly one whole tune must explain it.
  auto check = [&](bool called, const std::vector<int16_t>& buffer) -> int {
    if (!called) return std::all_of(buffer.begin(), buffer.end(), [](int16_t v) { return v == 0; }) ? 0 : -1;
    for (const Tune& tune : tunes) {
      Filter trial = filter;
      if (expected_buffer(tune.value, trial) == buffer) {
        filter = trial;
        heard.insert(tune.value);
        return tune.value;
      }
    }
    return -1;
  };

  // The audio side: what the mixing hook does, once per buffer, then the
  // check. It yields after each buffer so that the two sides interleave
  // even when they share one core.
  std::thread audio([&] {
    std::vector<int16_t> buffer(kFrames * 2);
    while (!stop.load()) {
      std::fill(buffer.begin(), buffer.end(), int16_t{0});
      const KEL_SKREEL_CALLBACK callback = kel_settings.callback_skreel.load();
      if (callback) callback(buffer.data(), kFrames, kRate);
      if (!callback) silent.fetch_add(1);
      if (check(callback != nullptr, buffer) < 0) {
        failed_buffer.store(buffers.load());
        return;
      }
      buffers.fetch_add(1);
      std::this_thread::yield();
    }
  });

  // The main side: bursts of swaps of different lengths, as the live player
  // does them (null, then the new text), with a yield between bursts.
  constexpr int kBursts[] = {1, 2, 3, 40, 400};
  int swaps = 0;
  for (int burst = 0; (swaps < 50000 || buffers.load() < 5000) && failed_buffer.load() < 0; ++burst) {
    for (int n = kBursts[burst % std::size(kBursts)]; n > 0; --n, ++swaps) {
      skreel_play_url(nullptr);
      skreel_play_url(tunes[static_cast<std::size_t>(swaps) % tunes.size()].url.c_str());
    }
    kel_log_flush_deferred();  // as the main loop does at every pass
    std::this_thread::yield();
  }
  stop.store(true);
  audio.join();
  ASSERT_EQ(failed_buffer.load(), -1) << "a buffer was no whole tune's output";

  // The last tune handed over is the one that plays after the next buffer.
  const Tune& last = tunes[1];
  skreel_play_url(nullptr);
  skreel_play_url(last.url.c_str());
  std::vector<int16_t> final_buffer(kFrames * 2);
  skreelplayer_callback(final_buffer.data(), kFrames, kRate);
  kel_log_flush_deferred();
  EXPECT_EQ(check(true, final_buffer), last.value);
  EXPECT_GE(heard.size(), 2u) << "the tunes should have changed while playing";

  // Every adoption reported a whole program.
  std::set<int> counts;
  for (const Tune& tune : tunes) counts.insert(tune.count);
  std::istringstream lines(strip_log_prefixes(out.take()));
  int decoded = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("log lines of the audio thread dropped") != std::string::npos) continue;
    int n = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "DECODED 'compiled' %d opcodes", &n), 1) << line;
    ASSERT_TRUE(counts.count(n)) << line;
    ++decoded;
  }
  EXPECT_GE(decoded, 1);
  std::fprintf(stderr, "%d swaps, %d buffers (%d silent), %d adoptions\n", swaps, buffers.load(), silent.load(), decoded);
}

}  // namespace
