// Rendering a tune in the process, and the files that keep it.
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "framework/core/kel_shared.h"
#include "framework/core/log.h"
#include "hack/tonebrook/out_file.h"
#include "hack/tonebrook/render.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "support/capture.h"
#include "support/render_files.h"
#include "support/wav_file.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<int16_t> render_all(const char* url, unsigned rate, uint64_t frames) {
  std::vector<int16_t> out;
  render_tune(url, rate, frames, [&](const int16_t* stereo, size_t n) {
    out.insert(out.end(), stereo, stereo + 2 * n);
    return true;
  });
  return out;
}

// ---------------------------------------------------------------------------
// render_tune

TEST(RenderTune, HandsOnBuffersOfThePlayersSizeAndStopsWhenTheSinkSaysSo) {
  StdoutCapture quiet;
  struct Case {
    unsigned rate;
    size_t buffer;  // frames the live stream's buffers hold at that rate
  };
  for (const Case c : {Case{44100, 1024}, Case{22050, 512}, Case{48000, 1114}, Case{8000, 185}}) {
    std::vector<size_t> pieces;
    const uint64_t wanted = 3 * c.buffer + 7;
    EXPECT_EQ(render_tune("compiled!a", c.rate, wanted,
                          [&](const int16_t*, size_t n) {
                            pieces.push_back(n);
                            return true;
                          }),
              wanted);
    EXPECT_THAT(pieces, ElementsAre(c.buffer, c.buffer, c.buffer, 7u)) << c.rate;

    pieces.clear();
    EXPECT_EQ(render_tune("compiled!a", c.rate, wanted,
                          [&](const int16_t*, size_t n) {
                            pieces.push_back(n);
                            return pieces.size() < 2;
                          }),
              c.buffer);
    EXPECT_EQ(pieces.size(), 2u);
  }
}

TEST(RenderTune, StartsAsAFreshPlayerWhateverThePlayerDidBefore) {
  StdoutCapture quiet;
  const std::vector<int16_t> first = render_all("compiled!aa8kaAkmd", 44100, 30000);
  ASSERT_EQ(first.size(), 60000u);

  // Something loud, left playing by hand: the filter is far from rest and
  // `t` far from 0.
  skreel_reset();
  skreel_play_url(nullptr);
  skreel_play_url("compiled!FF");
  std::vector<int16_t> buffer(2048);
  for (int i = 0; i < 20; ++i) skreelplayer_callback(buffer.data(), 1024, 44100);
  EXPECT_NE(buffer[2047], 0);

  EXPECT_EQ(render_all("compiled!aa8kaAkmd", 44100, 30000), first);
  // Another tune, another rate, then the first again.
  render_all("compiled!a3d", 22050, 5000);
  EXPECT_EQ(render_all("compiled!aa8kaAkmd", 44100, 30000), first);

  // Nothing is left handed over.
  EXPECT_EQ(skreel_url_handed_over(), nullptr);
  EXPECT_EQ(kel_settings.callback_skreel.load(), nullptr);
}

TEST(RenderTune, TheDecodersLineIsWrittenBeforeTheFirstPiece) {
  TempFile log("", ".log");
  std::FILE* stream = std::fopen(log.c_str(), "w");
  ASSERT_NE(stream, nullptr);
  std::FILE* was = kel_log_set_stream(stream);
  std::string seen;
  render_tune("song!at", 44100, 100, [&](const int16_t*, size_t) {
    std::fflush(stream);
    if (seen.empty()) seen = slurp(log.path());
    return true;
  });
  kel_log_set_stream(was);
  std::fclose(stream);
  EXPECT_THAT(seen, HasSubstr("DECODED 'song' 2 opcodes\n"));
}

// ---------------------------------------------------------------------------
// WavWriter and ReplacingFile

