// The program entry's steps, all under one guard: creating the application object,
// registering the codecs, creating the window and running it. An exception in any of
// them is shown, and the program ends with 0 as after a normal close.
#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <iostream>

#include "MainWindow.h"

namespace {

void ShowStartupException(const std::string& message) {
  if (!QApplication::instance()) {
    // No application object to show a message box with: the terminal is all there is.
    std::cerr << message << "\n";
    return;
  }
  QMessageBox box(QMessageBox::Critical, QString::fromUtf8(txtApplicationTitle),
                  QString::fromStdString(message), QMessageBox::Ok);
  box.exec();
}

int RunWindow(const std::string* productPath) {
  TMainWindow window;  // constructor, then FormCreate
  // With no argument or several the window is never shown.
  if (!productPath) return 0;
  window.Form().SetProductPath(*productPath);
  if (const QScreen* screen = window.screen())
    window.move(screen->availableGeometry().center() - window.rect().center());
  window.show();
  return QApplication::exec();
}

}  // namespace

TProgramSteps QtProgramSteps(std::function<std::shared_ptr<void>()> registerCodecs) {
  TProgramSteps steps;
  steps.CreateApplication = [](int& argc, char** argv) -> std::shared_ptr<void> {
    PrepareFrenchLocale();
    auto app = std::make_shared<QApplication>(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(txtApplicationTitle));
    InstallFrenchInterface(*app);
    return app;
  };
  steps.RegisterCodecs = std::move(registerCodecs);
  steps.RunWindow = RunWindow;
  steps.ShowException = ShowStartupException;
  return steps;
}

int RunProgram(int argc, char** argv, const TProgramSteps& steps) {
  // The arguments as the user typed them: the application object takes its own options
  // (-style, -reverse...) out of argc and argv, and those count as arguments here.
  const std::vector<std::string> typed(argv + std::min(argc, 1), argv + argc);
  int qtArgc = argc;  // outlives the application object, which keeps a reference to it
  std::shared_ptr<void> application;
  std::shared_ptr<void> codecs;
  try {
    application = steps.CreateApplication(qtArgc, argv);
    codecs = steps.RegisterCodecs();
    return steps.RunWindow(typed.size() == 1 ? &typed[0] : nullptr);
  } catch (const EAbort&) {
    // the silent abort: no message
  } catch (const std::exception& e) {
    steps.ShowException(e.what());
  } catch (...) {
    steps.ShowException(std::string());  // not an exception object: an empty message
  }
  return 0;
}
