// The stack machine, the audio callback and the hand-over of tunes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "framework/core/kel.h"
#include "framework/core/log.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "support/capture.h"

namespace {

// ---------------------------------------------------------------------------
// One evaluation on a fresh stack and memory

struct Machine {
  SKREELCODEARRAY code{};
  STACK stack{};
  STACK memory{};
  std::array<VAL32, 8> inputs{};

  explicit Machine(const char* url) {
    StdoutCapture quiet;
    skreel_decode_url_to_array(url, &code);
  }
  VAL8 run(VAL32 t) { return skreel_do_t_func(&code, &stack, &memory, inputs.data(), t); }
};

VAL8 eval(const char* url, VAL32 t = 0) { return Machine(url).run(t); }

TEST(SkreelMachine, ArithmeticWrapsAndNeverTraps) {
  Machine saw("compiled!a");
  EXPECT_EQ(saw.run(0), 0);
  EXPECT_EQ(saw.run(255), 255);
  EXPECT_EQ(saw.run(256), 0);
  EXPECT_EQ(saw.run(0x12345678), 0x78);

  EXPECT_EQ(eval("compiled!5.3d"), 15);
  EXPECT_EQ(eval("compiled!FFFFFFFF.2d"), 0xFE);  // 0x1FFFFFFFE wraps
  EXPECT_EQ(eval("compiled!11.4e"), 4);
  EXPECT_EQ(eval("compiled!5.0e"), 0);
  EXPECT_EQ(eval("compiled!5.0h"), 0);
  EXPECT_EQ(eval("compiled!11.4h"), 1);
  EXPECT_EQ(eval("compiled!FFFFFFFF.2f"), 1);
  EXPECT_EQ(eval("compiled!1.2g"), 0xFF);
  EXPECT_EQ(eval("compiled!1.20j"), 1);
  EXPECT_EQ(eval("compiled!1.21j"), 2);
  EXPECT_EQ(eval("compiled!1.7j"), 0x80);
  EXPECT_EQ(eval("compiled!1.20k"), 0);
  EXPECT_EQ(eval("compiled!100.1k"), 0x80);
  EXPECT_EQ(eval("compiled!80000000.1Fk"), 1);
  EXPECT_EQ(eval("compiled!FFFFFFFF.20k"), 0);
  EXPECT_EQ(eval("compiled!C.Al"), 8);
  EXPECT_EQ(eval("compiled!C.Am"), 14);
  EXPECT_EQ(eval("compiled!C.An"), 6);
  EXPECT_EQ(eval("compiled!Fo"), 0xF0);
}

TEST(SkreelMachine, ComparisonsAreUnsignedAndPushAllOnes) {
  EXPECT_EQ(eval("compiled!3.5s"), 255);
  EXPECT_EQ(eval("compiled!5.3s"), 0);
  EXPECT_EQ(eval("compiled!FFFFFFFF.1s"), 0);
  EXPECT_EQ(eval("compiled!FFFFFFFF.1t"), 255);
  EXPECT_EQ(eval("compiled!7.7u"), 255);
  EXPECT_EQ(eval("compiled!7.8u"), 0);
}

TEST(SkreelMachine, StackWordsAndMemory) {
  EXPECT_EQ(eval("compiled!7.5w5v"), 7);
  EXPECT_EQ(eval("compiled!7.105w5v"), 7);  // addresses are taken modulo 256
  EXPECT_EQ(eval("compiled!A.14.1q"), 10);
  EXPECT_EQ(eval("compiled!A.14.0q"), 20);
  EXPECT_EQ(eval("compiled!A.14.101q"), 10);  // the pick index is taken modulo 256
  EXPECT_EQ(eval("compiled!A.14r"), 10);
  EXPECT_EQ(eval("compiled!A.14rc"), 20);
  EXPECT_EQ(eval("compiled!Apf"), 20);
  EXPECT_EQ(eval("compiled!A.14c"), 10);

  Machine in("compiled!x.y.z.Gfff");
  in.inputs = {1, 2, 4, 8, 100, 100, 100, 100};
  EXPECT_EQ(in.run(0), 15);
  SKREELCODEARRAY input0{};
  input0.count = 1;
  input0.op[0] = {OP_INPUT0, 0};
  STACK stack{}, memory{};
  EXPECT_EQ(skreel_do_t_func(&input0, &stack, &memory, nullptr, 0), 0);  // no inputs read as zeros
}

TEST(SkreelMachine, StackIsARingThatKeepsItsContents) {
  STACK s{};
  push(&s, 1);
  EXPECT_EQ(s.sp, 1);
  EXPECT_EQ(s.cell[1], 1u);
  for (VAL32 v = 2; v <= 257; ++v) push(&s, v);  // the 257th push overwrites the oldest
  EXPECT_EQ(s.sp, 1);
  EXPECT_EQ(s.cell[1], 257u);
  EXPECT_EQ(skreel_pick(&s, 1), 256u);
  EXPECT_EQ(pop(&s), 257u);
  EXPECT_EQ(pop(&s), 256u);
  EXPECT_EQ(s.sp, 255);

  // A program that takes more than it pushes reads old cells.
  Machine m("compiled!f");
  m.stack.cell[0] = 5;
  m.stack.cell[255] = 6;
  EXPECT_EQ(m.run(0), 11);
  EXPECT_EQ(m.stack.sp, 254);

  // One that stops leaves what it did on the stack and gives 0.
  Machine stop("compiled!ai");
  EXPECT_EQ(stop.run(9), 0);
  EXPECT_EQ(stop.stack.sp, 1);
  EXPECT_EQ(stop.run(10), 0);
  EXPECT_EQ(stop.stack.sp, 2);
  EXPECT_EQ(stop.stack.cell[2], 10u);
  EXPECT_EQ(eval("compiled!5H"), 0);
  EXPECT_EQ(eval("compiled!5Z"), 0);

  // An empty program does not touch the stack.
  Machine empty("compiled!");
  EXPECT_EQ(empty.run(3), 0);
  EXPECT_EQ(empty.stack.sp, 0);
}

TEST(SkreelMachine, OddProgramsAreHandledSafely) {
  SKREELCODEARRAY code{};
  for (auto& op : code.op) op = {OP_TIME, 0};
  code.count = 60000;  // more than the array holds: only 256 are run
  STACK stack{}, memory{};
  EXPECT_EQ(skreel_do_t_func(&code, &stack, &memory, nullptr, 7), 7);
  EXPECT_EQ(stack.sp, 255);
  code.op[0].id = 200;  // an id beyond the table stops the evaluation
  EXPECT_EQ(skreel_do_t_func(&code, &stack, &memory, nullptr, 7), 0);
  EXPECT_EQ(skreel_do_t_func(nullptr, &stack, &memory, nullptr, 7), 0);
  EXPECT_EQ(skreel_do_t_func(&code, nullptr, &memory, nullptr, 7), 0);
}

// ---------------------------------------------------------------------------
// The callback

// Plays whole buffers through the callback and keeps what it printed.
struct Player {
  std::vector<int16_t> buffer;
  std::string log;

