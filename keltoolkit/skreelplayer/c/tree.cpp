#include "keltoolkit/skreelplayer/c/tree.h"

#include <algorithm>

namespace skreel_c {
namespace {

// C's meaning of each operation, on the bits of 32-bit values: what the
// compiled program computes, and what constants fold to.
uint32_t c_unary(Op op, uint32_t x) {
  switch (op) {
    case Op::Neg: return 0u - x;
    case Op::BitNot: return ~x;
    default: return x == 0 ? 1u : 0u;  // LNot
  }
}

uint32_t c_binary(Op op, bool uns, uint32_t x, uint32_t y) {
  const auto sx = static_cast<int32_t>(x);
  const auto sy = static_cast<int32_t>(y);
  switch (op) {
    case Op::Mul: return x * y;
    case Op::Div:
      if (y == 0) return 0;
      if (uns) return x / y;
      if (sx == INT32_MIN && sy == -1) return x;
      return static_cast<uint32_t>(sx / sy);
    case Op::Mod:
      if (y == 0) return 0;
      if (uns) return x % y;
      if (sx == INT32_MIN && sy == -1) return 0;
      return static_cast<uint32_t>(sx % sy);
    case Op::Add: return x + y;
    case Op::Sub: return x - y;
    case Op::Shl: return x << (y & 31);
    case Op::Shr: return uns ? x >> (y & 31) : static_cast<uint32_t>(sx >> (y & 31));
    case Op::And: return x & y;
    case Op::Xor: return x ^ y;
    case Op::Or: return x | y;
    case Op::Lt: return uns ? x < y : sx < sy;
    case Op::Gt: return uns ? x > y : sx > sy;
    case Op::Le: return uns ? x <= y : sx <= sy;
    case Op::Ge: return uns ? x >= y : sx >= sy;
    case Op::Eq: return x == y;
    case Op::Ne: return x != y;
    case Op::LAnd: return x != 0 && y != 0;
    case Op::LOr: return x != 0 || y != 0;
    default: return 0;
  }
}

// A string indexed: the byte as a signed char; the NUL and every index
// outside the string give 0 (a negative int index is a large unsigned one).
uint32_t c_index(const std::string& s, uint32_t i) {
  if (i >= s.size()) return 0;
  return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(s[i])));
}

}  // namespace

int Tree::make(Op op, bool uns, bool opuns, int a, int b, int c, uint32_t val) {
  if (op != Op::Const && op != Op::T) {
    const bool ca = a < 0 || at(a).op == Op::Const;
    const bool cb = b < 0 || at(b).op == Op::Const;
    const bool cc = c < 0 || at(c).op == Op::Const;
    if (op == Op::Cond && at(a).op == Op::Const) {
      const int pick = at(a).val != 0 ? b : c;
      if (at(pick).op == Op::Const) return konst(at(pick).val, uns);
      if (at(pick).uns == uns) return pick;
    } else if (ca && cb && cc) {
      uint32_t v = 0;
      if (op == Op::Index) {
        v = c_index(strings_[val], at(a).val);
      } else if (b < 0) {
        v = c_unary(op, at(a).val);
      } else {
        v = c_binary(op, opuns, at(a).val, at(b).val);
      }
      return konst(v, uns);
    }
  }
  if (op == Op::Const) opuns = uns;
  const Key key{op, uns, opuns, a, b, c, val};
  if (auto it = index_.find(key); it != index_.end()) return it->second;
  Node n{op, uns, opuns, a, b, c, val, 1};
  for (int child : {a, b, c})
    if (child >= 0) n.depth = std::max(n.depth, at(child).depth + 1);
  nodes_.push_back(n);
  const int id = static_cast<int>(nodes_.size()) - 1;
  index_.emplace(key, id);
  return id;
}

int Tree::string_number(const std::string& bytes) {
  for (std::size_t i = 0; i < strings_.size(); ++i)
    if (strings_[i] == bytes) return static_cast<int>(i);
  strings_.push_back(bytes);
  return static_cast<int>(strings_.size()) - 1;
}

}  // namespace skreel_c
