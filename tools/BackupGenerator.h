// Synthetic backup folders of the old release, for the tests, the benchmarks and the samples in
// examples/backups. The data carry the cases the conversions must handle: services and funds
// sharing a number, blank and quoted names, records whose first field is empty, and the Entrynum
// bit layout.
//
// Folders written into the output folder (a folder that exists is filled again; tables in it
// are replaced):
//   2012cont.bkp   contributions in the current Paradox layouts
//   2012jrnl.bkp   payroll and ledger tables (current layouts, mixed-case file names)
//   2ChkSc.bkp     check schedule
//   2Loans.bkp     loans
// With WithOld also 2011cont.bkp and 2011jrnl.bkp, whose tables use the old layouts that the
// table preparation upgrades. With EdgeCases also:
//   2012jrnl.bkp   an unkeyed DEDTEX.DB holding (7, 9) twice, backup.fl, payroll.dir/pdfile.txt
//                  and a stale mstrldgr.dir/pdfile.txt
//   2ChkSc.bkp     a record with t = 1 and f = 1029
//   1980jrnl.bkp   payroll and ledger tables of a year before 1981
//   2013jrnl.bkp   ledger tables only, without Alloc.db and report.db
//   ABC.BKP, x.bkp a folder and a file that are not backup folders
#pragma once

#include <string>

namespace vlt::tools {

struct TBackupGenOptions {
  int Records = 200;  // scales every table that has no count of its own
  unsigned Seed = 2012;
  bool WithOld = false;
  bool EdgeCases = false;
  // Journal sizes; 0 = derived from Records (Records / 40 employees, 4 pay periods,
  // Records transactions, 5 payees).
  int Employees = 0;
  int Periods = 0;
  int Transactions = 0;
  int Payees = 0;
  // Contributions sizes; 0 = the small fixed sets of services and funds, Records / 10
  // contributors and Records gifts. With SharedNumbers a quarter of the services and funds
  // share their numbers in pairs.
  int Contributors = 0;
  int Gifts = 0;
  int Services = 0;
  int Funds = 0;
  bool SharedNumbers = false;
};

// Throws std::exception on a file that cannot be written.
void GenerateBackups(const std::string& OutDir, const TBackupGenOptions& Options);

}  // namespace vlt::tools
