#include "hack/tonebrook/replay.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>

#include "framework/core/escape.h"
#include "framework/core/kel_assert.h"
#include "framework/core/log.h"
#include "hack/tonebrook/options.h"
#include "keltoolkit/skreelplayer/skreel.h"

namespace {

// The words of the edits, one per kind of command.
struct EDIT_WORD {
  SKREEL_COMMAND_KIND kind;
  std::string_view word;
};
constexpr std::array<EDIT_WORD, 6> kEditWords = {{
    {SKREEL_TUNE, "tune"},
    {SKREEL_SILENCE, "silence"},
    {SKREEL_VOLUME, "volume"},
    {SKREEL_PAUSE, "pause"},
    {SKREEL_RESTART, "restart"},
    {SKREEL_INPUTS, "inputs"},
}};

// The largest buffer the device line may name, and the largest edits file
// read (a performance of hours with a save every second is far smaller).
constexpr unsigned kMostBufferFrames = 65536;
constexpr std::size_t kMostEditsBytes = std::size_t{64} << 20;

std::string_view word_of(SKREEL_COMMAND_KIND kind) {
  for (const EDIT_WORD& w : kEditWords)
    if (w.kind == kind) return w.word;
  return "?";
}

// The shortest text that reads back to the same float.
std::string float_text(float v) {
  std::array<char, 32> text{};
  const auto result = std::to_chars(text.data(), text.data() + text.size(), v);
  return std::string(text.data(), result.ptr);
}

// A word of the file as a message shows it: printable ASCII as it is,
// every other byte as \xNN, and at most 40 bytes of it.
std::string shown(std::string_view word) {
  constexpr std::size_t kMost = 40;
  std::string out;
  for (const char c : word.substr(0, kMost)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      out.push_back(c);
    } else {
      std::array<char, 8> hex{};
      std::snprintf(hex.data(), hex.size(), "\\x%02x", byte);
      out.append(hex.data());
    }
  }
  if (word.size() > kMost) out.append("...");
  return out;
}

// The words of one line, separated by spaces or tabs.
class Words {
 public:
  explicit Words(std::string_view line) : rest_(line) {}
  // The next word; empty at the end of the line.
  std::string_view next() {
    skip_blanks();
    const std::size_t end = std::min(rest_.find_first_of(" \t"), rest_.size());
    const std::string_view word = rest_.substr(0, end);
    rest_.remove_prefix(end);
    return word;
  }
  // Takes what is left, without the blanks around it.
  std::string_view rest() {
    skip_blanks();
    std::string_view r = rest_;
    while (!r.empty() && (r.back() == ' ' || r.back() == '\t')) r.remove_suffix(1);
    rest_ = {};
    return r;
  }

 private:
  void skip_blanks() {
    const std::size_t start = std::min(rest_.find_first_not_of(" \t"), rest_.size());
    rest_.remove_prefix(start);
  }
  std::string_view rest_;
};

