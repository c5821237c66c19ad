// Colour reduction and dithering of the GIF codec: colour lookups, the fixed palettes,
// the octree quantizer, raw row access to bitmaps and the error-diffusion engines.
// Everything here works on plain pixel rows and palettes, without a TGIFImage.
//
// Files: gif_reduce (ReduceBitmapColors and the choice of palette and lookup),
// gif_lookup, gif_palettes, gif_octree, gif_dib, gif_dither (base engine and factory),
// gif_dither_floyd, gif_dither_5by3, gif_dither_arce, gif_dither_burkes.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "GIFImg.h"

// ---------------------------------------------------------------------------------------
// Colour lookups: a palette index for a colour, and the colour of that index.
// ---------------------------------------------------------------------------------------

class TColorLookup {
 public:
  explicit TColorLookup(const TPalette* Palette);
  virtual ~TColorLookup() = default;
  TColorLookup(const TColorLookup&) = delete;
  TColorLookup& operator=(const TColorLookup&) = delete;

  // The index for (Red, Green, Blue); R, G, B receive the colour of that index.
  virtual int Lookup(int Red, int Green, int Blue, int& R, int& G, int& B) = 0;
  int Colors() const { return FColors; }

 protected:
  int FColors = 0;
};

// Nearest entry of any palette (squared distance, the first of equal entries wins). Each
// colour is searched once: answers are kept in a table over the whole colour cube.
class TSlowColorLookup : public TColorLookup {
 public:
  explicit TSlowColorLookup(const TPalette* Palette);
  ~TSlowColorLookup() override;
  int Lookup(int Red, int Green, int Blue, int& R, int& G, int& B) override;

 private:
  int Search(int Red, int Green, int Blue) const;

  std::vector<TPaletteEntry> FPaletteEntries;  // copy of up to 256 entries
  // Entries sorted by green, the channel that weighs most in what people see, so that
  // a search can stop once the green distance alone exceeds the best match.
  std::vector<uint8_t> FOrder;
  std::vector<int> FSortedGreen;
  struct TCacheFree {
    void operator()(uint16_t* p) const;
  };
  std::unique_ptr<uint16_t, TCacheFree> FCache;  // 2^24 entries: index + 1, 0 unknown
};

// The lookup class for every palette without an arithmetic rule (TSlowColorLookup).
using TColorLookupClass = std::unique_ptr<TColorLookup> (*)(const TPalette* Palette);
extern TColorLookupClass GenericLookupClass;

// The 6 x 6 x 6 web cube: channel c goes to (c + 3) div 51.
class TNetscapeColorLookup : public TColorLookup {
 public:
  explicit TNetscapeColorLookup(const TPalette* Palette = nullptr);
  int Lookup(int Red, int Green, int Blue, int& R, int& G, int& B) override;
};

// 256 greys: index = (29 blue + 150 green + 77 red) shr 8.
class TGrayScaleLookup : public TColorLookup {
 public:
  explicit TGrayScaleLookup(const TPalette* Palette = nullptr);
  int Lookup(int Red, int Green, int Blue, int& R, int& G, int& B) override;
};

// Black (0) or white (1) by the same weighted sum against 127 x 256.
class TMonochromeLookup : public TColorLookup {
 public:
  explicit TMonochromeLookup(const TPalette* Palette = nullptr);
  int Lookup(int Red, int Green, int Blue, int& R, int& G, int& B) override;
};

// ---------------------------------------------------------------------------------------
// Palettes
// ---------------------------------------------------------------------------------------

std::unique_ptr<TPalette> CreateGrayRampPalette();    // (i, i, i), no-collapse
std::unique_ptr<TPalette> CreateBlackWhitePalette();  // black, white, no-collapse
std::unique_ptr<TPalette> CreateFourGrayPalette();    // 0, 128, 192, 255, no-collapse
std::unique_ptr<TPalette> CreateScreenHalftonePalette();
std::unique_ptr<TPalette> CreateDefaultPalette();  // the 20 static system colours

// The palette a reduction works with, or null for rmNone and the quantizing reductions.
// rmPalette copies Palette and raises "Palette vide, incorrecte ou manquante" without a
// usable one.
std::unique_ptr<TPalette> CreateReductionPalette(TColorReduction ColorReduction,
                                                 const TPalette* Palette);
std::unique_ptr<TColorLookup> CreateReductionLookup(const TPalette* Palette,
                                                    TColorReduction ColorReduction);

// ---------------------------------------------------------------------------------------
// Row access to bitmaps
// ---------------------------------------------------------------------------------------

class TDIB {
 public:
  TDIB(TBitmap& ABitmap, TPixelFormat APixelFormat)
      : FBitmap(&ABitmap), FPixelFormat(APixelFormat) {}
  virtual ~TDIB() = default;
  TDIB(const TDIB&) = delete;
  TDIB& operator=(const TDIB&) = delete;
  virtual uint8_t* GetScanline(int Row) = 0;
  TBitmap& Bitmap() const { return *FBitmap; }
  TPixelFormat PixelFormat() const { return FPixelFormat; }

