// The live player's command line and file watch, in process.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>


#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "framework/core/kel.h"
#include "framework/core/log.h"
#include "hack/tonebrook/live.h"
#include "hack/tonebrook/tonebrook.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "support/capture.h"
#include "support/wav_file.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

namespace {

class TuneFile : public ::testing::Test {
 protected:
  void write(const std::string& text) {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << text;
  }
  // Sets the modification time exactly.
  void set_mtime(long sec, long nsec) {
    const timespec times[2] = {{sec, nsec}, {sec, nsec}};
    ASSERT_EQ(utimensat(AT_FDCWD, path_.c_str(), times, 0), 0);
  }
  const char* load() { return load_if_changed(path_.c_str(), &stamp_, buf_, sizeof buf_); }
  // The modification time of the file, as `touch -r` would copy it.
  timespec mtime() {
    struct stat st {};
    EXPECT_EQ(stat(path_.c_str(), &st), 0);
    return st.st_mtim;
  }

  TempDir dir_;
  std::string path_ = dir_.file("tune.txt");
  FILE_STAMP stamp_{};
  char buf_[1024];
};

TEST_F(TuneFile, FirstLookLoadsAndReportsTheFile) {
  write("t 8 >>");
  set_mtime(1700000000, 5);
  StdoutCapture out;
  ASSERT_EQ(load(), buf_);
  EXPECT_STREQ(buf_, "t 8 >>");
  EXPECT_EQ(strip_log_prefixes(out.take()), "reloaded '" + path_ + "' (1700000000 vs 0) 6 bytes\n");
  EXPECT_EQ(load(), nullptr);  // nothing changed since
  EXPECT_EQ(out.take(), "");
}

TEST_F(TuneFile, TwoSavesWithinOneSecondAreBothSeen) {
  write("t");
  set_mtime(1700000000, 100);
  ASSERT_NE(load(), nullptr);
  write("t 2 *");  // same second, a later instant
  set_mtime(1700000000, 900);
  StdoutCapture out;
  ASSERT_NE(load(), nullptr);
  EXPECT_STREQ(buf_, "t 2 *");
  EXPECT_EQ(strip_log_prefixes(out.take()), "reloaded '" + path_ + "' (1700000000 vs 1700000000) 5 bytes\n");
}

TEST_F(TuneFile, ASizeChangeAloneIsSeen) {
  write("t");
  set_mtime(1700000000, 0);
  ASSERT_NE(load(), nullptr);
  write("t 4 *");
  set_mtime(1700000000, 0);  // a coarse file system: same stamp
  ASSERT_NE(load(), nullptr);
  EXPECT_STREQ(buf_, "t 4 *");
}

TEST_F(TuneFile, TouchingReloadsAndAnEarlierTimeCountsToo) {
  write("t");
  set_mtime(1700000000, 0);
  ASSERT_NE(load(), nullptr);
  set_mtime(1700000001, 0);
  EXPECT_NE(load(), nullptr);
  set_mtime(1600000000, 0);
  EXPECT_NE(load(), nullptr);
}

TEST_F(TuneFile, OnlyTheFirst1023BytesAreUsedAndThatIsSaid) {
  write(std::string(1500, 'x'));
  StdoutCapture out;
  ASSERT_NE(load(), nullptr);
  EXPECT_EQ(std::string(buf_).size(), 1023u);
  EXPECT_THAT(strip_log_prefixes(out.take()),
              testing::EndsWith(" 1023 bytes\n'" + path_ + "' is longer than 1023 bytes: only its first 1023 bytes are read\n"));
  write(std::string(1023, 'x'));  // exactly what fits: nothing to say
  ASSERT_NE(load(), nullptr);
  EXPECT_THAT(strip_log_prefixes(out.take()), testing::EndsWith(" 1023 bytes\n"));
}

// `cp -p`, `rsync -t` and `touch -r` give a different tune the size and
// modification time of the one before; the file's identity or its status
// change time still tell them apart.
TEST_F(TuneFile, AReplacementWithTheSameSizeAndTimeIsSeen) {
  struct Case {
    const char* how;
    std::function<void(const std::string&, timespec)> replace;
  } cases[] = {
      {"renamed over the path", [this](const std::string& text, timespec when) {
         const std::string other = dir_.file("other.txt");
         std::ofstream(other, std::ios::binary) << text;
         const timespec times[2] = {when, when};
         ASSERT_EQ(utimensat(AT_FDCWD, other.c_str(), times, 0), 0);
         ASSERT_EQ(rename(other.c_str(), path_.c_str()), 0);
       }},
      {"rewritten in place", [this](const std::string& text, timespec when) {
         // The status change time moves with the kernel's coarse clock:
         // rewrite until it has.
         struct stat before {};
         ASSERT_EQ(stat(path_.c_str(), &before), 0);
         for (struct stat now = before; now.st_ctim.tv_sec == before.st_ctim.tv_sec &&
                                        now.st_ctim.tv_nsec == before.st_ctim.tv_nsec;) {
           write(text);
           const timespec times[2] = {when, when};
           ASSERT_EQ(utimensat(AT_FDCWD, path_.c_str(), times, 0), 0);
           ASSERT_EQ(stat(path_.c_str(), &now), 0);
         }
       }},
  };
  for (const Case& c : cases) {
    write("t 1 +");
    set_mtime(1700000000, 250);
    ASSERT_NE(load(), nullptr) << c.how;
    c.replace("t 2 *", mtime());
    ASSERT_EQ(load(), buf_) << c.how;
    EXPECT_STREQ(buf_, "t 2 *") << c.how;
    EXPECT_EQ(load(), nullptr) << c.how;
  }
}

TEST_F(TuneFile, AnEmptyReadAfterAChangeIsConfirmedAtTheNextLook) {
  write("t 8 >>");
  ASSERT_NE(load(), nullptr);
  StdoutCapture out;
  // An editor that truncates and then writes, caught in between: nothing
  // is handed on, and the written file is read at the next look.
  write("");
  EXPECT_EQ(load(), nullptr);
  write("t 4 >>");
  ASSERT_EQ(load(), buf_);
  EXPECT_STREQ(buf_, "t 4 >>");
  EXPECT_THAT(strip_log_prefixes(out.take()), testing::EndsWith(" 6 bytes\n"));
  // A file that stays empty is played as empty, once.
  write("");
  EXPECT_EQ(load(), nullptr);
  EXPECT_EQ(out.take(), "");
  ASSERT_EQ(load(), buf_);
  EXPECT_STREQ(buf_, "");
  EXPECT_THAT(strip_log_prefixes(out.take()), testing::EndsWith(" 0 bytes\n"));
  EXPECT_EQ(load(), nullptr);
}

TEST_F(TuneFile, ANulByteEndsTheText) {
  write(std::string("t 3\0garbage", 11));
  ASSERT_NE(load(), nullptr);
  EXPECT_STREQ(buf_, "t 3");
}

TEST_F(TuneFile, AnEmptyFileGivesAnEmptyText) {
  write("");
  StdoutCapture out;
  ASSERT_NE(load(), nullptr);
  EXPECT_STREQ(buf_, "");
  EXPECT_THAT(out.take(), HasSubstr(" 0 bytes\n"));
}

TEST_F(TuneFile, AMissingFileIsReportedOnceForEachReason) {
  StdoutCapture out;
  EXPECT_EQ(load(), nullptr);
  EXPECT_EQ(strip_log_prefixes(out.take()), "cannot find '" + path_ + "': No such file or directory\n");
  EXPECT_EQ(load(), nullptr);
  EXPECT_EQ(out.take(), "");
  EXPECT_EQ(load_if_changed(nullptr, &stamp_, buf_, sizeof buf_), nullptr);  // no path: nothing to say
  EXPECT_EQ(out.take(), "");
  write("t");
  EXPECT_NE(load(), nullptr);
  out.take();
  // Gone again, then under a path that is no longer a folder.
  fs::remove(path_);
  EXPECT_EQ(load(), nullptr);
  EXPECT_EQ(strip_log_prefixes(out.take()), "cannot find '" + path_ + "': No such file or directory\n");
  const std::string below = path_ + "/tune.txt";
  write("t");
  EXPECT_EQ(load_if_changed(below.c_str(), &stamp_, buf_, sizeof buf_), nullptr);
  EXPECT_EQ(strip_log_prefixes(out.take()), "cannot find '" + below + "': Not a directory\n");
}

TEST_F(TuneFile, AReadOnlyFilePlays) {
  write("t 5 >>");
  ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
  ASSERT_NE(load(), nullptr);
  EXPECT_STREQ(buf_, "t 5 >>");
}

// Runs `look`, which must not block. Should it block on the FIFO at `fifo`
// after all, a writer releases it once a generous bound has passed, and the
// test fails.
template <typename F>
auto without_blocking(const std::string& fifo, F look) {
  auto done = std::async(std::launch::async, look);
  if (done.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    ADD_FAILURE() << "the look at the file blocked";
    const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) close(writer);
  }
  return done.get();
}

