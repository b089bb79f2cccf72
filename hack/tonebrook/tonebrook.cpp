#include "hack/tonebrook/tonebrook.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "framework/core/escape.h"
#include "framework/core/kel.h"
#include "framework/core/log.h"
#include "framework/core/util.h"
#include "hack/tonebrook/live.h"
#include "hack/tonebrook/options.h"
#include "hack/tonebrook/player_window.h"
#include "hack/tonebrook/record.h"
#include "hack/tonebrook/share.h"
#include "hack/tonebrook/watch.h"
#include "keltoolkit/skreelplayer/skreel.h"

const char* music_file = nullptr;
STATE main_state = {nullptr, update, nullptr, nullptr};

namespace {

constexpr unsigned kTextCapacity = kTuneTextLimit + 1;

// How the player takes what the command line asks of it.
bool keep_playing = false;  // --keep

// The longest the quit waits for the sound to fade out.
constexpr unsigned kFadeOutMs = 250;

void fade_out_before_exit() {
  live_fade_out(kFadeOutMs);
  player_window_close();
}

// With --quiet, the one line a musician gets for each tune the player took
// up (the decoder's own line is informational).
void say_playing(const LIVE_EVENT& e) {
  if (e.event.kind != SKREEL_TUNE || e.event.count < 0) return;
  kel_log_notice("playing '%s': %d instruction%s, rate %.0f\n", kel_escape_name(music_file).c_str(), e.event.count,
                 e.event.count == 1 ? "" : "s", static_cast<double>(e.event.value));
}

// A POSIX file descriptor that closes itself.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  explicit operator bool() const { return fd_ >= 0; }
  int get() const { return fd_; }

 private:
  int fd_;
};

FILE_STAMP stamp_of(const struct stat& st, const FILE_STAMP& last) {
  FILE_STAMP s = last;
  s.device = static_cast<uint64_t>(st.st_dev);
  s.inode = static_cast<uint64_t>(st.st_ino);
  s.seconds = static_cast<uint32_t>(st.st_mtim.tv_sec);
  s.nanoseconds = static_cast<uint32_t>(st.st_mtim.tv_nsec);
  s.change_seconds = static_cast<uint32_t>(st.st_ctim.tv_sec);
  s.change_nanoseconds = static_cast<uint32_t>(st.st_ctim.tv_nsec);
  s.size = static_cast<int64_t>(st.st_size);
  s.seen = 1;
  s.missing = 0;
  s.held_empty = 0;
  return s;
}

bool same_file_state(const FILE_STAMP& now, const FILE_STAMP& last) {
  return last.seen && now.device == last.device && now.inode == last.inode && now.seconds == last.seconds &&
         now.nanoseconds == last.nanoseconds && now.change_seconds == last.change_seconds &&
         now.change_nanoseconds == last.change_nanoseconds && now.size == last.size;
}

const char* kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  return "of an unknown kind";
}

