// libjpeg source manager over a TStream with a 4096-byte buffer.
#include "jpeg_glue.h"

namespace {

struct TStreamSource {
  jpeg_source_mgr pub;
  TStream* stream;
  // A memory stream is handed to the library in place: no copying, and libjpeg-turbo's
  // fast Huffman path needs more bytes in view than a small buffer holds.
  TMemoryStream* memory;
  JOCTET* buffer;
  bool startOfFile;  // nothing read yet: an empty input is an error, not a short file
};

TStreamSource* SourceOf(j_decompress_ptr cinfo) {
  return reinterpret_cast<TStreamSource*>(cinfo->src);
}

void InitSource(j_decompress_ptr cinfo) {
  SourceOf(cinfo)->startOfFile = true;
}

// Reads the next chunk; a stream that throws leaves the library with its exception.
int64_t ReadChunk(j_decompress_ptr cinfo, TStreamSource& src) {
  int64_t count = 0;
  bool failed = false;
  try {
    count = src.stream->Read(src.buffer, int64_t(JpegStreamBufferSize));
  } catch (...) {
    static_cast<TJpegContext*>(cinfo->client_data)->KeepCurrentException();
    failed = true;
  }
  if (failed) static_cast<TJpegContext*>(cinfo->client_data)->Leave();
  return count;
}

// The rest of a memory stream, in place; the stream moves to its end.
int64_t TakeMemory(TStreamSource& src) {
  TMemoryStream& m = *src.memory;
  const int64_t position = m.Position();
  const int64_t count = m.Size() - position;
  if (count <= 0) return 0;
  src.pub.next_input_byte = m.Memory() + position;
  m.Seek(0, soEnd);
  return count;
}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  TStreamSource& src = *SourceOf(cinfo);
  if (src.memory != nullptr) {
    const int64_t count = TakeMemory(src);
    if (count > 0) {
      src.pub.bytes_in_buffer = size_t(count);
      src.startOfFile = false;
      return TRUE;
    }
  }
  int64_t count = src.memory != nullptr ? 0 : ReadChunk(cinfo, src);
  if (count <= 0) {
    if (src.startOfFile) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    // A truncated file ends as if its end-of-image marker were there.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src.buffer[0] = JOCTET(0xFF);
    src.buffer[1] = JOCTET(JPEG_EOI);
    count = 2;
  }
  src.pub.next_input_byte = src.buffer;
  src.pub.bytes_in_buffer = size_t(count);
  src.startOfFile = false;
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  TStreamSource& src = *SourceOf(cinfo);
  while (size_t(count) > src.pub.bytes_in_buffer) {
    count -= long(src.pub.bytes_in_buffer);
    FillInputBuffer(cinfo);
  }
  src.pub.next_input_byte += count;
  src.pub.bytes_in_buffer -= size_t(count);
}

void TermSource(j_decompress_ptr) {}

}  // namespace

void JpegStreamSource(j_decompress_ptr cinfo, TStream& stream) {
  if (cinfo->src == nullptr) {
    auto alloc = cinfo->mem->alloc_small;
    auto common = reinterpret_cast<j_common_ptr>(cinfo);
    auto* src = static_cast<TStreamSource*>(alloc(common, JPOOL_PERMANENT, sizeof(TStreamSource)));
    src->buffer = static_cast<JOCTET*>(alloc(common, JPOOL_PERMANENT, JpegStreamBufferSize));
    cinfo->src = &src->pub;
  }
  TStreamSource& src = *SourceOf(cinfo);
  src.pub.init_source = InitSource;
  src.pub.fill_input_buffer = FillInputBuffer;
  src.pub.skip_input_data = SkipInputData;
  src.pub.resync_to_restart = jpeg_resync_to_restart;
  src.pub.term_source = TermSource;
  src.pub.bytes_in_buffer = 0;
  src.pub.next_input_byte = nullptr;
  src.stream = &stream;
  src.memory = dynamic_cast<TMemoryStream*>(&stream);
  src.startOfFile = true;
}
