// The C formula compiler: the front end's time for a typical formula and
// for one of about 1000 characters; the compiled program's evaluation beside
// the same formula compiled natively (per buffer of 1024 values of t, as the
// player runs it); and the length of the programs of the published tunes in
// bench/c_tunes.txt beside their literal unsigned translation (median ratio,
// share over 256 instructions, the largest).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "framework/core/log.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "keltoolkit/skreelplayer/skreel_c.h"

namespace {

// ---------------------------------------------------------------------------
// Formulas, as text and natively (C's int rules written out on 32-bit words)

int32_t as_int(uint32_t v) { return static_cast<int32_t>(v); }
uint32_t as_word(int32_t v) { return static_cast<uint32_t>(v); }

constexpr const char* kTypical = "t*((t>>12|t>>8)&63&t>>4)";
uint32_t native_typical(uint32_t t) { return t * ((t >> 12 | t >> 8) & 63 & t >> 4); }

// A product that turns negative, shifted arithmetically by a masked count.
constexpr const char* kSigned = "(t*(t>>5|t>>8))>>(t>>16)";
uint32_t native_signed(uint32_t t) { return as_word(as_int(t * (t >> 5 | t >> 8)) >> ((t >> 16) & 31)); }

// A string literal, int division and remainder of values that turn negative.
constexpr const char* kStrings =
    "((t*(\"36364689\"[t>>13&7]&15))/12&128)+(((((t>>12)^(t>>12)-2)%11*t)/4|t>>13)&127)";
uint32_t native_strings(uint32_t u) {
  const int32_t t = as_int(u);
  const int32_t c = "36364689"[t >> 13 & 7] & 15;
  const int32_t a = as_int(u * as_word(c)) / 12 & 128;
  const int32_t x = ((t >> 12) ^ ((t >> 12) - 2)) % 11;
  const int32_t b = (as_int(as_word(x) * u) / 4 | t >> 13) & 127;
  return as_word(a + b);
}

struct Formula {
  const char* name;
  const char* text;
  uint32_t (*native)(uint32_t);
};
constexpr std::array<Formula, 3> kFormulas = {{
    {"typical", kTypical, native_typical},
    {"signed", kSigned, native_signed},
    {"strings", kStrings, native_strings},
}};

SKREEL_C_RESULT compiled(const char* text) {
  SKREEL_C_RESULT result{};
  if (!skreel_compile_c(text, &result)) {
    std::fprintf(stderr, "'%s' does not compile: %s\n", text, result.message.data());
    std::abort();
  }
  return result;
}

// The published tunes, one per line.
std::vector<std::string> corpus() {
  const std::filesystem::path path = std::filesystem::path(TONEBROOK_SOURCE_DIR) / "bench" / "c_tunes.txt";
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    std::abort();
  }
  std::vector<std::string> tunes;
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#') tunes.push_back(line);
  return tunes;
}

// About 1000 characters: published tunes laid out as people write longer
// formulas (spaces around the operators, a line each), side by side. It
// compiles to more than 256 instructions, so it is refused at the very end:
// the time is that of all the front end's work.
std::string long_formula() {
  std::string text;
  for (const std::string& tune : corpus()) {
    if (tune.find('"') != std::string::npos || tune.find("//") != std::string::npos) continue;
    std::string spaced;
    for (std::size_t i = 0; i < tune.size(); ++i) {
      const std::string two = tune.substr(i, 2);
      if (two == ">>" || two == "<<" || two == "&&" || two == "||") {
        spaced += " " + two + " ";
        ++i;
      } else if (std::string("|&^+*%/?:").find(tune[i]) != std::string::npos) {
        spaced += std::string(" ") + tune[i] + " ";
      } else {
        spaced += tune[i];
      }
    }
    const std::string longer = text + (text.empty() ? "(" : "\n^ (") + spaced + ")";
    if (longer.size() > 1000) break;
    text = longer;
  }
  return text;
}

// ---------------------------------------------------------------------------
// The front end

void BM_Compile(benchmark::State& state, const std::string& text) {
  SKREEL_C_RESULT result{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(skreel_compile_c(text.c_str(), &result));
  }
  state.counters["chars"] = static_cast<double>(text.size());
  state.counters["instructions"] = static_cast<double>(result.count);
  state.counters["naive"] = static_cast<double>(result.naive_count);
}
BENCHMARK_CAPTURE(BM_Compile, typical, std::string(kTypical));
BENCHMARK_CAPTURE(BM_Compile, strings, std::string(kStrings));
BENCHMARK_CAPTURE(BM_Compile, chars1000, long_formula());

