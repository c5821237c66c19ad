// Decoding of the image data: one zlib stream followed across as many IDAT chunks as it
// needs, read in pieces of at most 65535 bytes, inflated straight into one of two row
// buffers, unfiltered and converted into the image rows.
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "png_decode_internal.h"
#include "png_internal.h"
#include "png_read_internal.h"

// The inflate state of one decode. It keeps its own count of the stream position so that
// the hot path makes no stream calls besides the reads.
struct TIdatInflate {
  explicit TIdatInflate(TStream& source) : Stream(source), Position(source.Position()) {
    const int result = inflateInit(&Zlib);
    if (result != Z_OK) throw EPNGZLIBError(ZlibErrorMessage(result));
    Initialised = true;
  }
  ~TIdatInflate() {
    if (Initialised) inflateEnd(&Zlib);
  }
  TIdatInflate(const TIdatInflate&) = delete;
  TIdatInflate& operator=(const TIdatInflate&) = delete;

  // Reads up to count bytes of the current chunk's data into buffer, updating the CRC.
  size_t ReadData(uint8_t* buffer, size_t count) {
    const int64_t got = Stream.Read(buffer, int64_t(count));
    if (got <= 0) return 0;
    Position += got;
    Crc = UpdateCrc(Crc, buffer, size_t(got));
    return size_t(got);
  }

  TStream& Stream;
  int64_t Position;
  z_stream Zlib{};
  bool Initialised = false;
  bool StreamEnded = false;  // zlib reported the end of its stream: no more output
  uint32_t Crc = 0xFFFFFFFFu;
  std::vector<uint8_t> Input = std::vector<uint8_t>(65535);
};

namespace {

// Reads the 4-byte CRC that follows a chunk's data and compares it with the running CRC.
void CheckChunkCrc(TIdatInflate& z) {
  uint8_t crc[4];
  ReadExact(z.Stream, crc, 4);
  z.Position += 4;
  if (ReadBE32(crc) != ~z.Crc) throw EPngInvalidCRC();
}

bool IsIdentity(const std::array<uint8_t, 256>& table) {
  for (int i = 0; i < 256; ++i)
    if (table[size_t(i)] != i) return false;
  return true;
}

// The decoding state of one load: the header it decodes into, the row geometry, the two
// row buffers (the row being decoded and the one above it) and where the current IDAT
// chunk's data ends.
struct TIdatDecoder {
  TIdatDecoder(TPngImage& image, TIdatInflate& inflate);

  size_t ReadIdatBytes(uint8_t* buffer, size_t count);
  void UnfilterRow();
  void DecodeRowsPlain();
  void DecodeRowsAdam7();
  void FinishLastChunk();
  void InstallGrayPalette();

  TPngImage& Image;
  TIdatInflate& Z;
  TChunkIHDR* Header;
  uint32_t ImageWidth;
  uint32_t ImageHeight;
  uint32_t Row_Bytes = 0;
  uint32_t Offset = 1;
  std::array<std::vector<uint8_t>, 2> Row_Buffer;
  int RowUsed = 1;  // the first row goes to buffer 1; buffer 0 is the zero row above it
  int64_t EndPos = 0;
};

TIdatDecoder::TIdatDecoder(TPngImage& image, TIdatInflate& inflate)
    : Image(image),
      Z(inflate),
      Header(&image.Header()),
      ImageWidth(Header->Width()),
      ImageHeight(Header->Height()) {
  Row_Bytes = PngRowBytes(Header->ColorType(), Header->BitDepth(), ImageWidth);
  Offset = PngFilterOffset(Header->ColorType(), Header->BitDepth());
  for (auto& b : Row_Buffer) b.assign(size_t(Row_Bytes) + 1, 0);
}

void TIdatDecoder::InstallGrayPalette() {
  const uint8_t colorType = Header->ColorType();
  if (colorType != COLOR_GRAYSCALE && colorType != COLOR_GRAYSCALEALPHA) return;
  Image.ReplacePalette(Header->MakeGrayPalette(std::min(Header->BitsPerPixel(), 8)), true);
}

}  // namespace

bool TChunkIDAT::LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) {
  // A header that was refused has no buffers to decode into.
  if (fOwner->Header().ImageData() == nullptr) throw EPNGHeaderNotPresent();
  TIdatInflate z(stream);
  TIdatDecoder decoder(*fOwner, z);
  if (decoder.Header->HasPalette()) decoder.InstallGrayPalette();
  z.Crc = UpdateCrc(0xFFFFFFFFu, chunkName.data(), 4);
  decoder.EndPos = z.Position + size;
  if (fOwner->InterlaceMethod() == imAdam7)
    decoder.DecodeRowsAdam7();
  else
    decoder.DecodeRowsPlain();
  decoder.FinishLastChunk();
  return true;
}

