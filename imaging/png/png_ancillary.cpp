// The ancillary chunks that carry image facts: palette (PLTE), transparency (tRNS), gamma
// (gAMA), pixel size (pHYs) and modification time (tIME).
#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstring>

#include "png_internal.h"
#include "png_read_internal.h"

std::unique_ptr<TPalette> MakeCorrectedPalette(const uint8_t* rgb, uint32_t count,
                                               const std::array<uint8_t, 256>& gamma) {
  std::vector<TPaletteEntry> entries(count);
  for (uint32_t i = 0; i < count; ++i, rgb += 3)
    entries[i] = TPaletteEntry{gamma[rgb[0]], gamma[rgb[1]], gamma[rgb[2]], 0};
  return std::make_unique<TPalette>(std::move(entries));
}

namespace {

template <class T>
T& SameClass(TChunk& source) {
  auto* typed = dynamic_cast<T*>(&source);
  if (!typed) RaiseError<EPngError>(EPngIncompatibleAssignText);
  return *typed;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// PLTE: the colours live in the header's colour table and palette, already corrected.

bool TChunkPLTE::LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) {
  if (!TChunk::LoadFromStream(stream, chunkName, size)) return false;
  if (size % 3 != 0 || size / 3 > 256) throw EPNGInvalidPalette();
  fCount = size / 3;
  if (fOwner && fOwner->HasHeader() && fOwner->Header().HasPalette())
    fOwner->ReplacePalette(MakeCorrectedPalette(fData.data(), fCount, fOwner->GammaTable), true);
  return true;
}

bool TChunkPLTE::SaveToStream(TStream& stream) {
  // A suggested palette of a true-colour image is not part of the image: keep its bytes.
  if (!fOwner || !fOwner->HasHeader() || !fOwner->Header().HasPalette()) return SaveData(stream);
  TChunkIHDR& header = fOwner->Header();
  if (fCount == 0) fCount = header.BitmapInfo().bmiHeader.biClrUsed;
  fCount = std::min<uint32_t>(fCount, 256);
  ResizeData(fCount * 3);
  const TPalette* palette = header.ImagePalette();
  const auto& inverse = fOwner->InverseGamma;
  for (uint32_t i = 0; i < fCount; ++i) {
    TPaletteEntry e;
    if (palette && int(i) < palette->Count()) e = palette->Entries()[i];
    fData[3 * i] = inverse[e.peRed];
    fData[3 * i + 1] = inverse[e.peGreen];
    fData[3 * i + 2] = inverse[e.peBlue];
  }
  return SaveData(stream);
}

uint32_t TChunkPLTE::GetPaletteItem(uint32_t index) const {
  if (index >= fCount || index >= 256) RaiseError<EPngError>(EPngNoPaletteEntryText);
  const TRGBQuad& q = Header().BitmapInfo().bmiColors[index];
  return uint32_t(q.rgbBlue) | (uint32_t(q.rgbGreen) << 8) | (uint32_t(q.rgbRed) << 16);
}

void TChunkPLTE::Assign(TChunk& source) {
  TChunkPLTE& from = SameClass<TChunkPLTE>(source);
  TChunk::Assign(source);
  fCount = from.fCount;
}

// ---------------------------------------------------------------------------------------
// tRNS

TChunktRNS::TChunktRNS(TPngImage* owner) : TChunk(owner) {
  PaletteValues.fill(255);
}

bool TChunktRNS::LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) {
  if (!TChunk::LoadFromStream(stream, chunkName, size)) return false;
  if (size > 256) throw EPNGInvalidPalette();
  PaletteValues.fill(255);
  std::memcpy(PaletteValues.data(), fData.data(), size);
  switch (Header().ColorType()) {
    case COLOR_GRAYSCALE:
    case COLOR_RGB:
      fBitTransparency = true;
      break;
    case COLOR_PALETTE:
      // A colour key is one fully transparent entry; a single half-transparent entry
      // needs the alpha composition to show right.
      fBitTransparency = std::count_if(PaletteValues.begin(), PaletteValues.begin() + size,
                                       [](uint8_t a) { return a != 255; }) == 1 &&
                         std::count(PaletteValues.begin(), PaletteValues.begin() + size, 0) == 1;
      break;
    default:
      break;
  }
  return true;
}

