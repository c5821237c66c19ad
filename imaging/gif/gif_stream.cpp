// Sub-block adapters: the reader delivers the data bytes of a run of sub-blocks, the
// writer packs bytes into sub-blocks of up to 255.
#include <algorithm>
#include <cstring>

#include "gif_glue.h"

int64_t TGIFStream::Read(void*, int64_t) {
  GIFError(gifmsg::sBadStreamOperation);
}

int64_t TGIFStream::Write(const void*, int64_t) {
  GIFError(gifmsg::sBadStreamOperation);
}

int64_t TGIFStream::Seek(int64_t, TSeekOrigin) {
  GIFError(gifmsg::sBadStreamOperation);
}

void TGIFStream::Warning(const void* Sender, TGIFSeverity Severity, const std::string& Message) {
  if (FOnWarning) FOnWarning(Sender, Severity, Message);
}

TGIFReader::TGIFReader(TStream& Stream, int ABufferSize)
    : TGIFStream(Stream),
      FBuffer(size_t(std::max(ABufferSize, 256))),
      FBufferSize(int(FBuffer.size())) {}

int64_t TGIFReader::Read(void* Buffer, int64_t Count) {
  auto* out = static_cast<uint8_t*>(Buffer);
  int64_t done = 0;
  while (done < Count) {
    if (FBufferCount == 0) {
      if (FEOF) break;
      RefillBuffer();
      if (FBufferCount == 0) break;
    }
    int n = int(std::min<int64_t>(Count - done, FBufferCount));
    std::memcpy(out + done, FBuffer.data() + FData, size_t(n));
    FData += n;
    FBufferCount -= n;
    done += n;
  }
  return done;
}

void TGIFReader::RefillBuffer() {
  if (FBufferCount > 0 && FData > 0)
    std::memmove(FBuffer.data(), FBuffer.data() + FData, size_t(FBufferCount));
  FData = 0;
  while (!FEOF && FBufferCount < FBufferSize) {
    uint8_t length = 0;
    if (!TryReadByte(*FStream, length) || length == 0) {
      FEOF = true;
      break;
    }
    int64_t left = FStream->Size() - FStream->Position();
    int size = length;
    if (size > left) {
      Warning(this, gsWarning, gifmsg::sPrematureEOF);
      size = int(std::max<int64_t>(left, 0));
    }
    if (size > FBufferSize - FBufferCount) {
      FStream->Seek(-1, soCurrent);  // read the length again next time
      break;
    }
    int64_t got = FStream->Read(FBuffer.data() + FBufferCount, size);
    if (got < size) Warning(this, gsWarning, gifmsg::sPrematureEOF);
    FBufferCount += int(std::max<int64_t>(got, 0));
  }
}

void TGIFReader::SkipData() {
  FBufferCount = 0;
  FData = 0;
  if (!FEOF) {
    uint8_t length = 0;
    while (TryReadByte(*FStream, length) && length != 0) FStream->Seek(length, soCurrent);
  }
  FEOF = true;
}

TGIFWriter::~TGIFWriter() {
  try {
    EmitSubBlock();
  } catch (...) {
    // A destructor must not throw; the stream's failure already reached the caller's
    // writes or will show when the caller writes the terminator.
  }
}

int64_t TGIFWriter::Write(const void* Buffer, int64_t Count) {
  const auto* in = static_cast<const uint8_t*>(Buffer);
  for (int64_t i = 0; i < Count;) {
    FNeedsFlush = true;
    int n = int(std::min<int64_t>(Count - i, 256 - FBufferCount));
    std::memcpy(FBuffer + FBufferCount, in + i, size_t(n));
    FBufferCount += n;
    i += n;
    if (FBufferCount == 256) EmitSubBlock();
  }
  return Count;
}

void TGIFWriter::WriteByte(uint8_t Value) {
  Write(&Value, 1);
}

void TGIFWriter::EmitSubBlock() {
  if (FBufferCount <= 1) return;
  FBuffer[0] = uint8_t(FBufferCount - 1);
  FStream->WriteBuffer(FBuffer, FBufferCount);
  FBufferCount = 1;
  FNeedsFlush = false;
}
