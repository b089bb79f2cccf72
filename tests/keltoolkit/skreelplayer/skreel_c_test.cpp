// The C formula compiler: each formula of the table is read twice, by the
// engine's compiler and by the C++ compiler of this test (on int32_t and
// uint32_t, through a value type that wraps as -fwrapv would, masks shift
// counts as x86 does and gives the machine's results where C traps), and the
// compiled program run by the stack machine must give the low 8 bits of the
// reference for every t of its range. Then the forms the compiler chooses,
// the refusals with their positions, and the rate a tune names.
#include <gtest/gtest.h>

#include <concepts>
#include <cstdint>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "keltoolkit/skreelplayer/skreel.h"
#include "keltoolkit/skreelplayer/skreel_c.h"
#include "support/capture.h"

// The formulas are written as they are published, leaning on C's precedence.
#pragma GCC diagnostic ignored "-Wparentheses"

namespace {

// ---------------------------------------------------------------------------
// C's int and unsigned int as the formulas use them. V<T> is a value of C
// type T; literals keep their own C++ types (int, unsigned, char), which are
// C's except that a char literal is C's int.

template <class T> struct V;
template <class X> struct CType {};
template <> struct CType<int> { using type = int32_t; };
template <> struct CType<char> { using type = int32_t; };
template <> struct CType<bool> { using type = int32_t; };  // a comparison of two literals
template <> struct CType<unsigned> { using type = uint32_t; };
template <class T> struct CType<V<T>> { using type = T; };
template <class X> using C = typename CType<X>::type;
template <class X> constexpr bool is_value = false;
template <class T> constexpr bool is_value<V<T>> = true;
template <class A, class B>
concept Operands = (is_value<A> || is_value<B>) && requires { typename C<A>; typename C<B>; };
// The usual arithmetic conversions of two 32-bit operands.
template <class A, class B>
using Common = std::conditional_t<std::is_same_v<C<A>, uint32_t> || std::is_same_v<C<B>, uint32_t>, uint32_t, int32_t>;

template <class R, class X> R as(X x) {
  if constexpr (is_value<X>) {
    return static_cast<R>(x.v);
  } else {
    return static_cast<R>(static_cast<C<X>>(x));
  }
}

template <class T> struct V {
  T v;
  // From its own type; an int also from a char; an unsigned also from an
  // int (C's conversions for the branches of ?:).
  template <class U>
    requires std::same_as<U, T> || (std::same_as<T, int32_t> && std::same_as<U, char>) ||
             (std::same_as<T, uint32_t> && (std::same_as<U, int> || std::same_as<U, V<int32_t>>))
  V(U x) : v(as<T>(x)) {}
  explicit operator bool() const { return v != 0; }
};
template <class R> V<R> value(R r) { return V<R>(r); }
V<int32_t> truth(bool b) { return value<int32_t>(b ? 1 : 0); }

// int arithmetic wraps: computed on 64 bits, then taken modulo 2^32 (what
// -fwrapv gives, without depending on the flag); unsigned arithmetic wraps
// by itself.
template <class R> using Wide = std::conditional_t<std::is_signed_v<R>, int64_t, uint32_t>;
#define C_ARITHMETIC(op)                                                           \
  template <class A, class B> requires Operands<A, B>                              \
  auto operator op(A a, B b) {                                                     \
    using R = Common<A, B>;                                                        \
    return value<R>(static_cast<R>(static_cast<Wide<R>>(as<R>(a)) op static_cast<Wide<R>>(as<R>(b)))); \
  }
#define C_COMPARISON(op)                                         \
  template <class A, class B> requires Operands<A, B>            \
  V<int32_t> operator op(A a, B b) {                             \
    using R = Common<A, B>;                                      \
    return truth(as<R>(a) op as<R>(b));                          \
  }
C_ARITHMETIC(+) C_ARITHMETIC(-) C_ARITHMETIC(*) C_ARITHMETIC(&) C_ARITHMETIC(|) C_ARITHMETIC(^)
C_COMPARISON(<) C_COMPARISON(>) C_COMPARISON(<=) C_COMPARISON(>=) C_COMPARISON(==) C_COMPARISON(!=)
#undef C_ARITHMETIC
#undef C_COMPARISON

// Shift counts masked to 5 bits, as x86 does; the left operand's type.
template <class A, class B> requires Operands<A, B> auto operator<<(A a, B b) {
  return value<C<A>>(static_cast<C<A>>(as<C<A>>(a) << (as<uint32_t>(b) & 31)));
}
template <class A, class B> requires Operands<A, B> auto operator>>(A a, B b) {
  return value<C<A>>(static_cast<C<A>>(as<C<A>>(a) >> (as<uint32_t>(b) & 31)));
}
// Where C traps, the machine's results: 0 for a divisor 0, INT_MIN for
// INT_MIN / -1 and 0 for INT_MIN % -1.
template <class A, class B> requires Operands<A, B> auto operator/(A a, B b) {
  using R = Common<A, B>;
  const R x = as<R>(a), y = as<R>(b);
  if (y == 0) return value<R>(0);
  if constexpr (std::is_signed_v<R>)
    if (x == INT32_MIN && y == -1) return value<R>(x);
  return value<R>(static_cast<R>(x / y));
}
template <class A, class B> requires Operands<A, B> auto operator%(A a, B b) {
  using R = Common<A, B>;
  const R x = as<R>(a), y = as<R>(b);
  if (y == 0) return value<R>(0);
  if constexpr (std::is_signed_v<R>)
    if (x == INT32_MIN && y == -1) return value<R>(0);
  return value<R>(static_cast<R>(x % y));
}
template <class A, class B> requires Operands<A, B> V<int32_t> operator&&(A a, B b) {
  return truth(as<uint32_t>(a) != 0 && as<uint32_t>(b) != 0);
}
template <class A, class B> requires Operands<A, B> V<int32_t> operator||(A a, B b) {
  return truth(as<uint32_t>(a) != 0 || as<uint32_t>(b) != 0);
}
template <class T> V<T> operator-(V<T> a) { return value<T>(static_cast<T>(-static_cast<int64_t>(a.v))); }
template <class T> V<T> operator+(V<T> a) { return a; }
template <class T> V<T> operator~(V<T> a) { return value<T>(static_cast<T>(~a.v)); }
template <class T> V<int32_t> operator!(V<T> a) { return truth(a.v == 0); }
// A string literal indexed: the byte as a signed char; its NUL and every
// index outside it give 0.
template <std::size_t N, class I> V<int32_t> at(const char (&s)[N], I i) {
  const uint32_t k = as<uint32_t>(i);
  return value<int32_t>(k < N ? static_cast<int8_t>(s[k]) : 0);
}
template <class X> uint8_t low8(X x) { return static_cast<uint8_t>(as<uint32_t>(x)); }

// ---------------------------------------------------------------------------
// The formulas

enum Range { kLow, kTop, kWide };

struct Row {
  const char* text;
  uint8_t (*reference)(V<int32_t>);
  Range range;
};

// The formula, as text for the engine and as C++ for the reference.
#define F(range, ...) Row{#__VA_ARGS__, [](V<int32_t> t) { return low8(__VA_ARGS__); }, range}
// Formulas with string literals, which C++ indexes without the bounds.
#define S(range, text, ...) Row{text, [](V<int32_t> t) { return low8(__VA_ARGS__); }, range}

const Row kFormulas[] = {
    // every operator, on int
    F(kWide, t * 3 + t / 7 - t % 13), F(kWide, t << 3 | t >> 5 ^ t & 0x3F0), F(kWide, ~t + -t + +t),
    F(kWide, (t < 5000) + (t > 9) + (t <= 77) + (t >= 4095) + (t == 300) + (t != 301)),
    F(kWide, !t + !(t & 256) * 100), F(kWide, (t & 1 && t & 2) * 50 + (t % 3 || t % 5) * 7),
    F(kWide, t & 4096 ? t * 3 : t * 5), F(kWide, t >> 8 & 1 ? -t >> 3 : t >> 4),
    F(kWide, t >> 12 & 1 ? t >> 10 & 1 ? 40 : 41 : 200),
    // literal types: octal, binary, hexadecimal int and unsigned, u, chars
    F(kWide, t * 010 + 0b101), F(kWide, t * 0x7fffffff >> 20), F(kWide, (t | 0x80000000) >> 24),
    F(kWide, (t * 3u - 5) >> 27), F(kWide, 4294967295u / (t | 1)), F(kWide, t * 'a' + '\x03'),
    F(kWide, t * '\xff' >> 4), F(kWide, ('\377' + t) >> 5), F(kWide, t % '\n' + '\0'), F(kLow, '0' + t % 10),
    // usual arithmetic conversions: an unsigned operand makes it unsigned
    F(kWide, (t * 0 - 1 < 1u) * 100 + (t - 1000 < 5u) * 7), F(kWide, (t - 40000) / 3u), F(kWide, (t - 40000) % 7u),
    F(kWide, (t - 40000u) >> 3), F(kWide, -t / 9 + -(t / 9u)),
    // shifts take the left operand's type; counts are masked to 5 bits
    F(kWide, 1u << t >> 1), F(kWide, -t >> 1u), F(kWide, t >> 33), F(kWide, t << (t & 63)), F(kWide, t >> -1),
    F(kWide, (1 << 31) >> (t & 31)), F(kWide, (1u << 31) >> (t & 31)), F(kWide, -t >> (t & 63)),
    F(kWide, (t * t) >> (t >> 10)), F(kWide, (t - 5000) >> (t >> 14 & 7)), F(kWide, -t >> 7 << 3),
    F(kWide, (t * 977) >> 3 >> 29),
    // int division and remainder truncate toward zero
    F(kWide, -t / 7), F(kWide, -t % 7), F(kWide, -t / 4), F(kWide, -t % 8), F(kWide, (t * t) / -12),
    F(kWide, (t * t) % -16), F(kWide, (t - 50000) / (t % 13 - 6)), F(kWide, (t - 50000) % (t % 13 - 6)),
    F(kWide, t / -(t & 7)), F(kWide, t % -(t & 7)), F(kWide, (t * t) / (t >> 9 & 15)), F(kWide, (t * 7919) / 5 >> 24),
    F(kWide, (t * 7919) % 9 * 20), F(kWide, (t * 7919) / 64 >> 20), F(kWide, (t * 7919) / -64 >> 20),
    F(kWide, ((t * 7919) % 24 & 15) + (t * 7919) % 16 + (t * 7919) % 256),
    // where C traps: by 0, INT_MIN / -1, INT_MIN % -1
    F(kWide, t / (t & 3) + t % (t & 3)), F(kWide, (t | (-2147483647 - 1)) / -1 >> 24),
    F(kWide, (t & 1 ? -2147483647 - 1 : t) / (t & 2 ? -1 : 3) >> 20),
    F(kWide, (t & 1 ? -2147483647 - 1 : t) % (t & 2 ? -1 : 5) + 9),
    // comparisons across signs, and of unsigned values
    F(kWide, (t - 30000 < 5) * 9 + (t * t > 0) * 3), F(kWide, (-t <= t - 1) + (t * t >= -5) * 2),
    F(kWide, ((t ^ 0x80000000u) < t) * 5), F(kWide, (t * 31 < t * 17) * 100 + (t * 31 == t * 17)),
    F(kWide, (t % 7 - 3 > -2) * 60 + (t % 9 - 4 <= 0) * 6), F(kWide, ((t > 9) == (t > 99)) * 10 + ((t & 1) != (t > 5))),
    // truth values mixed with arithmetic
    F(kWide, t * (t >> 9 & 1 > 0) + (t >> 3 > 100)), F(kWide, t - (t > 70000) - (t % 5 == 0)),
    F(kWide, (t > 1000) << 7 | (t & 8) << 2), F(kWide, -(t > 3000) & t), F(kWide, ~(t % 3 == 0) ^ t),
    F(kWide, !!(t & 12) * 90), F(kWide, !(t > 100) + !(t & 1 || t & 4) * 2 + !(t & 2 && t & 8) * 4),
    F(kWide, (t >> 4 & 1 && t >> 6 & 1) | (t >> 5 & 1 || 0)), F(kWide, (t > 5 ^ t > 500) * 33),
    // ?: with the common type, and its constant forms
    F(kWide, (t & 1 ? -1 : t * 1u) >> 28), F(kWide, (t & 2 ? t : 5) * 3), F(kWide, t & 256 ? 9 : 0),
    F(kWide, t & 512 ? 0 : t), F(kWide, t & 1024 ? 17 : 16), F(kWide, t & 64 ? 5 : 6), F(kWide, t & 32 ? 12 : -7),
    F(kWide, (t > 100 ? t * 3 : t - 9) >> 2), F(kWide, (t - 20000 ? t : 1) / (t % 3 ? 1 : -1)),
    // repeated values (copied from the stack where they are still there)
    F(kWide, (t >> 12) ^ (t >> 12) - 2), F(kWide, (t * t + 7) * ((t * t + 7) >> 3)),
    F(kWide, (t * 3 & t >> 5) | (t * 3 & t >> 7) | (t * 3 & t >> 9)),
    // comments and new lines anywhere
    S(kWide, "t /* a saw */ * // times\n 3", t * 3),
    // published tunes
    F(kWide, t * ((t >> 12 | t >> 8) & 63 & t >> 4)), F(kWide, (t * (t >> 5 | t >> 8)) >> (t >> 16)),
    F(kWide, (t >> 6 | t | t >> (t >> 16)) * 10 + ((t >> 11) & 7)), F(kWide, t * 5 & (t >> 7) | t * 3 & (t * 4 >> 10)),
    F(kWide, ((t & 4096) ? ((t * (t ^ t % 255) | (t >> 4)) >> 1) : (t >> 3) | ((t & 8192) ? t << 2 : t))),
    F(kWide, t >> 4 | t & ((t >> 5) / (t >> 7 - (t >> 15) & -t >> 7 - (t >> 15)))),
    F(kWide, ((-t & 4095) * (255 & t * (t & t >> 13)) >> 12) + (127 & t * (234 & t >> 8 & t >> 3) >> (3 & t >> 14))),
    F(kWide, (t / 8) >> (t >> 9) * t / ((t >> 14 & 3) + 4)), F(kWide, t >> 6 & 1 ? t >> 5 : -t >> 4),
    F(kWide, t * (t & 16384 ? 7 : 5) * (3 - (3 & t >> 9) + (3 & t >> 8)) >> (3 & -t >> (t & 4096 ? 2 : 16)) | t >> 3),
    F(kWide, (~t >> 2) * ((127 & t * (7 & t >> 10)) < (245 & t * (2 + (5 & t >> 14))))),
    F(kWide, t * (t ^ t + (t >> 15 | 1) ^ (t - 1280 ^ t) >> 10)), F(kWide, ((t >> 1 % 128) + 20) * 3 * t >> 14 * t >> 18),
    F(kLow, t * (((t >> 9) ^ ((t >> 9) - 1) ^ 1) % 13)), F(kTop, t * (((t >> 9) ^ ((t >> 9) - 1) ^ 1) % 13)),
    // string literals: signed chars, the NUL and outside give 0, escapes
    S(kWide, R"(t * ("36364689"[t >> 13 & 7] & 15))", t * (at("36364689", t >> 13 & 7) & 15)),
    S(kWide, R"("abc"[t >> 8 & 7] * t)", at("abc", t >> 8 & 7) * t),
    S(kWide, R"("\xff\x80z\n\0q"[t >> 6 & 7] + t)", at("\xff\x80z\n\0q", t >> 6 & 7) + t),
    S(kWide, R"("\101\102" "CD"[t >> 5 & 3] >> 1)", at("\101\102CD", t >> 5 & 3) >> 1),
    S(kWide, R"("0123456789abcdefghijklmnopqrstuvwxyz"[t >> 7 & 63])",
      at("0123456789abcdefghijklmnopqrstuvwxyz", t >> 7 & 63)),
    S(kWide, R"((t * "\xff\x80\x7f\x01"[t >> 9 & 3]) >> 11)", (t * at("\xff\x80\x7f\x01", t >> 9 & 3)) >> 11),
    S(kWide, R"("hey"[t - 70000] * 3)", at("hey", t - 70000) * 3),
    S(kWide, R"("hey"[t >> 5] << 2)", at("hey", t >> 5) << 2),
    S(kWide, R"((t >> 9 & 3)["\x7f\x01\xfe\x80"] * t)", at("\x7f\x01\xfe\x80", t >> 9 & 3) * t),
    S(kWide, R"("ab"[t >> 4 & 1] ^ ""[t & 1])", at("ab", t >> 4 & 1) ^ at("", t & 1)),
    S(kWide, R"(((t * ("36364689"[t >> 13 & 7] & 15)) / 12 & 128) + (((((t >> 12) ^ (t >> 12) - 2) % 11 * t) / 4 | t >> 13) & 127))",
      ((t * (at("36364689", t >> 13 & 7) & 15)) / 12 & 128) +
          (((((t >> 12) ^ (t >> 12) - 2) % 11 * t) / 4 | t >> 13) & 127)),
};

std::vector<uint32_t> times(Range range) {
  std::vector<uint32_t> t;
  const auto stretch = [&](uint32_t from, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) t.push_back(from + i);
  };
  const uint32_t top = 0x7FFFFFFFu;
  if (range == kLow) stretch(0, 65536);
  if (range == kTop) stretch(top - 65535, 65536);
  if (range == kWide) {
    stretch(0, 8192);
    stretch(top - 8191, 8192);
    std::mt19937 random(2011);
    for (int i = 0; i < 48; ++i) stretch(random() % (top - 1024), 1024);
  }
  return t;
}