// Whatever is at the path instead of a regular file is named once, never
// read, and a regular file put there later is read at the next look.
TEST_F(TuneFile, AnythingButARegularFileIsNamedOnceAndNeverBlocks) {
  struct Case {
    const char* kind;
    std::function<void(const std::string&)> make;
  } cases[] = {
      {"a FIFO (named pipe)", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); }},
      {"a directory", [](const std::string& p) { fs::create_directory(p); }},
      {"a socket", [](const std::string& p) {
         const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un addr{};
         addr.sun_family = AF_UNIX;
         std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", p.c_str());
         ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
         close(fd);
       }},
      {"a character device", [](const std::string& p) { fs::create_symlink("/dev/null", p); }},
  };
  StdoutCapture out;
  for (const Case& c : cases) {
    c.make(path_);
    EXPECT_EQ(without_blocking(path_, [&] { return load(); }), nullptr) << c.kind;
    EXPECT_EQ(strip_log_prefixes(out.take()),
              "cannot read '" + path_ + "': it is " + c.kind + ", not a regular file\n");
    EXPECT_EQ(without_blocking(path_, [&] { return load(); }), nullptr) << c.kind;
    EXPECT_EQ(out.take(), "") << c.kind;  // not at every look
    fs::remove(path_);
    write(std::string("t ") + c.kind);
    ASSERT_EQ(load(), buf_) << c.kind;
    EXPECT_EQ(std::string(buf_), std::string("t ") + c.kind);
    out.take();
    fs::remove(path_);
  }
}

