#include "framework/core/util.h"

#include <array>
#include <cstdint>
#include <cstdio>

void hexdump(const char* desc, const void* addr, int len) {
  if (desc != nullptr) std::printf("%s (%d bytes):\n", desc, len);
  if (addr == nullptr && len > 0) return;
  const auto* bytes = static_cast<const uint8_t*>(addr);
  std::array<char, 17> text{};  // the text column of the current line
  int i = 0;
  for (; i < len; ++i) {
    if (i % 16 == 0) {
      if (i != 0) std::printf("  %s\n", text.data());
      std::printf("  %04x ", static_cast<unsigned>(i));
    }
    const uint8_t byte = bytes[i];
    std::printf(" %02x", static_cast<unsigned>(byte));
    const auto column = static_cast<std::size_t>(i % 16);
    text[column] = byte >= 32 && byte <= 126 ? static_cast<char>(byte) : '.';
    text[column + 1] = '\0';
  }
  for (; i % 16 != 0; ++i) std::printf("   ");
  std::printf("  %s\n", text.data());
}