 protected:
  TBitmap* FBitmap;  // not owned
  TPixelFormat FPixelFormat;
};

// Converts the bitmap to the format in place and reads its own rows.
class TDIBReader : public TDIB {
 public:
  TDIBReader(TBitmap& ABitmap, TPixelFormat APixelFormat);
  uint8_t* GetScanline(int Row) override { return FBitmap->GetScanline(Row); }
};

// Writes an 8- or 24-bit device-independent image of its own (a BMP file in memory,
// rows bottom-up) and loads the bitmap from it when destroyed or on UpdateBitmap.
class TDIBWriter : public TDIB {
 public:
  TDIBWriter(TBitmap& ABitmap, TPixelFormat APixelFormat, int AWidth, int AHeight,
             const TPalette* APalette);
  ~TDIBWriter() override;
  uint8_t* GetScanline(int Row) override;
  // Loads the bitmap from the image written so far (a BMP file in memory).
  void UpdateBitmap();
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }

 private:
  static constexpr int kFileHeaderSize = 14;
  // The file header, information header, colour table and pixel block in one buffer, so
  // that loading reads it as it stands.
  TPixelBuffer FImage;
  uint8_t* FDIBBits = nullptr;
  int FDIBInfoSize = 0;
  uint64_t FDIBBitsSize = 0;
  ptrdiff_t FStride = 0;
  int FHeight;
  int FWidth;
  bool FLoaded = false;  // the bitmap holds every row handed out so far
};

// ---------------------------------------------------------------------------------------
// Octree quantizer
// ---------------------------------------------------------------------------------------

// Colour table entries as a DIB stores them: blue, green, red, reserved.
using TColorTable = std::array<TRGBQuad, 256>;

class TColorQuantizer {
 public:
  TColorQuantizer(int MaxColors, int ColorBits);
  virtual ~TColorQuantizer() = default;
  TColorQuantizer(const TColorQuantizer&) = delete;
  TColorQuantizer& operator=(const TColorQuantizer&) = delete;

  void AddPixel(int R, int G, int B);
  // Writes the leaves' mean colours in tree order; returns how many were written.
  int GetColorTable(TColorTable& Table) const;
  int LeafCount() const { return FLeafCount; }

 private:
  // Nodes live in one pool addressed by index, so that no pixel allocates and freed
  // nodes are reused.
  struct TOctreeNode {
    bool IsLeaf = false;
    int64_t PixelCount = 0;
    int64_t RedSum = 0, GreenSum = 0, BlueSum = 0;
    int32_t Next = -1;  // next node of the same level's reducible list
    int32_t Child[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
  };
  int32_t NewNode(int Level);
  void FreeNode(int32_t Node);
  bool MergeDeepestNode();  // false when there is nothing to merge
  void CollectLeafColors(int32_t Node, TColorTable& Table, int& Index) const;

  std::vector<TOctreeNode> FNodes;
  std::vector<int32_t> FFree;
  int32_t FTree = -1;
  int FLeafCount = 0;
  int32_t FReducibleNodes[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
  int FMaxColors;
  int FColorBits;
  // The leaf each colour group went into, valid while its generation is current: every
  // merge starts a new generation, since it may free cached leaves.
  struct TLeafCacheEntry {
    int32_t Leaf = -1;
    uint32_t Generation = 0;
  };
  std::vector<TLeafCacheEntry> FLeafCache;
  uint32_t FGeneration = 1;
};

class TDIBQuantizer : public TColorQuantizer {
 public:
  using TColorQuantizer::TColorQuantizer;
  // Every pixel of a 24-bit reader, rows top to bottom.
  void ProcessImage(TDIB& Reader);
};

std::unique_ptr<TPalette> PaletteFromColorTable(const TColorTable& Table, int Colors, bool Windows);
// Used, when given, receives how many leading entries hold colours of the image (the
// system colours included); the entries after them only fill the palette to its size.
std::unique_ptr<TPalette> BuildQuantizedPalette(TDIB& Reader, int Colors, int ColorBits,
                                                bool Windows, int* Used = nullptr);

// ---------------------------------------------------------------------------------------
// Dithering
// ---------------------------------------------------------------------------------------

// Errors -255..255 mapped through a soft clamp.
class TErrorLimit {
 public:
  TErrorLimit();
  // Below T1 as is, up to T2 half of the excess, beyond that Max; the sign is kept.
  void Soften(int T1, int T2, int Max);
  int operator[](int Error) const { return FValues[size_t(Error + 255)]; }

