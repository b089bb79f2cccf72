#include "support/fake_clock.h"

#include <atomic>

#include "framework/platforms/sdl/wrapper.h"

namespace fake_clock {
namespace {

std::atomic<uint32_t> ms{0};
std::atomic<uint64_t> slept_ms{0};
bool advance_on_delay = false;

uint32_t read_ms() { return ms.load(); }
void delay(uint32_t d) {
  slept_ms += d;
  if (advance_on_delay) ms += d;
}

}  // namespace

void install(uint32_t start_ms, bool delay_advances) {
  ms = start_ms;
  slept_ms = 0;
  advance_on_delay = delay_advances;
  wrapper_set_clock(read_ms, delay);
}

void uninstall() { wrapper_set_clock(nullptr, nullptr); }
void set(uint32_t value) { ms = value; }
void advance(uint32_t d) { ms += d; }
uint32_t now() { return ms.load(); }
uint64_t slept() { return slept_ms.load(); }

}  // namespace fake_clock
