// Tunes as text to keep and share: reading a tune file the way the live
// player reads it, compiling it with the player's messages, and the two
// forms a tune travels in (its URL text, and the readable listing of URL
// text, which is a tune file again).
//
// Threads: main thread only (the engine's encoder and listing keep one
// buffer each).
#pragma once

#include <cstdio>
#include <string>

// The live player reads this much of a tune file.
constexpr std::size_t kTuneTextLimit = 1023;

// Reads the first kTuneTextLimit bytes of the tune file at `path` into
// `text` (a NUL in the file ends the text there, as it does in the player),
// and sets `*cut` when the file holds more. Returns false, with the reason
// in `error`, when the file cannot be read.
bool tune_read(const char* path, std::string* text, bool* cut, std::string* error);

// Whether the tune file at `path` holds a C formula: its name ends in ".c".
// Every other file holds program text.
bool tune_is_c(const char* path);

// Compiles tune text as the live player does, for the player and the tools
// alike: a UTF-8 byte-order mark at its start is skipped, then a C formula
// (tune_is_c) goes through skreel_compile_c and program text through
// skreel_encode; the rate of `t` is what a comment names ("rate: N"),
// 8000 when none does. On a token that is not understood the encoder's
// "?UNKNOWN SYMBOL" line is followed by one that says where the token
// stands: "at line L, column C of '<path>'" (a null path prints as ''); a
// formula that is refused gets the compiler's message and the same place,
// "expected ')' at line 1, column 12 of '<path>'", and a refused rate its
// own. Program text that compiles gets a warning line for a comment that is
// never closed and for each run of numbers that follow each other (and so
// run together), with their places (tune_check.h); a token that is not
// understood after a comment that ended early gets a line saying that
// comments end at the first ')'. A program text of more than 256
// instructions gets a line saying that only the first 256 play. Returns the URL text (a buffer of this module's
// or the encoder's, valid until the next compilation), with the rate in
// `*rate` when `rate` is not null, or null.
const char* tune_compile(const char* text, const char* path, unsigned* rate);
// The last tune_compile's error as one line without the file's name: the
// encoder's message with the place ("?UNKNOWN SYMBOL: 'frob' at line 2,
// column 7"), the compiler's ("expected ')' at line 1, column 12"), or the
// rate comment's. Empty when the last compilation succeeded, or before any.
// Valid until the next compilation.
const char* tune_compile_error();

// `tonebrook --url FILE`: writes the tune's URL text and a newline to
// `out`. Returns the exit status: 0, or 1 (with a message on standard
// error, or the encoder's) when the file cannot be read or does not
// compile. Whether `out` took the text is the caller's to check.
int share_url(const char* path, std::FILE* out);

// `tonebrook --text URL`: writes the readable listing of `url` and a
// newline to `out`, with "NOP" between numbers that follow each other so
// that the text compiles back to the same URL text. The listing is a tune
// file: it holds the instructions that play (the first 256) as far as they
// fit in the kTuneTextLimit bytes the player reads, and says so on
// standard error when that is not the whole program. Returns the exit
// status: 0, or 1 with a message on standard error when the text holds no
// tune that has a listing. Whether `out` took the text is the caller's to
// check.
int share_text(const char* url, std::FILE* out);
