// JPEG pictures over libjpeg: TJPEGImage keeps the compressed file bytes (shared between
// images through TJPEGData) and decodes them into a bitmap only when pixels are needed.
// Loading reads the header; the first draw decodes; saving writes the loaded bytes
// unchanged unless the picture came from a bitmap, in which case it compresses.
#pragma once

#include <cstdint>
#include <memory>

#include "framework.h"

enum TJPEGPixelFormat { jf24Bit, jf8Bit };
enum TJPEGPerformance { jpBestQuality, jpBestSpeed };
// The decoder's scale denominator is 2 to the power of the value.
enum TJPEGScale { jsFullSize, jsHalf, jsQuarter, jsEighth };
using TJPEGQualityRange = int;  // 1 to 100
constexpr TJPEGQualityRange JpegMinQuality = 1;
constexpr TJPEGQualityRange JpegMaxQuality = 100;

// Settings copied into every new TJPEGImage.
struct TJPEGDefaults {
  TJPEGQualityRange CompressionQuality = 90;
  bool Grayscale = false;
  TJPEGPerformance Performance = jpBestQuality;
  TJPEGPixelFormat PixelFormat = jf24Bit;
  bool ProgressiveDisplay = false;
  bool ProgressiveEncoding = false;
  TJPEGScale Scale = jsFullSize;
  bool Smoothing = true;
};
extern TJPEGDefaults JpegDefaultSettings;

// Every fatal libjpeg error: "Erreur JPEG #<the library's message code>".
class EJPEG : public EInvalidGraphic {
 public:
  explicit EJPEG(int code);
  int ErrorCode() const { return FCode; }

 private:
  int FCode;
};

// The compressed picture, shared by every image assigned from the same source. Never
// changed once an image holds it: loading and compressing always make a new one.
class TJPEGData : public TSharedImage {
 public:
  TJPEGData() = default;
  // The complete JPEG file, or null when nothing was loaded or compressed yet.
  const TMemoryStream* Data() const { return FData.get(); }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  bool IsGrayscale() const { return FGrayscale; }

 private:
  friend class TJPEGImage;
  std::unique_ptr<TMemoryStream> FData;
  int32_t FHeight = 0;
  int32_t FWidth = 0;
  bool FGrayscale = false;
};

class TJpegDecompressor;
class TJpegCompressor;

class TJPEGImage : public TGraphic {
 public:
  TJPEGImage();
  ~TJPEGImage() override;
  static const char* StaticClassName() { return "TJPEGImage"; }
  const TGraphicClass& ClassType() const override { return ClassOf<TJPEGImage>(); }

  void Draw(TCanvas& canvas, const TRect& rect) override;
  // Takes the bytes from the stream's position to its end; reads only the header.
  void LoadFromStream(TStream& stream) override;
  // Writes the compressed bytes, compressing the bitmap first when there are none.
  void SaveToStream(TStream& stream) override;
  void Assign(TGraphic& source) override;
  // Like Assign, but a bitmap's pixels are taken over instead of copied.
  void Adopt(TGraphic& source) override;
  void AssignTo(TGraphic& dest) override;
  bool Equals(TGraphic& other) override;
  // The decoded bitmap's pixels (decoding first), unless it has transparency.
  bool OpaquePixels(TPixelView& view) override;

  // The decoded size, or the header's (scaled as Scale asks) before decoding.
  int Width() const override;
  int Height() const override;
  void SetWidth(int value) override;   // refused: a JPEG's size is its data's
  void SetHeight(int value) override;  // likewise
  bool Empty() const override;

  HPALETTE Palette() override;
  void SetPalette(HPALETTE palette) override;
  void LoadFromClipboardFormat(TClipboardFormat format, const TClipboardData& data,
                               HPALETTE palette) override;
  void SaveToClipboardFormat(TClipboardFormat& format, TClipboardData& data,
                             std::unique_ptr<TPalette>& palette) override;

  // The stored form: a 32-bit little-endian length, then the JPEG bytes.
  void ReadData(TStream& stream);
  void WriteData(TStream& stream) const;

  // Encodes the bitmap into new compressed data with the current settings.
  void Compress();
  // Compresses only when there is no compressed data.
  void JPEGNeeded();
  // Decodes when there is no bitmap yet.
  void DIBNeeded();
  // The decoded picture (decoding on first use); null for an image without data.
  TBitmap* Bitmap() { return GetBitmap(); }
  const TJPEGData& JPEGData() const { return *FImage; }

