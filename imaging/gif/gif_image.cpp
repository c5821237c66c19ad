// TGIFImage: construction, content, loading and saving, settings and the warning route.
#include <algorithm>

#include "gif_glue.h"

namespace {

// A change of what the frames are packed against: drawing stops first, the frames are
// packed again after, and then the change is announced.
template <class F>
void ChangeRepacked(TGIFImage& image, F&& store) {
  image.StopDraw();
  store();
  image.Pack();
  image.Changed();
}

// A change of the logical screen's size: the composed first frame no longer fits.
template <class F>
void ChangeScreenSize(TGIFImage& image, F&& store) {
  image.StopDraw();
  store();
  image.DropBitmap();
  image.Changed();
}

// A screen size of 0 to 65535 (0 for others), never short of where a frame ends.
template <class F>
int CoveringExtent(int value, TGIFImageList& frames, F&& frameEnd) {
  if (value < 0 || value > 65535) value = 0;
  for (int i = 0; i < frames.Count(); ++i) value = std::max(value, frameEnd(*frames.Frames(i)));
  return value;
}

}  // namespace

TGIFImage::TGIFImage()
    : FAnimate(DefaultAnimate),
      FAnimateLoop(DefaultAnimateLoop),
      FDithering(DefaultDithering),
      FHeader(std::make_unique<TGIFHeader>(this)),
      FImages(std::make_unique<TGIFImageList>(this)),
      FColorReduction(DefaultColorReduction),
      FReductionBits(DefaultReductionBits),
      FAnimationSpeed(DefaultAnimationSpeed),
      FDitherMode(DefaultDitherMode) {
  ResetContent();
  FTransparent = true;
}

TGIFImage::~TGIFImage() {
  StopDraw();
  FBitmap.reset();
  FImages->Clear();
}

void TGIFImage::ResetContent() {
  StopDraw();
  DropBitmap();
  FImages->Clear();
  FHeader->ColorMap().Clear();
  FHeader->SetWidth(0);
  FHeader->SetHeight(0);
  FHeader->Prepare();
  SetPalette(std::unique_ptr<TPalette>());
}

void TGIFImage::Clear() {
  ResetContent();
  Changed();
}

void TGIFImage::Warning(const void* Sender, TGIFSeverity Severity, const std::string& Message) {
  if (OnWarning) {
    OnWarning(Sender, Severity, Message);
    return;
  }
  if (Severity == gsError) throw GIFException(Message);
}

int TGIFImage::Width() const {
  return FHeader->Width();
}

int TGIFImage::Height() const {
  return FHeader->Height();
}

TGIFVersion TGIFImage::Version() const {
  TGIFVersion v = gvUnknown;
  for (int i = 0; i < FImages->Count() && v < gv89a; ++i)
    v = std::max(v, FImages->Frames(i)->GetVersion());
  return v;
}

int TGIFImage::ColorResolution() const {
  int r = FHeader->ColorResolution();
  for (int i = 0; i < FImages->Count(); ++i) r = std::max(r, FImages->Frames(i)->ColorResolution());
  return r;
}

int TGIFImage::BitsPerPixel() const {
  int r = FHeader->BitsPerPixel();
  for (int i = 0; i < FImages->Count(); ++i) r = std::max(r, FImages->Frames(i)->BitsPerPixel());
  return r;
}

bool TGIFImage::IsTransparent() const {
  for (int i = 0; i < FImages->Count(); ++i)
    if (FImages->Frames(i)->Transparent()) return true;
  return false;
}

bool TGIFImage::ShouldDither() const {
  return FDithering == gdEnabled || (FDithering == gdAuto && DitherOnPaletteDisplay);
}

// ---------------------------------------------------------------------------------------
// Loading and saving
// ---------------------------------------------------------------------------------------

