// Rendering a tune in the process, and the files that keep it.
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "framework/core/kel_shared.h"
#include "hack/tonebrook/render.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "support/capture.h"
#include "support/app/render_files.h"
#include "support/wav_file.h"

using ::testing::ElementsAre;

namespace {

std::vector<int16_t> render_all(const char* url, unsigned rate, uint64_t frames, std::vector<size_t>* pieces = nullptr) {
  std::vector<int16_t> out;
  render_tune(url, 8000.0f, rate, frames, [&](const int16_t* stereo, size_t n) {
    out.insert(out.end(), stereo, stereo + 2 * n);
    if (pieces) pieces->push_back(n);
    return pieces == nullptr || pieces->size() < 5;
  });
  return out;
}

TEST(RenderTune, InPiecesOfTheLiveStreamsBufferUntilTheSinkStops) {
  StdoutCapture quiet;
  for (const auto& [rate, buffer] : {std::pair{44100u, 1024u}, {22050u, 512u}, {48000u, 1114u}, {8000u, 185u}}) {
    std::vector<size_t> pieces;
    render_all("compiled!a", rate, 3 * buffer + 7, &pieces);
    EXPECT_THAT(pieces, ElementsAre(buffer, buffer, buffer, 7u)) << rate;
    pieces.clear();
    EXPECT_EQ(render_tune("compiled!a", 8000.0f, rate, 9 * buffer, [&](const int16_t*, size_t) { return false; }), 0u);
  }
}

TEST(RenderTune, StartsAsAFreshPlayerWhateverThePlayerDidBefore) {
  StdoutCapture quiet;
  const std::vector<int16_t> first = render_all("compiled!aa8kaAkmd", 44100, 30000);
  // Something loud left playing by hand: the filter far from rest, `t` far from 0.
  skreel_reset();
  skreel_play_url(nullptr);
  skreel_play_url("compiled!FF");
  std::vector<int16_t> buffer(2048);
  for (int i = 0; i < 20; ++i) skreelplayer_callback(buffer.data(), 1024, 44100);
  ASSERT_NE(buffer[2047], 0);
  EXPECT_EQ(render_all("compiled!aa8kaAkmd", 44100, 30000), first);
  render_all("compiled!a3d", 22050, 5000);
  EXPECT_EQ(render_all("compiled!aa8kaAkmd", 44100, 30000), first);
  EXPECT_EQ(skreel_url_handed_over(), nullptr);  // nothing left handed over
  EXPECT_EQ(kel_settings.callback_skreel.load(), nullptr);
}

TEST(WavWriter, TheHeaderDescribesTheSamplesAndAnOldFileGoesOnlyAtTheCommit) {
  TempDir dir;
  const std::string path = dir.file("out.wav");
  const std::vector<int16_t> samples = {0, -1, 32767, -32768, 1234, -4321};
  for (const unsigned rate : {8000u, 192000u}) {
    std::ofstream(path) << "the old file";
    {
      WavWriter given_up;
      ASSERT_TRUE(given_up.open(path, rate, 3));
      ASSERT_TRUE(given_up.write(samples.data(), 2));
      // More than the header announces: refused before anything is written.
      EXPECT_FALSE(given_up.write(samples.data(), 2));
    }
    EXPECT_EQ(file_size(path), 12u);
    EXPECT_THAT(names_in(dir.path()), ElementsAre("out.wav"));

    WavWriter w;
    ASSERT_TRUE(w.open(path, rate, 3));
    ASSERT_TRUE(w.write(samples.data(), 2));
    ASSERT_TRUE(w.write(samples.data() + 4, 1));
    EXPECT_EQ(file_size(path), 12u);
    ASSERT_TRUE(w.commit());
    WavPcm16 back;
    ASSERT_TRUE(read_wav_pcm16(path, &back));
    const WavPcm16::Format& f = back.fmt;
    EXPECT_EQ(std::vector<uint32_t>({f.format, f.channels, f.bits, f.block_align, f.rate, f.byte_rate,
                                     back.data_size, back.riff_size}),
              std::vector<uint32_t>({1, 2, 16, 4, rate, rate * 4, 12, 48}));
    EXPECT_THAT(back.samples, ElementsAre(0, -1, 32767, -32768, 1234, -4321));
  }
  // The new file has the mode of a file made the usual way.
  const mode_t was = umask(027);
  WavWriter w;
  ASSERT_TRUE(w.open(path, 44100, 0) && w.commit());
  umask(was);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

}  // namespace
