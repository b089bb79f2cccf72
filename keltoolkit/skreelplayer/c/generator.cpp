#include "keltoolkit/skreelplayer/c/generator.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "framework/core/kel_assert.h"
#include "keltoolkit/skreelplayer/c/front.h"
#include "keltoolkit/skreelplayer/skreel_model.h"

namespace skreel_c {
namespace {

// How a value is pushed: as C's value, or as the mask of its truth (all
// ones when it is not 0, else 0), or as the mask of its falsity.
enum Form : int { kValue = 0, kMask = 1, kNotMask = 2 };

class Build {
 public:
  Build& op(int id) {
    c_.ins.push_back({static_cast<uint8_t>(id), 0});
    return *this;
  }
  Build& num(uint32_t v) {
    c_.ins.push_back({static_cast<uint8_t>(OP_PUSH_INT), v});
    return *this;
  }
  Build& pick(int depth) { return depth == 0 ? op(OP_DUP) : num(static_cast<uint32_t>(depth)).op(OP_PICK); }
  Build& code(const Code& sub) {
    const int at = c_.size();
    c_.ins.insert(c_.ins.end(), sub.ins.begin(), sub.ins.end());
    for (const Span& s : sub.spans) c_.spans.push_back({s.begin + at, s.end + at, s.key});
    return *this;
  }
  Code take() { return std::move(c_); }

 private:
  Code c_;
};

class Generator {
 public:
  Generator(Tree* tree, Analysis* an, const Simplifier* needs) : t_(tree), an_(an), needs_(needs) {}

  const Code& gen(int id, Form form) {
    const int key = id * 3 + form;
    if (auto it = memo_.find(key); it != memo_.end()) return it->second;
    Code c = build(id, form);
    c.spans.push_back({0, c.size(), key});
    return memo_.emplace(key, std::move(c)).first->second;
  }

 private:
  using Options = std::vector<Code>;
  static Code shortest(Options options) {
    KEL_ASSERT(!options.empty());
    std::size_t best = 0;
    for (std::size_t i = 1; i < options.size(); ++i)
      if (options[i].size() < options[best].size()) best = i;
    return std::move(options[best]);
  }

  const Node& at(int id) const { return t_->at(id); }
  bool truth(int id) const { return is_truth(at(id).op); }
  const Code& E(int id) { return gen(id, kValue); }
  const Code& M(int id) { return gen(id, kMask); }
  const Code& N(int id) { return gen(id, kNotMask); }
  uint32_t need(int id) const { return needs_->need(id); }
  // Values 0 or 1 whatever their kind.
  bool zero_or_one(int id) {
    const Facts f = an_->facts(id);
    return f.lo >= 0 && f.hi <= 1;
  }

  Code build(int id, Form form) {
    const Node n = at(id);
    if (n.op == Op::Const) {
      if (form == kValue) return Build().num(n.val).take();
      return Build().num((n.val != 0) == (form == kMask) ? kAll : 0).take();
    }
    if (form != kValue) {
      if (truth(id)) return truth_mask(id, form == kMask);
      // The truth of a value: x != 0 is x > 0 unsigned.
      return Build().code(E(id)).num(0).op(form == kMask ? OP_GT : OP_EQ).take();
    }
    if (truth(id)) return truth_value(id);
    switch (n.op) {
      case Op::T: return Build().op(OP_TIME).take();
      case Op::Neg:
        if (truth(n.a)) return M(n.a);
        return Build().num(0).code(E(n.a)).op(OP_SUB).take();
      case Op::BitNot: {
        Options o{Build().code(E(n.a)).op(OP_NOT).take()};
        if (truth(n.a)) o.push_back(Build().code(M(n.a)).num(1).op(OP_SUB).take());
        return shortest(std::move(o));
      }
      case Op::Add:
      case Op::Sub:
      case Op::Mul: return arithmetic(n);
      case Op::And:
      case Op::Or:
      case Op::Xor: {
        const int code = n.op == Op::And ? OP_AND : n.op == Op::Or ? OP_OR : OP_XOR;
        Options o{Build().code(E(n.a)).code(E(n.b)).op(code).take()};
        if (n.op == Op::And) {
          // A truth 0 or 1 and a value 0 or 1: the mask of one picks the other.
          if (truth(n.a) && zero_or_one(n.b)) o.push_back(Build().code(M(n.a)).code(E(n.b)).op(OP_AND).take());
          if (truth(n.b) && zero_or_one(n.a)) o.push_back(Build().code(E(n.a)).code(M(n.b)).op(OP_AND).take());
        }
        return shortest(std::move(o));
      }
      case Op::Shl: {
        Options o{Build().code(E(n.a)).code(E(n.b)).op(OP_LSHIFT).take()};
        if (truth(n.a) && t_->is_const(n.b))
          o.push_back(Build().code(M(n.a)).num(uint32_t{1} << (at(n.b).val & 31)).op(OP_AND).take());
        return shortest(std::move(o));
      }
      case Op::Shr: return shift_right(id, n);
      case Op::Div: return divide(id, n);
      case Op::Mod: return remainder(n);
      case Op::Cond: return choose(n);
      case Op::Index: return index(id, n);
      default: break;
    }
    return Build().num(0).take();  // not reached: every kind is above
  }

