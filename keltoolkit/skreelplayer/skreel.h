// skreel: the bytebeat engine.
//
// A tune is a short postfix program for a stack machine. The machine runs it
// once for every step of a time counter `t`; the low 8 bits of what it leaves
// on top of the stack are one sample. This module holds the program model and
// opcode table, the decoder of the compact URL text that carries tunes, the
// stack machine with the audio callback that plays the current tune, and the
// encoder that turns readable program text into URL text (with its reverse,
// the listing).
//
// Threads: skreel_reset, skreel_play_url, the encoder and the listing run on
// the main thread; skreelplayer_callback runs on the audio thread and is the
// only writer of the program being played. The hand-over between the two is
// a pair of atomic text pointers (see skreel_play_url).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Program model

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

enum SKREEL_OP_TEST : int { TEST_NONE = 0, TEST_CONDITIONAL = 1, TEST_PASS = 2 };
enum SKREEL_OP_MUTABILITY : int { MUTABLE = 0, IMMUTABLE = 1 };

// Every fact of every opcode, written once, in id order. Each row gives the
// enumerator, its URL letter, its readable name (nullptr: none), a second
// name that carries the op's stack effects but stands for OP_NOP (nullptr:
// none), the words it takes from the stack and leaves there, whether it is
// a comparison, and whether it leaves values as they are (IMMUTABLE). The
// enumeration, op_map, op_table and the evaluator's dispatch are all made
// from this list; an opcode without behaviour in the evaluator stops it.
//
// URL letters: '.' (OP_NOP, also the separator), a to z, then G to Z; A to F
// and the digits are left to hexadecimal numbers.
#define SKREEL_OPCODES(X)                                             \
  /* enumerator   letter name    alias   take leave test            mutability */ \
  X(OP_NOP,       '.',   "NOP",  nullptr, 0, 0, TEST_NONE,        IMMUTABLE) \
  X(OP_TIME,      'a',   "t",    nullptr, 0, 1, TEST_NONE,        IMMUTABLE) \
  X(OP_PUSH_INT,  'b',   "#",    nullptr, 0, 1, TEST_NONE,        MUTABLE)   \
  X(OP_DROP,      'c',   "DROP", nullptr, 1, 0, TEST_NONE,        IMMUTABLE) \
  X(OP_MUL,       'd',   "*",    nullptr, 2, 1, TEST_NONE,        MUTABLE)   \
  X(OP_DIV,       'e',   "/",    nullptr, 2, 1, TEST_NONE,        MUTABLE)   \
  X(OP_ADD,       'f',   "+",    nullptr, 2, 1, TEST_NONE,        MUTABLE)   \
  X(OP_SUB,       'g',   "-",    nullptr, 2, 1, TEST_NONE,        MUTABLE)   \
  X(OP_MOD,       'h',   "%",    nullptr, 2, 1, TEST_NONE,        MUTABLE)   \
  X(OP_i,         'i',   nullptr, nullptr, 0, 0, TEST_NONE,       MUTABLE)   \
  X(OP_LSHIFT,    'j',   "<<",   nullptr, 2, 1, TEST_NONE,        MUTABLE)   \
  X(OP_RSHIFT,    'k',   ">>",   nullptr, 2, 1, TEST_NONE,        MUTABLE)   \
  X(OP_AND,       'l',   "&",    nullptr, 2, 1, TEST_NONE,        MUTABLE)   \
  X(OP_OR,        'm',   "|",    nullptr, 2, 1, TEST_NONE,        MUTABLE)   \
  X(OP_XOR,       'n',   "^",    nullptr, 2, 1, TEST_NONE,        MUTABLE)   \
  X(OP_NOT,       'o',   "~",    nullptr, 1, 1, TEST_NONE,        MUTABLE)   \
  X(OP_DUP,       'p',   "DUP",  nullptr, 1, 2, TEST_NONE,        IMMUTABLE) \
  X(OP_PICK,      'q',   "PICK", nullptr, 1, 1, TEST_NONE,        IMMUTABLE) \
  X(OP_SWAP,      'r',   "SWAP", nullptr, 2, 2, TEST_NONE,        IMMUTABLE) \
  X(OP_LT,        's',   "<",    nullptr, 2, 1, TEST_CONDITIONAL, MUTABLE)   \
  X(OP_GT,        't',   ">",    nullptr, 2, 1, TEST_CONDITIONAL, MUTABLE)   \
  X(OP_EQ,        'u',   "=",    nullptr, 2, 1, TEST_CONDITIONAL, MUTABLE)   \
  X(OP_FETCH,     'v',   nullptr, "@",    1, 1, TEST_NONE,        IMMUTABLE) \
  X(OP_STORE,     'w',   nullptr, "!",    2, 0, TEST_NONE,        IMMUTABLE) \
  X(OP_INPUT0,    'x',   "x",    nullptr, 0, 1, TEST_NONE,        IMMUTABLE) \
  X(OP_INPUT1,    'y',   "y",    nullptr, 0, 1, TEST_NONE,        IMMUTABLE) \
  X(OP_INPUT2,    'z',   "u",    nullptr, 0, 1, TEST_NONE,        IMMUTABLE) \
  X(OP_INPUT3,    'G',   "v",    nullptr, 0, 1, TEST_NONE,        IMMUTABLE) \
  SKREEL_SPARE_OPCODES(X)

