// BMP file reading and writing for TBitmap (the framework's own file format).
#pragma once

#include "framework.h"

// Reads a BMP file (file header included) from the stream's position into bitmap.
// A malformed or truncated file raises EInvalidGraphic and leaves bitmap unchanged.
void ReadBmpStream(TStream& stream, TBitmap& bitmap);
// Reads a packed device-independent bitmap (info header, colour table, bits) without the
// file header, as the clipboard's DIB format holds it.
void ReadPackedDib(const uint8_t* data, size_t size, TBitmap& bitmap);
// Writes the bitmap as an uncompressed BMP file in its own pixel format.
void WriteBmpStream(TStream& stream, const TBitmap& bitmap);
// The packed DIB (no file header) of the bitmap.
std::vector<uint8_t> MakePackedDib(const TBitmap& bitmap);
