// The built player heard through SDL's disk writer: the captured stream must
// equal, sample for sample, the engine's own rendering of the same tunes.
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <string>
#include <vector>

#include "keltoolkit/skreelplayer/skreel.h"
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

// Renders `plan` with the engine, handing over tunes the way the player
// does, and returns the first buffer that differs from `captured`, or
// captured.size() when all match. The engine's state is process-wide and
// its filter never resets, so every rendering runs in a fresh child process.
size_t first_mismatch(const std::vector<Change>& plan, const std::vector<Buffer>& captured) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return 0;
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_fds[0]);
    StdoutCapture quiet;  // the encoder's echo
    skreel_reset();
    std::vector<std::string> urls;
    urls.reserve(plan.size());
    size_t next = 0, result = captured.size();
    for (size_t i = 0; i < captured.size(); ++i) {
      while (next < plan.size() && plan[next].at == i) {
        const char* url = plan[next].text.empty() ? nullptr : skreel_encode(plan[next].text.c_str());
        if (url) urls.emplace_back(url);
        skreel_play_url(nullptr);
        skreel_play_url(url ? urls.back().c_str() : nullptr);
        ++next;
      }
      Buffer mine(kBufferSamples, 0);
      if (next > 0 && !plan[next - 1].text.empty()) skreelplayer_callback(mine.data(), kFrames, kRate);
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
  void write(const std::string& text) { std::ofstream(tune_, std::ios::trunc) << text; }
  // Waits until the device has written `more` further buffers.
  bool wait_buffers(PlayerProcess& player, size_t more) {
    const size_t target = file_size(raw_) + more * kBufferSamples * 2;
    return player.read_until([&](const std::string&) { return file_size(raw_) >= target; });
  }

  TempDir dir_;
  std::string tune_ = dir_.file("tune.txt");
  std::string raw_ = dir_.file("stream.raw");
};

TEST_F(PlayerSound, EverySaveIsHeardFromABufferBoundaryWithTheMachineRunningOn) {
  const std::string one = "t 3 *\n";
  const std::string two = "( the second tune ) t 7 * t 9 >> &\n";
  const std::string bad = "t 7 * t 9 >> & wobble\n";
  write(one);
  PlayerProcess player(TONEBROOK_EXE, {tune_},
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

  const std::vector<Buffer> captured = read_buffers(raw_);
  ASSERT_GT(captured.size(), 60u);

  // Silence until the first tune is adopted at the start of a buffer.
  size_t first = 0;
  while (first < captured.size() && silent(captured[first])) ++first;
  ASSERT_GT(first, 0u) << "the first look at the file comes after some buffers";
  ASSERT_LT(first, captured.size());

  // Tune one from there on, until the second save.
  std::vector<Change> plan = {{first, one}};
  const size_t second = first_mismatch(plan, captured);
  ASSERT_LT(second, captured.size()) << "the second tune was never heard";
  // Tune two from a buffer boundary on. When the device started a buffer
  // between the player's two hand-over calls, that one buffer is silent.
  plan.push_back({second, two});
  size_t third = first_mismatch(plan, captured);
  if (third == second && silent(captured[second])) {
    plan.back() = {second, ""};
    plan.push_back({second + 1, two});
    third = first_mismatch(plan, captured);
  }
  ASSERT_GT(third, second + 1) << "the second tune does not continue the machine";
  ASSERT_LT(third, captured.size()) << "the bad save did not silence the tune";
  // Silence from the buffer after the bad save on, to the end.
  plan.push_back({third, ""});
  EXPECT_EQ(first_mismatch(plan, captured), captured.size());
  for (size_t i = third; i < captured.size(); ++i) ASSERT_TRUE(silent(captured[i])) << "buffer " << i;

  // The bad token is shown where it stands.
  EXPECT_THAT(player.output(), ::testing::HasSubstr("at line 1, column 16 of '" + tune_ + "'"));
}

}  // namespace
