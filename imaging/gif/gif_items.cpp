// Items, owning lists, the unit settings and the small stream helpers of the GIF code.
#include <algorithm>

#include "gif_glue.h"

bool DefaultAnimate = false;
TGIFAnimationLoop DefaultAnimateLoop = glEnabled;
TGIFDithering DefaultDithering = gdDisabled;
TColorReduction DefaultColorReduction = rmQuantize;
int DefaultReductionBits = 8;
TDitherMode DefaultDitherMode = dmFloydSteinberg;
int DefaultAnimationSpeed = 100;
bool RenderOnLoad = false;
bool OptimizeOnStream = false;
int LargeBitmapPixels = 500000;
TColor TransparentFillColor = clBlack;
bool PaletteDisplay = false;
bool DitherOnPaletteDisplay = false;
TClipboardFormat GIFClipboardFormat = 0;

void ReadExact(TStream& Stream, void* Buffer, int64_t Count) {
  if (Count > 0 && Stream.Read(Buffer, Count) != Count) GIFError(gifmsg::sPrematureEOF);
}

int BitsForColorCount(int Count) {
  if (Count <= 0) return 0;
  int n = 1;
  while ((1 << n) < Count) ++n;
  return n;
}

uint8_t ReadByte(TStream& Stream) {
  uint8_t b = 0;
  if (Stream.Read(&b, 1) != 1) return 0;
  return b;
}

void WriteByte(TStream& Stream, uint8_t Value) {
  Stream.WriteBuffer(&Value, 1);
}

bool PeekByte(TStream& s, uint8_t& b) {
  if (s.Read(&b, 1) != 1) return false;
  s.Seek(-1, soCurrent);
  return true;
}

void TGIFItem::SaveToFile(const std::string& Filename) {
  TFileStream stream(Filename, fmCreate);
  SaveToStream(stream);
}

void TGIFItem::LoadFromFile(const std::string& Filename) {
  TFileStream stream(Filename, fmOpenRead);
  LoadFromStream(stream);
}

void TGIFItem::Warning(TGIFSeverity Severity, const std::string& Message) {
  if (FImage)
    FImage->Warning(this, Severity, Message);
  else if (Severity == gsError)
    throw GIFException(Message);
}

void TGIFList::Warning(TGIFSeverity Severity, const std::string& Message) {
  if (TGIFImage* image = GetImage())
    image->Warning(this, Severity, Message);
  else if (Severity == gsError)
    throw GIFException(Message);
}

void TGIFList::SaveToStream(TStream& Stream) {
  for (auto& item : FItems) item->SaveToStream(Stream);
}

int TGIFList::Add(std::unique_ptr<TGIFItem> Item) {
  int index = IndexOf(Item.get());
  if (index >= 0) {
    (void)Item.release();  // already owned by this list
    return index;
  }
  FItems.push_back(std::move(Item));
  return Count() - 1;
}

void TGIFList::Delete(int Index) {
  if (Index < 0 || Index >= Count()) throw EInvalidGraphicOperation("Indice de liste hors limites");
  // Taken out first: an item's destructor may look at the list.
  std::unique_ptr<TGIFItem> item = std::move(FItems[size_t(Index)]);
  FItems.erase(FItems.begin() + Index);
}

void TGIFList::Clear() {
  while (!FItems.empty()) Delete(0);
}

int TGIFList::Remove(TGIFItem* Item, std::unique_ptr<TGIFItem>& Taken) {
  int index = IndexOf(Item);
  if (index < 0) return -1;
  Taken = std::move(FItems[size_t(index)]);
  FItems.erase(FItems.begin() + index);
  return index;
}

void TGIFList::Insert(int Index, std::unique_ptr<TGIFItem> Item) {
  Index = std::clamp(Index, 0, Count());
  FItems.insert(FItems.begin() + Index, std::move(Item));
}

void TGIFList::Exchange(int Index1, int Index2) {
  std::swap(FItems.at(size_t(Index1)), FItems.at(size_t(Index2)));
}

void TGIFList::Move(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  std::unique_ptr<TGIFItem> item = std::move(FItems.at(size_t(CurIndex)));
  FItems.erase(FItems.begin() + CurIndex);
  FItems.insert(FItems.begin() + std::clamp(NewIndex, 0, Count()), std::move(item));
}

int TGIFList::IndexOf(const TGIFItem* Item) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == Item) return int(i);
  return -1;
}

TGIFItem* TGIFList::Items(int Index) const {
  return FItems.at(size_t(Index)).get();
}

void TGIFList::SetItems(int Index, std::unique_ptr<TGIFItem> Item) {
  std::unique_ptr<TGIFItem> old = std::move(FItems.at(size_t(Index)));
  FItems[size_t(Index)] = std::move(Item);
}
