// skreel_c: C formulas of `t` compiled to programs of the stack machine, and
// the rate a tune names in a comment.
//
// The front end reads the text into a small tree in which equal
// subexpressions are one node, deciding each node's C type (int or unsigned
// int) and folding constants as it builds. Then, in rounds until nothing
// changes, it works out what is known of every value (its range and its
// known bits, with `t` in [0, 2^31)) and which of its bits are needed (the
// sample needs the low 8), and rewrites nodes into cheaper ones that agree
// on the needed bits. The code generator emits each node with the machine's
// unsigned operations, and C's signed forms only where the ranges or the
// needed bits say that the two can differ. Truth values travel as masks (0
// or all ones, what the machine's comparisons give) wherever that is
// shorter than C's 0 or 1. A last pass copies a value that is still on the
// stack (DUP, PICK) instead of computing it again, and folds what is left
// of constant operations.
//
// Each step is a room of its own in c/ (namespace skreel_c), in the order
// a formula passes through them: lexer (text to tokens), parser (tokens to
// the tree of tree.h), analysis (what is known of each value), simplifier
// (needed bits and rewriting), generator (the tree to straight code), code
// (the last passes and the URL text); front.h holds what they share. This
// file drives them, and finds the rate a tune names.
#include "keltoolkit/skreelplayer/skreel_c.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "keltoolkit/skreelplayer/c/analysis.h"
#include "keltoolkit/skreelplayer/c/code.h"
#include "keltoolkit/skreelplayer/c/front.h"
#include "keltoolkit/skreelplayer/c/generator.h"
#include "keltoolkit/skreelplayer/c/parser.h"
#include "keltoolkit/skreelplayer/c/simplifier.h"
#include "keltoolkit/skreelplayer/c/tree.h"

using namespace skreel_c;

