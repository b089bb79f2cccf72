#include "hack/tonebrook/record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "framework/core/escape.h"
#include "framework/core/kel_assert.h"
#include "framework/core/log.h"
#include "framework/platforms/sdl/wrapper_music.h"
#include "hack/tonebrook/live.h"
#include "hack/tonebrook/render.h"
#include "hack/tonebrook/replay.h"
#include "hack/tonebrook/taps.h"

// ---------------------------------------------------------------------------
// RecordRing

RecordRing::RecordRing(std::size_t frames, std::size_t gaps) : frames_(frames), gaps_(gaps) {}

void RecordRing::push(const int16_t* stereo, int frames) noexcept {
  if (stereo == nullptr || frames <= 0) return;
  const auto n = static_cast<std::size_t>(frames);
  const unsigned first = buffer_frames_.load(std::memory_order_relaxed);
  if (first == 0)
    buffer_frames_.store(static_cast<unsigned>(frames), std::memory_order_release);
  else if (first != static_cast<unsigned>(frames))
    size_changed_.store(true, std::memory_order_relaxed);

  const RING_SPANS<STEREO_FRAME16> room = frames_.write_spans(n);
  // A stretch being dropped goes out before the sound that follows it;
  // while it cannot, that sound is dropped into it too.
  bool fits = room.size() == n;
  if (fits && dropping_.frames > 0) {
    if (gaps_.push(&dropping_, 1) == 1)
      dropping_ = RECORD_GAP{0, 0};
    else
      fits = false;
  }
  if (!fits) {
    if (dropping_.frames == 0) dropping_.at = position_;
    dropping_.frames += n;
    position_ += n;
    return;
  }
  // A frame is its two samples, left then right, as in the buffer.
  static_assert(sizeof(STEREO_FRAME16) == 2 * sizeof(int16_t) && offsetof(STEREO_FRAME16, right) == sizeof(int16_t));
  std::memcpy(room.first.data(), stereo, room.first.size_bytes());
  if (!room.second.empty()) std::memcpy(room.second.data(), stereo + 2 * room.first.size(), room.second.size_bytes());
  frames_.commit(n);
  position_ += n;
}

void RecordRing::drain(const SOUND& sound, const SILENCE& silence) {
  // The frames first, then the gaps (see the class's comment).
  const RING_SPANS<const STEREO_FRAME16> taken = frames_.read_spans();
  const RING_SPANS<const RECORD_GAP> gaps = gaps_.read_spans();
  std::size_t used = 0;
  const auto hand_on = [&](std::size_t n) {
    while (n > 0) {
      std::span<const STEREO_FRAME16> run =
          used < taken.first.size() ? taken.first.subspan(used) : taken.second.subspan(used - taken.first.size());
      run = run.first(std::min(n, run.size()));
      sound(run);
      used += run.size();
      drained_ += run.size();
      n -= run.size();
    }
  };
  std::size_t placed = 0;
  for (; placed < gaps.size(); ++placed) {
    const RECORD_GAP& gap =
        placed < gaps.first.size() ? gaps.first[placed] : gaps.second[placed - gaps.first.size()];
    KEL_ASSERT(gap.at >= drained_);
    const uint64_t before = gap.at - drained_;
    if (before > taken.size() - used) break;  // its frames before it are not all here yet
    hand_on(static_cast<std::size_t>(before));
    silence(gap.at, gap.frames);
    drained_ += gap.frames;
  }
  hand_on(taken.size() - used);
  gaps_.release(placed);
  frames_.release(taken.size());
}

void RecordRing::drain_last(const SOUND& sound, const SILENCE& silence) {
  drain(sound, silence);
  if (dropping_.frames == 0) return;
  KEL_ASSERT(dropping_.at == drained_);
  silence(dropping_.at, dropping_.frames);
  drained_ += dropping_.frames;
  dropping_ = RECORD_GAP{0, 0};
}

// ---------------------------------------------------------------------------
// The recording