void TGIFImageList::LoadFromStream(TStream& Stream) {
  auto skipZeros = [&](uint8_t& b) {
    do
      if (!TryReadByte(Stream, b)) return false;
    while (b == 0);
    return true;
  };
  uint8_t b = 0;
  if (!skipZeros(b)) return;
  while (b != ';') {
    Stream.Seek(-1, soCurrent);
    if (b != '!' && b != ',') {
      Warning(gsWarning, gifmsg::sUnknownBlock);
      break;
    }
    TGIFFrame* frame = TGIFFrame::Create(FImage);
    try {
      frame->LoadFromStream(Stream);
    } catch (...) {
      Delete(IndexOf(frame));
      throw;
    }
    int64_t size = Stream.Size();
    FImage->Progress(
        psRunning,
        uint8_t(size > 0 ? std::clamp<int64_t>(Stream.Position() * 100 / size, 0, 100) : 0),
        RenderOnLoad, TRect{}, gifmsg::sProgressLoading);
    if (frame->Empty() && frame->Extensions().Count() == 0) Delete(IndexOf(frame));
    if (!skipZeros(b)) return;
  }
  Stream.Seek(-1, soCurrent);
}

void TGIFImageList::SaveToStream(TStream& Stream) {
  for (int i = 0; i < Count(); ++i) {
    Frames(i)->SaveToStream(Stream);
    FImage->Progress(psRunning, uint8_t((i + 1) * 100 / Count()), false, TRect{},
                     gifmsg::sProgressSaving);
  }
}

void TGIFImage::LoadFromStream(TStream& Stream) {
  Progress(psStarting, 0, false, TRect{}, gifmsg::sProgressLoading);
  int64_t start = Stream.Position();
  bool ok = false;
  try {
    ResetContent();
    // The reading moves a few bytes at a time: a file is read into memory once first,
    // and its position set afterwards to where the reading ended.
    bool inMemory = dynamic_cast<TMemoryStream*>(&Stream) != nullptr ||
                    dynamic_cast<TReadOnlyMemoryStream*>(&Stream) != nullptr;
    TMemoryStream copy;
    if (!inMemory) {
      int64_t rest = Stream.Size() - start;
      CheckImageBudget(uint64_t(std::max<int64_t>(rest, 0)));
      if (rest > 0) {
        copy.SetSize(rest);  // one allocation of the file's size
        copy.SetPosition(0);
        copy.CopyFrom(Stream, rest);
      }
      copy.SetPosition(0);
    }
    TStream& source = inMemory ? Stream : copy;
    FHeader->LoadFromStream(source);
    FImages->LoadFromStream(source);
    TGIFTrailer trailer(this);
    trailer.LoadFromStream(source);
    if (!inMemory) Stream.SetPosition(start + copy.Position());
    Changed();
    ok = true;
  } catch (...) {
    Stream.SetPosition(start);
    Progress(psEnding, 0, true, TRect{}, gifmsg::sProgressLoading);
    throw;
  }
  if (ok) Progress(psEnding, 100, true, TRect{}, gifmsg::sProgressLoading);
}

void TGIFImage::SaveToStream(TStream& Stream) {
  Progress(psStarting, 0, false, TRect{}, gifmsg::sProgressSaving);
  try {
    FHeader->SaveToStream(Stream);
    FImages->SaveToStream(Stream);
    TGIFTrailer trailer(this);
    trailer.SaveToStream(Stream);
    SetModified(false);
  } catch (...) {
    Progress(psEnding, 0, true, TRect{}, gifmsg::sProgressSaving);
    throw;
  }
  Progress(psEnding, 100, true, TRect{}, gifmsg::sProgressSaving);
}

void TGIFImage::WriteData(TStream& Stream) {
  if (OptimizeOnStream) Optimize(ooAll, rmNone, dmNearest, 8);
  SaveToStream(Stream);
}

// ---------------------------------------------------------------------------------------
// Frames from other pictures
// ---------------------------------------------------------------------------------------

namespace {

// A new frame of the image, given its content by Fill; freed again when that fails.
template <class F>
TGIFFrame* NewFrame(TGIFImage& Image, F&& Fill) {
  TGIFFrame* frame = TGIFFrame::Create(&Image);
  try {
    Fill(*frame);
  } catch (...) {
    Image.Images().Delete(Image.Images().IndexOf(frame));
    throw;
  }
  return frame;
}

}  // namespace

TGIFFrame* TGIFImage::Add(TGIFFrame& Source) {
  TGIFFrame* frame = NewFrame(*this, [&](TGIFFrame& f) { f.Assign(&Source); });
  DropBitmap();
  Changed();
  return frame;
}