  // ---- truth values

  // The value 0 or 1 of a truth node, from one of its masks.
  Code truth_value(int id) {
    const Node n = at(id);
    Options o{Build().code(M(id)).num(1).op(OP_AND).take(), Build().code(N(id)).num(1).op(OP_ADD).take()};
    if (n.op == Op::LAnd || n.op == Op::LOr) {
      const int code = n.op == Op::LAnd ? OP_AND : OP_OR;
      if (zero_or_one(n.a) && zero_or_one(n.b)) o.push_back(Build().code(E(n.a)).code(E(n.b)).op(code).take());
      if (n.op == Op::LAnd && zero_or_one(n.b)) o.push_back(Build().code(M(n.a)).code(E(n.b)).op(OP_AND).take());
      if (n.op == Op::LAnd && zero_or_one(n.a)) o.push_back(Build().code(E(n.a)).code(M(n.b)).op(OP_AND).take());
    }
    if (n.op == Op::LNot && zero_or_one(n.a)) o.push_back(Build().code(E(n.a)).num(1).op(OP_XOR).take());
    return shortest(std::move(o));
  }

  // The mask of a truth node (`mask`), or of its negation.
  Code truth_mask(int id, bool mask) {
    const Node n = at(id);
    switch (n.op) {
      case Op::LNot: return mask ? N(n.a) : M(n.a);
      case Op::LAnd:
        if (mask) return Build().code(M(n.a)).code(M(n.b)).op(OP_AND).take();
        return Build().code(N(n.a)).code(N(n.b)).op(OP_OR).take();
      case Op::LOr:
        return shortest({mask ? Build().code(M(n.a)).code(M(n.b)).op(OP_OR).take()
                              : Build().code(N(n.a)).code(N(n.b)).op(OP_AND).take(),
                         Build().code(E(n.a)).code(E(n.b)).op(OP_OR).num(0).op(mask ? OP_GT : OP_EQ).take()});
      default: break;
    }
    // A comparison; its negation is the opposite comparison.
    Op rel = n.op;
    if (!mask) {
      constexpr std::array<std::pair<Op, Op>, 6> kInverse = {
          {{Op::Lt, Op::Ge}, {Op::Ge, Op::Lt}, {Op::Gt, Op::Le}, {Op::Le, Op::Gt}, {Op::Eq, Op::Ne}, {Op::Ne, Op::Eq}}};
      for (auto [from, to] : kInverse)
        if (n.op == from) {
          rel = to;
          break;
        }
    }
    return compare_mask(n, rel);
  }

