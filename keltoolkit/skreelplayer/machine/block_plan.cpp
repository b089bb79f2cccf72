// block_plan: the planner of the machine's block plan (block.h): from a
// program to the operations over lanes, the block words and the cells an
// evaluation leaves.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "keltoolkit/skreelplayer/machine/block.h"
#include "keltoolkit/skreelplayer/skreel_model.h"

namespace skreel_machine {
namespace {

struct Source {
  uint8_t kind;
  uint16_t index;  // uniform index or vector value
  VAL32 number;
};

constexpr Source number_source(VAL32 v) { return Source{kSourceNumber, 0, v}; }

bool is_power_of_two(VAL32 v) { return v != 0 && (v & (v - 1)) == 0; }

unsigned log2_of(VAL32 v) {
  unsigned n = 0;
  while (v > 1) {
    v >>= 1;
    ++n;
  }
  return n;
}

// Plans a program for the block path; the vector values are numbered in the
// order made (0 is `t`) and given slots at the end.
class Planner {
 public:
  explicit Planner(SKREELPROGRAM& program) : p_(program) {}

  // Plans the first `count` instructions; false when the program cannot run
  // on the block path.
  bool plan(const SKREELCODEARRAY& code, unsigned count) {
    Source result = number_source(0);
    bool stopped = false;
    for (unsigned i = 0; i < count && ok_ && !stopped; ++i) {
      const SKREELCODE& ins = code.op[i];
      const unsigned id = ins.id;
      switch (skreel_shape(id)) {
        case SKREEL_SHAPE::STOP:
          stopped = true;
          break;
        case SKREEL_SHAPE::PUSH_TIME:
          push(Source{kSourceVector, 0, 0});
          break;
        case SKREEL_SHAPE::PUSH_NUMBER:
          push(number_source(ins.val));
          break;
        case SKREEL_SHAPE::PUSH_INPUT:
          push(input(static_cast<uint8_t>(id - OP_INPUT0)));
          break;
        case SKREEL_SHAPE::DROP:
          --depth_;
          break;
        case SKREEL_SHAPE::BINARY: {
          const Source b = read(depth_);
          const Source a = read(static_cast<uint8_t>(depth_ - 1));
          --depth_;
          write(depth_, binary(id, a, b));
          break;
        }
        case SKREEL_SHAPE::UNARY:
          write(depth_, unary(id, read(depth_)));
          break;
        case SKREEL_SHAPE::DUP:
          push(read(depth_));
          break;
        case SKREEL_SHAPE::PICK: {
          const Source n = read(depth_);
          --depth_;
          if (n.kind != kSourceNumber) return false;  // a depth known only when it runs
          push(read(static_cast<uint8_t>(depth_ - (n.number & 0xFFu))));
          break;
        }
        case SKREEL_SHAPE::SWAP: {
          const Source b = read(depth_);
          const Source a = read(static_cast<uint8_t>(depth_ - 1));
          write(depth_, a);
          write(static_cast<uint8_t>(depth_ - 1), b);
          break;
        }
        case SKREEL_SHAPE::FETCH:
        case SKREEL_SHAPE::STORE:
          return false;
      }
    }
    if (!ok_) return false;
    if (!stopped && count > 0) {
      result = read(depth_);
      --depth_;
    }
    // Evaluations are independent when every cell read from below is one
    // that no evaluation of the block writes: with `sp` back where it
    // started, a cell that this program never writes; with `sp` moving, no
    // cell from below at all.
    for (std::size_t pos = 0; pos < 256; ++pos) {
      if (!live_in_[pos]) continue;
      if (depth_ != 0 || written_[pos]) return false;
    }
    p_.delta = depth_;
    p_.result = keep_of(0, result);
    for (std::size_t pos = 0; pos < 256; ++pos) {
      if (written_[pos]) p_.keep[p_.keeps++] = keep_of(static_cast<uint8_t>(pos), at_[pos]);
    }
    return allocate();
  }

