// Building blocks of the PNG writer shared by its source files. Not part of the public API.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <zlib.h>

#include "png_internal.h"

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

// The encoding state of one save (TChunkIDAT::SaveToStream): the header it encodes, the
// row geometry, the six row buffers and the compression state.
struct TIdatEncoder {
  TIdatEncoder(TPngImage& image, TStream& stream);

  void EncodeRowsPlain();
  void EncodeRowsAdam7();
  // Filter type (0..4) for the row in Encode_Buffer[5]; leaves the raw row in buffer 0.
  int ChooseRowFilter();
  void WriteIdatBytes(const uint8_t* buffer, size_t length);
  void FinishIdat();
  void EmitIdatChunk(const uint8_t* data, uint32_t length);

  TPngImage& Image;
  TChunkIHDR* Header;
  uint32_t ImageWidth;
  uint32_t ImageHeight;
  int BitDepth;  // as written: 2-bit images are held and saved with 4-bit pixels
  uint32_t Row_Bytes = 0;
  uint32_t Offset = 1;
  // Indexed by filter type; 5 receives the row to encode. Each has one leading byte for
  // the filter type (EncodeRowData).
  std::array<std::vector<uint8_t>, 6> Encode_Buffer;
  TIdatDeflate Z;
};

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
