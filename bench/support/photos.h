// Test photographs for the workspace benchmarks, written to BMP files.
#pragma once

#include <string>

#include "framework.h"

// A 24-bit photo with detail everywhere (gradients and a xor pattern), so that no
// shortcut for flat colour applies.
inline void WriteDetailedPhoto(const std::string& path, int width, int height) {
  TBitmap photo;
  photo.SetPixelFormat(pf24bit);
  photo.SetSize(width, height);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = photo.GetScanline(y);
    for (int x = 0; x < width; ++x) {
      row[3 * x] = uint8_t(x * 7 + y);
      row[3 * x + 1] = uint8_t(y * 3);
      row[3 * x + 2] = uint8_t(x ^ y);
    }
  }
  photo.SaveToFile(path);
}
