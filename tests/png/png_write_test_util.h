// Helpers of the PNG writing and drawing tests: an independent decoder (libpng) to check
// written files, a chunk walker and small picture builders.
#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <png.h>
#include <zlib.h>

#include "framework.h"
#include "libpng_oracle.h"
#include "pngimage.h"
#include "testdata.h"

namespace pngw {

inline std::string TestFile(const std::string& relative) {
  return vitrelle_test::TestDataPath(relative);
}

inline std::vector<uint8_t> StreamBytes(TMemoryStream& stream) {
  return std::vector<uint8_t>(stream.Memory(), stream.Memory() + stream.Size());
}

inline std::vector<uint8_t> SaveToBytes(TPngImage& image) {
  TMemoryStream stream;
  image.SaveToStream(stream);
  return StreamBytes(stream);
}

inline void LoadFromBytes(TPngImage& image, const std::vector<uint8_t>& bytes) {
  TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
  image.LoadFromStream(stream);
}

struct TChunkRecord {
  std::string Name;
  std::vector<uint8_t> Data;
  bool CrcOk = false;
};

// The chunks of a PNG file in order (the signature is checked, not returned).
inline std::vector<TChunkRecord> ParseChunks(const std::vector<uint8_t>& file) {
  static const uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  std::vector<TChunkRecord> chunks;
  if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0) return chunks;
  size_t pos = 8;
  while (pos + 12 <= file.size()) {
    const uint32_t length = vitrelle_test::BigEndian32(&file[pos]);
    if (pos + 12 + size_t(length) > file.size()) break;
    TChunkRecord c;
    c.Name.assign(reinterpret_cast<const char*>(&file[pos + 4]), 4);
    c.Data.assign(file.begin() + long(pos + 8), file.begin() + long(pos + 8 + length));
    const uLong crc = crc32(0L, &file[pos + 4], uInt(length + 4));
    c.CrcOk = crc == vitrelle_test::BigEndian32(&file[pos + 8 + length]);
    chunks.push_back(std::move(c));
    pos += 12 + size_t(length);
  }
  return chunks;
}

inline std::vector<std::string> ChunkNames(const std::vector<TChunkRecord>& chunks) {
  std::vector<std::string> names;
  for (const auto& c : chunks) names.push_back(c.Name);
  return names;
}

// The file with every chunk of that name left out.
inline std::vector<uint8_t> WithoutChunk(const std::vector<uint8_t>& file, const char* name) {
  std::vector<uint8_t> out(file.begin(), file.begin() + 8);
  size_t pos = 8;
  while (pos + 12 <= file.size()) {
    const size_t end = pos + 12 + vitrelle_test::BigEndian32(&file[pos]);
    if (end > file.size()) break;
    if (std::memcmp(&file[pos + 4], name, 4) != 0)
      out.insert(out.end(), file.begin() + long(pos), file.begin() + long(end));
    pos = end;
  }
  return out;
}

using vitrelle_test::ReadFileBytes;

// The inflated image data of all IDAT chunks.
inline std::vector<uint8_t> InflateIdat(const std::vector<TChunkRecord>& chunks) {
  std::vector<uint8_t> compressed;
  for (const auto& c : chunks)
    if (c.Name == "IDAT") compressed.insert(compressed.end(), c.Data.begin(), c.Data.end());
  std::vector<uint8_t> out(1 << 16);
  z_stream z{};
  inflateInit(&z);
  z.next_in = compressed.data();
  z.avail_in = uInt(compressed.size());
  size_t produced = 0;
  int result = Z_OK;
  while (result == Z_OK) {
    if (produced == out.size()) out.resize(out.size() * 2);
    z.next_out = out.data() + produced;
    z.avail_out = uInt(out.size() - produced);
    result = inflate(&z, Z_NO_FLUSH);
    produced = out.size() - z.avail_out;
  }
  inflateEnd(&z);
  out.resize(result == Z_STREAM_END ? produced : 0);
  return out;
}

// A picture as libpng reads it: RGBA after expansion (palette, low bit depths, tRNS to
// alpha, grey to RGB), 16-bit samples cut to their high byte unless keep16, no gamma.
using TOracleImage = vitrelle_test::TLibpngImage;
inline TOracleImage DecodeWithLibpng(const std::vector<uint8_t>& bytes, bool keep16 = false) {
  return vitrelle_test::DecodeWithLibpng(bytes, vitrelle_test::TLibpngOptions{keep16, true, 0});
}

// A bitmap whose pixel (x, y) has the colour colorOf(x, y).
template <class F>
std::unique_ptr<TBitmap> MakeBitmap24(int width, int height, F colorOf) {
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->SetPixelFormat(pf24bit);
  bitmap->SetSize(width, height);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bitmap->GetScanline(y);
    for (int x = 0; x < width; ++x) {
      const TColor c = colorOf(x, y);
      row[3 * x] = GetBValue(c);
      row[3 * x + 1] = GetGValue(c);
      row[3 * x + 2] = GetRValue(c);
    }
  }
  return bitmap;
}

// A mixture of smooth and noisy areas, so that every filter has something to do.
inline TColor TestPattern(int x, int y) {
  uint32_t h = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u;
  h ^= h >> 13;
  if ((x / 16 + y / 16) % 2 == 0)
    return RGBColor(uint8_t(x * 3 + y), uint8_t(y * 5), uint8_t(x ^ y));
  return RGBColor(uint8_t(h), uint8_t(h >> 8), uint8_t(h >> 16));
}

}  // namespace pngw
