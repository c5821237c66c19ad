// TPngImage: life cycle, settings, the load and save loops, copying another PNG picture and
// the registration with the picture registry.
#include <algorithm>
#include <cstring>

#include "png_internal.h"
#include "png_read_internal.h"

TPngImage::TPngImage() : fChunkList(this) {
  ResetGammaTables();
}

TPngImage::~TPngImage() {
  ClearChunkList();
}

void TPngImage::SetCompressionLevel(TCompressionLevel value) {
  fCompressionLevel = std::clamp(value, 0, 9);
}

void TPngImage::ResetGammaTables() {
  for (int i = 0; i < 256; ++i) {
    GammaTable[size_t(i)] = uint8_t(i);
    InverseGamma[size_t(i)] = uint8_t(i);
  }
}

void TPngImage::ClearChunkList() {
  ResetGammaTables();
  fChunkList.SetCount(0);
}

bool TPngImage::HasHeader() const {
  const TChunk* first = fChunkList.GetItem(0);
  return first && dynamic_cast<const TChunkIHDR*>(first) != nullptr;
}

TChunkIHDR& TPngImage::Header() const {
  if (!HasHeader()) throw EPNGHeaderNotPresent();
  return *static_cast<TChunkIHDR*>(fChunkList.GetItem(0));
}

TChunkIHDR& ImageHeader(const TPngImage& image) {
  TChunkIHDR& header = image.Header();
  if (!IsStandardPngPair(header.ColorType(), header.BitDepth())) throw EPNGHeaderNotPresent();
  return header;
}

int TPngImage::Width() const {
  return HasHeader() ? int(Header().Width()) : 0;
}
int TPngImage::Height() const {
  return HasHeader() ? int(Header().Height()) : 0;
}
void TPngImage::SetWidth(int value) {
  Resize(value, Height());
}
void TPngImage::SetHeight(int value) {
  Resize(Width(), value);
}

HPALETTE TPngImage::Palette() {
  return HasHeader() ? Header().ImagePalette() : nullptr;
}

void TPngImage::SetPalette(HPALETTE palette) {
  ReplacePalette(CopyPalette(palette), true);
}

void TPngImage::GetRowAndPixelBytes(uint32_t& rowBytes, uint32_t& offset) const {
  rowBytes = offset = 0;
  if (!HasHeader()) return;
  const TChunkIHDR& h = Header();
  rowBytes = PngRowBytes(h.ColorType(), h.BitDepth(), h.Width());
  offset = PngFilterOffset(h.ColorType(), h.BitDepth());
}

// ---------------------------------------------------------------------------------------
// Loading and saving

namespace {

bool NameIs(const TChunkName& name, const char (&text)[5]) {
  return std::memcmp(name.data(), text, 4) == 0;
}

}  // namespace

void TPngImage::LoadFromStream(TStream& stream) {
  ClearChunkList();
  uint8_t signature[8] = {};
  if (stream.Read(signature, 8) != 8 || std::memcmp(signature, kPngSignature, 8) != 0)
    throw EPNGInvalidFileHeader();

  TPNGList& list = fChunkList;
  list.SetCount(10);
  bool hasIdat = false;
  int n = 0;
  for (;;) {
    ++n;
    if (list.Count() < n) list.SetCount(list.Count() + 10);
    uint8_t head[8];
    if (stream.Read(head, 8) != 8) {
      // The file ends between chunks (or inside a chunk's length or name).
      list.SetCount(n - 1);
      throw EPngUnexpectedEnd();
    }
    const uint32_t length = ReadBE32(head);
    TChunkName name;
    std::memcpy(name.data(), head + 4, 4);
    if (n == 1 && !NameIs(name, "IHDR")) {
      list.SetCount(n - 1);
      throw EPNGIHDRNotFirst();
    }
    if ((hasIdat && NameIs(name, "IDAT")) || NameIs(name, "cHRM")) {
      // Later IDAT chunks: the first IDAT object has read all the image data it needs.
      if (int64_t(length) + 4 > StreamRemaining(stream)) {
        list.SetCount(n - 1);
        throw EPngUnexpectedEnd();
      }
      stream.Seek(int64_t(length) + 4, soCurrent);
      --n;
      continue;
    }
    if (NameIs(name, "IDAT")) hasIdat = true;
    list.SetItem(n - 1, MakeChunkForName(this, name));
    TChunk* chunk = list.GetItem(n - 1);
    if (&chunk->ClassType() == &ChunkClassOf<TChunk>() && (name[0] & 0x20) == 0) {
      list.SetCount(n);
      throw EPNGUnknownCriticalChunk();
    }
    bool loaded = false;
    try {
      loaded = chunk->LoadFromStream(stream, name, length);
    } catch (...) {
      list.SetCount(n);
      throw;
    }
    if (!loaded || NameIs(name, "IEND")) break;
  }
  list.SetCount(n);
  if (!hasIdat) throw EPNGNoImageData();
  Changed();
}

void TPngImage::SaveToStream(TStream& stream) {
  // Refused before the first byte: without a header, or with no pixels, the result would
  // be a file that no reader accepts.
  if (!HasHeader()) throw EPNGHeaderNotPresent();
  if (Header().Width() == 0 || Header().Height() == 0) throw EPngError(EPngEmptyImageText);
  stream.WriteBuffer(kPngSignature, 8);
  for (int i = 0; i < fChunkList.Count(); ++i)
    if (TChunk* chunk = fChunkList.GetItem(i)) chunk->SaveToStream(stream);
}

void TPngImage::LoadFromResourceName(void*, const std::string&) {
  // Programs on this platform carry no resource sections to load pictures from.
  throw EPNGCouldNotLoadResource();
}

void TPngImage::LoadFromResourceID(void*, int) {
  throw EPNGCouldNotLoadResource();
}

// ---------------------------------------------------------------------------------------
// Copying

void TPngImage::Assign(TGraphic& source) {
  if (auto* png = dynamic_cast<TPngImage*>(&source)) {
    AssignPng(*png);
  } else if (auto* bitmap = dynamic_cast<TBitmap*>(&source)) {
    AssignHandle(*bitmap, bitmap->Transparent(), bitmap->TransparentColor());
  } else {
    TGraphic::Assign(source);
  }
}

void TPngImage::AssignPng(const TPngImage& source) {
  if (&source == this) return;
  fInterlaceMethod = source.fInterlaceMethod;
  SetMaxIdatSize(source.fMaxIdatSize);
  fCompressionLevel = source.fCompressionLevel;
  fFilters = source.fFilters;
  ClearChunkList();
  const TPNGList& from = source.Chunks();
  fChunkList.SetCount(from.Count());
  for (int i = 0; i < from.Count(); ++i) {
    TChunk* original = from.GetItem(i);
    if (!original) continue;
    fChunkList.SetItem(i, original->ClassType().Create(this));
    fChunkList.GetItem(i)->Assign(*original);
  }
  InverseGamma = source.InverseGamma;
  Changed();
}

// ---------------------------------------------------------------------------------------
// Registration

namespace {
int registrations = 0;
}

void RegisterPngImage() {
  if (registrations++ == 0)
    TPicture::RegisterFileFormat("PNG", "Portable Network Graphics", ClassOf<TPngImage>());
}

void UnregisterPngImage() {
  if (registrations > 0 && --registrations == 0)
    TPicture::UnregisterGraphicClass(ClassOf<TPngImage>());
}
