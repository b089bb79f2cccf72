// The command line: which form it is, what it asks for and what it refuses;
// and tune files as the player reads them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <tuple>

#include "hack/tonebrook/options.h"
#include "hack/tonebrook/share.h"
#include "support/wav_file.h"

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

struct Argv {
  explicit Argv(std::vector<std::string> args) : strings(std::move(args)) {
    pointers.push_back(const_cast<char*>("tonebrook"));
    for (std::string& a : strings) pointers.push_back(a.data());
  }
  int argc() { return static_cast<int>(pointers.size()); }
  std::vector<std::string> strings;
  std::vector<char*> pointers;
};

// Parses `args` (after the program's name); the error, or "" on success.
// The arguments that `line` points to are kept for the whole test program.
std::string parse(std::vector<std::string> args, COMMAND_LINE* line) {
  static std::vector<std::unique_ptr<Argv>> kept;
  Argv& argv = *kept.emplace_back(std::make_unique<Argv>(std::move(args)));
  std::string error;
  *line = {};
  return tonebrook_parse_command_line(argv.argc(), argv.pointers.data(), line, &error) ? "" : error;
}

TEST(CommandLine, WhatEachCommandLineDoesAndSays) {
  // status -1: the live player goes on, having said `says` on standard
  // error; 0: standard output matches `says`; 2: refused, with
  // `says` and the usage on standard error. None of these runs a tool.
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;
  };
  const Case cases[] = {
      {{}, -1, "usage: tonebrook "},  // then plays nothing
      {{"--"}, -1, "usage: tonebrook "},
      {{"tune.txt"}, -1, ""},
      {{"tune.txt", "22050", "ignored"}, -1, ""},
      {{"tune.txt", "abc"}, -1, ""},  // the player says so and plays at 44100
      {{"-"}, -1, ""},
      {{"--", "--render", "-x"}, -1, ""},
      {{"--help"}, 0, "usage: tonebrook "},
      {{"tune.txt", "-h"}, 0, "\nOptions:\n"},
      {{"--render", "a.wav", "--version", "--frob"}, 0, "^tonebrook [0-9]+\\.[0-9]+\\.[0-9]+\n$"},
      {{"--Render", "x"}, 2, "unknown option '--Render'"},
      {{"-r", "x"}, 2, "unknown option '-r'"},
      {{"tune.txt", "-1"}, -1, ""},  // a signed RATE: the player says so and plays at 44100
      {{"tune.txt", "-x"}, 2, "unknown option '-x'"},
      {{"--frob", "--help"}, 2, "unknown option '--frob'"},
      {{"--render=a.wav", "t.txt"}, 2, "unknown option '--render=a.wav'"},
      {{""}, 2, "the tune file's name is empty"},
      {{"--render", "a.wav", ""}, 2, "the tune file's name is empty"},
      {{"--render", "", "t.txt"}, 2, "--render OUT.wav: the argument is empty"},
      {{"--picture", "", "t.txt"}, 2, "--picture OUT.png: the argument is empty"},
      {{"--url", ""}, 2, "--url FILE: the argument is empty"},
      {{"--render"}, 2, "--render needs a value: --render OUT.wav"},
      {{"--render", "a.wav"}, 2, "which tune?"},
      {{"--render", "a.wav", "t.txt", "u.txt"}, 2, "one tune file at a time ('t.txt' and 'u.txt')"},
      {{"t.txt", "22050", "--render", "a.wav"}, 2, "one tune file at a time"},
      {{"--render", "a.wav", "--render", "b.wav", "t.txt"}, 2, "--render is given twice"},
      {{"--render", "a.wav", "--picture", "a.wav", "t.txt"}, 2, "two different files"},
      {{"--seconds", "3", "t.txt"}, 2, "go with --render or --picture"},
      {{"--url", "t.txt", "--text", "compiled!a"}, 2, "--url and --text go alone"},
      {{"--render", "a.wav", "--seconds", "0.00001", "t.txt"}, 2, "less than one sample at 44100 Hz"},
      // As much as a WAV file's 32-bit sizes hold, and not a frame more.
      {{"--render", "a.wav", "--seconds", "24348", "t.txt"}, 2, "do not fit in a WAV file (24347 seconds at most)"},
  };
  for (const Case& c : cases) {
    Argv argv(c.args);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int status = tonebrook_early_exit(argv.argc(), argv.pointers.data());
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    const std::string line = ::testing::PrintToString(c.args);
    EXPECT_EQ(status, c.status) << line << "\n" << err;
    if (c.status == -1) {
      EXPECT_EQ(err.substr(0, std::strlen(c.says)), c.says) << line;
      EXPECT_EQ(err.empty(), *c.says == '\0') << line;
    } else if (c.status == 0) {
      EXPECT_THAT(out, ContainsRegex(c.says)) << line;
    } else {
      EXPECT_THAT(err, StartsWith("tonebrook: ")) << line;
      EXPECT_THAT(err.substr(0, err.find('\n')), HasSubstr(c.says)) << line;
      EXPECT_THAT(err, HasSubstr("\nusage: tonebrook ")) << line;
      EXPECT_EQ(out, "") << line;
    }
  }
}

