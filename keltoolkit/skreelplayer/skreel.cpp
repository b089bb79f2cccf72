// skreel: the bytebeat engine (program model, URL text decoder, stack
// machine and audio callback, encoder and listing).
#include "keltoolkit/skreelplayer/skreel.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include "framework/core/kel.h"
#include "framework/core/log.h"

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
// Player state (written by the audio thread, except for skreel_reset at
// start-up and the volume and rate, which go through atomic_ref)

SKREELSTATE skreel{};

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

// Phase of `t` in billionths of a step, kept from call to call so that `t`
// advances at the tune's rate exactly, whatever the buffer size. Audio
// thread only, except for skreel_reset at start-up.
uint64_t t_freq = 0;
static_assert(std::atomic_ref<float>::is_always_lock_free);

// The program being played, prepared to run (audio thread only, except for
// skreel_reset at start-up).
SKREELPROGRAM prepared = [] {
  SKREELPROGRAM empty{};
  skreel_prepare(nullptr, &empty);
  return empty;
}();

// The output filter, kept from call to call and never reset.
int16_t val16 = 0;
int16_t lastval16 = 0;
int16_t otm1 = 0;

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

// ---------------------------------------------------------------------------
// Encoder and listing state (main thread)

std::array<char, kTextCapacity> encode_out{};
std::array<char, kTextCapacity> listing_out{};
SKREELCODEARRAY listing_code{};
int encode_error_offset = -1;

// Program text comes from files that people share, so none of its bytes may
// reach the terminal as a control character: an escape sequence in a tune
// could retitle, clear or recolour it. The echo writes control characters
// (every byte below 0x20 but new line and tab, and 0x7F) as "\x1b"; the
// NUL of the echo's stopping character stays a NUL byte. Messages that name
// a token escape every byte outside printable ASCII, so that a byte-order
// mark or a no-break space is visible there.
constexpr bool is_control(unsigned char c) { return (c < 0x20 && c != '\n' && c != '\t') || c == 0x7F; }

// Whether the echo has begun a line that it has not ended; a message is
// then put on a line of its own.
bool echo_line_open = false;

void echo_char(char c) {
  const auto byte = static_cast<unsigned char>(c);
  std::FILE* out = kel_log_stream();
  if (byte != 0 && is_control(byte)) {
    std::fprintf(out, "\\x%02x", byte);
  } else {
    std::fputc(byte, out);
  }
  echo_line_open = c != '\n';
}

// Ends the echo's open line before a message.
void end_echo_line() {
  if (echo_line_open) std::fputc('\n', kel_log_stream());
  echo_line_open = false;
}