namespace {

// What becomes of the recording, as a line that shows even when the log is
// quiet.
__attribute__((format(printf, 1, 2))) void say(const char* fmt, ...) {
  std::array<char, 1024> line{};
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(line.data(), line.size(), fmt, args);
  va_end(args);
  kel_log_notice("%s\n", line.data());
}

// A file name as the log shows it: no byte of it reaches the terminal raw.
std::string shown(const std::string& path) { return kel_escape_name(path.c_str()); }

// Seconds of sound the ring holds: the time the writer may fall behind
// (a disk that stalls) before a buffer is dropped.
constexpr unsigned kRingSeconds = 4;
constexpr std::size_t kRingGaps = 64;
constexpr std::size_t kWriteBufferBytes = std::size_t{1} << 18;

std::string reason() { return std::strerror(errno); }

// Creates `path` for writing; it must not be there already.
std::FILE* create_new(const std::string& path, std::string* error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    *error = errno == EEXIST ? "'" + path +
                                   "' is there already, left by a recording that was cut short (or made by one that "
                                   "runs): move it away or remove it"
                             : "cannot create '" + path + "': " + reason();
    return nullptr;
  }
  std::FILE* f = fdopen(fd, "wb");
  if (f == nullptr) {
    *error = "cannot open '" + path + "': " + reason();
    close(fd);
    std::remove(path.c_str());
  }
  return f;
}

class Recording {
 public:
  Recording(std::string path, unsigned rate)
      : ring_(std::size_t{rate} * kRingSeconds, kRingGaps),
        rate_(rate),
        wav_path_(std::move(path)),
        wav_part_(wav_path_ + ".part"),
        edits_path_(wav_path_ + ".edits"),
        edits_part_(edits_path_ + ".part") {}

  bool start(const char* tune_file, std::string* error);
  void update();
  bool finish();
  void edit(const LIVE_EVENT& event);
  RecordRing& ring() { return ring_; }

 private:
  void write_sound(std::span<const STEREO_FRAME16> frames);
  void write_silence(uint64_t at, uint64_t frames);
  void bring_header_up_to_date();
  void stop_sound(const std::string& why);
  void line(const std::string& text);
  void write_line(const std::string& text);
  void device_line_when_known();
  double seconds(uint64_t frames) const { return static_cast<double>(frames) / rate_; }
  void drain(bool last);

  RecordRing ring_;
  unsigned rate_;
  std::string wav_path_, wav_part_, edits_path_, edits_part_;
  std::FILE* wav_ = nullptr;
  std::FILE* edits_ = nullptr;
  uint64_t wav_frames_ = 0;     // written to the WAV file
  uint64_t header_frames_ = 0;  // as its header says
  uint64_t silent_frames_ = 0;  // filled in for buffers dropped
  bool device_written_ = false;
  bool finished_ = false;
  std::vector<std::string> waiting_;  // edit lines before the device line
};

// Made once and never destroyed: the stream tap may run until the stream
// closes, and finds the ring in place.
Recording* recording = nullptr;
std::atomic<RecordRing*> tap_ring{nullptr};

void record_tap(const int16_t* stereo, int frames) noexcept {
  if (RecordRing* ring = tap_ring.load(std::memory_order_acquire)) ring->push(stereo, frames);
}

void on_edit(const LIVE_EVENT& event) {
  if (recording) recording->edit(event);
}

// Whether a file at `path` is one the recording may replace: none, or a
// regular file that is not the tune.
bool replaceable(const std::string& path, const char* tune_file, std::string* error) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return true;
  if (!S_ISREG(st.st_mode)) {
    *error = "'" + path + "' is not a regular file";
    return false;
  }
  struct stat tune {};
  if (tune_file && stat(tune_file, &tune) == 0 && tune.st_dev == st.st_dev && tune.st_ino == st.st_ino) {
    *error = "'" + path + "' is the tune file";
    return false;
  }
  return true;
}