TEST(SkreelC, FormulasComputeWhatCComputes) {
  for (const Row& row : kFormulas) {
    SCOPED_TRACE(row.text);
    SKREEL_C_RESULT result;
    ASSERT_EQ(skreel_compile_c(row.text, &result), 1) << result.message.data();
    EXPECT_LE(result.count, SKREEL_C_MAX_INSTRUCTIONS);
    SKREELCODEARRAY code{};
    {
      StdoutCapture quiet;
      ASSERT_EQ(skreel_decode_url_to_array(result.url.data(), &code), result.count) << result.url.data();
      quiet.take();
    }
    static SKREELPROGRAM program;
    skreel_prepare(&code, &program);
    const std::vector<uint32_t> t = times(row.range);
    std::vector<VAL8> got(t.size());
    STACK stack{}, memory{};
    skreel_run_many(&program, &stack, &memory, nullptr, t.data(), static_cast<int>(t.size()), got.data());
    EXPECT_EQ(stack.sp, 0) << "each evaluation leaves the stack as it found it";
    int wrong = 0;
    for (std::size_t i = 0; i < t.size() && wrong < 3; ++i) {
      const uint8_t want = row.reference(V<int32_t>(static_cast<int32_t>(t[i])));
      if (got[i] == want) continue;
      ++wrong;
      ADD_FAILURE() << "t = " << t[i] << ": " << int{got[i]} << ", C gives " << int{want} << "; "
                    << result.url.data();
    }
  }
}

