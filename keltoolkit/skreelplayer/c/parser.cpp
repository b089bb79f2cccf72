#include "keltoolkit/skreelplayer/c/parser.h"

#include <array>
#include <cstddef>
#include <string>

#include "keltoolkit/skreelplayer/c/lexer.h"

namespace skreel_c {
namespace {

constexpr int kMaxNesting = 256;     // parentheses, unary operators, ?: and [] inside each other
constexpr int kMaxDepth = 1024;      // of the tree, chains of binary operators included
constexpr int kMaxNodes = 1 << 15;

struct BinaryOp {
  std::string_view text;
  Op op;
  int prec;
  int naive;  // instructions of the literal translation of the operator
};
constexpr std::array<BinaryOp, 18> kBinary = {{
    {"*", Op::Mul, 10, 1}, {"/", Op::Div, 10, 1}, {"%", Op::Mod, 10, 1}, {"+", Op::Add, 9, 1},
    {"-", Op::Sub, 9, 1},  {"<<", Op::Shl, 8, 1}, {">>", Op::Shr, 8, 1}, {"<", Op::Lt, 7, 1},
    {">", Op::Gt, 7, 1},   {"<=", Op::Le, 7, 2},  {">=", Op::Ge, 7, 2},  {"==", Op::Eq, 6, 1},
    {"!=", Op::Ne, 6, 2},  {"&", Op::And, 5, 1},  {"^", Op::Xor, 4, 1},  {"|", Op::Or, 3, 1},
    {"&&", Op::LAnd, 2, 1}, {"||", Op::LOr, 1, 1},
}};

class Parser {
 public:
  Parser(std::string_view text, Tree* tree, Failure* fail) : lex_(text, fail), end_(text.size()), tree_(tree), fail_(fail) {
    advance();
  }

  // The whole formula, or a Val that is not ok() after a refusal.
  Val formula() {
    Val v = expression();
    if (!v.ok()) return {};
    if (tok_.kind != Tok::End) return refuse_here("expected an operator or the end of the formula");
    if (!need_number(v)) return {};
    return v;
  }

 private:
  void advance() { tok_ = lex_.next(); }
  bool is(std::string_view p) const { return tok_.kind == Tok::Punct && tok_.text == p; }

  // Refuses at the current token (the end of the text included): an
  // assignment there is named as such, whatever else was expected.
  Val refuse_here(const std::string& expected) {
    if (assigns(tok_)) {
      fail_->set(tok_.offset, format("%s without assignments: '%s' assigns", kIntegerC,
                                     std::string(tok_.text).c_str()));
    } else {
      fail_->set(tok_.kind == Tok::End ? static_cast<int>(end_) : tok_.offset, expected);
    }
    return {};
  }

  bool need_number(const Val& v) {
    if (v.str < 0) return true;
    fail_->set(v.offset, "a string literal can only be indexed, as in \"abc\"[t & 3]");
    return false;
  }

  bool nest() {
    if (++depth_ <= kMaxNesting) return true;
    fail_->set(tok_.offset, format("the formula nests deeper than %d levels", kMaxNesting));
    return false;
  }

  bool too_deep(int node, int at) {
    if (tree_->at(node).depth <= kMaxDepth && tree_->size() <= kMaxNodes) return false;
    fail_->set(at, "the formula is too long or too deeply nested to compile");
    return true;
  }

  Val expression() {
    Val c = binary(1);
    if (!c.ok() || !is("?")) return c;
    if (!need_number(c) || !nest()) return {};
    const int at = tok_.offset;
    advance();
    const Val a = expression();
    if (!a.ok() || !need_number(a)) return {};
    if (!is(":")) return refuse_here("expected ':'");
    advance();
    const Val b = expression();  // a chain of ?: nests too
    if (!b.ok() || !need_number(b)) return {};
    --depth_;
    const Node& na = tree_->at(a.node);
    const Node& nb = tree_->at(b.node);
    const bool uns = na.uns || nb.uns;
    Val v{tree_->make(Op::Cond, uns, uns, c.node, a.node, b.node), -1, c.offset, c.naive + a.naive + b.naive + 5};
    if (too_deep(v.node, at)) return {};
    return v;
  }