// Reads up to `len` bytes; stops early only at the end of the file. Returns
// the count, or -1 with errno set.
ssize_t read_up_to(int fd, char* buf, std::size_t len) {
  std::size_t got = 0;
  while (got < len) {
    const ssize_t n = read(fd, buf + got, len - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

}  // namespace

void tonebrook_prefer_dummy_video() {
  // Without a window of its own to open, SDL would otherwise pick a text-mode
  // driver on a console and take over the terminal.
  setenv("SDL_VIDEODRIVER", "dummy", 0);
}

int app_init(int argc, char** argv) {
  kel_log("argc %d\n", argc);
  COMMAND_LINE line;
  std::string error;
  if (!tonebrook_parse_command_line(argc, argv, &line, &error) || line.command != COMMAND::kPlayer) {
    if (!error.empty()) std::fprintf(stderr, "tonebrook: %s\n", error.c_str());
    line = COMMAND_LINE{};
  }
  music_file = line.tune_file;
  kel_log_set_quiet(line.quiet);
  if (line.quiet) live_listen(say_playing);
  if (line.rate_refused)
    std::fprintf(stderr, "tonebrook: a rate of %s Hz is outside %u to %u; using %u Hz\n",
                 kel_escape_name(line.rate_refused).c_str(),
                 TONEBROOK_LOWEST_RATE, TONEBROOK_HIGHEST_RATE, line.rate);
  kel_set_logic_rate(60);
  kel_log("music_file: '%s' rate: %u\n", kel_escape_name(music_file).c_str(), line.rate);
  // Before the stream opens, so that the recording starts with its first buffer.
  if (line.record_path && !record_start(line.record_path, line.rate, music_file, &error)) {
    std::fprintf(stderr, "tonebrook: cannot record to '%s': %s\n", kel_escape_name(line.record_path).c_str(),
                 error.c_str());
    return -1;
  }
  setup_audio(line.rate);
  keep_playing = line.keep;
  watch_start(music_file, line.instant);
  if (line.volume != 1.0f) live_volume(line.volume);
  if (line.scope && player_window_open(music_file, line.rate, line.volume)) main_state.render = player_window_render;
  kel_set_before_exit(fade_out_before_exit);
  state_switch(&main_state);
  return 1;
}

void setup_audio(unsigned rate) {
  if (kel_init_audio_stream(rate, 0) < 0)
    std::fputs("tonebrook: the sound device could not be opened, so no sound will be heard "
               "(try another SDL_AUDIODRIVER); compile messages still follow every save\n",
               stderr);
  skreel_reset();
}

void update() {
  game_reload_changed_music();
  player_window_update();
  live_update();
  record_update();
}

void game_reload_changed_music() {
  static FILE_STAMP lasttime{};
  static char buf[kTextCapacity];
  if (!watch_due(kel_ticks.load())) return;
  const char* text = load_if_changed(music_file, &lasttime, buf, sizeof buf);
  if (text == nullptr) return;
  unsigned rate = 0;
  const char* url = tune_compile(text, music_file, &rate);
  player_window_compiled(tune_compile_error());
  if (url) {
    // The player takes the tune and its rate up together, at the start of
    // its next buffer; `t`, the stack and the memory run on.
    live_play(url, static_cast<float>(rate));
  } else if (keep_playing) {
    if (live_started()) kel_log_notice("the tune that played before plays on\n");
  } else {
    live_silence();
  }
}

const char* load_if_changed(const char* file, FILE_STAMP* last, char* buf, unsigned len) {
  if (file == nullptr || last == nullptr || buf == nullptr || len == 0) return nullptr;
  // The path as the lines show it: no control character of it reaches the
  // terminal, and a new line in it cannot forge a line of the log.
  const std::string shown = kel_escape_name(file);
  const char* name = shown.c_str();
  struct stat st;
  if (stat(file, &st) != 0) {
    // The tune that plays goes on; say so once for each new reason.
    const int reason = errno;
    if (reason != last->missing) kel_log_notice("cannot find '%s': %s\n", name, std::strerror(reason));
    last->missing = reason;
    return nullptr;
  }
  last->missing = 0;
  // A file held back as empty is read again to confirm it.
  if (same_file_state(stamp_of(st, *last), *last) && !last->held_empty) return nullptr;

  // Only a regular file is opened, and without blocking: opening a FIFO for
  // reading would wait for a writer. What was opened is checked again, as
  // the path may have been replaced in between.
  int fd_number = -1;
  if (S_ISREG(st.st_mode)) {
    fd_number = open(file, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd_number < 0) {
      kel_log_notice("cannot open '%s': %s\n", name, std::strerror(errno));
      *last = stamp_of(st, *last);
      return nullptr;
    }
  }
  const UniqueFd fd(fd_number);
  if (fd && fstat(fd.get(), &st) != 0) {
    kel_log_notice("cannot read '%s': %s\n", name, std::strerror(errno));
    *last = stamp_of(st, *last);
    return nullptr;
  }
  const bool was_held_empty = last->held_empty != 0 && same_file_state(stamp_of(st, *last), *last);
  const FILE_STAMP now = stamp_of(st, *last);
  if (!S_ISREG(st.st_mode)) {
    kel_log_notice("cannot read '%s': it is %s, not a regular file\n", name, kind_of(st.st_mode));
    *last = now;
    return nullptr;
  }

  const ssize_t got = read_up_to(fd.get(), buf, len - 1);
  if (got < 0) {
    kel_log_notice("cannot read '%s': %s\n", name, std::strerror(errno));
    *last = now;
    return nullptr;
  }
  const auto size = static_cast<std::size_t>(got);
  char more = 0;
  const bool longer = size == len - 1 && read_up_to(fd.get(), &more, 1) == 1;

  // An editor that truncates and then writes can be caught in between:
  // an empty read right after a change is confirmed at the next look
  // before the tune falls silent. Before any text was loaded nothing
  // plays, so there is nothing to wait for.
  if (size == 0 && last->loaded && !was_held_empty) {
    *last = now;
    last->held_empty = 1;
    return nullptr;
  }
  kel_log("reloaded '%s' (%u vs %u) %d bytes\n", name, now.seconds, last->seconds, static_cast<int>(size));
  if (longer)
    kel_log_notice("'%s' is longer than %u bytes: only its first %u bytes are read\n", name, len - 1, len - 1);
  *last = now;
  last->loaded = 1;
  buf[size] = '\0';
  return buf;
}
