#include "hack/tonebrook/options.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "framework/core/escape.h"
#include "framework/core/log.h"
#include "hack/tonebrook/out_file.h"
#include "hack/tonebrook/picture.h"
#include "hack/tonebrook/process.h"
#include "hack/tonebrook/render.h"
#include "hack/tonebrook/replay.h"
#include "hack/tonebrook/share.h"
#include "keltoolkit/skreelplayer/skreel.h"

#ifndef TONEBROOK_VERSION
#define TONEBROOK_VERSION "unknown"
#endif

namespace {

constexpr unsigned kLowestRate = TONEBROOK_LOWEST_RATE;
constexpr unsigned kHighestRate = TONEBROOK_HIGHEST_RATE;

// Sets `error` and gives false.
bool refuse(std::string* error, std::string why) {
  *error = std::move(why);
  return false;
}

bool all_digits(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A plain decimal number, digits with perhaps one point ("30", "2.5",
// ".5"): no sign, exponent, hexadecimal, inf or nan, and nothing before or
// after it. Read the same in every locale.
bool parse_decimal(const char* s, double* out) {
  const std::string_view text = s;
  const std::size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction = point == std::string_view::npos ? "" : text.substr(point + 1);
  if ((whole.empty() && fraction.empty()) || !all_digits(whole) || !all_digits(fraction)) return false;
  double v = 0;
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
  if (status != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

// Seconds: a plain decimal number above 0.
bool parse_seconds(const char* s, double* out) {
  double v = 0;
  if (!parse_decimal(s, &v) || !(v > 0)) return false;
  *out = v;
  return true;
}

// What the options set. Each takes the value as given (null for a flag).
template <const char* COMMAND_LINE::*Field>
bool set_argument(COMMAND_LINE* line, const char* value, std::string*) {
  line->*Field = value;
  return true;
}

template <bool COMMAND_LINE::*Field>
bool set_flag(COMMAND_LINE* line, const char*, std::string*) {
  line->*Field = true;
  return true;
}

// A volume: a plain decimal number from 0 to 1, read as --seconds is.
bool set_volume(COMMAND_LINE* line, const char* value, std::string* error) {
  double v = 0;
  if (parse_decimal(value, &v) && v <= 1.0) {
    line->volume = static_cast<float>(v);
    return true;
  }
  return refuse(error, std::string("--volume wants a number from 0 to 1, such as 0.5, not '") + value + "'");
}

template <COMMAND Command>
bool set_command(COMMAND_LINE* line, const char*, std::string*) {
  line->command = Command;
  return true;
}

bool set_seconds(COMMAND_LINE* line, const char* value, std::string* error) {
  line->seconds_given = true;
  if (parse_seconds(value, &line->seconds)) return true;
  return refuse(error,
                std::string("--seconds wants a number of seconds above 0 in decimal digits, such as 2.5, not '") +
                    kel_escape_name(value) + "'");
}

bool set_rate(COMMAND_LINE* line, const char* value, std::string* error) {
  const long v = tonebrook_parse_rate(value);
  if (v >= static_cast<long>(kLowestRate)) {
    line->rate = static_cast<unsigned>(v);
    return true;
  }
  return refuse(error, "--rate wants a whole number of Hz from " + std::to_string(kLowestRate) + " to " +
                           std::to_string(kHighestRate) + ", not '" + kel_escape_name(value) + "'");
}

// The recording is put in place at the quit, so it needs a name; standard
// output carries the player's messages.
bool set_record(COMMAND_LINE* line, const char* value, std::string* error) {
  if (std::strcmp(value, "-") == 0)
    return refuse(error, "--record wants a file name, not '-': the recording is put in place at the quit");
  line->record_path = value;
  return true;
}

// Every option, in the order --help lists them.
constexpr std::array kOptions = {
    OPTION{"--keep", "", "", OPTION_USE::kPlayer,
           "a save that does not compile leaves the tune that plays\n"
           "playing (without it the player falls silent)",
           set_flag<&COMMAND_LINE::keep>},
    OPTION{"--instant", "", "", OPTION_USE::kPlayer,
           "take a save at the next logic update, when the kernel\n"
           "tells of it (without it FILE is looked at every 16 updates)",
           set_flag<&COMMAND_LINE::instant>},
    OPTION{"--quiet", "", "", OPTION_USE::kPlayer,
           "print only a line per tune taken up, the errors with\n"
           "their place, and the warnings",
           set_flag<&COMMAND_LINE::quiet>},
    OPTION{"--volume", "", "V", OPTION_USE::kPlayer, "the player's volume, 0 to 1 (default 1)", set_volume},
    OPTION{"--scope", "", "", OPTION_USE::kPlayer,
           "show the sound in a window while it plays; in it the\n"
           "pointer plays the inputs x and y (0 to 255 across the\n"
           "window, y upwards), the left and right buttons u and v\n"
           "(0 or 255); space pauses, Home starts again from t = 0,\n"
           "+ and - change the volume, Esc quits",
           set_flag<&COMMAND_LINE::scope>},
    OPTION{"--record", "", "REC.wav", OPTION_USE::kPlayer,
           "record what the player plays to REC.wav, and what was\n"
           "played when to REC.wav.edits, for --replay",
           set_record},
    OPTION{"--render", "", "OUT.wav", OPTION_USE::kTool,
           "write N seconds of the tune to OUT.wav, 16-bit stereo PCM,\n"
           "sample for sample as the player plays it, at once;\n"
           "- is standard output",
           set_argument<&COMMAND_LINE::render_path>},
    OPTION{"--picture", "", "OUT.png", OPTION_USE::kTool,
           "draw the first N seconds: envelope above spectrogram;\n"
           "- is standard output",
           set_argument<&COMMAND_LINE::picture_path>},
    OPTION{"--replay", "", "EDITS", OPTION_USE::kTool,
           "render or draw the performance that --record recorded,\n"
           "from its EDITS file (N defaults to the whole of it)",
           set_argument<&COMMAND_LINE::replay_path>},
    OPTION{"--seconds", "", "N", OPTION_USE::kTool,
           "how much to render or draw, in seconds: a decimal number\n"
           "such as 2.5 (default 30)",
           set_seconds},
    OPTION{"--rate", "", "R", OPTION_USE::kTool,
           "the rendering's sample rate in Hz, 8000 to 192000\n"
           "(default 44100)",
           set_rate},
    OPTION{"--url", "", "FILE", OPTION_USE::kTool, "print the tune's URL text (compiled!...)",
           set_argument<&COMMAND_LINE::url_file>},
    OPTION{"--text", "", "URL", OPTION_USE::kTool, "print the readable listing of URL text: a tune file",
           set_argument<&COMMAND_LINE::text_url>},
    OPTION{"--help", "-h", "", OPTION_USE::kAlone, "print this help", set_command<COMMAND::kHelp>},
    OPTION{"--version", "", "", OPTION_USE::kAlone, "print the version", set_command<COMMAND::kVersion>},
};

// Every name is "--" and a word, every short form '-' and a letter, and no
// two rows answer to the same argument.
constexpr bool options_are_apart() {
  for (std::size_t i = 0; i < kOptions.size(); ++i) {
    const OPTION& a = kOptions[i];
    if (a.name.size() < 3 || !a.name.starts_with("--") || a.name[2] == '-') return false;
    if (!a.alias.empty() && (a.alias.size() != 2 || a.alias[0] != '-' || a.alias[1] == '-')) return false;
    for (std::size_t j = i + 1; j < kOptions.size(); ++j) {
      const OPTION& b = kOptions[j];
      if (a.name == b.name || (!a.alias.empty() && a.alias == b.alias)) return false;
    }
  }
  return true;
}
static_assert(options_are_apart());

// The tools' forms of the command line, after "tonebrook ": they say which
// options go together. The live player's form and those of the options
// that go alone are made from the table.
constexpr std::array<std::string_view, 6> kToolForms = {
    "--render OUT.wav [--picture OUT.png] [--seconds N] [--rate R] FILE",
    "--picture OUT.png [--seconds N] [--rate R] FILE",
    "--render OUT.wav [--picture OUT.png] [--seconds N] --replay EDITS",
    "--picture OUT.png [--seconds N] --replay EDITS",
    "--url FILE",
    "--text URL",
};

constexpr const char* kAbout =
    "Plays the bytebeat tune in FILE and plays it anew whenever FILE is saved.\n"
    "FILE holds postfix program text, or a C expression of t when its name ends\n"
    "in .c; a comment \"rate: N\" names the tune's own rate of t (default 8000).\n"
    "RATE is the sound device's sample rate in Hz (default 44100).\n"
    "\n"
    "Options:\n";

constexpr const char* kAfterOptions =
    "\n"
    "Options may stand before or after FILE. An argument that starts with -\n"
    "and is not one of them is refused. After --, every argument is a file, so\n"
    "a tune whose name starts with - plays too: tonebrook -- -tune.txt\n"
    "\n"
    "OUT.wav and OUT.png: a file there is replaced only by a whole new one; a\n"
    "device, a FIFO or a socket there is written straight into; - is standard\n"
    "output (tonebrook --render - tune.txt | aplay). No output may be another\n"
    "output or FILE.\n"
    "\n"
    "Exit status: 0 done; 1 the tune does not compile, a file (standard output\n"
    "included) cannot be read or written, or the rendering was interrupted;\n"
    "2 the command line is wrong.\n";

const OPTION* find_option(std::string_view arg) {
  for (const OPTION& option : kOptions)
    if (arg == option.name || (!option.alias.empty() && arg == option.alias)) return &option;
  return nullptr;
}

// The row of the option called `name`; kOptions.size() when there is none.
constexpr std::size_t index_of(std::string_view name) {
  for (std::size_t i = 0; i < kOptions.size(); ++i)
    if (kOptions[i].name == name) return i;
  return kOptions.size();
}
constexpr std::size_t kSecondsRow = index_of("--seconds");
constexpr std::size_t kRateRow = index_of("--rate");
static_assert(kSecondsRow < kOptions.size() && kRateRow < kOptions.size());

// How --help shows an option: "--render OUT.wav", "-h, --help".
std::string label_of(const OPTION& option) {
  std::string label;
  if (!option.alias.empty()) label.append(option.alias).append(", ");
  label.append(option.name);
  if (!option.value.empty()) label.append(" ").append(option.value);
  return label;
}

// How a form of the command line shows it: "--render OUT.wav", "--help | -h".
std::string form_of(const OPTION& option) {
  std::string form(option.name);
  if (!option.value.empty()) form.append(" ").append(option.value);
  if (!option.alias.empty()) form.append(" | ").append(option.alias);
  return form;
}

std::string usage_text() {
  std::string player = "tonebrook";
  for (const OPTION& option : kOptions)
    if (option.use == OPTION_USE::kPlayer) player.append(" [").append(form_of(option)).append("]");
  player.append(" FILE [RATE]");
  std::string text = "usage: " + player + "\n";
  for (std::string_view form : kToolForms) text.append("       tonebrook ").append(form).append("\n");
  for (const OPTION& option : kOptions)
    if (option.use == OPTION_USE::kAlone) text.append("       tonebrook ").append(form_of(option)).append("\n");
  return text;
}

std::string help_text() {
  std::string text = usage_text() + kAbout;
  std::size_t width = 0;
  for (const OPTION& option : kOptions) width = std::max(width, label_of(option).size());
  width += 2;
  for (const OPTION& option : kOptions) {
    std::string label = label_of(option);
    label.resize(width, ' ');
    text.append("  ").append(label);
    for (const char c : option.help) {
      text.push_back(c);
      if (c == '\n') text.append(width + 2, ' ');
    }
    text.push_back('\n');
  }
  return text + kAfterOptions;
}

// The log writes to standard error for the life of the object.
class LogToStandardError {
 public:
  LogToStandardError() : was_(kel_log_set_stream(stderr)) {}
  ~LogToStandardError() { kel_log_set_stream(was_); }
  LogToStandardError(const LogToStandardError&) = delete;
  LogToStandardError& operator=(const LogToStandardError&) = delete;

 private:
  std::FILE* was_;
};

int cannot_write(const char* path, const std::string& why) {
  std::fprintf(stderr, "tonebrook: cannot write %s: %s\n", output_name(path).c_str(), why.c_str());
  return kExitFailed;
}

int interrupted(const COMMAND_LINE& req) {
  std::string through;
  for (const char* path : {req.render_path, req.picture_path})
    if (path && output_kind(path, nullptr) != OUTPUT_KIND::kReplace)
      through += (through.empty() ? "" : " and ") + output_name(path);
  if (through.empty())
    std::fputs("tonebrook: interrupted; no file was written or replaced\n", stderr);
  else
    std::fprintf(stderr, "tonebrook: interrupted; no file was replaced, and %s got only part\n", through.c_str());
  return kExitFailed;
}

// The outputs, looked at before anything is read or written: a folder is
// refused, and so is a terminal for standard output (a WAV file or a
// picture would garble it). Returns -1 when both may be written.
int check_outputs(const COMMAND_LINE& req) {
  for (const char* path : {req.render_path, req.picture_path}) {
    if (!path) continue;
    std::string why;
    const OUTPUT_KIND kind = output_kind(path, &why);
    if (kind == OUTPUT_KIND::kRefused) return cannot_write(path, why);
    if (kind == OUTPUT_KIND::kStandard && isatty(STDOUT_FILENO)) {
      std::fputs("tonebrook: standard output is a terminal: send it to a file or a pipe "
                 "(> out.wav, | aplay)\n",
                 stderr);
      return kExitUsage;
    }
  }
  return -1;
}

// The tune in FILE, read and compiled as the player does it, rendered from
// a reset at --rate for --seconds.
int prepare_tune(const COMMAND_LINE& req, RENDER_JOB* job) {
  std::string text, error;
  bool cut = false;
  if (!tune_read(req.tune_file, &text, &cut, &error)) {
    std::fprintf(stderr, "tonebrook: cannot read '%s': %s\n", kel_escape_name(req.tune_file).c_str(), error.c_str());
    return kExitFailed;
  }
  if (cut)
    std::fprintf(stderr, "tonebrook: only the first %zu bytes of '%s' are used, as the player uses them\n",
                 kTuneTextLimit, kel_escape_name(req.tune_file).c_str());
  unsigned tune_rate = 0;
  const char* compiled = tune_compile(text.c_str(), req.tune_file, &tune_rate);
  if (!compiled) return kExitFailed;
  job->rate = req.rate;
  job->frames = req.frames;
  // The spectrogram shows what the tune itself holds: up to half its own
  // rate (above that lie only the images of the held samples).
  job->top_hz = std::min(static_cast<double>(req.rate), static_cast<double>(tune_rate)) / 2.0;
  job->render = [url = std::string(compiled), tune_rate, rate = req.rate, frames = req.frames](const RENDER_SINK& sink) {
    return render_tune(url.c_str(), static_cast<float>(tune_rate), rate, frames, sink);
  };
  return kExitDone;
}

int run_render(const COMMAND_LINE& req) {
  if (const int refused = check_outputs(req); refused >= 0) return refused;
  RENDER_JOB job;
  if (const int status = req.replay_path ? replay_prepare(req, &job) : prepare_tune(req, &job); status != kExitDone)
    return status;
  const bool want_wav = req.render_path != nullptr;
  const bool want_png = req.picture_path != nullptr;
  // Opening a FIFO waits for its reader; an interrupt ends the wait.
  WavWriter wav;
  if (want_wav && !wav.open(req.render_path, job.rate, job.frames))
    return tonebrook_caught_signal() ? interrupted(req) : cannot_write(req.render_path, wav.error());
  OutputFile png;
  if (want_png && !png.open(req.picture_path))
    return tonebrook_caught_signal() ? interrupted(req) : cannot_write(req.picture_path, png.error());
  std::unique_ptr<SoundPicture> picture;
  if (want_png) picture = std::make_unique<SoundPicture>(job.rate, job.frames, job.top_hz);

  RenderProgress progress(stderr, job.frames, job.rate);
  progress.update(0);
  uint64_t done = 0;
  bool write_failed = false;
  const uint64_t got = job.render([&](const int16_t* stereo, std::size_t frames) {
    if (tonebrook_caught_signal()) return false;
    if (want_wav && !wav.write(stereo, frames)) {
      write_failed = true;
      return false;
    }
    if (picture) picture->add(stereo, frames);
    done += frames;
    progress.update(done);
    return true;
  });
  progress.finish(got);
  // A reader that went away (SIGPIPE) is a failed write; any other signal
  // is an interruption, whatever write it cut short.
  const int sig = tonebrook_caught_signal();
  if (sig != 0 && sig != SIGPIPE) return interrupted(req);
  if (write_failed) return cannot_write(req.render_path, wav.error());
  if (got < job.frames) return interrupted(req);

  if (picture) {
    const PICTURE_IMAGE image = picture->draw();
    std::string why;
    if (!picture_write_png(png.get(), image, &why)) {
      png.fail(why);
      return cannot_write(req.picture_path, png.error());
    }
  }
  // Both files are whole before either takes its place.
  if (want_wav && !wav.commit()) return cannot_write(req.render_path, wav.error());
  if (want_png && !png.commit()) return cannot_write(req.picture_path, png.error());
  return kExitDone;
}

int run_tools(const COMMAND_LINE& line) {
  tonebrook_catch_signals(SIGNAL_USE::kTool);
  LogToStandardError log_aside;
  if (line.url_file) return share_url(line.url_file, stdout);
  if (line.text_url) return share_text(line.text_url, stdout);
  return run_render(line);
}

// The checks that concern the tools' options together.
bool check_tools(const COMMAND_LINE& line, std::span<const bool> given, std::string* error) {
  const bool rendering = line.render_path || line.picture_path;
  const bool sharing = line.url_file || line.text_url;
  if (sharing) {
    if (rendering || given[kSecondsRow] || given[kRateRow] || line.tune_file || line.replay_path ||
        (line.url_file && line.text_url))
      return refuse(error, "--url and --text go alone: tonebrook --url FILE, tonebrook --text URL");
    return true;
  }
  if (!rendering) return refuse(error, "--seconds, --rate and --replay go with --render or --picture");
  if (line.replay_path) {
    if (line.tune_file) return refuse(error, "--replay renders a performance, not a tune file: leave FILE out");
    if (given[kRateRow]) return refuse(error, "--replay renders at the rate of the recording: leave --rate out");
    return true;
  }
  if (!line.tune_file) return refuse(error, "which tune? the tune file comes last");
  if (line.render_path && line.picture_path && std::strcmp(line.render_path, line.picture_path) == 0)
    return refuse(error, "--render and --picture need two different files");
  return true;
}

// What a file named on the command line is, to tell whether two names are
// one file: its device and inode where it exists, its resolved path (the
// folder's real path and the name) where it does not.
struct FILE_IDENTITY {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  bool character_device = false;
  std::string resolved;
};

FILE_IDENTITY identity_of_descriptor(int fd) {
  FILE_IDENTITY id;
  struct stat st {};
  if (fstat(fd, &st) == 0) {
    id.exists = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.character_device = S_ISCHR(st.st_mode);
  }
  return id;
}

FILE_IDENTITY identity_of(const std::string& path) {
  FILE_IDENTITY id;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    id.exists = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.character_device = S_ISCHR(st.st_mode);
    return id;
  }
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::unique_ptr<char, decltype(&std::free)> real(realpath(folder.c_str(), nullptr), &std::free);
  id.resolved = real ? std::string(real.get()) + "/" + name : path;
  return id;
}

bool same_file(const FILE_IDENTITY& a, const FILE_IDENTITY& b) {
  if (a.exists != b.exists) return false;
  return a.exists ? a.device == b.device && a.inode == b.inode : a.resolved == b.resolved;
}

// An output that is also an input or the other output, or one written
// straight into the file that standard error (the messages) goes to, would
// be written over or mixed: refused before anything is written. A
// character device (such as /dev/null) may take both.
bool check_distinct_files(const COMMAND_LINE& line, std::string* error) {
  struct Named {
    const char* option;
    const char* path;
    FILE_IDENTITY id;
  };
  std::vector<Named> outputs;
  for (const auto& [option, path] : {std::pair{"--render", line.render_path}, {"--picture", line.picture_path}})
    if (path)
      outputs.push_back({option, path, std::string_view(path) == "-" ? identity_of_descriptor(STDOUT_FILENO)
                                                                       : identity_of(path)});
  auto quoted = [](const char* path) { return "'" + kel_escape_name(path) + "'"; };
  if (outputs.size() == 2 && same_file(outputs[0].id, outputs[1].id))
    return refuse(error, "--render and --picture name the same file (" + quoted(outputs[0].path) + " and " +
                             quoted(outputs[1].path) + ")");
  const FILE_IDENTITY messages = identity_of_descriptor(STDERR_FILENO);
  for (const Named& out : outputs) {
    if (line.tune_file && same_file(out.id, identity_of(line.tune_file)))
      return refuse(error, std::string(out.option) + " " + quoted(out.path) + " is the tune file " +
                               quoted(line.tune_file) + " itself");
    const bool through = output_kind(out.path, nullptr) != OUTPUT_KIND::kReplace;
    if (through && !out.id.character_device && same_file(out.id, messages))
      return refuse(error, std::string(out.option) + " " + quoted(out.path) +
                               " is where standard error goes, and the messages would mix into it");
  }
  return true;
}

// The frames that --seconds asks for at the rendering's rate, as long as a
// WAV file holds them.
bool count_frames(COMMAND_LINE* line, std::string* error) {
  const double frames = std::round(line->seconds * line->rate);
  char why[160];
  if (frames < 1) {
    std::snprintf(why, sizeof why, "--seconds %g is less than one sample at %u Hz", line->seconds, line->rate);
    return refuse(error, why);
  }
  if (frames > static_cast<double>(kWavMaxFrames)) {
    std::snprintf(why, sizeof why, "%g seconds at %u Hz do not fit in a WAV file (%.0f seconds at most)",
                  line->seconds, line->rate, std::floor(static_cast<double>(kWavMaxFrames) / line->rate));
    return refuse(error, why);
  }
  line->frames = static_cast<uint64_t>(frames);
  return true;
}

}  // namespace

std::span<const OPTION> tonebrook_options() { return kOptions; }

long tonebrook_parse_rate(const char* text) {
  if (text == nullptr || *text == '\0') return -1;
  long value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return -1;
    value = value * 10 + (*p - '0');
    if (value > static_cast<long>(kHighestRate)) return -1;
  }
  return value;
}

bool tonebrook_parse_command_line(int argc, char** argv, COMMAND_LINE* out, std::string* error) {
  COMMAND_LINE line;
  std::array<bool, kOptions.size()> given{};
  const OPTION* tool = nullptr;    // the first of the tools' options given
  const OPTION* player = nullptr;  // the first of the live player's
  // The arguments that are not options: FILE, then the player's RATE.
  std::array<const char*, 2> plain{};
  std::size_t plain_count = 0;
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!options_ended && arg == "--") {
      options_ended = true;
      continue;
    }
    // The player's RATE may be written with a sign ("-1"): that is a rate
    // it does not take, which it says and plays on, not an option.
    const bool signed_rate = plain_count == 1 && arg.size() >= 2 && arg[0] == '-' && all_digits(arg.substr(1));
    if (options_ended || arg.size() < 2 || arg[0] != '-' || signed_rate) {
      if (plain_count < plain.size()) plain[plain_count] = argv[i];
      ++plain_count;
      continue;
    }
    const OPTION* option = find_option(arg);
    if (option == nullptr) return refuse(error, "unknown option '" + kel_escape(arg, KEL_ESCAPE::kName) + "'");
    const std::string name(option->name);
    bool& was_given = given[static_cast<std::size_t>(option - kOptions.data())];
    if (was_given) return refuse(error, name + " is given twice");
    was_given = true;
    const char* value = nullptr;
    if (!option->value.empty()) {
      if (i + 1 >= argc) return refuse(error, name + " needs a value: " + name + " " + std::string(option->value));
      value = argv[++i];
      if (*value == '\0') return refuse(error, name + " " + std::string(option->value) + ": the argument is empty");
    }
    if (!option->set(&line, value, error)) return false;
    switch (option->use) {
      case OPTION_USE::kAlone:
        *out = line;
        return true;
      case OPTION_USE::kTool:
        if (!tool) tool = option;
        break;
      case OPTION_USE::kPlayer:
        if (!player) player = option;
        break;
    }
  }

