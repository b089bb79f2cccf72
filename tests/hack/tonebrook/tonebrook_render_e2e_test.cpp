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
#include <functional>
#include <sstream>

#include "framework/platforms/sdl/wrapper_music.h"
#include "support/app/process.h"
#include "support/app/render_files.h"
#include "support/wav_file.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

class Tools : public ::testing::Test {
 protected:
  void write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
  int run(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
          const std::string& program = TONEBROOK_EXE) {
    PlayerProcess p(program, args, env);
    const int status = p.wait();
    out_ = p.output();
    err_ = p.errors();
    return status;
  }

  TempDir dir_;
  std::string tune_ = dir_.file("tune.txt"), wav_ = dir_.file("out.wav");
  std::string out_, err_;
};

struct Heard {
  const char* tune;  // in examples/
  unsigned rate;
};
class RenderIsWhatIsHeard : public Tools, public ::testing::WithParamInterface<Heard> {};

TEST_P(RenderIsWhatIsHeard, SampleForSampleFromTheBufferThatAdoptedTheTune) {
  const Heard c = GetParam();
  std::stringstream text;
  text << std::ifstream(std::string(TONEBROOK_SOURCE_DIR "/examples/") + c.tune).rdbuf();
  write(tune_, text.str());
  const std::string raw = dir_.file("stream.raw");
  const size_t buffer = wrapper_default_buffer_frames(c.rate);
  {
    PlayerProcess player(TONEBROOK_EXE, {tune_, std::to_string(c.rate)},
                         {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + raw, "SDL_DISKAUDIODELAY=5"});
    ASSERT_TRUE(player.wait_for("DECODED 'compiled'")) << player.output();
    const size_t target = file_size(raw) + 40 * buffer * 4;
    ASSERT_TRUE(player.read_until([&](const std::string&) { return file_size(raw) >= target; }));
    player.interrupt();
    ASSERT_EQ(player.wait(), 0);
  }
  const std::vector<int16_t> heard = read_s16le(raw);
  const double seconds = static_cast<double>(heard.size() / 2) / c.rate + 0.5;
  ASSERT_EQ(run({"--render", wav_, "--rate", std::to_string(c.rate), "--seconds", std::to_string(seconds), tune_}), 0);
  WavPcm16 rendered;
  ASSERT_TRUE(read_wav_pcm16(wav_, &rendered));
  ASSERT_GE(rendered.samples.size(), heard.size());

  // Silence until the buffer that adopted the tune, then the rendering.
  auto sound = [](const std::vector<int16_t>& s) {
    return static_cast<size_t>(std::find_if(s.begin(), s.end(), [](int16_t v) { return v != 0; }) - s.begin());
  };
  ASSERT_LT(sound(heard), heard.size());
  ASSERT_GE(sound(heard), sound(rendered.samples));
  const size_t adopted = sound(heard) - sound(rendered.samples);
  EXPECT_EQ(adopted % (2 * buffer), 0u) << "adopted in the middle of a buffer";
  // The device may write a buffer or two of silence while it shuts down.
  size_t end = heard.size();
  while (end >= adopted + 2 * buffer &&
         std::all_of(heard.begin() + static_cast<long>(end - 2 * buffer), heard.begin() + static_cast<long>(end),
                     [](int16_t v) { return v == 0; }))
    end -= 2 * buffer;
  // The quit fades the sound out within the last buffer, which ends in
  // silence.
  ASSERT_EQ(heard[end - 1], 0);
  end -= 2 * buffer;
  ASSERT_GE(end - adopted, 30 * buffer * 2);
  for (size_t i = 0; adopted + i < end; ++i)
    ASSERT_EQ(heard[adopted + i], rendered.samples[i]) << "sample " << i << " after the adoption";
}

INSTANTIATE_TEST_SUITE_P(Tunes, RenderIsWhatIsHeard,
                         ::testing::Values(Heard{"melody.txt", 44100}, Heard{"glide.txt", 22050},
                                           Heard{"pulse.txt", 48000}),
                         [](const ::testing::TestParamInfo<Heard>& param_info) {
                           const std::string name = param_info.param.tune;
                           return name.substr(0, name.find('.')) + "_at_" + std::to_string(param_info.param.rate);
                         });

