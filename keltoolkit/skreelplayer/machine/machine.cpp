// machine: the threaded machine that runs a program one evaluation at a
// time, and the machine's entry points (machine.h). The block plan is in
// block.h.
#include "keltoolkit/skreelplayer/machine/machine.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "keltoolkit/skreelplayer/machine/block.h"
#include "keltoolkit/skreelplayer/skreel_model.h"

namespace {

constexpr unsigned kMaxInstructions = 256;
constexpr std::array<VAL32, 8> kZeroInputs{};

// ---------------------------------------------------------------------------
// The threaded machine
//
// A prepared program is a row of steps, each naming its handler: three per
// opcode of the list (the opcode on its own, and fused after a number or
// after `t`: only operations on two values are fused), then "number PICK",
// and the steps that end an evaluation. Each handler jumps straight to the
// next step's.
//
// The top of the stack lives in a register (`top`); the stack's cell at `sp`
// is stale while it does, every other cell holds its value. Every cell that
// the plain machine writes is written here too (a pop leaves the popped
// value in its cell), so the ring is left exactly as one instruction at a
// time would leave it. Memory accesses go through the memory's own cells
// after the top is written back, so a memory that is the stack itself reads
// and writes as it would one instruction at a time.

// How a step enters an opcode's handler.
enum class Entry : uint8_t { kPlain, kAfterNumber, kAfterTime };
constexpr unsigned kEntries = 3;

constexpr uint8_t step_kind(unsigned op, Entry entry) {
  return static_cast<uint8_t>(op * kEntries + static_cast<unsigned>(entry));
}
enum : uint8_t {
  kStepPickNumber = kEntries * OP_COUNT,
  kStepEnd,    // pops the result
  kStepStop,   // an opcode without behaviour: result 0, nothing popped
  kStepEmpty,  // no instruction: result 0, the stack untouched
  kStepKinds
};

// The machine's registers during one evaluation.
struct Registers {
  VAL32* cell;
  VAL32* mem;
  const VAL32* in;
  VAL32 t;
  uint8_t sp;
  VAL32 top;

