// One global colour table for a whole image: every table in use is counted, unused colours
// are dropped, equal colours are folded together, and the most used colours are kept.
#include <algorithm>
#include <optional>

#include "gif_glue.h"
#include "gif_optimize.h"

namespace {

uint32_t ColorValue(const TGIFColor& c) {
  return uint32_t(c.Red) | (uint32_t(c.Green) << 8) | (uint32_t(c.Blue) << 16);
}

void SortByCount(std::vector<POptimizeEntry>& list) {
  std::stable_sort(list.begin(), list.end(),
                   [](POptimizeEntry a, POptimizeEntry b) { return a->Count > b->Count; });
}

int SquaredDistance(uint32_t a, uint32_t b) {
  int dr = int(a & 0xFF) - int(b & 0xFF);
  int dg = int((a >> 8) & 0xFF) - int((b >> 8) & 0xFF);
  int db = int((a >> 16) & 0xFF) - int((b >> 16) & 0xFF);
  return dr * dr + dg * dg + db * db;
}

}  // namespace

THistogram::THistogram(TGIFColorMap& AColorMap)
    : PHistogram(size_t(AColorMap.Count())), FCount(AColorMap.Count()), FColorMap(&AColorMap) {
  for (int i = 0; i < FCount; ++i) {
    TOptimizeEntry& e = PHistogram[size_t(i)];
    e.OldIndex = i;
    e.Value = ColorValue(AColorMap.Data()[i]);
    FList.push_back(&e);
  }
}

bool THistogram::ProcessFrame(TGIFFrame& Frame) {
  if (Frame.Empty()) return false;
  FImages.push_back(&Frame);
  TGIFGraphicControlExtension* gce = Frame.GraphicControlExtension();
  const int t = Frame.Transparent() ? gce->TransparentColorIndex() : -1;
  // Counted per index first, in four tallies so that runs of one index do not wait on
  // each other; then the indices are looked at once each.
  uint64_t tally[4][256] = {};
  uint8_t* p = Frame.Data();
  const size_t n = Frame.DataSize();
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    ++tally[0][p[i]];
    ++tally[1][p[i + 1]];
    ++tally[2][p[i + 2]];
    ++tally[3][p[i + 3]];
  }
  for (; i < n; ++i) ++tally[0][p[i]];
  bool repaired = false;
  for (int v = 0; v < 256; ++v) {
    const uint64_t count = tally[0][v] + tally[1][v] + tally[2][v] + tally[3][v];
    if (count == 0 || v == t) continue;
    if (v >= FCount) {
      // Beyond the table: repaired to 0, as counted.
      std::replace(p, p + n, uint8_t(v), uint8_t(0));
      repaired = true;
      PHistogram[0].Count += int64_t(count);
    } else {
      PHistogram[size_t(v)].Count += int64_t(count);
    }
  }
  // One warning per frame: a damaged frame would otherwise report every pixel.
  if (repaired) Frame.Warning(gsWarning, gifmsg::sMissingColor);
  return t >= 0 && tally[0][t] + tally[1][t] + tally[2][t] + tally[3][t] > 0;
}

int THistogram::Prune() {
  SortByCount(FList);
  auto unused =
      std::find_if(FList.begin(), FList.end(), [](POptimizeEntry e) { return e->Count == 0; });
  for (auto it = unused; it != FList.end(); ++it) (*it)->Count = -1;
  FList.erase(unused, FList.end());
  FCount = int(FList.size());
  return FCount;
}

void THistogram::MapImages(bool UseTransparency, uint8_t NewTransparentColorIndex) {
  uint8_t table[256] = {};
  for (POptimizeEntry e : FList) table[e->OldIndex] = uint8_t(e->NewIndex);
  for (TGIFFrame* frame : FImages) {
    // The transparent index is taken per frame: a frame without transparency has none.
    int t = -1;
    if (frame->Transparent() && UseTransparency) {
      t = frame->GraphicControlExtension()->TransparentColorIndex();
      frame->GraphicControlExtension()->SetTransparentColorIndex(NewTransparentColorIndex);
    }
    uint8_t translate[256];
    std::copy(table, table + 256, translate);
    if (t >= 0) translate[t] = NewTransparentColorIndex;
    uint8_t* p = frame->Data();
    for (size_t i = 0, n = frame->DataSize(); i < n; ++i) p[i] = translate[p[i]];
  }
}

