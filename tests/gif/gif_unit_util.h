// Small GIF streams built by hand for the unit tests: LZW codes packed at chosen widths,
// sub-blocks, and whole files around them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "GIFImg.h"

namespace giftest {

using Bytes = std::vector<uint8_t>;

// Codes packed least significant bit first, each at its own width.
inline Bytes PackCodes(const std::vector<std::pair<int, int>>& codes) {
  Bytes out;
  uint32_t bucket = 0;
  int bits = 0;
  for (auto [code, width] : codes) {
    bucket |= uint32_t(code) << bits;
    bits += width;
    while (bits >= 8) {
      out.push_back(uint8_t(bucket));
      bucket >>= 8;
      bits -= 8;
    }
  }
  if (bits > 0) out.push_back(uint8_t(bucket));
  return out;
}

// Data split into sub-blocks of at most 255 bytes, with the terminator unless cut.
inline Bytes SubBlocks(const Bytes& data, bool terminate = true) {
  Bytes out;
  for (size_t i = 0; i < data.size(); i += 255) {
    size_t n = std::min<size_t>(255, data.size() - i);
    out.push_back(uint8_t(n));
    out.insert(out.end(), data.begin() + ptrdiff_t(i), data.begin() + ptrdiff_t(i + n));
  }
  if (terminate) out.push_back(0);
  return out;
}

inline void Append(Bytes& a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
}

inline void Le16(Bytes& a, int v) {
  a.push_back(uint8_t(v));
  a.push_back(uint8_t(v >> 8));
}

// Header with a global table of 2^bits grey entries (bits 0: none).
inline Bytes Header(int width, int height, int bits, const char* sig = "GIF89a") {
  Bytes out(sig, sig + 6);
  Le16(out, width);
  Le16(out, height);
  out.push_back(bits > 0 ? uint8_t(0x80 | (bits - 1)) : 0);
  out.push_back(0);
  out.push_back(0);
  for (int i = 0; bits > 0 && i < (1 << bits); ++i)
    for (int c = 0; c < 3; ++c) out.push_back(uint8_t(i * 16));
  return out;
}

inline Bytes Gce(int transparentIndex, int delay = 0, int disposal = 0) {
  Bytes out{0x21, 0xF9, 4};
  out.push_back(uint8_t((disposal << 2) | (transparentIndex >= 0 ? 1 : 0)));
  Le16(out, delay);
  out.push_back(uint8_t(transparentIndex >= 0 ? transparentIndex : 0));
  out.push_back(0);
  return out;
}

inline Bytes Descriptor(int left, int top, int width, int height, bool interlaced = false) {
  Bytes out{','};
  Le16(out, left);
  Le16(out, top);
  Le16(out, width);
  Le16(out, height);
  out.push_back(interlaced ? 0x40 : 0);
  return out;
}

// Image data: the minimum code size byte and the packed codes as sub-blocks.
inline Bytes ImageData(int minCodeSize, const std::vector<std::pair<int, int>>& codes,
                       bool terminate = true) {
  Bytes out{uint8_t(minCodeSize)};
  Append(out, SubBlocks(PackCodes(codes), terminate));
  return out;
}

// Literal codes only (no table references) at the widths a decoder expects: one table
// entry is made per code after the first, and the width grows when the next free code
// reaches the next power of two.
inline std::vector<std::pair<int, int>> LiteralCodes(int minCodeSize,
                                                     const std::vector<int>& pixels,
                                                     bool endCode = true) {
  std::vector<std::pair<int, int>> codes;
  int clear = 1 << minCodeSize;
  codes.push_back({clear, minCodeSize + 1});
  int nextFree = clear + 2;
  auto width = [&] {
    int w = minCodeSize + 1;
    while (w < 12 && nextFree >= (1 << w)) ++w;
    return w;
  };
  for (size_t i = 0; i < pixels.size(); ++i) {
    codes.push_back({pixels[i], width()});
    if (i > 0 && nextFree < 4096) ++nextFree;
  }
  if (endCode) codes.push_back({clear + 1, width()});
  return codes;
}

struct TCollected {
  std::vector<std::string> Messages;
  TGIFWarning Handler() {
    return [this](const void*, TGIFSeverity, const std::string& m) { Messages.push_back(m); };
  }
  bool Has(const std::string& m) const {
    return std::find(Messages.begin(), Messages.end(), m) != Messages.end();
  }
};

inline void LoadBytes(TGIFImage& image, const Bytes& bytes) {
  TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
  image.LoadFromStream(stream);
}

inline std::vector<uint8_t> FramePixels(TGIFFrame& f) {
  return std::vector<uint8_t>(f.Data(), f.Data() + f.DataSize());
}

}  // namespace giftest