  // The mask of `x rel y` for the operands of comparison node `n`.
  Code compare_mask(const Node& n, Op rel) {
    // Equality of two truths: compare their masks.
    const bool truths = (rel == Op::Eq || rel == Op::Ne) && truth(n.a) && truth(n.b);
    // An int comparison is the machine's unsigned one when the operands
    // have the same sign; otherwise both are moved by 2^31 first.
    bool shifted = false;
    if (!n.opuns && !truths) {
      const Facts x = an_->operand(n.a, false), y = an_->operand(n.b, false);
      const bool same_sign = (x.lo >= 0 && y.lo >= 0) || (x.hi < 0 && y.hi < 0);
      shifted = !same_sign;
    }
    struct Side {
      Code code;
      bool known;
      uint32_t value;
    };
    const auto side = [&](int x) {
      if (t_->is_const(x)) {
        const uint32_t v = at(x).val ^ (shifted ? kSign : 0);
        return Side{Build().num(v).take(), true, v};
      }
      if (truths) return Side{M(x), false, 0};
      // Adding 2^31 is the same as flipping the sign bit, and merges with a
      // number added before it.
      if (shifted) return Side{Build().code(E(x)).num(kSign).op(OP_ADD).take(), false, 0};
      return Side{E(x), false, 0};
    };
    const Side x = side(n.a), y = side(n.b);
    const auto two = [&](const Code& first, const Code& second, int code) {
      return Build().code(first).code(second).op(code).take();
    };
    const auto with_not = [](Code c) {
      Build b;
      b.code(c).op(OP_NOT);
      return b.take();
    };
    const auto num = [](uint32_t v) { return Build().num(v).take(); };
    Options o;
    switch (rel) {
      case Op::Lt: o.push_back(two(x.code, y.code, OP_LT)); break;
      case Op::Gt: o.push_back(two(x.code, y.code, OP_GT)); break;
      case Op::Le:
        o.push_back(with_not(two(x.code, y.code, OP_GT)));
        if (y.known && y.value != kAll) o.push_back(two(x.code, num(y.value + 1), OP_LT));
        if (x.known && x.value != 0) o.push_back(two(num(x.value - 1), y.code, OP_LT));
        break;
      case Op::Ge:
        o.push_back(with_not(two(x.code, y.code, OP_LT)));
        if (y.known && y.value != 0) o.push_back(two(x.code, num(y.value - 1), OP_GT));
        if (x.known && x.value != kAll) o.push_back(two(num(x.value + 1), y.code, OP_GT));
        break;
      case Op::Eq: o.push_back(two(x.code, y.code, OP_EQ)); break;
      default:  // Ne
        o.push_back(with_not(two(x.code, y.code, OP_EQ)));
        if (y.known && y.value == 0) o.push_back(two(x.code, num(0), OP_GT));
        if (x.known && x.value == 0) o.push_back(two(num(0), y.code, OP_LT));
        break;
    }
    return shortest(std::move(o));
  }

  // ---- arithmetic

  Code arithmetic(const Node& n) {
    const int code = n.op == Op::Add ? OP_ADD : n.op == Op::Sub ? OP_SUB : OP_MUL;
    Options o{Build().code(E(n.a)).code(E(n.b)).op(code).take()};
    // With a truth 0 or 1 as the second operand: x + b = x - mask(b),
    // x - b = x + mask(b), x * b = x & mask(b).
    const int with_mask = n.op == Op::Add ? OP_SUB : n.op == Op::Sub ? OP_ADD : OP_AND;
    if (truth(n.b)) o.push_back(Build().code(E(n.a)).code(M(n.b)).op(with_mask).take());
    if (truth(n.a) && n.op != Op::Sub) o.push_back(Build().code(E(n.b)).code(M(n.a)).op(with_mask).take());
    // A large constant added is a small one taken away (shorter URL text).
    if (n.op == Op::Add && t_->is_const(n.b) && (at(n.b).val & kSign) != 0)
      o.push_back(Build().code(E(n.a)).num(0u - at(n.b).val).op(OP_SUB).take());
    return shortest(std::move(o));
  }

  // The shift count as the machine needs it: masked to 5 bits unless its
  // range is within 0 to 31 already.
  Code count(int b) {
    const Facts f = an_->facts(b);
    if (f.lo >= 0 && f.hi <= 31) return E(b);
    return Build().code(E(b)).num(31).op(OP_AND).take();
  }

