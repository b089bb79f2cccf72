// skreel: the bytebeat engine's face (URL text decoder, player and audio
// callback, encoder and listing). The stack machine is in machine/.
#include "keltoolkit/skreelplayer/skreel.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "framework/core/escape.h"
#include "framework/core/kel_shared.h"
#include "framework/core/log.h"
#include "keltoolkit/skreelplayer/player.h"
#include "keltoolkit/skreelplayer/skreel_live.h"

namespace {

// ---------------------------------------------------------------------------
// Shared helpers

// Both text buffers (the encoder's URL text and the listing) hold this many
// characters and the NUL.
constexpr std::size_t kTextCapacity = 1024;
constexpr std::size_t kMaxTextLength = kTextCapacity - 1;

constexpr int kMaxInstructions = 256;
constexpr std::string_view kPrefix = "skreel://";

// The URL letters of ids 1 to 46 (op_map without the separator).
constexpr std::string_view kLetters{op_map + 1, OP_COUNT - 1};

// White space as the C library classes it in the default locale. Written out
// so that a char with the top bit set is never handed to isspace.
constexpr bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool is_ascii_alnum(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

constexpr char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_ignoring_case(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (ascii_lower(*a) != ascii_lower(*b)) return false;
  }
  return *a == *b;
}

// Value of an upper-case hexadecimal digit of URL text, or -1.
constexpr int url_hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// ---------------------------------------------------------------------------
// Player state: skreel_player::player (player.h), written by the audio
// thread, except for skreel_reset at start-up and the volume and rate,
// which go through atomic_ref.

// The hand-over. The main thread stores the text to play; the audio thread
// adopts it at the start of a buffer (compared by address with the text it
// adopted last) and decodes it there.
//
// Who owns a text: the main thread hands a text over and must then leave it
// unchanged while it is handed over and not yet adopted (`to_play`), or
// while the audio thread has taken it (`taken`). The audio thread first
// publishes in `taken` what it is about to read, then checks that it is
// still the text handed over; only then does it read it. So once the main
// thread sees a text as neither handed over nor taken (all loads and stores
// here are sequentially consistent), the audio thread is not reading it and
// will not start to: it may be written again. `taken` keeps the text of the
// tune that plays until the next one is taken.
std::atomic<const char*> skreel_url_to_play{nullptr};
std::atomic<const char*> skreel_url_playing{nullptr};
std::atomic<const char*> skreel_url_taken{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);
static_assert(std::atomic_ref<float>::is_always_lock_free);

// Phase of `t` in billionths of a step.
constexpr uint64_t kPhaseOne = 1'000'000'000;
// The phase step is 64-bit: identical to a 32-bit step for every rate up to
// 3.29 times the stream's rate, and it keeps counting correctly above that.
// It is capped so that the accumulator (below kPhaseOne before each add)
// cannot overflow.
constexpr uint64_t kMaxPhaseStep = uint64_t{1} << 63;

uint64_t phase_step(float rate, int sample_rate) {
  // No stream rate, or a tune rate that is zero, negative or not a number:
  // `t` stands still and the output holds its last value.
  if (sample_rate <= 0) return 0;
  const double step = static_cast<double>(rate) / static_cast<double>(sample_rate) * 1e9;
  if (!(step > 0.0)) return 0;
  if (step >= static_cast<double>(kMaxPhaseStep)) return kMaxPhaseStep;
  return static_cast<uint64_t>(step);
}

// Float to 16 bits, truncated toward zero. Values beyond the 16-bit range
// (a volume above 1.0) are clamped to it; not-a-number gives 0.
int16_t to_int16(float value) {
  if (!(value == value)) return 0;
  if (value >= 32767.0f) return std::numeric_limits<int16_t>::max();
  if (value <= -32768.0f) return std::numeric_limits<int16_t>::min();
  return static_cast<int16_t>(value);
}

// 16-bit addition that wraps instead of clipping.
inline int16_t add_wrapping(int16_t a, int16_t b) {
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint16_t>(a) + static_cast<uint16_t>(b)));
}