// Ids without behaviour or name, reserved for opcodes to come.
#define SKREEL_SPARE_OPCODE(X, e, letter) X(e, letter, nullptr, nullptr, 0, 0, TEST_NONE, MUTABLE)
#define SKREEL_SPARE_OPCODES(X)                                                                   \
  SKREEL_SPARE_OPCODE(X, OP_H, 'H') SKREEL_SPARE_OPCODE(X, OP_I, 'I') SKREEL_SPARE_OPCODE(X, OP_J, 'J') \
  SKREEL_SPARE_OPCODE(X, OP_K, 'K') SKREEL_SPARE_OPCODE(X, OP_L, 'L') SKREEL_SPARE_OPCODE(X, OP_M, 'M') \
  SKREEL_SPARE_OPCODE(X, OP_N, 'N') SKREEL_SPARE_OPCODE(X, OP_O, 'O') SKREEL_SPARE_OPCODE(X, OP_P, 'P') \
  SKREEL_SPARE_OPCODE(X, OP_Q, 'Q') SKREEL_SPARE_OPCODE(X, OP_R, 'R') SKREEL_SPARE_OPCODE(X, OP_S, 'S') \
  SKREEL_SPARE_OPCODE(X, OP_T, 'T') SKREEL_SPARE_OPCODE(X, OP_U, 'U') SKREEL_SPARE_OPCODE(X, OP_V, 'V') \
  SKREEL_SPARE_OPCODE(X, OP_W, 'W') SKREEL_SPARE_OPCODE(X, OP_X, 'X') SKREEL_SPARE_OPCODE(X, OP_Y, 'Y') \
  SKREEL_SPARE_OPCODE(X, OP_Z, 'Z')

// Opcode ids. The URL letter of id n is op_map[n].
#define SKREEL_OP_ENUMERATOR(e, ...) e,
enum SKREEL_OP : int { SKREEL_OPCODES(SKREEL_OP_ENUMERATOR) OP_COUNT };
#undef SKREEL_OP_ENUMERATOR
static_assert(OP_COUNT == 47);

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

// The URL letter of every opcode id, and a NUL.
#define SKREEL_OP_LETTER(e, letter, ...) letter,
inline constexpr char op_map[] = {SKREEL_OPCODES(SKREEL_OP_LETTER) '\0'};
#undef SKREEL_OP_LETTER
static_assert(sizeof op_map == 48);

