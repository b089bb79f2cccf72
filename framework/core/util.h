// Small helpers shared by the modules: the file closer and a hex dump.
//
// Threads: any; each helper touches only what it is given (hexdump writes
// to the log's stream, one write per line: the lines of two threads dumping
// at once may interleave, never the pieces of a line).
#pragma once

#include <cstdio>
#include <memory>

// A C stream that closes itself: UniqueFile f(std::fopen(path, "rb")).
struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Writes `len` bytes from `addr` as a hex dump to the log's stream
// (kel_log_stream: standard output unless the log was pointed elsewhere),
// without the log prefix, behind the line "<desc> (<len> bytes):" when
// `desc` is not null. Each line reads: two spaces, the offset in four hex
// digits, a space, sixteen groups of a space and two hex digits, two spaces
// and the sixteen bytes as text (printable ASCII as it is, anything else as
// '.'). A last, partial line is padded with three spaces per missing byte.
// With `len` <= 0 the dump is the description line (if any) and one line of
// two spaces. A null `addr` with a positive `len` writes the description
// line only: there is nothing to read. Reads `addr` only during the call.
void hexdump(const char* desc, const void* addr, int len);
