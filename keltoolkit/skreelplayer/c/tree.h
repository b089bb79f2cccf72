// tree: the formula as a small tree of C operations, in which equal
// subexpressions are one node. Each node carries its C type (int or
// unsigned int) and the type its operation works in; an operation on
// constants is folded into a constant as the node is made, with C's meaning
// on 32-bit values (and the machine's results where C would trap).
//
// Threads: any thread, on a tree of its own. A tree holds one compilation's
// nodes; nothing is kept from one compilation to the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace skreel_c {

enum class Op : uint8_t {
  Const, T, Neg, BitNot, LNot,
  Mul, Div, Mod, Add, Sub, Shl, Shr, And, Xor, Or,
  Lt, Gt, Le, Ge, Eq, Ne, LAnd, LOr,
  Cond, Index
};

constexpr bool is_compare(Op op) { return op >= Op::Lt && op <= Op::Ne; }
// Nodes whose value is the int 0 or 1, computed from a mask.
constexpr bool is_truth(Op op) { return op == Op::LNot || (op >= Op::Lt && op <= Op::LOr); }
constexpr bool commutes(Op op) {
  return op == Op::Add || op == Op::Mul || op == Op::And || op == Op::Or || op == Op::Xor || op == Op::Eq ||
         op == Op::Ne;
}

// One node: its operands are nodes made before it (-1 where there is none;
// a for unary operations, the condition of ?: and the index of []).
struct Node {
  Op op = Op::Const;
  bool uns = false;    // the value is an unsigned int (otherwise an int)
  bool opuns = false;  // the operation works on unsigned ints (comparisons: their operands' common type)
  int a = -1, b = -1, c = -1;
  uint32_t val = 0;    // Const: the value's bits; Index: the string's number
  int depth = 1;
};

class Tree {
 public:
  // The node with these fields: an existing equal one, or a new one. An
  // operation on constants is folded into a constant of its type. Returns
  // the node's id (from 0, in the order made).
  int make(Op op, bool uns, bool opuns, int a = -1, int b = -1, int c = -1, uint32_t val = 0);
  int konst(uint32_t v, bool uns) { return make(Op::Const, uns, uns, -1, -1, -1, v); }

  // The node `id`; the reference lives until the next make() or konst().
  const Node& at(int id) const { return nodes_[static_cast<std::size_t>(id)]; }
  int size() const { return static_cast<int>(nodes_.size()); }
  bool is_const(int id) const { return at(id).op == Op::Const; }
  bool is_const(int id, uint32_t v) const { return at(id).op == Op::Const && at(id).val == v; }

  // The number of a string literal's bytes (equal strings share one), and
  // the bytes of string `n`.
  int string_number(const std::string& bytes);
  const std::string& string(uint32_t n) const { return strings_[n]; }

 private:
  struct Key {
    Op op;
    bool uns, opuns;
    int a, b, c;
    uint32_t val;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& k) const {
      uint64_t h = static_cast<uint64_t>(k.op) | (uint64_t{k.uns} << 8) | (uint64_t{k.opuns} << 9);
      for (uint64_t v : {static_cast<uint64_t>(static_cast<uint32_t>(k.a)), static_cast<uint64_t>(static_cast<uint32_t>(k.b)),
                         static_cast<uint64_t>(static_cast<uint32_t>(k.c)), static_cast<uint64_t>(k.val)})
        h = (h ^ v) * 0x100000001B3ull + (h >> 29);
      return static_cast<std::size_t>(h);
    }
  };
  std::vector<Node> nodes_;
  std::unordered_map<Key, int, KeyHash> index_;
  std::vector<std::string> strings_;
};

}  // namespace skreel_c
