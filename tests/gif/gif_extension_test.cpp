// Extensions: graphic control, comments, application and looping extensions, the
// registries.
#include "gif_unit_util.h"

using namespace giftest;

namespace {

Bytes FrameData() {
  Bytes out = Descriptor(0, 0, 2, 1);
  Append(out, ImageData(2, {{4, 3}, {1, 3}, {2, 3}, {5, 3}}));
  return out;
}

// A 2 x 1 file whose one frame comes after the given extension bytes.
Bytes OneFrameGif(const Bytes& extensions) {
  Bytes gif = Header(2, 1, 2);
  Append(gif, extensions);
  Append(gif, FrameData());
  gif.push_back(';');
  return gif;
}

// "!", the application label and the 11-byte block with the identifier and code.
Bytes AppExtensionHeader(const std::string& ident11) {
  Bytes out{'!', 0xFF, 11};
  for (char c : ident11) out.push_back(uint8_t(c));
  return out;
}

Bytes SavedExtension(TGIFExtension& ext) {
  TMemoryStream s;
  ext.SaveToStream(s);
  return Bytes(s.Memory(), s.Memory() + s.Size());
}

}  // namespace

TEST(GifExtensions, TwoGraphicControlExtensionsFirstWins) {
  Bytes gces = Gce(1, 7, 2);
  Append(gces, Gce(3, 9, 3));
  Bytes gif = OneFrameGif(gces);
  TGIFImage image;
  TCollected warnings;
  image.OnWarning = warnings.Handler();
  LoadBytes(image, gif);
  TGIFFrame& f = *image.Images().Frames(0);
  EXPECT_EQ(f.Extensions().Count(), 2);
  ASSERT_TRUE(f.GraphicControlExtension());
  EXPECT_EQ(f.GraphicControlExtension()->Delay(), 7);
  EXPECT_EQ(f.GraphicControlExtension()->Disposal(), dmBackground);
  EXPECT_EQ(f.GraphicControlExtension()->TransparentColorIndex(), 1);
  EXPECT_EQ(std::count(warnings.Messages.begin(), warnings.Messages.end(),
                       "Le cadre contient plusieurs blocs d'extension de contrôles graphiques"),
            1);
}

TEST(GifExtensions, CommentOf300CharactersRoundTrips) {
  TGIFImage image;
  TGIFFrame* frame = TGIFFrame::Create(&image);
  auto* comment = static_cast<TGIFCommentExtension*>(
      TGIFExtension::Create(ExtensionClassOf<TGIFCommentExtension>(), frame));
  TStringList text;
  text.Add(std::string(300, 'c'));
  comment->SetText(text);
  Bytes bytes = SavedExtension(*comment);
  // "!", label, 255 bytes, 47 bytes (300 + line break), terminator.
  ASSERT_EQ(bytes.size(), 2u + 1 + 255 + 1 + 47 + 1);
  EXPECT_EQ(bytes[2], 255);
  EXPECT_EQ(bytes[2 + 256], 47);
  EXPECT_EQ(bytes.back(), 0);
  TMemoryStream s;
  s.WriteBuffer(bytes.data(), int64_t(bytes.size()));
  s.SetPosition(0);
  TGIFCommentExtension back(frame);
  back.LoadFromStream(s);
  EXPECT_EQ(back.Text(), text);
}

TEST(GifExtensions, LoopingExtensionBytes) {
  TGIFImage image;
  TGIFFrame frame(&image);
  TGIFAppExtNSLoop loop(&frame);
  Bytes expected = AppExtensionHeader("NETSCAPE2.0");
  Append(expected, Bytes{3, 1, 0, 0, 0});
  EXPECT_EQ(SavedExtension(loop), expected);
  // Identifier 1 with a length of 2 is too short for the loop count.
  Bytes bad(expected.begin(), expected.begin() + 14);
  Append(bad, Bytes{2, 1, 0, 0});
  TMemoryStream s;
  s.WriteBuffer(bad.data(), int64_t(bad.size()));
  s.SetPosition(0);
  try {
    loop.LoadFromStream(s);
    FAIL() << "no error";
  } catch (const GIFException& e) {
    EXPECT_EQ(e.Message(), "Données GIF incorrectes");
  }
}

