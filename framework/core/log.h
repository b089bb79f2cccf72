// The runtime's one logging helper.
//
// Every diagnostic line of the runtime and its modules goes to standard
// output behind the prefix "[kel <seconds>s (<ticks>)] ", where the seconds
// come from kel_seconds() with two decimals and the ticks from kel_ticks.
// Each call writes its whole line with a single write, so lines from the
// main thread and the audio thread never interleave within a line, and
// standard output is line-buffered so that a pipe or a file sees each line
// as soon as it is complete.
#pragma once

#include <cstdarg>

// Prefix, then the formatted text exactly as given (the caller ends it with
// "\n" when it wants a line).
void kel_log(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void kel_vlog(const char* fmt, va_list args) __attribute__((format(printf, 1, 0)));

// Prefix, the formatted text and a newline.
void kel_log_line(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Prefix and the trace line "line <line>: <what>".
void kel_log_trace(int line, const char* what);
