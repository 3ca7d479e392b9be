// The link through which expressions reach tables: LASTAUTOINC in an expression opens its table
// as a table component (TVLTTable) of the named session and database, or of the in-memory
// database, and asks it for the field's last autoincrement value.
#pragma once

namespace vlt {

// Installs the link (VLTSetExprTableOpener); VLTStartEngine calls it. Safe to call again.
void VLTInstallExprTableLink();

}  // namespace vlt
