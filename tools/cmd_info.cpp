// vitrelle-img info FICHIER: what the picture registry and the picture class can tell.
#include <iostream>

#include "commands.h"
#include "framework.h"

namespace {

const char* PixelFormatName(TPixelFormat f) {
  switch (f) {
    case pf1bit:
      return "1 bit (palette)";
    case pf4bit:
      return "4 bits (palette)";
    case pf8bit:
      return "8 bits (palette)";
    case pf15bit:
      return "15 bits (5-5-5)";
    case pf16bit:
      return "16 bits (5-6-5)";
    case pf24bit:
      return "24 bits";
    case pf32bit:
      return "32 bits";
    case pfDevice:
      return "écran";
    default:
      return "particulier";
  }
}

const char* AlphaFormatName(TAlphaFormat f) {
  switch (f) {
    case afDefined:
      return "alpha défini";
    case afPremultiplied:
      return "alpha prémultiplié";
    default:
      return "alpha ignoré";
  }
}

// The registry's description of the class (the first one registered for it).
std::string DescriptionOf(const TGraphicClass& cls) {
  for (const TPicture::TFileFormat& f : TPicture::FileFormats())
    if (f.GraphicClass == &cls) return f.Description;
  return cls.ClassName;
}

}  // namespace

int CmdInfo(const TArgs& args) {
  ExpectArgCount(args, 1, 1);
  TPicture picture;
  picture.LoadFromFile(args[0]);
  TGraphic& g = *picture.Graphic();
  std::cout << "Fichier : " << args[0] << "\n"
            << "Format : " << DescriptionOf(g.ClassType()) << "\n"
            << "Classe : " << g.ClassName() << "\n"
            << "Largeur : " << g.Width() << "\n"
            << "Hauteur : " << g.Height() << "\n"
            << "Transparence : " << (g.Transparent() ? "oui" : "non") << "\n"
            << "Transparence partielle : " << (g.SupportsPartialTransparency() ? "oui" : "non")
            << "\n";
  if (auto* bmp = dynamic_cast<TBitmap*>(&g)) {
    std::cout << "Format de pixels : " << PixelFormatName(bmp->PixelFormat()) << "\n";
    if (bmp->PixelFormat() == pf32bit)
      std::cout << "Canal alpha : " << AlphaFormatName(bmp->AlphaFormat()) << "\n";
  }
  HPALETTE palette = g.Palette();
  std::cout << "Palette : "
            << (palette ? std::to_string(palette->Count()) + " couleurs" : std::string("aucune"))
            << "\n";
  return 0;
}
