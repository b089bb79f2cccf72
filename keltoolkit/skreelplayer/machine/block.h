// block: the machine's block plan, shared by its planner (block_plan.cpp)
// and its runner (block_run.cpp). Inside the machine only.
//
// Every stack depth of a program is known before it runs (each opcode has a
// fixed stack effect; an opcode without behaviour ends it), so every cell
// that an evaluation reads or writes lies at a known place relative to the
// `sp` it starts from, except for the cells of PICK with a computed depth
// and the memory of fetch and store. When a program has neither, and no
// evaluation reads a cell that an earlier evaluation of the same block
// writes, its evaluations do not depend on one another: the block plan then
// runs it for a whole block of `t` values at once, one operation over all
// lanes. Each value of the plan is a number (known now), a word that is the
// same for the whole block (computed once per block: inputs, cells below
// the program's own, and what follows from them), or a vector of one word
// per lane. After the lanes, the cells that the evaluations leave on the
// stack are written as the last evaluation of each place would leave them.
//
// Threads: as the machine (machine.h): any thread, on data of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <tuple>

#include "keltoolkit/skreelplayer/machine/machine.h"

namespace skreel_machine {

// The operands of a lane operation (SKREELLANEOP::form): vector and vector,
// vector and block word, block word and vector, one vector.
enum : uint8_t { kFormVV, kFormVU, kFormUV, kFormV };
// What a block word is (SKREELUNIFORM::kind).
enum : uint8_t { kUniformNumber, kUniformCell, kUniformInput, kUniformOp };
// Where a value is found (SKREELKEEP::kind).
enum : uint8_t { kSourceNumber, kSourceUniform, kSourceVector };

constexpr int kLanes = SKREEL_BLOCK_LANES;
// Vector slots of the plan, lane 0 (the `t` values) included.
constexpr int kMaxSlots = 16;
constexpr std::size_t kMaxUniforms = std::tuple_size_v<decltype(SKREELPROGRAM::uniform)>;

// Plans the first `count` instructions (at most 256) of `code` into the
// block fields of `program`, whose other block fields are zero. Returns
// false when the program cannot run on the block path; the block fields
// are then partly written and must be cleared.
bool plan_block(const SKREELCODEARRAY& code, unsigned count, SKREELPROGRAM& program) noexcept;

// One block of 1 to kLanes evaluations of a planned program, for t[0] to
// t[n - 1]: writes out[0] to out[n - 1], the stack cells the evaluations
// leave and `sp`. Reads the first four words of `in`.
void run_block(const SKREELPROGRAM& program, STACK* stack, const VAL32* in, const VAL32* t, int n,
               VAL8* out) noexcept;

}  // namespace skreel_machine
