// The header chunk: the IHDR record, the image buffers it owns and blank-image creation.
#include <algorithm>
#include <cstring>

#include "png_internal.h"
#include "png_read_internal.h"

namespace {

// Rounded i * 255 / (n - 1); a one-entry ramp is black.
uint8_t RampLevel(uint32_t i, uint32_t n) {
  return n < 2 ? 0 : uint8_t((i * 255 + (n - 1) / 2) / (n - 1));
}

uint64_t DibBytes(int64_t width, int64_t height, int bitCount) {
  try {
    return CheckedDibSize(width, height, bitCount);
  } catch (const EOutOfResources&) {
    throw EPNGOutMemory();
  }
}

// Row y from the top of a bottom-up buffer of h rows.
uint8_t* RowOf(TPixelBuffer& b, uint32_t stride, uint32_t h, uint32_t y) {
  return b.data() + size_t(stride) * (h - 1 - y);
}

}  // namespace

TPixelBuffer ZeroedImageBuffer(uint64_t bytes) {
  try {
    CheckImageBudget(bytes);
    return TPixelBuffer(size_t(bytes));
  } catch (const EOutOfResources&) {
    throw EPNGOutMemory();
  }
}

TChunkIHDR::TChunkIHDR(TPngImage* owner)
    : TChunk(owner), FBuffers(std::make_unique<TImageBuffers>()) {}

TChunkIHDR::~TChunkIHDR() = default;

bool TChunkIHDR::LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) {
  if (!TChunk::LoadFromStream(stream, chunkName, size)) return false;
  // A second header would take over the image's interlace setting and buffers.
  if (fOwner && fOwner->HasHeader() && &fOwner->Header() != this) throw EPngInvalidIHDR();
  if (fDataSize < 13) throw EPngInvalidIHDR();
  // The record is checked whole before it is kept: a refused header stays the empty one,
  // so that the picture left by the failed load describes no pixels it does not have.
  const uint8_t* d = fData.data();
  TIHDRData record;
  record.Width = ReadBE32(d);
  record.Height = ReadBE32(d + 4);
  record.BitDepth = d[8];
  record.ColorType = d[9];
  record.CompressionMethod = d[10];
  record.FilterMethod = d[11];
  record.InterlaceMethod = d[12];
  if (record.Width > 65535 || record.Height > 65535) throw EPNGSizeExceeds();
  if (record.CompressionMethod != 0) throw EPNGUnknownCompression();
  if (record.InterlaceMethod > 1) throw EPNGUnknownInterlace();
  // No buffer format exists for other pairs, and an empty image has no rows to decode.
  if (!IsStandardPngPair(record.ColorType, record.BitDepth) || record.Width == 0 ||
      record.Height == 0)
    throw EPngInvalidIHDR();
  IHDRData = record;
  if (fOwner) fOwner->SetInterlaceMethod(TInterlaceMethod(IHDRData.InterlaceMethod));
  PrepareImageBuffers();
  return true;
}

bool TChunkIHDR::SaveToStream(TStream& stream) {
  if (IHDRData.BitDepth == 2) {
    // The rows hold 4-bit pixels: from now on the image is a 4-bit one, and a grey colour
    // key must name the 4-bit level its 2-bit sample was widened to (v * 5).
    IHDRData.BitDepth = 4;
    if (IHDRData.ColorType == COLOR_GRAYSCALE && fOwner)
      if (auto* trns = fOwner->Chunks().Find<TChunktRNS>())
        trns->PaletteValues[1] = uint8_t((trns->PaletteValues[1] & 3) * 5);
  }
  ResizeData(13);
  uint8_t* d = fData.data();
  WriteBE32(d, IHDRData.Width);
  WriteBE32(d + 4, IHDRData.Height);
  d[8] = IHDRData.BitDepth;
  d[9] = IHDRData.ColorType;
  d[10] = IHDRData.CompressionMethod;
  d[11] = IHDRData.FilterMethod;
  d[12] = fOwner ? uint8_t(fOwner->InterlaceMethod()) : IHDRData.InterlaceMethod;
  return SaveData(stream);
}

