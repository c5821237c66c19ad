// Decoding of the image data: one zlib stream followed across as many IDAT chunks as it
// needs, read in pieces of at most 65535 bytes, inflated many rows at a time, unfiltered
// and converted into the image rows.
//
// Why many rows at a time: zlib's fast loop only runs while 258 bytes of output space are
// left, and every call ends by copying what it wrote into zlib's window; a call per row
// paid both on every row. A plain image is therefore inflated in batches of rows into the
// bottom of its own pixel buffer, where the rows not yet decoded lie (rows are stored
// bottom-up, so a batch always fits below the places of its own rows), and each row is
// unfiltered there and converted into its place. No memory is added to the two row
// buffers; rows not decoded after a failure or an early end are zeroed again.
//
// The reading stays exactly that of a row at a time, errors included: a row-sized call
// fetches more input at the start of the next row when the input is used up, and what a
// row-sized call raised after its row was complete (zlib decodes ahead up to the next
// output) cost that row. A batch call is given all but the last byte of the input, so it
// never passes a row end where the row-sized calls would have fetched; when it stops
// short of that byte, the reading goes on with row-sized calls until the next fetch.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <exception>

#include "png_decode_internal.h"
#include "png_internal.h"
#include "png_read_internal.h"

namespace {

// Output of one batch: large enough that zlib's per-call work no longer counts, small
// enough that the batch is still in the processor's cache when it is unfiltered.
constexpr size_t kBatchBytes = size_t(256) << 10;

}  // namespace

// The inflate state of one decode. It keeps its own count of the stream position so that
// the hot path makes no stream calls besides the reads.
struct TIdatInflate {
  explicit TIdatInflate(TStream& source) : Stream(source), Position(source.Position()) {
    const int result = inflateInit(&Zlib);
    if (result != Z_OK) throw EPNGZLIBError(ZlibErrorMessage(result));
    Initialised = true;
    // The stream's Adler-32 is checked here, by a faster routine (Inflate below).
    inflateValidate(&Zlib, 0);
  }
  ~TIdatInflate() {
    if (Initialised) inflateEnd(&Zlib);
  }
  TIdatInflate(const TIdatInflate&) = delete;
  TIdatInflate& operator=(const TIdatInflate&) = delete;

  // Reads up to count bytes of the current chunk's data into buffer, updating the CRC.
  size_t ReadData(uint8_t* buffer, size_t count) {
    const int64_t got = Stream.Read(buffer, int64_t(count));
    if (got <= 0) return 0;
    Position += got;
    Crc = UpdateCrc(Crc, buffer, size_t(got));
    return size_t(got);
  }

  TStream& Stream;
  int64_t Position;
  z_stream Zlib{};
  bool Initialised = false;
  bool StreamEnded = false;  // zlib reported the end of its stream: no more output
  uint32_t Crc = 0xFFFFFFFFu;
  std::vector<uint8_t> Input = std::vector<uint8_t>(65535);
};

namespace {

// Reads the 4-byte CRC that follows a chunk's data and compares it with the running CRC.
void CheckChunkCrc(TIdatInflate& z) {
  uint8_t crc[4];
  ReadExact(z.Stream, crc, 4);
  z.Position += 4;
  if (ReadBE32(crc) != ~z.Crc) throw EPngInvalidCRC();
}

bool IsIdentity(const std::array<uint8_t, 256>& table) {
  for (int i = 0; i < 256; ++i)
    if (table[size_t(i)] != i) return false;
  return true;
}

// The decoding state of one load: the header it decodes into, the row geometry, the two
// row buffers (the row being decoded and the one above it), where the current IDAT
// chunk's data ends, and what the reading needs to behave as a row at a time would.
struct TIdatDecoder {
  TIdatDecoder(TPngImage& image, TIdatInflate& inflate);

  size_t ReadIdatBytes(uint8_t* buffer, size_t count, std::exception_ptr& failure);
  void FetchInput();
  void Inflate(uInt space);
  uint32_t LastFourBytesRead() const;
  uint32_t BatchRows(uint32_t y) const;
  void UnfilterRow();
  void DecodeRowsPlain();
  void DecodeRowsAdam7();
  void FinishLastChunk();
  void InstallGrayPalette();

  TPngImage& Image;
  TIdatInflate& Z;
  TChunkIHDR* Header;
  uint32_t ImageWidth;
  uint32_t ImageHeight;
  uint32_t Row_Bytes = 0;
  uint32_t Offset = 1;
  std::array<std::vector<uint8_t>, 2> Row_Buffer;
  int RowUsed = 1;  // the first row goes to buffer 1; buffer 0 is the zero row above it
  int64_t EndPos = 0;

