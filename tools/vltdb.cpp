// vltdb: looks into .vlt databases without changing them (files are opened read-only), and
// runs the maintenance operations of the database component on them.
//
//   vltdb [--password PW] header FILE   database header, crypto header, lock bytes, LastObjectID
//   vltdb [--password PW] pages FILE    every page (type, State, bitmap mark, checksum) and a
//                                       consistency verdict
//   vltdb [--password PW] system FILE   system directory, session slots held right now (by any
//                                       process) and the table list
//   vltdb [--password PW] tables FILE  each table's fields, indexes, constraints, record count
//   vltdb [--password PW] dump FILE TABLE [--index NAME] [--filter TEXT] [--case-insensitive]
//                                       [--no-partial-key]
//                                       the records as CSV (header row of field names, UTF-8,
//                                       RFC 4180 quoting, the value forms of vltpx dump), in
//                                       physical or index order; with a filter only the records
//                                       it shows (options as a table's defaults: case respected,
//                                       "*" ends a prefix)
//   vltdb [--password PW] count FILE TABLE [--filter TEXT] [--case-insensitive]
//                                       [--no-partial-key] [--explain]
//                                       the number of records the table (and filter) shows;
//                                       with --explain also the index range that drove the
//                                       count and the index entries and records it visited
//   vltdb [--password PW] meta FILE TABLE  the table's metadata stream and most-updated data
//   vltdb [--password PW] check FILE    the pages verdict, then per table: record pages against
//                                       the record page index and the record count, every
//                                       index's integrity, every record once in every index
//   vltdb create FILE [--page-size N] [--extent N] [--max-connections N]
//                     [--password PW --cipher NAME]
//                                       a new empty database (it never replaces an existing
//                                       file). NAME is a cipher such as Rijndael_256.
//   vltdb [--password PW] compact FILE  rebuilds the file without free space
//   vltdb [--password PW] repair FILE   rebuilds the file skipping what cannot be read; prints
//                                       the repair log
//   vltdb [--password PW] passwd FILE --new-password NEW [--cipher NAME]
//                                       rebuilds the file under a new password (an empty NEW
//                                       leaves it unencrypted) and cipher
//   compact, repair and passwd replace FILE only after a complete copy (FILE.tmp meanwhile).
//
// A filter text that does not parse prints the engine's message (with line and column) and
// exits 1.
//
// tables, dump, count, meta and check read the tables through a read-only, multi-user database
// component (never disturbing a process that has the file open); header, pages and system read
// the file's structures directly.
//
// Exit code: 0 when the file is sound, 1 when a problem was found (or the file could not be
// read; for compact, repair and passwd: when the operation failed), 2 on bad usage.
// Subcommands are rows of kCommands; a new one is a function and a row.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/paradox/ParadoxDump.h"
#include "app/paradox/ParadoxValue.h"
#include "engine/base/VLTCodePage.h"
#include "engine/base/VLTExcept.h"
#include "engine/components/VLTDatabase.h"
#include "engine/components/VLTDiskDatabaseEntry.h"
#include "engine/components/VLTEngineRegistry.h"
#include "engine/components/VLTLocalCursor.h"
#include "engine/components/VLTLocalSession.h"
#include "engine/components/VLTTable.h"
#include "engine/core/VLTPageHeader.h"
#include "engine/disk/VLTActiveSessionsFile.h"
#include "engine/disk/VLTDatabaseFile.h"
#include "engine/disk/VLTDiskDatabaseData.h"
#include "engine/disk/VLTDiskFileFormat.h"
#include "engine/disk/VLTDiskPageManager.h"
#include "engine/disk/VLTDiskRecordManager.h"
#include "engine/disk/VLTDiskTableData.h"
#include "engine/disk/VLTPageMapCheck.h"
#include "engine/disk/VLTSystemDirectory.h"
#include "engine/disk/VLTTableList.h"
#include "engine/disk/VLTTableLocks.h"
#include "engine/protect/VLTSecurity.h"

