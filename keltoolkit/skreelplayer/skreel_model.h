// skreel_model: the bytebeat engine's program model. The records of a
// program and of the player's state, the one list of opcodes, and the
// constant tables made from that list once: the enumeration, the URL
// letters (op_map), every opcode's facts (shape, stack effects, value) and
// the readable table (op_table). The decoder, the encoder and listing, the
// player and the machine all read these; nothing here depends on them.
//
// Threads: plain records and constant tables; any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Records

using VAL8 = uint8_t;    // one sample
using VAL32 = uint32_t;  // one machine word; all arithmetic wraps modulo 2^32

// A ring of 256 words. A push adds 1 to `sp`, then stores at `sp`; a pop reads
// at `sp`, then subtracts 1. `sp` wraps modulo 256, so there is no overflow
// or underflow: the 257th push overwrites the oldest value.
struct STACK {
  std::array<VAL32, 256> cell;
  uint8_t sp;
};

// One instruction: `val` is the number pushed by OP_PUSH_INT, 0 otherwise.
struct SKREELCODE {
  uint8_t id;
  VAL32 val;
};

// One program of up to 256 instructions.
struct SKREELCODEARRAY {
  std::array<SKREELCODE, 256> op;
  uint16_t count;
};

// The whole state of the player.
struct SKREELSTATE {
  SKREELCODEARRAY code;          // the program being played
  STACK stack;                   // kept from one `t` to the next
  STACK memory;                  // 256 words for fetch and store; `sp` unused
  std::array<VAL32, 8> inputs;   // the first four are read by OP_INPUT0..3
  VAL32 t;                       // the time counter
  float volume;                  // gain on the filtered output (1.0 after reset)
  float rate;                    // steps of `t` per second (8000.0 after reset)
};

// ---------------------------------------------------------------------------
// The opcode list

enum SKREEL_OP_TEST : int { TEST_NONE = 0, TEST_CONDITIONAL = 1, TEST_PASS = 2 };
enum SKREEL_OP_MUTABILITY : int { MUTABLE = 0, IMMUTABLE = 1 };

// The shape of what an opcode does. Each shape has one fixed stack effect
// (checked below against every row's take and leave columns):
//   STOP         ends the evaluation with 0, keeping what came before
//   PUSH_TIME    pushes `t`
//   PUSH_NUMBER  pushes the instruction's number
//   PUSH_INPUT   pushes input (id - OP_INPUT0)
//   DROP         drops the top
//   BINARY       pops b, then a, and pushes the row's value of a and b
//   UNARY        replaces the top a with the row's value of a
//   DUP          pushes a copy of the top
//   PICK         pops n, then pushes the cell n below the new top (n mod 256)
//   SWAP         exchanges the top two cells
//   FETCH        pops an address, pushes that memory cell (address mod 256)
//   STORE        pops an address, then a value, and stores the value there
enum class SKREEL_SHAPE : uint8_t {
  STOP, PUSH_TIME, PUSH_NUMBER, PUSH_INPUT, DROP, BINARY, UNARY, DUP, PICK, SWAP, FETCH, STORE
};

