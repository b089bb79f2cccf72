// The live player's command line and file watch, in process.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "framework/core/kel.h"
#include "framework/core/log.h"
#include "hack/tonebrook/tonebrook.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "support/capture.h"
#include "support/wav_file.h"

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

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

TEST_F(TuneFile, OnlyTheFirst1023BytesAreUsed) {
  write(std::string(1500, 'x'));
  StdoutCapture out;
  ASSERT_NE(load(), nullptr);
  EXPECT_EQ(std::string(buf_).size(), 1023u);
  EXPECT_THAT(out.take(), HasSubstr(" 1023 bytes\n"));
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

TEST_F(TuneFile, AMissingFileIsQuietlyTriedAgain) {
  StdoutCapture out;
  EXPECT_EQ(load(), nullptr);
  EXPECT_EQ(load_if_changed(nullptr, &stamp_, buf_, sizeof buf_), nullptr);
  EXPECT_EQ(out.take(), "");
  write("t");
  EXPECT_NE(load(), nullptr);
}

TEST_F(TuneFile, AReadOnlyFilePlays) {
  write("t 5 >>");
  ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
  ASSERT_NE(load(), nullptr);
  EXPECT_STREQ(buf_, "t 5 >>");
}

TEST_F(TuneFile, AFileThatCannotBeOpenedIsReportedOnceAndTriedAgainOnChange) {
  // A socket has a status but cannot be opened, for root as well.
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path_.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  StdoutCapture out;
  EXPECT_EQ(load(), nullptr);
  const std::string first = strip_log_prefixes(out.take());
  EXPECT_THAT(first, StartsWith("cannot open '" + path_ + "': "));
  EXPECT_THAT(first, HasSubstr("No such device or address"));
  EXPECT_EQ(load(), nullptr);
  EXPECT_EQ(out.take(), "");  // not at every look
  close(fd);
  fs::remove(path_);
  write("t 6 >>");
  ASSERT_NE(load(), nullptr);
  EXPECT_STREQ(buf_, "t 6 >>");
}

TEST_F(TuneFile, ADirectoryIsReportedAsUnreadable) {
  fs::create_directory(path_);
  StdoutCapture out;
  EXPECT_EQ(load(), nullptr);
  EXPECT_EQ(strip_log_prefixes(out.take()), "cannot read '" + path_ + "': Is a directory\n");
  EXPECT_EQ(load(), nullptr);
  EXPECT_EQ(out.take(), "");
}

TEST(CommandLine, HelpAndVersionEndTheProgram) {
  char name[] = "tonebrook", help[] = "--help", h[] = "-h", version[] = "--version", file[] = "tune.txt";
  StdoutCapture out;
  char* a1[] = {name, help};
  EXPECT_EQ(tonebrook_early_exit(2, a1), 0);
  EXPECT_THAT(out.take(), StartsWith("usage: tonebrook FILE [RATE]\n"));
  char* a2[] = {name, h};
  EXPECT_EQ(tonebrook_early_exit(2, a2), 0);
  EXPECT_THAT(out.take(), StartsWith("usage: tonebrook FILE [RATE]\n"));
  char* a3[] = {name, version};
  EXPECT_EQ(tonebrook_early_exit(2, a3), 0);
  EXPECT_THAT(out.take(), MatchesRegex("tonebrook [0-9]+\\.[0-9]+\\.[0-9]+\n"));
  char* a4[] = {name, file};
  EXPECT_EQ(tonebrook_early_exit(2, a4), -1);
  EXPECT_EQ(out.take(), "");
}

TEST(CommandLine, NoArgumentPrintsTheUsageAndGoesOn) {
  char name[] = "tonebrook";
  char* args[] = {name};
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(tonebrook_early_exit(1, args), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "usage: tonebrook FILE [RATE]\n");
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

TEST_F(AppInit, ARateThatIsNotANumberOrZeroMeans44100) {
  EXPECT_THAT(run({"tonebrook", "t.txt", "abc"}), HasSubstr("rate: 44100\n"));
  EXPECT_THAT(run({"tonebrook", "t.txt", "0"}), HasSubstr("rate: 44100\n"));
  EXPECT_THAT(run({"tonebrook", "t.txt", "48000hz"}), HasSubstr("rate: 48000\n"));
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

TEST_F(AppInit, ARateOutsideWhatDevicesTakeIsRefusedWithAMessage) {
  for (const char* rate : {"5", "-1", "192001", "4294967295"}) {
    ::testing::internal::CaptureStderr();
    EXPECT_THAT(run({"tonebrook", "t.txt", rate}), HasSubstr("stream setting 44100hz, 1024 byte update\n"));
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                HasSubstr(std::string("a rate of ") + rate + " Hz is outside 8000 to 192000; using 44100 Hz"));
  }
  ::testing::internal::CaptureStderr();
  EXPECT_THAT(run({"tonebrook", "t.txt", "8000"}), HasSubstr("stream setting 8000hz, 185 byte update\n"));
  EXPECT_THAT(run({"tonebrook", "t.txt", "192000"}), HasSubstr("rate: 192000\n"));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
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

class Reload : public TuneFile {
 protected:
  void SetUp() override {
    kel_init();
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
    game_reload_changed_music();
    return strip_log_prefixes(out.take());
  }
};

TEST_F(Reload, AGoodSaveHandsTheTuneToThePlayer) {
  write("t 8 >>\n");
  EXPECT_THAT(look(), HasSubstr("out: 'compiled!a8k'\n"));
  EXPECT_NE(kel_settings.callback_skreel.load(), nullptr);
  EXPECT_EQ(look(), "");  // no change, no hand-over
}

TEST_F(Reload, AnUnknownTokenSilencesTheTuneAndIsShownWhereItStands) {
  write("t 8 >>\n");
  look();
  write("( saw ) t\n  t 2 frobnicate *\n");
  const std::string log = look();
  EXPECT_THAT(log, HasSubstr("?UNKNOWN SYMBOL: 'frobnicate'\n"));
  EXPECT_THAT(log, HasSubstr("at line 2, column 7 of '" + path_ + "'\n"));
  EXPECT_EQ(kel_settings.callback_skreel.load(), nullptr);
  write("t\n");
  look();
  EXPECT_NE(kel_settings.callback_skreel.load(), nullptr);
}

// The audio side stalls (no buffer for 20 saves), then plays again: the
// text it took stays untouched all along, and the latest save is what it
// plays next.
TEST_F(Reload, AStalledAudioSideNeverHasItsTextOverwritten) {
  std::vector<int16_t> buffer(2 * 64);
  auto audio_buffer = [&] {
    skreelplayer_callback(buffer.data(), 64, 44100);
    kel_log_flush_deferred();
  };
  write("t 1 +\n");
  look();
  audio_buffer();
  const char* taken = skreel_url_adopted();
  ASSERT_NE(taken, nullptr);
  ASSERT_STREQ(taken, "compiled!a1f");
  for (int save = 2; save <= 21; ++save) {
    write("t " + std::to_string(save) + " +\n");
    set_mtime(1700000000 + save, 0);
    ASSERT_THAT(look(), HasSubstr("reloaded"));
    ASSERT_STREQ(taken, "compiled!a1f") << "save " << save << " overwrote the text being played";
    ASSERT_EQ(skreel_url_adopted(), taken);
    ASSERT_STRNE(skreel_url_handed_over(), nullptr);
  }
  EXPECT_STREQ(skreel_url_handed_over(), "compiled!a15f");  // 21 is 0x15
  StdoutCapture out;
  audio_buffer();
  EXPECT_EQ(strip_log_prefixes(out.take()), "DECODED 'compiled' 3 opcodes\n");
  EXPECT_STREQ(skreel_url_adopted(), "compiled!a15f");
}

}  // namespace
