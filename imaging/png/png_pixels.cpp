// Work on the decoded image: transparency mode and colour, adding and removing alpha,
// single pixels, scan lines, cropping/extending and the palette.
#include <algorithm>

#include "png_internal.h"
#include "png_read_internal.h"

namespace {

// Bits of one stored pixel of a grey or palette image (2-bit images hold 4-bit pixels).
int StoredBits(const TChunkIHDR& h) {
  return h.BitDepth() == 2 ? 4 : std::min<int>(h.BitDepth(), 8);
}

// The platform's colour-to-RGB conversion: only the three colour bytes count.
TColor ColorToRGB(TColor color) {
  return color & 0xFFFFFF;
}

}  // namespace

void TPngImage::ReplacePalette(std::unique_ptr<TPalette> palette, bool refreshColorTable) {
  TChunkIHDR& header = Header();
  if (!header.HasPalette()) return;
  if (refreshColorTable) header.CopyPaletteToColorTable(palette.get());
  header.SetImagePalette(std::move(palette));
  SetPaletteModified(true);
}

TPNGTransparencyMode TPngImage::TransparencyMode() const {
  if (!HasHeader()) return ptmNone;
  const auto* trns = fChunkList.Find<TChunktRNS>();
  switch (Header().ColorType()) {
    case COLOR_GRAYSCALE:
    case COLOR_RGB:
      return trns ? ptmBit : ptmNone;
    case COLOR_PALETTE:
      if (!trns) return ptmNone;
      return trns->BitTransparency() ? ptmBit : ptmPartial;
    case COLOR_GRAYSCALEALPHA:
    case COLOR_RGBALPHA:
      return ptmPartial;
    default:
      return ptmNone;
  }
}

TColor TPngImage::TransparentColor() const {
  if (!HasHeader()) return 0;
  const auto* trns = fChunkList.Find<TChunktRNS>();
  return trns ? trns->TransparentColor() : 0;
}

void TPngImage::SetTransparentColor(TColor value) {
  // Without a header there is no pixel that could take the colour: nothing to do.
  if (!HasHeader()) return;
  switch (Header().ColorType()) {
    case COLOR_GRAYSCALE:
    case COLOR_RGB:
    case COLOR_PALETTE: {
      auto* trns = fChunkList.Find<TChunktRNS>();
      if (!trns) trns = fChunkList.Add<TChunktRNS>();
      trns->SetTransparentColor(ColorToRGB(value));
      Changed();
      break;
    }
    case COLOR_GRAYSCALEALPHA:
    case COLOR_RGBALPHA:
      throw EPNGCannotChangeTransparent();
    default:
      break;
  }
}

void TPngImage::CreateAlpha() {
  TChunkIHDR& header = ImageHeader(*this);
  switch (header.ColorType()) {
    case COLOR_GRAYSCALE:
    case COLOR_RGB:
      header.AddOpaqueAlpha();
      break;
    case COLOR_PALETTE: {
      auto* trns = fChunkList.Find<TChunktRNS>();
      if (!trns) trns = fChunkList.Add<TChunktRNS>();
      trns->PaletteValues.fill(255);
      trns->ResizeData(1u << std::min<int>(header.BitDepth(), 8));
      trns->SetBitTransparency(false);
      break;
    }
    default:
      break;
  }
  Changed();
}

void TPngImage::RemoveTransparency() {
  TChunkIHDR& header = Header();
  switch (header.ColorType()) {
    case COLOR_GRAYSCALEALPHA:
      header.SetColorType(COLOR_GRAYSCALE);
      header.FreeAlpha();
      break;
    case COLOR_RGBALPHA:
      header.SetColorType(COLOR_RGB);
      header.FreeAlpha();
      break;
    default:
      // Colour keys and palette alphas both live in the tRNS chunk.
      if (auto* trns = fChunkList.Find<TChunktRNS>()) fChunkList.RemoveChunk(trns);
      break;
  }
  Changed();
}

TChunkpHYs& TPngImage::PixelInformation() {
  if (auto* phys = fChunkList.Find<TChunkpHYs>()) return *phys;
  auto* phys = fChunkList.Add<TChunkpHYs>();
  phys->SetUnitType(utMeter);
  return *phys;
}

