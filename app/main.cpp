// The program entry: the product picture's path is the only argument.
#include "MainWindow.h"
#include "codecs.h"

int main(int argc, char** argv) {
  return RunProgram(argc, argv,
                    QtProgramSteps([] { return std::make_shared<TCodecRegistration>(); }));
}
