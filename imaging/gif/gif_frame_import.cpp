// A frame made from another frame, a bitmap or any other picture, and a frame given to a
// bitmap.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "gif_glue.h"

void TGIFFrame::CopyFrom(TGIFFrame& Source) {
  FImageDescriptor = Source.FImageDescriptor;
  AllocatePixels();
  if (FDataSize)
    std::memcpy(FData.data(), Source.FData.data(), std::min(FDataSize, Source.FDataSize));
  TGIFColorMap& map = Source.ActiveColorMap();
  FColorMap->ImportColorMap(map.Data(), map.Count());
  FColorMap->SetOptimized(map.Optimized());
  FExtensions->Assign(*Source.FExtensions);
  if (Source.FBitmap) {
    FBitmap = std::make_unique<TBitmap>();
    FBitmap->Assign(*Source.FBitmap);
  }
}

void TGIFFrame::Assign(TGIFFrame* Source) {
  if (Source == this) return;
  Clear();
  if (Source && !Source->Empty()) CopyFrom(*Source);
}

void TGIFFrame::Assign(TPicture& Source) {
  if (Source.Graphic())
    Assign(*Source.Graphic());
  else
    Clear();
}

void TGIFFrame::Assign(TGraphic& Source) {
  if (auto* bitmap = dynamic_cast<TBitmap*>(&Source)) {
    ImportBitmap(*bitmap);
    return;
  }
  if (auto* gif = dynamic_cast<TGIFImage*>(&Source)) {
    Assign(gif->Empty() ? nullptr : gif->Images().Frames(0));
    return;
  }
  // Any other picture: drawn into a 24-bit bitmap of its size first.
  Clear();
  if (Source.Empty()) return;
  TBitmap bitmap;
  try {
    bitmap.Assign(Source);
  } catch (const EConvertError&) {
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(Source.Width(), Source.Height());
    Source.Draw(bitmap.Canvas(), TRect{0, 0, Source.Width(), Source.Height()});
  }
  ImportBitmap(bitmap);
}

void TGIFFrame::AssignTo(TGraphic& Dest) {
  if (auto* bitmap = dynamic_cast<TBitmap*>(&Dest)) {
    if (TBitmap* b = Bitmap())
      bitmap->Assign(*b);
    else
      bitmap->SetSize(0, 0);
    return;
  }
  throw EConvertError("Impossible de convertir une image TGIFFrame en " + Dest.ClassName());
}

namespace {

// A GIF pixel is either drawn or transparent: a 32-bit bitmap whose alpha is in use (a PNG
// or BMP with an alpha channel) becomes transparent where it is less than half opaque, as
// a viewer shows it. Empty when the bitmap has no alpha or no such pixel.
std::vector<uint8_t> AlphaMask(TBitmap& Source) {
  if (Source.PixelFormat() != pf32bit || Source.AlphaFormat() == afIgnored) return {};
  const int w = Source.Width(), h = Source.Height();
  std::vector<uint8_t> mask(size_t(w) * size_t(h), 0);
  bool any = false;
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = Source.GetScanline(y);
    for (int x = 0; x < w; ++x)
      if (row[4 * x + 3] < 128) mask[size_t(y) * size_t(w) + size_t(x)] = any = true;
  }
  if (!any) mask.clear();
  return mask;
}

}  // namespace

void TGIFFrame::ImportBitmap(TBitmap& Source) {
  Clear();
  if (Source.Empty()) return;
  ApplyBounds(0, 0, Source.Width(), Source.Height());
  // Taken first: the reduction below may convert the source in place.
  const std::vector<uint8_t> alphaMask =
      Source.Transparent() ? std::vector<uint8_t>{} : AlphaMask(Source);
  int bits = Source.BitCount();
  std::unique_ptr<TBitmap> work = std::make_unique<TBitmap>();
  if (bits == 1 || bits == 4 || bits == 8) {
    work->Assign(Source);
  } else {
    TColorReduction reduction = FImage ? FImage->ColorReduction() : rmNone;
    work = ReduceBitmapColors(Source, reduction, FImage ? FImage->DitherMode() : dmNearest,
                              reduction == rmPalette ? Source.Palette() : nullptr,
                              FImage ? FImage->ReductionBits() : 8);
    bits = work->BitCount();
  }
  AllocatePixels();
  if (FImage) FImage->Progress(psStarting, 0, false, TRect{}, gifmsg::sProgressConverting);
  FBitmap = std::move(work);
  if (bits == 1 || bits == 4 || bits == 8)
    ImportIndexed(*FBitmap, bits);
  else
    ImportTrueColor(*FBitmap);
  if (Source.Transparent()) {
    TColor tc = Source.TransparentColor() & 0xFFFFFF;
    if (bits <= 8) {
      int index = FColorMap->IndexOf(tc);
      if (index >= 0) AddTransparency(index);
    } else {
      std::vector<uint8_t> mask(FDataSize, 0);
      for (int y = 0; y < Height(); ++y)
        for (int x = 0; x < Width(); ++x)
          mask[size_t(y) * size_t(Width()) + size_t(x)] = Source.PixelColor(x, y) == tc;
      ImportMask(mask);
      if (Transparent()) ActiveColorMap().SetColor(FGCE->TransparentColorIndex(), tc);
    }
  } else if (!alphaMask.empty()) {
    ImportAlphaMask(alphaMask);
  }
  if (FImage)
    FImage->Progress(psEnding, 100, FImage->PaletteModified(), TRect{},
                     gifmsg::sProgressConverting);
  // The frame draws from its own pixels, built on first use. Kept, the bitmap read would
  // outlive a later change of the frame's colours (the frame has cached no palette of its
  // own for that change to clear), and repaired indices or a mask may already set it apart.
  FBitmap.reset();
}

