// analysis: what is known of each value of the tree. For every node, the
// interval of values it may take in its own C type and the bits known to
// be 0 or 1, worked out from its operands with `t` in [0, 2^31). The
// simplifier and the generator read these facts to choose C's signed forms
// only where they can differ from the machine's unsigned ones.
//
// Threads: any thread, on an analysis of its own. An analysis keeps the
// facts of one tree; nothing is kept from one compilation to the next.
#pragma once

#include <cstdint>
#include <vector>

#include "keltoolkit/skreelplayer/c/tree.h"

namespace skreel_c {

// The values a node may take, as an interval in its own type (int:
// [-2^31, 2^31 - 1], unsigned: [0, 2^32 - 1]) and as the bits known to be 0
// and known to be 1; the two are kept in agreement.
struct Facts {
  int64_t lo = 0, hi = 0;
  uint32_t zero = 0, one = 0;
  bool is_const() const { return lo == hi; }
};

class Analysis {
 public:
  // Works on `tree`, which must outlive the analysis. A node's facts are
  // worked out when first asked for and kept: nodes are never changed, and
  // new nodes get facts of their own.
  explicit Analysis(Tree* tree) : tree_(tree) {}

  // The facts of node `id`.
  Facts facts(int id);

  // The facts of operand `child` seen in the type the operation reading it
  // works in (`uns`: unsigned int, else int).
  Facts operand(int child, bool uns);

  bool nonneg(int id) { return facts(id).lo >= 0; }

 private:
  Facts compute(int id);
  Facts compare(const Node& n);

  Tree* tree_;
  std::vector<Facts> facts_;
  std::vector<bool> known_;
};

}  // namespace skreel_c
