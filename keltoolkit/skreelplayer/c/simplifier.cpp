#include "keltoolkit/skreelplayer/c/simplifier.h"

#include <array>
#include <bit>
#include <utility>

namespace skreel_c {
namespace {

// The bits of each operand that the needed bits `d` of a node's value
// depend on, whatever the operands' values.
struct Needs {
  uint32_t a = 0, b = 0, c = 0;
};

Needs needs_of(const Tree& tree, const Node& n, uint32_t d) {
  if (d == 0) return {};
  const auto const_b = [&](uint32_t* v) {
    if (n.b < 0 || !tree.is_const(n.b)) return false;
    *v = tree.at(n.b).val;
    return true;
  };
  uint32_t v = 0;
  switch (n.op) {
    case Op::Const:
    case Op::T: return {};
    case Op::Neg: return {up_to_top(d)};
    case Op::BitNot: return {d};
    case Op::Add:
    case Op::Sub:
    case Op::Mul: return {up_to_top(d), up_to_top(d)};
    case Op::And: return {const_b(&v) ? d & v : d, d};
    case Op::Or: return {const_b(&v) ? d & ~v : d, d};
    case Op::Xor: return {d, d};
    case Op::Shl:
      if (const_b(&v)) return {d >> (v & 31), 0};
      return {up_to_top(d), 31};
    case Op::Shr:
      if (const_b(&v)) {
        const int k = static_cast<int>(v & 31);
        const bool fills = !n.uns && (d & top_bits(k)) != 0;  // the sign fills bits that are needed
        return {(d << k) | (fills ? kSign : 0), 0};
      }
      // The count is needed whole: the code masks it only when its range
      // says so.
      return {~low_bits(std::countr_zero(d)), kAll};
    case Op::Cond: return {kAll, d, d};
    default: return {kAll, kAll, kAll};  // / % comparisons && || ! and the index need whole values
  }
}

}  // namespace

int Simplifier::round(int root) {
  need_.assign(static_cast<std::size_t>(t_->size()), 0);
  need_[static_cast<std::size_t>(root)] = 0xFF;
  for (int id = root; id >= 0; --id) {
    const uint32_t d = need_[static_cast<std::size_t>(id)];
    if (d == 0) continue;
    const Node& n = t_->at(id);
    const Needs k = needs_of(*t_, n, d);
    if (n.a >= 0) need_[static_cast<std::size_t>(n.a)] |= k.a;
    if (n.b >= 0) need_[static_cast<std::size_t>(n.b)] |= k.b;
    if (n.c >= 0) need_[static_cast<std::size_t>(n.c)] |= k.c;
  }
  done_.assign(need_.size(), -1);
  return rewrite(root);
}

int Simplifier::rewrite(int id) {
  const auto i = static_cast<std::size_t>(id);
  if (i < done_.size() && done_[i] >= 0) return done_[i];
  const Node n = t_->at(id);
  const uint32_t d = i < need_.size() ? need_[i] : kAll;
  int r = id;
  if (n.op == Op::Const || n.op == Op::T) {
    // as small as a value gets (a constant shift count has no needed bits)
  } else if (d == 0) {
    r = t_->konst(0, n.uns);
  } else {
    const int a = n.a >= 0 ? rewrite(n.a) : -1;
    const int b = n.b >= 0 ? rewrite(n.b) : -1;
    const int c = n.c >= 0 ? rewrite(n.c) : -1;
    r = t_->make(n.op, n.uns, n.opuns, a, b, c, n.val);
    for (int step = 0; step < 16; ++step) {
      const int next = rules(r, d);
      if (next == r) break;
      r = next;
    }
    const Facts f = an_->facts(r);
    if (t_->at(r).op != Op::Const && ((f.zero | f.one) & d) == d) r = t_->konst(f.one, t_->at(r).uns);
  }
  if (i < done_.size()) done_[i] = r;
  return r;
}

// One local rewrite of node `id` (whose operands are rewritten already)
// that keeps its value on the needed bits `d`; `id` itself when none
// applies.
int Simplifier::rules(int id, uint32_t d) {
  const Node n = t_->at(id);
  const bool u = n.uns;
  if (n.op == Op::Const || n.op == Op::T) return id;
  const Node na = t_->at(n.a);
  // Constants go to the right of operations that commute.
  if (n.b >= 0 && commutes(n.op) && t_->is_const(n.a) && !t_->is_const(n.b))
    return t_->make(n.op, u, n.opuns, n.b, n.a);
  const bool cb = n.b >= 0 && t_->is_const(n.b);
  const uint32_t v = cb ? t_->at(n.b).val : 0;
  const Node nb = n.b >= 0 ? t_->at(n.b) : Node{};
  const bool ca_inner = n.a >= 0 && na.b >= 0 && t_->is_const(na.b);
  const uint32_t w = ca_inner ? t_->at(na.b).val : 0;
  switch (n.op) {
    case Op::Add:
      if (cb && (v & up_to_top(d)) == 0) return n.a;
      if (cb && na.op == Op::Add && ca_inner) return make(Op::Add, u, u, na.a, konst(v + w, u));
      if (nb.op == Op::Neg) return make(Op::Sub, u, u, n.a, nb.a);
      if (na.op == Op::Neg) return make(Op::Sub, u, u, n.b, na.a);
      break;
    case Op::Sub:
      if (cb) return make(Op::Add, u, u, n.a, konst(0u - v, u));
      if (t_->is_const(n.a, 0)) return make(Op::Neg, u, u, n.b);
      if (nb.op == Op::Neg) return make(Op::Add, u, u, n.a, nb.a);
      break;
    case Op::Mul:
      if (cb && (v & up_to_top(d)) == (1 & up_to_top(d))) return n.a;
      if (cb && na.op == Op::Mul && ca_inner) return make(Op::Mul, u, u, na.a, konst(v * w, u));
      if (cb && na.op == Op::Neg) return make(Op::Mul, u, u, na.a, konst(0u - v, u));
      break;
    case Op::And:
      if (cb && ((d & ~v) == 0 || (~an_->facts(n.a).zero & ~v) == 0)) return n.a;
      if (cb && na.op == Op::And && ca_inner) return make(Op::And, u, u, na.a, konst(v & w, u));
      if (truth(n.a) && truth(n.b)) return make(Op::LAnd, false, false, n.a, n.b);
      break;
    case Op::Or:
      if (cb && (v & d) == 0) return n.a;
      if (cb && na.op == Op::Or && ca_inner) return make(Op::Or, u, u, na.a, konst(v | w, u));
      if (truth(n.a) && truth(n.b)) return make(Op::LOr, false, false, n.a, n.b);
      break;
    case Op::Xor:
      if (cb && (v & d) == 0) return n.a;
      if (cb && (v & d) == d) return make(Op::BitNot, u, u, n.a);
      if (cb && na.op == Op::Xor && ca_inner) return make(Op::Xor, u, u, na.a, konst(v ^ w, u));
      if (truth(n.a) && truth(n.b)) return make(Op::Ne, false, false, n.a, n.b);
      break;
    case Op::Shl:
      if (cb) {
        const uint32_t k = v & 31;
        if (k == 0) return n.a;
        if (na.op == Op::Shl && ca_inner) {
          const uint32_t sum = (w & 31) + k;
          return sum >= 32 ? konst(0, u) : make(Op::Shl, u, u, na.a, konst(sum, false));
        }
        // ((x >> s) & m) << k: the same bits of x, shifted once.
        if (na.op == Op::And && ca_inner && static_cast<uint64_t>(w) << k <= kAll) {
          const Node inner = t_->at(na.a);
          if (inner.op == Op::Shr && t_->is_const(inner.b) && inner.uns == u) {
            const uint32_t s = t_->at(inner.b).val & 31;
            if (s > 0 && w <= low_bits(32 - static_cast<int>(s))) {
              const int x = inner.a;
              const int moved = s >= k ? make(Op::Shr, u, u, x, konst(s - k, false))
                                       : make(Op::Shl, u, u, x, konst(k - s, false));
              return make(Op::And, u, u, moved, konst(w << k, u));
            }
          }
        }
      }
      break;
    case Op::Shr:
      if (cb) {
        const uint32_t k = v & 31;
        if (k == 0) return n.a;
        if (na.op == Op::Shr && ca_inner && na.uns == u) {
          const uint32_t sum = (w & 31) + k;
          if (sum < 32) return make(Op::Shr, u, u, na.a, konst(sum, false));
          return u ? konst(0, u) : make(Op::Shr, u, u, na.a, konst(31, false));
        }
      }
      break;
    case Op::Div:
      if (cb && v == 1) return n.a;
      if (cb && !u && v == kAll) return make(Op::Neg, u, u, n.a);
      break;
    case Op::Mod:
      if (cb) {
        const uint32_t size = u || (v & kSign) == 0 ? v : 0u - v;
        const int zeros = std::countr_zero(size);
        // x % c and x agree modulo every power of two that divides c.
        if (size != 0 && (d & ~low_bits(zeros)) == 0) return n.a;
        if (is_power_of_two(size) && (u || an_->nonneg(n.a))) return make(Op::And, u, u, n.a, konst(size - 1, u));
      }
      {
        const Facts x = an_->operand(n.a, u), y = an_->operand(n.b, u);
        if (x.lo >= 0 && y.lo > x.hi) return n.a;
      }
      break;
    case Op::Neg:
      if (na.op == Op::Neg) return na.a;
      if (na.op == Op::Sub) return make(Op::Sub, u, u, na.b, na.a);
      if (d == 1) return n.a;
      break;
    case Op::BitNot:
      if (na.op == Op::BitNot) return na.a;
      break;
    case Op::LNot:
      if (na.op == Op::LNot) return truth_of(na.a);
      if (is_compare(na.op)) {
        constexpr std::array<std::pair<Op, Op>, 6> kInverse = {
            {{Op::Lt, Op::Ge}, {Op::Ge, Op::Lt}, {Op::Gt, Op::Le}, {Op::Le, Op::Gt}, {Op::Eq, Op::Ne}, {Op::Ne, Op::Eq}}};
        for (auto [from, to] : kInverse)
          if (na.op == from) return make(to, false, na.opuns, na.a, na.b);
      }
      break;
    case Op::Lt:
    case Op::Gt:
    case Op::Le:
    case Op::Ge:
      if (t_->is_const(n.a) && !cb) {
        constexpr std::array<std::pair<Op, Op>, 4> kMirror = {
            {{Op::Lt, Op::Gt}, {Op::Gt, Op::Lt}, {Op::Le, Op::Ge}, {Op::Ge, Op::Le}}};
        for (auto [from, to] : kMirror)
          if (n.op == from) return make(to, false, n.opuns, n.b, n.a);
      }
      break;
    case Op::Eq:
    case Op::Ne:
      if (cb && v == 0 && truth(n.a)) return n.op == Op::Ne ? n.a : make(Op::LNot, false, false, n.a);
      break;
    case Op::LAnd:
    case Op::LOr: {
      // An operand whose truth is known decides the rest (nothing has
      // side effects, so the order does not matter).
      const auto never_zero = [&](int x) {
        const Facts f = an_->facts(x);
        return f.lo > 0 || f.hi < 0 || f.one != 0;
      };
      for (auto [x, y] : {std::pair{n.a, n.b}, std::pair{n.b, n.a}}) {
        if (n.op == Op::LAnd && never_zero(x)) return truth_of(y);
        if (n.op == Op::LOr && t_->is_const(x, 0)) return truth_of(y);
      }
      break;
    }
    case Op::Cond: {
      const Facts c = an_->facts(n.a);
      if (c.lo > 0 || c.hi < 0 || c.one != 0) return n.b;
      if (c.is_const()) return n.c;
      if (n.b == n.c) return n.b;
      if (na.op == Op::LNot) return t_->make(Op::Cond, u, u, na.a, n.c, n.b);
      break;
    }
    default: break;
  }
  return id;
}

}  // namespace skreel_c
