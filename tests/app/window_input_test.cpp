// The window as a French user meets it: Qt's file dialogs in French, files dropped on the
// photo and on the preview, arrow keys moving the product whatever widget has the focus,
// and the wait cursor while a picture loads.
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

#include "MainWindow.h"
#include "workspace_support.h"

namespace {

// Every visible text of the dialog's buttons and labels, "&" shortcuts removed.
QStringList TextsOf(QFileDialog& dialog) {
  QStringList texts;
  for (QPushButton* b : dialog.findChildren<QPushButton*>())
    if (b->isVisible()) texts << b->text().remove('&');
  for (QLabel* l : dialog.findChildren<QLabel*>())
    if (l->isVisible()) texts << l->text().remove('&');
  return texts;
}

// Runs `look` on the file dialog once it is open, then closes it by Cancel.
void LookAtDialog(std::function<void(QFileDialog&)> look, int triesLeft = 2000) {
  QTimer::singleShot(10, [look = std::move(look), triesLeft]() mutable {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* dialog = qobject_cast<QFileDialog*>(w); dialog && dialog->isVisible()) {
        look(*dialog);
        dialog->reject();
        return;
      }
    if (triesLeft > 0)
      LookAtDialog(std::move(look), triesLeft - 1);
    else
      ADD_FAILURE() << "no file dialog";
  });
}

class WindowInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<TMainWindow>();
    window->ExceptionHook = [this](const std::string& m) { exceptions.push_back(m); };
    window->Host().MessageHook = [this](const std::string& m) { messages.push_back(m); };
    window->Form().SetProductPath(WriteQuadrantBmp(dir, "produit.bmp", 50, 50));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QTest::qWait(20);  // the activation runs just after the window is shown
  }
  // Drops local files at a window point, as a file manager does.
  bool Drop(QPoint at, const std::vector<std::string>& files) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const std::string& f : files) urls << QUrl::fromLocalFile(QString::fromStdString(f));
    mime.setUrls(urls);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    return drop.isAccepted();
  }
  QPoint PreviewCentre() const {
    return window->ImgProduitApercu->mapTo(window.get(), window->ImgProduitApercu->rect().center());
  }
  TTempDir dir;
  std::unique_ptr<TMainWindow> window;
  std::vector<std::string> exceptions;
  std::vector<std::string> messages;
};

TEST_F(WindowInputTest, FileDialogsSpeakFrench) {
  // The test program sets up its application as the window's program does.
  ASSERT_TRUE(InstallFrenchInterface(*qApp)) << "Qt's French translations are missing";
  const std::string house = WriteQuadrantBmp(dir, "maison.bmp", 40, 30);
  TFileDialog open = window->Form().PictDialogMaison;
  open.Title = txtTitleClientPhoto;
  open.FileName = house;
  QStringList openTexts;
  QString dateTitle;
  QString fileDate;
  QString fileSize;
  LookAtDialog([&](QFileDialog& d) {
    openTexts = TextsOf(d);
    if (auto* tree = d.findChild<QTreeView*>("treeView"))
      dateTitle = tree->model()->headerData(3, Qt::Horizontal).toString();
    // The folder is read in the background: wait for the file's row.
    auto* model = d.findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    const QString path = QString::fromStdString(house);
    for (int i = 0; i < 200 && model->index(path, 3).data().toString().isEmpty(); ++i)
      QTest::qWait(10);
    fileDate = model->index(path, 3).data().toString();
    fileSize = model->index(path, 1).data().toString();
  });
  EXPECT_FALSE(window->Host().ExecuteOpenPictureDialog(open));
  for (const char* text :
       {"Ouvrir", "Annuler", "Nom de fichier :", "Voir dans :", "Fichiers de type :"})
    EXPECT_TRUE(openTexts.contains(QString::fromUtf8(text)))
        << text << " not in " << openTexts.join(" | ").toStdString();
  for (const char* english : {"Open", "Cancel", "File name:", "Look in:", "Files of type:"})
    EXPECT_FALSE(openTexts.contains(english)) << english;
  EXPECT_EQ(dateTitle.toStdString(), "Dernière modification");
  // Dates day first, sizes with a decimal comma: 40 x 30 x 3 + 54 = 3654 bytes, 3,57 Kio.
  const QDateTime modified = QFileInfo(QString::fromStdString(house)).lastModified();
  EXPECT_EQ(fileDate.toStdString(), modified.toString("dd/MM/yyyy HH:mm").toStdString());
  EXPECT_EQ(fileSize.toStdString(), "3,57 Kio");

  TFileDialog save = window->Form().svgImageSave;
  QStringList saveTexts;
  LookAtDialog([&](QFileDialog& d) { saveTexts = TextsOf(d); });
  EXPECT_FALSE(window->Host().ExecuteSavePictureDialog(save));
  for (const char* text : {"Enregistrer", "Annuler"})
    EXPECT_TRUE(saveTexts.contains(QString::fromUtf8(text)))
        << text << " not in " << saveTexts.join(" | ").toStdString();
  EXPECT_FALSE(saveTexts.contains("Save"));
}