// Adds `value` into both channels of frames [from, to).
void add_held(int16_t* buffer, int from, int to, int16_t value) {
  for (int frame = from; frame < to; ++frame) {
    const auto at = static_cast<std::size_t>(frame) * 2;
    buffer[at] = add_wrapping(buffer[at], value);
    buffer[at + 1] = add_wrapping(buffer[at + 1], value);
  }
}

// The change of the fade's gain in one frame at `sample_rate`.
float fade_step(int sample_rate) {
  const double frames = SKREEL_FADE_SECONDS * static_cast<double>(sample_rate);
  return frames > 1.0 ? static_cast<float>(1.0 / frames) : 1.0f;
}

// Adds the held output into frames [from, to): the filter's value as it is
// while the gain is whole, scaled by the gain, frame by frame, while it
// moves toward `target` (1 running, 0 not), and nothing once it is 0.
void add_output(int16_t* buffer, int from, int to, float target, float step) {
  skreel_player::Player& p = skreel_player::player;
  if (p.gain == target) {
    if (target == 1.0f) add_held(buffer, from, to, p.val16);
    return;
  }
  for (int frame = from; frame < to; ++frame) {
    p.gain = target > p.gain ? std::min(target, p.gain + step) : std::max(target, p.gain - step);
    add_held(buffer, frame, frame + 1, to_int16(static_cast<float>(p.val16) * p.gain));
  }
}

// ---------------------------------------------------------------------------
// Encoder and listing state (main thread)

std::array<char, kTextCapacity> encode_out{};
std::array<char, kTextCapacity> listing_out{};
SKREELCODEARRAY listing_code{};
int encode_error_offset = -1;
// The message of the last encoding that failed, as logged; empty otherwise.
std::array<char, 160> encode_error_text{};

// Logs `fmt` as a line that shows even when the log is quiet, and keeps it
// as the encoding's error.
__attribute__((format(printf, 1, 2))) void encode_error(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(encode_error_text.data(), encode_error_text.size(), fmt, args);
  va_end(args);
  kel_log_notice("%s\n", encode_error_text.data());
}

// Program text comes from files that people share, so none of its bytes may
// reach the terminal as a control character: an escape sequence in a tune
// could retitle, clear or recolour it. The echo writes control characters
// (every byte below 0x20 but new line and tab, 0x7F, and the C1 controls
// 0x80 to 0x9F, raw or in UTF-8) as "\x1b" (kel_escape's echo form); the
// NUL of the echo's stopping character stays a NUL byte. Messages that name
// a token escape every byte outside printable ASCII, so that a byte-order
// mark or a no-break space is visible there.

// Whether the echo has begun a line that it has not ended; a message is
// then put on a line of its own.
bool echo_line_open = false;

// Echoes `length` bytes of the text, as one piece of the log.
void echo(const char* bytes, std::size_t length) {
  if (length == 0 || kel_log_quiet()) return;  // the echo is informational
  const std::string shown = kel_escape(std::string_view(bytes, length), KEL_ESCAPE::kEcho);
  kel_log_write(shown.data(), shown.size());
  echo_line_open = bytes[length - 1] != '\n';
}

// Ends the echo's open line before a message.
void end_echo_line() {
  if (echo_line_open) kel_log_write("\n", 1);
  echo_line_open = false;
}

// `token` with every byte outside printable ASCII written as "\xNN". A
// token has at most 15 bytes, so the result (at most 60 and the NUL) fits.
std::array<char, 64> escaped_token(const char* token) {
  std::array<char, 64> out{};
  const std::string shown = kel_escape(token, KEL_ESCAPE::kAscii);
  std::memcpy(out.data(), shown.data(), std::min(shown.size(), out.size() - 1));
  return out;
}

constexpr std::string_view kCompiledHeader = "compiled!";

