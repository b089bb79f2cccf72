// block_run: the runner of the machine's block plan (block.h): one
// operation over every lane of a block, in loops the compiler turns into
// vector instructions where the target has them (and into plain ones where
// it has not).
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "keltoolkit/skreelplayer/machine/block.h"
#include "keltoolkit/skreelplayer/skreel_model.h"

namespace skreel_machine {
namespace {

using Lanes = VAL32[kLanes];

// Lanes go in groups of a fixed size (so that the loops below have a trip
// count the compiler knows); a block runs as many groups as it has values.
constexpr int kGroup = 32;
static_assert(kLanes % kGroup == 0);

constexpr bool on_values(int op) {
  return skreel_shape(static_cast<unsigned>(op)) == SKREEL_SHAPE::BINARY ||
         skreel_shape(static_cast<unsigned>(op)) == SKREEL_SHAPE::UNARY;
}

// The loops over the lanes for operation Op, one per form of its operands.
// They are written once and always inlined into the entry points below,
// which give them the instruction set they are compiled for.
template <int Op>
[[gnu::always_inline]] inline void lanes_vv(int groups, VAL32* __restrict d, const VAL32* __restrict a,
                                            const VAL32* __restrict b) {
  for (int g = 0; g < groups; ++g, d += kGroup, a += kGroup, b += kGroup)
    for (int i = 0; i < kGroup; ++i) d[i] = skreel_value<Op>(a[i], b[i]);
}
template <int Op>
[[gnu::always_inline]] inline void lanes_vu(int groups, VAL32* __restrict d, const VAL32* __restrict a,
                                            VAL32 b) {
  for (int g = 0; g < groups; ++g, d += kGroup, a += kGroup)
    for (int i = 0; i < kGroup; ++i) d[i] = skreel_value<Op>(a[i], b);
}
template <int Op>
[[gnu::always_inline]] inline void lanes_uv(int groups, VAL32* __restrict d, VAL32 a,
                                            const VAL32* __restrict b) {
  for (int g = 0; g < groups; ++g, d += kGroup, b += kGroup)
    for (int i = 0; i < kGroup; ++i) d[i] = skreel_value<Op>(a, b[i]);
}
template <int Op>
[[gnu::always_inline]] inline void lanes_v(int groups, VAL32* __restrict d, const VAL32* __restrict a) {
  for (int g = 0; g < groups; ++g, d += kGroup, a += kGroup)
    for (int i = 0; i < kGroup; ++i) d[i] = skreel_value<Op>(a[i], 0);
}

// One lane operation of Op (an operation on values) over `groups` groups.
template <int Op>
[[gnu::always_inline]] inline void lane_op(int groups, const SKREELLANEOP& op, Lanes* lane, const VAL32* u) {
  static_assert(on_values(Op));
  if constexpr (skreel_shape(Op) == SKREEL_SHAPE::UNARY) {
    lanes_v<Op>(groups, lane[op.dst], lane[op.a]);
  } else {
    switch (op.form) {
      case kFormVV:
        lanes_vv<Op>(groups, lane[op.dst], lane[op.a], lane[op.b]);
        break;
      case kFormVU:
        lanes_vu<Op>(groups, lane[op.dst], lane[op.a], u[op.b]);
        break;
      case kFormUV:
        lanes_uv<Op>(groups, lane[op.dst], u[op.a], lane[op.b]);
        break;
      default:
        break;
    }
  }
}

using LaneOp = void (*)(int groups, const SKREELLANEOP& op, Lanes* lane, const VAL32* u);

// The entry points: for the baseline of the target, and for processors with
// AVX2 (eight lanes an instruction, shifts by a count per lane, 32-bit
// multiplication), which the block runner picks when the processor has it.
template <int Op>
[[gnu::noinline]] void lane_op_base(int groups, const SKREELLANEOP& op, Lanes* lane, const VAL32* u) {
  lane_op<Op>(groups, op, lane, u);
}
#if defined(__x86_64__)
template <int Op>
[[gnu::noinline, gnu::target("avx2")]] void lane_op_wide(int groups, const SKREELLANEOP& op, Lanes* lane,
                                                          const VAL32* u) {
  lane_op<Op>(groups, op, lane, u);
}
bool processor_is_wide() {
  __builtin_cpu_init();  // may run before the library's own start-up
  return __builtin_cpu_supports("avx2") != 0;
}
#else
bool processor_is_wide() { return false; }
#endif
// Asked once at start-up, so that the audio thread never waits on it.
const bool kWide = processor_is_wide();

// The entry point of every opcode, by id: null for the opcodes that are not
// operations on values (the planner makes lane operations of no others).
template <int Op, bool Wide>
constexpr LaneOp lane_op_entry() {
  if constexpr (!on_values(Op)) {
    return nullptr;
  } else if constexpr (Wide) {
#if defined(__x86_64__)
    return &lane_op_wide<Op>;
#else
    return nullptr;
#endif
  } else {
    return &lane_op_base<Op>;
  }
}
template <bool Wide, std::size_t... Op>
constexpr std::array<LaneOp, OP_COUNT> make_lane_ops(std::index_sequence<Op...>) {
  return {{lane_op_entry<static_cast<int>(Op), Wide>()...}};
}
constexpr std::array<LaneOp, OP_COUNT> kBaseLaneOps = make_lane_ops<false>(std::make_index_sequence<OP_COUNT>{});
constexpr std::array<LaneOp, OP_COUNT> kWideLaneOps = make_lane_ops<true>(std::make_index_sequence<OP_COUNT>{});

}  // namespace

void run_block(const SKREELPROGRAM& p, STACK* stack, const VAL32* in, const VAL32* t, int n,
               VAL8* out) noexcept {
  alignas(64) Lanes lane[kMaxSlots];
  VAL32 u[kMaxUniforms];
  const int groups = (n + kGroup - 1) / kGroup;
  std::copy_n(t, n, lane[0]);
  std::fill(lane[0] + n, lane[0] + groups * kGroup, 0u);
  VAL32* const cell = stack->cell.data();
  const uint8_t sp0 = stack->sp;

  for (std::size_t i = 0; i < p.uniforms; ++i) {
    const SKREELUNIFORM& w = p.uniform[i];
    switch (w.kind) {
      case kUniformNumber:
        u[i] = w.val;
        break;
      case kUniformCell:
        u[i] = cell[static_cast<uint8_t>(sp0 + w.a)];
        break;
      case kUniformInput:
        u[i] = in[w.a];
        break;
      default:
        u[i] = skreel_value(w.op, u[w.a], u[w.b]);
        break;
    }
  }
  const std::array<LaneOp, OP_COUNT>& lane_ops = kWide ? kWideLaneOps : kBaseLaneOps;
  for (std::size_t i = 0; i < p.lanes; ++i) {
    const SKREELLANEOP& op = p.lane[i];
    if (op.op >= OP_COUNT) continue;
    if (const LaneOp run = lane_ops[op.op]) run(groups, op, lane, u);
  }

  auto value = [&](const SKREELKEEP& k, int i) -> VAL32 {
    if (k.kind == kSourceVector) return lane[k.src][i];
    return k.kind == kSourceUniform ? u[k.src] : k.number;
  };
  if (p.result.kind == kSourceVector) {
    const VAL32* r = lane[p.result.src];
    const int whole = n / kGroup * kGroup;
    for (int g = 0; g < whole; g += kGroup)
      for (int i = 0; i < kGroup; ++i) out[g + i] = static_cast<VAL8>(r[g + i] & 0xFFu);
    for (int i = whole; i < n; ++i) out[i] = static_cast<VAL8>(r[i] & 0xFFu);
  } else {
    std::fill_n(out, n, static_cast<VAL8>(value(p.result, 0) & 0xFFu));
  }
  // The cells left on the stack: with `sp` back where it started every
  // evaluation writes the same cells and the last one's stay; otherwise
  // each evaluation writes its own, in order.
  for (int i = p.delta == 0 ? n - 1 : 0; i < n; ++i) {
    const auto base = static_cast<uint8_t>(sp0 + i * p.delta);
    for (std::size_t k = 0; k < p.keeps; ++k) {
      const SKREELKEEP& keep = p.keep[k];
      cell[static_cast<uint8_t>(base + keep.pos)] = value(keep, i);
    }
  }
  stack->sp = static_cast<uint8_t>(sp0 + n * p.delta);
}

}  // namespace skreel_machine
