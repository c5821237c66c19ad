// TPixelBuffer: pixel memory that arrives as zero pages.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "framework.h"

namespace {

// A photograph's buffer is written whole right after it is made, one 4 KiB page fault
// after another: 9000 of them for 12 megapixels, as much time as decoding a third of the
// picture. Large pages make that a few dozen. A buffer of one large page or more is
// therefore mapped on its own, starting on a 2 MiB boundary, so that every whole 2 MiB of
// it can be one large page; the mapping ends with the buffer's last page, so no memory
// outside it is ever committed. Under AddressSanitizer buffers stay with calloc, whose
// blocks it guards.
constexpr size_t kLargePage = size_t(2) << 20;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMapLargeBuffers = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMapLargeBuffers = false;
#else
constexpr bool kMapLargeBuffers = true;
#endif
#else
constexpr bool kMapLargeBuffers = true;
#endif

uint8_t* MapLargeBuffer(size_t size, size_t& mapped) {
#ifdef MADV_HUGEPAGE
  const size_t page = size_t(::sysconf(_SC_PAGESIZE));
  const size_t length = (size + page - 1) / page * page;
  void* raw = ::mmap(nullptr, length + kLargePage, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const uintptr_t base = uintptr_t(raw);
  const uintptr_t start = (base + kLargePage - 1) & ~uintptr_t(kLargePage - 1);
  if (start > base) ::munmap(raw, start - base);
  const uintptr_t end = start + length, mappedEnd = base + length + kLargePage;
  if (mappedEnd > end) ::munmap(reinterpret_cast<void*>(end), mappedEnd - end);
  ::madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
  mapped = length;
  return reinterpret_cast<uint8_t*>(start);
#else
  (void)size, (void)mapped;
  return nullptr;
#endif
}

}  // namespace

void TPixelBuffer::TFree::operator()(uint8_t* p) const {
  if (Mapped)
    ::munmap(p, Mapped);
  else
    std::free(p);
}

TPixelBuffer::TPixelBuffer(size_t size) {
  if (size == 0) return;
  size_t mapped = 0;
  uint8_t* data = kMapLargeBuffers && size >= kLargePage ? MapLargeBuffer(size, mapped) : nullptr;
  if (!data) data = static_cast<uint8_t*>(std::calloc(size, 1));
  if (!data) throw EOutOfResources("Mémoire insuffisante pour créer l'image");
  FData = std::unique_ptr<uint8_t, TFree>(data, TFree{mapped});
  FSize = size;
}

TPixelBuffer::TPixelBuffer(const TPixelBuffer& other) : TPixelBuffer(other.FSize) {
  if (FSize) std::memcpy(FData.get(), other.FData.get(), FSize);
}

TPixelBuffer& TPixelBuffer::operator=(const TPixelBuffer& other) {
  if (this != &other) *this = TPixelBuffer(other);
  return *this;
}