 private:
  SKREELKEEP keep_of(uint8_t pos, const Source& s) { return SKREELKEEP{pos, s.kind, s.index, s.number}; }

  Source read(uint8_t pos) {
    if (written_[pos]) return at_[pos];
    live_in_[pos] = true;
    if (cell_uniform_[pos] == 0) cell_uniform_[pos] = static_cast<uint16_t>(add_uniform({kUniformCell, 0, pos, 0, 0}) + 1);
    return Source{kSourceUniform, static_cast<uint16_t>(cell_uniform_[pos] - 1), 0};
  }

  void write(uint8_t pos, const Source& s) {
    written_[pos] = true;
    at_[pos] = s;
  }

  void push(const Source& s) {
    ++depth_;
    write(depth_, s);
  }

  Source input(uint8_t k) {
    if (input_uniform_[k] == 0) input_uniform_[k] = static_cast<uint16_t>(add_uniform({kUniformInput, 0, k, 0, 0}) + 1);
    return Source{kSourceUniform, static_cast<uint16_t>(input_uniform_[k] - 1), 0};
  }

  int add_uniform(const SKREELUNIFORM& u) {
    if (p_.uniforms >= kMaxUniforms) {
      ok_ = false;
      return 0;
    }
    p_.uniform[p_.uniforms] = u;
    return p_.uniforms++;
  }

  // A number or a block word as a uniform index.
  uint16_t as_uniform(const Source& s) {
    if (s.kind == kSourceUniform) return s.index;
    return static_cast<uint16_t>(add_uniform({kUniformNumber, 0, 0, 0, s.number}));
  }

  Source add_lane(unsigned id, uint8_t form, uint16_t a, uint16_t b) {
    SKREELLANEOP& op = p_.lane[p_.lanes++];
    op = SKREELLANEOP{static_cast<uint8_t>(id), form, 0, 0, a, b};
    value_of_lane_[p_.lanes - 1] = static_cast<uint16_t>(vectors_);
    return Source{kSourceVector, static_cast<uint16_t>(vectors_++), 0};
  }

  Source binary(unsigned id, const Source& a, const Source& b) {
    if (a.kind == kSourceNumber && b.kind == kSourceNumber) return number_source(skreel_value(id, a.number, b.number));
    // Division and remainder by a number: by 0 they give 0, by a power of
    // two they are a shift and a mask (the same words, unsigned).
    if (b.kind == kSourceNumber && (id == OP_DIV || id == OP_MOD)) {
      if (b.number == 0) return number_source(0);
      if (is_power_of_two(b.number)) {
        if (id == OP_DIV) return binary(OP_RSHIFT, a, number_source(log2_of(b.number)));
        return binary(OP_AND, a, number_source(b.number - 1));
      }
    }
    if (b.kind == kSourceNumber && id == OP_RSHIFT && b.number > 31u) return number_source(0);
    if (a.kind != kSourceVector && b.kind != kSourceVector) {
      const uint16_t ua = as_uniform(a), ub = as_uniform(b);
      return Source{kSourceUniform, static_cast<uint16_t>(add_uniform({kUniformOp, static_cast<uint8_t>(id), ua, ub, 0})), 0};
    }
    if (a.kind == kSourceVector && b.kind == kSourceVector) return add_lane(id, kFormVV, a.index, b.index);
    if (a.kind == kSourceVector) return add_lane(id, kFormVU, a.index, as_uniform(b));
    return add_lane(id, kFormUV, as_uniform(a), b.index);
  }

  Source unary(unsigned id, const Source& a) {
    if (a.kind == kSourceNumber) return number_source(skreel_value(id, a.number, 0));
    if (a.kind == kSourceUniform)
      return Source{kSourceUniform, static_cast<uint16_t>(add_uniform({kUniformOp, static_cast<uint8_t>(id), a.index, a.index, 0})), 0};
    return add_lane(id, kFormV, a.index, 0);
  }

