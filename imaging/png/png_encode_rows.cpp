// Row encoders of the PNG writer: from the image buffers to PNG rows.
//
// Every 16-bit sample is written with the 8-bit value as its high byte and 0 as its low
// byte. Grey values and palette indices are written as stored: their gamma lives in the
// colour table. Colour samples go back through InverseGamma.
#include <cstring>

#include "png_encode_internal.h"

TPngRowEncoder::TPngRowEncoder(TPngImage& image, TChunkIHDR& header)
    : fHeader(header),
      fInverseGamma(image.InverseGamma.data()),
      fColorType(header.ColorType()),
      fBitDepth(header.BitDepth() == 2 ? 4 : header.BitDepth()),
      fBitsPerPixel(header.BitsPerPixel()),
      fWidth(header.Width()) {}

// Indexed pixels: the whole row is copied when it is taken whole, else each pixel's bit
// field is moved to its place in a zeroed row (first pixel in the high bits).
void TPngRowEncoder::EncodeIndexed(const uint8_t* pixels, uint32_t first, uint32_t step,
                                   uint32_t count, uint8_t* out) const {
  const int bits = fBitsPerPixel;
  const size_t rowBytes = PngRowBytes(COLOR_PALETTE, bits, count);
  if (first == 0 && step == 1) {
    std::memcpy(out, pixels, rowBytes);
    return;
  }
  if (bits == 8) {
    for (uint32_t k = 0; k < count; ++k) out[k] = pixels[first + size_t(k) * step];
    return;
  }
  std::memset(out, 0, rowBytes);
  const unsigned perByte = 8u / unsigned(bits);
  const unsigned mask = (1u << bits) - 1u;
  for (uint32_t k = 0; k < count; ++k) {
    const size_t x = first + size_t(k) * step;
    const unsigned shiftIn = unsigned(8 - bits) - unsigned(x % perByte) * unsigned(bits);
    const unsigned value = (pixels[x / perByte] >> shiftIn) & mask;
    const unsigned shiftOut = unsigned(8 - bits) - (k % perByte) * unsigned(bits);
    out[k / perByte] = uint8_t(out[k / perByte] | (value << shiftOut));
  }
}

void TPngRowEncoder::EncodeRow(uint32_t y, uint32_t first, uint32_t step, uint32_t count,
                               uint8_t* out) const {
  const uint8_t* pixels = fHeader.PixelRow(y);
  const uint8_t* alpha = fHeader.ImageAlpha();
  if (alpha != nullptr) alpha += size_t(y) * fWidth + first;
  const uint8_t* inv = fInverseGamma;
  switch (fColorType) {
    case COLOR_GRAYSCALE:
    case COLOR_PALETTE:
      if (fBitDepth == 16) {
        for (uint32_t k = 0; k < count; ++k, out += 2) {
          out[0] = pixels[first + size_t(k) * step];
          out[1] = 0;
        }
      } else {
        EncodeIndexed(pixels, first, step, count, out);
      }
      return;
    case COLOR_GRAYSCALEALPHA: {
      const uint8_t* p = pixels + first;
      if (fBitDepth == 16) {
        for (uint32_t k = 0; k < count; ++k, p += step, alpha += step, out += 4) {
          out[0] = *p;
          out[1] = 0;
          out[2] = *alpha;
          out[3] = 0;
        }
      } else {
        for (uint32_t k = 0; k < count; ++k, p += step, alpha += step, out += 2) {
          out[0] = *p;
          out[1] = *alpha;
        }
      }
      return;
    }
    case COLOR_RGB: {
      const uint8_t* p = pixels + 3 * size_t(first);
      const size_t advance = 3 * size_t(step);
      if (fBitDepth == 16) {
        for (uint32_t k = 0; k < count; ++k, p += advance, out += 6) {
          out[0] = inv[p[2]], out[1] = 0;
          out[2] = inv[p[1]], out[3] = 0;
          out[4] = inv[p[0]], out[5] = 0;
        }
      } else {
        for (uint32_t k = 0; k < count; ++k, p += advance, out += 3) {
          out[0] = inv[p[2]];
          out[1] = inv[p[1]];
          out[2] = inv[p[0]];
        }
      }
      return;
    }
    case COLOR_RGBALPHA: {
      const uint8_t* p = pixels + 3 * size_t(first);
      const size_t advance = 3 * size_t(step);
      if (fBitDepth == 16) {
        for (uint32_t k = 0; k < count; ++k, p += advance, alpha += step, out += 8) {
          out[0] = inv[p[2]], out[1] = 0;
          out[2] = inv[p[1]], out[3] = 0;
          out[4] = inv[p[0]], out[5] = 0;
          out[6] = *alpha, out[7] = 0;
        }
      } else {
        for (uint32_t k = 0; k < count; ++k, p += advance, alpha += step, out += 4) {
          out[0] = inv[p[2]];
          out[1] = inv[p[1]];
          out[2] = inv[p[0]];
          out[3] = *alpha;
        }
      }
      return;
    }
  }
}
