#include "framework/core/kel_assert.h"

#include <cstdio>
#include <cstdlib>

void kel_assert_fail(const char* condition, const char* file, int line, const char* function) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s:%d: %s: Assertion `%s' failed.\n", file, line, function, condition);
  std::fflush(stderr);
  std::abort();
}

void kel_out_of_memory(int site) {
  std::fflush(stdout);
  std::fprintf(stderr, "line %d: No more memory for allocating data\n", site);
  std::exit(1);
}
