// Compression of the bitmap into new JPEG data, and saving.
#include <algorithm>

#include "jpeg_glue.h"

namespace {

constexpr unsigned RowBatch = 16;

}  // namespace

void TJPEGImage::JPEGNeeded() {
  if (!FImage->FData) Compress();
}

void TJPEGImage::SaveToStream(TStream& stream) {
  JPEGNeeded();
  TMemoryStream* data = FImage->FData.get();
  if (data != nullptr && data->Size() > 0) stream.WriteBuffer(data->Memory(), data->Size());
}

void TJPEGImage::Compress() {
  TJpegCompressor jc(this);
  // Always a new data object: another image may share the current one.
  NewImage();
  FImage->FData = std::make_unique<TMemoryStream>();
  TMemoryStream& data = *FImage->FData;
  JpegGuard(jc, [&] { JpegStreamDest(&jc.c, data); });
  if (!FBitmap || FBitmap->Width() == 0 || FBitmap->Height() == 0) return;
  try {
    CompressBitmap(jc);
  } catch (const EAbort&) {
    NewImage();  // an abort discards the partial data silently
  } catch (...) {
    // No data stays behind, not even an empty stream: incomplete data must never be saved
    // later as if it were whole, and an empty one would be written as a 0-byte file
    // without an error. The next save compresses again.
    NewImage();
    throw;
  }
}

void TJPEGImage::CompressBitmap(TJpegCompressor& jc) {
  FImage->FWidth = FBitmap->Width();
  FImage->FHeight = FBitmap->Height();
  // The encoder reads 24-bit blue, green, red rows; other formats go through a copy.
  TBitmap* source = FBitmap.get();
  std::unique_ptr<TBitmap> converted;
  if (FBitmap->PixelFormat() != pf24bit) {
    converted = std::make_unique<TBitmap>();
    converted->Assign(*FBitmap);
    converted->SetPixelFormat(pf24bit);
    source = converted.get();
  }
  CompressRows(jc, *source);
}

void TJPEGImage::CompressRows(TJpegCompressor& jc, TBitmap& source) {
  jpeg_compress_struct& c = jc.c;
  JpegGuard(jc, [&] {
    c.image_width = JDIMENSION(source.Width());
    c.image_height = JDIMENSION(source.Height());
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, FQuality, TRUE);  // baseline-compatible tables
    if (FGrayScale) jpeg_set_colorspace(&c, JCS_GRAYSCALE);
    if (FProgressiveEncoding) jpeg_simple_progression(&c);
  });
  if (FGrayScale) FImage->FGrayscale = true;

  uint8_t* row0 = source.GetScanline(0);
  const ptrdiff_t stride = source.Height() > 1 ? source.GetScanline(1) - row0 : 0;
  Progress(psStarting, 0, false, TRect{}, std::string());
  JpegGuard(jc, [&] {
    jpeg_start_compress(&c, TRUE);
    JSAMPROW rows[RowBatch];
    while (c.next_scanline < c.image_height) {
      const unsigned first = c.next_scanline;
      const unsigned count = std::min(RowBatch, c.image_height - first);
      for (unsigned i = 0; i < count; ++i) rows[i] = row0 + ptrdiff_t(first + i) * stride;
      if (jpeg_write_scanlines(&c, rows, count) == 0) break;
    }
    jpeg_finish_compress(&c);
  });
  Progress(psEnding, 100, false, TRect{}, std::string());
}