TEST(WavWriter, TheHeaderDescribesTheSamplesThatFollow) {
  TempDir dir;
  const std::vector<int16_t> samples = {0, -1, 32767, -32768, 1234, -4321};
  for (const unsigned rate : {8000u, 44100u, 192000u}) {
    const std::string path = dir.file("out.wav");
    WavWriter w;
    ASSERT_TRUE(w.open(path, rate)) << w.error();
    ASSERT_TRUE(w.write(samples.data(), 2));
    ASSERT_TRUE(w.write(samples.data() + 4, 1));
    EXPECT_EQ(w.frames(), 3u);
    ASSERT_TRUE(w.commit()) << w.error();
    WavPcm16 back;
    ASSERT_TRUE(read_wav_pcm16(path, &back));
    EXPECT_EQ(back.format, 1);
    EXPECT_EQ(back.channels, 2);
    EXPECT_EQ(back.bits, 16);
    EXPECT_EQ(back.block_align, 4);
    EXPECT_EQ(back.rate, rate);
    EXPECT_EQ(back.byte_rate, rate * 4);
    EXPECT_EQ(back.data_size, 12u);
    EXPECT_EQ(back.riff_size, 36u + 12u);
    EXPECT_THAT(back.samples, ElementsAre(0, -1, 32767, -32768, 1234, -4321));
    EXPECT_EQ(file_size(path), 44u + 12u);
  }
}

TEST(WavWriter, AnOldFileIsReplacedOnlyByAWholeNewOne) {
  TempDir dir;
  const std::string path = dir.file("out.wav");
  { std::ofstream(path) << "the old file"; }
  const std::vector<int16_t> frame = {5, 6};
  {
    WavWriter w;
    ASSERT_TRUE(w.open(path, 44100));
    ASSERT_TRUE(w.write(frame.data(), 1));
    EXPECT_EQ(slurp(path), "the old file");
    EXPECT_EQ(names_in(dir.path()).size(), 2u);  // the old file and the new one beside it
  }
  // Given up: the old file as it was, and nothing beside it.
  EXPECT_EQ(slurp(path), "the old file");
  EXPECT_THAT(names_in(dir.path()), ElementsAre("out.wav"));

  WavWriter w;
  ASSERT_TRUE(w.open(path, 44100));
  ASSERT_TRUE(w.write(frame.data(), 1));
  // A file too long for the header's sizes is refused before it is written.
  EXPECT_FALSE(w.write(frame.data(), static_cast<size_t>(kWavMaxFrames)));
  EXPECT_THAT(w.error(), HasSubstr("too long for a WAV file"));
  EXPECT_FALSE(w.commit());
  EXPECT_EQ(slurp(path), "the old file");
  EXPECT_THAT(names_in(dir.path()), ElementsAre("out.wav"));
}

TEST(ReplacingFile, RefusesWhatCannotBecomeTheFileAndLeavesNothingBehind) {
  TempDir dir;
  struct Case {
    std::string path;
    bool opens;
    const char* says;
  };
  ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0755), 0);
  for (const Case& c : {Case{dir.file("missing/out.png"), false, "No such file or directory"},
                        Case{dir.path() + "/", false, "not a file name"},
                        Case{dir.file("folder"), true, "cannot put it in place"}}) {
    ReplacingFile f;
    ASSERT_EQ(f.open(c.path), c.opens) << c.path;
    if (c.opens) {
      std::fputs("data", f.get());
      EXPECT_FALSE(f.commit()) << c.path;
    }
    EXPECT_THAT(f.error(), HasSubstr(c.says)) << c.path;
    EXPECT_EQ(f.get(), nullptr);
  }
  EXPECT_THAT(names_in(dir.path()), ElementsAre("folder"));
  EXPECT_TRUE(names_in(dir.file("folder")).empty());
}

TEST(ReplacingFile, TheNewFileHasTheModeOfAFileMadeTheUsualWay) {
  TempDir dir;
  for (const mode_t mask : {mode_t{022}, mode_t{077}, mode_t{002}}) {
    const mode_t was = umask(mask);
    ReplacingFile f;
    ASSERT_TRUE(f.open(dir.file("out.png")));
    ASSERT_TRUE(f.commit()) << f.error();
    umask(was);
    struct stat st {};
    ASSERT_EQ(stat(dir.file("out.png").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
  }
}

}  // namespace
