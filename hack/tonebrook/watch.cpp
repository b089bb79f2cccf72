#include "hack/tonebrook/watch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "framework/core/log.h"

namespace {

// What the kernel is asked to tell of a watched folder: its entries being
// written, closed, created, renamed in or out, removed or touched, and the
// folder itself going away.
constexpr uint32_t kFolderEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MODIFY | IN_ATTRIB | IN_DELETE |
                                   IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// Reads of the kernel's word per logic update, each up to a buffer full.
constexpr int kReadsPerUpdate = 8;

// One folder entry that stands for the file: the path as given, and, when
// that is a symbolic link, the file it leads to.
struct Target {
  std::string folder;
  std::string name;
  int wd = -1;  // the kernel's watch of the folder, -1 while none
};

struct Watch {
  const char* path = nullptr;
  int fd = -1;              // the kernel's channel, -1 without one
  std::array<Target, 2> targets;
  std::size_t target_count = 0;
  bool said_fallback = false;  // the fallback was said (once a watch)
  bool look_due = false;       // a save is whole: look at the next update
  bool writing = false;        // a save is in progress
  uint32_t last_write = 0;     // the update of its last write
};

Watch w;

// Splits a path into its folder and its name in it.
Target target_of(std::string_view path) {
  Target t;
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) {
    t.folder = ".";
    t.name = path;
  } else {
    t.folder = slash == 0 ? "/" : std::string(path.substr(0, slash));
    t.name = path.substr(slash + 1);
  }
  return t;
}

void say_fallback(const char* what, int error) {
  if (w.said_fallback) return;
  w.said_fallback = true;
  kel_log_notice("cannot watch %s for changes (%s): looking at '%s' every %u updates instead\n", what,
                 std::strerror(error), w.path, WATCH_EVERY);
}

// Asks the kernel to watch the folders not watched yet. A new watch may
// have missed a save: the next update looks.
void add_watches() {
  for (std::size_t i = 0; i < w.target_count; ++i) {
    Target& t = w.targets[i];
    if (t.wd >= 0) continue;
    t.wd = inotify_add_watch(w.fd, t.folder.c_str(), kFolderEvents);
    if (t.wd >= 0) {
      w.look_due = true;
    } else if (i == 0) {
      const std::string what = "'" + t.folder + "'";
      say_fallback(what.c_str(), errno);
    }
  }
}

// What one event says about a watched entry.
void take_event(const inotify_event& event, std::string_view name, uint32_t tick) {
  if (event.mask & IN_Q_OVERFLOW) {
    // Events were lost: look, whatever they were.
    w.look_due = true;
    w.writing = false;
    return;
  }
  for (std::size_t i = 0; i < w.target_count; ++i) {
    Target& t = w.targets[i];
    if (t.wd < 0 || t.wd != event.wd) continue;
    if (event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
      // The folder went away (or elsewhere): its watch no longer stands for
      // the path. The periodic look asks again.
      if (event.mask & IN_MOVE_SELF) inotify_rm_watch(w.fd, t.wd);
      t.wd = -1;
      w.look_due = true;
      w.writing = false;
      continue;
    }
    if (name != t.name) continue;
    if (event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) {
      w.writing = false;
      w.look_due = true;
    } else if (event.mask & (IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM)) {
      w.writing = true;
      w.last_write = tick;
    } else if ((event.mask & IN_ATTRIB) && !w.writing) {
      w.look_due = true;
    }
  }
}

// Takes what the kernel has said since the last update, without waiting.
void drain(uint32_t tick) {
  alignas(inotify_event) std::array<char, 4096> buffer;
  for (int reads = 0; reads < kReadsPerUpdate; ++reads) {
    const ssize_t got = read(w.fd, buffer.data(), buffer.size());
    if (got <= 0) return;  // nothing more now (EAGAIN), or try again at the next update
    const auto size = static_cast<std::size_t>(got);
    for (std::size_t at = 0; at + sizeof(inotify_event) <= size;) {
      inotify_event event;
      std::memcpy(&event, buffer.data() + at, sizeof event);
      const std::size_t name_at = at + sizeof event;
      const std::size_t name_size = std::min<std::size_t>(event.len, size - name_at);
      const std::string_view name(buffer.data() + name_at, strnlen(buffer.data() + name_at, name_size));
      take_event(event, name, tick);
      at = name_at + event.len;
    }
  }
}

}  // namespace

void watch_start(const char* path, bool instant) {
  watch_stop();
  w.path = path;
  w.target_count = 0;
  if (path == nullptr || !instant) return;
  w.targets[w.target_count++] = target_of(path);
  // A symbolic link: the file it leads to is written in its own folder.
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = realpath(path, nullptr)) {
      w.targets[w.target_count++] = target_of(real);
      std::free(real);
    }
  }
  w.fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (w.fd < 0) {
    say_fallback("files", errno);
    return;
  }
  add_watches();  // and, when the kernel watches, the first look at once
}

bool watch_due(uint32_t tick) {
  if (w.fd >= 0) drain(tick);
  const bool periodic = tick % WATCH_EVERY == 0;
  if (w.fd >= 0 && periodic) add_watches();
  if (w.look_due && !w.writing) {
    w.look_due = false;
    return true;
  }
  if (!periodic) return false;
  if (w.writing && tick - w.last_write < WATCH_WRITE_GRACE) return false;
  w.writing = false;
  w.look_due = false;
  return true;
}

bool watch_instant() { return w.fd >= 0 && w.target_count > 0 && w.targets[0].wd >= 0; }

void watch_stop() {
  if (w.fd >= 0) close(w.fd);
  w = Watch{};
}