  uint64_t Produced = 0;         // bytes inflated so far
  uint64_t LastFetchAt = ~0ull;  // Produced when input was last fetched
  uInt Held = 0;                 // 1: the input's last byte is kept back from zlib
  uint32_t Adler = 1;            // Adler-32 of the bytes inflated so far
  uint32_t EarlierBytes = 0;     // the last four bytes of the input pieces used up
  bool ZlibFailed = false;       // the failure being raised is zlib's
};

TIdatDecoder::TIdatDecoder(TPngImage& image, TIdatInflate& inflate)
    : Image(image),
      Z(inflate),
      Header(&image.Header()),
      ImageWidth(Header->Width()),
      ImageHeight(Header->Height()) {
  Row_Bytes = PngRowBytes(Header->ColorType(), Header->BitDepth(), ImageWidth);
  Offset = PngFilterOffset(Header->ColorType(), Header->BitDepth());
  for (auto& b : Row_Buffer) b.assign(size_t(Row_Bytes) + 1, 0);
}

void TIdatDecoder::InstallGrayPalette() {
  const uint8_t colorType = Header->ColorType();
  if (colorType != COLOR_GRAYSCALE && colorType != COLOR_GRAYSCALEALPHA) return;
  Image.ReplacePalette(Header->MakeGrayPalette(std::min(Header->BitsPerPixel(), 8)), true);
}

}  // namespace

bool TChunkIDAT::LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) {
  // A header that was refused has no buffers to decode into.
  if (fOwner->Header().ImageData() == nullptr) throw EPNGHeaderNotPresent();
  TIdatInflate z(stream);
  TIdatDecoder decoder(*fOwner, z);
  if (decoder.Header->HasPalette()) decoder.InstallGrayPalette();
  z.Crc = UpdateCrc(0xFFFFFFFFu, chunkName.data(), 4);
  decoder.EndPos = z.Position + size;
  if (fOwner->InterlaceMethod() == imAdam7)
    decoder.DecodeRowsAdam7();
  else
    decoder.DecodeRowsPlain();
  decoder.FinishLastChunk();
  return true;
}

// The zlib stream's last four bytes read so far, big-endian: at the stream's end, its
// Adler-32.
uint32_t TIdatDecoder::LastFourBytesRead() const {
  const z_stream& zs = Z.Zlib;
  uint32_t bytes = EarlierBytes;
  if (zs.next_in == nullptr) return bytes;
  const size_t used = size_t(zs.next_in - Z.Input.data());
  for (size_t i = used - std::min<size_t>(used, 4); i < used; ++i)
    bytes = (bytes << 8) | Z.Input[i];
  return bytes;
}

// More input once zlib has used up all of it: the next piece of the current chunk, or of
// the next chunk, which must be IDAT too, after the current one's CRC.
void TIdatDecoder::FetchInput() {
  TIdatInflate& z = Z;
  z_stream& zs = z.Zlib;
  EarlierBytes = LastFourBytesRead();
  if (z.Position == EndPos) {
    CheckChunkCrc(z);
    uint8_t head[8];
    ReadExact(z.Stream, head, 8);
    z.Position += 8;
    if (std::memcmp(head + 4, "IDAT", 4) != 0) throw EPNGMissingMultipleIDAT();
    z.Crc = UpdateCrc(0xFFFFFFFFu, "IDAT", 4);
    EndPos = z.Position + ReadBE32(head);
  }
  const size_t want = size_t(std::min<int64_t>(EndPos - z.Position, 65535));
  const size_t got = z.ReadData(z.Input.data(), want);
  // The file ends inside the image data; the rows decoded so far stay.
  if (got == 0) throw EPngUnexpectedEnd();
  zs.next_in = z.Input.data();
  zs.avail_in = uInt(got);
  LastFetchAt = Produced;
}

// One inflate call with `space` bytes of output room (0: only decode what comes before the
// next output, as a row-sized call does once its row is full).
void TIdatDecoder::Inflate(uInt space) {
  z_stream& zs = Z.Zlib;
  uint8_t* const from = zs.next_out;
  zs.avail_out = space;
  int result = inflate(&zs, Z_NO_FLUSH);
  const size_t made = size_t(zs.next_out - from);
  Adler = Adler32(Adler, from, made);
  Produced += made;
  if (result == Z_STREAM_END) {
    Z.StreamEnded = true;
    if (LastFourBytesRead() != Adler) result = Z_DATA_ERROR;  // zlib's "incorrect data check"
  }
  if (space == 0 && result == Z_BUF_ERROR) return;  // nothing to decode before the output
  // A preset dictionary can never be supplied: inflate would stall on it forever.
  if (result < 0 || result == Z_NEED_DICT) {
    ZlibFailed = true;
    throw EPNGZLIBError(ZlibErrorMessage(result));
  }
}

