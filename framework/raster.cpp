// Block transfers between pixel buffers: nearest-neighbour stretching, raster operations,
// fills and masked copies.
#include <algorithm>
#include <cstring>

#include "pixel_codec.h"

using namespace pixelcodec;

namespace {

// One axis of a transfer: for each destination index inside the destination buffer, the
// source index it takes (or -1 when that falls outside the source buffer).
struct TAxisMap {
  int DstStart = 0;         // first destination index drawn
  std::vector<int> Source;  // one entry per drawn destination index
};

TAxisMap MapAxis(int dPos, int dLen, int sPos, int sLen, int dLimit, int sLimit) {
  bool mirror = false;
  if (dLen < 0) {
    dPos += dLen;
    dLen = -dLen;
    mirror = !mirror;
  }
  if (sLen < 0) {
    sPos += sLen;
    sLen = -sLen;
    mirror = !mirror;
  }
  TAxisMap map;
  if (dLen == 0 || sLen == 0) return map;
  int first = std::max(0, -dPos);
  int last = std::min(dLen, dLimit - dPos);  // exclusive
  if (last <= first) return map;
  map.DstStart = dPos + first;
  map.Source.resize(size_t(last - first));
  for (int i = first; i < last; ++i) {
    int j = int(int64_t(i) * sLen / dLen);
    if (mirror) j = sLen - 1 - j;
    int s = sPos + j;
    map.Source[size_t(i - first)] = (s >= 0 && s < sLimit) ? s : -1;
  }
  return map;
}

uint32_t ApplyRop(TRasterOp rop, uint32_t d, uint32_t s, uint32_t mask) {
  switch (rop) {
    case ropSrcCopy:
      return s;
    case ropSrcAnd:
      return d & s;
    case ropSrcPaint:
      return d | s;
    case ropSrcInvert:
      return d ^ s;
    case ropNotSrcCopy:
      return ~s & mask;
    case ropDstInvert:
      return ~d & mask;
    case ropBlackness:
      return 0;
    case ropWhiteness:
      return mask;
  }
  return s;
}

uint32_t RawMask(int bitCount) {
  switch (bitCount) {
    case 1:
      return 1;
    case 4:
      return 0xF;
    case 8:
      return 0xFF;
    case 15:
    case 16:
      return 0xFFFF;
    case 24:
      return 0xFFFFFF;
    default:
      return 0xFFFFFFFF;
  }
}

// Fetches the mapped source pixels of one row as colours.
void FetchRow(const TPixelView& src, int sy, const std::vector<int>& cols, const Bgra* lut,
              const TBltColors& colors, Bgra* out) {
  const uint8_t* row = src.Row(sy);
  size_t n = cols.size();
  switch (src.BitCount) {
    case 24:
      for (size_t i = 0; i < n; ++i) {
        int x = cols[i];
        if (x < 0) continue;
        const uint8_t* p = row + 3 * x;
        out[i] = Bgra(p[0]) | (Bgra(p[1]) << 8) | (Bgra(p[2]) << 16);
      }
      break;
    case 32:
      for (size_t i = 0; i < n; ++i) {
        int x = cols[i];
        if (x < 0) continue;
        std::memcpy(&out[i], row + 4 * x, 4);
      }
      break;
    default:
      for (size_t i = 0; i < n; ++i) {
        int x = cols[i];
        if (x < 0) continue;
        uint32_t raw = ReadRaw(row, x, src.BitCount);
        out[i] = lut ? lut[raw] : RawToBgra(raw, src, colors);
      }
      break;
  }
}

void StoreRow(const TPixelView& dst, int dy, int dx0, const std::vector<int>& cols, const Bgra* in,
              TRasterOp rop, TColorMatcher& matcher) {
  uint8_t* row = dst.Row(dy);
  size_t n = cols.size();
  if (rop == ropSrcCopy && dst.BitCount == 24) {
    uint8_t* p = row + 3 * dx0;
    for (size_t i = 0; i < n; ++i, p += 3) {
      if (cols[i] < 0) continue;
      Bgra c = in[i];
      p[0] = uint8_t(c);
      p[1] = uint8_t(c >> 8);
      p[2] = uint8_t(c >> 16);
    }
    return;
  }
  if (rop == ropSrcCopy && dst.BitCount == 32) {
    uint8_t* p = row + 4 * dx0;
    for (size_t i = 0; i < n; ++i, p += 4)
      if (cols[i] >= 0) std::memcpy(p, &in[i], 4);
    return;
  }
  uint32_t mask = RawMask(dst.BitCount);
  for (size_t i = 0; i < n; ++i) {
    if (cols[i] < 0) continue;
    int x = dx0 + int(i);
    uint32_t s = matcher.ToRaw(in[i]);
    uint32_t d = rop == ropSrcCopy ? 0 : ReadRaw(row, x, dst.BitCount);
    WriteRaw(row, x, dst.BitCount, ApplyRop(rop, d, s, mask));
  }
}

// Colours of every raw value of an indexed or 16-bit source, computed once per transfer.
std::vector<Bgra> MakeSourceLut(const TPixelView& src, const TBltColors& colors) {
  if (src.BitCount > 8) return {};
  std::vector<Bgra> lut(size_t(1) << src.BitCount);
  for (uint32_t i = 0; i < lut.size(); ++i) lut[i] = RawToBgra(i, src, colors);
  return lut;
}

// Unscaled copies between the true-colour formats go row by row without the colour
// round trip: format changes of whole photographs and plain BitBlts take this path.
bool IsUnscaled(const std::vector<int>& map) {
  return !map.empty() && map.front() >= 0 && map.back() - map.front() == int(map.size()) - 1 &&
         map.back() >= map.front();
}

void Copy32To24(const uint8_t* s, uint8_t* d, size_t n) {
  if (n == 0) return;
  // Four-byte stores overlapping by one: the spare byte is overwritten by the next pixel.
  for (size_t i = 0; i + 1 < n; ++i, s += 4, d += 3) std::memcpy(d, s, 4);
  d[0] = s[0], d[1] = s[1], d[2] = s[2];
}

void Copy24To32(const uint8_t* s, uint8_t* d, size_t n) {
  for (size_t i = 0; i < n; ++i, s += 3, d += 4) d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = 0;
}

bool DirectRows(const TPixelView& dst, const TPixelView& src, const TAxisMap& cols,
                const TAxisMap& rows) {
  const int sb = src.BitCount, db = dst.BitCount;
  const bool same = sb == db && sb >= 15;
  if (!same && !((sb == 32 && db == 24) || (sb == 24 && db == 32))) return false;
  if (!IsUnscaled(cols.Source)) return false;
  const size_t n = cols.Source.size();
  const int sbytes = sb == 15 ? 2 : sb / 8, dbytes = db == 15 ? 2 : db / 8;
  for (size_t j = 0; j < rows.Source.size(); ++j) {
    const int sy = rows.Source[j];
    if (sy < 0) continue;
    const uint8_t* s = src.Row(sy) + ptrdiff_t(cols.Source.front()) * sbytes;
    uint8_t* d = dst.Row(rows.DstStart + int(j)) + ptrdiff_t(cols.DstStart) * dbytes;
    if (same)
      std::memmove(d, s, n * sbytes);
    else if (sb == 32)
      Copy32To24(s, d, n);
    else
      Copy24To32(s, d, n);
  }
  return true;
}

}  // namespace

