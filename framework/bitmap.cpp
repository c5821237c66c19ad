// TBitmap: an owned device-independent pixel buffer with its colour table.
#include <algorithm>
#include <cstring>
#include <utility>

#include "bmp_io.h"
#include "pixel_codec.h"

namespace {

std::vector<TRGBQuad> TableOf(const TPalette& palette, int maxCount) {
  std::vector<TRGBQuad> table;
  int n = std::min(palette.Count(), maxCount);
  table.reserve(size_t(n));
  for (int i = 0; i < n; ++i) {
    const auto& e = palette.Entries()[size_t(i)];
    table.push_back(TRGBQuad{e.peBlue, e.peGreen, e.peRed, 0});
  }
  return table;
}

// The colour table a new indexed bitmap starts with.
std::vector<TRGBQuad> DefaultTable(int bitCount) {
  switch (bitCount) {
    case 1:
      return {TRGBQuad{0, 0, 0, 0}, TRGBQuad{255, 255, 255, 0}};
    case 4:
      return TableOf(VgaPalette16(), 16);
    case 8:
      return TableOf(HalftonePalette256(), 256);
    default:
      return {};
  }
}

bool IsIndexed(TPixelFormat f) {
  return f == pf1bit || f == pf4bit || f == pf8bit;
}

}  // namespace

TBitmap::TBitmap() = default;
TBitmap::~TBitmap() = default;

void TBitmap::Reallocate(int width, int height, TPixelFormat format, bool keepPixels) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  int bitCount = BitCountOf(format);
  uint64_t bytes = CheckedDibSize(width, height, bitCount);
  TPixelBuffer pixels{size_t(bytes)};
  ptrdiff_t stride = ptrdiff_t(DibStride(width, bitCount));
  if (keepPixels && format == FPixelFormat && !FPixels.empty()) {
    size_t rowBytes = size_t(std::min(stride, FStride));
    for (int y = 0; y < std::min(height, FHeight); ++y)
      std::memcpy(pixels.data() + y * stride, FPixels.data() + y * FStride, rowBytes);
  }
  if (IsIndexed(format) && FColors.empty()) FColors = DefaultTable(bitCount);
  if (!IsIndexed(format)) FColors.clear();
  FPixels = std::move(pixels);
  FStride = stride;
  FWidth = width;
  FHeight = height;
  FPixelFormat = format == pfDevice || format == pfCustom ? pf32bit : format;
}

void TBitmap::SetWidth(int value) {
  SetSize(value, FHeight);
}
void TBitmap::SetHeight(int value) {
  SetSize(FWidth, value);
}

void TBitmap::SetSize(int width, int height) {
  if (width == FWidth && height == FHeight) return;
  Reallocate(width, height, FPixelFormat, true);
  Changed();
}

void TBitmap::SetPixelFormat(TPixelFormat value) {
  if (value == pfDevice || value == pfCustom) value = pf32bit;
  if (value == FPixelFormat) return;
  TPixelView old = View();
  TPixelBuffer oldPixels = std::move(FPixels);
  std::vector<TRGBQuad> oldColors = FColors;
  old.Bits = oldPixels.data();
  old.Colors = oldColors.data();
  int bitCount = BitCountOf(value);
  // An indexed target keeps the bitmap's palette when it fits, else a default one.
  if (IsIndexed(value)) {
    if (FPalette && FPalette->Count() > 0 && FPalette->Count() <= (1 << bitCount))
      FColors = TableOf(*FPalette, 1 << bitCount);
    else if (int(FColors.size()) > (1 << bitCount) || FColors.empty())
      FColors = DefaultTable(bitCount);
  }
  FPixelFormat = value;
  FPixels.clear();
  Reallocate(FWidth, FHeight, value, false);
  if (old.Valid()) BitBlt(View(), 0, 0, old, TRect{0, 0, old.Width, old.Height});
  if (!IsIndexed(value) && FPalette && oldColors.size()) FPalette.reset();
  Changed();
}

