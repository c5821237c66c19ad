// Text chunks: tEXt (keyword and text) and zTXt (keyword and deflated text), and the
// whole-buffer zlib helpers they use.
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "png_internal.h"
#include "png_read_internal.h"

bool InflateBuffer(const uint8_t* input, size_t size, std::string& output) {
  output.clear();
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(input);
  z.avail_in = uInt(std::min<size_t>(size, 0xFFFFFFFFu));
  // The text may be a decompression bomb: it never grows past the picture budget.
  const uint64_t limit = GetImageBudget();
  uint8_t piece[16384];
  int result = Z_OK;
  while (result == Z_OK) {
    z.next_out = piece;
    z.avail_out = sizeof piece;
    result = inflate(&z, Z_NO_FLUSH);
    const size_t produced = sizeof piece - z.avail_out;
    if (output.size() + produced > limit) {
      result = Z_MEM_ERROR;
      break;
    }
    output.append(reinterpret_cast<const char*>(piece), produced);
    if (result == Z_OK && produced == 0 && z.avail_in == 0) result = Z_BUF_ERROR;  // truncated
  }
  inflateEnd(&z);
  if (result != Z_STREAM_END) output.clear();
  return result == Z_STREAM_END;
}

bool DeflateBuffer(const std::string& input, int level, std::vector<uint8_t>& output) {
  uLongf bound = compressBound(uLong(input.size()));
  output.resize(bound);
  const int result = compress2(output.data(), &bound, reinterpret_cast<const Bytef*>(input.data()),
                               uLong(input.size()), std::clamp(level, 0, 9));
  if (result != Z_OK) {
    output.clear();
    return false;
  }
  output.resize(bound);
  return true;
}

namespace {

// Length of the keyword: up to the first zero byte, or the whole data when there is none.
size_t KeywordLength(const uint8_t* data, size_t size) {
  const void* zero = std::memchr(data, 0, size);
  return zero ? size_t(static_cast<const uint8_t*>(zero) - data) : size;
}

}  // namespace

bool TChunktEXt::LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) {
  if (!TChunk::LoadFromStream(stream, chunkName, size)) return false;
  if (size > 2) {
    const char* data = reinterpret_cast<const char*>(fData.data());
    const size_t keyword = KeywordLength(fData.data(), size);
    fKeyword.assign(data, keyword);
    fText = keyword < size ? std::string(data + keyword + 1, size - keyword - 1) : std::string();
  }
  return true;
}

bool TChunktEXt::SaveToStream(TStream& stream) {
  ResizeData(uint32_t(fKeyword.size() + fText.size() + 1));
  std::memcpy(fData.data(), fKeyword.data(), fKeyword.size());
  fData[fKeyword.size()] = 0;
  std::memcpy(fData.data() + fKeyword.size() + 1, fText.data(), fText.size());
  return SaveData(stream);
}

void TChunktEXt::Assign(TChunk& source) {
  auto* from = dynamic_cast<TChunktEXt*>(&source);
  if (!from) RaiseError<EPngError>(EPngIncompatibleAssignText);
  TChunk::Assign(source);
  fKeyword = from->fKeyword;
  fText = from->fText;
}

bool TChunkzTXt::LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) {
  if (!TChunktEXt::LoadFromStream(stream, chunkName, size)) return false;
  if (size > 3) {
    const size_t keyword = KeywordLength(fData.data(), size);
    fKeyword.assign(reinterpret_cast<const char*>(fData.data()), keyword);
    fText.clear();
    // Keyword, zero byte, method byte, compressed text.
    if (keyword + 2 <= size && fData[keyword + 1] == 0) {
      std::string text;
      if (InflateBuffer(fData.data() + keyword + 2, size - keyword - 2, text)) fText.swap(text);
    }
  }
  return true;
}

bool TChunkzTXt::SaveToStream(TStream& stream) {
  // An empty text is written as one space. It is filled in rather than copied from a
  // literal: at -O3, GCC 12 takes that short copy for an overlapping one (-Wrestrict).
  if (fText.empty()) fText.assign(1, ' ');
  std::vector<uint8_t> packed;
  const int level = fOwner ? fOwner->CompressionLevel() : 7;
  if (!DeflateBuffer(fText, level, packed)) return true;  // nothing written for this chunk
  ResizeData(uint32_t(fKeyword.size() + 2 + packed.size()));
  std::memcpy(fData.data(), fKeyword.data(), fKeyword.size());
  fData[fKeyword.size()] = 0;
  fData[fKeyword.size() + 1] = 0;
  std::memcpy(fData.data() + fKeyword.size() + 2, packed.data(), packed.size());
  return SaveData(stream);
}

TChunktEXt* TPngImage::AddtEXt(const std::string& keyword, const std::string& text) {
  auto* chunk = fChunkList.Add<TChunktEXt>();
  chunk->SetKeyword(keyword);
  chunk->SetText(text);
  return chunk;
}

TChunkzTXt* TPngImage::AddzTXt(const std::string& keyword, const std::string& text) {
  auto* chunk = fChunkList.Add<TChunkzTXt>();
  chunk->SetKeyword(keyword);
  chunk->SetText(text);
  return chunk;
}
