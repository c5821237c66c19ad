// Text of comments and plain text extensions: sub-blocks of 8-bit text.
#include <algorithm>

#include "gif_glue.h"

namespace {

// Texts in GIF files are 8-bit text of the writer's code page; the one of this program's
// users is Windows-1252 (Latin-1 with printable characters in 0x80..0x9F).
const char16_t kCp1252High[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                  0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

void PutUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string Cp1252ToUtf8(const std::string& bytes) {
  std::string out;
  for (unsigned char b : bytes) PutUtf8(out, (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : b);
  return out;
}

std::string Utf8ToCp1252(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    unsigned char b = uint8_t(text[i]);
    char32_t c = b;
    size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    bool valid = n > 0 && i + n <= text.size();
    for (size_t k = 1; valid && k < n; ++k) valid = (uint8_t(text[i + k]) & 0xC0) == 0x80;
    if (!valid) {
      out += char(b);
      ++i;
      continue;
    }
    if (n > 1) {
      c = b & (0x7F >> n);
      for (size_t k = 1; k < n; ++k) c = (c << 6) | (uint8_t(text[i + k]) & 0x3F);
    }
    i += n;
    char mapped = '?';
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) mapped = char(c);
    for (int k = 0; k < 32; ++k)
      if (kCp1252High[k] == c) mapped = char(0x80 + k);
    out += mapped;
  }
  return out;
}

void WriteSubBlockText(TStream& Stream, const TStringList& Text) {
  std::string bytes = Utf8ToCp1252(Text.Text());
  for (size_t i = 0; i < bytes.size(); i += 255) {
    size_t n = std::min<size_t>(255, bytes.size() - i);
    WriteByte(Stream, uint8_t(n));
    Stream.WriteBuffer(bytes.data() + i, int64_t(n));
  }
  WriteByte(Stream, 0);
}

void ReadSubBlockText(TStream& Stream, TStringList& Text) {
  Text.Clear();
  std::string bytes;
  uint8_t length = 0;
  while (TryReadByte(Stream, length) && length != 0) {
    size_t at = bytes.size();
    bytes.resize(at + length);
    ReadExact(Stream, bytes.data() + at, length);
  }
  Text.SetText(Cp1252ToUtf8(bytes));
}