void TBitmap::SetColorTable(const std::vector<TRGBQuad>& colors) {
  int limit = IsIndexed(FPixelFormat) ? 1 << BitCount() : 256;
  FColors.assign(colors.begin(),
                 colors.begin() + std::min<ptrdiff_t>(ptrdiff_t(colors.size()), limit));
  FPalette.reset();
  SetPaletteModified(true);
}

HPALETTE TBitmap::Palette() {
  if (!FPalette && !FColors.empty()) {
    std::vector<TPaletteEntry> entries;
    for (const auto& q : FColors) entries.push_back({q.rgbRed, q.rgbGreen, q.rgbBlue, 0});
    FPalette = std::make_unique<TPalette>(std::move(entries));
  }
  return FPalette.get();
}

void TBitmap::SetPalette(HPALETTE palette) {
  if (palette == FPalette.get()) return;
  FPalette = CopyPalette(palette);
  if (FPalette && IsIndexed(FPixelFormat)) FColors = TableOf(*FPalette, 1 << BitCount());
  SetPaletteModified(true);
  Changed();
}

void TBitmap::SetTransparent(bool value) {
  if (value == FTransparent) return;
  FTransparent = value;
  Changed();
}

TColor TBitmap::TransparentColor() const {
  if (FTransparentMode == tmFixed && FTransparentColor != clNone) return FTransparentColor;
  if (Empty()) return clNone;
  return PixelColor(0, FHeight - 1);
}

void TBitmap::SetTransparentColor(TColor value) {
  FTransparentColor = value;
  FTransparentMode = value == clNone ? tmAuto : tmFixed;
  Changed();
}

uint8_t* TBitmap::GetScanline(int row) {
  if (row < 0 || row >= FHeight) throw EInvalidGraphicOperation("Indice de ligne hors limites");
  return FPixels.data() + ptrdiff_t(row) * FStride;
}

const uint8_t* TBitmap::GetScanline(int row) const {
  return const_cast<TBitmap*>(this)->GetScanline(row);
}

TPixelView TBitmap::View() {
  TPixelView v;
  v.Bits = FPixels.empty() ? nullptr : FPixels.data();
  v.Stride = FStride;
  v.Width = FWidth;
  v.Height = FHeight;
  v.BitCount = BitCount();
  v.Colors = FColors.empty() ? nullptr : FColors.data();
  v.ColorCount = int(FColors.size());
  return v;
}

TCanvas& TBitmap::Canvas() {
  if (!FCanvas) FCanvas = std::make_unique<TCanvas>(*this);
  return *FCanvas;
}

TColor TBitmap::PixelColor(int x, int y) const {
  return const_cast<TBitmap*>(this)->View().PixelColor(x, y);
}

void TBitmap::SetPixelColor(int x, int y, TColor color) {
  FillPixels(View(), TRect{x, y, x + 1, y + 1}, color);
}

void TBitmap::Draw(TCanvas& canvas, const TRect& rect) {
  if (Empty()) return;
  TPixelView src = View();
  TPixelView dst = canvas.View();
  TRect whole{0, 0, FWidth, FHeight};
  if (FPixelFormat == pf32bit && FAlphaFormat == afDefined) {
    // The blend takes colours already scaled by their alpha; straight alpha is scaled in
    // a scratch copy so the bitmap's own pixels stay as they are.
    TPixelBuffer scratch(FPixels);
    for (size_t i = 0; i + 3 < scratch.size(); i += 4) {
      const unsigned a = scratch[i + 3];
      for (size_t c = 0; c < 3; ++c) scratch[i + c] = uint8_t((scratch[i + c] * a + 127) / 255);
    }
    TPixelView premultiplied = src;
    premultiplied.Bits = scratch.data() + (src.Bits - FPixels.data());
    AlphaBlendPremultiplied(dst, rect, premultiplied, whole);
  } else if (FPixelFormat == pf32bit && FAlphaFormat == afPremultiplied) {
    AlphaBlendPremultiplied(dst, rect, src, whole);
  } else if (FTransparent) {
    // Pixels of the transparent colour keep the canvas.
    TBitmap mask;
    mask.Reallocate(FWidth, FHeight, pf1bit, false);
    TPixelView maskView = mask.View();
    maskView.Colors = nullptr;  // a mask: colour -> 1 where it equals the background
    BitBlt(maskView, 0, 0, src, whole, ropSrcCopy, TBltColors{TransparentColor(), clBlack});
    StretchMaskedCopy(dst, rect, src, whole, maskView);
  } else {
    StretchBlt(dst, rect, src, whole);
  }
}

