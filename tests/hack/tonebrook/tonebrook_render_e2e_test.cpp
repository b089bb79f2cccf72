// The built player's tools, run as a musician runs them: a rendering is
// what the live player plays, sample for sample; failures leave files as
// they were; the share text is alone on standard output.
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "framework/platforms/sdl/wrapper_music.h"
#include "support/process.h"
#include "support/render_files.h"
#include "support/wav_file.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

const std::string kExamples = TONEBROOK_SOURCE_DIR "/examples/";

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

size_t first_sound(const std::vector<int16_t>& samples) {
  return static_cast<size_t>(
      std::find_if(samples.begin(), samples.end(), [](int16_t s) { return s != 0; }) - samples.begin());
}

class Tools : public ::testing::Test {
 protected:
  void write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  }
  // Runs the built program to its end; returns the exit status.
  int run(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    return run_program(TONEBROOK_EXE, args, env);
  }
  int run_program(const std::string& program, const std::vector<std::string>& args,
                  const std::vector<std::string>& env = {}) {
    PlayerProcess p(program, args, env);
    status_ = p.wait();
    out_ = p.output();
    err_ = p.errors();
    return status_;
  }

  TempDir dir_;
  std::string tune_ = dir_.file("tune.txt");
  int status_ = -1;
  std::string out_, err_;
};

// ---------------------------------------------------------------------------
// What is rendered is what is heard

struct Heard {
  const char* tune;  // in examples/
  unsigned rate;
};

class RenderIsWhatIsHeard : public Tools, public ::testing::WithParamInterface<Heard> {};

TEST_P(RenderIsWhatIsHeard, SampleForSampleFromTheBufferThatAdoptedTheTune) {
  const Heard c = GetParam();
  write(tune_, slurp(kExamples + c.tune));
  const std::string raw = dir_.file("stream.raw");
  const size_t frames_per_buffer = wrapper_default_buffer_frames(c.rate);
  {
    PlayerProcess player(TONEBROOK_EXE, {tune_, std::to_string(c.rate)},
                         {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + raw, "SDL_DISKAUDIODELAY=5"});
    ASSERT_TRUE(player.wait_for("DECODED 'compiled'")) << player.output();
    const size_t target = file_size(raw) + 40 * frames_per_buffer * 4;
    ASSERT_TRUE(player.read_until([&](const std::string&) { return file_size(raw) >= target; }));
    player.interrupt();
    ASSERT_EQ(player.wait(), 0) << player.output();
  }
  const std::vector<int16_t> heard = read_s16le(raw);

  const std::string wav = dir_.file("tune.wav");
  const double seconds = static_cast<double>(heard.size() / 2) / c.rate + 0.5;
  ASSERT_EQ(run({"--render", wav, "--rate", std::to_string(c.rate), "--seconds", std::to_string(seconds), tune_}), 0)
      << err_;
  WavPcm16 rendered;
  ASSERT_TRUE(read_wav_pcm16(wav, &rendered));
  ASSERT_GE(rendered.samples.size(), heard.size());

  // The capture is silent until the buffer that adopted the tune; from
  // there on it is the rendering.
  const size_t heard_from = first_sound(heard), rendered_from = first_sound(rendered.samples);
  ASSERT_LT(heard_from, heard.size()) << "the player was never heard";
  ASSERT_GE(heard_from, rendered_from);
  const size_t adopted = heard_from - rendered_from;
  EXPECT_EQ(adopted % (2 * frames_per_buffer), 0u) << "the tune was adopted in the middle of a buffer";
  const size_t compared = heard.size() - adopted;
  ASSERT_GE(compared, 30 * frames_per_buffer * 2);
  for (size_t i = 0; i < compared; ++i)
    ASSERT_EQ(heard[adopted + i], rendered.samples[i]) << "sample " << i << " after the adoption";
}

INSTANTIATE_TEST_SUITE_P(Tunes, RenderIsWhatIsHeard,
                         ::testing::Values(Heard{"melody.txt", 44100}, Heard{"glide.txt", 22050},
                                           Heard{"pulse.txt", 48000}),
                         [](const ::testing::TestParamInfo<Heard>& param_info) {
                           std::string name = param_info.param.tune;
                           return name.substr(0, name.find('.')) + "_at_" + std::to_string(param_info.param.rate);
                         });