// `token` with every byte outside printable ASCII written as "\xNN". A
// token has at most 15 bytes, so the result (at most 60 and the NUL) fits.
std::array<char, 64> escaped_token(const char* token) {
  std::array<char, 64> out{};
  std::size_t used = 0;
  for (const char* p = token; *p != '\0' && used + 5 <= out.size(); ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    if (byte >= 0x20 && byte < 0x7F) {
      out[used++] = *p;
    } else {
      std::snprintf(out.data() + used, out.size() - used, "\\x%02x", byte);
      used += 4;
    }
  }
  out[used] = '\0';
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

const char* skip_prefix(const char* buf) {
  if (!buf) return nullptr;
  const char* found = std::strstr(buf, kPrefix.data());
  return found ? found + kPrefix.size() : buf;
}

int skreel_decode_opcode(char ch) {
  if (ch == '.') return OP_NOP;
  const std::size_t at = kLetters.find(ch);
  return at == std::string_view::npos ? -1 : static_cast<int>(at) + 1;
}

int skreel_decode_number(const char* buf, uint32_t* number) {
  if (!buf) return 0;
  uint32_t value = 0;
  int used = 0;
  for (int digit; (digit = url_hex_digit(buf[used])) >= 0; ++used) {
    value = value * 16u + static_cast<uint32_t>(digit);
  }
  if (used > 0 && number) *number = value;
  return used;
}

int skreel_decode_name(const char* buf, char* name) {
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

int skreel_decode_code_block(const char* buf, SKREELCODE* code, int maxlen) {
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

int skreel_decode_url_to_array(const char* buf, SKREELCODEARRAY* code) {
  if (!buf) {
    kel_log_line("START DECODE ERROR!");
    return -2;
  }
  const char* p = skip_prefix(buf);
  std::array<char, 32> name{};
  if (*p == '!') {
    std::memcpy(name.data(), "unnamed", sizeof "unnamed");
  } else {
    const int length = skreel_decode_name(p, name.data());
    if (length < 0) {
      kel_log_line("NAME DECODE ERROR!");
      return -1;
    }
    p += length;
  }
  if (*p != '!') {
    kel_log_line("START DECODE ERROR!");
    return -2;
  }
  if (!code) {
    kel_log("CODE DECODE ERROR! %d\n", -1);
    return -1;
  }
  *code = SKREELCODEARRAY{};
  const int ret = skreel_decode_code_block(p, code->op.data(), kMaxInstructions);
  if (ret < 0) {
    kel_log("CODE DECODE ERROR! %d\n", ret);
    return ret;
  }
  code->count = static_cast<uint16_t>(ret);
  kel_log("DECODED '%s' %d opcodes\n", name.data(), ret);
  return ret;
}

// ===========================================================================
// Stack machine

VAL32 skreel_pick(const STACK* stack, VAL8 off) {
  return stack->cell[static_cast<uint8_t>(stack->sp - off)];
}

void push(STACK* stack, VAL32 value) {
  ++stack->sp;
  stack->cell[stack->sp] = value;
}

VAL32 pop(STACK* stack) {
  const VAL32 value = stack->cell[stack->sp];
  --stack->sp;
  return value;
}

// What every opcode does, written once. Each opcode of the list names the
// shape of its behaviour (a push, an operation on values, a stack word, a
// memory access or a stop) and, for the operations on values, the value it
// computes from the cells it takes: `b` is the top cell and `a` the one
// below (a unary operation reads only `a`, the top). The threaded machine,
// its fused steps, the shape table, the value functions and the block plan's
// lanes each give the shapes a meaning of their own and expand this table
// once per row of the list, so an opcode added to the list without a line
// here does not compile. Opcodes without behaviour stop the evaluation with
// 0, keeping what came before.
#define SKREEL_DO_OP_NOP SKREEL_STOP
#define SKREEL_DO_OP_TIME SKREEL_PUSH_TIME
#define SKREEL_DO_OP_PUSH_INT SKREEL_PUSH_NUMBER
#define SKREEL_DO_OP_DROP SKREEL_DROP
#define SKREEL_DO_OP_MUL SKREEL_BINARY(a * b)
#define SKREEL_DO_OP_DIV SKREEL_BINARY(b == 0 ? 0u : a / b)
#define SKREEL_DO_OP_ADD SKREEL_BINARY(a + b)
#define SKREEL_DO_OP_SUB SKREEL_BINARY(a - b)
#define SKREEL_DO_OP_MOD SKREEL_BINARY(b == 0 ? 0u : a % b)
#define SKREEL_DO_OP_i SKREEL_STOP
#define SKREEL_DO_OP_LSHIFT SKREEL_BINARY(a << (b & 31u))
#define SKREEL_DO_OP_RSHIFT SKREEL_BINARY(b <= 31u ? a >> b : 0u)
#define SKREEL_DO_OP_AND SKREEL_BINARY(a & b)
#define SKREEL_DO_OP_OR SKREEL_BINARY(a | b)
#define SKREEL_DO_OP_XOR SKREEL_BINARY(a ^ b)
#define SKREEL_DO_OP_NOT SKREEL_UNARY(~a)
#define SKREEL_DO_OP_DUP SKREEL_DUP
#define SKREEL_DO_OP_PICK SKREEL_PICK
#define SKREEL_DO_OP_SWAP SKREEL_SWAP
#define SKREEL_DO_OP_LT SKREEL_BINARY(a < b ? 0xFFFFFFFFu : 0u)
#define SKREEL_DO_OP_GT SKREEL_BINARY(a > b ? 0xFFFFFFFFu : 0u)
#define SKREEL_DO_OP_EQ SKREEL_BINARY(a == b ? 0xFFFFFFFFu : 0u)
#define SKREEL_DO_OP_FETCH SKREEL_FETCH
#define SKREEL_DO_OP_STORE SKREEL_STORE
#define SKREEL_DO_OP_INPUT0 SKREEL_PUSH_INPUT(0)
#define SKREEL_DO_OP_INPUT1 SKREEL_PUSH_INPUT(1)
#define SKREEL_DO_OP_INPUT2 SKREEL_PUSH_INPUT(2)
#define SKREEL_DO_OP_INPUT3 SKREEL_PUSH_INPUT(3)
#define SKREEL_DO_OP_H SKREEL_STOP
#define SKREEL_DO_OP_I SKREEL_STOP
#define SKREEL_DO_OP_J SKREEL_STOP
#define SKREEL_DO_OP_K SKREEL_STOP
#define SKREEL_DO_OP_L SKREEL_STOP
#define SKREEL_DO_OP_M SKREEL_STOP
#define SKREEL_DO_OP_N SKREEL_STOP
#define SKREEL_DO_OP_O SKREEL_STOP
#define SKREEL_DO_OP_P SKREEL_STOP
#define SKREEL_DO_OP_Q SKREEL_STOP
#define SKREEL_DO_OP_R SKREEL_STOP
#define SKREEL_DO_OP_S SKREEL_STOP
#define SKREEL_DO_OP_T SKREEL_STOP
#define SKREEL_DO_OP_U SKREEL_STOP
#define SKREEL_DO_OP_V SKREEL_STOP
#define SKREEL_DO_OP_W SKREEL_STOP
#define SKREEL_DO_OP_X SKREEL_STOP
#define SKREEL_DO_OP_Y SKREEL_STOP
#define SKREEL_DO_OP_Z SKREEL_STOP

namespace {

// ---------------------------------------------------------------------------
// The shape of every opcode, by id.

enum class Shape : uint8_t {
  kStop, kPushTime, kPushNumber, kPushInput, kDrop, kBinary, kUnary, kDup, kPick, kSwap, kFetch, kStore
};
struct OpShape {
  Shape shape;
  uint8_t input;  // which input a kPushInput reads
};

#define SKREEL_STOP OpShape{Shape::kStop, 0}
#define SKREEL_PUSH_TIME OpShape{Shape::kPushTime, 0}
#define SKREEL_PUSH_NUMBER OpShape{Shape::kPushNumber, 0}
#define SKREEL_PUSH_INPUT(k) OpShape{Shape::kPushInput, k}
#define SKREEL_DROP OpShape{Shape::kDrop, 0}
#define SKREEL_BINARY(expr) OpShape{Shape::kBinary, 0}
#define SKREEL_UNARY(expr) OpShape{Shape::kUnary, 0}
#define SKREEL_DUP OpShape{Shape::kDup, 0}
#define SKREEL_PICK OpShape{Shape::kPick, 0}
#define SKREEL_SWAP OpShape{Shape::kSwap, 0}
#define SKREEL_FETCH OpShape{Shape::kFetch, 0}
#define SKREEL_STORE OpShape{Shape::kStore, 0}
#define SKREEL_SHAPE_ROW(e, ...) SKREEL_DO_##e,
constexpr std::array<OpShape, OP_COUNT> kShapes{{SKREEL_OPCODES(SKREEL_SHAPE_ROW)}};
#undef SKREEL_SHAPE_ROW
#undef SKREEL_STOP
#undef SKREEL_PUSH_TIME
#undef SKREEL_PUSH_NUMBER
#undef SKREEL_PUSH_INPUT
#undef SKREEL_DROP
#undef SKREEL_BINARY
#undef SKREEL_UNARY
#undef SKREEL_DUP
#undef SKREEL_PICK
#undef SKREEL_SWAP
#undef SKREEL_FETCH
#undef SKREEL_STORE

// An id beyond the list stops, like the opcodes without behaviour.
constexpr Shape shape_of(unsigned id) { return id < OP_COUNT ? kShapes[id].shape : Shape::kStop; }

// ---------------------------------------------------------------------------
// The value of every operation on values, by opcode (0 for the others).

#define SKREEL_STOP return 0u
#define SKREEL_PUSH_TIME return 0u
#define SKREEL_PUSH_NUMBER return 0u
#define SKREEL_PUSH_INPUT(k) return 0u
#define SKREEL_DROP return 0u
#define SKREEL_BINARY(expr) return (expr)
#define SKREEL_UNARY(expr) return (expr)
#define SKREEL_DUP return 0u
#define SKREEL_PICK return 0u
#define SKREEL_SWAP return 0u
#define SKREEL_FETCH return 0u
#define SKREEL_STORE return 0u
template <int Op>
constexpr VAL32 value_of(VAL32 a, VAL32 b);
#define SKREEL_VALUE_ROW(e, ...)                             \
  template <>                                                \
  [[maybe_unused]] constexpr VAL32 value_of<e>(VAL32 a, VAL32 b) { \
    static_cast<void>(a);                                    \
    static_cast<void>(b);                                    \
    SKREEL_DO_##e;                                           \
  }
SKREEL_OPCODES(SKREEL_VALUE_ROW)
#undef SKREEL_VALUE_ROW

// The same for an opcode known only when the program is prepared.
VAL32 value_by_id(unsigned id, VAL32 a, VAL32 b) {
  switch (id) {
#define SKREEL_VALUE_CASE(e, ...) \
  case e:                         \
    return value_of<e>(a, b);
    SKREEL_OPCODES(SKREEL_VALUE_CASE)
#undef SKREEL_VALUE_CASE
    default:
      return 0;
  }
}
#undef SKREEL_STOP
#undef SKREEL_PUSH_TIME
#undef SKREEL_PUSH_NUMBER
#undef SKREEL_PUSH_INPUT
#undef SKREEL_DROP
#undef SKREEL_BINARY
#undef SKREEL_UNARY
#undef SKREEL_DUP
#undef SKREEL_PICK
#undef SKREEL_SWAP
#undef SKREEL_FETCH
#undef SKREEL_STORE

constexpr std::array<VAL32, 8> kZeroInputs{};

// ---------------------------------------------------------------------------
// The threaded machine
//
// A prepared program is a row of steps, each naming its handler: one per
// opcode of the list, then the fused pairs (a number or `t` followed by an
// operation on two values; a number followed by PICK), then the steps that
// end an evaluation. Each handler jumps straight to the next step's.
//
// The top of the stack lives in a register (`top`); the stack's cell at `sp`
// is stale while it does, every other cell holds its value. Every cell that
// the plain machine writes is written here too (a pop leaves the popped
// value in its cell), so the ring is left exactly as one instruction at a
// time would leave it. Memory accesses go through the memory's own cells
// after the top is written back, so a memory that is the stack itself reads
// and writes as it would one instruction at a time.

enum : uint8_t {
  kStepNumberThen = OP_COUNT,    // + the opcode of the operation
  kStepTimeThen = 2 * OP_COUNT,  // + the opcode of the operation
  kStepPickNumber = 3 * OP_COUNT,
  kStepEnd,    // pops the result
  kStepStop,   // an opcode without behaviour: result 0, nothing popped
  kStepEmpty,  // no instruction: result 0, the stack untouched
  kStepKinds
};

VAL8 run_steps(const SKREELSTEP* ip, STACK* stack, STACK* memory, const VAL32* in, VAL32 t) {
  VAL32* const cell = stack->cell.data();
  VAL32* const mem = memory->cell.data();
  uint8_t sp = stack->sp;
  VAL32 top = cell[sp];

#define SKREEL_NEXT goto* kHandlers[(++ip)->op]
#define SKREEL_AT(offset) cell[static_cast<uint8_t>(sp + (offset))]
#define SKREEL_PUSH(value)  \
  {                         \
    const VAL32 pushed = (value); \
    cell[sp] = top;         \
    ++sp;                   \
    top = pushed;           \
  }

  // One handler per opcode, as the table above says.
#define SKREEL_STOP goto stop
#define SKREEL_PUSH_TIME SKREEL_PUSH(t)
#define SKREEL_PUSH_NUMBER SKREEL_PUSH(ip->val)
#define SKREEL_PUSH_INPUT(k) SKREEL_PUSH(in[k])
#define SKREEL_DROP \
  {                 \
    cell[sp] = top; \
    --sp;           \
    top = cell[sp]; \
  }
#define SKREEL_BINARY(expr)  \
  {                          \
    const VAL32 b = top;     \
    cell[sp] = b;            \
    --sp;                    \
    const VAL32 a = cell[sp]; \
    top = (expr);            \
  }
#define SKREEL_UNARY(expr) \
  {                        \
    const VAL32 a = top;   \
    top = (expr);          \
  }
#define SKREEL_DUP \
  {                \
    cell[sp] = top; \
    ++sp;          \
  }
  // Pops n, then pushes the cell n below the new top (n modulo 256).
#define SKREEL_PICK                                     \
  {                                                     \
    const VAL32 n = top;                                \
    cell[sp] = n;                                       \
    top = SKREEL_AT(-1 - static_cast<int>(n & 0xFFu));  \
  }
#define SKREEL_SWAP                 \
  {                                 \
    const VAL32 under = SKREEL_AT(-1); \
    SKREEL_AT(-1) = top;            \
    top = under;                    \
  }
#define SKREEL_FETCH            \
  {                             \
    cell[sp] = top;             \
    top = mem[top & 0xFFu];     \
  }
#define SKREEL_STORE                 \
  {                                  \
    const VAL32 address = top;       \
    cell[sp] = address;              \
    --sp;                            \
    const VAL32 value = cell[sp];    \
    --sp;                            \
    mem[address & 0xFFu] = value;    \
    top = cell[sp];                  \
  }

  static const void* const kHandlers[kStepKinds] = {
#define SKREEL_HANDLER(e, ...) &&plain_##e,
      SKREEL_OPCODES(SKREEL_HANDLER)
#undef SKREEL_HANDLER
#define SKREEL_HANDLER(e, ...) &&number_##e,
      SKREEL_OPCODES(SKREEL_HANDLER)
#undef SKREEL_HANDLER
#define SKREEL_HANDLER(e, ...) &&time_##e,
      SKREEL_OPCODES(SKREEL_HANDLER)
#undef SKREEL_HANDLER
      &&pick_number, &&end, &&stop, &&empty};

  goto* kHandlers[ip->op];

#define SKREEL_PLAIN(e, ...) \
  plain_##e : SKREEL_DO_##e; \
  SKREEL_NEXT;
  SKREEL_OPCODES(SKREEL_PLAIN)
#undef SKREEL_PLAIN

  // "number op" and "t op" in one step: the pushed value stays in its cell
  // above the result, as the pop left it.
#undef SKREEL_BINARY
#define SKREEL_BINARY(expr) \
  {                         \
    const VAL32 b = OPERAND; \
    SKREEL_AT(1) = b;       \
    const VAL32 a = top;    \
    top = (expr);           \
  }
#undef SKREEL_STOP
#undef SKREEL_PUSH_TIME
#undef SKREEL_PUSH_NUMBER
#undef SKREEL_PUSH_INPUT
#undef SKREEL_DROP
#undef SKREEL_UNARY
#undef SKREEL_DUP
#undef SKREEL_PICK
#undef SKREEL_SWAP
#undef SKREEL_FETCH
#undef SKREEL_STORE
  // Only operations on two values are fused; the other handlers of these
  // two rows are never named by a step.
#define SKREEL_STOP goto stop
#define SKREEL_PUSH_TIME goto stop
#define SKREEL_PUSH_NUMBER goto stop
#define SKREEL_PUSH_INPUT(k) goto stop
#define SKREEL_DROP goto stop
#define SKREEL_UNARY(expr) goto stop
#define SKREEL_DUP goto stop
#define SKREEL_PICK goto stop
#define SKREEL_SWAP goto stop
#define SKREEL_FETCH goto stop
#define SKREEL_STORE goto stop
#define OPERAND ip->val
#define SKREEL_FUSED(e, ...)   \
  number_##e : SKREEL_DO_##e; \
  SKREEL_NEXT;
  SKREEL_OPCODES(SKREEL_FUSED)
#undef SKREEL_FUSED
#undef OPERAND
#define OPERAND t
#define SKREEL_FUSED(e, ...) \
  time_##e : SKREEL_DO_##e; \
  SKREEL_NEXT;
  SKREEL_OPCODES(SKREEL_FUSED)
#undef SKREEL_FUSED
#undef OPERAND

pick_number:
  // "n PICK" with n known: the number's cell is written before the read,
  // so n = 255 picks the number itself, as one instruction at a time would.
  cell[sp] = top;
  ++sp;
  cell[sp] = ip->val;
  top = SKREEL_AT(-1 - static_cast<int>(ip->arg));
  SKREEL_NEXT;

end:
  cell[sp] = top;
  stack->sp = static_cast<uint8_t>(sp - 1);
  return static_cast<VAL8>(top & 0xFFu);
stop:
  cell[sp] = top;
  stack->sp = sp;
  return 0;
empty:
  return 0;

#undef SKREEL_STOP
#undef SKREEL_PUSH_TIME
#undef SKREEL_PUSH_NUMBER
#undef SKREEL_PUSH_INPUT
#undef SKREEL_DROP
#undef SKREEL_BINARY
#undef SKREEL_UNARY
#undef SKREEL_DUP
#undef SKREEL_PICK
#undef SKREEL_SWAP
#undef SKREEL_FETCH
#undef SKREEL_STORE
#undef SKREEL_NEXT
#undef SKREEL_AT
#undef SKREEL_PUSH
}

// The steps of a program: its first `count` instructions (at most 256) up to
// the first that stops, with the common pairs fused.
void prepare_steps(const SKREELCODEARRAY& code, std::array<SKREELSTEP, 257>& step) {
  const unsigned count = std::min<unsigned>(code.count, kMaxInstructions);
  if (count == 0) {
    step[0] = SKREELSTEP{kStepEmpty, 0, 0};
    return;
  }
  std::size_t n = 0;
  for (unsigned i = 0; i < count; ++i) {
    const SKREELCODE& ins = code.op[i];
    const Shape shape = shape_of(ins.id);
    if (shape == Shape::kStop) {
      step[n] = SKREELSTEP{kStepStop, 0, 0};
      return;
    }
    const unsigned next = i + 1 < count ? code.op[i + 1].id : unsigned{OP_COUNT};
    const Shape next_shape = shape_of(next);
    if (shape == Shape::kPushNumber && next_shape == Shape::kBinary) {
      step[n++] = SKREELSTEP{static_cast<uint8_t>(kStepNumberThen + next), 0, ins.val};
      ++i;
    } else if (shape == Shape::kPushTime && next_shape == Shape::kBinary) {
      step[n++] = SKREELSTEP{static_cast<uint8_t>(kStepTimeThen + next), 0, 0};
      ++i;
    } else if (shape == Shape::kPushNumber && next_shape == Shape::kPick) {
      step[n++] = SKREELSTEP{kStepPickNumber, static_cast<uint8_t>(ins.val & 0xFFu), ins.val};
      ++i;
    } else {
      step[n++] = SKREELSTEP{ins.id, 0, ins.val};
    }
  }
  step[n] = SKREELSTEP{kStepEnd, 0, 0};
}

// ---------------------------------------------------------------------------
// The block plan
//
// Every stack depth of a program is known before it runs (each opcode has a
// fixed stack effect; an opcode without behaviour ends it), so every cell
// that an evaluation reads or writes lies at a known place relative to the
// `sp` it starts from, except for the cells of PICK with a computed depth
// and the memory of fetch and store. When a program has neither, and no
// evaluation reads a cell that an earlier evaluation of the same block
// writes, its evaluations do not depend on one another: the block plan then
// runs it for a whole block of `t` values at once, one operation over all
// lanes. Each value of the plan is a number (known now), a word that is the
// same for the whole block (computed once per block: inputs, cells below
// the program's own, and what follows from them), or a vector of one word
// per lane. After the lanes, the cells that the evaluations leave on the
// stack are written as the last evaluation of each place would leave them.

enum : uint8_t { kFormVV, kFormVU, kFormUV, kFormV };
enum : uint8_t { kUniformNumber, kUniformCell, kUniformInput, kUniformOp };
enum : uint8_t { kSourceNumber, kSourceUniform, kSourceVector };

constexpr int kLanes = SKREEL_BLOCK_LANES;
// Vector slots of the plan, lane 0 (the `t` values) included.
constexpr int kMaxSlots = 16;
constexpr std::size_t kMaxUniforms = std::tuple_size_v<decltype(SKREELPROGRAM::uniform)>;

struct Source {
  uint8_t kind;
  uint16_t index;  // uniform index or vector value
  VAL32 number;
};

constexpr Source number_source(VAL32 v) { return Source{kSourceNumber, 0, v}; }

bool is_power_of_two(VAL32 v) { return v != 0 && (v & (v - 1)) == 0; }

unsigned log2_of(VAL32 v) {
  unsigned n = 0;
  while (v > 1) {
    v >>= 1;
    ++n;
  }
  return n;
}

// Plans a program for the block path; the vector values are numbered in the
// order made (0 is `t`) and given slots at the end.
class Planner {
 public:
  explicit Planner(SKREELPROGRAM& program) : p_(program) {}

  // Plans the first `count` instructions; false when the program cannot run
  // on the block path.
  bool plan(const SKREELCODEARRAY& code, unsigned count) {
    Source result = number_source(0);
    bool stopped = false;
    for (unsigned i = 0; i < count && ok_ && !stopped; ++i) {
      const SKREELCODE& ins = code.op[i];
      const unsigned id = ins.id;
      switch (shape_of(id)) {
        case Shape::kStop:
          stopped = true;
          break;
        case Shape::kPushTime:
          push(Source{kSourceVector, 0, 0});
          break;
        case Shape::kPushNumber:
          push(number_source(ins.val));
          break;
        case Shape::kPushInput:
          push(input(kShapes[id].input));
          break;
        case Shape::kDrop:
          --depth_;
          break;
        case Shape::kBinary: {
          const Source b = read(depth_);
          const Source a = read(static_cast<uint8_t>(depth_ - 1));
          --depth_;
          write(depth_, binary(id, a, b));
          break;
        }
        case Shape::kUnary:
          write(depth_, unary(id, read(depth_)));
          break;
        case Shape::kDup:
          push(read(depth_));
          break;
        case Shape::kPick: {
          const Source n = read(depth_);
          --depth_;
          if (n.kind != kSourceNumber) return false;  // a depth known only when it runs
          push(read(static_cast<uint8_t>(depth_ - (n.number & 0xFFu))));
          break;
        }
        case Shape::kSwap: {
          const Source b = read(depth_);
          const Source a = read(static_cast<uint8_t>(depth_ - 1));
          write(depth_, a);
          write(static_cast<uint8_t>(depth_ - 1), b);
          break;
        }
        case Shape::kFetch:
        case Shape::kStore:
          return false;
      }
    }
    if (!ok_) return false;
    if (!stopped && count > 0) {
      result = read(depth_);
      --depth_;
    }
    // Evaluations are independent when every cell read from below is one
    // that no evaluation of the block writes: with `sp` back where it
    // started, a cell that this program never writes; with `sp` moving, no
    // cell from below at all.
    for (std::size_t pos = 0; pos < 256; ++pos) {
      if (!live_in_[pos]) continue;
      if (depth_ != 0 || written_[pos]) return false;
    }
    p_.delta = depth_;
    p_.result = keep_of(0, result);
    for (std::size_t pos = 0; pos < 256; ++pos) {
      if (written_[pos]) p_.keep[p_.keeps++] = keep_of(static_cast<uint8_t>(pos), at_[pos]);
    }
    return allocate();
  }

 private:
  SKREELKEEP keep_of(uint8_t pos, const Source& s) { return SKREELKEEP{pos, s.kind, s.index, s.number}; }

  Source read(uint8_t pos) {
    if (written_[pos]) return at_[pos];
    live_in_[pos] = true;
    if (cell_uniform_[pos] == 0) cell_uniform_[pos] = static_cast<uint16_t>(add_uniform({kUniformCell, 0, pos, 0, 0}) + 1);
    return Source{kSourceUniform, static_cast<uint16_t>(cell_uniform_[pos] - 1), 0};
  }

  void write(uint8_t pos, const Source& s) {
    written_[pos] = true;
    at_[pos] = s;
  }

  void push(const Source& s) {
    ++depth_;
    write(depth_, s);
  }

  Source input(uint8_t k) {
    if (input_uniform_[k] == 0) input_uniform_[k] = static_cast<uint16_t>(add_uniform({kUniformInput, 0, k, 0, 0}) + 1);
    return Source{kSourceUniform, static_cast<uint16_t>(input_uniform_[k] - 1), 0};
  }

  int add_uniform(const SKREELUNIFORM& u) {
    if (p_.uniforms >= kMaxUniforms) {
      ok_ = false;
      return 0;
    }
    p_.uniform[p_.uniforms] = u;
    return p_.uniforms++;
  }

  // A number or a block word as a uniform index.
  uint16_t as_uniform(const Source& s) {
    if (s.kind == kSourceUniform) return s.index;
    return static_cast<uint16_t>(add_uniform({kUniformNumber, 0, 0, 0, s.number}));
  }

  Source add_lane(unsigned id, uint8_t form, uint16_t a, uint16_t b) {
    SKREELLANEOP& op = p_.lane[p_.lanes++];
    op = SKREELLANEOP{static_cast<uint8_t>(id), form, 0, 0, a, b};
    value_of_lane_[p_.lanes - 1] = static_cast<uint16_t>(vectors_);
    return Source{kSourceVector, static_cast<uint16_t>(vectors_++), 0};
  }

  Source binary(unsigned id, const Source& a, const Source& b) {
    if (a.kind == kSourceNumber && b.kind == kSourceNumber) return number_source(value_by_id(id, a.number, b.number));
    // Division and remainder by a number: by 0 they give 0, by a power of
    // two they are a shift and a mask (the same words, unsigned).
    if (b.kind == kSourceNumber && (id == OP_DIV || id == OP_MOD)) {
      if (b.number == 0) return number_source(0);
      if (is_power_of_two(b.number)) {
        if (id == OP_DIV) return binary(OP_RSHIFT, a, number_source(log2_of(b.number)));
        return binary(OP_AND, a, number_source(b.number - 1));
      }
    }
    if (b.kind == kSourceNumber && id == OP_RSHIFT && b.number > 31u) return number_source(0);
    if (a.kind != kSourceVector && b.kind != kSourceVector) {
      const uint16_t ua = as_uniform(a), ub = as_uniform(b);
      return Source{kSourceUniform, static_cast<uint16_t>(add_uniform({kUniformOp, static_cast<uint8_t>(id), ua, ub, 0})), 0};
    }
    if (a.kind == kSourceVector && b.kind == kSourceVector) return add_lane(id, kFormVV, a.index, b.index);
    if (a.kind == kSourceVector) return add_lane(id, kFormVU, a.index, as_uniform(b));
    return add_lane(id, kFormUV, as_uniform(a), b.index);
  }

  Source unary(unsigned id, const Source& a) {
    if (a.kind == kSourceNumber) return number_source(value_by_id(id, a.number, 0));
    if (a.kind == kSourceUniform)
      return Source{kSourceUniform, static_cast<uint16_t>(add_uniform({kUniformOp, static_cast<uint8_t>(id), a.index, a.index, 0})), 0};
    return add_lane(id, kFormV, a.index, 0);
  }

  // Drops the operations whose values nothing needs, then gives every vector
  // value a slot, reusing a slot once its value's last reader has run (never
  // for that reader's own result, so no operation writes a slot it reads).
  bool allocate() {
    constexpr int kForever = 1 << 20;
    const int lanes = p_.lanes;
    std::array<int, 260> last_use{};
    std::array<bool, 260> needed{};
    auto need = [&](uint8_t kind, uint16_t value) {
      if (kind != kSourceVector) return;
      needed[value] = true;
      last_use[value] = kForever;
    };
    need(p_.result.kind, p_.result.src);
    for (int k = 0; k < p_.keeps; ++k) need(p_.keep[static_cast<std::size_t>(k)].kind, p_.keep[static_cast<std::size_t>(k)].src);
    // Backwards: an operation is needed when its value is.
    std::array<bool, 256> live_op{};
    for (int i = lanes - 1; i >= 0; --i) {
      const auto at = static_cast<std::size_t>(i);
      const SKREELLANEOP& op = p_.lane[at];
      if (!needed[value_of_lane_[at]]) continue;
      live_op[at] = true;
      if (reads_vector_a(op)) {
        needed[op.a] = true;
        last_use[op.a] = std::max(last_use[op.a], i);
      }
      if (reads_vector_b(op)) {
        needed[op.b] = true;
        last_use[op.b] = std::max(last_use[op.b], i);
      }
    }
    std::array<uint8_t, 260> slot_of{};  // value 0, `t`, lives in slot 0
    std::array<bool, kMaxSlots> busy{};
    busy[0] = true;
    int slots = 1;
    uint16_t kept = 0;
    for (int i = 0; i < lanes; ++i) {
      const auto at = static_cast<std::size_t>(i);
      if (!live_op[at]) continue;
      const SKREELLANEOP planned = p_.lane[at];
      std::size_t dst = 1;
      while (dst < busy.size() && busy[dst]) ++dst;
      if (dst == busy.size()) return false;
      busy[dst] = true;
      slots = std::max(slots, static_cast<int>(dst) + 1);
      slot_of[value_of_lane_[at]] = static_cast<uint8_t>(dst);
      SKREELLANEOP op = planned;
      op.dst = static_cast<uint8_t>(dst);
      if (reads_vector_a(planned)) {
        op.a = slot_of[planned.a];
        if (planned.a != 0 && last_use[planned.a] == i) busy[slot_of[planned.a]] = false;
      }
      if (reads_vector_b(planned)) {
        op.b = slot_of[planned.b];
        if (planned.b != 0 && last_use[planned.b] == i) busy[slot_of[planned.b]] = false;
      }
      p_.lane[kept++] = op;
    }
    p_.lanes = kept;
    p_.slots = static_cast<uint8_t>(slots);
    auto place = [&](SKREELKEEP& k) {
      if (k.kind == kSourceVector) k.src = slot_of[k.src];
    };
    place(p_.result);
    for (int k = 0; k < p_.keeps; ++k) place(p_.keep[static_cast<std::size_t>(k)]);
    return true;
  }

  static bool reads_vector_a(const SKREELLANEOP& op) { return op.form != kFormUV; }
  static bool reads_vector_b(const SKREELLANEOP& op) { return op.form == kFormVV || op.form == kFormUV; }

 private:
  SKREELPROGRAM& p_;
  std::array<Source, 256> at_{};
  std::array<bool, 256> written_{};
  std::array<bool, 256> live_in_{};
  std::array<uint16_t, 256> cell_uniform_{};  // uniform index + 1, 0 for none
  std::array<uint16_t, 4> input_uniform_{};
  std::array<uint16_t, 256> value_of_lane_{};
  uint8_t depth_ = 0;  // modulo 256, from the `sp` the evaluation starts at
  int vectors_ = 1;    // 0 is `t`
  bool ok_ = true;
};


// ---------------------------------------------------------------------------
// The block plan's lanes: one operation over every lane of the block, in
// loops the compiler turns into vector instructions where the target has
// them (and into plain ones where it has not).

using Lanes = VAL32[kLanes];

// Lanes go in groups of a fixed size (so that the loops below have a trip
// count the compiler knows); a block runs as many groups as it has values.
constexpr int kGroup = 32;
static_assert(kLanes % kGroup == 0);

// The loops over the lanes, built twice: for the baseline of the target and
// for processors with AVX2 (eight lanes an instruction, shifts by a count
// per lane, 32-bit multiplication), which the block runner picks when the
// processor has it.
#define SKREEL_LANE_LOOPS(suffix, target)                                                                   \
  template <int Op>                                                                                         \
  [[gnu::noinline]] target void lanes_vv##suffix(int groups, VAL32* __restrict d, const VAL32* __restrict a, \
                                                 const VAL32* __restrict b) {                               \
    for (int g = 0; g < groups; ++g, d += kGroup, a += kGroup, b += kGroup)                                 \
      for (int i = 0; i < kGroup; ++i) d[i] = value_of<Op>(a[i], b[i]);                                     \
  }                                                                                                         \
  template <int Op>                                                                                         \
  [[gnu::noinline]] target void lanes_vu##suffix(int groups, VAL32* __restrict d, const VAL32* __restrict a, \
                                                 VAL32 b) {                                                 \
    for (int g = 0; g < groups; ++g, d += kGroup, a += kGroup)                                              \
      for (int i = 0; i < kGroup; ++i) d[i] = value_of<Op>(a[i], b);                                        \
  }                                                                                                         \
  template <int Op>                                                                                         \
  [[gnu::noinline]] target void lanes_uv##suffix(int groups, VAL32* __restrict d, VAL32 a,                  \
                                                 const VAL32* __restrict b) {                               \
    for (int g = 0; g < groups; ++g, d += kGroup, b += kGroup)                                              \
      for (int i = 0; i < kGroup; ++i) d[i] = value_of<Op>(a, b[i]);                                        \
  }                                                                                                         \
  template <int Op>                                                                                         \
  [[gnu::noinline]] target void lanes_v##suffix(int groups, VAL32* __restrict d, const VAL32* __restrict a) { \
    for (int g = 0; g < groups; ++g, d += kGroup, a += kGroup)                                              \
      for (int i = 0; i < kGroup; ++i) d[i] = value_of<Op>(a[i], 0);                                        \
  }                                                                                                         \
  template <int Op>                                                                                         \
  void lanes_binary##suffix(int groups, const SKREELLANEOP& op, Lanes* lane, const VAL32* u) {               \
    switch (op.form) {                                                                                      \
      case kFormVV:                                                                                         \
        lanes_vv##suffix<Op>(groups, lane[op.dst], lane[op.a], lane[op.b]);                                 \
        break;                                                                                              \
      case kFormVU:                                                                                         \
        lanes_vu##suffix<Op>(groups, lane[op.dst], lane[op.a], u[op.b]);                                    \
        break;                                                                                              \
      case kFormUV:                                                                                         \
        lanes_uv##suffix<Op>(groups, lane[op.dst], u[op.a], lane[op.b]);                                    \
        break;                                                                                              \
      default:                                                                                              \
        break;                                                                                              \
    }                                                                                                       \
  }

