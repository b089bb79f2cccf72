#include "framework/core/util.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "framework/core/log.h"

namespace {

constexpr int kBytesPerLine = 16;

// One line of the dump: the offset, the `count` byte groups, three spaces
// for each missing one, and the text column, written with one write.
void dump_line(const uint8_t* bytes, int offset, int count) {
  constexpr char kHex[] = "0123456789abcdef";
  // Sixteen groups of a space and two hex digits, and a NUL.
  std::array<char, kBytesPerLine * 3 + 1> groups{};
  std::array<char, kBytesPerLine + 1> text{};
  for (int k = 0; k < count; ++k) {
    const uint8_t byte = bytes[offset + k];
    const auto at = static_cast<std::size_t>(k);
    groups[3 * at] = ' ';
    groups[3 * at + 1] = kHex[byte >> 4];
    groups[3 * at + 2] = kHex[byte & 15];
    text[at] = byte >= 32 && byte <= 126 ? static_cast<char>(byte) : '.';
  }
  kel_log_bare("  %04x %s%*s  %s\n", static_cast<unsigned>(offset), groups.data(), (kBytesPerLine - count) * 3, "",
               text.data());
}

}  // namespace

void hexdump(const char* desc, const void* addr, int len) {
  if (desc != nullptr) kel_log_bare("%s (%d bytes):\n", desc, len);
  if (addr == nullptr && len > 0) return;
  if (len <= 0) {
    kel_log_bare("  \n");
    return;
  }
  const auto* bytes = static_cast<const uint8_t*>(addr);
  for (int offset = 0; offset < len; offset += kBytesPerLine)
    dump_line(bytes, offset, std::min(kBytesPerLine, len - offset));
}
