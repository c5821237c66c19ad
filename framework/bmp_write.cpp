// Writing a TBitmap as an uncompressed BMP in its own pixel format. Bitmaps without alpha
// use the plain info header that every reader knows; 15/16-bit pixels carry explicit bit
// fields so that 5-6-5 is not mistaken for 5-5-5; a 32-bit bitmap with alpha is written
// with a V4 header whose alpha mask marks the fourth byte as straight alpha, the form
// image editors and browsers read back as transparency.
#include <algorithm>
#include <limits>

#include "bmp_format.h"
#include "bmp_io.h"

namespace {

using namespace bmp;

constexpr int32_t kPixelsPerMetre = 3780;         // 96 dpi
constexpr uint32_t kSrgbColorSpace = 0x73524742;  // 'sRGB'

struct TBmpLayout {
  int BitCount = 24;
  bool HasAlpha = false;
  bool Premultiplied = false;
  std::vector<uint8_t> Header;  // info header, masks and colour table
  uint64_t Stride = 0;
  uint64_t PixelBytes = 0;
};

std::vector<TRGBQuad> TableOf(const TBitmap& bitmap, int bitCount) {
  if (!bitmap.ColorTable().empty()) return bitmap.ColorTable();
  // An indexed bitmap without a table shows the framework's default colours; write them.
  const TPalette& pal = bitCount == 1   ? TPalette({{0, 0, 0, 0}, {255, 255, 255, 0}})
                        : bitCount == 4 ? VgaPalette16()
                                        : HalftonePalette256();
  std::vector<TRGBQuad> table;
  for (const TPaletteEntry& e : pal.Entries())
    table.push_back(TRGBQuad{e.peBlue, e.peGreen, e.peRed, 0});
  return table;
}

TBmpLayout LayoutOf(const TBitmap& bitmap) {
  TBmpLayout l;
  const int bits = bitmap.BitCount();
  l.BitCount = bits == 15 ? 16 : bits;
  l.HasAlpha = bits == 32 && bitmap.AlphaFormat() != afIgnored;
  l.Premultiplied = l.HasAlpha && bitmap.AlphaFormat() == afPremultiplied;
  l.Stride = uint64_t(DibStride(bitmap.Width(), l.BitCount));
  l.PixelBytes = l.Stride * uint64_t(bitmap.Height());

  const uint32_t headerSize = l.HasAlpha ? kV4HeaderSize : kInfoHeaderSize;
  const bool fields = bits == 15 || bits == 16 || l.HasAlpha;
  std::vector<TRGBQuad> table;
  if (bits <= 8) table = TableOf(bitmap, bits);
  const uint32_t maskBytes = (fields && !l.HasAlpha) ? 12 : 0;
  l.Header.assign(headerSize + maskBytes + table.size() * 4, 0);

  uint8_t* h = l.Header.data();
  Put32(h, headerSize);
  Put32(h + 4, uint32_t(bitmap.Width()));
  Put32(h + 8, uint32_t(bitmap.Height()));  // positive: rows stored bottom-up
  Put16(h + 12, 1);
  Put16(h + 14, uint32_t(l.BitCount));
  Put32(h + 16, fields ? biBitfields : biRGB);
  Put32(h + 20, uint32_t(l.PixelBytes));
  Put32(h + 24, kPixelsPerMetre);
  Put32(h + 28, kPixelsPerMetre);
  Put32(h + 32, uint32_t(table.size()));
  uint32_t masks[4] = {0xFF0000, 0xFF00, 0xFF, 0xFF000000u};
  if (bits == 15) masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
  if (bits == 16) masks[0] = 0xF800, masks[1] = 0x07E0, masks[2] = 0x001F;
  if (l.HasAlpha) {
    for (int i = 0; i < 4; ++i) Put32(h + 40 + 4 * i, masks[i]);
    Put32(h + 56, kSrgbColorSpace);
  } else if (maskBytes) {
    for (int i = 0; i < 3; ++i) Put32(h + headerSize + 4 * i, masks[i]);
  }
  uint8_t* t = h + headerSize + maskBytes;
  for (const TRGBQuad& q : table) {
    t[0] = q.rgbBlue, t[1] = q.rgbGreen, t[2] = q.rgbRed, t[3] = 0;
    t += 4;
  }
  return l;
}

// BMP alpha is straight: premultiplied pixels are divided back out.
void Unpremultiply(uint8_t* row, int width) {
  for (int x = 0; x < width; ++x, row += 4) {
    const unsigned a = row[3];
    if (a == 0 || a == 255) continue;
    for (int c = 0; c < 3; ++c) row[c] = uint8_t(std::min(255u, (row[c] * 255u + a / 2) / a));
  }
}

// Hands the rows, bottom row first, to `sink` with their padding zeroed.
template <class Sink>
void EmitRows(const TBitmap& bitmap, const TBmpLayout& l, Sink&& sink) {
  std::vector<uint8_t> row(l.Stride, 0);
  const size_t used = std::min<size_t>(l.Stride, size_t(bitmap.BytesPerRow()));
  for (int y = bitmap.Height() - 1; y >= 0; --y) {
    std::memcpy(row.data(), bitmap.GetScanline(y), used);
    if (l.Premultiplied) Unpremultiply(row.data(), bitmap.Width());
    sink(row.data(), row.size());
  }
}

void CheckWritable(const TBitmap& bitmap, const TBmpLayout& l) {
  if (bitmap.Empty()) throw EInvalidGraphicOperation("Impossible d'enregistrer une image vide");
  if (l.PixelBytes + l.Header.size() + kFileHeaderSize > std::numeric_limits<uint32_t>::max())
    throw EInvalidGraphicOperation("Image trop grande pour le format BMP");
}

}  // namespace

void WriteBmpStream(TStream& stream, const TBitmap& bitmap) {
  const TBmpLayout l = LayoutOf(bitmap);
  CheckWritable(bitmap, l);
  uint8_t file[kFileHeaderSize] = {};
  const uint32_t offBits = uint32_t(kFileHeaderSize + l.Header.size());
  Put16(file, kSignature);
  Put32(file + 2, uint32_t(offBits + l.PixelBytes));
  Put32(file + 10, offBits);
  stream.WriteBuffer(file, sizeof file);
  stream.WriteBuffer(l.Header.data(), int64_t(l.Header.size()));
  EmitRows(bitmap, l, [&](const uint8_t* p, size_t n) { stream.WriteBuffer(p, int64_t(n)); });
}

std::vector<uint8_t> MakePackedDib(const TBitmap& bitmap) {
  const TBmpLayout l = LayoutOf(bitmap);
  CheckWritable(bitmap, l);
  std::vector<uint8_t> dib(l.Header);
  dib.reserve(l.Header.size() + l.PixelBytes);
  EmitRows(bitmap, l, [&](const uint8_t* p, size_t n) { dib.insert(dib.end(), p, p + n); });
  return dib;
}