TGIFFrame* TGIFImage::Add(TGraphic& Source) {
  TGIFFrame* last = nullptr;
  if (auto* gif = dynamic_cast<TGIFImage*>(&Source)) {
    // Counted once: adding the image to itself appends to the list being read.
    const int count = gif->Images().Count();
    for (int i = 0; i < count; ++i)
      last = NewFrame(*this, [&](TGIFFrame& f) { f.Assign(gif->Images().Frames(i)); });
  } else {
    last = NewFrame(*this, [&](TGIFFrame& f) { f.Assign(Source); });
  }
  DropBitmap();
  Changed();
  return last;
}

void TGIFImage::Assign(TGraphic& Source) {
  if (&Source == this) return;
  if (auto* gif = dynamic_cast<TGIFImage*>(&Source)) {
    ResetContent();
    OnProgress = gif->OnProgress;
    OnWarning = gif->OnWarning;
    try {
      Progress(psStarting, 0, false, TRect{}, gifmsg::sProgressCopying);
      FHeader->Assign(gif->Header());
      FDrawBackgroundColor = gif->FDrawBackgroundColor;
      FAnimate = gif->FAnimate;
      FAnimationSpeed = gif->FAnimationSpeed;
      SetTransparent(gif->Transparent());
      FDithering = gif->FDithering;
      FAnimateLoop = gif->FAnimateLoop;
      FColorReduction = gif->FColorReduction;
      FDitherMode = gif->FDitherMode;
      const int count = gif->Images().Count();
      for (int i = 0; i < count; ++i) {
        Add(*gif->Images().Frames(i));
        Progress(psRunning, uint8_t((i + 1) * 100 / count), false, TRect{},
                 gifmsg::sProgressCopying);
      }
      Progress(psEnding, 100, false, TRect{}, gifmsg::sProgressCopying);
    } catch (...) {
      OnProgress = nullptr;
      OnWarning = nullptr;
      throw;
    }
    OnProgress = nullptr;
    OnWarning = nullptr;
    DropBitmap();
    Changed();
    return;
  }
  ResetContent();
  TGIFFrame* frame = TGIFFrame::Create(this);
  try {
    frame->Assign(Source);
  } catch (const EConvertError&) {
    FImages->Delete(FImages->IndexOf(frame));
    TGraphic::Assign(Source);
  } catch (...) {
    FImages->Delete(FImages->IndexOf(frame));
    throw;
  }
  Changed();
}

void TGIFImage::Assign(TPicture& Source) {
  if (Source.Graphic())
    Assign(*Source.Graphic());
  else
    ResetContent();
  Changed();
}

void TGIFImage::AssignFromClipboard() {
  TClipboardStore& clipboard = Clipboard();
  clipboard.Open();
  try {
    bool done = false;
    for (TClipboardFormat format : {GIFClipboardFormat, CF_DIB, CF_BITMAP}) {
      if (format == 0 || !clipboard.HasFormat(format)) continue;
      const TGraphicClass* cls = TPicture::FindClipboardFormat(format);
      TClipboardData data;
      if (!cls || !clipboard.GetData(format, data)) continue;
      TPicture picture;
      picture.SetGraphicOwned(cls->Create());
      picture.Graphic()->LoadFromClipboardFormat(format, data, nullptr);
      Assign(picture);
      done = true;
      break;
    }
    if (!done) throw EInvalidGraphic(SUnknownClipboardFormat);
  } catch (...) {
    clipboard.Close();
    throw;
  }
  clipboard.Close();
}

void TGIFImage::AssignTo(TGraphic& Dest) {
  TBitmap* composite = Bitmap();
  if (auto* bitmap = dynamic_cast<TBitmap*>(&Dest)) {
    if (composite)
      bitmap->Assign(*composite);
    else
      bitmap->SetSize(0, 0);
    return;
  }
  // Any other picture takes the first frame through a bitmap (a PNG or a JPEG can); one
  // that cannot gets the usual refusal.
  if (!composite) {
    TGraphic::AssignTo(Dest);
    return;
  }
  try {
    Dest.Assign(*composite);
  } catch (const EConvertError&) {
    TGraphic::AssignTo(Dest);
  }
}

