// parser: a C formula of `t` read into the tree (tree.h), by precedence
// climbing over the lexer's tokens. It decides each node's C type by C's
// rules (literal types, the usual arithmetic conversions, shifts taking
// the left operand's type, truth values as int) and counts the length of
// the formula's literal translation as it goes.
//
// Threads: any thread, on a tree and a Failure of its own. Nothing is kept
// from one call to the next.
#pragma once

#include <string_view>

#include "keltoolkit/skreelplayer/c/front.h"
#include "keltoolkit/skreelplayer/c/tree.h"

namespace skreel_c {

// What a piece of the formula parsed to: a node, or a string literal (which
// may only be indexed). `naive` counts the instructions of its literal
// translation.
struct Val {
  int node = -1;
  int str = -1;
  int offset = 0;
  int naive = 0;
  bool ok() const { return node >= 0 || str >= 0; }
};

// Parses the whole of `text` (one expression and nothing after it) into
// `tree`. Returns the formula's node (never a bare string literal), or a
// Val that is not ok() when refused: then `fail` holds the refusal (a
// malformed expression, an unknown name, an assignment, a literal C has
// but tonebrook does not play, or nesting beyond the compiler's limits).
Val parse_formula(std::string_view text, Tree* tree, Failure* fail);

}  // namespace skreel_c
