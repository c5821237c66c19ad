// The program entry: the product picture's path is the only argument.
#include <cstring>
#include <iostream>

#include "MainWindow.h"
#include "QtClipboard.h"
#include "codecs.h"
#include "vitrelle_version.h"

int main(int argc, char** argv) {
  // Answered before any toolkit start-up, so it works without a display.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::cout << "vitrelle " VITRELLE_VERSION "\n";
    return 0;
  }
  // The codecs, the system clipboard behind the framework's clipboard store and Qt's timers
  // behind the framework's timer service, all set up inside the program's guard and
  // released with it.
  struct TServices {
    TCodecRegistration Codecs;
    TQtClipboardInstaller Clipboard;
    TQtTimerService Timers;
    TTimerServiceScope TimerScope{Timers};
  };
  return RunProgram(argc, argv, QtProgramSteps([] { return std::make_shared<TServices>(); }));
}
