// What each form of repeating back escapes, and what it keeps.
#include <gtest/gtest.h>

#include <string>

#include "framework/core/escape.h"

namespace {

TEST(Escape, ControlsOfEveryKindAndNothingElse) {
  using std::string;
  const struct {
    string bytes;
    string echo, name, ascii;
  } cases[] = {
      {"t 8 >>", "t 8 >>", "t 8 >>", "t 8 >>"},
      {"\x1b]0;owned\x07", "\\x1b]0;owned\\x07", "\\x1b]0;owned\\x07", "\\x1b]0;owned\\x07"},
      {string("a\nb\tc\0d\x7f", 8), string("a\nb\tc\0d\\x7f", 11), "a\\x0ab\\x09c\\x00d\\x7f",
       "a\\x0ab\\x09c\\x00d\\x7f"},
      // C1 controls: raw, and in UTF-8 (U+009B, the one-byte CSI).
      {"\x9b" "2J", "\\x9b2J", "\\x9b2J", "\\x9b2J"},
      {"\xc2\x9b" "2J \xc2\x80", "\\xc2\\x9b2J \\xc2\\x80", "\\xc2\\x9b2J \\xc2\\x80", "\\xc2\\x9b2J \\xc2\\x80"},
      // Characters whose bytes lie in 0x80-0x9F but that are no controls
      // stay whole: "Ā" (C4 80), an em dash (E2 80 94), U+1F3B5 (F0 9F 8E B5).
      {"\xc4\x80 \xe2\x80\x94 \xf0\x9f\x8e\xb5", "\xc4\x80 \xe2\x80\x94 \xf0\x9f\x8e\xb5",
       "\xc4\x80 \xe2\x80\x94 \xf0\x9f\x8e\xb5", "\\xc4\\x80 \\xe2\\x80\\x94 \\xf0\\x9f\\x8e\\xb5"},
      // A no-break space and a byte-order mark are characters; broken or
      // overlong forms are single bytes, escaped where they are C1.
      {"\xc2\xa0\xef\xbb\xbf", "\xc2\xa0\xef\xbb\xbf", "\xc2\xa0\xef\xbb\xbf", "\\xc2\\xa0\\xef\\xbb\\xbf"},
      {"\xe2\x80 \xc0\x9b \xed\xa0\x80", "\xe2\\x80 \xc0\\x9b \xed\xa0\\x80", "\xe2\\x80 \xc0\\x9b \xed\xa0\\x80",
       "\\xe2\\x80 \\xc0\\x9b \\xed\\xa0\\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kel_escape(c.bytes, KEL_ESCAPE::kEcho), c.echo) << c.bytes;
    EXPECT_EQ(kel_escape(c.bytes, KEL_ESCAPE::kName), c.name) << c.bytes;
    EXPECT_EQ(kel_escape(c.bytes, KEL_ESCAPE::kAscii), c.ascii) << c.bytes;
  }
  EXPECT_EQ(kel_escape_name(nullptr), "(null)");
}

}  // namespace
