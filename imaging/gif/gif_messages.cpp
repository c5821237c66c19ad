// The texts of every GIF message, in one place.
#include "gif_glue.h"

namespace gifmsg {
const char* const sBadSignature = "Signature GIF incorrecte";
const char* const sEmptyImage = "Impossible d'enregistrer un GIF vide";
const char* const sPrematureEOF = "Fin prématurée des données";
const char* const sColorTableOverflow = "Débordement de la table des couleurs";
const char* const sBadColorIndex = "Indice de couleur incorrect";
const char* const sEmptyColorMap = "La table des couleurs est vide";
const char* const sColorExtended = "Index de couleur non valide - table des couleurs étendue";
const char* const sBadScreenColorCount =
    "Nombre incorrect de couleurs spécifié dans le descripteur d'écran";
const char* const sBadImageColorCount =
    "Nombre incorrect de couleurs spécifié dans le descripteur d'image";
const char* const sBadData = "Données GIF incorrectes";
const char* const sBadSize = "Taille d'image incorrecte";
const char* const sScreenOverflow = "L'image excède la taille d'écran logique";
const char* const sBadTrailer = "Queue d'image incorrecte";
const char* const sUnknownBlock = "Type de bloc GIF inconnu";
const char* const sBadStreamOperation = "Opération flux incorrecte";
const char* const sBitBufferUnderrun = "Décoder le tampon de bits à l'exécution";
const char* const sCircularTable = "Entrée de la table du décodeur circulaire";
const char* const sMissingColor = "Couleur absente dans la table des couleurs";
const char* const sUnknownExtension = "Type d'extension inconnu";
const char* const sBadExtensionIntro = "Introduction d'extension incorrecte";
const char* const sExtensionMismatch =
    "Erreur interne : L'instance d'extension ne correspond pas au libellé d'extension";
const char* const sAppBlockSize = "Taille de bloc d'extension d'application non supportée";
const char* const sSeveralGCE =
    "Le cadre contient plusieurs blocs d'extension de contrôles graphiques";
const char* const sBadPixel = "Coordonnées pixel incorrectes";
const char* const sNoPixels = "L'image est vide";
const char* const sUnsupportedPixelFormat = "PixelFormat non supporté";
const char* const sBadDimensions = "Dimensions de l'image incorrectes";
const char* const sNoDIB = "L'image n'a pas de DIB";
const char* const sBadBitsPerPixel = "Valeur Bits par pixel incorrecte";
const char* const sBadPalette = "Palette vide, incorrecte ou manquante";
const char* const sDIBAllocation = "Echec d'allocation de la mémoire pour GIF DIB";
const char* const sUnsupportedObject = "Type d'objet non supporté pour l'opération";
const char* const sNoColorMap = "Aucune table de couleurs locale ou globale n'est définie";
const char* const sProgressLoading = "Chargement";
const char* const sProgressSaving = "Enregistrement";
const char* const sProgressConverting = "Conversion";
const char* const sProgressRendering = "Restitution";
const char* const sProgressCopying = "Copie";
const char* const sProgressOptimizing = "Optimisation";
}  // namespace gifmsg

void GIFError(const char* message) {
  throw GIFException(message);
}