bool TPngImage::HasPixelInformation() const {
  return fChunkList.Find<TChunkpHYs>() != nullptr;
}

// ---------------------------------------------------------------------------------------
// Pixels and scan lines

TColor TPngImage::GetPixels(int x, int y) const {
  if (x < 0 || y < 0 || x >= Width() || y >= Height()) return 0;
  TChunkIHDR& h = Header();
  const uint8_t* row = h.PixelRow(uint32_t(y));
  switch (h.ColorType()) {
    case COLOR_PALETTE:
    case COLOR_GRAYSCALE: {
      // The colour table holds the corrected colours (palette) and grey ramp, as drawn;
      // reading it keeps copies and later gamma chunks consistent with what is shown.
      const TRGBQuad& q = h.BitmapInfo().bmiColors[GetPackedField(row, uint32_t(x), StoredBits(h))];
      return RGBColor(q.rgbRed, q.rgbGreen, q.rgbBlue);
    }
    case COLOR_GRAYSCALEALPHA: {
      // Grey with alpha is held as 8-bit levels (1-bit after adding alpha to a 1-bit image).
      const int bits = StoredBits(h);
      const uint32_t v = GetPackedField(row, uint32_t(x), bits);
      const uint8_t level = uint8_t(bits == 1 ? v * 255 : bits == 4 ? v * 17 : v);
      return RGBColor(level, level, level);
    }
    case COLOR_RGB:
    case COLOR_RGBALPHA: {
      const uint8_t* p = row + 3 * size_t(x);
      return RGBColor(p[2], p[1], p[0]);
    }
    default:
      return 0;
  }
}

void TPngImage::SetPixels(int x, int y, TColor color) {
  if (x < 0 || y < 0 || x >= Width() || y >= Height()) return;
  TChunkIHDR& h = Header();
  uint8_t* row = h.PixelRow(uint32_t(y));
  switch (h.ColorType()) {
    case COLOR_GRAYSCALE:
    case COLOR_PALETTE: {
      const TPalette* palette = h.ImagePalette();
      if (!palette || palette->Count() == 0) return;
      SetPackedField(row, uint32_t(x), StoredBits(h),
                     uint32_t(palette->NearestIndex(ColorToRGB(color))));
      break;
    }
    case COLOR_GRAYSCALEALPHA:
      if (StoredBits(h) == 8) row[x] = GetRValue(color);
      break;
    case COLOR_RGB:
    case COLOR_RGBALPHA: {
      uint8_t* p = row + 3 * size_t(x);
      p[0] = GetBValue(color);
      p[1] = GetGValue(color);
      p[2] = GetRValue(color);
      break;
    }
    default:
      break;
  }
  Changed();
}

uint8_t* TPngImage::Scanline(int lineIndex) const {
  TChunkIHDR& h = Header();
  if (lineIndex < 0 || uint32_t(lineIndex) >= h.Height() || !h.ImageData()) return nullptr;
  return h.PixelRow(uint32_t(lineIndex));
}

uint8_t* TPngImage::ExtraScanline(int lineIndex) const {
  TChunkIHDR& h = Header();
  uint8_t* extra = h.ExtraImageData();
  if (lineIndex < 0 || uint32_t(lineIndex) >= h.Height() || !extra) return nullptr;
  return extra + size_t(h.BytesPerRow()) * (h.Height() - 1 - uint32_t(lineIndex));
}

uint8_t* TPngImage::AlphaScanline(int lineIndex) const {
  TChunkIHDR& h = Header();
  uint8_t* alpha = h.ImageAlpha();
  if (lineIndex < 0 || uint32_t(lineIndex) >= h.Height() || !alpha) return nullptr;
  return alpha + size_t(lineIndex) * h.Width();
}

void TPngImage::Resize(int cx, int cy) {
  // The header can describe no more than 65535 pixels either way.
  if (cx < 1 || cy < 1 || cx > 65535 || cy > 65535) throw EPNGInvalidNewSize();
  ImageHeader(*this).ResizeBuffers(uint32_t(cx), uint32_t(cy));
  Changed();
}
