// code: straight code of the stack machine as the generator emits it, and
// the last passes over it. A piece of code records, for every value it
// pushes, the label of that value (a node and a form), so that a later
// piece whose value is still on the stack can copy it instead (DUP, PICK);
// then what is left of constant operations is folded, and the program is
// written as URL text.
//
// Threads: any thread. Nothing here keeps state from one call to the next.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace skreel_c {

// One instruction: an opcode of the model (skreel_model.h) and the number
// OP_PUSH_INT pushes (0 otherwise).
struct Ins {
  uint8_t op;
  uint32_t val;
};

// Instructions [begin, end) of a piece of code push one value: the one
// labelled `key` (a node and a form), the same wherever it is computed.
struct Span {
  int begin, end;
  int key;
};

struct Code {
  std::vector<Ins> ins;
  std::vector<Span> spans;
  int size() const { return static_cast<int>(ins.size()); }
};

// Walks the code with a model of the stack that knows which labelled value
// each cell holds; a piece whose value is on the stack already becomes a
// copy of it (DUP, or the cell's depth and PICK) when that is shorter.
// Returns the instructions; the result on the stack is the code's own.
std::vector<Ins> reuse_values(const Code& code);

// Folds what is left of constants: two numbers and an operation, a number
// operation repeated with another number, operations with a number that
// does nothing, and two NOTs or SWAPs in a row. Returns code that leaves
// the same values, by the machine's rules.
std::vector<Ins> fold_constants(std::vector<Ins> code);

// The URL text of a program: "compiled!" and one element per instruction,
// '.' between two numbers, written NUL-terminated to `url`; its length (the
// NUL not counted) to `length`. False when it does not fit: `url` is then
// left as it was.
bool write_url(const std::vector<Ins>& code, std::array<char, 1024>* url, std::size_t* length);

}  // namespace skreel_c
