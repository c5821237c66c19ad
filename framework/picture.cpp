// TPicture: one picture of any registered class, and the registry of picture classes.
#include <algorithm>
#include <cctype>

#include "framework.h"

namespace {

std::string Lower(std::string s) {
  for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string StripDot(const std::string& extension) {
  return !extension.empty() && extension[0] == '.' ? extension.substr(1) : extension;
}

// Newest registrations first, so a later class can take over an extension.
std::vector<TPicture::TFileFormat>& FileFormatList() {
  static std::vector<TPicture::TFileFormat> list{{"bmp", "Bitmaps", &ClassOf<TBitmap>()}};
  return list;
}

struct TClipboardEntry {
  TClipboardFormat Format;
  const TGraphicClass* GraphicClass;
};
std::vector<TClipboardEntry>& ClipboardList() {
  static std::vector<TClipboardEntry> list{{CF_DIB, &ClassOf<TBitmap>()},
                                           {CF_BITMAP, &ClassOf<TBitmap>()}};
  return list;
}

std::string ExtensionOf(const std::string& fileName) {
  auto slash = fileName.find_last_of('/');
  auto dot = fileName.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return fileName.substr(dot + 1);
}

}  // namespace

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

void TPicture::LoadFromFile(const std::string& fileName) {
  std::string ext = ExtensionOf(fileName);
  const TGraphicClass* cls = FindFileFormat(ext);
  if (!cls)
    throw EInvalidGraphic("Format de fichier image inconnu" +
                          (ext.empty() ? std::string() : " (." + ext + ")"));
  std::unique_ptr<TGraphic> graphic = cls->Create();
  graphic->LoadFromFile(fileName);
  FGraphic = std::move(graphic);
  Attach();
  Changed();
}

void TPicture::SaveToFile(const std::string& fileName) {
  if (FGraphic) FGraphic->SaveToFile(fileName);
}

void TPicture::SetGraphic(TGraphic* graphic) {
  if (graphic == FGraphic.get()) return;
  std::unique_ptr<TGraphic> copy;
  if (graphic) {
    copy = graphic->ClassType().Create();
    copy->Assign(*graphic);
  }
  FGraphic = std::move(copy);
  Attach();
  Changed();
}

void TPicture::SetGraphicOwned(std::unique_ptr<TGraphic> graphic) {
  FGraphic = std::move(graphic);
  Attach();
  Changed();
}

void TPicture::Attach() {
  if (FGraphic) FGraphic->OnChange = [this](TGraphic&) { Changed(); };
}

TBitmap& TPicture::Bitmap() {
  if (auto* bitmap = dynamic_cast<TBitmap*>(FGraphic.get())) return *bitmap;
  auto bitmap = std::make_unique<TBitmap>();
  if (FGraphic) bitmap->Assign(*FGraphic);
  TBitmap& result = *bitmap;
  FGraphic = std::move(bitmap);
  Attach();
  Changed();
  return result;
}

int TPicture::Width() const {
  return FGraphic ? FGraphic->Width() : 0;
}
int TPicture::Height() const {
  return FGraphic ? FGraphic->Height() : 0;
}

void TPicture::Assign(TPicture& source) {
  if (&source == this) return;
  SetGraphic(source.Graphic());
}

void TPicture::Changed() {
  if (OnChange) OnChange(*this);
}

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
                                  const TGraphicClass& graphicClass) {
  auto& list = FileFormatList();
  list.insert(list.begin(), TFileFormat{StripDot(extension), description, &graphicClass});
}

void TPicture::UnregisterGraphicClass(const TGraphicClass& graphicClass) {
  auto& files = FileFormatList();
  files.erase(std::remove_if(files.begin(), files.end(),
                             [&](const TFileFormat& f) { return f.GraphicClass == &graphicClass; }),
              files.end());
  auto& clips = ClipboardList();
  clips.erase(
      std::remove_if(clips.begin(), clips.end(),
                     [&](const TClipboardEntry& c) { return c.GraphicClass == &graphicClass; }),
      clips.end());
}

void TPicture::RegisterClipboardFormat(TClipboardFormat format, const TGraphicClass& graphicClass) {
  auto& list = ClipboardList();
  list.insert(list.begin(), TClipboardEntry{format, &graphicClass});
}

const TGraphicClass* TPicture::FindFileFormat(const std::string& extension) {
  std::string ext = Lower(StripDot(extension));
  if (ext.empty()) return nullptr;
  for (const auto& f : FileFormatList())
    if (Lower(f.Extension) == ext) return f.GraphicClass;
  return nullptr;
}

const TGraphicClass* TPicture::FindClipboardFormat(TClipboardFormat format) {
  for (const auto& c : ClipboardList())
    if (c.Format == format) return c.GraphicClass;
  return nullptr;
}

std::vector<TPicture::TFileFormat> TPicture::FileFormats() {
  return FileFormatList();
}
