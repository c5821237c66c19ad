// The real window under the offscreen platform: start-up rules of the program, and mouse
// and button events going through the widgets to the workspace.
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QScrollArea>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <fstream>

#include "MainWindow.h"
#include "codecs.h"
#include "workspace_support.h"

namespace {

// The application object lives between the first and the last test, not until static
// destruction (Qt's own globals are gone by then).
class TQtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    PrepareFrenchLocale();  // as the program starts
    FApp = std::make_unique<QApplication>(FArgc, FArgv);
    InstallFrenchInterface(*FApp);
  }
  void TearDown() override { FApp.reset(); }

 private:
  int FArgc = 1;
  char FName[10] = "app_tests";
  char* FArgv[2] = {FName, nullptr};
  std::unique_ptr<QApplication> FApp;
};
// gtest owns registered environments.
[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

// Runs the program; a program still running after waitMs is stopped and reported so.
int RunProgram(const QStringList& args, bool* stillRunning, int waitMs) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  p.setProcessEnvironment(env);
  p.start(VITRELLE_APP_EXE, args);
  p.waitForStarted();
  const bool finished = p.waitForFinished(waitMs);
  *stillRunning = !finished;
  if (!finished) {
    p.kill();
    p.waitForFinished();
    return -1;
  }
  return p.exitCode();
}

TEST(ProgramTest, WithoutExactlyOneArgumentItEndsAtOnce) {
  bool running = false;
  EXPECT_EQ(RunProgram({}, &running, 30000), 0);
  EXPECT_FALSE(running);
  EXPECT_EQ(RunProgram({"a.bmp", "b.bmp"}, &running, 30000), 0);
  EXPECT_FALSE(running);
  // With one argument, even empty, the window stays until closed.
  RunProgram({""}, &running, 1500);
  EXPECT_TRUE(running);
}

// The count is of the arguments as typed: Qt's own options count too.
TEST(ProgramTest, ArgumentsCountAsTyped) {
  bool running = false;
  // One argument, even one Qt would take for itself: the window is shown (its preview
  // fails to load, which is reported, and the window stays).
  RunProgram({"-reverse"}, &running, 1500);
  EXPECT_TRUE(running);
  // Three arguments, two of which Qt would take: the program ends at once.
  EXPECT_EQ(RunProgram({"produit.png", "-style", "fusion"}, &running, 30000), 0);
  EXPECT_FALSE(running);
}

// The entry's steps with stand-ins: what each one receives, and a failure in any of them
// (the application object, the codec registration) shown by the exception display.
struct TEntryProbe {
  std::vector<std::string> Shown;
  std::vector<std::string> Windows;  // the product path each window got, "-" for none
  bool CodecsRegistered = false;
  TProgramSteps Steps(bool appFails, bool codecsFail) {
    TProgramSteps steps;
    steps.CreateApplication = [appFails](int& argc, char** argv) -> std::shared_ptr<void> {
      if (appFails) throw EOutOfResources("pas d'écran");
      // As Qt does: take "-style fusion" out of the command line.
      int kept = 0;
      for (int i = 0; i < argc; ++i)
        if (std::string(argv[i]) == "-style" && i + 1 < argc)
          ++i;
        else
          argv[kept++] = argv[i];
      argc = kept;
      return nullptr;
    };
    steps.RegisterCodecs = [this, codecsFail]() -> std::shared_ptr<void> {
      if (codecsFail) throw EInvalidGraphic("enregistrement impossible");
      CodecsRegistered = true;
      return nullptr;
    };
    steps.RunWindow = [this](const std::string* path) {
      Windows.push_back(path ? *path : "-");
      if (path && *path == "lance") throw 42;  // not an exception object
      return 0;
    };
    steps.ShowException = [this](const std::string& m) { Shown.push_back(m); };
    return steps;
  }
  int Run(std::vector<std::string> args, bool appFails = false, bool codecsFail = false) {
    args.insert(args.begin(), "vitrelle");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return RunProgram(int(args.size()), argv.data(), Steps(appFails, codecsFail));
  }
};

