// The compressed image data of the PNG writer: one zlib stream cut into IDAT chunks of
// exactly MaxIdatSize bytes, the last one holding the rest.
#include <algorithm>

#include "png_encode_internal.h"

namespace {

// A chunk length may not exceed 2^31 - 1 bytes.
constexpr uint32_t kLargestChunk = 0x7FFFFFFF;

}  // namespace

void RaisePngCompressionError(int zlibResult) {
  throw EPNGZLIBError(std::string("Impossible de compresser l'image.\r\n Description: ") +
                      ZlibErrorText(zlibResult));
}

void WritePngChunk(TStream& stream, const char name[4], const uint8_t* data, size_t length) {
  uint8_t head[8];
  WriteBE32(head, uint32_t(length));
  std::copy(name, name + 4, head + 4);
  uLong crc = crc32(0L, head + 4, 4);
  if (length > 0) crc = crc32(crc, data, uInt(length));
  uint8_t tail[4];
  WriteBE32(tail, uint32_t(crc));
  stream.WriteBuffer(head, 8);
  if (length > 0) stream.WriteBuffer(data, int64_t(length));
  stream.WriteBuffer(tail, 4);
}

TIdatDeflate::TIdatDeflate(TStream& destination, uint32_t chunkSize, int level)
    : Stream(destination) {
  chunkSize = std::clamp<uint32_t>(chunkSize, 1, kLargestChunk);
  CheckImageBudget(chunkSize);
  Output.resize(chunkSize);
  const int result = deflateInit(&Zlib, std::clamp(level, 0, 9));
  if (result != Z_OK) RaisePngCompressionError(result);
  Started = true;
  RestartOutput();
}

TIdatDeflate::~TIdatDeflate() {
  if (Started) deflateEnd(&Zlib);
}

void TIdatDeflate::RestartOutput() {
  Zlib.next_out = Output.data();
  Zlib.avail_out = uInt(Output.size());
}

void TChunkIDAT::EmitIdatChunk(TStream& stream, const uint8_t* data, uint32_t length) {
  WritePngChunk(stream, "IDAT", data, length);
}

void TChunkIDAT::WriteIdatBytes(TIdatDeflate& z, const uint8_t* buffer, size_t length) {
  z.Zlib.next_in = const_cast<Bytef*>(buffer);
  z.Zlib.avail_in = uInt(length);
  while (z.Zlib.avail_in > 0) {
    // There is always room for output here, so anything but progress is a failure.
    const int result = deflate(&z.Zlib, Z_NO_FLUSH);
    if (result != Z_OK) RaisePngCompressionError(result);
    if (z.Zlib.avail_out == 0) {
      EmitIdatChunk(z.Stream, z.Output.data(), uint32_t(z.Output.size()));
      z.RestartOutput();
    }
  }
}

// Only full buffers are emitted while the stream is finishing, so every chunk but the
// last holds exactly the chunk size.
void TChunkIDAT::FinishIdat(TIdatDeflate& z) {
  z.Zlib.next_in = nullptr;
  z.Zlib.avail_in = 0;
  for (;;) {
    const int result = deflate(&z.Zlib, Z_FINISH);
    if (result == Z_STREAM_END) break;
    if (result != Z_OK) RaisePngCompressionError(result);
    if (z.Zlib.avail_out == 0) {
      EmitIdatChunk(z.Stream, z.Output.data(), uint32_t(z.Output.size()));
      z.RestartOutput();
    }
  }
  if (z.HeldBytes() > 0) EmitIdatChunk(z.Stream, z.Output.data(), uint32_t(z.HeldBytes()));
  z.RestartOutput();
}