void TColorMapOptimizer::Optimize() {
  TDrawSuspension suspension(*FImage);
  FImage->StopDraw();
  // A frame with pixels but no colour table anywhere has nothing to be mapped from: after the
  // tables are replaced its indices would point into the new table at random.
  for (int i = 0; i < FImage->Images().Count(); ++i)
    if (!FImage->Images().Frames(i)->Empty() &&
        FImage->Images().Frames(i)->ActiveColorMap().Count() == 0)
      return;
  Collect();
  // With no frame to count, the tables are left as they are rather than emptied.
  if (FHistogramList.empty()) return;
  SwitchOffUnusedTransparency();
  for (auto& h : FHistogramList) {
    h->Prune();
    FHistogram.insert(FHistogram.end(), h->List().begin(), h->List().end());
  }
  FoldEqualColors();
  ChooseColors();
  MapRest();
  KeepBackground();
  if (FUseTransparency) {
    FNewTransparentColorIndex = uint8_t(FFinalCount);
    FColorMap[FFinalCount++] = TGIFColorMap::Color2RGB(TransparentFillColor);
  }
  ReplaceColorMaps();
  for (auto& h : FHistogramList) h->MapImages(FUseTransparency, FNewTransparentColorIndex);
  for (int i = 0; i < FImage->Images().Count(); ++i) FImage->Images().Frames(i)->Dormant();
}

void TColorMapOptimizer::Collect() {
  TGIFImageList& frames = FImage->Images();
  if (FImage->GlobalColorMap().Count() > 0) {
    auto global = std::make_unique<THistogram>(FImage->GlobalColorMap());
    for (int i = 0; i < frames.Count(); ++i) {
      TGIFFrame& f = *frames.Frames(i);
      if (!f.Empty() && f.ColorMap().Count() == 0) Count(*global, f);
    }
    if (global->HasImages()) FHistogramList.push_back(std::move(global));
  }
  for (int i = 0; i < frames.Count(); ++i) {
    TGIFFrame& f = *frames.Frames(i);
    if (f.Empty() || f.ColorMap().Count() == 0) continue;
    auto local = std::make_unique<THistogram>(f.ColorMap());
    Count(*local, f);
    FHistogramList.push_back(std::move(local));
  }
}

void TColorMapOptimizer::Count(THistogram& Histogram, TGIFFrame& Frame) {
  const bool used = Histogram.ProcessFrame(Frame);
  FUseTransparency |= used;
  if (Frame.Transparent() && !used) FUnusedTransparency.push_back(&Frame);
}

// A frame whose pixels never use its transparent index loses its transparency, unless it
// is the last transparent frame of an animation that shows its background somewhere: the
// renderer shows the picture under a transparent animation there, and would fill an opaque
// one with the background colour instead. A frame kept so needs a transparent entry.
void TColorMapOptimizer::SwitchOffUnusedTransparency() {
  TGIFImageList& frames = FImage->Images();
  std::optional<bool> backgroundShown;
  for (TGIFFrame* f : FUnusedTransparency) {
    bool another = false;
    for (int i = 0; i < frames.Count() && !another; ++i)
      another = frames.Frames(i) != f && frames.Frames(i)->Transparent();
    if (frames.Count() > 1 && !another) {
      if (!backgroundShown) {
        std::vector<TRestoreCandidate> none;
        backgroundShown = TraceBackground(*FImage, none);
      }
      if (*backgroundShown) {
        FUseTransparency = true;
        continue;
      }
    }
    f->GraphicControlExtension()->SetTransparentColorIndex(0);
    f->GraphicControlExtension()->SetTransparent(false);
  }
}