// ---------------------------------------------------------------------------
// The compiled program beside the native formula, per buffer

constexpr int kValues = 1024;

void per_eval_counter(benchmark::State& state) {
  state.counters["s/eval"] = benchmark::Counter(static_cast<double>(kValues),
                                                benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Compiled(benchmark::State& state, int which) {
  const Formula& f = kFormulas[static_cast<std::size_t>(which)];
  const SKREEL_C_RESULT result = compiled(f.text);
  kel_log_set_stream(stderr);  // the decoder's line
  static SKREELCODEARRAY code;
  static SKREELPROGRAM program;
  skreel_decode_url_to_array(result.url.data(), &code);
  skreel_prepare(&code, &program);
  STACK stack{}, memory{};
  // The program must be the formula before its speed means anything.
  for (uint32_t t = 0; t < 2000000; t += 97) {
    if (skreel_run(&program, &stack, &memory, nullptr, t) != static_cast<VAL8>(f.native(t))) {
      std::fprintf(stderr, "%s: the program and the native formula disagree at t = %u\n", f.name, t);
      std::abort();
    }
  }
  std::array<VAL32, kValues> t{};
  std::array<VAL8, kValues> out{};
  VAL32 next = 0;
  for (auto _ : state) {
    for (VAL32& v : t) v = next++;
    skreel_run_many(&program, &stack, &memory, nullptr, t.data(), kValues, out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  per_eval_counter(state);
  state.SetLabel(std::to_string(result.count) + " instructions");
}

// The native formula inlined into the loop.
template <uint32_t (*Native)(uint32_t)>
void BM_Native(benchmark::State& state) {
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

BENCHMARK_CAPTURE(BM_Compiled, typical, 0);
BENCHMARK_TEMPLATE(BM_Native, native_typical)->Name("BM_Native/typical");
BENCHMARK_CAPTURE(BM_Compiled, signed, 1);
BENCHMARK_TEMPLATE(BM_Native, native_signed)->Name("BM_Native/signed");
BENCHMARK_CAPTURE(BM_Compiled, strings, 2);
BENCHMARK_TEMPLATE(BM_Native, native_strings)->Name("BM_Native/strings");

// ---------------------------------------------------------------------------
// Program lengths over the published tunes: the time is that of compiling
// all of them; the counters are the report.

void BM_CorpusLengths(benchmark::State& state) {
  const std::vector<std::string> tunes = corpus();
  std::vector<double> ratios;
  int over = 0, largest = 0, other_rate = 0;
  std::string largest_text;
  SKREEL_C_RESULT result{};
  for (const std::string& tune : tunes) {
    skreel_compile_c(tune.c_str(), &result);
    if (result.count == 0) {
      std::fprintf(stderr, "'%s' does not compile: %s\n", tune.c_str(), result.message.data());
      std::abort();
    }
    if (result.count > SKREEL_C_MAX_INSTRUCTIONS) ++over;
    if (result.count > largest) {
      largest = result.count;
      largest_text = tune;
    }
    ratios.push_back(static_cast<double>(result.count) / static_cast<double>(result.naive_count));
    SKREEL_TUNE_RATE rate{};
    if (skreel_tune_rate(tune.c_str(), SKREEL_SYNTAX_C, &rate) && rate.rate != SKREEL_DEFAULT_TUNE_RATE) ++other_rate;
  }
  std::sort(ratios.begin(), ratios.end());
  const std::size_t n = ratios.size();
  const double median = n % 2 ? ratios[n / 2] : (ratios[n / 2 - 1] + ratios[n / 2]) / 2;
  for (auto _ : state) {
    for (const std::string& tune : tunes) benchmark::DoNotOptimize(skreel_compile_c(tune.c_str(), &result));
  }
  state.counters["tunes"] = static_cast<double>(n);
  state.counters["median_ratio"] = median;
  state.counters["largest_ratio"] = ratios.back();
  state.counters["over_256_share"] = static_cast<double>(over) / static_cast<double>(n);
  state.counters["largest"] = largest;
  state.counters["other_rate_share"] = static_cast<double>(other_rate) / static_cast<double>(n);
  state.SetLabel("largest: " + largest_text.substr(0, 40));
}
BENCHMARK(BM_CorpusLengths)->Unit(benchmark::kMicrosecond);

}  // namespace
