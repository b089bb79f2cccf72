#include "hack/tonebrook/out_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "framework/core/escape.h"

namespace {

constexpr std::size_t kBufferBytes = 1 << 18;
constexpr std::string_view kTempTail = ".XXXXXX";

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

// The longest name the folder takes.
std::size_t longest_name(const std::string& folder) {
  const long most = pathconf(folder.c_str(), _PC_NAME_MAX);
  return most > 0 ? static_cast<std::size_t>(most) : NAME_MAX;
}

// Connects to the socket at `path` as a stream. Returns the descriptor, or
// -1 with errno set.
int connect_socket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int why = errno;
    close(fd);
    errno = why;
    return -1;
  }
  return fd;
}

}  // namespace

OUTPUT_KIND output_kind(const std::string& path, std::string* error) {
  if (path == "-") return OUTPUT_KIND::kStandard;
  struct stat st {};
  const bool found = stat(path.c_str(), &st) == 0;
  if (path.empty() || path.back() == '/' || (found && S_ISDIR(st.st_mode))) {
    if (error) *error = "it is a folder";
    return OUTPUT_KIND::kRefused;
  }
  // Nothing there (or nothing that can be looked at): a new file, whose
  // creation says what stands in the way.
  return !found || S_ISREG(st.st_mode) ? OUTPUT_KIND::kReplace : OUTPUT_KIND::kThrough;
}

std::string output_name(const std::string& path) {
  return path == "-" ? "standard output" : "'" + kel_escape(path, KEL_ESCAPE::kName) + "'";
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() {
  if (file_ && file_ != stdout) std::fclose(file_);
  file_ = nullptr;
  if (!temp_path_.empty()) {
    std::remove(temp_path_.c_str());
    temp_path_.clear();
  }
}

void OutputFile::fail(const std::string& why) {
  error_ = why;
  discard();
}

bool OutputFile::open(const std::string& path) {
  discard();
  path_ = path;
  error_.clear();
  kind_ = output_kind(path, &error_);
  switch (kind_) {
    case OUTPUT_KIND::kRefused:
      return false;
    case OUTPUT_KIND::kStandard:
      file_ = stdout;
      return true;
    case OUTPUT_KIND::kThrough:
      return open_through();
    case OUTPUT_KIND::kReplace:
      break;
  }
  return open_new_file();
}

bool OutputFile::open_new_file() {
  // Beside the final file, so that the rename stays on one file system; its
  // name no longer than the folder takes.
  const std::string folder = folder_of(path_);
  std::string name = "." + name_of(path_);
  name.resize(std::min(name.size(), longest_name(folder) - kTempTail.size()));
  std::string temp = folder + "/" + name + std::string(kTempTail);
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

bool OutputFile::open_through() {
  int fd = ::open(path_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 && errno == ENXIO) fd = connect_socket(path_);  // a socket cannot be opened, only connected to
  if (fd < 0) {
    fail(reason("cannot open it"));
    return false;
  }
  // What was opened must still be no regular file: one put there since the
  // look would be written into, not replaced.
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
    close(fd);
    fail("it changed while it was opened; try again");
    return false;
  }
  if (!(file_ = fdopen(fd, "wb"))) {
    const std::string why = reason("cannot open it");
    close(fd);
    fail(why);
    return false;
  }
  return true;
}

bool OutputFile::commit() {
  if (!file_) {
    if (error_.empty()) error_ = "not open";
    return false;
  }
  errno = 0;
  const bool written = std::ferror(file_) == 0 && std::fflush(file_) == 0;
  const int write_errno = errno != 0 ? errno : EIO;
  std::FILE* f = file_;
  file_ = nullptr;
  const bool closed = f == stdout || std::fclose(f) == 0;
  if (!written || !closed) {
    if (!written) errno = write_errno;
    fail(reason("cannot write"));
    return false;
  }
  if (kind_ != OUTPUT_KIND::kReplace) return true;
  if (std::rename(temp_path_.c_str(), path_.c_str()) != 0) {
    fail(reason("cannot put it in place"));
    return false;
  }
  temp_path_.clear();
  return true;
}
