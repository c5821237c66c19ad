// Extensions of a frame: the list and its reading loop, graphic control, plain text and
// comment extensions.
#include <algorithm>

#include "gif_glue.h"

TGIFImage* TGIFExtensionList::GetImage() const {
  return FFrame ? FFrame->Image() : nullptr;
}

TGIFExtension* TGIFExtensionList::Extensions(int Index) const {
  return static_cast<TGIFExtension*>(Items(Index));
}

void TGIFExtensionList::LoadFromStream(TStream& Stream) {
  uint8_t b = 0;
  if (!TryReadByte(Stream, b)) return;
  while (b != ',' && b != ';') {
    if (b != '!') {
      Warning(gsWarning, gifmsg::sBadExtensionIntro);
      break;
    }
    const TGIFExtensionClass* cls = TGIFExtension::FindExtension(Stream);
    if (!cls) {
      // A label nobody registered is kept as it is, so the picture still loads; an
      // incomplete application header remains an error.
      uint8_t label = 0;
      if (!PeekByte(Stream, label) || label == 0xFF) GIFError(gifmsg::sUnknownExtension);
      Warning(gsWarning, gifmsg::sUnknownExtension);
      cls = &ExtensionClassOf<TGIFUnknownExtension>();
    }
    Stream.Seek(-1, soCurrent);
    TGIFExtension* ext = TGIFExtension::Create(*cls, FFrame);
    try {
      ext->LoadFromStream(Stream);
    } catch (...) {
      Delete(IndexOf(ext));
      throw;
    }
    if (!TryReadByte(Stream, b)) return;
  }
  Stream.Seek(-1, soCurrent);
}

void TGIFExtensionList::Assign(TGIFExtensionList& Source) {
  if (&Source == this) return;
  TMemoryStream stream;
  Source.SaveToStream(stream);
  // The list loop stops at "," or ";": the terminator makes it end cleanly.
  WriteByte(stream, ';');
  stream.SetPosition(0);
  LoadFromStream(stream);
}

TGIFExtension::TGIFExtension(TGIFFrame* AFrame)
    : TGIFItem(AFrame ? AFrame->Image() : nullptr), FFrame(AFrame) {}

void TGIFExtension::Assign(TGIFExtension& Source) {
  if (&Source == this) return;
  TMemoryStream stream;
  Source.SaveToStream(stream);
  stream.SetPosition(0);
  LoadFromStream(stream);
}

void TGIFExtension::SaveToStream(TStream& Stream) {
  uint8_t intro[2] = {'!', ExtensionType()};
  Stream.WriteBuffer(intro, 2);
}

void TGIFExtension::LoadFromStream(TStream& Stream) {
  uint8_t intro[2];
  ReadExact(Stream, intro, 2);
  if (intro[0] != '!') GIFError(gifmsg::sBadExtensionIntro);
  if (intro[1] != ExtensionType()) GIFError(gifmsg::sExtensionMismatch);
}

