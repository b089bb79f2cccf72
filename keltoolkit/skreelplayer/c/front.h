// front: what the rooms of the C formula compiler share. The bits and the
// bounds of C's 32-bit values, the character classes of formula text, the
// helpers that write a refusal's message, and the record of the first
// refusal. Inside the compiler only (its face is skreel_c.h).
//
// Threads: any thread. Nothing here keeps state from one call to the next.
#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace skreel_c {

// ---------------------------------------------------------------------------
// 32-bit values

inline constexpr uint32_t kAll = 0xFFFFFFFFu;
inline constexpr uint32_t kSign = 0x80000000u;
inline constexpr int64_t kIntMin = INT32_MIN;
inline constexpr int64_t kIntMax = INT32_MAX;
inline constexpr int64_t kUnsMax = UINT32_MAX;
inline constexpr int64_t kTwo32 = int64_t{1} << 32;

// The n lowest bits.
constexpr uint32_t low_bits(int n) { return n >= 32 ? kAll : n <= 0 ? 0 : (uint32_t{1} << n) - 1; }
// The k highest bits.
constexpr uint32_t top_bits(int k) { return ~low_bits(32 - k); }
// Every bit up to and including the highest bit of d: the bits of an
// operand of + - * that a result's bits d depend on.
constexpr uint32_t up_to_top(uint32_t d) { return d == 0 ? 0 : low_bits(32 - std::countl_zero(d)); }
constexpr bool is_power_of_two(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }
// The low 32 bits of v (two's complement).
constexpr uint32_t bits_of(int64_t v) { return static_cast<uint32_t>(static_cast<uint64_t>(v)); }

// ---------------------------------------------------------------------------
// Formula text

constexpr bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
constexpr bool is_alnum(char c) { return is_alpha(c) || is_digit(c); }
constexpr char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// printf into a string; at most 255 characters, the rest cut.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Text from the formula as a message shows it: printable ASCII as it is,
// every other byte as \xNN; at most 40 bytes of it, then "...".
std::string shown(std::string_view text);

// ---------------------------------------------------------------------------
// Refusals

// The start of the refusals of what C has and tonebrook does not play.
inline constexpr const char* kIntegerC = "tonebrook plays integer C";

// The first refusal of a compilation; later ones are ignored. `offset` is
// the byte of the text it points at, or -1 for the whole formula.
struct Failure {
  bool failed = false;
  int offset = -1;
  std::string reason;
  void set(int at, std::string why) {
    if (failed) return;
    failed = true;
    offset = at;
    reason = std::move(why);
  }
};

}  // namespace skreel_c