void TChunkIHDR::Assign(TChunk& source) {
  auto* from = dynamic_cast<TChunkIHDR*>(&source);
  if (!from) RaiseError<EPngError>(EPngIncompatibleAssignText);
  if (from == this) return;
  IHDRData = from->IHDRData;
  PrepareImageBuffers();
  TImageBuffers& to = *FBuffers;
  const TImageBuffers& of = *from->FBuffers;
  if (to.Pixels.size() == of.Pixels.size() && !of.Pixels.empty())
    std::memcpy(to.Pixels.data(), of.Pixels.data(), of.Pixels.size());
  if (!of.Alpha.empty()) to.Alpha = of.Alpha;
  // The low bytes of 16-bit samples are part of the picture, and ExtraScanline hands them
  // out: a copy without them would read differently from its original. They are copied,
  // though a save drops them in both.
  if (!of.Extra.empty() && to.Extra.size() == of.Extra.size()) to.Extra = of.Extra;
  to.Info.bmiColors = of.Info.bmiColors;
  to.Info.bmiHeader.biClrUsed = of.Info.bmiHeader.biClrUsed;
  if (to.HasPalette && of.Palette) {
    if (fOwner && fOwner->HasHeader() && &fOwner->Header() == this)
      fOwner->ReplacePalette(CopyPalette(of.Palette.get()), true);
    else
      to.Palette = CopyPalette(of.Palette.get());
  }
}

void TChunkIHDR::ReleaseImageBuffers() {
  FBuffers->Pixels.clear();
  FBuffers->Extra.clear();
  FBuffers->Alpha.clear();
  FBuffers->Palette.reset();
}

void TChunkIHDR::AllocateAlpha(uint8_t fill) {
  TPixelBuffer alpha = ZeroedImageBuffer(uint64_t(Width()) * Height());
  if (fill != 0) std::memset(alpha.data(), fill, alpha.size());
  FBuffers->Alpha = std::move(alpha);
}

void TChunkIHDR::FreeAlpha() {
  FBuffers->Alpha.clear();
}

namespace {

// Everything PrepareImageBuffers makes for a record, allocated whole before it is used;
// grey ramps come from the header (its owner's gamma).
std::unique_ptr<TImageBuffers> MakeImageBuffers(const TIHDRData& record, const TChunkIHDR& header) {
  auto b = std::make_unique<TImageBuffers>();
  const int colorType = record.ColorType, bitDepth = record.BitDepth;
  const int bitCount = BufferBitCount(colorType, bitDepth);
  TBitmapInfoHeader& bi = b->Info.bmiHeader;
  bi.biSize = 40;
  bi.biWidth = int32_t(record.Width);
  bi.biHeight = int32_t(record.Height);
  bi.biPlanes = 1;
  bi.biBitCount = uint16_t(bitCount);
  b->HasPalette = colorType == COLOR_GRAYSCALE || colorType == COLOR_PALETTE ||
                  colorType == COLOR_GRAYSCALEALPHA;
  b->BytesPerRow = uint32_t(DibStride(record.Width, bitCount));
  const uint64_t imageBytes = DibBytes(record.Width, record.Height, bitCount);
  if (colorType == COLOR_GRAYSCALEALPHA || colorType == COLOR_RGBALPHA)
    b->Alpha = ZeroedImageBuffer(uint64_t(record.Width) * record.Height);
  if (bitDepth == 16) b->Extra = ZeroedImageBuffer(imageBytes);
  b->Pixels = ZeroedImageBuffer(imageBytes);
  if (b->HasPalette) {
    b->Palette = colorType == COLOR_PALETTE ? CopyPalette(&HalftonePalette256())
                                            : header.MakeGrayPalette(bitDepth);
    b->Palette->Resize(1 << bitCount);
  }
  return b;
}

}  // namespace

void TChunkIHDR::InstallBuffers(std::unique_ptr<TImageBuffers> buffers) {
  FBuffers = std::move(buffers);
  if (FBuffers->HasPalette) CopyPaletteToColorTable(FBuffers->Palette.get());
}

void TChunkIHDR::PrepareImageBuffers() {
  if (!IsStandardPngPair(ColorType(), BitDepth())) {
    IHDRData = TIHDRData{};
    FBuffers = std::make_unique<TImageBuffers>();
    return;
  }
  try {
    InstallBuffers(MakeImageBuffers(IHDRData, *this));
  } catch (...) {
    IHDRData = TIHDRData{};
    FBuffers = std::make_unique<TImageBuffers>();
    throw;
  }
}

