// Fuzzes playing: an arbitrary program handed over as URL text, arbitrary
// tune rates, volumes, stream rates and frame counts through the audio
// callback, and arbitrary instruction records through the stack machine.
// Rules beyond "no fault":
//  - the callback writes only the frames it is given (nothing for a count
//    of 0 or less) and the same value to the left and right sample;
//  - at a volume between -1 and 1 no new sample leaves -32640 to 32640
//    (a frame before the first new value holds the one from before);
//  - while `t` stands still (no stream rate, or a tune rate that is not
//    positive) the output holds its last value;
//  - an evaluation of an empty program, or of one that starts with an
//    opcode without behaviour, gives 0 and leaves the stack alone.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "framework/core/kel_assert.h"
#include "framework/core/kel_shared.h"
#include "framework/core/log.h"
#include "keltoolkit/skreelplayer/skreel.h"

namespace {

constexpr int kMaxFrames = 2048;
constexpr std::size_t kGuard = 16;  // samples of canary before and after
constexpr int16_t kCanary = 0x5A5A;
constexpr std::size_t kCalls = 8;

std::array<int16_t, 2 * kMaxFrames + 2 * kGuard> stream;
std::string url;

// The value the output holds since the last call that wrote frames (the
// filter and the held value live as long as the process).
bool have_held = false;
int16_t held = 0;

float any_float(FuzzedDataProvider& in) {
  const uint32_t bits = in.ConsumeIntegral<uint32_t>();
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// Program text for the decoder from the provider's bytes: mostly the
// characters URL code is made of, now and then anything.
std::string any_code(FuzzedDataProvider& in, std::size_t length) {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzGHIJKLMNOPQRSTUVWXYZ0123456789ABCDEF.!";
  std::string code;
  for (std::size_t i = 0; i < length && in.remaining_bytes() > 0; ++i) {
    const uint8_t b = in.ConsumeIntegral<uint8_t>();
    code += b < 250 ? kAlphabet[b % (sizeof kAlphabet - 1)] : static_cast<char>(in.ConsumeIntegral<uint8_t>());
  }
  return code;
}

void hand_over(FuzzedDataProvider& in) {
  // A new text is written only while the audio side neither holds nor is
  // about to take the old one: here both run on one thread, between calls.
  url = "fuzz!" + any_code(in, in.ConsumeIntegralInRange<std::size_t>(0, 400));
  skreel_play_url(nullptr);
  skreel_play_url(url.c_str());
}

void play(FuzzedDataProvider& in) {
  const float rate = in.ConsumeBool() ? in.ConsumeFloatingPointInRange<float>(0.0f, 200000.0f) : any_float(in);
  const float volume = in.ConsumeBool() ? in.ConsumeFloatingPointInRange<float>(-1.0f, 1.0f) : any_float(in);
  const int sample_rate = in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(1, 192000) : in.ConsumeIntegral<int>();
  const int frames = in.ConsumeIntegralInRange<int>(-4, kMaxFrames);
  skreel_set_rate(rate);
  skreel_set_volume(volume);

  stream.fill(kCanary);
  int16_t* buffer = stream.data() + kGuard;
  const std::size_t used = frames > 0 ? 2 * static_cast<std::size_t>(frames) : 0;
  std::fill(buffer, buffer + used, int16_t{0});
  const KEL_SKREEL_CALLBACK callback = kel_settings.callback_skreel.load();
  KEL_ASSERT(callback == skreelplayer_callback);
  callback(buffer, frames, sample_rate);

  for (std::size_t i = 0; i < kGuard; ++i) KEL_ASSERT(stream[i] == kCanary);
  for (std::size_t i = kGuard + used; i < stream.size(); ++i) KEL_ASSERT(stream[i] == kCanary);
  const bool still = sample_rate <= 0 || !(rate > 0.0f);
  for (std::size_t frame = 0; 2 * frame < used; ++frame) {
    const int16_t left = buffer[2 * frame], right = buffer[2 * frame + 1];
    KEL_ASSERT(left == right);
    const bool held_before = have_held && left == held;
    if (std::fabs(volume) <= 1.0f) KEL_ASSERT((left >= -32640 && left <= 32640) || held_before);
    if (still && have_held) KEL_ASSERT(held_before);
  }
  if (used > 0) {
    held = buffer[used - 1];
    have_held = true;
  }
}

void evaluate(FuzzedDataProvider& in) {
  static SKREELCODEARRAY program;
  static STACK stack, memory;
  program.count = in.ConsumeIntegral<uint16_t>();
  const std::size_t given = in.ConsumeIntegralInRange<std::size_t>(0, program.op.size());
  for (std::size_t i = 0; i < given; ++i) program.op[i] = SKREELCODE{in.ConsumeIntegral<uint8_t>(), in.ConsumeIntegral<uint32_t>()};
  stack.sp = in.ConsumeIntegral<uint8_t>();
  const STACK before = stack;
  const std::array<VAL32, 8> inputs{1, 2, 3, 4, 5, 6, 7, 8};
  const VAL8 result = skreel_do_t_func(&program, &stack, &memory, inputs.data(), in.ConsumeIntegral<uint32_t>());
  const uint8_t first = program.op[0].id;
  const bool stops_at_once = first == OP_NOP || first == OP_i || first >= OP_H;
  if (program.count == 0 || stops_at_once) {
    KEL_ASSERT(result == 0);
    KEL_ASSERT(std::memcmp(&stack, &before, sizeof stack) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  skreel_reset();
  hand_over(in);
  for (std::size_t call = 0; call < kCalls && in.remaining_bytes() > 0; ++call) {
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) hand_over(in);
    play(in);
  }
  evaluate(in);
  skreel_play_url(nullptr);
  kel_log_flush_deferred();
  return 0;
}
