// The frame's bitmap and mask, and drawing it scaled, tiled and with transparency.
#include <algorithm>
#include <cstring>

#include "gif_glue.h"
#include "gif_reduce.h"

namespace {

// a * b / c rounded to nearest (halves away from zero), without overflow.
int MulDiv(int64_t a, int64_t b, int64_t c) {
  if (c == 0) return -1;
  int64_t p = a * b;
  int64_t q = (std::abs(p) * 2 + std::abs(c)) / (std::abs(c) * 2);
  return int(((p < 0) != (c < 0)) ? -q : q);
}

std::vector<TRGBQuad> TableOf(const TPalette* palette) {
  std::vector<TRGBQuad> table;
  if (!palette) return table;
  for (const TPaletteEntry& e : palette->Entries())
    table.push_back(TRGBQuad{e.peBlue, e.peGreen, e.peRed, 0});
  return table;
}

// One row of the 1-bit mask: bit set (most significant first) where the pixel is t.
bool MaskRow(const uint8_t* pixels, int width, uint8_t t, uint8_t* bits) {
  bool any = false;
  for (int x = 0; x < width; ++x)
    if (pixels[x] == t) {
      bits[x >> 3] |= uint8_t(0x80 >> (x & 7));
      any = true;
    }
  return any;
}

// Rendering progress every 32 rows, to the image's listener if it has one.
void ReportRow(TGIFImage* image, int y, int height) {
  if (y % 32 == 0 && image && image->OnProgress)
    image->Progress(psRunning, uint8_t((y * 100 + height / 2) / height), false, TRect{},
                    gifmsg::sProgressRendering);
}

// An empty 1-bit mask of the frame's size, filled row by row with MaskRow.
std::unique_ptr<TBitmap> NewMask(int width, int height) {
  auto mask = std::make_unique<TBitmap>();
  mask->SetPixelFormat(pf1bit);
  mask->SetSize(width, height);
  return mask;
}

// An 8-bit frame bitmap drawn unscaled inside a 24- or 32-bit canvas: each row is looked
// up straight into the canvas. The result is StretchBlt's (black past the colour table, a
// zero fourth byte), without its per-pixel format dispatch and intermediate row. Answers
// false, drawing nothing, for any other case.
bool DrawIndexedUnscaled(const TPixelView& dst, const TRect& r, const TPixelView& src) {
  const int bytes = dst.BitCount / 8;
  if (src.BitCount != 8 || (dst.BitCount != 24 && dst.BitCount != 32)) return false;
  if (r.Width() != src.Width || r.Height() != src.Height) return false;
  if (r.Left < 0 || r.Top < 0 || r.Right > dst.Width || r.Bottom > dst.Height) return false;
  uint8_t lut[256][4] = {};
  const int colors = src.Colors ? std::min(src.ColorCount, 256) : 0;
  for (int i = 0; i < colors; ++i) {
    lut[i][0] = src.Colors[i].rgbBlue;
    lut[i][1] = src.Colors[i].rgbGreen;
    lut[i][2] = src.Colors[i].rgbRed;
  }
  for (int y = 0; y < src.Height; ++y) {
    const uint8_t* s = src.Row(y);
    uint8_t* d = dst.Row(r.Top + y) + ptrdiff_t(r.Left) * bytes;
    // Four-byte stores; in 24 bits the spare byte is overwritten by the next pixel.
    for (int x = 0; x + 1 < src.Width; ++x, d += bytes) std::memcpy(d, lut[s[x]], 4);
    std::memcpy(d, lut[s[src.Width - 1]], size_t(bytes));
  }
  return true;
}

}  // namespace

