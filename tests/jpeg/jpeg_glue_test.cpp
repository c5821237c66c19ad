// The library glue: progress reports from inside libjpeg, handlers that abort or fail
// there, and the stream source over streams that are not in memory.
#include <stdexcept>

#include "jpeg_glue.h"
#include "jpeg_test_util.h"

namespace {

// Every monitor call may report while a test runs.
class JpegGlue : public ::testing::Test {
 protected:
  void SetUp() override { JpegReportIntervalMs = 0; }
  void TearDown() override { JpegReportIntervalMs = 500; }
};

// A stream of bytes that are not in memory as far as the source knows, served in small
// pieces; it can fail after a number of reads.
class TTrickleStream : public TStream {
 public:
  TTrickleStream(Bytes bytes, int failAfter = -1)
      : FBytes(std::move(bytes)), FFailAfter(failAfter) {}
  int64_t Read(void* buffer, int64_t count) override {
    if (FFailAfter >= 0 && FReads++ >= FFailAfter) throw std::runtime_error("réseau coupé");
    const int64_t n = std::min<int64_t>({count, 1000, int64_t(FBytes.size()) - FPos});
    if (n <= 0) return 0;
    std::memcpy(buffer, FBytes.data() + FPos, size_t(n));
    FPos += n;
    return n;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    FPos = origin == soBeginning ? offset
           : origin == soCurrent ? FPos + offset
                                 : int64_t(FBytes.size()) + offset;
    return FPos;
  }

 private:
  Bytes FBytes;
  int FFailAfter;
  int FReads = 0;
  int64_t FPos = 0;
};

// Decodes through the glue alone, as BGR rows.
Bytes DecodeThroughGlue(TStream& stream) {
  TJpegDecompressor jc(nullptr);
  Bytes pixels;
  JpegGuard(jc, [&] {
    JpegStreamSource(&jc.d, stream);
    jpeg_read_header(&jc.d, TRUE);
    jc.d.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&jc.d);
  });
  pixels.resize(size_t(jc.d.output_width) * jc.d.output_height * 3);
  JpegGuard(jc, [&] {
    while (jc.d.output_scanline < jc.d.output_height) {
      JSAMPROW row = &pixels[size_t(jc.d.output_scanline) * jc.d.output_width * 3];
      jpeg_read_scanlines(&jc.d, &row, 1);
    }
    jpeg_finish_decompress(&jc.d);
  });
  return pixels;
}

TEST_F(JpegGlue, ProgressReportsRowsAndPercent) {
  const Bytes file = MakeJpeg(64, 400);
  TJPEGImage image;
  LoadBytes(image, file);
  int lastPercent = -1, running = 0;
  image.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t percent, bool redraw,
                         const TRect& r, const std::string& message) {
    EXPECT_TRUE(message.empty());
    if (stage == psEnding) {
      EXPECT_EQ(percent, 100);
    }
    if (stage != psRunning) return;
    ++running;
    EXPECT_GT(int(percent), lastPercent);
    lastPercent = percent;
    EXPECT_EQ(r.Left, 0);
    EXPECT_EQ(r.Right, 64);
    EXPECT_LE(r.Bottom, 400);
    EXPECT_EQ(redraw, r.Height() >= 4);
  };
  image.DIBNeeded();
  EXPECT_GT(running, 5);
}

TEST_F(JpegGlue, AbortInsideTheLibraryKeepsTheRowsDecoded) {
  const Bytes file = MakeJpeg(64, 400);
  TJPEGImage image;
  LoadBytes(image, file);
  image.OnProgress = [](TGraphic&, TProgressStage stage, uint8_t percent, bool, const TRect&,
                        const std::string&) {
    if (stage == psRunning && percent >= 50) throw EAbort();
  };
  EXPECT_NO_THROW(image.DIBNeeded());
  TBitmap* bitmap = image.Bitmap();
  ASSERT_EQ(bitmap->Height(), 400);
  Reference ref = DecodeWithLibrary(file);
  EXPECT_EQ(std::memcmp(bitmap->GetScanline(0), ref.pixels.data(), 64 * 3), 0);
  const uint8_t* last = bitmap->GetScanline(399);
  EXPECT_TRUE(std::all_of(last, last + 64 * 3, [](uint8_t v) { return v == 0; }));
}

TEST_F(JpegGlue, HandlerErrorsLeaveTheLibraryIntact) {
  const Bytes file = MakeJpeg(64, 400);
  TJPEGImage image;
  LoadBytes(image, file);
  image.OnProgress = [](TGraphic&, TProgressStage stage, uint8_t, bool, const TRect&,
                        const std::string&) {
    if (stage == psRunning) throw std::runtime_error("gestionnaire");
  };
  EXPECT_THROW(image.DIBNeeded(), std::runtime_error);

  auto bitmap = std::make_unique<TBitmap>();
  image.AssignTo(*bitmap);
  TJPEGImage encoder;
  encoder.Assign(*bitmap);
  encoder.OnProgress = [](TGraphic&, TProgressStage stage, uint8_t, bool, const TRect&,
                          const std::string&) {
    if (stage == psRunning) throw EAbort();
  };
  EXPECT_NO_THROW(encoder.Compress());
  EXPECT_TRUE(encoder.JPEGData().Data() == nullptr);
}

TEST_F(JpegGlue, SourceOverAnyStream) {
  const Bytes file = MakeJpeg(90, 70);
  TTrickleStream whole(file);
  EXPECT_TRUE(DecodeThroughGlue(whole) == DecodeWithLibrary(file).pixels);

  // Cut short: the source ends it with an end-of-image marker; no error.
  TTrickleStream cut(Bytes(file.begin(), file.begin() + long(file.size() / 2)));
  EXPECT_EQ(DecodeThroughGlue(cut).size(), size_t(90 * 70 * 3));

  TTrickleStream empty(Bytes{});
  try {
    DecodeThroughGlue(empty);
    FAIL();
  } catch (const EJPEG& e) {
    EXPECT_EQ(e.ErrorCode(), int(JERR_INPUT_EMPTY));
  }

  // The stream's own error comes out of the library as itself.
  TTrickleStream failing(file, 2);
  EXPECT_THROW(DecodeThroughGlue(failing), std::runtime_error);
}

}  // namespace
