// Bytes of outside origin made safe to repeat back on a terminal.
//
// Tune text, file names and command-line arguments come from files and
// people the program does not control. Repeated back raw, a control
// character among them could retitle, clear or recolour the terminal, and
// a new line in a file name could forge a line of the log. kel_escape
// writes every such byte as "\xNN" (a backslash, 'x' and two lower-case
// hexadecimal digits) and keeps every other byte as it is.
//
// The controls are the C0 controls (0x00 to 0x1F), DEL (0x7F) and the C1
// controls, as raw bytes 0x80 to 0x9F and in their UTF-8 form (U+0080 to
// U+009F, the bytes C2 80 to C2 9F, both bytes escaped). A byte from 0x80
// to 0x9F inside a well-formed UTF-8 sequence of another character (the
// second byte of "Ā", C4 80) is part of that character and stays.
//
// Threads: any; pure.
#pragma once

#include <string>
#include <string_view>

// Which bytes a form of repeating back escapes.
enum class KEL_ESCAPE {
  // Text echoed as it stands, line by line: every control is escaped but
  // new line, tab and NUL, which stay as they are.
  kEcho,
  // A name or an argument quoted inside one line of a message: every
  // control is escaped, new line and tab included.
  kName,
  // Every byte outside printable ASCII (0x20 to 0x7E) is escaped, so that
  // a byte-order mark or a no-break space inside a token is visible.
  kAscii,
};

// `bytes` (NUL bytes included) with the bytes that `form` escapes written
// as "\xNN". Returns a new string.
std::string kel_escape(std::string_view bytes, KEL_ESCAPE form);

// kel_escape(text, KEL_ESCAPE::kName) for a NUL-terminated text; a null
// `text` gives "(null)".
std::string kel_escape_name(const char* text);
