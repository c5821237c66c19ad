// Colour maps: the global one of the header and the local one of each frame.
#include <algorithm>
#include <numeric>

#include "gif_glue.h"

TGIFColor TGIFColorMap::Color2RGB(TColor Color) {
  return TGIFColor{GetRValue(Color), GetGValue(Color), GetBValue(Color)};
}

TColor TGIFColorMap::RGB2Color(TGIFColor Color) {
  return RGBColor(Color.Red, Color.Green, Color.Blue);
}

int TGIFColorMap::Add(TColor Color) {
  if (FCount >= 256) GIFError(gifmsg::sColorTableOverflow);
  FColorMap.resize(size_t(FCount) + 1);
  FColorMap[size_t(FCount)] = Color2RGB(Color);
  ++FCount;
  FOptimized = false;
  Changed();
  return FCount - 1;
}

int TGIFColorMap::AddUnique(TColor Color) {
  int index = IndexOf(Color);
  return index >= 0 ? index : Add(Color);
}

int TGIFColorMap::IndexOf(TColor Color) const {
  TGIFColor c = Color2RGB(Color);
  // An optimized map holds the most used colours first.
  if (FOptimized) {
    for (int i = 0; i < FCount; ++i)
      if (FColorMap[size_t(i)] == c) return i;
  } else {
    for (int i = FCount - 1; i >= 0; --i)
      if (FColorMap[size_t(i)] == c) return i;
  }
  return -1;
}

void TGIFColorMap::Delete(int Index) {
  if (Index < 0 || Index >= FCount) GIFError(gifmsg::sBadColorIndex);
  FColorMap.erase(FColorMap.begin() + Index);
  --FCount;
  FOptimized = false;
  Changed();
}

TColor TGIFColorMap::GetColor(int Index) {
  if (Index < 0 || Index >= FCount) {
    Warning(gsWarning, gifmsg::sBadColorIndex);
    if (FCount == 0) GIFError(gifmsg::sEmptyColorMap);
    return RGB2Color(FColorMap[0]);
  }
  return RGB2Color(FColorMap[size_t(Index)]);
}

void TGIFColorMap::SetColor(int Index, TColor Value) {
  if (Index < 0 || Index >= FCount) GIFError(gifmsg::sBadColorIndex);
  FColorMap[size_t(Index)] = Color2RGB(Value);
  Changed();
}

void TGIFColorMap::Clear() {
  FColorMap.clear();
  FColorMap.shrink_to_fit();
  FCount = 0;
  FOptimized = false;
}

void TGIFColorMap::ImportPalette(const TPalette* Palette) {
  Clear();
  if (!Palette || Palette->Count() == 0) return;
  int n = std::min(256, Palette->Count());
  FColorMap.resize(size_t(n));
  for (int i = 0; i < n; ++i) {
    const TPaletteEntry& e = Palette->Entries()[size_t(i)];
    FColorMap[size_t(i)] = TGIFColor{e.peRed, e.peGreen, e.peBlue};
  }
  FCount = n;
  Changed();
}

void TGIFColorMap::ImportColorTable(const TRGBQuad* Pal, int ACount) {
  Clear();
  ACount = std::clamp(ACount, 0, 256);
  if (ACount == 0) return;
  FColorMap.resize(size_t(ACount));
  for (int i = 0; i < ACount; ++i)
    FColorMap[size_t(i)] = TGIFColor{Pal[i].rgbRed, Pal[i].rgbGreen, Pal[i].rgbBlue};
  FCount = ACount;
  Changed();
}

void TGIFColorMap::ImportDIBColors(TBitmap& Bitmap) {
  const std::vector<TRGBQuad>& table = Bitmap.ColorTable();
  ImportColorTable(table.data(), std::min<int>(256, int(table.size())));
  Changed();
}

void TGIFColorMap::ImportColorMap(const TGIFColor* Map, int ACount) {
  Clear();
  ACount = std::clamp(ACount, 0, 256);
  if (ACount == 0) return;
  FColorMap.assign(Map, Map + ACount);
  FCount = ACount;
  Changed();
}

