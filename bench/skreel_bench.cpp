// The bytebeat engine's speed: one evaluation of a program by the stack
// machine beside the same formula compiled natively, for four tunes of 1, 9,
// 64 and 256 instructions; and the audio callback's time for one 1024-frame
// buffer at 44100 Hz, as a share of that buffer's real-time length.
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "keltoolkit/skreelplayer/skreel.h"

namespace {

// ---------------------------------------------------------------------------
// Generated programs: "t" followed by blocks that each fold one more term
// into the value on the stack.

enum Kind { XORT, ADDC, MULC, ORT, SHRC, NOT };
struct Block {
  Kind kind;
  uint32_t c;
};

constexpr int ops_of(Kind k) { return (k == XORT || k == ORT) ? 4 : k == NOT ? 1 : 2; }

// One cycle of six blocks is 15 instructions.
constexpr std::array<Kind, 6> kCycle = {XORT, ADDC, MULC, ORT, SHRC, NOT};

template <std::size_t N>
constexpr std::array<Block, N> make_blocks(const std::array<Kind, N>& kinds) {
  std::array<Block, N> blocks{};
  for (std::size_t i = 0; i < N; ++i) {
    const uint32_t n = static_cast<uint32_t>(i);
    uint32_t c = 0;
    switch (kinds[i]) {
      case XORT: c = 1 + n % 9; break;
      case SHRC: c = 1 + n % 3; break;
      case ADDC: c = 0x1234 + 77 * n; break;
      case MULC: c = 3 + 2 * n; break;
      case ORT: c = 5 + n % 11; break;
      case NOT: break;
    }
    blocks[i] = {kinds[i], c};
  }
  return blocks;
}

template <std::size_t Cycles, std::size_t Extra>
constexpr auto make_kinds(const std::array<Kind, Extra>& extra) {
  std::array<Kind, Cycles * kCycle.size() + Extra> kinds{};
  std::size_t at = 0;
  for (std::size_t c = 0; c < Cycles; ++c)
    for (Kind k : kCycle) kinds[at++] = k;
  for (Kind k : extra) kinds[at++] = k;
  return kinds;
}

// 1 + 4 x 15 + 2 + 1 = 64 and 1 + 17 x 15 = 256 instructions.
constexpr auto kBlocks64 = make_blocks(make_kinds<4>(std::array<Kind, 2>{ADDC, NOT}));
constexpr auto kBlocks256 = make_blocks(make_kinds<17>(std::array<Kind, 0>{}));

template <std::size_t N>
constexpr int ops_of(const std::array<Block, N>& blocks) {
  int n = 1;
  for (const Block& b : blocks) n += ops_of(b.kind);
  return n;
}
static_assert(ops_of(kBlocks64) == 64);
static_assert(ops_of(kBlocks256) == 256);

template <Kind K>
inline uint32_t apply(uint32_t acc, uint32_t c, uint32_t t) {
  if constexpr (K == XORT) return acc ^ (t >> c);
  if constexpr (K == ADDC) return acc + c;
  if constexpr (K == MULC) return acc * c;
  if constexpr (K == ORT) return acc | (t * c);
  if constexpr (K == SHRC) return acc >> c;
  if constexpr (K == NOT) return ~acc;
  return acc;
}

// The blocks unrolled at compile time into straight-line native code.
template <const auto& Blocks, std::size_t... I>
inline uint32_t native_blocks(uint32_t t, std::index_sequence<I...>) {
  uint32_t acc = t;
  ((acc = apply<Blocks[I].kind>(acc, Blocks[I].c, t)), ...);
  return acc & 255u;
}

template <const auto& Blocks>
uint32_t native_generated(uint32_t t) {
  return native_blocks<Blocks>(t, std::make_index_sequence<Blocks.size()>{});
}

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X", v);
  return buf;
}

// The same blocks as URL text (every number follows a letter, so none run
// together).
template <std::size_t N>
std::string url_of(const std::array<Block, N>& blocks) {
  std::string url = "compiled!a";
  for (const Block& b : blocks) {
    const char* before = (b.kind == XORT || b.kind == ORT) ? "a" : "";
    const char* after = "";
    switch (b.kind) {
      case XORT: after = "kn"; break;
      case ADDC: after = "f"; break;
      case MULC: after = "d"; break;
      case ORT: after = "dm"; break;
      case SHRC: after = "k"; break;
      case NOT: after = "o"; break;
    }
    url.append(before);
    if (b.kind != NOT) url.append(hex(b.c));
    url.append(after);
  }
  return url;
}

// ---------------------------------------------------------------------------
// The four tunes

uint32_t native_saw(uint32_t t) { return t & 255u; }
// t t 8 >> t 10 >> | *
uint32_t native_classic(uint32_t t) { return (t * ((t >> 8) | (t >> 10))) & 255u; }

struct Tune {
  const char* name;
  std::string url;
  int ops;
  uint32_t (*native)(uint32_t);
  SKREELCODEARRAY code{};
};