TEST_F(Tools, RendersWithoutSoundOrVideoAndWritesOnlyItsFiles) {
  write(tune_, "t 3 *\n");
  const std::string png = dir_.file("out.png");
  ASSERT_EQ(run({"--render", wav_, "--picture", png, "--seconds", "2", "--rate", "8000", tune_},
                {"SDL_AUDIODRIVER=none-such", "SDL_VIDEODRIVER=none-such", "DISPLAY"}),
            0);
  EXPECT_EQ(out_, "");
  // The engine's own messages: the echo, the encoder's and the audio side's
  // deferred line.
  EXPECT_THAT(err_, HasSubstr("t 3 *\n"));
  EXPECT_THAT(err_, HasSubstr("out: 'compiled!a3d'"));
  EXPECT_THAT(err_, HasSubstr("DECODED 'compiled' 3 opcodes"));
  WavPcm16 w;
  ASSERT_TRUE(read_wav_pcm16(wav_, &w));
  EXPECT_EQ(w.samples.size(), 2u * 16000);
  PngRgb p;
  EXPECT_TRUE(read_png_rgb(png, &p));
  EXPECT_THAT(names_in(dir_.path()), ElementsAre("out.png", "out.wav", "tune.txt"));
}

TEST_F(Tools, FailuresLeaveTheOldFileAsItWasAndNothingBeside) {
  write(wav_, "the old file");
  write(tune_, "t 3 *\n  t wobble\n");
  EXPECT_EQ(run({"--render", wav_, "--picture", dir_.file("out.png"), tune_}), 1);
  EXPECT_THAT(err_, HasSubstr("?UNKNOWN SYMBOL: 'wobble'"));
  EXPECT_THAT(err_, HasSubstr("at line 2, column 5 of '" + tune_ + "'"));

  write(tune_, "t\n");
  const std::string missing = dir_.file("no/folder/out.wav");
  EXPECT_EQ(run({"--render", missing, tune_}), 1);
  EXPECT_THAT(err_, HasSubstr("cannot write '" + missing + "'"));
  const std::string folder = dir_.file("taken.wav");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  EXPECT_EQ(run({"--render", folder, "--seconds", "1", tune_}), 1);
  EXPECT_THAT(err_, HasSubstr("cannot write '" + folder + "'"));
  // A disk that fills half way (here a limit on the size of files, whose
  // signal the tool ignores: the write fails with its error).
  EXPECT_EQ(run({"-c", "ulimit -f 64; exec \"$0\" \"$@\"", TONEBROOK_EXE, "--render", wav_, "--seconds", "10", tune_},
                {}, "/bin/sh"),
            1);
  EXPECT_THAT(err_, HasSubstr("cannot write '" + wav_ + "': cannot write: File too large"));
  EXPECT_EQ(run({"--render", wav_, "--rate", "44.1k", tune_}), 2);
  EXPECT_THAT(err_, HasSubstr("--rate wants a whole number of Hz"));

  std::stringstream old;
  old << std::ifstream(wav_).rdbuf();
  EXPECT_EQ(old.str(), "the old file");
  EXPECT_THAT(names_in(dir_.path()), ElementsAre("out.wav", "taken.wav", "tune.txt"));
  EXPECT_EQ(run({"--render", wav_, "--seconds", "1", tune_}), 0);
  EXPECT_EQ(file_size(wav_), 44u + 44100u * 4);
}

// The bytes of a whole WAV file of one second at 44100 Hz, header first.
void expect_one_second_wav(const std::string& bytes, const std::string& what) {
  TempFile file(bytes);
  WavPcm16 w;
  ASSERT_TRUE(read_wav_pcm16(file.path(), &w)) << what;
  EXPECT_EQ(std::tuple(w.riff_size, w.data_size, bytes.size()), std::tuple(36u + 176400u, 176400u, 44u + 176400u))
      << what;
}