namespace {

constexpr int kMaxRounds = 12;

// Line and column (both from 1, columns in bytes) of byte `offset`.
std::pair<int, int> line_and_column(std::string_view text, int offset) {
  int line = 1, column = 1;
  for (std::size_t i = 0; i < text.size() && static_cast<int>(i) < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return {line, column};
}

template <std::size_t N>
void copy_text(std::array<char, N>* to, const std::string& text) {
  std::snprintf(to->data(), to->size(), "%s", text.c_str());
}

// ---------------------------------------------------------------------------
// The rate in a comment

struct Comment {
  std::size_t begin, end;  // the comment's text, without its delimiters
};

// The comments of program text: '(' where a token could begin, to the next
// ')' or the end; a token is a run of up to 15 characters, the 16th dropped.
std::vector<Comment> program_comments(std::string_view s) {
  std::vector<Comment> out;
  std::size_t p = 0;
  while (p < s.size()) {
    while (p < s.size() && is_space(s[p])) ++p;
    if (p >= s.size()) break;
    if (s[p] == '(') {
      const std::size_t close = s.find(')', p + 1);
      const std::size_t end = close == std::string_view::npos ? s.size() : close;
      out.push_back({p + 1, end});
      p = close == std::string_view::npos ? s.size() : close + 1;
      continue;
    }
    std::size_t n = 0;
    while (p < s.size() && !is_space(s[p]) && n < 16) {
      ++p;
      ++n;
    }
  }
  return out;
}

// The comments of C text, outside character and string literals.
std::vector<Comment> c_comments(std::string_view s) {
  std::vector<Comment> out;
  for (std::size_t p = 0; p < s.size();) {
    const char c = s[p];
    if (c == '"' || c == '\'') {
      for (++p; p < s.size() && s[p] != c && s[p] != '\n'; ++p)
        if (s[p] == '\\') ++p;
      ++p;
    } else if (s.substr(p).starts_with("//")) {
      const std::size_t end = std::min(s.find('\n', p), s.size());
      out.push_back({p + 2, end});
      p = end;
    } else if (s.substr(p).starts_with("/*")) {
      const std::size_t close = s.find("*/", p + 2);
      const std::size_t end = close == std::string_view::npos ? s.size() : close;
      out.push_back({p + 2, end});
      p = close == std::string_view::npos ? s.size() : close + 2;
    } else {
      ++p;
    }
  }
  return out;
}

}  // namespace

int skreel_compile_c(const char* text, SKREEL_C_RESULT* result) {
  if (result == nullptr) return 0;
  *result = SKREEL_C_RESULT{};
  result->offset = -1;
  Failure fail;
  const std::string_view source = text ? std::string_view(text) : std::string_view();
  Tree tree;
  Val formula;
  if (text == nullptr) {
    fail.set(-1, "no formula");
  } else {
    formula = parse_formula(source, &tree, &fail);
  }

  std::vector<Ins> program;
  if (!fail.failed) {
    result->naive_count = formula.naive;
    Analysis analysis(&tree);
    Simplifier simplifier(&tree, &analysis);
    int root = formula.node;
    for (int round = 0; round < kMaxRounds; ++round) {
      const int next = simplifier.round(root);
      if (next == root) break;
      root = next;
    }
    simplifier.round(root);  // the needed bits of the final tree
    program = fold_constants(reuse_values(generate(&tree, &analysis, &simplifier, root)));
    result->count = static_cast<int>(program.size());
    std::size_t length = 0;
    if (result->count > SKREEL_C_MAX_INSTRUCTIONS) {
      fail.set(-1, format("the formula compiles to %d instructions, more than the %d a tune may have", result->count,
                          SKREEL_C_MAX_INSTRUCTIONS));
    } else if (!write_url(program, &result->url, &length)) {
      fail.set(-1, format("the formula's URL text would be %zu characters, more than %zu", length,
                          result->url.size() - 1));
    }
  }

  if (fail.failed) {
    result->ok = 0;
    result->url[0] = '\0';
    if (result->count <= SKREEL_C_MAX_INSTRUCTIONS) result->count = 0;
    result->offset = fail.offset;
    copy_text(&result->reason, fail.reason);
    if (fail.offset >= 0) {
      const auto [line, column] = line_and_column(source, fail.offset);
      result->line = line;
      result->column = column;
      copy_text(&result->message, format("%s at line %d, column %d", fail.reason.c_str(), line, column));
    } else {
      copy_text(&result->message, fail.reason);
    }
    return 0;
  }
  result->ok = 1;
  return 1;
}

int skreel_tune_rate(const char* text, SKREEL_TUNE_SYNTAX syntax, SKREEL_TUNE_RATE* out) {
  if (out == nullptr) return 0;
  *out = SKREEL_TUNE_RATE{};
  out->rate = SKREEL_DEFAULT_TUNE_RATE;
  out->offset = -1;
  if (text == nullptr) return 1;
  const std::string_view s(text);
  const std::vector<Comment> comments = syntax == SKREEL_SYNTAX_C ? c_comments(s) : program_comments(s);
  const auto refuse = [&](std::size_t at, const std::string& why) {
    const auto [line, column] = line_and_column(s, static_cast<int>(at));
    out->rate = SKREEL_DEFAULT_TUNE_RATE;
    out->named = 0;
    out->offset = static_cast<int>(at);
    out->line = line;
    out->column = column;
    copy_text(&out->message, format("%s at line %d, column %d", why.c_str(), line, column));
    return 0;
  };
  for (const Comment& c : comments) {
    for (std::size_t p = c.begin; p + 4 <= c.end; ++p) {
      bool word = true;
      for (std::size_t k = 0; k < 4; ++k) word = word && ascii_lower(s[p + k]) == "rate"[k];
      if (!word || (p > c.begin && is_alnum(s[p - 1])) || (p + 4 < c.end && is_alnum(s[p + 4]))) continue;
      std::size_t q = p + 4;
      while (q < c.end && (s[q] == ' ' || s[q] == '\t')) ++q;
      if (q >= c.end || s[q] != ':') continue;  // "rate" as a plain word
      ++q;
      while (q < c.end && (s[q] == ' ' || s[q] == '\t')) ++q;
      const std::size_t digits = q;
      uint64_t value = 0;
      for (; q < c.end && is_digit(s[q]); ++q) value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(s[q] - '0'), 1u << 30);
      if (q == digits || (q < c.end && (is_alnum(s[q]) || s[q] == '.' || s[q] == ','))) {
        std::size_t end = q;
        while (end < c.end && !is_space(s[end])) ++end;
        return refuse(p, format("the rate must be a whole number of steps a second, from %u to %u: '%s'",
                                SKREEL_LOWEST_TUNE_RATE, SKREEL_HIGHEST_TUNE_RATE,
                                shown(s.substr(p, end - p)).c_str()));
      }
      if (value < SKREEL_LOWEST_TUNE_RATE || value > SKREEL_HIGHEST_TUNE_RATE)
        return refuse(p, format("the rate %s is outside %u to %u steps a second",
                                shown(s.substr(digits, q - digits)).c_str(), SKREEL_LOWEST_TUNE_RATE,
                                SKREEL_HIGHEST_TUNE_RATE));
      const auto rate = static_cast<unsigned>(value);
      if (out->named && rate != out->rate)
        return refuse(p, format("the tune names two rates, %u and %u", out->rate, rate));
      out->rate = rate;
      out->named = 1;
      p = q;
    }
  }
  return 1;
}