std::vector<Tune>& tunes() {
  static std::vector<Tune> list = [] {
    std::vector<Tune> l;
    l.push_back({"saw", "compiled!a", 1, native_saw});
    l.push_back({"classic", "compiled!aa8kaAkmd", 9, native_classic});
    l.push_back({"gen64", url_of(kBlocks64), 64, native_generated<kBlocks64>});
    l.push_back({"gen256", url_of(kBlocks256), 256, native_generated<kBlocks256>});
    for (Tune& tune : l) {
      // Decode without the report line, then check that the machine and the
      // native formula agree before anything is measured.
      const std::string code = tune.url.substr(tune.url.find('!'));
      const int n = skreel_decode_code_block(code.c_str(), tune.code.op.data(), 256);
      tune.code.count = static_cast<uint16_t>(n);
      STACK stack{}, memory{};
      std::array<VAL32, 8> inputs{};
      for (uint32_t t = 0; t < 100000; t += 7) {
        if (n != tune.ops || skreel_do_t_func(&tune.code, &stack, &memory, inputs.data(), t) != tune.native(t)) {
          std::fprintf(stderr, "%s: the machine and the native formula disagree (count %d)\n", tune.name, n);
          std::abort();
        }
      }
    }
    return l;
  }();
  return list;
}

// Per evaluation: the threaded machine on the prepared program, one value
// of `t` at a time (the path of programs without a block plan), beside the
// formula compiled natively and inlined.
void BM_Machine(benchmark::State& state, int which) {
  const Tune& tune = tunes()[static_cast<std::size_t>(which)];
  static SKREELPROGRAM program;
  skreel_prepare(&tune.code, &program);
  STACK stack{}, memory{};
  std::array<VAL32, 8> inputs{};
  VAL32 t = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(skreel_run(&program, &stack, &memory, inputs.data(), t++));
  }
  state.counters["evals/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.SetLabel(std::to_string(tune.ops) + " ops");
}

