// Text on a canvas: fontconfig picks the typeface, FreeType renders anti-aliased glyphs,
// and only the pixels a glyph covers change (there is no background box).
//
// The two libraries are opened when the first text is measured or drawn, not when the
// program starts: most runs draw no text, and loading them with their own dependencies
// (expat, libpng, brotli) took most of vitrelle-img's start-up. The package still depends
// on them.
#include <dlfcn.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>
#include <type_traits>

#include "framework.h"

int TFont::PixelHeight() const {
  // Points are 1/72 inch; the screen has 96 pixels per inch.
  return int(std::lround(Size * double(ScreenPixelsPerInch()) / 72.0));
}

namespace {

const char* const kMsgNoFont = "Aucune police de caractères n'est disponible pour écrire le texte";

// The functions of fontconfig and FreeType that text needs, from the libraries opened on
// first use (their ABI names). Either all are there, or Api() answers null and text fails
// with kMsgNoFont.
struct TFontApi {
  decltype(&FcInitLoadConfigAndFonts) InitLoadConfigAndFonts;
  decltype(&FcConfigDestroy) ConfigDestroy;
  decltype(&FcNameParse) NameParse;
  decltype(&FcPatternAddInteger) PatternAddInteger;
  decltype(&FcConfigSubstitute) ConfigSubstitute;
  decltype(&FcDefaultSubstitute) DefaultSubstitute;
  decltype(&FcFontMatch) FontMatch;
  decltype(&FcPatternGetString) PatternGetString;
  decltype(&FcPatternGetInteger) PatternGetInteger;
  decltype(&FcPatternGetBool) PatternGetBool;
  decltype(&FcPatternDestroy) PatternDestroy;
  decltype(&FT_Init_FreeType) Init_FreeType;
  decltype(&FT_Done_FreeType) Done_FreeType;
  decltype(&FT_New_Face) New_Face;
  decltype(&FT_Done_Face) Done_Face;
  decltype(&FT_Set_Pixel_Sizes) Set_Pixel_Sizes;
  decltype(&FT_Set_Char_Size) Set_Char_Size;
  decltype(&FT_Load_Char) Load_Char;
  decltype(&FT_Render_Glyph) Render_Glyph;
  decltype(&FT_GlyphSlot_Embolden) GlyphSlot_Embolden;

  static const TFontApi* Api() {
    static const std::unique_ptr<TFontApi> api = Load();
    return api.get();
  }

 private:
  static std::unique_ptr<TFontApi> Load() {
    // Kept open for the life of the program, like the faces made from them.
    void* fc = dlopen("libfontconfig.so.1", RTLD_NOW | RTLD_LOCAL);
    void* ft = dlopen("libfreetype.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!fc || !ft) return nullptr;
    auto api = std::make_unique<TFontApi>();
    bool ok = true;
    auto bind = [&ok](void* lib, const char* name, auto& fn) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
      ok = ok && fn != nullptr;
    };
    bind(fc, "FcInitLoadConfigAndFonts", api->InitLoadConfigAndFonts);
    bind(fc, "FcConfigDestroy", api->ConfigDestroy);
    bind(fc, "FcNameParse", api->NameParse);
    bind(fc, "FcPatternAddInteger", api->PatternAddInteger);
    bind(fc, "FcConfigSubstitute", api->ConfigSubstitute);
    bind(fc, "FcDefaultSubstitute", api->DefaultSubstitute);
    bind(fc, "FcFontMatch", api->FontMatch);
    bind(fc, "FcPatternGetString", api->PatternGetString);
    bind(fc, "FcPatternGetInteger", api->PatternGetInteger);
    bind(fc, "FcPatternGetBool", api->PatternGetBool);
    bind(fc, "FcPatternDestroy", api->PatternDestroy);
    bind(ft, "FT_Init_FreeType", api->Init_FreeType);
    bind(ft, "FT_Done_FreeType", api->Done_FreeType);
    bind(ft, "FT_New_Face", api->New_Face);
    bind(ft, "FT_Done_Face", api->Done_Face);
    bind(ft, "FT_Set_Pixel_Sizes", api->Set_Pixel_Sizes);
    bind(ft, "FT_Set_Char_Size", api->Set_Char_Size);
    bind(ft, "FT_Load_Char", api->Load_Char);
    bind(ft, "FT_Render_Glyph", api->Render_Glyph);
    bind(ft, "FT_GlyphSlot_Embolden", api->GlyphSlot_Embolden);
    return ok ? std::move(api) : nullptr;
  }
};

struct TFcPatternDeleter {
  void operator()(FcPattern* p) const { TFontApi::Api()->PatternDestroy(p); }
};
using TFcPatternPtr = std::unique_ptr<FcPattern, TFcPatternDeleter>;

struct TFaceDeleter {
  void operator()(FT_Face f) const { TFontApi::Api()->Done_Face(f); }
};
using TFacePtr = std::unique_ptr<std::remove_pointer_t<FT_Face>, TFaceDeleter>;

struct TLoadedFace {
  TFacePtr Face;
  bool Embolden = false;  // the typeface has no bold member: thicken the outlines
};

// The FreeType library and the faces opened so far, kept for the life of the program.
class TFontCache {
 public:
  static TFontCache& Instance() {
    static TFontCache cache;
    return cache;
  }

