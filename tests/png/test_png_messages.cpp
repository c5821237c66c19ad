// The exact French texts of the PNG errors, each raised by the operation that reports it.
#include <gtest/gtest.h>

#include <functional>

#include "png_read_test_util.h"

using namespace pngr;

namespace {

#define Q "\"Portable Network Graphics\""

struct TMessageCase {
  const char* name;
  std::function<void()> raise;
  const char* text;
};

Bytes Damaged(const Bytes& file, size_t at) {
  Bytes copy = file;
  copy[at] ^= 0xFF;
  return copy;
}

void LoadOnly(const Bytes& file) {
  TPngImage image;
  Load(image, file);
}

}  // namespace

TEST(PngMessages, EveryErrorCarriesItsFixedText) {
  const Bytes grey = SimplePng(3, 1, 8, 0, RawRows({1, 2, 3}, 3, 1));
  Bytes corrupt = Compress(RawRows({1, 2, 3}, 3, 1));
  corrupt[2] = 0xFF;  // the first deflate block gets an invalid block type
  const TMessageCase cases[] = {
      {"file header", [&] { LoadOnly(Damaged(grey, 1)); },
       "Le fichier lu n'est pas une image PNG (Portable Network Graphics) valide car il contient "
       "un en-tête non valide. Il est possible que ce fichier soit endommagé, essayez de "
       "l'obtenir à nouveau"},
      {"unexpected end",
       [&] {
         LoadOnly(Concat({Signature(), Ihdr(3, 1, 8, 0)}));
       },
       "Cette image " Q " est invalide car le décodeur est arrivé à une fin de fichier non "
       "attendue."},
      {"IHDR not first",
       [&] {
         LoadOnly(Concat({Signature(), Chunk("tEXt", {'k', 0})}));
       },
       "Cette image " Q " n'est pas supportée ou doit être invalide.\r\n(la partie IHDR n'est "
       "pas la première)"},
      {"unknown critical",
       [&] {
         LoadOnly(Concat({Signature(), Ihdr(3, 1, 8, 0), Chunk("ABCD", {})}));
       },
       "Cette image " Q " contient une partie critique inconnue qui n' pu être décodée."},
      {"no image data",
       [&] {
         LoadOnly(Concat({Signature(), Ihdr(3, 1, 8, 0), Chunk("IEND", {})}));
       },
       "Cette image " Q " ne contient pas de données."},
      {"crc",
       [&] {
         LoadOnly(Concat({Signature(), Chunk("IHDR", {0, 0}, true)}));
       },
       "Cette image " Q " n'est pas valide car elle contient des données invalides (erreur crc)"},
      {"short IHDR",
       [&] {
         LoadOnly(Concat({Signature(), Chunk("IHDR", {0, 0, 0, 1})}));
       },
       "Cette image " Q " n'a pu être chargée car l'une de ses principale donnée (ihdr) doit être "
       "corrompue"},
      {"size",
       [&] {
         LoadOnly(Concat({Signature(), Ihdr(65536, 1, 8, 0)}));
       },
       "Cette image PNG (Portable Network Graphics) n'est pas supportée car sa largeur ou sa "
       "hauteur dépasse la taille maximale de 65535."},
      {"compression",
       [&] {
         LoadOnly(Concat({Signature(), Ihdr(3, 1, 8, 0, 0, 0, 1)}));
       },
       "Cette image " Q " est encodée à l'aide d'un schémas de compression inconnu qui ne peut "
       "être décodé."},
      {"interlace",
       [&] {
         LoadOnly(Concat({Signature(), Ihdr(3, 1, 8, 0, 2)}));
       },
       "Cette image " Q " utilise un schémas d'entrelacement inconnu qui ne peut être décodé."},
      {"missing IDAT",
       [&] {
         const Bytes data = Compress(RawRows({1, 2, 3, 4, 5, 6}, 3, 2));
         const Bytes half(data.begin(), data.begin() + 4);
         LoadOnly(Concat({Signature(), Ihdr(3, 2, 8, 0), Chunk("IDAT", half),
                          Chunk("tEXt", {'k', 0}), Chunk("IEND", {})}));
       },
       "Cette image " Q " est invalide car elle contient des parties d'image manquantes."},
      {"zlib",
       [&] {
         LoadOnly(
             Concat({Signature(), Ihdr(3, 1, 8, 0), Chunk("IDAT", corrupt), Chunk("IEND", {})}));
       },
       "Impossible de décompresser l'image car elle contient des données compressées "
       "invalides.\r\n Description: data error (-3)"},
      {"palette",
       [&] {
         LoadOnly(Concat({Signature(), Ihdr(3, 1, 8, 3), Chunk("PLTE", {1, 2})}));
       },
       "L'image " Q " contient une palette invalide."},
      {"resource", [&] { TPngImage().LoadFromResourceName(nullptr, "X"); },
       "L'image png n'a pu être chargée depuis l'ID ressource."},
      {"out of memory",
       [&] {
         const uint64_t saved = GetImageBudget();
         SetImageBudget(100);
         try {
           TPngImage::CreateBlank(2, 8, 100, 100);
         } catch (...) {
           SetImageBudget(saved);
           throw;
         }
         SetImageBudget(saved);
       },
       "Certaines opérations n'ont pu être effectuée car le système n'a plus de ressources. "
       "Fermez quelques fenêtres et essayez à nouveau."},
      {"cannot change transparent",
       [&] { TPngImage::CreateBlank(6, 8, 1, 1)->SetTransparentColor(clRed); },
       "Définir le bit de transparence n'est pas permis pour des images png qui contiennent une "
       "valeur alpha pour chaque pixel (COLOR_RGBALPHA et COLOR_GRAYSCALEALPHA)"},
      {"header not present", [&] { TPngImage().Header(); },
       "Cette opération n'est pas valide car l'image actuelle ne contient pas de header "
       "valide."},
      {"new size", [&] { TPngImage::CreateBlank(2, 8, 1, 1)->Resize(0, 1); },
       "La nouvelle taille fournie pour le redimensionnement de l'image est incorrecte."},
      {"creation parameters", [&] { TPngImage::CreateBlank(2, 4, 1, 1); },
       "Impossible de créer le format PNG (Portable Network Graphics) car des paramètres de "
       "type d'image incorrects ont été fournis."},
      {"critical exists", [&] { TPngImage::CreateBlank(2, 8, 1, 1)->Chunks().Add<TChunkIDAT>(); },
       "Le programme a essayé d'ajouter un morceau critique existant à l'image actuelle, ce qui "
       "n'est pas autorisé."},
      {"invalid image", [&] { TPngImage().AddtEXt("k", "t"); },
       "Il n'est pas permis d'ajouter un nouveau morceau car l'image actuelle est invalide."},
      {"incompatible assign",
       [&] {
         TChunkPLTE plte(nullptr);
         TChunkIEND iend(nullptr);
         plte.Assign(iend);
       },
       "Ce morceau doit être compatible pour être assigné."},
      {"no palette entry",
       [&] { TPngImage::CreateBlank(3, 1, 1, 1)->Chunks().Find<TChunkPLTE>()->Item(2); },
       "Il n'y a aucune entrée pour cette palette."},
  };
  for (const TMessageCase& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.raise();
      ADD_FAILURE() << "nothing was raised";
    } catch (const EPngError& e) {
      EXPECT_EQ(e.Message(), c.text);
    }
  }
}
