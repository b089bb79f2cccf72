// generator: the tree emitted as straight code of the stack machine. Each
// node is written with the machine's unsigned operations, and with C's
// signed forms only where the analysis's ranges or the simplifier's needed
// bits say that the two can differ. Truth values travel as masks (0 or all
// ones, what the machine's comparisons give) wherever that is shorter than
// C's 0 or 1; of the ways to write a node, the shortest is kept.
//
// Threads: any thread, on a tree, analysis and simplifier of its own.
// Nothing is kept from one call to the next.
#pragma once

#include "keltoolkit/skreelplayer/c/analysis.h"
#include "keltoolkit/skreelplayer/c/code.h"
#include "keltoolkit/skreelplayer/c/simplifier.h"
#include "keltoolkit/skreelplayer/c/tree.h"

namespace skreel_c {

// The code that pushes C's value of node `root`, every value in it
// labelled (code.h). Reads the facts of `an` and the needed bits of the
// last round of `needs`, and may add nodes to `tree` (the scaled index of
// a string lookup): the three must be those of one compilation.
Code generate(Tree* tree, Analysis* an, const Simplifier* needs, int root);

}  // namespace skreel_c
