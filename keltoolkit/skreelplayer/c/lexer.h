// lexer: the tokens of a C formula. White space and both kinds of comment
// are skipped; numbers are read as C reads them (the type of a literal
// included), character constants become numbers, and string literals keep
// their bytes with the escapes resolved.
//
// Threads: any thread, on a lexer of its own. A lexer keeps only its place
// in one text; nothing is kept from one compilation to the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "keltoolkit/skreelplayer/c/front.h"

namespace skreel_c {

enum class Tok : uint8_t { End, Number, String, Name, Punct, Bad };

struct Token {
  Tok kind = Tok::End;
  int offset = 0;
  std::string_view text;  // the token as written
  uint32_t value = 0;     // Number: its bits
  bool uns = false;       // Number: of type unsigned int
  std::string bytes;      // String: its bytes, escapes resolved
};

// Whether the token is one of C's assigning operators (++ and -- included).
bool assigns(const Token& tok);

class Lexer {
 public:
  // Reads `text`, which must outlive the lexer and its tokens (their `text`
  // points into it); the first refusal goes to `fail`.
  Lexer(std::string_view text, Failure* fail) : s_(text), fail_(fail) {}

  // The next token after white space and comments; Tok::End at the end of
  // the text, Tok::Bad after a refusal (written to the Failure).
  Token next();

 private:
  Token bad() const;
  bool skip_space_and_comments();
  Token number();
  bool escape(std::string* out);
  Token quoted(char quote);

  std::string_view s_;
  std::size_t p_ = 0;
  Failure* fail_;
};

}  // namespace skreel_c