  Code shift_right(int id, const Node& n) {
    const uint32_t d = need(id);
    const Facts x = an_->operand(n.a, n.uns);
    if (t_->is_const(n.b)) {
      const int k = static_cast<int>(at(n.b).val & 31);
      const bool arithmetic = !n.uns && x.lo < 0 && (d & top_bits(k)) != 0;
      if (!arithmetic) return Build().code(E(n.a)).num(static_cast<uint32_t>(k)).op(OP_RSHIFT).take();
      // floor(x / 2^k) = ((x + B) >> k) - B / 2^k for a multiple B of 2^k
      // that makes x + B non-negative.
      const int64_t step = int64_t{1} << k;
      const int64_t bias = std::min<int64_t>((-x.lo + step - 1) / step * step, int64_t{1} << 31);
      return Build()
          .code(E(n.a))
          .num(bits_of(bias))
          .op(OP_ADD)
          .num(static_cast<uint32_t>(k))
          .op(OP_RSHIFT)
          .num(bits_of(bias >> k))
          .op(OP_SUB)
          .take();
    }
    const Facts k = an_->facts(n.b);
    const int most = (k.lo >= 0 && k.hi <= 31) ? static_cast<int>(k.hi) : 31;
    const bool arithmetic = !n.uns && x.lo < 0 && (d & top_bits(most)) != 0;
    if (!arithmetic) return Build().code(E(n.a)).code(count(n.b)).op(OP_RSHIFT).take();
    const Code cnt = count(n.b);
    return shortest({
        // s = sign mask; ((x ^ s) >> k) ^ s
        Build()
            .code(E(n.a))
            .op(OP_DUP)
            .num(0x7FFFFFFF)
            .op(OP_GT)
            .op(OP_SWAP)
            .pick(1)
            .op(OP_XOR)
            .code(cnt)
            .op(OP_RSHIFT)
            .op(OP_XOR)
            .take(),
        // ((x + 2^31) >> k) - (2^31 >> k)
        Build()
            .code(E(n.a))
            .num(kSign)
            .op(OP_ADD)
            .code(cnt)
            .op(OP_RSHIFT)
            .num(kSign)
            .code(cnt)
            .op(OP_RSHIFT)
            .op(OP_SUB)
            .take(),
    });
  }

  // [x] -> [f |x|] where f is the sign of x as +1 or -1, and |x| its size
  // (2^31 for INT_MIN, as an unsigned word).
  Code sign_and_size(int x) {
    return Build()
        .code(E(x))
        .op(OP_DUP)
        .num(0x7FFFFFFF)
        .op(OP_GT)
        .num(1)
        .op(OP_OR)
        .op(OP_SWAP)
        .pick(1)
        .op(OP_MUL)
        .take();
  }
  // [x] -> [|x|]
  Code size_of(int x) {
    return Build().code(E(x)).op(OP_DUP).num(0x7FFFFFFF).op(OP_GT).num(1).op(OP_OR).op(OP_MUL).take();
  }
  // [] -> [x + (s & m)] where s is the sign mask of x: the bias that turns
  // floor into truncation for a divisor m + 1 that is a power of two.
  Code biased(int x, uint32_t m) {
    return Build().code(E(x)).op(OP_DUP).num(0x7FFFFFFF).op(OP_GT).num(m).op(OP_AND).op(OP_ADD).take();
  }

  Code divide(int id, const Node& n) {
    const Code plain = Build().code(E(n.a)).code(E(n.b)).op(OP_DIV).take();
    if (n.opuns) return plain;
    const bool a_nonneg = an_->operand(n.a, false).lo >= 0;
    const bool b_nonneg = an_->operand(n.b, false).lo >= 0;
    if (a_nonneg && b_nonneg) return plain;
    if (t_->is_const(n.b)) {
      const uint32_t c = at(n.b).val;
      const bool negative = (c & kSign) != 0;
      const uint32_t m = negative ? 0u - c : c;
      if (a_nonneg) return Build().num(0).code(E(n.a)).num(m).op(OP_DIV).op(OP_SUB).take();
      Build general;
      if (negative) general.num(0);
      general.code(sign_and_size(n.a)).num(m).op(OP_DIV).op(OP_MUL);
      if (negative) general.op(OP_SUB);
      Options o{general.take()};
      if (is_power_of_two(m)) {
        const int k = std::countr_zero(m);
        const bool arithmetic = (need(id) & top_bits(k)) != 0;
        Build b;
        if (negative) b.num(0);
        b.code(biased(n.a, m - 1));
        if (arithmetic) {
          b.num(kSign).op(OP_ADD).num(static_cast<uint32_t>(k)).op(OP_RSHIFT).num(kSign >> k).op(OP_SUB);
        } else {
          b.num(static_cast<uint32_t>(k)).op(OP_RSHIFT);
        }
        if (negative) b.op(OP_SUB);
        o.push_back(b.take());
      }
      return shortest(std::move(o));
    }
    if (a_nonneg) return Build().code(sign_and_size(n.b)).code(E(n.a)).op(OP_SWAP).op(OP_DIV).op(OP_MUL).take();
    if (b_nonneg) return Build().code(sign_and_size(n.a)).code(E(n.b)).op(OP_DIV).op(OP_MUL).take();
    return Build()
        .code(sign_and_size(n.b))
        .code(sign_and_size(n.a))
        .pick(2)
        .op(OP_DIV)
        .op(OP_MUL)
        .op(OP_SWAP)
        .op(OP_DROP)
        .op(OP_MUL)
        .take();
  }