std::string slurp(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

bool is_link(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Each row is a command line run by the shell in the test's folder ($TB is
// the program), the status it must end with, what standard output and
// standard error must hold, and what must hold of the files afterwards.
TEST_F(Tools, OutputsAreWrittenThroughOrReplacedWholeAndEveryFailureIsSaid) {
  write(tune_, "t 3 *\n");
  const std::string d = dir_.path() + "/";
  const std::string long_name(246, 'n');
  const struct {
    const char* what;
    std::string command;
    int status;
    std::string out, err;  // what each must start with or contain
    std::function<void()> check;
  } cases[] = {
      {"a link to a FIFO: written through, the link and the FIFO stay", R"(mkfifo f && ln -s f link &&
         { timeout 30 cat f > got.wav & } && $TB --render link --seconds 1 tune.txt && wait)", 0, "", "",
       [&] {
         expect_one_second_wav(slurp(d + "got.wav"), "FIFO");
         EXPECT_TRUE(is_link(d + "link"));
       }},
      {"a link to a device: written through, never replaced",
       "ln -s /dev/null null && $TB --render null --picture null.png --seconds 1 tune.txt", 0, "", "",
       [&] { EXPECT_TRUE(is_link(d + "null")); }},
      {"a device that fails: its error", "ln -s /dev/full full && $TB --render full --seconds 1 tune.txt", 1, "",
       "cannot write 'full': cannot write: No space left on device", [&] { EXPECT_TRUE(is_link(d + "full")); }},
      {"a socket: written through",
       "timeout 30 python3 -c 'import socket; s = socket.socket(socket.AF_UNIX); s.bind(\"sock\"); s.listen(1); "
       "c = s.accept()[0]; open(\"heard.wav\", \"wb\").write(b\"\".join(iter(lambda: c.recv(65536), b\"\")))' & "
       "for i in $(seq 3000); do [ -S sock ] && break; sleep 0.01; done; "
       "$TB --render sock --seconds 1 tune.txt && wait",
       0, "", "", [&] { expect_one_second_wav(slurp(d + "heard.wav"), "socket"); }},
      {"- is standard output: a pipe that cannot seek gets the final sizes first",
       "$TB --render - --seconds 1 tune.txt", 0, "RIFF", "", [&] { expect_one_second_wav(out_, "pipe"); }},
      {"a picture to standard output", "$TB --picture - --seconds 1 tune.txt", 0, "\x89PNG\r\n", "", nullptr},
      {"a folder is refused before anything is read", "mkdir d && $TB --render d tune.txt", 1, "",
       "tonebrook: cannot write 'd': it is a folder", [&] { EXPECT_THAT(err_, Not(HasSubstr("out: '"))); }},
      {"two names of one file", "$TB --render a.wav --picture ./a.wav tune.txt", 2, "",
       "--render and --picture name the same file ('a.wav' and './a.wav')", nullptr},
      {"a link to the other output", "touch a.wav && ln -s a.wav b.wav && $TB --render a.wav --picture b.wav tune.txt",
       2, "", "name the same file", [&] { EXPECT_EQ(file_size(d + "a.wav"), 0u); }},
      {"an output that is the tune", "$TB --picture ./tune.txt tune.txt", 2, "",
       "--picture './tune.txt' is the tune file 'tune.txt' itself", [&] { EXPECT_EQ(slurp(tune_), "t 3 *\n"); }},
      {"standard output where the messages go", "$TB --render - --seconds 1 tune.txt 2>&1", 2, "", "",
       [&] { EXPECT_THAT(out_, HasSubstr("is where standard error goes")); }},
      {"a name as long as a name may be", "$TB --render " + long_name + ".wav --seconds 1 tune.txt", 0, "", "",
       [&] { expect_one_second_wav(slurp(d + long_name + ".wav"), "long name"); }},
      {"standard error closed: no line lands in the file", "$TB --render out.wav --seconds 1 tune.txt 2>&-", 0, "", "",
       [&] { expect_one_second_wav(slurp(wav_), "closed standard error"); }},
      {"--url into a full disk", "$TB --url tune.txt > /dev/full", 1, "",
       "tonebrook: cannot write standard output: No space left on device", nullptr},
      {"--text with standard output closed", "$TB --text 'compiled!a' >&-", 1, "",
       "tonebrook: cannot write standard output: Bad file descriptor", nullptr},
      {"--help and --version into a full disk", "$TB --help > /dev/full && exit 9; $TB --version > /dev/full", 1, "",
       "cannot write standard output: No space", nullptr},
      {"--render - into a full disk", "$TB --render - --seconds 1 tune.txt > /dev/full", 1, "",
       "tonebrook: cannot write standard output: cannot write: No space left on device", nullptr},
      {"controls in an argument are escaped",
       R"sh($TB --text "$(printf 'x\033]0;owned\007\n[kel 0.00s (0)] forged')")sh", 1, "",
       "tonebrook: 'x\\x1b]0;owned\\x07\\x0a[kel 0.00s (0)] forged' holds no tune", nullptr},
      {"controls in a file name are escaped", R"sh($TB --render out.wav "$(printf 'no\033[2J\nsuch')")sh", 1, "",
       "tonebrook: cannot read 'no\\x1b[2J\\x0asuch': No such file", nullptr},
      {"--text of more than 256 instructions says so", "$TB --text compiled!$(printf 'a%.0s' $(seq 300))", 0, "t t ",
       "tonebrook: the tune has 300 instructions: the listing holds only the first 256, as only the first 256 play",
       [&] { EXPECT_EQ(out_.size(), 256u * 2 + 1); }},
      {"--text longer than a tune file says so", "$TB --text compiled!$(printf 'FFFFFFFF.%.0s' $(seq 100))", 0,
       "4294967295 NOP 4294967295 ",
       "tonebrook: the tune has 100 instructions: the listing holds only the first 68, as many as fit in the 1023 "
       "bytes",
       [&] { EXPECT_LE(out_.size(), 1024u); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const int status =
        run({"-c", "cd \"$D\" || exit 99\n" + c.command}, {"TB=" TONEBROOK_EXE, "D=" + dir_.path()}, "/bin/sh");
    EXPECT_EQ(status, c.status) << err_;
    EXPECT_THAT(out_, StartsWith(c.out));
    EXPECT_THAT(err_, HasSubstr(c.err));
    EXPECT_EQ(err_.find('\x1b'), std::string::npos);
    if (c.check) c.check();
  }
  // Nothing was left beside any output.
  for (const std::string& name : names_in(dir_.path())) EXPECT_NE(name[0], '.') << name;
}

TEST_F(Tools, ProgressIsShownOnATerminalOnly) {
  write(tune_, "t\n");
  ASSERT_EQ(run({"--render", wav_, "--seconds", "3", tune_}), 0);
  EXPECT_THAT(err_, Not(HasSubstr("rendered")));
  int terminal = -1;
  const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) _exit(execl(TONEBROOK_EXE, TONEBROOK_EXE, "--render", wav_.c_str(), "--seconds", "3", tune_.c_str(), nullptr));
  std::string screen;
  char chunk[4096];
  for (ssize_t n; (n = read(terminal, chunk, sizeof chunk)) > 0;) screen.append(chunk, static_cast<size_t>(n));
  int status = -1;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
  EXPECT_THAT(screen, HasSubstr("\rtonebrook: rendered 3.0 s of 3.0 s (100%)"));
  close(terminal);
}

TEST_F(Tools, ShareTextIsAloneOnStandardOutputAndMakesATuneFileAgain) {
  write(tune_, "( a tune ) t 1 NOP 2 + *\n t 4 >> 7 @ 9 | 3 4 5 + +\n");
  const std::string url = "compiled!a1.2fda4k7.9m345ff";
  ASSERT_EQ(run({"--url", tune_}), 0);
  EXPECT_EQ(out_, url + "\n");
  EXPECT_THAT(err_, HasSubstr("out: '" + url + "'"));
  ASSERT_EQ(run({"--text", url}), 0);
  // Numbers that follow each other are kept apart, so the text reads back.
  EXPECT_EQ(out_, "t 1 NOP 2 + * t 4 >> 7 NOP 9 | 837 + + \n");
  write(tune_, out_);  // tonebrook --text URL > tune.txt
  ASSERT_EQ(run({"--url", tune_}), 0);
  EXPECT_EQ(out_, url + "\n");

  EXPECT_EQ(run({"--text", "no tune here"}), 1);
  EXPECT_EQ(out_, "");
  EXPECT_THAT(err_, HasSubstr("'no tune here' holds no tune"));
  write(tune_, "t frob\n");
  EXPECT_EQ(run({"--url", tune_}), 1);
  EXPECT_EQ(out_, "");
  EXPECT_THAT(err_, HasSubstr("at line 1, column 3 of '" + tune_ + "'"));
}

}  // namespace