TBitmap* TGIFFrame::GetBitmap() {
  if (FBitmap || Empty()) return FBitmap.get();
  try {
    if (FImage) FImage->Progress(psStarting, 0, false, TRect{}, gifmsg::sProgressRendering);
    FBitmap = (FImage && FImage->ShouldDither()) ? RenderDitheredBitmap() : RenderIndexedBitmap();
    if (FImage) {
      FImage->Progress(psEnding, 100, FImage->PaletteModified(), TRect{},
                       gifmsg::sProgressRendering);
      if (FImage->PaletteModified()) FImage->Changed();
    }
  } catch (const EAbort&) {
    DropBitmap();
    return nullptr;
  }
  return FBitmap.get();
}

std::unique_ptr<TBitmap> TGIFFrame::RenderIndexedBitmap() {
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->SetPixelFormat(pf8bit);
  bitmap->SetColorTable(TableOf(Palette()));
  CheckedDibSize(Width(), Height(), 8);
  bitmap->SetSize(Width(), Height());
  if (Empty()) return bitmap;
  bool computeMask = FNeedMask && Transparent();
  FNeedMask = false;
  std::unique_ptr<TBitmap> mask = computeMask ? NewMask(Width(), Height()) : nullptr;
  bool anyTransparent = false;
  uint8_t t = computeMask ? FGCE->TransparentColorIndex() : 0;
  const size_t width = size_t(Width());
  for (int y = 0; y < Height(); ++y) {
    ReportRow(FImage, y, Height());
    const uint8_t* src = FData.data() + size_t(y) * width;
    std::memcpy(bitmap->GetScanline(y), src, width);
    if (computeMask) anyTransparent |= MaskRow(src, Width(), t, mask->GetScanline(y));
  }
  if (anyTransparent) FMask = std::move(mask);
  return bitmap;
}

std::unique_ptr<TBitmap> TGIFFrame::RenderDitheredBitmap() {
  if (Empty()) return RenderIndexedBitmap();
  auto bitmap = std::make_unique<TBitmap>();
  if (int64_t(Width()) * Height() > LargeBitmapPixels) bitmap->SetPixelFormat(pf1bit);
  HPALETTE palette = Palette();
  bool computeMask = FNeedMask && Transparent();
  FNeedMask = false;
  std::unique_ptr<TBitmap> mask = computeMask ? NewMask(Width(), Height()) : nullptr;
  bool anyTransparent = false;
  // The map's colours once, black past its end (pixels of a damaged frame).
  TGIFColorMap& map = ActiveColorMap();
  TGIFColor colors[256] = {};
  std::copy(map.Data(), map.Data() + std::min(map.Count(), 256), colors);
  const uint8_t t = computeMask ? FGCE->TransparentColorIndex() : 0;
  TNetscapeColorLookup lookup(palette);
  TFloydSteinbergDitherer ditherer(Width(), lookup);
  int r, g, b;
  // Under transparent pixels: the transparent colour's own entry of the web palette.
  const uint8_t fill =
      uint8_t(lookup.Lookup(colors[t].Red, colors[t].Green, colors[t].Blue, r, g, b));
  TDIBWriter writer(*bitmap, pf8bit, Width(), Height(), palette);
  ditherer.Reset();
  const size_t width = size_t(Width());
  for (int y = 0; y < Height(); ++y) {
    ReportRow(FImage, y, Height());
    const uint8_t* src = FData.data() + size_t(y) * width;
    uint8_t* dst = writer.GetScanline(y);
    uint8_t* bits = computeMask ? mask->GetScanline(y) : nullptr;
    if (computeMask) std::memset(dst, fill, width);
    for (int x = ditherer.Column(); x >= 0 && x < Width(); x += ditherer.Direction()) {
      if (computeMask && src[x] == t) {
        bits[x >> 3] |= uint8_t(0x80 >> (x & 7));
        anyTransparent = true;
        ditherer.NextColumn();
        continue;
      }
      const TGIFColor& c = colors[src[x]];
      dst[x] = uint8_t(ditherer.Dither(c.Red, c.Green, c.Blue, r, g, b));
    }
    ditherer.NextLine();
  }
  writer.UpdateBitmap();
  if (anyTransparent) FMask = std::move(mask);
  return bitmap;
}