TEST(ProgramEntryTest, FailuresOfEveryStepAreShown) {
  TEntryProbe app;
  EXPECT_EQ(app.Run({"produit.png"}, true, false), 0);
  EXPECT_EQ(app.Shown, std::vector<std::string>{"pas d'écran"});
  EXPECT_TRUE(app.Windows.empty());

  TEntryProbe codecs;
  EXPECT_EQ(codecs.Run({"produit.png"}, false, true), 0);
  EXPECT_EQ(codecs.Shown, std::vector<std::string>{"enregistrement impossible"});
  EXPECT_TRUE(codecs.Windows.empty());

  TEntryProbe thrown;
  EXPECT_EQ(thrown.Run({"lance"}), 0);
  EXPECT_EQ(thrown.Shown, std::vector<std::string>{""});
}

TEST(ProgramEntryTest, TheWindowGetsTheTypedArgument) {
  TEntryProbe probe;
  probe.Run({"produit.png"});
  probe.Run({"produit.png", "-style", "fusion"});  // three typed: no product path
  probe.Run({"-style", "fusion"});                 // two typed
  probe.Run({});
  probe.Run({""});
  EXPECT_EQ(probe.Windows, (std::vector<std::string>{"produit.png", "-", "-", "-", ""}));
  EXPECT_TRUE(probe.CodecsRegistered);
  EXPECT_TRUE(probe.Shown.empty());
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<TMainWindow>();
    window->ExceptionHook = [this](const std::string& m) { exceptions.push_back(m); };
    window->Host().MessageHook = [this](const std::string& m) { messages.push_back(m); };
  }
  void Show(const std::string& product) {
    window->Form().SetProductPath(product);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QTest::qWait(20);  // the activation runs just after the window is shown
  }
  void ImportClient(const std::string& path) {
    window->Host().OpenDialogHook = [path](TFileDialog& d) {
      d.FileName = path;
      return true;
    };
    QTest::mouseClick(window->BtnClientPhoto, Qt::LeftButton);
  }
  // A blue 50 x 50 product placed in custom mode with the mouse in the frame a-b of a
  // 400 x 300 photo (photo area 164..564 x 215..515).
  void PlaceBlueProduct(QPoint a, QPoint b) {
    Show(WriteQuadrantBmp(dir, "produit.bmp", 50, 50, clBlue, clBlue, clBlue, clBlue));
    ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 400, 300));
    QTest::mouseClick(window->btnPerso, Qt::LeftButton);
    QTest::mousePress(window->ImgPhotoMaison, Qt::LeftButton, {}, a);
    QTest::mouseMove(window->ImgPhotoMaison, b);
    QTest::mouseRelease(window->ImgPhotoMaison, Qt::LeftButton, {}, b);
  }
  // The frame dragged on the photo from (200, 250) to (260, 300), through the form's own
  // handlers as the window calls them.
  void DragFrame200To260() {
    window->Guarded([this] {
      window->Form().ImgPhotoMaisonMouseDown(mbLeft, ssLeft, 200, 250);
      window->Form().ImgPhotoMaisonMouseMove(ssLeft, 260, 300);
      window->Form().ImgPhotoMaisonMouseUp(mbLeft, 0, 260, 300);
    });
  }
  TTempDir dir;
  std::unique_ptr<TMainWindow> window;
  std::vector<std::string> exceptions;
  std::vector<std::string> messages;
};

TEST_F(WindowTest, ShowsTheLayoutAndThePreview) {
  Show(WriteQuadrantBmp(dir, "produit.bmp", 60, 120));
  EXPECT_EQ(window->windowTitle(), "Vitrelle du visuel (BETA)");
  EXPECT_EQ(window->ImgPhotoMaison->geometry(), QRect(0, 0, 728, 730));
  EXPECT_EQ(window->scBxInfos->geometry(), QRect(728, 0, 280, 730));
  EXPECT_EQ(window->lblInstruction->text().toStdString(), txtImport);
  EXPECT_FALSE(window->btnExportImage->isEnabled());
  EXPECT_FALSE(window->btnPropor->isEnabled());
  EXPECT_TRUE(window->btnPerso->isEnabled());
  // Preview: 60 x 120 centred in 225 x 214, red top-left quadrant.
  const QImage& preview = window->ImgProduitApercu->Image();
  ASSERT_EQ(preview.size(), QSize(225, 214));
  EXPECT_EQ(preview.pixelColor(82 + 5, 47 + 5), QColor(255, 0, 0));
  EXPECT_EQ(preview.pixelColor(2, 2), QColor(255, 255, 255));
  EXPECT_TRUE(exceptions.empty());

  // Another product: the preview follows.
  const std::string other =
      WriteQuadrantBmp(dir, "autre.bmp", 225, 214, clLime, clLime, clLime, clLime);
  window->Host().OpenDialogHook = [other](TFileDialog& d) {
    d.FileName = other;
    return true;
  };
  QTest::mouseClick(window->btnProduitPhoto, Qt::LeftButton);
  EXPECT_EQ(window->ImgProduitApercu->Image().pixelColor(2, 2), QColor(0, 255, 0));
}

