// The fixed palettes of colour reduction. Their entry order is the index order of the
// arithmetic lookups, so that an index found by arithmetic names the right colour.
#include "gif_glue.h"
#include "gif_reduce.h"

std::unique_ptr<TPalette> CreateWebPalette() {
  std::vector<TPaletteEntry> entries;
  entries.reserve(216);
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        entries.push_back(TPaletteEntry{uint8_t(51 * r), uint8_t(51 * g), uint8_t(51 * b), 0});
  return std::make_unique<TPalette>(std::move(entries));
}

namespace {
std::unique_ptr<TPalette> GreyPalette(std::initializer_list<int> levels) {
  std::vector<TPaletteEntry> entries;
  for (int v : levels) entries.push_back({uint8_t(v), uint8_t(v), uint8_t(v), PC_NOCOLLAPSE});
  return std::make_unique<TPalette>(std::move(entries));
}
}  // namespace

std::unique_ptr<TPalette> CreateGrayRampPalette() {
  std::vector<TPaletteEntry> entries(256);
  for (int i = 0; i < 256; ++i)
    entries[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i), PC_NOCOLLAPSE};
  return std::make_unique<TPalette>(std::move(entries));
}

std::unique_ptr<TPalette> CreateBlackWhitePalette() {
  return GreyPalette({0, 255});
}

std::unique_ptr<TPalette> CreateFourGrayPalette() {
  return GreyPalette({0, 128, 192, 255});
}

std::unique_ptr<TPalette> CreateScreenHalftonePalette() {
  // The framework's screen is true colour; its fixed halftone palette stands in for the
  // one a palette screen would offer, so that the result is the same on every run.
  return CopyPalette(&HalftonePalette256());
}

std::unique_ptr<TPalette> CreateDefaultPalette() {
  return CopyPalette(&DefaultPalette20());
}
