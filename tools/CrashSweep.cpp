#include "tools/CrashSweep.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "engine/components/VLTDatabase.h"
#include "engine/components/VLTDiskDatabaseEntry.h"
#include "engine/components/VLTLocalSession.h"
#include "engine/components/VLTTable.h"
#include "engine/core/VLTPageHeader.h"
#include "engine/disk/VLTDatabaseFile.h"
#include "engine/disk/VLTDiskDatabaseData.h"
#include "engine/disk/VLTDiskFileFormat.h"
#include "engine/disk/VLTDiskPageManager.h"
#include "engine/disk/VLTPageMapCheck.h"

namespace vlt::tools {

namespace {

struct TRow {
  int32_t Val = 0;
  std::string Txt;
  bool operator==(const TRow&) const = default;
};
using TModel = std::map<int32_t, TRow>;

struct TOp {
  char Kind = 'i';  // insert, update, delete
  int32_t Id = 0;
  TRow Row;
};
using TTransaction = std::vector<TOp>;

// The transactions of a seed, planned against the model they build up.
std::vector<TTransaction> Plan(uint64_t Seed, int32_t Count, TModel M = {}, int32_t NextId = 1) {
  std::mt19937_64 R(Seed);
  std::vector<TTransaction> Out;
  for (int32_t T = 0; T < Count; ++T) {
    TTransaction Tx;
    const int Ops = 1 + static_cast<int>(R() % 50);
    for (int K = 0; K < Ops; ++K) {
      const unsigned Pick = static_cast<unsigned>(R() % 10);
      TOp Op;
      if (M.empty() || Pick < 5) {
        Op.Kind = 'i';
        Op.Id = NextId++;
      } else {
        auto It = std::next(M.begin(), static_cast<long>(R() % M.size()));
        Op.Kind = Pick < 8 ? 'u' : 'd';
        Op.Id = It->first;
      }
      Op.Row.Val = static_cast<int32_t>(R() % 1000000);
      Op.Row.Txt = std::string(R() % 41, static_cast<char>('a' + R() % 26));
      if (Op.Kind == 'd')
        M.erase(Op.Id);
      else
        M[Op.Id] = Op.Row;
      Tx.push_back(Op);
    }
    Out.push_back(std::move(Tx));
  }
  return Out;
}

TModel ModelAfter(const std::vector<TTransaction>& P, int64_t Committed, TModel M = {}) {
  for (int64_t T = 0; T < Committed && T < static_cast<int64_t>(P.size()); ++T)
    for (const TOp& Op : P[static_cast<size_t>(T)]) {
      if (Op.Kind == 'd')
        M.erase(Op.Id);
      else
        M[Op.Id] = Op.Row;
    }
  return M;
}

constexpr const char* kPassword = "crash";

std::unique_ptr<TVLTDatabase> NewDatabase(const std::string& File, const TCrashCase& C,
                                          const std::string& Name) {
  auto Db = std::make_unique<TVLTDatabase>();
  Db->SetDatabaseName(Name);
  Db->SetDatabaseFileName(File);
  Db->FPassword = kPassword;
  Db->FCryptoAlgorithm = craRijndael_256;
  Db->FPageSize = C.PageSize;
  Db->FExclusive = !C.Shared;
  Db->FMultiUser = false;
  Db->FSilentMode = true;
  Db->FDurability = (C.Seed & 1) ? dsNormal : dsOff;
  return Db;
}

std::unique_ptr<TVLTTable> NewTable(TVLTDatabase& Db) {
  auto T = std::make_unique<TVLTTable>();
  T->SetDatabaseName(Db.DatabaseName());
  T->SetTableName("Rows");
  T->AddField(std::make_unique<TVLTIntegerField>("Id")).FRequired = true;
  T->AddField(std::make_unique<TVLTIntegerField>("Val"));
  T->AddField(std::make_unique<TVLTStringField>("Txt", 40));
  T->IndexDefs.push_back({"Main", "Id", "", "", ixPrimary | ixUnique});
  T->IndexDefs.push_back({"ByVal", "Val", "", "", 0});
  return T;
}

// What a write at Position of File is, told from its file, place and bytes.
std::string WriteKind(const std::string& File, int64_t Position, const void* Data, size_t Count,
                      uint16_t PageSize) {
  auto EndsWith = [&](const char* Tail) {
    const size_t N = std::strlen(Tail);
    return File.size() >= N && File.compare(File.size() - N, N, Tail) == 0;
  };
  if (EndsWith("-journal")) return "journal";
  if (EndsWith(".tmp")) return "compaction copy";
  if (Position < kDefaultOffsetToLastObjectID) return "header";
  if (Position < kDefaultOffsetToFirstPage) return "object id";
  if ((Position - kDefaultOffsetToFirstPage) % PageSize != 0) return "page state or region";
  if (Count < sizeof(TVLTDiskPageHeader)) return "page region";
  TVLTDiskPageHeader H;
  std::memcpy(&H, Data, sizeof H);
  switch (H.PageType) {
    case ptPFS:
    case ptEAM:
      return "bitmap page";
    case ptTableRecord:
      return "record page";
    case ptTableIndex:
      return "index page";
    case ptTableBlob:
      return "BLOB page";
    default:
      return "page (" + PageTypeText(H.PageType) + ")";
  }
}

// Dies before the N-th write to any file, first telling Report what it was about to write; a
// torn write first puts half of its bytes (as zeros) where it was going.
class TKillPoint : public TVLTFileFaultInjector {
 public:
  TKillPoint(int64_t At, bool Tear, uint16_t PageSize, int Report)
      : FAt(At), FTear(Tear), FPageSize(PageSize), FReport(Report) {}
  int BeforeWriteOf(const std::string& FileName, int64_t Position, const void* Data,
                    size_t Count) override {
    if (++FCount != FAt) return 0;
    const std::string Kind = WriteKind(FileName, Position, Data, Count, FPageSize);
    const int64_t Tag = kKindTag + static_cast<int64_t>(Kind.size());
    if (::write(FReport, &Tag, sizeof Tag) != sizeof Tag ||
        ::write(FReport, Kind.data(), Kind.size()) != static_cast<ssize_t>(Kind.size()))
      _exit(5);
    if (FTear && Count >= 512) {
      const int Fd = ::open(FileName.c_str(), O_WRONLY);
      if (Fd >= 0) {
        const std::vector<char> Zeros(Count / 2, 0);
        [[maybe_unused]] ssize_t N = ::pwrite(Fd, Zeros.data(), Zeros.size(), Position);
        ::close(Fd);
      }
    }
    ::raise(SIGKILL);
    return 0;
  }
  int64_t Count() const { return FCount; }
  // Report values at or above it announce the kind of the kill point's write (its length).
  static constexpr int64_t kKindTag = INT64_C(1) << 40;

