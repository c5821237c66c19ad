// The two registries of extension classes and the class resolution while reading.
#include <memory>

#include "gif_glue.h"

TGIFApplicationRec ApplicationRec(const char* Ident11) {
  TGIFApplicationRec rec;
  for (int i = 0; i < 11 && Ident11[i]; ++i) {
    if (i < 8)
      rec.Identifier[i] = uint8_t(Ident11[i]);
    else
      rec.Authentication[i - 8] = uint8_t(Ident11[i]);
  }
  return rec;
}

TExtensionList::TExtensionList() {
  Add(0x01, ExtensionClassOf<TGIFTextExtension>());
  Add(0xF9, ExtensionClassOf<TGIFGraphicControlExtension>());
  Add(0xFE, ExtensionClassOf<TGIFCommentExtension>());
  Add(0xFF, ExtensionClassOf<TGIFApplicationExtension>());
}

void TExtensionList::Add(uint8_t eLabel, const TGIFExtensionClass& eClass) {
  FEntries.push_back(TExtensionEntry{&eClass, eLabel});
}

const TGIFExtensionClass* TExtensionList::FindExt(uint8_t eLabel) const {
  for (auto it = FEntries.rbegin(); it != FEntries.rend(); ++it)
    if (it->Label == eLabel) return it->Class;
  return nullptr;
}

void TExtensionList::Remove(const TGIFExtensionClass& eClass) {
  std::erase_if(FEntries, [&](const TExtensionEntry& e) { return e.Class == &eClass; });
}

TAppExtensionList::TAppExtensionList() {
  Add(ApplicationRec("NETSCAPE2.0"), ExtensionClassOf<TGIFAppExtNSLoop>());
  Add(ApplicationRec("ANIMEXTS1.0"), ExtensionClassOf<TGIFAppExtNSLoop>());
}

void TAppExtensionList::Add(const TGIFApplicationRec& eIdent, const TGIFExtensionClass& eClass) {
  FEntries.push_back(TAppExtensionEntry{&eClass, eIdent});
}

const TGIFExtensionClass* TAppExtensionList::FindExt(const TGIFApplicationRec& eIdent) const {
  for (auto it = FEntries.rbegin(); it != FEntries.rend(); ++it)
    if (it->Ident == eIdent) return it->Class;
  return nullptr;
}

void TAppExtensionList::Remove(const TGIFExtensionClass& eClass) {
  std::erase_if(FEntries, [&](const TAppExtensionEntry& e) { return e.Class == &eClass; });
}

namespace {

std::unique_ptr<TExtensionList>& ExtensionRegistryPtr() {
  static std::unique_ptr<TExtensionList> registry;
  return registry;
}

std::unique_ptr<TAppExtensionList>& AppExtensionRegistryPtr() {
  static std::unique_ptr<TAppExtensionList> registry;
  return registry;
}

}  // namespace

TExtensionList& ExtensionRegistry() {
  auto& p = ExtensionRegistryPtr();
  if (!p) p = std::make_unique<TExtensionList>();
  return *p;
}

TAppExtensionList& AppExtensionRegistry() {
  auto& p = AppExtensionRegistryPtr();
  if (!p) p = std::make_unique<TAppExtensionList>();
  return *p;
}

void FreeExtensionRegistries() {
  ExtensionRegistryPtr().reset();
  AppExtensionRegistryPtr().reset();
}

void TGIFExtension::RegisterExtension(uint8_t eLabel, const TGIFExtensionClass& eClass) {
  ExtensionRegistry().Add(eLabel, eClass);
}

void TGIFExtension::UnregisterExtension(const TGIFExtensionClass& eClass) {
  ExtensionRegistry().Remove(eClass);
}

void TGIFApplicationExtension::RegisterExtension(const TGIFApplicationRec& eIdent,
                                                 const TGIFExtensionClass& eClass) {
  AppExtensionRegistry().Add(eIdent, eClass);
}

void TGIFApplicationExtension::UnregisterExtension(const TGIFExtensionClass& eClass) {
  AppExtensionRegistry().Remove(eClass);
}

const TGIFExtensionClass* TGIFExtension::FindSubExtension(const TGIFExtensionClass& Self,
                                                          TStream&) {
  return &Self;
}

const TGIFExtensionClass* TGIFExtension::FindExtension(TStream& Stream) {
  int64_t start = Stream.Position();
  uint8_t label = 0;
  if (!TryReadByte(Stream, label)) return nullptr;
  const TGIFExtensionClass* cls = ExtensionRegistry().FindExt(label);
  // Each step reads on from where the previous one stopped.
  // An incomplete application header resolves to no class.
  while (cls) {
    const TGIFExtensionClass* sub = cls->FindSubExtension(*cls, Stream);
    if (sub == cls) break;
    cls = sub;
  }
  Stream.SetPosition(start);
  return cls;
}

TGIFExtension* TGIFExtension::Create(const TGIFExtensionClass& eClass, TGIFFrame* AFrame) {
  std::unique_ptr<TGIFExtension> ext = eClass.New(AFrame);
  TGIFExtension* result = ext.get();
  AFrame->Extensions().Add(std::move(ext));
  return result;
}
