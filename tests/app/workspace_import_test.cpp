// Importing the client photo and the product, refusals, and the two clear buttons.
#include "codecs.h"
#include "testdata.h"
#include "workspace_support.h"

#include <fstream>

namespace {

class ImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    product = WriteQuadrantBmp(dir, "produit.bmp", 40, 80);
    ws.Activate(product);
  }
  TTempDir dir;
  TWorkspace ws;
  std::string product;
};

TEST_F(ImportTest, ClientPhotoShownAndDrawingEnabled) {
  ws.ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 400, 300));
  EXPECT_EQ(ws.Host.OpenTitles.back(), "Choisissez la photo du client");
  EXPECT_TRUE(ws.Host.Messages.empty());
  EXPECT_TRUE(ws.Form.ImgPhotoMaison.Enabled);
  EXPECT_TRUE(ws.Form.btnEffClient.Enabled);
  EXPECT_EQ(ws.Form.lblInstruction.Caption, txtPlace);
  EXPECT_EQ(ws.Form.lblInstruction.FontColor, clBlack);
}

TEST_F(ImportTest, ClientExtensionIsFoldedToLowerCase) {
  const std::string path = WriteQuadrantBmp(dir, "MAISON.BMP", 400, 300);
  ws.ImportClient(path);
  EXPECT_TRUE(ws.Host.Messages.empty());
  EXPECT_TRUE(ws.Form.ImgPhotoMaison.Enabled);
}

TEST_F(ImportTest, RefusedExtensionsChangeNothing) {
  for (const char* name : {"photo.jpeg.txt", "photo.tif", "sans-extension", "dossier.bmp/photo"}) {
    ws.Host.Messages.clear();
    ws.ImportClient(dir.File(name));
    ASSERT_EQ(ws.Host.Messages.size(), 1u) << name;
    EXPECT_EQ(ws.Host.Messages[0], txtBadFormat) << name;
    EXPECT_FALSE(ws.Form.ImgPhotoMaison.Enabled) << name;
    EXPECT_EQ(ws.Form.lblInstruction.Caption, txtImport) << name;
  }
}

TEST_F(ImportTest, UnopenableFileReportsTheFileError) {
  ws.ImportClient(dir.File("absent.bmp"));
  ASSERT_EQ(ws.Host.Messages.size(), 1u);
  EXPECT_EQ(ws.Host.Messages[0].rfind("Erreur : ", 0), 0u) << ws.Host.Messages[0];
  EXPECT_GT(ws.Host.Messages[0].size(), 9u);
  EXPECT_FALSE(ws.Form.ImgPhotoMaison.Enabled);
}

TEST_F(ImportTest, CorruptPictureKeepsThePreviousPhoto) {
  ws.ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 400, 300));
  const std::string bad = dir.File("casse.bmp");
  std::ofstream(bad) << "BM this is not a bitmap at all";
  ws.ImportClient(bad);
  ASSERT_EQ(ws.Host.Messages.size(), 1u);
  EXPECT_EQ(ws.Host.Messages[0], txtOpenFailed);
  EXPECT_EQ(ws.Form.clientPhoto->Width(), 400);
  EXPECT_EQ(ws.Form.photoRight, 564);
  // Real malformed files from other libraries' suites: refused with the message, or shown
  // as the partial picture the reader documents; never a crash.
  VITRELLE_REQUIRE_TESTDATA();
  for (const auto& entry :
       std::filesystem::directory_iterator(vitrelle_test::TestDataPath("bmp/bad"))) {
    ws.Host.Messages.clear();
    ws.ImportClient(entry.path().string());
    if (!ws.Host.Messages.empty()) {
      EXPECT_EQ(ws.Host.Messages[0], txtOpenFailed) << entry.path();
    }
  }
}

// A real multi-scan JPEG whose second scan header is made invalid: the header reads, the
// pixels fail when the photo is first drawn.
std::string WriteJpegBrokenAfterHeader(const TTempDir& dir) {
  std::ifstream in(vitrelle_test::TestDataPath("jpeg/jpegdecoder-non-interleaved-mcu.jpg"),
                   std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  const size_t first = bytes.find("\xFF\xDA");
  const size_t second = bytes.find("\xFF\xDA", first + 2);
  EXPECT_NE(second, std::string::npos);
  const size_t ns = uint8_t(bytes[second + 4]);
  bytes[second + 5 + 2 * ns + 1] = char(200);  // end of spectral selection past 63
  const std::string path = dir.File("casse.jpg");
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

TEST_F(ImportTest, PhotoFailingWhenFirstDrawnLeavesThePreviousOne) {
  VITRELLE_REQUIRE_TESTDATA();
  TCodecRegistration codecs;
  const std::string broken = WriteJpegBrokenAfterHeader(dir);
  EXPECT_THROW(ws.ImportClient(broken), Exception);  // nothing shown before: still nothing
  EXPECT_EQ(ws.Form.DisplayBitmap(), nullptr);
  EXPECT_FALSE(ws.Form.ImgPhotoMaison.Enabled);

  ws.ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 400, 300));
  ws.Form.SelectMention(1);
  EXPECT_THROW(ws.ImportClient(broken), Exception);
  EXPECT_EQ(ws.Form.clientPhoto->Width(), 400);
  EXPECT_EQ(ws.Form.DisplayBitmap()->Width(), 400);
  EXPECT_EQ(ws.Form.photoRight, 564);
  EXPECT_TRUE(ws.Form.ImgPhotoMaison.Enabled);
  EXPECT_NO_THROW(ws.Form.SetClientSize(1200, 800));  // refits keep working
}

