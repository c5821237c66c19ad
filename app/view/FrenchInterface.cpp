// The whole interface is French, so Qt's own texts around ours must be too: the file
// dialogs' buttons, labels and column titles and the message boxes' buttons come from Qt's
// French translations (qtbase_fr.qm, in Qt's translations folder), and the default locale
// writes dates and sizes the French way.
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <memory>

#include "MainWindow.h"

bool InstallFrenchInterface(QCoreApplication& app) {
  const QLocale french(QLocale::French, QLocale::France);
  QLocale::setDefault(french);
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(french, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    return false;
  translator->setParent(&app);  // the application keeps it as long as it runs
  app.installTranslator(translator.release());
  return true;
}
