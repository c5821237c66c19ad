// Logical palettes and the fixed palettes the codecs rely on.
#include <algorithm>

#include "framework.h"

TPalette::TPalette(std::vector<TPaletteEntry> entries) : FEntries(std::move(entries)) {
  if (FEntries.size() > 256) FEntries.resize(256);
}

void TPalette::Resize(int count) {
  FEntries.resize(size_t(std::clamp(count, 0, 256)));
}

int TPalette::NearestIndex(TColor color) const {
  int r = GetRValue(color), g = GetGValue(color), b = GetBValue(color);
  int best = 0;
  int bestDist = 1 << 30;
  for (size_t i = 0; i < FEntries.size(); ++i) {
    const auto& e = FEntries[i];
    int dr = e.peRed - r, dg = e.peGreen - g, db = e.peBlue - b;
    int d = dr * dr + dg * dg + db * db;
    if (d < bestDist) {
      bestDist = d;
      best = int(i);
      if (d == 0) break;
    }
  }
  return best;
}

TColor TPalette::ColorOf(int index) const {
  if (index < 0 || index >= Count()) return clBlack;
  const auto& e = FEntries[size_t(index)];
  return RGBColor(e.peRed, e.peGreen, e.peBlue);
}

std::unique_ptr<TPalette> CopyPalette(const TPalette* source) {
  if (!source) return nullptr;
  return std::make_unique<TPalette>(*source);
}

namespace {
// The 20 static colours: ten at the start and ten at the end of a system palette.
constexpr TPaletteEntry kStatic20[20] = {
    {0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},
    {0, 0, 128, 0},     {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0},
    {192, 220, 192, 0}, {166, 202, 240, 0}, {255, 251, 240, 0}, {160, 160, 164, 0},
    {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},     {255, 255, 0, 0},
    {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0},
};
}  // namespace

const TPalette& DefaultPalette20() {
  static const TPalette palette(
      std::vector<TPaletteEntry>(std::begin(kStatic20), std::end(kStatic20)));
  return palette;
}

const TPalette& HalftonePalette256() {
  static const TPalette palette = [] {
    std::vector<TPaletteEntry> e;
    e.reserve(256);
    for (int i = 0; i < 10; ++i) e.push_back(kStatic20[i]);
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b)
          e.push_back({uint8_t(r * 51), uint8_t(g * 51), uint8_t(b * 51), 0});
    // Twenty extra greys between the cube's own grey steps.
    for (int i = 0; i < 20; ++i) {
      uint8_t v = uint8_t(8 + i * 12);
      e.push_back({v, v, v, 0});
    }
    for (int i = 10; i < 20; ++i) e.push_back(kStatic20[i]);
    return TPalette(std::move(e));
  }();
  return palette;
}

const TPalette& VgaPalette16() {
  static const TPalette palette({
      {0, 0, 0, 0},
      {128, 0, 0, 0},
      {0, 128, 0, 0},
      {128, 128, 0, 0},
      {0, 0, 128, 0},
      {128, 0, 128, 0},
      {0, 128, 128, 0},
      {192, 192, 192, 0},
      {128, 128, 128, 0},
      {255, 0, 0, 0},
      {0, 255, 0, 0},
      {255, 255, 0, 0},
      {0, 0, 255, 0},
      {255, 0, 255, 0},
      {0, 255, 255, 0},
      {255, 255, 255, 0},
  });
  return palette;
}