void StretchBlt(const TPixelView& dst, const TRect& dstRect, const TPixelView& src,
                const TRect& srcRect, TRasterOp rop, TBltColors colors) {
  if (!dst.Valid()) return;
  bool needsSource = rop != ropDstInvert && rop != ropBlackness && rop != ropWhiteness;
  if (needsSource && !src.Valid()) return;
  const TPixelView& from = needsSource ? src : dst;
  TAxisMap cols =
      MapAxis(dstRect.Left, dstRect.Width(), srcRect.Left, srcRect.Width(), dst.Width, from.Width);
  TAxisMap rows = MapAxis(dstRect.Top, dstRect.Height(), srcRect.Top, srcRect.Height(), dst.Height,
                          from.Height);
  if (cols.Source.empty() || rows.Source.empty()) return;
  if (!needsSource) {  // pretend every pixel has a source so the rop reaches it
    std::fill(cols.Source.begin(), cols.Source.end(), 0);
    std::fill(rows.Source.begin(), rows.Source.end(), 0);
  }
  if (needsSource && rop == ropSrcCopy && DirectRows(dst, src, cols, rows)) return;
  std::vector<Bgra> lut = needsSource ? MakeSourceLut(src, colors) : std::vector<Bgra>{};
  std::vector<Bgra> line(cols.Source.size(), 0);
  TColorMatcher matcher(dst, colors);
  int lastSy = -2;
  for (size_t j = 0; j < rows.Source.size(); ++j) {
    int sy = rows.Source[j];
    if (sy < 0) continue;
    if (needsSource && sy != lastSy) {
      FetchRow(src, sy, cols.Source, lut.empty() ? nullptr : lut.data(), colors, line.data());
      lastSy = sy;
    }
    StoreRow(dst, rows.DstStart + int(j), cols.DstStart, cols.Source, line.data(), rop, matcher);
  }
}