// What the window shows, read from its own rendering (as a screenshot would): the photo
// centred in the photo control, the product over it, the notice in the photo, and the
// side panel with its texts.
TEST_F(WindowTest, RenderedWindowShowsPhotoProductAndNotice) {
  PlaceBlueProduct(QPoint(400, 400), QPoint(500, 480));
  window->cbMention->setCurrentIndex(1);
  emit window->cbMention->activated(1);
  ASSERT_TRUE(exceptions.empty()) << exceptions[0];

  const QImage shot = window->grab().toImage();
  ASSERT_EQ(shot.size(), QSize(1008, 730));
  // The 400 x 300 photo at (164, 215): red, green, blue, white quadrants; the window's
  // background around it.
  EXPECT_EQ(shot.pixelColor(170, 220), QColor(255, 0, 0));
  EXPECT_EQ(shot.pixelColor(560, 220), QColor(0, 255, 0));
  EXPECT_EQ(shot.pixelColor(170, 380), QColor(0, 0, 255));
  EXPECT_EQ(shot.pixelColor(400, 380), QColor(255, 255, 255));
  EXPECT_EQ(shot.pixelColor(100, 100), QColor(240, 240, 240));
  EXPECT_EQ(shot.pixelColor(163, 215), QColor(240, 240, 240));
  // The blue product over the white quadrant at (400, 400)-(500, 480).
  EXPECT_EQ(shot.pixelColor(400, 400), QColor(0, 0, 255));
  EXPECT_EQ(shot.pixelColor(499, 479), QColor(0, 0, 255));
  EXPECT_EQ(shot.pixelColor(500, 480), QColor(255, 255, 255));
  // The white notice over the blue quadrant, 10 from the photo's left, 30 above its
  // bottom: some pure white pixels there, nothing but blue and its mixtures with white.
  int notice = 0;
  for (int y = 515 - 30; y < 515; ++y)
    for (int x = 164; x < 164 + 200; ++x) {
      const QColor c = shot.pixelColor(x, y);
      ASSERT_EQ(c.red(), c.green()) << x << "," << y;
      notice += c == QColor(255, 255, 255);
    }
  EXPECT_GT(notice, 100);
  // The side panel: its texts and the instruction after a placement.
  EXPECT_EQ(window->btnExportImage->text().toStdString(), "Exporter l'image");
  EXPECT_TRUE(window->btnExportImage->isEnabled());
  EXPECT_EQ(window->lblInstruction->text().toStdString(), txtPlace);
  EXPECT_EQ(window->cbMention->currentText().toStdString(), "Blanche");
  // The instruction's dark text is drawn in its label.
  const QRect label(window->lblInstruction->mapTo(window.get(), QPoint(0, 0)),
                    window->lblInstruction->size());
  int dark = 0;
  for (int y = label.top(); y <= label.bottom(); ++y)
    for (int x = label.left(); x <= label.right(); ++x) dark += shot.pixelColor(x, y).value() < 80;
  EXPECT_GT(dark, 50);
}

