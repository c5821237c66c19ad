// Colour reduction entry points used by the frame: the web palette and the reduction of
// bitmaps that are not 1, 4 or 8 bits per pixel.
#include "gif_glue.h"

std::unique_ptr<TPalette> CreateWebPalette() {
  std::vector<TPaletteEntry> entries;
  entries.reserve(216);
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        entries.push_back(TPaletteEntry{uint8_t(51 * r), uint8_t(51 * g), uint8_t(51 * b), 0});
  return std::make_unique<TPalette>(std::move(entries));
}

std::unique_ptr<TBitmap> ReduceBitmapColors(TBitmap& Bitmap, TColorReduction ColorReduction,
                                            TDitherMode, const TPalette*, int) {
  if (ColorReduction != rmNone) throw EAbstractError();
  auto result = std::make_unique<TBitmap>();
  result->Assign(Bitmap);
  result->SetPixelFormat(pf24bit);
  return result;
}
