// Reading the tools' command line, and tune files as the player reads them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hack/tonebrook/options.h"
#include "hack/tonebrook/render.h"
#include "hack/tonebrook/share.h"
#include "support/wav_file.h"

using ::testing::HasSubstr;

namespace {

// Parses `args` (after the program's name).
bool parse(std::vector<std::string> args, TOOL_REQUEST* req, std::string* error) {
  std::vector<char*> argv = {const_cast<char*>("tonebrook")};
  for (std::string& a : args) argv.push_back(a.data());
  return tonebrook_parse_tools(static_cast<int>(argv.size()), argv.data(), req, error);
}

TEST(ToolOptions, TheCommandLinesThatAreTheTools) {
  for (const char* arg : {"--render", "--picture", "--seconds", "--rate", "--url", "--text"})
    EXPECT_TRUE(tonebrook_is_tool_option(arg)) << arg;
  // The live player's command line stays the player's.
  for (const char* arg : {"tune.txt", "--help", "-h", "--version", "--renders", "-", "", "22050"})
    EXPECT_FALSE(tonebrook_is_tool_option(arg)) << arg;
  EXPECT_FALSE(tonebrook_is_tool_option(nullptr));
}

TEST(ToolOptions, WhatAGoodCommandLineAsksFor) {
  struct Good {
    std::vector<std::string> args;
    std::string render, picture, url_file, text_url, tune;
    double seconds;
    unsigned rate;
    uint64_t frames;
  };
  const std::vector<Good> good = {
      {{"--render", "a.wav", "t.txt"}, "a.wav", "", "", "", "t.txt", 30, 44100, 1323000},
      {{"--picture", "p.png", "--seconds", "2.5", "--rate", "8000", "t.txt"}, "", "p.png", "", "", "t.txt", 2.5, 8000, 20000},
      {{"t.txt", "--rate", "192000", "--render", "a.wav", "--picture", "p.png"}, "a.wav", "p.png", "", "", "t.txt", 30, 192000, 5760000},
      {{"--render", "a.wav", "--", "--odd-name.txt"}, "a.wav", "", "", "", "--odd-name.txt", 30, 44100, 1323000},
      {{"--url", "t.txt"}, "", "", "t.txt", "", "", 30, 44100, 0},
      {{"--text", "compiled!a"}, "", "", "", "compiled!a", "", 30, 44100, 0},
  };
  for (const Good& g : good) {
    TOOL_REQUEST req;
    std::string error;
    ASSERT_TRUE(parse(g.args, &req, &error)) << g.args[0] << ": " << error;
    EXPECT_EQ(req.render_path, g.render);
    EXPECT_EQ(req.picture_path, g.picture);
    EXPECT_EQ(req.url_file, g.url_file);
    EXPECT_EQ(req.text_url, g.text_url);
    EXPECT_EQ(req.tune_file, g.tune);
    EXPECT_DOUBLE_EQ(req.seconds, g.seconds);
    EXPECT_EQ(req.rate, g.rate);
    EXPECT_EQ(req.frames, g.frames);
  }
}

TEST(ToolOptions, WhatIsWrongWithABadOne) {
  struct Bad {
    std::vector<std::string> args;
    const char* says;
  };
  const std::vector<Bad> bad = {
      {{"--render"}, "--render needs a value"},
      {{"--render", "a.wav"}, "which tune?"},
      {{"--render", "a.wav", "t.txt", "u.txt"}, "one tune file at a time"},
      {{"--render", "a.wav", "--render", "b.wav", "t.txt"}, "--render is given twice"},
      {{"--render", "a.wav", "--picture", "a.wav", "t.txt"}, "two different files"},
      {{"--seconds", "3", "t.txt"}, "--seconds and --rate go with --render or --picture"},
      {{"--url", "t.txt", "--text", "compiled!a"}, "--url and --text go alone"},
      {{"--text", "compiled!a", "t.txt"}, "--url and --text go alone"},
      {{"--render", "a.wav", "--frobnicate", "t.txt"}, "unknown option '--frobnicate'"},
      {{"--render", "a.wav", "--seconds", "0.00001", "t.txt"}, "--seconds 1e-05 is less than one sample at 44100 Hz"},
      {{"--render", "a.wav", "--rate", "0x10", "t.txt"}, "--rate wants a whole number of Hz from 8000 to 192000, not '0x10'"},
  };
  for (const Bad& b : bad) {
    TOOL_REQUEST req;
    std::string error;
    EXPECT_FALSE(parse(b.args, &req, &error)) << b.says;
    EXPECT_THAT(error, HasSubstr(b.says));
  }
  // Numbers that are not seconds, and rates the player does not take.
  for (const char* s : {"0", "-1", "abc", "3s", "", "nan", "inf", "1e999", " 3"}) {
    TOOL_REQUEST req;
    std::string error;
    EXPECT_FALSE(parse({"--render", "a.wav", "--seconds", s, "t.txt"}, &req, &error)) << s;
    EXPECT_THAT(error, HasSubstr("--seconds wants a number of seconds above 0")) << s;
  }
  for (const char* r : {"7999", "192001", "-44100", "+44100", "44100.0", "44100 ", "", "4294967297"}) {
    TOOL_REQUEST req;
    std::string error;
    EXPECT_FALSE(parse({"--render", "a.wav", "--rate", r, "t.txt"}, &req, &error)) << r;
    EXPECT_THAT(error, HasSubstr("--rate wants")) << r;
  }
  // As much as a WAV file's sizes can hold, and not a frame more.
  TOOL_REQUEST req;
  std::string error;
  EXPECT_TRUE(parse({"--render", "a.wav", "--seconds", "24347", "t.txt"}, &req, &error)) << error;
  EXPECT_FALSE(parse({"--render", "a.wav", "--seconds", "24348", "t.txt"}, &req, &error));
  EXPECT_THAT(error, HasSubstr("do not fit in a WAV file (24347 seconds at most)"));
}

TEST(TuneFile, ReadAsThePlayerReadsIt) {
  struct Case {
    std::string bytes;
    std::string text;
    bool cut;
  };
  const std::string long_text(1500, 't');
  for (const Case& c : {Case{"t 8 >>\n", "t 8 >>\n", false}, Case{std::string("t\0 junk", 7), "t", false},
                        Case{std::string(1023, 'x'), std::string(1023, 'x'), false},
                        Case{long_text, long_text.substr(0, 1023), true}}) {
    TempFile file(c.bytes, ".txt");
    std::string text, error;
    bool cut = false;
    ASSERT_TRUE(tune_read(file.c_str(), &text, &cut, &error)) << error;
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(cut, c.cut);
  }
  std::string text, error;
  bool cut = false;
  EXPECT_FALSE(tune_read("/no/such/tune.txt", &text, &cut, &error));
  EXPECT_EQ(error, "No such file or directory");
  TempDir folder;
  EXPECT_FALSE(tune_read(folder.path().c_str(), &text, &cut, &error));
  EXPECT_EQ(error, "Is a directory");
}

}  // namespace
