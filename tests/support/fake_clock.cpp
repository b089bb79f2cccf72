#include "support/fake_clock.h"

#include <atomic>
#include <utility>

#include "framework/core/kel_shared.h"

namespace fake_clock {
namespace {

std::atomic<uint64_t> ms{0};
std::atomic<uint64_t> slept_ms{0};
std::function<void(uint32_t)> delay_hook;

uint64_t read_ms() { return ms.load(); }
void delay(uint32_t d) {
  slept_ms += d;
  if (delay_hook) delay_hook(d);
}

}  // namespace

void install(uint64_t start_ms) {
  ms = start_ms;
  slept_ms = 0;
  delay_hook = nullptr;
  kel_set_platform_clock(read_ms, delay);
}

void uninstall() {
  kel_set_platform_clock(nullptr, nullptr);
  delay_hook = nullptr;
}
void set(uint64_t value) { ms = value; }
void advance(uint64_t d) { ms += d; }
uint64_t now() { return ms.load(); }
double seconds() { return static_cast<double>(ms.load()) / 1000.0; }
uint64_t slept() { return slept_ms.load(); }
void on_delay(std::function<void(uint32_t)> hook) { delay_hook = std::move(hook); }

}  // namespace fake_clock
