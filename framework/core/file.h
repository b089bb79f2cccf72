// Files: one small, logged way to open, read, write and delete files in the
// four kinds of folder that the platform provides (wrapper_file.h): the
// data folder "./", and the application's save, temp and doc folders under
// the user's home folder. Values are stored little-endian, without header,
// padding or alignment: 16-bit values as 2 bytes, 32-bit values as 4.
//
// Log lines go to standard output behind the log prefix; a failed open or
// delete also writes a perror line ("file open failed: <reason>", "file
// delete failed: <reason>") to standard error.
//
// Paths have fixed buffers: 2048 bytes for the shared result of the
// file_*_path functions, 1024 for the path that a folder-specific function
// forms (each with its terminating zero). A path that would not fit is
// refused with one log line (null, or -1 for a delete), never cut short.
// When the platform cannot form a folder (HOME not set, too long), it says
// so itself and the function returns null (or -1).
//
// Threads: main thread only; never from the mixing hook.
#pragma once

#include <cstdint>
#include <cstdio>

// The framework's file handle: the C library's buffered stream. Null means
// no file. Close it with file_close.
using FILER = std::FILE;

// Opens `path` for reading, in binary mode; logs "file_open_read '<path>':
// OK" or "... FAIL". Null on failure (with the perror line), or for a null
// path (with a line saying so).
FILER* file_open_read(const char* path);
// Opens `path` for writing in binary mode, creating or truncating it;
// logged as file_open_read is ("file_open_write ...").
FILER* file_open_write(const char* path);
// Logs "delete '<path>'" and removes the file. 0, or -1 on failure (with
// the perror line; a null path is refused with a line).
int file_delete(const char* path);
// Flushes and closes; null is ignored.
void file_close(FILER* f);

// The folder's path and `name` (null means "") joined into one shared
// 2048-byte buffer, logged as a line and returned. The next call of any of
// the four overwrites the buffer; do not free it. Null when the folder is
// not known or the joined path would not fit.
char* file_data_path(const char* name);
char* file_save_path(const char* name);
char* file_temp_path(const char* name);
char* file_doc_path(const char* name);

// One family: the folder's path and `name` joined (in a buffer of the
// function's own) and handed to file_open_read, file_open_write or
// file_delete. A null name is refused with a line (it would name the
// folder itself). The data folder has no write or delete function.
FILER* file_open_data_read(const char* name);
FILER* file_open_save_read(const char* name);
FILER* file_open_save_write(const char* name);
int file_delete_save(const char* name);
FILER* file_open_temp_read(const char* name);
FILER* file_open_temp_write(const char* name);
int file_delete_temp(const char* name);
FILER* file_open_doc_read(const char* name);
FILER* file_open_doc_write(const char* name);
int file_delete_doc(const char* name);

// Reading and writing. A null handle reads as the end of the file and
// fails every write.
//
// The next byte, 0..255; -1 at the end or on an error.
int file_getc(FILER* f);
// Writes one byte; returns it (0..255), or -1 on an error.
int file_putc(FILER* f, char c);
// 2 bytes as a signed 16-bit value, widened with its sign; -1 when fewer
// than 2 bytes remain (so a stored -1 cannot be told from the end).
int file_getw(FILER* f);
// Writes 2 bytes; 1 on success, 0 on failure.
int file_putw(FILER* f, short value);
// 4 bytes as a signed 32-bit value; -1 when fewer than 4 bytes remain.
int file_getl(FILER* f);
// Writes 4 bytes; 1 on success, 0 on failure.
int file_putl(FILER* f, int32_t value);
// Reads up to `length` bytes into `buffer`; the number read (fewer at the
// end of the file), or -1 for a null handle or buffer. At most INT_MAX
// bytes are read in one call.
int file_read(FILER* f, void* buffer, unsigned length);
// Writes `length` bytes from `buffer`; the number written, or -1 for a null
// handle or buffer. At most INT_MAX bytes are written in one call.
int file_write(FILER* f, const void* buffer, unsigned length);
// The file's size in bytes, the position left where it was; -1 when the
// position cannot be taken or moved (or the size does not fit an int).
int file_length(FILER* f);
