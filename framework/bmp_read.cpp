// Reading BMP files and packed DIBs into a TBitmap. Every header field is checked before
// it sizes a read or an allocation, and the picture is decoded into a bitmap of its own so
// that a failure leaves the caller's bitmap as it was.
#include <algorithm>
#include <limits>

#include "bmp_format.h"
#include "bmp_io.h"

namespace bmp {

const char* const kMsgTruncated = "Fichier BMP tronqué";
const char* const kMsgBadHeader = "En-tête BMP invalide";
namespace {
const char* const kMsgNotBmp = "Ce fichier n'est pas une image BMP";
const char* const kMsgBadColorTable = "Table de couleurs BMP invalide";
}  // namespace

void Fail(const char* message) {
  throw EInvalidGraphic(message);
}

namespace {

// Where the DIB's bytes come from: a stream (BMP file) or memory (packed DIB).
class TDibSource {
 public:
  virtual ~TDibSource() = default;
  // Reads exactly count bytes or raises the truncation error.
  void ReadExact(void* buffer, uint64_t count) {
    if (ReadSome(buffer, count) != count) Fail(kMsgTruncated);
  }
  virtual uint64_t ReadSome(void* buffer, uint64_t count) = 0;
  virtual uint64_t Remaining() = 0;
  void Skip(uint64_t count) {
    if (count > Remaining()) Fail(kMsgTruncated);
    DoSkip(count);
  }

 protected:
  virtual void DoSkip(uint64_t count) = 0;
};

class TStreamSource : public TDibSource {
 public:
  explicit TStreamSource(TStream& stream) : FStream(stream) {}
  uint64_t ReadSome(void* buffer, uint64_t count) override {
    int64_t n = FStream.Read(buffer, int64_t(count));
    return n > 0 ? uint64_t(n) : 0;
  }
  uint64_t Remaining() override {
    int64_t left = FStream.Size() - FStream.Position();
    return left > 0 ? uint64_t(left) : 0;
  }

 protected:
  void DoSkip(uint64_t count) override { FStream.Seek(int64_t(count), soCurrent); }

 private:
  TStream& FStream;
};

class TMemorySource : public TDibSource {
 public:
  TMemorySource(const uint8_t* data, size_t size) : FData(data), FSize(size) {}
  uint64_t ReadSome(void* buffer, uint64_t count) override {
    uint64_t n = std::min<uint64_t>(count, FSize - FPos);
    if (n) std::memcpy(buffer, FData + FPos, n);
    FPos += n;
    return n;
  }
  uint64_t Remaining() override { return FSize - FPos; }

 protected:
  void DoSkip(uint64_t count) override { FPos += count; }

