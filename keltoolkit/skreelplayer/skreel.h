// skreel: the bytebeat engine.
//
// A tune is a short postfix program for a stack machine. The machine runs it
// once for every step of a time counter `t`; the low 8 bits of what it leaves
// on top of the stack are one sample. This module is the engine's face: the
// decoder of the compact URL text that carries tunes, the player with the
// audio callback that plays the current tune, and the encoder that turns
// readable program text into URL text (with its reverse, the listing). The
// program model and opcode table (skreel_model.h) and the stack machine
// (machine/machine.h) are reached through it.
//
// Threads: skreel_reset, skreel_play_url, the encoder and the listing run on
// the main thread; skreelplayer_callback runs on the audio thread and is the
// only writer of the program being played. The hand-over between the two is
// a pair of atomic text pointers (see skreel_play_url). The decoder runs on
// either (the callback decodes on the audio thread); it allocates nothing
// and logs through the log, which defers the audio thread's lines.
#pragma once

#include <cstdint>

// The program model (records, the opcode list, op_map and op_table) and the
// stack machine that runs programs (skreel_do_t_func and the prepared
// programs), which the player uses. Both stand on their own: neither
// includes this header.
#include "keltoolkit/skreelplayer/machine/machine.h"
#include "keltoolkit/skreelplayer/skreel_model.h"

// ---------------------------------------------------------------------------
// URL text decoding
//
// URL text: an optional "skreel://" prefix (everything up to and including
// its first occurrence is skipped), a name of 0 to 16 letters, digits or '_'
// ('_' stands for a space), then '!' and the code: one letter per
// instruction, upper-case hexadecimal numbers for pushes, '!' and '.' as
// separators.

// Decodes `buf` into `code`. Returns the instruction count (0 to 256), -1 for
// a bad name, -2 when there is no code part (also for a null `buf`). `code`
// is left as it was after a bad name or a missing code part. Prints
// "DECODED '<name>' <n> opcodes" on success (after the log prefix).
int skreel_decode_url_to_array(const char* buf, SKREELCODEARRAY* code) noexcept;

// Decodes the name at the start of `buf` into `name` (at least 18 bytes; may
// be null to only check it). Returns its length (0 to 16), -1 for a character
// that is not allowed (or a null `buf`), -2 when 17 allowed characters come
// without an end.
int skreel_decode_name(const char* buf, char* name) noexcept;

// Decodes code text into at most `maxlen` instructions at `code`. Returns the
// number written, -1 when `buf` or `code` is null, 0 for an empty text. An
// unknown character ends the program there.
int skreel_decode_code_block(const char* buf, SKREELCODE* code, int maxlen) noexcept;

// Reads a run of hexadecimal digits (0-9, A-F) at `buf`, keeping the low 32
// bits. Returns the number of characters used; 0 when there is no digit
// (`number` is then not written).
int skreel_decode_number(const char* buf, uint32_t* number) noexcept;

// 0 for '.', 1 to 46 for the URL letter of an opcode, -1 otherwise.
int skreel_decode_opcode(char ch) noexcept;

// Just past the first "skreel://" in `buf`, or `buf` itself when there is none.
const char* skip_prefix(const char* buf) noexcept;

// ---------------------------------------------------------------------------
// Player

// Clears the player state (program, stack, memory, inputs, `t`), forgets any
// handed-over text and sets volume 1.0 and rate 8000.0. The audio filter, the
// record of the adopted text and the callback installation are kept. Call it
// while no tune is playing (at start-up).
void skreel_reset(void);

// Hands `url` to the audio side (held by pointer: keep the text alive and
// unchanged until the audio side has adopted it). A non-null `url` installs
// the callback; null removes it and forgets what the audio side adopted, so
// that the same address handed over next is taken as new. Returns 1 when the
// previously handed-over text had not yet been adopted, else 0.
int skreel_play_url(const char* url);

// What the audio side has taken: the text it adopted last (or is about to
// read), null before any. With skreel_url_handed_over this tells the main
// thread which texts it must leave unchanged: a text that is neither may be
// written again. Main thread.
const char* skreel_url_adopted(void);
// The text most recently handed over (null for none). Main thread.
const char* skreel_url_handed_over(void);

