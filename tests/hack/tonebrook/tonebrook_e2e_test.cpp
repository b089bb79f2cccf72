// The built player, run headless as a user runs it: start, reload on a
// save, quit on an interrupt.
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "support/process.h"
#include "support/wav_file.h"

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;


namespace {

class Player : public ::testing::Test {
 protected:
  void write(const std::string& text) { std::ofstream(tune_, std::ios::trunc) << text; }

  TempDir dir_;
  std::string tune_ = dir_.file("tune.txt");
};

size_t count_of(const std::string& haystack, const std::string& needle) {
  size_t n = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
  return n;
}

// Index of the first message at or after `from` that starts with `text`.
size_t find_from(const std::vector<std::string>& lines, size_t from, const std::string& text) {
  for (size_t i = from; i < lines.size(); ++i)
    if (lines[i].rfind(text, 0) == 0) return i;
  return lines.size();
}

TEST_F(Player, StartsReloadsOnSaveAndQuitsOnInterrupt) {
  write("t 8 >>\n");
  PlayerProcess player(TONEBROOK_EXE, {tune_}, {"SDL_AUDIODRIVER=dummy"});
  ASSERT_TRUE(player.wait_for("reloaded '")) << player.output();
  write("t 4 >> t *\n");
  ASSERT_TRUE(player.read_until([](const std::string& out) { return count_of(out, "reloaded '") >= 2; }))
      << player.output();
  player.interrupt();
  EXPECT_EQ(player.wait(), 0);

  const auto lines = log_messages(player.output());
  size_t at = 0;
  for (const std::string& expected :
       {std::string("kel init"), std::string("INPUT INIT"), std::string("argc 2"),
        "music_file: '" + tune_ + "' rate: 44100", std::string("changed logic rate 0 -> 60"),
        "reloaded '" + tune_ + "' (", "reloaded '" + tune_ + "' (", std::string("SDL_QUIT"),
        std::string("Quitting..."), std::string("Bye! :)")}) {
    const size_t found = find_from(lines, at, expected);
    ASSERT_LT(found, lines.size()) << "missing after line " << at << ": " << expected << "\n" << player.output();
    at = found + 1;
  }
  EXPECT_THAT(lines.back(), "Bye! :)");
  EXPECT_THAT(lines[find_from(lines, 0, "reloaded")], testing::EndsWith(") 7 bytes"));
}

TEST_F(Player, OpensNoWindowAndLeavesTheTerminalAlone) {
  // Without a video driver chosen and without X, SDL would pick a text-mode
  // driver that takes over the terminal; the player asks for none.
  write("t\n");
  PlayerProcess player(TONEBROOK_EXE, {tune_}, {"SDL_VIDEODRIVER", "DISPLAY", "SDL_AUDIODRIVER=dummy"});
  ASSERT_TRUE(player.wait_for("reloaded '")) << player.output();
  player.interrupt();
  EXPECT_EQ(player.wait(), 0);
  EXPECT_EQ(player.output().find('\x1b'), std::string::npos) << player.output();
  EXPECT_THAT(player.output(), HasSubstr("Bye! :)"));
}

TEST_F(Player, WithoutAFileItSaysHowToUseItAndKeepsRunning) {
  PlayerProcess player(TONEBROOK_EXE, {}, {"SDL_AUDIODRIVER=dummy"});
  ASSERT_TRUE(player.wait_for("changed logic rate")) << player.output();
  player.interrupt();
  EXPECT_EQ(player.wait(), 0);
  EXPECT_THAT(player.errors(), StartsWith("usage: tonebrook FILE [RATE]\n"));
  EXPECT_THAT(player.output(), HasSubstr("music_file: '(null)' rate: 44100"));
  EXPECT_THAT(player.output(), Not(HasSubstr("reloaded")));
}

TEST_F(Player, HelpAndVersion) {
  PlayerProcess help(TONEBROOK_EXE, {"--help"});
  EXPECT_EQ(help.wait(), 0);
  EXPECT_THAT(help.output(), StartsWith("usage: tonebrook FILE [RATE]\n"));
  EXPECT_THAT(help.output(), Not(HasSubstr("kel init")));
  PlayerProcess version(TONEBROOK_EXE, {"--version"});
  EXPECT_EQ(version.wait(), 0);
  EXPECT_THAT(version.output(), StartsWith("tonebrook "));
}

}  // namespace