void BitBlt(const TPixelView& dst, int dx, int dy, const TPixelView& src, const TRect& srcRect,
            TRasterOp rop, TBltColors colors) {
  StretchBlt(dst, TRect{dx, dy, dx + srcRect.Width(), dy + srcRect.Height()}, src, srcRect, rop,
             colors);
}

void FillPixels(const TPixelView& dst, const TRect& rect, TColor color) {
  if (!dst.Valid()) return;
  TRect r = IntersectRect(rect.Normalized(), TRect{0, 0, dst.Width, dst.Height});
  if (r.IsEmpty()) return;
  TColorMatcher matcher(dst, TBltColors{});
  uint32_t raw = matcher.ToRaw(BgraOfColor(color));
  if (dst.BitCount == 24 || dst.BitCount == 32) {
    // One row is built pixel by pixel; the others are copies of its bytes.
    const size_t bytes = size_t(dst.BitCount / 8);
    const size_t span = size_t(r.Width()) * bytes;
    const uint8_t pixel[4] = {uint8_t(raw), uint8_t(raw >> 8), uint8_t(raw >> 16),
                              uint8_t(raw >> 24)};
    uint8_t* first = dst.Row(r.Top) + size_t(r.Left) * bytes;
    for (size_t i = 0; i < span; i += bytes) std::memcpy(first + i, pixel, bytes);
    for (int y = r.Top + 1; y < r.Bottom; ++y)
      std::memcpy(dst.Row(y) + size_t(r.Left) * bytes, first, span);
    return;
  }
  for (int y = r.Top; y < r.Bottom; ++y) {
    uint8_t* row = dst.Row(y);
    if (dst.BitCount == 8) {
      std::memset(row + r.Left, int(raw), size_t(r.Width()));
      continue;
    }
    for (int x = r.Left; x < r.Right; ++x) WriteRaw(row, x, dst.BitCount, raw);
  }
}

void StretchMaskedCopy(const TPixelView& dst, const TRect& dstRect, const TPixelView& src,
                       const TRect& srcRect, const TPixelView& mask) {
  if (!dst.Valid() || !src.Valid() || !mask.Valid()) return;
  TAxisMap cols = MapAxis(dstRect.Left, dstRect.Width(), srcRect.Left, srcRect.Width(), dst.Width,
                          std::min(src.Width, mask.Width));
  TAxisMap rows = MapAxis(dstRect.Top, dstRect.Height(), srcRect.Top, srcRect.Height(), dst.Height,
                          std::min(src.Height, mask.Height));
  if (cols.Source.empty() || rows.Source.empty()) return;
  std::vector<Bgra> lut = MakeSourceLut(src, TBltColors{});
  std::vector<Bgra> line(cols.Source.size(), 0);
  std::vector<int> visible(cols.Source.size());
  TColorMatcher matcher(dst, TBltColors{});
  for (size_t j = 0; j < rows.Source.size(); ++j) {
    int sy = rows.Source[j];
    if (sy < 0) continue;
    const uint8_t* maskRow = mask.Row(sy);
    for (size_t i = 0; i < visible.size(); ++i) {
      int sx = cols.Source[i];
      visible[i] = (sx >= 0 && ReadRaw(maskRow, sx, mask.BitCount) == 0) ? sx : -1;
    }
    FetchRow(src, sy, visible, lut.empty() ? nullptr : lut.data(), TBltColors{}, line.data());
    StoreRow(dst, rows.DstStart + int(j), cols.DstStart, visible, line.data(), ropSrcCopy, matcher);
  }
}