// Every fact of every opcode, written once, in id order: the enumerator, its
// URL letter, its readable name (nullptr: none), a second name that carries
// the op's stack effects but stands for OP_NOP (nullptr: none), the words it
// takes from the stack and leaves there, whether it is a comparison, whether
// it leaves values as they are (IMMUTABLE), its shape, and for BINARY and
// UNARY its value: the word it computes from `b`, the top, and `a`, the cell
// below (a UNARY reads only `a`, the top); 0 for the other shapes.
//
// URL letters: '.' (OP_NOP, also the separator), a to z, then G to Z; A to F
// and the digits are left to hexadecimal numbers. The ids from OP_H on have
// no behaviour and no name: they are reserved for opcodes to come.
#define SKREEL_OPCODES(X)                                                                                    \
  /* enumerator   letter name     alias    take leave test              mutability shape        value */     \
  X(OP_NOP,       '.',   "NOP",   nullptr, 0,   0,    TEST_NONE,        IMMUTABLE, STOP,        0)           \
  X(OP_TIME,      'a',   "t",     nullptr, 0,   1,    TEST_NONE,        IMMUTABLE, PUSH_TIME,   0)           \
  X(OP_PUSH_INT,  'b',   "#",     nullptr, 0,   1,    TEST_NONE,        MUTABLE,   PUSH_NUMBER, 0)           \
  X(OP_DROP,      'c',   "DROP",  nullptr, 1,   0,    TEST_NONE,        IMMUTABLE, DROP,        0)           \
  X(OP_MUL,       'd',   "*",     nullptr, 2,   1,    TEST_NONE,        MUTABLE,   BINARY,      a * b)       \
  X(OP_DIV,       'e',   "/",     nullptr, 2,   1,    TEST_NONE,        MUTABLE,   BINARY,      b == 0 ? 0u : a / b) \
  X(OP_ADD,       'f',   "+",     nullptr, 2,   1,    TEST_NONE,        MUTABLE,   BINARY,      a + b)       \
  X(OP_SUB,       'g',   "-",     nullptr, 2,   1,    TEST_NONE,        MUTABLE,   BINARY,      a - b)       \
  X(OP_MOD,       'h',   "%",     nullptr, 2,   1,    TEST_NONE,        MUTABLE,   BINARY,      b == 0 ? 0u : a % b) \
  X(OP_i,         'i',   nullptr, nullptr, 0,   0,    TEST_NONE,        MUTABLE,   STOP,        0)           \
  X(OP_LSHIFT,    'j',   "<<",    nullptr, 2,   1,    TEST_NONE,        MUTABLE,   BINARY,      a << (b & 31u)) \
  X(OP_RSHIFT,    'k',   ">>",    nullptr, 2,   1,    TEST_NONE,        MUTABLE,   BINARY,      b <= 31u ? a >> b : 0u) \
  X(OP_AND,       'l',   "&",     nullptr, 2,   1,    TEST_NONE,        MUTABLE,   BINARY,      a & b)       \
  X(OP_OR,        'm',   "|",     nullptr, 2,   1,    TEST_NONE,        MUTABLE,   BINARY,      a | b)       \
  X(OP_XOR,       'n',   "^",     nullptr, 2,   1,    TEST_NONE,        MUTABLE,   BINARY,      a ^ b)       \
  X(OP_NOT,       'o',   "~",     nullptr, 1,   1,    TEST_NONE,        MUTABLE,   UNARY,       ~a)          \
  X(OP_DUP,       'p',   "DUP",   nullptr, 1,   2,    TEST_NONE,        IMMUTABLE, DUP,         0)           \
  X(OP_PICK,      'q',   "PICK",  nullptr, 1,   1,    TEST_NONE,        IMMUTABLE, PICK,        0)           \
  X(OP_SWAP,      'r',   "SWAP",  nullptr, 2,   2,    TEST_NONE,        IMMUTABLE, SWAP,        0)           \
  X(OP_LT,        's',   "<",     nullptr, 2,   1,    TEST_CONDITIONAL, MUTABLE,   BINARY,      a < b ? 0xFFFFFFFFu : 0u) \
  X(OP_GT,        't',   ">",     nullptr, 2,   1,    TEST_CONDITIONAL, MUTABLE,   BINARY,      a > b ? 0xFFFFFFFFu : 0u) \
  X(OP_EQ,        'u',   "=",     nullptr, 2,   1,    TEST_CONDITIONAL, MUTABLE,   BINARY,      a == b ? 0xFFFFFFFFu : 0u) \
  X(OP_FETCH,     'v',   nullptr, "@",     1,   1,    TEST_NONE,        IMMUTABLE, FETCH,       0)           \
  X(OP_STORE,     'w',   nullptr, "!",     2,   0,    TEST_NONE,        IMMUTABLE, STORE,       0)           \
  X(OP_INPUT0,    'x',   "x",     nullptr, 0,   1,    TEST_NONE,        IMMUTABLE, PUSH_INPUT,  0)           \
  X(OP_INPUT1,    'y',   "y",     nullptr, 0,   1,    TEST_NONE,        IMMUTABLE, PUSH_INPUT,  0)           \
  X(OP_INPUT2,    'z',   "u",     nullptr, 0,   1,    TEST_NONE,        IMMUTABLE, PUSH_INPUT,  0)           \
  X(OP_INPUT3,    'G',   "v",     nullptr, 0,   1,    TEST_NONE,        IMMUTABLE, PUSH_INPUT,  0)           \
  X(OP_H,         'H',   nullptr, nullptr, 0,   0,    TEST_NONE,        MUTABLE,   STOP,        0)           \
  X(OP_I,         'I',   nullptr, nullptr, 0,   0,    TEST_NONE,        MUTABLE,   STOP,        0)           \
  X(OP_J,         'J',   nullptr, nullptr, 0,   0,    TEST_NONE,        MUTABLE,   STOP,        0)           \
  X(OP_K,         'K',   nullptr, nullptr, 0,   0,    TEST_NONE,        MUTABLE,   STOP,        0)           \
  X(OP_L,         'L',   nullptr, nullptr, 0,   0,    TEST_NONE,        MUTABLE,   STOP,        0)           \
  X(OP_M,         'M',   nullptr, nullptr, 0,   0,    TEST_NONE,        MUTABLE,   STOP,        0)           \
  X(OP_N,         'N',   nullptr, nullptr, 0,   0,    TEST_NONE,        MUTABLE,   STOP,        0)           \
  X(OP_O,         'O',   nullptr, nullptr, 0,   0,    TEST_NONE,        MUTABLE,   STOP,        0)           \
  X(OP_P,         'P',   nullptr, nullptr, 0,   0,    TEST_NONE,        MUTABLE,   STOP,        0)           \
  X(OP_Q,         'Q',   nullptr, nullptr, 0,   0,    TEST_NONE,        MUTABLE,   STOP,        0)           \
  X(OP_R,         'R',   nullptr, nullptr, 0,   0,    TEST_NONE,        MUTABLE,   STOP,        0)           \
  X(OP_S,         'S',   nullptr, nullptr, 0,   0,    TEST_NONE,        MUTABLE,   STOP,        0)           \
  X(OP_T,         'T',   nullptr, nullptr, 0,   0,    TEST_NONE,        MUTABLE,   STOP,        0)           \
  X(OP_U,         'U',   nullptr, nullptr, 0,   0,    TEST_NONE,        MUTABLE,   STOP,        0)           \
  X(OP_V,         'V',   nullptr, nullptr, 0,   0,    TEST_NONE,        MUTABLE,   STOP,        0)           \
  X(OP_W,         'W',   nullptr, nullptr, 0,   0,    TEST_NONE,        MUTABLE,   STOP,        0)           \
  X(OP_X,         'X',   nullptr, nullptr, 0,   0,    TEST_NONE,        MUTABLE,   STOP,        0)           \
  X(OP_Y,         'Y',   nullptr, nullptr, 0,   0,    TEST_NONE,        MUTABLE,   STOP,        0)           \
  X(OP_Z,         'Z',   nullptr, nullptr, 0,   0,    TEST_NONE,        MUTABLE,   STOP,        0)

