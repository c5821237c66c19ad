// Heap accounting for benchmarks: every malloc of the process (the peer libraries'
// included) counts while gTracking is on, and so does every writable anonymous mapping the
// program makes itself (large pixel buffers are mapped, not allocated); gPeak holds the highest
// total since it was reset. The allocator and mapping replacements are definitions:
// include this header in one source file per benchmark program.
#pragma once

#include <malloc.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <mutex>

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

namespace {
// Anonymous mappings counted so far: what is unmapped inside one of them is subtracted.
struct TCountedMapping {
  uintptr_t Begin, End;
  int64_t Live;
};
TCountedMapping gMappings[256];
std::mutex gMappingsLock;
}  // namespace

extern "C" void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
  void* p = reinterpret_cast<void*>(syscall(SYS_mmap, addr, length, prot, flags, fd, offset));
  if (p == MAP_FAILED || !(flags & MAP_ANONYMOUS) || !(prot & PROT_WRITE) || !gTracking.load())
    return p;
  const std::lock_guard<std::mutex> lock(gMappingsLock);
  for (TCountedMapping& m : gMappings)
    if (m.Live == 0) {
      m = TCountedMapping{uintptr_t(p), uintptr_t(p) + length, int64_t(length)};
      Count(int64_t(length));
      break;
    }
  return p;
}
extern "C" int munmap(void* addr, size_t length) {
  const int result = int(syscall(SYS_munmap, addr, length));
  if (result != 0) return result;
  const std::lock_guard<std::mutex> lock(gMappingsLock);
  const uintptr_t begin = uintptr_t(addr);
  for (TCountedMapping& m : gMappings)
    if (m.Live > 0 && m.Begin <= begin && begin + length <= m.End) {
      m.Live -= int64_t(length);
      gCurrent -= int64_t(length);  // also once tracking is off: the mapping was counted
      break;
    }
  return result;
}
