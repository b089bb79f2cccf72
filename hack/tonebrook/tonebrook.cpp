#include "hack/tonebrook/tonebrook.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "framework/core/kel.h"
#include "framework/core/log.h"
#include "framework/core/util.h"
#include "hack/tonebrook/options.h"
#include "keltoolkit/skreelplayer/skreel.h"

#ifndef TONEBROOK_VERSION
#define TONEBROOK_VERSION "unknown"
#endif

const char* music_file = nullptr;
STATE main_state = {nullptr, update, nullptr, nullptr};

namespace {

constexpr const char* kUsage = "usage: tonebrook FILE [RATE]\n";
constexpr unsigned kDefaultRate = 44100;
constexpr unsigned kWatchEvery = 16;  // logic updates between looks at the file
constexpr unsigned kTextCapacity = 1024;
constexpr unsigned kLowestRate = 8000;
constexpr unsigned kHighestRate = 192000;

// A handed-over URL text must stay unchanged until the audio side is done
// with it, but the encoder reuses one buffer for every call. The player
// therefore hands over copies in slots of its own, and writes a slot again
// only when the engine reports it neither handed over nor taken by the
// audio side. At most two slots are in use at a time, so one of the others
// is always free.
constexpr std::size_t kUrlSlots = 4;
std::array<std::array<char, kTextCapacity>, kUrlSlots> url_slots;
std::size_t next_url_slot = 0;

const char* keep_url(const char* url) {
  const char* pending = skreel_url_handed_over();
  const char* taken = skreel_url_adopted();
  for (std::size_t tried = 0; tried < kUrlSlots; ++tried) {
    std::array<char, kTextCapacity>& slot = url_slots[next_url_slot];
    next_url_slot = (next_url_slot + 1) % kUrlSlots;
    if (slot.data() == pending || slot.data() == taken) continue;
    std::snprintf(slot.data(), slot.size(), "%s", url);
    return slot.data();
  }
  return nullptr;  // not reached: two slots at most are in use
}

// Tells the musician where in the file the encoder stopped.
void report_position(const char* text, int offset) {
  if (offset < 0) return;
  int line = 1, column = 1;
  for (int i = 0; i < offset && text[i] != '\0'; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  kel_log("at line %d, column %d of '%s'\n", line, column, music_file ? music_file : "");
}

FILE_STAMP stamp_of(const struct stat& st, int open_failed) {
  FILE_STAMP s{};
  s.seconds = static_cast<uint32_t>(st.st_mtim.tv_sec);
  s.nanoseconds = static_cast<uint32_t>(st.st_mtim.tv_nsec);
  s.size = static_cast<int64_t>(st.st_size);
  s.change_seconds = static_cast<uint32_t>(st.st_ctim.tv_sec);
  s.change_nanoseconds = static_cast<uint32_t>(st.st_ctim.tv_nsec);
  s.open_failed = open_failed;
  s.seen = 1;
  return s;
}

bool same_file_state(const FILE_STAMP& now, const FILE_STAMP& last) {
  if (!last.seen) return false;
  const bool same = now.seconds == last.seconds && now.nanoseconds == last.nanoseconds && now.size == last.size;
  // After a failed open, a change of permissions (which moves only the
  // status change time) is worth another try.
  if (!last.open_failed) return same;
  return same && now.change_seconds == last.change_seconds && now.change_nanoseconds == last.change_nanoseconds;
}

}  // namespace

int tonebrook_early_exit(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return -1;
  }
  if (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0) {
    tonebrook_print_help(stdout);
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::fputs("tonebrook " TONEBROOK_VERSION "\n", stdout);
    return 0;
  }
  // Rendering, the picture and the share text run to the end here.
  return tonebrook_run_tools(argc, argv);
}

void tonebrook_prefer_dummy_video() {
  // Without a window of its own to open, SDL would otherwise pick a text-mode
  // driver on a console and take over the terminal.
  setenv("SDL_VIDEODRIVER", "dummy", 0);
}

int app_init(int argc, char** argv) {
  unsigned rate = 0;
  kel_log("argc %d\n", argc);
  if (argc > 1) {
    music_file = argv[1];
    if (argc > 2 && std::sscanf(argv[2], "%u", &rate) != 1) rate = 0;
  }
  if (rate != 0 && (rate < kLowestRate || rate > kHighestRate)) {
    // A negative number arrives here as a huge one; never ask the device.
    std::fprintf(stderr, "tonebrook: a rate of %s Hz is outside %u to %u; using %u Hz\n", argv[2], kLowestRate,
                 kHighestRate, kDefaultRate);
    rate = 0;
  }
  kel_set_logic_rate(60);
  if (rate == 0) rate = kDefaultRate;
  kel_log("music_file: '%s' rate: %u\n", music_file ? music_file : "(null)", rate);
  setup_audio(rate);
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

void update() { game_reload_changed_music(); }

void game_reload_changed_music() {
  static FILE_STAMP lasttime{};
  static char buf[kTextCapacity];
  if (kel_ticks.load() % kWatchEvery != 0) return;
  const char* text = load_if_changed(music_file, &lasttime, buf, sizeof buf);
  if (text == nullptr) return;
  const char* url = skreel_encode(text);
  if (url == nullptr) report_position(text, skreel_encode_error_offset());
  // The copy is made while the previous text is still handed over, so that
  // its slot is left alone. The first call forgets what the audio side
  // adopted, so that the second is taken as new; with no URL text both
  // silence the tune.
  const char* kept = url ? keep_url(url) : nullptr;
  skreel_play_url(nullptr);
  skreel_play_url(kept);
}

const char* load_if_changed(const char* file, FILE_STAMP* last, char* buf, unsigned len) {
  if (file == nullptr || last == nullptr || buf == nullptr || len == 0) return nullptr;
  struct stat st;
  if (stat(file, &st) != 0) return nullptr;
  const FILE_STAMP now = stamp_of(st, 0);
  if (same_file_state(now, *last)) return nullptr;

  UniqueFile f(std::fopen(file, "r"));
  if (!f) {
    kel_log("cannot open '%s': %s\n", file, std::strerror(errno));
    *last = stamp_of(st, 1);
    return nullptr;
  }
  const std::size_t size = std::fread(buf, 1, len - 1, f.get());
  if (std::ferror(f.get())) {
    kel_log("cannot read '%s': %s\n", file, std::strerror(errno));
    *last = stamp_of(st, 1);
    return nullptr;
  }
  kel_log("reloaded '%s' (%u vs %u) %d bytes\n", file, now.seconds, last->seconds, static_cast<int>(size));
  f.reset();
  *last = now;
  buf[size] = '\0';
  return buf;
}
