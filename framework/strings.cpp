// TStringList and the framework's fixed message texts.
#include "framework.h"

const char* const SAbstractError = "Erreur abstraite";
const char* const SOutOfMemory = "Mémoire insuffisante";
const char* const SInvalidBitmap = "Image bitmap incorrecte";
const char* const SScanLine = "Indice de ligne de balayage hors limites";
const char* const SUnknownClipboardFormat = "Format de presse-papiers non pris en charge";

std::string TStringList::Text() const {
  std::string text;
  for (const std::string& line : FLines) text += line + "\r\n";
  return text;
}

void TStringList::SetText(const std::string& text) {
  FLines.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      FLines.push_back(text.substr(start));
      break;
    }
    FLines.push_back(text.substr(start, end - start));
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
}