// The forms the compiler chooses: the machine's unsigned operations wherever
// the ranges and the needed bits (the sample's low 8) say they agree with C,
// truth values as masks, values copied from the stack.
TEST(SkreelC, ProgramsUseTheUnsignedFormsWhereverTheyAgree) {
  struct Form {
    const char* text;
    const char* url;
    const char* why;
  };
  const Form rows[] = {
      {"t*(42&t>>10)", "compiled!aaAk2Ald", "t and what comes of it are never negative"},
      {"(t>>20)<5000", "compiled!1", "the ranges decide the comparison"},
      {"(t|256)&255%256", "compiled!a", "none of the bits the operations change is needed"},
      {"t*4>>10&t", "compiled!a4dAkal", "a negative product, but the sign's bits are not needed"},
      {"-t>>4", "compiled!0ag4k", "the same for the sample's 8 bits"},
      {"(t*t)>>3>>29", "compiled!aad80000000f1Fk1g", "where they are: floor((x + 2^31) / 2^31) - 1"},
      {"(t*(t>>5|t>>8))>>(t>>16)", "compiled!aa5ka8kmdp7FFFFFFFtr1qna10k1Flkn",
       "((x ^ s) >> k) ^ s with the sign mask s, the count masked"},
      {"t>>33", "compiled!a1k", "a constant count masked at once"},
      {"(t*3)%256", "compiled!a3d", "a remainder by 2^8 keeps the low 8 bits"},
      {"t%16", "compiled!aFl", "of a value never negative, a mask"},
      {"-t/8", "compiled!0agp7FFFFFFFt7lf3k", "(x + (s & 7)) >> 3"},
      {"(t-100)<5", "compiled!a7FFFFF9Cf80000005s1l", "both sides moved by 2^31"},
      {"t*(t>5)", "compiled!aa5tl", "a truth times x is x and its mask"},
      {"t+(t>5)", "compiled!aa5tg", "a truth added is its mask taken away"},
      {"(t>5)<<3", "compiled!a5t8l", "a truth shifted is its mask and one bit"},
      {"t&1?9:3", "compiled!a1l6d3f", "a condition 0 or 1: y + (x - y) * c"},
      {"t>>7?t:-t", "compiled!0aga1qna7k0tln", "y ^ ((x ^ y) & mask)"},
      {"(t>>12)^(t>>12)-2", "compiled!aCkpFFFFFFFEfn", "a value still on the stack is copied"},
      {"\"36364689\"[t>>13&7]&15", "compiled!98646363aBk1ClkFl", "a string is a word read by shifting"},
      {"-(5<<(t&3))", "compiled!0.5a3ljg", "numbers in a row are kept apart"},
  };
  for (const Form& row : rows) {
    SKREEL_C_RESULT result;
    ASSERT_EQ(skreel_compile_c(row.text, &result), 1) << row.text;
    EXPECT_STREQ(result.url.data(), row.url) << row.text << ": " << row.why;
  }
  // The yardstick: every operator as the machine's own, nothing folded.
  SKREEL_C_RESULT result;
  ASSERT_EQ(skreel_compile_c("(t|256)&255%256", &result), 1);
  EXPECT_EQ(result.count, 1);
  EXPECT_EQ(result.naive_count, 7);
}