 private:
  std::array<int, 511> FValues;
};

// The nearest colour, with no error spread (dmNearest), and the base of the others.
class TDitherEngine {
 public:
  TDitherEngine(int AWidth, TColorLookup& Lookup);
  virtual ~TDitherEngine() = default;
  TDitherEngine(const TDitherEngine&) = delete;
  TDitherEngine& operator=(const TDitherEngine&) = delete;

  virtual void Reset();
  virtual int Dither(int Red, int Green, int Blue, int& R, int& G, int& B);
  virtual void NextLine();
  void NextColumn() { FColumn += FDirection; }

  int Direction() const { return FDirection; }
  int Column() const { return FColumn; }
  int Width() const { return FWidth; }

 protected:
  // The corrected channel: the error accumulated for it, divided with rounding and
  // softened, added and kept inside 0..255.
  // Division truncates toward zero, as the rounding rule of the kernels expects. The
  // kernels' weights sum to their divisor, so the error stays inside the table; the
  // clamp only guards the table.
  int Correct(int Channel, int Accumulated, int Divisor) const {
    const int e = std::clamp((Accumulated + Divisor / 2) / Divisor, -255, 255);
    return std::clamp(Channel + ErrorLimit[e], 0, 255);
  }

  int FDirection = 1;
  int FColumn = 0;
  TColorLookup* FLookup;  // not owned
  int FWidth;
  TErrorLimit ErrorLimit;
};

using TErrors = std::vector<int32_t>;
using PErrors = int32_t*;

class TFloydSteinbergDitherer : public TDitherEngine {
 public:
  TFloydSteinbergDitherer(int AWidth, TColorLookup& Lookup);
  void Reset() override;
  int Dither(int Red, int Green, int Blue, int& R, int& G, int& B) override;
  void NextLine() override;

 private:
  struct TChannel {
    TErrors Errors;
    PErrors Error = nullptr;
    int CurrentError = 0, BelowError = 0, BelowPrevError = 0;
  };
  void StartRow();
  TChannel FChannels[3];  // red, green, blue
};

// Three error rows, for the 5 x 3 kernels of Stucki, Sierra and Jarvis-Judice-Ninke.
class T5by3Ditherer : public TDitherEngine {
 public:
  T5by3Ditherer(int AWidth, TColorLookup& Lookup);
  void Reset() override;
  int Dither(int Red, int Green, int Blue, int& R, int& G, int& B) override;
  void NextLine() override;

 protected:
  virtual void SpreadError(PErrors Errors0, PErrors Errors1, PErrors Errors2, int Error) = 0;
  int FDirection2 = 2;
  int FDivisor = 1;

 private:
  void StartRow();
  TErrors FErrors[3][3];  // [channel][row]
  PErrors FError[3][3] = {};
};

class TStuckiDitherer : public T5by3Ditherer {
 public:
  TStuckiDitherer(int AWidth, TColorLookup& Lookup);

 protected:
  void SpreadError(PErrors Errors0, PErrors Errors1, PErrors Errors2, int Error) override;
};

class TSierraDitherer : public T5by3Ditherer {
 public:
  TSierraDitherer(int AWidth, TColorLookup& Lookup);

 protected:
  void SpreadError(PErrors Errors0, PErrors Errors1, PErrors Errors2, int Error) override;
};

class TJaJuNiDitherer : public T5by3Ditherer {
 public:
  TJaJuNiDitherer(int AWidth, TColorLookup& Lookup);

 protected:
  void SpreadError(PErrors Errors0, PErrors Errors1, PErrors Errors2, int Error) override;
};

// Stevenson-Arce: four rows, every second column.
class TSteveArcheDitherer : public TDitherEngine {
 public:
  TSteveArcheDitherer(int AWidth, TColorLookup& Lookup);
  void Reset() override;
  int Dither(int Red, int Green, int Blue, int& R, int& G, int& B) override;
  void NextLine() override;

 private:
  void StartRow();
  int FDirection2 = 2, FDirection3 = 3;
  TErrors FErrors[3][4];
  PErrors FError[3][4] = {};
};

class TBurkesDitherer : public TDitherEngine {
 public:
  TBurkesDitherer(int AWidth, TColorLookup& Lookup);
  void Reset() override;
  int Dither(int Red, int Green, int Blue, int& R, int& G, int& B) override;
  void NextLine() override;

 private:
  void StartRow();
  int FDirection2 = 2;
  TErrors FErrors[3][2];
  PErrors FError[3][2] = {};
};

// The engine of a dither mode, or null for a value outside the enumeration.
std::unique_ptr<TDitherEngine> CreateDitherer(TDitherMode DitherMode, int Width,
                                              TColorLookup& Lookup);

// One row in the ditherer's order: Source holds Width pixels of blue, green, red; Dest
// receives one index per pixel. Ends with the ditherer's NextLine.
void DitherRow(TDitherEngine& Ditherer, const uint8_t* Source, uint8_t* Dest);