  std::vector<int16_t> play(int frames, int rate = 44100, int16_t fill = 0) {
    buffer.assign(static_cast<std::size_t>(frames) * 2, fill);
    StdoutCapture out;
    skreelplayer_callback(buffer.data(), frames, rate);
    kel_log_flush_deferred();  // what the main loop does at its next pass
    log += strip_log_prefixes(out.take());
    return buffer;
  }
  // The left channel of the last buffer played.
  std::vector<int16_t> left() const {
    std::vector<int16_t> l;
    for (std::size_t i = 0; i < buffer.size(); i += 2) l.push_back(buffer[i]);
    return l;
  }
};

// Frames at which the held output changes (a new value of `t` that changed it).
int changes(const std::vector<int16_t>& left, int16_t before) {
  int n = 0;
  for (int16_t v : left) {
    if (v != before) ++n;
    before = v;
  }
  return n;
}

class SkreelPlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    skreel_reset();
    kel_set_skreel_callback(nullptr);
  }
  Player p;
};

TEST_F(SkreelPlayer, FirstStepLandsOnTheSixthFrameInBothChannels) {
  skreel_play_url("compiled!a");
  p.play(1024);
  EXPECT_EQ(p.log, "DECODED 'compiled' 1 opcodes\n");
  // t = 1 gives 1 x 128.
  std::vector<int16_t> l = p.left();
  EXPECT_EQ(std::vector<int16_t>(l.begin(), l.begin() + 7), (std::vector<int16_t>{0, 0, 0, 0, 0, 128, 128}));
  for (std::size_t i = 0; i < p.buffer.size(); i += 2) ASSERT_EQ(p.buffer[i], p.buffer[i + 1]);
}

// The tune runs at its rate exactly, whatever the device's rate and buffer
// size: 10 s of frames make 80000 steps of the saw (each step moves the
// output), and every step is the same number of frames, to within one.
TEST_F(SkreelPlayer, TempoIsExactAtEveryRateAndBufferSize) {
  for (int rate : {44100, 48000, 22050, 96000}) {
    for (int frames : {256, 512, 1024, 1114, 4096}) {
      SCOPED_TRACE(::testing::Message() << rate << " Hz in buffers of " << frames);
      skreel_reset();
      skreel_play_url(nullptr);
      skreel_play_url("compiled!a");
      long steps = 0, frame = 0, last_step = -1;
      long shortest = 1L << 30, longest = 0;
      int16_t held = 0;
      for (long left = 10L * rate; left > 0; left -= frames) {
        const std::vector<int16_t> out = p.play(static_cast<int>(std::min<long>(left, frames)), rate);
        for (std::size_t i = 0; i < out.size(); i += 2, ++frame) {
          if (out[i] == held) continue;
          held = out[i];
          ++steps;
          if (last_step >= 0) {
            shortest = std::min(shortest, frame - last_step);
            longest = std::max(longest, frame - last_step);
          }
          last_step = frame;
        }
      }
      EXPECT_NEAR(steps, 80000, 1);
      EXPECT_LE(longest - shortest, 1);
    }
  }
}