#if defined(__x86_64__)
#define SKREEL_WIDE_TARGET __attribute__((target("avx2")))
SKREEL_LANE_LOOPS(_wide, SKREEL_WIDE_TARGET)
bool processor_is_wide() {
  __builtin_cpu_init();  // may run before the library's own start-up
  return __builtin_cpu_supports("avx2") != 0;
}
#else
bool processor_is_wide() { return false; }
#endif
// Asked once at start-up, so that the audio thread never waits on it.
const bool kWide = processor_is_wide();
SKREEL_LANE_LOOPS(, )
#undef SKREEL_LANE_LOOPS

template <bool Wide>
void run_lane_op(int groups, const SKREELLANEOP& op, Lanes* lane, const VAL32* u) {
#define SKREEL_STOP static_cast<void>(0)
#define SKREEL_PUSH_TIME static_cast<void>(0)
#define SKREEL_PUSH_NUMBER static_cast<void>(0)
#define SKREEL_PUSH_INPUT(k) static_cast<void>(0)
#define SKREEL_DROP static_cast<void>(0)
#if defined(__x86_64__)
#define SKREEL_BINARY(expr) \
  Wide ? lanes_binary_wide<kOp>(groups, op, lane, u) : lanes_binary<kOp>(groups, op, lane, u)
#define SKREEL_UNARY(expr) \
  Wide ? lanes_v_wide<kOp>(groups, lane[op.dst], lane[op.a]) : lanes_v<kOp>(groups, lane[op.dst], lane[op.a])
#else
#define SKREEL_BINARY(expr) lanes_binary<kOp>(groups, op, lane, u)
#define SKREEL_UNARY(expr) lanes_v<kOp>(groups, lane[op.dst], lane[op.a])
#endif
#define SKREEL_DUP static_cast<void>(0)
#define SKREEL_PICK static_cast<void>(0)
#define SKREEL_SWAP static_cast<void>(0)
#define SKREEL_FETCH static_cast<void>(0)
#define SKREEL_STORE static_cast<void>(0)
  switch (op.op) {
#define SKREEL_LANE_CASE(e, ...)             \
  case e: {                                  \
    [[maybe_unused]] constexpr int kOp = e;  \
    SKREEL_DO_##e;                           \
    break;                                   \
  }
    SKREEL_OPCODES(SKREEL_LANE_CASE)
#undef SKREEL_LANE_CASE
    default:
      break;
  }
#undef SKREEL_STOP
#undef SKREEL_PUSH_TIME
#undef SKREEL_PUSH_NUMBER
#undef SKREEL_PUSH_INPUT
#undef SKREEL_DROP
#undef SKREEL_BINARY
#undef SKREEL_UNARY
#undef SKREEL_DUP
#undef SKREEL_PICK
#undef SKREEL_SWAP
#undef SKREEL_FETCH
#undef SKREEL_STORE
}