namespace {

using namespace vlt;

struct TOptions {
  std::optional<std::string> Password;
  std::string FileName;
  std::map<std::string, std::string> Settings;  // other --NAME VALUE options (create)
  std::vector<std::string> Extra;                // arguments after FILE (dump, meta: TABLE)
};

// Collects problems (which fail the run) and warnings (which do not).
struct TVerdict {
  int Problems = 0;
  int Warnings = 0;
  void Problem(const std::string& Text) {
    ++Problems;
    std::printf("PROBLEM: %s\n", Text.c_str());
  }
  void Warning(const std::string& Text) {
    ++Warnings;
    std::printf("warning: %s\n", Text.c_str());
  }
};

std::string TypeText(int Type) { return PageTypeText(Type); }

std::string AlgorithmText(int A) {
  if (A >= 0 && A < kCryptoAlgorithmCount)
    return std::string(CryptoAlgorithmName(static_cast<TVLTCryptoAlgorithm>(A)));
  return "(" + std::to_string(A) + ")";
}

std::string Printable(const char* P, size_t N) {
  std::string S;
  for (size_t I = 0; I < N; ++I) S += (P[I] >= 32 && P[I] < 127) ? P[I] : '.';
  return S;
}

// The raw prolog, read without a password (the database header is never encrypted).
struct TProlog {
  int64_t HeaderOffset = 0;
  bool SignatureFound = false;
  TVLTDBHeader Header{};
  TVLTCryptoHeader Crypto{};
  TVLTLockedBytes Locked{};
  int64_t LockedOffset = 0, LastObjectIDOffset = 0, FirstPageOffset = 0;
  int32_t LastObjectID = 0;
  int64_t FileSize = 0;
};

TProlog ReadProlog(TVLTDatabaseFile& F) {
  TProlog P;
  P.FileSize = F.GetSize();
  P.SignatureFound = F.FindSignature(P.HeaderOffset);
  if (!P.SignatureFound) P.HeaderOffset = 0;
  F.ReadBuffer(&P.Header, sizeof P.Header, P.HeaderOffset, 10464);
  int64_t CryptoOffset = P.HeaderOffset + P.Header.HeaderSize;
  F.ReadBuffer(&P.Crypto, sizeof P.Crypto, CryptoOffset, 30439);
  P.LockedOffset = CryptoOffset + kCryptoHeaderSize;
  F.ReadBuffer(&P.Locked, sizeof P.Locked, P.LockedOffset, 30442);
  P.LastObjectIDOffset = P.LockedOffset + P.Locked.LockedByteSize;
  F.ReadBuffer(&P.LastObjectID, sizeof P.LastObjectID, P.LastObjectIDOffset, 30400);
  P.FirstPageOffset = P.LastObjectIDOffset + 4;
  return P;
}

// Opens the database read-only through the engine: the password check and the derived offsets
// are exactly the engine's.
std::unique_ptr<TVLTDiskPageManager> OpenEngine(const TOptions& O, bool& RepairNeeded) {
  auto M = std::make_unique<TVLTDiskPageManager>();
  M->SetLockRetry(50, 20);
  bool ReadOnly = true, MultiUser = true;
  TVLTPassword Pw;
  Pw.Password = O.Password.value_or("");
  M->OpenDatabase(O.FileName, Pw, ReadOnly, RepairNeeded, false, MultiUser);
  return M;
}

// ---- header ----

int CmdHeader(const TOptions& O) {
  TVLTDatabaseFile F;
  F.OpenFile(O.FileName, amReadOnly, smShareDenyNone);
  TProlog P = ReadProlog(F);
  const TVLTDBHeader& H = P.Header;
  TVerdict V;

  std::printf("File                %s (%lld bytes)\n", O.FileName.c_str(),
              static_cast<long long>(P.FileSize));
  std::printf("Database header     at offset %lld%s\n", static_cast<long long>(P.HeaderOffset),
              P.SignatureFound ? "" : " (signature not found)");
  std::printf("  Signature         '%s'\n", Printable(H.Signature, sizeof H.Signature).c_str());
  std::printf("  HeaderSize        %d\n", H.HeaderSize);
  std::printf("  Version           %.2f\n", H.Version);
  std::printf("  PageSize          %u\n", H.PageSize);
  std::printf("  PageCountInExtent %u\n", H.PageCountInExtent);
  std::printf("  TotalPageCount    %d\n", H.TotalPageCount);
  std::printf("  LastUsedPageNo    %d\n", H.LastUsedPageNo);
  std::printf("  State             %d\n", H.State);
  std::printf("  WriteChangesState %u (%s)\n", H.WriteChangesState,
              H.WriteChangesState == kWriteChangesComplete ? "last commit completed"
                                                           : "a commit did not complete");
  std::printf("  Encrypted         %s\n", H.Encrypted ? "yes" : "no");
  std::printf("Crypto header       at offset %lld\n",
              static_cast<long long>(P.HeaderOffset + H.HeaderSize));
  std::printf("  CryptoHeaderSize  %d\n", P.Crypto.CryptoHeaderSize);
  std::printf("  CryptoAlgorithm   %u (%s)\n", P.Crypto.CryptoAlgorithm,
              AlgorithmText(P.Crypto.CryptoAlgorithm).c_str());
  std::printf("  ControlBlockCRC   0x%08X\n", P.Crypto.ControlBlockCRC);
  std::printf("Lock-byte area      at offset %lld\n", static_cast<long long>(P.LockedOffset));
  std::printf("  LockedByteSize    %d\n", P.Locked.LockedByteSize);
  struct {
    const char* Name;
    int64_t Offset;
  } Bytes[] = {{"FSMByte", P.LockedOffset + kFSMByteOffset},
               {"TablesByte", P.LockedOffset + kTablesByteOffset},
               {"DBHeaderByte", P.LockedOffset + kDBHeaderByteOffset},
               {"LastObjectID", P.LastObjectIDOffset}};
  for (const auto& B : Bytes)
    std::printf("  %-17s offset %lld, %s\n", B.Name, static_cast<long long>(B.Offset),
                F.IsByteLocked(B.Offset) ? "locked by another process" : "not locked");
  std::printf("LastObjectID        %d (at offset %lld)\n", P.LastObjectID,
              static_cast<long long>(P.LastObjectIDOffset));
  std::printf("First page          at offset %lld\n", static_cast<long long>(P.FirstPageOffset));
  F.CloseFile();

  if (!HasDBSignature(H)) V.Problem("the file has no database signature");
  if (H.WriteChangesState != kWriteChangesComplete)
    V.Problem("the last commit did not complete: the database needs repair");
  if (H.Encrypted && O.Password) {
    bool Repair = false;
    try {
      OpenEngine(O, Repair);
      std::printf("Password            correct\n");
    } catch (const EVLTException& E) {
      V.Problem(E.Message());
    }
  }
  return V.Problems ? 1 : 0;
}

// ---- pages ----

int CmdPages(const TOptions& O) {
  bool RepairNeeded = false;
  auto M = OpenEngine(O, RepairNeeded);
  const TVLTPageMapReport R = CheckPageMap(*M, RepairNeeded);
  TVerdict V;
  std::printf("%10s  %-26s %11s  %-6s %s\n", "Page", "Type", "State", "Bitmap", "Checksum");
  for (const TVLTPageMapEntry& E : R.Pages) {
    std::printf("%10lld  %-26s %11d  %-6s %s\n", static_cast<long long>(E.PageNo),
                E.Signed ? TypeText(E.PageType).c_str() : "(no page header)", E.State,
                E.Bit < 0 ? "?" : E.Bit ? "used" : "free", E.Checksum.c_str());
    for (const std::string& P : E.Problems) V.Problem(P);
  }
  std::printf("\n");
  for (const std::string& P : R.Problems) V.Problem(P);
  for (const std::string& W : R.Warnings) V.Warning(W);
  std::printf("%d pages, %lld bytes: %s (%d problem%s, %d warning%s)\n", R.TotalPageCount,
              static_cast<long long>(R.FileSize), V.Problems ? "NOT CONSISTENT" : "consistent",
              V.Problems, V.Problems == 1 ? "" : "s", V.Warnings, V.Warnings == 1 ? "" : "s");
  return V.Problems ? 1 : 0;
}

// ---- create and system ----

// A whole number from Text within [Min, Max].
bool ParseSetting(const std::string& Text, long Min, long Max, long& Value) {
  char* End = nullptr;
  errno = 0;
  Value = std::strtol(Text.c_str(), &End, 10);
  return !Text.empty() && *End == 0 && errno == 0 && Value >= Min && Value <= Max;
}

int CmdCreate(const TOptions& O) {
  long PageSize = 4096, Extent = kDefaultPageCountInExtent, MaxConnections = 500;
  TVLTPassword Password;
  Password.CryptoAlgorithm = craRijndael_256;
  for (const auto& [Name, Value] : O.Settings) {
    bool Ok = true;
    if (Name == "page-size")
      Ok = ParseSetting(Value, kPageHeaderSize + 1, UINT16_MAX, PageSize);
    else if (Name == "extent")
      Ok = ParseSetting(Value, 1, UINT16_MAX, Extent);
    else if (Name == "max-connections")
      Ok = ParseSetting(Value, 1, INT32_MAX / kTableLocksBytesPerSession, MaxConnections);
    else if (Name == "cipher")
      Ok = CryptoAlgorithmFromName(Value, Password.CryptoAlgorithm);
    else {
      std::fprintf(stderr, "vltdb create: unknown option --%s\n", Name.c_str());
      return 2;
    }
    if (!Ok) {
      std::fprintf(stderr, "vltdb create: invalid value for --%s: '%s'\n", Name.c_str(),
                   Value.c_str());
      return 2;
    }
  }
  if (O.Settings.count("cipher") && !O.Password) {
    std::fprintf(stderr, "vltdb create: --cipher needs --password\n");
    return 2;
  }
  // Creating replaces a file of that name: never do that to an existing file.
  if (TVLTDatabaseFile::FileExists(O.FileName)) {
    std::fprintf(stderr, "vltdb create: %s already exists\n", O.FileName.c_str());
    return 1;
  }
  Password.Password = O.Password.value_or("");
  TVLTDiskDatabaseData D(O.FileName);
  D.SetPassword(Password);
  D.SetPageSize(static_cast<int32_t>(PageSize));
  D.SetPageCountInExtent(static_cast<int32_t>(Extent));
  D.SetMaxSessionCount(static_cast<int32_t>(MaxConnections));
  D.CreateDatabase();
  TVLTDatabaseFile F;
  F.OpenFile(O.FileName, amReadOnly, smShareDenyNone);
  const long long Size = F.GetSize();
  F.CloseFile();
  std::printf("Created %s (%lld bytes): page size %ld, %ld pages per extent, %ld connections, %s\n",
              O.FileName.c_str(), Size, PageSize, Extent, MaxConnections,
              Password.Password.empty()
                  ? "not encrypted"
                  : ("encrypted with " + AlgorithmText(Password.CryptoAlgorithm)).c_str());
  return 0;
}

const char* FileTypeText(uint8_t FileID) {
  switch (FileID) {
    case dbftTablesList: return "table list";
    case dbftActiveSessionsList: return "active sessions";
    default: return "unknown";
  }
}

int CmdSystem(const TOptions& O) {
  bool RepairNeeded = false;
  auto M = OpenEngine(O, RepairNeeded);
  TVerdict V;

  TVLTSystemDirectory Dir(M.get());
  Dir.LoadDirectory();
  std::printf("System directory    page %d, %zu entries\n", kSystemDirectoryPageNo,
              Dir.FileList().size());
  for (const auto& Item : Dir.FileList())
    std::printf("  %u %-17s first page %d\n", Item.FileID, FileTypeText(Item.FileID),
                Item.FirstPageNo);

  const TVLTPageNo SessionsPage = Dir.GetFileFirstPageNo(dbftActiveSessionsList);
  if (SessionsPage == kNoPage) {
    V.Problem("the directory names no active sessions file");
  } else {
    TVLTActiveSessionsFile Sessions(M.get());
    Sessions.OpenFile(SessionsPage);
    std::vector<int32_t> Held;
    for (int32_t I = 0; I < Sessions.MaxSessionCount(); ++I)
      if (Sessions.IsSlotLocked(I)) Held.push_back(I);
    std::printf("Active sessions     page %d, %d slots\n", SessionsPage, Sessions.MaxSessionCount());
    if (Held.empty()) {
      std::printf("  held now: none\n");
    } else if (static_cast<int32_t>(Held.size()) == Sessions.MaxSessionCount()) {
      std::printf("  held now: all %zu (a single-user process, or every connection in use)\n",
                  Held.size());
    } else {
      std::string List;
      for (int32_t I : Held) List += (List.empty() ? "" : ", ") + std::to_string(I);
      std::printf("  held now: %zu (session ids %s)\n", Held.size(), List.c_str());
    }
  }

  const TVLTPageNo TablesPage = Dir.GetFileFirstPageNo(dbftTablesList);
  if (TablesPage == kNoPage) {
    V.Problem("the directory names no table list");
  } else {
    TVLTTableListFile Tables(M.get());
    Tables.OpenFile(TablesPage);
    Tables.Load();
    std::printf("Table list          page %d, %zu tables\n", TablesPage,
                Tables.TableList().size());
    if (!Tables.TableList().empty())
      std::printf("  %-32s %8s %9s %12s %8s\n", "Name", "TableID", "MetaData", "MostUpdated",
                  "Locks");
    for (const auto& T : Tables.TableList())
      std::printf("  %-32s %8d %9d %12d %8d\n", Printable(T.TableName.data(), T.TableName.size()).c_str(),
                  T.TableID, T.MetaDataFilePageNo, T.MostUpdatedFilePageNo, T.LocksFilePageNo);
  }
  if (RepairNeeded) V.Problem("the last commit did not complete: the database needs repair");
  return V.Problems ? 1 : 0;
}

// ---- tables, records, check ----

// A read-only connection through a database component, for reading tables. Multi-user, so
// that it never disturbs a process that has the file open; silent, so that a file that needs
// repair is read as it is. The engine is shut down again when the access ends.
struct TTablesAccess {
  std::unique_ptr<TVLTDatabase> Db;

