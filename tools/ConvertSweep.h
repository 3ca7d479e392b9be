// Kill-point sweeps of the converter: a generated set of backup folders (every area) is converted
// once to the end for reference; each case then converts a fresh copy, interrupts it, and runs
// vltconvert again to the end. The case is good when every database the reference run wrote is
// there and verified with as many rows, no temporary file is left, and every source is as the
// reference run left it (byte for byte, or record for record where the Paradox preparation
// rewrote a table).
//
// Interruptions: a SIGKILL or SIGTERM to a vltconvert process after a time, or, with the
// conversion run in a forked child of this process, just before its N-th write to a database
// file (killed, or sent SIGTERM, which must stop it at the next record boundary with exit 130
// and nothing left to clean up).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vlt::tools {

enum class TConvertKill { TimedKill, TimedTerm, WriteKill, WriteTerm };
const char* ConvertKillName(TConvertKill Kind);

struct TConvertCase {
  TConvertKill Kind = TConvertKill::WriteKill;
  double AtSeconds = 0;  // timed kinds
  int64_t AtWrite = 1;   // write kinds (1-based)
};

struct TConvertOutcome {
  bool Interrupted = false;          // the run died, or stopped with 130 (else it had finished)
  int64_t LostRows = 0;              // rows of the reference databases missing after the rerun
  std::vector<std::string> Stale;    // temporary files left (after a stop request, or at the end)
  std::vector<std::string> Changed;  // sources that differ from the reference run's
  std::string Problem;               // a run failed, a database did not verify, ...
  bool Good() const { return LostRows == 0 && Stale.empty() && Changed.empty() && Problem.empty(); }
};

class TConvertSweep {
 public:
  // Generates the backups into Dir/gen (Records scales them) and makes the reference run with
  // the vltconvert at Vltconvert. REQUIRES: the engine started. Throws on a failed setup.
  TConvertSweep(const std::string& Dir, const std::string& Vltconvert, int Records);

  double CleanSeconds() const { return FCleanSeconds; }
  int64_t CleanWrites() const { return FCleanWrites; }

  TConvertOutcome Run(const TConvertCase& Case);

 private:
  struct TTableRows {
    std::string Key;  // folder name, area, table
    int64_t Rows;
  };
  std::vector<TTableRows> Rows(const std::string& Root, std::string& Problem) const;

  std::string FDir, FVltconvert;
  double FCleanSeconds = 0;
  int64_t FCleanWrites = 0;
  std::vector<TTableRows> FReference;
};

}  // namespace vlt::tools
