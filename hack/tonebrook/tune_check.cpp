#include "hack/tonebrook/tune_check.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "framework/core/escape.h"
#include "framework/core/log.h"
#include "keltoolkit/skreelplayer/skreel.h"

namespace {

// The longest token the encoder reads; a 16th character is dropped.
constexpr std::size_t kTokenLength = 15;
// The most numbers of a run that a warning names.
constexpr int kNamed = 4;

// White space as the C library's default locale classes it.
constexpr bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

struct Token {
  int offset;          // where it starts
  std::string text;    // at most kTokenLength characters
};

// Reads `text` as the encoder does: white space and comments skipped, then
// a token of at most kTokenLength characters (when one more is read without
// a break it is dropped). Calls `on_token` for each token in order. Returns
// the offset of the '(' of a comment that is never closed (reading stops
// there: the rest is that comment), or -1.
template <typename OnToken>
int read_tokens(const char* text, OnToken on_token) {
  if (text == nullptr) return -1;
  int at = 0;
  for (;;) {
    while (is_space(text[at])) ++at;
    if (text[at] == '(') {
      const int open = at;
      while (text[at] != '\0' && text[at] != ')') ++at;
      if (text[at] == '\0') return open;
      ++at;
      continue;
    }
    if (text[at] == '\0') return -1;
    Token token{at, {}};
    std::size_t read = 0;
    while (read <= kTokenLength && text[at] != '\0' && !is_space(text[at])) {
      if (read < kTokenLength) token.text.push_back(text[at]);
      ++read;
      ++at;
    }
    on_token(token);
  }
}

// The token as a message shows it: bytes outside printable ASCII as "\xNN".
std::string shown(std::string_view token) {
  std::string out;
  for (const char c : token) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      out.push_back(c);
    } else {
      std::array<char, 5> escaped{};
      std::snprintf(escaped.data(), escaped.size(), "\\x%02x", byte);
      out += escaped.data();
    }
  }
  return out;
}

// A run of numbers that follow each other.
struct Run {
  int offset = -1;      // of the first
  int count = 0;
  std::string names;    // the first kNamed, quoted
  uint32_t value = 0;   // what the decoder reads: their hexadecimal digits as one number
};

void say_run(const char* text, const Run& run, const char* path) {
  const TUNE_PLACE place = tune_place(text, run.offset);
  kel_log_notice("warning: %s%s run together into one number, 0x%X, at line %d, column %d of '%s': put NOP "
                 "between them\n",
                 run.names.c_str(), run.count > kNamed ? " ..." : "", run.value, place.line, place.column,
                 path ? kel_escape_name(path).c_str() : "");
}

}  // namespace

TUNE_PLACE tune_place(const char* text, int offset) {
  TUNE_PLACE place{1, 1};
  for (int i = 0; text != nullptr && i < offset && text[i] != '\0'; ++i) {
    if (text[i] == '\n') {
      ++place.line;
      place.column = 1;
    } else {
      ++place.column;
    }
  }
  return place;
}

int tune_warn(const char* text, const char* path) {
  int warnings = 0;
  Run run;
  auto end_run = [&] {
    if (run.count > 1) {
      say_run(text, run, path);
      ++warnings;
    }
    run = Run{};
  };
  const int open = read_tokens(text, [&](const Token& token) {
    unsigned value = 0;
    if (op_lookup(token.text.c_str()) != nullptr || !skreel_token_number(token.text.c_str(), &value)) {
      end_run();
      return;
    }
    if (run.count == 0) run.offset = token.offset;
    if (run.count < kNamed) run.names += (run.count ? " '" : "'") + shown(token.text) + "'";
    ++run.count;
    // The encoder writes the value in hexadecimal; the decoder reads the
    // digits of the whole run as one number, modulo 2^32.
    std::array<char, 16> digits{};
    std::snprintf(digits.data(), digits.size(), "%X", value);
    for (const char* d = digits.data(); *d != '\0'; ++d)
      run.value = run.value * 16u + static_cast<uint32_t>(*d <= '9' ? *d - '0' : *d - 'A' + 10);
  });
  end_run();
  if (open >= 0) {
    const TUNE_PLACE place = tune_place(text, open);
    kel_log_notice("warning: this '(' opens a comment that no ')' closes, so the rest of the text is left out, "
                   "at line %d, column %d of '%s'\n",
                   place.line, place.column, path ? kel_escape_name(path).c_str() : "");
    ++warnings;
  }
  return warnings;
}

bool tune_comment_ended_early(const char* text, int offset) {
  if (text == nullptr || offset < 0) return false;
  const char* token = text + offset;
  for (std::size_t i = 0; i <= kTokenLength && token[i] != '\0' && !is_space(token[i]); ++i)
    if (token[i] == ')') return true;
  // The comments before the token: one that holds a '(' was meant to nest.
  bool nested = false;
  int at = 0;
  while (at < offset && text[at] != '\0') {
    while (at < offset && is_space(text[at])) ++at;
    if (at < offset && text[at] == '(') {
      for (++at; text[at] != '\0' && text[at] != ')'; ++at) nested = nested || text[at] == '(';
      if (text[at] == ')') ++at;
      continue;
    }
    while (at < offset && text[at] != '\0' && !is_space(text[at])) ++at;
  }
  return nested;
}
