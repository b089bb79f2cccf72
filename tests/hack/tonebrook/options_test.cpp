// Reading the tools' command line, and tune files as the player reads them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

#include "hack/tonebrook/options.h"
#include "hack/tonebrook/share.h"
#include "support/wav_file.h"

using ::testing::HasSubstr;

namespace {

// Parses `args` (after the program's name); the error, or "" on success.
std::string parse(std::vector<std::string> args, TOOL_REQUEST* req) {
  std::vector<char*> argv = {const_cast<char*>("tonebrook")};
  for (std::string& a : args) argv.push_back(a.data());
  std::string error;
  return tonebrook_parse_tools(static_cast<int>(argv.size()), argv.data(), req, &error) ? "" : error;
}

TEST(ToolOptions, WhatACommandLineAsksFor) {
  EXPECT_TRUE(tonebrook_is_tool_option("--render") && tonebrook_is_tool_option("--text"));
  for (const char* arg : {"tune.txt", "--help", "--version", "--renders", "-", "22050"})
    EXPECT_FALSE(tonebrook_is_tool_option(arg)) << arg;  // the live player's

  TOOL_REQUEST r;
  ASSERT_EQ(parse({"--render", "a.wav", "t.txt"}, &r), "");
  EXPECT_EQ(std::tie(r.render_path, r.tune_file, r.rate, r.frames), std::make_tuple(std::string("a.wav"), std::string("t.txt"), 44100u, uint64_t{1323000}));
  ASSERT_EQ(parse({"t.txt", "--rate", "8000", "--picture", "p.png", "--seconds", "2.5"}, &r), "");
  EXPECT_EQ(std::tie(r.picture_path, r.render_path, r.rate, r.frames), std::make_tuple(std::string("p.png"), std::string(), 8000u, uint64_t{20000}));
  ASSERT_EQ(parse({"--render", "a.wav", "--", "--odd.txt"}, &r), "");
  EXPECT_EQ(r.tune_file, "--odd.txt");
  ASSERT_EQ(parse({"--text", "compiled!a"}, &r), "");
  EXPECT_EQ(r.text_url, "compiled!a");
  // As much as a WAV file's 32-bit sizes hold, and not a frame more.
  EXPECT_EQ(parse({"--render", "a.wav", "--seconds", "24347", "t.txt"}, &r), "");
  EXPECT_THAT(parse({"--render", "a.wav", "--seconds", "24348", "t.txt"}, &r),
              HasSubstr("do not fit in a WAV file (24347 seconds at most)"));

  const std::vector<std::pair<std::vector<std::string>, const char*>> bad = {
      {{"--render"}, "--render needs a value"},
      {{"--render", "a.wav"}, "which tune?"},
      {{"--render", "a.wav", "t.txt", "u.txt"}, "one tune file at a time"},
      {{"--render", "a.wav", "--render", "b.wav", "t.txt"}, "--render is given twice"},
      {{"--render", "a.wav", "--picture", "a.wav", "t.txt"}, "two different files"},
      {{"--seconds", "3", "t.txt"}, "go with --render or --picture"},
      {{"--url", "t.txt", "--text", "compiled!a"}, "--url and --text go alone"},
      {{"--render", "a.wav", "--frob", "t.txt"}, "unknown option '--frob'"},
      {{"--render", "a.wav", "--seconds", "0.00001", "t.txt"}, "less than one sample at 44100 Hz"}};
  for (const auto& [args, says] : bad) EXPECT_THAT(parse(args, &r), HasSubstr(says));
  for (const char* s : {"0", "-1", "abc", "3s", "", "nan", "inf", "1e999", " 3", "+3"})
    EXPECT_THAT(parse({"--render", "a.wav", "--seconds", s, "t.txt"}, &r), HasSubstr("wants a number of seconds")) << s;
  for (const char* s : {"7999", "192001", "-44100", "+44100", "44100.0", "44100 ", "", "0x10", "4294967297"})
    EXPECT_THAT(parse({"--render", "a.wav", "--rate", s, "t.txt"}, &r), HasSubstr("--rate wants")) << s;
}

TEST(TuneFile, ReadAsThePlayerReadsIt) {
  // A NUL ends the text; past 1023 bytes the file is cut, and says so.
  for (const auto& [bytes, text, cut] : {std::tuple{std::string("t\0 x", 4), std::string("t"), false},
                                         {std::string(1024, 't'), std::string(1023, 't'), true}}) {
    TempFile file(bytes, ".txt");
    std::string got, error;
    bool was_cut = false;
    ASSERT_TRUE(tune_read(file.c_str(), &got, &was_cut, &error)) << error;
    EXPECT_EQ(std::tie(got, was_cut), std::tie(text, cut));
  }
}

}  // namespace
