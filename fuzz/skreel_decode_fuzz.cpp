// Fuzzes the URL text decoder and the listing with arbitrary bytes. Rules
// beyond "no fault":
//  - a bad name or a missing code part leaves the program as it was;
//    otherwise it holds 0 to 256 decoded instructions and nothing after;
//  - the listing is at most 1023 characters and encodes back to the same
//    program, except that numbers that followed each other run together
//    (the encoder writes each in hexadecimal, with nothing between);
//  - a program that decodes, has a name for every opcode and fits has a
//    listing.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "framework/core/kel_assert.h"
#include "framework/core/log.h"
#include "keltoolkit/skreelplayer/skreel.h"

namespace {

SKREELCODEARRAY code;
SKREELCODEARRAY back;

// The program as the listing's text encodes it again: runs of pushes merge
// into one push of their hexadecimal digits, keeping the low 32 bits.
std::vector<SKREELCODE> read_back_model(const SKREELCODEARRAY& program, int count) {
  std::vector<SKREELCODE> model;
  bool in_run = false;
  for (int i = 0; i < count; ++i) {
    const SKREELCODE& ins = program.op[static_cast<std::size_t>(i)];
    if (ins.id != OP_PUSH_INT) {
      model.push_back(SKREELCODE{ins.id, 0});
      in_run = false;
      continue;
    }
    if (!in_run) model.push_back(SKREELCODE{OP_PUSH_INT, 0});
    in_run = true;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", ins.val);
    for (const char* p = hex; *p != '\0'; ++p) {
      const uint32_t digit = static_cast<uint32_t>(*p <= '9' ? *p - '0' : *p - 'A' + 10);
      model.back().val = model.back().val * 16u + digit;
    }
  }
  if (model.size() > 256) model.resize(256);
  return model;
}

// Characters the listing needs, or 0 when an opcode has no name.
std::size_t listing_length(const SKREELCODEARRAY& program, int count) {
  std::size_t length = 0;
  for (int i = 0; i < count; ++i) {
    const SKREELCODE& ins = program.op[static_cast<std::size_t>(i)];
    const OP_INFO* row = op_lookup_id(ins.id);
    if (row == nullptr) return 0;
    char element[16];
    length += static_cast<std::size_t>(ins.id == OP_PUSH_INT ? std::snprintf(element, sizeof element, "%u ", ins.val)
                                                              : std::snprintf(element, sizeof element, "%s ", row->name));
  }
  return length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  std::memset(&code, 0xA5, sizeof code);
  const SKREELCODEARRAY before = code;
  const int count = skreel_decode_url_to_array(text.c_str(), &code);
  KEL_ASSERT(count >= -2 && count <= 256);
  if (count < 0) {
    KEL_ASSERT(std::memcmp(&code, &before, sizeof code) == 0);
  } else {
    KEL_ASSERT(code.count == count);
    for (int i = 0; i < 256; ++i) {
      const SKREELCODE& ins = code.op[static_cast<std::size_t>(i)];
      if (i < count) {
        KEL_ASSERT(ins.id > OP_NOP && ins.id < OP_COUNT);
        KEL_ASSERT(ins.id == OP_PUSH_INT || ins.val == 0);
      } else {
        KEL_ASSERT(ins.id == 0 && ins.val == 0);
      }
    }
  }

  const char* listing = skreel_decode_url_to_text(text.c_str());
  const std::size_t needed = count > 0 ? listing_length(code, count) : 0;
  if (listing == nullptr) {
    KEL_ASSERT(needed == 0 || needed > 1023);
  } else {
    const std::string copy = listing;
    KEL_ASSERT(count > 0);
    KEL_ASSERT(copy.size() == needed && copy.size() <= 1023);
    const char* url = skreel_encode(copy.c_str());
    KEL_ASSERT(url != nullptr);
    const int again = skreel_decode_url_to_array(url, &back);
    const std::vector<SKREELCODE> model = read_back_model(code, count);
    KEL_ASSERT(again == static_cast<int>(model.size()));
    for (std::size_t i = 0; i < model.size(); ++i) {
      KEL_ASSERT(back.op[i].id == model[i].id);
      KEL_ASSERT(back.op[i].val == model[i].val);
    }
  }
  kel_log_flush_deferred();
  return 0;
}
