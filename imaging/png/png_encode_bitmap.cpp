// Conversion of a bitmap into a PNG image (what the export assigns before saving).
//
// Bitmaps of 1, 4 and 8 bits become palette images of the same bit depth with a PLTE of
// 2^bits entries; every other format becomes 8-bit RGB (a 32-bit bitmap's fourth byte is
// not kept). A transparent bitmap gets a tRNS chunk for its transparent colour.
#include <algorithm>
#include <cstring>

#include "png_encode_internal.h"

namespace {

bool IsIndexed(int bits) {
  return bits == 1 || bits == 4 || bits == 8;
}

void HeaderFromBitmap(TChunkIHDR& header, const TBitmap& bitmap) {
  const int bits = bitmap.BitCount();
  header.IHDRData = TIHDRData{};
  header.SetWidth(uint32_t(bitmap.Width()));
  header.SetHeight(uint32_t(bitmap.Height()));
  // 15-bit bitmaps count as the 16-bit format they are stored in.
  header.SetBitDepth(uint8_t(IsIndexed(bits) ? bits : 8));
  header.SetColorType(IsIndexed(bits) ? COLOR_PALETTE : COLOR_RGB);
}

// The bitmap's colour table padded with black to the full 2^bits entries.
std::unique_ptr<TPalette> PaletteOfBitmap(const TBitmap& bitmap) {
  const auto& table = bitmap.ColorTable();
  const size_t count = size_t(1) << bitmap.BitCount();
  std::vector<TPaletteEntry> entries(count);
  for (size_t i = 0; i < count && i < table.size(); ++i)
    entries[i] = TPaletteEntry{table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, 0};
  return std::make_unique<TPalette>(std::move(entries));
}

// Indexed rows keep their indices byte for byte; the rows of the other formats are
// converted to 24 bits (blue, green, red).
void CopyBitmapRows(TChunkIHDR& header, TBitmap& bitmap) {
  const int height = bitmap.Height();
  const int bits = bitmap.BitCount();
  if (IsIndexed(bits) || bits == 24) {
    const size_t bytes = std::min<size_t>(header.BytesPerRow(), size_t(bitmap.BytesPerRow()));
    for (int y = 0; y < height; ++y)
      std::memcpy(header.PixelRow(uint32_t(y)), bitmap.GetScanline(y), bytes);
    return;
  }
  const TRect all{0, 0, bitmap.Width(), height};
  StretchBlt(header.ImageView(), all, bitmap.View(), all);
}

}  // namespace

void TPngImage::AssignHandle(TBitmap& handle, bool transparent, TColor transparentColor) {
  ClearChunkList();  // identity gamma: colours are written unchanged
  auto* header = static_cast<TChunkIHDR*>(Chunks().Append(std::make_unique<TChunkIHDR>(this)));
  HeaderFromBitmap(*header, handle);
  header->PrepareImageBuffers();
  if (!handle.Empty()) CopyBitmapRows(*header, handle);

  TChunkPLTE* palette = nullptr;
  if (header->HasPalette())
    palette = static_cast<TChunkPLTE*>(Chunks().Append(std::make_unique<TChunkPLTE>(this)));
  TChunktRNS* trns = nullptr;
  if (transparent)
    trns = static_cast<TChunktRNS*>(Chunks().Append(std::make_unique<TChunktRNS>(this)));
  Chunks().Append(std::make_unique<TChunkIDAT>(this));
  Chunks().Append(std::make_unique<TChunkIEND>(this));

  if (palette != nullptr) {
    palette->SetCount(1u << header->BitsPerPixel());
    ReplacePalette(PaletteOfBitmap(handle), true);
  }
  if (trns != nullptr) trns->SetTransparentColor(transparentColor & 0xFFFFFF);
  Changed();
}