// ---------------------------------------------------------------------------
// Tables made from the list

// Opcode ids. The URL letter of id n is op_map[n].
#define SKREEL_OP_ENUMERATOR(e, ...) e,
enum SKREEL_OP : int { SKREEL_OPCODES(SKREEL_OP_ENUMERATOR) OP_COUNT };
#undef SKREEL_OP_ENUMERATOR
static_assert(OP_COUNT == 47);

// The URL letter of every opcode id, and a NUL.
#define SKREEL_OP_LETTER(e, letter, ...) letter,
inline constexpr char op_map[] = {SKREEL_OPCODES(SKREEL_OP_LETTER) '\0'};
#undef SKREEL_OP_LETTER
static_assert(sizeof op_map == 48);

namespace skreel_detail {

// What an operation on values computes from a and b.
using OpValue = VAL32 (*)(VAL32 a, VAL32 b);

// One row of the list.
struct OpFacts {
  int id;
  const char* name;
  const char* alias;
  int consume, produce, test, immutable;
  SKREEL_SHAPE shape;
  OpValue value;
};
#define SKREEL_OP_FACTS(e, letter, name, alias, take, leave, test, mutability, shape, value)          \
  OpFacts{e, name, alias, take, leave, test, mutability, SKREEL_SHAPE::shape,                         \
          []([[maybe_unused]] VAL32 a, [[maybe_unused]] VAL32 b) constexpr -> VAL32 { return value; }},
inline constexpr std::array<OpFacts, OP_COUNT> op_facts{{SKREEL_OPCODES(SKREEL_OP_FACTS)}};
#undef SKREEL_OP_FACTS

// The stack effect that every opcode of a shape has.
struct StackEffect {
  int take, leave;
};
constexpr StackEffect effect_of(SKREEL_SHAPE shape) {
  switch (shape) {
    case SKREEL_SHAPE::STOP: return {0, 0};
    case SKREEL_SHAPE::PUSH_TIME:
    case SKREEL_SHAPE::PUSH_NUMBER:
    case SKREEL_SHAPE::PUSH_INPUT: return {0, 1};
    case SKREEL_SHAPE::DROP: return {1, 0};
    case SKREEL_SHAPE::BINARY: return {2, 1};
    case SKREEL_SHAPE::UNARY: return {1, 1};
    case SKREEL_SHAPE::DUP: return {1, 2};
    case SKREEL_SHAPE::PICK: return {1, 1};
    case SKREEL_SHAPE::SWAP: return {2, 2};
    case SKREEL_SHAPE::FETCH: return {1, 1};
    case SKREEL_SHAPE::STORE: return {2, 0};
  }
  return {-1, -1};
}

// Every row's take and leave columns are its shape's stack effect, and the
// rows in id order carry their own ids.
constexpr bool rows_match_shapes() {
  for (std::size_t id = 0; id < op_facts.size(); ++id) {
    const OpFacts& f = op_facts[id];
    const StackEffect e = effect_of(f.shape);
    if (f.id != static_cast<int>(id) || f.consume != e.take || f.produce != e.leave) return false;
  }
  return true;
}
static_assert(rows_match_shapes(), "an opcode's take or leave column differs from its shape's stack effect");

// The inputs are read by consecutive ids, from OP_INPUT0, one per input.
constexpr bool inputs_in_order() {
  int inputs = 0;
  for (const OpFacts& f : op_facts) {
    if (f.shape != SKREEL_SHAPE::PUSH_INPUT) continue;
    if (f.id != OP_INPUT0 + inputs) return false;
    ++inputs;
  }
  return inputs == 4;
}
static_assert(inputs_in_order(), "the PUSH_INPUT opcodes must be OP_INPUT0 to OP_INPUT3 in order");

// The stored order of op_table: the named opcodes by id, except that ">"
// comes before "<", then the two aliases after "=". Lookups scan from row 0
// and take the first match.
inline constexpr std::array<int, 27> op_table_order{
    OP_NOP, OP_TIME, OP_PUSH_INT, OP_DROP, OP_MUL,    OP_DIV,    OP_ADD,    OP_SUB,   OP_MOD,
    OP_LSHIFT, OP_RSHIFT, OP_AND, OP_OR,  OP_XOR,     OP_NOT,    OP_DUP,    OP_PICK,  OP_SWAP,
    OP_GT,  OP_LT,   OP_EQ,       OP_FETCH, OP_STORE, OP_INPUT0, OP_INPUT1, OP_INPUT2, OP_INPUT3};

}  // namespace skreel_detail

