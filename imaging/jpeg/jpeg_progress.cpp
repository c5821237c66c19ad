// Progress monitor: libjpeg calls it during long passes; it reports to the picture's
// Progress at most twice a second, and stops hostile files with endless scans.
#include <chrono>

#include "jpeg_glue.h"

int64_t JpegReportIntervalMs = 500;

namespace {

int64_t TickCountMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int PercentDone(const jpeg_progress_mgr& p) {
  if (p.total_passes <= 0) return 0;
  double pass = p.pass_limit > 0 ? double(p.pass_counter) / double(p.pass_limit) : 0.0;
  const int percent = int((pass + p.completed_passes) * 100.0 / p.total_passes);
  return percent < 0 ? 0 : percent > 100 ? 100 : percent;
}

// The rows decoded since the last report; a new pass starting over from the top
// reaches down to the bottom so that the whole picture is redrawn.
TRect DecodedRect(const jpeg_decompress_struct& d, unsigned lastRow) {
  TRect r = Rect(0, int(lastRow), int(d.output_width), int(d.output_scanline));
  if (r.Bottom < r.Top) r.Bottom = int(d.output_height);
  return r;
}

// Sends the report; an exception from the handler is kept for the guard. Returns false
// when the library must be left.
bool Report(TJpegContext& ctx, int percent, const TRect& rect) {
  try {
    ctx.FImage->Progress(psRunning, uint8_t(percent), rect.Height() >= 4, rect, std::string());
    return true;
  } catch (...) {
    ctx.KeepCurrentException();
    return false;
  }
}

}  // namespace

void JpegProgressMonitor(j_common_ptr cinfo) {
  auto& ctx = *static_cast<TJpegContext*>(cinfo->client_data);
  if (cinfo->is_decompressor) {
    auto d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > JpegMaxScans) ERREXIT(cinfo, JERR_BAD_PROGRESSION);
  }
  if (ctx.FImage == nullptr) return;
  const int64_t now = TickCountMs();
  if (ctx.FHasTime && now - ctx.FLastTime < JpegReportIntervalMs) return;
  const bool first = !ctx.FHasTime;
  ctx.FLastTime = now;
  ctx.FHasTime = true;
  if (first) return;

  TRect rect;
  auto d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (cinfo->is_decompressor) rect = DecodedRect(*d, ctx.FLastRow);
  const int percent = PercentDone(*cinfo->progress);
  if (percent == ctx.FLastPercent) return;
  ctx.FLastPercent = percent;
  if (cinfo->is_decompressor) ctx.FLastRow = d->output_scanline;
  if (!Report(ctx, percent, rect)) ctx.Leave();
}