TEST_F(ImportTest, CancelledDialogsChangeNothing) {
  ws.Form.BtnClientPhotoClick();
  ws.Form.btnProduitPhotoClick();
  EXPECT_TRUE(ws.Host.Messages.empty());
  EXPECT_EQ(ws.Host.OpenTitles.back(), "Choisissez la photo du produit");
  EXPECT_EQ(ws.Form.productPath, product);
  EXPECT_EQ(ws.Form.lblInstruction.Caption, txtImport);
}

TEST_F(ImportTest, ProductImportReplacesPathAndPreview) {
  const std::string other = WriteQuadrantBmp(dir, "AUTRE.BMP", 90, 10);
  ws.Host.NextOpen = other;
  ws.Form.btnProduitPhotoClick();
  EXPECT_EQ(ws.Form.productPath, other);
  EXPECT_EQ(ws.Form.ImgProduitApercu.Picture.Width(), 90);
  EXPECT_TRUE(ws.Host.Messages.empty());
}

TEST_F(ImportTest, ProductWithOtherExtensionIsRefused) {
  ws.Host.NextOpen = dir.File("produit.ico");
  ws.Form.btnProduitPhotoClick();
  ASSERT_EQ(ws.Host.Messages.size(), 1u);
  EXPECT_EQ(ws.Host.Messages[0], txtBadFormat);
  EXPECT_EQ(ws.Form.productPath, product);
}

TEST_F(ImportTest, UnreadableProductPropagatesAfterPathReplaced) {
  ws.Host.NextOpen = dir.File("absent.png");
  EXPECT_THROW(ws.Form.btnProduitPhotoClick(), Exception);
  EXPECT_EQ(ws.Form.productPath, dir.File("absent.png"));
  EXPECT_EQ(ws.Form.ImgProduitApercu.Picture.Width(), 40);  // the previous preview stays
}

TEST_F(ImportTest, SecondPhotoHidesButKeepsThePlacedProduct) {
  ws.ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 400, 300));
  ws.Form.btnPersoClick();
  ws.Frame(200, 250, 300, 350);
  ASSERT_TRUE(ws.Form.ImgProduit.Visible);
  ws.ImportClient(WriteQuadrantBmp(dir, "maison2.bmp", 600, 500));
  EXPECT_FALSE(ws.Form.ImgProduit.Visible);
  EXPECT_TRUE(ws.Form.btnExportImage.Enabled);
  EXPECT_TRUE(ws.Form.ImgProduit.HasPicture());
  EXPECT_EQ(ws.Form.ImgProduit.Left, 200);
}

TEST_F(ImportTest, ClearingTheClientPhotoReturnsToWaiting) {
  ws.ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 400, 300));
  ws.Frame(200, 250, 300, 350);
  ws.Form.SelectMention(2);
  ws.Form.btnEffClientClick();
  EXPECT_FALSE(ws.Form.ImgPhotoMaison.HasPicture());
  EXPECT_FALSE(ws.Form.ImgPhotoMaison.Enabled);
  EXPECT_FALSE(ws.Form.btnEffClient.Enabled);
  EXPECT_FALSE(ws.Form.btnExportImage.Enabled);
  EXPECT_EQ(ws.Form.cbMention.ItemIndex, 0);
  EXPECT_EQ(ws.Form.lblInstruction.Caption, txtImport);
  EXPECT_TRUE(ws.Form.ImgProduitApercu.HasPicture());
  // No frame can be drawn now.
  ws.Frame(200, 250, 300, 350);
  EXPECT_FALSE(ws.Form.drawStarted);
  EXPECT_EQ(ws.Form.lblInstruction.Caption, txtImport);
}

TEST_F(ImportTest, ClearingTheProductKeepsPathAndPreview) {
  ws.ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 400, 300));
  ws.Frame(200, 250, 300, 350);
  ws.Form.btnEffProduitClick();
  EXPECT_FALSE(ws.Form.ImgProduit.HasPicture());
  EXPECT_EQ(ws.Form.ImgProduit.Width, 0);
  EXPECT_FALSE(ws.Form.btnEffProduit.Enabled);
  EXPECT_EQ(ws.Form.productLeft, 0);
  EXPECT_EQ(ws.Form.productPath, product);
  ws.Frame(200, 250, 300, 350);  // placed again at once
  EXPECT_TRUE(ws.Form.btnEffProduit.Enabled);
}

}  // namespace
