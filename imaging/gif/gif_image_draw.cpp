// TGIFImage drawing, its composite bitmap and palette, and the clipboard hooks.
#include <algorithm>

#include "gif_glue.h"

namespace {

// Snaps a colour to the web colour cube.
TColor WebSnap(TColor c) {
  auto q = [](int v) { return uint8_t((v + 3) / 51 * 51); };
  return RGBColor(q(GetRValue(c)), q(GetGValue(c)), q(GetBValue(c)));
}

}  // namespace

TColor TGIFImage::EffectiveBackgroundColor() {
  TColor c;
  if (FDrawBackgroundColor != clNone)
    c = FDrawBackgroundColor & 0xFFFFFF;
  else if (GlobalColorMap().Count() == 0)
    c = clWindow;
  else
    c = BackgroundColor();
  return ShouldDither() ? WebSnap(c) : c;
}

void TGIFImage::Draw(TCanvas& canvas, const TRect& rect) {
  if (IsDrawing || FImages->Count() == 0) return;
  IsDrawing = true;
  try {
    if (FImages->Count() > 1 && FAnimate) {
      if (!FRenderer) FRenderer = NewRenderer();
    }
    if (FRenderer && FImages->Count() > 1 && FAnimate)
      FRenderer->Draw(canvas, rect);
    else
      DrawFrame0(canvas, rect);
  } catch (...) {
    IsDrawing = false;
    throw;
  }
  IsDrawing = false;
}

bool TGIFImage::OpaquePixels(TPixelView& view) {
  // Draw shows frame 0 alone unless the renderer plays several frames; stretched from the
  // logical screen, a frame covering the screen covers the whole rectangle.
  if (IsDrawing || FImages->Count() == 0 || (FImages->Count() > 1 && FAnimate)) return false;
  TGIFFrame& frame = *FImages->Frames(0);
  if (frame.Left() != 0 || frame.Top() != 0 || frame.Width() != Width() ||
      frame.Height() != Height())
    return false;
  // Not transparent, the picture fills under frame 0 and draws it without its mask.
  return frame.OpaquePixels(view, Transparent());
}

void TGIFImage::DrawFrame0(TCanvas& canvas, const TRect& rect) {
  TGIFFrame& frame = *FImages->Frames(0);
  if (!Transparent() && frame.Transparent()) {
    TBrush old = canvas.Brush;
    canvas.Brush.Color = EffectiveBackgroundColor();
    canvas.Brush.Style = bsSolid;
    canvas.FillRect(rect);
    canvas.Brush = old;
  }
  frame.Draw(canvas, rect, Transparent(), false);
}

TBitmap* TGIFImage::Bitmap() {
  if (FImages->Count() == 0) return nullptr;
  if (FBitmap) return FBitmap.get();
  FBitmap = std::make_unique<TBitmap>();
  FBitmap->OnChange = [this](TGraphic&) { Changed(); };
  TGIFFrame& frame = *FImages->Frames(0);
  if (frame.Width() == Width() && frame.Height() == Height() && !frame.Transparent()) {
    if (TBitmap* b = frame.Bitmap()) FBitmap->Assign(*b);
    return FBitmap.get();
  }
  FBitmap->SetSize(Width(), Height());
  if (TBitmap* b = frame.Bitmap()) FBitmap->SetPalette(b->Palette());
  if (frame.Transparent()) {
    FBitmap->Canvas().Brush.Color = EffectiveBackgroundColor();
    FBitmap->Canvas().Brush.Style = bsSolid;
    FBitmap->Canvas().FillRect(TRect{0, 0, Width(), Height()});
  }
  frame.Draw(FBitmap->Canvas(), TRect{0, 0, Width(), Height()}, true, false);
  return FBitmap.get();
}

HPALETTE TGIFImage::Palette() {
  if (IsInsideGetPalette) GIFError(gifmsg::sNoColorMap);
  IsInsideGetPalette = true;
  struct TGuard {
    bool& Flag;
    ~TGuard() { Flag = false; }
  } guard{IsInsideGetPalette};
  if (FBitmap && FBitmap->Palette()) return FBitmap->Palette();
  if (FGlobalPalette) return FGlobalPalette.get();
  if (ShouldDither()) {
    FGlobalPalette = CreateWebPalette();
    return FGlobalPalette.get();
  }
  if (GlobalColorMap().Count() > 0) {
    FGlobalPalette = GlobalColorMap().ExportPalette();
    return FGlobalPalette.get();
  }
  if (FImages->Count() > 0) return FImages->Frames(0)->Palette();
  return nullptr;
}

void TGIFImage::SetPalette(HPALETTE Value) {
  SetPalette(CopyPalette(Value));
}

void TGIFImage::SetPalette(std::unique_ptr<TPalette> Value) {
  if (!Value && !FGlobalPalette) return;
  StopDraw();
  FGlobalPalette = std::move(Value);
  if (FBitmap) {
    HPALETTE current = FBitmap->Palette();
    bool same =
        (!current && !FGlobalPalette) || (current && FGlobalPalette && *current == *FGlobalPalette);
    if (!same) {
      DropBitmap();
      SetPaletteModified(true);
      Changed();
    }
  }
}

void TGIFImage::SaveToClipboardFormat(TClipboardFormat& AFormat, TClipboardData& AData,
                                      std::unique_ptr<TPalette>& APalette) {
  APalette.reset();
  AData.Bytes.clear();
  if (Empty()) {
    AFormat = 0;
    return;
  }
  AFormat = GIFClipboardFormat;
  TMemoryStream stream;
  SaveToStream(stream);
  AData.Bytes.assign(stream.Memory(), stream.Memory() + stream.Size());
}

void TGIFImage::LoadFromClipboardFormat(TClipboardFormat AFormat, const TClipboardData& AData,
                                        HPALETTE APalette) {
  TClipboardData data = AData;
  if (data.Bytes.empty() && AFormat != 0) Clipboard().GetData(AFormat, data);
  if (AFormat != 0 && AFormat == GIFClipboardFormat && !data.Bytes.empty()) {
    TReadOnlyMemoryStream stream(data.Bytes.data(), data.Bytes.size());
    LoadFromStream(stream);
    return;
  }
  if ((AFormat == CF_DIB || AFormat == CF_BITMAP) && !data.Bytes.empty()) {
    TBitmap bitmap;
    bitmap.LoadFromClipboardFormat(AFormat, data, APalette);
    Assign(bitmap);
    return;
  }
  throw EInvalidGraphic(SUnknownClipboardFormat);
}