// ---------------------------------------------------------------------------
// Rendering from the command line

TEST_F(Tools, RendersWithoutSoundDeviceOrVideoDriverAndWritesOnlyTheFile) {
  write(tune_, "t 3 *\n");
  const std::string wav = dir_.file("out.wav"), png = dir_.file("out.png");
  ASSERT_EQ(run({"--render", wav, "--picture", png, "--seconds", "2", "--rate", "8000", tune_},
                {"SDL_AUDIODRIVER=none-such", "SDL_VIDEODRIVER=none-such", "DISPLAY"}),
            0)
      << err_;
  EXPECT_THAT(out_, IsEmpty());
  // The engine's own messages go to standard error.
  EXPECT_THAT(err_, HasSubstr("out: 'compiled!a3d'"));
  EXPECT_THAT(err_, HasSubstr("DECODED 'compiled' 3 opcodes"));
  EXPECT_THAT(err_, Not(HasSubstr("kel init")));
  WavPcm16 w;
  ASSERT_TRUE(read_wav_pcm16(wav, &w));
  EXPECT_EQ(w.rate, 8000u);
  EXPECT_EQ(w.samples.size(), 2u * 16000);
  PngRgb p;
  EXPECT_TRUE(read_png_rgb(png, &p));
  EXPECT_THAT(names_in(dir_.path()), ElementsAre("out.png", "out.wav", "tune.txt"));
}

TEST_F(Tools, ATuneThatDoesNotCompileWritesNoFile) {
  write(tune_, "t 3 *\n  t wobble\n");
  const std::string wav = dir_.file("out.wav");
  write(wav, "the old file");
  EXPECT_EQ(run({"--render", wav, tune_}), 1);
  EXPECT_THAT(err_, HasSubstr("?UNKNOWN SYMBOL: 'wobble'"));
  EXPECT_THAT(err_, HasSubstr("at line 2, column 5 of '" + tune_ + "'"));
  EXPECT_EQ(slurp(wav), "the old file");
  EXPECT_EQ(run({"--picture", dir_.file("out.png"), tune_}), 1);
  EXPECT_THAT(names_in(dir_.path()), ElementsAre("out.wav", "tune.txt"));
}

TEST_F(Tools, AFileThatCannotBeWrittenIsNamedAndOthersAreLeftAlone) {
  write(tune_, "t\n");
  const std::string missing = dir_.file("no/such/folder/out.wav");
  EXPECT_EQ(run({"--render", missing, tune_}), 1);
  EXPECT_THAT(err_, HasSubstr("cannot write '" + missing + "'"));

  // A folder in the way: nothing is put in its place, nothing is left over.
  const std::string folder = dir_.file("taken.wav");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  EXPECT_EQ(run({"--render", folder, "--seconds", "1", tune_}), 1);
  EXPECT_THAT(err_, HasSubstr("cannot write '" + folder + "'"));
  EXPECT_THAT(names_in(dir_.path()), ElementsAre("taken.wav", "tune.txt"));

  // A disk that fills up half way (here a limit on the size of files): the
  // old file stays as it was, and the part written is removed.
  const std::string wav = dir_.file("out.wav");
  write(wav, "the old file");
  EXPECT_EQ(run_program("/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 64; exec \"$0\" \"$@\"", TONEBROOK_EXE,
                                     "--render", wav, "--seconds", "10", tune_}),
            1);
  EXPECT_THAT(err_, HasSubstr("cannot write '" + wav + "'"));
  EXPECT_EQ(slurp(wav), "the old file");
  EXPECT_THAT(names_in(dir_.path()), ElementsAre("out.wav", "taken.wav", "tune.txt"));

  // And when all goes well the old file is replaced.
  EXPECT_EQ(run({"--render", wav, "--seconds", "1", tune_}), 0) << err_;
  EXPECT_EQ(file_size(wav), 44u + 44100u * 4);
}

