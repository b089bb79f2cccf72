// The options that make tonebrook a tool rather than a player: rendering
// to WAV, the picture of the sound, and the tune's share text. They run to
// the end without the runtime, a sound device or a video driver, and say
// what went wrong through the exit status:
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
#include <string>

// Exit statuses of the tools.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// What the command line asks for.
struct TOOL_REQUEST {
  std::string render_path;   // --render OUT.wav
  std::string picture_path;  // --picture OUT.png
  std::string url_file;      // --url FILE
  std::string text_url;      // --text URL
  std::string tune_file;     // FILE, for --render and --picture
  double seconds = 30.0;     // --seconds N
  unsigned rate = 44100;     // --rate R
  uint64_t frames = 0;       // seconds at rate, rounded
};

// True when `arg` (argv[1]) is one of the tools' options, so that the
// command line is theirs and not the live player's.
bool tonebrook_is_tool_option(const char* arg);

// Reads a tools command line (argv[1] is one of their options). Returns
// true with `request` filled in, or false with the reason in `error`.
bool tonebrook_parse_tools(int argc, char** argv, TOOL_REQUEST* request, std::string* error);

// Runs what the command line asks for. Returns -1 when argv[1] is not one
// of the tools' options (the live player takes the command line), and the
// exit status otherwise.
int tonebrook_run_tools(int argc, char** argv);

// Writes the whole help: every form of the command line and every option.
void tonebrook_print_help(std::FILE* out);
