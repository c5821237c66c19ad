// TPixelBuffer: calloc-backed pixel memory.
#include <cstdlib>
#include <cstring>

#include "framework.h"

void TPixelBuffer::TFree::operator()(uint8_t* p) const {
  std::free(p);
}

TPixelBuffer::TPixelBuffer(size_t size) {
  if (size == 0) return;
  FData.reset(static_cast<uint8_t*>(std::calloc(size, 1)));
  if (!FData) throw EOutOfResources("Mémoire insuffisante pour créer l'image");
  FSize = size;
}

TPixelBuffer::TPixelBuffer(const TPixelBuffer& other) : TPixelBuffer(other.FSize) {
  if (FSize) std::memcpy(FData.get(), other.FData.get(), FSize);
}

TPixelBuffer& TPixelBuffer::operator=(const TPixelBuffer& other) {
  if (this != &other) *this = TPixelBuffer(other);
  return *this;
}