bool TChunktRNS::SaveToStream(TStream& stream) {
  if (fDataSize <= 256) std::memcpy(fData.data(), PaletteValues.data(), fDataSize);
  return SaveData(stream);
}

void TChunktRNS::Assign(TChunk& source) {
  TChunktRNS& from = SameClass<TChunktRNS>(source);
  PaletteValues = from.PaletteValues;
  fBitTransparency = from.fBitTransparency;
  TChunk::Assign(source);
}

TColor TChunktRNS::TransparentColor() const {
  const TChunkIHDR& header = Header();
  const auto& colors = header.BitmapInfo().bmiColors;
  const auto& gamma = fOwner->GammaTable;
  const bool wide = header.BitDepth() == 16;
  // The pixel buffers hold the high byte of 16-bit samples, so the key must use it too.
  const auto sample = [&](int i) { return PaletteValues[size_t(wide ? 2 * i : 2 * i + 1)]; };
  switch (header.ColorType()) {
    case COLOR_GRAYSCALE: {
      // 2-bit levels are held as 4-bit indices spread over the ramp (v * 5).
      const uint8_t index = header.BitDepth() == 2 ? uint8_t((sample(0) & 3) * 5) : sample(0);
      const TRGBQuad& q = colors[index];
      return RGBColor(q.rgbRed, q.rgbGreen, q.rgbBlue);
    }
    case COLOR_RGB:
      return RGBColor(gamma[sample(0)], gamma[sample(1)], gamma[sample(2)]);
    case COLOR_PALETTE:
      for (uint32_t i = 0; i < fDataSize && i < 256; ++i)
        if (PaletteValues[i] == 0) {
          const TRGBQuad& q = colors[i];
          return RGBColor(q.rgbRed, q.rgbGreen, q.rgbBlue);
        }
      return 0;
    default:
      return 0;
  }
}

void TChunktRNS::SetTransparentColor(TColor rgb) {
  const TChunkIHDR& header = Header();
  const auto& inverse = fOwner->InverseGamma;
  PaletteValues.fill(0);
  fBitTransparency = true;
  const int depth = header.BitDepth();
  // One sample as written: 16-bit samples carry the value in their high byte (as the
  // writer stores them), lower depths are scaled to their range.
  const auto put = [&](int i, uint8_t value) {
    if (depth == 16) {
      PaletteValues[size_t(2 * i)] = value;
    } else {
      const uint32_t top = (1u << std::min(depth, 8)) - 1;
      PaletteValues[size_t(2 * i + 1)] = uint8_t((value * top + 127) / 255);
    }
  };
  switch (header.ColorType()) {
    case COLOR_GRAYSCALE: {
      // The grey the pixels show comes from the (gamma-corrected) ramp: key the level whose
      // ramp entry is nearest, so that the key reads back as the grey that is drawn.
      ResizeData(2);
      const auto& colors = header.BitmapInfo().bmiColors;
      const uint32_t count = std::min<uint32_t>(header.BitmapInfo().bmiHeader.biClrUsed, 256);
      const uint32_t step = depth == 2 ? 5 : 1;  // 2-bit levels sit at every fifth entry
      uint32_t best = 0;
      for (uint32_t k = 0; k < count; k += step)
        if (std::abs(colors[k].rgbRed - int(GetRValue(rgb))) <
            std::abs(colors[best].rgbRed - int(GetRValue(rgb))))
          best = k;
      PaletteValues[depth == 16 ? 0 : 1] = uint8_t(best / step);
      break;
    }
    case COLOR_RGB:
      // The key is compared with the file's samples, while the pixels in memory went
      // through GammaTable when loaded and go back through InverseGamma when saved. The
      // given (displayed) colour takes the same way back; stored as given, a key set on a
      // picture with a gAMA chunk would name other pixels than the colour asked for, and
      // would read back as another colour. Without gAMA both tables are the identity.
      ResizeData(6);
      put(0, inverse[GetRValue(rgb)]);
      put(1, inverse[GetGValue(rgb)]);
      put(2, inverse[GetBValue(rgb)]);
      break;
    case COLOR_PALETTE: {
      const auto& colors = header.BitmapInfo().bmiColors;
      const uint32_t count = std::min<uint32_t>(header.BitmapInfo().bmiHeader.biClrUsed, 256);
      uint32_t k = 0;
      while (k < count &&
             !(colors[k].rgbRed == GetRValue(rgb) && colors[k].rgbGreen == GetGValue(rgb) &&
               colors[k].rgbBlue == GetBValue(rgb)))
        ++k;
      if (k == count) {
        // No entry has that colour: nothing becomes transparent.
        PaletteValues.fill(255);
        fBitTransparency = false;
        ResizeData(1);
        break;
      }
      std::fill(PaletteValues.begin(), PaletteValues.begin() + k, uint8_t(255));
      ResizeData(k + 1);
      break;
    }
    default:
      break;
  }
}

