// The live player with its window (--scope), run as a musician runs it on a
// virtual X server: what is heard while the window draws is what --render
// makes of the tune, sample for sample; without a display it says so in
// one line and plays on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "framework/platforms/sdl/wrapper_music.h"
#include "support/app/process.h"
#include "support/app/render_files.h"
#include "support/wav_file.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr unsigned kRate = 44100;

TEST(PlayerWindow, WhatIsHeardUnderTheWindowIsTheRendering) {
  TempDir dir;
  const std::string tune = dir.file("tune.txt"), raw = dir.file("stream.raw"), wav = dir.file("out.wav");
  {
    std::ofstream out(tune);
    out << std::ifstream(TONEBROOK_SOURCE_DIR "/examples/classic.txt").rdbuf();
  }
  const size_t buffer = wrapper_default_buffer_frames(kRate);
  {
    // No driver named: --scope picks X11 for the display.
    PlayerProcess player(TONEBROOK_EXE, {"--scope", tune},
                         {"SDL_VIDEODRIVER", "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + raw, "SDL_DISKAUDIODELAY=5"});
    ASSERT_TRUE(player.wait_for("DECODED 'compiled'")) << player.output() << player.errors();
    const size_t target = file_size(raw) + 40 * buffer * 4;
    ASSERT_TRUE(player.read_until([&](const std::string&) { return file_size(raw) >= target; }));
    player.interrupt();
    ASSERT_EQ(player.wait(), 0);
    EXPECT_THAT(player.output(), HasSubstr("Set graphics 960x504"));
    EXPECT_THAT(player.output(), HasSubstr("the window drew"));
    EXPECT_THAT(player.errors(), Not(HasSubstr("without the window")));
  }
  const std::vector<int16_t> heard = read_s16le(raw);
  PlayerProcess render(TONEBROOK_EXE, {"--render", wav, "--seconds",
                                       std::to_string(static_cast<double>(heard.size() / 2) / kRate + 0.5), tune});
  ASSERT_EQ(render.wait(), 0);
  WavPcm16 rendered;
  ASSERT_TRUE(read_wav_pcm16(wav, &rendered));

  // Silence until the buffer that took the tune up, then the rendering,
  // up to the last buffer, in which the quit fades the sound out.
  const auto sound = [](const std::vector<int16_t>& s) {
    return static_cast<size_t>(std::find_if(s.begin(), s.end(), [](int16_t v) { return v != 0; }) - s.begin());
  };
  ASSERT_LT(sound(heard), heard.size());
  ASSERT_GE(sound(heard), sound(rendered.samples));
  const size_t adopted = sound(heard) - sound(rendered.samples);
  EXPECT_EQ(adopted % (2 * buffer), 0u) << "taken up in the middle of a buffer";
  size_t end = heard.size();
  while (end >= adopted + 2 * buffer &&
         std::all_of(heard.begin() + static_cast<long>(end - 2 * buffer), heard.begin() + static_cast<long>(end),
                     [](int16_t v) { return v == 0; }))
    end -= 2 * buffer;
  end -= 2 * buffer;
  ASSERT_GE(end - adopted, 30 * buffer * 2);
  ASSERT_GE(rendered.samples.size(), end - adopted);
  for (size_t i = 0; adopted + i < end; ++i)
    ASSERT_EQ(heard[adopted + i], rendered.samples[i]) << "sample " << i << " after the tune was taken up";
}

TEST(PlayerWindow, WithoutADisplayItSaysSoInOneLineAndPlaysOn) {
  TempDir dir;
  const std::string tune = dir.file("tune.txt");
  std::ofstream(tune) << "t 3 *\n";
  const struct {
    std::vector<std::string> env;
    const char* said;
  } cases[] = {
      {{"DISPLAY", "SDL_VIDEODRIVER"}, "tonebrook: --scope: no display to open the window on"},
      {{"DISPLAY=:97", "SDL_VIDEODRIVER"}, "tonebrook: --scope: the window cannot be opened"},  // no server there
      {{"SDL_VIDEODRIVER=dummy"}, "tonebrook: --scope: the window cannot be opened"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> env = c.env;
    env.push_back("SDL_AUDIODRIVER=dummy");
    PlayerProcess player(TONEBROOK_EXE, {"--scope", tune}, env);
    ASSERT_TRUE(player.wait_for("DECODED 'compiled' 3 opcodes")) << player.errors();
    player.interrupt();
    EXPECT_EQ(player.wait(), 0);
    EXPECT_THAT(player.errors(), HasSubstr(c.said));
    EXPECT_EQ(std::count(player.errors().begin(), player.errors().end(), '\n'), 1) << player.errors();
    EXPECT_THAT(player.errors(), HasSubstr("; playing without the window\n"));
    EXPECT_THAT(player.output(), HasSubstr("Bye! :)"));
  }
}

}  // namespace
