// Loading WAV files: the chunk walk, mixing down, bit-width conversion and
// the rejection of damaged or unsupported files.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/core/wav-play.h"
#include "support/capture.h"
#include "support/wav_file.h"

namespace {

using namespace wav_file;

std::string simple_wav(uint16_t bits, uint16_t channels, const std::string& data) {
  return pcm(bits, channels, 22050, data);
}

class WavLoad : public ::testing::Test {
 protected:
  void SetUp() override { wave_init(44100, 16); }

  std::string write(const std::string& bytes) {
    const std::string path = dir_.file(std::to_string(++files_) + ".wav");
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
  }

  // Loads the bytes; returns the record and what was printed.
  WAV* load(const std::string& bytes, std::string* out) {
    const std::string path = write(bytes);
    StdoutCapture capture;
    WAV* wav = wave_load(path.c_str());
    *out = capture.take();
    return wav;
  }

  std::string rejection(const std::string& bytes) {
    std::string out;
    WAV* wav = load(bytes, &out);
    EXPECT_EQ(wav, nullptr);
    wave_free(wav);
    return out;
  }

  TempDir dir_;
  int files_ = 0;
};

int open_descriptors() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (readdir(d)) ++n;
  closedir(d);
  return n;
}

TEST(WavLoadUninitialised, RefusesSilently) {
  StdoutCapture capture;
  EXPECT_EQ(wave_load("/nonexistent.wav"), nullptr);
  EXPECT_EQ(capture.take(), "");
}

TEST_F(WavLoad, Mono16KeepsDataAsItStands) {
  std::vector<int> values(500);
  for (int i = 0; i < 500; ++i) values[i] = i * 131 - 32768;
  std::string out;
  WAV* wav = load(simple_wav(16, 1, samples16(values)), &out);
  ASSERT_NE(wav, nullptr);
  EXPECT_EQ(out, "");
  EXPECT_EQ(wav->channels, 1u);
  EXPECT_EQ(wav->rate, 22050u);
  EXPECT_EQ(wav->width, 16u);
  EXPECT_EQ(wav->frames, 500u);
  for (int i = 0; i < 500; ++i) ASSERT_EQ(wav->buffer16()[i], values[i]);
  wave_free(wav);
}

TEST_F(WavLoad, EightBitDataBecomesSigned16) {
  std::string data(500, '\x80');
  data[0] = '\x00';
  data[2] = '\xff';
  std::string out;
  WAV* wav = load(simple_wav(8, 1, data), &out);
  ASSERT_NE(wav, nullptr);
  EXPECT_EQ(out, "Converting 8 -> 16 bits (500 bytes -> 1000 bytes)\n");
  EXPECT_EQ(wav->width, 16u);
  EXPECT_EQ(wav->frames, 500u);
  EXPECT_EQ(wav->buffer16()[0], -32768);
  EXPECT_EQ(wav->buffer16()[1], 0);
  EXPECT_EQ(wav->buffer16()[2], 32512);
  wave_free(wav);
}

TEST_F(WavLoad, SixteenBitDataNarrowsForAnEightBitPlayer) {
  wave_init(44100, 8);
  std::string out;
  WAV* wav = load(simple_wav(16, 1, samples16({0x1234, -2, 0x7fff})), &out);
  ASSERT_NE(wav, nullptr);
  EXPECT_EQ(out, "Converting 16 -> 8 bits (6 bytes -> 3 bytes)\n");
  EXPECT_EQ(wav->width, 8u);
  EXPECT_EQ(wav->buffer8()[0], 0x12);
  EXPECT_EQ(wav->buffer8()[1], -1);
  EXPECT_EQ(wav->buffer8()[2], 0x7f);
  wave_free(wav);
}

TEST_F(WavLoad, ChannelsAreMixedDownToMono) {
  std::string out;
  WAV* wav = load(simple_wav(16, 2, samples16({1000, 3000, -4, -7, 32767, 32767, -32768, -32768})),
                  &out);
  ASSERT_NE(wav, nullptr);
  EXPECT_EQ(wav->channels, 2u);
  ASSERT_EQ(wav->frames, 4u);
  EXPECT_EQ(wav->buffer16()[0], 2000);
  EXPECT_EQ(wav->buffer16()[1], -5);
  EXPECT_EQ(wav->buffer16()[2], 32767);
  EXPECT_EQ(wav->buffer16()[3], -32768);
  wave_free(wav);

  // 8-bit, three channels: bytes averaged, then widened.
  wav = load(simple_wav(8, 3, std::string("\x00\xff\x87\x80\x80\x80", 6)), &out);
  ASSERT_NE(wav, nullptr);
  EXPECT_EQ(out, "Converting 8 -> 16 bits (2 bytes -> 4 bytes)\n");
  ASSERT_EQ(wav->frames, 2u);
  EXPECT_EQ(wav->buffer16()[0], (130 - 128) * 256);
  EXPECT_EQ(wav->buffer16()[1], 0);
  wave_free(wav);
}

