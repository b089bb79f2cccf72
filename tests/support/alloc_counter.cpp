#include "support/alloc_counter.h"

#include <atomic>
#include <cstddef>

namespace {

thread_local bool counting = false;
std::atomic<long> allocations{0};

void note_allocation() {
  if (counting) allocations.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

namespace alloc_counter {

void begin() {
  allocations.store(0);
  counting = true;
}

long end() {
  counting = false;
  return allocations.load();
}

}  // namespace alloc_counter

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TONEBROOK_SANITIZED_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TONEBROOK_SANITIZED_ALLOCATOR 1
#endif
#endif

#ifdef TONEBROOK_SANITIZED_ALLOCATOR
// The sanitizer owns malloc and operator new; it reports each allocation.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, std::size_t),
                                                         void (*free_hook)(const volatile void*));
namespace {
void on_malloc(const volatile void*, std::size_t) { note_allocation(); }
void on_free(const volatile void*) {}
[[maybe_unused]] const int hooks_installed = __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free);
}  // namespace
#else
// glibc lets a program put its own malloc in front of the C library's,
// whose entry points stay reachable; operator new allocates through malloc.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
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
}
#endif