TEST_F(SkreelPlayer, TimeRunsOnAcrossTunes) {
  skreel_play_url("compiled!0");
  p.play(1024);  // silent: t = 1 to 185, with 0.76 of a step already run
  EXPECT_TRUE(std::all_of(p.buffer.begin(), p.buffer.end(), [](int16_t v) { return v == 0; }));
  // "t 186 =": true at the first step of the next buffer, which the phase
  // carried over brings on its second frame.
  skreel_play_url(nullptr);
  skreel_play_url("compiled!a.BAu");
  p.play(1024);
  EXPECT_EQ(p.left()[0], 0);
  EXPECT_EQ(p.left()[1], 32640);
}

TEST_F(SkreelPlayer, FilterJumpsAndDecaysAsWorkedOut) {
  // "t 99 >": 0 until t = 100, then 255 for good.
  skreel_play_url("compiled!a.63t");
  std::vector<int16_t> distinct;
  for (int buffer = 0; buffer < 2; ++buffer) {
    p.play(1024);
    for (int16_t v : p.left()) {
      if (distinct.empty() ? v != 0 : v != distinct.back()) distinct.push_back(v);
    }
  }
  ASSERT_GE(distinct.size(), 3u);
  EXPECT_EQ(distinct[0], 32640);
  EXPECT_EQ(distinct[1], 32607);
  EXPECT_EQ(distinct[2], 32574);

  // An empty program steps the input down to 0; the output settles back to 0
  // within a few thousand steps.
  skreel_play_url(nullptr);
  skreel_play_url("compiled!");
  p.play(1024);
  const std::vector<int16_t> stepped = p.left();
  EXPECT_LT(*std::min_element(stepped.begin(), stepped.end()), -5000);
  for (int buffer = 0; buffer < 40; ++buffer) p.play(1024);
  EXPECT_TRUE(std::all_of(p.buffer.begin(), p.buffer.end(), [](int16_t v) { return v == 0; }));
}

TEST_F(SkreelPlayer, AddsIntoBothChannelsWrapping) {
  skreel_play_url("compiled!FF");
  p.play(1024, 44100, 30000);
  // 30000 + 32640 wraps to -2896: no clipping.
  EXPECT_EQ(p.buffer[10], -2896);
  EXPECT_EQ(p.buffer[11], -2896);
  EXPECT_EQ(p.buffer[0], 30000);  // nothing was added before the first step but the held 0
}

TEST_F(SkreelPlayer, VolumeScalesAndIsClampedTo16Bits) {
  skreel_set_volume(0.5f);
  skreel_play_url("compiled!FF");
  p.play(1024);
  EXPECT_EQ(p.left()[5], 16320);
  skreel_set_volume(4.0f);
  p.play(1024);
  EXPECT_EQ(p.left()[5], 32767);
  skreel_set_volume(-4.0f);
  p.play(1024);
  EXPECT_EQ(p.left()[5], -32768);
  skreel_set_volume(std::numeric_limits<float>::quiet_NaN());
  p.play(1024);
  EXPECT_EQ(p.left()[5], 0);
}

TEST_F(SkreelPlayer, TimeWrapsWithoutANewValue) {
  EXPECT_EQ(skreel_rate(), 8000.0f);
  skreel_play_url("compiled!a");
  // One frame at 1 Hz jumps t straight to 0xFFFFFF00 ...
  skreel_set_rate(4294967040.0f);
  p.play(1, 1);
  // ... then one step per frame up to 0xFFFFFFFF (255 on the saw).
  skreel_set_rate(1.0f);
  p.play(255, 1);
  const int16_t at_top = p.left().back();
  // The step to 0 makes no new value: the output holds.
  p.play(1, 1);
  EXPECT_EQ(p.left()[0], at_top);
  // The next step evaluates t = 1 (not 0): 128 after 32640.
  p.play(1, 1);
  EXPECT_EQ(p.left()[0], static_cast<int16_t>(static_cast<float>(128 - 32640) + 0.999f * at_top));
  EXPECT_NE(p.left()[0], static_cast<int16_t>(static_cast<float>(0 - 32640) + 0.999f * at_top));
}

