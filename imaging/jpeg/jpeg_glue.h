// The libjpeg side of TJPEGImage: one context per decoding, header read or compression,
// holding the error manager, the progress monitor and the library's structure.
//
// libjpeg is C: a fatal error must not return, and a C++ exception must never unwind
// through its frames. Every entry into the library therefore runs inside JpegGuard,
// which sets a jump point; the error manager and our callbacks leave the library by
// longjmp back to it, and the guard then throws (EJPEG, or the exception a callback
// caught on the way). Code between the guard and the library creates no objects with
// destructors, so the jump skips nothing that needs cleaning up.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "jpeg.h"

class TJpegContext {
 public:
  TJpegContext(const TJpegContext&) = delete;
  TJpegContext& operator=(const TJpegContext&) = delete;

  j_common_ptr Common() const { return FCommon; }
  // Inside a callback's catch block: keeps the exception for the guard to rethrow.
  void KeepCurrentException() noexcept { FPending = std::current_exception(); }
  // Leaves the library for the guard's jump point. The calling frame must hold no
  // object with a destructor.
  [[noreturn]] void Leave();
  // Called by the guard after the jump: throws what stopped the library.
  [[noreturn]] void Raise();

  // Monitor state: reports go to FImage (none: no reports).
  TJPEGImage* FImage = nullptr;
  int64_t FLastTime = 0;
  bool FHasTime = false;
  int FLastPercent = 0;
  unsigned FLastRow = 0;
  // Decoding settings saved before buffered-image mode changes them.
  J_DCT_METHOD FDctMethod = JDCT_ISLOW;
  boolean FTwoPass = FALSE;
  J_DITHER_MODE FDither = JDITHER_NONE;

  std::jmp_buf FJump;

 protected:
  TJpegContext();
  ~TJpegContext() = default;
  // Installs the error manager and the monitor on a structure about to be created.
  void Prepare(j_common_ptr common);
  // Limits the library's own working memory to the framework's budget.
  void LimitMemory();

  jpeg_error_mgr FError;
  jpeg_progress_mgr FProgress;

 private:
  j_common_ptr FCommon = nullptr;
  std::exception_ptr FPending;
};

// Runs body (which calls into libjpeg) with the context's jump point set. Must not be
// nested on one context: the inner guard would leave a dead jump point behind.
template <class Body>
void JpegGuard(TJpegContext& ctx, Body&& body) {
  if (setjmp(ctx.FJump) == 0) {
    body();
    return;
  }
  ctx.Raise();
}

class TJpegDecompressor : public TJpegContext {
 public:
  // image: where progress goes (null: no progress monitor at all).
  explicit TJpegDecompressor(TJPEGImage* image);
  ~TJpegDecompressor();
  jpeg_decompress_struct d;
};

class TJpegCompressor : public TJpegContext {
 public:
  explicit TJpegCompressor(TJPEGImage* image);
  ~TJpegCompressor();
  jpeg_compress_struct c;
};

// Source and destination managers over a TStream, 4096-byte buffers. Call inside a guard.
constexpr size_t JpegStreamBufferSize = 4096;
void JpegStreamSource(j_decompress_ptr cinfo, TStream& stream);
void JpegStreamDest(j_compress_ptr cinfo, TStream& stream);

// Shortest time between two progress reports (tests lower it to see every report).
extern int64_t JpegReportIntervalMs;

// The monitor callback (installed by the contexts when they have an image).
void JpegProgressMonitor(j_common_ptr cinfo);
// Progressive files with more scans than this are refused as hostile: each scan costs a
// pass over the whole picture.
constexpr int JpegMaxScans = 500;
