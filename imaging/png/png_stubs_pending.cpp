// Temporary stand-ins for the drawing and encoding side; each goes away when its real
// implementation lands in png_draw*.cpp / png_encode*.cpp.
#include "pngimage.h"

namespace {
[[noreturn]] void Pending() {
  throw EPngError("non implémenté");
}
}  // namespace

void TPngImage::Draw(TCanvas&, const TRect&) {
  Pending();
}
void TPngImage::AssignTo(TGraphic&) {
  Pending();
}
void TPngImage::DrawWithAlpha(TBitmap&, const TRect&) {
  Pending();
}
void TPngImage::DrawColorKeyed(TBitmap&, const TPixelView&, TColor, const TRect&) {
  Pending();
}
void TPngImage::DrawUsingPixelInformation(TCanvas&, const TPoint&) {
  Pending();
}
void TPngImage::AssignHandle(TBitmap&, bool, TColor) {
  Pending();
}

bool TChunkIDAT::SaveToStream(TStream&) {
  Pending();
}
void TChunkIDAT::EncodeRowsPlain(TIdatDeflate&) {
  Pending();
}
void TChunkIDAT::EncodeRowsAdam7(TIdatDeflate&) {
  Pending();
}
int TChunkIDAT::ChooseRowFilter() {
  Pending();
}
void TChunkIDAT::WriteIdatBytes(TIdatDeflate&, const uint8_t*, size_t) {
  Pending();
}
void TChunkIDAT::FinishIdat(TIdatDeflate&) {
  Pending();
}
void TChunkIDAT::EmitIdatChunk(TStream&, const uint8_t*, uint32_t) {
  Pending();
}