void TBitmap::CopyFrom(const TBitmap& source) {
  FWidth = source.FWidth;
  FHeight = source.FHeight;
  FPixelFormat = source.FPixelFormat;
  FAlphaFormat = source.FAlphaFormat;
  FTransparentMode = source.FTransparentMode;
  FTransparentColor = source.FTransparentColor;
  FTransparent = source.FTransparent;
  FStride = source.FStride;
  FPixels = source.FPixels;
  FColors = source.FColors;
  FPalette = CopyPalette(source.FPalette.get());
}

// Takes the pixels, colour table and settings over; the source is left empty.
void TBitmap::MoveFrom(TBitmap& source) {
  FWidth = std::exchange(source.FWidth, 0);
  FHeight = std::exchange(source.FHeight, 0);
  FPixelFormat = source.FPixelFormat;
  FAlphaFormat = source.FAlphaFormat;
  FTransparentMode = source.FTransparentMode;
  FTransparentColor = source.FTransparentColor;
  FTransparent = source.FTransparent;
  FStride = std::exchange(source.FStride, 0);
  FPixels = std::move(source.FPixels);
  source.FPixels.clear();
  FColors = std::move(source.FColors);
  source.FColors.clear();
  FPalette = std::move(source.FPalette);
}

void TBitmap::Adopt(TGraphic& source) {
  auto* bitmap = dynamic_cast<TBitmap*>(&source);
  if (bitmap == nullptr || bitmap == this) return Assign(source);
  MoveFrom(*bitmap);
  SetPaletteModified(true);
  Changed();
}

bool TBitmap::OpaquePixels(TPixelView& view) {
  // What Draw blends or masks is not opaque.
  if (Empty() || FTransparent || (FPixelFormat == pf32bit && FAlphaFormat != afIgnored))
    return false;
  view = View();
  return view.Valid();
}

void TBitmap::Assign(TGraphic& source) {
  if (&source == this) return;
  if (auto* bitmap = dynamic_cast<TBitmap*>(&source)) {
    CopyFrom(*bitmap);
    SetPaletteModified(true);
    Changed();
    return;
  }
  try {
    source.AssignTo(*this);
    return;
  } catch (const EConvertError&) {
    // No conversion of its own: draw it on a white 24-bit bitmap of its size.
  }
  TBitmap drawn;
  drawn.Reallocate(source.Width(), source.Height(), pf24bit, false);
  TPixelView covering;
  if (!source.OpaquePixels(covering))
    FillPixels(drawn.View(), TRect{0, 0, drawn.Width(), drawn.Height()}, clWhite);
  source.Draw(drawn.Canvas(), TRect{0, 0, drawn.Width(), drawn.Height()});
  MoveFrom(drawn);
  Changed();
}

void TBitmap::AssignTo(TGraphic& dest) {
  TGraphic::AssignTo(dest);
}

void TBitmap::LoadFromStream(TStream& stream) {
  ReadBmpStream(stream, *this);
  SetPaletteModified(true);
  Changed();
}

void TBitmap::SaveToStream(TStream& stream) {
  WriteBmpStream(stream, *this);
}

void TBitmap::LoadFromClipboardFormat(TClipboardFormat format, const TClipboardData& data,
                                      HPALETTE palette) {
  if (format != CF_DIB && format != CF_BITMAP)
    throw EInvalidGraphic("Format de presse-papiers non pris en charge");
  ReadPackedDib(data.Bytes.data(), data.Bytes.size(), *this);
  if (palette) SetPalette(palette);
  Changed();
}

void TBitmap::SaveToClipboardFormat(TClipboardFormat& format, TClipboardData& data,
                                    std::unique_ptr<TPalette>& palette) {
  format = CF_DIB;
  data.Bytes = MakePackedDib(*this);
  palette = CopyPalette(Palette());
}
