// The header (signature, logical screen, global colour map) and the trailer.
#include <cctype>
#include <cstring>

#include "gif_glue.h"

TGIFHeader::TGIFHeader(TGIFImage* GIFImage)
    : TGIFItem(GIFImage), FColorMap(std::make_unique<TGIFGlobalColorMap>(this)) {
  Clear();
}

void TGIFHeader::Clear() {
  FColorMap->Clear();
  FLogicalScreenDescriptor = TLogicalScreenDescriptor{};
}

void TGIFHeader::Assign(const TGIFHeader& Source) {
  if (&Source == this) return;
  FColorMap->Assign(*Source.FColorMap);
  FLogicalScreenDescriptor = Source.FLogicalScreenDescriptor;
}

void TGIFHeader::Assign(const TGIFColorMap& Source) {
  Clear();
  FColorMap->Assign(Source);
}

void TGIFHeader::SetBackgroundColorIndex(int Value) {
  if (FColorMap->Count() > 0 && Value >= FColorMap->Count()) {
    Warning(gsWarning, gifmsg::sBadColorIndex);
    Value = 0;
  }
  FLogicalScreenDescriptor.BackgroundColorIndex = uint8_t(Value);
  if (FImage) FImage->Changed();
}

TColor TGIFHeader::BackgroundColor() {
  return FColorMap->GetColor(BackgroundColorIndex());
}

void TGIFHeader::SetBackgroundColor(TColor Value) {
  SetBackgroundColorIndex(FColorMap->AddUnique(Value));
}

TGIFVersion TGIFHeader::Version() const {
  return (FColorMap->Optimized() || AspectRatio() != 0) ? gv89a : gv87a;
}

void TGIFHeader::Prepare() {
  uint8_t packed = 0;
  if (FColorMap->Count() > 0) {
    packed |= 0x80;
    if (FColorMap->Optimized()) packed |= 0x08;
  }
  packed |= uint8_t((ColorResolution() << 4) & 0x70);
  packed |= uint8_t((BitsPerPixel() - 1) & 7);
  FLogicalScreenDescriptor.PackedFields = packed;
}

namespace {

bool IsSignature(const uint8_t* b) {
  return std::toupper(b[0]) == 'G' && std::toupper(b[1]) == 'I' && std::toupper(b[2]) == 'F';
}

}  // namespace

void TGIFHeader::LoadFromStream(TStream& Stream) {
  int64_t start = Stream.Position();
  uint8_t signature[6];
  ReadExact(Stream, signature, 6);
  if (!IsSignature(signature)) {
    // A GIF behind a 4-byte prefix is accepted too.
    Stream.SetPosition(start + 4);
    ReadExact(Stream, signature, 6);
    if (!IsSignature(signature)) GIFError(gifmsg::sBadSignature);
  }
  uint8_t lsd[7];
  ReadExact(Stream, lsd, 7);
  FLogicalScreenDescriptor.ScreenWidth = GetLE16(lsd);
  FLogicalScreenDescriptor.ScreenHeight = GetLE16(lsd + 2);
  FLogicalScreenDescriptor.PackedFields = lsd[4];
  FLogicalScreenDescriptor.BackgroundColorIndex = lsd[5];
  FLogicalScreenDescriptor.AspectRatio = lsd[6];
  if (lsd[4] & 0x80)
    FColorMap->LoadFromStream(Stream, 2 << (lsd[4] & 7));
  else
    FColorMap->Clear();
}

void TGIFHeader::SaveToStream(TStream& Stream) {
  TGIFVersion version = FImage ? FImage->Version() : Version();
  if (version == gvUnknown) GIFError(gifmsg::sEmptyImage);
  Prepare();
  const char* text = version == gv87a ? "GIF87a" : "GIF89a";
  Stream.WriteBuffer(text, 6);
  uint8_t lsd[7];
  PutLE16(lsd, FLogicalScreenDescriptor.ScreenWidth);
  PutLE16(lsd + 2, FLogicalScreenDescriptor.ScreenHeight);
  lsd[4] = FLogicalScreenDescriptor.PackedFields;
  lsd[5] = FLogicalScreenDescriptor.BackgroundColorIndex;
  lsd[6] = FLogicalScreenDescriptor.AspectRatio;
  Stream.WriteBuffer(lsd, 7);
  if (lsd[4] & 0x80) FColorMap->SaveToStream(Stream);
}

void TGIFTrailer::SaveToStream(TStream& Stream) {
  WriteByte(Stream, ';');
}

void TGIFTrailer::LoadFromStream(TStream& Stream) {
  uint8_t b = 0;
  if (TryReadByte(Stream, b) && b != ';') Warning(gsWarning, gifmsg::sBadTrailer);
}
