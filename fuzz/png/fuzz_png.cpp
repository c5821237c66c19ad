// Loads arbitrary bytes as a PNG and then uses the picture, whether the load worked or
// not: drawing, pixel access, copying to another picture and to a bitmap, adding alpha,
// resizing and saving. Every input must end in a PNG error (or the framework's refusal of
// a size) or a picture, never a crash, a hang or an over-read. Each input is tried twice:
// as it is, and with every chunk CRC made right, so that mutations get past the CRC checks
// into the chunk and image decoders.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "pngimage.h"

namespace {

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

std::vector<uint8_t> WithFixedCrcs(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  size_t pos = 8;
  while (pos + 12 <= bytes.size()) {
    const uint32_t length = BigEndian32(&bytes[pos]);
    if (length > bytes.size() - pos - 12) break;
    const uint32_t crc = uint32_t(crc32(0, &bytes[pos + 4], uInt(length) + 4));
    for (int i = 0; i < 4; ++i) bytes[pos + 8 + length + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
    pos += 12 + size_t(length);
  }
  return bytes;
}

// Runs one use of the picture; the library's own failures are expected outcomes.
void Try(const std::function<void()>& use) {
  try {
    use();
  } catch (const Exception&) {
  }
}

// Writing a picture that loaded whole must give a file that loads again.
void SaveAndReload(TPngImage& png) {
  if (int64_t(png.Width()) * png.Height() > 65536) return;
  TMemoryStream saved;
  png.SaveToStream(saved);
  saved.SetPosition(0);
  TPngImage again;
  try {
    again.LoadFromStream(saved);
  } catch (const Exception& e) {
    std::fprintf(stderr, "written picture refused: %s\n", e.what());
    std::abort();
  }
}

void UsePicture(TPngImage& png, bool loaded) {
  Try([&] {
    TBitmap target;
    target.SetSize(37, 23);
    png.Draw(target.Canvas(), Rect(0, 0, 37, 23));
    png.Draw(target.Canvas(), Rect(30, 20, 2, 1));
  });
  Try([&] {
    for (int y = -1; y < png.Height() && y < 4; ++y) {
      (void)png.GetPixels(y, y);
      png.SetPixels(y + 1, y, clRed);
      (void)png.Scanline(y);
      (void)png.AlphaScanline(y);
    }
    (void)png.TransparentColor();
  });
  Try([&] {
    TPngImage copy;
    copy.Assign(png);
    (void)copy.GetPixels(0, 0);
    if (loaded) SaveAndReload(copy);
  });
  Try([&] {
    TBitmap bitmap;
    png.AssignTo(bitmap);
  });
  if (!loaded)
    Try([&] {
      if (int64_t(png.Width()) * png.Height() > 65536) return;
      TMemoryStream saved;
      png.SaveToStream(saved);
    });
  Try([&] {
    png.CreateAlpha();
    (void)png.GetPixels(png.Width() - 1, png.Height() - 1);
  });
  Try([&] {
    png.Resize(3, 2);
    (void)png.GetPixels(2, 1);
  });
}

void Exercise(const uint8_t* data, size_t size) {
  TReadOnlyMemoryStream stream(data, size);
  TPngImage png;
  bool loaded = true;
  try {
    png.LoadFromStream(stream);
  } catch (const Exception&) {
    loaded = false;
  }
  UsePicture(png, loaded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool budgetSet = [] {
    SetImageBudget(64u << 20);  // keep hostile sizes from eating the fuzzer's memory
    return true;
  }();
  (void)budgetSet;
  Exercise(data, size);
  const std::vector<uint8_t> fixed = WithFixedCrcs(data, size);
  Exercise(fixed.data(), fixed.size());
  return 0;
}