  line.tune_file = plain[0];
  if (line.tune_file && *line.tune_file == '\0') return refuse(error, "the tune file's name is empty");
  if (tool) {
    if (player)
      return refuse(error, std::string(player->name) + " goes with the live player, not with " +
                               std::string(tool->name));
    if (plain_count > 1)
      return refuse(error, "one tune file at a time ('" + kel_escape_name(plain[0]) + "' and '" +
                               kel_escape_name(plain[1]) + "')");
    line.command = COMMAND::kTool;
    if (!check_tools(line, given, error)) return false;
    if ((line.render_path || line.picture_path) && !line.replay_path) {
      if (!count_frames(&line, error)) return false;
    }
  } else if (plain_count > 1) {
    // RATE: a rate that is not one the player takes is said by the player,
    // which plays on at the default rate.
    const long rate = tonebrook_parse_rate(plain[1]);
    if (rate != 0 && rate < static_cast<long>(kLowestRate))
      line.rate_refused = plain[1];
    else if (rate != 0)
      line.rate = static_cast<unsigned>(rate);
  }
  *out = line;
  return true;
}

int tonebrook_early_exit(int argc, char** argv) {
  COMMAND_LINE line;
  std::string error;
  const auto usage_error = [&] {
    std::fprintf(stderr, "tonebrook: %s\n%s(tonebrook --help lists the options)\n", error.c_str(),
                 usage_text().c_str());
    return kExitUsage;
  };
  if (!tonebrook_parse_command_line(argc, argv, &line, &error)) return usage_error();
  switch (line.command) {
    case COMMAND::kHelp:
      tonebrook_print_help(stdout);
      return kExitDone;
    case COMMAND::kVersion:
      std::fputs("tonebrook " TONEBROOK_VERSION "\n", stdout);
      return kExitDone;
    case COMMAND::kTool:
      if (!check_distinct_files(line, &error)) return usage_error();
      // Rendering, the picture and the share text run to the end here.
      return run_tools(line);
    case COMMAND::kPlayer:
      break;
  }
  if (line.tune_file == nullptr) std::fputs(usage_text().c_str(), stderr);
  // --quiet holds from the runtime's first line on.
  kel_log_set_quiet(line.quiet);
  return -1;
}

void tonebrook_print_help(std::FILE* out) { std::fputs(help_text().c_str(), out); }

int tonebrook_close_standard_output(int status) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  int why = errno;
  errno = 0;
  const bool closed = std::fclose(stdout) == 0;
  if (flushed && !closed) why = errno;
  if ((flushed && closed) || status != kExitDone) return status;
  std::fprintf(stderr, "tonebrook: cannot write standard output: %s\n", std::strerror(why != 0 ? why : EIO));
  return kExitFailed;
}
