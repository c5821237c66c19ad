// BMP header fields: the core (OS/2) and info header families read into one description,
// the default and explicit bit fields, and the checks every field passes before use.
#include <limits>

#include "bmp_format.h"

namespace bmp {
namespace {

const char* const kMsgBadSize = "Dimensions de l'image BMP invalides";
const char* const kMsgBadBitCount = "Nombre de bits par pixel BMP non pris en charge";
const char* const kMsgCompression = "Compression BMP non prise en charge";
const char* const kMsgBadMasks = "Masques de couleur BMP invalides";

bool IsContiguous(uint32_t mask) {
  if (mask == 0) return true;
  while ((mask & 1) == 0) mask >>= 1;
  return (mask & (mask + 1)) == 0;
}

}  // namespace

void ParseCoreHeader(const uint8_t* h, TDibInfo& info) {
  info.Width = bmp::Get16(h + 4);
  info.Height = bmp::Get16(h + 6);
  info.BitCount = bmp::Get16(h + 10);
}

// Info header and its later versions (and the OS/2 2.x header, which shares the first
// fields); h holds at least the V5 size, zero-filled past the header's own bytes.
void ParseInfoHeader(const uint8_t* h, TDibInfo& info) {
  int32_t width = int32_t(Get32(h + 4));
  int32_t height = int32_t(Get32(h + 8));
  if (height == std::numeric_limits<int32_t>::min()) Fail(kMsgBadSize);
  info.Width = width;
  info.TopDown = height < 0;
  info.Height = height < 0 ? -int64_t(height) : height;
  info.BitCount = Get16(h + 14);
  info.Compression = Get32(h + 16);
  info.SizeImage = Get32(h + 20);
  info.ColorsUsed = Get32(h + 32);
  if (info.HeaderSize >= 52) {
    info.RedMask = Get32(h + 40);
    info.GreenMask = Get32(h + 44);
    info.BlueMask = Get32(h + 48);
  }
  if (info.HeaderSize >= 56) info.AlphaMask = Get32(h + 52);
}

// Bytes of masks stored between a 40-byte header and the colour table.
uint32_t MaskBytesAfterHeader(const TDibInfo& info) {
  if (info.HeaderSize != kInfoHeaderSize) return 0;
  if (info.Compression == biBitfields) return 12;
  if (info.Compression == biAlphaBitfields) return 16;
  return 0;
}

namespace {

bool IsBitfields(const TDibInfo& info) {
  return info.Compression == biBitfields || info.Compression == biAlphaBitfields;
}

void ApplyDefaultMasks(TDibInfo& info) {
  if (IsBitfields(info)) {
    info.HasMasks = true;
    if (info.Compression == biBitfields && info.HeaderSize < 56) info.AlphaMask = 0;
    return;
  }
  // Without bit fields the later headers' mask fields are not in force; only the usual
  // alpha byte of a 32-bit picture is taken from them.
  uint32_t alpha = info.AlphaMask;
  info.AlphaMask = 0;
  if (info.BitCount == 16) {
    info.HasMasks = true;
    info.RedMask = 0x7C00, info.GreenMask = 0x03E0, info.BlueMask = 0x001F;
  } else if (info.BitCount == 32) {
    info.HasMasks = true;
    info.RedMask = 0xFF0000, info.GreenMask = 0xFF00, info.BlueMask = 0xFF;
    if (alpha == 0xFF000000u) info.AlphaMask = alpha;
  }
}

void ValidateMasks(const TDibInfo& info) {
  const uint32_t masks[4] = {info.RedMask, info.GreenMask, info.BlueMask, info.AlphaMask};
  uint32_t limit = info.BitCount == 32 ? 0xFFFFFFFFu : (1u << info.BitCount) - 1;
  uint32_t seen = 0;
  for (uint32_t m : masks) {
    if ((m & ~limit) != 0 || (m & seen) != 0 || !IsContiguous(m)) Fail(kMsgBadMasks);
    seen |= m;
  }
  if ((info.RedMask | info.GreenMask | info.BlueMask) == 0) Fail(kMsgBadMasks);
}

}  // namespace

void Validate(TDibInfo& info) {
  if (info.Width <= 0 || info.Height <= 0) Fail(kMsgBadSize);
  switch (info.BitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      Fail(kMsgBadBitCount);
  }
  bool ok = false;
  switch (info.Compression) {
    case biRGB:
      ok = true;
      break;
    case biRLE8:
      ok = info.BitCount == 8;
      break;
    case biRLE4:
      ok = info.BitCount == 4;
      break;
    case biBitfields:
    case biAlphaBitfields:
      ok = info.BitCount == 16 || info.BitCount == 32;
      break;
    default:
      break;
  }
  if (!ok) Fail(kMsgCompression);
  // Run-length pictures are stored bottom-up only.
  if (info.TopDown && (info.Compression == biRLE8 || info.Compression == biRLE4))
    Fail(kMsgCompression);
  ApplyDefaultMasks(info);
  if (info.HasMasks) ValidateMasks(info);
}

// Reads the colour table; `room` is the number of bytes the file leaves for it before the
// pixels (or -1 when unknown), so that a short table is read as short.
TChannel TChannel::Of(uint32_t mask) {
  TChannel c;
  c.Mask = mask;
  if (mask == 0) return c;
  while (((mask >> c.Shift) & 1) == 0) ++c.Shift;
  c.Max = mask >> c.Shift;
  return c;
}

}  // namespace bmp
