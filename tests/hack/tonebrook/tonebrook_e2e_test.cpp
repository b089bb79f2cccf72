// The built player, run headless as a user runs it: start, reload on a
// save, quit on an interrupt.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "support/app/process.h"
#include "support/app/render_files.h"
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

// A C formula plays as program text does: each save is compiled and taken
// up, a tune's rate comes with it, and a formula the compiler refuses is
// shown where it goes wrong.
TEST_F(Player, PlaysACFormulaAnewAtEverySave) {
  const std::string tune = dir_.file("tune.c");
  std::ofstream(tune) << "t*(t>>5|t>>8)\n";
  PlayerProcess player(TONEBROOK_EXE, {tune}, {"SDL_AUDIODRIVER=dummy"});
  ASSERT_TRUE(player.wait_for("DECODED 'compiled' 9 opcodes")) << player.output();
  std::ofstream(tune) << "// rate: 11025\n(t*5&t>>7)|(t*3&t>>10)\n";
  ASSERT_TRUE(player.wait_for("DECODED 'compiled' 15 opcodes")) << player.output();
  std::ofstream(tune) << "t*(t>>5|t>>8\n";
  ASSERT_TRUE(player.wait_for("expected ')' at line 2, column 1 of '" + tune + "'")) << player.output();
  player.interrupt();
  EXPECT_EQ(player.wait(), 0);
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

// Every signal that ends the program ends it through the same clean path,
// also when it comes twice at once (`timeout` sends it to the process and
// to its group): the player says goodbye, a rendering removes what it
// wrote.
TEST_F(Player, EverySignalThatEndsItCleansUp) {
  write("t\n");
  const struct {
    bool tool;
    std::vector<int> signals;
    bool second_after_quitting;  // the last one once the shut-down has begun
  } cases[] = {
      {false, {SIGHUP}, false},           {false, {SIGPIPE}, false},         {false, {SIGTERM, SIGTERM}, false},
      {false, {SIGINT, SIGINT}, false},   {false, {SIGTERM, SIGTERM}, true}, {true, {SIGINT}, false},
      {true, {SIGTERM, SIGTERM}, false},  {true, {SIGHUP}, false},           {true, {SIGPIPE}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.signals) + (c.tool ? " to a rendering" : " to the player") +
                 (c.second_after_quitting ? ", the second after Quitting" : ""));
    const std::string wav = dir_.file("out.wav");
    PlayerProcess p(TONEBROOK_EXE, c.tool ? std::vector<std::string>{"--render", wav, "--rate", "8000", "--seconds",
                                                                     "100000", tune_}
                                          : std::vector<std::string>{tune_},
                    {"SDL_AUDIODRIVER=dummy"});
    if (c.tool) {
      // Under way: the new file is there beside out.wav, and growing.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (names_in(dir_.path()).size() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      ASSERT_EQ(names_in(dir_.path()).size(), 2u);
    } else {
      ASSERT_TRUE(p.wait_for("reloaded '")) << p.output();
    }
    for (size_t i = 0; i < c.signals.size(); ++i) {
      if (i > 0 && c.second_after_quitting) {
        ASSERT_TRUE(p.wait_for("Quitting..."));
      }
      p.send_signal(c.signals[i]);
    }
    EXPECT_EQ(p.wait(), c.tool ? 1 : 0) << p.errors();
    if (c.tool) {
      EXPECT_THAT(p.errors(), HasSubstr("tonebrook: interrupted; no file was written or replaced"));
      EXPECT_THAT(names_in(dir_.path()), ::testing::ElementsAre("tune.txt"));
    } else {
      EXPECT_EQ(log_messages(p.output()).back(), "Bye! :)");
    }
  }
}

// A standard output that nobody reads (a full pipe) holds back the log
// only: saves are still seen, the last one is heard, and a termination
// request ends the player at once.
TEST_F(Player, AStandardOutputNobodyReadsNeverHoldsItUp) {
  const std::string fifo = dir_.file("out.fifo"), raw = dir_.file("stream.raw");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  const int filler = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(filler, 0);
  fcntl(filler, F_SETPIPE_SZ, 4096);
  const std::string block(4096, 'x');
  while (::write(filler, block.data(), block.size()) > 0) {
  }
  write("t wobble\n");
  PlayerProcess player("/bin/sh", {"-c", "exec \"$TB\" \"$TUNE\" > \"$FIFO\""},
                       {"TB=" TONEBROOK_EXE, "TUNE=" + tune_, "FIFO=" + fifo, "SDL_AUDIODRIVER=disk",
                        "SDL_DISKAUDIOFILE=" + raw, "SDL_DISKAUDIODELAY=10"});
  auto sound_until = [&](const std::function<bool(const std::vector<int16_t>&)>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      if (done(read_s16le(raw))) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  };
  // Many saves, each with a long echo and a message, all silent.
  for (int i = 0; i < 6; ++i) {
    std::string text;
    for (int k = 0; k < 300; ++k) text += "t ";
    write(text + "wobble" + std::to_string(i) + "\n");
    const size_t heard = read_s16le(raw).size();
    ASSERT_TRUE(sound_until([&](const std::vector<int16_t>& s) { return s.size() >= heard + 40 * 2048; }));
  }
  write("t 3 *\n");
  ASSERT_TRUE(sound_until([](const std::vector<int16_t>& s) {
    return std::any_of(s.begin(), s.end(), [](int16_t v) { return v != 0; });
  })) << "the last save was never heard";

  const auto asked = std::chrono::steady_clock::now();
  player.send_signal(SIGTERM);
  EXPECT_EQ(player.wait(std::chrono::seconds(5)), 0) << player.errors();
  const auto took = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
  EXPECT_LT(took, 5.0);
  std::printf("quit %.3f s after SIGTERM with standard output stalled\n", took);
  close(filler);
  close(reader);
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