// One row of the opcode table. Only `id` and `name` are read (by the encoder
// and the listing); the stack effects are descriptive.
struct OP_INFO {
  int id;
  const char* name;
  int consume;
  int produce;
  int test;
  int immutable;
};

namespace skreel_detail {

constexpr std::array<OP_INFO, OP_COUNT> make_op_table() {
  std::array<OP_INFO, OP_COUNT> table{};
  for (std::size_t row = 0; row < op_table_order.size(); ++row) {
    const OpFacts& f = op_facts[static_cast<std::size_t>(op_table_order[row])];
    table[row] = f.alias ? OP_INFO{OP_NOP, f.alias, f.consume, f.produce, f.test, f.immutable}
                         : OP_INFO{f.id, f.name, f.consume, f.produce, f.test, f.immutable};
  }
  return table;
}

constexpr bool same_text(const char* a, const char* b) {
  if (!a || !b) return a == b;
  for (; *a && *a == *b; ++a, ++b) {
  }
  return *a == *b;
}

// Every opcode with a name or an alias has exactly one row, in the order
// above, and the names read as listed.
constexpr bool op_table_matches_list(const std::array<OP_INFO, OP_COUNT>& table) {
  constexpr const char* kNames[] = {"NOP", "t", "#", "DROP", "*", "/", "+", "-",  "%", "<<", ">>", "&", "|", "^",
                                    "~",   "DUP", "PICK", "SWAP", ">", "<", "=", "@", "!", "x", "y", "u", "v"};
  int named = 0;
  for (const OpFacts& f : op_facts) named += (f.name ? 1 : 0) + (f.alias ? 1 : 0);
  if (named != 27) return false;
  for (std::size_t row = 0; row < 27; ++row)
    if (!same_text(table[row].name, kNames[row])) return false;
  for (std::size_t row = 27; row < table.size(); ++row)
    if (table[row].name || table[row].id != 0) return false;
  return true;
}

}  // namespace skreel_detail

// The opcode table in its stored order (rows 27 to 46 empty). "@" and "!"
// carry the stack effects of fetch and store but the id OP_NOP, so the
// encoder turns them into the separator '.'.
inline constexpr std::array<OP_INFO, OP_COUNT> op_table = skreel_detail::make_op_table();
static_assert(skreel_detail::op_table_matches_list(op_table));

// ---------------------------------------------------------------------------
// Reading the facts

// The shape of opcode `id`; an id beyond the list stops, like the opcodes
// without behaviour.
constexpr SKREEL_SHAPE skreel_shape(unsigned id) {
  return id < OP_COUNT ? skreel_detail::op_facts[id].shape : SKREEL_SHAPE::STOP;
}

// The value of operation `Op` on a and b (0 for an opcode that is not an
// operation on values), for an opcode known when the code is compiled.
template <int Op>
constexpr VAL32 skreel_value(VAL32 a, VAL32 b) {
  static_assert(Op >= 0 && Op < OP_COUNT);
  constexpr skreel_detail::OpValue kValue = skreel_detail::op_facts[Op].value;
  return kValue(a, b);
}

// The same for an opcode known only when the program is prepared (0 for an
// id beyond the list).
constexpr VAL32 skreel_value(unsigned id, VAL32 a, VAL32 b) {
  return id < OP_COUNT ? skreel_detail::op_facts[id].value(a, b) : 0u;
}