// A rubber-band move repaints only what changed; what the control shows must still be
// exactly the workspace's photo with its frame, under the product as well.
TEST_F(WindowTest, RubberBandMovesShowTheDisplayExactly) {
  PlaceBlueProduct(QPoint(300, 300), QPoint(360, 360));
  ASSERT_TRUE(window->ImgProduit->isVisible());

  QTest::mousePress(window->ImgPhotoMaison, Qt::LeftButton, {}, QPoint(200, 250));
  for (QPoint p : {QPoint(420, 400), QPoint(425, 404), QPoint(330, 330), QPoint(540, 500)})
    QTest::mouseMove(window->ImgPhotoMaison, p);
  TFrmModulePhoto& f = window->Form();
  TBitmap expected;
  RenderImageControl(f.ImgPhotoMaison, expected, f.Color);
  const QImage& shown = window->ImgPhotoMaison->Image();
  ASSERT_EQ(shown.size(), QSize(728, 730));
  int framePixels = 0;
  for (int y = 0; y < 730; ++y)
    for (int x = 0; x < 728; ++x) {
      const TColor c = expected.PixelColor(x, y);
      ASSERT_EQ(shown.pixelColor(x, y), QColor(GetRValue(c), GetGValue(c), GetBValue(c)))
          << x << "," << y;
    }
  // The frame is on screen: its top-left corner inverted (red to cyan).
  EXPECT_EQ(shown.pixelColor(200, 250), QColor(0, 255, 255));
  // The product control shows the photo under it with the frame through it.
  TBitmap product;
  TBitmap photo;
  RenderImageControl(f.ImgPhotoMaison, photo, f.Color);
  RenderProductOverPhoto(f.ImgProduit, photo, product);
  const QImage& productShown = window->ImgProduit->Image();
  for (int y = 0; y < product.Height(); ++y)
    for (int x = 0; x < product.Width(); ++x) {
      const TColor c = product.PixelColor(x, y);
      framePixels += c != clBlue;
      ASSERT_EQ(productShown.pixelColor(x, y), QColor(GetRValue(c), GetGValue(c), GetBValue(c)));
    }
  EXPECT_EQ(framePixels, 0);  // the opaque product hides the frame beneath it
  QTest::mouseRelease(window->ImgPhotoMaison, Qt::LeftButton, {}, QPoint(540, 500));
}

// Choosing the notice already shown, in the real list, does not stamp it again.
TEST_F(WindowTest, ChoosingTheShownNoticeAgainChangesNothing) {
  Show(WriteQuadrantBmp(dir, "produit.bmp", 50, 50));
  ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 400, 300));
  QTest::mouseClick(window->btnPerso, Qt::LeftButton);
  DragFrame200To260();
  window->cbMention->setCurrentIndex(1);
  emit window->cbMention->activated(1);
  const QImage once = window->ImgPhotoMaison->Image().copy();
  emit window->cbMention->activated(1);
  EXPECT_EQ(window->ImgPhotoMaison->Image(), once);
}

TEST_F(WindowTest, MissingProductIsReportedAndTheWindowStays) {
  Show(dir.File("absent.bmp"));
  ASSERT_EQ(exceptions.size(), 1u);
  EXPECT_TRUE(window->isVisible());
}

TEST_F(WindowTest, PressMoveReleasePlacesTheProduct) {
  Show(WriteQuadrantBmp(dir, "produit.bmp", 50, 50, clBlue, clBlue, clBlue, clBlue));
  ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 400, 300));
  ASSERT_TRUE(messages.empty()) << messages[0];
  EXPECT_TRUE(window->btnEffClient->isEnabled());
  EXPECT_EQ(window->ImgPhotoMaison->Image().pixelColor(170, 220), QColor(255, 0, 0));

  QTest::mousePress(window->ImgPhotoMaison, Qt::LeftButton, {}, QPoint(200, 250));
  QTest::mouseMove(window->ImgPhotoMaison, QPoint(300, 350));
  EXPECT_EQ(window->lblInstruction->text().toStdString(), txtSize);
  QTest::mouseRelease(window->ImgPhotoMaison, Qt::LeftButton, {}, QPoint(300, 350));

  EXPECT_TRUE(window->ImgProduit->isVisible());
  EXPECT_EQ(window->ImgProduit->geometry(), QRect(200, 250, 100, 100));
  EXPECT_EQ(window->ImgProduit->Image().pixelColor(50, 50), QColor(0, 0, 255));
  EXPECT_TRUE(window->btnExportImage->isEnabled());
  EXPECT_TRUE(window->btnEffProduit->isEnabled());
  EXPECT_TRUE(window->cbMention->isEnabled());

  // Drag the product by (30, 20) with its own widget.
  QTest::mousePress(window->ImgProduit, Qt::LeftButton, {}, QPoint(10, 10));
  QTest::mouseMove(window->ImgProduit, QPoint(40, 30));
  QTest::mouseRelease(window->ImgProduit, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(window->ImgProduit->geometry(), QRect(230, 270, 100, 100));
}

