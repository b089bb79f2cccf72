// machine: the bytebeat engine's stack machine. It runs a program of the
// model (skreel_model.h) once for a value of `t`, or prepares it once and
// then runs it for as many values of `t` as needed.
//
// A prepared program gives results, stack and memory exactly those of
// skreel_do_t_func run once per value in order. The prepared form holds the
// program as the steps of a threaded machine (common pairs such as "number
// then shift" fused into one step, the top of the stack kept in a register)
// and, for a program whose evaluations do not depend on one another, a block
// plan that evaluates up to SKREEL_BLOCK_LANES values of `t` at once, one
// operation over all of them. A program gets a block plan when it has no
// fetch or store, every PICK's depth is a number in the program, and no
// evaluation reads a stack cell that an earlier evaluation writes; every
// other program runs on the threaded machine alone.
//
// Threads: any thread, on data of its own (a program, stack and memory are
// used by one thread at a time). Nothing here allocates, locks, blocks or
// writes output, so the player runs it on the audio thread.
#pragma once

#include <array>
#include <cstdint>

#include "keltoolkit/skreelplayer/skreel_model.h"

// Runs `codes` once for time `t`. Takes the first `count` instructions (at
// most 256); the result is the low 8 bits of the popped top of the stack, or
// 0 for an empty program or one that stops on an opcode without behaviour
// (then nothing is popped). Reads the first four words of `inputs` (null
// reads as zeros); writes `stack` and, through fetch and store, `memory`,
// which may be the same ring as `stack`. A null `codes`, `stack` or
// `memory` gives 0 and does nothing. The program is made ready to run on
// every call; to run one program many times, prepare it once
// (skreel_prepare) and use skreel_run or skreel_run_many.
VAL8 skreel_do_t_func(const SKREELCODEARRAY* codes, STACK* stack, STACK* memory, const VAL32* inputs,
                      VAL32 t) noexcept;

// ---------------------------------------------------------------------------
// Prepared programs

// The most values of `t` that one pass of a block plan evaluates.
inline constexpr int SKREEL_BLOCK_LANES = 256;

// The prepared form. The fields are the engine's own: build them only with
// skreel_prepare; the records below only say what they hold.
//
// One step of the threaded machine: its handler, a small argument and the
// number it pushes, if any.
struct SKREELSTEP {
  uint8_t op;
  uint8_t arg;
  VAL32 val;
};
// One operation of a block plan over all lanes: opcode, the kinds of its
// operands (vector or block word), the slot it writes and its operands.
struct SKREELLANEOP {
  uint8_t op;
  uint8_t form;
  uint8_t dst;
  uint8_t spare;
  uint16_t a;
  uint16_t b;
};
// One word of a block plan that is the same for every lane: a number, a
// stack cell below the program's own, an input or an operation on two such
// words.
struct SKREELUNIFORM {
  uint8_t kind;
  uint8_t op;
  uint16_t a;
  uint16_t b;
  VAL32 val;
};
// Where a value of a block plan is found: a number, a block word or a slot.
// `pos` is the stack cell, relative to where the evaluation starts, that
// the value is left in.
struct SKREELKEEP {
  uint8_t pos;
  uint8_t kind;
  uint16_t src;
  VAL32 number;
};

// A prepared program: a plain value of fixed size (copyable, holding no
// pointer into anything), which the caller owns.
struct SKREELPROGRAM {
  std::array<SKREELSTEP, 257> step;  // the threaded machine's steps, up to a final one
  uint8_t block;                     // 1 when the block plan below applies
  uint8_t delta;                     // change of `sp` per evaluation, modulo 256
  uint8_t slots;                     // vector slots the plan uses
  uint16_t uniforms;
  uint16_t lanes;
  uint16_t keeps;
  SKREELKEEP result;                       // the value popped as the result
  std::array<SKREELUNIFORM, 768> uniform;  // computed in order at the start of a block
  std::array<SKREELLANEOP, 256> lane;      // run in order over the lanes
  std::array<SKREELKEEP, 256> keep;        // the cells an evaluation leaves written
};

// Prepares the first `count` instructions (at most 256) of `code` into
// `program`, overwriting all of it; a null `code` prepares the empty
// program. `code` is read during the call only: the prepared program holds
// no pointer to it. Returns 1 when the program got a block plan, else 0
// (also for a null `program`, which is left alone). Bounded time (a few
// passes over at most 256 instructions), no allocation.
int skreel_prepare(const SKREELCODEARRAY* code, SKREELPROGRAM* program) noexcept;

// One evaluation for time `t`, as skreel_do_t_func on the program `program`
// was prepared from: the same result, and `stack` and `memory` (which may be
// the same ring) left the same. Reads the first four words of `inputs` (null
// reads as zeros). A null `program`, `stack` or `memory` gives 0 and does
// nothing. Always runs on the threaded machine.
VAL8 skreel_run(const SKREELPROGRAM* program, STACK* stack, STACK* memory, const VAL32* inputs,
                VAL32 t) noexcept;

// `n` evaluations, for t[0] to t[n - 1] in that order (any values): out[i]
// is the result for t[i], and the stack and memory are left as the `n`
// evaluations one after the other leave them. `t` and `out` hold at least
// `n` words each; `out` may not overlap `t`, `stack` or `memory`. Uses the
// block plan when the program has one (a plan never touches `memory`).
// Does nothing for n <= 0 or a null pointer (a null `inputs` reads as
// zeros).
void skreel_run_many(const SKREELPROGRAM* program, STACK* stack, STACK* memory, const VAL32* inputs,
                     const VAL32* t, int n, VAL8* out) noexcept;