  TLoadedFace& Face(const TFont& font) {
    auto key = std::make_tuple(font.Name, (font.Style & fsBold) != 0, (font.Style & fsItalic) != 0);
    auto it = FFaces.find(key);
    if (it == FFaces.end()) it = FFaces.emplace(key, Open(font)).first;
    return it->second;
  }

  ~TFontCache() {
    FFaces.clear();  // faces before the library
    if (FLibrary) FApi->Done_FreeType(FLibrary);
    if (FConfig) FApi->ConfigDestroy(FConfig);
  }

 private:
  // A configuration of our own rather than fontconfig's process-wide one: it is released
  // with the cache and shared with no one.
  TFontCache() : FApi(TFontApi::Api()) {
    if (!FApi) return;
    FConfig = FApi->InitLoadConfigAndFonts();
    if (FApi->Init_FreeType(&FLibrary) != 0) FLibrary = nullptr;
  }

  TLoadedFace Open(const TFont& font) {
    if (!FLibrary || !FConfig) throw EOutOfResources(kMsgNoFont);
    const std::string family = font.Name.empty() ? "sans-serif" : font.Name;
    TFcPatternPtr pattern(FApi->NameParse(reinterpret_cast<const FcChar8*>(family.c_str())));
    if (!pattern) throw EOutOfResources(kMsgNoFont);
    FApi->PatternAddInteger(pattern.get(), FC_WEIGHT,
                            (font.Style & fsBold) ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FApi->PatternAddInteger(pattern.get(), FC_SLANT,
                            (font.Style & fsItalic) ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FApi->ConfigSubstitute(FConfig, pattern.get(), FcMatchPattern);
    FApi->DefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    TFcPatternPtr match(FApi->FontMatch(FConfig, pattern.get(), &result));
    FcChar8* file = nullptr;
    int index = 0;
    if (!match || FApi->PatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch)
      throw EOutOfResources(kMsgNoFont);
    FApi->PatternGetInteger(match.get(), FC_INDEX, 0, &index);
    FcBool embolden = FcFalse;
    FApi->PatternGetBool(match.get(), FC_EMBOLDEN, 0, &embolden);
    FT_Face face = nullptr;
    if (FApi->New_Face(FLibrary, reinterpret_cast<const char*>(file), index, &face) != 0)
      throw EOutOfResources(kMsgNoFont);
    return TLoadedFace{TFacePtr(face), embolden == FcTrue};
  }

  const TFontApi* FApi = nullptr;

  FcConfig* FConfig = nullptr;
  FT_Library FLibrary = nullptr;
  std::map<std::tuple<std::string, bool, bool>, TLoadedFace> FFaces;
};

// Decodes UTF-8; malformed sequences become U+FFFD instead of being dropped silently.
std::u32string DecodeUtf8(const std::string& s) {
  std::u32string out;
  size_t i = 0;
  while (i < s.size()) {
    const uint8_t b = uint8_t(s[i]);
    int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    bool ok = len != 0 && i + len <= s.size();
    for (int k = 1; ok && k < len; ++k) {
      const uint8_t c = uint8_t(s[i + k]);
      ok = (c >> 6) == 2;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (ok && len > 1 && (cp < (len == 2 ? 0x80u : len == 3 ? 0x800u : 0x10000u))) ok = false;
    if (ok && (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    out.push_back(ok ? cp : 0xFFFD);
    i += ok ? len : 1;
  }
  return out;
}

// The font's height in 1/64 pixel.
FT_F26Dot6 Height64(const TFont& font) {
  if (font.ScaledPixelHeight > 0)
    return std::max<FT_F26Dot6>(64, std::lround(font.ScaledPixelHeight * 64));
  return FT_F26Dot6(std::max(1, font.PixelHeight())) * 64;
}

// A fractional height is drawn from the outlines as they are: hinting would snap the
// glyphs back to the nearest whole size, the very thing the fraction is there to avoid.
FT_Int32 LoadFlags(const TFont& font) {
  return Height64(font) % 64 == 0 ? FT_LOAD_DEFAULT | FT_LOAD_TARGET_NORMAL : FT_LOAD_NO_HINTING;
}

FT_Face PreparedFace(const TFont& font, bool& embolden) {
  TLoadedFace& f = TFontCache::Instance().Face(font);
  const TFontApi& ft = *TFontApi::Api();  // a face exists: so do the libraries
  const FT_F26Dot6 height = Height64(font);
  // Whole pixels exactly as they always were; at 72 dots per inch points are pixels.
  if (height % 64 == 0)
    ft.Set_Pixel_Sizes(f.Face.get(), 0, FT_UInt(height / 64));
  else
    ft.Set_Char_Size(f.Face.get(), 0, height, 72, 72);
  embolden = f.Embolden;
  return f.Face.get();
}

// Loads (and, when asked, renders) a glyph; false when the face cannot provide it.
bool LoadGlyph(FT_Face face, char32_t cp, FT_Int32 flags, bool embolden, bool render) {
  const TFontApi& ft = *TFontApi::Api();  // a face exists: so do the libraries
  if (ft.Load_Char(face, cp, flags) != 0) return false;
  if (embolden) ft.GlyphSlot_Embolden(face->glyph);
  if (render && face->glyph->format != FT_GLYPH_FORMAT_BITMAP &&
      ft.Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0)
    return false;
  return true;
}

inline uint8_t Mix(uint8_t dst, uint8_t src, unsigned cover) {
  return uint8_t(dst + ((int(src) - int(dst)) * int(cover) + (src > dst ? 127 : -127)) / 255);
}

// Blends the font colour into one pixel of a 24- or 32-bit row with the given coverage.
struct TGlyphPainter {
  TBitmap& Target;
  uint8_t R, G, B;

  void Paint(int x, int y, unsigned cover) const {
    const int bits = Target.BitCount();
    if (bits == 24 || bits == 32) {
      uint8_t* p = Target.GetScanline(y) + x * (bits / 8);
      if (bits == 32 && Target.AlphaFormat() == afDefined) return PaintStraight(p, cover);
      p[0] = Mix(p[0], B, cover);
      p[1] = Mix(p[1], G, cover);
      p[2] = Mix(p[2], R, cover);
      if (bits == 32 && Target.AlphaFormat() == afPremultiplied) p[3] = Mix(p[3], 255, cover);
      return;
    }
    const TColor old = Target.PixelColor(x, y);
    Target.SetPixelColor(x, y,
                         RGBColor(Mix(GetRValue(old), R, cover), Mix(GetGValue(old), G, cover),
                                  Mix(GetBValue(old), B, cover)));
  }

  // Straight alpha: the opaque ink goes over whatever transparency the pixel had.
  void PaintStraight(uint8_t* p, unsigned cover) const {
    const unsigned a = p[3];
    const unsigned outA = cover * 255 + a * (255 - cover);  // scaled by 255
    if (outA == 0) return;
    const uint8_t ink[3] = {B, G, R};
    for (int c = 0; c < 3; ++c)
      p[c] = uint8_t((ink[c] * cover * 255 + p[c] * a * (255 - cover) + outA / 2) / outA);
    p[3] = uint8_t((outA + 127) / 255);
  }
};

void BlitGlyph(const FT_Bitmap& glyph, int left, int top, const TGlyphPainter& painter) {
  TBitmap& target = painter.Target;
  const int x0 = std::max(0, -left), y0 = std::max(0, -top);
  const int x1 = std::min<int>(int(glyph.width), target.Width() - left);
  const int y1 = std::min<int>(int(glyph.rows), target.Height() - top);
  for (int gy = y0; gy < y1; ++gy) {
    const uint8_t* src = glyph.buffer + ptrdiff_t(gy) * glyph.pitch;
    for (int gx = x0; gx < x1; ++gx) {
      unsigned cover = glyph.pixel_mode == FT_PIXEL_MODE_MONO
                           ? (((src[gx >> 3] >> (7 - (gx & 7))) & 1) ? 255u : 0u)
                           : src[gx];
      if (cover) painter.Paint(left + gx, top + gy, cover);
    }
  }
}

int Ascender(FT_Face face) {
  return int((face->size->metrics.ascender + 63) >> 6);
}

}  // namespace

void TCanvas::TextOut(int x, int y, const std::string& utf8Text) {
  TBitmap& target = Handle();
  if (target.Empty() || utf8Text.empty()) return;
  bool embolden = false;
  FT_Face face = PreparedFace(Font, embolden);
  const FT_Int32 flags = LoadFlags(Font);
  const TGlyphPainter painter{target, GetRValue(Font.Color), GetGValue(Font.Color),
                              GetBValue(Font.Color)};
  const int baseline = y + Ascender(face);
  FT_Pos penX = FT_Pos(x) * 64;
  for (char32_t cp : DecodeUtf8(utf8Text)) {
    if (!LoadGlyph(face, cp, flags, embolden, true)) continue;
    const FT_GlyphSlot g = face->glyph;
    BlitGlyph(g->bitmap, int((penX + 32) >> 6) + g->bitmap_left, baseline - g->bitmap_top, painter);
    penX += g->advance.x;
  }
}

int TCanvas::TextWidth(const std::string& utf8Text) {
  if (utf8Text.empty()) return 0;
  bool embolden = false;
  FT_Face face = PreparedFace(Font, embolden);
  const FT_Int32 flags = LoadFlags(Font);
  FT_Pos width = 0;
  for (char32_t cp : DecodeUtf8(utf8Text))
    if (LoadGlyph(face, cp, flags, embolden, false)) width += face->glyph->advance.x;
  return int((width + 63) >> 6);
}

int TCanvas::TextHeight(const std::string&) {
  bool embolden = false;
  FT_Face face = PreparedFace(Font, embolden);
  const FT_Size_Metrics& m = face->size->metrics;
  return int((m.ascender - m.descender + 63) >> 6);
}
