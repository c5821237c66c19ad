// Draws the sample pictures of the project: a product (a white two-casement window with
// tinted, partly transparent glass on a transparent background) and a house photograph
// to place it on. Written through the picture registry: PNG and JPEG when their codecs
// are present, BMP otherwise.
//
//   vitrelle-make-samples OUTPUT_FOLDER
#include <cmath>
#include <cstdint>
#include <iostream>
#include <string>

#include "codecs.h"
#include "framework.h"
#ifdef VITRELLE_HAS_PNG
#include "pngimage.h"
#endif

namespace {

struct TRgba {
  uint8_t r, g, b, a;
};

// Small repeatable noise, so the photograph has the grain of a real one.
uint32_t Hash(uint32_t x, uint32_t y) {
  uint32_t h = x * 374761393u + y * 668265263u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return h ^ (h >> 16);
}

int Grain(int x, int y, int amount) {
  return int(Hash(x, y) % (2 * amount + 1)) - amount;
}

uint8_t Clamp(int v) {
  return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

void Put(TBitmap& bmp, int x, int y, int r, int g, int b) {
  uint8_t* p = bmp.GetScanline(y) + x * 3;
  p[0] = Clamp(b);
  p[1] = Clamp(g);
  p[2] = Clamp(r);
}

// Fills a rectangle with a colour and grain.
void Area(TBitmap& bmp, int x0, int y0, int x1, int y1, int r, int g, int b, int grain) {
  for (int y = std::max(0, y0); y < std::min(bmp.Height(), y1); ++y)
    for (int x = std::max(0, x0); x < std::min(bmp.Width(), x1); ++x) {
      const int n = Grain(x, y, grain);
      Put(bmp, x, y, r + n, g + n, b + n);
    }
}

void DrawSky(TBitmap& bmp, int horizon) {
  for (int y = 0; y < horizon; ++y) {
    const double t = double(y) / horizon;
    for (int x = 0; x < bmp.Width(); ++x)
      Put(bmp, x, y, int(105 + 85 * t), int(155 + 60 * t), int(215 + 25 * t));
  }
}

void DrawGround(TBitmap& bmp, int top) {
  for (int y = top; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) {
      const int n = Grain(x, y, 8);
      Put(bmp, x, y, 70 + n / 2, 120 + n, 55 + n / 2);
    }
}

void DrawRoof(TBitmap& bmp, int left, int right, int base, int apexY) {
  const int apexX = (left + right) / 2;
  for (int y = apexY; y < base; ++y) {
    const double t = double(y - apexY) / (base - apexY);
    const int x0 = int(apexX - t * (apexX - left));
    const int x1 = int(apexX + t * (right - apexX));
    const bool seam = (y - apexY) % 18 < 2;  // rows of tiles
    for (int x = x0; x < x1; ++x) {
      const int n = Grain(x, y, 10);
      const int shade = seam ? -45 : ((x / 22 + (y - apexY) / 18) % 2 ? -8 : 0);
      Put(bmp, x, y, 172 + n + shade, 74 + n / 2 + shade, 52 + n / 2 + shade);
    }
  }
}

void DrawHouseWindow(TBitmap& bmp, int x0, int y0, int x1, int y1) {
  Area(bmp, x0 - 10, y0 - 10, x1 + 10, y1 + 14, 238, 236, 230, 4);  // frame and sill
  Area(bmp, x0, y0, x1, y1, 62, 84, 104, 6);                        // glass
  Area(bmp, (x0 + x1) / 2 - 4, y0, (x0 + x1) / 2 + 4, y1, 238, 236, 230, 3);
  // A reflection of the sky across the glass.
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      if (((x - x0) + (y - y0)) % 90 < 20) {
        uint8_t* p = bmp.GetScanline(y) + x * 3;
        p[0] = Clamp(p[0] + 40), p[1] = Clamp(p[1] + 35), p[2] = Clamp(p[2] + 30);
      }
}

std::unique_ptr<TBitmap> DrawHouse() {
  auto bmp = std::make_unique<TBitmap>();
  bmp->SetPixelFormat(pf24bit);
  bmp->SetSize(1200, 900);
  DrawSky(*bmp, 560);
  DrawGround(*bmp, 560);
  Area(*bmp, 0, 520, 1200, 600, 60, 95, 55, 10);      // hedge behind
  Area(*bmp, 760, 140, 820, 300, 150, 80, 60, 12);    // chimney
  Area(*bmp, 200, 330, 1000, 790, 226, 211, 182, 5);  // wall
  Area(*bmp, 200, 330, 1000, 350, 180, 165, 140, 6);  // shadow under the eaves
  DrawRoof(*bmp, 150, 1050, 340, 110);
  DrawHouseWindow(*bmp, 270, 420, 430, 610);
  DrawHouseWindow(*bmp, 770, 420, 930, 610);
  Area(*bmp, 540, 540, 660, 790, 120, 74, 44, 8);     // door
  Area(*bmp, 640, 660, 650, 672, 210, 190, 120, 2);   // door handle
  Area(*bmp, 520, 790, 680, 810, 160, 160, 155, 6);   // step
  Area(*bmp, 200, 790, 1000, 800, 120, 112, 100, 5);  // base of the wall
  return bmp;
}

void PutRgba(TBitmap& bmp, int x, int y, TRgba c) {
  uint8_t* p = bmp.GetScanline(y) + x * 4;
  p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = c.a;
}

void Box(TBitmap& bmp, int x0, int y0, int x1, int y1, TRgba c) {
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) PutRgba(bmp, x, y, c);
}

// A white two-casement window: opaque frame, tinted glass at partial opacity with a
// brighter diagonal reflection, transparent all around.
std::unique_ptr<TBitmap> DrawProduct() {
  auto bmp = std::make_unique<TBitmap>();
  bmp->SetPixelFormat(pf32bit);
  bmp->SetSize(180, 260);
  bmp->SetAlphaFormat(afDefined);
  Box(*bmp, 0, 0, 180, 260, {0, 0, 0, 0});
  const TRgba frame{246, 246, 244, 255};
  const TRgba edge{200, 200, 196, 255};
  Box(*bmp, 6, 6, 174, 254, edge);
  Box(*bmp, 8, 8, 172, 252, frame);
  for (int pane = 0; pane < 2; ++pane) {
    const int x0 = pane == 0 ? 22 : 96;
    const int x1 = pane == 0 ? 84 : 158;
    Box(*bmp, x0 - 2, 20, x1 + 2, 240, edge);
    for (int y = 22; y < 238; ++y)
      for (int x = x0; x < x1; ++x) {
        const bool shine = std::abs((x - x0) - (y - 22) / 2 - 10) < 6;
        PutRgba(*bmp, x, y, shine ? TRgba{225, 240, 250, 170} : TRgba{150, 195, 220, 105});
      }
  }
  Box(*bmp, 86, 8, 94, 252, frame);                   // middle post
  Box(*bmp, 77, 120, 81, 150, {120, 120, 124, 255});  // handle
  Box(*bmp, 4, 250, 176, 258, {225, 225, 222, 255});  // sill
  return bmp;
}

// Saves through the class registered for the preferred extension, BMP without one.
std::string Save(TBitmap& bitmap, const std::string& folder, const std::string& stem,
                 const std::string& preferred) {
  const TGraphicClass* cls = TPicture::FindFileFormat(preferred);
  const std::string ext = cls ? preferred : ".bmp";
  const std::string path = folder + "/" + stem + ext;
  if (!cls) {
    bitmap.SaveToFile(path);
    return path;
  }
  std::unique_ptr<TGraphic> graphic = cls->Create();
  graphic->Assign(bitmap);
  graphic->SaveToFile(path);
  return path;
}

// The product keeps its alpha only in a PNG with an alpha channel: a bitmap converted to
// PNG keeps its colours alone, so the PNG is built pixel by pixel.
std::string SaveProduct(TBitmap& product, const std::string& folder) {
#ifdef VITRELLE_HAS_PNG
  if (TPicture::FindFileFormat(".png")) {
    std::unique_ptr<TPngImage> png =
        TPngImage::CreateBlank(COLOR_RGBALPHA, 8, product.Width(), product.Height());
    for (int y = 0; y < product.Height(); ++y) {
      const uint8_t* src = product.GetScanline(y);
      uint8_t* alpha = png->AlphaScanline(y);
      for (int x = 0; x < product.Width(); ++x) {
        png->SetPixels(x, y, RGBColor(src[4 * x + 2], src[4 * x + 1], src[4 * x]));
        alpha[x] = src[4 * x + 3];
      }
    }
    const std::string path = folder + "/produit-exemple.png";
    png->SaveToFile(path);
    return path;
  }
#endif
  return Save(product, folder, "produit-exemple", ".bmp");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "Utilisation : vitrelle-make-samples DOSSIER\n";
    return 2;
  }
  TCodecRegistration codecs;
  try {
    std::cout << SaveProduct(*DrawProduct(), argv[1]) << "\n";
    std::cout << Save(*DrawHouse(), argv[1], "maison-exemple", ".jpg") << "\n";
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
