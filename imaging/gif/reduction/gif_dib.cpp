// Row access to bitmaps for the reduction: a reader that converts a bitmap in place, and
// a writer that fills a device-independent image of its own and loads the bitmap from it.
#include <algorithm>
#include <cstring>
#include <exception>

#include "gif_glue.h"
#include "gif_reduce.h"

namespace {
void Put32(uint8_t* p, uint32_t v) {
  PutLE16(p, uint16_t(v));
  PutLE16(p + 2, uint16_t(v >> 16));
}
}  // namespace

TDIBReader::TDIBReader(TBitmap& ABitmap, TPixelFormat APixelFormat) : TDIB(ABitmap, APixelFormat) {
  ABitmap.SetPixelFormat(APixelFormat);
}

TDIBWriter::TDIBWriter(TBitmap& ABitmap, TPixelFormat APixelFormat, int AWidth, int AHeight,
                       const TPalette* APalette)
    : TDIB(ABitmap, APixelFormat), FHeight(AHeight), FWidth(AWidth) {
  if (APixelFormat != pf8bit && APixelFormat != pf24bit) GIFError(gifmsg::sUnsupportedPixelFormat);
  if (AWidth <= 0 || AHeight <= 0) GIFError(gifmsg::sBadDimensions);
  const int bits = APixelFormat == pf8bit ? 8 : 24;
  FDIBInfoSize = 40 + (bits == 8 ? 256 * 4 : 0);
  FDIBBitsSize = CheckedDibSize(AWidth, AHeight, bits);  // the framework's budget error
  FStride = ptrdiff_t(DibStride(AWidth, bits));
  const uint64_t total = uint64_t(kFileHeaderSize) + uint64_t(FDIBInfoSize) + FDIBBitsSize;
  CheckImageBudget(total);
  try {
    FImage = TPixelBuffer(size_t(total));
  } catch (const EOutOfResources&) {
    throw EOutOfMemory(gifmsg::sDIBAllocation);
  }
  uint8_t* file = FImage.data();
  file[0] = 'B';
  file[1] = 'M';
  Put32(file + 2, uint32_t(total));
  Put32(file + 10, uint32_t(kFileHeaderSize + FDIBInfoSize));
  uint8_t* info = file + kFileHeaderSize;
  Put32(info, 40);
  Put32(info + 4, uint32_t(AWidth));
  Put32(info + 8, uint32_t(AHeight));  // positive: rows bottom-up
  PutLE16(info + 12, 1);
  PutLE16(info + 14, uint16_t(bits));
  if (bits == 8) {
    const int n = APalette ? std::min(APalette->Count(), 256) : 0;
    Put32(info + 32, 256);
    Put32(info + 36, uint32_t(n));
    uint8_t* table = info + 40;
    for (int i = 0; i < n; ++i) {
      const TPaletteEntry& e = APalette->Entries()[size_t(i)];
      table[i * 4] = e.peBlue;
      table[i * 4 + 1] = e.peGreen;
      table[i * 4 + 2] = e.peRed;
    }
  }
  FDIBBits = info + FDIBInfoSize;
}

TDIBWriter::~TDIBWriter() {
  // On the way out of a failure the bitmap is dropped by its owner anyway, and a
  // destructor must not raise: only a normal end loads what was written.
  if (!FDIBBits || FLoaded || std::uncaught_exceptions() != 0) return;
  try {
    UpdateBitmap();
  } catch (...) {
  }
}

uint8_t* TDIBWriter::GetScanline(int Row) {
  if (!FDIBBits) GIFError(gifmsg::sNoDIB);
  if (Row < 0 || Row >= FHeight) throw EInvalidGraphicOperation(SScanLine);
  FLoaded = false;
  return FDIBBits + ptrdiff_t(FHeight - 1 - Row) * FStride;
}

void TDIBWriter::UpdateBitmap() {
  if (!FDIBBits) return;
  TReadOnlyMemoryStream stream(FImage.data(), FImage.size());
  FBitmap->LoadFromStream(stream);
  FLoaded = true;
}
