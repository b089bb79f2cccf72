// A platform clock that the test drives by hand. It is installed in the
// base library (kel_set_platform_clock), where the platform reads it, so
// that tests below the platform can drive time too.
#pragma once

#include <cstdint>
#include <functional>

namespace fake_clock {

// Installs the fake clock at `start_ms`. Sleeping through the platform does
// not move it; it only counts what was asked for and calls the hook.
void install(uint64_t start_ms = 0);
void uninstall();
void set(uint64_t ms);
void advance(uint64_t ms);
uint64_t now();
// now() in seconds, as the runtime clock reads the platform's before kel_init
// took a start time: for kel_set_clock in tests without the runtime.
double seconds();
// Total milliseconds that the platform asked to sleep since install.
uint64_t slept();
// Called on every platform sleep with the milliseconds asked for; the main
// loop sleeps once per pass, so this is a hook at the end of every pass.
void on_delay(std::function<void(uint32_t)> hook);

}  // namespace fake_clock
