// Row-level building blocks of the PNG decoder. Not part of the public API.
#pragma once

#include <cstddef>
#include <cstdint>

// Where one decoded row goes: the image row's pixels, its low-byte row (16-bit images)
// and its alpha row (images with alpha); unused targets are null.
struct TRowTarget {
  uint8_t* Pixels;
  uint8_t* Extra;
  uint8_t* Alpha;
};

// Converts `count` pixels of an unfiltered PNG row; pixel k lands in image column
// x0 + k * dx (x0 = 0, dx = 1 for a plain row, the pass pattern for Adam7).
using TRowConverter = void (*)(const uint8_t* source, const TRowTarget& target, uint32_t count,
                               uint32_t x0, uint32_t dx, const uint8_t* gamma);

// Null for pairs that have no buffer format (refused when the header is read).
TRowConverter ChooseRowConverter(int colorType, int bitDepth, bool interlaced, bool identityGamma);

// Reverses the filter of row (its filter byte at row[0], rowBytes data bytes after it)
// against prior (same layout, all zero for the first row). Unknown filter types leave the
// row as it is.
void UnfilterPngRow(uint8_t* row, const uint8_t* prior, size_t rowBytes, size_t offset);
// The same for two rows in a row, next (laid out the same) right below row, where that is
// faster than one after the other; false, and both rows untouched, where it is not.
bool UnfilterPngRowPair(uint8_t* row, uint8_t* next, const uint8_t* prior, size_t rowBytes,
                        size_t offset);

// Running Adler-32 (the zlib stream's check) of `length` more bytes; it starts at 1.
uint32_t Adler32(uint32_t adler, const uint8_t* data, size_t length);
