// The PNG writer: TChunkIDAT::SaveToStream encodes the image rows, filters and compresses
// them one at a time, and writes the result as IDAT chunks while it goes. Memory use is a
// few rows plus one MaxIdatSize output buffer, whatever the image size.
#include "png_encode_internal.h"

namespace {

// Bit depth as written: 2-bit images are held and saved with 4-bit pixels.
int WrittenBitDepth(const TChunkIHDR& header) {
  return header.BitDepth() == 2 ? 4 : header.BitDepth();
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

}  // namespace

TIdatEncoder::TIdatEncoder(TPngImage& image, TStream& stream)
    : Image(image),
      Header(&image.Header()),
      ImageWidth(Header->Width()),
      ImageHeight(Header->Height()),
      BitDepth(WrittenBitDepth(*Header)),
      Z(stream, image.MaxIdatSize(), image.CompressionLevel()) {
  Row_Bytes = PngRowBytes(Header->ColorType(), BitDepth, ImageWidth);
  Offset = PngFilterOffset(Header->ColorType(), BitDepth);
  const unsigned filters = image.Filters().Bits();
  for (int t = 0; t <= kRawRowBuffer; ++t) {
    const bool needed = t == 0 || t == kRawRowBuffer || (filters & (1u << t));
    Encode_Buffer[size_t(t)].assign(needed ? Row_Bytes + 1 : 0, 0);
  }
}

bool TChunkIDAT::SaveToStream(TStream& stream) {
  CheckEncodable(TChunk::Header());
  TIdatEncoder encoder(*Owner(), stream);
  if (Owner()->InterlaceMethod() == imAdam7)
    encoder.EncodeRowsAdam7();
  else
    encoder.EncodeRowsPlain();
  return true;
}

void TIdatEncoder::EncodeRowsPlain() {
  const TPngRowEncoder encoder(Image, *Header);
  for (uint32_t y = 0; y < ImageHeight; ++y) {
    encoder.EncodeRow(y, 0, 1, ImageWidth, EncodeRowData(Encode_Buffer[kRawRowBuffer]));
    const int filter = ChooseRowFilter();
    WriteIdatBytes(Encode_Buffer[size_t(filter)].data(), size_t(Row_Bytes) + 1);
  }
  FinishIdat();
}

void TIdatEncoder::EncodeRowsAdam7() {
  const TPngRowEncoder encoder(Image, *Header);
  for (const TAdam7Pass& pass : kAdam7Passes) {
    const uint32_t passWidth = pass.Width(ImageWidth);
    Row_Bytes = PngRowBytes(Header->ColorType(), BitDepth, passWidth);
    // The row above the first row of a pass is all zeros.
    std::fill(Encode_Buffer[0].begin(), Encode_Buffer[0].end(), 0);
    if (Row_Bytes == 0) continue;
    for (uint32_t y = pass.StartRow; y < ImageHeight; y += pass.RowIncrement) {
      encoder.EncodeRow(y, pass.StartColumn, pass.ColumnIncrement, passWidth,
                        EncodeRowData(Encode_Buffer[kRawRowBuffer]));
      const int filter = ChooseRowFilter();
      WriteIdatBytes(Encode_Buffer[size_t(filter)].data(), size_t(Row_Bytes) + 1);
    }
  }
  FinishIdat();
}
