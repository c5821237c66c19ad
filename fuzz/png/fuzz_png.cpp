// Loads arbitrary bytes as a PNG and, when that succeeds, draws the picture and reads its
// pixels: every input must end in a PNG error or a picture, never a crash, a hang or an
// over-read. Each input is tried twice: as it is, and with every chunk CRC made right, so
// that mutations get past the CRC checks into the chunk and image decoders.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "pngimage.h"

namespace {

std::vector<uint8_t> WithFixedCrcs(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  size_t pos = 8;
  while (pos + 12 <= bytes.size()) {
    const uint32_t length = ReadBE32(&bytes[pos]);
    if (length > bytes.size() - pos - 12) break;
    const uint32_t crc = ~UpdateCrc(0xFFFFFFFFu, &bytes[pos + 4], size_t(length) + 4);
    WriteBE32(&bytes[pos + 8 + length], crc);
    pos += 12 + size_t(length);
  }
  return bytes;
}

void Exercise(const uint8_t* data, size_t size) {
  TReadOnlyMemoryStream stream(data, size);
  TPngImage png;
  try {
    png.LoadFromStream(stream);
  } catch (const Exception&) {
    return;
  }
  try {
    TBitmap target;
    target.SetSize(37, 23);
    png.Draw(target.Canvas(), Rect(0, 0, 37, 23));
    png.Draw(target.Canvas(), Rect(30, 20, 2, 1));
    for (int y = 0; y < png.Height() && y < 4; ++y) (void)png.GetPixels(y, y);
    (void)png.TransparentColor();
    TPngImage copy;
    copy.Assign(png);
    // Small pictures are written again and read back: every chunk writer runs.
    if (int64_t(png.Width()) * png.Height() <= 65536) {
      TMemoryStream saved;
      copy.SaveToStream(saved);
      saved.SetPosition(0);
      TPngImage again;
      try {
        again.LoadFromStream(saved);
      } catch (const Exception& e) {
        // What we write we must be able to read back.
        std::fprintf(stderr, "written picture refused: %s\n", e.what());
        std::abort();
      }
    }
  } catch (const Exception&) {
  }
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
