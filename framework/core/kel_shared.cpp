#include "framework/core/kel_shared.h"

KEL_SETTINGS kel_settings;
std::atomic<uint32_t> kel_ticks{0};

namespace {

constinit std::atomic<KEL_CLOCK_SECONDS> clock_seconds{nullptr};
constinit std::atomic<KEL_CLOCK_MS> platform_clock_ms{nullptr};
constinit std::atomic<KEL_CLOCK_DELAY> platform_clock_delay{nullptr};
constinit std::atomic<int> quit_{0};
constinit std::atomic<uint64_t> stream_frame{0};
constinit std::atomic<KEL_STREAM_TAP> stream_tap{nullptr};
static_assert(std::atomic<uint64_t>::is_always_lock_free);
static_assert(std::atomic<KEL_STREAM_TAP>::is_always_lock_free);
const char* appname_ = nullptr;
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<KEL_CLOCK_SECONDS>::is_always_lock_free);
static_assert(std::atomic<KEL_CLOCK_MS>::is_always_lock_free);
static_assert(std::atomic<KEL_CLOCK_DELAY>::is_always_lock_free);

}  // namespace

void kel_set_clock(KEL_CLOCK_SECONDS seconds) { clock_seconds.store(seconds); }

double kel_clock_seconds() {
  const KEL_CLOCK_SECONDS seconds = clock_seconds.load();
  return seconds ? seconds() : 0.0;
}

void kel_set_platform_clock(KEL_CLOCK_MS ms, KEL_CLOCK_DELAY delay) {
  platform_clock_ms.store(ms);
  platform_clock_delay.store(delay);
}
KEL_CLOCK_MS kel_platform_clock_ms() { return platform_clock_ms.load(); }
KEL_CLOCK_DELAY kel_platform_clock_delay() { return platform_clock_delay.load(); }

void kel_quit() { quit_.store(1); }
int kel_is_quit() { return quit_.load(); }

void kel_set_skreel_callback(KEL_SKREEL_CALLBACK callback) { kel_settings.callback_skreel.store(callback); }

uint64_t kel_stream_frame() { return stream_frame.load(std::memory_order_acquire); }
void kel_set_stream_frame(uint64_t frame) { stream_frame.store(frame, std::memory_order_release); }
void kel_advance_stream_frame(uint64_t frames) { stream_frame.fetch_add(frames, std::memory_order_acq_rel); }

void kel_set_stream_tap(KEL_STREAM_TAP tap) { stream_tap.store(tap); }
KEL_STREAM_TAP kel_stream_tap() { return stream_tap.load(); }

void kel_set_app_name(const char* name) { appname_ = name; }
const char* kel_app_name() { return appname_ ? appname_ : "unnamed"; }
