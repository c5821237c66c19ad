// The octree quantizer: pixels descend by their colour bits into a tree whose deepest
// nodes are merged whenever the leaves outnumber the colours wanted; the leaves' mean
// colours become the palette.
#include <algorithm>

#include "gif_glue.h"
#include "gif_reduce.h"

TColorQuantizer::TColorQuantizer(int MaxColors, int ColorBits)
    : FMaxColors(MaxColors), FColorBits(std::clamp(ColorBits, 1, 8)) {
  FNodes.reserve(1024);
  // One entry per colour group: 256 K entries at the 6 bits of the reduction; deeper
  // trees (only asked for directly) go without.
  if (FColorBits <= 6) FLeafCache.resize(size_t(1) << (3 * FColorBits));
}

int32_t TColorQuantizer::NewNode(int Level) {
  int32_t node;
  if (!FFree.empty()) {
    node = FFree.back();
    FFree.pop_back();
    FNodes[size_t(node)] = TOctreeNode{};
  } else {
    node = int32_t(FNodes.size());
    FNodes.emplace_back();
  }
  TOctreeNode& n = FNodes[size_t(node)];
  n.IsLeaf = Level == FColorBits;
  if (n.IsLeaf) {
    ++FLeafCount;
  } else {
    n.Next = FReducibleNodes[Level];
    FReducibleNodes[Level] = node;
  }
  return node;
}

void TColorQuantizer::FreeNode(int32_t Node) {
  for (int i = 7; i >= 0; --i) {
    const int32_t child = FNodes[size_t(Node)].Child[i];
    if (child >= 0) FreeNode(child);
  }
  FFree.push_back(Node);
}

void TColorQuantizer::AddPixel(int R, int G, int B) {
  const int shift = 8 - FColorBits;
  const uint32_t key = (uint32_t(R >> shift) << (2 * FColorBits)) |
                       (uint32_t(G >> shift) << FColorBits) | uint32_t(B >> shift);
  // Pixels of one colour group end in the same leaf until the next merge moves leaves.
  TLeafCacheEntry dummy;
  TLeafCacheEntry& cached = FLeafCache.empty() ? dummy : FLeafCache[key];
  int32_t node;
  if (cached.Generation == FGeneration) {
    node = cached.Leaf;
  } else {
    if (FTree < 0) FTree = NewNode(0);
    node = FTree;
    for (int level = 0; !FNodes[size_t(node)].IsLeaf; ++level) {
      const int bit = 7 - level;
      const int index = (((R >> bit) & 1) << 2) | (((G >> bit) & 1) << 1) | ((B >> bit) & 1);
      int32_t child = FNodes[size_t(node)].Child[index];
      if (child < 0) {
        child = NewNode(level + 1);
        FNodes[size_t(node)].Child[index] = child;
      }
      node = child;
    }
    cached = TLeafCacheEntry{node, FGeneration};
  }
  TOctreeNode& leaf = FNodes[size_t(node)];
  ++leaf.PixelCount;
  leaf.RedSum += R;
  leaf.GreenSum += G;
  leaf.BlueSum += B;
  while (FLeafCount > FMaxColors && MergeDeepestNode()) {
  }
}

bool TColorQuantizer::MergeDeepestNode() {
  int level = FColorBits - 1;
  while (level > 0 && FReducibleNodes[level] < 0) --level;
  const int32_t node = FReducibleNodes[level];
  if (node < 0) return false;  // a lone leaf at the root: nothing left to merge
  FReducibleNodes[level] = FNodes[size_t(node)].Next;
  int merged = 0;
  for (int i = 0; i < 8; ++i) {
    const int32_t child = FNodes[size_t(node)].Child[i];
    if (child < 0) continue;
    TOctreeNode& n = FNodes[size_t(node)];
    const TOctreeNode& c = FNodes[size_t(child)];
    n.RedSum += c.RedSum;
    n.GreenSum += c.GreenSum;
    n.BlueSum += c.BlueSum;
    n.PixelCount += c.PixelCount;
    FreeNode(child);
    FNodes[size_t(node)].Child[i] = -1;
    ++merged;
  }
  FNodes[size_t(node)].IsLeaf = true;
  FLeafCount -= merged - 1;
  ++FGeneration;  // every cached leaf may have been merged away
  return true;
}

void TColorQuantizer::CollectLeafColors(int32_t Node, TColorTable& Table, int& Index) const {
  const TOctreeNode& n = FNodes[size_t(Node)];
  if (n.IsLeaf) {
    if (Index >= int(Table.size())) return;
    TRGBQuad& q = Table[size_t(Index++)];
    q = TRGBQuad{};
    if (n.PixelCount != 0)
      q = TRGBQuad{uint8_t(n.BlueSum / n.PixelCount), uint8_t(n.GreenSum / n.PixelCount),
                   uint8_t(n.RedSum / n.PixelCount), 0};
    return;
  }
  for (int i = 0; i < 8; ++i)
    if (n.Child[i] >= 0) CollectLeafColors(n.Child[i], Table, Index);
}

int TColorQuantizer::GetColorTable(TColorTable& Table) const {
  int index = 0;
  if (FTree >= 0) CollectLeafColors(FTree, Table, index);
  return index;
}

void TDIBQuantizer::ProcessImage(TDIB& Reader) {
  const int width = Reader.Bitmap().Width(), height = Reader.Bitmap().Height();
  for (int y = 0; y < height; ++y) {
    const uint8_t* p = Reader.GetScanline(y);
    for (int x = 0; x < width; ++x, p += 3) AddPixel(p[2], p[1], p[0]);
  }
}

std::unique_ptr<TPalette> PaletteFromColorTable(const TColorTable& Table, int Colors,
                                                bool Windows) {
  Colors = std::clamp(Colors, 0, Windows ? 236 : 256);
  std::vector<TPaletteEntry> entries;
  entries.reserve(size_t(Colors) + (Windows ? 20 : 0));
  if (Windows) {
    const TPalette& system = DefaultPalette20();
    entries.assign(system.Entries().begin(), system.Entries().begin() + 20);
  }
  for (int i = 0; i < Colors; ++i) {
    const TRGBQuad& q = Table[size_t(i)];
    entries.push_back({q.rgbRed, q.rgbGreen, q.rgbBlue, q.rgbReserved});
  }
  return std::make_unique<TPalette>(std::move(entries));
}

std::unique_ptr<TPalette> BuildQuantizedPalette(TDIB& Reader, int Colors, int ColorBits,
                                                bool Windows, int* Used) {
  if (Windows) Colors = std::min(Colors, 236);
  TColorTable table{};
  int leaves = 0;
  {
    TDIBQuantizer quantizer(Colors, ColorBits);
    quantizer.ProcessImage(Reader);
    leaves = quantizer.GetColorTable(table);
  }
  if (Used) *Used = std::min(leaves, Colors) + (Windows ? 20 : 0);
  return PaletteFromColorTable(table, Colors, Windows);
}
