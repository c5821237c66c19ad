// Stevenson-Arce error diffusion: four rows, the kernel on every second column, weights
// in two-hundredths. Pixel c of a row is slot c + 3, leaving three margin slots a side.
#include <algorithm>

#include "gif_glue.h"
#include "gif_reduce.h"

TSteveArcheDitherer::TSteveArcheDitherer(int AWidth, TColorLookup& Lookup)
    : TDitherEngine(AWidth, Lookup) {
  ErrorLimit.Soften(8, 16, 12);
  for (auto& channel : FErrors)
    for (TErrors& row : channel) row.assign(size_t(FWidth) + 6, 0);
  StartRow();
}

void TSteveArcheDitherer::StartRow() {
  const int slot = FDirection > 0 ? 3 : FWidth + 2;
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < 4; ++r) FError[c][r] = FErrors[c][r].data() + slot;
}

void TSteveArcheDitherer::Reset() {
  TDitherEngine::Reset();
  for (auto& channel : FErrors)
    for (TErrors& row : channel) std::fill(row.begin(), row.end(), 0);
  FDirection2 = 2;
  FDirection3 = 3;
  StartRow();
}

int TSteveArcheDitherer::Dither(int Red, int Green, int Blue, int& R, int& G, int& B) {
  const int in[3] = {Red, Green, Blue};
  int value[3];
  for (int c = 0; c < 3; ++c) value[c] = Correct(in[c], *FError[c][0], 200);
  const int index = TDitherEngine::Dither(value[0], value[1], value[2], R, G, B);
  const int out[3] = {R, G, B};
  const int d = FDirection, d2 = FDirection2, d3 = FDirection3;
  for (int c = 0; c < 3; ++c) {
    const int e = value[c] - out[c];
    PErrors* E = FError[c];
    if (e != 0) {
      E[0][d2] += 32 * e;
      E[1][-d3] += 12 * e;
      E[1][-d] += 26 * e;
      E[1][d] += 30 * e;
      E[1][d3] += 16 * e;
      E[2][-d2] += 12 * e;
      E[2][0] += 26 * e;
      E[2][d2] += 12 * e;
      E[3][-d3] += 5 * e;
      E[3][-d] += 12 * e;
      E[3][d] += 12 * e;
      E[3][d3] += 5 * e;
    }
    for (int r = 0; r < 4; ++r) E[r] += d;
  }
  return index;
}

void TSteveArcheDitherer::NextLine() {
  for (auto& channel : FErrors) {
    std::fill(channel[0].begin(), channel[0].end(), 0);
    std::rotate(std::begin(channel), std::begin(channel) + 1, std::end(channel));
  }
  TDitherEngine::NextLine();
  FDirection2 = 2 * FDirection;
  FDirection3 = 3 * FDirection;
  StartRow();
}
