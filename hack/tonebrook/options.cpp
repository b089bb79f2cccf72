#include "hack/tonebrook/options.h"

#include <signal.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "framework/core/log.h"
#include "hack/tonebrook/out_file.h"
#include "hack/tonebrook/picture.h"
#include "hack/tonebrook/render.h"
#include "hack/tonebrook/share.h"
#include "hack/tonebrook/tonebrook.h"
#include "keltoolkit/skreelplayer/skreel.h"

namespace {

constexpr unsigned kLowestRate = TONEBROOK_LOWEST_RATE;
constexpr unsigned kHighestRate = TONEBROOK_HIGHEST_RATE;

constexpr const char* kHelp =
    "usage: tonebrook FILE [RATE]\n"
    "       tonebrook --render OUT.wav [--picture OUT.png] [--seconds N] [--rate R] FILE\n"
    "       tonebrook --picture OUT.png [--seconds N] [--rate R] FILE\n"
    "       tonebrook --url FILE\n"
    "       tonebrook --text URL\n"
    "       tonebrook --help | -h\n"
    "       tonebrook --version\n"
    "Plays the bytebeat tune in FILE and plays it anew whenever FILE is saved.\n"
    "RATE is the sound device's sample rate in Hz (default 44100).\n"
    "\n"
    "Options:\n"
    "  --render OUT.wav   write N seconds of the tune to OUT.wav, 16-bit stereo PCM,\n"
    "                     sample for sample as the player plays it, at once\n"
    "  --picture OUT.png  draw the first N seconds: envelope above spectrogram\n"
    "  --seconds N        how much to render or draw, in seconds (default 30)\n"
    "  --rate R           the rendering's sample rate in Hz, 8000 to 192000\n"
    "                     (default 44100)\n"
    "  --url FILE         print the tune's URL text (compiled!...)\n"
    "  --text URL         print the readable listing of URL text: a tune file\n"
    "  -h, --help         print this help\n"
    "  --version          print the version\n"
    "\n"
    "Exit status: 0 done; 1 the tune does not compile, a file cannot be read or\n"
    "written, or the rendering was interrupted; 2 the command line is wrong.\n";

constexpr std::array<std::string_view, 6> kToolOptions = {"--render", "--picture", "--seconds",
                                                          "--rate",   "--url",     "--text"};

// Seconds: a finite number above 0, written with digits and perhaps a
// point and an exponent, and nothing before or after it.
bool parse_seconds(const char* s, double* out) {
  if (!((*s >= '0' && *s <= '9') || *s == '.')) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(s, &end);
  if (*end != '\0' || errno != 0 || !std::isfinite(v) || !(v > 0)) return false;
  *out = v;
  return true;
}

// A rate: decimal digits only, within the range the player takes.
bool parse_rate(const char* s, unsigned* out) {
  const long v = tonebrook_parse_rate(s);
  if (v < static_cast<long>(kLowestRate)) return false;
  *out = static_cast<unsigned>(v);
  return true;
}

// Sets `error` and gives false.
bool refuse(std::string* error, const std::string& why) {
  *error = why;
  return false;
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

// An interrupt or a termination request stops a rendering, which then
// removes what it wrote; the previous handlers come back afterwards.
volatile sig_atomic_t stop_requested = 0;

void request_stop(int) { stop_requested = 1; }

class StopOnSignals {
 public:
  StopOnSignals() {
    stop_requested = 0;
    struct sigaction act {};
    act.sa_handler = request_stop;
    sigemptyset(&act.sa_mask);
    sigaction(SIGINT, &act, &old_int_);
    sigaction(SIGTERM, &act, &old_term_);
  }
  ~StopOnSignals() {
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
  }
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

 private:
  struct sigaction old_int_ {};
  struct sigaction old_term_ {};
};

int cannot_write(const std::string& path, const std::string& why) {
  std::fprintf(stderr, "tonebrook: cannot write '%s': %s\n", path.c_str(), why.c_str());
  return kExitFailed;
}

int run_render(const TOOL_REQUEST& req) {
  std::string text, error;
  bool cut = false;
  if (!tune_read(req.tune_file.c_str(), &text, &cut, &error)) {
    std::fprintf(stderr, "tonebrook: cannot read '%s': %s\n", req.tune_file.c_str(), error.c_str());
    return kExitFailed;
  }
  if (cut)
    std::fprintf(stderr, "tonebrook: only the first %zu bytes of '%s' are used, as the player uses them\n",
                 kTuneTextLimit, req.tune_file.c_str());
  const char* compiled = tune_compile(text.c_str(), req.tune_file.c_str());
  if (!compiled) return kExitFailed;
  const std::string url = compiled;

  const bool want_wav = !req.render_path.empty();
  const bool want_png = !req.picture_path.empty();
  WavWriter wav;
  if (want_wav && !wav.open(req.render_path, req.rate)) return cannot_write(req.render_path, wav.error());
  ReplacingFile png;
  if (want_png && !png.open(req.picture_path)) return cannot_write(req.picture_path, png.error());

  // The spectrogram shows what the tune itself holds: up to half its own
  // rate (above that lie only the images of the held samples).
  skreel_reset();
  const double top_hz = std::min(static_cast<double>(req.rate), static_cast<double>(skreel_rate())) / 2.0;
  std::unique_ptr<SoundPicture> picture;
  if (want_png) picture = std::make_unique<SoundPicture>(req.rate, req.frames, top_hz);

  StopOnSignals stop;
  RenderProgress progress(stderr, req.frames, req.rate);
  progress.update(0);
  uint64_t done = 0;
  bool write_failed = false;
  const uint64_t got = render_tune(url.c_str(), req.rate, req.frames, [&](const int16_t* stereo, std::size_t frames) {
    if (stop_requested) return false;
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
  if (write_failed) return cannot_write(req.render_path, wav.error());
  if (got < req.frames) {
    std::fputs("tonebrook: interrupted; no file was written or replaced\n", stderr);
    return kExitFailed;
  }

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

}  // namespace

bool tonebrook_is_tool_option(const char* arg) {
  if (!arg) return false;
  for (std::string_view name : kToolOptions)
    if (name == arg) return true;
  return false;
}

bool tonebrook_parse_tools(int argc, char** argv, TOOL_REQUEST* request, std::string* error) {
  TOOL_REQUEST req;
  bool seen_seconds = false, seen_rate = false, only_files = false;
  std::array<bool, kToolOptions.size()> seen{};
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (only_files || arg.empty() || arg[0] != '-' || arg == "-") {
      if (!req.tune_file.empty()) return refuse(error, "one tune file at a time ('" + req.tune_file + "' and '" +
                                                           std::string(arg) + "')");
      req.tune_file = std::string(arg);
      continue;
    }
    if (arg == "--") {
      only_files = true;
      continue;
    }
    std::size_t which = kToolOptions.size();
    for (std::size_t k = 0; k < kToolOptions.size(); ++k)
      if (kToolOptions[k] == arg) which = k;
    if (which == kToolOptions.size()) return refuse(error, "unknown option '" + std::string(arg) + "'");
    if (seen[which]) return refuse(error, std::string(arg) + " is given twice");
    seen[which] = true;
    if (i + 1 >= argc) return refuse(error, std::string(arg) + " needs a value");
    const char* value = argv[++i];
    if (arg == "--render") {
      req.render_path = value;
    } else if (arg == "--picture") {
      req.picture_path = value;
    } else if (arg == "--url") {
      req.url_file = value;
    } else if (arg == "--text") {
      req.text_url = value;
    } else if (arg == "--seconds") {
      seen_seconds = true;
      if (!parse_seconds(value, &req.seconds))
        return refuse(error, std::string("--seconds wants a number of seconds above 0, not '") + value + "'");
    } else {
      seen_rate = true;
      if (!parse_rate(value, &req.rate))
        return refuse(error, "--rate wants a whole number of Hz from " + std::to_string(kLowestRate) + " to " +
                                 std::to_string(kHighestRate) + ", not '" + value + "'");
    }
  }

  const bool rendering = !req.render_path.empty() || !req.picture_path.empty();
  const bool sharing = !req.url_file.empty() || !req.text_url.empty();
  if (sharing) {
    if (rendering || seen_seconds || seen_rate || !req.tune_file.empty() ||
        (!req.url_file.empty() && !req.text_url.empty()))
      return refuse(error, "--url and --text go alone: tonebrook --url FILE, tonebrook --text URL");
  } else if (!rendering) {
    return refuse(error, "--seconds and --rate go with --render or --picture");
  } else {
    if (req.tune_file.empty()) return refuse(error, "which tune? the tune file comes last");
    if (req.render_path == req.picture_path) return refuse(error, "--render and --picture need two different files");
    const double frames = std::round(req.seconds * req.rate);
    char why[160];
    if (frames < 1) {
      std::snprintf(why, sizeof why, "--seconds %g is less than one sample at %u Hz", req.seconds, req.rate);
      return refuse(error, why);
    }
    if (frames > static_cast<double>(kWavMaxFrames)) {
      std::snprintf(why, sizeof why, "%g seconds at %u Hz do not fit in a WAV file (%.0f seconds at most)",
                    req.seconds, req.rate, std::floor(static_cast<double>(kWavMaxFrames) / req.rate));
      return refuse(error, why);
    }
    req.frames = static_cast<uint64_t>(frames);
  }
  *request = std::move(req);
  return true;
}

int tonebrook_run_tools(int argc, char** argv) {
  if (argc < 2 || !tonebrook_is_tool_option(argv[1])) return -1;
  TOOL_REQUEST req;
  std::string error;
  if (!tonebrook_parse_tools(argc, argv, &req, &error)) {
    std::fprintf(stderr, "tonebrook: %s\n(tonebrook --help lists the options)\n", error.c_str());
    return kExitUsage;
  }
  LogToStandardError log_aside;
  if (!req.url_file.empty()) return share_url(req.url_file.c_str(), stdout);
  if (!req.text_url.empty()) return share_text(req.text_url.c_str(), stdout);
  return run_render(req);
}

void tonebrook_print_help(std::FILE* out) { std::fputs(kHelp, out); }