  Code remainder(const Node& n) {
    const Code plain = Build().code(E(n.a)).code(E(n.b)).op(OP_MOD).take();
    if (n.opuns) return plain;
    const bool a_nonneg = an_->operand(n.a, false).lo >= 0;
    const bool b_nonneg = an_->operand(n.b, false).lo >= 0;
    if (a_nonneg && b_nonneg) return plain;
    // The remainder takes the dividend's sign; its size is |a| % |b|.
    if (t_->is_const(n.b)) {
      const uint32_t c = at(n.b).val;
      const uint32_t m = (c & kSign) != 0 ? 0u - c : c;
      if (a_nonneg) return Build().code(E(n.a)).num(m).op(OP_MOD).take();
      Options o{Build().code(sign_and_size(n.a)).num(m).op(OP_MOD).op(OP_MUL).take()};
      if (is_power_of_two(m))  // a - ((a + bias) & -m)
        o.push_back(Build().code(E(n.a)).op(OP_DUP).code(Build().op(OP_DUP).num(0x7FFFFFFF).op(OP_GT).num(m - 1).op(OP_AND).op(OP_ADD).take())
                        .num(0u - m).op(OP_AND).op(OP_SUB).take());
      return shortest(std::move(o));
    }
    if (a_nonneg) return Build().code(E(n.a)).code(size_of(n.b)).op(OP_MOD).take();
    const Code divisor = b_nonneg ? E(n.b) : size_of(n.b);
    return Build().code(sign_and_size(n.a)).code(divisor).op(OP_MOD).op(OP_MUL).take();
  }

  // ---- c ? x : y, with both sides computed and a mask choosing

  Code choose(const Node& n) {
    const int c = n.a, x = n.b, y = n.c;
    const bool kx = t_->is_const(x), ky = t_->is_const(y);
    const uint32_t vx = kx ? at(x).val : 0, vy = ky ? at(y).val : 0;
    Options o{
        // y ^ ((x ^ y) & m)
        Build().code(E(y)).code(E(x)).pick(1).op(OP_XOR).code(M(c)).op(OP_AND).op(OP_XOR).take(),
        // x ^ ((x ^ y) & n)
        Build().code(E(x)).code(E(y)).pick(1).op(OP_XOR).code(N(c)).op(OP_AND).op(OP_XOR).take(),
    };
    if (kx) {  // ((y - x) & n) + x
      if (vx == 0) {
        o.push_back(Build().code(E(y)).code(N(c)).op(OP_AND).take());
      } else {
        o.push_back(Build().code(E(y)).num(vx).op(OP_SUB).code(N(c)).op(OP_AND).num(vx).op(OP_ADD).take());
      }
    }
    if (ky) {  // ((x - y) & m) + y
      if (vy == 0) {
        o.push_back(Build().code(E(x)).code(M(c)).op(OP_AND).take());
      } else {
        o.push_back(Build().code(E(x)).num(vy).op(OP_SUB).code(M(c)).op(OP_AND).num(vy).op(OP_ADD).take());
      }
    }
    if (zero_or_one(c) && !truth(c)) {
      // A condition whose value is 0 or 1: y + (x - y) * c.
      if (kx && ky) {
        if (vy == 0) {
          o.push_back(Build().code(E(c)).num(vx).op(OP_MUL).take());
        } else {
          o.push_back(Build().code(E(c)).num(vx - vy).op(OP_MUL).num(vy).op(OP_ADD).take());
        }
      } else if (ky && vy == 0) {
        o.push_back(Build().code(E(x)).code(E(c)).op(OP_MUL).take());
      } else {
        o.push_back(Build().code(E(y)).code(E(x)).pick(1).op(OP_SUB).code(E(c)).op(OP_MUL).op(OP_ADD).take());
      }
    }
    if (kx && ky) {
      o.push_back(Build().code(M(c)).num(vx ^ vy).op(OP_AND).num(vy).op(OP_XOR).take());
      o.push_back(Build().code(N(c)).num(vx ^ vy).op(OP_AND).num(vx).op(OP_XOR).take());
      // A step of one: y - m(c) or y + m(c), x + n(c) or x - n(c).
      if (vx == vy + 1) o.push_back(Build().num(vy).code(M(c)).op(OP_SUB).take());
      if (vx + 1 == vy) o.push_back(Build().num(vy).code(M(c)).op(OP_ADD).take());
      if (vx == vy + 1) o.push_back(Build().num(vx).code(N(c)).op(OP_ADD).take());
      if (vx + 1 == vy) o.push_back(Build().num(vx).code(N(c)).op(OP_SUB).take());
    }
    return shortest(std::move(o));
  }

