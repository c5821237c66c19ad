// libjpeg destination manager over a TStream with a 4096-byte buffer.
#include "jpeg_glue.h"

namespace {

struct TStreamDest {
  jpeg_destination_mgr pub;
  TStream* stream;
  JOCTET* buffer;
};

TStreamDest* DestOf(j_compress_ptr cinfo) {
  return reinterpret_cast<TStreamDest*>(cinfo->dest);
}

// Writes count bytes; a short write is the library's file-write error, and a stream
// that throws leaves the library with its exception.
void WriteChunk(j_compress_ptr cinfo, TStreamDest& dest, size_t count) {
  int64_t written = 0;
  bool failed = false;
  try {
    written = dest.stream->Write(dest.buffer, int64_t(count));
  } catch (...) {
    static_cast<TJpegContext*>(cinfo->client_data)->KeepCurrentException();
    failed = true;
  }
  if (failed) static_cast<TJpegContext*>(cinfo->client_data)->Leave();
  if (written != int64_t(count)) ERREXIT(cinfo, JERR_FILE_WRITE);
}

void InitDestination(j_compress_ptr cinfo) {
  TStreamDest& dest = *DestOf(cinfo);
  dest.buffer = static_cast<JOCTET*>(cinfo->mem->alloc_small(reinterpret_cast<j_common_ptr>(cinfo),
                                                             JPOOL_IMAGE, JpegStreamBufferSize));
  dest.pub.next_output_byte = dest.buffer;
  dest.pub.free_in_buffer = JpegStreamBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  TStreamDest& dest = *DestOf(cinfo);
  WriteChunk(cinfo, dest, JpegStreamBufferSize);
  dest.pub.next_output_byte = dest.buffer;
  dest.pub.free_in_buffer = JpegStreamBufferSize;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  TStreamDest& dest = *DestOf(cinfo);
  const size_t count = JpegStreamBufferSize - dest.pub.free_in_buffer;
  if (count > 0) WriteChunk(cinfo, dest, count);
}

}  // namespace

void JpegStreamDest(j_compress_ptr cinfo, TStream& stream) {
  if (cinfo->dest == nullptr) {
    cinfo->dest = static_cast<jpeg_destination_mgr*>(cinfo->mem->alloc_small(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(TStreamDest)));
  }
  TStreamDest& dest = *DestOf(cinfo);
  dest.pub.init_destination = InitDestination;
  dest.pub.empty_output_buffer = EmptyOutputBuffer;
  dest.pub.term_destination = TermDestination;
  dest.stream = &stream;
  dest.buffer = nullptr;
}
