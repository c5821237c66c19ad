// vitrelle-img info FICHIER: what the picture registry and the picture class can tell.
#include <iostream>

#include "commands.h"
#include "framework.h"
#ifdef VITRELLE_HAS_GIF
#include "GIFImg.h"
#endif

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

#ifdef VITRELLE_HAS_GIF
const char* DisposalName(int d) {
  switch (d) {
    case dmNone:
      return "aucune";
    case dmNoDisposal:
      return "conserver";
    case dmBackground:
      return "fond";
    case dmPrevious:
      return "précédente";
    default:
      return "inconnue";
  }
}

// The loop count of the first looping extension, in frame order.
const TGIFAppExtNSLoop* FindLoop(TGIFImage& gif) {
  for (int i = 0; i < gif.Images().Count(); ++i) {
    TGIFExtensionList& list = gif.Images().Frames(i)->Extensions();
    for (int k = 0; k < list.Count(); ++k)
      if (auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(list.Extensions(k))) return loop;
  }
  return nullptr;
}

// What a GIF holds: its frames with their place, delay, disposal and transparency.
void PrintGif(TGIFImage& gif) {
  std::cout << "Images : " << gif.Images().Count() << "\n";
  const TGIFAppExtNSLoop* loop = FindLoop(gif);
  std::cout << "Boucles : "
            << (!loop                ? std::string("aucune (une lecture)")
                : loop->Loops() == 0 ? std::string("0 (sans fin)")
                                     : std::to_string(loop->Loops()))
            << "\n";
  for (int i = 0; i < gif.Images().Count(); ++i) {
    TGIFFrame& f = *gif.Images().Frames(i);
    const TGIFGraphicControlExtension* gce = f.GraphicControlExtension();
    std::cout << "Image " << i << " : (" << f.Left() << ", " << f.Top() << ")-("
              << f.Left() + f.Width() << ", " << f.Top() + f.Height() << "), " << f.Width() << "x"
              << f.Height() << ", délai " << (gce ? gce->Delay() : 0) << " cs, disposition "
              << (gce ? DisposalName(gce->Disposal()) : "aucune") << ", index transparent "
              << (f.Transparent() ? std::to_string(gce->TransparentColorIndex())
                                  : std::string("aucun"))
              << "\n";
  }
}
#endif

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
#ifdef VITRELLE_HAS_GIF
  if (auto* gif = dynamic_cast<TGIFImage*>(&g)) PrintGif(*gif);
#endif
  HPALETTE palette = g.Palette();
  std::cout << "Palette : "
            << (palette ? std::to_string(palette->Count()) + " couleurs" : std::string("aucune"))
            << "\n";
  return 0;
}
