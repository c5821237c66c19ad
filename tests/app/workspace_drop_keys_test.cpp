// Files dropped on the window, arrow keys moving the placed product (at the photo's edges
// too, in the window and through `vitrelle-img composer --touches`), and the busy steps.
#include <cstdio>
#include <fstream>

#include "codecs.h"
#include "workspace_support.h"

namespace {

constexpr TColor kGray = RGBColor(128, 128, 128);

// Records the busy steps and the messages in the order they come.
class TRecordingHost : public TTestHost {
 public:
  std::vector<std::string> Events;
  void ShowMessage(const std::string& text) override {
    TTestHost::ShowMessage(text);
    Events.push_back("message");
  }
  void SetBusy(bool busy) override { Events.push_back(busy ? "busy" : "done"); }
};

class DropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form.SetProductPath("");
    form.FormActivate();
  }
  TTempDir dir;
  TRecordingHost host;
  TFrmModulePhoto form{&host};
};

TEST_F(DropTest, PhotoDropImportsTheFirstFileAsPhotoClient) {
  const std::string first = WriteQuadrantBmp(dir, "maison.bmp", 400, 300);
  const std::string second = WriteQuadrantBmp(dir, "autre.bmp", 200, 100);
  form.DropFiles(dzClientPhoto, {first, second});
  EXPECT_TRUE(host.Messages.empty());
  EXPECT_TRUE(host.OpenTitles.empty());  // no dialog is shown for a drop
  EXPECT_TRUE(form.ImgPhotoMaison.Enabled);
  EXPECT_TRUE(form.btnEffClient.Enabled);
  EXPECT_EQ(form.photoLeft, 164);  // 400 x 300, the first file
  EXPECT_EQ(form.photoBottom, 515);
  EXPECT_EQ(form.lblInstruction.Caption, txtPlace);
  EXPECT_EQ(host.Events, (std::vector<std::string>{"busy", "done"}));
  // The window's own host is back: the button runs the dialog again.
  host.NextOpen = second;
  form.BtnClientPhotoClick();
  EXPECT_EQ(host.OpenTitles.size(), 1u);
  EXPECT_EQ(form.photoRight - form.photoLeft, 200);
}

TEST_F(DropTest, PhotoDropChecksAndReportsAsPhotoClient) {
  // A refused extension: the same message as the button's, and nothing changes.
  const std::string tiff = dir.File("maison.tif");
  std::ofstream(tiff) << "II*";
  form.DropFiles(dzClientPhoto, {tiff, WriteQuadrantBmp(dir, "maison.bmp", 400, 300)});
  ASSERT_EQ(host.Messages, (std::vector<std::string>{txtBadFormat}));
  EXPECT_FALSE(form.ImgPhotoMaison.Enabled);
  EXPECT_EQ(form.lblInstruction.Caption, txtImport);
  EXPECT_TRUE(host.Events == (std::vector<std::string>{"message"}));  // refused before loading

  // A file that cannot be opened, and one that is no picture: the button's messages, the
  // first one shown while the busy cursor is up.
  host.Messages.clear();
  host.Events.clear();
  form.DropFiles(dzClientPhoto, {dir.File("absent.bmp")});
  ASSERT_EQ(host.Messages.size(), 1u);
  EXPECT_EQ(host.Messages[0].rfind(txtOpenErrorPrefix, 0), 0u) << host.Messages[0];
  EXPECT_EQ(host.Events, (std::vector<std::string>{"busy", "message", "done"}));
  const std::string junk = dir.File("casse.bmp");
  std::ofstream(junk) << "pas une image";
  host.Messages.clear();
  form.DropFiles(dzClientPhoto, {junk});
  EXPECT_EQ(host.Messages, (std::vector<std::string>{txtOpenFailed}));
  EXPECT_FALSE(form.ImgPhotoMaison.Enabled);

  host.Messages.clear();
  form.DropFiles(dzClientPhoto, {});
  EXPECT_TRUE(host.Messages.empty());
}

TEST_F(DropTest, PreviewDropImportsTheFirstFileAsPhotoProduit) {
  const std::string product = WriteQuadrantBmp(dir, "produit.bmp", 40, 80);
  form.DropFiles(dzProductPreview, {product, WriteQuadrantBmp(dir, "b.bmp", 10, 10)});
  EXPECT_EQ(form.productPath, product);
  EXPECT_EQ(form.ImgProduitApercu.Picture.Width(), 40);
  EXPECT_EQ(form.ImgProduitApercu.Picture.Height(), 80);
  EXPECT_FALSE(form.ImgPhotoMaison.Enabled);  // the photo is untouched
  // A refused extension on the preview: the message of the button, the product stays.
  form.DropFiles(dzProductPreview, {dir.File("produit.ico")});
  EXPECT_EQ(host.Messages, (std::vector<std::string>{txtBadFormat}));
  EXPECT_EQ(form.productPath, product);
}

