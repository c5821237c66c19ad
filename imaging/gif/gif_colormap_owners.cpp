// What the global and the local colour map do through their owners.
#include "gif_glue.h"

namespace {

void CountFrame(TGIFFrame& frame, std::vector<int64_t>& histogram) {
  if (frame.Empty()) return;
  int count = frame.ActiveColorMap().Count();
  const uint8_t* p = frame.Data();
  for (size_t i = 0; i < frame.DataSize(); ++i) {
    if (p[i] >= count) GIFError(gifmsg::sMissingColor);
    ++histogram[p[i]];
  }
}

void RemapFrame(TGIFFrame& frame, const uint8_t table[256]) {
  if (!frame.Empty()) {
    uint8_t* p = frame.Data();
    for (size_t i = 0; i < frame.DataSize(); ++i) p[i] = table[p[i]];
  }
  // An index the table leaves in place is not set again: setting an index just past the
  // map's end would add a colour to the map being reordered.
  if (TGIFGraphicControlExtension* gce = frame.GraphicControlExtension();
      gce && frame.Transparent() &&
      table[gce->TransparentColorIndex()] != gce->TransparentColorIndex())
    gce->SetTransparentColorIndex(table[gce->TransparentColorIndex()]);
  frame.Dormant();
}

}  // namespace

void TGIFGlobalColorMap::Warning(TGIFSeverity Severity, const std::string& Message) {
  if (FHeader->Image())
    FHeader->Image()->Warning(this, Severity, Message);
  else if (Severity == gsError)
    throw GIFException(Message);
}

void TGIFGlobalColorMap::CountColorUse(std::vector<int64_t>& Histogram) {
  TGIFImage* image = FHeader->Image();
  if (!image) return;
  for (int i = 0; i < image->Images().Count(); ++i) {
    TGIFFrame& frame = *image->Images().Frames(i);
    if (&frame.ActiveColorMap() == this) CountFrame(frame, Histogram);
  }
}

void TGIFGlobalColorMap::RemapPixels(const uint8_t Table[256]) {
  TGIFImage* image = FHeader->Image();
  if (!image) return;
  for (int i = 0; i < image->Images().Count(); ++i) {
    TGIFFrame& frame = *image->Images().Frames(i);
    if (&frame.ActiveColorMap() == this) RemapFrame(frame, Table);
  }
}

bool TGIFGlobalColorMap::Optimize() {
  TGIFImage* image = FHeader->Image();
  if (!image || image->Images().Count() == 0) return false;
  return DoOptimize();
}

void TGIFGlobalColorMap::Changed() {
  if (TGIFImage* image = FHeader->Image()) image->SetPalette(std::unique_ptr<TPalette>());
}

void TGIFLocalColorMap::Warning(TGIFSeverity Severity, const std::string& Message) {
  if (FFrame->Image())
    FFrame->Image()->Warning(this, Severity, Message);
  else if (Severity == gsError)
    throw GIFException(Message);
}

void TGIFLocalColorMap::CountColorUse(std::vector<int64_t>& Histogram) {
  CountFrame(*FFrame, Histogram);
}

void TGIFLocalColorMap::RemapPixels(const uint8_t Table[256]) {
  RemapFrame(*FFrame, Table);
}

bool TGIFLocalColorMap::Optimize() {
  return DoOptimize();
}

void TGIFLocalColorMap::Changed() {
  FFrame->SetPalette(std::unique_ptr<TPalette>());
}