// Reads white space, an optional sign and a run of digits in `base` (10 or
// 16; for 16 an optional "0x" or "0X" may follow the sign), as the C
// library's "%u" and "%x" scans do: the value is taken modulo 2^32 after the
// sign is applied, and a run too long for 64 bits gives all ones. The rest of
// the text is ignored. Returns false when no number starts the text.
bool scan_unsigned(const char* text, unsigned base, unsigned* val) {
  const char* p = text;
  while (is_space(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  bool prefix = false;
  if (base == 16 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    prefix = true;
    p += 2;
  }
  uint64_t value = 0;
  bool overflow = false;
  int digits = 0;
  for (;; ++p, ++digits) {
    int digit = -1;
    if (*p >= '0' && *p <= '9') digit = *p - '0';
    else if (base == 16 && *p >= 'a' && *p <= 'f') digit = *p - 'a' + 10;
    else if (base == 16 && *p >= 'A' && *p <= 'F') digit = *p - 'A' + 10;
    if (digit < 0) break;
    if (value > (std::numeric_limits<uint64_t>::max() - static_cast<uint64_t>(digit)) / base) overflow = true;
    value = value * base + static_cast<uint64_t>(digit);
  }
  // "0x" without digits still scans: it reads as 0.
  if (digits == 0 && !prefix) return false;
  if (digits == 0) value = 0;
  if (overflow) value = std::numeric_limits<uint64_t>::max();
  else if (negative) value = uint64_t{0} - value;
  *val = static_cast<unsigned>(value);
  return true;
}

// A token as a number: "0x" followed by hexadecimal, else decimal. (The
// decimal scan of an unsigned and of a signed number accept the same tokens
// with the same 32-bit result, so one scan serves for both.)
bool token_number(const char* token, unsigned* val) {
  if (scan_hex_digit(token, val) == 1) return true;
  return scan_unsigned(token, 10, val);
}

}  // namespace

// ===========================================================================
// URL text decoding

const char* skip_prefix(const char* buf) noexcept {
  if (!buf) return nullptr;
  const char* found = std::strstr(buf, kPrefix.data());
  return found ? found + kPrefix.size() : buf;
}

int skreel_decode_opcode(char ch) noexcept {
  if (ch == '.') return OP_NOP;
  const std::size_t at = kLetters.find(ch);
  return at == std::string_view::npos ? -1 : static_cast<int>(at) + 1;
}

int skreel_decode_number(const char* buf, uint32_t* number) noexcept {
  if (!buf) return 0;
  uint32_t value = 0;
  int used = 0;
  for (int digit; (digit = url_hex_digit(buf[used])) >= 0; ++used) {
    value = value * 16u + static_cast<uint32_t>(digit);
  }
  if (used > 0 && number) *number = value;
  return used;
}

int skreel_decode_name(const char* buf, char* name) noexcept {
  if (!buf) return -1;
  for (int i = 0;; ++i) {
    const char c = buf[i];
    if (c == '\0' || c == '!') {
      if (name) name[i] = '\0';
      return i;
    }
    if (c != '_' && !is_ascii_alnum(c)) return -1;
    if (name) name[i] = c == '_' ? ' ' : c;
    if (i == 16) {
      if (name) name[i + 1] = '\0';
      return -2;
    }
  }
}

int skreel_decode_code_block(const char* buf, SKREELCODE* code, int maxlen) noexcept {
  if (!buf || !code) return -1;
  const char* p = buf;
  if (*p == '$') ++p;
  int cell = 0;
  while (*p != '\0' && cell < maxlen) {
    while (*p == '!' || *p == '.') ++p;
    uint32_t number = 0;
    if (const int used = skreel_decode_number(p, &number); used > 0) {
      code[cell++] = SKREELCODE{OP_PUSH_INT, number};
      p += used;
      continue;
    }
    const int id = *p == '\0' ? -1 : skreel_decode_opcode(*p);
    if (id <= 0) break;  // an unknown character, or the end after separators
    code[cell++] = SKREELCODE{static_cast<uint8_t>(id), 0};
    ++p;
  }
  return cell;
}

int skreel_decode_url_to_array(const char* buf, SKREELCODEARRAY* code) noexcept {
  if (!buf) {
    kel_log_notice("START DECODE ERROR!\n");
    return -2;
  }
  const char* p = skip_prefix(buf);
  std::array<char, 32> name{};
  if (*p == '!') {
    std::memcpy(name.data(), "unnamed", sizeof "unnamed");
  } else {
    const int length = skreel_decode_name(p, name.data());
    if (length < 0) {
      kel_log_notice("NAME DECODE ERROR!\n");
      return -1;
    }
    p += length;
  }
  if (*p != '!') {
    kel_log_notice("START DECODE ERROR!\n");
    return -2;
  }
  if (!code) {
    kel_log_notice("CODE DECODE ERROR! %d\n", -1);
    return -1;
  }
  *code = SKREELCODEARRAY{};
  const int ret = skreel_decode_code_block(p, code->op.data(), kMaxInstructions);
  if (ret < 0) {
    kel_log_notice("CODE DECODE ERROR! %d\n", ret);
    return ret;
  }
  code->count = static_cast<uint16_t>(ret);
  kel_log("DECODED '%s' %d opcodes\n", name.data(), ret);
  return ret;
}

// ===========================================================================
// Stack helpers

VAL32 skreel_pick(const STACK* stack, VAL8 off) noexcept {
  return stack->cell[static_cast<uint8_t>(stack->sp - off)];
}

void push(STACK* stack, VAL32 value) noexcept {
  ++stack->sp;
  stack->cell[stack->sp] = value;
}

VAL32 pop(STACK* stack) noexcept {
  const VAL32 value = stack->cell[stack->sp];
  --stack->sp;
  return value;
}

// ===========================================================================
// Player

namespace skreel_player {

Player player = [] {
  Player fresh;
  skreel_prepare(nullptr, &fresh.prepared);
  return fresh;
}();

int adopt(const char* url) noexcept {
  const int decoded = skreel_decode_url_to_array(url, &player.skreel.code);
  skreel_prepare(&player.skreel.code, &player.prepared);
  return decoded;
}

}  // namespace skreel_player

void skreel_reset(void) {
  skreel_player::Player& p = skreel_player::player;
  p.skreel = SKREELSTATE{};
  skreel_prepare(&p.skreel.code, &p.prepared);
  p.phase = 0;
  p.running = true;
  p.gain = 1.0f;
  skreel_player::reset_commands();
  skreel_url_to_play.store(nullptr);
  std::atomic_ref<float>(p.skreel.volume).store(1.0f);
  std::atomic_ref<float>(p.skreel.rate).store(8000.0f);
}

int skreel_play_url(const char* url) {
  const int pending = skreel_url_to_play.load() != skreel_url_playing.load() ? 1 : 0;
  skreel_url_to_play.store(url);
  if (url) {
    kel_set_skreel_callback(skreelplayer_callback);
  } else {
    kel_set_skreel_callback(nullptr);
    skreel_url_playing.store(nullptr);
  }
  return pending;
}

void skreel_reset_filter(void) {
  skreel_player::Player& p = skreel_player::player;
  p.val16 = p.lastval16 = p.otm1 = 0;
}

void skreel_set_volume(float volume) { std::atomic_ref<float>(skreel_player::player.skreel.volume).store(volume); }

float skreel_rate(void) { return std::atomic_ref<float>(skreel_player::player.skreel.rate).load(); }

void skreel_set_rate(float rate) { std::atomic_ref<float>(skreel_player::player.skreel.rate).store(rate); }

void skreelplayer_callback(int16_t* buffer, int stereo_sample_count, int sample_rate) noexcept {
  // Nothing on this thread may block on standard output: the decoder's
  // lines go to the log's ring and the main loop writes them.
  KelLogDeferred deferred_log;
  skreel_player::Player& p = skreel_player::player;

  // Hand-over: adopt a newly handed text at the start of the buffer. The
  // program is written here only, so an evaluation never sees half of one.
  const char* wanted = skreel_url_to_play.load();
  if (wanted != skreel_url_playing.load()) {
    skreel_url_taken.store(wanted);
    // Taken only while it is still the text handed over; otherwise the main
    // thread may be writing it, and the next buffer takes the newer one.
    if (skreel_url_to_play.load() == wanted) {
      skreel_url_playing.store(wanted);
      if (wanted) skreel_player::adopt(wanted);
    }
  }
  // The live commands, then what they leave: a new tune brings its rate.
  skreel_player::apply_commands();

  if (stereo_sample_count <= 0 || !buffer) return;
  const float step = fade_step(sample_rate);
  if (!p.running) {
    // `t` stands still; the held output fades out.
    add_output(buffer, 0, stereo_sample_count, 0.0f, step);
    skreel_player::silent.store(p.gain == 0.0f);
    return;
  }
  skreel_player::silent.store(false);

  const uint64_t divstep = phase_step(std::atomic_ref<float>(p.skreel.rate).load(), sample_rate);
  const skreel_player::VALUE_TAP tap = skreel_player::value_tap();
  std::array<VAL32, 8> inputs{};
  std::copy_n(p.skreel.inputs.begin(), 4, inputs.begin());
  const float volume = std::atomic_ref<float>(p.skreel.volume).load();
  VAL32 t = p.skreel.t;
  uint64_t phase = p.phase;

  // A chunk at a time: first the frames at which `t` makes a new value and
  // those values of `t`, then all their evaluations at once, then the filter
  // over them in order and the held output into the frames.
  std::array<VAL32, SKREEL_BLOCK_LANES> when;
  std::array<int, SKREEL_BLOCK_LANES> at_frame;
  std::array<VAL8, SKREEL_BLOCK_LANES> value;
  int frame = 0;
  while (frame < stereo_sample_count) {
    const int first = frame;
    int n = 0;
    for (; frame < stereo_sample_count && n < SKREEL_BLOCK_LANES; ++frame) {
      phase += divstep;
      if (phase < kPhaseOne) continue;
      const VAL32 old_t = t;
      if (phase < 2 * kPhaseOne) {
        ++t;
        phase -= kPhaseOne;
      } else {
        t += static_cast<VAL32>(phase / kPhaseOne);
        phase %= kPhaseOne;
      }
      // A step that wraps `t` round to a smaller value makes no new value.
      if (t > old_t) {
        when[static_cast<std::size_t>(n)] = t;
        at_frame[static_cast<std::size_t>(n)] = frame;
        ++n;
      }
    }
    skreel_run_many(&p.prepared, &p.skreel.stack, &p.skreel.memory, inputs.data(), when.data(), n, value.data());
    if (tap && n > 0) tap(when.data(), value.data(), n);
    int held_from = first;
    for (int k = 0; k < n; ++k) {
      const int next = at_frame[static_cast<std::size_t>(k)];
      add_output(buffer, held_from, next, 1.0f, step);
      const int x = value[static_cast<std::size_t>(k)] * 128;
      p.otm1 = to_int16(static_cast<float>(x - p.lastval16) + 0.999f * static_cast<float>(p.otm1));
      p.lastval16 = static_cast<int16_t>(x);
      p.val16 = to_int16(static_cast<float>(p.otm1) * volume);
      held_from = next;
    }
    add_output(buffer, held_from, frame, 1.0f, step);
  }
  p.skreel.t = t;
  p.phase = phase;
}

const char* skreel_url_adopted(void) { return skreel_url_taken.load(); }

const char* skreel_url_handed_over(void) { return skreel_url_to_play.load(); }

// ===========================================================================
// Encoding and listing

int scan_past_delimiter(const char* in, char delimit) {
  if (!in) return 0;
  int i = 0;
  while (in[i] != '\0') {
    if (in[i++] == delimit) break;
  }
  return i;
}

int skip_comments(const char* in) {
  if (!in) return 0;
  int i = 0;
  while (is_space(in[i])) ++i;
  if (in[i] != '(') return 0;
  return i + scan_past_delimiter(in + i, ')');
}

int get_token(const char* in, char* out, unsigned len) {
  if (!in || !out || len == 0) return 0;
  int i = 0;
  while (is_space(in[i])) ++i;
  unsigned stored = 0;
  // Every character examined here is echoed: the token's characters, then
  // the one that stopped the reading (white space or the terminating NUL). A
  // token cut at `len` characters has no stopping character; its last
  // character is consumed and dropped.
  const int start = i;
  bool stopped = false;
  while (stored < len) {
    const char c = in[i];
    if (c == '\0' || is_space(c)) {
      stopped = true;
      break;
    }
    out[stored++] = c;
    ++i;
  }
  echo(in + start, static_cast<std::size_t>(i - start) + (stopped ? 1 : 0));
  out[stored < len ? stored : len - 1] = '\0';
  return stored == 0 ? 0 : i;
}

const OP_INFO* op_lookup(const char* token) {
  if (!token) return nullptr;
  for (const OP_INFO& row : op_table) {
    if (row.name && equal_ignoring_case(row.name, token)) return &row;
  }
  return nullptr;
}

const OP_INFO* op_lookup_id(int id) {
  for (const OP_INFO& row : op_table) {
    if (row.id == id) return &row;
  }
  return nullptr;
}

int scan_hex_digit(const char* token, unsigned* val) {
  if (!token || !val || token[0] != '0' || token[1] != 'x') return 0;
  return scan_unsigned(token + 2, 16, val) ? 1 : 0;
}

const char* skreel_encode(const char* text) {
  encode_error_offset = -1;
  encode_error_text[0] = '\0';
  echo_line_open = false;
  if (!text) {
    encode_error("?NO TEXT TO ENCODE");
    encode_error_offset = 0;
    return nullptr;
  }
  // Built aside and copied out only when complete, so a failed call leaves
  // the previous result in place.
  std::array<char, kTextCapacity> out{};
  std::size_t used = kCompiledHeader.size();
  std::memcpy(out.data(), kCompiledHeader.data(), used);

  const char* in = text;
  for (;;) {
    for (int skip; (skip = skip_comments(in)) > 0;) in += skip;
    const char* token_start = in;
    while (is_space(*token_start)) ++token_start;

    std::array<char, 16> token{};
    const int consumed = get_token(in, token.data(), static_cast<unsigned>(token.size()));
    if (consumed == 0) break;

    std::array<char, 16> element{};
    unsigned value = 0;
    if (const OP_INFO* row = op_lookup(token.data())) {
      element[0] = op_map[row->id];
    } else if (token_number(token.data(), &value)) {
      std::snprintf(element.data(), element.size(), "%X", value);
    } else {
      end_echo_line();
      encode_error("?UNKNOWN SYMBOL: '%s'", escaped_token(token.data()).data());
      encode_error_offset = static_cast<int>(token_start - text);
      return nullptr;
    }
    const std::size_t length = std::strlen(element.data());
    if (used + length > kMaxTextLength) {
      end_echo_line();
      encode_error("?CODE TOO LONG: '%s' would take the URL text past %zu characters",
                   escaped_token(token.data()).data(), kMaxTextLength);
      encode_error_offset = static_cast<int>(token_start - text);
      return nullptr;
    }
    std::memcpy(out.data() + used, element.data(), length);
    used += length;
    in += consumed;
  }
  out[used] = '\0';
  std::memcpy(encode_out.data(), out.data(), used + 1);
  kel_log("out: '%s'\n", encode_out.data());
  return encode_out.data();
}

int skreel_encode_error_offset(void) { return encode_error_offset; }

int skreel_token_number(const char* token, unsigned* val) {
  if (!token || !val) return 0;
  return token_number(token, val) ? 1 : 0;
}

const char* skreel_encode_error(void) { return encode_error_text.data(); }

const char* skreel_decode_url_to_text(const char* url) {
  listing_out[0] = '\0';
  const int count = skreel_decode_url_to_array(url, &listing_code);
  if (count <= 0) return nullptr;

  std::size_t used = 0;
  for (int i = 0; i < count; ++i) {
    const SKREELCODE& ins = listing_code.op[static_cast<std::size_t>(i)];
    const OP_INFO* row = op_lookup_id(ins.id);
    if (!row) {
      listing_out[0] = '\0';
      return nullptr;
    }
    std::array<char, 16> element{};
    if (ins.id == OP_PUSH_INT) {
      std::snprintf(element.data(), element.size(), "%u ", ins.val);
    } else {
      std::snprintf(element.data(), element.size(), "%s ", row->name);
    }
    const std::size_t length = std::strlen(element.data());
    if (used + length > kMaxTextLength) {
      kel_log_notice("?LISTING TOO LONG: opcode %d of %d does not fit in %zu characters\n", i + 1, count,
              kMaxTextLength);
      listing_out[0] = '\0';
      return nullptr;
    }
    std::memcpy(listing_out.data() + used, element.data(), length + 1);
    used += length;
    kel_log("OP NAME: '%s' ID#%d VALUE: %u\n", row->name, static_cast<int>(ins.id), ins.val);
  }
  kel_log("CODE:\n%s\n", listing_out.data());
  return listing_out.data();
}
