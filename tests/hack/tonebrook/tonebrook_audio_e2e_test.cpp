// The built player heard through SDL's disk writer: the captured stream must
// equal, sample for sample, the engine's own rendering of the same tunes,
// with a bad save silencing the tune (faded out) or, with --keep, leaving
// it playing.
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "framework/core/kel_shared.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "keltoolkit/skreelplayer/skreel_live.h"
#include "support/capture.h"
#include "support/app/process.h"
#include "support/wav_file.h"


namespace {

constexpr int kRate = 44100;
constexpr int kFrames = 1024;  // per buffer at 44100 Hz
constexpr size_t kBufferSamples = 2 * kFrames;
using Buffer = std::vector<int16_t>;

std::vector<Buffer> read_buffers(const std::string& path) {
  const std::vector<int16_t> samples = read_s16le(path);
  std::vector<Buffer> buffers;
  for (size_t at = 0; at + kBufferSamples <= samples.size(); at += kBufferSamples)
    buffers.emplace_back(samples.begin() + static_cast<std::ptrdiff_t>(at),
                         samples.begin() + static_cast<std::ptrdiff_t>(at + kBufferSamples));
  return buffers;
}

bool silent(const Buffer& b) {
  for (int16_t s : b)
    if (s != 0) return false;
  return true;
}

// From buffer `at` on, the player plays `text` (empty: silence).
struct Change {
  size_t at;
  std::string text;
};

// Renders `plan` with the engine, sending the player the tunes and silences
// at the buffers the plan names, as the live player does, and returns the
// first buffer that differs from `captured`, or captured.size() when all
// match. The engine's state is process-wide and its filter never resets, so
// every rendering runs in a fresh child process.
size_t first_mismatch(const std::vector<Change>& plan, const std::vector<Buffer>& captured) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return 0;
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_fds[0]);
    StdoutCapture quiet;  // the encoder's echo
    skreel_reset();
    size_t next = 0, result = captured.size();
    for (size_t i = 0; i < captured.size(); ++i) {
      for (; next < plan.size() && plan[next].at == i; ++next) {
        const char* url = plan[next].text.empty() ? nullptr : skreel_encode(plan[next].text.c_str());
        url ? skreel_send_tune(url, 8000.0f) : skreel_send_silence();
      }
      Buffer mine(kBufferSamples, 0);
      kel_set_stream_frame(i * kFrames);
      if (next > 0) skreelplayer_callback(mine.data(), kFrames, kRate);
      for (SKREELEVENT e; skreel_take_event(&e);) {
      }
      if (mine != captured[i]) {
        result = i;
        break;
      }
    }
    const uint64_t out = result;
    (void)!write(pipe_fds[1], &out, sizeof out);
    _exit(0);
  }
  close(pipe_fds[1]);
  uint64_t result = 0;
  const bool got = read(pipe_fds[0], &result, sizeof result) == sizeof result;
  close(pipe_fds[0]);
  waitpid(child, nullptr, 0);
  return got ? static_cast<size_t>(result) : 0;
}

class PlayerSound : public ::testing::Test {
 protected:
  // Saves as an editor that writes a new file and renames it over does: a
  // file truncated and then written could be caught empty at two looks in
  // a row on a loaded machine, and an empty file is a tune of its own.
  void write(const std::string& text) {
    std::ofstream(tune_ + ".new", std::ios::trunc) << text;
    std::filesystem::rename(tune_ + ".new", tune_);
  }
  // Waits until the device has written `more` further buffers.
  bool wait_buffers(PlayerProcess& player, size_t more) {
    const size_t target = file_size(raw_) + more * kBufferSamples * 2;
    return player.read_until([&](const std::string&) { return file_size(raw_) >= target; });
  }

  TempDir dir_;
  std::string tune_ = dir_.file("tune.txt");
  std::string raw_ = dir_.file("stream.raw");
};

TEST_F(PlayerSound, EverySaveIsHeardFromABufferBoundaryAndABadSaveFadesOutOrWithKeepPlaysOn) {
  const std::string one = "t 3 *\n";
  const std::string two = "( the second tune ) t 7 * t 9 >> &\n";
  const std::string bad = "t 7 * t 9 >> & wobble\n";
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "--keep" : "without --keep");
    write(one);
    std::vector<std::string> args = {tune_};
    if (keep) args.insert(args.begin(), "--keep");
    PlayerProcess player(TONEBROOK_EXE, args,
                         {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + raw_, "SDL_DISKAUDIODELAY=10"});
    ASSERT_TRUE(player.wait_for("DECODED 'compiled' 3 opcodes")) << player.output();
    ASSERT_TRUE(wait_buffers(player, 20));
    write(two);
    ASSERT_TRUE(player.wait_for("DECODED 'compiled' 7 opcodes")) << player.output();
    ASSERT_TRUE(wait_buffers(player, 20));
    write(bad);
    ASSERT_TRUE(player.wait_for("?UNKNOWN SYMBOL: 'wobble'")) << player.output();
    ASSERT_TRUE(wait_buffers(player, 20));
    player.interrupt();
    ASSERT_EQ(player.wait(), 0) << player.output();
    // The bad token is shown where it stands; with --keep, and only then,
    // the player says that the tune plays on.
    EXPECT_THAT(player.output(), ::testing::HasSubstr("at line 1, column 16 of '" + tune_ + "'"));
    EXPECT_EQ(player.output().find("the tune that played before plays on") != std::string::npos, keep);

    std::vector<Buffer> captured = read_buffers(raw_);
    ASSERT_GT(captured.size(), 60u);
    // The quit fades the sound out: the capture is compared up to it.
    while (!captured.empty() && silent(captured.back())) captured.pop_back();
    ASSERT_FALSE(captured.empty());
    if (keep) captured.pop_back();

    // Silence until the first tune is taken up at the start of a buffer.
    size_t first = 0;
    while (first < captured.size() && silent(captured[first])) ++first;
    ASSERT_GT(first, 0u) << "the first look at the file comes after some buffers";
    ASSERT_LT(first, captured.size());
    // Tune one from there on, until the second save; tune two from a
    // buffer boundary on, the machine running on.
    std::vector<Change> plan = {{first, one}};
    const size_t second = first_mismatch(plan, captured);
    ASSERT_LT(second, captured.size()) << "the second tune was never heard";
    plan.push_back({second, two});
    const size_t third = first_mismatch(plan, captured);
    if (keep) {
      EXPECT_EQ(third, captured.size()) << "the bad save changed what plays\n" << player.output();
      continue;
    }
    ASSERT_GT(third, second + 1) << "the second tune does not continue the machine";
    ASSERT_LT(third, captured.size()) << "the bad save did not silence the tune";
    // From the buffer after the bad save on: a fade, then silence.
    plan.push_back({third, ""});
    EXPECT_EQ(first_mismatch(plan, captured), captured.size());
    EXPECT_EQ(captured.back().back(), 0);
    std::filesystem::remove(raw_);
  }
}

}  // namespace
