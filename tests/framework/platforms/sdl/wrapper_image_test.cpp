// Image files into RGBA bytes: the five formats, told by their first bytes,
// and every other kind of file refused before a decoder sees it. No window
// and no SDL start-up are needed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "framework/platforms/sdl/wrapper_image.h"
#include "support/capture.h"
#include "support/app/image_file.h"
#include "support/wav_file.h"

namespace {

struct Loaded {
  std::unique_ptr<unsigned char, decltype(&std::free)> bytes{nullptr, &std::free};
  int w = -1, h = -1;
  std::string log;
};

Loaded load(const std::string& path) {
  Loaded l;
  StdoutCapture out;
  l.bytes.reset(wrapper_load_rgba(path.c_str(), &l.w, &l.h));
  l.log = strip_log_prefixes(out.take());
  return l;
}

// The image seeds of the fuzzer: 2 x 2 pixels, red, green / blue,
// transparent (black where the format has no alpha).
std::string seed(const std::string& name) { return std::string(TONEBROOK_SOURCE_DIR) + "/fuzz/corpus/image/" + name; }
std::string seed_bytes(const std::string& name) {
  std::ifstream f(seed(name), std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

TEST(WrapperImage, TheFiveFormatsLoadTopRowFirst) {
  struct Case {
    const char* file;
    uint32_t last;  // 0xRRGGBBAA of the bottom-right pixel; 1 for the lossy JPEG, opaque
  };
  for (const Case& c : {Case{"rgba.png", 0}, Case{"rgb.bmp", 0x000000FF}, Case{"rgba.tga", 0}, Case{"rle.tga", 0},
                        Case{"small.gif", 0}, Case{"small.jpg", 1}}) {
    const Loaded l = load(seed(c.file));
    ASSERT_NE(l.bytes, nullptr) << c.file << ": " << l.log;
    EXPECT_EQ(l.log, "image '" + seed(c.file) + "' 2x2 (16 bytes)\n");
    EXPECT_EQ(l.w * 10 + l.h, 22);
    if (c.last == 1) {
      for (int i = 0; i < 4; ++i) EXPECT_EQ(l.bytes.get()[4 * i + 3], 0xFF) << c.file;
      continue;
    }
    const uint32_t want[] = {0xFF0000FF, 0x00FF00FF, 0x0000FFFF, c.last};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(image_file::texel(l.bytes.get() + 4 * i), want[i]) << c.file << " " << i;
  }
}

TEST(WrapperImage, TheContentDecidesNotTheName) {
  TempFile png_as_pcx(seed_bytes("rgba.png"), ".pcx");
  EXPECT_NE(load(png_as_pcx.path()).bytes, nullptr);
  TempFile bmp_as_png(seed_bytes("rgb.bmp"), ".png");
  EXPECT_NE(load(bmp_as_png.path()).bytes, nullptr);
}

TEST(WrapperImage, OtherFormatsAreRefusedByTheirFirstBytes) {
  const std::pair<const char*, std::string> cases[] = {
      {"pcx", std::string("\x0A\x05\x01\x08", 4) + std::string(124, '\0')},
      {"xpm", "/* XPM */\nstatic char *x[] = {\"1 1 1 1\", \"a c #000000\", \"a\"};\n"},
      {"xcf", std::string("gimp xcf file\0", 14) + std::string(64, '\0')},
      {"pnm", "P6\n1 1\n255\n\xFF\x00\x00"},
      {"tiff", std::string("II*\0", 4) + std::string(64, '\0')},
      {"lbm", "FORM\0\0\0\x20ILBMBMHD"},
      {"text", "hello"},
      {"empty", ""},
  };
  for (const auto& [what, bytes] : cases) {
    TempFile file(bytes, ".png");
    const Loaded l = load(file.path());
    EXPECT_EQ(l.bytes, nullptr) << what;
    EXPECT_EQ(l.log, "image '" + file.path() + "' refused: not a PNG, BMP, TGA, JPEG or GIF file\n") << what;
    EXPECT_EQ(l.w, 0) << what;
  }
}

TEST(WrapperImage, MissingTruncatedAndOversizedFilesFailWithTheirName) {
  TempDir dir;
  EXPECT_EQ(load(dir.file("none.png")).log, "image '" + dir.file("none.png") + "' load failed\n");
  // Damaged files that SDL_image's decoders would crash on or never return
  // from are not decoded.
  for (const char* cut : {"truncated.png", "truncated.jpg", "endless_extension.gif", "empty_control_block.gif",
                          "wide_code_size.gif", "short_header.bmp"})
    EXPECT_EQ(load(seed(cut)).log, "image '" + seed(cut) + "' load failed\n") << cut;

  std::string tga = seed_bytes("rgba.tga");
  tga[12] = 0x01, tga[13] = 0x20;  // width 8193
  std::string gif = seed_bytes("small.gif");
  gif[gif.find(',', 13 + 12) + 5] = '\xFF', gif[gif.find(',', 13 + 12) + 6] = '\xFF';  // first image 65535 wide
  // Bytes that start no block are skipped on the way to the image, whose
  // height of 0 would crash SDL_image's decoder.
  const std::string zero_high = std::string("GIF89a\2\0\2\0\0\0\0", 13) + std::string(5, '\0') +
                                std::string(",\0\0\0\0\2\0\0\0\0\2", 11) + "\x44\x01\0;";
  std::string bmp = seed_bytes("rgb.bmp");
  bmp[22] = 0;  // height 0
  const std::pair<std::string, const char*> cases[] = {
      {seed_bytes("huge.png"), "100000x2"}, {tga, "8193x2"}, {gif, "65535x2"}, {zero_high, "2x0"}, {bmp, "2x0"}};
  for (const auto& [bytes, size] : cases) {
    TempFile file(bytes, ".img");
    const Loaded l = load(file.path());
    EXPECT_EQ(l.bytes, nullptr) << size;
    EXPECT_EQ(l.log, "image '" + file.path() + "' refused: " + size + " pixels (sides of 1 to 8192 are taken)\n");
  }
}

}  // namespace
