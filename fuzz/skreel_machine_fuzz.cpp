// Fuzzes the bytebeat machine: each input is a program (mostly the opcodes
// tunes use, and every other id now and then), a stack, memory and inputs,
// and a run of `t` values in blocks of many sizes. Every way the engine runs
// a program (once per value, prepared, and many values at once on the block
// plan) must leave the results, stack and memory of a plain model that runs
// one instruction at a time.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/skreel_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string differs = skreel_reference::check(skreel_reference::make_case(data, size));
  if (!differs.empty()) {
    std::fprintf(stderr, "the engine and the model differ: %s\n", differs.c_str());
    std::abort();
  }
  return 0;
}