bool Recording::start(const char* tune_file, std::string* error) {
  if (!replaceable(wav_path_, tune_file, error) || !replaceable(edits_path_, tune_file, error)) return false;
  wav_ = create_new(wav_part_, error);
  if (!wav_) return false;
  edits_ = create_new(edits_part_, error);
  if (!edits_) {
    std::fclose(wav_);
    wav_ = nullptr;
    std::remove(wav_part_.c_str());
    return false;
  }
  std::setvbuf(wav_, nullptr, _IOFBF, kWriteBufferBytes);
  const auto header = wav_header(rate_, 0);
  const bool wav_ok = std::fwrite(header.data(), 1, header.size(), wav_) == header.size() && std::fflush(wav_) == 0;
  // A comment is one line, whatever the file's name holds.
  std::string name = edits_path_;
  std::replace_if(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, '?');
  const std::string comment =
      "# tonebrook performance: what the player took up, at which frame of the stream.\n"
      "# Replay it: tonebrook --render OUT.wav --replay " + name + "\n";
  const bool edits_ok = std::fputs(comment.c_str(), edits_) >= 0 && std::fflush(edits_) == 0;
  if (!wav_ok || !edits_ok) {
    *error = "cannot write '" + (wav_ok ? edits_part_ : wav_part_) + "': " + reason();
    std::fclose(wav_);
    std::fclose(edits_);
    wav_ = edits_ = nullptr;
    std::remove(wav_part_.c_str());
    std::remove(edits_part_.c_str());
    return false;
  }
  kel_log_line("recording to '%s', and what is played when to '%s'; at the quit they become '%s' and '%s'",
               shown(wav_part_).c_str(), shown(edits_part_).c_str(), shown(wav_path_).c_str(),
               shown(edits_path_).c_str());
  return true;
}

void Recording::stop_sound(const std::string& why) {
  say("the recording stopped at %.2f s: %s; the music plays on, '%s' keeps what was recorded, and '%s' goes "
               "on with what is played",
               seconds(header_frames_), why.c_str(), shown(wav_part_).c_str(), shown(edits_part_).c_str());
  // The header stays as it was last written: it counts only frames that
  // reached the file.
  std::fclose(wav_);
  wav_ = nullptr;
}

void Recording::write_sound(std::span<const STEREO_FRAME16> frames) {
  if (!wav_) return;
  if (frames.size() > kWavMaxFrames - wav_frames_) {
    bring_header_up_to_date();
    if (wav_) stop_sound("a WAV file holds no more");
    return;
  }
  bool ok = true;
  if constexpr (std::endian::native == std::endian::little) {
    ok = std::fwrite(frames.data(), sizeof(STEREO_FRAME16), frames.size(), wav_) == frames.size();
  } else {
    std::array<unsigned char, 4096> bytes{};
    for (std::size_t at = 0; ok && at < frames.size();) {
      const std::size_t n = std::min(frames.size() - at, bytes.size() / 4);
      for (std::size_t i = 0; i < n; ++i) {
        const auto l = static_cast<uint16_t>(frames[at + i].left), r = static_cast<uint16_t>(frames[at + i].right);
        bytes[4 * i] = static_cast<unsigned char>(l & 0xFF);
        bytes[4 * i + 1] = static_cast<unsigned char>(l >> 8);
        bytes[4 * i + 2] = static_cast<unsigned char>(r & 0xFF);
        bytes[4 * i + 3] = static_cast<unsigned char>(r >> 8);
      }
      ok = std::fwrite(bytes.data(), 4, n, wav_) == n;
      at += n;
    }
  }
  if (!ok) return stop_sound("cannot write: " + reason());
  wav_frames_ += frames.size();
}

void Recording::write_silence(uint64_t at, uint64_t frames) {
  silent_frames_ += frames;
  say("the recording fell behind: %.3f s at %.2f s are silence in it", seconds(frames), seconds(at));
  static constexpr std::array<STEREO_FRAME16, 1024> kZeros{};
  while (frames > 0 && wav_) {
    const auto n = static_cast<std::size_t>(std::min<uint64_t>(frames, kZeros.size()));
    write_sound(std::span(kZeros.data(), n));
    frames -= n;
  }
}

void Recording::bring_header_up_to_date() {
  if (!wav_) return;
  // The sound first, then the header that counts it.
  if (std::fflush(wav_) != 0) return stop_sound("cannot write: " + reason());
  const auto header = wav_header(rate_, wav_frames_);
  if (pwrite(fileno(wav_), header.data(), header.size(), 0) != static_cast<ssize_t>(header.size()))
    return stop_sound("cannot write: " + reason());
  header_frames_ = wav_frames_;
}