TEST_F(Tools, ProgressIsShownOnATerminalOnly) {
  write(tune_, "t\n");
  const std::string wav = dir_.file("out.wav");
  // Standard error a pipe: no progress.
  ASSERT_EQ(run({"--render", wav, "--seconds", "3", tune_}), 0);
  EXPECT_THAT(err_, Not(HasSubstr("rendered")));

  // Standard error a terminal.
  int master = -1;
  const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(child, 0);
  if (child == 0) {
    execl(TONEBROOK_EXE, TONEBROOK_EXE, "--render", wav.c_str(), "--seconds", "3", tune_.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string screen;
  char chunk[4096];
  for (ssize_t n; (n = read(master, chunk, sizeof chunk)) > 0;) screen.append(chunk, static_cast<size_t>(n));
  int status = 0;
  waitpid(child, &status, 0);
  close(master);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << screen;
  EXPECT_THAT(screen, HasSubstr("\rtonebrook: rendered 3.0 s of 3.0 s (100%)"));
}

// ---------------------------------------------------------------------------
// Share text

TEST_F(Tools, ShareTextIsAloneOnStandardOutputAndMakesATuneFileAgain) {
  write(tune_, "( a tune ) t 1 NOP 2 + *\n t 4 >> @ 7 NOP 9 ! |\n");
  ASSERT_EQ(run({"--url", tune_}), 0) << err_;
  EXPECT_EQ(out_, "compiled!a1.2fda4kv7.9wm\n");
  EXPECT_THAT(err_, HasSubstr("out: 'compiled!a1.2fda4kv7.9wm'"));

  ASSERT_EQ(run({"--text", "compiled!a1.2fda4kv7.9wm"}), 0) << err_;
  EXPECT_EQ(out_, "t 1 NOP 2 + * t 4 >> @ 7 NOP 9 ! | \n");
  EXPECT_THAT(err_, HasSubstr("CODE:"));

  // tonebrook --text URL > tune.txt makes a tune file that plays the same.
  const std::string again = dir_.file("again.txt");
  write(again, out_);
  ASSERT_EQ(run({"--url", again}), 0) << err_;
  EXPECT_EQ(out_, "compiled!a1.2fda4kv7.9wm\n");
}

TEST_F(Tools, ShareTextFailuresSayWhy) {
  write(tune_, "t frob\n");
  EXPECT_EQ(run({"--url", tune_}), 1);
  EXPECT_THAT(out_, IsEmpty());
  EXPECT_THAT(err_, HasSubstr("?UNKNOWN SYMBOL: 'frob'"));
  EXPECT_THAT(err_, HasSubstr("at line 1, column 3 of '" + tune_ + "'"));
  EXPECT_EQ(run({"--url", dir_.file("missing.txt")}), 1);
  EXPECT_THAT(err_, HasSubstr("cannot read '" + dir_.file("missing.txt") + "'"));
  EXPECT_EQ(run({"--text", "no tune here"}), 1);
  EXPECT_THAT(out_, IsEmpty());
  EXPECT_THAT(err_, HasSubstr("'no tune here' holds no tune"));
}

// ---------------------------------------------------------------------------
// The command line

TEST_F(Tools, ABadCommandLineExitsWithTwoAndSaysWhy) {
  write(tune_, "t\n");
  struct Bad {
    std::vector<std::string> args;
    const char* says;
  };
  const std::vector<Bad> bad = {
      {{"--render"}, "--render needs a value"},
      {{"--render", "a.wav"}, "which tune?"},
      {{"--seconds", "3", tune_}, "go with --render or --picture"},
      {{"--render", "a.wav", "--seconds", "0", tune_}, "--seconds wants a number of seconds above 0, not '0'"},
      {{"--render", "a.wav", "--rate", "44.1k", tune_}, "--rate wants a whole number of Hz from 8000 to 192000"},
      {{"--render", "a.wav", "--bogus", tune_}, "unknown option '--bogus'"},
      {{"--url", tune_, "--seconds", "2"}, "--url and --text go alone"},
  };
  for (const Bad& b : bad) {
    EXPECT_EQ(run(b.args), 2) << b.args[0];
    EXPECT_THAT(err_, HasSubstr(b.says));
    EXPECT_THAT(err_, HasSubstr("tonebrook --help lists the options"));
  }
  EXPECT_THAT(names_in(dir_.path()), ElementsAre("tune.txt"));
}

}  // namespace
