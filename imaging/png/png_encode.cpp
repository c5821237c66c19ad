// The PNG writer: TChunkIDAT::SaveToStream encodes the image rows, filters and compresses
// them one at a time, and writes the result as IDAT chunks while it goes. Memory use is a
// few rows plus one MaxIdatSize output buffer, whatever the image size.
#include "png_encode_internal.h"

namespace {

// Adam7: the pass pattern of the PNG standard.
constexpr uint32_t kPassStartRow[7] = {0, 0, 4, 0, 2, 0, 1};
constexpr uint32_t kPassStartColumn[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr uint32_t kPassRowIncrement[7] = {8, 8, 8, 4, 4, 2, 2};
constexpr uint32_t kPassColumnIncrement[7] = {8, 8, 4, 4, 2, 2, 1};

// Bit depth as written: 2-bit images are held and saved with 4-bit pixels.
int WrittenBitDepth(const TChunkIHDR& header) {
  return header.BitDepth() == 2 ? 4 : header.BitDepth();
}

// Bytes of a PNG row of `width` pixels, without its filter byte.
uint32_t PngRowBytes(int colorType, int bitDepth, uint64_t width) {
  uint64_t bits = width * uint64_t(bitDepth);
  switch (colorType) {
    case COLOR_RGB:
      bits *= 3;
      break;
    case COLOR_GRAYSCALEALPHA:
      bits *= 2;
      break;
    case COLOR_RGBALPHA:
      bits *= 4;
      break;
    default:
      break;
  }
  return uint32_t((bits + 7) / 8);
}

// The pixel buffer bits each kind of image must have for the row encoders to read it.
int ExpectedBitsPerPixel(int colorType, int bitDepth) {
  switch (colorType) {
    case COLOR_GRAYSCALE:
      if (bitDepth == 16) return 8;
      return (bitDepth == 1 || bitDepth == 4 || bitDepth == 8) ? bitDepth : 0;
    case COLOR_PALETTE:
      return (bitDepth == 1 || bitDepth == 4 || bitDepth == 8) ? bitDepth : 0;
    case COLOR_GRAYSCALEALPHA:
      return (bitDepth == 8 || bitDepth == 16) ? 8 : 0;
    case COLOR_RGB:
    case COLOR_RGBALPHA:
      return (bitDepth == 8 || bitDepth == 16) ? 24 : 0;
    default:
      return 0;
  }
}

// Refuses what would give a file that readers reject (no rows, a colour type and bit depth
// outside the standard pairs), or buffers that do not match the header.
void CheckEncodable(const TChunkIHDR& header) {
  if (header.Width() == 0 || header.Height() == 0) throw EPngError(EPngEmptyImageText);
  const int colorType = header.ColorType();
  const int bits = ExpectedBitsPerPixel(colorType, WrittenBitDepth(header));
  const bool needsAlpha = colorType == COLOR_GRAYSCALEALPHA || colorType == COLOR_RGBALPHA;
  if (bits == 0 || header.BitsPerPixel() != bits || header.ImageData() == nullptr ||
      (needsAlpha && header.ImageAlpha() == nullptr))
    throw EPNGInvalidSpec();
}

// The encoder's buffers exist only inside one save.
struct TEncodeBuffersGuard {
  std::array<std::vector<uint8_t>, 6>& Buffers;
  ~TEncodeBuffersGuard() {
    for (auto& b : Buffers) std::vector<uint8_t>().swap(b);
  }
};

}  // namespace

bool TChunkIDAT::SaveToStream(TStream& stream) {
  TPngImage& image = *Owner();
  Header = &TChunk::Header();
  ImageWidth = Header->Width();
  ImageHeight = Header->Height();
  CheckEncodable(*Header);
  uint32_t rowBytes = 0;
  image.GetRowAndPixelBytes(rowBytes, Offset);
  Row_Bytes = PngRowBytes(Header->ColorType(), WrittenBitDepth(*Header), ImageWidth);
  if (Offset < 1) Offset = 1;

  TEncodeBuffersGuard guard{Encode_Buffer};
  const unsigned filters = image.Filters().Bits();
  for (int t = 0; t <= kRawRowBuffer; ++t) {
    const bool needed = t == 0 || t == kRawRowBuffer || (filters & (1u << t));
    Encode_Buffer[size_t(t)].assign(needed ? Row_Bytes + 1 : 0, 0);
  }
  TIdatDeflate z(stream, image.MaxIdatSize(), image.CompressionLevel());
  if (image.InterlaceMethod() == imAdam7)
    EncodeRowsAdam7(z);
  else
    EncodeRowsPlain(z);
  return true;
}

void TChunkIDAT::EncodeRowsPlain(TIdatDeflate& z) {
  const TPngRowEncoder encoder(*Owner(), *Header);
  for (uint32_t y = 0; y < ImageHeight; ++y) {
    encoder.EncodeRow(y, 0, 1, ImageWidth, EncodeRowData(Encode_Buffer[kRawRowBuffer]));
    const int filter = ChooseRowFilter();
    WriteIdatBytes(z, Encode_Buffer[size_t(filter)].data(), size_t(Row_Bytes) + 1);
  }
  FinishIdat(z);
}

void TChunkIDAT::EncodeRowsAdam7(TIdatDeflate& z) {
  const TPngRowEncoder encoder(*Owner(), *Header);
  const int colorType = Header->ColorType();
  const int bitDepth = WrittenBitDepth(*Header);
  for (int pass = 0; pass < 7; ++pass) {
    const uint32_t first = kPassStartColumn[pass];
    const uint32_t step = kPassColumnIncrement[pass];
    const uint32_t passWidth = ImageWidth > first ? (ImageWidth - first + step - 1) / step : 0;
    Row_Bytes = PngRowBytes(colorType, bitDepth, passWidth);
    // The row above the first row of a pass is all zeros.
    std::fill(Encode_Buffer[0].begin(), Encode_Buffer[0].end(), 0);
    if (Row_Bytes == 0) continue;
    for (uint32_t y = kPassStartRow[pass]; y < ImageHeight; y += kPassRowIncrement[pass]) {
      encoder.EncodeRow(y, first, step, passWidth, EncodeRowData(Encode_Buffer[kRawRowBuffer]));
      const int filter = ChooseRowFilter();
      WriteIdatBytes(z, Encode_Buffer[size_t(filter)].data(), size_t(Row_Bytes) + 1);
    }
  }
  FinishIdat(z);
}
