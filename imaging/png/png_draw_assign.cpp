// Conversion of a PNG image into another PNG image or into a bitmap.
//
// An image with partial transparency becomes a 32-bit bitmap marked premultiplied: the
// image is composed over transparent black, which leaves colour x alpha / 255 and the
// image's alpha in every pixel. Other images keep their own format where the bitmap has one.
#include <algorithm>
#include <cstring>

#include "png_internal.h"

namespace {

TPixelFormat OpaqueFormatFor(const TChunkIHDR& header) {
  switch (header.BitDepth()) {
    case 1:
      return pf1bit;
    case 2:
    case 4:
      return pf4bit;
    case 8:
    case 16:
      if (header.ColorType() == COLOR_GRAYSCALE || header.ColorType() == COLOR_RGB) return pf24bit;
      if (header.ColorType() == COLOR_PALETTE) return pf8bit;
      break;
    default:
      break;
  }
  throw Exception("");
}

// Indexed rows of the same bit count keep their indices exactly; anything else goes
// through a 1:1 colour-on-colour transfer.
void CopyPixelsOneToOne(TChunkIHDR& header, TBitmap& dest) {
  const int width = int(header.Width());
  const int height = int(header.Height());
  if (dest.BitCount() == header.BitsPerPixel() && header.BitsPerPixel() <= 8) {
    const size_t bytes = std::min<size_t>(header.BytesPerRow(), size_t(dest.BytesPerRow()));
    for (int y = 0; y < height; ++y)
      std::memcpy(dest.GetScanline(y), header.PixelRow(uint32_t(y)), bytes);
    return;
  }
  const TRect all{0, 0, width, height};
  StretchBlt(dest.View(), all, header.ImageView(), all);
}

void ClearPixels(TBitmap& dest) {
  for (int y = 0; y < dest.Height(); ++y)
    std::memset(dest.GetScanline(y), 0, size_t(dest.BytesPerRow()));
}

}  // namespace

void TPngImage::AssignTo(TGraphic& dest) {
  if (auto* png = dynamic_cast<TPngImage*>(&dest)) {
    png->Assign(*this);
    return;
  }
  auto* bitmap = dynamic_cast<TBitmap*>(&dest);
  if (bitmap == nullptr || !HasHeader()) {
    TGraphic::AssignTo(dest);
    return;
  }
  // A header refused by a failed load describes no pixels and has no bitmap format; the
  // destination is left alone.
  TChunkIHDR& header = ImageHeader(*this);
  const TPNGTransparencyMode mode = TransparencyMode();
  const int width = int(header.Width());
  const int height = int(header.Height());
  bitmap->SetSize(0, 0);  // nothing of the old pixels is kept: no need to convert them
  if (mode == ptmPartial) {
    bitmap->SetPixelFormat(pf32bit);
    bitmap->SetSize(width, height);
    // The composition below leaves colours multiplied by their alpha (over transparent
    // black, dst = (src x a + 127) div 255). Marked as straight alpha ("alpha defined"),
    // drawing the bitmap would multiply them by alpha a second time and darken every
    // translucent pixel; the flag says what the pixels really hold.
    bitmap->SetAlphaFormat(afPremultiplied);
    ClearPixels(*bitmap);  // all four bytes 0: transparent black
  } else {
    const TPixelFormat format = OpaqueFormatFor(header);
    bitmap->SetPixelFormat(format);
    bitmap->SetSize(width, height);
    bitmap->SetAlphaFormat(afIgnored);
  }
  if (header.ImagePalette() != nullptr) bitmap->SetPalette(header.ImagePalette());
  if (header.ImageData() == nullptr || width == 0 || height == 0) return;

  switch (mode) {
    case ptmBit:
      bitmap->SetTransparentColor(TransparentColor() & 0xFFFFFF);
      bitmap->SetTransparent(true);
      CopyPixelsOneToOne(header, *bitmap);
      break;
    case ptmPartial:
      Draw(bitmap->Canvas(), TRect{0, 0, width, height});
      break;
    default:
      CopyPixelsOneToOne(header, *bitmap);
      break;
  }
  bitmap->Changed();
}