// Inflates count bytes, whole rows of Row_Bytes + 1 bytes, into buffer and returns the
// number delivered: count, or fewer when the zlib stream ended. A failure is handed back in
// `failure`, with the bytes of the rows that a row-at-a-time reading would have delivered
// before raising it.
size_t TIdatDecoder::ReadIdatBytes(uint8_t* buffer, size_t count, std::exception_ptr& failure) {
  z_stream& zs = Z.Zlib;
  const uint64_t rowLen = uint64_t(Row_Bytes) + 1;
  uint8_t* const end = buffer + count;
  const uint64_t start = Produced;
  zs.next_out = buffer;
  try {
    while (zs.next_out < end && !Z.StreamEnded) {
      if (zs.avail_in == 0 && Held == 0) FetchInput();
      if (zs.avail_in + Held >= 2) {
        if (Held == 0) Held = 1, --zs.avail_in;
        Inflate(uInt(end - zs.next_out));
      } else {
        zs.avail_in += Held, Held = 0;
        const uint64_t toRowEnd = rowLen - (Produced - start) % rowLen;
        Inflate(uInt(std::min<uint64_t>(toRowEnd, uint64_t(end - zs.next_out))));
      }
      if (Held == 0 || zs.avail_in > 0 || Z.StreamEnded) continue;
      // zlib used up what it was given: it gets the byte kept back. At a row end that no
      // fetch followed, it decodes with it what the call that completed the row would have.
      zs.avail_in = 1, Held = 0;
      if ((Produced - start) % rowLen == 0 && Produced > 0 && LastFetchAt != Produced) Inflate(0);
    }
  } catch (...) {
    failure = std::current_exception();
    const uint64_t made = Produced - start;
    uint64_t rows = made / rowLen;
    // A zlib failure found right at a row end came from the call that completed the row,
    // unless input was fetched since, or it is a back reference that is only checked when
    // its bytes are written.
    const bool atCopy = zs.msg && std::strcmp(zs.msg, "invalid distance too far back") == 0;
    if (ZlibFailed && rows > 0 && made % rowLen == 0 && LastFetchAt != Produced && !atCopy) --rows;
    return size_t(rows * rowLen);
  }
  return size_t(Produced - start);
}

void TIdatDecoder::FinishLastChunk() {
  // Rows can be complete before the current chunk's data is all read: trailing bytes after
  // the zlib stream, or a large chunk whose last piece still held the stream's final bytes
  // (its Adler-32 check) when the rows were complete. Reading the four bytes at the current
  // position as the CRC would then refuse sound files, depending only on where the pieces
  // of 65535 bytes happen to end; the rest of the chunk is read (and covered by the CRC)
  // before its CRC is.
  TIdatInflate& z = Z;
  while (z.Position < EndPos) {
    const size_t want = size_t(std::min<int64_t>(EndPos - z.Position, 65535));
    if (z.ReadData(z.Input.data(), want) == 0) throw EPngUnexpectedEnd();
  }
  CheckChunkCrc(z);
}

void TIdatDecoder::UnfilterRow() {
  UnfilterPngRow(Row_Buffer[size_t(RowUsed)].data(), Row_Buffer[size_t(1 - RowUsed)].data(),
                 Row_Bytes, Offset);
}

// Rows of a batch from image row y on whose PNG rows fit, filter bytes and all, at the
// bottom of the pixel buffer below the places of the batch's own rows:
// n (Row_Bytes + 1) <= BytesPerRow (rows left - n). Fewer than 2: one row at a time.
uint32_t TIdatDecoder::BatchRows(uint32_t y) const {
  const uint64_t left = ImageHeight - y, rowLen = uint64_t(Row_Bytes) + 1;
  const uint64_t stride = Header->BytesPerRow();
  const uint64_t wanted = std::min<uint64_t>(left, std::max<uint64_t>(2, kBatchBytes / rowLen));
  return uint32_t(std::min(wanted, stride * left / (rowLen + stride)));
}

namespace {

// The bottom of the pixel buffer as the batches use it. The rows below the last one
// decoded are zeroed again where a batch wrote into them, whatever ends the decoding.
struct TBatchArea {
  uint8_t* Bottom;
  size_t Stride;
  uint32_t Height;
  const uint32_t& RowsDone;
  size_t Written = 0;  // bytes from Bottom that batches wrote into

