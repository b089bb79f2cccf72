// The audio callback allocates nothing and writes nothing once a tune is
// adopted. Every allocation in this program is counted while the callback
// runs: operator new always, and malloc itself where no sanitizer owns it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "keltoolkit/skreelplayer/skreel.h"
#include "support/capture.h"

namespace {

thread_local bool counting = false;
std::atomic<int> allocations{0};

void note_allocation() {
  if (counting) allocations.fetch_add(1);
}

// Runs `f` with allocations counted on this thread; returns how many there were.
template <typename F>
int allocations_during(F f) {
  allocations.store(0);
  counting = true;
  f();
  counting = false;
  return allocations.load();
}

}  // namespace

void* operator new(std::size_t size) {
  note_allocation();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define SKREEL_TEST_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SKREEL_TEST_SANITIZED 1
#endif

#if !defined(SKREEL_TEST_SANITIZED) && defined(__GLIBC__)
#define SKREEL_MALLOC_COUNTED 1
// glibc lets a program replace malloc; its own entry points stay reachable.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);
void* malloc(std::size_t size) {
  note_allocation();
  return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size) {
  note_allocation();
  return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t size) {
  note_allocation();
  return __libc_realloc(p, size);
}
void free(void* p) { __libc_free(p); }
}
#else
#define SKREEL_MALLOC_COUNTED 0
#endif

namespace {

TEST(SkreelRealtime, CallbackAllocatesNothingAndIsSilentOnStdout) {
  // The counter itself works.
  EXPECT_GT(allocations_during([] { ::operator delete(::operator new(16)); }), 0);
  EXPECT_GT(allocations_during([] { std::free(std::malloc(16)); }), SKREEL_MALLOC_COUNTED ? 0 : -1);

  skreel_reset();
  std::vector<int16_t> buffer(2048);
  StdoutCapture out;
  // Warm the output stream up, so that its own buffer is not counted.
  std::fputs("warm\n", stdout);
  out.take();

  skreel_play_url("compiled!a.a.C.k.a.8.k.m.3F.l.a.4.k.l.d");
  EXPECT_EQ(allocations_during([&] { skreelplayer_callback(buffer.data(), 1024, 44100); }), 0)
      << "adoption allocated";
  EXPECT_EQ(strip_log_prefixes(out.take()), "DECODED 'compiled' 15 opcodes\n");

  // Steady state: many buffers, nothing allocated, nothing written.
  const int steady = allocations_during([&] {
    for (int i = 0; i < 500; ++i) skreelplayer_callback(buffer.data(), 1024, 44100);
  });
  EXPECT_EQ(steady, 0);
  EXPECT_EQ(out.take(), "");

  // A rejected text is reported, and nothing is allocated either.
  skreel_play_url(nullptr);
  skreel_play_url("skreel://bad-name!a");
  EXPECT_EQ(allocations_during([&] { skreelplayer_callback(buffer.data(), 1024, 44100); }), 0);
  EXPECT_EQ(strip_log_prefixes(out.take()), "NAME DECODE ERROR!\n");
}

}  // namespace