TEST(SkreelC, NullArgumentsAreRefused) {
  SKREEL_C_RESULT result;
  EXPECT_EQ(skreel_compile_c(nullptr, &result), 0);
  EXPECT_STREQ(result.message.data(), "no formula");
  EXPECT_EQ(skreel_compile_c("t", nullptr), 0);
  SKREEL_TUNE_RATE rate;
  EXPECT_EQ(skreel_tune_rate(nullptr, SKREEL_SYNTAX_C, &rate), 1);
  EXPECT_EQ(rate.rate, SKREEL_DEFAULT_TUNE_RATE);
  EXPECT_EQ(skreel_tune_rate("t", SKREEL_SYNTAX_C, nullptr), 0);
}

// ---------------------------------------------------------------------------
// Refusals

TEST(SkreelC, MalformedFormulasAreRefusedWhereTheyGoWrong) {
  struct Refused {
    const char* text;
    const char* message;
  };
  const std::string deep = std::string(300, '(') + "t";
  const Refused rows[] = {
      {"t*(t>>5", "expected ')' at line 1, column 8"},
      {"(t>>5|t>>8))", "expected an operator or the end of the formula at line 1, column 12"},
      {"t*\n  (t>>)", "expected an expression at line 2, column 7"},
      {"", "expected an expression at line 1, column 1"},
      {"// nothing\n", "expected an expression at line 2, column 1"},
      {"t ? 1 ; 2", "expected ':' at line 1, column 7"},
      {"\"ab\"[t", "expected ']' at line 1, column 7"},
      {"t t", "expected an operator or the end of the formula at line 1, column 3"},
      {"t + x2", "unknown name 'x2': the one name a formula knows is t at line 1, column 5"},
      {"t*1.5", "tonebrook plays integer C: '1.5' is a floating-point number at line 1, column 3"},
      {"t*2e3", "tonebrook plays integer C: '2e3' is a floating-point number at line 1, column 3"},
      {"t = t + 1", "tonebrook plays integer C without assignments: '=' assigns at line 1, column 3"},
      {"(t += 2)", "tonebrook plays integer C without assignments: '+=' assigns at line 1, column 4"},
      {"t++ * 2", "tonebrook plays integer C without assignments: '++' assigns at line 1, column 2"},
      {"--t", "tonebrook plays integer C without assignments: '--' assigns at line 1, column 1"},
      {"t*3000000000", "the decimal number '3000000000' is larger than an int holds (2147483647) at line 1, column 3"},
      {"0x100000000", "the number '0x100000000' does not fit in 32 bits at line 1, column 1"},
      {"t*08", "invalid digit '8' in the octal number '08' at line 1, column 3"},
      {"t*0b12", "invalid digit '2' in the binary number '0b12' at line 1, column 3"},
      {"t*1L", "unknown suffix 'L' on the number '1L' (tonebrook takes u) at line 1, column 3"},
      {"t*0x", "malformed number '0x' at line 1, column 3"},
      {"t*\"abc\"", "a string literal can only be indexed, as in \"abc\"[t & 3] at line 1, column 3"},
      {"t[2]", "only a string literal can be indexed, by a number at line 1, column 1"},
      {"'ab'*t", "a character constant holds one character at line 1, column 1"},
      {"t*''", "empty character constant at line 1, column 3"},
      {"t*'\\q'", "unknown escape sequence '\\q' at line 1, column 4"},
      {"\"\\x100\"[t]", "hex escape sequence out of range at line 1, column 2"},
      {"\"abc\n\"[t]", "missing terminating \" character at line 1, column 1"},
      {"t /* no end", "unterminated comment at line 1, column 3"},
      {"t @ 2", "unexpected character '@' at line 1, column 3"},
      {"t*\x01", "unexpected character '\\x01' at line 1, column 3"},
      {deep.c_str(), "the formula nests deeper than 256 levels at line 1, column 257"},
  };
  for (const Refused& row : rows) {
    SKREEL_C_RESULT result;
    EXPECT_EQ(skreel_compile_c(row.text, &result), 0) << row.text;
    EXPECT_STREQ(result.message.data(), row.message) << row.text;
    EXPECT_STREQ(result.url.data(), "") << row.text;
  }

  SKREEL_C_RESULT result;
  ASSERT_EQ(skreel_compile_c("t +\n\n (t", &result), 0);
  EXPECT_EQ(result.offset, 8);
  EXPECT_EQ(result.line, 3);
  EXPECT_EQ(result.column, 4);
  EXPECT_STREQ(result.reason.data(), "expected ')'");
}

