// Floyd-Steinberg error diffusion (7, 3, 5, 1 sixteenths) with one error row per channel
// and the errors of the row below kept in three running values.
#include "gif_glue.h"
#include "gif_reduce.h"

TFloydSteinbergDitherer::TFloydSteinbergDitherer(int AWidth, TColorLookup& Lookup)
    : TDitherEngine(AWidth, Lookup) {
  ErrorLimit.Soften(16, 48, 32);
  for (TChannel& c : FChannels) c.Errors.assign(size_t(FWidth) + 2, 0);
  StartRow();
}

void TFloydSteinbergDitherer::StartRow() {
  for (TChannel& c : FChannels) {
    c.Error = c.Errors.data() + (FDirection > 0 ? 0 : FWidth + 1);
    c.CurrentError = c.BelowError = c.BelowPrevError = 0;
  }
}

void TFloydSteinbergDitherer::Reset() {
  TDitherEngine::Reset();
  for (TChannel& c : FChannels) std::fill(c.Errors.begin(), c.Errors.end(), 0);
  StartRow();
}

int TFloydSteinbergDitherer::Dither(int Red, int Green, int Blue, int& R, int& G, int& B) {
  const int in[3] = {Red, Green, Blue};
  int value[3];
  for (int i = 0; i < 3; ++i)
    value[i] = Correct(in[i], *FChannels[i].Error + FChannels[i].CurrentError, 16);
  const int index = TDitherEngine::Dither(value[0], value[1], value[2], R, G, B);
  const int out[3] = {R, G, B};
  for (int i = 0; i < 3; ++i) {
    TChannel& c = FChannels[i];
    const int d = value[i] - out[i];
    if (d != 0) {
      // The slot read for this pixel now takes the error for the row below.
      *c.Error = c.BelowPrevError + 3 * d;
      c.BelowPrevError = c.BelowError + 5 * d;
      c.BelowError = d;
      c.CurrentError = 7 * d;
    } else {
      c.CurrentError = 0;
    }
    c.Error += FDirection;
  }
  return index;
}

void TFloydSteinbergDitherer::NextLine() {
  for (TChannel& c : FChannels) *c.Error = c.BelowPrevError;
  TDitherEngine::NextLine();
  StartRow();
}
