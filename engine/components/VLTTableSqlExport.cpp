// The SQL text of a table (ExportToSQL): CREATE TABLE with the extended field definitions,
// CREATE INDEX for each stored index, and one INSERT INTO per record, as ExportToSqlOptions
// select. Text values are written as stored (8-bit).
#include <charconv>
#include <cstdio>
#include <fstream>

#include "engine/base/VLTExcept.h"
#include "engine/components/VLTTable.h"
#include "engine/components/VLTTableEngineDefs.h"
#include "engine/components/VLTTableScopes.h"
#include "engine/expr/VLTLocale.h"
#include "engine/protect/VLTStream.h"

namespace vlt {

namespace {

constexpr int32_t kTransferError = 30467;  // the transfers' code: the text cannot be written

std::string QuoteName(const std::string& Name) {
  std::string Out = "\"";
  for (char C : Name) Out += C == '"' ? std::string("\"\"") : std::string(1, C);
  return Out + "\"";
}

std::string QuoteText(const std::string& Text) {
  std::string Out = "'";
  for (char C : Text) Out += C == '\'' ? std::string("''") : std::string(1, C);
  return Out + "'";
}

std::string FloatText(double V) {
  char Buf[64];
  const auto R = std::to_chars(Buf, Buf + sizeof Buf, V);
  return std::string(Buf, R.ptr);
}

std::string DateText(int32_t DayNumber) {
  int Y = 0, M = 0, D = 0;
  DecodeDayNumber(DayNumber, Y, M, D);
  char Buf[32];
  std::snprintf(Buf, sizeof Buf, "%04d-%02d-%02d", Y, M, D);
  return Buf;
}

std::string TimeText(int32_t MSecs) {
  char Buf[32];
  std::snprintf(Buf, sizeof Buf, "%02d:%02d:%02d.%03d", MSecs / 3600000, MSecs / 60000 % 60,
                MSecs / 1000 % 60, MSecs % 1000);
  return Buf;
}

std::string HexText(const uint8_t* Data, int32_t Size) {
  static const char* Digits = "0123456789ABCDEF";
  std::string Out = "X'";
  for (int32_t I = 0; I < Size; ++I) {
    Out += Digits[Data[I] >> 4];
    Out += Digits[Data[I] & 15];
  }
  return Out + "'";
}

// A value as an SQL literal.
std::string SqlLiteral(const TVLTVariant& V) {
  if (V.IsNull()) return "NULL";
  const TVLTBaseFieldType T = V.DataType();
  if (T == bftLogical) return V.AsBoolean() ? "TRUE" : "FALSE";
  if (IsIntegerBaseType(T)) return std::to_string(V.AsInt64());
  if (IsFloatBaseType(T)) return FloatText(V.AsDouble());
  if (T == bftDate) return QuoteText(DateText(V.AsVLTDate()));
  if (T == bftTime) return QuoteText(TimeText(V.AsVLTTime()));
  if (T == bftDateTime) {
    const TVLTDateTime DT = V.AsVLTDateTime();
    return QuoteText(DateText(DT.Date) + " " + TimeText(DT.Time));
  }
  if (T == bftBytes || T == bftVarBytes || T == bftBlob || T == bftBFile)
    return HexText(V.Data(), V.DataSize());
  return QuoteText(V.AsAnsiString());
}

const char* CompressionName(TVLTCompressionAlgorithm A) {
  switch (A) {
    case acaZLIB:
      return "ZLIB";
    case acaBZIP:
      return "BZIP";
    case acaPPM:
      return "PPM";
    default:
      return "NONE";
  }
}

bool IsAutoIncType(TVLTAdvancedFieldType T) {
  return T >= aftAutoInc && T <= aftAutoIncCardinal;
}

bool IsSizedSqlType(TVLTAdvancedFieldType T) {
  return (T >= aftChar && T <= aftWideString) || T == aftBytes || T == aftVarBytes;
}

std::string ColumnList(const TVLTAdvIndexDef& D, bool WithOrder) {
  const TVLTIndexColumnRules Rules(D.FFields, D.FDescFields, D.FCaseInsFields, D.FOptions);
  std::string Out;
  for (const auto& N : Rules.Names()) {
    if (!Out.empty()) Out += ", ";
    Out += QuoteName(N);
    if (!WithOrder) continue;
    if (Rules.CaseInsensitive(N)) Out += " COLLATE NOCASE";
    if (Rules.Descending(N)) Out += " DESC";
  }
  return Out;
}

}  // namespace

std::string TVLTTable::SqlText() {
  const TVLTExportToSqlOptions& O = FExportToSqlOptions;
  std::string Out;
  const std::string Table = QuoteName(FTableName);
  if (O.Structure) {
    if (O.AddDropTable) Out += "DROP TABLE " + Table + ";\n\n";
    Out += "CREATE TABLE " + Table + " (";
    std::string PrimaryKey;
    for (int32_t I = 0; I < FRestructureFieldDefs.Count(); ++I) {
      const TVLTAdvFieldDef& F = FRestructureFieldDefs[I];
      Out += std::string(I ? "," : "") + "\n  " + QuoteName(F.FName) + " " +
             std::string(SqlNameOfAdvanced(F.FDataType));
      if (IsSizedSqlType(F.FDataType)) Out += "(" + std::to_string(F.FSize) + ")";
      if (IsAutoIncType(F.FDataType) &&
          (F.FAutoincIncrement != 1 || F.FAutoincInitialValue != 0 || F.FAutoincMinValue != 0 ||
           F.FAutoincMaxValue != INT64_MAX || F.FAutoincCycled))
        Out += " AUTOINC(INCREMENT " + std::to_string(F.FAutoincIncrement) + ", INITIALVALUE " +
               std::to_string(F.FAutoincInitialValue) + ", MINVALUE " +
               std::to_string(F.FAutoincMinValue) + ", MAXVALUE " +
               std::to_string(F.FAutoincMaxValue) + (F.FAutoincCycled ? ", CYCLED)" : ")");
      if (O.BlobSettings && IsBlobAdvancedType(F.FDataType)) {
        Out += " BLOBBLOCKSIZE " + std::to_string(F.FBLOBBlockSize) + " BLOBCOMPRESSIONALGORITHM " +
               CompressionName(F.FBLOBCompressionAlgorithm);
        if (F.FBLOBCompressionAlgorithm != acaNone)
          Out += " BLOBCOMPRESSIONMODE " + std::to_string(F.FBLOBCompressionMode);
      }
      if (!F.FDefaultValue.IsNull()) Out += " DEFAULT " + SqlLiteral(F.FDefaultValue);
      if (F.FRequired) Out += " NOT NULL";
      if (!F.FMinValue.IsNull() && !F.FMaxValue.IsNull())
        Out += " CHECK (" + QuoteName(F.FName) + " BETWEEN " + SqlLiteral(F.FMinValue) + " AND " +
               SqlLiteral(F.FMaxValue) + ")";
      else if (!F.FMinValue.IsNull())
        Out += " CHECK (" + QuoteName(F.FName) + " >= " + SqlLiteral(F.FMinValue) + ")";
      else if (!F.FMaxValue.IsNull())
        Out += " CHECK (" + QuoteName(F.FName) + " <= " + SqlLiteral(F.FMaxValue) + ")";
    }
    std::string IndexStatements;
    for (int32_t I = 0; I < FRestructureIndexDefs.Count(); ++I) {
      const TVLTAdvIndexDef& D = FRestructureIndexDefs[I];
      if (D.FTemporary) continue;
      if (D.FOptions & ixPrimary) {
        std::string Name = "C_PK";
        for (const auto& N : VLTSplitFieldList(D.FFields)) Name += "$" + N;
        Out += ",\n  CONSTRAINT " + QuoteName(Name) + " PRIMARY KEY (" + ColumnList(D, false) + ")";
      }
      IndexStatements += std::string("CREATE ") +
                         ((D.FOptions & (ixUnique | ixPrimary)) ? "UNIQUE " : "") + "INDEX " +
                         QuoteName(D.FName) + " ON " + Table + " (" + ColumnList(D, true) + ");\n";
    }
    Out += "\n);\n";
    if (!IndexStatements.empty()) Out += "\n" + IndexStatements;
  }
  if (O.Data) {
    TVLTCursor& C = *FHandle;
    std::string Prefix = "INSERT INTO " + Table;
    if (O.FieldNamesInInserts) {
      Prefix += " (";
      for (int32_t I = 0; I < C.VisibleFieldCount(); ++I)
        Prefix += (I ? ", " : "") + QuoteName((*C.FVisibleFieldDefs)[I].FName);
      Prefix += ")";
    }
    Prefix += " VALUES (";
    if (O.Structure && RecordCount() > 0) Out += "\n";
    for (First(); !Eof(); Next()) {
      std::string Line = Prefix;
      for (int32_t I = 0; I < C.VisibleFieldCount(); ++I) {
        TVLTVariant V;
        C.GetFieldValue(V, I, false, FActiveBuffer);
        Line += (I ? ", " : "") + SqlLiteral(V);
      }
      Out += Line + ");\n";
    }
  }
  return Out;
}

std::string TVLTTable::ExportToSQL() {
  CheckTableName();
  TVLTKeepDataSet Keep(*this);
  return SqlText();
}

void TVLTTable::ExportToSQL(TVLTStream& Stream) {
  const std::string Text = ExportToSQL();
  const int64_t Size = static_cast<int64_t>(Text.size());
  if (Stream.Write(Text.data(), Size) != Size)
    throw EVLTException(kTransferError, "Cannot write the SQL text of table '%s'", {FTableName});
}

void TVLTTable::ExportToSQL(const std::string& FileName) {
  const std::string Text = ExportToSQL();
  std::ofstream F(FileName, std::ios::binary | std::ios::trunc);
  if (F) F.write(Text.data(), static_cast<std::streamsize>(Text.size()));
  if (F) F.close();
  if (!F)
    throw EVLTException(kTransferError, "Cannot write the SQL text of table '%s' to file '%s'",
                        {FTableName, FileName});
}

}  // namespace vlt
