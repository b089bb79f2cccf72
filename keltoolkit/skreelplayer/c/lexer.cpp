#include "keltoolkit/skreelplayer/c/lexer.h"

#include <algorithm>
#include <array>

namespace skreel_c {
namespace {

// Longest first, so that the first match is the token.
constexpr std::array<std::string_view, 47> kPunctuators = {
    "<<=", ">>=", "...", "<<", ">>", "<=", ">=", "==", "!=", "&&", "||", "++", "--", "+=", "-=", "*=",
    "/=",  "%=",  "&=",  "|=", "^=", "->", "##", "+",  "-",  "*",  "/",  "%",  "<",  ">",  "&",  "|",
    "^",   "~",   "!",   "?",  ":",  "(",  ")",  "[",  "]",  "=",  ",",  ";",  "{",  "}",  "."};

constexpr int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool assigns(const Token& tok) {
  if (tok.kind != Tok::Punct) return false;
  constexpr std::array<std::string_view, 13> kAssigning = {"=",  "+=", "-=", "*=", "/=", "%=", "&=",
                                                            "|=", "^=", "<<=", ">>=", "++", "--"};
  return std::find(kAssigning.begin(), kAssigning.end(), tok.text) != kAssigning.end();
}

Token Lexer::next() {
  if (!skip_space_and_comments()) return bad();
  Token tok;
  tok.offset = static_cast<int>(p_);
  if (p_ >= s_.size()) {
    tok.kind = Tok::End;
    return tok;
  }
  const char c = s_[p_];
  if (is_digit(c) || (c == '.' && p_ + 1 < s_.size() && is_digit(s_[p_ + 1]))) return number();
  if (is_alpha(c)) {
    std::size_t end = p_;
    while (end < s_.size() && is_alnum(s_[end])) ++end;
    tok.kind = Tok::Name;
    tok.text = s_.substr(p_, end - p_);
    p_ = end;
    return tok;
  }
  if (c == '\'' || c == '"') return quoted(c);
  for (std::string_view punct : kPunctuators) {
    if (s_.substr(p_).starts_with(punct)) {
      tok.kind = Tok::Punct;
      tok.text = s_.substr(p_, punct.size());
      p_ += punct.size();
      return tok;
    }
  }
  fail_->set(tok.offset, format("unexpected character '%s'", shown(s_.substr(p_, 1)).c_str()));
  return bad();
}

Token Lexer::bad() const {
  Token tok;
  tok.kind = Tok::Bad;
  tok.offset = static_cast<int>(std::min(p_, s_.size()));
  return tok;
}

bool Lexer::skip_space_and_comments() {
  for (;;) {
    while (p_ < s_.size() && is_space(s_[p_])) ++p_;
    if (s_.substr(p_).starts_with("//")) {
      while (p_ < s_.size() && s_[p_] != '\n') ++p_;
    } else if (s_.substr(p_).starts_with("/*")) {
      const std::size_t end = s_.find("*/", p_ + 2);
      if (end == std::string_view::npos) {
        fail_->set(static_cast<int>(p_), "unterminated comment");
        return false;
      }
      p_ = end + 2;
    } else {
      return true;
    }
  }
}

// A preprocessing number, as C reads one: digits, letters, '_', '.' and
// a sign after an exponent letter. Then what C makes of it.
Token Lexer::number() {
  const std::size_t start = p_;
  while (p_ < s_.size()) {
    const char c = s_[p_];
    const bool sign = (c == '+' || c == '-') && p_ > start &&
                      (ascii_lower(s_[p_ - 1]) == 'e' || ascii_lower(s_[p_ - 1]) == 'p');
    if (is_alnum(c) || c == '.' || sign) {
      ++p_;
    } else {
      break;
    }
  }
  Token tok;
  tok.kind = Tok::Number;
  tok.offset = static_cast<int>(start);
  tok.text = s_.substr(start, p_ - start);
  const std::string text = shown(tok.text);
  const int at = tok.offset;
  const std::string_view t = tok.text;

  int base = 10;
  std::size_t digits = 0;
  if (t.size() > 1 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    digits = 2;
  } else if (t.size() > 1 && t[0] == '0' && (t[1] == 'b' || t[1] == 'B')) {
    base = 2;
    digits = 2;
  } else if (t[0] == '0') {
    base = 8;
  }
  const bool floating = t.find('.') != std::string_view::npos ||
                        (base == 16 ? t.find_first_of("pP") != std::string_view::npos
                                    : base != 2 && t.find_first_of("eE") != std::string_view::npos);
  if (floating) {
    fail_->set(at, format("%s: '%s' is a floating-point number", kIntegerC, text.c_str()));
    return bad();
  }
  std::size_t end = digits;
  uint64_t value = 0;
  for (; end < t.size(); ++end) {
    const int d = hex_value(t[end]);
    const bool digit_of_base = base == 16 ? d >= 0 : is_digit(t[end]);
    if (!digit_of_base) break;
    if (d >= base) {
      fail_->set(at, format("invalid digit '%c' in the %s number '%s'", t[end], base == 8 ? "octal" : "binary",
                            text.c_str()));
      return bad();
    }
    value = std::min<uint64_t>(value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d), uint64_t{1} << 40);
  }
  if (end == digits) {
    fail_->set(at, format("malformed number '%s'", text.c_str()));
    return bad();
  }
  const std::string_view suffix = t.substr(end);
  const bool u = suffix == "u" || suffix == "U";
  if (!suffix.empty() && !u) {
    fail_->set(at, format("unknown suffix '%s' on the number '%s' (tonebrook takes u)", shown(suffix).c_str(),
                          text.c_str()));
    return bad();
  }
  if (base == 10 && !u && value > static_cast<uint64_t>(kIntMax)) {
    fail_->set(at, format("the decimal number '%s' is larger than an int holds (2147483647)", text.c_str()));
    return bad();
  }
  if (value > static_cast<uint64_t>(kUnsMax)) {
    fail_->set(at, format("the number '%s' does not fit in 32 bits", text.c_str()));
    return bad();
  }
  tok.value = static_cast<uint32_t>(value);
  tok.uns = u || value > static_cast<uint64_t>(kIntMax);
  return tok;
}

// One escape sequence at p_ (on the backslash) into `out`.
bool Lexer::escape(std::string* out) {
  const std::size_t start = p_;
  ++p_;
  if (p_ >= s_.size()) return false;  // the caller reports the missing end
  const char c = s_[p_];
  constexpr std::string_view kFrom = "ntrabfv\\'\"?";
  constexpr std::string_view kTo = "\n\t\r\a\b\f\v\\'\"?";
  if (const std::size_t k = kFrom.find(c); k != std::string_view::npos) {
    out->push_back(kTo[k]);
    ++p_;
    return true;
  }
  unsigned value = 0;
  if (c >= '0' && c <= '7') {
    for (int n = 0; n < 3 && p_ < s_.size() && s_[p_] >= '0' && s_[p_] <= '7'; ++n, ++p_)
      value = value * 8 + static_cast<unsigned>(s_[p_] - '0');
    if (value > 0xFF) {
      fail_->set(static_cast<int>(start), "octal escape sequence out of range");
      return false;
    }
  } else if (c == 'x') {
    ++p_;
    const std::size_t first = p_;
    for (; p_ < s_.size() && hex_value(s_[p_]) >= 0; ++p_) {
      value = value * 16 + static_cast<unsigned>(hex_value(s_[p_]));
      if (value > 0xFF) {
        fail_->set(static_cast<int>(start), "hex escape sequence out of range");
        return false;
      }
    }
    if (p_ == first) {
      fail_->set(static_cast<int>(start), "\\x used with no following hex digits");
      return false;
    }
  } else {
    fail_->set(static_cast<int>(start),
               format("unknown escape sequence '\\%s'", shown(s_.substr(p_, 1)).c_str()));
    return false;
  }
  out->push_back(static_cast<char>(value));
  return true;
}

// A character constant ('a', '\x03': an int, the value of a char, which
// is signed) or a string literal.
Token Lexer::quoted(char quote) {
  const std::size_t start = p_;
  ++p_;
  std::string bytes;
  for (;;) {
    if (p_ >= s_.size() || s_[p_] == '\n') {
      if (!fail_->failed)
        fail_->set(static_cast<int>(start), format("missing terminating %c character", quote));
      return bad();
    }
    if (s_[p_] == quote) break;
    if (s_[p_] == '\\') {
      if (!escape(&bytes)) {
        if (!fail_->failed) fail_->set(static_cast<int>(start), format("missing terminating %c character", quote));
        return bad();
      }
    } else {
      bytes.push_back(s_[p_++]);
    }
  }
  ++p_;
  Token tok;
  tok.offset = static_cast<int>(start);
  tok.text = s_.substr(start, p_ - start);
  if (quote == '"') {
    tok.kind = Tok::String;
    tok.bytes = std::move(bytes);
    return tok;
  }
  if (bytes.size() != 1) {
    fail_->set(tok.offset, bytes.empty() ? "empty character constant"
                                         : "a character constant holds one character");
    return bad();
  }
  tok.kind = Tok::Number;
  tok.value = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(bytes[0])));
  return tok;
}

}  // namespace skreel_c