  explicit TTablesAccess(const TOptions& O) {
    VLTStartEngine();
    Db = std::make_unique<TVLTDatabase>();
    Db->FName = "vltdb";
    Db->SetDatabaseName("vltdb");
    Db->SetDatabaseFileName(O.FileName);
    Db->FPassword = O.Password.value_or("");
    Db->FReadOnly = true;
    Db->FMultiUser = true;
    Db->FSilentMode = true;
    Db->FNoRequestAutoRepair = true;
    Db->Open();
  }
  ~TTablesAccess() {
    try {
      Db->Close();
    } catch (...) {
      // A destructor cannot raise; nothing is left to undo.
    }
    Db.reset();
    VLTShutdownEngine();
  }
  TTablesAccess(const TTablesAccess&) = delete;
  TTablesAccess& operator=(const TTablesAccess&) = delete;

  // The table list as stored; an unreadable list is an error, not an empty database.
  std::vector<std::string> TableNames() {
    std::vector<std::string> L;
    Db->Handle()->GetTablesList(L);
    return L;
  }
  TVLTSessionID SessionID() const { return Db->Handle()->SessionID; }
  TVLTDiskDatabaseData& Disk() const { return Db->Handle()->DiskLink()->Disk(); }
};

// One table opened through a cursor of the component's engine session, without reading any
// record (a damaged record page must not keep the table's definitions and checks from being
// shown). Table is the file's table data under the cursor.
struct TOpenTable {
  std::unique_ptr<TVLTLocalCursor> Cursor;
  TVLTDiskTableData* Table = nullptr;