TRect TGIFFrame::ScaleRect(const TRect& DestRect) const {
  int w = FImage ? FImage->Width() : Width();
  int h = FImage ? FImage->Height() : Height();
  if (w <= 0 || h <= 0) return DestRect;
  int dw = DestRect.Right - DestRect.Left, dh = DestRect.Bottom - DestRect.Top;
  return TRect{DestRect.Left + MulDiv(Left(), dw, w), DestRect.Top + MulDiv(Top(), dh, h),
               DestRect.Left + MulDiv(Left() + Width(), dw, w),
               DestRect.Top + MulDiv(Top() + Height(), dh, h)};
}

void TGIFFrame::Draw(TCanvas& ACanvas, const TRect& Rect, bool DoTransparent, bool DoTile) {
  StretchDraw(ACanvas, DoTile ? Rect : ScaleRect(Rect), DoTransparent, DoTile);
}

bool TGIFFrame::OpaquePixels(TPixelView& view, bool DoTransparent) {
  // A dithered bitmap is not the pixels; without any colour table drawing fails.
  if (Empty() || ActiveColorMap().Count() == 0 || (FImage && FImage->ShouldDither())) return false;
  const bool masking = DoTransparent && Transparent();
  // HasMask builds the bitmap again from the pixels while the mask is not known.
  const bool rebuilt = masking && FNeedMask;
  if (masking) {
    const uint8_t t = FGCE->TransparentColorIndex();
    if (rebuilt ? std::memchr(FData.data(), t, FDataSize) != nullptr : FMask != nullptr)
      return false;
  }
  if (FBitmap && !rebuilt) {
    view = FBitmap->View();
    return view.Valid();
  }
  // A progress listener may abort building the bitmap, which then draws nothing.
  if (FImage && FImage->OnProgress) return false;
  CheckedDibSize(Width(), Height(), 8);
  // The colour table RenderIndexedBitmap gives the bitmap, black past its end as a
  // transfer reads an index beyond a table.
  const std::vector<TRGBQuad> table = TableOf(Palette());
  FViewColors.assign(256, TRGBQuad{});  // in place: an earlier view stays valid
  std::copy_n(table.begin(), std::min<size_t>(table.size(), 256), FViewColors.begin());
  view = TPixelView{FData.data(), Width(), Width(), Height(), 8, FViewColors.data(), 256};
  return true;
}

void TGIFFrame::StretchDraw(TCanvas& ACanvas, const TRect& Rect, bool DoTransparent, bool DoTile) {
  bool masked = DoTransparent && Transparent() && HasMask();
  TBitmap* bitmap = GetBitmap();
  if (!bitmap || bitmap->Empty()) return;
  TRect whole{0, 0, Width(), Height()};
  TPixelView dst = ACanvas.View(), src = bitmap->View();
  auto place = [&](const TRect& r) {
    if (masked && FMask)
      StretchMaskedCopy(dst, r, src, whole, FMask->View());
    else if (!DrawIndexedUnscaled(dst, r, src))
      StretchBlt(dst, r, src, whole);
  };
  if (DoTile) {
    // Unscaled tiles one screen apart; only those that can touch the canvas are drawn.
    int w = FImage ? FImage->Width() : Width();
    int h = FImage ? FImage->Height() : Height();
    if (w <= 0 || h <= 0) return;
    int64_t right = std::min<int64_t>(Rect.Right, dst.Width);
    int64_t bottom = std::min<int64_t>(Rect.Bottom, dst.Height);
    for (int64_t x = int64_t(Rect.Left) + Left(); x < right; x += w) {
      if (x + Width() <= 0) continue;
      for (int64_t y = int64_t(Rect.Top) + Top(); y < bottom; y += h)
        if (y + Height() > 0) place(TRect{int(x), int(y), int(x) + Width(), int(y) + Height()});
    }
  } else {
    place(Rect);
  }
  if (masked) ACanvas.Changed();
}
