// Helpers of the PNG reader shared by its source files. Not part of the public API.
#pragma once

#include <cstddef>
#include <cstdint>

#include "png_internal.h"

// Reads exactly count bytes; a stream that ends first raises EPngUnexpectedEnd.
void ReadExact(TStream& stream, void* buffer, size_t count);
// Bytes left between the stream's position and its end.
int64_t StreamRemaining(TStream& stream);

// The signature every PNG file starts with.
extern const uint8_t kPngSignature[8];

// Sample to display through the gamma table, for a palette built from file colours.
std::unique_ptr<TPalette> MakeCorrectedPalette(const uint8_t* rgb, uint32_t count,
                                               const std::array<uint8_t, 256>& gamma);
