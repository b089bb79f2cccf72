#include "keltoolkit/skreelplayer/c/analysis.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <string>

#include "keltoolkit/skreelplayer/c/front.h"

namespace skreel_c {
namespace {

constexpr int64_t type_min(bool uns) { return uns ? 0 : kIntMin; }
constexpr int64_t type_max(bool uns) { return uns ? kUnsMax : kIntMax; }
constexpr int64_t value_of(uint32_t bits, bool uns) {
  return uns ? static_cast<int64_t>(bits) : static_cast<int64_t>(static_cast<int32_t>(bits));
}
Facts full(bool uns) { return {type_min(uns), type_max(uns), 0, 0}; }
Facts exact(uint32_t v, bool uns) { return {value_of(v, uns), value_of(v, uns), ~v, v}; }

// Makes the interval and the known bits agree.
Facts settle(Facts f, bool uns) {
  f.lo = std::max(f.lo, type_min(uns));
  f.hi = std::min(f.hi, type_max(uns));
  if ((f.zero & f.one) != 0 || f.lo > f.hi) return full(uns);  // not reached by sound facts
  // The bits bound the pattern; for an int, only when the sign is known.
  const uint32_t plo = f.one, phi = ~f.zero;
  if (uns || (f.zero & kSign) != 0 || (f.one & kSign) != 0) {
    f.lo = std::max(f.lo, value_of(plo, uns));
    f.hi = std::min(f.hi, value_of(phi, uns));
  }
  if (f.lo > f.hi) return full(uns);
  // An interval that does not wrap in the pattern fixes the bits above the
  // highest one in which its ends differ.
  if (uns || f.lo >= 0 || f.hi < 0) {
    const uint32_t a = bits_of(f.lo), b = bits_of(f.hi);
    const uint32_t fixed = (a == b) ? kAll : ~up_to_top(a ^ b);
    f.zero |= ~a & fixed;
    f.one |= a & fixed;
  }
  if ((f.zero & f.one) != 0) return full(uns);
  return f;
}

// The same values seen in another type (C's conversion keeps the bits).
Facts convert(const Facts& f, bool from_uns, bool to_uns) {
  if (from_uns == to_uns) return f;
  Facts g = f;
  if (to_uns) {
    if (f.hi < 0) {
      g.lo += kTwo32;
      g.hi += kTwo32;
    } else if (f.lo < 0) {
      g.lo = 0;
      g.hi = kUnsMax;
    }
  } else {
    if (f.lo > kIntMax) {
      g.lo -= kTwo32;
      g.hi -= kTwo32;
    } else if (f.hi > kIntMax) {
      g.lo = kIntMin;
      g.hi = kIntMax;
    }
  }
  return settle(g, to_uns);
}

Facts interval(int64_t lo, int64_t hi, bool uns) {
  if (lo < type_min(uns) || hi > type_max(uns)) return full(uns);
  return {lo, hi, 0, 0};
}

// The low bits of a + b, a - b or a * b that follow from the low bits known
// in both operands.
void known_low_bits(Facts* f, const Facts& x, const Facts& y, Op op) {
  const int k = std::countr_one((x.zero | x.one) & (y.zero | y.one));
  if (k == 0) return;
  const uint32_t m = low_bits(k);
  const uint32_t r = (op == Op::Add ? x.one + y.one : op == Op::Sub ? x.one - y.one : x.one * y.one) & m;
  f->zero |= ~r & m;
  f->one |= r & m;
}

int64_t trunc_div(int64_t a, int64_t b) { return a / b; }  // C++ truncates toward zero

}  // namespace

Facts Analysis::facts(int id) {
  if (static_cast<std::size_t>(id) >= facts_.size()) {
    facts_.resize(static_cast<std::size_t>(tree_->size()));
    known_.resize(facts_.size(), false);
  }
  const auto i = static_cast<std::size_t>(id);
  if (!known_[i]) {
    facts_[i] = settle(compute(id), tree_->at(id).uns);
    known_[i] = true;
  }
  return facts_[i];
}

Facts Analysis::operand(int child, bool uns) {
  const Facts f = facts(child);
  return convert(f, tree_->at(child).uns, uns);
}

Facts Analysis::compute(int id) {
  const Node n = tree_->at(id);
  const bool u = n.uns;
  switch (n.op) {
    case Op::Const: return exact(n.val, u);
    case Op::T: return {0, kIntMax, kSign, 0};
    case Op::Neg: {
      const Facts x = operand(n.a, u);
      Facts f = full(u);
      if (!u && x.lo > kIntMin) f = {-x.hi, -x.lo, 0, 0};
      if (u && x.lo >= 1) f = {kTwo32 - x.hi, kTwo32 - x.lo, 0, 0};
      known_low_bits(&f, exact(0, u), x, Op::Sub);
      return f;
    }
    case Op::BitNot: {
      const Facts x = operand(n.a, u);
      const int64_t top = u ? kUnsMax : -1;
      return {top - x.hi, top - x.lo, x.one, x.zero};
    }
    case Op::LNot: {
      const Facts x = facts(n.a);
      if (x.lo > 0 || x.hi < 0 || x.one != 0) return exact(0, false);
      if (x.is_const()) return exact(1, false);
      return {0, 1, ~1u, 0};
    }
    case Op::Add:
    case Op::Sub: {
      const Facts x = operand(n.a, u), y = operand(n.b, u);
      Facts f = n.op == Op::Add ? interval(x.lo + y.lo, x.hi + y.hi, u) : interval(x.lo - y.hi, x.hi - y.lo, u);
      known_low_bits(&f, x, y, n.op);
      return f;
    }
    case Op::Mul: {
      const Facts x = operand(n.a, u), y = operand(n.b, u);
      const __int128 c[4] = {static_cast<__int128>(x.lo) * y.lo, static_cast<__int128>(x.lo) * y.hi,
                             static_cast<__int128>(x.hi) * y.lo, static_cast<__int128>(x.hi) * y.hi};
      const __int128 lo = std::min({c[0], c[1], c[2], c[3]}), hi = std::max({c[0], c[1], c[2], c[3]});
      Facts f = full(u);
      if (lo >= type_min(u) && hi <= type_max(u)) f = {static_cast<int64_t>(lo), static_cast<int64_t>(hi), 0, 0};
      known_low_bits(&f, x, y, Op::Mul);
      f.zero |= low_bits(std::countr_one(x.zero) + std::countr_one(y.zero));
      return f;
    }
    case Op::And:
    case Op::Or:
    case Op::Xor: {
      const Facts x = operand(n.a, u), y = operand(n.b, u);
      Facts f = full(u);
      if (n.op == Op::And) {
        f.zero = x.zero | y.zero;
        f.one = x.one & y.one;
        if (x.lo >= 0 && y.lo >= 0) {
          f.lo = 0;
          f.hi = std::min(x.hi, y.hi);
        } else if (x.lo >= 0 || y.lo >= 0) {
          f.lo = 0;
          f.hi = x.lo >= 0 ? x.hi : y.hi;
        } else {
          f.hi = std::max(x.hi, y.hi);
        }
      } else if (n.op == Op::Or) {
        f.zero = x.zero & y.zero;
        f.one = x.one | y.one;
        if (x.lo >= 0 && y.lo >= 0) f.lo = std::max(x.lo, y.lo);
      } else {
        f.zero = (x.zero & y.zero) | (x.one & y.one);
        f.one = (x.zero & y.one) | (x.one & y.zero);
      }
      return f;
    }
    case Op::Shl: {
      const Facts x = operand(n.a, u);
      const Facts k = facts(n.b);
      if (k.is_const()) {
        const int s = static_cast<int>(bits_of(k.lo) & 31);
        Facts f = interval(x.lo * (int64_t{1} << s), x.hi * (int64_t{1} << s), u);
        f.zero |= (x.zero << s) | low_bits(s);
        f.one |= x.one << s;
        return f;
      }
      Facts f = full(u);
      f.zero = low_bits(std::countr_one(x.zero));
      return f;
    }
    case Op::Shr: {
      const Facts x = operand(n.a, u);
      const Facts k = facts(n.b);
      int k1 = 0, k2 = 31;
      if (k.lo >= 0 && k.hi <= 31) {
        k1 = static_cast<int>(k.lo);
        k2 = static_cast<int>(k.hi);
      } else if (k.is_const()) {
        k1 = k2 = static_cast<int>(bits_of(k.lo) & 31);
      }
      // C++ shifts int64 values arithmetically: floor, as C's >> on int
      // and (for values already non-negative) on unsigned.
      Facts f{std::min(x.lo >> k1, x.lo >> k2), std::max(x.hi >> k1, x.hi >> k2), 0, 0};
      if (k1 == k2) {
        if (u) {
          f.zero = (x.zero >> k1) | top_bits(k1);
          f.one = x.one >> k1;
        } else {
          f.zero = static_cast<uint32_t>(static_cast<int32_t>(x.zero) >> k1);
          f.one = static_cast<uint32_t>(static_cast<int32_t>(x.one) >> k1);
        }
      } else if (u) {
        f.zero = top_bits(k1);
      }
      return f;
    }
    case Op::Div: {
      const Facts x = operand(n.a, u), y = operand(n.b, u);
      if (y.is_const()) {
        const int64_t c = y.lo;
        if (c == 0) return exact(0, u);
        if (!u && c == -1 && x.lo == kIntMin) return full(u);
        const int64_t p = trunc_div(x.lo, c), q = trunc_div(x.hi, c);
        return interval(std::min(p, q), std::max(p, q), u);
      }
      if (x.lo >= 0 && y.lo >= 0) return {0, x.hi / std::max<int64_t>(y.lo, 1), 0, 0};
      const int64_t m = std::max(-x.lo, x.hi);
      return interval(std::max(-m, type_min(u)), std::min(m, type_max(u)), u);
    }
    case Op::Mod: {
      const Facts x = operand(n.a, u), y = operand(n.b, u);
      const int64_t b = std::max(-y.lo, y.hi);  // the largest divisor, in size
      if (b == 0) return exact(0, u);
      if (x.lo >= 0 && y.lo > x.hi) return {x.lo, x.hi, 0, 0};
      const int64_t lo = x.lo >= 0 ? 0 : std::max(x.lo, -(b - 1));
      const int64_t hi = x.hi <= 0 ? 0 : std::min(x.hi, b - 1);
      return {lo, hi, 0, 0};
    }
    case Op::Lt:
    case Op::Gt:
    case Op::Le:
    case Op::Ge:
    case Op::Eq:
    case Op::Ne: return compare(n);
    case Op::LAnd:
    case Op::LOr: {
      const Facts x = facts(n.a), y = facts(n.b);
      const auto never_zero = [](const Facts& f) { return f.lo > 0 || f.hi < 0 || f.one != 0; };
      const bool and_op = n.op == Op::LAnd;
      if (and_op && ((x.is_const() && x.lo == 0) || (y.is_const() && y.lo == 0))) return exact(0, false);
      if (!and_op && (never_zero(x) || never_zero(y))) return exact(1, false);
      if (and_op && never_zero(x) && never_zero(y)) return exact(1, false);
      if (!and_op && x.is_const() && y.is_const()) return exact(0, false);  // both 0
      return {0, 1, ~1u, 0};
    }
    case Op::Cond: {
      const Facts c = facts(n.a);
      const Facts x = operand(n.b, u), y = operand(n.c, u);
      if (c.lo > 0 || c.hi < 0 || c.one != 0) return x;
      if (c.is_const()) return y;
      return {std::min(x.lo, y.lo), std::max(x.hi, y.hi), x.zero & y.zero, x.one & y.one};
    }
    case Op::Index: {
      const std::string& s = tree_->string(n.val);
      const Facts i = facts(n.a);
      // The positions in the string the index reaches, and whether it
      // reaches outside them (the NUL included).
      const int64_t first = std::max<int64_t>(i.lo, 0);
      const int64_t last = std::min<int64_t>(i.hi, static_cast<int64_t>(s.size()) - 1);
      const bool outside = i.lo < 0 || i.hi >= static_cast<int64_t>(s.size());
      int64_t lo = outside ? 0 : 127, hi = outside ? 0 : -128;
      for (int64_t j = first; j <= last; ++j) {
        const int64_t v = static_cast<int8_t>(s[static_cast<std::size_t>(j)]);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
      }
      if (lo > hi) return exact(0, false);
      return {lo, hi, 0, 0};
    }
  }
  return full(u);
}

Facts Analysis::compare(const Node& n) {
  const Facts x = operand(n.a, n.opuns), y = operand(n.b, n.opuns);
  const Facts any{0, 1, ~1u, 0};
  const auto truth = [&](bool always, bool never) { return always ? exact(1, false) : never ? exact(0, false) : any; };
  switch (n.op) {
    case Op::Lt: return truth(x.hi < y.lo, x.lo >= y.hi);
    case Op::Gt: return truth(x.lo > y.hi, x.hi <= y.lo);
    case Op::Le: return truth(x.hi <= y.lo, x.lo > y.hi);
    case Op::Ge: return truth(x.lo >= y.hi, x.hi < y.lo);
    default: {
      const bool same = x.is_const() && y.is_const() && x.lo == y.lo;
      const bool differ =
          x.hi < y.lo || y.hi < x.lo || ((x.one & y.zero) | (x.zero & y.one)) != 0;
      return n.op == Op::Eq ? truth(same, differ) : truth(differ, same);
    }
  }
}

}  // namespace skreel_c
