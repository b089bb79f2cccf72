#include "hack/tonebrook/out_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t kBufferBytes = 1 << 18;

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string reason(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

ReplacingFile::~ReplacingFile() { discard(); }

void ReplacingFile::discard() {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!temp_path_.empty()) {
    std::remove(temp_path_.c_str());
    temp_path_.clear();
  }
}

void ReplacingFile::fail(const std::string& why) {
  error_ = why;
  discard();
}

bool ReplacingFile::open(const std::string& path) {
  discard();
  path_ = path;
  error_.clear();
  if (path.empty() || path.back() == '/') {
    errno = EISDIR;
    fail(reason("not a file name"));
    return false;
  }
  // Beside the final file, so that the rename stays on one file system.
  std::string temp = folder_of(path) + "/." + name_of(path) + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    fail(reason("cannot create a file beside it"));
    return false;
  }
  temp_path_ = temp;
  // mkstemp makes the file private to its owner.
  const mode_t mask = umask(0);
  umask(mask);
  if (fchmod(fd, 0666 & ~mask) != 0 || !(file_ = fdopen(fd, "wb"))) {
    const std::string why = reason("cannot open it");
    close(fd);
    fail(why);
    return false;
  }
  // Large writes: the files are megabytes, written front to back.
  std::setvbuf(file_, nullptr, _IOFBF, kBufferBytes);
  return true;
}

bool ReplacingFile::commit() {
  if (!file_) {
    if (error_.empty()) error_ = "not open";
    return false;
  }
  const bool written = std::ferror(file_) == 0 && std::fflush(file_) == 0;
  const int write_errno = errno;
  std::FILE* f = file_;
  file_ = nullptr;
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    if (!written) errno = write_errno;
    fail(reason("cannot write"));
    return false;
  }
  if (std::rename(temp_path_.c_str(), path_.c_str()) != 0) {
    fail(reason("cannot put it in place"));
    return false;
  }
  temp_path_.clear();
  return true;
}
