// tune_check: what program text means that its compiled form does not
// show. The encoder reads a comment that is never closed as running to the
// end of the text, ends a comment at its first ')' (comments do not nest),
// and writes numbers that follow each other one after the other, so that
// they read back as one number ("1 2" is 0x12). These read the text as the
// encoder does (tokens of at most 15 characters, white space as the C
// library's) and say where such a thing stands.
//
// Threads: main thread only (the messages go through the log).
#pragma once

// Line and column (both from 1, columns in bytes) of byte `offset` of `text`.
struct TUNE_PLACE {
  int line;
  int column;
};
TUNE_PLACE tune_place(const char* text, int offset);

// Logs a warning line for what `text` means that its compiled form does not
// show, each with its place in the file at `path`, and returns how many:
//   a comment that no ')' closes, which the encoder reads to the end of the
//   text ("warning: this '(' opens a comment that no ')' closes, so the
//   rest of the text is left out, at line 2, column 5 of 'tune.txt'");
//   each run of numbers that follow each other (comments between them
//   change nothing), naming them as written, the number they make together
//   and the place of the first ("warning: '1' '2' run together into one
//   number, 0x12, at line 3, column 1 of 'tune.txt': put NOP between
//   them"); a run of more than four names its first four and "...".
// Bytes outside printable ASCII are written "\xNN". A null text has none.
int tune_warn(const char* text, const char* path);

// Whether a comment seems to have ended at an earlier ')' than its writer
// meant, for the token at byte `offset` of `text` that the encoder did not
// know: the token holds a ')', or a comment before it holds a '(' of its
// own (the writer meant to nest).
bool tune_comment_ended_early(const char* text, int offset);