TEST_F(WindowTest, ButtonsUpdateTheEnabledStates) {
  Show(WriteQuadrantBmp(dir, "produit.bmp", 50, 50));
  ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 400, 300));
  QTest::mouseClick(window->btnPerso, Qt::LeftButton);
  EXPECT_FALSE(window->btnPerso->isEnabled());
  EXPECT_TRUE(window->btnPropor->isEnabled());
  window->Form().ImgPhotoMaisonMouseDown(mbLeft, ssLeft, 200, 250);
  window->Form().ImgPhotoMaisonMouseMove(ssLeft, 260, 300);
  window->Guarded([this] { window->Form().ImgPhotoMaisonMouseUp(mbLeft, 0, 260, 300); });
  ASSERT_TRUE(window->btnExportImage->isEnabled());

  QTest::mouseClick(window->btnEffProduit, Qt::LeftButton);
  EXPECT_FALSE(window->btnExportImage->isEnabled());
  EXPECT_FALSE(window->btnEffProduit->isEnabled());
  EXPECT_FALSE(window->cbMention->isEnabled());

  QTest::mouseClick(window->btnPropor, Qt::LeftButton);
  EXPECT_TRUE(window->btnPerso->isEnabled());
  EXPECT_FALSE(window->btnPropor->isEnabled());

  QTest::mouseClick(window->btnEffClient, Qt::LeftButton);
  EXPECT_FALSE(window->btnEffClient->isEnabled());
  EXPECT_FALSE(window->ImgPhotoMaison->isEnabled());
  EXPECT_EQ(window->lblInstruction->text().toStdString(), txtImport);
}

// Accepts the dialog, again if it is still shown later: an accept that lands between the
// dialog's show and the start of its event loop would otherwise be lost.
// The name is typed into the dialog's name field each time, as a user would: selectFile
// leaves the field alone while it has the focus.
void AcceptUntilClosed(QPointer<QFileDialog> dialog, QString file, int triesLeft = 200) {
  if (!dialog || !dialog->isVisible() || triesLeft == 0) return;
  if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit")) name->setText(file);
  static_cast<QDialog*>(dialog.data())->accept();  // as the dialog's own button does
  QTimer::singleShot(50,
                     [dialog, file, triesLeft] { AcceptUntilClosed(dialog, file, triesLeft - 1); });
}

// Runs `act` on the file dialog once it is open (the dialogs are modal), then accepts it:
// looks for it again and again from the event loop that the dialog runs.
void WithDialog(const std::string& file, std::function<void(QFileDialog&)> act,
                int triesLeft = 3000) {
  QTimer::singleShot(10, [file, act = std::move(act), triesLeft]() mutable {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* dialog = qobject_cast<QFileDialog*>(w); dialog && dialog->isVisible()) {
        act(*dialog);
        AcceptUntilClosed(dialog, QString::fromStdString(file));
        return;
      }
    if (triesLeft > 0)
      WithDialog(file, std::move(act), triesLeft - 1);
    else
      ADD_FAILURE() << "no file dialog";
  });
}

TEST_F(WindowTest, OpenDialogShowsTheFiltersAndAPreview) {
  Show(WriteQuadrantBmp(dir, "produit.bmp", 50, 50));
  const std::string house = WriteQuadrantBmp(dir, "maison.bmp", 400, 300);
  bool previewShown = false;
  WithDialog(house, [&](QFileDialog& d) {
    EXPECT_EQ(d.windowTitle().toStdString(), "Choisissez la photo du client");
    EXPECT_EQ(d.nameFilters().size(), 17);
    auto* types = d.findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(types, nullptr);
    EXPECT_EQ(types->itemText(0).toStdString(),
              "Tous (*.png;*.gif;*.cur;*.pcx;*.ani;*.gif;*.png;*.jpg;*.jpeg;*.bmp;*.tif;*.tiff;"
              "*.ico;*.emf;*.wmf)");
    EXPECT_EQ(types->itemText(16).toStdString(), "Image(*.bmp;*.jpg;*.jpeg;*.png)");
    d.selectFile(QString::fromStdString(house));
    emit d.currentChanged(QString::fromStdString(house));
    for (QLabel* label : d.findChildren<QLabel*>())
      previewShown |= !label->pixmap().isNull() && label->pixmap().width() == 225;
  });
  QTest::mouseClick(window->BtnClientPhoto, Qt::LeftButton);
  EXPECT_TRUE(previewShown);
  EXPECT_TRUE(window->Form().ImgPhotoMaison.Enabled);
  EXPECT_EQ(window->Form().photoRight, 564);
}

