// Burkes error diffusion: two rows, five columns, weights in thirty-seconds. Pixel c of
// a row is slot c + 2 of its error arrays.
#include <algorithm>

#include "gif_glue.h"
#include "gif_reduce.h"

TBurkesDitherer::TBurkesDitherer(int AWidth, TColorLookup& Lookup) : TDitherEngine(AWidth, Lookup) {
  ErrorLimit.Soften(16, 48, 32);
  for (auto& channel : FErrors)
    for (TErrors& row : channel) row.assign(size_t(FWidth) + 4, 0);
  StartRow();
}

void TBurkesDitherer::StartRow() {
  const int slot = FDirection > 0 ? 2 : FWidth + 1;
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < 2; ++r) FError[c][r] = FErrors[c][r].data() + slot;
}

void TBurkesDitherer::Reset() {
  TDitherEngine::Reset();
  for (auto& channel : FErrors)
    for (TErrors& row : channel) std::fill(row.begin(), row.end(), 0);
  FDirection2 = 2;
  StartRow();
}

int TBurkesDitherer::Dither(int Red, int Green, int Blue, int& R, int& G, int& B) {
  const int in[3] = {Red, Green, Blue};
  int value[3];
  for (int c = 0; c < 3; ++c) value[c] = Correct(in[c], *FError[c][0], 32);
  const int index = TDitherEngine::Dither(value[0], value[1], value[2], R, G, B);
  const int out[3] = {R, G, B};
  const int d = FDirection, d2 = FDirection2;
  for (int c = 0; c < 3; ++c) {
    const int e = value[c] - out[c];
    PErrors* E = FError[c];
    if (e != 0) {
      E[0][d] += 8 * e;
      E[0][d2] += 4 * e;
      E[1][-d2] += 2 * e;
      E[1][-d] += 4 * e;
      E[1][0] += 8 * e;
      E[1][d] += 4 * e;
      E[1][d2] += 2 * e;
    }
    E[0] += d;
    E[1] += d;
  }
  return index;
}

void TBurkesDitherer::NextLine() {
  for (auto& channel : FErrors) {
    std::fill(channel[0].begin(), channel[0].end(), 0);
    std::swap(channel[0], channel[1]);
  }
  TDitherEngine::NextLine();
  FDirection2 = 2 * FDirection;
  StartRow();
}
