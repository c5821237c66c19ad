// TPixelBuffer: calloc-backed pixel memory.
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "framework.h"

namespace {

// A photograph's buffer is written whole right after it is made, one 4 KiB page fault
// after another: 9000 of them for 12 megapixels, as much time as decoding a third of the
// picture. Large pages make that a few hundred. Only whole 2 MiB stretches inside the
// buffer are marked, so no memory outside it is ever committed.
constexpr size_t kLargePage = size_t(2) << 20;
constexpr size_t kLargeBuffer = 2 * kLargePage;

void PreferLargePages(uint8_t* data, size_t size) {
#ifdef MADV_HUGEPAGE
  if (size < kLargeBuffer) return;
  const uintptr_t begin = (uintptr_t(data) + kLargePage - 1) & ~uintptr_t(kLargePage - 1);
  const uintptr_t end = (uintptr_t(data) + size) & ~uintptr_t(kLargePage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data, (void)size;
#endif
}

}  // namespace

void TPixelBuffer::TFree::operator()(uint8_t* p) const {
  std::free(p);
}

TPixelBuffer::TPixelBuffer(size_t size) {
  if (size == 0) return;
  FData.reset(static_cast<uint8_t*>(std::calloc(size, 1)));
  if (!FData) throw EOutOfResources("Mémoire insuffisante pour créer l'image");
  FSize = size;
  PreferLargePages(FData.get(), size);
}

TPixelBuffer::TPixelBuffer(const TPixelBuffer& other) : TPixelBuffer(other.FSize) {
  if (FSize) std::memcpy(FData.get(), other.FData.get(), FSize);
}

TPixelBuffer& TPixelBuffer::operator=(const TPixelBuffer& other) {
  if (this != &other) *this = TPixelBuffer(other);
  return *this;
}