// ---------------------------------------------------------------------------------------

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFFrame* AFrame)
    : TGIFExtension(AFrame) {
  if (!FFrame) return;
  if (FFrame->FGCE)
    Warning(gsWarning, gifmsg::sSeveralGCE);
  else
    FFrame->FGCE = this;
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension() {
  if (FFrame && FFrame->FGCE == this) FFrame->FGCE = nullptr;
}

void TGIFGraphicControlExtension::SaveToStream(TStream& Stream) {
  TGIFExtension::SaveToStream(Stream);
  // The block size and terminator read from a damaged file are kept in the record but not
  // written: the four data bytes and the terminator below always follow, so any other size
  // byte would make the file unreadable from this block on.
  uint8_t r[6] = {4, FGCExtension.PackedFields, 0, 0, FGCExtension.TransparentColorIndex, 0};
  PutLE16(r + 2, FGCExtension.DelayTime);
  Stream.WriteBuffer(r, 6);
}

void TGIFGraphicControlExtension::LoadFromStream(TStream& Stream) {
  TGIFExtension::LoadFromStream(Stream);
  // A record cut short keeps, beyond the bytes that came, what it held before.
  uint8_t r[6] = {
      FGCExtension.BlockSize, FGCExtension.PackedFields, 0, 0, FGCExtension.TransparentColorIndex,
      FGCExtension.Terminator};
  PutLE16(r + 2, FGCExtension.DelayTime);
  int64_t got = Stream.Read(r, 6);
  if (got < 6) Warning(gsWarning, gifmsg::sPrematureEOF);
  FGCExtension.BlockSize = r[0];
  FGCExtension.PackedFields = r[1];
  FGCExtension.DelayTime = GetLE16(r + 2);
  FGCExtension.TransparentColorIndex = r[4];
  FGCExtension.Terminator = r[5];
}

void TGIFGraphicControlExtension::SetTransparent(bool Value) {
  if (Value) {
    FGCExtension.PackedFields |= 0x01;
    SetTransparentColorIndex(FGCExtension.TransparentColorIndex);
  } else {
    FGCExtension.PackedFields &= uint8_t(~0x01);
  }
}

void TGIFGraphicControlExtension::SetUserInput(bool Value) {
  FGCExtension.PackedFields =
      uint8_t(Value ? (FGCExtension.PackedFields | 0x02) : (FGCExtension.PackedFields & ~0x02));
}

void TGIFGraphicControlExtension::SetDisposal(TDisposalMethod Value) {
  FGCExtension.PackedFields =
      uint8_t((FGCExtension.PackedFields & ~0x1C) | ((int(Value) * 4) & 0x1C));
}

void TGIFGraphicControlExtension::SetTransparentColorIndex(int Value) {
  if (FFrame) {
    TGIFColorMap& map = FFrame->ActiveColorMap();
    int n = map.Count();
    if (n > 0 && Value >= n) {
      if (Value == n && n < 256) {
        map.Add(TransparentFillColor);
        Warning(gsWarning, gifmsg::sColorExtended);
      } else {
        Warning(gsWarning, gifmsg::sBadColorIndex);
        Value = 0;
      }
    }
  }
  FGCExtension.TransparentColorIndex = uint8_t(Value);
}

TColor TGIFGraphicControlExtension::TransparentColor() {
  if (!FFrame) return clBlack;
  return FFrame->ActiveColorMap().GetColor(TransparentColorIndex());
}

void TGIFGraphicControlExtension::SetTransparentColor(TColor Value) {
  if (!FFrame) return;
  FGCExtension.TransparentColorIndex = uint8_t(FFrame->ActiveColorMap().AddUnique(Value));
}

// ---------------------------------------------------------------------------------------

TColor TGIFTextExtension::ForegroundColor() {
  return FFrame ? FFrame->ActiveColorMap().GetColor(ForegroundColorIndex()) : clBlack;
}

TColor TGIFTextExtension::BackgroundColor() {
  return FFrame ? FFrame->ActiveColorMap().GetColor(BackgroundColorIndex()) : clBlack;
}

void TGIFTextExtension::SaveToStream(TStream& Stream) {
  TGIFExtension::SaveToStream(Stream);
  const TGIFPlainTextExtensionRec& p = FPlainTextExtension;
  uint8_t r[13] = {12};  // the twelve bytes below always follow, whatever size was read
  PutLE16(r + 1, p.Left);
  PutLE16(r + 3, p.Top);
  PutLE16(r + 5, p.Width);
  PutLE16(r + 7, p.Height);
  r[9] = p.CellWidth;
  r[10] = p.CellHeight;
  r[11] = p.TextFGColorIndex;
  r[12] = p.TextBGColorIndex;
  Stream.WriteBuffer(r, 13);
  WriteSubBlockText(Stream, FText);
}

void TGIFTextExtension::LoadFromStream(TStream& Stream) {
  TGIFExtension::LoadFromStream(Stream);
  uint8_t r[13];
  ReadExact(Stream, r, 13);
  TGIFPlainTextExtensionRec& p = FPlainTextExtension;
  p.BlockSize = r[0];
  p.Left = GetLE16(r + 1);
  p.Top = GetLE16(r + 3);
  p.Width = GetLE16(r + 5);
  p.Height = GetLE16(r + 7);
  p.CellWidth = r[9];
  p.CellHeight = r[10];
  p.TextFGColorIndex = r[11];
  p.TextBGColorIndex = r[12];
  ReadSubBlockText(Stream, FText);
}

void TGIFCommentExtension::SaveToStream(TStream& Stream) {
  TGIFExtension::SaveToStream(Stream);
  WriteSubBlockText(Stream, FText);
}

void TGIFCommentExtension::LoadFromStream(TStream& Stream) {
  TGIFExtension::LoadFromStream(Stream);
  ReadSubBlockText(Stream, FText);
}

void TGIFUnknownExtension::SaveToStream(TStream& Stream) {
  TGIFExtension::SaveToStream(Stream);
  for (const auto& block : FBlocks) block->SaveToStream(Stream);
  WriteByte(Stream, 0);
}

void TGIFUnknownExtension::LoadFromStream(TStream& Stream) {
  uint8_t intro[2];
  ReadExact(Stream, intro, 2);
  if (intro[0] != '!') GIFError(gifmsg::sBadExtensionIntro);
  FLabel = intro[1];
  FBlocks.clear();
  uint8_t size = 0;
  while (TryReadByte(Stream, size) && size != 0) {
    auto block = std::make_unique<TGIFBlock>(size);
    block->LoadFromStream(Stream);
    FBlocks.push_back(std::move(block));
  }
}
