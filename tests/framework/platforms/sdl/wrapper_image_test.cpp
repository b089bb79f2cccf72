// Image files into RGBA bytes: the five formats, told by their first bytes,
// and every other kind of file refused before a decoder sees it. No window
// and no SDL start-up are needed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "framework/platforms/sdl/wrapper_image.h"
#include "support/capture.h"
#include "support/image_file.h"
#include "support/wav_file.h"

using ::testing::HasSubstr;

namespace {

using image_file::Rgba;

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

// A 3 x 2 picture: red, green, blue / white, black, and one transparent
// texel where the format has alpha.
Rgba picture(bool alpha) {
  Rgba img(3, 2);
  img.set(0, 0, 0xFF0000FF);
  img.set(1, 0, 0x00FF00FF);
  img.set(2, 0, 0x0000FFFF);
  img.set(0, 1, 0xFFFFFFFF);
  img.set(1, 1, 0x000000FF);
  img.set(2, 1, alpha ? 0x00000000 : 0x808080FF);
  return img;
}

TEST(WrapperImage, TheFiveFormatsLoadTopRowFirst) {
  struct Case {
    const char* format;
    std::string bytes;
    bool alpha;
  };
  const Case cases[] = {
      {"png", image_file::png(picture(true)), true},
      {"bmp", image_file::bmp(picture(false)), false},
      {"tga", image_file::tga(picture(true)), true},
      {"gif", image_file::gif(picture(true)), true},
  };
  for (const Case& c : cases) {
    TempFile file(c.bytes, std::string(".") + c.format);
    const Loaded l = load(file.path());
    ASSERT_NE(l.bytes, nullptr) << c.format << ": " << l.log;
    EXPECT_EQ(l.w, 3);
    EXPECT_EQ(l.h, 2);
    EXPECT_EQ(l.log, "image '" + file.path() + "' 3x2 (24 bytes)\n");
    const Rgba want = picture(c.alpha);
    for (int i = 0; i < 6; ++i) {
      const uint32_t got = image_file::texel(l.bytes.get() + 4 * i);
      // GIF keeps no colour for its transparent index.
      if (c.alpha && i == 5) {
        EXPECT_EQ(got & 0xFF, 0u) << c.format;
      } else {
        EXPECT_EQ(got, want.get(i % 3, i / 3)) << c.format << " texel " << i;
      }
    }
  }
}

TEST(WrapperImage, JpegLoadsItsColoursApproximately) {
  Rgba img(16, 16, 0x2060A0FF);
  TempFile file(image_file::jpeg(img), ".jpg");
  const Loaded l = load(file.path());
  ASSERT_NE(l.bytes, nullptr) << l.log;
  EXPECT_EQ(l.w, 16);
  const unsigned char* p = l.bytes.get() + 4 * (8 * 16 + 8);
  EXPECT_NEAR(p[0], 0x20, 4);
  EXPECT_NEAR(p[1], 0x60, 4);
  EXPECT_NEAR(p[2], 0xA0, 4);
  EXPECT_EQ(p[3], 0xFF);
}

TEST(WrapperImage, TheContentDecidesNotTheName) {
  TempFile png_as_pcx(image_file::png(picture(true)), ".pcx");
  EXPECT_NE(load(png_as_pcx.path()).bytes, nullptr);
  TempFile bmp_as_png(image_file::bmp(picture(false)), ".png");
  EXPECT_NE(load(bmp_as_png.path()).bytes, nullptr);
}

TEST(WrapperImage, OtherFormatsAreRefusedByTheirFirstBytes) {
  struct Case {
    const char* what;
    std::string bytes;
    const char* suffix;
  };
  const Case cases[] = {
      {"pcx", std::string("\x0A\x05\x01\x08", 4) + std::string(124, '\0'), ".pcx"},
      {"xpm", "/* XPM */\nstatic char *x[] = {\"1 1 1 1\", \"a c #000000\", \"a\"};\n", ".xpm"},
      {"xcf", std::string("gimp xcf file\0", 14) + std::string(64, '\0'), ".xcf"},
      {"pnm", "P6\n1 1\n255\n\xFF\x00\x00", ".png"},
      {"tiff", std::string("II*\0", 4) + std::string(64, '\0'), ".tif"},
      {"lbm", "FORM\0\0\0\x20ILBMBMHD", ".lbm"},
      {"text", "hello", ".bmp"},
      {"empty", "", ".png"},
  };
  for (const Case& c : cases) {
    TempFile file(c.bytes, c.suffix);
    const Loaded l = load(file.path());
    EXPECT_EQ(l.bytes, nullptr) << c.what;
    EXPECT_EQ(l.log, "image '" + file.path() + "' refused: not a PNG, BMP, TGA, JPEG or GIF file\n") << c.what;
    EXPECT_EQ(l.w, 0) << c.what;
  }
}

TEST(WrapperImage, MissingAndTruncatedFilesFailWithTheirName) {
  TempDir dir;
  const Loaded missing = load(dir.file("none.png"));
  EXPECT_EQ(missing.bytes, nullptr);
  EXPECT_EQ(missing.log, "image '" + dir.file("none.png") + "' load failed\n");
  for (const std::string& whole : {image_file::png(picture(true)), image_file::gif(picture(true))}) {
    TempFile cut(whole.substr(0, 40), ".img");
    const Loaded l = load(cut.path());
    EXPECT_EQ(l.bytes, nullptr);
    EXPECT_THAT(l.log, HasSubstr("image '" + cut.path() + "' load failed\n"));
  }
}

TEST(WrapperImage, ImagesLargerThanAnAtlasAreRefusedBeforeDecoding) {
  struct Case {
    const char* what;
    std::string bytes;
    const char* size;
  };
  std::string png = image_file::png(Rgba(2, 2));
  png[16] = 0, png[17] = 1, png[18] = 0, png[19] = 0;  // IHDR width 65536
  std::string tga = image_file::tga(Rgba(2, 2));
  tga[12] = 0x01, tga[13] = 0x20;  // width 8193
  std::string gif = image_file::gif(picture(false));
  const size_t descriptor = gif.find(',', 13 + 768);
  gif[descriptor + 5] = '\xFF', gif[descriptor + 6] = '\xFF';  // first image 65535 wide
  std::string bmp = image_file::bmp(Rgba(2, 2));
  bmp[22] = 0, bmp[23] = 0;  // height 0
  const Case cases[] = {{"png", png, "65536x2"}, {"tga", tga, "8193x2"}, {"gif", gif, "65535x2"}, {"bmp", bmp, "2x0"}};
  for (const Case& c : cases) {
    TempFile file(c.bytes, ".img");
    const Loaded l = load(file.path());
    EXPECT_EQ(l.bytes, nullptr) << c.what;
    EXPECT_EQ(l.log, "image '" + file.path() + "' refused: " + c.size + " pixels (sides of 1 to 8192 are taken)\n")
        << c.what;
  }
}

}  // namespace
