// Building blocks of PNG drawing shared by its source files. Not part of the public API.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework.h"

// What the alpha composition reads from an image: its rows, its alpha and, for indexed
// buffers, the colour and alpha of every index.
struct TAlphaSource {
  enum TKind {
    akRgbAlpha,      // 24-bit rows with an alpha plane
    akGreyAlpha,     // 1-, 4- or 8-bit grey indices with an alpha plane
    akPaletteAlpha,  // 1-, 4- or 8-bit palette indices, alpha per palette entry
  };
  TKind Kind = akRgbAlpha;
  const uint8_t* TopRow = nullptr;  // image row 0 (the top one)
  ptrdiff_t Stride = 0;             // from one image row to the one below it
  const uint8_t* Alpha = nullptr;   // top-down alpha plane, Width bytes a row
  int Width = 0;
  int Height = 0;
  int BitsPerPixel = 24;
  // Indexed buffers: per index, blue, green, red (grey: the level three times) and the
  // alpha of a palette entry.
  uint8_t IndexBlue[256] = {};
  uint8_t IndexGreen[256] = {};
  uint8_t IndexRed[256] = {};
  uint8_t IndexAlpha[256] = {};
};

// Source column (or row) of every destination column of a span of `extent` pixels that
// shows an image of `size` pixels: trunc(i / (extent / size)), or i without scaling.
// Only the destination pixels first .. first + count - 1 are mapped.
std::vector<int> NearestSourceMap(int extent, int size, int first, int count);

// Composes the image, scaled to `rect` (normalised, in target coordinates), over the
// target's pixels inside `clip` (part of rect and of the target). The target is a 24- or
// 32-bit buffer; with 32 bits its alpha byte is composed too.
void ComposeAlphaSpan(const TAlphaSource& source, const TPixelView& target, const TRect& rect,
                      const TRect& clip);

// Composes the image scaled into rect over a target of any format, clipped to it. A
// target of another format than 24 or 32 bits is composed on a 32-bit copy of the
// covered area. Raises EPNGOutMemory when that copy is over the budget.
void ComposeAlpha(const TAlphaSource& source, const TPixelView& target, const TRect& rect);
