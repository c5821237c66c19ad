// Application extensions: the base with its identifier, the unknown ones kept block by
// block, and the looping extension.
#include <algorithm>

#include "gif_glue.h"

const TGIFExtensionClass* TGIFApplicationExtension::FindSubExtension(const TGIFExtensionClass& Self,
                                                                     TStream& Stream) {
  int64_t start = Stream.Position();
  uint8_t size = 0;
  if (!TryReadByte(Stream, size)) return nullptr;
  if (size == 10) {
    uint8_t rest[10];
    if (Stream.Read(rest, 10) == 10) return &ExtensionClassOf<TGIFUnknownAppExtension>();
    return nullptr;
  }
  TGIFApplicationRec ident;
  if (size == 11 && Stream.Read(&ident, 11) == 11) {
    const TGIFExtensionClass* cls = AppExtensionRegistry().FindExt(ident);
    return cls ? cls : &ExtensionClassOf<TGIFUnknownAppExtension>();
  }
  Stream.SetPosition(start);
  return &Self;
}

void TGIFApplicationExtension::WriteAppData(TStream&) {
  throw EAbstractError();
}

void TGIFApplicationExtension::ReadAppData(TStream&) {
  throw EAbstractError();
}

void TGIFApplicationExtension::SaveToStream(TStream& Stream) {
  TGIFExtension::SaveToStream(Stream);
  WriteByte(Stream, 11);
  Stream.WriteBuffer(&FIdent, 11);
  WriteAppData(Stream);
}

void TGIFApplicationExtension::LoadFromStream(TStream& Stream) {
  TGIFExtension::LoadFromStream(Stream);
  uint8_t size = ReadByte(Stream);
  // A block of another size resolves to this class, which has no data of its own to
  // read: the load stops with the size message rather than an abstract error.
  if (size != 10 && size != 11 && &ClassType() == &ExtensionClassOf<TGIFApplicationExtension>())
    GIFError(gifmsg::sAppBlockSize);
  if (size == 10) {
    // A 10-byte header: the data starts right after it, the 11th byte repeats it.
    ReadExact(Stream, &FIdent, 11);
    Stream.Seek(-1, soCurrent);
  } else if (size < 11) {
    GIFError(gifmsg::sAppBlockSize);
  } else {
    ReadExact(Stream, &FIdent, 11);
    if (size > 11) Stream.Seek(size - 11, soCurrent);
  }
  ReadAppData(Stream);
}

namespace {

// The bytes of a field up to its first NUL, as text.
std::string FieldText(const uint8_t* field, size_t length) {
  std::string s(reinterpret_cast<const char*>(field), length);
  return Cp1252ToUtf8(s.substr(0, s.find('\0')));
}

// The text in 8-bit characters, up to the field's length or its first NUL, the rest of
// the field spaces.
void StoreField(uint8_t* field, size_t length, const std::string& value) {
  std::string bytes = Utf8ToCp1252(value.substr(0, value.find('\0')));
  bytes.resize(std::min(length, bytes.size()));
  std::fill(field, field + length, uint8_t(' '));
  std::copy(bytes.begin(), bytes.end(), field);
}

}  // namespace

std::string TGIFApplicationExtension::Identifier() const {
  return FieldText(FIdent.Identifier, 8);
}

std::string TGIFApplicationExtension::Authentication() const {
  return FieldText(FIdent.Authentication, 3);
}

void TGIFApplicationExtension::SetIdentifier(const std::string& Value) {
  StoreField(FIdent.Identifier, 8, Value);
}

void TGIFApplicationExtension::SetAuthentication(const std::string& Value) {
  StoreField(FIdent.Authentication, 3, Value);
}

void TGIFBlock::SaveToStream(TStream& Stream) const {
  WriteByte(Stream, FSize);
  if (FSize) Stream.WriteBuffer(FData.data(), FSize);
}

void TGIFBlock::LoadFromStream(TStream& Stream) {
  ReadExact(Stream, FData.data(), FSize);
}

void TGIFUnknownAppExtension::WriteAppData(TStream& Stream) {
  for (const auto& block : FBlocks) block->SaveToStream(Stream);
  WriteByte(Stream, 0);
}

void TGIFUnknownAppExtension::ReadAppData(TStream& Stream) {
  FBlocks.clear();
  uint8_t size = 0;
  while (TryReadByte(Stream, size) && size != 0) {
    auto block = std::make_unique<TGIFBlock>(size);
    block->LoadFromStream(Stream);
    FBlocks.push_back(std::move(block));
  }
}

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFFrame* AFrame)
    : TGIFApplicationExtension(AFrame, ApplicationRec("NETSCAPE2.0")) {}

void TGIFAppExtNSLoop::WriteAppData(TStream& Stream) {
  uint8_t loops[4] = {3, 1, 0, 0};
  PutLE16(loops + 2, FLoops);
  Stream.WriteBuffer(loops, 4);
  if (FBufferSize != 0) {
    uint8_t buffer[6] = {5,
                         2,
                         uint8_t(FBufferSize),
                         uint8_t(FBufferSize >> 8),
                         uint8_t(FBufferSize >> 16),
                         uint8_t(FBufferSize >> 24)};
    Stream.WriteBuffer(buffer, 6);
  }
  WriteByte(Stream, 0);
}

void TGIFAppExtNSLoop::ReadAppData(TStream& Stream) {
  // A missing length byte reads as 0 and ends the data.
  for (;;) {
    int n = ReadByte(Stream);
    if (n == 0) return;
    int id = ReadByte(Stream) & 7;
    if (id == 1) {
      if (n < 3) GIFError(gifmsg::sBadData);
      uint8_t b[2];
      ReadExact(Stream, b, 2);
      FLoops = GetLE16(b);
      Stream.Seek(n - 3, soCurrent);
    } else if (id == 2) {
      if (n < 5) GIFError(gifmsg::sBadData);
      uint8_t b[4];
      ReadExact(Stream, b, 4);
      FBufferSize =
          uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
      Stream.Seek(n - 5, soCurrent);
    } else {
      Stream.Seek(n - 1, soCurrent);
    }
  }
}
