// The header chunk: the IHDR record, the image buffers it owns and blank-image creation.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "png_read_internal.h"
#include "pngimage.h"

namespace {

bool IsStandardPair(int colorType, int bitDepth) {
  switch (colorType) {
    case COLOR_GRAYSCALE:
      return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8 || bitDepth == 16;
    case COLOR_PALETTE:
      return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8;
    case COLOR_RGB:
    case COLOR_GRAYSCALEALPHA:
    case COLOR_RGBALPHA:
      return bitDepth == 8 || bitDepth == 16;
    default:
      return false;
  }
}

// Bits per pixel of the in-memory buffer for a header.
int BufferBitCount(int colorType, int bitDepth) {
  if (colorType == COLOR_RGB || colorType == COLOR_RGBALPHA) return 24;
  switch (bitDepth) {
    case 1:
      return 1;
    case 2:
    case 4:
      return 4;
    default:
      return 8;
  }
}

// Rounded i * 255 / (n - 1).
uint8_t RampLevel(uint32_t i, uint32_t n) {
  return uint8_t((i * 255 + (n - 1) / 2) / (n - 1));
}

// Allocates a zeroed buffer of `bytes` after the budget check; any failure is the PNG
// out-of-memory error, raised before anything is written.
void AllocateZeroed(TZeroedBytes& buffer, uint64_t bytes) {
  try {
    CheckImageBudget(bytes);
    buffer.Allocate(size_t(bytes));
  } catch (const EOutOfResources&) {
    throw EPNGOutMemory();
  } catch (const std::bad_alloc&) {
    throw EPNGOutMemory();
  }
}

uint64_t DibBytes(int64_t width, int64_t height, int bitCount) {
  try {
    return CheckedDibSize(width, height, bitCount);
  } catch (const EOutOfResources&) {
    throw EPNGOutMemory();
  }
}

}  // namespace

void TZeroedBytes::TFree::operator()(uint8_t* p) const {
  std::free(p);
}

void TZeroedBytes::Allocate(size_t size) {
  Release();
  if (size == 0) return;
  auto* p = static_cast<uint8_t*>(std::calloc(size, 1));
  if (!p) throw std::bad_alloc();
  FData.reset(p);
  FSize = size;
}

void TZeroedBytes::CopyFrom(const TZeroedBytes& source) {
  if (&source == this) return;
  Allocate(source.size());
  if (FSize) std::memcpy(FData.get(), source.data(), FSize);
}

TChunkIHDR::TChunkIHDR(TPngImage* owner) : TChunk(owner) {}

TChunkIHDR::~TChunkIHDR() {
  ReleaseImageBuffers();
}

bool TChunkIHDR::LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) {
  if (!TChunk::LoadFromStream(stream, chunkName, size)) return false;
  // A second header would take over the image's interlace setting and buffers.
  if (fOwner && fOwner->HasHeader() && &fOwner->Header() != this) throw EPngInvalidIHDR();
  if (fDataSize < 13) throw EPngInvalidIHDR();
  const uint8_t* d = fData.data();
  IHDRData.Width = ReadBE32(d);
  IHDRData.Height = ReadBE32(d + 4);
  IHDRData.BitDepth = d[8];
  IHDRData.ColorType = d[9];
  IHDRData.CompressionMethod = d[10];
  IHDRData.FilterMethod = d[11];
  IHDRData.InterlaceMethod = d[12];
  if (IHDRData.Width > 65535 || IHDRData.Height > 65535) throw EPNGSizeExceeds();
  if (IHDRData.CompressionMethod != 0) throw EPNGUnknownCompression();
  if (IHDRData.InterlaceMethod > 1) throw EPNGUnknownInterlace();
  // No buffer format exists for other pairs, and an empty image has no rows to decode.
  if (!IsStandardPair(IHDRData.ColorType, IHDRData.BitDepth) || IHDRData.Width == 0 ||
      IHDRData.Height == 0)
    throw EPngInvalidIHDR();
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
  std::copy(from->FImageData.begin(), from->FImageData.end(), FImageData.begin());
  if (!from->FImageAlpha.empty()) FImageAlpha.CopyFrom(from->FImageAlpha);
  // The low bytes of 16-bit samples are part of the image: keep them in the copy.
  if (!from->FExtraImageData.empty() && FExtraImageData.size() == from->FExtraImageData.size())
    FExtraImageData.CopyFrom(from->FExtraImageData);
  FBitmapInfo.bmiColors = from->FBitmapInfo.bmiColors;
  FBitmapInfo.bmiHeader.biClrUsed = from->FBitmapInfo.bmiHeader.biClrUsed;
  if (FHasPalette && from->FImagePalette) {
    if (fOwner && fOwner->HasHeader() && &fOwner->Header() == this)
      fOwner->ReplacePalette(CopyPalette(from->FImagePalette.get()), true);
    else
      FImagePalette = CopyPalette(from->FImagePalette.get());
  }
}

void TChunkIHDR::ReleaseImageBuffers() {
  FImageData.Release();
  FExtraImageData.Release();
  FImageAlpha.Release();
  FImagePalette.reset();
}

