// Building blocks of the PNG writer shared by its source files. Not part of the public API.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <zlib.h>

#include "pngimage.h"

// Row filter types as written before each row.
constexpr int kFilterTypeNone = 0;
constexpr int kFilterTypeSub = 1;
constexpr int kFilterTypeUp = 2;
constexpr int kFilterTypeAverage = 3;
constexpr int kFilterTypePaeth = 4;
// Encode_Buffer[kRawRowBuffer] receives the row to encode.
constexpr int kRawRowBuffer = 5;

// The encoder's row buffers (TChunkIDAT::Encode_Buffer) have one leading byte before the
// Row_Bytes of the row: it receives the filter type, so that a chosen row goes to the
// compressor in one piece.
inline uint8_t* EncodeRowData(std::vector<uint8_t>& buffer) {
  return buffer.data() + 1;
}

// Number of positions j (2 <= j < length) whose byte equals one of the two bytes before
// it: the measure of how well a filtered row will compress.
int ScoreFilteredRow(const uint8_t* row, size_t length);

// The compression state of one save: the zlib stream, one output buffer of MaxIdatSize
// bytes and the destination. The zlib stream is ended on every path out of the save.
struct TIdatDeflate {
  TIdatDeflate(TStream& destination, uint32_t chunkSize, int level);
  ~TIdatDeflate();
  TIdatDeflate(const TIdatDeflate&) = delete;
  TIdatDeflate& operator=(const TIdatDeflate&) = delete;

  void RestartOutput();
  size_t HeldBytes() const { return Output.size() - Zlib.avail_out; }

  TStream& Stream;
  std::vector<uint8_t> Output;
  z_stream Zlib{};
  bool Started = false;
};

// Raises the PNG compression error for a zlib result code.
[[noreturn]] void RaisePngCompressionError(int zlibResult);

// Writes one chunk frame: big-endian length, name, data and CRC.
void WritePngChunk(TStream& stream, const char name[4], const uint8_t* data, size_t length);

// Writes one row of pixels of an image as a PNG row (samples big-endian): the pixels at
// columns first, first + step, ... (count of them) of image row y. Indexed pixels are
// packed into a zeroed row; RGB samples pass through InverseGamma.
class TPngRowEncoder {
 public:
  TPngRowEncoder(TPngImage& image, TChunkIHDR& header);
  void EncodeRow(uint32_t y, uint32_t first, uint32_t step, uint32_t count, uint8_t* out) const;

 private:
  void EncodeIndexed(const uint8_t* pixels, uint32_t first, uint32_t step, uint32_t count,
                     uint8_t* out) const;

  TChunkIHDR& fHeader;
  const uint8_t* fInverseGamma;
  int fColorType;
  int fBitDepth;      // as written in the file
  int fBitsPerPixel;  // of the pixel buffer
  uint32_t fWidth;
};
