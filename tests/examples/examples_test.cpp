// Every tune bundled in examples/ compiles.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "keltoolkit/skreelplayer/skreel.h"
#include "support/capture.h"

namespace {

TEST(Examples, EveryBundledTuneCompiles) {
  int tunes = 0;
  for (const auto& entry : std::filesystem::directory_iterator(TONEBROOK_SOURCE_DIR "/examples")) {
    if (entry.path().extension() != ".txt") continue;
    std::ifstream in(entry.path());
    std::stringstream text;
    text << in.rdbuf();
    ASSERT_LE(text.str().size(), 1023u) << entry.path() << " is longer than the player reads";
    StdoutCapture out;
    EXPECT_NE(skreel_encode(text.str().c_str()), nullptr) << entry.path() << "\n" << out.take();
    ++tunes;
  }
  EXPECT_GE(tunes, 1);
}

}  // namespace
