// vltconvert FOLDER: the conversion run of the main window, without a window. Every message-box
// text is printed (errors to standard error); progress is a bar on the terminal. The exit status
// is 0 after "Conversion Complete." or "No backups found to convert.", 1 after the error message,
// an error that ended the run, a folder that does not exist, a converted record that does not
// match its source or a change to a backup folder that the conversion does not call for; 2 for
// a wrong command line.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>

#include "app/Conversion.h"
#include "app/FileUtil.h"
#include "app/TerminalUI.h"
#include "app/Verification.h"

int main(int argc, char** argv) {
  bool Verify = true;
  std::string Folder;
  bool Usage = false;
  for (int A = 1; A < argc; ++A) {
    const std::string Arg = argv[A];
    if (Arg == "--help" || Arg == "-h") {
      Usage = true;
    } else if (Arg == "--no-verify") {
      Verify = false;
    } else if (!Arg.empty() && Arg[0] != '-' && Folder.empty()) {
      Folder = Arg;
    } else {
      Usage = true;
    }
  }
  if (Usage || Folder.empty()) {
    std::fprintf(Usage && Folder.empty() && argc == 2 ? stdout : stderr,
                 "usage: vltconvert [--no-verify] FOLDER\n"
                 "Converts every backup folder (*.bkp) inside FOLDER; FOLDER may also name one\n"
                 "backup folder, which converts it together with the backup folders beside it.\n"
                 "After the final message a summary per converted table is printed: records read,\n"
                 "skipped, rejected, written and verified against their source, and any change to\n"
                 "a backup folder that the conversion does not call for. --no-verify leaves the\n"
                 "comparison out.\n");
    return argc == 2 && std::string(argv[1]) == "--help" ? 0 : 2;
  }
  // The window lets the user type any text; here a folder that is not there is a typing error
  // worth saying so, instead of a run that finds nothing.
  if (!vlt::app::DirectoryExists(Folder)) {
    std::fprintf(stderr, "vltconvert: folder not found: %s\n", Folder.c_str());
    return 1;
  }
  vlt::app::TTerminalUI UI(stdout, stderr, ::isatty(STDERR_FILENO) == 1);
  vlt::app::TConverter Converter(UI);
  Converter.SetVerify(Verify);
  try {
    Converter.FormCreate();
    const vlt::app::TRunOutcome Outcome = Converter.ConvertData(Folder);
    const std::string Summary = vlt::app::FormatRunReport(Converter.Report());
    if (!Summary.empty()) std::fputs(("\n" + Summary).c_str(), stdout);
    if (!Converter.Report().Clean()) return 1;
    return Outcome == vlt::app::TRunOutcome::Errors ? 1 : 0;
  } catch (const std::exception& E) {
    std::fprintf(stderr, "%s\n", E.what());
    return 1;
  }
}
