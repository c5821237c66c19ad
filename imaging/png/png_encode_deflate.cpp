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

void TIdatEncoder::EmitIdatChunk(const uint8_t* data, uint32_t length) {
  WritePngChunk(Z.Stream, MakeChunkName("IDAT"), data, length);
}

void TIdatEncoder::WriteIdatBytes(const uint8_t* buffer, size_t length) {
  TIdatDeflate& z = Z;
  z.Zlib.next_in = const_cast<Bytef*>(buffer);
  z.Zlib.avail_in = uInt(length);
  while (z.Zlib.avail_in > 0) {
    // There is always room for output here, so anything but progress is a failure.
    const int result = deflate(&z.Zlib, Z_NO_FLUSH);
    if (result != Z_OK) RaisePngCompressionError(result);
    if (z.Zlib.avail_out == 0) {
      EmitIdatChunk(z.Output.data(), uint32_t(z.Output.size()));
      z.RestartOutput();
    }
  }
}

// Only full buffers are emitted while the stream is finishing, so every chunk but the
// last holds exactly the chunk size.
void TIdatEncoder::FinishIdat() {
  TIdatDeflate& z = Z;
  z.Zlib.next_in = nullptr;
  z.Zlib.avail_in = 0;
  for (;;) {
    const int result = deflate(&z.Zlib, Z_FINISH);
    if (result == Z_STREAM_END) break;
    if (result != Z_OK) RaisePngCompressionError(result);
    if (z.Zlib.avail_out == 0) {
      EmitIdatChunk(z.Output.data(), uint32_t(z.Output.size()));
      z.RestartOutput();
    }
  }
  if (z.HeldBytes() > 0) EmitIdatChunk(z.Output.data(), uint32_t(z.HeldBytes()));
  z.RestartOutput();
}
