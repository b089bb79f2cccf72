// A plain model of the bytebeat machine, one instruction at a time, and a
// differential check of the engine's ways of running a program (once per
// value, prepared, and many values at once) against it. Shared by the tests
// and the engine's fuzz target.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "keltoolkit/skreelplayer/skreel.h"

namespace skreel_reference {

// One evaluation, instruction by instruction, through push and pop.
inline VAL8 eval(const SKREELCODEARRAY& code, STACK& s, STACK& m, const VAL32* in, VAL32 t) {
  const unsigned count = std::min<unsigned>(code.count, 256);
  if (count == 0) return 0;
  for (unsigned i = 0; i < count; ++i) {
    const SKREELCODE& ins = code.op[i];
    VAL32 a = 0, b = 0;
    switch (ins.id) {
      case OP_TIME: push(&s, t); continue;
      case OP_PUSH_INT: push(&s, ins.val); continue;
      case OP_DROP: pop(&s); continue;
      case OP_NOT: push(&s, ~pop(&s)); continue;
      case OP_DUP: push(&s, skreel_pick(&s, 0)); continue;
      case OP_PICK: {
        const VAL32 n = pop(&s);
        push(&s, skreel_pick(&s, static_cast<VAL8>(n & 255)));
        continue;
      }
      case OP_SWAP: std::swap(s.cell[s.sp], s.cell[static_cast<uint8_t>(s.sp - 1)]); continue;
      case OP_FETCH: push(&s, m.cell[pop(&s) & 255]); continue;
      case OP_STORE: {
        const VAL32 address = pop(&s);
        const VAL32 value = pop(&s);
        m.cell[address & 255] = value;
        continue;
      }
      case OP_INPUT0: case OP_INPUT1: case OP_INPUT2: case OP_INPUT3:
        push(&s, in ? in[ins.id - OP_INPUT0] : 0);
        continue;
      case OP_MUL: case OP_DIV: case OP_ADD: case OP_SUB: case OP_MOD: case OP_LSHIFT: case OP_RSHIFT:
      case OP_AND: case OP_OR: case OP_XOR: case OP_LT: case OP_GT: case OP_EQ:
        b = pop(&s);
        a = pop(&s);
        break;
      default:
        return 0;  // no behaviour: stop
    }
    VAL32 r = 0;
    switch (ins.id) {
      case OP_MUL: r = a * b; break;
      case OP_DIV: r = b ? a / b : 0; break;
      case OP_ADD: r = a + b; break;
      case OP_SUB: r = a - b; break;
      case OP_MOD: r = b ? a % b : 0; break;
      case OP_LSHIFT: r = a << (b % 32); break;
      case OP_RSHIFT: r = b < 32 ? a >> b : 0; break;
      case OP_AND: r = a & b; break;
      case OP_OR: r = a | b; break;
      case OP_XOR: r = a ^ b; break;
      case OP_LT: r = a < b ? 0xFFFFFFFFu : 0; break;
      case OP_GT: r = a > b ? 0xFFFFFFFFu : 0; break;
      default: r = a == b ? 0xFFFFFFFFu : 0; break;
    }
    push(&s, r);
  }
  return static_cast<VAL8>(pop(&s) & 255);
}

// Reads a test case from bytes; past the end it reads zeros.
class Bytes {
 public:
  Bytes(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  uint8_t next() { return at_ < size_ ? data_[at_++] : 0; }
  uint32_t word() {
    uint32_t w = 0;
    for (int i = 0; i < 4; ++i) w = w << 8 | next();
    return w;
  }
  bool done() const { return at_ >= size_; }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

struct Case {
  SKREELCODEARRAY code{};
  STACK stack{};
  STACK memory{};
  std::array<VAL32, 8> inputs{};
  std::vector<VAL32> t;        // the values of `t`, in order
  std::vector<int> chunks;     // how many of them each call of run_many takes
};

inline VAL32 number(Bytes& in) {
  static constexpr VAL32 kSpecial[] = {0, 1, 2, 3, 4, 8, 16, 31, 32, 33, 63, 64, 255, 256, 257, 0x7FFFFFFF, 0xFFFFFFFF};
  const uint8_t how = in.next();
  if (how < 96) return how % 40;
  if (how < 192) return kSpecial[how % std::size(kSpecial)];
  return in.word();
}

// A program made mostly of the opcodes tunes use (so that many programs are
// whole expressions), with every other id now and then, an initial stack,
// memory and inputs, and a run of `t` values with wraps and jumps.
inline Case make_case(const uint8_t* data, std::size_t size) {
  static constexpr uint8_t kBinary[] = {OP_MUL, OP_DIV, OP_ADD, OP_SUB, OP_MOD, OP_LSHIFT, OP_RSHIFT,
                                        OP_AND, OP_OR,  OP_XOR, OP_LT,  OP_GT,  OP_EQ};
  static constexpr uint8_t kStackWords[] = {OP_DUP, OP_DROP, OP_SWAP, OP_PICK};
  Bytes in(data, size);
  Case c;
  const uint8_t shape = in.next();
  const unsigned length = in.next() % 40 + (shape & 1 ? in.next() : 0);
  unsigned n = 0;
  if (shape & 16) {
    // A whole expression, as tunes are: operands before each operation, and
    // PICK only by a number within the stack the expression built.
    int depth = 0;
    auto put = [&](SKREELCODE op) {
      if (n < 256) c.code.op[n++] = op;
    };
    while (n + static_cast<unsigned>(depth) < std::min(length, 250u) && !in.done()) {
      const uint8_t kind = in.next();
      if (depth < 2 || kind < 90) {
        const uint8_t which = in.next();
        put(which < 120 ? SKREELCODE{OP_TIME, 0}
                        : which < 240 ? SKREELCODE{OP_PUSH_INT, number(in)}
                                      : SKREELCODE{static_cast<uint8_t>(OP_INPUT0 + which % 4), 0});
        ++depth;
      } else if (kind < 230) {
        put({kBinary[in.next() % std::size(kBinary)], 0});
        --depth;
      } else if (kind < 240) {
        put({OP_NOT, 0});
      } else if (kind < 248) {
        put({OP_PUSH_INT, static_cast<VAL32>(in.next() % depth)});
        put({OP_PICK, 0});
        ++depth;
      } else {
        put({static_cast<uint8_t>(in.next() & 1 ? OP_DUP : OP_SWAP), 0});
        depth += c.code.op[n - 1].id == OP_DUP ? 1 : 0;
      }
    }
    for (; depth > 1; --depth) put({kBinary[in.next() % std::size(kBinary)], 0});
  }
  for (; !(shape & 16) && n < std::min(length, 256u) && !in.done(); ++n) {
    const uint8_t kind = in.next();
    SKREELCODE& op = c.code.op[n];
    if (kind < 50) op = {OP_TIME, 0};
    else if (kind < 100) op = {OP_PUSH_INT, number(in)};
    else if (kind < 190) op = {kBinary[in.next() % std::size(kBinary)], 0};
    else if (kind < 200) op = {OP_NOT, 0};
    else if (kind < 220) op = {kStackWords[in.next() % std::size(kStackWords)], 0};
    else if (kind < 230) op = {static_cast<uint8_t>(in.next() & 1 ? OP_FETCH : OP_STORE), 0};
    else if (kind < 240) op = {static_cast<uint8_t>(OP_INPUT0 + in.next() % 4), 0};
    else op = {in.next(), 0};  // any id, those without behaviour and beyond the list too
  }
  c.code.count = static_cast<uint16_t>(n);
  if ((shape & 0x12) == 2) c.code.count = static_cast<uint16_t>(n + 300);  // more than the array holds

  // The ring and memory start from a seeded pattern, the stack anywhere.
  uint32_t seed = in.word() | 1;
  auto random = [&seed] {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    return seed;
  };
  for (VAL32& v : c.stack.cell) v = shape & 4 ? random() : random() % 8;
  for (VAL32& v : c.memory.cell) v = random();
  for (VAL32& v : c.inputs) v = random();
  c.stack.sp = in.next();

  VAL32 t = shape & 8 ? 0xFFFFFFFFu - in.next() : in.word();
  const int evaluations = 1 + in.next() * 2;
  for (int i = 0; i < evaluations; ++i) {
    c.t.push_back(t);
    const uint8_t step = in.next();
    t += step < 240 ? 1 : step < 250 ? step - 230 : in.word();
  }
  for (int left = evaluations; left > 0;) {
    const int chunk = std::min(left, 1 + in.next() % 130);
    c.chunks.push_back(chunk);
    left -= chunk;
  }
  return c;
}

inline bool same(const STACK& a, const STACK& b) { return a.sp == b.sp && a.cell == b.cell; }

// Runs the case through the model and through the engine's three ways;
// empty when all agree after every chunk, else what differed first.
inline std::string check(const Case& c, bool* had_block_plan = nullptr) {
  static SKREELPROGRAM program;  // large: kept off the stack
  const int block = skreel_prepare(&c.code, &program);
  if (had_block_plan) *had_block_plan = block == 1;

  STACK ms = c.stack, mm = c.memory;              // the model
  STACK os = c.stack, om = c.memory;              // skreel_do_t_func
  STACK rs = c.stack, rm = c.memory;              // skreel_run
  STACK bs = c.stack, bm = c.memory;              // skreel_run_many
  std::vector<VAL8> out(c.t.size());
  std::size_t at = 0;
  char what[160];
  for (std::size_t k = 0; k < c.chunks.size(); ++k) {
    const int chunk = c.chunks[k];
    skreel_run_many(&program, &bs, &bm, c.inputs.data(), c.t.data() + at, chunk, out.data() + at);
    for (int i = 0; i < chunk; ++i, ++at) {
      const VAL8 want = eval(c.code, ms, mm, c.inputs.data(), c.t[at]);
      const VAL8 once = skreel_do_t_func(&c.code, &os, &om, c.inputs.data(), c.t[at]);
      const VAL8 run = skreel_run(&program, &rs, &rm, c.inputs.data(), c.t[at]);
      if (once != want || run != want || out[at] != want) {
        std::snprintf(what, sizeof what, "evaluation %zu (t %u): model %u, do_t_func %u, run %u, run_many %u", at,
                      c.t[at], want, once, run, out[at]);
        return what;
      }
      if (!same(os, ms) || !same(om, mm) || !same(rs, ms) || !same(rm, mm)) {
        std::snprintf(what, sizeof what, "evaluation %zu: stack or memory of one evaluation differ", at);
        return what;
      }
    }
    if (!same(bs, ms) || !same(bm, mm)) {
      std::snprintf(what, sizeof what, "after chunk %zu (evaluation %zu, block plan %d): run_many's %s differs", k, at,
                    block, same(bs, ms) ? "memory" : "stack");
      return what;
    }
  }
  return "";
}

}  // namespace skreel_reference