// A field of a command line, "null" when not given.
std::string given(const char* field) { return field ? field : "null"; }

TEST(CommandLine, WhatItAsksFor) {
  COMMAND_LINE r;
  ASSERT_EQ(parse({"t.txt", "22050"}, &r), "");
  EXPECT_EQ(std::tuple(r.command, given(r.tune_file), r.rate, given(r.rate_refused)),
            std::tuple(COMMAND::kPlayer, "t.txt", 22050u, "null"));
  ASSERT_EQ(parse({"--", "-t.txt", "-1"}, &r), "");  // a rate the player refuses, and says so
  EXPECT_EQ(std::tuple(given(r.tune_file), r.rate, given(r.rate_refused)), std::tuple("-t.txt", 44100u, "-1"));
  ASSERT_EQ(parse({"--render", "a.wav", "t.txt"}, &r), "");
  EXPECT_EQ(std::tuple(r.command, given(r.render_path), given(r.tune_file), r.rate, r.frames),
            std::tuple(COMMAND::kTool, "a.wav", "t.txt", 44100u, uint64_t{1323000}));
  ASSERT_EQ(parse({"t.txt", "--rate", "8000", "--picture", "p.png", "--seconds", "2.5"}, &r), "");
  EXPECT_EQ(std::tuple(given(r.picture_path), given(r.render_path), r.rate, r.frames),
            std::tuple("p.png", "null", 8000u, uint64_t{20000}));
  ASSERT_EQ(parse({"--render", "-", "--", "--odd.txt"}, &r), "");
  EXPECT_EQ(std::tuple(given(r.render_path), given(r.tune_file)), std::tuple("-", "--odd.txt"));
  ASSERT_EQ(parse({"--text", "compiled!a"}, &r), "");
  EXPECT_EQ(std::tuple(r.command, given(r.text_url)), std::tuple(COMMAND::kTool, "compiled!a"));
  EXPECT_EQ(parse({"--render", "a.wav", "--seconds", "24347", "t.txt"}, &r), "");

  // --seconds: a plain decimal number above 0.
  for (const char* s : {"2.5", "30", ".5", "3.", "007"})
    EXPECT_EQ(parse({"--picture", "p.png", "--seconds", s, "t"}, &r), "") << s;
  for (const char* s : {"0", "0.0", "-1", "abc", "3s", "nan", "inf", "1e3", "0x10", "1e999", " 3", "+3", "2.5.1", ".",
                        "1,5"})
    EXPECT_THAT(parse({"--render", "a.wav", "--seconds", s, "t.txt"}, &r), HasSubstr("wants a number of seconds")) << s;
  for (const char* s : {"7999", "192001", "-44100", "+44100", "44100.0", "44100 ", "0x10", "4294967297"})
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
