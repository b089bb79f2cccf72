// Pointing the log at another stream: every line follows it, the audio
// thread's deferred lines and the encoder's echo included.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "framework/core/log.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "support/capture.h"
#include "support/wav_file.h"

using ::testing::HasSubstr;

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(LogStream, EveryLineGoesWhereTheLogIsPointed) {
  StdoutCapture out;
  TempFile aside("", ".log");
  std::FILE* stream = std::fopen(aside.c_str(), "w");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(kel_log_stream(), stdout);
  EXPECT_EQ(kel_log_set_stream(stream), stdout);
  EXPECT_EQ(kel_log_stream(), stream);

  kel_log_line("a line of %d", 1);
  std::thread audio([] {
    KelLogDeferred deferred;
    kel_log_line("from the audio thread");
  });
  audio.join();
  kel_log_flush_deferred();
  EXPECT_NE(skreel_encode("t 8 >>"), nullptr);
  kel_log_line("%s", std::string(3000, 'x').c_str());  // longer than one buffer

  EXPECT_EQ(kel_log_set_stream(nullptr), stream);
  EXPECT_EQ(kel_log_stream(), stdout);
  kel_log_line("back on standard output");
  std::fclose(stream);

  const std::string moved = strip_log_prefixes(slurp(aside.path()));
  EXPECT_THAT(moved, HasSubstr("a line of 1\n"));
  EXPECT_THAT(moved, HasSubstr("from the audio thread\n"));
  EXPECT_THAT(moved, HasSubstr("t 8 >>"));  // the echo
  EXPECT_THAT(moved, HasSubstr("out: 'compiled!a8k'\n"));
  EXPECT_THAT(moved, HasSubstr(std::string(3000, 'x') + "\n"));
  EXPECT_EQ(strip_log_prefixes(out.take()), "back on standard output\n");
}

}  // namespace
