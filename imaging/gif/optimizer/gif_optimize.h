// Internals of the GIF optimizer: the colour census of one colour table and the merger of
// every table of an image into one global table ordered by use.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "GIFImg.h"

// One colour of one colour table.
struct TOptimizeEntry {
  int64_t Count = 0;                 // pixels using the colour; -1 once pruned
  int OldIndex = 0;                  // index in the table it came from
  int NewIndex = 256;                // index in the new global table; 256 until assigned
  uint32_t Value = 0;                // red + 256 green + 65536 blue
  TOptimizeEntry* SameAs = nullptr;  // the entry an equal colour was folded into
  TGIFColor Color() const {
    return TGIFColor{uint8_t(Value), uint8_t(Value >> 8), uint8_t(Value >> 16)};
  }
};
using TOptimizeEntries = std::vector<TOptimizeEntry>;
using POptimizeEntry = TOptimizeEntry*;

// The use of one colour table by the frames that draw with it.
class THistogram {
 public:
  explicit THistogram(TGIFColorMap& AColorMap);
  // Counts the frame's pixels; answers whether its transparent index is used.
  bool ProcessFrame(TGIFFrame& Frame);
  // Drops the unused colours; answers how many are left.
  int Prune();
  // Rewrites the pixels of every counted frame to the new indices.
  void MapImages(bool UseTransparency, uint8_t NewTransparentColorIndex);
  const std::vector<POptimizeEntry>& List() const { return FList; }
  int Count() const { return FCount; }
  bool HasImages() const { return !FImages.empty(); }
  TGIFColorMap& ColorMap() const { return *FColorMap; }

 private:
  TOptimizeEntries PHistogram;
  int FCount;
  TGIFColorMap* FColorMap;  // not owned
  std::vector<POptimizeEntry> FList;
  std::vector<TGIFFrame*> FImages;
};

class TColorMapOptimizer {
 public:
  explicit TColorMapOptimizer(TGIFImage& AImage) : FImage(&AImage) {}
  void Optimize();

 private:
  void Collect();
  void Count(THistogram& Histogram, TGIFFrame& Frame);
  void FoldEqualColors();
  void ChooseColors();
  void MapRest();
  void SwitchOffUnusedTransparency();
  void KeepBackground();
  void ReplaceColorMaps();

  TGIFImage* FImage;  // not owned
  std::vector<std::unique_ptr<THistogram>> FHistogramList;
  std::vector<POptimizeEntry> FHistogram;
  TGIFColor FColorMap[256];
  int FFinalCount = 0;
  bool FUseTransparency = false;
  uint8_t FNewTransparentColorIndex = 0;
  int FBackgroundIndex = -1;                    // the background colour's index in the new table
  std::vector<TGIFFrame*> FUnusedTransparency;  // frames that never draw with it
};

// How the renderer plays an animation, as far as the optimizer must keep it.
// Passes the renderer plays: the first looping extension's count (0 for ever), else 1.
int PlayedLoops(TGIFImage& image);
// Delay units the renderer shows the frame for: 0 or no graphic control plays as the
// default, and every delay is held within the minimum and the maximum.
int PlayedUnits(const TGIFFrame& f);

// A question about a frame's area: could the renderer restore Area instead, each time it
// restores the frame's area to background (the frame's own disposal, and the clearing before
// a new pass when it is the last frame shown), and show the same screen?
struct TRestoreCandidate {
  int Frame = 0;  // index in the image's frames
  TRect Area;
  bool Holds = true;  // the answer
  // The answer for the clearing before a new pass, were the frame the last one shown (the
  // frames after it being removed, as they draw nothing and leave the screen as it is).
  bool HoldsAsLast = true;
};

// Follows the background while the animation plays (the picture under a transparent
// animation, else the background colour) and answers every candidate; the result says
// whether some screen shows background at all.
bool TraceBackground(TGIFImage& image, std::vector<TRestoreCandidate>& candidates);

// Keeps drawing suspended for a scope (the optimizer works on a still image).
class TDrawSuspension {
 public:
  explicit TDrawSuspension(TGIFImage& AImage) : FImage(AImage) { FImage.SuspendDraw(); }
  ~TDrawSuspension() { FImage.ResumeDraw(); }
  TDrawSuspension(const TDrawSuspension&) = delete;
  TDrawSuspension& operator=(const TDrawSuspension&) = delete;

 private:
  TGIFImage& FImage;
};
