// The opcode tables and the URL text decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "keltoolkit/skreelplayer/skreel.h"
#include "support/capture.h"

namespace {

struct Ins {
  int id;
  VAL32 val;
  bool operator==(const Ins&) const = default;
};

std::vector<Ins> instructions(const SKREELCODEARRAY& code) {
  std::vector<Ins> out;
  for (int i = 0; i < code.count; ++i) out.push_back({code.op[i].id, code.op[i].val});
  return out;
}

// Decodes `url` into a fresh program; returns the result and the log lines.
struct Decoded {
  int result;
  SKREELCODEARRAY code;
  std::string log;
};

Decoded decode(const char* url) {
  Decoded d{};
  StdoutCapture out;
  d.result = skreel_decode_url_to_array(url, &d.code);
  d.log = strip_log_prefixes(out.take());
  return d;
}

TEST(SkreelTables, LettersAndRowsAreAsTabled) {
  EXPECT_EQ(std::strlen(op_map), 47u);
  EXPECT_STREQ(op_map, ".abcdefghijklmnopqrstuvwxyzGHIJKLMNOPQRSTUVWXYZ");
  EXPECT_EQ(OP_COUNT, 47);
  EXPECT_EQ(OP_INPUT3, 27);
  EXPECT_EQ(OP_Z, 46);
  ASSERT_EQ(op_table.size(), 47u);
  // Rows 18 and 19 are stored as GT before LT; 21 and 22 are "@" and "!",
  // fetch and store.
  EXPECT_EQ(op_table[18].id, OP_GT);
  EXPECT_STREQ(op_table[18].name, ">");
  EXPECT_EQ(op_table[18].test, TEST_CONDITIONAL);
  EXPECT_EQ(op_table[19].id, OP_LT);
  EXPECT_EQ(op_table[21].id, OP_FETCH);
  EXPECT_STREQ(op_table[21].name, "@");
  EXPECT_EQ(op_table[21].consume, 1);
  EXPECT_EQ(op_table[22].id, OP_STORE);
  EXPECT_STREQ(op_table[22].name, "!");
  EXPECT_EQ(op_table[22].consume, 2);
  EXPECT_EQ(op_table[22].produce, 0);
  EXPECT_EQ(op_table[25].id, OP_INPUT2);
  EXPECT_STREQ(op_table[25].name, "u");
  for (std::size_t row = 27; row < op_table.size(); ++row) {
    const OP_INFO& r = op_table[row];
    EXPECT_TRUE(r.id == 0 && r.name == nullptr && r.consume == 0 && r.produce == 0 && r.test == 0 &&
                r.immutable == 0)
        << "row " << row;
  }
}

TEST(SkreelTables, LookupsTakeTheFirstMatchingRow) {
  EXPECT_EQ(op_lookup_id(OP_NOP), &op_table[0]);
  EXPECT_EQ(op_lookup(">"), &op_table[18]);
  EXPECT_EQ(op_lookup("<"), &op_table[19]);
  EXPECT_EQ(op_lookup_id(OP_LT), &op_table[19]);
  EXPECT_EQ(op_lookup_id(OP_FETCH), &op_table[21]);
  EXPECT_EQ(op_lookup_id(OP_STORE), &op_table[22]);
  EXPECT_EQ(op_lookup_id(OP_i), nullptr);
  EXPECT_EQ(op_lookup_id(OP_H), nullptr);
  EXPECT_EQ(op_lookup("dup"), &op_table[15]);
  EXPECT_EQ(op_lookup("T"), &op_table[1]);
  EXPECT_EQ(op_lookup("pick2"), nullptr);
  EXPECT_EQ(op_lookup(""), nullptr);
  EXPECT_EQ(op_lookup(nullptr), nullptr);
  // Readable names and URL letters are different alphabets.
  EXPECT_EQ(op_lookup("u")->id, OP_INPUT2);
  EXPECT_EQ(skreel_decode_opcode('u'), OP_EQ);
  EXPECT_EQ(op_lookup("v")->id, OP_INPUT3);
  EXPECT_EQ(skreel_decode_opcode('v'), OP_FETCH);
  EXPECT_EQ(skreel_decode_opcode('t'), OP_GT);
}

TEST(SkreelDecode, PiecesOfTheText) {
  EXPECT_EQ(skreel_decode_opcode('.'), 0);
  EXPECT_EQ(skreel_decode_opcode('a'), OP_TIME);
  EXPECT_EQ(skreel_decode_opcode('G'), OP_INPUT3);
  EXPECT_EQ(skreel_decode_opcode('Z'), OP_Z);
  EXPECT_EQ(skreel_decode_opcode('A'), -1);
  EXPECT_EQ(skreel_decode_opcode('!'), -1);
  EXPECT_EQ(skreel_decode_opcode('\0'), -1);

  uint32_t n = 77;
  EXPECT_EQ(skreel_decode_number("1Fk", &n), 2);
  EXPECT_EQ(n, 0x1Fu);
  n = 77;
  EXPECT_EQ(skreel_decode_number("ff", &n), 0);  // lower case is not a digit
  EXPECT_EQ(n, 77u);
  EXPECT_EQ(skreel_decode_number("123456789", &n), 9);
  EXPECT_EQ(n, 0x23456789u);

  const char* text = "x skreel://n!a";
  EXPECT_EQ(skip_prefix(text), text + 11);
  const char* plain = "compiled!a";
  EXPECT_EQ(skip_prefix(plain), plain);
  EXPECT_EQ(skip_prefix(nullptr), nullptr);

  char name[32];
  EXPECT_EQ(skreel_decode_name("My_Tune!a", name), 7);
  EXPECT_STREQ(name, "My Tune");
  EXPECT_EQ(skreel_decode_name("abcdefghijklmnop!", name), 16);
  EXPECT_EQ(skreel_decode_name("abcdefghijklmnopq!", name), -2);
  EXPECT_STREQ(name, "abcdefghijklmnopq");
  EXPECT_EQ(skreel_decode_name("bad-name!", nullptr), -1);
  EXPECT_EQ(skreel_decode_name("", name), 0);
  EXPECT_EQ(skreel_decode_name(nullptr, name), -1);

  SKREELCODE code[4]{};
  EXPECT_EQ(skreel_decode_code_block(nullptr, code, 4), -1);
  EXPECT_EQ(skreel_decode_code_block("", code, 4), 0);
  EXPECT_EQ(skreel_decode_code_block("$a", code, 4), 1);  // a leading '$' is skipped
  EXPECT_EQ(skreel_decode_code_block("abcdef", code, 4), 4);
}

TEST(SkreelDecode, WholeUrlTexts) {
  Decoded d = decode("skreel://My_Tune!aA0k.1F!d");
  EXPECT_EQ(d.result, 5);
  EXPECT_EQ(instructions(d.code),
            (std::vector<Ins>{{OP_TIME, 0}, {OP_PUSH_INT, 160}, {OP_RSHIFT, 0}, {OP_PUSH_INT, 31}, {OP_MUL, 0}}));
  EXPECT_EQ(d.log, "DECODED 'My Tune' 5 opcodes\n");

  d = decode("x skreel://!a");
  EXPECT_EQ(d.result, 1);
  EXPECT_EQ(d.log, "DECODED 'unnamed' 1 opcodes\n");

  d = decode("compiled!a");
  EXPECT_EQ(d.log, "DECODED 'compiled' 1 opcodes\n");

  EXPECT_EQ(instructions(decode("skreel://n!ff").code), (std::vector<Ins>{{OP_ADD, 0}, {OP_ADD, 0}}));
  EXPECT_EQ(instructions(decode("skreel://n!FF").code), (std::vector<Ins>{{OP_PUSH_INT, 255}}));
  EXPECT_EQ(instructions(decode("skreel://n!123456789").code), (std::vector<Ins>{{OP_PUSH_INT, 0x23456789}}));
  EXPECT_EQ(instructions(decode("skreel://n!12.34").code),
            (std::vector<Ins>{{OP_PUSH_INT, 0x12}, {OP_PUSH_INT, 0x34}}));
  EXPECT_EQ(instructions(decode("skreel://n!1234").code), (std::vector<Ins>{{OP_PUSH_INT, 0x1234}}));
  EXPECT_EQ(instructions(decode("skreel://n!b").code), (std::vector<Ins>{{OP_PUSH_INT, 0}}));
  // Several blocks join into one program; '$' after the name ends it.
  EXPECT_EQ(decode("n!a!!.a..!a").result, 3);
  EXPECT_EQ(decode("n!$a").result, 0);

  // An unknown character ends the program without a message of its own.
  d = decode("skreel://n!a?a");
  EXPECT_EQ(d.result, 1);
  EXPECT_EQ(d.log, "DECODED 'n' 1 opcodes\n");

  d = decode("compiled!");
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(d.log, "DECODED 'compiled' 0 opcodes\n");
}

TEST(SkreelDecode, LongCodeStopsAt256Instructions) {
  const std::string url = "n!" + std::string(300, 'a');
  Decoded d = decode(url.c_str());
  EXPECT_EQ(d.result, 256);
  EXPECT_EQ(d.code.count, 256);
  EXPECT_EQ(d.log, "DECODED 'n' 256 opcodes\n");
}

TEST(SkreelDecode, FailuresLeaveTheProgramAlone) {
  SKREELCODEARRAY code{};
  code.count = 1;
  code.op[0] = {OP_TIME, 0};
  StdoutCapture out;
  EXPECT_EQ(skreel_decode_url_to_array("skreel://bad-name!a", &code), -1);
  EXPECT_EQ(skreel_decode_url_to_array("skreel://abcdefghijklmnopq!a", &code), -1);
  EXPECT_EQ(skreel_decode_url_to_array("skreel://song", &code), -2);
  EXPECT_EQ(skreel_decode_url_to_array("", &code), -2);
  EXPECT_EQ(skreel_decode_url_to_array(nullptr, &code), -2);
  EXPECT_EQ(strip_log_prefixes(out.take()),
            "NAME DECODE ERROR!\nNAME DECODE ERROR!\nSTART DECODE ERROR!\nSTART DECODE ERROR!\n"
            "START DECODE ERROR!\n");
  EXPECT_EQ(instructions(code), (std::vector<Ins>{{OP_TIME, 0}}));

  // A 16-character name is still a name.
  EXPECT_EQ(skreel_decode_url_to_array("skreel://abcdefghijklmnop!a", &code), 1);
  EXPECT_EQ(strip_log_prefixes(out.take()), "DECODED 'abcdefghijklmnop' 1 opcodes\n");
  EXPECT_EQ(skreel_decode_url_to_array("n!a", nullptr), -1);
}

}  // namespace
