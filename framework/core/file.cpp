#include "framework/core/file.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "framework/core/log.h"
#include "framework/platforms/sdl/wrapper_file.h"

namespace {

std::array<char, 2048> _filepath{};

using FOLDER_PATH = const char* (*)();

// "%s%s" of folder and name into `out`; false, with a line naming `what`,
// when it would not fit.
template <std::size_t N>
bool join(std::array<char, N>& out, const char* folder, const char* name, const char* what) {
  const int length = std::snprintf(out.data(), out.size(), "%s%s", folder, name);
  if (length >= 0 && static_cast<std::size_t>(length) < out.size()) return true;
  kel_log("%s: path too long (over %zu bytes): '%s' in '%s'\n", what, out.size() - 1, name, folder);
  return false;
}

FILER* open_logged(const char* path, const char* mode, const char* kind) {
  if (path == nullptr) {
    kel_log("file_open_%s: no path given\n", kind);
    return nullptr;
  }
  FILER* f = std::fopen(path, mode);
  const int error = errno;
  kel_log("file_open_%s '%s': %s\n", kind, path, f ? "OK" : "FAIL");
  if (f == nullptr) {
    errno = error;
    std::perror("file open failed");
  }
  return f;
}

char* folder_path(FOLDER_PATH folder, const char* name, const char* what) {
  const char* dir = folder();
  if (dir == nullptr) return nullptr;  // the platform said why
  if (!join(_filepath, dir, name ? name : "", what)) return nullptr;
  kel_log_line("%s", _filepath.data());
  return _filepath.data();
}

// The path of `name` in `folder`, in `out`; false when there is none.
bool in_folder(std::array<char, 1024>& out, FOLDER_PATH folder, const char* name, const char* what) {
  if (name == nullptr) {
    kel_log("%s: no file name given\n", what);
    return false;
  }
  const char* dir = folder();
  return dir != nullptr && join(out, dir, name, what);
}

FILER* open_in(FOLDER_PATH folder, const char* name, bool write, const char* what) {
  std::array<char, 1024> path;
  if (!in_folder(path, folder, name, what)) return nullptr;
  return write ? file_open_write(path.data()) : file_open_read(path.data());
}

int delete_in(FOLDER_PATH folder, const char* name, const char* what) {
  std::array<char, 1024> path;
  if (!in_folder(path, folder, name, what)) return -1;
  return file_delete(path.data());
}

// Reads exactly `N` bytes; false when fewer remain.
template <std::size_t N>
bool read_exact(FILER* f, std::array<uint8_t, N>& bytes) {
  return f != nullptr && std::fread(bytes.data(), 1, N, f) == N;
}

template <std::size_t N>
bool write_exact(FILER* f, const std::array<uint8_t, N>& bytes) {
  return f != nullptr && std::fwrite(bytes.data(), 1, N, f) == N;
}

std::size_t capped(unsigned length) { return length > INT_MAX ? std::size_t{INT_MAX} : std::size_t{length}; }

}  // namespace

FILER* file_open_read(const char* path) { return open_logged(path, "rb", "read"); }
FILER* file_open_write(const char* path) { return open_logged(path, "wb", "write"); }

int file_delete(const char* path) {
  if (path == nullptr) {
    kel_log("file_delete: no path given\n");
    return -1;
  }
  kel_log("delete '%s'\n", path);
  if (std::remove(path) == 0) return 0;
  std::perror("file delete failed");
  return -1;
}

void file_close(FILER* f) {
  if (f) std::fclose(f);
}

char* file_data_path(const char* name) { return folder_path(wrapper_file_data_path, name, "file_data_path"); }
char* file_save_path(const char* name) { return folder_path(wrapper_file_save_path, name, "file_save_path"); }
char* file_temp_path(const char* name) { return folder_path(wrapper_file_temp_path, name, "file_temp_path"); }
char* file_doc_path(const char* name) { return folder_path(wrapper_file_doc_path, name, "file_doc_path"); }

FILER* file_open_data_read(const char* name) {
  return open_in(wrapper_file_data_path, name, false, "file_open_data_read");
}
FILER* file_open_save_read(const char* name) {
  return open_in(wrapper_file_save_path, name, false, "file_open_save_read");
}
FILER* file_open_save_write(const char* name) {
  return open_in(wrapper_file_save_path, name, true, "file_open_save_write");
}
int file_delete_save(const char* name) { return delete_in(wrapper_file_save_path, name, "file_delete_save"); }
FILER* file_open_temp_read(const char* name) {
  return open_in(wrapper_file_temp_path, name, false, "file_open_temp_read");
}
FILER* file_open_temp_write(const char* name) {
  return open_in(wrapper_file_temp_path, name, true, "file_open_temp_write");
}
int file_delete_temp(const char* name) { return delete_in(wrapper_file_temp_path, name, "file_delete_temp"); }
FILER* file_open_doc_read(const char* name) {
  return open_in(wrapper_file_doc_path, name, false, "file_open_doc_read");
}
FILER* file_open_doc_write(const char* name) {
  return open_in(wrapper_file_doc_path, name, true, "file_open_doc_write");
}
int file_delete_doc(const char* name) { return delete_in(wrapper_file_doc_path, name, "file_delete_doc"); }

int file_getc(FILER* f) { return f ? std::fgetc(f) : -1; }

int file_putc(FILER* f, char c) { return f ? std::fputc(static_cast<unsigned char>(c), f) : -1; }

int file_getw(FILER* f) {
  std::array<uint8_t, 2> b;
  if (!read_exact(f, b)) return -1;
  return static_cast<int16_t>(static_cast<uint16_t>(b[0] | b[1] << 8));
}

int file_putw(FILER* f, short value) {
  const auto v = static_cast<uint16_t>(value);
  return write_exact(f, std::array<uint8_t, 2>{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}) ? 1 : 0;
}

int file_getl(FILER* f) {
  std::array<uint8_t, 4> b;
  if (!read_exact(f, b)) return -1;
  const uint32_t v = uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
  return static_cast<int32_t>(v);
}

int file_putl(FILER* f, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  return write_exact(f, std::array<uint8_t, 4>{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                                               static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)})
             ? 1
             : 0;
}

int file_read(FILER* f, void* buffer, unsigned length) {
  if (f == nullptr || buffer == nullptr) return -1;
  return static_cast<int>(std::fread(buffer, 1, capped(length), f));
}

int file_write(FILER* f, const void* buffer, unsigned length) {
  if (f == nullptr || buffer == nullptr) return -1;
  return static_cast<int>(std::fwrite(buffer, 1, capped(length), f));
}

int file_length(FILER* f) {
  if (f == nullptr) return -1;
  const long position = std::ftell(f);
  if (position < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
  const long end = std::ftell(f);
  std::fseek(f, position, SEEK_SET);
  if (end < 0 || end > INT_MAX) return -1;
  return static_cast<int>(end);
}