  // ---- "..."[i]: the bytes packed into words, read by shifting

  struct Packing {
    int width = 0;      // bits per field: 1, 2, 4, 8, 16 or 32
    int words = 0;      // 32-bit words of fields
    uint32_t base = 0;  // added to every field
    bool check = false; // mask the result with i <u length
    std::vector<uint32_t> word;
  };

  Code index(int id, const Node& n) {
    const std::string& s = t_->string(n.val);
    const int64_t len = static_cast<int64_t>(s.size());
    const Facts i = an_->facts(n.a);
    const uint32_t d = need(id);
    // Only the bits of a value up to the highest needed one matter: when
    // they are at most the 8 of a char, its bits are packed as they are
    // (a negative char needs no base below 0); otherwise its signed value.
    const int value_bits = 32 - std::countl_zero(d);
    const auto value_at = [&](int64_t j) -> int64_t {
      const int64_t v = (j >= 0 && j < len) ? static_cast<int8_t>(s[static_cast<std::size_t>(j)]) : 0;
      return value_bits <= 8 ? static_cast<int64_t>(bits_of(v) & low_bits(value_bits)) : v;
    };
    // The positions the index reaches (a negative int reaches none: as the
    // machine's word it is beyond every string).
    const bool negative = i.lo < 0;
    const int64_t first = std::max<int64_t>(i.lo, 0);
    const int64_t last = i.hi;
    const int64_t last_inside = std::min(last, len - 1);

    Options options;
    for (int width = 1; width <= 32; width *= 2) {
      const int64_t per_word = 32 / width;
      // 0: base 0; every reached position beyond the fields (or negative)
      //    shifts the words out entirely and reads 0.
      // 1: any base; every reached position is packed.
      // 2: any base; positions outside the string are masked off by a check.
      for (int mode = 0; mode < 3; ++mode) {
        const bool check = mode == 2;
        if (mode == 1 && negative) continue;
        const int64_t needed = mode == 1 ? last + 1 : last_inside + 1;
        const int64_t words = std::max<int64_t>(1, (needed + per_word - 1) / per_word);
        const bool always = check && width == 8;  // always possible: the values span at most 255
        if (words > 256 && !always) continue;
        const int64_t capacity = words * per_word;
        if (mode == 0) {
          if (last >= capacity && last * width >= kTwo32) continue;  // the shift would wrap round
          if (negative && -i.lo * width > kTwo32 - 32 * words) continue;
        }
        const int64_t packed_last = check ? last_inside : std::min(last, capacity - 1);
        int64_t lo = 0, hi = 0;
        bool any = false;
        for (int64_t j = first; j <= packed_last; ++j) {
          const int64_t v = value_at(j);
          lo = any ? std::min(lo, v) : v;
          hi = any ? std::max(hi, v) : v;
          any = true;
        }
        if (mode == 0) {
          if (lo < 0) continue;
          lo = 0;
        }
        if (width < 32 && hi - lo >= (int64_t{1} << width)) continue;
        Packing p{width, static_cast<int>(words), bits_of(lo), check,
                  std::vector<uint32_t>(static_cast<std::size_t>(words), 0)};
        for (int64_t j = first; j <= packed_last; ++j) {
          const uint32_t field = bits_of(value_at(j) - lo) & low_bits(width);
          const int64_t bit = j * width;
          p.word[static_cast<std::size_t>(bit / 32)] |= field << (bit % 32);
        }
        options.push_back(packed(n, p, d));
      }
    }
    return shortest(std::move(options));
  }

