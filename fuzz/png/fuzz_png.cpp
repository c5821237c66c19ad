// Loads arbitrary bytes as a PNG and, when that succeeds, draws the picture: every input
// must end in a PNG error or a picture, never a crash, a hang or an over-read.
#include <cstddef>
#include <cstdint>

#include "pngimage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool budgetSet = [] {
    SetImageBudget(64u << 20);  // keep hostile sizes from eating the fuzzer's memory
    return true;
  }();
  (void)budgetSet;
  TReadOnlyMemoryStream stream(data, size);
  TPngImage png;
  try {
    png.LoadFromStream(stream);
  } catch (const Exception&) {
    return 0;
  }
  try {
    TBitmap target;
    target.SetSize(37, 23);
    png.Draw(target.Canvas(), Rect(0, 0, 37, 23));
    png.Draw(target.Canvas(), Rect(30, 20, 2, 1));
    for (int y = 0; y < png.Height() && y < 4; ++y) (void)png.GetPixels(y, y);
  } catch (const Exception&) {
  }
  return 0;
}
