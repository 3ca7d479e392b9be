// vltconvert FOLDER: the conversion run of the main window, without a window. Every message-box
// text is printed (errors to standard error); progress is a bar on the terminal. The exit status
// is 0 after "Conversion Complete." or "No backups found to convert.", 1 after the error message,
// an error that ended the run or a folder that does not exist, 2 for a wrong command line.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>

#include "app/Conversion.h"
#include "app/FileUtil.h"
#include "app/TerminalUI.h"

int main(int argc, char** argv) {
  if (argc != 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
    std::fprintf(stderr,
                 "usage: vltconvert FOLDER\n"
                 "Converts every backup folder (*.bkp) inside FOLDER; FOLDER may also name one\n"
                 "backup folder, which converts it together with the backup folders beside it.\n");
    return 2;
  }
  // The window lets the user type any text; here a folder that is not there is a typing error
  // worth saying so, instead of a run that finds nothing.
  std::string Folder = argv[1];
  if (!vlt::app::DirectoryExists(Folder)) {
    std::fprintf(stderr, "vltconvert: folder not found: %s\n", Folder.c_str());
    return 1;
  }
  vlt::app::TTerminalUI UI(stdout, stderr, ::isatty(STDERR_FILENO) == 1);
  vlt::app::TConverter Converter(UI);
  try {
    Converter.FormCreate();
    return Converter.ConvertData(Folder) == vlt::app::TRunOutcome::Errors ? 1 : 0;
  } catch (const std::exception& E) {
    std::fprintf(stderr, "%s\n", E.what());
    return 1;
  }
}
