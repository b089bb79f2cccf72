// Fuzzes the C formula compiler and the rate finder with arbitrary text.
// Rules beyond "no fault":
//  - a refusal has a message and no URL text, and points inside the text
//    (from its first byte to just past its last) with the line and column
//    of that byte, or at the whole formula (offset -1) when the program came
//    out longer than 256 instructions or its URL text too long;
//  - a formula that compiles gives "compiled!" URL text of at most 1023
//    characters that decodes to exactly its instruction count (1 to 256),
//    and the program runs, leaving the stack as it found it;
//  - the rate is 8000 when refused or not named, and within 1000 to 192000
//    when named; a refusal points at a byte of the text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "framework/core/kel_assert.h"
#include "framework/core/log.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "keltoolkit/skreelplayer/skreel_c.h"

namespace {

SKREEL_C_RESULT result;
SKREELCODEARRAY code;
SKREELPROGRAM program;

void check_position(const std::string& text, int offset, int line, int column) {
  KEL_ASSERT(offset >= 0 && static_cast<std::size_t>(offset) <= text.size());
  int l = 1, c = 1;
  for (int i = 0; i < offset; ++i) {
    if (text[static_cast<std::size_t>(i)] == '\n') {
      ++l;
      c = 1;
    } else {
      ++c;
    }
  }
  KEL_ASSERT(line == l && column == c);
}

void check_rate(const std::string& text, SKREEL_TUNE_SYNTAX syntax) {
  SKREEL_TUNE_RATE rate;
  if (skreel_tune_rate(text.c_str(), syntax, &rate)) {
    KEL_ASSERT(rate.offset == -1 && rate.message[0] == '\0');
    if (rate.named) {
      KEL_ASSERT(rate.rate >= SKREEL_LOWEST_TUNE_RATE && rate.rate <= SKREEL_HIGHEST_TUNE_RATE);
    } else {
      KEL_ASSERT(rate.rate == SKREEL_DEFAULT_TUNE_RATE);
    }
  } else {
    KEL_ASSERT(rate.rate == SKREEL_DEFAULT_TUNE_RATE && rate.named == 0 && rate.message[0] != '\0');
    KEL_ASSERT(static_cast<std::size_t>(rate.offset) < text.size());
    check_position(text, rate.offset, rate.line, rate.column);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A NUL byte ends the text, as it does in the player's buffer.
  std::string text(reinterpret_cast<const char*>(data), size);
  text.resize(std::strlen(text.c_str()));

  if (skreel_compile_c(text.c_str(), &result)) {
    KEL_ASSERT(result.ok == 1 && result.offset == -1 && result.message[0] == '\0');
    KEL_ASSERT(std::strncmp(result.url.data(), "compiled!", 9) == 0);
    KEL_ASSERT(std::strlen(result.url.data()) <= 1023);
    KEL_ASSERT(result.count >= 1 && result.count <= SKREEL_C_MAX_INSTRUCTIONS);
    KEL_ASSERT(skreel_decode_url_to_array(result.url.data(), &code) == result.count);
    skreel_prepare(&code, &program);
    STACK stack{}, memory{};
    for (uint32_t t : {0u, 1u, 4095u, 65536u, 0x7FFFFFFEu, 0x7FFFFFFFu}) {
      skreel_run(&program, &stack, &memory, nullptr, t);
      KEL_ASSERT(stack.sp == 0);
    }
  } else {
    KEL_ASSERT(result.ok == 0 && result.url[0] == '\0' && result.message[0] != '\0');
    if (result.offset == -1) {
      KEL_ASSERT(result.line == 0 && result.column == 0);
    } else {
      check_position(text, result.offset, result.line, result.column);
    }
  }
  check_rate(text, SKREEL_SYNTAX_C);
  check_rate(text, SKREEL_SYNTAX_PROGRAM);
  kel_log_flush_deferred();
  return 0;
}