class AppInit : public ::testing::Test {
 protected:
  void SetUp() override { kel_init(); }
  void TearDown() override { kel_exit(); }
  std::string run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    StdoutCapture out;
    app_init(static_cast<int>(argv.size()), argv.data());
    music_file = nullptr;  // the strings die with this call
    return strip_log_prefixes(out.take());
  }
};

TEST_F(AppInit, ReportsItsArgumentsAndOpensTheStreamAtTheRate) {
  const std::string log = run({"tonebrook", "tune.txt", "22050"});
  EXPECT_THAT(log, HasSubstr("argc 3\n"));
  EXPECT_THAT(log, HasSubstr("music_file: 'tune.txt' rate: 22050\n"));
  EXPECT_THAT(log, HasSubstr("stream setting 22050hz, 512 byte update\n"));
  EXPECT_EQ(state_current(), &main_state);
}

TEST_F(AppInit, TheRateIsDigitsOnlyAndAnythingElseIsRefusedWithAMessage) {
  struct Case {
    const char* arg;
    unsigned rate;  // what the stream is opened at
    bool refused;
  } cases[] = {
      {"22050", 22050, false},    {"8000", 8000, false},      {"192000", 192000, false}, {"044100", 44100, false},
      {"0", 44100, false},        {"abc", 44100, true},       {"48000hz", 44100, true},  {"+48000", 44100, true},
      {" 48000", 44100, true},    {"", 44100, true},          {"-1", 44100, true},       {"5", 44100, true},
      {"192001", 44100, true},    {"4294967295", 44100, true}, {"4294975296", 44100, true},
      {"99999999999999999999999", 44100, true},
  };
  for (const Case& c : cases) {
    ::testing::internal::CaptureStderr();
    const std::string log = run({"tonebrook", "t.txt", c.arg});
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(log, HasSubstr("rate: " + std::to_string(c.rate) + "\n")) << "'" << c.arg << "'";
    EXPECT_THAT(log, HasSubstr("stream setting " + std::to_string(c.rate) + "hz")) << "'" << c.arg << "'";
    if (c.refused)
      EXPECT_EQ(errors, std::string("tonebrook: a rate of ") + c.arg + " Hz is outside 8000 to 192000; using 44100 Hz\n");
    else
      EXPECT_EQ(errors, "") << "'" << c.arg << "'";
  }
  EXPECT_THAT(run({"tonebrook", "t.txt"}), HasSubstr("stream setting 44100hz, 1024 byte update\n"));
}

