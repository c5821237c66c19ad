// Exif segments written byte by byte after the TIFF layout, for tests: a TIFF block with
// one IFD, an APP1 "Exif" segment holding it, and spliced into a JPEG file after its SOI.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace exif {

using Bytes = std::vector<uint8_t>;

struct Entry {
  uint16_t Tag = 0x0112;
  uint16_t Type = 3;  // SHORT
  uint32_t Count = 1;
  uint32_t Value = 1;  // a SHORT sits in the first two bytes of the field
};

inline void Put16(Bytes& out, uint16_t v, bool big) {
  if (big) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
  } else {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
  }
}

inline void Put32(Bytes& out, uint32_t v, bool big) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (big ? 24 - 8 * i : 8 * i)));
}

// "II" or "MM", 42, the first IFD at ifdOffset (8: right after the header), its entries,
// then the offset of the next IFD.
inline Bytes Tiff(const std::vector<Entry>& entries, bool big = false, uint32_t next = 0,
                  uint32_t ifdOffset = 8, int claimedCount = -1) {
  Bytes out = big ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
  Put16(out, 42, big);
  Put32(out, ifdOffset, big);
  while (out.size() < ifdOffset && ifdOffset < 64) out.push_back(0);
  Put16(out, uint16_t(claimedCount >= 0 ? claimedCount : int(entries.size())), big);
  for (const Entry& e : entries) {
    Put16(out, e.Tag, big);
    Put16(out, e.Type, big);
    Put32(out, e.Count, big);
    if (e.Type == 3) {
      Put16(out, uint16_t(e.Value), big);
      Put16(out, 0, big);
    } else {
      Put32(out, e.Value, big);
    }
  }
  Put32(out, next, big);
  return out;
}

inline Bytes Orientation(int value, bool big = false) {
  return Tiff({Entry{0x010F, 2, 4, 0x006D6163}, Entry{0x0112, 3, 1, uint32_t(value)}}, big);
}

// FF E1, the length (counting itself), "Exif\0\0", the TIFF block.
inline Bytes App1(const Bytes& tiff, int claimedLength = -1) {
  const size_t length = claimedLength >= 0 ? size_t(claimedLength) : tiff.size() + 8;
  // Sized once and filled in place: GCC 12 at -O3 misreads growing inserts into a small
  // initialised vector as out-of-bounds copies.
  const uint8_t head[] = {0xFF, 0xE1, uint8_t(length >> 8), uint8_t(length), 'E', 'x', 'i', 'f',
                          0,    0};
  Bytes out(sizeof head + tiff.size());
  std::copy(std::begin(head), std::end(head), out.begin());
  std::copy(tiff.begin(), tiff.end(), out.begin() + sizeof head);
  return out;
}

// The JPEG file with the segments inserted right after its SOI marker.
inline Bytes Splice(const Bytes& jpeg, const Bytes& segments) {
  Bytes out(jpeg.size() + segments.size());
  auto at = std::copy(jpeg.begin(), jpeg.begin() + 2, out.begin());
  at = std::copy(segments.begin(), segments.end(), at);
  std::copy(jpeg.begin() + 2, jpeg.end(), at);
  return out;
}

}  // namespace exif
