// Loads arbitrary bytes as a JPEG and then uses the picture, whether the load worked or
// not: drawing with settings taken from the last byte (scale, palette output, grayscale,
// progressive display, speed, outside palette), copying to another picture and to a
// bitmap, saving, and re-encoding the decoded bitmap. Errors must be the library's own
// (EJPEG, the budget's refusal); never a crash or an over-read. A save that fails must
// leave nothing behind that a later save would write as if it were a picture.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "jpeg.h"

namespace {

void Configure(TJPEGImage& image, uint8_t options) {
  image.SetScale(TJPEGScale(options & 3));
  image.SetPixelFormat(options & 4 ? jf8Bit : jf24Bit);
  image.SetGrayscale(options & 8);
  image.SetProgressiveDisplay(options & 16);
  image.SetPerformance(options & 32 ? jpBestSpeed : jpBestQuality);
  image.SetSmoothing(options & 64);
  if (options & 128) image.SetPalette(&VgaPalette16());  // an outside colour map
}

void Try(const std::function<void()>& use) {
  try {
    use();
  } catch (const Exception&) {
  }
}

// Saves a picture made from a bitmap twice. When the first save fails, the second must
// fail too or write a picture: never an empty file without an error.
void SaveTwice(TJPEGImage& image) {
  TMemoryStream first;
  try {
    image.SaveToStream(first);
    return;
  } catch (const Exception&) {
  }
  TMemoryStream second;
  try {
    image.SaveToStream(second);
  } catch (const Exception&) {
    return;
  }
  if (second.Size() == 0 && !image.Empty()) {
    std::fprintf(stderr, "a failed compression left empty data behind\n");
    std::abort();
  }
}

void ReEncode(TJPEGImage& image) {
  TBitmap* decoded = image.Bitmap();
  if (decoded == nullptr) return;
  const int64_t pixels = int64_t(decoded->Width()) * decoded->Height();
  // Small pictures go round through the encoder and back; pictures whose 24-bit copy is
  // over the budget fail before any compression, which is cheap to try.
  if (pixels <= 64 * 64) {
    TJPEGImage copy;
    copy.Assign(*decoded);
    copy.SetProgressiveEncoding(image.ProgressiveEncoding());
    TMemoryStream out;
    copy.SaveToStream(out);
    out.SetPosition(0);
    TJPEGImage again;
    again.LoadFromStream(out);
    again.DIBNeeded();
  } else if (uint64_t(pixels) * 3 > GetImageBudget() && decoded->PixelFormat() != pf24bit) {
    TJPEGImage copy;
    copy.Assign(*decoded);
    SaveTwice(copy);
  }
}

void UsePicture(TJPEGImage& image) {
  Try([&] {
    (void)image.Width();
    (void)image.Height();
    TBitmap target;
    target.SetSize(37, 23);
    image.Draw(target.Canvas(), Rect(0, 0, 37, 23));
  });
  Try([&] { ReEncode(image); });
  Try([&] {
    TJPEGImage shared;
    shared.Assign(image);
    (void)shared.Equals(image);
    TBitmap target;
    target.SetSize(5, 5);
    shared.Draw(target.Canvas(), Rect(0, 0, 5, 5));
  });
  Try([&] {
    TBitmap bitmap;
    image.AssignTo(bitmap);
  });
  Try([&] {
    TMemoryStream saved;
    image.SaveToStream(saved);
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Small budget: the fuzzer's time goes into the decoder, not into huge buffers.
  static const bool budgetSet = (SetImageBudget(16u << 20), true);
  (void)budgetSet;
  TJPEGImage image;
  if (size > 0) Configure(image, data[size - 1]);
  TReadOnlyMemoryStream stream(data, size);
  try {
    image.LoadFromStream(stream);
  } catch (const Exception&) {
  }
  UsePicture(image);
  return 0;
}