  TOpenTable(TTablesAccess& A, const std::string& Name) : Cursor(std::make_unique<TVLTLocalCursor>()) {
    Cursor->SetSession(A.Db->Handle());
    Cursor->FTableName = Name;
    Cursor->FReadOnly = true;
    Cursor->OpenTableByFieldDefs(nullptr, nullptr, nullptr);
    Cursor->InternalInitFieldDefs();
    Table = dynamic_cast<TVLTDiskTableData*>(Cursor->TableData());
    if (!Table) throw EVLTException(10691, "Table '%s' is not stored in the database file", {Name});
  }
  TVLTFieldDefs& Fields() { return Table->FieldManager()->FieldDefs(); }
};

std::string Utf16ToUtf8(const std::u16string& S) {
  std::string Out;
  for (size_t I = 0; I < S.size(); ++I) {
    uint32_t C = S[I];
    if (C >= 0xD800 && C < 0xDC00 && I + 1 < S.size() && S[I + 1] >= 0xDC00 && S[I + 1] < 0xE000)
      C = 0x10000 + ((C - 0xD800) << 10) + (S[++I] - 0xDC00);
    else if (C >= 0xD800 && C < 0xE000)
      C = 0xFFFD;
    if (C < 0x80) {
      Out += static_cast<char>(C);
    } else if (C < 0x800) {
      Out += static_cast<char>(0xC0 | (C >> 6));
      Out += static_cast<char>(0x80 | (C & 0x3F));
    } else if (C < 0x10000) {
      Out += static_cast<char>(0xE0 | (C >> 12));
      Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
      Out += static_cast<char>(0x80 | (C & 0x3F));
    } else {
      Out += static_cast<char>(0xF0 | (C >> 18));
      Out += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
      Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
      Out += static_cast<char>(0x80 | (C & 0x3F));
    }
  }
  return Out;
}

// A BLOB value as the dumps write it: a memo's text, anything else as hex digits.
std::string BlobText(const TVLTFieldDef& F, const TVLTField& Field) {
  if (Field.IsNull()) return {};
  const std::string Raw = Field.AsString();
  if (F.FBaseFieldType == bftClob) return Win1252ToUtf8(Raw);
  std::string Hex;
  char B[3];
  for (unsigned char X : Raw) {
    std::snprintf(B, sizeof B, "%02X", X);
    Hex += B;
  }
  return Hex;
}

// A field value as the dumps write it (the conventions of vltpx dump).
std::string FieldText(const TVLTFieldDef& F, const TVLTVariant& V) {
  if (V.IsNull()) return {};
  if (IsBlobBaseType(F.FBaseFieldType) || F.FBaseFieldType == bftBFile) return "<blob>";
  using app::TParadoxValue;
  switch (F.FBaseFieldType) {
    case bftChar:
    case bftVarchar: return Win1252ToUtf8(V.AsAnsiString());
    case bftWideChar:
    case bftWideVarchar: return Utf16ToUtf8(V.AsWideString());
    case bftLogical: return V.AsBoolean() ? "true" : "false";
    case bftSingle:
    case bftDouble:
    case bftExtended:
    case bftCurrency: return app::ShortestDecimal(V.AsDouble());
    case bftDate: return app::ValueToText(TParadoxValue::Date(V.AsVLTDate()));
    case bftTime: return app::ValueToText(TParadoxValue::Time(V.AsVLTTime()));
    case bftDateTime: {
      const TVLTDateTime D = V.AsVLTDateTime();
      return app::ValueToText(TParadoxValue::DateTime(double(D.Date) * 86400000.0 + D.Time));
    }
    case bftBytes:
    case bftVarBytes: {
      std::string Hex;
      std::vector<uint8_t> Raw(static_cast<size_t>(F.FMemoryDataSize));
      V.CopyDataToAddress(Raw.data(), static_cast<int32_t>(Raw.size()));
      char B[3];
      for (uint8_t X : Raw) {
        std::snprintf(B, sizeof B, "%02X", X);
        Hex += B;
      }
      return Hex;
    }
    default: return std::to_string(V.AsInt64());
  }
}

std::string IndexText(const TVLTIndexDef& D) {
  std::string S;
  for (const auto& C : D.FIndexColumns) {
    if (!S.empty()) S += ", ";
    S += Win1252ToUtf8(C.FFieldName);
    if (C.FDescending) S += " DESC";
    if (C.FCaseInsensitive) S += " NO_CASE";
    if (C.FMaxIndexedSize) S += " (" + std::to_string(C.FMaxIndexedSize) + " indexed)";
  }
  return S;
}

std::string ConstraintText(const TVLTConstraintDef& D) {
  static const char* const kTypes[] = {"PRIMARY KEY", "FOREIGN KEY", "UNIQUE", "NOT NULL", "CHECK"};
  std::string S = D.FConstraintType <= ctCheck ? kTypes[D.FConstraintType] : "(unknown)";
  if (D.FConstraintType == ctPK || D.FConstraintType == ctUnique) {
    const auto& U = static_cast<const TVLTConstraintDefUnique&>(D);
    std::string Cols;
    for (const auto& C : U.Columns) Cols += (Cols.empty() ? "" : ", ") + Win1252ToUtf8(C.ColumnName);
    S += " (" + Cols + ") index " + Win1252ToUtf8(U.FIndexName);
  } else if (D.FConstraintType == ctNotNull || D.FConstraintType == ctCheck) {
    S += " " + Win1252ToUtf8(static_cast<const TVLTConstraintDefNotNull&>(D).FColumnName);
  }
  return S;
}

void PrintFields(TVLTFieldDefs& Fields) {
  for (int32_t I = 0; I < Fields.Count(); ++I) {
    const TVLTFieldDef& F = Fields[I];
    std::printf("    %-24s %-20s size %-5d disk %d+%d\n", Win1252ToUtf8(F.FName).c_str(),
                std::string(AdvancedFieldTypeName(F.FAdvancedFieldType)).c_str(), F.FFieldSize,
                F.FDiskOffset, F.FDiskDataSize);
  }
}

int CmdTables(const TOptions& O) {
  TTablesAccess A(O);
  int Failed = 0;
  for (const std::string& Name : A.TableNames()) {
    std::printf("Table %s\n", Win1252ToUtf8(Name).c_str());
    try {
      TOpenTable T(A, Name);
      TVLTLocalCursor& C = *T.Cursor;
      std::printf("  id %d, %lld records, %d records per page\n", T.Table->TableID(),
                  static_cast<long long>(C.GetRecordCount()),
                  T.Table->DiskRecordManager()->MaxRecordsOnPage());
      std::printf("  fields (%d):\n", C.FFieldDefs->Count());
      PrintFields(*C.FFieldDefs);
      TVLTIndexDefs& Ix = C.GetIndexDefs();
      std::printf("  indexes (%d):\n", Ix.Count());
      for (int32_t I = 0; I < Ix.Count(); ++I)
        std::printf("    %-24s %s%s(%s)\n", Win1252ToUtf8(Ix[I].FName).c_str(),
                    Ix[I].FPrimary ? "primary " : "", Ix[I].FUnique ? "unique " : "",
                    IndexText(Ix[I]).c_str());
      TVLTConstraintDefs& Cs = *C.FConstraintDefs;
      std::printf("  constraints (%d):\n", Cs.Count());
      for (int32_t I = 0; I < Cs.Count(); ++I)
        std::printf("    %-24s %s\n", Win1252ToUtf8(Cs[I].FName).c_str(), ConstraintText(Cs[I]).c_str());
    } catch (const std::exception& E) {
      ++Failed;
      std::printf("  PROBLEM: cannot be opened: %s\n", E.what());
    }
  }
  return Failed ? 1 : 0;
}

// The --filter option with its two flags applied to an open table; false (the message printed)
// when the text does not parse.
bool ApplyFilter(const TOptions& O, TVLTTable& T) {
  auto It = O.Settings.find("filter");
  if (It == O.Settings.end()) return true;
  uint8_t Options = 0;
  if (O.Settings.count("case-insensitive")) Options |= foCaseInsensitive;
  if (O.Settings.count("no-partial-key")) Options |= foNoPartialCompare;
  T.SetFilterOptions(Options);
  T.SetFilter(Utf8ToWin1252(It->second));
  try {
    T.SetFiltered(true);
  } catch (const std::exception& E) {
    std::fprintf(stderr, "vltdb: filter %s: %s\n", It->second.c_str(), E.what());
    return false;
  }
  return true;
}

// The records as a table component shows them: read-only, in physical order or in the order
// of the named index, only those a filter shows.
int CmdDump(const TOptions& O) {
  if (O.Extra.size() != 1) {
    std::fprintf(stderr,
                 "usage: vltdb dump FILE TABLE [--index NAME] [--filter TEXT] "
                 "[--case-insensitive] [--no-partial-key]\n");
    return 2;
  }
  TTablesAccess A(O);
  TVLTTable T;
  T.FName = "vltdb";
  T.SetDatabaseName(A.Db->DatabaseName());
  T.SetTableName(Utf8ToWin1252(O.Extra[0]));
  T.FReadOnly = true;
  T.Open();
  if (!ApplyFilter(O, T)) return 1;
  auto It = O.Settings.find("index");
  if (It != O.Settings.end()) {
    const std::string Index = Utf8ToWin1252(It->second);
    if (!T.Handle()->GetIndexDefs().GetIndexDefByName(Index)) {
      std::fprintf(stderr, "vltdb: table %s has no index %s\n", O.Extra[0].c_str(), It->second.c_str());
      return 1;
    }
    T.SetIndexName(Index);
  }
  const TVLTFieldDefs& Defs = *T.Handle()->FVisibleFieldDefs;
  std::string Line;
  for (int32_t I = 0; I < T.FieldCount(); ++I)
    Line += (I ? "," : "") + app::CsvCell(Win1252ToUtf8(T.Fields(I).FieldName()));
  std::printf("%s\n", Line.c_str());
  TVLTVariant V;
  long long Count = 0;
  try {
    for (T.First(); !T.Eof(); T.Next(), ++Count) {
      Line.clear();
      for (int32_t I = 0; I < T.FieldCount(); ++I) {
        const TVLTField& F = T.Fields(I);
        const TVLTFieldDef& Def = Defs[F.FieldNo() - 1];
        std::string Text;
        if (IsBlobBaseType(Def.FBaseFieldType)) {
          Text = BlobText(Def, F);
        } else {
          T.GetFieldVariant(F, V);
          Text = FieldText(Def, V);
        }
        Line += (I ? "," : "") + app::CsvCell(Text);
      }
      std::printf("%s\n", Line.c_str());
    }
  } catch (const std::exception& E) {
    std::fflush(stdout);
    std::fprintf(stderr, "vltdb: reading %s stopped after %lld records: %s\n", O.Extra[0].c_str(),
                 Count, E.what());
    return 1;
  }
  return 0;
}

// One bound of a driving range as text: "(Num, Name) >= (5, 'x')", or "Num = 5".
std::string BoundText(TVLTCursor& C, const TVLTIndexDef& Index, uint8_t Condition,
                      int32_t KeyFieldCount, std::vector<uint8_t> Key) {
  static const char* const kOps[] = {"?", "=", "<", ">", "<=", ">="};
  std::string Names, Values;
  const int32_t N = std::min<int32_t>(KeyFieldCount, Index.ColumnCount());
  for (int32_t I = 0; I < N; ++I) {
    const std::string& Field = Index.FIndexColumns[static_cast<size_t>(I)].FFieldName;
    const int32_t No = C.FFieldDefs ? C.FFieldDefs->GetDefNumberByName(Field) : -1;
    std::string Value = "?";
    if (No >= 0 && !Key.empty()) {
      TVLTVariant V;
      C.GetFieldValue(V, No, true, Key.data());
      if (V.IsNull())
        Value = "NULL";
      else if (V.IsStringDataType())
        Value = "'" + Win1252ToUtf8(V.AsAnsiString()) + "'";
      else
        Value = Win1252ToUtf8(V.AsAnsiString());
    }
    Names += (I ? ", " : "") + Win1252ToUtf8(Field);
    Values += (I ? ", " : "") + Value;
  }
  if (N > 1) {
    Names = "(" + Names + ")";
    Values = "(" + Values + ")";
  }
  return Names + " " + kOps[Condition <= 5 ? Condition : 0] + " " + Values;
}

// The plan of the cursor's last search and what its searches visited.
void ExplainSearch(TVLTCursor& C) {
  const TVLTSearchStatistics& S = C.FSearchStatistics;
  const TVLTIndexDef* Index = nullptr;
  if (C.FIndexDefs)
    for (int32_t I = 0; I < C.FIndexDefs->Count(); ++I)
      if ((*C.FIndexDefs)[I].FObjectID == S.IndexID) Index = &(*C.FIndexDefs)[I];
  if (S.Empty)
    std::printf("plan: the conditions exclude each other; nothing is read\n");
  else if (S.Searches == 0)
    std::printf("plan: no search (the table's record count)\n");
  else if (!Index)
    std::printf("plan: full scan in %s order\n", C.FIndexID == -1 ? "physical" : "index");
  else {
    std::printf("plan: index %s\n", Win1252ToUtf8(Index->FName).c_str());
    std::printf("  start: %s\n",
                BoundText(C, *Index, S.StartCondition, S.StartKeyFieldCount, S.StartKey).c_str());
    if (S.EndCondition != 0)
      std::printf("  end:   %s\n",
                  BoundText(C, *Index, S.EndCondition, S.EndKeyFieldCount, S.EndKey).c_str());
    else
      std::printf("  end:   where the start condition ends\n");
  }
  std::printf("visited: %lld index entries, %lld records\n",
              static_cast<long long>(S.IndexEntriesVisited),
              static_cast<long long>(S.RecordsVisited));
}

// The number of records a table shows, through a filter when one is given.
int CmdCount(const TOptions& O) {
  if (O.Extra.size() != 1) {
    std::fprintf(stderr,
                 "usage: vltdb count FILE TABLE [--filter TEXT] [--case-insensitive] "
                 "[--no-partial-key] [--explain]\n");
    return 2;
  }
  TTablesAccess A(O);
  TVLTTable T;
  T.FName = "vltdb";
  T.SetDatabaseName(A.Db->DatabaseName());
  T.SetTableName(Utf8ToWin1252(O.Extra[0]));
  T.FReadOnly = true;
  T.Open();
  if (!ApplyFilter(O, T)) return 1;
  TVLTCursor& C = *T.Handle();
  C.FSearchStatistics.Reset();
  std::printf("%d\n", T.RecordCount());
  if (O.Settings.count("explain")) ExplainSearch(C);
  return 0;
}

int CmdMeta(const TOptions& O) {
  if (O.Extra.size() != 1) {
    std::fprintf(stderr, "usage: vltdb meta FILE TABLE\n");
    return 2;
  }
  TTablesAccess A(O);
  const std::string Name = Utf8ToWin1252(O.Extra[0]);
  int32_t TableID = 0;
  TVLTPageNo Meta = kNoPage, MostUpdated = kNoPage, Locks = kNoPage;
  A.Disk().OpenTable(Name, TableID, Meta, MostUpdated, Locks);
  std::printf("Table %s: id %d, metadata file page %d, most-updated file page %d, locks file "
              "page %d\n", O.Extra[0].c_str(), TableID, Meta, MostUpdated, Locks);
  TOpenTable T(A, Name);
  int32_t Stored = 0, Size = 0;
  TVLTCompressionAlgorithm Algorithm = acaNone;
  bool Changed = false;
  T.Table->MetadataFile()->GetFileSize(A.SessionID(), Stored, Size, Algorithm, Changed);
  std::printf("Metadata stream: %d bytes, stored in %d bytes (compression %d)\n", Size, Stored,
              static_cast<int>(Algorithm));
  TVLTFieldDefs& Fields = T.Fields();
  std::printf("Fields (%d):\n", Fields.Count());
  for (int32_t I = 0; I < Fields.Count(); ++I) {
    const TVLTFieldDef& F = Fields[I];
    std::printf("  [%d] %s  object id %d\n", I, Win1252ToUtf8(F.FName).c_str(), F.FObjectID);
    std::printf("      type %s (base %s), size %d, memory %d+%d, disk %d+%d\n",
                std::string(AdvancedFieldTypeName(F.FAdvancedFieldType)).c_str(),
                std::string(BaseFieldTypeName(F.FBaseFieldType)).c_str(), F.FFieldSize,
                F.FMemoryOffset, F.FMemoryDataSize, F.FDiskOffset, F.FDiskDataSize);
    if (IsBlobBaseType(F.FBaseFieldType))
      std::printf("      BLOB compression %d mode %d, block size %d\n",
                  static_cast<int>(F.FBLOBCompressionAlgorithm), F.FBLOBCompressionMode,
                  F.FBLOBBlockSize);
    if (IsAutoincAdvancedType(F.FAdvancedFieldType))
      std::printf("      autoincrement: increment %lld, initial %lld, min %lld, max %lld%s\n",
                  static_cast<long long>(F.FAutoincIncrement),
                  static_cast<long long>(F.FAutoincInitialValue),
                  static_cast<long long>(F.FAutoincMinValue),
                  static_cast<long long>(F.FAutoincMaxValue), F.FAutoincCycled ? ", cycled" : "");
    if (!F.DefaultValue().IsNull())
      std::printf("      default %s\n", Win1252ToUtf8(F.DefaultValue().AsAnsiString()).c_str());
  }
  TVLTIndexDefs& Ix = T.Table->IndexManager()->IndexDefs();
  std::printf("Indexes (%d):\n", Ix.Count());
  for (int32_t I = 0; I < Ix.Count(); ++I)
    std::printf("  %s  object id %d, root page %d, %s%s(%s)\n", Win1252ToUtf8(Ix[I].FName).c_str(),
                Ix[I].FObjectID, Ix[I].FRootPageNo, Ix[I].FPrimary ? "primary " : "",
                Ix[I].FUnique ? "unique " : "", IndexText(Ix[I]).c_str());
  TVLTConstraintDefs& Cs = T.Table->ConstraintManager()->ConstraintDefs();
  std::printf("Constraints (%d):\n", Cs.Count());
  for (int32_t I = 0; I < Cs.Count(); ++I)
    std::printf("  %s  object id %d, %s\n", Win1252ToUtf8(Cs[I].FName).c_str(), Cs[I].FObjectID,
                ConstraintText(Cs[I]).c_str());
  TVLTDiskRecordManager& RM = *T.Table->DiskRecordManager();
  std::printf("Record page index root page %d (%d records per page)\n",
              RM.RecordPageIndex().RootPageNo(), RM.MaxRecordsOnPage());
  std::printf("Most-updated data: table state %d, record count %lld\n", RM.FTableState,
              static_cast<long long>(RM.FRecordCount));
  for (int32_t I = 0; I < Fields.Count(); ++I)
    if (IsAutoincAdvancedType(Fields[I].FAdvancedFieldType))
      std::printf("  last autoincrement of %s: %lld\n", Win1252ToUtf8(Fields[I].FName).c_str(),
                  static_cast<long long>(T.Table->FieldManager()->LastAutoIncValue(I)));
  return 0;
}

int CmdCheck(const TOptions& O) {
  int Result = CmdPages(O);
  TTablesAccess A(O);
  int Problems = 0;
  std::printf("\n");
  for (const std::string& Name : A.TableNames()) {
    std::vector<std::string> List;
    long long Count = -1;
    try {
      TOpenTable T(A, Name);
      Count = T.Cursor->GetRecordCount();
      T.Table->CheckTable(A.SessionID(), List);
    } catch (const std::exception& E) {
      List.push_back(Name + ": cannot be opened: " + E.what());
    }
    std::printf("table %-32s %10lld records  %s\n", Win1252ToUtf8(Name).c_str(), Count,
                List.empty() ? "ok" : "NOT CONSISTENT");
    for (const auto& P : List) std::printf("PROBLEM: %s\n", Win1252ToUtf8(P).c_str());
    Problems += static_cast<int>(List.size());
  }
  std::printf("tables: %s (%d problem%s)\n", Problems ? "NOT CONSISTENT" : "consistent", Problems,
              Problems == 1 ? "" : "s");
  return Result || Problems ? 1 : 0;
}

// ---- maintenance through the database component ----

// A started engine and a silent database component on the file; the engine is shut down again
// when the operation ends.
class TComponentAccess {
 public:
  explicit TComponentAccess(const TOptions& O) {
    VLTStartEngine();
    Db = std::make_unique<TVLTDatabase>();
    Db->FName = "vltdb";
    Db->SetDatabaseName("vltdb");
    Db->SetDatabaseFileName(O.FileName);
    Db->FPassword = O.Password.value_or("");
    Db->FSilentMode = true;
    Db->FNoRequestAutoRepair = true;
  }
  ~TComponentAccess() {
    Db.reset();
    VLTShutdownEngine();
  }
  TComponentAccess(const TComponentAccess&) = delete;
  TComponentAccess& operator=(const TComponentAccess&) = delete;