void Recording::write_line(const std::string& text) {
  if (!edits_) return;
  if (std::fputs(text.c_str(), edits_) >= 0 && std::fputc('\n', edits_) != EOF && std::fflush(edits_) == 0) return;
  say("the edits stopped: cannot write '%s': %s; the music plays on", shown(edits_part_).c_str(),
               reason().c_str());
  std::fclose(edits_);
  edits_ = nullptr;
}

void Recording::device_line_when_known() {
  if (device_written_ || ring_.buffer_frames() == 0) return;
  write_line(performance_device_line(rate_, ring_.buffer_frames()));
  device_written_ = true;
  for (const std::string& waiting : waiting_) write_line(waiting);
  waiting_.clear();
}

void Recording::line(const std::string& text) {
  device_line_when_known();
  if (device_written_)
    write_line(text);
  else
    waiting_.push_back(text);
}

void Recording::edit(const LIVE_EVENT& event) {
  if (event.event.kind == SKREEL_TUNE && event.url == nullptr) return;  // no text to play again
  line(performance_edit_line(event.event, event.url));
}

void Recording::drain(bool last) {
  const RecordRing::SOUND sound = [this](std::span<const STEREO_FRAME16> frames) { write_sound(frames); };
  const RecordRing::SILENCE silence = [this](uint64_t at, uint64_t frames) { write_silence(at, frames); };
  if (last)
    ring_.drain_last(sound, silence);
  else
    ring_.drain(sound, silence);
}

void Recording::update() {
  device_line_when_known();
  drain(false);
  if (wav_frames_ - header_frames_ >= rate_ / 2) bring_header_up_to_date();
}

bool Recording::finish() {
  KEL_ASSERT(!finished_);
  finished_ = true;
  drain(true);
  if (!device_written_) {
    // No buffer ever came (no sound device): the size the stream asked for.
    write_line(performance_device_line(rate_, wrapper_default_buffer_frames(rate_)));
    device_written_ = true;
    for (const std::string& waiting : waiting_) write_line(waiting);
    waiting_.clear();
  }
  write_line(performance_end_line(ring_.drained()));
  bring_header_up_to_date();
  bool whole = wav_ != nullptr && edits_ != nullptr;
  if (wav_ && std::fclose(wav_) != 0) whole = false;
  if (edits_ && std::fclose(edits_) != 0) whole = false;
  wav_ = edits_ = nullptr;
  if (ring_.buffer_size_changed())
    say("the sound device changed its buffer size while recording, so a replay of '%s' may differ from "
                 "the recording",
                 shown(edits_part_).c_str());
  if (silent_frames_ > 0)
    say("in all %.3f s of the recording are silence where it fell behind", seconds(silent_frames_));
  if (!whole) {
    say("the recording is not whole: '%s' and '%s' stay as they are, and '%s' was not replaced",
                 shown(wav_part_).c_str(), shown(edits_part_).c_str(), shown(wav_path_).c_str());
    return false;
  }
  if (std::rename(wav_part_.c_str(), wav_path_.c_str()) != 0) {
    say("cannot put '%s' in place as '%s': %s", shown(wav_part_).c_str(), shown(wav_path_).c_str(), reason().c_str());
    return false;
  }
  if (std::rename(edits_part_.c_str(), edits_path_.c_str()) != 0) {
    say("cannot put '%s' in place as '%s': %s", shown(edits_part_).c_str(), shown(edits_path_).c_str(),
                 reason().c_str());
    return false;
  }
  say("recorded %.2f s to '%s', and what was played when to '%s'", seconds(ring_.drained()),
               shown(wav_path_).c_str(), shown(edits_path_).c_str());
  return true;
}

}  // namespace

bool record_start(const char* wav_path, unsigned rate, const char* tune_file, std::string* error) {
  KEL_ASSERT(recording == nullptr);
  if (wav_path == nullptr || *wav_path == '\0' || rate == 0) {
    *error = "no file to record to";
    return false;
  }
  auto made = std::make_unique<Recording>(wav_path, rate);
  if (!made->start(tune_file, error)) return false;
  recording = made.release();
  tap_ring.store(&recording->ring(), std::memory_order_release);
  taps_add_stream(record_tap);
  live_listen(on_edit);
  return true;
}

void record_update() {
  if (recording) recording->update();
}

bool record_finish() { return recording == nullptr || recording->finish(); }