 private:
  const uint8_t* FData;
  uint64_t FSize;
  uint64_t FPos = 0;
};

void ReadColorTable(TDibSource& src, TDibInfo& info, int64_t room) {
  const bool core = info.HeaderSize == kCoreHeaderSize;
  const int entrySize = core ? 3 : 4;
  uint64_t count = 0;
  if (info.BitCount <= 8) {
    uint32_t full = 1u << info.BitCount;
    if (info.ColorsUsed > full) Fail(kMsgBadColorTable);
    count = (info.ColorsUsed && !core) ? info.ColorsUsed : full;
    if (room >= 0) count = std::min<uint64_t>(count, uint64_t(room) / entrySize);
    if (count == 0) Fail(kMsgBadColorTable);
  } else if (room < 0) {
    // A packed DIB may carry a palette hint before true-colour pixels: skip it.
    if (info.ColorsUsed > 256) Fail(kMsgBadColorTable);
    src.Skip(uint64_t(info.ColorsUsed) * 4);
    return;
  } else {
    return;
  }
  std::vector<uint8_t> raw(count * entrySize);
  src.ReadExact(raw.data(), raw.size());
  info.Colors.resize(count);
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* e = raw.data() + i * entrySize;
    info.Colors[i] = TRGBQuad{e[0], e[1], e[2], 0};
  }
}

TPixelFormat OutputFormat(const TDibInfo& info) {
  // The header check lets through 1, 4, 8, 16, 24 and 32 bits only; 16-bit masks other
  // than 5-5-5 and 5-6-5 widen to 32 bits.
  if (info.BitCount != 16) return PixelFormatOf(info.BitCount);
  if (info.AlphaMask == 0 && info.BlueMask == 0x1F) {
    if (info.RedMask == 0x7C00 && info.GreenMask == 0x03E0) return pf15bit;
    if (info.RedMask == 0xF800 && info.GreenMask == 0x07E0) return pf16bit;
  }
  return pf32bit;
}

// True when the rows can be copied into the bitmap as they are.
bool IsNativeLayout(const TDibInfo& info, TPixelFormat format) {
  if (info.BitCount != 32) return format != pf32bit;
  return info.RedMask == 0xFF0000 && info.GreenMask == 0xFF00 && info.BlueMask == 0xFF &&
         (info.AlphaMask == 0 || info.AlphaMask == 0xFF000000u);
}

int StoredRow(const TDibInfo& info, int64_t i) {
  return int(info.TopDown ? i : info.Height - 1 - i);
}

// Reads one stored row; the last row may lack its padding.
void ReadRow(TDibSource& src, uint8_t* dst, uint64_t stride, uint64_t rowBytes) {
  uint64_t n = src.ReadSome(dst, stride);
  if (n < rowBytes) Fail(kMsgTruncated);
  if (n < stride) std::memset(dst + n, 0, stride - n);
}

void ConvertMaskedRow(const TDibInfo& info, const uint8_t* src, uint8_t* dst, int width) {
  const TChannel r = TChannel::Of(info.RedMask), g = TChannel::Of(info.GreenMask),
                 b = TChannel::Of(info.BlueMask), a = TChannel::Of(info.AlphaMask);
  const bool wide = info.BitCount == 32;
  for (int x = 0; x < width; ++x) {
    uint32_t p = wide ? Get32(src + 4 * x) : Get16(src + 2 * x);
    dst[0] = b.Extract(p);
    dst[1] = g.Extract(p);
    dst[2] = r.Extract(p);
    dst[3] = a.Max ? a.Extract(p) : 0xFF;
    dst += 4;
  }
}

uint64_t RowBytes(const TDibInfo& info) {
  return (uint64_t(info.Width) * info.BitCount + 7) / 8;
}

// The uncompressed pixels must all be there (the last row's padding aside); checked
// before anything is allocated, without overflowing on absurd sizes.
void CheckPixelsPresent(TDibSource& src, const TDibInfo& info) {
  const uint64_t stride = uint64_t(DibStride(info.Width, info.BitCount));
  const uint64_t rows = uint64_t(info.Height) - 1;
  const uint64_t avail = src.Remaining();
  if (RowBytes(info) > avail) Fail(kMsgTruncated);
  if (rows != 0 && stride > (avail - RowBytes(info)) / rows) Fail(kMsgTruncated);
}

void ReadUncompressed(TDibSource& src, const TDibInfo& info, TBitmap& bmp) {
  const uint64_t stride = uint64_t(DibStride(info.Width, info.BitCount));
  const uint64_t rowBytes = RowBytes(info);
  const bool native = IsNativeLayout(info, bmp.PixelFormat());
  std::vector<uint8_t> row(native ? 0 : stride);
  for (int64_t i = 0; i < info.Height; ++i) {
    uint8_t* dst = bmp.GetScanline(StoredRow(info, i));
    if (native) {
      ReadRow(src, dst, stride, rowBytes);
    } else {
      ReadRow(src, row.data(), stride, rowBytes);
      ConvertMaskedRow(info, row.data(), dst, int(info.Width));
    }
  }
}

void ReadRle(TDibSource& src, const TDibInfo& info, TBitmap& bmp) {
  uint64_t size = src.Remaining();
  if (info.SizeImage != 0) size = std::min<uint64_t>(size, info.SizeImage);
  CheckImageBudget(size);
  std::vector<uint8_t> data(size);
  data.resize(src.ReadSome(data.data(), size));
  DecodeRle(data.data(), data.size(), info.BitCount, bmp);
}

// A 32-bit picture is opaque unless some pixel has alpha; an all-zero alpha channel is the
// usual mark of writers that left the byte unused.
void SettleAlpha(const TDibInfo& info, TBitmap& bmp) {
  if (bmp.PixelFormat() != pf32bit) return;
  bool any = false;
  if (info.AlphaMask != 0) {
    for (int y = 0; y < bmp.Height() && !any; ++y) {
      const uint8_t* p = bmp.GetScanline(y);
      for (int x = 0; x < bmp.Width(); ++x)
        if (p[4 * x + 3] != 0) {
          any = true;
          break;
        }
    }
  }
  if (any) {
    bmp.SetAlphaFormat(afDefined);
    return;
  }
  for (int y = 0; y < bmp.Height(); ++y) {
    uint8_t* p = bmp.GetScanline(y);
    for (int x = 0; x < bmp.Width(); ++x) p[4 * x + 3] = 0xFF;
  }
  bmp.SetAlphaFormat(afIgnored);
}

// Pixels that point past a short colour table show as black rather than reading beyond it.
void PadColorTable(TDibInfo& info, const TBitmap& bmp) {
  const size_t full = size_t(1) << info.BitCount;
  if (info.Colors.size() >= full) return;
  uint32_t highest = 0;
  for (int y = 0; y < bmp.Height(); ++y) {
    const uint8_t* p = bmp.GetScanline(y);
    for (int x = 0; x < bmp.Width(); ++x) {
      uint32_t v = info.BitCount == 8   ? p[x]
                   : info.BitCount == 4 ? (p[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF
                                        : (p[x >> 3] >> (7 - (x & 7))) & 1;
      highest = std::max(highest, v);
    }
  }
  if (highest >= info.Colors.size()) info.Colors.resize(highest + 1);
}

// Everything after the file header. `pixelOffset` is where the pixels start, counted from
// the DIB header (-1 for a packed DIB, where they follow the colour table).
void ReadDib(TDibSource& src, int64_t pixelOffset, TBitmap& bitmap) {
  uint8_t head[kV5HeaderSize] = {};
  src.ReadExact(head, 4);
  TDibInfo info;
  info.HeaderSize = Get32(head);
  const bool known =
      info.HeaderSize == kCoreHeaderSize || (info.HeaderSize >= 16 && info.HeaderSize <= 4096);
  if (!known) Fail(kMsgBadHeader);
  const uint32_t kept = std::min(info.HeaderSize, kV5HeaderSize);
  src.ReadExact(head + 4, kept - 4);
  src.Skip(info.HeaderSize - kept);
  if (info.HeaderSize == kCoreHeaderSize)
    ParseCoreHeader(head, info);
  else
    ParseInfoHeader(head, info);

  uint32_t maskBytes = MaskBytesAfterHeader(info);
  if (maskBytes) {
    uint8_t m[16];
    src.ReadExact(m, maskBytes);
    info.RedMask = Get32(m), info.GreenMask = Get32(m + 4), info.BlueMask = Get32(m + 8);
    if (maskBytes == 16) info.AlphaMask = Get32(m + 12);
  }
  Validate(info);

  int64_t consumed = int64_t(info.HeaderSize) + maskBytes;
  int64_t room = -1;
  if (pixelOffset > 0) {
    if (pixelOffset < consumed) Fail(kMsgBadHeader);
    room = pixelOffset - consumed;
  }
  ReadColorTable(src, info, room);
  if (room >= 0) {
    int64_t tableBytes = int64_t(info.Colors.size()) * (info.HeaderSize == 12 ? 3 : 4);
    src.Skip(uint64_t(room - tableBytes));
  }

  const bool rle = info.Compression == biRLE4 || info.Compression == biRLE8;
  if (!rle) CheckPixelsPresent(src, info);
  const TPixelFormat format = OutputFormat(info);
  CheckedDibSize(info.Width, info.Height, BitCountOf(format));

  TBitmap decoded;
  decoded.SetPixelFormat(format);
  decoded.SetSize(int(info.Width), int(info.Height));
  if (rle)
    ReadRle(src, info, decoded);
  else
    ReadUncompressed(src, info, decoded);
  if (format == pf1bit || format == pf4bit || format == pf8bit) {
    PadColorTable(info, decoded);
    decoded.SetColorTable(info.Colors);
  }
  SettleAlpha(info, decoded);
  bitmap.Adopt(decoded);
}

}  // namespace
}  // namespace bmp

void ReadBmpStream(TStream& stream, TBitmap& bitmap) {
  using namespace bmp;
  TStreamSource src(stream);
  uint8_t file[kFileHeaderSize];
  if (src.ReadSome(file, sizeof file) != sizeof file) Fail(kMsgNotBmp);
  if (Get16(file) != kSignature) Fail(kMsgNotBmp);
  uint32_t offBits = Get32(file + 10);
  int64_t pixelOffset = offBits >= kFileHeaderSize ? int64_t(offBits) - kFileHeaderSize : -1;
  ReadDib(src, pixelOffset, bitmap);
}

void ReadPackedDib(const uint8_t* data, size_t size, TBitmap& bitmap) {
  bmp::TMemorySource src(data, size);
  bmp::ReadDib(src, -1, bitmap);
}