TEST_F(WindowInputTest, DropsOnThePhotoAndOnThePreviewImportTheFirstFile) {
  const std::string house = WriteQuadrantBmp(dir, "maison.bmp", 400, 300);
  // The photo control is disabled before a photo is loaded: the drop still works.
  ASSERT_FALSE(window->ImgPhotoMaison->isEnabled());
  EXPECT_TRUE(Drop(QPoint(300, 300), {house, dir.File("autre.bmp")}));
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(window->ImgPhotoMaison->isEnabled());  // the widgets show the new state
  EXPECT_EQ(window->Form().photoRight, 564);

  const std::string product = WriteQuadrantBmp(dir, "second-produit.bmp", 30, 60);
  EXPECT_TRUE(Drop(PreviewCentre(), {product}));
  EXPECT_EQ(window->Form().productPath, product);

  // A refused extension: the message of "Photo client".
  EXPECT_TRUE(Drop(QPoint(300, 300), {dir.File("maison.tiff")}));
  EXPECT_EQ(messages, (std::vector<std::string>{txtBadFormat}));
  // Elsewhere (the buttons' panel) nothing is taken.
  const QPoint buttons = window->BtnClientPhoto->mapTo(window.get(), QPoint(5, 5));
  EXPECT_FALSE(Drop(buttons, {house}));
}

TEST_F(WindowInputTest, ArrowKeysMoveTheProductWhateverHasTheFocus) {
  window->Guarded([this] {
    window->Form().DropFiles(dzClientPhoto, {WriteQuadrantBmp(dir, "maison.bmp", 400, 300)});
    window->Form().btnPersoClick();
    window->Form().ImgPhotoMaisonMouseDown(mbLeft, ssLeft, 200, 250);
    window->Form().ImgPhotoMaisonMouseMove(ssLeft, 260, 300);
    window->Form().ImgPhotoMaisonMouseUp(mbLeft, 0, 260, 300);
  });
  ASSERT_TRUE(window->ImgProduit->isVisible());
  QTest::keyClick(window.get(), Qt::Key_Right);
  QTest::keyClick(window.get(), Qt::Key_Down, Qt::ShiftModifier);
  EXPECT_EQ(window->ImgProduit->pos(), QPoint(201, 260));
  // With the notice list focused the arrows still move the product, not the choice.
  window->cbMention->setFocus();
  QTest::keyClick(window->cbMention, Qt::Key_Down);
  EXPECT_EQ(window->cbMention->currentIndex(), 0);
  EXPECT_EQ(window->ImgProduit->pos(), QPoint(201, 261));
  EXPECT_TRUE(exceptions.empty());
}

TEST_F(WindowInputTest, WaitCursorWhileAPictureLoads) {
  bool waitingDuringLoad = false;
  window->Host().MessageHook = [&](const std::string&) {
    const QCursor* cursor = QApplication::overrideCursor();
    waitingDuringLoad = cursor != nullptr && cursor->shape() == Qt::WaitCursor;
  };
  window->Guarded([this] { window->Form().DropFiles(dzClientPhoto, {dir.File("absent.bmp")}); });
  EXPECT_TRUE(waitingDuringLoad);  // the failed load's message comes inside the step
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(window->Host().IsBusy());
}

}  // namespace
