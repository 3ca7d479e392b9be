// The target components of the main window: one database component per data area and one
// table component per catalogue table, configured from the target catalogue. They live as long
// as the converter; a conversion gives its database component the file name in the backup
// folder and creates, opens, fills and closes the tables through them.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "app/conversion/TargetCatalogue.h"
#include "engine/components/VLTDatabase.h"
#include "engine/components/VLTTable.h"

namespace vlt::app {

class TTargetComponents {
 public:
  // Starts the engine when it is not running yet.
  TTargetComponents();
  ~TTargetComponents();
  TTargetComponents(const TTargetComponents&) = delete;
  TTargetComponents& operator=(const TTargetComponents&) = delete;

  // Registers the extended index definitions (the indexes with size lists) of the ledger tables
  // on their components; they then replace those tables' component-level index definitions.
  void RegisterExtendedIndexDefs();

  TVLTDatabase& Database(TArea Area);
  // REQUIRES: Name is a table of Area's catalogue ("#cont" for the contributions table).
  TVLTTable& Table(TArea Area, const std::string& Name);

  // Gives the database component of Area its password, crypto algorithm, page size and
  // connection settings, and FileName. The component must be closed.
  void PrepareDatabase(TArea Area, const std::string& FileName);

  // Creates Area's database file, opens it and creates every table of the catalogue except
  // those Skip names (case-insensitive), in catalogue order.
  void CreateDatabaseAndTables(TArea Area, const std::vector<std::string>& Skip = {});
  void CreateTable(TArea Area, const std::string& Name);

  // Closes every table of Area and its database; errors are swallowed (used on error paths).
  void CloseQuietly(TArea Area) noexcept;

 private:
  struct TAreaComponents {
    std::unique_ptr<TVLTDatabase> Database;
    std::map<std::string, std::unique_ptr<TVLTTable>> Tables;  // by catalogue name, upper case
  };
  TAreaComponents& Of(TArea Area) { return FAreas[static_cast<size_t>(Area)]; }

  TAreaComponents FAreas[kAreaCount];
};

// A table component for Table of Database, with the catalogue's fields and component-level
// index definitions (extended definitions are added by RegisterExtendedIndexDefs). For tools
// and tests that need a component outside the converter.
std::unique_ptr<TVLTTable> MakeTargetTable(const TTargetDatabase& Database,
                                           const TTargetTable& Table);
// Adds Table's extended index definitions to Component.
void AddExtendedIndexDefs(TVLTTable& Component, const TTargetTable& Table);

}  // namespace vlt::app
