// The two picture dialogs and the message boxes, over Qt's own (non-native) file dialog
// so that the open dialog can carry a preview drawn by our picture classes.
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>

#include "MainWindow.h"

namespace {

// Qt reads the patterns of a filter from its last parentheses, separated by spaces; our
// descriptions are shown as they are (details hidden) with the patterns added for Qt.
QStringList QtFilters(const std::vector<TFileFilter>& filters) {
  QStringList list;
  for (const TFileFilter& f : filters) {
    QString patterns = QString::fromStdString(f.Pattern);
    patterns.replace(';', ' ');
    list << QString::fromStdString(f.Description) + " (" + patterns + ")";
  }
  return list;
}

void PrepareDialog(QFileDialog& qt, const TFileDialog& dialog) {
  qt.setOption(QFileDialog::DontUseNativeDialog);
  qt.setOption(QFileDialog::HideNameFilterDetails);
  qt.setWindowTitle(QString::fromStdString(dialog.Title));
  const QStringList filters = QtFilters(dialog.Filter);
  qt.setNameFilters(filters);
  if (dialog.FilterIndex >= 1 && dialog.FilterIndex <= filters.size())
    qt.selectNameFilter(filters[dialog.FilterIndex - 1]);
  if (dialog.Options & ofForceShowHidden) qt.setFilter(qt.filter() | QDir::Hidden);
  qt.setSizeGripEnabled((dialog.Options & ofEnableSizing) != 0);
  if (!dialog.FileName.empty()) qt.selectFile(QString::fromStdString(dialog.FileName));
}

void TakeChoice(QFileDialog& qt, TFileDialog& dialog) {
  const QStringList files = qt.selectedFiles();
  dialog.FileName = files.isEmpty() ? std::string() : files.first().toStdString();
  // With the details hidden Qt may answer with the shown description or the full filter.
  const QString chosen = qt.selectedNameFilter();
  const QStringList full = QtFilters(dialog.Filter);
  for (int row = 0; row < full.size(); ++row)
    if (chosen == full[row] ||
        chosen == QString::fromStdString(dialog.Filter[size_t(row)].Description)) {
      dialog.FilterIndex = row + 1;
      break;
    }
}

// The preview: the file loaded through the picture registry, laid into the pane as the
// window's own preview lays it (centred, scaled down keeping its shape).
void ShowPreview(QLabel& pane, const QString& path) {
  TImage image;
  image.Width = 225;
  image.Height = 214;
  image.Center = true;
  image.Proportional = true;
  QImage shown;
  try {
    if (!path.isEmpty() && QFileInfo(path).isFile()) {
      LoadPictureUpright(image.Picture, path.toStdString());
      TBitmap rendering;
      RenderImageControl(image, rendering, clWhite);
      shown = ToQImage(rendering);
    }
  } catch (const std::exception&) {
    shown = QImage();  // not a picture we can read: an empty pane
  }
  if (shown.isNull())
    pane.clear();
  else
    pane.setPixmap(QPixmap::fromImage(shown));
}

}  // namespace

bool TQtHost::ExecuteOpenPictureDialog(TFileDialog& dialog) {
  if (OpenDialogHook) return OpenDialogHook(dialog);
  QFileDialog qt(FParent);
  PrepareDialog(qt, dialog);
  qt.setAcceptMode(QFileDialog::AcceptOpen);
  qt.setFileMode(QFileDialog::ExistingFile);
  auto* preview = new QLabel(&qt);
  preview->setFixedSize(225, 214);
  preview->setAlignment(Qt::AlignCenter);
  preview->setFrameShape(QFrame::StyledPanel);
  preview->setStyleSheet("background: white");
  if (auto* grid = qobject_cast<QGridLayout*>(qt.layout()))
    grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1, Qt::AlignTop);
  QObject::connect(&qt, &QFileDialog::currentChanged, preview,
                   [preview](const QString& path) { ShowPreview(*preview, path); });
  // Qt's own size leaves no room beside the preview: the path, the size column and the
  // long first filter were cut off. Wide enough for them, within the screen.
  QSize size(1040, 580);
  if (const QScreen* screen = FParent ? FParent->screen() : QGuiApplication::primaryScreen())
    size = size.boundedTo(screen->availableSize());
  qt.resize(size);
  if (qt.exec() != QDialog::Accepted) return false;
  TakeChoice(qt, dialog);
  return true;
}

bool TQtHost::ExecuteSavePictureDialog(TFileDialog& dialog) {
  if (SaveDialogHook) return SaveDialogHook(dialog);
  QFileDialog qt(FParent);
  PrepareDialog(qt, dialog);
  qt.setAcceptMode(QFileDialog::AcceptSave);
  qt.setFileMode(QFileDialog::AnyFile);
  // A name typed without extension takes the chosen filter's, so that the file's name
  // says what it holds (PNG data is not named .bmp); a typed extension stays as typed.
  const QStringList filters = QtFilters(dialog.Filter);
  auto followFilter = [&qt, &dialog, filters](const QString& chosen) {
    for (int row = 0; row < filters.size(); ++row)
      if (chosen == filters[row] ||
          chosen == QString::fromStdString(dialog.Filter[size_t(row)].Description))
        qt.setDefaultSuffix(QString::fromStdString(dialog.DefaultExtFor(row + 1)));
  };
  qt.setDefaultSuffix(QString::fromStdString(dialog.DefaultExtFor(dialog.FilterIndex)));
  QObject::connect(&qt, &QFileDialog::filterSelected, &qt, followFilter);
  // The filter list also changes from code (selectNameFilter), which Qt does not signal.
  if (auto* types = qt.findChild<QComboBox*>("fileTypeCombo"))
    QObject::connect(types, &QComboBox::currentIndexChanged, &qt,
                     [types, followFilter](int index) { followFilter(types->itemText(index)); });
  qt.setOption(QFileDialog::DontConfirmOverwrite, (dialog.Options & ofOverwritePrompt) == 0);
  if (qt.exec() != QDialog::Accepted) return false;
  TakeChoice(qt, dialog);
  return true;
}

void TQtHost::ShowMessage(const std::string& text) {
  if (MessageHook) {
    MessageHook(text);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(txtApplicationTitle),
                  QString::fromStdString(text), QMessageBox::Ok, FParent);
  // A message in the middle of a long step: an arrow over the box, the wait cursor after.
  if (IsBusy()) QApplication::setOverrideCursor(Qt::ArrowCursor);
  box.exec();
  if (IsBusy()) QApplication::restoreOverrideCursor();
}
