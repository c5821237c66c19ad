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

namespace {

constexpr const char* kFrenchLocale = "fr_FR.UTF-8";

// An environment variable set for a while, then as it was.
class TEnvironmentOverride {
 public:
  TEnvironmentOverride(const char* name, const char* value)
      : FName(name), FWasSet(qEnvironmentVariableIsSet(name)), FOld(qgetenv(name)) {
    qputenv(name, value);
  }
  ~TEnvironmentOverride() {
    if (FWasSet)
      qputenv(FName, FOld);
    else
      qunsetenv(FName);
  }
  TEnvironmentOverride(const TEnvironmentOverride&) = delete;
  TEnvironmentOverride& operator=(const TEnvironmentOverride&) = delete;

 private:
  const char* FName;
  bool FWasSet;
  QByteArray FOld;
};

}  // namespace

void PrepareFrenchLocale() {
  // LC_ALL rules over every other locale variable, so this one override is enough; Qt
  // keeps what it read, so the machine's values can come back at once.
  const TEnvironmentOverride all("LC_ALL", kFrenchLocale);
  const TEnvironmentOverride language("LANGUAGE", "fr");
  (void)QLocale::system().name();
}

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