namespace {

// Conversion progress every 32 rows.
void ReportImportProgress(TGIFImage* Image, int Row, int Height) {
  if (Image && Row % 32 == 0)
    Image->Progress(psRunning, uint8_t(int64_t(Row) * 100 / std::max(Height, 1)), false, TRect{},
                    gifmsg::sProgressConverting);
}

}  // namespace

void TGIFFrame::ImportIndexed(TBitmap& Source, int Bits) {
  const std::vector<TRGBQuad>& table = Source.ColorTable();
  int colors = std::min<int>(int(table.size()), 1 << Bits);
  FColorMap->ImportColorTable(table.data(), colors);
  bool repaired = false;
  for (int y = 0; y < Height(); ++y) {
    ReportImportProgress(FImage, y, Height());
    const uint8_t* src = Source.GetScanline(y);
    uint8_t* dst = FData.data() + size_t(y) * size_t(Width());
    for (int x = 0; x < Width(); ++x) {
      uint8_t v = Bits == 8   ? src[x]
                  : Bits == 4 ? uint8_t((x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4))
                              : uint8_t((src[x >> 3] >> (7 - (x & 7))) & 1);
      if (v >= colors) {
        v = 0;
        repaired = true;
      }
      dst[x] = v;
    }
  }
  if (repaired) Warning(gsWarning, SInvalidBitmap);
}

void TGIFFrame::ImportTrueColor(TBitmap& Source) {
  // Colours in order of first appearance. The bytes are taken as one blue-green-red value;
  // red and blue of the map entries are exchanged once at the end.
  TColorCache cache;
  for (int y = 0; y < Height(); ++y) {
    ReportImportProgress(FImage, y, Height());
    const uint8_t* src = Source.GetScanline(y);
    uint8_t* dst = FData.data() + size_t(y) * size_t(Width());
    for (int x = 0; x < Width(); ++x, src += 3) {
      const TColor c = TColor(src[0]) | TColor(src[1]) << 8 | TColor(src[2]) << 16;
      int index = cache.Find(c);
      if (index < 0) {
        index = FColorMap->AddUnique(c);  // a 257th colour raises the overflow error
        cache.Store(c, index);
      }
      dst[x] = uint8_t(index);
    }
  }
  for (int i = 0; i < FColorMap->Count(); ++i) {
    const TColor c = FColorMap->GetColor(i);
    FColorMap->SetColor(i, RGBColor(uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)));
  }
}

void TGIFFrame::ImportMask(const std::vector<uint8_t>& Mask) {
  FColorMap->Optimize();
  int count = FColorMap->Count();
  if (count < 1 || count > 255) return;
  int n = FColorMap->Add(TransparentFillColor);
  bool any = false;
  for (size_t i = 0; i < FDataSize && i < Mask.size(); ++i)
    if (Mask[i]) {
      FData[i] = uint8_t(n);
      any = true;
    }
  if (any)
    AddTransparency(n);
  else
    FColorMap->Delete(n);
}

// The transparent pixels need an entry of their own. An entry that only they use is taken
// over; else one is added; a map that is full and wholly used by drawn pixels gives up its
// least used colour, whose pixels take the nearest remaining one.
void TGIFFrame::ImportAlphaMask(const std::vector<uint8_t>& Mask) {
  const int count = FColorMap->Count();
  if (count < 1 || Mask.size() < FDataSize) return;
  std::vector<uint64_t> uses(256, 0);
  for (size_t i = 0; i < FDataSize; ++i)
    if (!Mask[i]) ++uses[FData[i]];
  int index = -1;
  for (int c = 0; c < count && index < 0; ++c)
    if (uses[size_t(c)] == 0) index = c;
  if (index < 0 && count < 256) index = FColorMap->Add(TransparentFillColor);
  if (index < 0) {
    index = int(std::min_element(uses.begin(), uses.begin() + count) - uses.begin());
    const TColor lost = FColorMap->Colors(index);
    int nearest = index == 0 ? 1 : 0;
    int64_t best = INT64_MAX;
    for (int c = 0; c < count; ++c) {
      if (c == index) continue;
      const TColor k = FColorMap->Colors(c);
      int64_t d = 0;
      for (int shift : {0, 8, 16}) {
        const int64_t delta = int64_t((lost >> shift) & 0xFF) - int64_t((k >> shift) & 0xFF);
        d += delta * delta;
      }
      if (d < best) best = d, nearest = c;
    }
    for (size_t i = 0; i < FDataSize; ++i)
      if (!Mask[i] && FData[i] == index) FData[i] = uint8_t(nearest);
  }
  FColorMap->SetColor(index, TransparentFillColor);
  for (size_t i = 0; i < FDataSize; ++i)
    if (Mask[i]) FData[i] = uint8_t(index);
  AddTransparency(index);
}