  VAL32& at(int offset) { return cell[static_cast<uint8_t>(sp + offset)]; }
  void push(VAL32 value) {
    cell[sp] = top;
    ++sp;
    top = value;
  }
};

// What the handler of opcode Op does when entered as `entry`, on the
// registers and the step `s`. False when the evaluation stops here (an
// opcode without behaviour; an entry that no step names).
template <int Op, Entry E>
[[gnu::always_inline]] inline bool step(Registers& r, const SKREELSTEP& s) {
  constexpr SKREEL_SHAPE kShape = skreel_shape(Op);
  if constexpr (E != Entry::kPlain) {
    // "number op" and "t op" in one step: the pushed value stays in its cell
    // above the result, as the pop left it.
    if constexpr (kShape != SKREEL_SHAPE::BINARY) {
      return false;
    } else {
      const VAL32 b = E == Entry::kAfterNumber ? s.val : r.t;
      r.at(1) = b;
      r.top = skreel_value<Op>(r.top, b);
      return true;
    }
  } else if constexpr (kShape == SKREEL_SHAPE::STOP) {
    return false;
  } else {
    if constexpr (kShape == SKREEL_SHAPE::PUSH_TIME) {
      r.push(r.t);
    } else if constexpr (kShape == SKREEL_SHAPE::PUSH_NUMBER) {
      r.push(s.val);
    } else if constexpr (kShape == SKREEL_SHAPE::PUSH_INPUT) {
      r.push(r.in[Op - OP_INPUT0]);
    } else if constexpr (kShape == SKREEL_SHAPE::DROP) {
      r.cell[r.sp] = r.top;
      --r.sp;
      r.top = r.cell[r.sp];
    } else if constexpr (kShape == SKREEL_SHAPE::BINARY) {
      const VAL32 b = r.top;
      r.cell[r.sp] = b;
      --r.sp;
      const VAL32 a = r.cell[r.sp];
      r.top = skreel_value<Op>(a, b);
    } else if constexpr (kShape == SKREEL_SHAPE::UNARY) {
      r.top = skreel_value<Op>(r.top, 0);
    } else if constexpr (kShape == SKREEL_SHAPE::DUP) {
      r.cell[r.sp] = r.top;
      ++r.sp;
    } else if constexpr (kShape == SKREEL_SHAPE::PICK) {
      // Pops n, then pushes the cell n below the new top (n modulo 256).
      const VAL32 n = r.top;
      r.cell[r.sp] = n;
      r.top = r.at(-1 - static_cast<int>(n & 0xFFu));
    } else if constexpr (kShape == SKREEL_SHAPE::SWAP) {
      const VAL32 under = r.at(-1);
      r.at(-1) = r.top;
      r.top = under;
    } else if constexpr (kShape == SKREEL_SHAPE::FETCH) {
      r.cell[r.sp] = r.top;
      r.top = r.mem[r.top & 0xFFu];
    } else {
      static_assert(kShape == SKREEL_SHAPE::STORE);
      const VAL32 address = r.top;
      r.cell[r.sp] = address;
      --r.sp;
      const VAL32 value = r.cell[r.sp];
      --r.sp;
      r.mem[address & 0xFFu] = value;
      r.top = r.cell[r.sp];
    }
    return true;
  }
}

VAL8 run_steps(const SKREELSTEP* ip, STACK* stack, STACK* memory, const VAL32* in, VAL32 t) {
  Registers r{stack->cell.data(), memory->cell.data(), in, t, stack->sp, 0};
  r.top = r.cell[r.sp];

  // The handlers by step kind: the three entries of every opcode, in id
  // order, then the others.
  static const void* const kHandlers[] = {
#define SKREEL_STEP_LABELS(e, ...) &&plain_##e, &&number_##e, &&time_##e,
      SKREEL_OPCODES(SKREEL_STEP_LABELS)
#undef SKREEL_STEP_LABELS
      &&pick_number, &&end, &&stop, &&empty};
  static_assert(sizeof kHandlers / sizeof kHandlers[0] == kStepKinds);

#define SKREEL_NEXT goto* kHandlers[(++ip)->op]
  goto* kHandlers[ip->op];

#define SKREEL_STEP_HANDLERS(e, ...)                                 \
  plain_##e : if (!step<e, Entry::kPlain>(r, *ip)) goto stop;        \
  SKREEL_NEXT;                                                       \
  number_##e : if (!step<e, Entry::kAfterNumber>(r, *ip)) goto stop; \
  SKREEL_NEXT;                                                       \
  time_##e : if (!step<e, Entry::kAfterTime>(r, *ip)) goto stop;     \
  SKREEL_NEXT;
  SKREEL_OPCODES(SKREEL_STEP_HANDLERS)
#undef SKREEL_STEP_HANDLERS

pick_number:
  // "n PICK" with n known: the number's cell is written before the read,
  // so n = 255 picks the number itself, as one instruction at a time would.
  r.cell[r.sp] = r.top;
  ++r.sp;
  r.cell[r.sp] = ip->val;
  r.top = r.at(-1 - static_cast<int>(ip->arg));
  SKREEL_NEXT;
#undef SKREEL_NEXT

end:
  r.cell[r.sp] = r.top;
  stack->sp = static_cast<uint8_t>(r.sp - 1);
  return static_cast<VAL8>(r.top & 0xFFu);
stop:
  r.cell[r.sp] = r.top;
  stack->sp = r.sp;
  return 0;
empty:
  return 0;
}

// The steps of a program: its first `count` instructions (at most 256) up to
// the first that stops, with the common pairs fused.
void prepare_steps(const SKREELCODEARRAY& code, std::array<SKREELSTEP, 257>& step) {
  const unsigned count = std::min<unsigned>(code.count, kMaxInstructions);
  if (count == 0) {
    step[0] = SKREELSTEP{kStepEmpty, 0, 0};
    return;
  }
  std::size_t n = 0;
  for (unsigned i = 0; i < count; ++i) {
    const SKREELCODE& ins = code.op[i];
    const SKREEL_SHAPE shape = skreel_shape(ins.id);
    if (shape == SKREEL_SHAPE::STOP) {
      step[n] = SKREELSTEP{kStepStop, 0, 0};
      return;
    }
    const unsigned next = i + 1 < count ? code.op[i + 1].id : unsigned{OP_COUNT};
    const SKREEL_SHAPE next_shape = skreel_shape(next);
    if (shape == SKREEL_SHAPE::PUSH_NUMBER && next_shape == SKREEL_SHAPE::BINARY) {
      step[n++] = SKREELSTEP{step_kind(next, Entry::kAfterNumber), 0, ins.val};
      ++i;
    } else if (shape == SKREEL_SHAPE::PUSH_TIME && next_shape == SKREEL_SHAPE::BINARY) {
      step[n++] = SKREELSTEP{step_kind(next, Entry::kAfterTime), 0, 0};
      ++i;
    } else if (shape == SKREEL_SHAPE::PUSH_NUMBER && next_shape == SKREEL_SHAPE::PICK) {
      step[n++] = SKREELSTEP{kStepPickNumber, static_cast<uint8_t>(ins.val & 0xFFu), ins.val};
      ++i;
    } else {
      step[n++] = SKREELSTEP{step_kind(ins.id, Entry::kPlain), 0, ins.val};
    }
  }
  step[n] = SKREELSTEP{kStepEnd, 0, 0};
}

constexpr SKREELCODEARRAY kEmptyProgram{};

}  // namespace