// One block of at most kLanes evaluations, for t[0] .. t[n - 1].
void run_block(const SKREELPROGRAM& p, STACK* stack, const VAL32* in, const VAL32* t, int n, VAL8* out) {
  alignas(64) Lanes lane[kMaxSlots];
  VAL32 u[kMaxUniforms];
  const int groups = (n + kGroup - 1) / kGroup;
  std::copy_n(t, n, lane[0]);
  std::fill(lane[0] + n, lane[0] + groups * kGroup, 0u);
  VAL32* const cell = stack->cell.data();
  const uint8_t sp0 = stack->sp;

  for (std::size_t i = 0; i < p.uniforms; ++i) {
    const SKREELUNIFORM& w = p.uniform[i];
    switch (w.kind) {
      case kUniformNumber:
        u[i] = w.val;
        break;
      case kUniformCell:
        u[i] = cell[static_cast<uint8_t>(sp0 + w.a)];
        break;
      case kUniformInput:
        u[i] = in[w.a];
        break;
      default:
        u[i] = value_by_id(w.op, u[w.a], u[w.b]);
        break;
    }
  }
  if (kWide) {
    for (std::size_t i = 0; i < p.lanes; ++i) run_lane_op<true>(groups, p.lane[i], lane, u);
  } else {
    for (std::size_t i = 0; i < p.lanes; ++i) run_lane_op<false>(groups, p.lane[i], lane, u);
  }

  auto value = [&](const SKREELKEEP& k, int i) -> VAL32 {
    if (k.kind == kSourceVector) return lane[k.src][i];
    return k.kind == kSourceUniform ? u[k.src] : k.number;
  };
  if (p.result.kind == kSourceVector) {
    const VAL32* r = lane[p.result.src];
    const int whole = n / kGroup * kGroup;
    for (int g = 0; g < whole; g += kGroup)
      for (int i = 0; i < kGroup; ++i) out[g + i] = static_cast<VAL8>(r[g + i] & 0xFFu);
    for (int i = whole; i < n; ++i) out[i] = static_cast<VAL8>(r[i] & 0xFFu);
  } else {
    std::fill_n(out, n, static_cast<VAL8>(value(p.result, 0) & 0xFFu));
  }
  // The cells left on the stack: with `sp` back where it started every
  // evaluation writes the same cells and the last one's stay; otherwise
  // each evaluation writes its own, in order.
  for (int i = p.delta == 0 ? n - 1 : 0; i < n; ++i) {
    const auto base = static_cast<uint8_t>(sp0 + i * p.delta);
    for (std::size_t k = 0; k < p.keeps; ++k) {
      const SKREELKEEP& keep = p.keep[k];
      cell[static_cast<uint8_t>(base + keep.pos)] = value(keep, i);
    }
  }
  stack->sp = static_cast<uint8_t>(sp0 + n * p.delta);
}

