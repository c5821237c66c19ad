// Rectangles, the size budget, screen facts and the clipboard's format names.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <map>

#include "framework.h"

TRect TRect::Normalized() const {
  return TRect{std::min(Left, Right), std::min(Top, Bottom), std::max(Left, Right),
               std::max(Top, Bottom)};
}

TRect IntersectRect(const TRect& a, const TRect& b) {
  TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
          std::min(a.Bottom, b.Bottom)};
  if (r.IsEmpty()) return TRect{};
  return r;
}

namespace {
uint64_t gImageBudget = uint64_t(1) << 30;
}

uint64_t GetImageBudget() {
  return gImageBudget;
}
void SetImageBudget(uint64_t bytes) {
  gImageBudget = bytes;
}

void CheckImageBudget(uint64_t bytes) {
  if (bytes > gImageBudget)
    throw EOutOfResources("Mémoire insuffisante : l'image est trop grande pour être ouverte (" +
                          std::to_string(bytes / (1024 * 1024)) + " Mio demandés).");
}

int64_t DibStride(int64_t width, int bitCount) {
  if (bitCount == 15) bitCount = 16;
  return ((int64_t(bitCount) * std::max<int64_t>(width, 0) + 31) / 32) * 4;
}

uint64_t CheckedDibSize(int64_t width, int64_t height, int bitCount) {
  // Widths and heights come from file headers: keep the product inside 64 bits before
  // comparing it with the budget.
  constexpr int64_t kMaxSide = int64_t(1) << 31;
  width = std::clamp<int64_t>(width, 0, kMaxSide);
  height = std::clamp<int64_t>(height, 0, kMaxSide);
  // Clamped sides still overflow 64 bits at 32 bits per pixel: refuse before multiplying.
  uint64_t stride = uint64_t(DibStride(width, bitCount));
  if (height != 0 && stride > std::numeric_limits<uint64_t>::max() / uint64_t(height))
    CheckImageBudget(std::numeric_limits<uint64_t>::max());
  uint64_t bytes = stride * uint64_t(height);
  CheckImageBudget(bytes);
  return bytes;
}

int ScreenBitsPerPixel() {
  return 32;
}
int ScreenPlanes() {
  return 1;
}
int ScreenPixelsPerInch() {
  return 96;
}

int BitCountOf(TPixelFormat format) {
  switch (format) {
    case pf1bit:
      return 1;
    case pf4bit:
      return 4;
    case pf8bit:
      return 8;
    case pf15bit:
      return 15;
    case pf16bit:
      return 16;
    case pf24bit:
      return 24;
    case pfDevice:
    case pf32bit:
    case pfCustom:
      return 32;
  }
  return 32;
}

TPixelFormat PixelFormatOf(int bitCount) {
  switch (bitCount) {
    case 1:
      return pf1bit;
    case 4:
      return pf4bit;
    case 8:
      return pf8bit;
    case 15:
      return pf15bit;
    case 16:
      return pf16bit;
    case 24:
      return pf24bit;
    case 32:
      return pf32bit;
    default:
      return pfCustom;
  }
}

namespace {
std::map<std::string, TClipboardFormat>& ClipboardNames() {
  static std::map<std::string, TClipboardFormat> names;
  return names;
}
}  // namespace

TClipboardFormat RegisterClipboardFormatName(const std::string& name) {
  auto& names = ClipboardNames();
  auto it = names.find(name);
  if (it != names.end()) return it->second;
  TClipboardFormat id = TClipboardFormat(0xC000 + names.size());
  names.emplace(name, id);
  return id;
}

std::string ClipboardFormatName(TClipboardFormat format) {
  for (const auto& [name, id] : ClipboardNames())
    if (id == format) return name;
  return {};
}

std::string SystemErrorText(int errorNumber) {
  switch (errorNumber) {
    case ENOENT:
      return "fichier ou dossier introuvable";
    case EACCES:
    case EPERM:
      return "accès refusé";
    case ENOSPC:
      return "plus de place sur le disque";
    case EROFS:
      return "support en lecture seule";
    case EISDIR:
      return "c'est un dossier";
    case ENOTDIR:
      return "un élément du chemin n'est pas un dossier";
    case ENAMETOOLONG:
      return "nom de fichier trop long";
    case EIO:
      return "erreur d'entrée-sortie";
    default:
      return std::strerror(errorNumber);
  }
}
