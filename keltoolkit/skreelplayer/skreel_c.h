// skreel_c: bytebeat as it is published, a C expression of `t`, compiled to
// a program of the engine's stack machine; and the rate of `t` that a tune
// names in one of its comments (for program text as well as for C).
//
// The compiler takes C as the C programs that played such formulas ran it:
// `int t` (from 0 to 2^31 - 1) on x86, 32-bit two's-complement arithmetic
// that wraps, C's literal types and usual arithmetic conversions, shift
// counts masked to 5 bits, `>>` arithmetic on int, `/` and `%` truncating
// on int, comparisons and `! && ||` giving the int 0 or 1, `?:` with the
// common type, character literals and indexed string literals (a signed
// char; the terminating NUL and any index outside the string give 0). Where
// C would trap, the result is the machine's: division or remainder by 0
// gives 0, INT_MIN / -1 gives INT_MIN and INT_MIN % -1 gives 0. The sample
// is the low 8 bits of the value. The program uses the machine's existing
// opcodes only, so its URL text decodes anywhere; beyond 2^31 - 1, `t`
// counts on as the machine's unsigned counter does.
//
// Threads: any thread, on records of its own. Nothing here keeps state from
// one call to the next, writes output, logs or touches the player.
#pragma once

#include <array>

// The most instructions a compiled program may have (the machine plays no
// more); a formula that needs more is refused, never cut.
inline constexpr int SKREEL_C_MAX_INSTRUCTIONS = 256;

// What skreel_compile_c made of a formula.
struct SKREEL_C_RESULT {
  int ok;           // 1: compiled; 0: refused
  int count;        // instructions of the program; when refused for its
                    // length, how many it came out; otherwise 0
  int naive_count;  // instructions of the literal translation (every C
                    // operator as the machine's unsigned one, constants
                    // not folded): a yardstick for what C's rules cost.
                    // 0 when the formula did not parse
  int offset;       // refused: the byte offset the message points at, from
                    // 0 to the text's length (the end of the text); -1 on
                    // success and for a refusal of the whole formula (the
                    // program's length, or no text at all)
  int line;         // line (from 1) and column (from 1, in bytes) of
  int column;       // `offset`; 0 when `offset` is -1
  std::array<char, 1024> url;      // success: "compiled!" and the code, at
                                   // most 1023 characters; "" otherwise
  std::array<char, 192> reason;    // refused: what is wrong, e.g.
                                   // "expected ')'"; "" on success
  std::array<char, 256> message;   // refused: the reason and where, e.g.
                                   // "expected ')' at line 1, column 12"
                                   // (the reason alone when `offset` is -1)
};

// Compiles the C expression `text` (NUL-terminated; white space, new lines,
// /* */ and // comments anywhere; one expression of `t` and nothing else)
// into `result`. Returns 1 when it compiled, 0 when it was refused (with
// `reason`, `message` and the position filled in), and 0 for a null
// `result` (nothing written) or a null `text` (refused: "no formula").
//
// Refused: a malformed expression ("expected ...", at the token found
// instead, or at the end of the text), an unknown name (named), a
// floating-point literal, an assignment, `++` or `--` (tonebrook plays
// integer C), a decimal literal above INT_MAX, a literal that does not fit
// in 32 bits, a string literal that is not indexed, nesting deeper than 256
// levels (or a chain of over 1024 operators), and a formula whose program
// would have more than 256 instructions or whose URL text would be longer
// than 1023 characters.
int skreel_compile_c(const char* text, SKREEL_C_RESULT* result);

// ---------------------------------------------------------------------------
// The tune's rate: `rate: N` inside a comment

// Steps of `t` a second: what a tune plays at when it names none, and the
// range a tune may name.
inline constexpr unsigned SKREEL_DEFAULT_TUNE_RATE = 8000;
inline constexpr unsigned SKREEL_LOWEST_TUNE_RATE = 1000;
inline constexpr unsigned SKREEL_HIGHEST_TUNE_RATE = 192000;

// How the comments of a tune are written: program text "( ... )" where a
// token could begin, or C: "// ..." to the end of the line and
// "/* ... */" (outside character and string literals).
enum SKREEL_TUNE_SYNTAX : int { SKREEL_SYNTAX_PROGRAM = 0, SKREEL_SYNTAX_C = 1 };

struct SKREEL_TUNE_RATE {
  unsigned rate;   // the rate named, or SKREEL_DEFAULT_TUNE_RATE (also when refused)
  int named;       // 1 when a comment names the rate, else 0
  int offset;      // refused: the byte offset of the word "rate" the
                   // message is about; -1 otherwise
  int line;        // line and column (from 1, in bytes) of `offset`; 0 when
  int column;      // `offset` is -1
  std::array<char, 192> message;  // refused: what is wrong and where; "" otherwise
};

// Finds the rate that `text` names: the word "rate" (any case, not part of
// a longer word) inside a comment, then optional blanks, ':', optional
// blanks and a decimal number from 1000 to 192000. Several comments may
// name it if they name the same number. Returns 1 with the rate in `out`
// (SKREEL_DEFAULT_TUNE_RATE when no comment names one), 0 when refused: a
// rate out of range, "rate:" without a whole number after it, or two
// different rates. A null `text` names none; a null `out` gives 0.
int skreel_tune_rate(const char* text, SKREEL_TUNE_SYNTAX syntax, SKREEL_TUNE_RATE* out);
