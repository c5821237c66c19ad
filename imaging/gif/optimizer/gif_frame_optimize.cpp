// The two optimisation steps that work on one frame: cropping transparent borders and
// turning pixels that repeat the previous frame transparent.
#include <algorithm>
#include <cstring>

#include "gif_glue.h"

void TGIFFrame::Crop() {
  if (Empty() || !Transparent()) return;
  const uint8_t t = FGCE->TransparentColorIndex();
  const int w = Width(), h = Height();
  auto opaqueColumn = [&](int x) {
    for (int y = 0; y < h; ++y)
      if (FData[size_t(y) * size_t(w) + size_t(x)] != t) return true;
    return false;
  };
  int left = 0;
  while (left < w && !opaqueColumn(left)) ++left;
  if (left == w) {
    int frames = FImage ? FImage->Images().Count() : 1;
    if ((frames > 1 && FGCE->Delay() != 0) || frames == 1) {
      DropBitmap();
      FImageDescriptor.Left = FImageDescriptor.Top = 0;
      FImageDescriptor.Width = FImageDescriptor.Height = 1;
      AllocatePixels();
      FData[0] = t;
    } else {
      Clear();
    }
    return;
  }
  int right = w - 1;
  while (!opaqueColumn(right)) --right;
  auto opaqueRow = [&](int y) {
    const uint8_t* row = FData.data() + size_t(y) * size_t(w);
    for (int x = left; x <= right; ++x)
      if (row[x] != t) return true;
    return false;
  };
  int top = 0;
  while (!opaqueRow(top)) ++top;
  int bottom = h - 1;
  while (!opaqueRow(bottom)) --bottom;
  int nw = right - left + 1, nh = bottom - top + 1;
  TPixelBuffer cropped(size_t(nw) * size_t(nh));
  for (int y = 0; y < nh; ++y)
    std::memcpy(cropped.data() + size_t(y) * size_t(nw),
                FData.data() + size_t(y + top) * size_t(w) + size_t(left), size_t(nw));
  FData = std::move(cropped);
  FDataSize = size_t(nw) * size_t(nh);
  FImageDescriptor.Left = uint16_t(Left() + left);
  FImageDescriptor.Top = uint16_t(Top() + top);
  FImageDescriptor.Width = uint16_t(nw);
  FImageDescriptor.Height = uint16_t(nh);
  DropBitmap();
}

int TGIFFrame::ObtainTransparentIndex() {
  if (FColorMap->Count() == 0 && FImage) {
    for (int i = 0; i < FImage->Images().Count(); ++i) {
      TGIFFrame* other = FImage->Images().Frames(i);
      if (other == this || !other->Transparent() || other->ColorMap().Count() != 0) continue;
      // Another frame's transparent index serves only when this frame draws no pixel with
      // it (those pixels would vanish) and it lies within the table: an index beyond it
      // could not be written.
      uint8_t t = other->GraphicControlExtension()->TransparentColorIndex();
      if (t < FImage->GlobalColorMap().Count() && std::find(FData.data(), FData.data() + FDataSize, t) == FData.data() + FDataSize)
        return t;
      break;
    }
    return FImage->GlobalColorMap().Add(TransparentFillColor);
  }
  return FColorMap->Add(TransparentFillColor);
}

void TGIFFrame::Merge(TGIFFrame* Previous) {
  if (!Previous || Empty() || Previous->Empty()) return;
  if (TGIFGraphicControlExtension* g = Previous->GraphicControlExtension();
      g && (g->Disposal() == dmBackground || g->Disposal() == dmPrevious))
    return;
  TRect area = IntersectRect(BoundsRect(), Previous->BoundsRect());
  if (area.IsEmpty()) return;
  bool wasTransparent = Transparent();
  int t = -1;
  if (wasTransparent) {
    t = FGCE->TransparentColorIndex();
  } else {
    int local = FColorMap->Count();
    int global = FImage ? FImage->GlobalColorMap().Count() : 0;
    bool room = (local >= 1 && local <= 255) || (local == 0 && global >= 1 && global <= 255);
    if (!room) return;
  }
  // Each index as a key: its colour, or a value of its own beyond the table. Two pixels are
  // equal when their keys are; transparent pixels of either frame get keys that never meet.
  TGIFColorMap& mine = ActiveColorMap();
  TGIFColorMap& theirs = Previous->ActiveColorMap();
  uint32_t mineKey[256], theirKey[256];
  auto keys = [](TGIFColorMap& map, uint32_t* key) {
    for (int i = 0; i < 256; ++i) {
      const TGIFColor c = i < map.Count() ? map.Data()[i] : TGIFColor{};
      key[i] = i < map.Count() ? uint32_t(c.Red) | uint32_t(c.Green) << 8 | uint32_t(c.Blue) << 16
                               : 0x1000000u + uint32_t(i);
    }
  };
  keys(mine, mineKey);
  keys(theirs, theirKey);
  // Indices beyond different tables are different colours.
  if (&mine != &theirs)
    for (int i = theirs.Count(); i < 256; ++i) theirKey[i] = 0x2000000u + uint32_t(i);
  if (t >= 0) mineKey[t] = 0xFFFFFFFEu;
  if (Previous->Transparent())
    theirKey[Previous->GraphicControlExtension()->TransparentColorIndex()] = 0xFFFFFFFFu;
  const int w = Width(), pw = Previous->Width();
  for (int y = area.Top; y < area.Bottom; ++y) {
    uint8_t* row = FData.data() + size_t(y - Top()) * size_t(w) + size_t(area.Left - Left());
    const uint8_t* prow = Previous->FData.data() + size_t(y - Previous->Top()) * size_t(pw) +
                          size_t(area.Left - Previous->Left());
    for (int x = 0; x < area.Right - area.Left; ++x) {
      if (mineKey[row[x]] != theirKey[prow[x]]) continue;
      if (t < 0) t = ObtainTransparentIndex();
      row[x] = uint8_t(t);
    }
  }
  if (!wasTransparent && t >= 0) {
    TGIFGraphicControlExtension* gce = FGCE;
    if (!gce)
      gce = static_cast<TGIFGraphicControlExtension*>(
          TGIFExtension::Create(ExtensionClassOf<TGIFGraphicControlExtension>(), this));
    gce->SetTransparent(true);
    gce->SetTransparentColorIndex(t);
  }
  DropBitmap();
}
