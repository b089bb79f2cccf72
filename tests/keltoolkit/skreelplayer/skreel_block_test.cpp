// Prepared programs and the block plan: every way of running a program gives
// the results, stack and memory of one instruction at a time.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "framework/core/log.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "support/capture.h"
#include "support/skreel_reference.h"

namespace {

SKREELCODEARRAY decoded(const char* url) {
  SKREELCODEARRAY code{};
  StdoutCapture quiet;
  skreel_decode_url_to_array(url, &code);
  return code;
}

std::string check_url(const char* url, std::vector<VAL32> t, std::vector<int> chunks, bool* block) {
  skreel_reference::Case c;
  c.code = decoded(url);
  for (std::size_t i = 0; i < c.stack.cell.size(); ++i) c.stack.cell[i] = 1000 + static_cast<VAL32>(i);
  c.stack.sp = 250;  // near the wrap of the ring
  c.t = std::move(t);
  c.chunks = std::move(chunks);
  return skreel_reference::check(c, block);
}

std::vector<VAL32> run_of(VAL32 from, int n) {
  std::vector<VAL32> t;
  for (int i = 0; i < n; ++i) t.push_back(from + static_cast<VAL32>(i));
  return t;
}

// Which programs get a block plan, and that each agrees with the model over
// blocks of every size, through the wrap of `t`, with the ring's `sp` near
// its wrap too.
TEST(SkreelBlock, ProgramsGetABlockPlanOnlyWhenEvaluationsAreIndependent) {
  struct Row {
    const char* url;
    bool block;
    const char* why;
  };
  const Row rows[] = {
      {"compiled!", true, "empty"},
      {"compiled!a", true, "saw"},
      {"compiled!aa5kaAkmd", true, "a whole expression"},
      {"compiled!a.63t", true, "a comparison with a number"},
      {"compiled!a3e.40h.0e", true, "division and remainder by numbers, by 0 too"},
      {"compiled!aaeaahaa0jaa21k", true, "every operand a vector"},
      {"compiled!a.1.2.3.4.5ffffd", true, "numbers folded"},
      {"compiled!xy.zGffad", true, "inputs"},
      {"compiled!2A.0", true, "leaves a cell behind: sp moves, nothing read from below"},
      {"compiled!acaa", true, "drops below its start and writes there: sp moves"},
      {"compiled!p", true, "reads the cell below, which no evaluation writes"},
      {"compiled!A.14.1q", true, "PICK by a number"},
      {"compiled!aa.FFq", true, "PICK 255 picks its own number"},
      {"compiled!aaraf", true, "SWAP"},
      {"compiled!ai", true, "stops: sp moves"},
      {"compiled!aZ", true, "an opcode beyond the behaviours stops"},
      {"compiled!1f", false, "adds one to the cell below each time"},
      {"compiled!f", false, "reads cells that earlier evaluations write"},
      {"compiled!c", false, "reads from below while sp moves"},
      {"compiled!aaq", false, "PICK by a computed depth"},
      {"compiled!7.5w5v", false, "store and fetch"},
      {"compiled!av", false, "fetch"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.url) + ": " + row.why);
    bool block = false;
    EXPECT_EQ(check_url(row.url, run_of(0xFFFFFF80u, 300), {1, 63, 64, 65, 7, 100}, &block), "");
    EXPECT_EQ(block, row.block);
  }
}

// Many random programs: every opcode, unbalanced stacks, PICK, fetch and
// store, ids without behaviour, `t` wrapping and jumping, blocks of all
// sizes. A good share of them must take the block path, or it is not tested.
TEST(SkreelBlock, RandomProgramsAgreeWithTheModelOnEveryPath) {
  std::mt19937 random(12);
  int blocks = 0;
  constexpr int kCases = 3000;
  for (int i = 0; i < kCases; ++i) {
    std::vector<uint8_t> bytes(64 + random() % 900);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    bool block = false;
    const std::string differs = skreel_reference::check(skreel_reference::make_case(bytes.data(), bytes.size()), &block);
    ASSERT_EQ(differs, "") << "case " << i;
    blocks += block ? 1 : 0;
  }
  EXPECT_GT(blocks, kCases / 5);
  EXPECT_LT(blocks, kCases);
}

TEST(SkreelBlock, NullArgumentsDoNothing) {
  SKREELPROGRAM* program = new SKREELPROGRAM;
  EXPECT_EQ(skreel_prepare(nullptr, program), 1);  // the empty program
  EXPECT_EQ(skreel_prepare(nullptr, nullptr), 0);
  STACK stack{}, memory{};
  stack.cell[0] = 9;
  VAL32 t = 5;
  VAL8 out = 77;
  EXPECT_EQ(skreel_run(program, &stack, &memory, nullptr, 5), 0);
  EXPECT_EQ(skreel_run(nullptr, &stack, &memory, nullptr, 5), 0);
  skreel_run_many(program, &stack, &memory, nullptr, &t, 0, &out);
  skreel_run_many(program, &stack, nullptr, nullptr, &t, 1, &out);
  EXPECT_EQ(out, 77);
  skreel_run_many(program, &stack, &memory, nullptr, &t, 1, &out);
  EXPECT_EQ(out, 0);
  EXPECT_EQ(stack.sp, 0);
  EXPECT_EQ(stack.cell[0], 9u);
  delete program;
}

}  // namespace