  // Drops the operations whose values nothing needs, then gives every vector
  // value a slot, reusing a slot once its value's last reader has run (never
  // for that reader's own result, so no operation writes a slot it reads).
  bool allocate() {
    constexpr int kForever = 1 << 20;
    const int lanes = p_.lanes;
    std::array<int, 260> last_use{};
    std::array<bool, 260> needed{};
    auto need = [&](uint8_t kind, uint16_t value) {
      if (kind != kSourceVector) return;
      needed[value] = true;
      last_use[value] = kForever;
    };
    need(p_.result.kind, p_.result.src);
    for (int k = 0; k < p_.keeps; ++k) need(p_.keep[static_cast<std::size_t>(k)].kind, p_.keep[static_cast<std::size_t>(k)].src);
    // Backwards: an operation is needed when its value is.
    std::array<bool, 256> live_op{};
    for (int i = lanes - 1; i >= 0; --i) {
      const auto at = static_cast<std::size_t>(i);
      const SKREELLANEOP& op = p_.lane[at];
      if (!needed[value_of_lane_[at]]) continue;
      live_op[at] = true;
      if (reads_vector_a(op)) {
        needed[op.a] = true;
        last_use[op.a] = std::max(last_use[op.a], i);
      }
      if (reads_vector_b(op)) {
        needed[op.b] = true;
        last_use[op.b] = std::max(last_use[op.b], i);
      }
    }
    std::array<uint8_t, 260> slot_of{};  // value 0, `t`, lives in slot 0
    std::array<bool, kMaxSlots> busy{};
    busy[0] = true;
    int slots = 1;
    uint16_t kept = 0;
    for (int i = 0; i < lanes; ++i) {
      const auto at = static_cast<std::size_t>(i);
      if (!live_op[at]) continue;
      const SKREELLANEOP planned = p_.lane[at];
      std::size_t dst = 1;
      while (dst < busy.size() && busy[dst]) ++dst;
      if (dst == busy.size()) return false;
      busy[dst] = true;
      slots = std::max(slots, static_cast<int>(dst) + 1);
      slot_of[value_of_lane_[at]] = static_cast<uint8_t>(dst);
      SKREELLANEOP op = planned;
      op.dst = static_cast<uint8_t>(dst);
      if (reads_vector_a(planned)) {
        op.a = slot_of[planned.a];
        if (planned.a != 0 && last_use[planned.a] == i) busy[slot_of[planned.a]] = false;
      }
      if (reads_vector_b(planned)) {
        op.b = slot_of[planned.b];
        if (planned.b != 0 && last_use[planned.b] == i) busy[slot_of[planned.b]] = false;
      }
      p_.lane[kept++] = op;
    }
    p_.lanes = kept;
    p_.slots = static_cast<uint8_t>(slots);
    auto place = [&](SKREELKEEP& k) {
      if (k.kind == kSourceVector) k.src = slot_of[k.src];
    };
    place(p_.result);
    for (int k = 0; k < p_.keeps; ++k) place(p_.keep[static_cast<std::size_t>(k)]);
    return true;
  }

  static bool reads_vector_a(const SKREELLANEOP& op) { return op.form != kFormUV; }
  static bool reads_vector_b(const SKREELLANEOP& op) { return op.form == kFormVV || op.form == kFormUV; }

 private:
  SKREELPROGRAM& p_;
  std::array<Source, 256> at_{};
  std::array<bool, 256> written_{};
  std::array<bool, 256> live_in_{};
  std::array<uint16_t, 256> cell_uniform_{};  // uniform index + 1, 0 for none
  std::array<uint16_t, 4> input_uniform_{};
  std::array<uint16_t, 256> value_of_lane_{};
  uint8_t depth_ = 0;  // modulo 256, from the `sp` the evaluation starts at
  int vectors_ = 1;    // 0 is `t`
  bool ok_ = true;
};

}  // namespace

bool plan_block(const SKREELCODEARRAY& code, unsigned count, SKREELPROGRAM& program) noexcept {
  return Planner(program).plan(code, count);
}

}  // namespace skreel_machine