TEST(GifExtensions, LoopCountReadFromFileAndCutShort) {
  Bytes app = AppExtensionHeader("NETSCAPE2.0");
  Append(app, Bytes{3, 1, 5, 0, 0});
  Bytes gif = OneFrameGif(app);
  TGIFImage image;
  LoadBytes(image, gif);
  auto* loop =
      dynamic_cast<TGIFAppExtNSLoop*>(image.Images().Frames(0)->Extensions().Extensions(0));
  ASSERT_TRUE(loop);
  EXPECT_EQ(loop->Loops(), 5);
  // The file ends inside the looping extension: the reading stops, no hang.
  Bytes cut = Header(2, 1, 2);
  Append(cut, Bytes(app.begin(), app.begin() + 15));
  TGIFImage partial;
  EXPECT_NO_THROW(LoadBytes(partial, cut));
}

TEST(GifExtensions, UnknownApplicationExtensionWrittenBackByteForByte) {
  Bytes app = AppExtensionHeader("XMP DataXMP");
  Append(app, Bytes{4, 'a', 'b', 'c', 'd', 1, 0xEE, 0});
  Bytes gif = OneFrameGif(app);
  TGIFImage image;
  LoadBytes(image, gif);
  auto* ext =
      dynamic_cast<TGIFUnknownAppExtension*>(image.Images().Frames(0)->Extensions().Extensions(0));
  ASSERT_TRUE(ext);
  EXPECT_EQ(ext->Identifier(), "XMP Data");
  EXPECT_EQ(ext->Blocks().size(), 2u);
  EXPECT_EQ(SavedExtension(*ext), app);
}

TEST(GifExtensions, UnregisteredLabelIsKeptWithAWarning) {
  Bytes unknown{'!', 0x2A, 3, 'a', 'b', 'c', 0};
  Bytes gif = OneFrameGif(unknown);
  TGIFImage image;
  TCollected warnings;
  image.OnWarning = warnings.Handler();
  LoadBytes(image, gif);
  EXPECT_TRUE(warnings.Has("Type d'extension inconnu"));
  TGIFFrame& f = *image.Images().Frames(0);
  EXPECT_FALSE(f.Empty());
  ASSERT_EQ(f.Extensions().Count(), 1);
  EXPECT_EQ(SavedExtension(*f.Extensions().Extensions(0)), unknown);
}

namespace {

// A comment class registered later for the same label.
class TShoutingComment : public TGIFCommentExtension {
 public:
  using TGIFCommentExtension::TGIFCommentExtension;
  static const char* StaticClassName() { return "TShoutingComment"; }
  const TGIFExtensionClass& ClassType() const override {
    return ExtensionClassOf<TShoutingComment>();
  }
};

}  // namespace

TEST(GifExtensions, LaterRegistrationReplacesAClass) {
  Bytes gif = OneFrameGif(Bytes{'!', 0xFE, 2, 'h', 'i', 0});
  TGIFExtension::RegisterExtension(0xFE, ExtensionClassOf<TShoutingComment>());
  TGIFImage image;
  LoadBytes(image, gif);
  TGIFExtension* ext = image.Images().Frames(0)->Extensions().Extensions(0);
  EXPECT_TRUE(dynamic_cast<TShoutingComment*>(ext));
  EXPECT_EQ(static_cast<TGIFCommentExtension*>(ext)->Text()[0], "hi");
  TGIFExtension::UnregisterExtension(ExtensionClassOf<TShoutingComment>());
  TGIFImage again;
  LoadBytes(again, gif);
  EXPECT_FALSE(
      dynamic_cast<TShoutingComment*>(again.Images().Frames(0)->Extensions().Extensions(0)));
}

TEST(GifExtensions, TransparentIndexEqualToCountExtendsTheMap) {
  TGIFImage image;
  TCollected warnings;
  image.OnWarning = warnings.Handler();
  for (int i = 0; i < 16; ++i) image.GlobalColorMap().Add(RGBColor(uint8_t(i), 1, 1));
  TGIFFrame* frame = TGIFFrame::Create(&image);
  frame->AddTransparency(16);
  EXPECT_EQ(image.GlobalColorMap().Count(), 17);
  EXPECT_EQ(image.GlobalColorMap().GetColor(16), clBlack);
  EXPECT_EQ(frame->GraphicControlExtension()->TransparentColorIndex(), 16);
  EXPECT_TRUE(warnings.Has("Index de couleur non valide - table des couleurs étendue"));
  // Beyond the count: stored as 0 with a warning.
  frame->GraphicControlExtension()->SetTransparentColorIndex(40);
  EXPECT_EQ(frame->GraphicControlExtension()->TransparentColorIndex(), 0);
  EXPECT_TRUE(warnings.Has("Indice de couleur incorrect"));
}