size_t TIdatDecoder::ReadIdatBytes(uint8_t* buffer, size_t count) {
  TIdatInflate& z = Z;
  z_stream& zs = z.Zlib;
  zs.next_out = buffer;
  zs.avail_out = uInt(count);
  while (zs.avail_out > 0 && !z.StreamEnded) {
    if (zs.avail_in == 0 && z.Position == EndPos) {
      // The current IDAT chunk is used up: its CRC, then the next chunk must be IDAT too.
      CheckChunkCrc(z);
      uint8_t head[8];
      ReadExact(z.Stream, head, 8);
      z.Position += 8;
      if (std::memcmp(head + 4, "IDAT", 4) != 0) throw EPNGMissingMultipleIDAT();
      z.Crc = UpdateCrc(0xFFFFFFFFu, "IDAT", 4);
      EndPos = z.Position + ReadBE32(head);
    }
    if (zs.avail_in == 0) {
      const size_t want = size_t(std::min<int64_t>(EndPos - z.Position, 65535));
      const size_t got = z.ReadData(z.Input.data(), want);
      // The file ends inside the image data; the rows decoded so far stay.
      if (got == 0) throw EPngUnexpectedEnd();
      zs.next_in = z.Input.data();
      zs.avail_in = uInt(got);
    }
    const int result = inflate(&zs, Z_NO_FLUSH);
    if (result == Z_STREAM_END) z.StreamEnded = true;
    // A preset dictionary can never be supplied: inflate would stall on it forever.
    if (result < 0 || result == Z_NEED_DICT) throw EPNGZLIBError(ZlibErrorMessage(result));
  }
  return count - zs.avail_out;
}

void TIdatDecoder::FinishLastChunk() {
  // Rows can be complete before the current chunk's data is all read: trailing bytes after
  // the zlib stream, or a large chunk whose last piece still held the stream's final bytes
  // (its Adler-32 check) when the rows were complete. Reading the four bytes at the current
  // position as the CRC would then refuse sound files, depending only on where the pieces
  // of 65535 bytes happen to end; the rest of the chunk is read (and covered by the CRC)
  // before its CRC is.
  TIdatInflate& z = Z;
  while (z.Position < EndPos) {
    const size_t want = size_t(std::min<int64_t>(EndPos - z.Position, 65535));
    if (z.ReadData(z.Input.data(), want) == 0) throw EPngUnexpectedEnd();
  }
  CheckChunkCrc(z);
}

void TIdatDecoder::UnfilterRow() {
  UnfilterPngRow(Row_Buffer[size_t(RowUsed)].data(), Row_Buffer[size_t(1 - RowUsed)].data(),
                 Row_Bytes, Offset);
}

void TIdatDecoder::DecodeRowsPlain() {
  const TRowConverter convert = ChooseRowConverter(Header->ColorType(), Header->BitDepth(), false,
                                                   IsIdentity(Image.GammaTable));
  if (!convert) throw EPngInvalidIHDR();
  const uint8_t* gamma = Image.GammaTable.data();
  const size_t stride = Header->BytesPerRow();
  uint8_t* pixels = Header->PixelRow(0);
  uint8_t* extra = Header->ExtraImageData();
  if (extra) extra += stride * (ImageHeight - 1);
  uint8_t* alpha = Header->ImageAlpha();
  const size_t want = size_t(Row_Bytes) + 1;
  for (uint32_t y = 0; y < ImageHeight; ++y) {
    uint8_t* row = Row_Buffer[size_t(RowUsed)].data();
    if (ReadIdatBytes(row, want) < want) return;  // the zlib stream ended early
    UnfilterRow();
    convert(row + 1, TRowTarget{pixels, extra, alpha}, ImageWidth, 0, 1, gamma);
    RowUsed = 1 - RowUsed;
    pixels -= stride;
    if (extra) extra -= stride;
    if (alpha) alpha += ImageWidth;
  }
}

void TIdatDecoder::DecodeRowsAdam7() {
  const TRowConverter convert = ChooseRowConverter(Header->ColorType(), Header->BitDepth(), true,
                                                   IsIdentity(Image.GammaTable));
  if (!convert) throw EPngInvalidIHDR();
  const uint8_t* gamma = Image.GammaTable.data();
  const size_t stride = Header->BytesPerRow();
  for (const TAdam7Pass& pass : kAdam7Passes) {
    const uint32_t x0 = pass.StartColumn, dx = pass.ColumnIncrement;
    const uint32_t width = pass.Width(ImageWidth);
    Row_Bytes = PngRowBytes(Header->ColorType(), Header->BitDepth(), width);
    std::fill(Row_Buffer[size_t(1 - RowUsed)].begin(), Row_Buffer[size_t(1 - RowUsed)].end(), 0);
    if (Row_Bytes == 0) continue;
    const size_t want = size_t(Row_Bytes) + 1;
    for (uint32_t y = pass.StartRow; y < ImageHeight; y += pass.RowIncrement) {
      uint8_t* row = Row_Buffer[size_t(RowUsed)].data();
      if (ReadIdatBytes(row, want) < want) return;
      UnfilterRow();
      uint8_t* extra = Header->ExtraImageData();
      uint8_t* alpha = Header->ImageAlpha();
      const TRowTarget target{Header->PixelRow(y),
                              extra ? extra + stride * (ImageHeight - 1 - y) : nullptr,
                              alpha ? alpha + size_t(y) * ImageWidth : nullptr};
      convert(row + 1, target, width, x0, dx, gamma);
      RowUsed = 1 - RowUsed;
    }
  }
}
