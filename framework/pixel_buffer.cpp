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
  // Addresses are reserved with room to spare, the buffer is mapped at the first 2 MiB
  // boundary among them, and the rest of the reservation is given back.
  void* reserved = ::mmap(nullptr, length + kLargePage, PROT_NONE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (reserved == MAP_FAILED) return nullptr;
  const uintptr_t base = uintptr_t(reserved), reservedEnd = base + length + kLargePage;
  const uintptr_t start = (base + kLargePage - 1) & ~uintptr_t(kLargePage - 1);
  const uintptr_t end = start + length;
  void* buffer = ::mmap(reinterpret_cast<void*>(start), length, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
  if (buffer == MAP_FAILED) {
    ::munmap(reserved, length + kLargePage);
    return nullptr;
  }
  if (start > base) ::munmap(reserved, start - base);
  if (reservedEnd > end) ::munmap(reinterpret_cast<void*>(end), reservedEnd - end);
  ::madvise(buffer, length, MADV_HUGEPAGE);
  mapped = length;
  return static_cast<uint8_t*>(buffer);
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
