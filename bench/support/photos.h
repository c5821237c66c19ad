// Test photographs for the benchmarks: made in memory or written to BMP files.
#pragma once

#include <algorithm>
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

// A camera-like 24-bit photograph of any size: `source` (a real photograph, for instance
// the shared harvesters picture) enlarged with bilinear interpolation, plus the fine grain
// of a sensor, so that the compressed data is as busy as a real camera file's. Without a
// source, smooth gradients stand in for the scene.
inline void MakeCameraPhoto(TBitmap& photo, int width, int height, const TBitmap* source) {
  photo.SetPixelFormat(pf24bit);
  photo.SetSize(width, height);
  uint32_t seed = 2024;
  auto grain = [&seed] {  // roughly Gaussian, sigma about 4 levels
    seed = seed * 1664525u + 1013904223u;
    return int((seed >> 28) & 15) + int((seed >> 24) & 15) - 15;
  };
  const bool real = source && !source->Empty() && source->PixelFormat() == pf24bit;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = photo.GetScanline(y);
    const int64_t fy =
        real ? int64_t(y) * (source->Height() - 1) * 256 / std::max(height - 1, 1) : 0;
    const uint8_t* r0 = real ? source->GetScanline(int(fy >> 8)) : nullptr;
    const uint8_t* r1 =
        real ? source->GetScanline(std::min(int(fy >> 8) + 1, source->Height() - 1)) : nullptr;
    const int wy = int(fy & 255);
    for (int x = 0; x < width; ++x) {
      int bgr[3];
      if (real) {
        const int64_t fx = int64_t(x) * (source->Width() - 1) * 256 / std::max(width - 1, 1);
        const int sx = int(fx >> 8), sx1 = std::min(sx + 1, source->Width() - 1);
        const int wx = int(fx & 255);
        for (int c = 0; c < 3; ++c) {
          const int top = r0[3 * sx + c] * (256 - wx) + r0[3 * sx1 + c] * wx;
          const int bottom = r1[3 * sx + c] * (256 - wx) + r1[3 * sx1 + c] * wx;
          bgr[c] = (top * (256 - wy) + bottom * wy) >> 16;
        }
      } else {
        bgr[0] = x * 255 / width;
        bgr[1] = y * 255 / height;
        bgr[2] = ((x / 37 + y / 23) % 5) * 50;
      }
      const int g = grain();
      for (int c = 0; c < 3; ++c) row[3 * x + c] = uint8_t(std::clamp(bgr[c] + g, 0, 255));
    }
  }
}
