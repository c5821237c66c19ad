// Shared helpers of the GIF conformance tests: loading bytes into a TGIFImage with a
// warning recorder, and drawing a picture onto a bitmap over a known background.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "GIFImg.h"
#include "gif_builder.h"

namespace gif_test {

using gif_build::TBytes;
using gif_build::TRgb;

// Records every warning an image reports.
struct TWarnings {
  std::vector<std::string> Messages;
  void Attach(TGIFImage& image) {
    image.OnWarning = [this](const void*, TGIFSeverity, const std::string& message) {
      Messages.push_back(message);
    };
  }
  int Count(const std::string& message) const {
    return int(std::count(Messages.begin(), Messages.end(), message));
  }
  bool Has(const std::string& message) const { return Count(message) > 0; }
  std::string All() const {
    std::string s;
    for (const std::string& m : Messages) s += "[" + m + "] ";
    return s;
  }
};

inline std::unique_ptr<TGIFImage> LoadGif(const TBytes& bytes, TWarnings* warnings = nullptr) {
  auto image = std::make_unique<TGIFImage>();
  if (warnings) warnings->Attach(*image);
  TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
  image->LoadFromStream(stream);
  return image;
}

// The message of the GIFException that loading raises, or "" when it loads.
inline std::string LoadError(const TBytes& bytes, TWarnings* warnings = nullptr) {
  try {
    LoadGif(bytes, warnings);
  } catch (const GIFException& e) {
    return e.Message();
  }
  return "";
}

inline TColor ToColor(TRgb c) {
  return RGBColor(c.R, c.G, c.B);
}

// The picture drawn at its own size on a 24-bit bitmap first filled with `background`.
inline std::unique_ptr<TBitmap> DrawOver(TGraphic& picture, TColor background) {
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->SetPixelFormat(pf24bit);
  bitmap->SetSize(picture.Width(), picture.Height());
  FillPixels(bitmap->View(), Rect(0, 0, picture.Width(), picture.Height()), background);
  picture.Draw(bitmap->Canvas(), Rect(0, 0, picture.Width(), picture.Height()));
  return bitmap;
}

// Two colours that no test picture uses, to tell the background from drawn pixels.
constexpr TColor kBackA = 0x030201;  // RGB(1, 2, 3)
constexpr TColor kBackB = 0xFCFDFE;  // RGB(254, 253, 252)

// Mismatches between the picture drawn over two backgrounds and what giflib composes for
// its frame 0; the first few are described in `report`.
inline int CompareWithReference(TGraphic& picture, const gif_build::TComposite& ref,
                                std::string* report) {
  auto a = DrawOver(picture, kBackA);
  auto b = DrawOver(picture, kBackB);
  int bad = 0;
  for (int y = 0; y < ref.Height; ++y)
    for (int x = 0; x < ref.Width; ++x) {
      const size_t at = size_t(y) * size_t(ref.Width) + size_t(x);
      const TColor ca = a->PixelColor(x, y), cb = b->PixelColor(x, y);
      bool ok;
      std::string expected;
      if (ref.Covered[at]) {
        const TColor want = ToColor(ref.Colours[at]);
        ok = ca == want && cb == want;
        expected = std::to_string(want);
      } else {
        ok = ca == kBackA && cb == kBackB;
        expected = "background";
      }
      if (!ok && ++bad <= 5 && report)
        *report += "(" + std::to_string(x) + "," + std::to_string(y) + ") expected " + expected +
                   " got " + std::to_string(ca) + "/" + std::to_string(cb) + "; ";
    }
  return bad;
}

// A palette of n distinct colours (none equal to the test backgrounds).
inline std::vector<TRgb> Ramp(int n) {
  std::vector<TRgb> colours;
  for (int i = 0; i < n; ++i)
    colours.push_back(
        TRgb{uint8_t(40 + i * 7 % 200), uint8_t(200 - i * 13 % 180), uint8_t(17 + i * 29 % 230)});
  return colours;
}

}  // namespace gif_test