// A gray 400 x 300 photo (area 164..564 x 215..515) with a 50 x 50 product drawn in the
// custom mode at its top-left corner.
class KeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ws.Activate(WriteQuadrantBmp(dir, "produit.bmp", 50, 50));
    ws.ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 400, 300, kGray, kGray, kGray, kGray));
    ws.Form.btnPersoClick();
    ws.Frame(164, 215, 214, 265);
    ASSERT_TRUE(ws.Form.ImgProduit.Visible);
  }
  bool Press(uint16_t key, TShiftState shift = 0) { return ws.Form.FormKeyDown(key, shift); }
  std::pair<int, int> At() const { return {ws.Form.ImgProduit.Left, ws.Form.ImgProduit.Top}; }
  TTempDir dir;
  TWorkspace ws;
};

TEST_F(KeysTest, ArrowsMoveByOneAndShiftByTen) {
  EXPECT_TRUE(Press(vkRight));
  EXPECT_TRUE(Press(vkDown));
  EXPECT_EQ(At(), std::make_pair(165, 216));
  EXPECT_TRUE(Press(vkRight, ssShift));
  EXPECT_TRUE(Press(vkDown, ssShift));
  EXPECT_TRUE(Press(vkLeft));
  EXPECT_TRUE(Press(vkUp));
  EXPECT_EQ(At(), std::make_pair(174, 225));
  EXPECT_EQ(ws.Form.productLeft, 174);  // released: the fields follow the control
  EXPECT_EQ(ws.Form.productTop, 225);
  EXPECT_FALSE(ws.Form.isDragging);
  EXPECT_EQ(ws.Form.lblInstruction.Caption, txtPlace);
  // Not for us: other keys, and arrows with Ctrl or Alt.
  EXPECT_FALSE(Press('A'));
  EXPECT_FALSE(Press(vkLeft, ssCtrl));
  EXPECT_FALSE(Press(vkLeft, ssAlt | ssShift));
  EXPECT_EQ(At(), std::make_pair(174, 225));
}

TEST_F(KeysTest, AtThePhotosEdgesTheProductStaysOnThem) {
  // Top-left corner: pushed out by one or by ten, it is put back on the edge.
  Press(vkLeft);
  Press(vkUp);
  EXPECT_EQ(At(), std::make_pair(164, 215));
  Press(vkRight, ssShift);  // 174
  Press(vkLeft, ssShift);   // 164
  Press(vkLeft);            // 163, put back
  EXPECT_EQ(At(), std::make_pair(164, 215));
  Press(vkRight, ssShift);
  Press(vkRight);
  Press(vkRight);
  Press(vkLeft, ssShift);  // 176 - 10 = 166
  EXPECT_EQ(At(), std::make_pair(166, 215));
  Press(vkLeft, ssShift);  // 156: past the edge by 8, put back
  EXPECT_EQ(At(), std::make_pair(164, 215));
  // Right and bottom edges: 564 - 50 = 514 and 515 - 50 = 465.
  for (int i = 0; i < 35; ++i) Press(vkRight, ssShift);
  for (int i = 0; i < 25; ++i) Press(vkDown, ssShift);
  EXPECT_EQ(At(), std::make_pair(514, 465));
  Press(vkRight);
  Press(vkDown);
  EXPECT_EQ(At(), std::make_pair(514, 465));
  Press(vkLeft);
  EXPECT_EQ(At(), std::make_pair(513, 465));

  // The export shows the product where the keys left it: display (349, 250).
  ws.Host.NextSave = dir.File("maquette.bmp");
  ws.Host.NextSaveFilter = 4;
  ws.Form.btnExportImageClick();
  TBitmap out;
  out.LoadFromFile(dir.File("maquette.bmp"));
  EXPECT_EQ(out.PixelColor(349, 250), clRed);  // the product's top-left quadrant
  EXPECT_EQ(out.PixelColor(348, 250), kGray);
  EXPECT_EQ(out.PixelColor(349 + 49, 250 + 49), clWhite);
  EXPECT_EQ(out.PixelColor(399, 299), kGray);
}