  TJPEGQualityRange CompressionQuality() const { return FQuality; }
  void SetCompressionQuality(TJPEGQualityRange value);
  // True when set, or when the data itself is grayscale.
  bool Grayscale() const { return FGrayScale || FImage->FGrayscale; }
  void SetGrayscale(bool value);
  TJPEGPixelFormat PixelFormat() const { return FPixelFormat; }
  void SetPixelFormat(TJPEGPixelFormat value);
  bool ProgressiveDisplay() const { return FProgressiveDisplay; }
  void SetProgressiveDisplay(bool value) { FProgressiveDisplay = value; }
  bool ProgressiveEncoding() const { return FProgressiveEncoding; }
  void SetProgressiveEncoding(bool value) { FProgressiveEncoding = value; }
  TJPEGPerformance Performance() const { return FPerformance; }
  void SetPerformance(TJPEGPerformance value);
  TJPEGScale Scale() const { return FScale; }
  void SetScale(TJPEGScale value);
  bool Smoothing() const { return FSmoothing; }
  void SetSmoothing(bool value);

 private:
  void NewImage();
  // Holds a copy of the bitmap (or its pixels taken over) as the only content.
  void TakeBitmap(TBitmap& bitmap, bool move);
  void ReadStream(TStream& stream, int64_t size);
  void ReadHeader();
  // Frees the decoded bitmap so that the next need decodes with the new settings; keeps
  // it when there is no compressed data to decode again from. True when dropped.
  bool DropBitmap();
  void CalcScaledSize() const;
  void SetupDecoding(TJpegDecompressor& jc) const;
  TBitmap* GetBitmap();
  void DecodeInto(TJpegDecompressor& jc, bool& useDecoderPalette);
  void CompressBitmap(TJpegCompressor& jc);
  void CompressRows(TJpegCompressor& jc, TBitmap& source);

  std::shared_ptr<TJPEGData> FImage;
  std::unique_ptr<TBitmap> FBitmap;
  mutable int32_t FScaledWidth = 0;
  mutable int32_t FScaledHeight = 0;
  std::unique_ptr<TPalette> FTempPal;
  bool FSmoothing;
  bool FGrayScale;
  TJPEGPixelFormat FPixelFormat;
  TJPEGQualityRange FQuality;
  bool FProgressiveDisplay;
  mutable bool FProgressiveEncoding;
  TJPEGPerformance FPerformance;
  TJPEGScale FScale;
  mutable bool FNeedRecalc = true;
};

// Registers TJPEGImage for "jpeg" and "jpg"; chooses the default pixel format.
void RegisterJpegImage();
void UnregisterJpegImage();

// ---------------------------------------------------------------------------------------
// Exif orientation. Cameras and phones store the sensor's rows as they were taken and
// record in the Exif data (the TIFF Orientation tag of the APP1 "Exif" segment) how the
// picture must be turned to be seen upright. TJPEGImage itself keeps the stored rows, as
// libjpeg delivers them; these helpers turn them for those who show the picture.
// ---------------------------------------------------------------------------------------

// The eight Exif values: where the stored first row and first column are seen.
enum TExifOrientation {
  eoNormal = 1,    // top, left
  eoMirrored,      // top, right: mirror left to right
  eoHalfTurn,      // bottom, right: turn by 180 degrees
  eoFlipped,       // bottom, left: mirror top to bottom
  eoTransposed,    // left, top: mirror over the main diagonal
  eoQuarterRight,  // right, top: turn a quarter clockwise
  eoTransverse,    // right, bottom: mirror over the other diagonal
  eoQuarterLeft,   // left, bottom: turn a quarter anticlockwise
};

// The orientation recorded in a JPEG file's bytes; eoNormal when there is no Exif
// segment, no orientation tag, or anything in them is malformed. Reads nothing past size.
TExifOrientation JpegExifOrientation(const uint8_t* data, size_t size);
// The orientation recorded in the image's compressed data (eoNormal without data).
TExifOrientation ExifOrientation(const TJPEGImage& image);
// A new bitmap with the source's pixels turned as the orientation asks (width and height
// swap for the last four values). Same pixel format and colour table as the source for 8,
// 24 and 32 bits per pixel; other formats come out as 24 bits.
std::unique_ptr<TBitmap> OrientedBitmap(TBitmap& source, TExifOrientation orientation);
// When the picture holds a JPEG whose orientation is not eoNormal, replaces it by its
// decoded pixels turned upright (a bitmap); any other picture stays as it is. Decodes, so
// a JPEG whose data is broken fails here with EJPEG.
void UprightPicture(TPicture& picture);
