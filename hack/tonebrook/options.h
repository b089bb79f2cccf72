// tonebrook's command line: one table of options, from which the parser
// reads every argument and --help writes its list, and the tools that some
// of those options make of tonebrook. A command line is the live player's
// (`tonebrook FILE [RATE]`) unless it names one of the tools' options
// (--render, --picture, --url, --text and their companions); --help and
// --version end the program wherever they stand. An argument that starts
// with '-' and is not in the table is a usage error, except "-" alone
// (an ordinary argument); after "--" every argument is an ordinary one, so
// a tune file whose name starts with '-' can still be named.
//
// The tools run to the end without the runtime, a sound device or a video
// driver, and say what went wrong through the exit status:
//   0  done;
//   1  the tune does not compile, or a file cannot be read or written;
//   2  the command line is wrong.
// While they run, the engine's own messages (and the encoder's echo) go to
// standard error, so that standard output carries only the result.
//
// Threads: main thread only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

// Exit statuses of the tools, and of a wrong command line.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The sample rates the player and its tools take, in Hz, and the one they
// use when none is given.
inline constexpr unsigned TONEBROOK_LOWEST_RATE = 8000;
inline constexpr unsigned TONEBROOK_HIGHEST_RATE = 192000;
inline constexpr unsigned TONEBROOK_DEFAULT_RATE = 44100;

// What a whole command line asks for.
enum class COMMAND {
  kPlayer,   // the live player: tonebrook [OPTIONS] FILE [RATE]
  kTool,     // one of the tools, which does one thing and exits
  kHelp,     // --help, -h
  kVersion,  // --version
};

// A command line as read. The strings point into the argv that was read
// (they live as long as it does); null means not given.
struct COMMAND_LINE {
  COMMAND command = COMMAND::kPlayer;
  const char* tune_file = nullptr;  // FILE, of the player and of the tools
  unsigned rate = TONEBROOK_DEFAULT_RATE;  // the device's (RATE) or the rendering's (--rate R)
  // The live player's RATE when it is not a rate it takes: the player says
  // so and opens the device at the default rate. Null otherwise.
  const char* rate_refused = nullptr;

  // The live player's.
  bool keep = false;     // --keep: a save that does not compile leaves the tune that plays
  bool instant = false;  // --instant: a save is looked at when the kernel tells of it
  bool quiet = false;    // --quiet: only what a musician needs is printed
  float volume = 1.0f;   // --volume V, 0 to 1
  bool scope = false;    // --scope: the window that shows the sound
  const char* record_path = nullptr;  // --record REC.wav

  // The tools'.
  const char* render_path = nullptr;   // --render OUT.wav
  const char* picture_path = nullptr;  // --picture OUT.png
  const char* url_file = nullptr;      // --url FILE
  const char* text_url = nullptr;      // --text URL
  const char* replay_path = nullptr;   // --replay EDITS
  double seconds = 30.0;               // --seconds N
  bool seconds_given = false;          // whether --seconds was given
  uint64_t frames = 0;                 // seconds at rate, rounded (with --replay, 0: its rate is the recording's)
};

// Which command line an option belongs to.
enum class OPTION_USE {
  kAlone,   // ends the program at once, whatever else is given
  kPlayer,  // goes with the live player only
  kTool,    // makes the command line a tool's
};

// One row of the table. Adding an option is adding a row: the parser, the
// usage lines of the live player and --help read it from here (the tools'
// forms of the command line are written out in options.cpp, since they say
// which options go together). The README's and the manual page's option
// lists are checked against the table.
struct OPTION {
  std::string_view name;   // "--render"
  std::string_view alias;  // a short form ("-h"), or empty
  std::string_view value;  // the value's name in the help ("OUT.wav"); empty for a flag
  OPTION_USE use;
  std::string_view help;   // the help's description, lines apart by '\n'
  // What it sets: stores `value` (null for a flag) in `line`. Returns false
  // with the reason in `error` when the value is not one the option takes.
  // An empty value is refused before this is called.
  bool (*set)(COMMAND_LINE* line, const char* value, std::string* error);
};

// The table, in the order --help lists it. Static storage.
std::span<const OPTION> tonebrook_options();

// Reads a command line (argv[0] is the program's name). Returns true with
// `line` filled in, or false with the reason in `error` (a usage error).
// Pure: prints nothing. Reads the player's RATE as the player takes it: a
// RATE that is not a rate from TONEBROOK_LOWEST_RATE to
// TONEBROOK_HIGHEST_RATE in decimal digits (or "0") is no usage error, it
// sets `rate_refused`; arguments after RATE are ignored.
bool tonebrook_parse_command_line(int argc, char** argv, COMMAND_LINE* line, std::string* error);

// Reads a rate argument: decimal digits only, no sign, no wrap-round.
// Returns the rate, 0 for "0" (the default), or -1 for anything else, a
// number above TONEBROOK_HIGHEST_RATE included. `text` may be null (-1).
long tonebrook_parse_rate(const char* text);

// Handles the command lines that end the program before the runtime
// starts: a usage error (the reason and the usage on standard error,
// returns 2), --help and --version (on standard output, returns 0), and
// the tools (runs them and returns their exit status). Before a tool runs,
// the files it names are compared: an output that is the tune file or the
// other output (the same device and inode where they exist, the same
// resolved path where they do not), or one written straight into where
// standard error goes, is a usage error. The tools catch the signals that
// end them (tonebrook_catch_signals) and stop at the first. Returns -1 for the
// live player's command line, after printing the usage on standard error
// when it names no FILE (the player then runs without a tune), with the
// log made quiet (kel_log_set_quiet) when it asks for --quiet, so that the
// runtime's start-up lines are left out too.
int tonebrook_early_exit(int argc, char** argv);

// Writes the whole help: the usage, then every option of the table.
void tonebrook_print_help(std::FILE* out);

// Ends the use of standard output after the last write of a command line
// that tonebrook_early_exit handled: flushes and closes it. A write that
// failed there (a full disk, a closed descriptor, a reader gone) makes a
// `status` of 0 a failure: "tonebrook: cannot write standard output:
// <reason>" on standard error, and 1 is returned. Any other status (whose
// failure was said already) is returned as it is. Call it once, at exit.
int tonebrook_close_standard_output(int status);