  std::unique_ptr<TVLTDatabase> Db;
};

long long FileSizeOf(const std::string& Name) {
  TVLTDatabaseFile F;
  F.OpenFile(Name, amReadOnly, smShareDenyNone);
  const long long Size = F.GetSize();
  F.CloseFile();
  return Size;
}

int CmdCompact(const TOptions& O) {
  const long long Before = FileSizeOf(O.FileName);
  {
    TComponentAccess A(O);
    A.Db->CompactDatabase();
  }
  std::printf("Compacted %s: %lld -> %lld bytes\n", O.FileName.c_str(), Before,
              FileSizeOf(O.FileName));
  return 0;
}

// The file's identity: a rebuild that took effect put a new file in the old one's place.
std::pair<dev_t, ino_t> FileIdentity(const std::string& Name) {
  struct stat St {};
  if (::stat(Name.c_str(), &St) != 0) return {0, 0};
  return {St.st_dev, St.st_ino};
}

// What the check finds in the file (its problems and warnings), read only. A repair mends each.
std::vector<std::string> Findings(const TOptions& O) {
  std::vector<std::string> Out;
  {
    bool RepairNeeded = false;
    auto M = OpenEngine(O, RepairNeeded);
    const TVLTPageMapReport R = CheckPageMap(*M, RepairNeeded);
    for (const TVLTPageMapEntry& E : R.Pages)
      Out.insert(Out.end(), E.Problems.begin(), E.Problems.end());
    Out.insert(Out.end(), R.Problems.begin(), R.Problems.end());
    Out.insert(Out.end(), R.Warnings.begin(), R.Warnings.end());
  }
  TTablesAccess A(O);
  for (const std::string& Name : A.TableNames()) {
    std::vector<std::string> List;
    try {
      TOpenTable T(A, Name);
      T.Table->CheckTable(A.SessionID(), List);
    } catch (const std::exception& E) {
      List.push_back(Name + ": cannot be opened: " + E.what());
    }
    for (const std::string& P : List) Out.push_back(Win1252ToUtf8(P));
  }
  return Out;
}

int CmdRepair(const TOptions& O) {
  // A file the check finds nothing in is left as it is: "no problems found" means unchanged.
  std::vector<std::string> Found;
  try {
    Found = Findings(O);
  } catch (const std::exception& E) {
    Found.push_back(std::string("the file cannot be checked: ") + E.what());
  }
  if (Found.empty()) {
    std::printf("Repaired %s: no problems found\n", O.FileName.c_str());
    return 0;
  }
  std::string Log;
  const auto Before = FileIdentity(O.FileName);
  {
    TComponentAccess A(O);
    Log = A.Db->RepairDatabase();
  }
  // The component answers only with the log; a repair that could not be completed leaves the
  // file in place and says why in the log.
  if (FileIdentity(O.FileName) == Before) {
    std::fflush(stdout);
    std::fprintf(stderr, "vltdb: %s was not repaired: %s\n", O.FileName.c_str(),
                 Log.empty() ? "unknown error" : Win1252ToUtf8(Log).c_str());
    return 1;
  }
  // The new file holds every table rebuilt record by record: each finding of the old one is
  // mended by that, and the log names what the rebuild itself had to leave out.
  std::printf("Repaired %s; what it changed:\n", O.FileName.c_str());
  for (const std::string& F : Found) std::printf("  mended: %s\n", F.c_str());
  std::string Line;
  for (size_t At = 0; At < Log.size(); At = Log.find('\n', At) + 1) {
    const size_t End = Log.find('\n', At);
    Line = Log.substr(At, End == std::string::npos ? std::string::npos : End - At);
    if (!Line.empty()) std::printf("  %s\n", Win1252ToUtf8(Line).c_str());
    if (End == std::string::npos) break;
  }
  return 0;
}

int CmdPasswd(const TOptions& O) {
  const auto NewPassword = O.Settings.find("new-password");
  if (NewPassword == O.Settings.end()) {
    std::fprintf(stderr, "vltdb passwd: --new-password is required\n");
    return 2;
  }
  std::optional<TVLTCryptoAlgorithm> Cipher;
  if (const auto C = O.Settings.find("cipher"); C != O.Settings.end()) {
    TVLTCryptoAlgorithm A = craRijndael_256;
    if (!CryptoAlgorithmFromName(C->second, A)) {
      std::fprintf(stderr, "vltdb passwd: invalid value for --cipher: '%s'\n", C->second.c_str());
      return 2;
    }
    Cipher = A;
  }
  std::string Log;
  TVLTCryptoAlgorithm Final{};
  {
    TComponentAccess A(O);
    // Opening first makes the file's own cipher the one kept when --cipher is not given.
    A.Db->Open();
    A.Db->Close();
    Log = A.Db->ChangePassword(NewPassword->second, Cipher.value_or(A.Db->FCryptoAlgorithm));
    Final = A.Db->FCryptoAlgorithm;
  }
  if (!Log.empty()) std::printf("%s\n", Win1252ToUtf8(Log).c_str());
  std::printf("Changed the password of %s: %s\n", O.FileName.c_str(),
              NewPassword->second.empty() ? "not encrypted"
                                          : ("encrypted with " + AlgorithmText(Final)).c_str());
  return 0;
}

// ---- dispatcher ----

struct TCommand {
  const char* Name;
  const char* Help;
  std::function<int(const TOptions&)> Run;
};

const TCommand kCommands[] = {
    {"header", "database header, crypto header, lock bytes and LastObjectID", CmdHeader},
    {"pages", "every page and a consistency verdict", CmdPages},
    {"create",
     "a new empty database ([--page-size N] [--extent N] [--max-connections N]\n"
     "           [--password PW --cipher NAME])",
     CmdCreate},
    {"system", "system directory, session slots held now and the table list", CmdSystem},
    {"tables", "each table's fields, indexes, constraints and record count", CmdTables},
    {"dump",
     "a table's records as CSV (vltdb dump FILE TABLE [--index NAME] [--filter TEXT]\n"
     "           [--case-insensitive] [--no-partial-key])",
     CmdDump},
    {"count", "the records a table shows (vltdb count FILE TABLE [--filter TEXT] [--explain] ...)",
     CmdCount},
    {"meta", "a table's metadata stream as text (vltdb meta FILE TABLE)", CmdMeta},
    {"check", "the pages verdict, then every table's record pages, counts and indexes", CmdCheck},
    {"compact", "rebuilds the file without free space", CmdCompact},
    {"repair", "checks, then rebuilds the file skipping what cannot be read; one line per change",
     CmdRepair},
    {"passwd", "rebuilds the file under a new password (--new-password NEW [--cipher NAME])",
     CmdPasswd},
};

int Usage() {
  std::fprintf(stderr, "usage: vltdb [--password PW] COMMAND FILE\n");
  for (const auto& C : kCommands) std::fprintf(stderr, "  %-8s %s\n", C.Name, C.Help);
  return 2;
}

}  // namespace

