// Program entry of the conversion tool: starts the engine, shows the main window and runs the
// message loop until the window is closed. The tool reads no command-line arguments.
#include <QApplication>

#include "app/ui/MainWindow.h"

int main(int argc, char** argv) {
  // Qt wants argc/argv; the tool itself takes nothing from the command line.
  (void)argc;
  int QtArgc = 1;
  char* QtArgv[] = {argv[0], nullptr};
  QApplication App(QtArgc, QtArgv);
  QApplication::setApplicationName("XLQ VLT Conversion Utility");
  QApplication::setApplicationDisplayName("XLQ VLT Conversion Utility");

  int Result;
  {
    vlt::app::TForm1 Form1;
    Form1.show();
    Result = QApplication::exec();
  }
  return Result;
}
