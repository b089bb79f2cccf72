// Fuzzes the encoder with arbitrary program text. Rules beyond "no fault":
//  - URL text that it returns is "compiled!" and at most 1023 characters of
//    code the decoder reads to the end: it decodes, and to as many
//    instructions as it has elements (256 at most);
//  - a refusal names an offset inside the text where a token starts.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "framework/core/kel_assert.h"
#include "framework/core/log.h"
#include "keltoolkit/skreelplayer/skreel.h"

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool is_url_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// Instructions in the code of URL text: one per letter, one per run of
// digits; '.' only separates.
int elements_of(const char* code) {
  int n = 0;
  for (const char* p = code; *p != '\0';) {
    if (is_url_digit(*p)) {
      while (is_url_digit(*p)) ++p;
      ++n;
    } else {
      KEL_ASSERT(skreel_decode_opcode(*p) >= 0);  // only what the decoder reads
      if (*p != '.') ++n;
      ++p;
    }
  }
  return n;
}

SKREELCODEARRAY decoded;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A NUL byte ends the text, as it does in the player's buffer.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::size_t length = std::strlen(text.c_str());

  const char* url = skreel_encode(text.c_str());
  const int offset = skreel_encode_error_offset();
  if (url != nullptr) {
    KEL_ASSERT(offset == -1);
    KEL_ASSERT(std::strncmp(url, "compiled!", 9) == 0);
    KEL_ASSERT(std::strlen(url) <= 1023);
    const int elements = elements_of(url + 9);
    const int count = skreel_decode_url_to_array(url, &decoded);
    KEL_ASSERT(count == (elements < 256 ? elements : 256));
    KEL_ASSERT(decoded.count == count);
  } else {
    KEL_ASSERT(offset >= 0 && static_cast<std::size_t>(offset) < length);
    KEL_ASSERT(!is_space(text[static_cast<std::size_t>(offset)]));
  }
  kel_log_flush_deferred();
  return 0;
}
