// The log's writer: an output that takes nothing never holds up the thread
// that logs; what does not fit is dropped, counted, and the count said when
// the output moves again; at the end the writer waits only while the
// output takes its lines.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <thread>

#include "framework/core/log.h"

namespace {

TEST(LogWriter, AStalledOutputNeverHoldsUpTheLoggerAndDropsAreCounted) {
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  fcntl(pipe_fds[1], F_SETPIPE_SZ, 4096);
  std::FILE* stalled = fdopen(pipe_fds[1], "w");
  std::FILE* was = kel_log_set_stream(stalled);
  ASSERT_TRUE(kel_log_start_writer());

  // Far more than the pipe and the queue hold, with nobody reading.
  constexpr int kLines = 6000;
  const std::string padding(90, '.');
  for (int i = 0; i < kLines; ++i) kel_log_bare("line %d %s\n", i, padding.c_str());
  EXPECT_FALSE(kel_log_stop_writer(0.05, 0.1)) << "nothing can have been written out";

  std::string got;
  std::thread reader([&] {
    char chunk[4096];
    for (ssize_t n; (n = read(pipe_fds[0], chunk, sizeof chunk)) > 0;) got.append(chunk, static_cast<size_t>(n));
  });
  EXPECT_TRUE(kel_log_stop_writer(30, 60));
  kel_log_bare("last\n");  // written by the thread that logs again
  kel_log_set_stream(was);
  std::fclose(stalled);
  reader.join();
  close(pipe_fds[0]);

  // Each line came out, in order, or is counted where it would have been.
  const std::regex piece(
      R"(line ([0-9]+) \.+\n|\[kel [^\]]+\] ([0-9]+) log lines? dropped: the output did not take them\n)");
  int next = 0, notes = 0;
  std::size_t matched = 0;
  for (auto it = std::sregex_iterator(got.begin(), got.end(), piece); it != std::sregex_iterator(); ++it) {
    matched += static_cast<std::size_t>(it->length());
    if ((*it)[1].matched) {
      EXPECT_EQ(std::stoi((*it)[1]), next++);
    } else {
      next += std::stoi((*it)[2]);
      ++notes;
    }
  }
  EXPECT_EQ(next, kLines);
  EXPECT_GE(notes, 1);
  EXPECT_EQ(matched + 5, got.size());
  EXPECT_TRUE(got.ends_with("last\n"));
}

}  // namespace
