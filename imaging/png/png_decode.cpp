// Decoding of the image data: one zlib stream followed across as many IDAT chunks as it
// needs, read in pieces of at most 65535 bytes, inflated straight into one of two row
// buffers, unfiltered and converted into the image rows.
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "png_decode_internal.h"
#include "png_read_internal.h"
#include "pngimage.h"

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

constexpr uint8_t kAdam7StartRow[7] = {0, 0, 4, 0, 2, 0, 1};
constexpr uint8_t kAdam7StartCol[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr uint8_t kAdam7RowStep[7] = {8, 8, 8, 4, 4, 2, 2};
constexpr uint8_t kAdam7ColStep[7] = {8, 8, 4, 4, 2, 2, 1};

// Reads the 4-byte CRC that follows a chunk's data and compares it with the running CRC.
void CheckChunkCrc(TIdatInflate& z) {
  uint8_t crc[4];
  ReadExact(z.Stream, crc, 4);
  z.Position += 4;
  if (ReadBE32(crc) != ~z.Crc) throw EPngInvalidCRC();
}

// PNG row length of `width` pixels.
uint32_t PngRowBytes(int colorType, int bitDepth, uint32_t width) {
  const uint64_t bits = uint64_t(width) * uint32_t(bitDepth);
  switch (colorType) {
    case COLOR_RGB:
      return uint32_t(bits * 3 / 8);
    case COLOR_GRAYSCALEALPHA:
      return uint32_t(bits * 2 / 8);
    case COLOR_RGBALPHA:
      return uint32_t(bits * 4 / 8);
    default:
      return uint32_t((bits + 7) / 8);
  }
}

bool IsIdentity(const std::array<uint8_t, 256>& table) {
  for (int i = 0; i < 256; ++i)
    if (table[size_t(i)] != i) return false;
  return true;
}

}  // namespace

TChunkIDAT::TChunkIDAT(TPngImage* owner) : TChunk(owner) {}

TChunkIDAT::~TChunkIDAT() = default;

void TChunkIDAT::InstallGrayPalette() {
  const uint8_t colorType = Header->ColorType();
  if (colorType != COLOR_GRAYSCALE && colorType != COLOR_GRAYSCALEALPHA) return;
  fOwner->ReplacePalette(Header->MakeGrayPalette(std::min(Header->BitsPerPixel(), 8)), true);
}

bool TChunkIDAT::LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) {
  Header = &fOwner->Header();
  if (Header->HasPalette()) InstallGrayPalette();
  ImageWidth = Header->Width();
  ImageHeight = Header->Height();
  fOwner->GetRowAndPixelBytes(Row_Bytes, Offset);

  TIdatInflate z(stream);
  z.Crc = UpdateCrc(0xFFFFFFFFu, chunkName.data(), 4);
  EndPos = z.Position + size;

  // Row buffers live only for this decode, whatever way it ends.
  struct RowBuffers {
    TChunkIDAT& chunk;
    ~RowBuffers() {
      for (auto& b : chunk.Row_Buffer) std::vector<uint8_t>().swap(b);
    }
  } release{*this};
  for (auto& b : Row_Buffer) b.assign(size_t(Row_Bytes) + 1, 0);
  RowUsed = 1;

  if (fOwner->InterlaceMethod() == imAdam7)
    DecodeRowsAdam7(z);
  else
    DecodeRowsPlain(z);
  FinishLastChunk(z);
  return true;
}

size_t TChunkIDAT::ReadIdatBytes(TIdatInflate& z, uint8_t* buffer, size_t count) {
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

void TChunkIDAT::FinishLastChunk(TIdatInflate& z) {
  // Rows can be complete before the current chunk's data is all read (trailing bytes after
  // the zlib stream, or a large chunk): read it to its end so the CRC covers all of it.
  while (z.Position < EndPos) {
    const size_t want = size_t(std::min<int64_t>(EndPos - z.Position, 65535));
    if (z.ReadData(z.Input.data(), want) == 0) throw EPngUnexpectedEnd();
  }
  CheckChunkCrc(z);
}

void TChunkIDAT::UnfilterRow() {
  UnfilterPngRow(Row_Buffer[size_t(RowUsed)].data(), Row_Buffer[size_t(1 - RowUsed)].data(),
                 Row_Bytes, Offset);
}

void TChunkIDAT::DecodeRowsPlain(TIdatInflate& z) {
  const TRowConverter convert = ChooseRowConverter(Header->ColorType(), Header->BitDepth(), false,
                                                   IsIdentity(fOwner->GammaTable));
  if (!convert) throw EPngInvalidIHDR();
  const uint8_t* gamma = fOwner->GammaTable.data();
  const size_t stride = Header->BytesPerRow();
  uint8_t* pixels = Header->PixelRow(0);
  uint8_t* extra = Header->ExtraImageData();
  if (extra) extra += stride * (ImageHeight - 1);
  uint8_t* alpha = Header->ImageAlpha();
  const size_t want = size_t(Row_Bytes) + 1;
  for (uint32_t y = 0; y < ImageHeight; ++y) {
    uint8_t* row = Row_Buffer[size_t(RowUsed)].data();
    if (ReadIdatBytes(z, row, want) < want) return;  // the zlib stream ended early
    UnfilterRow();
    convert(row + 1, TRowTarget{pixels, extra, alpha}, ImageWidth, 0, 1, gamma);
    RowUsed = 1 - RowUsed;
    pixels -= stride;
    if (extra) extra -= stride;
    if (alpha) alpha += ImageWidth;
  }
}

void TChunkIDAT::DecodeRowsAdam7(TIdatInflate& z) {
  const TRowConverter convert = ChooseRowConverter(Header->ColorType(), Header->BitDepth(), true,
                                                   IsIdentity(fOwner->GammaTable));
  if (!convert) throw EPngInvalidIHDR();
  const uint8_t* gamma = fOwner->GammaTable.data();
  const size_t stride = Header->BytesPerRow();
  for (int pass = 0; pass < 7; ++pass) {
    const uint32_t x0 = kAdam7StartCol[pass], dx = kAdam7ColStep[pass];
    const uint32_t width = (ImageWidth + dx - x0 - 1) / dx;
    Row_Bytes = PngRowBytes(Header->ColorType(), Header->BitDepth(), width);
    std::fill(Row_Buffer[size_t(1 - RowUsed)].begin(), Row_Buffer[size_t(1 - RowUsed)].end(), 0);
    if (Row_Bytes == 0) continue;
    const size_t want = size_t(Row_Bytes) + 1;
    for (uint32_t y = kAdam7StartRow[pass]; y < ImageHeight; y += kAdam7RowStep[pass]) {
      uint8_t* row = Row_Buffer[size_t(RowUsed)].data();
      if (ReadIdatBytes(z, row, want) < want) return;
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