// Decimal digits only, that fit in T.
template <typename T>
bool whole_number(std::string_view s, T* out) {
  if (s.empty() || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
  const auto [end, status] = std::from_chars(s.data(), s.data() + s.size(), *out);
  return status == std::errc() && end == s.data() + s.size();
}

// A finite decimal number, as float_text writes it.
bool real_number(std::string_view s, float* out) {
  if (s.empty() || s[0] == '-' || s[0] == '+') return false;
  const auto [end, status] = std::from_chars(s.data(), s.data() + s.size(), *out);
  return status == std::errc() && end == s.data() + s.size() && std::isfinite(*out);
}

// URL text as the compilers make it: printable ASCII without spaces.
bool url_text(std::string_view s) {
  return !s.empty() && s.size() < 1024 && std::all_of(s.begin(), s.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

// Reads the value words that the edit `kind` takes from `words` into
// `edit`; returns false with what is wrong in `why`.
bool read_values(SKREEL_COMMAND_KIND kind, Words& words, PERFORMANCE_EDIT* edit, std::string* why) {
  switch (kind) {
    case SKREEL_TUNE: {
      const std::string_view rate = words.next();
      if (!real_number(rate, &edit->value) || edit->value < 1.0f || edit->value > 1e6f) {
        *why = "a tune wants its rate (1 to 1000000 steps of t a second), then its URL text, not '" + shown(rate) + "'";
        return false;
      }
      const std::string_view url = words.rest();
      if (!url_text(url)) {
        *why = url.empty() ? "the tune's URL text is missing"
                           : "'" + shown(url) + "' is not URL text (printable characters, no spaces, at most 1023)";
        return false;
      }
      edit->url = std::string(url);
      return true;
    }
    case SKREEL_VOLUME: {
      const std::string_view volume = words.next();
      if (real_number(volume, &edit->value) && edit->value <= 1.0f) return true;
      *why = "the volume is a number from 0 to 1, not '" + shown(volume) + "'";
      return false;
    }
    case SKREEL_PAUSE: {
      const std::string_view paused = words.next();
      if (paused == "0" || paused == "1") {
        edit->value = paused == "1" ? 1.0f : 0.0f;
        return true;
      }
      *why = "pause is 1 (paused) or 0 (on again), not '" + shown(paused) + "'";
      return false;
    }
    case SKREEL_INPUTS:
      for (VAL32& input : edit->inputs) {
        const std::string_view value = words.next();
        if (!whole_number(value, &input)) {
          *why = "inputs wants four whole numbers from 0 to 4294967295, not '" + shown(value) + "'";
          return false;
        }
      }
      return true;
    case SKREEL_SILENCE:
    case SKREEL_RESTART:
      return true;
  }
  return false;
}

bool read_file(const char* path, std::string* text, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = std::strerror(errno);
    return false;
  }
  std::array<char, 65536> chunk{};
  while (in) {
    in.read(chunk.data(), chunk.size());
    text->append(chunk.data(), static_cast<std::size_t>(in.gcount()));
    if (text->size() > kMostEditsBytes) {
      *error = "too large for an edits file";
      return false;
    }
  }
  if (in.bad()) {
    *error = std::strerror(errno);
    return false;
  }
  return true;
}

// The recording beside the edits file at `path`: its name without
// ".edits" (REC.wav.edits: REC.wav; REC.wav.edits.part: REC.wav.part).
std::string recording_beside(std::string_view path) {
  constexpr std::string_view kEdits = ".edits", kPart = ".part";
  if (path.ends_with(kEdits)) return std::string(path.substr(0, path.size() - kEdits.size()));
  const std::string edits_part = std::string(kEdits) + std::string(kPart);
  if (path.ends_with(edits_part)) return std::string(path.substr(0, path.size() - edits_part.size())) + std::string(kPart);
  return "";
}

// The frames a 16-bit stereo WAV file at `rate` Hz, as the recording
// writes it, holds in full; false when it is not such a file.
bool recorded_frames(const std::string& path, unsigned rate, uint64_t* frames) {
  std::ifstream in(path, std::ios::binary);
  std::array<unsigned char, 44> h{};
  if (!in.read(reinterpret_cast<char*>(h.data()), h.size())) return false;
  const std::array<unsigned char, 44> want = wav_header(rate, 0);
  // Everything but the two sizes must be as the recording writes it.
  for (std::size_t i = 0; i < h.size(); ++i)
    if ((i < 4 || i >= 8) && (i < 40) && h[i] != want[i]) return false;
  uint32_t data = 0;
  for (std::size_t i = 44; i-- > 40;) data = data << 8 | h[i];
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  const uint64_t held = static_cast<uint64_t>(std::max<off_t>(st.st_size, 44) - 44);
  *frames = std::min<uint64_t>(data, held) / 4;
  return true;
}

int refuse(const char* path, const std::string& why) {
  std::fprintf(stderr, "tonebrook: '%s', %s\n", kel_escape_name(path).c_str(), why.c_str());
  return kExitFailed;
}

}  // namespace

std::string performance_device_line(unsigned rate, unsigned buffer_frames) {
  return "device " + std::to_string(rate) + " " + std::to_string(buffer_frames);
}

std::string performance_edit_line(const SKREELEVENT& event, const char* url) {
  std::string line = "frame " + std::to_string(event.frame) + " " + std::string(word_of(event.kind));
  switch (event.kind) {
    case SKREEL_TUNE:
      line += " " + float_text(event.value) + " " + (url ? url : "");
      break;
    case SKREEL_VOLUME:
      line += " " + float_text(event.value);
      break;
    case SKREEL_PAUSE:
      line += event.value != 0.0f ? " 1" : " 0";
      break;
    case SKREEL_INPUTS:
      for (const VAL32 input : event.inputs) line += " " + std::to_string(input);
      break;
    case SKREEL_SILENCE:
    case SKREEL_RESTART:
      break;
  }
  return line;
}

std::string performance_end_line(uint64_t frame) { return "frame " + std::to_string(frame) + " end"; }

bool performance_parse(std::string_view text, PERFORMANCE* out, std::string* error) {
  PERFORMANCE p;
  bool have_device = false;
  std::size_t number = 0, end_line = 0;
  uint64_t last_frame = 0;
  int at_last_frame = 0;  // edits at last_frame
  std::string why;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t newline = std::min(text.find('\n', at), text.size());
    std::string_view line = text.substr(at, newline - at);
    at = newline + 1;
    ++number;
    if (line.ends_with('\r')) line.remove_suffix(1);
    const auto fail = [&](const std::string& what) {
      *error = "line " + std::to_string(number) + ": " + what;
      return false;
    };
    Words words(line);
    const std::string_view first = words.next();
    if (first.empty() || first[0] == '#') continue;
    if (end_line != 0) return fail("nothing may follow the end (line " + std::to_string(end_line) + ")");
    if (first == "device") {
      if (have_device) return fail("a second device line");
      const std::string rate(words.next());
      const std::string_view buffer = words.next();
      const long r = tonebrook_parse_rate(rate.c_str());
      if (r < static_cast<long>(TONEBROOK_LOWEST_RATE))
        return fail("the device's rate is a whole number of Hz from " + std::to_string(TONEBROOK_LOWEST_RATE) +
                    " to " + std::to_string(TONEBROOK_HIGHEST_RATE) + ", not '" + shown(rate) + "'");
      if (!whole_number(buffer, &p.buffer_frames) || p.buffer_frames == 0 || p.buffer_frames > kMostBufferFrames)
        return fail("the device's buffer is a whole number of frames from 1 to " + std::to_string(kMostBufferFrames) +
                    ", not '" + shown(buffer) + "'");
      if (!words.rest().empty()) return fail("the device line ends after the buffer size: device RATE BUFFER");
      p.rate = static_cast<unsigned>(r);
      have_device = true;
      continue;
    }
    if (first != "frame") return fail("expected 'device RATE BUFFER' or 'frame F EDIT', not '" + shown(first) + "'");
    if (!have_device) return fail("the device line comes first: device RATE BUFFER");
    const std::string_view frame_word = words.next();
    uint64_t frame = 0;
    if (!whole_number(frame_word, &frame)) return fail("the frame is a whole number, not '" + shown(frame_word) + "'");
    if (frame < last_frame)
      return fail("frame " + std::to_string(frame) + " comes before frame " + std::to_string(last_frame) +
                  ": the frames never go back");
    const std::string_view kind_word = words.next();
    if (kind_word == "end") {
      if (!words.rest().empty()) return fail("the end line is 'frame F end'");
      p.ended = true;
      p.end_frame = frame;
      end_line = number;
      continue;
    }
    const auto kind = std::find_if(kEditWords.begin(), kEditWords.end(),
                                   [&](const EDIT_WORD& w) { return w.word == kind_word; });
    if (kind == kEditWords.end())
      return fail("'" + shown(kind_word) + "' is not an edit: tune, silence, volume, pause, restart, inputs or end");
    if (frame % p.buffer_frames != 0)
      return fail("frame " + std::to_string(frame) + " does not start a buffer of " +
                  std::to_string(p.buffer_frames) + " frames");
    at_last_frame = frame == last_frame && !p.edits.empty() ? at_last_frame + 1 : 1;
    if (at_last_frame > SKREEL_COMMANDS_IN_FLIGHT)
      return fail("more than " + std::to_string(SKREEL_COMMANDS_IN_FLIGHT) + " edits at frame " +
                  std::to_string(frame) + ": the player takes up no more at once");
    last_frame = frame;
    PERFORMANCE_EDIT edit;
    edit.frame = frame;
    edit.kind = kind->kind;
    if (!read_values(edit.kind, words, &edit, &why)) return fail(why);
    if (const std::string_view more = words.rest(); !more.empty())
      return fail("'" + shown(more) + "' after " + std::string(kind_word) + ": the line ends there");
    p.edits.push_back(std::move(edit));
  }
  if (!have_device) {
    *error = "no device line: not the edits of a performance";
    return false;
  }
  if (p.ended && p.end_frame < last_frame) {
    *error = "line " + std::to_string(end_line) + ": the end comes before frame " + std::to_string(last_frame);
    return false;
  }
  *out = std::move(p);
  return true;
}