int main(int Argc, char** Argv) {
  TOptions O;
  std::vector<std::string> Args;
  for (int I = 1; I < Argc; ++I) {
    std::string A = Argv[I];
    if (A == "--password") {
      if (++I >= Argc) return Usage();
      O.Password = Argv[I];
    } else if (A.rfind("--password=", 0) == 0) {
      O.Password = A.substr(11);
    } else if (A == "-h" || A == "--help") {
      return Usage();
    } else if (A == "--case-insensitive" || A == "--no-partial-key" || A == "--explain") {
      O.Settings[A.substr(2)] = "1";  // flags without a value
    } else if (A.rfind("--", 0) == 0 && A.size() > 2) {
      const size_t Eq = A.find('=');
      if (Eq != std::string::npos) {
        O.Settings[A.substr(2, Eq - 2)] = A.substr(Eq + 1);
      } else {
        if (++I >= Argc) return Usage();
        O.Settings[A.substr(2)] = Argv[I];
      }
    } else {
      Args.push_back(A);
    }
  }
  if (Args.size() < 2) return Usage();
  const TCommand* Cmd = nullptr;
  for (const auto& C : kCommands)
    if (Args[0] == C.Name) Cmd = &C;
  if (!Cmd) return Usage();
  O.FileName = Args[1];
  O.Extra.assign(Args.begin() + 2, Args.end());
  const std::string Name = Cmd->Name;
  const bool TakesTable = Name == "dump" || Name == "meta" || Name == "count";
  if (!TakesTable && !O.Extra.empty()) return Usage();
  const bool Creates = Name == "create";
  // dump and count read a table through the options that choose its records.
  bool TableOptions = Name == "dump" || Name == "count";
  for (const auto& [Key, Value] : O.Settings)
    TableOptions = TableOptions && (Key == "filter" || Key == "case-insensitive" ||
                                    Key == "no-partial-key" || (Key == "index" && Name == "dump") ||
                                    (Key == "explain" && Name == "count"));
  const bool Passwd = Name == "passwd";
  if (!Creates && !Passwd && !O.Settings.empty() && !TableOptions) return Usage();
  if (!Creates && !TVLTDatabaseFile::FileExists(O.FileName)) {
    std::fprintf(stderr, "vltdb: %s: no such file\n", O.FileName.c_str());
    return 1;
  }
  try {
    return Cmd->Run(O);
  } catch (const std::exception& E) {
    std::fflush(stdout);
    std::fprintf(stderr, "vltdb: %s\n", E.what());
    return 1;
  }
}