int skreel_prepare(const SKREELCODEARRAY* code, SKREELPROGRAM* program) noexcept {
  if (!program) return 0;
  const SKREELCODEARRAY& c = code ? *code : kEmptyProgram;
  *program = SKREELPROGRAM{};
  prepare_steps(c, program->step);
  const bool block = skreel_machine::plan_block(c, std::min<unsigned>(c.count, kMaxInstructions), *program);
  if (!block) {
    program->uniforms = program->lanes = program->keeps = 0;
    program->result = SKREELKEEP{};
    program->delta = 0;
    program->slots = 0;
  }
  program->block = block ? 1 : 0;
  return program->block;
}

VAL8 skreel_run(const SKREELPROGRAM* program, STACK* stack, STACK* memory, const VAL32* inputs,
                VAL32 t) noexcept {
  if (!program || !stack || !memory) return 0;
  return run_steps(program->step.data(), stack, memory, inputs ? inputs : kZeroInputs.data(), t);
}

void skreel_run_many(const SKREELPROGRAM* program, STACK* stack, STACK* memory, const VAL32* inputs,
                     const VAL32* t, int n, VAL8* out) noexcept {
  if (!program || !stack || !memory || !t || !out || n <= 0) return;
  const VAL32* in = inputs ? inputs : kZeroInputs.data();
  if (program->block) {
    for (int done = 0; done < n; done += skreel_machine::kLanes)
      skreel_machine::run_block(*program, stack, in, t + done, std::min(skreel_machine::kLanes, n - done),
                                out + done);
  } else {
    for (int i = 0; i < n; ++i) out[i] = run_steps(program->step.data(), stack, memory, in, t[i]);
  }
}

VAL8 skreel_do_t_func(const SKREELCODEARRAY* codes, STACK* stack, STACK* memory, const VAL32* inputs,
                      VAL32 t) noexcept {
  if (!codes || !stack || !memory) return 0;
  const unsigned count = std::min<unsigned>(codes->count, kMaxInstructions);
  if (count == 0) return 0;
  // One plain step per instruction, without the fusing: for a single run
  // that is cheaper than preparing. An opcode without behaviour stops in its
  // own handler; an id beyond the list stops here.
  std::array<SKREELSTEP, 257> steps;
  for (unsigned i = 0; i < count; ++i) {
    const SKREELCODE& ins = codes->op[i];
    steps[i] = SKREELSTEP{ins.id < OP_COUNT ? step_kind(ins.id, Entry::kPlain) : uint8_t{kStepStop}, 0, ins.val};
  }
  steps[count] = SKREELSTEP{kStepEnd, 0, 0};
  return run_steps(steps.data(), stack, memory, inputs ? inputs : kZeroInputs.data(), t);
}
