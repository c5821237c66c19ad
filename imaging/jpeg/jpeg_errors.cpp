// Error manager and the library contexts: creation, destruction and the way out of
// libjpeg on a fatal error.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "jpeg_glue.h"

namespace {

std::string JpegErrorMessage(int code) {
  return "Erreur JPEG #" + std::to_string(code);
}

TJpegContext* ContextOf(j_common_ptr cinfo) {
  return static_cast<TJpegContext*>(cinfo->client_data);
}

// The library assumes this never returns.
[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  ContextOf(cinfo)->Leave();
}

// Warnings and trace messages are dropped: a damaged file decodes as far as it can.
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}
void FormatMessage(j_common_ptr, char* buffer) {
  if (buffer != nullptr) buffer[0] = '\0';
}
void ResetErrorMgr(j_common_ptr cinfo) {
  cinfo->err->num_warnings = 0;
  cinfo->err->msg_code = 0;
}

}  // namespace

EJPEG::EJPEG(int code) : EInvalidGraphic(JpegErrorMessage(code)), FCode(code) {}

TJpegContext::TJpegContext() {
  std::memset(&FError, 0, sizeof FError);
  std::memset(&FProgress, 0, sizeof FProgress);
}

void TJpegContext::Prepare(j_common_ptr common) {
  FCommon = common;
  common->err = jpeg_std_error(&FError);
  FError.error_exit = ErrorExit;
  FError.emit_message = EmitMessage;
  FError.output_message = OutputMessage;
  FError.format_message = FormatMessage;
  FError.reset_error_mgr = ResetErrorMgr;
  common->client_data = this;  // kept by the library's create call
}

void TJpegContext::LimitMemory() {
  // Beyond this the library would need a backing store, which it does not have: a
  // hostile progressive file then fails instead of exhausting memory.
  const uint64_t budget = std::min<uint64_t>(GetImageBudget(), LONG_MAX);
  FCommon->mem->max_memory_to_use = long(budget);
}

void TJpegContext::Leave() {
  std::longjmp(FJump, 1);
}

void TJpegContext::Raise() {
  if (FPending) {
    std::exception_ptr pending = std::move(FPending);
    FPending = nullptr;
    std::rethrow_exception(pending);
  }
  throw EJPEG(FError.msg_code);
}

TJpegDecompressor::TJpegDecompressor(TJPEGImage* image) {
  std::memset(&d, 0, sizeof d);
  FImage = image;
  Prepare(reinterpret_cast<j_common_ptr>(&d));
  try {
    JpegGuard(*this, [this] { jpeg_create_decompress(&d); });
  } catch (...) {
    jpeg_destroy_decompress(&d);
    throw;
  }
  LimitMemory();
  // Set after the create call, which clears the structure. The monitor also enforces
  // the scan limit, so decoding always has it.
  FProgress.progress_monitor = JpegProgressMonitor;
  d.progress = &FProgress;
}

TJpegDecompressor::~TJpegDecompressor() {
  jpeg_destroy_decompress(&d);
}

TJpegCompressor::TJpegCompressor(TJPEGImage* image) {
  std::memset(&c, 0, sizeof c);
  FImage = image;
  Prepare(reinterpret_cast<j_common_ptr>(&c));
  try {
    JpegGuard(*this, [this] { jpeg_create_compress(&c); });
  } catch (...) {
    jpeg_destroy_compress(&c);
    throw;
  }
  LimitMemory();
  if (image != nullptr) {
    FProgress.progress_monitor = JpegProgressMonitor;
    c.progress = &FProgress;
  }
}

TJpegCompressor::~TJpegCompressor() {
  jpeg_destroy_compress(&c);
}
