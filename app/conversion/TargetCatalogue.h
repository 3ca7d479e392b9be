// The catalogue of the five target databases the new release reads: each database component's
// settings and every table with its fields and indexes, in creation order. It is data: the
// components the conversions create and fill are configured from it (TargetComponents), and the
// verification and the tests read it back.
//
// Field lists are written compactly, one "Name:Type" per blank-separated word:
//   S<n> string of n characters   I integer     SI small integer   D double (float)
//   B boolean                     C currency    DT date            M memo
// A trailing "!" marks a required field (a not-null constraint), e.g. "Num:I!".
//
// Index field lists separate names by ";" or ","; Sizes is a ";"-separated list parallel to the
// field list of maximum indexed sizes ("0" indexes the whole value); without one every column
// gets 20. Indexes with a size list are extended index definitions: the main window registers
// them when it is created, and they then replace the component-level definitions of their table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/conversion/Conversion.h"

namespace vlt::app {

enum class TTargetType : uint8_t {
  String,
  Integer,
  Smallint,
  Double,
  Boolean,
  Currency,
  Date,
  Memo
};

struct TTargetField {
  std::string Name;
  TTargetType Type = TTargetType::Integer;
  int32_t Size = 0;  // strings only
  bool Required = false;
};

struct TTargetIndex {
  const char* Name;
  const char* Fields;
  uint8_t Options;         // TVLTIndexOption bits
  const char* Sizes = "";  // "" = 20 for every column
  const char* CaseInsFields = "";
  bool Extended() const { return Sizes[0] != 0; }
};

struct TTargetTable {
  const char* Name;  // "#cont": "#" stands for the backup year
  const char* FieldText;
  std::vector<TTargetIndex> Indexes;
  // Opened on this index ("" = no index name).
  const char* OpenIndex = "";

  std::vector<TTargetField> Fields() const;
  // Name with the year put in for "#".
  std::string NameFor(int32_t Year) const;
  // True when any index is an extended definition.
  bool HasExtendedIndexes() const;
};

struct TTargetDatabase {
  TArea Area;
  const char* Component;     // the main window's component name
  const char* DatabaseName;  // what the table components name
  const char* Password;
  int32_t PageSize;
  bool SilentMode;
  std::vector<TTargetTable> Tables;  // in creation order

  // REQUIRES: Name is one of Tables (names compare without regard to case; "#cont" matches
  // any year's contributions table).
  const TTargetTable& Table(std::string_view Name) const;
};

// Settings shared by all five databases.
inline constexpr int32_t kTargetMaxConnections = 4;
inline constexpr int32_t kTargetDefaultIndexedSize = 20;

const TTargetDatabase& TargetDatabase(TArea Area);
const std::vector<TTargetDatabase>& TargetCatalogue();

// Splits "Name:Type ..." into fields; a malformed word raises std::invalid_argument naming it.
std::vector<TTargetField> ParseTargetFields(std::string_view Text);

}  // namespace vlt::app
