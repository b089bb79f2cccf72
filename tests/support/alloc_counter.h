// Counts the heap allocations that code makes, to show that the audio
// thread's work allocates nothing. Every allocation path is seen: the
// sanitizers' allocator hook in sanitized builds, the C library's malloc
// family (and with it operator new) otherwise.
#pragma once

namespace alloc_counter {

// Starts counting the allocations of the calling thread.
void begin();
// Stops counting; returns how many there were since begin().
long end();

// Runs `f` with allocations counted; returns the count.
template <typename F>
long during(F&& f) {
  begin();
  f();
  return end();
}

}  // namespace alloc_counter
