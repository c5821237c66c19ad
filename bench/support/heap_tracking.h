// Heap accounting for benchmarks: every malloc of the process (the peer libraries'
// included) counts while gTracking is on; gPeak holds the highest total since it was
// reset. The allocator replacements are definitions: include this header in one source
// file per benchmark program.
#pragma once

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

extern "C" void* __libc_malloc(size_t);
extern "C" void __libc_free(void*);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);

namespace {
std::atomic<bool> gTracking{false};
std::atomic<int64_t> gCurrent{0}, gPeak{0};

void Count(int64_t delta) {
  if (!gTracking.load(std::memory_order_relaxed)) return;
  const int64_t now = gCurrent += delta;
  int64_t peak = gPeak.load();
  while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
  }
}
}  // namespace

extern "C" void* malloc(size_t n) {
  void* p = __libc_malloc(n);
  if (p) Count(int64_t(malloc_usable_size(p)));
  return p;
}
extern "C" void free(void* p) {
  if (p) Count(-int64_t(malloc_usable_size(p)));
  __libc_free(p);
}
extern "C" void* calloc(size_t n, size_t s) {
  void* p = __libc_calloc(n, s);
  if (p) Count(int64_t(malloc_usable_size(p)));
  return p;
}
extern "C" void* realloc(void* old, size_t n) {
  const int64_t before = old ? int64_t(malloc_usable_size(old)) : 0;
  void* p = __libc_realloc(old, n);
  if (p)
    Count(int64_t(malloc_usable_size(p)) - before);
  else if (n == 0)
    Count(-before);
  return p;
}