  Val binary(int min_prec) {
    Val left = unary();
    for (;;) {
      if (!left.ok()) return {};
      const BinaryOp* op = nullptr;
      if (tok_.kind == Tok::Punct)
        for (const BinaryOp& b : kBinary)
          if (b.text == tok_.text) op = &b;
      if (op == nullptr || op->prec < min_prec) return left;
      const int at = tok_.offset;
      advance();
      const Val right = binary(op->prec + 1);
      if (!right.ok() || !need_number(left) || !need_number(right)) return {};
      const Node& l = tree_->at(left.node);
      const Node& r = tree_->at(right.node);
      bool uns = l.uns || r.uns;
      bool opuns = uns;
      if (op->op == Op::Shl || op->op == Op::Shr) {
        uns = opuns = l.uns;
      } else if (is_compare(op->op)) {
        uns = false;
      } else if (op->op == Op::LAnd || op->op == Op::LOr) {
        uns = opuns = false;
      }
      left = Val{tree_->make(op->op, uns, opuns, left.node, right.node), -1, left.offset,
                 left.naive + right.naive + op->naive};
      if (too_deep(left.node, at)) return {};
    }
  }

  Val unary() {
    if (is("++") || is("--")) return refuse_here("");
    Op op = Op::Const;
    int naive = 0;
    if (is("-")) {
      op = Op::Neg;
      naive = 2;
    } else if (is("~")) {
      op = Op::BitNot;
      naive = 1;
    } else if (is("!")) {
      op = Op::LNot;
      naive = 2;
    } else if (!is("+")) {
      return postfix();
    }
    const int at = tok_.offset;
    if (!nest()) return {};
    advance();
    Val a = unary();
    if (!a.ok() || !need_number(a)) return {};
    --depth_;
    a.offset = at;
    a.naive += naive;
    if (op == Op::Const) return a;  // unary +
    const bool uns = op == Op::LNot ? false : tree_->at(a.node).uns;
    a.node = tree_->make(op, uns, uns, a.node);
    if (too_deep(a.node, at)) return {};
    return a;
  }

  Val postfix() {
    Val v = primary();
    while (v.ok() && is("[")) {
      if (!nest()) return {};
      advance();
      const Val i = expression();
      if (!i.ok()) return {};
      if (!is("]")) return refuse_here("expected ']'");
      advance();
      --depth_;
      if ((v.str >= 0) == (i.str >= 0)) {
        fail_->set(v.str >= 0 ? i.offset : v.offset, "only a string literal can be indexed, by a number");
        return {};
      }
      const Val& s = v.str >= 0 ? v : i;
      const Val& n = v.str >= 0 ? i : v;
      // The literal translation: the index, then a lookup of about the size
      // of one packed word.
      v = Val{tree_->make(Op::Index, false, tree_->at(n.node).uns, n.node, -1, -1, static_cast<uint32_t>(s.str)), -1,
              v.offset, n.naive + 8};
      if (too_deep(v.node, v.offset)) return {};
    }
    if (v.ok() && (is("++") || is("--"))) return refuse_here("");
    return v;
  }

  Val primary() {
    const int at = tok_.offset;
    if (tok_.kind == Tok::Number) {
      Val v{tree_->konst(tok_.value, tok_.uns), -1, at, 1};
      advance();
      return v;
    }
    if (tok_.kind == Tok::Name) {
      if (tok_.text != "t") {
        fail_->set(at, format("unknown name '%s': the one name a formula knows is t",
                              shown(tok_.text).c_str()));
        return {};
      }
      advance();
      return Val{tree_->make(Op::T, false, false), -1, at, 1};
    }
    if (tok_.kind == Tok::String) {
      std::string bytes;
      while (tok_.kind == Tok::String) {  // adjacent literals are one
        bytes += tok_.bytes;
        advance();
      }
      if (tok_.kind == Tok::Bad) return {};
      return Val{-1, tree_->string_number(bytes), at, 0};
    }
    if (is("(")) {
      if (!nest()) return {};
      advance();
      Val v = expression();
      if (!v.ok()) return {};
      if (!is(")")) return refuse_here("expected ')'");
      advance();
      --depth_;
      v.offset = at;
      return v;
    }
    if (tok_.kind == Tok::Bad) return {};
    return refuse_here("expected an expression");
  }

  Lexer lex_;
  std::size_t end_;
  Tree* tree_;
  Failure* fail_;
  Token tok_;
  int depth_ = 0;
};

}  // namespace

Val parse_formula(std::string_view text, Tree* tree, Failure* fail) {
  Parser parser(text, tree, fail);
  return parser.formula();
}

}  // namespace skreel_c
