// The real window under the offscreen platform: start-up rules of the program, and mouse
// and button events going through the widgets to the workspace.
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QScrollArea>
#include <QTest>
#include <QTimer>

#include "MainWindow.h"
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
  window->Guarded([this] {
    window->Form().ImgPhotoMaisonMouseDown(mbLeft, ssLeft, 200, 250);
    window->Form().ImgPhotoMaisonMouseMove(ssLeft, 260, 300);
    window->Form().ImgPhotoMaisonMouseUp(mbLeft, 0, 260, 300);
  });
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

}  // namespace