void TChunkIHDR::AddOpaqueAlpha() {
  const uint32_t w = Width(), h = Height();
  if (ColorType() == COLOR_RGB || BitDepth() >= 8) {
    AllocateAlpha(255);
    SetColorType(ColorType() == COLOR_GRAYSCALE ? COLOR_GRAYSCALEALPHA : COLOR_RGBALPHA);
    return;
  }
  // Grey below 8 bits: the 8-bit levels go into a new set of buffers, installed only
  // when all of it could be had.
  const int bits = BitDepth() == 2 ? 4 : BitDepth();
  TIHDRData widened = IHDRData;
  widened.ColorType = COLOR_GRAYSCALEALPHA;
  widened.BitDepth = 8;
  std::unique_ptr<TImageBuffers> b = MakeImageBuffers(widened, *this);
  std::memset(b->Alpha.data(), 255, b->Alpha.size());
  const uint32_t scale = bits == 1 ? 255 : 17;
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t* from = PixelRow(y);
    uint8_t* to = RowOf(b->Pixels, b->BytesPerRow, h, y);
    for (uint32_t x = 0; x < w; ++x) to[x] = uint8_t(GetPackedField(from, x, bits) * scale);
  }
  IHDRData = widened;
  InstallBuffers(std::move(b));
}

std::unique_ptr<TPalette> TChunkIHDR::MakeGrayPalette(int bitDepth) const {
  const uint32_t n = bitDepth >= 8 ? 256u : (1u << std::max(bitDepth, 0));
  std::vector<TPaletteEntry> entries(n);
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t level = fOwner ? fOwner->GammaTable[RampLevel(i, n)] : RampLevel(i, n);
    entries[i] = TPaletteEntry{level, level, level, 0};
  }
  return std::make_unique<TPalette>(std::move(entries));
}

void TChunkIHDR::CopyPaletteToColorTable(const TPalette* palette) {
  if (!palette) return;
  const int count = std::min(palette->Count(), 256);
  for (int i = 0; i < count; ++i) {
    const TPaletteEntry& e = palette->Entries()[size_t(i)];
    FBuffers->Info.bmiColors[size_t(i)] = TRGBQuad{e.peBlue, e.peGreen, e.peRed, 0};
  }
  FBuffers->Info.bmiHeader.biClrUsed = uint32_t(count);
}

uint8_t* TChunkIHDR::ImageData() {
  return FBuffers->Pixels.empty() ? nullptr : FBuffers->Pixels.data();
}
const uint8_t* TChunkIHDR::ImageData() const {
  return FBuffers->Pixels.empty() ? nullptr : FBuffers->Pixels.data();
}
uint8_t* TChunkIHDR::ExtraImageData() {
  return FBuffers->Extra.empty() ? nullptr : FBuffers->Extra.data();
}
uint8_t* TChunkIHDR::ImageAlpha() {
  return FBuffers->Alpha.empty() ? nullptr : FBuffers->Alpha.data();
}
const uint8_t* TChunkIHDR::ImageAlpha() const {
  return FBuffers->Alpha.empty() ? nullptr : FBuffers->Alpha.data();
}
TPalette* TChunkIHDR::ImagePalette() const {
  return FBuffers->Palette.get();
}
void TChunkIHDR::SetImagePalette(std::unique_ptr<TPalette> palette) {
  FBuffers->Palette = std::move(palette);
}
bool TChunkIHDR::HasPalette() const {
  return FBuffers->HasPalette;
}
const std::array<TRGBQuad, 256>& TChunkIHDR::ColorTable() const {
  return FBuffers->Info.bmiColors;
}
uint32_t TChunkIHDR::ColorsUsed() const {
  return FBuffers->Info.bmiHeader.biClrUsed;
}
TMAXBITMAPINFO& TChunkIHDR::BitmapInfo() {
  return FBuffers->Info;
}
const TMAXBITMAPINFO& TChunkIHDR::BitmapInfo() const {
  return FBuffers->Info;
}
int TChunkIHDR::BitsPerPixel() const {
  return FBuffers->Info.bmiHeader.biBitCount;
}
uint32_t TChunkIHDR::BytesPerRow() const {
  return FBuffers->BytesPerRow;
}
uint8_t* TChunkIHDR::PixelRow(uint32_t y) {
  return ImageData() + size_t(FBuffers->BytesPerRow) * (Height() - 1 - y);
}