// ---------------------------------------------------------------------------------------
// Settings
// ---------------------------------------------------------------------------------------

void TGIFImage::SetWidth(int Value) {
  Value = CoveringExtent(Value, *FImages, [](TGIFFrame& f) { return f.Left() + f.Width(); });
  if (Value == Width()) return;
  ChangeScreenSize(*this, [&] { FHeader->SetWidth(Value); });
}

void TGIFImage::SetHeight(int Value) {
  Value = CoveringExtent(Value, *FImages, [](TGIFFrame& f) { return f.Top() + f.Height(); });
  if (Value == Height()) return;
  ChangeScreenSize(*this, [&] { FHeader->SetHeight(Value); });
}

void TGIFImage::SetBackgroundColorIndex(int Value) {
  if (Value == BackgroundColorIndex()) return;
  ChangeRepacked(*this, [&] { FHeader->SetBackgroundColorIndex(Value); });
}

void TGIFImage::SetBackgroundColor(TColor Value) {
  if (FHeader->ColorMap().Count() > 0 && Value == BackgroundColor()) return;
  ChangeRepacked(*this, [&] { FHeader->SetBackgroundColor(Value); });
}

void TGIFImage::SetAspectRatio(uint8_t Value) {
  if (Value == AspectRatio()) return;
  ChangeRepacked(*this, [&] { FHeader->SetAspectRatio(Value); });
}

void TGIFImage::SetDithering(TGIFDithering Value) {
  if (Value == FDithering) return;
  ChangeRepacked(*this, [&] { FDithering = Value; });
}

void TGIFImage::SetAnimate(bool Value) {
  if (Value == FAnimate) return;
  StopDraw();
  FAnimate = Value;
  Changed();
}

void TGIFImage::SetAnimateLoop(TGIFAnimationLoop Value) {
  if (Value == FAnimateLoop) return;
  FAnimateLoop = Value;
  StopDraw();
  Changed();
}

void TGIFImage::SetAnimationSpeed(int Value) {
  Value = std::clamp(Value, 0, 1000);
  if (Value == FAnimationSpeed) return;
  SuspendDraw();
  FAnimationSpeed = Value;
  ResumeDraw();
}

void TGIFImage::SetReductionBits(int Value) {
  if (Value < 3 || Value > 8) GIFError(gifmsg::sBadBitsPerPixel);
  FReductionBits = Value;
}

void TGIFImage::SetTransparent(bool Value) {
  if (Value == FTransparent) return;
  StopDraw();
  TGraphic::SetTransparent(Value);
  Changed();
}

void TGIFImage::Pack() {
  DropBitmap();
  SetPalette(std::unique_ptr<TPalette>());
  for (int i = 0; i < FImages->Count(); ++i) FImages->Frames(i)->Dormant();
  if (FHeader->ColorMap().Count() == 0 && FImages->Count() == 1) {
    TGIFFrame& frame = *FImages->Frames(0);
    FHeader->ColorMap().Assign(frame.ColorMap());
    frame.ColorMap().Clear();
    Changed();
  }
}

void TGIFImage::Dormant() {
  DropBitmap();
  DropPalette();
  for (int i = 0; i < FImages->Count(); ++i) FImages->Frames(i)->Dormant();
}

void TGIFImage::StopDraw() {
  if (!FRenderer) return;
  FRenderer->StopAnimation();
  FSuspendedAnimation = false;
  FRenderer.reset();
}

void TGIFImage::SuspendDraw() {
  if (FDrawSuspendCount++ == 0) {
    FSuspendedAnimation = FRenderer && FRenderer->Animating();
    if (FRenderer) FRenderer->StopAnimation();
  }
}

void TGIFImage::ResumeDraw() {
  if (FDrawSuspendCount > 0 && --FDrawSuspendCount == 0) {
    if (FRenderer && FSuspendedAnimation) FRenderer->StartAnimation();
    FSuspendedAnimation = false;
  }
}

void TGIFImage::DropBitmap() {
  StopDraw();
  FBitmap.reset();
}

void TGIFImage::DropPalette() {
  FGlobalPalette.reset();
}