  Code packed(const Node& n, const Packing& p, uint32_t d) {
    Build b;
    const int scale = std::countr_zero(static_cast<uint32_t>(p.width));
    const auto scaled = [&](Build* out) {
      if (scale == 0) return;
      out->num(static_cast<uint32_t>(scale)).op(OP_LSHIFT);
    };
    if (p.check) {
      // [i] -> [m i], m = i <u length
      b.code(E(n.a)).op(OP_DUP).num(static_cast<uint32_t>(t_->string(n.val).size())).op(OP_LT).op(OP_SWAP);
      scaled(&b);
    } else if (p.words == 1) {
      b.num(p.word[0]);
      // The scaled index as a node, so that ((x >> s) & m) << k folds. A
      // node that stands elsewhere in the tree may be computed only on the
      // bits needed there; the shift amount needs all of them.
      const Node i = at(n.a);
      const int shifted =
          scale > 0 ? rewrite_scaled(t_->make(Op::Shl, i.uns, i.uns, n.a, t_->konst(static_cast<uint32_t>(scale), false)))
                    : n.a;
      if (need(shifted) == kAll) {
        b.code(E(shifted));
      } else {
        b.code(E(n.a));
        scaled(&b);
      }
    } else {
      b.code(E(n.a));
      scaled(&b);
    }
    if (p.words == 1) {
      if (p.check) b.num(p.word[0]).op(OP_SWAP);
      b.op(OP_RSHIFT);
    } else {
      // [s] -> [x1 .. x(k-1) s] -> [x1 .. x(k-1) x0] -> or'ed
      for (int k = 1; k < p.words; ++k)
        b.num(p.word[static_cast<std::size_t>(k)]).pick(1).num(static_cast<uint32_t>(32 * k)).op(OP_XOR).op(OP_RSHIFT).op(OP_SWAP);
      b.num(p.word[0]).op(OP_SWAP).op(OP_RSHIFT);
      for (int k = 1; k < p.words; ++k) b.op(OP_OR);
    }
    if (p.width < 32 && (d & ~low_bits(p.width)) != 0) b.num(low_bits(p.width)).op(OP_AND);
    if (p.base != 0) b.num(p.base).op(OP_ADD);
    if (p.check) b.op(OP_AND);
    return b.take();
  }

  // i << k written as the shifts of i's own terms where that is shorter.
  int rewrite_scaled(int shifted) {
    const Node s = at(shifted);
    const Node a = at(s.a);
    const uint32_t k = at(s.b).val;
    if (a.op == Op::And && t_->is_const(a.b)) {
      const uint32_t w = at(a.b).val;
      const Node inner = at(a.a);
      if (inner.op == Op::Shr && t_->is_const(inner.b) && inner.uns == s.uns && static_cast<uint64_t>(w) << k <= kAll) {
        const uint32_t sh = at(inner.b).val & 31;
        if (sh > 0 && w <= low_bits(32 - static_cast<int>(sh))) {
          const int moved = sh >= k ? t_->make(Op::Shr, s.uns, s.uns, inner.a, t_->konst(sh - k, false))
                                    : t_->make(Op::Shl, s.uns, s.uns, inner.a, t_->konst(k - sh, false));
          const int result = t_->make(Op::And, s.uns, s.uns, moved, t_->konst(w << k, s.uns));
          if (need(moved) == kAll && need(result) == kAll) return result;
        }
      }
    }
    return shifted;
  }

  Tree* t_;
  Analysis* an_;
  const Simplifier* needs_;
  std::unordered_map<int, Code> memo_;
};

}  // namespace

Code generate(Tree* tree, Analysis* an, const Simplifier* needs, int root) {
  Generator generator(tree, an, needs);
  return generator.gen(root, kValue);
}

}  // namespace skreel_c