void TColorMapOptimizer::FoldEqualColors() {
  std::stable_sort(FHistogram.begin(), FHistogram.end(),
                   [](POptimizeEntry a, POptimizeEntry b) { return a->Value > b->Value; });
  POptimizeEntry survivor = nullptr;
  for (POptimizeEntry e : FHistogram) {
    if (survivor && e->Value == survivor->Value) {
      survivor->Count += e->Count;
      e->Count = 0;
      e->SameAs = survivor;
    } else {
      survivor = e;
    }
  }
}

void TColorMapOptimizer::ChooseColors() {
  SortByCount(FHistogram);
  const int limit = FUseTransparency ? 255 : 256;
  FFinalCount = 0;
  while (FFinalCount < int(FHistogram.size()) && FFinalCount < limit &&
         FHistogram[size_t(FFinalCount)]->Count != 0) {
    FHistogram[size_t(FFinalCount)]->NewIndex = FFinalCount;
    FColorMap[FFinalCount] = FHistogram[size_t(FFinalCount)]->Color();
    ++FFinalCount;
  }
}

void TColorMapOptimizer::MapRest() {
  // Folded entries sort after every counted one, so their survivor is mapped first.
  for (size_t i = size_t(FFinalCount); i < FHistogram.size(); ++i) {
    POptimizeEntry e = FHistogram[i];
    if (e->Count == 0) {
      e->NewIndex = e->SameAs ? e->SameAs->NewIndex : 0;
      continue;
    }
    int best = 0, bound = 3 * 255 * 255;
    for (int k = 0; k < FFinalCount; ++k) {
      int d = SquaredDistance(e->Value, FHistogram[size_t(k)]->Value);
      if (d < bound) {
        bound = d;
        best = k;
      }
    }
    e->NewIndex = best;
  }
}

// Viewers fill the screen with the background colour: it keeps its colour, as an unused
// entry when there is room, else as the nearest kept colour. Without a global table the
// renderer fills with the window colour; a new global table keeps that colour where an
// opaque animation shows it.
void TColorMapOptimizer::KeepBackground() {
  TGIFGlobalColorMap& global = FImage->GlobalColorMap();
  const int bg = FImage->Header().BackgroundColorIndex();
  uint32_t value;
  if (global.Count() > 0) {
    value = ColorValue(global.Data()[bg < global.Count() ? bg : 0]);
  } else {
    std::vector<TRestoreCandidate> none;
    if (FImage->Images().Count() < 2 || FImage->IsTransparent() || !TraceBackground(*FImage, none))
      return;
    value = uint32_t(clWindow) & 0xFFFFFF;
  }
  int best = 0, bound = 3 * 255 * 255 + 1;
  for (int k = 0; k < FFinalCount; ++k)
    if (int d = SquaredDistance(value, ColorValue(FColorMap[k])); d < bound) {
      bound = d;
      best = k;
    }
  const int limit = FUseTransparency ? 255 : 256;
  if (bound != 0 && FFinalCount < limit) {
    best = FFinalCount;
    FColorMap[FFinalCount++] = TGIFColor{uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16)};
  }
  FBackgroundIndex = best;
}

void TColorMapOptimizer::ReplaceColorMaps() {
  TGIFImageList& frames = FImage->Images();
  for (int i = 0; i < frames.Count(); ++i) frames.Frames(i)->ColorMap().Clear();
  TGIFGlobalColorMap& global = FImage->GlobalColorMap();
  global.Clear();
  global.ImportColorMap(FColorMap, FFinalCount);
  global.SetOptimized(true);
  if (FBackgroundIndex >= 0) FImage->Header().SetBackgroundColorIndex(FBackgroundIndex);
}

void TGIFImage::OptimizeColorMap() {
  TColorMapOptimizer(*this).Optimize();
  Changed();
}