uint64_t replay_render(const PERFORMANCE& performance, uint64_t frames, const RENDER_SINK& sink) {
  std::size_t next = 0;
  const auto send_edits = [&](uint64_t frame) {
    bool sent = false;
    for (; next < performance.edits.size() && performance.edits[next].frame <= frame; ++next) {
      // The parser lets no more edits share a frame than the engine takes
      // at once, and every answer is taken after each buffer.
      const PERFORMANCE_EDIT& edit = performance.edits[next];
      const uint32_t seq = skreel_send(edit.kind, edit.value, edit.inputs.data(), edit.url.c_str());
      KEL_ASSERT(seq != 0);
      sent = true;
    }
    return sent;
  };
  return render_buffers(performance.rate, performance.buffer_frames, frames, send_edits, sink);
}

int replay_prepare(const COMMAND_LINE& line, RENDER_JOB* job) {
  const char* path = line.replay_path;
  std::string text, error;
  if (!read_file(path, &text, &error)) {
    std::fprintf(stderr, "tonebrook: cannot read '%s': %s\n", kel_escape_name(path).c_str(), error.c_str());
    return kExitFailed;
  }
  auto performance = std::make_shared<PERFORMANCE>();
  if (!performance_parse(text, performance.get(), &error)) return refuse(path, error);
  const double rate = performance->rate;

  uint64_t frames = 0;
  if (line.seconds_given) {
    frames = static_cast<uint64_t>(std::min(std::round(line.seconds * rate), static_cast<double>(kWavMaxFrames) + 1));
  } else if (performance->ended) {
    frames = performance->end_frame;
  } else {
    const std::string beside = recording_beside(path);
    if (beside.empty() || !recorded_frames(beside, performance->rate, &frames))
      return refuse(path, "has no end (the recording was cut short), and no recording beside it tells how long it "
                          "was: give --seconds");
    std::fprintf(stderr, "tonebrook: '%s' has no end (the recording was cut short): rendering the %.2f s that '%s' holds\n",
                 kel_escape_name(path).c_str(), static_cast<double>(frames) / rate, kel_escape_name(beside.c_str()).c_str());
  }
  if (frames == 0 && line.seconds_given) {
    std::fprintf(stderr, "tonebrook: --seconds %g is less than one sample at %u Hz\n", line.seconds, performance->rate);
    return kExitFailed;
  }
  if (frames == 0) return refuse(path, "holds no sound (0 frames): give --seconds");
  if (frames > kWavMaxFrames)
    return refuse(path, "is longer than a WAV file holds (" +
                            std::to_string(static_cast<long>(static_cast<double>(kWavMaxFrames) / rate)) +
                            " seconds at most)");

  float top = 0.0f;
  for (const PERFORMANCE_EDIT& edit : performance->edits)
    if (edit.kind == SKREEL_TUNE) top = std::max(top, edit.value);
  if (top == 0.0f) top = 8000.0f;
  job->rate = performance->rate;
  job->frames = frames;
  job->top_hz = std::min(rate, static_cast<double>(top)) / 2.0;
  job->render = [performance, frames](const RENDER_SINK& sink) { return replay_render(*performance, frames, sink); };
  return kExitDone;
}
