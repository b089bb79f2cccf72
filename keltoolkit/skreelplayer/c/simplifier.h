// simplifier: the tree rewritten, in rounds, into cheaper nodes that agree
// on the bits that are needed. The sample needs the low 8 bits of the
// formula; from there each node's needed bits are worked out for its
// operands, and local rules (with the analysis's facts) replace a node by
// a simpler one wherever the two agree on those bits. The needed bits of
// the last round are what the generator reads.
//
// Threads: any thread, on a simplifier of its own. A simplifier keeps the
// needed bits of one tree; nothing is kept from one compilation to the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "keltoolkit/skreelplayer/c/analysis.h"
#include "keltoolkit/skreelplayer/c/front.h"
#include "keltoolkit/skreelplayer/c/tree.h"

namespace skreel_c {

class Simplifier {
 public:
  // Works on `tree` with the facts of `an`; both must outlive the
  // simplifier.
  Simplifier(Tree* tree, Analysis* an) : t_(tree), an_(an) {}

  // One round: works out the needed bits of `root` and of every node below
  // it, then returns the root rewritten for the low 8 bits (`root` itself
  // when no rule applies). need() then answers for the tree of `root` as it
  // was before the rewrite.
  int round(int root);

  // The needed bits of node `id` in the last round; all bits for a node
  // made since.
  uint32_t need(int id) const {
    const auto i = static_cast<std::size_t>(id);
    return i < need_.size() ? need_[i] : kAll;
  }

 private:
  int rewrite(int id);
  int rules(int id, uint32_t d);

  int konst(uint32_t v, bool uns) { return t_->konst(v, uns); }
  int make(Op op, bool uns, bool opuns, int a, int b = -1, int c = -1) { return t_->make(op, uns, opuns, a, b, c); }
  bool truth(int id) const { return is_truth(t_->at(id).op); }
  // The node's truth as an int 0 or 1.
  int truth_of(int id) { return truth(id) ? id : make(Op::Ne, false, t_->at(id).uns, id, konst(0, t_->at(id).uns)); }

  Tree* t_;
  Analysis* an_;
  std::vector<uint32_t> need_;
  std::vector<int> done_;
};

}  // namespace skreel_c
