// Decoding: the header at load time, the scaled size, and the full decoding into the
// bitmap (plain, quantised to a palette, or pass by pass for progressive display).
#include <algorithm>
#include <vector>

#include "jpeg_glue.h"

namespace {

constexpr int QuantizedColors = 236;  // leaves the screen's 20 static colours alone
constexpr unsigned RowBatch = 16;

bool IsAbort(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const EAbort&) {
    return true;
  } catch (...) {
    return false;
  }
}

// Adobe CMYK as the library delivers it (inverted: 255 is no ink) to opaque BGRA.
void ConvertCmykRow(uint8_t* p, unsigned width) {
  for (unsigned x = 0; x < width; ++x, p += 4) {
    const unsigned c = p[0], m = p[1], y = p[2], k = p[3];
    p[0] = uint8_t(k * y / 255);
    p[1] = uint8_t(k * m / 255);
    p[2] = uint8_t(k * c / 255);
    p[3] = 255;
  }
}

// Reads the rows of the current output pass from the top; no objects with destructors
// here, the library may jump out of any call.
void ReadRows(j_decompress_ptr d, uint8_t* row0, ptrdiff_t stride, bool cmyk) {
  JSAMPROW rows[RowBatch];
  while (d->output_scanline < d->output_height) {
    const unsigned first = d->output_scanline;
    const unsigned count = std::min(RowBatch, d->output_height - first);
    for (unsigned i = 0; i < count; ++i) rows[i] = row0 + ptrdiff_t(first + i) * stride;
    const JDIMENSION got = jpeg_read_scanlines(d, rows, count);
    if (got == 0) break;
    if (cmyk)
      for (JDIMENSION i = 0; i < got; ++i) ConvertCmykRow(rows[i], d->output_width);
  }
}

// The palette matching the library's colour map (rows in output component order).
TPalette DecoderPalette(const jpeg_decompress_struct& d) {
  const int count = std::clamp(d.actual_number_of_colors, 0, 256);
  std::vector<TPaletteEntry> entries(static_cast<size_t>(count));
  JSAMPARRAY map = d.colormap;
  for (int i = 0; i < count; ++i) {
    TPaletteEntry& e = entries[size_t(i)];
    if (d.out_color_components == 3) {
      e.peRed = map[2][i];
      e.peGreen = map[1][i];
      e.peBlue = map[0][i];
    } else if (d.out_color_components == 4) {  // quantised CMYK: same conversion as rows
      const unsigned k = map[3][i];
      e.peBlue = uint8_t(k * map[2][i] / 255);
      e.peGreen = uint8_t(k * map[1][i] / 255);
      e.peRed = uint8_t(k * map[0][i] / 255);
    } else {  // grayscale, or an unnamed colour space: the map has no colour rows
      e.peRed = e.peGreen = e.peBlue = map[0][i];
    }
  }
  return TPalette(std::move(entries));
}

// Separate so that its objects are gone before the next library call.
void SetDecoderPalette(TBitmap& bitmap, const jpeg_decompress_struct& d) {
  const TPalette palette = DecoderPalette(d);
  bitmap.SetPalette(&palette);
}

int OutputBitCount(const jpeg_decompress_struct& d) {
  if (d.quantize_colors || d.out_color_space == JCS_GRAYSCALE) return 8;
  if (d.out_color_space == JCS_CMYK || d.out_color_space == JCS_YCCK) return 32;
  return 24;
}

}  // namespace

void TJPEGImage::ReadHeader() {
  TJpegDecompressor jc(nullptr);
  TMemoryStream& data = *FImage->FData;
  data.SetPosition(0);
  bool multiScan = false;
  JpegGuard(jc, [&] {
    JpegStreamSource(&jc.d, data);
    jpeg_read_header(&jc.d, TRUE);
    multiScan = jpeg_has_multiple_scans(&jc.d);
  });
  FImage->FWidth = int32_t(jc.d.image_width);
  FImage->FHeight = int32_t(jc.d.image_height);
  FImage->FGrayscale = jc.d.jpeg_color_space == JCS_GRAYSCALE;
  FProgressiveEncoding = multiScan;
}

void TJPEGImage::SetupDecoding(TJpegDecompressor& jc) const {
  TMemoryStream& data = *FImage->FData;
  data.SetPosition(0);
  JpegGuard(jc, [&] {
    jpeg_decompress_struct& d = jc.d;
    JpegStreamSource(&d, data);
    jpeg_read_header(&d, TRUE);
    d.scale_num = 1;
    d.scale_denom = 1u << unsigned(FScale);
    d.do_block_smoothing = FSmoothing;
    // Rows then arrive in the bitmap's own blue, green, red order.
    if (d.out_color_space == JCS_RGB) d.out_color_space = JCS_EXT_BGR;
    if (FGrayScale) d.out_color_space = JCS_GRAYSCALE;
    if (FPixelFormat == jf8Bit || d.out_color_space == JCS_GRAYSCALE) {
      d.quantize_colors = TRUE;
      d.desired_number_of_colors = QuantizedColors;
    }
    if (FPerformance == jpBestSpeed) {
      d.dct_method = JDCT_IFAST;
      d.two_pass_quantize = FALSE;
      d.dither_mode = JDITHER_ORDERED;
    }
    jc.FDctMethod = d.dct_method;
    jc.FTwoPass = d.two_pass_quantize;
    jc.FDither = d.dither_mode;
    if (FProgressiveDisplay && jpeg_has_multiple_scans(&d)) {
      // Intermediate passes are quick and rough; the final pass uses the saved settings.
      d.buffered_image = TRUE;
      d.enable_2pass_quant = jc.FTwoPass;
      d.dct_method = JDCT_IFAST;
      d.two_pass_quantize = FALSE;
      d.dither_mode = JDITHER_ORDERED;
    }
  });
}

