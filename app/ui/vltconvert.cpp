// vltconvert FOLDER: the conversion run of the main window, without a window. Every message-box
// text is printed (errors to standard error); progress is a bar on the terminal. The exit status
// is 0 after "Conversion Complete." or "No backups found to convert.", 1 after the error message,
// an error that ended the run, a folder that does not exist, a converted record that does not
// match its source or a change to a backup folder that the conversion does not call for; 2 for
// a wrong command line. SIGINT, SIGTERM and SIGHUP stop the run at the next record boundary
// (the area's temporary database removed, renumbered sources restored, its log written): exit
// 130 after "Conversion cancelled." on standard error.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

#include "app/conversion/Conversion.h"
#include "app/conversion/DryRun.h"
#include "app/conversion/FileUtil.h"
#include "app/conversion/Interruption.h"
#include "app/conversion/Verification.h"
#include "app/ui/TerminalUI.h"
#include "engine/components/VLTEngineRegistry.h"

namespace {

const char* const kUsage =
    "usage: vltconvert [--no-verify | --no-table-check] [--report FILE] FOLDER\n"
    "       vltconvert --verify-only [--report FILE] FOLDER\n"
    "       vltconvert --dry-run FOLDER\n"
    "       vltconvert --help | --version\n"
    "Converts every backup folder (*.bkp) inside FOLDER; FOLDER may also name one backup\n"
    "folder, which converts it together with the backup folders beside it. After the final\n"
    "message a summary per converted table is printed: records read, skipped, rejected, written\n"
    "and verified against their source, and any change to a backup folder that the conversion\n"
    "does not call for.\n"
    "  --no-verify    leave the comparison (and the engine's table check) out\n"
    "  --no-table-check  compare rows but leave out the engine's own check of every table\n"
    "                 (record pages, counts, indexes); --verify-only always makes it\n"
    "  --dry-run      say per folder and area what a run would do; reads only, writes nothing\n"
    "  --verify-only  compare the databases earlier runs wrote with their sources; writes nothing\n"
    "  --report FILE  also write the summary as JSON (docs/report.md describes it)\n";

void WriteReport(const std::string& Path, const std::string& Json) {
  std::FILE* F = std::fopen(Path.c_str(), "wb");
  if (!F || std::fwrite(Json.data(), 1, Json.size(), F) != Json.size() || std::fclose(F) != 0)
    throw std::runtime_error("cannot write the report \"" + Path + "\"");
}

}  // namespace

int main(int argc, char** argv) {
  bool Verify = true, VerifyOnly = false, DryRun = false, CheckTables = true;
  std::string Folder, ReportFile;
  for (int A = 1; A < argc; ++A) {
    const std::string Arg = argv[A];
    if (Arg == "--help" || Arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (Arg == "--version") {
      std::printf("vltconvert %s\n", VLT_VERSION);
      return 0;
    } else if (Arg == "--no-verify") {
      Verify = false;
    } else if (Arg == "--no-table-check") {
      CheckTables = false;
    } else if (Arg == "--check-tables") {
      CheckTables = true;  // the default; kept for scripts written when it was not
    } else if (Arg == "--dry-run") {
      DryRun = true;
    } else if (Arg == "--verify-only") {
      VerifyOnly = true;
    } else if (Arg == "--report" && A + 1 < argc) {
      ReportFile = argv[++A];
    } else if (!Arg.empty() && Arg[0] != '-' && Folder.empty()) {
      Folder = Arg;
    } else {
      // Say what is at fault before the usage.
      if (Arg == "--report")
        std::fprintf(stderr, "vltconvert: --report needs a file name\n");
      else if (!Arg.empty() && Arg[0] == '-')
        std::fprintf(stderr, "vltconvert: unknown option %s\n", Arg.c_str());
      else
        std::fprintf(stderr, "vltconvert: one folder only: %s\n", Arg.c_str());
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (Folder.empty() || (VerifyOnly && !Verify) ||
      (DryRun && (VerifyOnly || !ReportFile.empty()))) {
    if (Folder.empty())
      std::fprintf(stderr, "vltconvert: no folder given\n");
    else if (VerifyOnly && !Verify)
      std::fprintf(stderr, "vltconvert: --verify-only and --no-verify exclude each other\n");
    else
      std::fprintf(stderr, "vltconvert: --dry-run takes neither --verify-only nor --report\n");
    std::fputs(kUsage, stderr);
    return 2;
  }
  // The report is checked before the run, so that a long run does not end in a file that
  // cannot be written.
  if (!ReportFile.empty()) {
    const bool Existed = ::access(ReportFile.c_str(), F_OK) == 0;
    std::FILE* F = std::fopen(ReportFile.c_str(), "ab");
    if (!F) {
      std::fprintf(stderr, "vltconvert: cannot write the report %s: %s\n", ReportFile.c_str(),
                   std::strerror(errno));
      return 2;
    }
    std::fclose(F);
    if (!Existed) std::remove(ReportFile.c_str());
  }
  if (vlt::app::FileExists(Folder)) {
    std::fprintf(stderr, "vltconvert: not a folder: %s\n", Folder.c_str());
    return 1;
  }
  // The window lets the user type any text; here a folder that is not there is a typing error
  // worth saying so, instead of a run that finds nothing.
  if (!vlt::app::DirectoryExists(Folder)) {
    std::fprintf(stderr, "vltconvert: folder not found: %s\n", Folder.c_str());
    return 1;
  }
  try {
    if (DryRun) {
      std::fputs(vlt::app::PlanRun(Folder).c_str(), stdout);
      return 0;
    }
    if (VerifyOnly) {
      vlt::VLTStartEngine();
      const vlt::app::TRunReport Report = vlt::app::VerifyExisting(Folder);
      std::fputs(vlt::app::FormatRunReport(Report).c_str(), stdout);
      if (!ReportFile.empty()) WriteReport(ReportFile, vlt::app::RunReportJson(Report));
      return Report.Clean() ? 0 : 1;
    }
    vlt::app::InstallCancelSignalHandlers();
    vlt::app::TTerminalUI UI(stdout, stderr, ::isatty(STDERR_FILENO) == 1);
    vlt::app::TConverter Converter(UI);
    Converter.SetVerify(Verify);
    Converter.SetCheckTables(CheckTables);
    Converter.FormCreate();
    const vlt::app::TRunOutcome Outcome = Converter.ConvertData(Folder);
    if (Outcome == vlt::app::TRunOutcome::Cancelled) {
      std::fprintf(stderr, "%s\n", vlt::app::kMsgCancelled);
      return 130;
    }
    const std::string Summary = vlt::app::FormatRunReport(Converter.Report());
    if (!Summary.empty()) std::fputs(("\n" + Summary).c_str(), stdout);
    if (!ReportFile.empty()) WriteReport(ReportFile, vlt::app::RunReportJson(Converter.Report()));
    if (!Converter.Report().Clean()) return 1;
    return Outcome == vlt::app::TRunOutcome::Errors ? 1 : 0;
  } catch (const std::exception& E) {
    std::fprintf(stderr, "vltconvert: %s\n", E.what());
    return 1;
  }
}