std::unique_ptr<TPalette> TGIFColorMap::ExportPalette() const {
  if (FCount == 0) return nullptr;
  std::vector<TPaletteEntry> entries(static_cast<size_t>(FCount));
  for (int i = 0; i < FCount; ++i) {
    const TGIFColor& c = FColorMap[size_t(i)];
    entries[size_t(i)] = TPaletteEntry{c.Red, c.Green, c.Blue, PC_NOCOLLAPSE};
  }
  return std::make_unique<TPalette>(std::move(entries));
}

void TGIFColorMap::Assign(const TGIFColorMap& Source) {
  if (&Source == this) return;
  // Copied first: the import clears this map before reading the source's entries.
  std::vector<TGIFColor> entries(Source.FColorMap.begin(),
                                 Source.FColorMap.begin() + Source.FCount);
  ImportColorMap(entries.data(), Source.FCount);
  FOptimized = Source.FOptimized;
  Changed();
}

void TGIFColorMap::SaveToStream(TStream& Stream) const {
  if (FCount == 0) return;
  size_t total = size_t(1) << BitsPerPixel();
  std::vector<uint8_t> bytes(total * 3, 0);
  for (int i = 0; i < FCount; ++i) {
    bytes[size_t(i) * 3] = FColorMap[size_t(i)].Red;
    bytes[size_t(i) * 3 + 1] = FColorMap[size_t(i)].Green;
    bytes[size_t(i) * 3 + 2] = FColorMap[size_t(i)].Blue;
  }
  Stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
}

void TGIFColorMap::LoadFromStream(TStream& Stream, int ACount) {
  Clear();
  ACount = std::clamp(ACount, 0, 256);
  uint8_t bytes[768];
  ReadExact(Stream, bytes, int64_t(ACount) * 3);
  FColorMap.resize(size_t(ACount));
  for (int i = 0; i < ACount; ++i)
    FColorMap[size_t(i)] = TGIFColor{bytes[i * 3], bytes[i * 3 + 1], bytes[i * 3 + 2]};
  FCount = ACount;
}

namespace {

struct TUse {
  int64_t Count;
  int Index;
};

// Hoare partitioning around the middle element, recursing on the left part and looping
// on the right: the order of equal counts is the one this sort gives.
void SortByUse(std::vector<TUse>& a, int lo, int hi) {
  while (lo < hi) {
    int i = lo, j = hi;
    int64_t pivot = a[size_t((lo + hi) / 2)].Count;
    do {
      while (a[size_t(i)].Count > pivot) ++i;
      while (a[size_t(j)].Count < pivot) --j;
      if (i <= j) {
        std::swap(a[size_t(i)], a[size_t(j)]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (lo < j) SortByUse(a, lo, j);
    lo = i;
  }
}

}  // namespace

bool TGIFColorMap::DoOptimize() {
  if (FCount <= 1) return false;
  FOptimized = true;
  std::vector<int64_t> counts(256, 0);
  CountColorUse(counts);
  std::vector<TUse> uses(static_cast<size_t>(FCount));
  for (int i = 0; i < FCount; ++i) uses[size_t(i)] = TUse{counts[size_t(i)], i};
  SortByUse(uses, 0, FCount - 1);
  bool identity = true;
  for (int i = 0; i < FCount; ++i) identity = identity && uses[size_t(i)].Index == i;
  if (identity) return true;
  uint8_t table[256];
  std::iota(table, table + 256, 0);
  for (int i = 0; i < FCount; ++i) table[uses[size_t(i)].Index] = uint8_t(i);
  RemapPixels(table);
  // The entries counted above are the ones reordered, whatever remapping did to the map.
  const int counted = int(uses.size());
  std::vector<TGIFColor> old = FColorMap;
  int newCount = counted;
  for (int i = 0; i < counted; ++i) {
    FColorMap[size_t(i)] = old[size_t(uses[size_t(i)].Index)];
    if (uses[size_t(i)].Count == 0 && newCount == counted) newCount = i;
  }
  FCount = newCount;
  FColorMap.resize(size_t(FCount));
  Changed();
  return true;
}