 private:
  int64_t FAt;
  bool FTear;
  uint16_t FPageSize;
  int FReport;
  int64_t FCount = 0;
};

bool Find(TVLTTable& T, int32_t Id) {
  TVLTVariant K;
  K.SetAsInteger(Id);
  return T.FindKey({K});
}

// The child: runs the plan, reporting each committed transaction on Report.
[[noreturn]] void RunChild(const std::string& File, const TCrashCase& C,
                           const std::vector<TTransaction>& P, int Report) {
  TKillPoint Kill(C.KillAtWrite, C.Tear && !C.Shared, C.PageSize, Report);
  TVLTDatabaseFile::SetFaultInjector(&Kill);
  try {
    auto Db = NewDatabase(File, C, "CrashChild");
    Db->Open();
    auto T = NewTable(*Db);
    T->SetIndexName("Main");
    T->Open();
    for (int32_t I = 0; I < static_cast<int32_t>(P.size()); ++I) {
      if (C.Compact && I > 0 && I % 5 == 0) {
        T->Close();
        Db->Close();
        Db->CompactDatabase();
        Db->Open();
        T->Open();
      }
      Db->StartTransaction();
      for (const TOp& Op : P[static_cast<size_t>(I)]) {
        if (Op.Kind == 'i') {
          T->Append();
          T->FieldByName("Id").SetAsInteger(Op.Id);
        } else if (!Find(*T, Op.Id)) {
          _exit(4);  // the engine lost a row the plan relies on
        } else if (Op.Kind == 'd') {
          T->Delete();
          continue;
        } else {
          T->Edit();
        }
        T->FieldByName("Val").SetAsInteger(Op.Row.Val);
        T->FieldByName("Txt").SetAsString(Op.Row.Txt);
        T->Post();
      }
      Db->Commit();
      const int64_t Done = I + 1;
      if (::write(Report, &Done, sizeof Done) != sizeof Done) _exit(5);
    }
    T->Close();
    Db->Close();
  } catch (const std::exception& E) {
    // The parent tells the planned kill from this exit; the message goes to its error output.
    std::fprintf(stderr, "crash writer: %s\n", E.what());
    _exit(3);
  } catch (...) {
    _exit(3);
  }
  const int64_t Writes = -Kill.Count();
  if (::write(Report, &Writes, sizeof Writes) != sizeof Writes) _exit(5);
  _exit(0);
}

// One writer run on File from the committed state Start, its kill and the reopen's checks; Start
// becomes the state the reopen must have found.
TCrashOutcome RunRound(const std::string& File, const TCrashCase& C, TModel& Start) {
  int32_t NextId = Start.empty() ? 1 : Start.rbegin()->first + 1;
  const std::vector<TTransaction> P = Plan(C.Seed, C.Transactions, Start, NextId);
  TCrashOutcome O;
  int Pipe[2];
  if (::pipe(Pipe) != 0) {
    O.Problem = "no pipe";
    return O;
  }
  const pid_t Pid = ::fork();
  if (Pid == 0) {
    ::close(Pipe[0]);
    RunChild(File, C, P, Pipe[1]);
  }
  ::close(Pipe[1]);
  int64_t Value = 0;
  while (::read(Pipe[0], &Value, sizeof Value) == sizeof Value) {
    if (Value >= TKillPoint::kKindTag) {
      std::string Kind(static_cast<size_t>(Value - TKillPoint::kKindTag), ' ');
      if (::read(Pipe[0], Kind.data(), Kind.size()) == static_cast<ssize_t>(Kind.size()))
        O.KilledBefore = Kind;
    } else if (Value >= 0) {
      O.Committed = Value;
    } else {
      O.Writes = -Value;
    }
  }
  ::close(Pipe[0]);
  int Status = 0;
  ::waitpid(Pid, &Status, 0);
  // Only a SIGKILL after the kill point's announcement is the planned kill.
  O.Killed = WIFSIGNALED(Status) && WTERMSIG(Status) == SIGKILL && !O.KilledBefore.empty();
  if (!O.Killed && !(WIFEXITED(Status) && WEXITSTATUS(Status) == 0)) {
    O.WriterFailed = true;
    if (WIFSIGNALED(Status))
      O.Problem = std::string("the writer died of signal ") + ::strsignal(WTERMSIG(Status));
    else if (WIFEXITED(Status) && WEXITSTATUS(Status) == 4)
      O.Problem = "the writer did not find a row it had committed";
    else
      O.Problem = "the writer failed (exit status " +
                  std::to_string(WIFEXITED(Status) ? WEXITSTATUS(Status) : Status) + ")";
    return O;
  }

  try {
    auto Db = NewDatabase(File, C, "CrashCheck");
    Db->Open();
    O.RepairNeeded = Db->Handle()->RepairNeeded;
    TVLTDiskPageManager& PM = *Db->Handle()->DiskLink()->Disk().PageManager();
    O.RolledBack = PM.RolledBackPages();
    O.Reclaimed = PM.ReclaimedPages();
    TModel Got;
    {
      auto T = NewTable(*Db);
      T->Open();
      for (T->First(); !T->Eof(); T->Next())
        Got[T->FieldByName("Id").AsInteger()] = {T->FieldByName("Val").AsInteger(),
                                                  T->FieldByName("Txt").AsString()};
    }
    const TModel Want = ModelAfter(P, O.Committed, Start);
    Start = Want;
    for (const auto& [Id, Row] : Want) {
      auto It = Got.find(Id);
      if (It == Got.end() || !(It->second == Row)) ++O.CommittedRowsLost;
    }
    for (const auto& [Id, Row] : Got) {
      auto It = Want.find(Id);
      if (It == Want.end() || !(It->second == Row)) ++O.UncommittedVisible;
    }
    std::vector<std::string> Problems;
    Db->CheckTables(Problems);
    O.CheckProblems = static_cast<int64_t>(Problems.size());
    for (const std::string& C : PM.OpenChanges()) O.Findings.push_back("open: " + C);
    for (const std::string& P : Problems) O.Findings.push_back("problem: " + P);
    const TVLTPageMapReport Map = CheckPageMap(PM, O.RepairNeeded);
    for (const TVLTPageMapEntry& E : Map.Pages)
      for (const std::string& P : E.Problems) O.Findings.push_back("problem: " + P);
    for (const std::string& P : Map.Problems) O.Findings.push_back("problem: " + P);
    for (const std::string& W : Map.Warnings) O.Findings.push_back("warning: " + W);
    O.PageMapProblems = Map.ProblemCount();
    O.LeakedPages = Map.LeakedPages;
    Db->Close();
  } catch (const std::exception& E) {
    O.Problem = E.what();
  }
  return O;
}

}  // namespace

TCrashOutcome RunCrashCase(const std::string& Dir, const TCrashCase& C) {
  std::error_code Ec;
  std::filesystem::remove_all(Dir, Ec);
  std::filesystem::create_directories(Dir);
  const std::string File = Dir + "/crash.vlt";
  {
    auto Db = NewDatabase(File, C, "CrashSetup");
    Db->CreateDatabase();
    Db->Open();
    NewTable(*Db)->CreateTable();
    Db->Close();
  }
  TModel State;
  TCrashOutcome O = RunRound(File, C, State);
  // Further rounds start from what the last reopen found, killed at points of their own.
  std::mt19937_64 R(C.Seed);
  for (int32_t Round = 1; Round < C.Rounds && O.Good() && O.Killed; ++Round) {
    TCrashCase Next = C;
    Next.Seed = R();
    Next.KillAtWrite = 1 + static_cast<int64_t>(R() % static_cast<uint64_t>(2 * C.KillAtWrite));
    const int64_t Before = O.Committed;
    O = RunRound(File, Next, State);
    O.Committed += Before;
  }
  return O;
}

}  // namespace vlt::tools