// Clears the callback's output filter (the held output value and the
// filter's memory), which neither skreel_reset nor a new tune touches, to
// what it is when the program starts. For an offline rendering that runs the
// callback itself: call it on the thread that runs the callback, never while
// a sound device runs it.
void skreel_reset_filter(void);

// The gain on the filtered output and the tune rate (steps of `t` per
// second). Stored whole; the callback reads them at the start of each
// buffer. Any thread.
void skreel_set_volume(float volume);
float skreel_rate(void);
void skreel_set_rate(float rate);

// The audio callback: adopts a newly handed-over text at the start of the
// buffer, then adds `stereo_sample_count` frames of the tune into `buffer`
// (wrapping 16-bit addition into both channels). The phase of `t` runs on
// from call to call (skreel_reset clears it), so `t` advances at the tune's
// rate exactly. `buffer` holds 2 * `stereo_sample_count` samples; with a
// null `buffer` or a count of 0 or less the call only adopts. Allocates
// nothing, takes no lock and never writes to standard output: its log
// lines (the decoder's) go through the log's deferred ring. Audio thread
// (or the one thread that runs it in place of a sound device).
void skreelplayer_callback(int16_t* buffer, int stereo_sample_count, int sample_rate) noexcept;

// ---------------------------------------------------------------------------
// Stack helpers

// The cell at index (sp - off) modulo 256.
VAL32 skreel_pick(const STACK* stack, VAL8 off) noexcept;
void push(STACK* stack, VAL32 value) noexcept;
VAL32 pop(STACK* stack) noexcept;

// ---------------------------------------------------------------------------
// Readable program text: encoding and listing

// Compiles readable program text into URL text "compiled!..." in the
// encoder's own 1024-byte buffer (the same address every call, overwritten by
// the next). Echoes the text it reads through the log (kel_log_write: to
// standard output unless kel_log_set_stream chose another) and prints
// "out: '<url>'". Returns null, with a message, for a token that is neither
// an op name nor a number, for URL text that would not fit in 1023
// characters, and for a null `text`. No byte of the text reaches standard
// output as a control character (C0, DEL, and the C1 controls raw or in
// UTF-8): the echo shows them as "\x1b" (kel_escape's echo form; its NULs
// stay NUL bytes), and a message that names a token shows every byte
// outside printable ASCII that way. A message starts on a line of its own.
// The messages are the log's notices; the echo and "out:" are informational
// and left out while the log is quiet (log.h).
const char* skreel_encode(const char* text);

// After a skreel_encode that returned null: the byte offset, from the start
// of the text given, of the token that caused the failure (0 for a null
// text). -1 after a call that succeeded or before any call.
int skreel_encode_error_offset(void);
// After a skreel_encode that returned null: its message as it was logged,
// without the log's prefix and the newline ("?UNKNOWN SYMBOL: 'frob'").
// Empty after a call that succeeded or before any call. Static storage,
// changed by the next call.
const char* skreel_encode_error(void);

// The readable listing of `url`'s program in the listing's own 1024-byte
// buffer, each element followed by one space. Numbers that follow each
// other run together when the listing is read back by skreel_encode (the
// player's --text keeps them apart). Null when the text does not
// decode, decodes to no instruction, holds an opcode without a table row,
// or when the listing would not fit in 1023 characters.
const char* skreel_decode_url_to_text(const char* url);

// Characters to skip for white space and one comment "( ... )"; 0 when no
// comment follows.
int skip_comments(const char* in);

// Characters up to and including the first `delimit`, or up to the end.
int scan_past_delimiter(const char* in, char delimit);

// Skips white space and reads one token of at most len - 1 characters into
// `out`, echoing the characters it examines through the log as one piece
// (control characters escaped, as for skreel_encode). Returns the
// characters consumed (white space and token), 0 at the end of the text.
int get_token(const char* in, char* out, unsigned len);

// The first table row whose name equals `token` ignoring case, or null.
const OP_INFO* op_lookup(const char* token);

// The first table row with `id`, or null.
const OP_INFO* op_lookup_id(int id);

// For a token that begins with "0x": scans the rest as hexadecimal into
// `val` and returns 1 on success; 0 otherwise.
int scan_hex_digit(const char* token, unsigned* val);

// Reads a token (one that is no op name) as the encoder reads a number:
// returns 1 with its value in `val`, 0 when the token is no number.
int skreel_token_number(const char* token, unsigned* val);
