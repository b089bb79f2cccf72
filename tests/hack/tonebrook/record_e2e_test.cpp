// The built player recording a performance, heard through SDL's disk
// writer: the recording is the captured stream and its replay is the
// recording, byte for byte; a killed recorder leaves a valid WAV file that
// its cut edits replay.
#include <signal.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <algorithm>
#include <string>
#include <vector>

#include "support/app/process.h"
#include "support/app/render_files.h"
#include "support/wav_file.h"

using ::testing::HasSubstr;

namespace {

constexpr size_t kBufferBytes = 4096;  // 1024 stereo frames at 44100 Hz

std::string slurp(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class Recording : public ::testing::Test {
 protected:
  void save(const std::string& text) { std::ofstream(tune_, std::ios::trunc) << text; }
  void start(const std::vector<std::string>& options) {
    std::vector<std::string> args = options;
    args.insert(args.end(), {"--record", rec_, tune_});
    player_ = std::make_unique<PlayerProcess>(
        TONEBROOK_EXE, args,
        std::vector<std::string>{"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + raw_, "SDL_DISKAUDIODELAY=10"});
  }
  // Waits until the device has written `more` further buffers.
  bool wait_buffers(size_t more) {
    const size_t target = file_size(raw_) + more * kBufferBytes;
    return player_->read_until([&](const std::string&) { return file_size(raw_) >= target; });
  }
  // Waits until the player has played `decoded` tunes in all, and 10
  // buffers more.
  void heard(int decoded) {
    ASSERT_TRUE(player_->read_until([&](const std::string& out) { return count(out, "DECODED") >= decoded; }))
        << player_->output();
    ASSERT_TRUE(wait_buffers(10));
  }
  int replay(const std::vector<std::string>& args) {
    PlayerProcess tool(TONEBROOK_EXE, args);
    const int status = tool.wait();
    tool_errors_ = tool.errors();
    return status;
  }

  TempDir dir_;
  std::string tune_ = dir_.file("tune.c"), raw_ = dir_.file("stream.raw"), rec_ = dir_.file("rec.wav");
  std::unique_ptr<PlayerProcess> player_;
  std::string tool_errors_;
};

TEST_F(Recording, ThreeSavesAreTheCapturedStreamAndTheReplayIsTheRecording) {
  // C formulas, and a save that does not compile, which --keep refuses.
  save("t*3\n");
  start({"--keep"});
  ASSERT_TRUE(player_->wait_for("recording to '" + rec_ + ".part'")) << player_->output();
  heard(1);
  save("t*(t>>9&7)\n");
  heard(2);
  save("t*(t>>9\n");
  ASSERT_TRUE(player_->wait_for("the tune that played before plays on"));
  ASSERT_TRUE(wait_buffers(10));
  save("t>>4|t>>6\n");
  heard(3);
  player_->interrupt();
  ASSERT_EQ(player_->wait(), 0) << player_->output() << player_->errors();
  EXPECT_THAT(player_->output(), HasSubstr("recorded "));

  // The edits: the device, three tunes, the quit's silence and the end.
  const std::string edits = slurp(rec_ + ".edits");
  EXPECT_EQ(count(edits, "\ndevice 44100 1024\n"), 1) << edits;
  EXPECT_EQ(count(edits, " tune 8000 compiled!"), 3) << edits;
  EXPECT_EQ(count(edits, " silence\n"), 1) << edits;
  EXPECT_EQ(count(edits, " end\n"), 1) << edits;

  // The recording is the stream, from the first buffer SDL_mixer fills: SDL
  // itself may send the device one silent buffer before it starts the
  // mixer.
  WavPcm16 wav;
  ASSERT_TRUE(read_wav_pcm16(rec_, &wav));
  EXPECT_EQ(wav.fmt.rate, 44100u);
  EXPECT_EQ(wav.fmt.channels, 2);
  const std::string recorded = slurp(rec_).substr(44), captured = slurp(raw_);
  ASSERT_EQ(recorded.size(), wav.data_size);
  ASSERT_GT(recorded.size(), 40 * kBufferBytes);
  const size_t lead = captured.size() - std::min(captured.size(), recorded.size());
  EXPECT_TRUE(lead == 0 || (lead == kBufferBytes && captured.compare(0, lead, std::string(lead, '\0')) == 0))
      << captured.size() << " bytes captured, " << recorded.size() << " recorded";
  EXPECT_TRUE(captured.compare(lead, std::string::npos, recorded) == 0) << "the recording is not the stream";

  // The replay, as a WAV file and a picture.
  const std::string again = dir_.file("again.wav");
  ASSERT_EQ(replay({"--render", again, "--picture", dir_.file("again.png"), "--replay", rec_ + ".edits"}), 0)
      << tool_errors_;
  EXPECT_TRUE(slurp(again) == slurp(rec_)) << "the replay is not the recording";
  PngRgb png;
  EXPECT_TRUE(read_png_rgb(dir_.file("again.png"), &png));
}

TEST_F(Recording, AKilledRecorderLeavesAValidWavAndEditsThatReplayIt) {
  save("t*(t>>9&7)\n");
  start({});
  ASSERT_TRUE(player_->wait_for("DECODED")) << player_->output();
  // Until the header counts a second of the tune.
  const std::string part = rec_ + ".part";
  ASSERT_TRUE(player_->read_until([&](const std::string&) {
    WavPcm16 wav;
    return read_wav_pcm16(part, &wav) && wav.data_size > 2 * 44100 * 4;
  }));
  player_->send_signal(SIGKILL);
  player_->wait();

  WavPcm16 wav;
  ASSERT_TRUE(read_wav_pcm16(part, &wav));
  EXPECT_EQ(wav.riff_size, 36 + wav.data_size);
  EXPECT_EQ(wav.fmt.rate, 44100u);
  EXPECT_EQ(wav.fmt.block_align, 4);
  const std::string edits = slurp(rec_ + ".edits.part");
  EXPECT_THAT(edits, HasSubstr(" tune 8000 compiled!"));
  EXPECT_EQ(count(edits, " end\n"), 0);

  // The cut edits render as much as the WAV file holds, the same sound.
  const std::string again = dir_.file("again.wav");
  ASSERT_EQ(replay({"--render", again, "--replay", rec_ + ".edits.part"}), 0) << tool_errors_;
  WavPcm16 replayed;
  ASSERT_TRUE(read_wav_pcm16(again, &replayed));
  EXPECT_TRUE(replayed.samples == wav.samples) << "the replay is not what the killed recorder kept";

  // A new recording leaves what the killed one kept alone.
  start({});
  EXPECT_EQ(player_->wait(), 1);
  EXPECT_THAT(player_->errors(), HasSubstr("'" + part + "' is there already, left by a recording that was cut short"));
  WavPcm16 still;
  ASSERT_TRUE(read_wav_pcm16(part, &still));
  EXPECT_TRUE(still.samples == wav.samples);
}

}  // namespace
