// When the live player looks at its file. With --instant a save is looked
// at in the logic update right after the kernel told of it: the ticks here
// are the logic updates, none of them a multiple of 16 (the periodic look),
// and nothing is timed: the kernel has queued its word by the time the
// writer's call returns.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include "hack/tonebrook/watch.h"
#include "support/capture.h"
#include "support/wav_file.h"

using ::testing::HasSubstr;

namespace {

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class Watch : public ::testing::Test {
 protected:
  void TearDown() override { watch_stop(); }
  TempDir dir_;
  std::string path_ = dir_.file("tune.txt");
};

TEST_F(Watch, ASaveIsLookedAtInTheNextUpdateOnceTheFileIsWhole) {
  struct Case {
    const char* what;
    bool there_before;  // the file exists when the watch starts
    std::function<void(const std::string& path, const std::string& folder)> save;
    bool looked_at;  // in the update after the save
  };
  const Case cases[] = {
      {"written in place and closed", true, [](auto& p, auto&) { write_file(p, "t 8 >>"); }, true},
      {"written beside and renamed over", true,
       [](auto& p, auto& d) {
         write_file(d + "/.tune.txt.swp", "t 4 >>");
         std::rename((d + "/.tune.txt.swp").c_str(), p.c_str());
       },
       true},
      {"touched", true, [](auto& p, auto&) { utimensat(AT_FDCWD, p.c_str(), nullptr, 0); }, true},
      {"appearing later", false, [](auto& p, auto&) { write_file(p, "t"); }, true},
      {"moved aside by an editor that writes anew", true,
       [](auto& p, auto& d) { std::rename(p.c_str(), (d + "/tune.txt~").c_str()); }, false},
      {"another file of the folder", true, [](auto&, auto& d) { write_file(d + "/other.txt", "t"); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir.file("tune.txt");
    if (c.there_before) write_file(path, "t");
    watch_start(path.c_str(), true);
    ASSERT_TRUE(watch_instant());
    EXPECT_TRUE(watch_due(1));  // the first look at once
    EXPECT_FALSE(watch_due(2));
    c.save(path, dir.path());
    EXPECT_EQ(watch_due(3), c.looked_at);
    EXPECT_FALSE(watch_due(4));
    watch_stop();
  }
}

// A writer that has not closed the file yet is writing it: the save is
// looked at once it is closed, and the periodic look waits for it too.
TEST_F(Watch, AWriteInProgressIsLookedAtWhenClosed) {
  write_file(path_, "t");
  watch_start(path_.c_str(), true);
  EXPECT_TRUE(watch_due(1));
  const int fd = open(path_.c_str(), O_WRONLY | O_TRUNC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "t 8", 3), 3);
  EXPECT_FALSE(watch_due(2));
  EXPECT_FALSE(watch_due(16));  // the periodic look holds back
  ASSERT_EQ(write(fd, " >>", 3), 3);
  close(fd);
  EXPECT_TRUE(watch_due(17));
  EXPECT_FALSE(watch_due(18));
  EXPECT_TRUE(watch_due(32));  // the periodic look, a safety net
}

// Where the kernel cannot watch (here: no folder yet), the file is looked
// at every 16th update, as without --instant; the fallback is said once.
TEST_F(Watch, WhereTheKernelCannotWatchTheFileIsLookedAtEvery16thUpdate) {
  const std::string nowhere = dir_.file("gone/tune.txt");
  std::string looks, log;
  {
    StdoutCapture out;
    watch_start(nowhere.c_str(), true);
    for (uint32_t tick = 1; tick <= 48; ++tick) looks += watch_due(tick) ? 'x' : '.';
    log = out.take();
  }
  EXPECT_FALSE(watch_instant());
  EXPECT_EQ(looks, "...............x...............x...............x");
  EXPECT_THAT(log, HasSubstr("cannot watch '" + dir_.file("gone") + "' for changes (No such file or directory): "
                             "looking at '" + nowhere + "' every 16 updates instead\n"));
  EXPECT_EQ(log.find("cannot watch"), log.rfind("cannot watch"));
}

}  // namespace
