// A platform clock that the test drives by hand.
#pragma once

#include <cstdint>
#include <functional>

namespace fake_clock {

// Installs the fake clock at `start_ms`. Sleeping through the platform does
// not move it; it only counts what was asked for and calls the hook.
void install(uint32_t start_ms = 0);
void uninstall();
void set(uint32_t ms);
void advance(uint32_t ms);
uint32_t now();
// Total milliseconds that the platform asked to sleep since install.
uint64_t slept();
// Called on every platform sleep with the milliseconds asked for; the main
// loop sleeps once per pass, so this is a hook at the end of every pass.
void on_delay(std::function<void(uint32_t)> hook);

}  // namespace fake_clock