template <uint32_t (*Native)(uint32_t)>
void BM_Native(benchmark::State& state) {
  uint32_t t = 0;
  for (auto _ : state) {
    uint32_t now = t++;
    benchmark::DoNotOptimize(now);
    benchmark::DoNotOptimize(Native(now));
  }
  state.counters["evals/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Per buffer: 1024 consecutive values of `t` at once (the block plan),
// beside the native formula over the same values. `ns/eval` is the time of
// one evaluation within the buffer.
constexpr int kValues = 1024;

void per_eval_counter(benchmark::State& state) {
  state.counters["s/eval"] = benchmark::Counter(static_cast<double>(kValues),
                                                benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Block(benchmark::State& state, int which) {
  const Tune& tune = tunes()[static_cast<std::size_t>(which)];
  static SKREELPROGRAM program;
  if (skreel_prepare(&tune.code, &program) != 1) state.SkipWithError("no block plan");
  STACK stack{}, memory{};
  std::array<VAL32, 8> inputs{};
  std::array<VAL32, kValues> t{};
  std::array<VAL8, kValues> out{};
  VAL32 next = 0;
  for (auto _ : state) {
    for (VAL32& v : t) v = next++;
    skreel_run_many(&program, &stack, &memory, inputs.data(), t.data(), kValues, out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  per_eval_counter(state);
  state.SetLabel(std::to_string(tune.ops) + " ops");
}

template <uint32_t (*Native)(uint32_t)>
void BM_NativeBlock(benchmark::State& state) {
  std::array<VAL32, kValues> t{};
  std::array<VAL8, kValues> out{};
  VAL32 next = 0;
  for (auto _ : state) {
    for (VAL32& v : t) v = next++;
    benchmark::DoNotOptimize(t.data());
    for (int i = 0; i < kValues; ++i) out[static_cast<std::size_t>(i)] = static_cast<VAL8>(Native(t[static_cast<std::size_t>(i)]));
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  per_eval_counter(state);
}

BENCHMARK_CAPTURE(BM_Machine, saw, 0);
BENCHMARK_TEMPLATE(BM_Native, native_saw)->Name("BM_Native/saw");
BENCHMARK_CAPTURE(BM_Machine, classic, 1);
BENCHMARK_TEMPLATE(BM_Native, native_classic)->Name("BM_Native/classic");
BENCHMARK_CAPTURE(BM_Machine, gen64, 2);
BENCHMARK_TEMPLATE(BM_Native, native_generated<kBlocks64>)->Name("BM_Native/gen64");
BENCHMARK_CAPTURE(BM_Machine, gen256, 3);
BENCHMARK_TEMPLATE(BM_Native, native_generated<kBlocks256>)->Name("BM_Native/gen256");

BENCHMARK_CAPTURE(BM_Block, saw, 0);
BENCHMARK_TEMPLATE(BM_NativeBlock, native_saw)->Name("BM_NativeBlock/saw");
BENCHMARK_CAPTURE(BM_Block, classic, 1);
BENCHMARK_TEMPLATE(BM_NativeBlock, native_classic)->Name("BM_NativeBlock/classic");
BENCHMARK_CAPTURE(BM_Block, gen64, 2);
BENCHMARK_TEMPLATE(BM_NativeBlock, native_generated<kBlocks64>)->Name("BM_NativeBlock/gen64");
BENCHMARK_CAPTURE(BM_Block, gen256, 3);
BENCHMARK_TEMPLATE(BM_NativeBlock, native_generated<kBlocks256>)->Name("BM_NativeBlock/gen256");

// ---------------------------------------------------------------------------
// The callback: one 1024-frame buffer at 44100 Hz (23.22 ms of sound, 185
// evaluations at the default 8000 steps a second). The empty program is the
// baseline: hand-over check, phase, filter and hold without evaluation.

constexpr int kFrames = 1024;
constexpr int kRate = 44100;
constexpr double kBufferSeconds = static_cast<double>(kFrames) / kRate;

void BM_Callback(benchmark::State& state, const char* url) {
  skreel_reset();
  std::vector<int16_t> buffer(kFrames * 2);
  skreel_play_url(nullptr);
  skreel_play_url(url);
  skreelplayer_callback(buffer.data(), kFrames, kRate);  // adopt outside the timing
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    skreelplayer_callback(buffer.data(), kFrames, kRate);
    benchmark::ClobberMemory();
  }
  const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
  skreel_play_url(nullptr);
  // Wall time per buffer against the buffer's own length: the share in parts
  // per million, and how many such buffers would fit in real time.
  const double per_buffer = spent.count() / static_cast<double>(state.iterations());
  state.counters["rt_share_ppm"] = per_buffer / kBufferSeconds * 1e6;
  state.counters["headroom_x"] = kBufferSeconds / per_buffer;
}

const std::string& url_64() {
  static const std::string url = url_of(kBlocks64);
  return url;
}

const std::string& url_256() {
  static const std::string url = url_of(kBlocks256);
  return url;
}

BENCHMARK_CAPTURE(BM_Callback, empty, "compiled!")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Callback, saw, "compiled!a")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Callback, classic, "compiled!aa8kaAkmd")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Callback, gen256, url_256().c_str())->Unit(benchmark::kMicrosecond);

// The callback with one step of `t` per frame (the tune's rate set to the
// stream's: 1024 evaluations a buffer), beside the same job written
// natively: the formula inlined, the same filter, the same stereo add.
void BM_CallbackEveryFrame(benchmark::State& state, const char* url) {
  skreel_reset();
  skreel_set_rate(static_cast<float>(kRate));
  std::vector<int16_t> buffer(kFrames * 2);
  skreel_play_url(nullptr);
  skreel_play_url(url);
  skreelplayer_callback(buffer.data(), kFrames, kRate);
  for (auto _ : state) {
    skreelplayer_callback(buffer.data(), kFrames, kRate);
    benchmark::ClobberMemory();
  }
  skreel_play_url(nullptr);
  per_eval_counter(state);
}

int16_t native_to_int16(float value) {
  if (!(value == value)) return 0;
  if (value >= 32767.0f) return 32767;
  if (value <= -32768.0f) return -32768;
  return static_cast<int16_t>(value);
}

template <uint32_t (*Native)(uint32_t)>
void BM_NativeJob(benchmark::State& state) {
  std::vector<int16_t> buffer(kFrames * 2);
  VAL32 t = 0;
  int16_t otm1 = 0, last = 0;
  float volume = 1.0f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(volume);
    for (int frame = 0; frame < kFrames; ++frame) {
      ++t;
      const int x = static_cast<int>(Native(t) & 255u) * 128;
      otm1 = native_to_int16(static_cast<float>(x - last) + 0.999f * static_cast<float>(otm1));
      last = static_cast<int16_t>(x);
      const int16_t val16 = native_to_int16(static_cast<float>(otm1) * volume);
      int16_t* at = buffer.data() + 2 * frame;
      at[0] = static_cast<int16_t>(static_cast<uint16_t>(at[0]) + static_cast<uint16_t>(val16));
      at[1] = static_cast<int16_t>(static_cast<uint16_t>(at[1]) + static_cast<uint16_t>(val16));
    }
    benchmark::ClobberMemory();
  }
  per_eval_counter(state);
}

BENCHMARK_CAPTURE(BM_CallbackEveryFrame, saw, "compiled!a");
BENCHMARK_TEMPLATE(BM_NativeJob, native_saw)->Name("BM_NativeJob/saw");
BENCHMARK_CAPTURE(BM_CallbackEveryFrame, classic, "compiled!aa8kaAkmd");
BENCHMARK_TEMPLATE(BM_NativeJob, native_classic)->Name("BM_NativeJob/classic");
BENCHMARK_CAPTURE(BM_CallbackEveryFrame, gen64, url_64().c_str());
BENCHMARK_TEMPLATE(BM_NativeJob, native_generated<kBlocks64>)->Name("BM_NativeJob/gen64");
BENCHMARK_CAPTURE(BM_CallbackEveryFrame, gen256, url_256().c_str());
BENCHMARK_TEMPLATE(BM_NativeJob, native_generated<kBlocks256>)->Name("BM_NativeJob/gen256");

}  // namespace