TEST_F(AppInit, NoPathIsPrintedAsNull) {
  EXPECT_THAT(run({"tonebrook"}), HasSubstr("music_file: '(null)' rate: 44100\n"));
}

TEST_F(AppInit, TheFileIsLookedAtEvery16thTick) {
  char path[] = "/tmp/tonebrook-tick-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  music_file = path;
  StdoutCapture out;
  kel_ticks = 33;
  game_reload_changed_music();
  EXPECT_EQ(out.take(), "");
  kel_ticks = 48;
  update();
  EXPECT_THAT(out.take(), HasSubstr("reloaded '"));
  music_file = nullptr;
  unlink(path);
}

TEST(AppInitWithoutSound, SaysThatNothingWillBeHeardAndGoesOn) {
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  kel_init();
  char name[] = "tonebrook", file[] = "t.txt";
  char* argv[] = {name, file};
  StdoutCapture out;
  ::testing::internal::CaptureStderr();
  app_init(2, argv);
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("no sound will be heard"));
  EXPECT_THAT(strip_log_prefixes(out.take()), HasSubstr("Mix_OpenAudio: "));
  EXPECT_EQ(state_current(), &main_state);
  music_file = nullptr;
  kel_exit();
}

// What the player took up, as its answers tell the live player's side.
std::string taken_up;
void note_taken_up(const LIVE_EVENT& e) {
  if (e.event.kind == SKREEL_TUNE) taken_up = e.url ? e.url : "?";
  if (e.event.kind == SKREEL_SILENCE) taken_up = "silence";
}

class Reload : public TuneFile {
 protected:
  void SetUp() override {
    kel_init();
    live_reset();
    live_listen(note_taken_up);
    music_file = path_.c_str();
    kel_ticks = 16 * 1000;
  }
  void TearDown() override {
    music_file = nullptr;
    kel_exit();
  }
  // One look at the file, on a tick that is due; returns the log.
  std::string look() {
    kel_ticks = kel_ticks + 16;
    StdoutCapture out;
    update();
    return strip_log_prefixes(out.take());
  }
  // One buffer of the audio side, then the answers: what it took up ("" for
  // nothing, "silence" for a silence).
  std::string heard() {
    StdoutCapture out;  // the decoder's lines
    std::vector<int16_t> buffer(2 * 64);
    skreelplayer_callback(buffer.data(), 64, 44100);
    kel_log_flush_deferred();
    taken_up.clear();
    live_update();
    return taken_up;
  }
};

TEST_F(Reload, AGoodSaveHandsTheTuneToThePlayer) {
  write("t 8 >>\n");
  EXPECT_THAT(look(), HasSubstr("out: 'compiled!a8k'\n"));
  EXPECT_NE(kel_settings.callback_skreel.load(), nullptr);
  EXPECT_EQ(heard(), "compiled!a8k");
  EXPECT_EQ(look(), "");  // no change, no hand-over
  EXPECT_EQ(heard(), "");
}

