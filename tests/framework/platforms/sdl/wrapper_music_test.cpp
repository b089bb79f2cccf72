// The audio stream: opening the device, the switches, and the mixing hook
// called by hand on buffers the test owns.
#include <SDL.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "framework/core/kel.h"
#include "framework/platforms/sdl/wrapper_music.h"
#include "support/capture.h"

using ::testing::HasSubstr;

namespace {

class Stream : public ::testing::Test {
 protected:
  void SetUp() override { kel_init(); }
  void TearDown() override { kel_exit(); }
  // Starts the stream and stops the device from calling the hook itself, so
  // that the test's own calls are the only ones.
  static void start_quiet_stream() {
    ASSERT_EQ(kel_init_audio_stream(44100, 0), 1);
    SDL_PauseAudio(1);
  }
};

TEST_F(Stream, DefaultBufferSizeFollowsTheRate) {
  EXPECT_EQ(wrapper_default_buffer_frames(44100), 1024u);
  EXPECT_EQ(wrapper_default_buffer_frames(22050), 512u);
  EXPECT_EQ(wrapper_default_buffer_frames(48000), 1114u);
  EXPECT_EQ(wrapper_default_buffer_frames(11025), 256u);
  EXPECT_EQ(wrapper_default_buffer_frames(8000), 185u);
}

TEST_F(Stream, StartsOnceAndReportsItsSetting) {
  StdoutCapture out;
  EXPECT_EQ(kel_init_audio_stream(44100, 0), 1);
  EXPECT_EQ(kel_settings.stream_init_result, 1);
  EXPECT_THAT(strip_log_prefixes(out.take()),
              HasSubstr("stream setting 44100hz, 1024 byte update\nsyn_init sample rate 44100\nSTART audio STREAM\n"));
  EXPECT_EQ(kel_init_audio_stream(0, 0), 2);  // already running: left alone
  EXPECT_EQ(kel_settings.stream_init_result, 2);
  EXPECT_EQ(out.take(), "");
  EXPECT_EQ(kel_init_audio_stream(22050, 0), 1);  // an explicit rate reopens it
  EXPECT_THAT(strip_log_prefixes(out.take()), HasSubstr("stream setting 22050hz, 512 byte update\n"));
}

TEST_F(Stream, AfterShutDownTheDefaultsOpenTheDeviceAgain) {
  ASSERT_EQ(kel_init_audio_stream(44100, 0), 1);
  kel_exit();
  kel_init();
  EXPECT_EQ(kel_init_audio_stream(0, 0), 1);
}

TEST_F(Stream, ZeroForBothMeansTheDefaultsOnTheFirstStart) {
  StdoutCapture out;
  EXPECT_EQ(kel_init_audio_stream(0, 0), 1);
  EXPECT_THAT(strip_log_prefixes(out.take()), HasSubstr("stream setting 22050hz, 512 byte update\n"));
}

TEST_F(Stream, SwitchesWorkOnceTheStreamRuns) {
  kel_init_audio_stream(44100, 0);
  StdoutCapture out;
  EXPECT_EQ(kel_enable_wave(1), 1);
  EXPECT_EQ(strip_log_prefixes(out.take()), "ENABLE WAV? 0\n");
  EXPECT_EQ(kel_settings.enable_wav, 1);
  EXPECT_EQ(kel_enable_wave(0), 1);
  EXPECT_EQ(strip_log_prefixes(out.take()), "ENABLE WAV? 1\n");
  EXPECT_EQ(kel_enable_synth(1), 1);
  EXPECT_EQ(kel_settings.enable_synth, 1);
}

struct CallbackCall {
  int16_t* buffer;
  int frames;
  int rate;
};
std::vector<CallbackCall> calls;

TEST_F(Stream, HookHandsTheBytebeatCallbackFramesAndTheStreamRate) {
  start_quiet_stream();
  calls.clear();
  kel_set_skreel_callback([](int16_t* buffer, int frames, int rate) { calls.push_back({buffer, frames, rate}); });
  std::vector<int16_t> stream(2048, 7);
  mixaudio(-2, stream.data(), 4096, nullptr);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].buffer, stream.data());
  EXPECT_EQ(calls[0].frames, 1024);
  EXPECT_EQ(calls[0].rate, 44100);
  mixaudio(-2, stream.data(), 4099, nullptr);  // a partial frame is not passed on
  EXPECT_EQ(calls[1].frames, 1024);
  kel_set_skreel_callback(nullptr);
}

TEST_F(Stream, WithNothingEnabledTheHookLeavesTheStreamAlone) {
  start_quiet_stream();
  std::vector<int16_t> stream(2048);
  for (size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<int16_t>(i * 37);
  const std::vector<int16_t> before = stream;
  mixaudio(-2, stream.data(), 4096, nullptr);
  EXPECT_EQ(stream, before);
}

TEST(StreamWithoutDevice, AFailedOpenIsReportedAndTheSwitchesRefuse) {
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  kel_init();
  StdoutCapture out;
  EXPECT_EQ(kel_init_audio_stream(44100, 0), -1);
  EXPECT_EQ(kel_settings.stream_init_result, -1);
  const std::string log = strip_log_prefixes(out.take());
  EXPECT_THAT(log, HasSubstr("Mix_OpenAudio: "));
  EXPECT_THAT(log, ::testing::Not(HasSubstr("START audio STREAM")));
  EXPECT_EQ(kel_enable_wave(1), -1);
  EXPECT_EQ(kel_enable_synth(1), -1);
  EXPECT_EQ(kel_settings.enable_wav, 0);
  EXPECT_EQ(kel_settings.enable_synth, 0);
  EXPECT_EQ(kel_init_audio_stream(0, 0), -1);  // not running: tries the defaults
  kel_exit();
}

}  // namespace