TEST(SkreelC, AProgramLongerThanTheMachinePlaysIsRefusedWithItsLength) {
  std::string text = "t";
  for (int i = 1; i <= 12; ++i) text += " ^ (t - " + std::to_string(i * 1000) + ") / (t % " + std::to_string(i + 6) + " - 3)";
  SKREEL_C_RESULT result;
  ASSERT_EQ(skreel_compile_c(text.c_str(), &result), 0);
  EXPECT_GT(result.count, SKREEL_C_MAX_INSTRUCTIONS);
  EXPECT_EQ(result.offset, -1);
  EXPECT_EQ(result.message.data(), "the formula compiles to " + std::to_string(result.count) +
                                       " instructions, more than the 256 a tune may have");
  EXPECT_STREQ(result.url.data(), "");
}

// ---------------------------------------------------------------------------
// The rate

TEST(SkreelC, ATuneNamesItsRateInAComment) {
  struct Case {
    SKREEL_TUNE_SYNTAX syntax;
    const char* text;
    unsigned rate;  // 0: refused
    int named;
    const char* message;
  };
  constexpr auto kC = SKREEL_SYNTAX_C;
  constexpr auto kProgram = SKREEL_SYNTAX_PROGRAM;
  const Case rows[] = {
      {kC, "t", 8000, 0, ""},
      {kC, "t // rate: 11025", 11025, 1, ""},
      {kC, "/* Rate:44100 */ t", 44100, 1, ""},
      {kC, "t // sample rate: 22050 Hz", 22050, 1, ""},
      {kC, "t // rate: 8000\n/* rate: 8000 */", 8000, 1, ""},
      {kC, "\"// rate: 5\"[t & 7]", 8000, 0, ""},
      {kC, "t // framerate: 30, rate without a colon", 8000, 0, ""},
      {kProgram, "( rate: 16000 ) t", 16000, 1, ""},
      {kProgram, "t 8 >> (rate: 1000", 1000, 1, ""},
      {kProgram, "t(rate: 9000)", 8000, 0, ""},
      {kProgram, "t // rate: 9000", 8000, 0, ""},
      {kC, "t // rate: 999", 0, 0, "the rate 999 is outside 1000 to 192000 steps a second at line 1, column 6"},
      {kC, "t\n// rate: 192001", 0, 0, "the rate 192001 is outside 1000 to 192000 steps a second at line 2, column 4"},
      {kProgram, "( rate: fast ) t", 0, 0,
       "the rate must be a whole number of steps a second, from 1000 to 192000: 'rate: fast' at line 1, column 3"},
      {kC, "t // rate: 11025.5", 0, 0,
       "the rate must be a whole number of steps a second, from 1000 to 192000: 'rate: 11025.5' at line 1, column 6"},
      {kC, "t // rate: 8000\n// rate: 11025", 0, 0, "the tune names two rates, 8000 and 11025 at line 2, column 4"},
  };
  for (const Case& row : rows) {
    SKREEL_TUNE_RATE rate;
    EXPECT_EQ(skreel_tune_rate(row.text, row.syntax, &rate), row.rate != 0 ? 1 : 0) << row.text;
    EXPECT_EQ(rate.rate, row.rate != 0 ? row.rate : SKREEL_DEFAULT_TUNE_RATE) << row.text;
    EXPECT_EQ(rate.named, row.named) << row.text;
    EXPECT_STREQ(rate.message.data(), row.message) << row.text;
  }
}

}  // namespace
