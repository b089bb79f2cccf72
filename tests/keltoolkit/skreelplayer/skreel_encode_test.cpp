// The encoder from readable program text to URL text, and the listing.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <random>
#include <string>

#include "keltoolkit/skreelplayer/skreel.h"
#include "support/capture.h"

namespace {

using namespace std::string_literals;

struct Encoded {
  std::string url;  // empty for a null result
  bool ok;
  std::string raw;  // everything written to standard output
  int error_offset;
};

Encoded encode(const char* text) {
  StdoutCapture out;
  const char* url = skreel_encode(text);
  Encoded e{url ? url : "", url != nullptr, out.take(), skreel_encode_error_offset()};
  return e;
}

// The encoded URL text, or "(null)".
std::string url_of(const char* text) {
  const Encoded e = encode(text);
  return e.ok ? e.url : "(null)";
}

TEST(SkreelEncode, ExamplesEncodeAsExpected) {
  EXPECT_EQ(url_of("t 8 >>"), "compiled!a8k");
  EXPECT_EQ(url_of("(saw) t (wave)"), "compiled!a");
  EXPECT_EQ(url_of("t (no end"), "compiled!a");
  EXPECT_EQ(url_of("(a)(b)\n(c) t"), "compiled!a");
  EXPECT_EQ(url_of("T dup *"), "compiled!apd");
  EXPECT_EQ(url_of("0x1F"), "compiled!1F");
  EXPECT_EQ(url_of("31"), "compiled!1F");
  EXPECT_EQ(url_of("-1"), "compiled!FFFFFFFF");
  EXPECT_EQ(url_of("12abc"), "compiled!C");
  EXPECT_EQ(url_of("0X1F"), "compiled!0");  // only "0x" is a hexadecimal prefix
  EXPECT_EQ(url_of("0x"), "compiled!0");
  EXPECT_EQ(url_of("0x-1"), "compiled!FFFFFFFF");
  EXPECT_EQ(url_of("+5"), "compiled!5");
  EXPECT_EQ(url_of("4294967296"), "compiled!0");  // the low 32 bits
  EXPECT_EQ(url_of("x y u v"), "compiled!xyzG");
  EXPECT_EQ(url_of("1 @ 7 NOP 2 !"), "compiled!1v7.2w");  // fetch and store
  EXPECT_EQ(url_of("7 NOP 5 ! 5 @"), "compiled!7.5w5v");
  EXPECT_EQ(url_of("1 NOP 2 +"), "compiled!1.2f");
  EXPECT_EQ(url_of("1 2 +"), "compiled!12f");  // numbers run together
  EXPECT_EQ(url_of("# DROP / - % << & | ^ ~ PICK SWAP > < = NOP"), "compiled!bceghjlmnoqrtsu.");
  EXPECT_EQ(url_of(""), "compiled!");
  EXPECT_EQ(url_of(" \t\r\n\v\f(only a comment) "), "compiled!");
}

TEST(SkreelEncode, TokensLongerThan15CharactersAreCut) {
  // "123456789012345" is one token, the 16th character is dropped and "789"
  // is the next token.
  const uint32_t first = static_cast<uint32_t>(123456789012345ull);
  char hex[16];
  std::snprintf(hex, sizeof hex, "%X", first);
  const Encoded e = encode("1234567890123456789");
  EXPECT_EQ(e.url, "compiled!"s + hex + "315");
  EXPECT_EQ(e.raw.substr(0, 21), "1234567890123456789\0\0"s);
}

TEST(SkreelEncode, EchoesTheTextItReads) {
  Encoded e = encode("t 8 >>");
  EXPECT_EQ(e.raw.substr(0, 8), "t 8 >>\0\0"s);
  EXPECT_EQ(strip_log_prefixes(e.raw.substr(8)), "out: 'compiled!a8k'\n");

  // Comments and leading white space are skipped without an echo; the
  // character that stops a token is echoed.
  e = encode("(saw) t  (wave)\n");
  EXPECT_EQ(e.raw.substr(0, 3), "t \0"s);
  EXPECT_EQ(strip_log_prefixes(e.raw.substr(3)), "out: 'compiled!a'\n");

  e = encode("");
  EXPECT_EQ(e.raw.substr(0, 1), "\0"s);
  EXPECT_EQ(strip_log_prefixes(e.raw.substr(1)), "out: 'compiled!'\n");
}

TEST(SkreelEncode, UnknownTokensFailWithTheirOffset) {
  Encoded e = encode("foo");
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(e.raw.substr(0, 4), "foo\0"s);
  EXPECT_EQ(strip_log_prefixes(e.raw.substr(4)), "?UNKNOWN SYMBOL: 'foo'\n");
  EXPECT_EQ(e.error_offset, 0);

  e = encode("t(x)");
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(strip_log_prefixes(e.raw.substr(5)), "?UNKNOWN SYMBOL: 't(x)'\n");

  e = encode("t 8 >>\n  (comment) bar 1");
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(e.error_offset, 19);
  EXPECT_EQ(e.raw.find("out:"), std::string::npos);

  // URL text (the form with a prefix) is not program text.
  EXPECT_EQ(encode("skreel://n!a").error_offset, 0);

  // A success clears the offset; a null text is refused.
  e = encode("t");
  EXPECT_EQ(e.error_offset, -1);
  e = encode(nullptr);
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(strip_log_prefixes(e.raw), "?NO TEXT TO ENCODE\n");
  EXPECT_EQ(e.error_offset, 0);
}

TEST(SkreelEncode, OneBufferReusedAndKeptOnFailure) {
  StdoutCapture quiet;
  const char* first = skreel_encode("t");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(skreel_encode("foo"), nullptr);
  EXPECT_STREQ(first, "compiled!a");  // a failed call leaves the last result
  const char* second = skreel_encode("1");
  EXPECT_EQ(second, first);
  EXPECT_STREQ(first, "compiled!1");
}

TEST(SkreelEncode, UrlTextLongerThan1023IsRefused) {
  // 126 x "FFFFFFFF" after "compiled!" is 1017 characters; six letters more
  // make exactly 1023.
  std::string text;
  for (int i = 0; i < 126; ++i) text += "-1 ";
  text += "t t t t t t";
  Encoded e = encode(text.c_str());
  ASSERT_TRUE(e.ok);
  EXPECT_EQ(e.url.size(), 1023u);

  text += " DUP";
  e = encode(text.c_str());
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(e.error_offset, static_cast<int>(text.size()) - 3);
  const std::string log = strip_log_prefixes(e.raw.substr(e.raw.rfind('\0') + 1));
  EXPECT_EQ(log, "?CODE TOO LONG: 'DUP' would take the URL text past 1023 characters\n");

  // A number that does not fit either.
  text = std::string(126 * 3, ' ') + "t t t t t 31";  // 31 is "1F"
  for (int i = 0; i < 126; ++i) text.replace(static_cast<std::size_t>(i) * 3, 2, "-1");
  e = encode(text.c_str());
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(e.error_offset, static_cast<int>(text.size()) - 2);
}

TEST(SkreelEncode, TokenHelpers) {
  StdoutCapture out;
  char token[16];
  EXPECT_EQ(get_token("  ab cd", token, 16), 4);
  EXPECT_STREQ(token, "ab");
  EXPECT_EQ(get_token("abcdef", token, 4), 4);
  EXPECT_STREQ(token, "abc");
  EXPECT_EQ(get_token("   ", token, 16), 0);
  EXPECT_EQ(out.take(), "ab abcd\0"s);

  EXPECT_EQ(skip_comments("  (c) t"), 5);
  EXPECT_EQ(skip_comments("  t"), 0);
  EXPECT_EQ(skip_comments("(open"), 5);
  EXPECT_EQ(scan_past_delimiter("ab)c", ')'), 3);
  EXPECT_EQ(scan_past_delimiter("abc", ')'), 3);

  unsigned v = 0;
  EXPECT_EQ(scan_hex_digit("0x1F", &v), 1);
  EXPECT_EQ(v, 31u);
  EXPECT_EQ(scan_hex_digit("0x123456789", &v), 1);
  EXPECT_EQ(v, 0x23456789u);
  EXPECT_EQ(scan_hex_digit("31", &v), 0);
  EXPECT_EQ(scan_hex_digit("0X1F", &v), 0);
}

TEST(SkreelListing, ListsTheProgramByName) {
  StdoutCapture out;
  const char* listing = skreel_decode_url_to_text("compiled!a8k");
  ASSERT_NE(listing, nullptr);
  EXPECT_STREQ(listing, "t 8 >> ");
  EXPECT_EQ(strip_log_prefixes(out.take()),
            "DECODED 'compiled' 3 opcodes\n"
            "OP NAME: 't' ID#1 VALUE: 0\n"
            "OP NAME: '#' ID#2 VALUE: 8\n"
            "OP NAME: '>>' ID#11 VALUE: 0\n"
            "CODE:\nt 8 >> \n");

  EXPECT_STREQ(skreel_decode_url_to_text("n!FFFFFFFFxyzGbstu"), "4294967295 x y u v 0 < > = ");
  // Numbers in a row stay apart, and the memory has names.
  EXPECT_STREQ(skreel_decode_url_to_text("n!1.2f"), "1 NOP 2 + ");
  EXPECT_STREQ(skreel_decode_url_to_text("n!bb.b"), "0 NOP 0 NOP 0 ");
  EXPECT_STREQ(skreel_decode_url_to_text("n!5v7.5w"), "5 @ 7 NOP 5 ! ");
}

TEST(SkreelListing, RefusesWhatHasNoListing) {
  StdoutCapture out;
  EXPECT_EQ(skreel_decode_url_to_text("compiled!ai"), nullptr);
  EXPECT_EQ(skreel_decode_url_to_text("compiled!aH"), nullptr);
  EXPECT_EQ(skreel_decode_url_to_text("compiled!"), nullptr);
  EXPECT_EQ(skreel_decode_url_to_text("skreel://song"), nullptr);
  EXPECT_EQ(skreel_decode_url_to_text(nullptr), nullptr);
  const std::string log = strip_log_prefixes(out.take());
  EXPECT_EQ(log.find("CODE:"), std::string::npos);

  // 256 pushes of 4294967295 in a row need 3836 characters (each after the
  // first with its NOP): 68 elements fit.
  std::string url = "n!";
  for (int i = 0; i < 256; ++i) url += "FFFFFFFF.";
  EXPECT_EQ(skreel_decode_url_to_text(url.c_str()), nullptr);
  const std::string refused = strip_log_prefixes(out.take());
  EXPECT_NE(refused.find("OP NAME: '#' ID#2 VALUE: 4294967295\n"), std::string::npos);
  EXPECT_NE(refused.find("?LISTING TOO LONG: opcode 69 of 256 does not fit in 1023 characters\n"),
            std::string::npos);
  EXPECT_EQ(refused.find("CODE:"), std::string::npos);

  // 256 one-letter names fit (512 characters).
  EXPECT_NE(skreel_decode_url_to_text(("n!" + std::string(256, 'a')).c_str()), nullptr);
}

TEST(SkreelListing, ReadsBackThroughTheEncoder) {
  // Names and numbers at random: the listing of an encoded text encodes to
  // the same URL text, numbers in a row included. ("#" and "NOP" are left
  // out: they encode to a push of 0 or a separator, which the listing shows
  // differently.)
  const char* names[] = {"t", "DROP", "*", "/", "+", "-", "%", "<<", ">>", "&", "|", "^",
                         "~", "DUP", "PICK", "SWAP", ">", "<", "=", "@", "!", "x", "y", "u", "v"};
  std::mt19937 rng(1234);
  StdoutCapture quiet;
  for (int round = 0; round < 200; ++round) {
    std::string text;
    const int tokens = 1 + static_cast<int>(rng() % 60);
    for (int i = 0; i < tokens; ++i) {
      // Numbers in a row are kept apart with NOP, as the URL text keeps
      // them apart with '.'.
      if (rng() % 3 == 0) {
        if (i > 0 && std::isdigit(static_cast<unsigned char>(text[text.size() - 2]))) text += "NOP ";
        text += std::to_string(rng() % 100000);
      } else {
        text += names[rng() % std::size(names)];
      }
      text += (rng() % 2) ? " " : "\n";
    }
    const char* url = skreel_encode(text.c_str());
    ASSERT_NE(url, nullptr) << text;
    const std::string first = url;
    const char* listing = skreel_decode_url_to_text(first.c_str());
    ASSERT_NE(listing, nullptr) << first;
    const char* again = skreel_encode(std::string(listing).c_str());
    ASSERT_NE(again, nullptr) << listing;
    EXPECT_EQ(first, again) << text;
  }
}

}  // namespace
