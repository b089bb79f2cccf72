#include "framework/core/escape.h"

#include <cstddef>
#include <cstdint>

namespace {

bool in(uint8_t byte, uint8_t low, uint8_t high) { return byte >= low && byte <= high; }

// The length of the well-formed UTF-8 sequence that starts at `at` (2 to
// 4), or 0 when none does (Unicode's table of well-formed byte sequences:
// no overlong form, no surrogate, nothing above U+10FFFF).
std::size_t utf8_length(std::string_view s, std::size_t at) {
  auto byte = [&](std::size_t k) { return at + k < s.size() ? static_cast<uint8_t>(s[at + k]) : uint8_t{0}; };
  const uint8_t lead = byte(0);
  const bool tail1 = in(byte(1), 0x80, 0xBF), tail2 = in(byte(2), 0x80, 0xBF), tail3 = in(byte(3), 0x80, 0xBF);
  if (in(lead, 0xC2, 0xDF)) return tail1 ? 2 : 0;
  if (lead == 0xE0) return in(byte(1), 0xA0, 0xBF) && tail2 ? 3 : 0;
  if (lead == 0xED) return in(byte(1), 0x80, 0x9F) && tail2 ? 3 : 0;
  if (in(lead, 0xE1, 0xEF)) return tail1 && tail2 ? 3 : 0;
  if (lead == 0xF0) return in(byte(1), 0x90, 0xBF) && tail2 && tail3 ? 4 : 0;
  if (in(lead, 0xF1, 0xF3)) return tail1 && tail2 && tail3 ? 4 : 0;
  if (lead == 0xF4) return in(byte(1), 0x80, 0x8F) && tail2 && tail3 ? 4 : 0;
  return 0;
}

// Whether a single byte (not part of a longer character) is escaped.
bool escapes_byte(uint8_t byte, KEL_ESCAPE form) {
  if (form == KEL_ESCAPE::kAscii) return byte < 0x20 || byte > 0x7E;
  if (form == KEL_ESCAPE::kEcho && (byte == '\n' || byte == '\t' || byte == '\0')) return false;
  return byte < 0x20 || byte == 0x7F || in(byte, 0x80, 0x9F);
}

void put_escaped(std::string& out, uint8_t byte) {
  constexpr char kHex[] = "0123456789abcdef";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 15];
}

}  // namespace

std::string kel_escape(std::string_view bytes, KEL_ESCAPE form) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = form == KEL_ESCAPE::kAscii ? 0 : utf8_length(bytes, at);
    if (length > 0) {
      // A C1 control in its UTF-8 form is escaped whole; any other
      // character stays whole.
      const bool c1 = length == 2 && static_cast<uint8_t>(bytes[at]) == 0xC2 &&
                      static_cast<uint8_t>(bytes[at + 1]) <= 0x9F;
      for (std::size_t k = 0; k < length; ++k) {
        if (c1)
          put_escaped(out, static_cast<uint8_t>(bytes[at + k]));
        else
          out += bytes[at + k];
      }
      at += length;
      continue;
    }
    const auto byte = static_cast<uint8_t>(bytes[at++]);
    if (escapes_byte(byte, form))
      put_escaped(out, byte);
    else
      out += static_cast<char>(byte);
  }
  return out;
}

std::string kel_escape_name(const char* text) {
  return text ? kel_escape(text, KEL_ESCAPE::kName) : std::string("(null)");
}
