// Row filtering of the PNG writer: the four predictors and the choice between them.
#include <array>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "png_encode_internal.h"

namespace {

void FilterSub(uint8_t* __restrict out, const uint8_t* __restrict raw, size_t n, size_t offset) {
  for (size_t j = 0; j < offset && j < n; ++j) out[j] = raw[j];
  for (size_t j = offset; j < n; ++j) out[j] = uint8_t(raw[j] - raw[j - offset]);
}

void FilterUp(uint8_t* __restrict out, const uint8_t* __restrict raw,
              const uint8_t* __restrict above, size_t n) {
  for (size_t j = 0; j < n; ++j) out[j] = uint8_t(raw[j] - above[j]);
}

void FilterAverage(uint8_t* __restrict out, const uint8_t* __restrict raw,
                   const uint8_t* __restrict above, size_t n, size_t offset) {
  for (size_t j = 0; j < offset && j < n; ++j) out[j] = uint8_t(raw[j] - (above[j] >> 1));
  for (size_t j = offset; j < n; ++j)
    out[j] = uint8_t(raw[j] - ((unsigned(raw[j - offset]) + above[j]) >> 1));
}

inline uint8_t PaethPredictor(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return uint8_t(a);
  return uint8_t(pb <= pc ? b : c);
}

void FilterPaeth(uint8_t* __restrict out, const uint8_t* __restrict raw,
                 const uint8_t* __restrict above, size_t n, size_t offset) {
  // With left and upper-left both zero the predictor is the byte above.
  for (size_t j = 0; j < offset && j < n; ++j) out[j] = uint8_t(raw[j] - above[j]);
  for (size_t j = offset; j < n; ++j)
    out[j] = uint8_t(raw[j] - PaethPredictor(raw[j - offset], above[j], above[j - offset]));
}

}  // namespace

int ScoreFilteredRow(const uint8_t* row, size_t length) {
  int score = 0;
  for (size_t j = 2; j < length; ++j) score += (row[j] == row[j - 1] || row[j] == row[j - 2]);
  return score;
}

namespace {

// Filter types are tried in increasing order and a later one must score strictly more, so
// ties go to the lower type; a row where nothing scores is written unfiltered.
int BestScoringFilter(const std::array<std::vector<uint8_t>, 6>& buffers, unsigned mask,
                      size_t rowBytes) {
  int best = kFilterTypeNone;
  int bestScore = 0;
  for (int t = kFilterTypeNone; t <= kFilterTypePaeth; ++t) {
    if (!(mask & (1u << t))) continue;
    if (mask == (1u << t)) return t;  // a single filter needs no scoring
    const int score = ScoreFilteredRow(buffers[size_t(t)].data() + 1, rowBytes);
    if (score > bestScore) {
      best = t;
      bestScore = score;
    }
  }
  return best;
}

}  // namespace

int TIdatEncoder::ChooseRowFilter() {
  const unsigned mask = Image.Filters().Bits() & 0x1Fu;
  const size_t n = Row_Bytes;
  const size_t offset = Offset;
  const uint8_t* raw = EncodeRowData(Encode_Buffer[kRawRowBuffer]);
  const uint8_t* above = EncodeRowData(Encode_Buffer[0]);
  if (mask & (1u << kFilterTypeSub)) FilterSub(EncodeRowData(Encode_Buffer[1]), raw, n, offset);
  if (mask & (1u << kFilterTypeUp)) FilterUp(EncodeRowData(Encode_Buffer[2]), raw, above, n);
  if (mask & (1u << kFilterTypeAverage))
    FilterAverage(EncodeRowData(Encode_Buffer[3]), raw, above, n, offset);
  if (mask & (1u << kFilterTypePaeth))
    FilterPaeth(EncodeRowData(Encode_Buffer[4]), raw, above, n, offset);
  // The raw row becomes the row above the next one and the unfiltered candidate. The old
  // previous row is no longer needed, so the two buffers trade places instead of copying;
  // the next row is written over it in full.
  std::swap(Encode_Buffer[0], Encode_Buffer[kRawRowBuffer]);
  const int chosen = (mask == 0 || mask == (1u << kFilterTypeNone))
                         ? kFilterTypeNone
                         : BestScoringFilter(Encode_Buffer, mask, n);
  Encode_Buffer[size_t(chosen)][0] = uint8_t(chosen);
  return chosen;
}
