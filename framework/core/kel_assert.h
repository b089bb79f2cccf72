// Assertions that stay on in every build type.
//
// KEL_ASSERT(cond) checks `cond`; when it is false it writes
// "<file>:<line>: <function>: Assertion `<cond>' failed." to standard error
// and stops the program (abort). NDEBUG does not remove it. A module may
// replace it for a test build by defining KEL_ASSERT before including this
// header.
//
// Threads: any; the failure path writes to standard error and never returns.
#pragma once

[[noreturn]] void kel_assert_fail(const char* condition, const char* file, int line, const char* function);

#ifndef KEL_ASSERT
#define KEL_ASSERT(cond) \
  (static_cast<bool>(cond) ? static_cast<void>(0) : kel_assert_fail(#cond, __FILE__, __LINE__, __func__))
#endif

// Out of memory in a module that cannot go on without it: writes
// "line <site>: No more memory for allocating data" to standard error and
// exits with status 1. `site` tells the allocation sites apart.
[[noreturn]] void kel_out_of_memory(int site);
