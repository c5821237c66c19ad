// The PNG errors and their fixed messages.
#include "png_internal.h"

namespace {
// Most messages name the format in inner double quotes.
#define PNG_Q "\"Portable Network Graphics\""
}  // namespace

#define PNG_ERROR_MESSAGE(Name, Text) \
  Name::Name() : EPngError(Text) {}

PNG_ERROR_MESSAGE(EPNGInvalidFileHeader,
                  "Le fichier lu n'est pas une image PNG (Portable Network Graphics) valide car "
                  "il contient un en-tête non valide. Il est possible que ce fichier soit "
                  "endommagé, essayez de l'obtenir à nouveau")
PNG_ERROR_MESSAGE(EPngUnexpectedEnd,
                  "Cette image " PNG_Q
                  " est invalide car le décodeur est arrivé à une fin de fichier non attendue.")
PNG_ERROR_MESSAGE(EPNGIHDRNotFirst,
                  "Cette image " PNG_Q
                  " n'est pas supportée ou doit être invalide.\r\n(la partie IHDR n'est pas la "
                  "première)")
PNG_ERROR_MESSAGE(EPNGUnknownCriticalChunk,
                  "Cette image " PNG_Q
                  " contient une partie critique inconnue qui n' pu être décodée.")
PNG_ERROR_MESSAGE(EPNGNoImageData, "Cette image " PNG_Q " ne contient pas de données.")
PNG_ERROR_MESSAGE(EPngInvalidCRC,
                  "Cette image " PNG_Q
                  " n'est pas valide car elle contient des données invalides (erreur crc)")
PNG_ERROR_MESSAGE(EPngInvalidIHDR,
                  "Cette image " PNG_Q
                  " n'a pu être chargée car l'une de ses principale donnée (ihdr) doit être "
                  "corrompue")
PNG_ERROR_MESSAGE(EPNGSizeExceeds,
                  "Cette image PNG (Portable Network Graphics) n'est pas supportée car sa "
                  "largeur ou sa hauteur dépasse la taille maximale de 65535.")
PNG_ERROR_MESSAGE(EPNGUnknownCompression,
                  "Cette image " PNG_Q
                  " est encodée à l'aide d'un schémas de compression inconnu qui ne peut être "
                  "décodé.")
PNG_ERROR_MESSAGE(EPNGUnknownInterlace,
                  "Cette image " PNG_Q
                  " utilise un schémas d'entrelacement inconnu qui ne peut être décodé.")
PNG_ERROR_MESSAGE(EPNGMissingMultipleIDAT,
                  "Cette image " PNG_Q
                  " est invalide car elle contient des parties d'image manquantes.")
PNG_ERROR_MESSAGE(EPNGZLIBError,
                  "Impossible de décompresser l'image car elle contient des données compressées "
                  "invalides.\r\n Description: ")
PNG_ERROR_MESSAGE(EPNGInvalidPalette, "L'image " PNG_Q " contient une palette invalide.")
PNG_ERROR_MESSAGE(EPNGCouldNotLoadResource,
                  "L'image png n'a pu être chargée depuis l'ID ressource.")
PNG_ERROR_MESSAGE(EPNGOutMemory,
                  "Certaines opérations n'ont pu être effectuée car le système n'a plus de "
                  "ressources. Fermez quelques fenêtres et essayez à nouveau.")
PNG_ERROR_MESSAGE(EPNGCannotChangeTransparent,
                  "Définir le bit de transparence n'est pas permis pour des images png qui "
                  "contiennent une valeur alpha pour chaque pixel (COLOR_RGBALPHA et "
                  "COLOR_GRAYSCALEALPHA)")
PNG_ERROR_MESSAGE(EPNGHeaderNotPresent,
                  "Cette opération n'est pas valide car l'image actuelle ne contient pas de "
                  "header valide.")
PNG_ERROR_MESSAGE(EPNGInvalidNewSize,
                  "La nouvelle taille fournie pour le redimensionnement de l'image est "
                  "incorrecte.")
PNG_ERROR_MESSAGE(EPNGInvalidSpec,
                  "Impossible de créer le format PNG (Portable Network Graphics) car des "
                  "paramètres de type d'image incorrects ont été fournis.")

const char* const EPngCriticalChunkExistsText =
    "Le programme a essayé d'ajouter un morceau critique existant à l'image actuelle, ce qui "
    "n'est pas autorisé.";
const char* const EPngInvalidImageText =
    "Il n'est pas permis d'ajouter un nouveau morceau car l'image actuelle est invalide.";
const char* const EPngIncompatibleAssignText = "Ce morceau doit être compatible pour être assigné.";
const char* const EPngNoPaletteEntryText = "Il n'y a aucune entrée pour cette palette.";
const char* const EPngEmptyImageText =
    "Impossible d'enregistrer cette image \"Portable Network Graphics\" car sa largeur ou sa "
    "hauteur est nulle.";

const char* ZlibErrorText(int zlibResult) {
  switch (zlibResult) {
    case -6:
      return "incompatible version (-6)";
    case -5:
      return "buffer error (-5)";
    case -4:
      return "insufficient memory (-4)";
    case -3:
      return "data error (-3)";
    case -2:
      return "stream error (-2)";
    case -1:
      return "file error (-1)";
    case 0:
      return "(0)";
    case 1:
      return "stream end (1)";
    case 2:
      return "need dictionary (2)";
    default:
      return "";
  }
}

std::string ZlibErrorMessage(int zlibResult) {
  return EPNGZLIBError().Message() + ZlibErrorText(zlibResult);
}
