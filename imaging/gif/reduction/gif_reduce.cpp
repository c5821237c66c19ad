// Reduction of any bitmap to 8 bits per pixel: the palette (fixed, given or quantized),
// the lookup into it and the ditherer that spreads the error, driven row by row.
#include <algorithm>

#include "gif_glue.h"
#include "gif_reduce.h"

std::unique_ptr<TPalette> CreateReductionPalette(TColorReduction ColorReduction,
                                                 const TPalette* Palette) {
  switch (ColorReduction) {
    case rmWindows20:
      return CreateDefaultPalette();
    case rmWindows256:
      return CreateScreenHalftonePalette();
    case rmWindowsGray:
      return CreateFourGrayPalette();
    case rmMonochrome:
      return CreateBlackWhitePalette();
    case rmGrayScale:
      return CreateGrayRampPalette();
    case rmNetscape:
      return CreateWebPalette();
    case rmPalette:
      // A palette without entries cannot be copied into a platform palette either.
      if (!Palette || Palette->Count() == 0) GIFError(gifmsg::sBadPalette);
      return CopyPalette(Palette);
    case rmNone:
    case rmQuantize:
    case rmQuantizeWindows:
      break;
  }
  return nullptr;
}

std::unique_ptr<TColorLookup> CreateReductionLookup(const TPalette* Palette,
                                                    TColorReduction ColorReduction) {
  switch (ColorReduction) {
    case rmMonochrome:
      return std::make_unique<TMonochromeLookup>(Palette);
    case rmGrayScale:
      return std::make_unique<TGrayScaleLookup>(Palette);
    case rmNetscape:
      return std::make_unique<TNetscapeColorLookup>(Palette);
    default:
      return GenericLookupClass(Palette);
  }
}

namespace {

// The reduction's palette, and in Usable the palette the pixels are looked up in: the same,
// except after quantizing, when the entries that only fill the palette to its size are
// left out, so that no pixel takes one of them.
std::unique_ptr<TPalette> ReductionPalette(TDIB& Reader, TColorReduction ColorReduction,
                                           const TPalette* Palette, int ReductionBits,
                                           std::unique_ptr<TPalette>& Usable) {
  if (ColorReduction != rmQuantize && ColorReduction != rmQuantizeWindows)
    return CreateReductionPalette(ColorReduction, Palette);
  int used = 0;
  std::unique_ptr<TPalette> palette = BuildQuantizedPalette(
      Reader, 1 << std::clamp(ReductionBits, 1, 8), 6, ColorReduction == rmQuantizeWindows, &used);
  if (used > 0 && used < palette->Count())
    Usable = std::make_unique<TPalette>(
        std::vector<TPaletteEntry>(palette->Entries().begin(), palette->Entries().begin() + used));
  return palette;
}

}  // namespace

std::unique_ptr<TBitmap> ReduceBitmapColors(TBitmap& Bitmap, TColorReduction ColorReduction,
                                            TDitherMode DitherMode, const TPalette* Palette,
                                            int ReductionBits) {
  auto result = std::make_unique<TBitmap>();
  if (ColorReduction == rmNone) {
    result->Assign(Bitmap);
    result->SetPixelFormat(pf24bit);
    return result;
  }
  if (int64_t(Bitmap.Width()) * Bitmap.Height() > LargeBitmapPixels) result->SetPixelFormat(pf1bit);
  // A copy first: the palette given may be the source's own (a 15-, 16- or 32-bit bitmap
  // can carry a colour table), which converting the source to 24 bits frees.
  const std::unique_ptr<TPalette> given =
      ColorReduction == rmPalette ? CopyPalette(Palette) : nullptr;
  TDIBReader reader(Bitmap, pf24bit);
  std::unique_ptr<TPalette> usable;
  std::unique_ptr<TPalette> palette =
      ReductionPalette(reader, ColorReduction, given.get(), ReductionBits, usable);
  std::unique_ptr<TColorLookup> lookup =
      CreateReductionLookup(usable ? usable.get() : palette.get(), ColorReduction);
  if (lookup->Colors() == 0) return result;
  std::unique_ptr<TDitherEngine> ditherer = CreateDitherer(DitherMode, Bitmap.Width(), *lookup);
  if (!ditherer) return result;
  TDIBWriter writer(*result, pf8bit, Bitmap.Width(), Bitmap.Height(), palette.get());
  ditherer->Reset();
  for (int y = 0; y < Bitmap.Height(); ++y)
    DitherRow(*ditherer, reader.GetScanline(y), writer.GetScanline(y));
  writer.UpdateBitmap();
  return result;
}