void TChunkIHDR::AllocateAlpha(uint8_t fill) {
  AllocateZeroed(FImageAlpha, uint64_t(Width()) * Height());
  if (fill != 0) std::fill(FImageAlpha.begin(), FImageAlpha.end(), fill);
}

void TChunkIHDR::PrepareImageBuffers() {
  FBitmapInfo = TMAXBITMAPINFO{};
  ReleaseImageBuffers();
  const int bitCount = BufferBitCount(ColorType(), BitDepth());
  TBitmapInfoHeader& bi = FBitmapInfo.bmiHeader;
  bi.biSize = 40;
  bi.biWidth = int32_t(Width());
  bi.biHeight = int32_t(Height());
  bi.biPlanes = 1;
  bi.biBitCount = uint16_t(bitCount);
  FHasPalette = ColorType() == COLOR_GRAYSCALE || ColorType() == COLOR_PALETTE ||
                ColorType() == COLOR_GRAYSCALEALPHA;
  FBytesPerRow = uint32_t(DibStride(Width(), bitCount));
  const uint64_t imageBytes = DibBytes(Width(), Height(), bitCount);

  if (ColorType() == COLOR_GRAYSCALEALPHA || ColorType() == COLOR_RGBALPHA) AllocateAlpha(0);
  if (BitDepth() == 16) AllocateZeroed(FExtraImageData, imageBytes);
  if (FHasPalette) {
    std::unique_ptr<TPalette> palette = ColorType() == COLOR_PALETTE
                                            ? CopyPalette(&HalftonePalette256())
                                            : MakeGrayPalette(BitDepth());
    palette->Resize(1 << bitCount);
    CopyPaletteToColorTable(palette.get());
    FImagePalette = std::move(palette);
  }
  AllocateZeroed(FImageData, imageBytes);
}

std::unique_ptr<TPalette> TChunkIHDR::MakeGrayPalette(int bitDepth) const {
  const uint32_t n = bitDepth >= 8 ? 256u : (1u << bitDepth);
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
    FBitmapInfo.bmiColors[size_t(i)] = TRGBQuad{e.peBlue, e.peGreen, e.peRed, 0};
  }
  FBitmapInfo.bmiHeader.biClrUsed = uint32_t(count);
}

TPixelView TChunkIHDR::ImageView() {
  TPixelView view;
  if (FImageData.empty()) return view;
  view.Bits = FImageData.data() + size_t(FBytesPerRow) * (Height() - 1);
  view.Stride = -ptrdiff_t(FBytesPerRow);
  view.Width = int(Width());
  view.Height = int(Height());
  view.BitCount = BitsPerPixel();
  if (view.BitCount <= 8) {
    view.Colors = FBitmapInfo.bmiColors.data();
    view.ColorCount = int(FBitmapInfo.bmiHeader.biClrUsed);
  }
  return view;
}

void TChunkIHDR::ResizeBuffers(uint32_t cx, uint32_t cy) {
  const int bitCount = BitsPerPixel();
  const uint32_t stride = uint32_t(DibStride(cx, bitCount));
  const uint64_t imageBytes = DibBytes(cx, cy, bitCount);
  const uint32_t keepRows = std::min(cy, Height());
  const uint32_t keepBytes = std::min(stride, FBytesPerRow);
  // Row y from the top of a bottom-up buffer of h rows.
  const auto row = [](const TZeroedBytes& b, uint32_t s, uint32_t h, uint32_t y) {
    return b.data() + size_t(s) * (h - 1 - y);
  };

  TZeroedBytes pixels;
  AllocateZeroed(pixels, imageBytes);
  TZeroedBytes alpha;
  if (!FImageAlpha.empty()) {
    AllocateZeroed(alpha, uint64_t(cx) * cy);
    std::fill(alpha.begin(), alpha.end(), uint8_t(255));
  }
  TZeroedBytes extra;
  if (BitDepth() == 16) AllocateZeroed(extra, imageBytes);

  for (uint32_t y = 0; y < keepRows; ++y) {
    std::memcpy(row(pixels, stride, cy, y), row(FImageData, FBytesPerRow, Height(), y), keepBytes);
    if (!alpha.empty())
      std::memcpy(alpha.data() + size_t(y) * cx, FImageAlpha.data() + size_t(y) * Width(),
                  std::min(cx, Width()));
    if (!extra.empty() && !FExtraImageData.empty())
      std::memcpy(row(extra, stride, cy, y), row(FExtraImageData, FBytesPerRow, Height(), y),
                  keepBytes);
  }
  FImageData.Swap(pixels);
  FImageAlpha.Swap(alpha);
  FExtraImageData.Swap(extra);
  FBytesPerRow = stride;
  IHDRData.Width = cx;
  IHDRData.Height = cy;
  FBitmapInfo.bmiHeader.biWidth = int32_t(cx);
  FBitmapInfo.bmiHeader.biHeight = int32_t(cy);
}

// ---------------------------------------------------------------------------------------
// Blank images

std::unique_ptr<TPngImage> TPngImage::CreateBlank(int colorType, int bitDepth, int cx, int cy) {
  auto image = std::make_unique<TPngImage>();
  if (!IsStandardPair(colorType, bitDepth) || cx < 0 || cy < 0 || cx > 65535 || cy > 65535)
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