constexpr SKREELCODEARRAY kEmptyProgram{};

}  // namespace

int skreel_prepare(const SKREELCODEARRAY* code, SKREELPROGRAM* program) {
  if (!program) return 0;
  const SKREELCODEARRAY& c = code ? *code : kEmptyProgram;
  *program = SKREELPROGRAM{};
  prepare_steps(c, program->step);
  const bool block = Planner(*program).plan(c, std::min<unsigned>(c.count, kMaxInstructions));
  if (!block) {
    program->uniforms = program->lanes = program->keeps = 0;
    program->result = SKREELKEEP{};
    program->delta = 0;
    program->slots = 0;
  }
  program->block = block ? 1 : 0;
  return program->block;
}

VAL8 skreel_run(const SKREELPROGRAM* program, STACK* stack, STACK* memory, const VAL32* inputs, VAL32 t) {
  if (!program || !stack || !memory) return 0;
  return run_steps(program->step.data(), stack, memory, inputs ? inputs : kZeroInputs.data(), t);
}

void skreel_run_many(const SKREELPROGRAM* program, STACK* stack, STACK* memory, const VAL32* inputs,
                     const VAL32* t, int n, VAL8* out) {
  if (!program || !stack || !memory || !t || !out || n <= 0) return;
  const VAL32* in = inputs ? inputs : kZeroInputs.data();
  if (program->block) {
    for (int done = 0; done < n; done += kLanes)
      run_block(*program, stack, in, t + done, std::min(kLanes, n - done), out + done);
  } else {
    for (int i = 0; i < n; ++i) out[i] = run_steps(program->step.data(), stack, memory, in, t[i]);
  }
}

