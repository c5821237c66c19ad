// Helpers shared by the framework tests: test picture paths and small bitmap builders.
#pragma once

#include <string>
#include <vector>

#include "file_bytes.h"
#include "framework.h"
#include "testdata.h"

inline std::string TestData(const std::string& relative) {
  return vitrelle_test::TestDataPath(relative);
}

using vitrelle_test::ReadFileBytes;

// Loads BMP bytes into a fresh bitmap.
inline void LoadBmpBytes(const std::vector<uint8_t>& bytes, TBitmap& bmp) {
  TReadOnlyMemoryStream s(bytes.data(), bytes.size());
  bmp.LoadFromStream(s);
}

inline std::vector<uint8_t> SaveBmpBytes(TBitmap& bmp) {
  TMemoryStream s;
  bmp.SaveToStream(s);
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

// A bitmap of the given format whose pixels follow a repeatable pattern.
inline void FillPattern(TBitmap& bmp, int seed = 1) {
  uint32_t state = uint32_t(seed) * 2654435761u;
  for (int y = 0; y < bmp.Height(); ++y) {
    uint8_t* row = bmp.GetScanline(y);
    for (int i = 0; i < bmp.BytesPerRow(); ++i) {
      state = state * 1103515245u + 12345u;
      row[i] = uint8_t(state >> 16);
    }
  }
}

inline std::string Hex(TColor c) {
  char buf[16];
  snprintf(buf, sizeof buf, "%06X", unsigned(c));
  return buf;
}