void TJPEGImage::CalcScaledSize() const {
  if (!FNeedRecalc) return;
  if (!FImage->FData || FImage->FWidth <= 0 || FImage->FHeight <= 0) {
    FScaledWidth = FScaledHeight = 0;
    return;  // no header to scale: stays pending until data arrives
  }
  TJpegDecompressor jc(nullptr);
  SetupDecoding(jc);
  bool multiScan = false;
  JpegGuard(jc, [&] {
    jpeg_calc_output_dimensions(&jc.d);
    multiScan = jpeg_has_multiple_scans(&jc.d);
  });
  FScaledWidth = int32_t(jc.d.output_width);
  FScaledHeight = int32_t(jc.d.output_height);
  FProgressiveEncoding = multiScan;
  FNeedRecalc = false;
}

TBitmap* TJPEGImage::GetBitmap() {
  if (FBitmap || !FImage->FData) return FBitmap.get();
  FBitmap = std::make_unique<TBitmap>();
  bool useDecoderPalette = true;
  TJpegDecompressor jc(this);
  SetupDecoding(jc);
  std::exception_ptr failure;
  try {
    Progress(psStarting, 0, false, TRect{}, std::string());
    DecodeInto(jc, useDecoderPalette);
  } catch (...) {
    failure = std::current_exception();
  }
  Progress(psEnding, failure ? 0 : 100, PaletteModified(), TRect{}, std::string());
  if (PaletteModified()) Changed();
  // A progress handler's abort keeps the rows decoded so far.
  if (failure && !IsAbort(failure)) std::rethrow_exception(failure);
  return FBitmap.get();
}

void TJPEGImage::DecodeInto(TJpegDecompressor& jc, bool& useDecoderPalette) {
  jpeg_decompress_struct& d = jc.d;
  JpegGuard(jc, [&] { jpeg_calc_output_dimensions(&d); });
  const int bits = OutputBitCount(d);
  // Unusual colour spaces (two components, five...) have no bitmap layout: rows would
  // not fit the buffer.
  if (int(d.output_components) * 8 != bits) throw EJPEG(JERR_CONVERSION_NOTIMPL);
  CheckedDibSize(d.output_width, d.output_height, bits);
  FBitmap->SetPixelFormat(PixelFormatOf(bits));

  if (FTempPal) {
    if (FPixelFormat != jf8Bit) {
      FTempPal.reset();
    } else if (d.out_color_components == 3 && FTempPal->Count() > 0) {
      // Only colour output takes an outside map; grayscale makes its own levels.
      const TPalette& pal = *FTempPal;
      const int count = std::min(pal.Count(), 256);
      JpegGuard(jc, [&] {
        d.colormap = d.mem->alloc_sarray(reinterpret_cast<j_common_ptr>(&d), JPOOL_IMAGE,
                                         JDIMENSION(std::max(count, 1)), 3);
        d.actual_number_of_colors = count;
        for (int i = 0; i < count; ++i) {
          const TPaletteEntry& e = pal.Entries()[size_t(i)];
          d.colormap[0][i] = e.peBlue;
          d.colormap[1][i] = e.peGreen;
          d.colormap[2][i] = e.peRed;
        }
      });
      FBitmap->SetPalette(FTempPal.get());
      useDecoderPalette = false;
    }
  }

  JpegGuard(jc, [&] { jpeg_start_decompress(&d); });
  FBitmap->SetSize(int(d.output_width), int(d.output_height));
  uint8_t* row0 = FBitmap->GetScanline(0);
  const ptrdiff_t stride = d.output_height > 1 ? FBitmap->GetScanline(1) - row0 : 0;
  const bool cmyk = bits == 32;

  if (d.buffered_image) {
    JpegGuard(jc, [&] {
      bool firstPass = true;
      for (;;) {
        if (jpeg_consume_input(&d) == JPEG_REACHED_EOI) break;
        if (d.input_scan_number > JpegMaxScans) ERREXIT(&d, JERR_BAD_PROGRESSION);
        jpeg_start_output(&d, d.input_scan_number);
        if (firstPass && d.colormap != nullptr && bits == 8 && useDecoderPalette) {
          SetDecoderPalette(*FBitmap, d);
          SetPaletteModified(true);
        }
        firstPass = false;
        ReadRows(&d, row0, stride, cmyk);
        jpeg_finish_output(&d);
      }
      d.dct_method = jc.FDctMethod;
      d.dither_mode = jc.FDither;
      if (jc.FTwoPass && useDecoderPalette) {
        d.two_pass_quantize = TRUE;
        d.colormap = nullptr;  // the final pass makes its own, better map
      }
      jpeg_start_output(&d, d.input_scan_number);
    });
  }
  if ((!d.buffered_image || d.two_pass_quantize) && d.colormap != nullptr && useDecoderPalette) {
    SetDecoderPalette(*FBitmap, d);
    SetPaletteModified(true);
  }
  JpegGuard(jc, [&] {
    ReadRows(&d, row0, stride, cmyk);
    if (d.buffered_image) jpeg_finish_output(&d);
    jpeg_finish_decompress(&d);
  });
}