namespace skreel_detail {

struct OpFacts {
  int id;
  const char* name;
  const char* alias;
  int consume, produce, test, immutable;
};
#define SKREEL_OP_FACTS(e, letter, name, alias, take, leave, test, mutability) \
  OpFacts{e, name, alias, take, leave, test, mutability},
inline constexpr std::array<OpFacts, OP_COUNT> op_facts{{SKREEL_OPCODES(SKREEL_OP_FACTS)}};
#undef SKREEL_OP_FACTS

// The stored order of op_table: the named opcodes by id, except that ">"
// comes before "<", then the two aliases after "=". Lookups scan from row 0
// and take the first match.
inline constexpr std::array<int, 27> op_table_order{
    OP_NOP, OP_TIME, OP_PUSH_INT, OP_DROP, OP_MUL,    OP_DIV,    OP_ADD,    OP_SUB,   OP_MOD,
    OP_LSHIFT, OP_RSHIFT, OP_AND, OP_OR,  OP_XOR,     OP_NOT,    OP_DUP,    OP_PICK,  OP_SWAP,
    OP_GT,  OP_LT,   OP_EQ,       OP_FETCH, OP_STORE, OP_INPUT0, OP_INPUT1, OP_INPUT2, OP_INPUT3};

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
// URL text decoding
//
// URL text: an optional "skreel://" prefix (everything up to and including
// its first occurrence is skipped), a name of 0 to 16 letters, digits or '_'
// ('_' stands for a space), then '!' and the code: one letter per
// instruction, upper-case hexadecimal numbers for pushes, '!' and '.' as
// separators.

// Decodes `buf` into `code`. Returns the instruction count (0 to 256), -1 for
// a bad name, -2 when there is no code part (also for a null `buf`). `code`
// is left as it was after a bad name or a missing code part. Prints
// "DECODED '<name>' <n> opcodes" on success (after the log prefix).
int skreel_decode_url_to_array(const char* buf, SKREELCODEARRAY* code);

// Decodes the name at the start of `buf` into `name` (at least 18 bytes; may
// be null to only check it). Returns its length (0 to 16), -1 for a character
// that is not allowed (or a null `buf`), -2 when 17 allowed characters come
// without an end.
int skreel_decode_name(const char* buf, char* name);

// Decodes code text into at most `maxlen` instructions at `code`. Returns the
// number written, -1 when `buf` or `code` is null, 0 for an empty text. An
// unknown character ends the program there.
int skreel_decode_code_block(const char* buf, SKREELCODE* code, int maxlen);

// Reads a run of hexadecimal digits (0-9, A-F) at `buf`, keeping the low 32
// bits. Returns the number of characters used; 0 when there is no digit
// (`number` is then not written).
int skreel_decode_number(const char* buf, uint32_t* number);

// 0 for '.', 1 to 46 for the URL letter of an opcode, -1 otherwise.
int skreel_decode_opcode(char ch);

// Just past the first "skreel://" in `buf`, or `buf` itself when there is none.
const char* skip_prefix(const char* buf);

// ---------------------------------------------------------------------------
// Player

// Clears the player state (program, stack, memory, inputs, `t`), forgets any
// handed-over text and sets volume 1.0 and rate 8000.0. The audio filter, the
// record of the adopted text and the callback installation are kept. Call it
// while no tune is playing (at start-up).
void skreel_reset(void);

// Hands `url` to the audio side (held by pointer: keep the text alive and
// unchanged until the audio side has adopted it). A non-null `url` installs
// the callback; null removes it and forgets what the audio side adopted, so
// that the same address handed over next is taken as new. Returns 1 when the
// previously handed-over text had not yet been adopted, else 0.
int skreel_play_url(const char* url);

// What the audio side has taken: the text it adopted last (or is about to
// read), null before any. With skreel_url_handed_over this tells the main
// thread which texts it must leave unchanged: a text that is neither may be
// written again. Main thread.
const char* skreel_url_adopted(void);
// The text most recently handed over (null for none). Main thread.
const char* skreel_url_handed_over(void);

// Clears the callback's output filter (the held output value and the
// filter's memory), which neither skreel_reset nor a new tune touches, to
// what it is when the program starts. For an offline rendering that runs the
// callback itself: call it on the thread that runs the callback, never while
// a sound device runs it.
void skreel_reset_filter(void);

void skreel_set_volume(float volume);
float skreel_rate(void);
void skreel_set_rate(float rate);

// The audio callback: adopts a newly handed-over text at the start of the
// buffer, then adds `stereo_sample_count` frames of the tune into `buffer`
// (wrapping 16-bit addition into both channels). The phase of `t` runs on
// from call to call (skreel_reset clears it), so `t` advances at the tune's
// rate exactly. Allocates nothing, takes no lock and never writes to
// standard output: its log lines (the decoder's) go through the log's
// deferred ring. Audio thread.
void skreelplayer_callback(int16_t* buffer, int stereo_sample_count, int sample_rate);

// Runs `codes` once for time `t`; the result is the low 8 bits of the popped
// top of the stack, or 0 for an empty program or one that stops on an opcode
// without behaviour. A null `inputs` reads as zeros. The program is made
// ready to run on every call; to run one program many times, prepare it once
// (skreel_prepare) and use skreel_run or skreel_run_many.
VAL8 skreel_do_t_func(const SKREELCODEARRAY* codes, STACK* stack, STACK* memory, const VAL32* inputs,
                      VAL32 t);

// ---------------------------------------------------------------------------
// Prepared programs
//
// A program is prepared once and then run for as many values of `t` as
// needed, with results, stack and memory exactly those of skreel_do_t_func
// run once per value in order. The prepared form holds the program as the
// steps of a threaded machine (common pairs such as "number then shift"
// fused into one step, the top of the stack kept in a register) and, for a
// program whose evaluations do not depend on one another, a block plan that
// evaluates up to SKREEL_BLOCK_LANES values of `t` at once, one operation
// over all of them. A program gets a block plan when it has no fetch or
// store, every PICK's depth is a number in the program, and no evaluation
// reads a stack cell that an earlier evaluation writes; every other program
// runs on the threaded machine alone. The fields are the engine's own: build
// them only with skreel_prepare.
//
// Threads: any thread, on data of its own; nothing here allocates, locks or
// writes output. The callback runs these on the audio thread.

// The most values of `t` that one pass of a block plan evaluates.
inline constexpr int SKREEL_BLOCK_LANES = 256;

// One step of the threaded machine: its handler, a small argument and the
// number it pushes, if any.
struct SKREELSTEP {
  uint8_t op;
  uint8_t arg;
  VAL32 val;
};
// One operation of a block plan over all lanes: opcode, the kinds of its
// operands (vector or block word), the slot it writes and its operands.
struct SKREELLANEOP {
  uint8_t op;
  uint8_t form;
  uint8_t dst;
  uint8_t spare;
  uint16_t a;
  uint16_t b;
};
// One word of a block plan that is the same for every lane: a number, a
// stack cell below the program's own, an input or an operation on two such
// words.
struct SKREELUNIFORM {
  uint8_t kind;
  uint8_t op;
  uint16_t a;
  uint16_t b;
  VAL32 val;
};
// Where a value of a block plan is found: a number, a block word or a slot.
// `pos` is the stack cell, relative to where the evaluation starts, that
// the value is left in.
struct SKREELKEEP {
  uint8_t pos;
  uint8_t kind;
  uint16_t src;
  VAL32 number;
};

struct SKREELPROGRAM {
  std::array<SKREELSTEP, 257> step;  // the threaded machine's steps, up to a final one
  uint8_t block;                     // 1 when the block plan below applies
  uint8_t delta;                     // change of `sp` per evaluation, modulo 256
  uint8_t slots;                     // vector slots the plan uses
  uint16_t uniforms;
  uint16_t lanes;
  uint16_t keeps;
  SKREELKEEP result;                       // the value popped as the result
  std::array<SKREELUNIFORM, 768> uniform;  // computed in order at the start of a block
  std::array<SKREELLANEOP, 256> lane;      // run in order over the lanes
  std::array<SKREELKEEP, 256> keep;        // the cells an evaluation leaves written
};

// Prepares the first `count` instructions (at most 256) of `code` into
// `program`; a null `code` prepares the empty program. Returns 1 when the
// program got a block plan, else 0 (also for a null `program`).
int skreel_prepare(const SKREELCODEARRAY* code, SKREELPROGRAM* program);

// One evaluation for time `t`, as skreel_do_t_func on the program
// `program` was prepared from. A null `inputs` reads as zeros; a null
// pointer elsewhere gives 0 and does nothing.
VAL8 skreel_run(const SKREELPROGRAM* program, STACK* stack, STACK* memory, const VAL32* inputs, VAL32 t);

// `n` evaluations, for t[0] to t[n - 1] in that order (any values): out[i] is
// the result for t[i], and the stack and memory are left as the `n`
// evaluations one after the other leave them. Uses the block plan when the
// program has one. Does nothing for n <= 0 or a null pointer (a null
// `inputs` reads as zeros).
void skreel_run_many(const SKREELPROGRAM* program, STACK* stack, STACK* memory, const VAL32* inputs,
                     const VAL32* t, int n, VAL8* out);

// ---------------------------------------------------------------------------
// Stack helpers

// The cell at index (sp - off) modulo 256.
VAL32 skreel_pick(const STACK* stack, VAL8 off);
void push(STACK* stack, VAL32 value);
VAL32 pop(STACK* stack);

// ---------------------------------------------------------------------------
// Readable program text: encoding and listing

// Compiles readable program text into URL text "compiled!..." in the
// encoder's own 1024-byte buffer (the same address every call, overwritten by
// the next). Echoes the text it reads to the log's stream (standard output
// unless kel_log_set_stream chose another) and prints
// "out: '<url>'". Returns null, with a message, for a token that is neither
// an op name nor a number, for URL text that would not fit in 1023
// characters, and for a null `text`. No byte of the text reaches standard
// output as a control character: the echo shows them as "\x1b" (its NULs
// stay NUL bytes), and a message that names a token shows every byte
// outside printable ASCII that way. A message starts on a line of its own.
const char* skreel_encode(const char* text);

// After a skreel_encode that returned null: the byte offset, from the start
// of the text given, of the token that caused the failure (0 for a null
// text). -1 after a call that succeeded or before any call.
int skreel_encode_error_offset(void);

// The readable listing of `url`'s program in the listing's own 1024-byte
// buffer, each element followed by one space. Numbers that follow each
// other run together when the listing is read back by skreel_encode (the
// player's --text keeps them apart). Null when the text does not
// decode, decodes to no instruction, holds an opcode without a table row,
// or when the listing would not fit in 1023 characters.
const char* skreel_decode_url_to_text(const char* url);

// Characters to skip for white space and one comment "( ... )"; 0 when no
// comment follows.
int skip_comments(const char* in);

// Characters up to and including the first `delimit`, or up to the end.
int scan_past_delimiter(const char* in, char delimit);

// Skips white space and reads one token of at most len - 1 characters into
// `out`, echoing the characters it examines to the log's stream (control
// characters escaped, as for skreel_encode). Returns the
// characters consumed (white space and token), 0 at the end of the text.
int get_token(const char* in, char* out, unsigned len);

// The first table row whose name equals `token` ignoring case, or null.
const OP_INFO* op_lookup(const char* token);

// The first table row with `id`, or null.
const OP_INFO* op_lookup_id(int id);

// For a token that begins with "0x": scans the rest as hexadecimal into
// `val` and returns 1 on success; 0 otherwise.
int scan_hex_digit(const char* token, unsigned* val);