  ~TBatchArea() { std::memset(Bottom, 0, std::min(Written, Stride * (Height - RowsDone))); }
  // A row's place must be all zero before its row is converted into it: the converters
  // leave the padding, and some the unused bits of the last byte, as they find them.
  void Clean(uint8_t* place) const {
    if (size_t(place - Bottom) < Written) std::memset(place, 0, Stride);
  }
};

}  // namespace

void TIdatDecoder::DecodeRowsPlain() {
  const TRowConverter convert = ChooseRowConverter(Header->ColorType(), Header->BitDepth(), false,
                                                   IsIdentity(Image.GammaTable));
  if (!convert) throw EPngInvalidIHDR();
  const uint8_t* gamma = Image.GammaTable.data();
  const size_t stride = Header->BytesPerRow();
  const size_t rowLen = size_t(Row_Bytes) + 1;
  uint8_t* extra = Header->ExtraImageData();
  uint8_t* alpha = Header->ImageAlpha();
  uint32_t y = 0;
  TBatchArea area{Header->ImageData(), stride, ImageHeight, y};
  while (y < ImageHeight) {
    const uint32_t batch = BatchRows(y);
    uint8_t* rows = batch >= 2 ? area.Bottom : Row_Buffer[size_t(RowUsed)].data();
    std::exception_ptr failure;
    const uint32_t wanted = std::max<uint32_t>(batch, 1);
    const uint32_t got = uint32_t(ReadIdatBytes(rows, wanted * rowLen, failure) / rowLen);
    if (batch >= 2) area.Written = std::max(area.Written, size_t(Z.Zlib.next_out - rows));
    const uint8_t* prior = Row_Buffer[size_t(1 - RowUsed)].data();
    for (uint32_t j = 0; j < got;) {
      uint8_t* row = rows + j * rowLen;
      const bool pair =
          j + 1 < got && UnfilterPngRowPair(row, row + rowLen, prior, Row_Bytes, Offset);
      if (!pair) UnfilterPngRow(row, prior, Row_Bytes, Offset);
      for (const uint32_t last = j + (pair ? 1 : 0); j <= last; ++j, ++y, row += rowLen) {
        uint8_t* place = Header->PixelRow(y);
        area.Clean(place);
        const size_t below = stride * (ImageHeight - 1 - y);
        convert(row + 1,
                TRowTarget{place, extra ? extra + below : nullptr,
                           alpha ? alpha + size_t(y) * ImageWidth : nullptr},
                ImageWidth, 0, 1, gamma);
        prior = row;
      }
    }
    if (batch < 2 && got == 1) RowUsed = 1 - RowUsed;
    if (batch >= 2 && got > 0)  // the next batch's first row is unfiltered against it
      std::memcpy(Row_Buffer[size_t(1 - RowUsed)].data(), prior, rowLen);
    if (failure) std::rethrow_exception(failure);
    if (got < wanted) return;  // the zlib stream ended early
  }
}

void TIdatDecoder::DecodeRowsAdam7() {
  const TRowConverter convert = ChooseRowConverter(Header->ColorType(), Header->BitDepth(), true,
                                                   IsIdentity(Image.GammaTable));
  if (!convert) throw EPngInvalidIHDR();
  const uint8_t* gamma = Image.GammaTable.data();
  const size_t stride = Header->BytesPerRow();
  for (const TAdam7Pass& pass : kAdam7Passes) {
    const uint32_t x0 = pass.StartColumn, dx = pass.ColumnIncrement;
    const uint32_t width = pass.Width(ImageWidth);
    Row_Bytes = PngRowBytes(Header->ColorType(), Header->BitDepth(), width);
    std::fill(Row_Buffer[size_t(1 - RowUsed)].begin(), Row_Buffer[size_t(1 - RowUsed)].end(), 0);
    if (Row_Bytes == 0) continue;
    for (uint32_t y = pass.StartRow; y < ImageHeight; y += pass.RowIncrement) {
      std::exception_ptr failure;
      const size_t want = size_t(Row_Bytes) + 1;
      const size_t got = ReadIdatBytes(Row_Buffer[size_t(RowUsed)].data(), want, failure);
      if (got == want) {
        UnfilterRow();
        uint8_t* extra = Header->ExtraImageData();
        uint8_t* alpha = Header->ImageAlpha();
        const TRowTarget target{Header->PixelRow(y),
                                extra ? extra + stride * (ImageHeight - 1 - y) : nullptr,
                                alpha ? alpha + size_t(y) * ImageWidth : nullptr};
        convert(Row_Buffer[size_t(RowUsed)].data() + 1, target, width, x0, dx, gamma);
        RowUsed = 1 - RowUsed;
      }
      if (failure) std::rethrow_exception(failure);
      if (got < want) return;  // the zlib stream ended early
    }
  }
}