TEST_F(WindowTest, SaveDialogFilterDecidesTheFormatAndAddsTheDefaultSuffix) {
  Show(WriteQuadrantBmp(dir, "produit.bmp", 50, 50));
  ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 400, 300));
  window->Form().btnPersoClick();
  DragFrame200To260();
  WithDialog(dir.File("maquette"), [&](QFileDialog& d) {
    EXPECT_EQ(d.nameFilters().size(), 5);
    d.selectNameFilter(d.nameFilters()[3]);  // "Bitmaps (*.bmp)"
  });
  QTest::mouseClick(window->btnExportImage, Qt::LeftButton);
  ASSERT_TRUE(exceptions.empty()) << exceptions[0];
  TBitmap written;
  written.LoadFromFile(dir.File("maquette.bmp"));
  EXPECT_EQ(written.Width(), 400);
  EXPECT_EQ(window->Form().svgImageSave.FileName, "");
}

// The open dialog opens wide enough for its path, its size column, its long first filter
// and the preview beside them (1000 x 560 at least, when the screen has room).
TEST_F(WindowTest, OpenDialogOpensAtAUsableSize) {
  Show(WriteQuadrantBmp(dir, "produit.bmp", 50, 50));
  QSize opened;
  QSize room;
  WithDialog("", [&](QFileDialog& d) {
    opened = d.size();
    room = d.screen()->availableSize();
    d.reject();
  });
  QTest::mouseClick(window->BtnClientPhoto, Qt::LeftButton);
  EXPECT_GE(opened.width(), std::min(1000, room.width()));
  EXPECT_GE(opened.height(), std::min(560, room.height()));
}

// A name typed without extension takes the chosen filter's ("Tout les Fichiers" the
// dialog's default "bmp"); a typed extension is kept as typed.
TEST_F(WindowTest, SaveDialogNameWithoutExtensionTakesTheFiltersOwn) {
  TCodecRegistration codecs;
  Show(WriteQuadrantBmp(dir, "produit.bmp", 50, 50));
  ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 400, 300));
  window->Form().btnPersoClick();
  DragFrame200To260();
  struct Row {
    int filter;
    const char* typed;
    const char* written;
    const char* magic;
  };
  for (const Row& row : {Row{1, "m1", "m1.png", "\x89PNG"}, Row{2, "m2", "m2.jpg", "\xFF\xD8"},
                         Row{3, "m3", "m3.jpeg", "\xFF\xD8"}, Row{4, "m4", "m4.bmp", "BM"},
                         Row{5, "m5", "m5.bmp", "BM"}, Row{1, "m6.gif", "m6.gif", "\x89PNG"}}) {
    WithDialog(dir.File(row.typed),
               [&](QFileDialog& d) { d.selectNameFilter(d.nameFilters()[row.filter - 1]); });
    QTest::mouseClick(window->btnExportImage, Qt::LeftButton);
    ASSERT_TRUE(exceptions.empty()) << exceptions[0];
    std::ifstream in(dir.File(row.written), std::ios::binary);
    std::string head(4, '\0');
    in.read(head.data(), 4);
    EXPECT_EQ(head.substr(0, std::strlen(row.magic)), row.magic) << row.written;
  }
}