// ---------------------------------------------------------------------------------------
// gAMA

TChunkgAMA::TChunkgAMA(TPngImage* owner) : TChunk(owner) {
  SetGamma(1);
}

uint32_t TChunkgAMA::Gamma() {
  if (fDataSize != 4) {
    SetGamma(1);
    return 1;
  }
  return ReadBE32(fData.data());
}

void TChunkgAMA::SetGamma(uint32_t value) {
  if (fDataSize != 4) ResizeData(4);
  WriteBE32(fData.data(), value);
}

bool TChunkgAMA::LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) {
  if (!TChunk::LoadFromStream(stream, chunkName, size)) return false;
  const uint32_t value = Gamma();
  if (value == 0 || !fOwner) return true;
  const long double exponent = 1.0L / (value / 100000.0L * 2.2L);
  const int oldRounding = std::fegetround();
  std::fesetround(FE_TONEAREST);  // halves to even
  for (int i = 0; i < 256; ++i) {
    const long double v = 255.0L * std::pow(i / 255.0L, exponent);
    const auto g = uint8_t(std::clamp<long double>(std::nearbyint(v), 0, 255));
    fOwner->GammaTable[size_t(i)] = g;
    fOwner->InverseGamma[g] = uint8_t(i);
  }
  std::fesetround(oldRounding);
  return true;
}

void TChunkgAMA::Assign(TChunk& source) {
  SetGamma(SameClass<TChunkgAMA>(source).Gamma());
}

// ---------------------------------------------------------------------------------------
// pHYs

bool TChunkpHYs::LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) {
  if (!TChunk::LoadFromStream(stream, chunkName, size)) return false;
  if (size == 9) {
    fPPUnitX = ReadBE32(fData.data());
    fPPUnitY = ReadBE32(fData.data() + 4);
    fUnit = TUnitType(fData[8]);
  }
  return true;
}

bool TChunkpHYs::SaveToStream(TStream& stream) {
  ResizeData(9);
  WriteBE32(fData.data(), fPPUnitX);
  WriteBE32(fData.data() + 4, fPPUnitY);
  fData[8] = uint8_t(fUnit);
  return SaveData(stream);
}

void TChunkpHYs::Assign(TChunk& source) {
  TChunkpHYs& from = SameClass<TChunkpHYs>(source);
  TChunk::Assign(source);
  fPPUnitX = from.fPPUnitX;
  fPPUnitY = from.fPPUnitY;
  fUnit = from.fUnit;
}

// ---------------------------------------------------------------------------------------
// tIME

bool TChunktIME::LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) {
  if (!TChunk::LoadFromStream(stream, chunkName, size)) return false;
  if (size == 7) {
    fYear = ReadBE16(fData.data());
    fMonth = fData[2];
    fDay = fData[3];
    fHour = fData[4];
    fMinute = fData[5];
    fSecond = fData[6];
  }
  return true;
}

bool TChunktIME::SaveToStream(TStream& stream) {
  ResizeData(7);
  WriteBE16(fData.data(), fYear);
  fData[2] = fMonth;
  fData[3] = fDay;
  fData[4] = fHour;
  fData[5] = fMinute;
  fData[6] = fSecond;
  return SaveData(stream);
}

void TChunktIME::Assign(TChunk& source) {
  TChunktIME& from = SameClass<TChunktIME>(source);
  TChunk::Assign(source);
  fYear = from.fYear;
  fMonth = from.fMonth;
  fDay = from.fDay;
  fHour = from.fHour;
  fMinute = from.fMinute;
  fSecond = from.fSecond;
}
