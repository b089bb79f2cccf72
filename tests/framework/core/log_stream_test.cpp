// The lines that modules print without the log prefix go where the log
// goes: a tool that points the log at another stream gets them there, and
// standard output gets none of them.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "framework/core/log.h"
#include "framework/core/synth.h"
#include "framework/core/util.h"
#include "framework/core/wav-play.h"
#include "support/capture.h"

namespace {

void no_beat(SYN*) {}

// Runs `write` with the log pointed at a fresh stream; returns what that
// stream received, and in `out` what standard output received.
std::string logged_elsewhere(const std::function<void()>& write, std::string* out) {
  std::FILE* elsewhere = std::tmpfile();
  std::FILE* was = kel_log_set_stream(elsewhere);
  {
    StdoutCapture capture;
    write();
    *out = capture.take();
  }
  kel_log_set_stream(was);
  std::rewind(elsewhere);
  std::string text;
  for (int c; (c = std::fgetc(elsewhere)) != EOF;) text += static_cast<char>(c);
  std::fclose(elsewhere);
  return text;
}

TEST(LogStream, BareLinesFollowTheLog) {
  wave_init(44100, 16);
  static SYN syn;
  syn_init(&syn, 44100, 1.0f, 4);
  const struct {
    const char* what;
    std::function<void()> write;
    std::string line;
  } cases[] = {
      {"the sample loader's message", [] { wave_load("/nonexistent/sample.wav"); },
       "Error: no file '/nonexistent/sample.wav'?\n"},
      {"the synthesiser's beat line", [] { syn_set_beat_callback(&syn, no_beat, 4.0f); },
       "tempo_samples_per_beat 11025 (4.000000 bps)\n"},
      {"the hex dump", [] { hexdump("one", "A", 1); },
       "one (1 bytes):\n  0000  41" + std::string(15 * 3, ' ') + "  A\n"},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(logged_elsewhere(c.write, &out), c.line) << c.what;
    EXPECT_EQ(out, "") << c.what;
  }
}

}  // namespace