VAL8 skreel_do_t_func(const SKREELCODEARRAY* codes, STACK* stack, STACK* memory, const VAL32* inputs,
                      VAL32 t) {
  if (!codes || !stack || !memory) return 0;
  const unsigned count = std::min<unsigned>(codes->count, kMaxInstructions);
  if (count == 0) return 0;
  // One plain step per instruction, without the fusing: for a single run
  // that is cheaper than preparing. An opcode without behaviour stops in its
  // own handler; an id beyond the list stops here.
  std::array<SKREELSTEP, 257> steps;
  for (unsigned i = 0; i < count; ++i) {
    const SKREELCODE& ins = codes->op[i];
    steps[i] = SKREELSTEP{ins.id < OP_COUNT ? ins.id : uint8_t{kStepStop}, 0, ins.val};
  }
  steps[count] = SKREELSTEP{kStepEnd, 0, 0};
  return run_steps(steps.data(), stack, memory, inputs ? inputs : kZeroInputs.data(), t);
}

// ===========================================================================
// Player

void skreel_reset(void) {
  skreel = SKREELSTATE{};
  skreel_prepare(&skreel.code, &prepared);
  t_freq = 0;
  skreel_url_to_play.store(nullptr);
  std::atomic_ref<float>(skreel.volume).store(1.0f);
  std::atomic_ref<float>(skreel.rate).store(8000.0f);
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

void skreel_reset_filter(void) { val16 = lastval16 = otm1 = 0; }

void skreel_set_volume(float volume) { std::atomic_ref<float>(skreel.volume).store(volume); }

float skreel_rate(void) { return std::atomic_ref<float>(skreel.rate).load(); }

void skreel_set_rate(float rate) { std::atomic_ref<float>(skreel.rate).store(rate); }

void skreelplayer_callback(int16_t* buffer, int stereo_sample_count, int sample_rate) {
  // Nothing on this thread may block on standard output: the decoder's
  // lines go to the log's ring and the main loop writes them.
  KelLogDeferred deferred_log;
  const uint64_t divstep = phase_step(std::atomic_ref<float>(skreel.rate).load(), sample_rate);

  // Hand-over: adopt a newly handed text at the start of the buffer. The
  // program is written here only, so an evaluation never sees half of one.
  const char* wanted = skreel_url_to_play.load();
  if (wanted != skreel_url_playing.load()) {
    skreel_url_taken.store(wanted);
    // Taken only while it is still the text handed over; otherwise the main
    // thread may be writing it, and the next buffer takes the newer one.
    if (skreel_url_to_play.load() == wanted) {
      skreel_url_playing.store(wanted);
      if (wanted) {
        skreel_decode_url_to_array(wanted, &skreel.code);
        skreel_prepare(&skreel.code, &prepared);
      }
    }
  }

  if (stereo_sample_count <= 0 || !buffer) return;

  std::array<VAL32, 8> inputs{};
  std::copy_n(skreel.inputs.begin(), 4, inputs.begin());
  const float volume = std::atomic_ref<float>(skreel.volume).load();
  VAL32 t = skreel.t;
  uint64_t phase = t_freq;

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
    skreel_run_many(&prepared, &skreel.stack, &skreel.memory, inputs.data(), when.data(), n, value.data());
    int held_from = first;
    for (int k = 0; k < n; ++k) {
      const int next = at_frame[static_cast<std::size_t>(k)];
      add_held(buffer, held_from, next, val16);
      const int x = value[static_cast<std::size_t>(k)] * 128;
      otm1 = to_int16(static_cast<float>(x - lastval16) + 0.999f * static_cast<float>(otm1));
      lastval16 = static_cast<int16_t>(x);
      val16 = to_int16(static_cast<float>(otm1) * volume);
      held_from = next;
    }
    add_held(buffer, held_from, frame, val16);
  }
  skreel.t = t;
  t_freq = phase;
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
  while (stored < len) {
    const char c = in[i];
    echo_char(c);
    if (c == '\0' || is_space(c)) break;
    out[stored++] = c;
    ++i;
  }
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
  echo_line_open = false;
  if (!text) {
    kel_log_line("?NO TEXT TO ENCODE");
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
      kel_log("?UNKNOWN SYMBOL: '%s'\n", escaped_token(token.data()).data());
      encode_error_offset = static_cast<int>(token_start - text);
      return nullptr;
    }
    const std::size_t length = std::strlen(element.data());
    if (used + length > kMaxTextLength) {
      end_echo_line();
      kel_log("?CODE TOO LONG: '%s' would take the URL text past %zu characters\n",
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
      kel_log("?LISTING TOO LONG: opcode %d of %d does not fit in %zu characters\n", i + 1, count,
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
