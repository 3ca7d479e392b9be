// vltpx: looks into Paradox tables.
//   vltpx info TABLE.db   header facts (encryption, sort order), fields, key fields, record
//                         count, index files
//   vltpx dump TABLE.db   the records as CSV (UTF-8, a header row of field names; binary
//                         values as hex digits); encrypted tables are read like any other
#include <cstdio>
#include <iostream>
#include <string>

#include "app/paradox/ParadoxDump.h"
#include "app/paradox/ParadoxError.h"

int main(int Argc, char** Argv) {
  if (Argc != 3 || (std::string(Argv[1]) != "info" && std::string(Argv[1]) != "dump")) {
    std::fprintf(stderr, "usage: vltpx info TABLE.db\n       vltpx dump TABLE.db\n");
    return 2;
  }
  try {
    if (std::string(Argv[1]) == "info")
      vlt::app::WriteParadoxInfo(Argv[2], std::cout);
    else
      vlt::app::WriteParadoxCsv(Argv[2], std::cout);
    std::cout.flush();
    return std::cout ? 0 : 1;
  } catch (const std::exception& E) {
    std::fprintf(stderr, "vltpx: %s\n", E.what());
    return 1;
  }
}
