// A platform clock that the test drives by hand.
#pragma once

#include <cstdint>

namespace fake_clock {

// Installs the fake clock at `start_ms`. Sleeping through the platform
// advances it by the time asked for when `delay_advances` is set, and
// leaves it standing otherwise.
void install(uint32_t start_ms = 0, bool delay_advances = false);
void uninstall();
void set(uint32_t ms);
void advance(uint32_t ms);
uint32_t now();
// Total milliseconds that the platform asked to sleep since install.
uint64_t slept();

}  // namespace fake_clock
