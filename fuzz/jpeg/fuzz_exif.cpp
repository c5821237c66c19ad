// Reads the Exif orientation of arbitrary bytes: bytes that start like a JPEG file are read
// as one, any others as the TIFF block of an APP1 "Exif" segment in a minimal file (so that
// the fuzzer reaches the TIFF structure at once). The answer must be one of the eight
// values, never a crash or an over-read; a small bitmap shaped by the last byte is then
// turned by it.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "jpeg.h"

namespace {

std::vector<uint8_t> AsExifSegment(const uint8_t* data, size_t size) {
  const size_t length = 2 + 6 + size;  // the length field counts itself
  std::vector<uint8_t> file = {
      0xFF, 0xD8, 0xFF, 0xE1, uint8_t(length >> 8), uint8_t(length), 'E', 'x', 'i', 'f', 0, 0};
  file.insert(file.end(), data, data + size);
  file.insert(file.end(), {0xFF, 0xD9});
  return file;
}

void Turn(TExifOrientation orientation, uint8_t shape) {
  TBitmap source;
  const TPixelFormat formats[] = {pf8bit, pf24bit, pf32bit, pf4bit};
  source.SetPixelFormat(formats[shape & 3]);
  source.SetSize(1 + (shape >> 2 & 7), 1 + (shape >> 5));
  std::unique_ptr<TBitmap> turned = OrientedBitmap(source, orientation);
  const bool swaps = orientation >= eoTransposed;
  if (turned->Width() != (swaps ? source.Height() : source.Width())) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  TExifOrientation orientation = eoNormal;
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xD8) {
    orientation = JpegExifOrientation(data, size);
  } else {
    // An APP1 segment holds at most 65535 - 8 bytes after its length and header.
    const std::vector<uint8_t> file = AsExifSegment(data, std::min<size_t>(size, 65535 - 8));
    orientation = JpegExifOrientation(file.data(), file.size());
  }
  if (orientation < eoNormal || orientation > eoQuarterLeft) std::abort();
  Turn(orientation, data[size - 1]);
  return 0;
}