TEST_F(KeysTest, NothingMovesWithoutAPlacedProduct) {
  ws.Form.ImgProduitMouseDown(mbLeft, ssLeft, 5, 5);  // the mouse holds the product
  EXPECT_FALSE(Press(vkRight));
  ws.Form.ImgProduitMouseUp(mbLeft, 0, 5, 5);
  ws.Form.btnEffProduitClick();
  EXPECT_FALSE(Press(vkRight));
  // A new client photo hides the product: the keys leave it alone.
  ws.Frame(164, 215, 214, 265);
  ws.ImportClient(WriteQuadrantBmp(dir, "autre.bmp", 400, 300));
  EXPECT_FALSE(Press(vkRight));
  EXPECT_EQ(At(), std::make_pair(164, 215));
}

TEST(BusyTest, LongStepsAreMarkedOnEveryPath) {
  TCodecRegistration codecs;
  TTempDir dir;
  TRecordingHost host;
  TFrmModulePhoto form(&host);
  form.SetProductPath(WriteQuadrantBmp(dir, "produit.bmp", 20, 20));
  form.FormActivate();  // the preview loads
  host.NextOpen = WriteQuadrantBmp(dir, "maison.bmp", 400, 300);
  form.BtnClientPhotoClick();
  form.btnPersoClick();
  form.ImgPhotoMaisonMouseDown(mbLeft, ssLeft, 200, 250);
  form.ImgPhotoMaisonMouseMove(ssLeft, 240, 290);
  form.ImgPhotoMaisonMouseUp(mbLeft, 0, 240, 290);  // the product file loads
  host.NextSave = dir.File("maquette.png");
  host.NextSaveFilter = 1;
  form.btnExportImageClick();
  const std::vector<std::string> fourSteps = {"busy", "done", "busy", "done",
                                              "busy", "done", "busy", "done"};
  EXPECT_EQ(host.Events, fourSteps);
  // Nothing is busy when the dialog is cancelled; a failing write still ends its step.
  host.Events.clear();
  host.NextSave.clear();
  form.btnExportImageClick();
  EXPECT_TRUE(host.Events.empty());
  host.NextSave = dir.File("absent/maquette.png");
  EXPECT_THROW(form.btnExportImageClick(), std::exception);
  EXPECT_EQ(host.Events, (std::vector<std::string>{"busy", "done"}));
}

#ifdef VITRELLE_IMG_EXE
int RunComposer(const std::string& args, std::string* output) {
  const std::string command = std::string(VITRELLE_IMG_EXE) + " composer " + args + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[512];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) output->append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ComposerKeysTest, TouchesMoveTheProductAsTheArrowKeysDo) {
  TCodecRegistration codecs;
  TTempDir dir;
  const std::string photo =
      WriteQuadrantBmp(dir, "maison.bmp", 400, 300, kGray, kGray, kGray, kGray);
  const std::string product = WriteQuadrantBmp(dir, "produit.bmp", 50, 50);
  const std::string common = "--photo " + photo + " --produit " + product +
                             " --cadre 164,215,214,265 --mode personnalise ";
  std::string output;
  // Left and up at the corner stay on it; then 10 + 1 - 1 right and 10 down.
  ASSERT_EQ(RunComposer(common + "--touches gauche,haut,maj+droite,droite,gauche,maj+bas " +
                            dir.File("touches.bmp"),
                        &output),
            0)
      << output;
  TBitmap out;
  out.LoadFromFile(dir.File("touches.bmp"));
  EXPECT_EQ(out.PixelColor(10, 10), clRed);
  EXPECT_EQ(out.PixelColor(9, 10), kGray);
  EXPECT_EQ(out.PixelColor(10, 9), kGray);

  // The same presses through the workspace's job give the same file.
  TComposerJob job;
  job.PhotoPath = photo;
  job.ProductPath = product;
  job.X1 = 164, job.Y1 = 215, job.X2 = 214, job.Y2 = 265;
  job.Proportional = false;
  job.Keys = {{vkLeft, 0},  {vkUp, 0},   {vkRight, ssShift},
              {vkRight, 0}, {vkLeft, 0}, {vkDown, ssShift}};
  job.OutputPath = dir.File("job.bmp");
  ASSERT_EQ(RunComposerJob(job).ExitCode, 0);
  std::ifstream a(dir.File("touches.bmp"), std::ios::binary), b(job.OutputPath, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(a), {}),
            std::string(std::istreambuf_iterator<char>(b), {}));

  for (const char* bad : {"gauche,", "maj+", "Gauche", "gauche;droite", "ctrl+haut"}) {
    output.clear();
    EXPECT_EQ(RunComposer(common + "--touches '" + std::string(bad) + "' " + dir.File("non.bmp"),
                          &output),
              2)
        << bad;
    EXPECT_NE(output.find("--touches"), std::string::npos) << output;
  }
}
#endif

}  // namespace
