#include "tools/ConvertSweep.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <thread>

#include "app/conversion/Conversion.h"
#include "app/conversion/ConvertUtil.h"
#include "app/conversion/FileUtil.h"
#include "app/conversion/Interruption.h"
#include "app/conversion/TableCopy.h"
#include "app/conversion/Verification.h"
#include "app/paradox/ParadoxTable.h"
#include "app/ui/TerminalUI.h"
#include "engine/base/VLTTypes.h"
#include "engine/disk/VLTDatabaseFile.h"
#include "tools/BackupGenerator.h"

namespace vlt::tools {

namespace fs = std::filesystem;

namespace {

// Before the N-th write to a database file: dies, or asks the run to stop and lets it go on.
class TWriteKill : public TVLTFileFaultInjector {
 public:
  TWriteKill(int64_t At, bool Term) : FAt(At), FTerm(Term) {}
  int BeforeWrite(const std::string&, int64_t, size_t) override {
    if (++FCount == FAt) ::raise(FTerm ? SIGTERM : SIGKILL);
    return 0;
  }
  int64_t Count() const { return FCount; }

 private:
  int64_t FAt, FCount = 0;
  bool FTerm;
};

void CopyTree(const std::string& From, const std::string& To) {
  std::error_code Ec;
  fs::remove_all(To, Ec);
  fs::copy(From, To, fs::copy_options::recursive, Ec);
  if (Ec) throw std::runtime_error("cannot copy " + From + ": " + Ec.message());
}

pid_t StartVltconvert(const std::string& Program, const std::string& Folder) {
  const pid_t Pid = ::fork();
  if (Pid == 0) {
    const int Null = ::open("/dev/null", O_WRONLY);
    ::dup2(Null, 1);
    ::dup2(Null, 2);
    ::execl(Program.c_str(), Program.c_str(), "--no-verify", Folder.c_str(),
            static_cast<char*>(nullptr));
    _exit(127);
  }
  return Pid;
}

int WaitFor(pid_t Pid) {
  int Status = 0;
  while (::waitpid(Pid, &Status, 0) < 0 && errno == EINTR) {
  }
  return Status;
}

bool Exited(int Status, int Code) {
  return WIFEXITED(Status) && WEXITSTATUS(Status) == Code;
}

// The conversion of Folder in a forked child with a write hook; the child reports its writes
// through a pipe and exits 130 when it stopped on request.
int RunInChild(const std::string& Folder, int64_t At, bool Term, int64_t* Writes) {
  int Pipe[2];
  if (::pipe(Pipe) != 0) throw std::runtime_error("no pipe");
  const pid_t Pid = ::fork();
  if (Pid == 0) {
    ::close(Pipe[0]);
    int Code = 3;
    try {
      app::InstallCancelSignalHandlers();
      TWriteKill Hook(At, Term);
      TVLTDatabaseFile::SetFaultInjector(&Hook);
      std::FILE* Null = std::fopen("/dev/null", "w");
      app::TTerminalUI UI(Null, Null, false);
      app::TConverter C(UI);
      C.SetVerify(false);
      C.FormCreate();
      Code = C.ConvertData(Folder) == app::TRunOutcome::Cancelled ? 130 : 0;
      const int64_t N = Hook.Count();
      if (::write(Pipe[1], &N, sizeof N) != sizeof N) Code = 5;
    } catch (...) {
      Code = 4;
    }
    _exit(Code);
  }
  ::close(Pipe[1]);
  int64_t N = 0;
  if (::read(Pipe[0], &N, sizeof N) == sizeof N && Writes) *Writes = N;
  ::close(Pipe[0]);
  return WaitFor(Pid);
}

std::string Lower(std::string S) {
  for (char& C : S) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return S;
}

// Whether Name is a temporary file of a conversion or of the table preparation.
bool IsTemporary(const std::string& Name) {
  const std::string L = Lower(Name);
  if (L.find(".partial") != std::string::npos || L.find("-bkp.") != std::string::npos ||
      app::EndsWith(L, ".copy-tmp") || app::EndsWith(L, ".vlt.tmp"))
    return true;
  for (const app::TParadoxLayout& T : app::ParadoxLayouts()) {
    const std::string Base = T.BaseName;
    const std::string Stem = Base.substr(0, Base.size() - 1);
    if (L.size() == Base.size() + 3 && L.compare(0, Stem.size(), Stem) == 0 &&
        std::isdigit(static_cast<unsigned char>(L[Stem.size()])) && app::EndsWith(L, ".db"))
      return true;
  }
  return false;
}

std::vector<std::string> StaleFiles(const std::string& Root) {
  std::vector<std::string> Out;
  std::error_code Ec;
  for (auto It = fs::recursive_directory_iterator(Root, Ec);
       !Ec && It != fs::recursive_directory_iterator(); It.increment(Ec))
    if (It->is_regular_file() && IsTemporary(It->path().filename().string()))
      Out.push_back(fs::relative(It->path(), Root).string());
  return Out;
}

std::string ReadAll(const fs::path& P) {
  std::ifstream In(P, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

// The records of a Paradox table as sorted lines of field texts ("?" when it cannot be read).
std::vector<std::string> Records(const fs::path& P) {
  std::vector<std::string> Out;
  try {
    app::TParadoxTable T;
    T.SetDatabaseName(P.parent_path().string());
    T.SetTableName(P.filename().string());
    T.SetTableType(app::ttParadox);
    T.SetReadOnly(true);
    T.Open();
    for (T.First(); !T.Eof(); T.Next()) {
      std::string Line;
      for (int I = 0; I < T.FieldCount(); ++I)
        Line += T.Fields(I).FieldName() + "=" + app::SourceValueText(T.Fields(I).AsVariant()) + "|";
      Out.push_back(std::move(Line));
    }
    T.Close();
  } catch (const std::exception& E) {
    Out.assign(1, std::string("? ") + E.what());
  }
  std::sort(Out.begin(), Out.end());
  return Out;
}

bool IsIndexFile(const std::string& Ext) {
  return Ext == ".px" || (Ext.size() >= 3 && (Ext[1] == 'x' || Ext[1] == 'y'));
}

// Sources of Case that differ from Reference's: by bytes, or for a Paradox table whose bytes
// differ by its records; an index counts as its table.
std::vector<std::string> ChangedSources(const std::string& Reference, const std::string& Case) {
  std::vector<std::string> Out;
  auto Skip = [](const fs::path& P) {
    const std::string N = P.filename().string();
    return app::EndsWith(N, ".vlt") || N.find("Conversion_Log") != std::string::npos ||
           IsTemporary(N);
  };
  std::map<std::string, bool> SameRecords;  // by table path relative to the root, lower case
  auto TableSame = [&](const fs::path& Rel) {
    const std::string Key = Lower(Rel.string());
    auto It = SameRecords.find(Key);
    if (It != SameRecords.end()) return It->second;
    return SameRecords[Key] = Records(fs::path(Reference) / Rel) == Records(fs::path(Case) / Rel);
  };
  std::error_code Ec;
  for (auto It = fs::recursive_directory_iterator(Reference, Ec);
       !Ec && It != fs::recursive_directory_iterator(); It.increment(Ec)) {
    if (!It->is_regular_file() || Skip(It->path())) continue;
    const fs::path Rel = fs::relative(It->path(), Reference);
    const fs::path Other = fs::path(Case) / Rel;
    if (!fs::exists(Other)) {
      Out.push_back("missing " + Rel.string());
      continue;
    }
    if (ReadAll(It->path()) == ReadAll(Other)) continue;
    const std::string Ext = Lower(Rel.extension().string());
    bool Same = false;
    if (Ext == ".db") {
      Same = TableSame(Rel);
    } else if (IsIndexFile(Ext)) {
      // The preparation rebuilds primary indexes; the table's records decide.
      for (const char* DbExt : {".db", ".DB"}) {
        fs::path Table = Rel;
        Table.replace_extension(DbExt);
        if (fs::exists(fs::path(Reference) / Table)) Same = TableSame(Table);
      }
    }
    if (!Same) Out.push_back("changed " + Rel.string());
  }
  for (auto It = fs::recursive_directory_iterator(Case, Ec);
       !Ec && It != fs::recursive_directory_iterator(); It.increment(Ec)) {
    if (!It->is_regular_file() || Skip(It->path())) continue;
    const fs::path Rel = fs::relative(It->path(), Case);
    if (!fs::exists(fs::path(Reference) / Rel)) Out.push_back("appeared " + Rel.string());
  }
  return Out;
}

}  // namespace

const char* ConvertKillName(TConvertKill Kind) {
  switch (Kind) {
    case TConvertKill::TimedKill:
      return "SIGKILL after a time";
    case TConvertKill::TimedTerm:
      return "SIGTERM after a time";
    case TConvertKill::WriteKill:
      return "SIGKILL before a write";
    case TConvertKill::WriteTerm:
      return "SIGTERM before a write";
  }
  return "";
}

TConvertSweep::TConvertSweep(const std::string& Dir, const std::string& Vltconvert, int Records)
    : FDir(Dir), FVltconvert(Vltconvert) {
  std::error_code Ec;
  fs::remove_all(Dir, Ec);
  fs::create_directories(Dir + "/gen");
  TBackupGenOptions O;
  O.Records = Records;
  O.WithOld = true;
  O.SharedNumbers = true;
  GenerateBackups(Dir + "/gen", O);
  // The reference: one uninterrupted run of the program, timed.
  CopyTree(Dir + "/gen", Dir + "/clean");
  const auto Start = std::chrono::steady_clock::now();
  const int Status = WaitFor(StartVltconvert(Vltconvert, Dir + "/clean"));
  FCleanSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  if (!Exited(Status, 0)) throw std::runtime_error("the reference run failed");
  std::string Problem;
  FReference = Rows(Dir + "/clean", Problem);
  if (!Problem.empty()) throw std::runtime_error("the reference run does not verify: " + Problem);
  // The writes of a whole run bound the write kill points.
  CopyTree(Dir + "/gen", Dir + "/count");
  if (!Exited(RunInChild(Dir + "/count", INT64_MAX, false, &FCleanWrites), 0))
    throw std::runtime_error("the counting run failed");
  fs::remove_all(Dir + "/count", Ec);
}

std::vector<TConvertSweep::TTableRows> TConvertSweep::Rows(const std::string& Root,
                                                           std::string& Problem) const {
  std::vector<TTableRows> Out;
  const app::TRunReport R = app::VerifyExisting(Root);
  for (const app::TAreaCheck& A : R.Areas) {
    if (!A.Clean()) Problem += app::ExtractFileName(A.Database) + " does not verify; ";
    for (const app::TTableCheck& T : A.Tables)
      Out.push_back({fs::relative(A.Database, Root).string() + ":" + T.Table, T.Written});
  }
  return Out;
}

TConvertOutcome TConvertSweep::Run(const TConvertCase& Case) {
  TConvertOutcome O;
  const std::string Folder = FDir + "/case";
  CopyTree(FDir + "/gen", Folder);
  const bool Term = Case.Kind == TConvertKill::TimedTerm || Case.Kind == TConvertKill::WriteTerm;
  int Status = 0;
  if (Case.Kind == TConvertKill::TimedKill || Case.Kind == TConvertKill::TimedTerm) {
    const pid_t Pid = StartVltconvert(FVltconvert, Folder);
    std::this_thread::sleep_for(std::chrono::duration<double>(Case.AtSeconds));
    ::kill(Pid, Term ? SIGTERM : SIGKILL);
    Status = WaitFor(Pid);
  } else {
    Status = RunInChild(Folder, Case.AtWrite, Term, nullptr);
  }
  if (Term && WIFSIGNALED(Status) && WTERMSIG(Status) == SIGTERM) {
    // Sent before the program had installed its handlers: it died as if killed.
    O.Interrupted = true;
  } else if (Term) {
    O.Interrupted = Exited(Status, 130);
    if (!O.Interrupted && !Exited(Status, 0))
      O.Problem = "the stopped run ended with status " + std::to_string(Status);
    // A stop request cleans up by itself: nothing may be left for the next run.
    for (const std::string& S : StaleFiles(Folder)) O.Stale.push_back("after the stop: " + S);
  } else {
    O.Interrupted = WIFSIGNALED(Status);
    if (!O.Interrupted && !Exited(Status, 0))
      O.Problem = "the killed run ended with status " + std::to_string(Status);
  }
  if (!Exited(WaitFor(StartVltconvert(FVltconvert, Folder)), 0) && O.Problem.empty())
    O.Problem = "the run after the interruption failed";
  for (const std::string& S : StaleFiles(Folder)) O.Stale.push_back(S);
  std::string Problem;
  const std::vector<TTableRows> Got = Rows(Folder, Problem);
  if (!Problem.empty() && O.Problem.empty()) O.Problem = Problem;
  std::map<std::string, int64_t> ByKey;
  for (const TTableRows& R : Got) ByKey[R.Key] = R.Rows;
  for (const TTableRows& R : FReference) {
    auto It = ByKey.find(R.Key);
    const int64_t Have = It == ByKey.end() ? 0 : It->second;
    if (Have < R.Rows) O.LostRows += R.Rows - Have;
  }
  O.Changed = ChangedSources(FDir + "/clean", Folder);
  return O;
}

}  // namespace vlt::tools