TPixelView TChunkIHDR::ImageView() {
  TPixelView view;
  if (FBuffers->Pixels.empty()) return view;
  view.Bits = PixelRow(0);
  view.Stride = -ptrdiff_t(FBuffers->BytesPerRow);
  view.Width = int(Width());
  view.Height = int(Height());
  view.BitCount = BitsPerPixel();
  if (view.BitCount <= 8) {
    view.Colors = FBuffers->Info.bmiColors.data();
    view.ColorCount = int(FBuffers->Info.bmiHeader.biClrUsed);
  }
  return view;
}

void TChunkIHDR::ResizeBuffers(uint32_t cx, uint32_t cy) {
  TImageBuffers& old = *FBuffers;
  const int bitCount = BitsPerPixel();
  const uint32_t stride = uint32_t(DibStride(cx, bitCount));
  const uint64_t imageBytes = DibBytes(cx, cy, bitCount);
  const uint32_t keepRows = std::min(cy, Height());
  const uint32_t keepBytes = std::min(stride, old.BytesPerRow);

  TPixelBuffer pixels = ZeroedImageBuffer(imageBytes);
  TPixelBuffer alpha;
  if (!old.Alpha.empty()) {
    alpha = ZeroedImageBuffer(uint64_t(cx) * cy);
    std::memset(alpha.data(), 255, alpha.size());
  }
  TPixelBuffer extra;
  if (BitDepth() == 16) extra = ZeroedImageBuffer(imageBytes);

  for (uint32_t y = 0; y < keepRows && !old.Pixels.empty(); ++y) {
    std::memcpy(RowOf(pixels, stride, cy, y), RowOf(old.Pixels, old.BytesPerRow, Height(), y),
                keepBytes);
    if (!alpha.empty())
      std::memcpy(alpha.data() + size_t(y) * cx, old.Alpha.data() + size_t(y) * Width(),
                  std::min(cx, Width()));
    if (!extra.empty() && !old.Extra.empty())
      std::memcpy(RowOf(extra, stride, cy, y), RowOf(old.Extra, old.BytesPerRow, Height(), y),
                  keepBytes);
  }
  old.Pixels = std::move(pixels);
  old.Alpha = std::move(alpha);
  old.Extra = std::move(extra);
  old.BytesPerRow = stride;
  IHDRData.Width = cx;
  IHDRData.Height = cy;
  old.Info.bmiHeader.biWidth = int32_t(cx);
  old.Info.bmiHeader.biHeight = int32_t(cy);
}

// ---------------------------------------------------------------------------------------
// Blank images

std::unique_ptr<TPngImage> TPngImage::CreateBlank(int colorType, int bitDepth, int cx, int cy) {
  auto image = std::make_unique<TPngImage>();
  if (!IsStandardPngPair(colorType, bitDepth) || cx < 0 || cy < 0 || cx > 65535 || cy > 65535)
    throw EPNGInvalidSpec();
  if (bitDepth == 2) bitDepth = 4;
  image->ResetGammaTables();
  struct CreatingGuard {
    TPngImage& image;
    explicit CreatingGuard(TPngImage& i) : image(i) { image.BeingCreated = true; }
    ~CreatingGuard() { image.BeingCreated = false; }
  } creating(*image);
  TPNGList& list = image->Chunks();
  list.Add<TChunkIEND>();
  TChunkIHDR* header = list.Add<TChunkIHDR>();
  header->SetColorType(uint8_t(colorType));
  header->SetBitDepth(uint8_t(bitDepth));
  header->SetWidth(uint32_t(cx));
  header->SetHeight(uint32_t(cy));
  header->PrepareImageBuffers();
  if (colorType == COLOR_PALETTE) list.Add<TChunkPLTE>()->SetCount(1u << bitDepth);
  list.Add<TChunkIDAT>();
  return image;
}
