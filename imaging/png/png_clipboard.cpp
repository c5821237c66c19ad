// Clipboard hooks: the clipboard carries bitmaps, so a PNG goes through one.
#include "png_internal.h"

void TPngImage::SaveToClipboardFormat(TClipboardFormat& format, TClipboardData& data,
                                      std::unique_ptr<TPalette>& palette) {
  TBitmap bitmap;
  bitmap.SetSize(Width(), Height());
  Draw(bitmap.Canvas(), Rect(0, 0, Width(), Height()));
  bitmap.SaveToClipboardFormat(format, data, palette);
}

void TPngImage::LoadFromClipboardFormat(TClipboardFormat format, const TClipboardData& data,
                                        HPALETTE palette) {
  TBitmap bitmap;
  bitmap.LoadFromClipboardFormat(format, data, palette);
  AssignHandle(bitmap, false, 0);
}
