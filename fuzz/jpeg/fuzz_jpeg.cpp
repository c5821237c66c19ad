// Loads arbitrary bytes as a JPEG, draws them with settings taken from the last byte
// (scale, palette output, grayscale, progressive display, speed, outside palette), and
// re-encodes small pictures. Errors must be EJPEG or the budget's refusal; never a crash
// or an over-read.
#include <cstdint>

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

void Exercise(TJPEGImage& image) {
  TBitmap target;
  target.SetSize(37, 23);
  image.Draw(target.Canvas(), Rect(0, 0, 37, 23));
  TBitmap* decoded = image.Bitmap();
  if (decoded == nullptr || int64_t(decoded->Width()) * decoded->Height() > 64 * 64) return;
  // Small pictures go round through the encoder and back.
  TJPEGImage copy;
  copy.Assign(*decoded);
  copy.SetProgressiveEncoding(image.ProgressiveEncoding());
  TMemoryStream out;
  copy.SaveToStream(out);
  out.SetPosition(0);
  TJPEGImage again;
  again.LoadFromStream(out);
  again.DIBNeeded();
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
    (void)image.Width();
    (void)image.Height();
    Exercise(image);
  } catch (const EInvalidGraphic&) {  // EJPEG
  } catch (const EOutOfResources&) {
  }
  return 0;
}