// The photo's context menu: its French entries in order, each enabled only when it applies;
// the right button on the product opens it, and an entry chosen there runs.
TEST_F(WindowTest, ContextMenuOffersWhatAppliesNow) {
  using TEntries = std::vector<std::pair<std::string, bool>>;
  auto entries = [this] {
    TEntries shown;
    const std::unique_ptr<QMenu> menu = window->MakeContextMenu();
    for (QAction* a : menu->actions()) shown.emplace_back(a->text().toStdString(), a->isEnabled());
    return shown;
  };
  auto expected = [](bool placed, bool undo) {
    return TEntries{{"Perspective", placed},
                    {"Fixer le produit sur la photo", placed},
                    {"Annuler\tCtrl+Z", undo},
                    {"Rétablir\tCtrl+Maj+Z", false},
                    {"Exporter en pleine résolution…", placed}};
  };
  Show(WriteQuadrantBmp(dir, "produit.bmp", 50, 50));
  EXPECT_EQ(entries(), expected(false, false));
  ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 400, 300));  // a step that can be undone
  EXPECT_EQ(entries(), expected(false, true));
  DragFrame200To260();
  EXPECT_EQ(entries(), expected(true, true));

  QStringList opened;
  window->ContextMenuHook = [&opened](QMenu& menu) {
    for (QAction* a : menu.actions()) opened << a->text();
    QTimer::singleShot(0, &menu, [&menu] {
      menu.actions()[1]->trigger();  // "Fixer le produit sur la photo"
      menu.close();
    });
  };
  const QPoint at(5, 5);
  QContextMenuEvent event(QContextMenuEvent::Mouse, at, window->ImgProduit->mapToGlobal(at));
  QApplication::sendEvent(window->ImgProduit, &event);
  EXPECT_EQ(opened.size(), 5);
  EXPECT_EQ(window->Form().fixedProducts.size(), 1u);
  EXPECT_FALSE(window->ImgProduit->isVisible());
}

// The corner handles through the window: the left button on a handle moves that corner
// (the press lands on the photo or on the product, whichever lies under it), Escape ends
// the handles, and the left button is the frame's again.
TEST_F(WindowTest, CornerHandlesTakeTheLeftButtonUntilEscape) {
  Show(WriteQuadrantBmp(dir, "produit.bmp", 50, 50));
  ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 400, 300));
  TFrmModulePhoto& f = window->Form();
  window->Guarded([&f] {
    f.btnPersoClick();
    f.ImgPhotoMaisonMouseDown(mbLeft, ssLeft, 200, 250);
    f.ImgPhotoMaisonMouseMove(ssLeft, 300, 350);
    f.ImgPhotoMaisonMouseUp(mbLeft, 0, 300, 350);
  });
  const std::unique_ptr<QMenu> menu = window->MakeContextMenu();
  menu->actions()[0]->trigger();  // "Perspective"
  ASSERT_TRUE(f.InPerspectiveMode());
  EXPECT_TRUE(window->Handles->isVisible());
  // Bottom-right corner (300, 350): just outside the product control, on the photo.
  QTest::mousePress(window->ImgPhotoMaison, Qt::LeftButton, {}, QPoint(300, 350));
  QTest::mouseMove(window->ImgPhotoMaison, QPoint(320, 340));
  QTest::mouseRelease(window->ImgPhotoMaison, Qt::LeftButton, {}, QPoint(320, 340));
  EXPECT_EQ(f.ProductCornersInWindow()[2].X, 320);
  EXPECT_EQ(f.ProductCornersInWindow()[2].Y, 340);
  // Top-left corner (200, 250): on the product control.
  // (QTest takes the point (0, 0) for the widget's centre: the press is one pixel in.)
  QTest::mousePress(window->ImgProduit, Qt::LeftButton, {}, QPoint(1, 1));
  QTest::mouseMove(window->ImgProduit, QPoint(11, 6));
  QTest::mouseRelease(window->ImgProduit, Qt::LeftButton, {}, QPoint(11, 6));
  EXPECT_EQ(f.ProductCornersInWindow()[0].X, 210);
  EXPECT_EQ(f.ProductCornersInWindow()[0].Y, 255);
  QTest::keyClick(window->cbMention, Qt::Key_Escape);
  EXPECT_FALSE(f.InPerspectiveMode());
  EXPECT_FALSE(window->Handles->isVisible());
  QTest::mousePress(window->ImgPhotoMaison, Qt::LeftButton, {}, QPoint(400, 400));
  EXPECT_TRUE(f.isDrawing);
  QTest::mouseRelease(window->ImgPhotoMaison, Qt::LeftButton, {}, QPoint(400, 400));
  EXPECT_EQ(f.ProductCornersInWindow()[0].X, 210);  // the shape stays
}

}  // namespace