TEST_F(WavLoad, WalksChunksAndAcceptsExtensiblePcm) {
  const std::string data = samples16({7, -7, 99});
  const std::string files[] = {
      // A LIST chunk of odd size ahead, an 18-byte format chunk, a fact
      // chunk between format and data, and a chunk after the data.
      riff(chunk("LIST", "INFOabc") + chunk("fmt ", fmt_body(1, 1, 8000, 16) + std::string(2, '\0')) +
           chunk("fact", "1234") + chunk("data", data) + chunk("junk", "x")),
      riff(chunk("fmt ", extensible_body(1, 1, 8000, 16)) + chunk("data", data)),
  };
  for (const std::string& bytes : files) {
    std::string out;
    WAV* wav = load(bytes, &out);
    ASSERT_NE(wav, nullptr);
    EXPECT_EQ(out, "");
    EXPECT_EQ(wav->rate, 8000u);
    ASSERT_EQ(wav->frames, 3u);
    EXPECT_EQ(wav->buffer16()[2], 99);
    wave_free(wav);
  }
}

TEST_F(WavLoad, RejectsFilesThatAreNotPcmWave) {
  EXPECT_EQ(rejection("RIFX"), "Error: not a RIFF file\n");
  EXPECT_EQ(rejection(""), "Error: not a RIFF file\n");
  EXPECT_EQ(rejection(std::string("RIFF\x04\0\0\0AVI ", 12)), "Error: RIFF file but not a wave file\n");

  const std::string path = write(simple_wav(24, 1, std::string(6, '\0')));
  StdoutCapture capture;
  EXPECT_EQ(wave_load(path.c_str()), nullptr);
  EXPECT_EQ(capture.take(), "'" + path +
                                "':\nchannels: 1\nrate: 22050\nwidth: 24\nError: conversion problem\n");
  EXPECT_NE(rejection(simple_wav(0, 1, "ab")).find("Error: conversion problem\n"),
            std::string::npos);

  EXPECT_NE(rejection(riff(chunk("fmt ", fmt_body(3, 1, 8000, 16)) + chunk("data", "ab")))
                .find("is not integer PCM (format tag 0x0003)"),
            std::string::npos);
  EXPECT_NE(rejection(riff(chunk("fmt ", extensible_body(3, 1, 8000, 16)) + chunk("data", "ab")))
                .find("is not integer PCM (format tag 0x0003)"),
            std::string::npos);

  StdoutCapture missing;
  EXPECT_EQ(wave_load("/nonexistent/a.wav"), nullptr);
  EXPECT_EQ(wave_load("/tmp"), nullptr);
  EXPECT_EQ(wave_load(nullptr), nullptr);
  EXPECT_EQ(missing.take(),
            "Error: no file '/nonexistent/a.wav'?\nError: no file '/tmp'?\nError: no file '(null)'?\n");
}

TEST_F(WavLoad, RejectsDamagedFilesWithoutLeavingAnythingOpen) {
  const int descriptors = open_descriptors();
  const std::string good =
      riff(chunk("LIST", "abc") + chunk("fmt ", fmt_body(1, 2, 8000, 16)) + chunk("data", "abcdefgh"));
  // Every cut through the file fails cleanly with an error line.
  for (std::size_t len = 0; len < good.size(); ++len) {
    const std::string out = rejection(good.substr(0, len));
    EXPECT_EQ(out.rfind("Error: ", 0), 0u) << "cut at " << len << ": " << out;
  }

  std::string huge = riff(chunk("fmt ", fmt_body(1, 1, 8000, 16)));
  huge += "data";
  put32(huge, 0xffffffffu);
  huge += "ab";
  EXPECT_NE(rejection(huge).find("announces 4294967295 data bytes but only 2 follow"),
            std::string::npos);
  EXPECT_NE(rejection(simple_wav(16, 0, "ab")).find("has 0 channels"), std::string::npos);
  EXPECT_NE(rejection(riff(chunk("fmt ", fmt_body(1, 1, 0, 16)) + chunk("data", "ab")))
                .find("has a sample rate of 0"),
            std::string::npos);
  EXPECT_NE(rejection(riff(chunk("fmt ", "0123456789") + chunk("data", "ab")))
                .find("has a format chunk of 10 bytes"),
            std::string::npos);
  EXPECT_NE(rejection(riff(chunk("data", "ab") + chunk("fmt ", fmt_body(1, 1, 8000, 16))))
                .find("has no format chunk before its data"),
            std::string::npos);
  EXPECT_NE(rejection(riff(chunk("fmt ", fmt_body(1, 1, 8000, 16)))).find("has no data chunk"),
            std::string::npos);
  EXPECT_EQ(open_descriptors(), descriptors);
}

}  // namespace
