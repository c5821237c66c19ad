// Error diffusion over three rows and five columns: the Stucki, Sierra and
// Jarvis-Judice-Ninke kernels. Pixel c of a row is slot c + 2 of its error arrays, so
// the two margin slots on each side take the errors that fall outside the row.
#include <algorithm>

#include "gif_glue.h"
#include "gif_reduce.h"

T5by3Ditherer::T5by3Ditherer(int AWidth, TColorLookup& Lookup) : TDitherEngine(AWidth, Lookup) {
  ErrorLimit.Soften(8, 32, 20);
  for (auto& channel : FErrors)
    for (TErrors& row : channel) row.assign(size_t(FWidth) + 4, 0);
  StartRow();
}

void T5by3Ditherer::StartRow() {
  const int slot = FDirection > 0 ? 2 : FWidth + 1;
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < 3; ++r) FError[c][r] = FErrors[c][r].data() + slot;
}

void T5by3Ditherer::Reset() {
  TDitherEngine::Reset();
  for (auto& channel : FErrors)
    for (TErrors& row : channel) std::fill(row.begin(), row.end(), 0);
  FDirection2 = 2;
  StartRow();
}

int T5by3Ditherer::Dither(int Red, int Green, int Blue, int& R, int& G, int& B) {
  const int in[3] = {Red, Green, Blue};
  int value[3];
  for (int c = 0; c < 3; ++c) value[c] = Correct(in[c], *FError[c][0], FDivisor);
  const int index = TDitherEngine::Dither(value[0], value[1], value[2], R, G, B);
  const int out[3] = {R, G, B};
  for (int c = 0; c < 3; ++c) {
    const int e = value[c] - out[c];
    if (e != 0) SpreadError(FError[c][0], FError[c][1], FError[c][2], e);
    for (PErrors& p : FError[c]) p += FDirection;
  }
  return index;
}

void T5by3Ditherer::NextLine() {
  for (auto& channel : FErrors) {
    std::fill(channel[0].begin(), channel[0].end(), 0);
    std::swap(channel[0], channel[1]);  // row 0 := row 1
    std::swap(channel[1], channel[2]);  // row 1 := row 2, row 2 := the cleared row
  }
  TDitherEngine::NextLine();
  FDirection2 = 2 * FDirection;
  StartRow();
}

TStuckiDitherer::TStuckiDitherer(int AWidth, TColorLookup& Lookup) : T5by3Ditherer(AWidth, Lookup) {
  FDivisor = 42;
}

void TStuckiDitherer::SpreadError(PErrors E0, PErrors E1, PErrors E2, int e) {
  const int d = FDirection, d2 = FDirection2;
  E0[d] += 8 * e;
  E0[d2] += 4 * e;
  E1[-d2] += 2 * e;
  E1[-d] += 4 * e;
  E1[0] += 8 * e;
  E1[d] += 4 * e;
  E1[d2] += 2 * e;
  E2[-d2] += e;
  E2[-d] += 2 * e;
  E2[0] += 4 * e;
  E2[d] += 2 * e;
  E2[d2] += e;
}

TSierraDitherer::TSierraDitherer(int AWidth, TColorLookup& Lookup) : T5by3Ditherer(AWidth, Lookup) {
  FDivisor = 32;
}

void TSierraDitherer::SpreadError(PErrors E0, PErrors E1, PErrors E2, int e) {
  const int d = FDirection, d2 = FDirection2;
  E0[d] += 5 * e;
  E0[d2] += 3 * e;
  E1[-d2] += 2 * e;
  E1[-d] += 4 * e;
  E1[0] += 5 * e;
  E1[d] += 4 * e;
  E1[d2] += 2 * e;
  E2[-d] += 2 * e;
  E2[0] += 3 * e;
  E2[d] += 2 * e;
}

TJaJuNiDitherer::TJaJuNiDitherer(int AWidth, TColorLookup& Lookup) : T5by3Ditherer(AWidth, Lookup) {
  FDivisor = 48;
}

void TJaJuNiDitherer::SpreadError(PErrors E0, PErrors E1, PErrors E2, int e) {
  const int d = FDirection, d2 = FDirection2;
  E0[d] += 7 * e;
  E0[d2] += 5 * e;
  E1[-d2] += 3 * e;
  E1[-d] += 5 * e;
  E1[0] += 7 * e;
  E1[d] += 5 * e;
  E1[d2] += 3 * e;
  E2[-d2] += e;
  E2[-d] += 3 * e;
  E2[0] += 5 * e;
  E2[d] += 3 * e;
  E2[d2] += e;
}
