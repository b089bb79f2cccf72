#include "keltoolkit/skreelplayer/c/front.h"

#include <array>
#include <cstdarg>
#include <cstdio>

namespace skreel_c {

std::string format(const char* fmt, ...) {
  std::array<char, 256> buf{};
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(buf.data(), buf.size(), fmt, args);
  va_end(args);
  return buf.data();
}

std::string shown(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size() && i < 40; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      out += format("\\x%02X", c);
    }
  }
  if (text.size() > 40) out += "...";
  return out;
}

}  // namespace skreel_c
