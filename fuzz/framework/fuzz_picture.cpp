// Loads arbitrary bytes as a picture of the class registered for "bmp", through the same
// class reference the registry hands out for files, then draws and saves what loaded.
// A picture whose load failed is used as well (drawn, read pixel by pixel, assigned,
// saved): whatever state a failure leaves must be safe. Also feeds the bytes to the
// clipboard's packed-DIB reader.
#include <cstdint>

#include "bmp_io.h"
#include "framework.h"

namespace {

const TPixelFormat kFormats[] = {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit};

void Exercise(TGraphic& graphic, size_t choice) {
  TBitmap target;
  target.SetPixelFormat(kFormats[choice % 7]);
  target.SetSize(37, 23);
  graphic.Draw(target.Canvas(), Rect(0, 0, 37, 23));
  graphic.Draw(target.Canvas(), Rect(30, 20, -5, -3));  // mirrored and clipped
  TMemoryStream out;
  graphic.SaveToStream(out);
  out.SetPosition(0);
  std::unique_ptr<TGraphic> again = graphic.ClassType().Create();
  again->LoadFromStream(out);  // what we write must load again
  // Whatever loaded converts to every format and takes the notice's text.
  // (small pictures only: colour matching is slow and the fuzzer's time is better spent
  // on parsing).
  auto* bmp = dynamic_cast<TBitmap*>(again.get());
  if (bmp && int64_t(bmp->Width()) * bmp->Height() <= 4096) {
    bmp->SetPixelFormat(kFormats[(choice / 7) % 7]);
    bmp->Canvas().TextOut(1, 1, "Photo non contractuelle");
    bmp->SetPixelFormat(kFormats[(choice / 49) % 7]);
  }
}

// Every operation on a picture whose load failed either works on consistent state or
// raises the framework's error; none may crash.
template <typename Operation>
void Tolerant(Operation op) {
  try {
    op();
  } catch (const Exception&) {
  }
}

void UseAfterFailedLoad(TGraphic& graphic) {
  (void)graphic.Empty();
  const int width = graphic.Width();
  const int height = graphic.Height();
  Tolerant([&] {
    TBitmap target;
    target.SetSize(9, 7);
    graphic.Draw(target.Canvas(), Rect(0, 0, 9, 7));
  });
  if (auto* bmp = dynamic_cast<TBitmap*>(&graphic); bmp && width > 0 && height > 0) {
    Tolerant([&] {
      (void)bmp->PixelColor(0, 0);
      (void)bmp->PixelColor(width - 1, height - 1);
      (void)bmp->GetScanline(height - 1);
    });
  }
  Tolerant([&] {
    std::unique_ptr<TGraphic> copy = graphic.ClassType().Create();
    copy->Assign(graphic);
  });
  Tolerant([&] {
    TBitmap other;
    other.Assign(graphic);
  });
  Tolerant([&] {
    TMemoryStream out;
    graphic.SaveToStream(out);
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Small budget: the fuzzer's time goes into parsing, not into clearing huge buffers.
  static const bool budgetSet = (SetImageBudget(4u << 20), true);
  (void)budgetSet;
  const TGraphicClass* cls = TPicture::FindFileFormat("bmp");
  if (!cls) __builtin_trap();
  std::unique_ptr<TGraphic> graphic = cls->Create();
  TReadOnlyMemoryStream stream(data, size);
  try {
    graphic->LoadFromStream(stream);
  } catch (const EInvalidGraphic&) {
    UseAfterFailedLoad(*graphic);
    graphic.reset();
  } catch (const EOutOfResources&) {
    UseAfterFailedLoad(*graphic);
    graphic.reset();
  }
  if (graphic) Exercise(*graphic, size > 0 ? data[size - 1] + size : 0);

  TBitmap dib;
  try {
    ReadPackedDib(data, size, dib);
  } catch (const EInvalidGraphic&) {
    UseAfterFailedLoad(dib);
  } catch (const EOutOfResources&) {
    UseAfterFailedLoad(dib);
  }
  return 0;
}
