// The hex dump's layout.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "framework/core/util.h"
#include "support/capture.h"

namespace {

std::string dump(const char* desc, const void* addr, int len) {
  StdoutCapture out;
  hexdump(desc, addr, len);
  return out.take();
}

TEST(Hexdump, LinesOfSixteenWithAPaddedLastLine) {
  std::array<uint8_t, 20> bytes;
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 9 + 30);
  const std::string pad(12 * 3, ' ');
  EXPECT_EQ(dump("twenty", bytes.data(), 20),
            "twenty (20 bytes):\n"
            "  0000  1e 27 30 39 42 4b 54 5d 66 6f 78 81 8a 93 9c a5  .'09BKT]fox.....\n"
            "  0010  ae b7 c0 c9" + pad + "  ....\n");
}

TEST(Hexdump, EdgeCases) {
  const char text[] = "Hello, world! 0123";
  const struct { const char* desc; const void* addr; int len; std::string out; } cases[] = {
      {nullptr, text, 16, "  0000  48 65 6c 6c 6f 2c 20 77 6f 72 6c 64 21 20 30 31  Hello, world! 01\n"},
      {"one", text, 1, "one (1 bytes):\n  0000  48" + std::string(15 * 3, ' ') + "  H\n"},
      {"none", text, 0, "none (0 bytes):\n  \n"},
      {"negative", text, -5, "negative (-5 bytes):\n  \n"},
      {nullptr, text, 0, "  \n"},
      {"nothing there", nullptr, 64, "nothing there (64 bytes):\n"},
      {nullptr, nullptr, 64, ""}};
  for (const auto& c : cases) EXPECT_EQ(dump(c.desc, c.addr, c.len), c.out) << (c.desc ? c.desc : "(no description)");
}

}  // namespace