TEST_F(Reload, AnUnknownTokenSilencesTheTuneAndIsShownWhereItStands) {
  write("t 8 >>\n");
  look();
  heard();
  write("( saw ) t\n  t 2 frobnicate *\n");
  const std::string log = look();
  EXPECT_THAT(log, HasSubstr("?UNKNOWN SYMBOL: 'frobnicate'\n"));
  EXPECT_THAT(log, HasSubstr("at line 2, column 7 of '" + path_ + "'\n"));
  EXPECT_EQ(heard(), "silence");
  write("t\n");
  look();
  EXPECT_EQ(heard(), "compiled!a");
}

// A FIFO put at the path while the tune plays is named and never read;
// the regular file put back after it is read at the very next look.
TEST_F(Reload, AFifoAtThePathNeitherBlocksNorStopsTheWatch) {
  write("t 8 >>\n");
  look();
  heard();
  fs::remove(path_);
  ASSERT_EQ(mkfifo(path_.c_str(), 0644), 0);
  EXPECT_EQ(without_blocking(path_, [&] { return look(); }),
            "cannot read '" + path_ + "': it is a FIFO (named pipe), not a regular file\n");
  EXPECT_EQ(heard(), "");  // the tune plays on
  fs::remove(path_);
  write("t 4 >>\n");
  EXPECT_THAT(look(), HasSubstr("out: 'compiled!a4k'\n"));
}

TEST_F(Reload, AFileThatDisappearsIsNamedAndTheTunePlaysOn) {
  write("t 8 >>\n");
  look();
  heard();
  fs::remove(path_);
  EXPECT_EQ(look(), "cannot find '" + path_ + "': No such file or directory\n");
  EXPECT_EQ(look(), "");
  EXPECT_EQ(heard(), "");
  write("t 4 >>\n");
  EXPECT_THAT(look(), HasSubstr("out: 'compiled!a4k'\n"));
}

TEST_F(Reload, AHalfWrittenSaveDoesNotSilenceTheTune) {
  write("t 8 >>\n");
  look();
  heard();
  write("");
  EXPECT_EQ(look(), "");
  EXPECT_EQ(heard(), "");
  EXPECT_THAT(look(), HasSubstr("out: 'compiled!'\n"));  // it stayed empty
  EXPECT_EQ(heard(), "compiled!");
}

// What a save prints beside the usual lines.
TEST_F(Reload, ASaveSaysWhatIsLeftOutAndSkipsAByteOrderMark) {
  std::string three_hundred, two_hundred_fifty_six;
  for (int i = 0; i < 300; ++i) three_hundred += "t ";
  for (int i = 0; i < 256; ++i) two_hundred_fifty_six += "t ";
  struct Case {
    const char* name;
    std::string text;
    std::string shown;  // a line that must be there
    std::string not_shown;
  } cases[] = {
      {"a byte-order mark", "\xEF\xBB\xBFt 8 >>\n", "out: 'compiled!a8k'\n", "UNKNOWN"},
      {"more than 256 instructions", three_hundred, "the tune has 300 instructions: only the first 256 play\n", "?"},
      {"256 instructions", two_hundred_fifty_six, "out: 'compiled!", "instructions"},
      {"more than 1023 bytes", "t 8 >> (" + std::string(1100, '-') + ")",
       "'" + path_ + "' is longer than 1023 bytes: only its first 1023 bytes are read\n", "?"},
  };
  for (const Case& c : cases) {
    write(c.text);
    set_mtime(1700000000 + static_cast<long>(&c - cases), 0);
    const std::string log = look();
    EXPECT_THAT(log, HasSubstr(c.shown)) << c.name;
    EXPECT_THAT(log, Not(HasSubstr(c.not_shown))) << c.name;
  }
}

// The audio side stalls (no buffer for 40 saves, more than the engine's
// ring holds), then plays again: the latest save is what it plays.
TEST_F(Reload, AStalledAudioSideTakesUpTheLatestSave) {
  for (int save = 1; save <= 40; ++save) {
    write("t " + std::to_string(save) + " +\n");
    set_mtime(1700000000 + save, 0);
    ASSERT_THAT(look(), HasSubstr("reloaded"));
  }
  std::string last;
  for (std::string now; !(now = heard()).empty();) last = now;
  EXPECT_EQ(last, "compiled!a28f");  // 40 is 0x28
}

}  // namespace
