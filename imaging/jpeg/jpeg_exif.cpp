// Reading the Exif orientation: a walk over the JPEG markers up to the first scan, then
// the TIFF structure inside the first APP1 "Exif" segment, down to the Orientation entry
// of its first IFD. The bytes are untrusted: every length and offset is checked against
// the segment before it is used, and anything malformed means "normal", never an error,
// since a picture with broken Exif data is still a picture.
#include <cstring>

#include "jpeg.h"

namespace {

constexpr uint8_t kMarkerSOI = 0xD8;
constexpr uint8_t kMarkerEOI = 0xD9;
constexpr uint8_t kMarkerSOS = 0xDA;
constexpr uint8_t kMarkerAPP1 = 0xE1;
constexpr uint8_t kMarkerTEM = 0x01;
constexpr uint8_t kMarkerRST0 = 0xD0;
constexpr uint8_t kMarkerRST7 = 0xD7;

constexpr char kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr uint16_t kTiffMagic = 42;
constexpr uint16_t kTagOrientation = 0x0112;
constexpr uint16_t kTypeShort = 3;
constexpr size_t kIfdEntrySize = 12;

// Reads integers of the TIFF block's byte order; false when they would lie past its end.
struct TTiffReader {
  const uint8_t* Data;
  size_t Size;
  bool BigEndian;

  bool Fits(size_t at, size_t count) const { return at <= Size && count <= Size - at; }
  bool U16(size_t at, uint16_t& value) const {
    if (!Fits(at, 2)) return false;
    const uint8_t* p = Data + at;
    value = BigEndian ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
    return true;
  }
  bool U32(size_t at, uint32_t& value) const {
    if (!Fits(at, 4)) return false;
    const uint8_t* p = Data + at;
    value = BigEndian ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                      : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    return true;
  }
};

TExifOrientation AsOrientation(uint32_t value) {
  return value >= eoNormal && value <= eoQuarterLeft ? TExifOrientation(value) : eoNormal;
}

// The Orientation entry of the first IFD. Only that IFD is read: the next one in the chain
// describes the thumbnail, whose orientation is not the picture's, so the chain (and any
// loop in it) is never followed.
TExifOrientation OrientationFromTiff(const uint8_t* tiff, size_t size) {
  if (size < 8) return eoNormal;
  TTiffReader r{tiff, size, false};
  if (tiff[0] == 'M' && tiff[1] == 'M')
    r.BigEndian = true;
  else if (tiff[0] != 'I' || tiff[1] != 'I')
    return eoNormal;
  uint16_t magic = 0;
  uint32_t ifd = 0;
  uint16_t count = 0;
  if (!r.U16(2, magic) || magic != kTiffMagic || !r.U32(4, ifd) || !r.U16(ifd, count))
    return eoNormal;
  for (size_t i = 0; i < count; ++i) {
    const size_t entry = size_t(ifd) + 2 + i * kIfdEntrySize;
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t values = 0;
    uint16_t value = 0;
    if (!r.Fits(entry, kIfdEntrySize)) return eoNormal;  // the count runs past the segment
    r.U16(entry, tag);
    if (tag != kTagOrientation) continue;
    r.U16(entry + 2, type);
    r.U32(entry + 4, values);
    // A SHORT, held in the entry itself (the first one counts if a writer gave more).
    if (type != kTypeShort || values < 1) return eoNormal;
    r.U16(entry + 8, value);
    return AsOrientation(value);
  }
  return eoNormal;
}

bool IsStandalone(uint8_t marker) {
  return marker == kMarkerTEM || (marker >= kMarkerRST0 && marker <= kMarkerRST7);
}

}  // namespace

TExifOrientation JpegExifOrientation(const uint8_t* data, size_t size) {
  if (data == nullptr || size < 4 || data[0] != 0xFF || data[1] != kMarkerSOI) return eoNormal;
  size_t pos = 2;
  while (pos < size) {
    if (data[pos] != 0xFF) return eoNormal;         // not at a marker: the header is damaged
    while (pos < size && data[pos] == 0xFF) ++pos;  // fill bytes
    if (pos >= size) return eoNormal;
    const uint8_t marker = data[pos++];
    if (marker == kMarkerSOS || marker == kMarkerEOI || marker == 0) return eoNormal;
    if (IsStandalone(marker)) continue;
    if (size - pos < 2) return eoNormal;
    const size_t length = size_t(data[pos]) << 8 | data[pos + 1];
    // A segment that claims more than the file holds is damaged; so is one shorter than
    // its own length field.
    if (length < 2 || length > size - pos) return eoNormal;
    const uint8_t* body = data + pos + 2;
    const size_t bodySize = length - 2;
    if (marker == kMarkerAPP1 && bodySize >= sizeof kExifHeader &&
        std::memcmp(body, kExifHeader, sizeof kExifHeader) == 0)
      return OrientationFromTiff(body + sizeof kExifHeader, bodySize - sizeof kExifHeader);
    pos += length;
  }
  return eoNormal;
}

TExifOrientation ExifOrientation(const TJPEGImage& image) {
  const TMemoryStream* data = image.JPEGData().Data();
  if (data == nullptr) return eoNormal;
  // Size() is a query; the stream interface only lacks the const on it.
  const int64_t size = const_cast<TMemoryStream*>(data)->Size();
  return JpegExifOrientation(data->Memory(), size_t(size));
}
