// Reverse of the five PNG row filters. Sub, Average and Paeth depend on the byte one pixel
// to the left, so they are specialised on the pixel width: with a constant width the
// compiler keeps the left pixel in registers.
#include <cstdlib>

#include "png_decode_internal.h"

namespace {

inline uint8_t Paeth(int a, int b, int c) {
  const int p = b - c;  // p - a
  const int q = a - c;  // p - b
  const int pa = std::abs(p);
  const int pb = std::abs(q);
  const int pc = std::abs(p + q);  // p - c
  if (pa <= pb && pa <= pc) return uint8_t(a);
  return uint8_t(pb <= pc ? b : c);
}

template <size_t Bpp>
void UnfilterSub(uint8_t* d, size_t n, size_t bpp) {
  const size_t step = Bpp ? Bpp : bpp;
  for (size_t i = step; i < n; ++i) d[i] = uint8_t(d[i] + d[i - step]);
}

void UnfilterUp(uint8_t* d, const uint8_t* up, size_t n) {
  for (size_t i = 0; i < n; ++i) d[i] = uint8_t(d[i] + up[i]);
}

template <size_t Bpp>
void UnfilterAverage(uint8_t* d, const uint8_t* up, size_t n, size_t bpp) {
  const size_t step = Bpp ? Bpp : bpp;
  const size_t first = step < n ? step : n;
  for (size_t i = 0; i < first; ++i) d[i] = uint8_t(d[i] + (up[i] >> 1));
  for (size_t i = step; i < n; ++i) d[i] = uint8_t(d[i] + ((d[i - step] + up[i]) >> 1));
}

template <size_t Bpp>
void UnfilterPaeth(uint8_t* d, const uint8_t* up, size_t n, size_t bpp) {
  const size_t step = Bpp ? Bpp : bpp;
  const size_t first = step < n ? step : n;
  for (size_t i = 0; i < first; ++i) d[i] = uint8_t(d[i] + up[i]);
  for (size_t i = step; i < n; ++i) d[i] = uint8_t(d[i] + Paeth(d[i - step], up[i], up[i - step]));
}

template <size_t Bpp>
void Unfilter(int type, uint8_t* d, const uint8_t* up, size_t n, size_t bpp) {
  switch (type) {
    case 1:
      UnfilterSub<Bpp>(d, n, bpp);
      break;
    case 2:
      UnfilterUp(d, up, n);
      break;
    case 3:
      UnfilterAverage<Bpp>(d, up, n, bpp);
      break;
    case 4:
      UnfilterPaeth<Bpp>(d, up, n, bpp);
      break;
    default:
      break;  // 0: nothing to do; unknown types are left as they are
  }
}

}  // namespace

void UnfilterPngRow(uint8_t* row, const uint8_t* prior, size_t rowBytes, size_t offset) {
  const int type = row[0];
  uint8_t* d = row + 1;
  const uint8_t* up = prior + 1;
  switch (offset) {
    case 1:
      Unfilter<1>(type, d, up, rowBytes, 1);
      break;
    case 3:
      Unfilter<3>(type, d, up, rowBytes, 3);
      break;
    case 4:
      Unfilter<4>(type, d, up, rowBytes, 4);
      break;
    default:
      Unfilter<0>(type, d, up, rowBytes, offset);
      break;
  }
}