TEST(GifExtensions, DisposalSetterKeepsOtherBits) {
  TGIFImage image;
  TGIFFrame frame(&image);
  TGIFGraphicControlExtension gce(&frame);
  gce.SetUserInput(true);
  gce.SetTransparent(true);
  gce.SetDisposal(dmPrevious);
  EXPECT_EQ(gce.Record().PackedFields, 0x0C | 0x02 | 0x01);
  EXPECT_EQ(gce.Disposal(), dmPrevious);
}

TEST(GifExtensions, ApplicationBlockOfUnusualSizeAbandonsTheLoad) {
  for (uint8_t size : {uint8_t(9), uint8_t(12)}) {
    Bytes app{'!', 0xFF, size};
    Append(app, Bytes(size, 'x'));
    Append(app, Bytes{1, 1, 0});
    Bytes gif = OneFrameGif(app);
    TGIFImage image;
    try {
      LoadBytes(image, gif);
      FAIL() << "no error for size " << int(size);
    } catch (const GIFException& e) {
      EXPECT_EQ(e.Message(), "Taille de bloc d'extension d'application non supportée");
    }
  }
}

TEST(GifExtensions, CommentTextIsWindows1252InTheFile) {
  Bytes gif = OneFrameGif(Bytes{'!', 0xFE, 4, 'C', 0xE9, ' ', 0x80, 0});  // "Cé €"
  TGIFImage image;
  LoadBytes(image, gif);
  auto* comment =
      static_cast<TGIFCommentExtension*>(image.Images().Frames(0)->Extensions().Extensions(0));
  ASSERT_EQ(comment->Text().Count(), 1);
  EXPECT_EQ(comment->Text()[0], "C\xC3\xA9 \xE2\x82\xAC");
  Bytes saved = SavedExtension(*comment);
  EXPECT_EQ(saved, (Bytes{'!', 0xFE, 6, 'C', 0xE9, ' ', 0x80, '\r', '\n', 0}));
}

// Identifier and authentication code are 8-bit characters of the file's code page.
TEST(GifExtensions, ApplicationIdentifierIsWindows1252InTheRecord) {
  TGIFImage image;
  TGIFFrame frame(&image);
  TGIFApplicationExtension ext(&frame);
  ext.SetIdentifier("Vitrellerie");
  EXPECT_EQ(ext.Identifier(), "Vitrelle");
  ext.SetIdentifier("Vitrell\xC3\xA9");  // "Vitrellé": 9 bytes of UTF-8, 8 characters
  ext.SetAuthentication(
      "\xE2\x82\xAC"
      "1");  // "€1"
  const Bytes ident(ext.Ident().Identifier, ext.Ident().Identifier + 8);
  const Bytes code(ext.Ident().Authentication, ext.Ident().Authentication + 3);
  EXPECT_EQ(ident, (Bytes{'V', 'i', 't', 'r', 'e', 'l', 'l', 0xE9}));
  EXPECT_EQ(code, (Bytes{0x80, '1', ' '}));
  EXPECT_EQ(ext.Identifier(), "Vitrell\xC3\xA9");
  EXPECT_EQ(ext.Authentication(),
            "\xE2\x82\xAC"
            "1 ");
}

// A graphic control record cut short keeps, beyond the bytes that came, what it held:
// a new one's block size 4 and zeros.
TEST(GifExtensions, ShortGraphicControlRecordKeepsWhatItHeld) {
  for (const Bytes& body : {Bytes{}, Bytes{4, 0x09, 0x2C}}) {
    Bytes stream{'!', 0xF9};
    Append(stream, body);
    TGIFImage image;
    TCollected warnings;
    image.OnWarning = warnings.Handler();
    TGIFFrame frame(&image);
    TGIFGraphicControlExtension gce(&frame);
    TReadOnlyMemoryStream s(stream.data(), stream.size());
    gce.LoadFromStream(s);
    EXPECT_EQ(warnings.Messages, (std::vector<std::string>{"Fin prématurée des données"}));
    EXPECT_EQ(gce.Record().BlockSize, 4);
    EXPECT_EQ(gce.Record().PackedFields, body.empty() ? 0 : 0x09);
    EXPECT_EQ(gce.Delay(), body.empty() ? 0 : 0x2C);
    EXPECT_EQ(gce.TransparentColorIndex(), 0);
  }
}