TEST_F(SkreelPlayer, RatesOutsideThePhaseRangeStayDefined) {
  skreel_play_url("compiled!a");
  p.play(1024);
  const int16_t held = p.left().back();
  // Not a number, negative, or no stream rate: t stands still and the output holds.
  for (float rate : {std::numeric_limits<float>::quiet_NaN(), -8000.0f, 0.0f}) {
    skreel_set_rate(rate);
    p.play(64);
    EXPECT_TRUE(std::all_of(p.buffer.begin(), p.buffer.end(), [&](int16_t v) { return v == held; }));
  }
  skreel_set_rate(8000.0f);
  p.play(64, 0);
  EXPECT_TRUE(std::all_of(p.buffer.begin(), p.buffer.end(), [&](int16_t v) { return v == held; }));
  p.play(64, -44100);
  EXPECT_TRUE(std::all_of(p.buffer.begin(), p.buffer.end(), [&](int16_t v) { return v == held; }));
  // Far above the stream's rate: many steps a frame, still counted.
  skreel_set_rate(3e38f);
  p.play(64);
  skreel_set_rate(std::numeric_limits<float>::infinity());
  p.play(64);
  // Five times the stream's rate (a phase step beyond 32 bits): five steps a
  // frame, each frame a new value.
  skreel_set_rate(220500.0f);
  p.play(8);
  EXPECT_EQ(changes(p.left(), p.left()[0]), 7);
  // A null buffer or no frames adds nothing.
  skreelplayer_callback(nullptr, 1024, 44100);
  p.play(0);
}

TEST_F(SkreelPlayer, NewTunesKeepStackAndMemory) {
  // "7 5 ! 0": stores 7 at cell 5 and is silent.
  skreel_play_url("compiled!7.5w0");
  p.play(1024);
  EXPECT_EQ(changes(p.left(), 0), 0);
  skreel_play_url(nullptr);
  skreel_play_url("compiled!5v");  // "5 @"
  p.play(1024);
  EXPECT_EQ(p.left()[5], 7 * 128);
}

TEST_F(SkreelPlayer, StackCarriesOverToTheNextTune) {
  skreel_play_url("compiled!2A.0");  // leaves 42 behind at every step
  p.play(1024);
  skreel_play_url(nullptr);
  skreel_play_url("compiled!p");  // DUP reads it
  p.play(1024);
  EXPECT_EQ(p.left()[5], 42 * 128);
}

TEST_F(SkreelPlayer, ResetClearsStateButNotTheFilter) {
  skreel_set_rate(1000.0f);
  skreel_set_volume(0.25f);
  skreel_play_url("compiled!FF");
  p.play(1024);
  const int16_t held = p.left().back();
  EXPECT_NE(held, 0);
  skreel_reset();
  EXPECT_EQ(skreel_rate(), 8000.0f);
  // The callback is still installed, the program is gone, and the filter
  // goes on from where it was (a step down from 255 to 0).
  EXPECT_EQ(kel_settings.callback_skreel.load(), &skreelplayer_callback);
  p.play(1024);
  EXPECT_EQ(p.left()[0], held);
  EXPECT_EQ(p.log.find("DECODED", 1), std::string::npos);
  EXPECT_LT(p.left()[5], 0);
}

TEST_F(SkreelPlayer, HandOverInstallsAdoptsAndRemoves) {
  EXPECT_EQ(kel_settings.callback_skreel.load(), nullptr);
  const char* url = "compiled!a";
  EXPECT_EQ(skreel_play_url(url), 0);
  EXPECT_EQ(kel_settings.callback_skreel.load(), &skreelplayer_callback);
  EXPECT_EQ(skreel_play_url(url), 1);  // the first was not adopted yet
  p.play(16);
  EXPECT_EQ(p.log, "DECODED 'compiled' 1 opcodes\n");
  EXPECT_EQ(skreel_play_url(url), 0);
  p.play(16);  // same text, already adopted: not decoded again
  EXPECT_EQ(p.log, "DECODED 'compiled' 1 opcodes\n");

  EXPECT_EQ(skreel_play_url(nullptr), 0);
  EXPECT_EQ(kel_settings.callback_skreel.load(), nullptr);
  EXPECT_EQ(skreel_play_url(url), 0);
  p.play(16);  // the same address after a null is taken as new
  EXPECT_EQ(p.log, "DECODED 'compiled' 1 opcodes\nDECODED 'compiled' 1 opcodes\n");

  // A bad text is reported and the previous program plays on.
  skreel_play_url(nullptr);
  skreel_play_url("skreel://bad-name!FF");
  p.play(1024);
  EXPECT_EQ(p.log.substr(p.log.rfind("NAME")), "NAME DECODE ERROR!\n");
  EXPECT_GE(changes(p.left(), p.left()[0]), 184);  // still the saw
}

}  // namespace
