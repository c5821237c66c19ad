// Each framework format travels as its own MIME type, so "Image GIF" data reaches other
// instances of the program unchanged.
#include "QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace {

QString MimeOf(TClipboardFormat format) {
  std::string name = ClipboardFormatName(format);
  if (name.empty()) name = "format-" + std::to_string(format);
  return QStringLiteral("application/x-vitrelle-") + QString::fromStdString(name);
}

}  // namespace

bool TQtClipboard::HasFormat(TClipboardFormat format) {
  const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
  return mime && mime->hasFormat(MimeOf(format));
}

bool TQtClipboard::GetData(TClipboardFormat format, TClipboardData& data) {
  const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
  if (!mime || !mime->hasFormat(MimeOf(format))) return false;
  QByteArray bytes = mime->data(MimeOf(format));
  data.Bytes.assign(bytes.begin(), bytes.end());
  return true;
}

void TQtClipboard::SetData(TClipboardFormat format, const TClipboardData& data) {
  auto mime = std::make_unique<QMimeData>();
  if (const QMimeData* old = QGuiApplication::clipboard()->mimeData())
    for (const QString& f : old->formats()) mime->setData(f, old->data(f));
  mime->setData(MimeOf(format), QByteArray(reinterpret_cast<const char*>(data.Bytes.data()),
                                           qsizetype(data.Bytes.size())));
  QGuiApplication::clipboard()->setMimeData(mime.release());  // the clipboard takes it
}

void TQtClipboard::Clear() {
  QGuiApplication::clipboard()->clear();
}
