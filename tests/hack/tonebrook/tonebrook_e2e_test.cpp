// The built player, run headless as a user runs it: start, reload on a
// save, quit on an interrupt.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "support/app/process.h"
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
        "reloaded '" + tune_ + "' (", "reloaded '" + tune_ + "' (", std::string("Quitting..."),
        std::string("Bye! :)")}) {
    const size_t found = find_from(lines, at, expected);
    ASSERT_LT(found, lines.size()) << "missing after line " << at << ": " << expected << "\n" << player.output();
    at = found + 1;
  }
  EXPECT_THAT(lines.back(), "Bye! :)");
  EXPECT_THAT(lines[find_from(lines, 0, "reloaded")], testing::EndsWith(") 7 bytes"));
}

// The options for performing, together: the log is quiet from its first
// line, a bad save leaves the tune playing, and each tune taken up, each
// error and each warning is one line.
TEST_F(Player, PerformsWithKeepInstantAndQuietTogether) {
  write("t 8 >>\n");
  PlayerProcess player(TONEBROOK_EXE, {"--keep", "--instant", "--quiet", tune_}, {"SDL_AUDIODRIVER=dummy"});
  ASSERT_TRUE(player.wait_for("playing '")) << player.output();
  write("t frob\n");
  ASSERT_TRUE(player.wait_for("plays on")) << player.output();
  write("1 2 t\n");
  ASSERT_TRUE(player.read_until([](const std::string& out) { return count_of(out, "playing '") >= 2; }))
      << player.output();
  player.interrupt();
  EXPECT_EQ(player.wait(), 0);
  const std::vector<std::string> expected = {
      "playing '" + tune_ + "': 3 instructions, rate 8000",
      "?UNKNOWN SYMBOL: 'frob'",
      "at line 1, column 3 of '" + tune_ + "'",
      "the tune that played before plays on",
      "warning: '1' '2' run together into one number, 0x12, at line 1, column 1 of '" + tune_ +
          "': put NOP between them",
      "playing '" + tune_ + "': 2 instructions, rate 8000",
  };
  EXPECT_EQ(log_messages(player.output()), expected) << player.output();
  EXPECT_EQ(player.output().find('\0'), std::string::npos);  // no echo
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

// Ctrl-C and SIGTERM end the player cleanly whether or not SDL's video,
// which would turn an interrupt into its own quit event, could start.
TEST_F(Player, SigintAndSigtermAlwaysEndItCleanly) {
  write("t\n");
  struct Case {
    int sig;
    const char* video;
  } cases[] = {{SIGINT, "SDL_VIDEODRIVER=dummy"},
               {SIGTERM, "SDL_VIDEODRIVER=dummy"},
               {SIGINT, "SDL_VIDEODRIVER=x11"},  // without a display: video cannot start
               {SIGTERM, "SDL_VIDEODRIVER=x11"}};
  for (const Case& c : cases) {
    PlayerProcess player(TONEBROOK_EXE, {tune_}, {c.video, "DISPLAY", "SDL_AUDIODRIVER=dummy"});
    ASSERT_TRUE(player.wait_for("reloaded '")) << player.output();
    player.send_signal(c.sig);
    EXPECT_EQ(player.wait(), 0) << c.video << " signal " << c.sig << "\n" << player.output();
    const auto lines = log_messages(player.output());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "Quitting...") << c.video << " signal " << c.sig;
    EXPECT_EQ(lines[lines.size() - 2], "atlas: deleted 0 textures") << c.video << " signal " << c.sig;
    EXPECT_EQ(lines.back(), "Bye! :)") << c.video << " signal " << c.sig;
  }
}

// A FIFO, a missing file and a tune full of terminal escapes: the player
// names each, plays on, never writes an escape to the terminal, and a good
// save after them is heard.
TEST_F(Player, HostileFilesNeitherStopItNorReachTheTerminal) {
  write("t 8 >>\n");
  PlayerProcess player(TONEBROOK_EXE, {tune_}, {"SDL_AUDIODRIVER=dummy"});
  ASSERT_TRUE(player.wait_for("out: 'compiled!a8k'")) << player.output();
  std::remove(tune_.c_str());
  ASSERT_EQ(mkfifo(tune_.c_str(), 0644), 0);
  ASSERT_TRUE(player.wait_for("it is a FIFO (named pipe), not a regular file")) << player.output();
  std::remove(tune_.c_str());
  ASSERT_TRUE(player.wait_for("cannot find '" + tune_ + "': No such file or directory")) << player.output();
  write("t 4 >>\n");
  ASSERT_TRUE(player.wait_for("out: 'compiled!a4k'")) << player.output();
  write("\x1b]0;owned\x07 t \x1b[2J\x1b[31m\n");
  ASSERT_TRUE(player.wait_for("?UNKNOWN SYMBOL: '\\x1b]0;owned\\x07'")) << player.output();
  write("t 2 >>\n");
  ASSERT_TRUE(player.wait_for("out: 'compiled!a2k'")) << player.output();
  player.interrupt();
  EXPECT_EQ(player.wait(), 0);
  EXPECT_EQ(player.output().find('\x1b'), std::string::npos) << player.output();
  EXPECT_EQ(player.output().find('\x07'), std::string::npos);
  EXPECT_THAT(player.output(), HasSubstr("Bye! :)"));
}

TEST_F(Player, WithoutAFileItSaysHowToUseItAndKeepsRunning) {
  PlayerProcess player(TONEBROOK_EXE, {}, {"SDL_AUDIODRIVER=dummy"});
  ASSERT_TRUE(player.wait_for("changed logic rate")) << player.output();
  player.interrupt();
  EXPECT_EQ(player.wait(), 0);
  EXPECT_THAT(player.errors(), StartsWith("usage: tonebrook "));
  EXPECT_THAT(player.errors(), HasSubstr(" FILE [RATE]\n"));
  EXPECT_THAT(player.output(), HasSubstr("music_file: '(null)' rate: 44100"));
  EXPECT_THAT(player.output(), Not(HasSubstr("reloaded")));
}

TEST_F(Player, HelpAndVersion) {
  PlayerProcess help(TONEBROOK_EXE, {"--help"});
  EXPECT_EQ(help.wait(), 0);
  EXPECT_THAT(help.output(), StartsWith("usage: tonebrook "));
  EXPECT_THAT(help.output(), Not(HasSubstr("kel init")));
  PlayerProcess version(TONEBROOK_EXE, {"--version"});
  EXPECT_EQ(version.wait(), 0);
  EXPECT_THAT(version.output(), StartsWith("tonebrook "));
}

}  // namespace
