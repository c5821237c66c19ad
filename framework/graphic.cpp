// TGraphic: what every picture class shares.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "framework.h"

void TGraphic::LoadFromFile(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead);
  LoadFromStream(stream);
}

namespace {

std::string TemporaryNameBeside(const std::string& fileName) {
  static std::atomic<unsigned> counter{0};
  return fileName + ".vitrelle-" + std::to_string(::getpid()) + "-" +
         std::to_string(counter.fetch_add(1)) + ".tmp";
}

}  // namespace

void TGraphic::SaveToFile(const std::string& fileName) {
  // Written beside the target, then renamed over it: a failed save leaves any existing
  // file as it was and never leaves half a picture behind.
  std::string temporary = TemporaryNameBeside(fileName);
  try {
    {
      TFileStream stream(temporary, fmCreate);
      SaveToStream(stream);
      stream.Flush();
    }
    if (std::rename(temporary.c_str(), fileName.c_str()) != 0)
      throw EFCreateError("Impossible de créer le fichier « " + fileName +
                          " » : " + SystemErrorText(errno));
  } catch (const EFCreateError& e) {
    std::remove(temporary.c_str());
    std::string reason = e.Message();
    auto colon = reason.rfind(" : ");
    throw EFCreateError("Impossible de créer le fichier « " + fileName + " »" +
                        (colon == std::string::npos ? "" : reason.substr(colon)));
  } catch (...) {
    std::remove(temporary.c_str());
    throw;
  }
}

void TGraphic::Assign(TGraphic& source) {
  if (&source == this) return;
  source.AssignTo(*this);
}

void TGraphic::AssignTo(TGraphic& dest) {
  throw EConvertError("Impossible de convertir une image " + ClassName() + " en " +
                      dest.ClassName());
}

bool TGraphic::OpaquePixels(TPixelView&) {
  return false;
}

void TGraphic::SetWidth(int) {
  throw EInvalidGraphicOperation("Impossible de modifier la taille de cette image");
}

void TGraphic::SetHeight(int) {
  throw EInvalidGraphicOperation("Impossible de modifier la taille de cette image");
}

void TGraphic::SetTransparent(bool value) {
  if (value == FTransparent) return;
  FTransparent = value;
  Changed();
}

void TGraphic::LoadFromClipboardFormat(TClipboardFormat, const TClipboardData&, HPALETTE) {
  throw EInvalidGraphic(SUnknownClipboardFormat);
}

void TGraphic::SaveToClipboardFormat(TClipboardFormat&, TClipboardData&,
                                     std::unique_ptr<TPalette>&) {
  throw EInvalidGraphic(SUnknownClipboardFormat);
}

bool TGraphic::Equals(TGraphic& other) {
  if (&other == this) return true;
  if (&other.ClassType() != &ClassType()) return false;
  if (Empty() || other.Empty()) return Empty() && other.Empty();
  TMemoryStream a, b;
  SaveToStream(a);
  other.SaveToStream(b);
  // Two empty streams have no memory to compare (memcmp must not see null pointers).
  return a.Size() == b.Size() &&
         (a.Size() == 0 || std::memcmp(a.Memory(), b.Memory(), size_t(a.Size())) == 0);
}

void TGraphic::SetModified(bool value) {
  if (value)
    Changed();
  else
    FModified = false;
}

void TGraphic::Changed() {
  FModified = true;
  if (OnChange) OnChange(*this);
}

void TGraphic::Progress(TProgressStage stage, uint8_t percentDone, bool redrawNow,
                        const TRect& rect, const std::string& message) {
  if (OnProgress) OnProgress(*this, stage, percentDone, redrawNow, rect, message);
}
