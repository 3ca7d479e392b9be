#include "engine/components/VLTTable.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>

#include "engine/components/VLTDatabaseError.h"
#include "engine/components/VLTLocalCursor.h"
#include "engine/components/VLTLocalSession.h"
#include "engine/core/VLTExcept.h"
#include "engine/core/VLTGuid.h"

namespace vlt {

namespace {

constexpr int32_t kDefaultMaxIndexedSize = 20;

bool IsSizedType(TVLTAdvancedFieldType T) {
  return T == aftChar || T == aftString || T == aftWideChar || T == aftWideString ||
         T == aftGuid || T == aftBytes || T == aftVarBytes;
}

bool IsBlobType(TVLTAdvancedFieldType T) {
  return T == aftBlob || T == aftGraphic || T == aftMemo || T == aftFormattedMemo ||
         T == aftWideMemo;
}

bool ContainsName(const std::vector<std::string>& List, const std::string& Name) {
  for (const auto& S : List)
    if (SameText(S, Name)) return true;
  return false;
}

std::string JoinNames(const std::vector<std::string>& L) {
  std::string Out;
  for (const auto& S : L) Out += (Out.empty() ? "" : ";") + S;
  return Out;
}

// The shared table lock under which a search re-reads its result or a range goes to its first
// record, so that no other connection changes the table in between. Taken when it can be
// taken: a connection holding a conflicting lock delays the read but does not fail it.
class TSharedReadLock {
 public:
  static constexpr int32_t kTries = 900, kDelay = 100;
  explicit TSharedReadLock(TVLTCursor& Cursor) : FCursor(Cursor) {
    try {
      FHeld = FCursor.LockTable(ltS, kTries, kDelay, false);
    } catch (const EVLTException&) {
      FHeld = false;
    }
  }
  ~TSharedReadLock() {
    if (!FHeld) return;
    try {
      FCursor.UnlockTable(ltS, true);
    } catch (...) {
    }
  }
  TSharedReadLock(const TSharedReadLock&) = delete;
  TSharedReadLock& operator=(const TSharedReadLock&) = delete;

 private:
  TVLTCursor& FCursor;
  bool FHeld = false;
};

}  // namespace

TVLTTable::TVLTTable() = default;

TVLTTable::~TVLTTable() {
  try {
    Close();
  } catch (...) {
  }
}

void TVLTTable::SetTableName(const std::string& Value) {
  CheckInactive();
  FTableName = Value;
}

void TVLTTable::SetExclusive(bool Value) {
  CheckInactive();
  FExclusive = Value;
}

const std::string& TVLTTable::IndexName() const {
  static const std::string Empty;
  return FFieldsIndex ? Empty : FIndexName;
}

const std::string& TVLTTable::IndexFieldNames() const {
  static const std::string Empty;
  return FFieldsIndex ? FIndexName : Empty;
}

void TVLTTable::SetIndexName(const std::string& Value) {
  if (Active()) CheckBrowseMode();
  const std::string OldName = FIndexName;
  const bool OldFieldsIndex = FFieldsIndex;
  FIndexName = Value;
  FFieldsIndex = false;
  if (Active()) ChangeIndex(OldName, OldFieldsIndex);
}

void TVLTTable::SetIndexFieldNames(const std::string& Value) {
  if (Active()) CheckBrowseMode();
  const std::string OldName = FIndexName;
  const bool OldFieldsIndex = FFieldsIndex;
  FIndexName = Value;
  FFieldsIndex = !Value.empty();
  if (Active()) ChangeIndex(OldName, OldFieldsIndex);
}

void TVLTTable::ChangeIndex(const std::string& OldName, bool OldFieldsIndex) {
  if (!MasterLinked()) {
    ApplyIndex();
    return;
  }
  // A linked table must not be left on an index the link cannot use: that view would show
  // every master's records. Back to the index it had, then the error.
  try {
    ApplyIndex();
  } catch (...) {
    FIndexName = OldName;
    FFieldsIndex = OldFieldsIndex;
    try {
      ApplyIndex();
    } catch (...) {
    }
    throw;
  }
}

void TVLTTable::CheckTableName() const {
  const size_t B = FTableName.find_first_not_of(' ');
  if (B == std::string::npos) DatabaseError("Missing TableName property");
}

std::string TVLTTable::ResolveIndexName(TVLTCursor& Cursor) const {
  if (!FFieldsIndex) return FIndexName;
  const std::vector<std::string> Wanted = VLTSplitFieldList(FIndexName);
  const TVLTIndexDefs& Defs = Cursor.GetIndexDefs();
  auto ColumnsOf = [](const TVLTIndexDef& D) {
    std::vector<std::string> Names;
    for (const auto& C : D.FIndexColumns) Names.push_back(C.FFieldName);
    return Names;
  };
  auto Descending = [](const TVLTIndexDef& D) {
    for (const auto& C : D.FIndexColumns)
      if (C.FDescending) return true;
    return false;
  };
  for (int32_t I = 0; I < Defs.Count(); ++I) {
    const auto Cols = ColumnsOf(Defs[I]);
    if (Descending(Defs[I]) || Cols.size() != Wanted.size()) continue;
    bool Same = true;
    for (size_t K = 0; K < Cols.size() && Same; ++K) Same = SameText(Cols[K], Wanted[K]);
    if (Same) return Defs[I].FName;
  }
  for (int32_t I = 0; I < Defs.Count(); ++I) {
    const auto Cols = ColumnsOf(Defs[I]);
    if (Descending(Defs[I]) || Cols.size() < Wanted.size()) continue;
    bool Same = true;
    for (size_t K = 0; K < Wanted.size() && Same; ++K) Same = SameText(Cols[K], Wanted[K]);
    if (Same) return Defs[I].FName;
  }
  DatabaseError("No index for fields '" + FIndexName + "'");
}

void TVLTTable::RecomputeIndexGeometry() {
  TVLTCursor& C = *FHandle;
  FIndexFieldMap.clear();
  if (C.FIndexID == -1) return;
  const TVLTIndexDef* Def = C.GetIndexDefs().GetByObjectId(C.FIndexID);
  if (!Def) return;
  for (const auto& Col : Def->FIndexColumns) {
    const int32_t N = C.FVisibleFieldDefs->GetDefNumberByName(Col.FFieldName);
    if (N < 0) {
      FIndexFieldMap.clear();
      throw EVLTException(10325, "Cannot find index %s", {Def->FName});
    }
    FIndexFieldMap.push_back(N + 1);
  }
}

void TVLTTable::ApplyIndex() {
  TVLTCursor& C = *FHandle;
  C.SetIndexName(ResolveIndexName(C));
  RecomputeIndexGeometry();
  if (FRangeApplied) {
    C.ResetRange();
    FRangeApplied = false;
  }
  ResetKeyBuffers();
  C.DisableRecordBitmap();
  if (MasterLinked()) {
    SetLinkRanges();
    InstallRange();
  }
  if (FState == dsBrowse) First();
}

std::unique_ptr<TVLTCursor> TVLTTable::CreateHandle() {
  CheckTableName();
  auto C = std::make_unique<TVLTLocalCursor>();
  C->FTableName = FTableName;
  C->SetSession(FDatabase->Handle());
  C->FReadOnly = FReadOnly;
  C->FExclusive = FExclusive;
  C->FDisableTempFiles = FDisableTempFiles || FDatabase->FDisableTempFiles;
  C->FIsRepairing = FIsRepairing;
  C->OpenTableByFieldDefs(nullptr, nullptr, nullptr);
  if (FDatabase->FReadOnly) FReadOnly = true;
  return C;
}

void TVLTTable::AfterHandleOpened() {
  for (auto& B : FKeyBuffers) B = FHandle->AllocateKeyRecordBuffer();
  ResetKeyBuffers();
  ReadDefinitionsBack();
  TVLTCursor& C = *FHandle;
  C.SetIndexName(ResolveIndexName(C));
  RecomputeIndexGeometry();
  // The dataset goes to the first record afterwards, inside the range.
  if (MasterLinked()) {
    SetLinkRanges();
    InstallRange();
  }
}

void TVLTTable::BeforeHandleClosed() {
  if (FHandle) {
    if (FRangeApplied) FHandle->ResetRange();
    FHandle->SetKeyBuffer(nullptr);
    for (auto& B : FKeyBuffers)
      if (B) FHandle->FreeRecordBuffer(B);
  }
  FKeyBuffers.fill(nullptr);
  FRangeApplied = false;
  FKeyBuffer = nullptr;
  FIndexFieldMap.clear();
}

void TVLTTable::ResetKeyBuffers() {
  for (auto* B : FKeyBuffers)
    if (B) FHandle->InternalInitKeyBuffer(B);
}

void TVLTTable::ReadDefinitionsBack() {
  TVLTCursor& C = *FHandle;
  FRestructureFieldDefs.Clear();
  for (int32_t I = 0; I < C.FFieldDefs->Count(); ++I) {
    const TVLTFieldDef& F = (*C.FFieldDefs)[I];
    TVLTAdvFieldDef& A = FRestructureFieldDefs.AddFieldDef();
    A.FName = F.FName;
    A.FObjectID = F.FObjectID;
    A.FDataType = F.FAdvancedFieldType;
    A.FSize = F.FFieldSize;
    A.FDefaultValue = F.DefaultValue();
    A.FAutoincIncrement = F.FAutoincIncrement;
    A.FAutoincInitialValue = F.FAutoincInitialValue;
    A.FAutoincMinValue = F.FAutoincMinValue;
    A.FAutoincMaxValue = F.FAutoincMaxValue;
    A.FAutoincCycled = F.FAutoincCycled;
    A.FBLOBCompressionAlgorithm = F.FBLOBCompressionAlgorithm;
    A.FBLOBCompressionMode = F.FBLOBCompressionMode;
    A.FBLOBBlockSize = F.FBLOBBlockSize;
  }
  for (int32_t I = 0; I < C.FConstraintDefs->Count(); ++I) {
    const TVLTConstraintDef& Con = (*C.FConstraintDefs)[I];
    if (Con.FConstraintType == ctNotNull || Con.FConstraintType == ctCheck) {
      const auto& N = static_cast<const TVLTConstraintDefNotNull&>(Con);
      TVLTAdvFieldDef* A = FRestructureFieldDefs.Find(N.FColumnName);
      if (!A) continue;
      if (Con.FConstraintType == ctNotNull) {
        A->FRequired = true;
      } else {
        const auto& Chk = static_cast<const TVLTConstraintDefCheck&>(Con);
        A->FMinValue = Chk.FMinValue;
        A->FMaxValue = Chk.FMaxValue;
      }
    }
  }
  FRestructureIndexDefs.Clear();
  const TVLTIndexDefs& Idx = C.GetIndexDefs();
  for (int32_t I = 0; I < Idx.Count(); ++I) {
    const TVLTIndexDef& D = Idx[I];
    std::vector<std::string> Names, Desc, CaseIns, Sizes;
    for (const auto& Col : D.FIndexColumns) {
      Names.push_back(Col.FFieldName);
      if (Col.FDescending) Desc.push_back(Col.FFieldName);
      if (Col.FCaseInsensitive) CaseIns.push_back(Col.FFieldName);
      Sizes.push_back(std::to_string(Col.FMaxIndexedSize));
    }
    uint8_t Options = 0;
    if (D.FPrimary) Options |= ixPrimary;
    if (D.FUnique) Options |= ixUnique;
    FRestructureIndexDefs.Add(D.FName, JoinNames(Names), Options, D.FTemporary, JoinNames(Desc),
                              JoinNames(CaseIns), JoinNames(Sizes));
  }
}

void TVLTTable::WithTableCursor(const std::function<void(TVLTCursor&)>& Operation) {
  if (FDatabaseName.empty()) DatabaseError("DatabaseName property is blank");
  OpenDatabase();
  try {
    TVLTLocalCursor C;
    C.FTableName = FTableName;
    C.SetSession(FDatabase->Handle());
    C.FReadOnly = false;
    C.FExclusive = true;
    C.FDisableTempFiles = FDisableTempFiles || FDatabase->FDisableTempFiles;
    Operation(C);
  } catch (...) {
    CloseDatabase();
    throw;
  }
  CloseDatabase();
}

void TVLTTable::CheckNoTransaction(int32_t Code, const char* Operation) {
  if (FDatabase && FDatabase->InTransaction())
    throw EVLTException(Code, "Cannot perform '%s' operation on a database in a transaction",
                        {std::string(Operation)});
}

void TVLTTable::BuildEngineDefinitions(TVLTFieldDefs& Fields, TVLTIndexDefs& Indexes,
                                       TVLTConstraintDefs& Constraints) {
  // Field objects without a definition get one.
  for (const auto& F : FFields) {
    if (F->FFieldKind != fkData) continue;
    bool Known = false;
    for (const auto& D : FieldDefs) Known = Known || SameText(D.Name, F->FieldName());
    if (!Known) FieldDefs.push_back({F->FieldName(), F->DataType(), F->Size(), F->FRequired});
  }
  TVLTAdvFieldDefs Adv;
  if (FAdvFieldDefs.Count() == 0) {
    for (auto& D : FieldDefs) {
      if (D.DataType == ftGuid) D.Size = 38;
      Adv.Add(D.Name, AdvancedTypeOfComponentType(D.DataType), D.Size, D.Required);
    }
  } else {
    Adv.Assign(FAdvFieldDefs);
    for (int32_t I = 0; I < Adv.Count(); ++I) {
      TVLTAdvFieldDef& A = Adv[I];
      const TVLTBaseFieldType Base = BaseTypeOfAdvanced(A.FDataType).value_or(bftUnknown);
      for (TVLTVariant* V : {&A.FDefaultValue, &A.FMinValue, &A.FMaxValue}) {
        if (V->IsNull()) continue;
        // A default such as CURRENT_DATE stays text: it is evaluated for every new record.
        if (V == &A.FDefaultValue && IsDefaultValueExpression(*V)) continue;
        if (V->AsAnsiString().empty()) {
          V->Clear(Base);
        } else {
          V->Cast(Base);
        }
      }
      const bool Sized = Base == bftChar || Base == bftWideChar || Base == bftVarchar ||
                         Base == bftWideVarchar || Base == bftBytes || Base == bftVarBytes;
      if (!Sized) A.FSize = 0;
      if (A.FDataType == aftGuid) A.FSize = 38;
    }
  }
  // Validation.
  for (int32_t I = 0; I < Adv.Count(); ++I) {
    const TVLTAdvFieldDef& A = Adv[I];
    if (A.FName.empty())
      throw EVLTException(30499, "Missing field name. FieldNo=%d, table '%s'",
                          {int64_t{I}, FTableName});
    if (IsSizedType(A.FDataType) && A.FSize <= 0)
      throw EVLTException(30453, "Cannot create table '%s' with field: %s %s(%d)",
                          {FTableName, A.FName, std::string(SqlNameOfAdvanced(A.FDataType)),
                           int64_t{A.FSize}});
    if (IsBlobType(A.FDataType) && A.FBLOBCompressionAlgorithm != acaNone &&
        (A.FBLOBCompressionMode == 0 || A.FBLOBCompressionMode > 9))
      throw EVLTException(20257,
                          "Invalid BlobCompressionMode (must be in 1..9 range) for blob field "
                          "'%s'. Cannot create table '%s'",
                          {A.FName, FTableName});
  }
  if (FAdvFieldDefs.Count() != 0) {
    FieldDefs.clear();
    for (int32_t I = 0; I < Adv.Count(); ++I)
      FieldDefs.push_back(
          {Adv[I].FName, DataSetTypeOfAdvanced(Adv[I].FDataType), Adv[I].FSize, Adv[I].FRequired});
  }
  TVLTAdvIndexDefs AdvIdx;
  if (FAdvIndexDefs.Count() == 0) {
    for (const auto& D : IndexDefs)
      AdvIdx.Add(D.Name, D.Fields, D.Options, false, D.DescFields, D.CaseInsFields);
  } else {
    AdvIdx.Assign(FAdvIndexDefs);
    IndexDefs.clear();
    for (int32_t I = 0; I < AdvIdx.Count(); ++I) {
      TVLTAdvIndexDef& A = AdvIdx[I];
      uint8_t Options = A.FOptions;
      auto SameList = [&](const std::string& L) {
        return !L.empty() && JoinNames(VLTSplitFieldList(L)).size() ==
                                 JoinNames(VLTSplitFieldList(A.FFields)).size() &&
               SameText(JoinNames(VLTSplitFieldList(L)), JoinNames(VLTSplitFieldList(A.FFields)));
      };
      if (SameList(A.FDescFields)) Options |= ixDescending;
      if (SameList(A.FCaseInsFields)) Options |= ixCaseInsensitive;
      IndexDefs.push_back({A.FName, A.FFields, A.FDescFields, A.FCaseInsFields, Options});
    }
  }
  // Engine field definitions.
  for (int32_t I = 0; I < Adv.Count(); ++I) {
    const TVLTAdvFieldDef& A = Adv[I];
    TVLTFieldDef& F = Fields.AddNew();
    F.SetName(A.FName);
    F.SetFieldDefDataType(A.FDataType, A.FSize);
    F.FBLOBCompressionAlgorithm = A.FBLOBCompressionAlgorithm;
    F.FBLOBCompressionMode = A.FBLOBCompressionMode;
    F.FBLOBBlockSize = A.FBLOBBlockSize > 0 ? A.FBLOBBlockSize : 102400;
    F.FAutoincIncrement = A.FAutoincIncrement;
    F.FAutoincInitialValue = A.FAutoincInitialValue;
    F.FAutoincMinValue = A.FAutoincMinValue;
    F.FAutoincMaxValue = A.FAutoincMaxValue;
    F.FAutoincCycled = A.FAutoincCycled;
    if (!A.FDefaultValue.IsNull()) F.SetDefaultValue(A.FDefaultValue);
    if (A.FRequired) {
      TVLTConstraintDefNotNull& N = Constraints.AddNotNull();
      N.SetNames(A.FName, FTableName, "");
    }
    if (!A.FMinValue.IsNull() || !A.FMaxValue.IsNull()) {
      TVLTConstraintDefCheck& Chk = Constraints.AddCheck();
      Chk.SetNames(A.FName, FTableName, "");
      Chk.FMinValue = A.FMinValue;
      Chk.FMaxValue = A.FMaxValue;
    }
  }
  // Engine index definitions and their key constraints.
  for (int32_t I = 0; I < AdvIdx.Count(); ++I) {
    TVLTAdvIndexDef& A = AdvIdx[I];
    if (A.FName.empty()) throw EVLTException(20048, "Invalid index name '%s'", {A.FName});
    const std::vector<std::string> Names = VLTSplitFieldList(A.FFields);
    if (Names.empty()) throw EVLTException(20049, "Cannot find index field '%s'", {A.FFields});
    const std::vector<std::string> Desc = VLTSplitFieldList(A.FDescFields);
    const std::vector<std::string> CaseIns = VLTSplitFieldList(A.FCaseInsFields);
    const std::vector<std::string> Sizes = VLTSplitFieldList(A.FMaxIndexedSizes);
    TVLTIndexDef& D = Indexes.AddNew();
    D.SetName(A.FName);
    D.FIndexType = itBTree;
    D.FUnique = (A.FOptions & ixUnique) != 0;
    D.FPrimary = (A.FOptions & ixPrimary) != 0;
    D.FTemporary = A.FTemporary;
    std::string SizesOut;
    for (size_t K = 0; K < Names.size(); ++K) {
      const TVLTAdvFieldDef* F = Adv.Find(Names[K]);
      if (!F) throw EVLTException(20050, "Cannot find index field '%s'", {Names[K]});
      TVLTIndexColumn Col;
      Col.FFieldName = F->FName;
      Col.FDescending = ContainsName(Desc, Names[K]) || ((A.FOptions & ixDescending) && Desc.empty());
      Col.FCaseInsensitive =
          ContainsName(CaseIns, Names[K]) || ((A.FOptions & ixCaseInsensitive) && CaseIns.empty());
      int32_t Size = kDefaultMaxIndexedSize;
      if (K < Sizes.size()) {
        const int32_t Given = std::atoi(Sizes[K].c_str());
        const TVLTAdvancedFieldType T = F->FDataType;
        if (Given > 0 && T != aftGuid && IsSizedType(T)) Size = Given;
      }
      Col.FMaxIndexedSize = Size;
      SizesOut += (K ? ";" : "") + std::to_string(Size);
      D.FIndexColumns.push_back(Col);
    }
    A.FMaxIndexedSizes = SizesOut;
    if (D.FPrimary || D.FUnique) {
      TVLTConstraintDefUnique& U =
          D.FPrimary ? static_cast<TVLTConstraintDefUnique&>(Constraints.AddPK())
                     : Constraints.AddUnique();
      std::string Name = D.FPrimary ? "C_PK" : "C_Unique";
      for (const auto& Col : D.FIndexColumns) {
        Name += "$" + Col.FFieldName;
        U.Columns.push_back({Col.FFieldName, kNoObjectID});
      }
      U.SetName(Name);
      U.FTableName = FTableName;
      U.FIndexName = D.FName;
    }
  }
}

void TVLTTable::CreateTable() {
  CheckInactive();
  CheckTableName();
  TVLTFieldDefs Fields;
  TVLTIndexDefs Indexes;
  TVLTConstraintDefs Constraints;
  WithTableCursor([&](TVLTCursor& C) {
    BuildEngineDefinitions(Fields, Indexes, Constraints);
    CheckNoTransaction(20182, "CreateTable");
    C.CreateTable(Fields, Indexes, Constraints);
  });
}

void TVLTTable::DeleteTable() {
  Close();
  CheckTableName();
  WithTableCursor([&](TVLTCursor& C) {
    CheckNoTransaction(20183, "DeleteTable");
    C.DeleteTable();
  });
}

void TVLTTable::EmptyTable() {
  CheckInactive();
  CheckTableName();
  WithTableCursor([&](TVLTCursor& C) {
    C.EmptyTable();
  });
}

void TVLTTable::RenameTable(const std::string& NewTableName) {
  CheckInactive();
  CheckTableName();
  WithTableCursor([&](TVLTCursor& C) {
    CheckNoTransaction(20181, "RenameTable");
    C.RenameTable(NewTableName);
  });
  FTableName = NewTableName;
}

bool TVLTTable::Exists() {
  if (FDatabaseName.empty()) return false;
  try {
    // Through the session, so that a file name or a reserved database name works as well as a
    // database component's name.
    // A database opened here is closed again (a temporary one kept by the session too).
    TVLTSession* S = VLTSessions().GetSession(FSessionName);
    auto* Found = dynamic_cast<TVLTDatabase*>(S->FindDatabase(FDatabaseName));
    const bool WasOpen = Found && Found->Connected();
    TVLTDatabase* Db = S->OpenDatabase(FDatabaseName);
    bool Result = false;
    try {
      Result = Db->Handle()->TableExists(FTableName);
    } catch (...) {
      S->CloseDatabase(Db);
      throw;
    }
    S->CloseDatabase(Db);
    if (!WasOpen && S->FindDatabase(FDatabaseName) == Db && Db->Connected()) Db->Close();
    return Result;
  } catch (...) {
    return false;
  }
}

void TVLTTable::AddIndex(const std::string& Name, const std::string& Fields, uint8_t Options,
                         const std::string& DescFields, const std::string& CaseInsFields) {
  if (Name.empty()) throw EVLTException(20046, "Invalid index name '%s'", {Name});
  if (VLTSplitFieldList(Fields).empty())
    throw EVLTException(20047, "Cannot find index field '%s'", {Fields});
  TVLTAdvIndexDefs One;
  One.Add(Name, Fields, Options, false, DescFields, CaseInsFields);
  auto Build = [&](TVLTCursor& C) {
    TVLTIndexDef D;
    D.SetName(Name);
    D.FUnique = (Options & ixUnique) != 0;
    D.FPrimary = (Options & ixPrimary) != 0;
    const auto Desc = VLTSplitFieldList(DescFields), CaseIns = VLTSplitFieldList(CaseInsFields);
    for (const auto& N : VLTSplitFieldList(Fields)) {
      if (!C.FFieldDefs || !C.FFieldDefs->GetDefByName(N))
        throw EVLTException(20050, "Cannot find index field '%s'", {N});
      TVLTIndexColumn Col;
      Col.FFieldName = N;
      Col.FDescending = ContainsName(Desc, N) || ((Options & ixDescending) && Desc.empty());
      Col.FCaseInsensitive = ContainsName(CaseIns, N) || ((Options & ixCaseInsensitive) && CaseIns.empty());
      Col.FMaxIndexedSize = kDefaultMaxIndexedSize;
      D.FIndexColumns.push_back(Col);
    }
    if (!C.LockTable(ltX, 50, 100, false))
      throw EVLTException(20228,
                          "Cannot access table '%s' in exclusive mode. Table is open by another user",
                          {FTableName});
    try {
      C.AddIndex(D);
    } catch (...) {
      C.UnlockTable(ltX, true);
      throw;
    }
    C.UnlockTable(ltX, true);
  };
  if (Active()) {
    CheckBrowseMode();
    CheckNoTransaction(20175, "AddIndex");
    Build(*FHandle);
    ReadDefinitionsBack();
    return;
  }
  WithTableCursor([&](TVLTCursor& C) {
    CheckNoTransaction(20175, "AddIndex");
    C.OpenTableByFieldDefs(nullptr, nullptr, nullptr);
    C.InternalInitFieldDefs();
    Build(C);
    C.CloseTable();
  });
}

void TVLTTable::DeleteIndex(const std::string& Name) {
  if (Active()) {
    CheckBrowseMode();
    CheckNoTransaction(20177, "DeleteIndex");
    FHandle->DeleteIndex(Name);
    ReadDefinitionsBack();
    AfterIndexesDeleted();
    return;
  }
  WithTableCursor([&](TVLTCursor& C) {
    CheckNoTransaction(20177, "DeleteIndex");
    C.OpenTableByFieldDefs(nullptr, nullptr, nullptr);
    C.InternalInitFieldDefs();
    C.DeleteIndex(Name);
    C.CloseTable();
  });
}

void TVLTTable::AfterIndexesDeleted() {
  // The active index may be gone: the key geometry, the keys and any range on it go too.
  const bool Lost = FHandle->FIndexID == -1 && !FIndexFieldMap.empty();
  RecomputeIndexGeometry();
  if (!Lost) return;
  if (FRangeApplied) {
    FHandle->ResetRange();
    FRangeApplied = false;
  }
  ResetKeyBuffers();
  FHandle->DisableRecordBitmap();
  // A link that cannot use what is left raises rather than show every master's records.
  if (MasterLinked()) {
    SetLinkRanges();
    InstallRange();
  }
  First();
}

void TVLTTable::DeleteAllIndexes() {
  if (Active()) {
    CheckBrowseMode();
    CheckNoTransaction(20178, "DeleteAllIndexes");
    FHandle->DeleteAllIndexes();
    ReadDefinitionsBack();
    AfterIndexesDeleted();
    return;
  }
  CheckTableName();
  WithTableCursor([&](TVLTCursor& C) {
    CheckNoTransaction(20178, "DeleteAllIndexes");
    C.OpenTableByFieldDefs(nullptr, nullptr, nullptr);
    C.InternalInitFieldDefs();
    C.DeleteAllIndexes();
    C.CloseTable();
  });
}

void TVLTTable::RenameField(const std::string& FieldName, const std::string& NewFieldName) {
  CheckInactive();
  CheckTableName();
  const bool WasExclusive = FExclusive;
  FExclusive = true;
  try {
    Open();
    CheckNoTransaction(20179, "RenameField");
    FHandle->RenameField(FieldName, NewFieldName);
  } catch (...) {
    try {
      Close();
    } catch (...) {
    }
    FExclusive = WasExclusive;
    throw;
  }
  Close();
  FExclusive = WasExclusive;
}

namespace {

// The engine wants one order and one case entry per field; missing entries are empty (no
// requirement when searching, ascending and case-sensitive when creating).
std::vector<std::string> Padded(const std::vector<std::string>& List, size_t Count) {
  std::vector<std::string> Out = List;
  if (Out.size() < Count) Out.resize(Count);
  return Out;
}

}  // namespace

void TVLTTable::ApplyDistinct(const std::vector<std::string>& FieldNamesList,
                              const std::vector<std::string>& AscDescList,
                              const std::vector<std::string>& CaseSensitivityList) {
  CheckActive();
  CheckBrowseMode();
  const size_t N = FieldNamesList.size();
  FHandle->ApplyDistinct(FieldNamesList, Padded(AscDescList, N), Padded(CaseSensitivityList, N));
  ReadDefinitionsBack();
  SetIndexName(FHandle->IndexName());
}

std::string TVLTTable::FindOrCreateIndex(const std::vector<std::string>& FieldNamesList,
                                         const std::vector<std::string>& AscDescList,
                                         const std::vector<std::string>& CaseSensitivityList,
                                         bool& IsCreated) {
  CheckActive();
  CheckBrowseMode();
  const size_t N = FieldNamesList.size();
  const std::string Name = FHandle->FindOrCreateIndex(
      FieldNamesList, Padded(AscDescList, N), Padded(CaseSensitivityList, N), IsCreated);
  ReadDefinitionsBack();
  return Name;
}

bool TVLTTable::IndexExists(const std::vector<std::string>& FieldNamesList,
                            const std::vector<std::string>& AscDescList,
                            const std::vector<std::string>& CaseSensitivityList) {
  CheckActive();
  const size_t N = FieldNamesList.size();
  return FHandle->IndexExists(FieldNamesList, Padded(AscDescList, N),
                              Padded(CaseSensitivityList, N));
}

// ---- keys and ranges ----

void TVLTTable::CheckSetKeyField(const TVLTField& Field) {
  for (int32_t N : FIndexFieldMap)
    if (N == Field.FieldNo()) return;
  throw EVLTException(20019, "Field %s is not in the current index", {Field.FieldName()});
}

void TVLTTable::SetKeyBuffer(TKeyIndex Which, bool Clear) {
  CheckBrowseMode();
  std::memcpy(FKeyBuffers[kiSave], FKeyBuffers[Which], static_cast<size_t>(FHandle->FKeyBufferSize));
  if (Clear) FHandle->InternalInitKeyBuffer(FKeyBuffers[Which]);
  FKeyBuffer = FKeyBuffers[Which];
  FState = dsSetKey;
  FModified = false;
}

void TVLTTable::SetKey() { SetKeyBuffer(kiLookup, true); }
void TVLTTable::EditKey() { SetKeyBuffer(kiLookup, false); }
void TVLTTable::SetRangeStart() { SetKeyBuffer(kiRangeStart, true); }
void TVLTTable::SetRangeEnd() { SetKeyBuffer(kiRangeEnd, true); }
void TVLTTable::EditRangeStart() { SetKeyBuffer(kiRangeStart, false); }
void TVLTTable::EditRangeEnd() { SetKeyBuffer(kiRangeEnd, false); }

bool TVLTTable::KeyExclusive() const {
  if (FState != dsSetKey) DatabaseError("Dataset not in edit or insert mode");
  return FHandle->KeyExclusive(FKeyBuffer);
}
void TVLTTable::SetKeyExclusive(bool Value) {
  if (FState != dsSetKey) DatabaseError("Dataset not in edit or insert mode");
  FHandle->SetKeyExclusive(FKeyBuffer, Value);
}
int32_t TVLTTable::KeyFieldCount() const {
  if (FState != dsSetKey) DatabaseError("Dataset not in edit or insert mode");
  return FHandle->GetKeyFieldCount(FKeyBuffer);
}
void TVLTTable::SetKeyFieldCount(int32_t Value) {
  if (FState != dsSetKey) DatabaseError("Dataset not in edit or insert mode");
  FHandle->SetKeyFieldCount(FKeyBuffer, Value);
}

TVLTField& TVLTTable::IndexFields(int32_t I) const {
  if (I < 0 || I >= IndexFieldCount()) DatabaseError("Field index out of range");
  const int32_t No = FIndexFieldMap[static_cast<size_t>(I)];
  for (const auto& F : FFields)
    if (F->FieldNo() == No) return *F;
  DatabaseError("Cannot access index field '" + (*FHandle->FVisibleFieldDefs)[No - 1].FName + "'");
}

void TVLTTable::AssignKeyValues(TKeyIndex Which, const std::vector<TVLTVariant>& Values) {
  if (FIndexFieldMap.empty()) DatabaseError("No index currently active");
  FHandle->InternalInitKeyBuffer(FKeyBuffers[Which]);
  FKeyBuffer = FKeyBuffers[Which];
  const TDataSetState Saved = FState;
  FState = dsSetKey;
  try {
    const size_t N = std::min(Values.size(), FIndexFieldMap.size());
    for (size_t I = 0; I < N; ++I) IndexFields(static_cast<int32_t>(I)).SetAsVariant(Values[I]);
    FHandle->SetKeyFieldCount(FKeyBuffer, static_cast<int32_t>(N));
    FHandle->SetKeyModified(FKeyBuffer, true);
  } catch (...) {
    FState = Saved;
    throw;
  }
  FState = Saved;
}

void TVLTTable::ShowFoundRecord() {
  TVLTCursor& C = *FHandle;
  C.PositionOnCurrentRecord();
  FireScroll(BeforeScroll);
  {
    TSharedReadLock Shared(C);
    ReadRecord(grmCurrent);
  }
  FBof = FEof = false;
  AfterScrolled();
}

bool TVLTTable::GotoKey() {
  CheckBrowseMode();
  TVLTCursor& C = *FHandle;
  uint8_t* Key = FKeyBuffers[kiLookup];
  C.SetKeyBuffer(Key);
  const int32_t Count = C.GetKeyFieldCount(Key);
  C.FKeyFieldCount = Count > 0 ? Count : IndexFieldCount();
  TVLTSavedPosition Pos(C);
  bool Found = false;
  {
    TScratchRecord Scratch(C, FActiveBuffer);
    Found = C.FindKey(scEqual);
  }
  if (Found)
    ShowFoundRecord();
  else
    Pos.Restore();
  return Found;
}

void TVLTTable::GotoNearest() {
  CheckBrowseMode();
  TVLTCursor& C = *FHandle;
  uint8_t* Key = FKeyBuffers[kiLookup];
  C.SetKeyBuffer(Key);
  const int32_t Count = C.GetKeyFieldCount(Key);
  C.FKeyFieldCount = Count > 0 ? Count : IndexFieldCount();
  bool Found = false;
  {
    TScratchRecord Scratch(C, FActiveBuffer);
    Found = C.FindKey(C.KeyExclusive(Key) ? scGreater : scGreaterEqual);
  }
  if (Found)
    ShowFoundRecord();
  else
    Last();
}

bool TVLTTable::FindKey(const std::vector<TVLTVariant>& KeyValues) {
  CheckBrowseMode();
  AssignKeyValues(kiLookup, KeyValues);
  return GotoKey();
}

void TVLTTable::FindNearest(const std::vector<TVLTVariant>& KeyValues) {
  CheckBrowseMode();
  AssignKeyValues(kiLookup, KeyValues);
  GotoNearest();
}

bool TVLTTable::InstallRange() {
  TVLTCursor& C = *FHandle;
  const size_t Size = static_cast<size_t>(C.FKeyBufferSize);
  for (TKeyIndex K : {kiRangeStart, kiRangeEnd, kiAppliedStart, kiAppliedEnd})
    C.ClearStringFieldsGarbage(FKeyBuffers[K]);
  if (FRangeApplied && std::memcmp(FKeyBuffers[kiRangeStart], FKeyBuffers[kiAppliedStart], Size) == 0 &&
      std::memcmp(FKeyBuffers[kiRangeEnd], FKeyBuffers[kiAppliedEnd], Size) == 0)
    return false;
  std::memcpy(FKeyBuffers[kiAppliedStart], FKeyBuffers[kiRangeStart], Size);
  std::memcpy(FKeyBuffers[kiAppliedEnd], FKeyBuffers[kiRangeEnd], Size);
  uint8_t* S = FKeyBuffers[kiAppliedStart];
  uint8_t* E = FKeyBuffers[kiAppliedEnd];
  C.ApplyRange(C.KeyModified(S) ? S : nullptr, C.KeyModified(E) ? E : nullptr,
               C.GetKeyFieldCount(S), C.GetKeyFieldCount(E), C.KeyExclusive(S), C.KeyExclusive(E));
  FRangeApplied = true;
  return true;
}

void TVLTTable::ApplyRange() {
  CheckBrowseMode();
  if (!InstallRange()) return;
  TSharedReadLock Shared(*FHandle);
  First();
}

void TVLTTable::CancelRange() {
  CheckBrowseMode();
  if (!FRangeApplied) return;
  for (TKeyIndex K : {kiRangeStart, kiRangeEnd, kiAppliedStart, kiAppliedEnd})
    FHandle->InternalInitKeyBuffer(FKeyBuffers[K]);
  FHandle->ResetRange();
  FRangeApplied = false;
  First();
}

void TVLTTable::SetRange(const std::vector<TVLTVariant>& StartValues,
                         const std::vector<TVLTVariant>& EndValues) {
  CheckBrowseMode();
  AssignKeyValues(kiRangeStart, StartValues);
  AssignKeyValues(kiRangeEnd, EndValues);
  ApplyRange();
}

// ---- master-detail ----

void TVLTMasterDataLink::ActiveChanged() { FDetail.MasterChanged(); }
void TVLTMasterDataLink::RecordChanged() { FDetail.MasterChanged(); }

bool TVLTTable::MasterLinked() const {
  return !FMasterLinkSuspended && FMasterLink.DataSet() &&
         !VLTSplitFieldList(FMasterLink.FFieldNames).empty();
}

TVLTTable::TSuspendedMasterLink::TSuspendedMasterLink(TVLTTable& Table)
    : FTable(Table), FWasLinked(Table.MasterLinked()) {
  if (!FWasLinked) return;
  FTable.FMasterLinkSuspended = true;
  if (FTable.Active()) FTable.CancelRange();
}

TVLTTable::TSuspendedMasterLink::~TSuspendedMasterLink() {
  if (!FWasLinked) return;
  FTable.FMasterLinkSuspended = false;
  if (!FTable.Active()) return;
  try {
    FTable.MasterLinkChanged();
  } catch (...) {
  }
}

void TVLTTable::SetMasterSource(TVLTDataSet* Value) {
  TVLTDataSet* Old = FMasterLink.DataSet();
  if (Value == Old) return;
  if (Value && Value->IsLinkedTo(this)) DatabaseError("Circular datalinks are not allowed");
  if (Active()) CheckBrowseMode();
  FMasterLink.SetDataSet(Value);
  if (!Active()) return;
  try {
    MasterLinkChanged();
  } catch (...) {
    FMasterLink.SetDataSet(Old);
    try {
      MasterLinkChanged();
    } catch (...) {
    }
    throw;
  }
}

void TVLTTable::SetMasterFields(const std::string& Value) {
  if (Active()) CheckBrowseMode();
  const std::string Old = FMasterLink.FFieldNames;
  FMasterLink.FFieldNames = Value;
  if (!Active()) return;
  try {
    MasterLinkChanged();
  } catch (...) {
    FMasterLink.FFieldNames = Old;
    try {
      MasterLinkChanged();
    } catch (...) {
    }
    throw;
  }
}

void TVLTTable::MasterLinkChanged() {
  if (MasterLinked()) {
    SetLinkRanges();
    ApplyRange();
  } else {
    CancelRange();
  }
}

void TVLTTable::MasterChanged() {
  if (!Active() || !MasterLinked()) return;
  // Pending changes of the detail record are posted (or an untouched one cancelled) before
  // the detail follows its master.
  CheckBrowseMode();
  SetLinkRanges();
  ApplyRange();
}

std::vector<TVLTField*> TVLTTable::MasterIndexFields() const {
  if (FIndexFieldMap.empty()) DatabaseError("No index currently active");
  const size_t Count = VLTSplitFieldList(FMasterLink.FFieldNames).size();
  std::vector<TVLTField*> Fields;
  for (size_t I = 0; I < Count; ++I) Fields.push_back(&IndexFields(static_cast<int32_t>(I)));
  return Fields;
}

void TVLTTable::SetLinkRanges() {
  const std::vector<TVLTField*> Fields = MasterIndexFields();
  TVLTDataSet* Master = FMasterLink.DataSet();
  const bool HasRecord = Master && Master->Active() && !Master->IsEmpty();
  std::vector<TVLTVariant> Values(Fields.size());
  if (HasRecord) {
    const std::vector<std::string> Names = VLTSplitFieldList(FMasterLink.FFieldNames);
    for (size_t I = 0; I < Names.size(); ++I) Values[I] = Master->FieldByName(Names[I]).AsVariant();
  }
  AssignKeyValues(kiRangeStart, Values);
  AssignKeyValues(kiRangeEnd, Values);
  // Without a master record both ends exclude the same key: no record lies between them.
  FHandle->SetKeyExclusive(FKeyBuffers[kiRangeStart], !HasRecord);
  FHandle->SetKeyExclusive(FKeyBuffers[kiRangeEnd], !HasRecord);
}

void TVLTTable::DoOnNewRecord() {
  TVLTDataSet* Master = FMasterLink.DataSet();
  if (MasterLinked() && Master->Active() && !Master->IsEmpty()) {
    const std::vector<std::string> Names = VLTSplitFieldList(FMasterLink.FFieldNames);
    const std::vector<TVLTField*> Fields = MasterIndexFields();
    for (size_t I = 0; I < Names.size(); ++I)
      Fields[I]->SetAsVariant(Master->FieldByName(Names[I]).AsVariant());
    // The link's values alone are no change by the user: an untouched new record is still
    // cancelled, not posted, when the dataset returns to browsing.
    FModified = false;
  }
  TVLTDataSet::DoOnNewRecord();
}

int64_t TVLTTable::LastAutoincValue(const std::string& FieldName) {
  CheckActive();
  return FHandle->LastAutoincValue(FieldByName(FieldName).FieldNo() - 1);
}

bool TVLTTable::IsRecordLocked() {
  if (!Active() || !FHasRecord) return false;
  FHandle->SetCurrentRecordBuffer(FActiveBuffer);
  return FHandle->IsRecordLocked();
}

// ---- copying ----

namespace {

std::string Trimmed(const std::string& S) {
  const size_t B = S.find_first_not_of(" \t"), E = S.find_last_not_of(" \t");
  return B == std::string::npos ? std::string() : S.substr(B, E - B + 1);
}

// Two names of one database file (the same path written differently).
bool SameDatabaseFile(const std::string& A, const std::string& B) {
  std::error_code E1, E2;
  const auto CA = std::filesystem::weakly_canonical(A, E1);
  const auto CB = std::filesystem::weakly_canonical(B, E2);
  if (!E1 && !E2) return CA == CB;
  return A == B;
}

// Re-opens a table for a copy and puts it back afterwards: the same record when it was open
// (pending edits are posted first), closed when it was closed.
class TReopenedTable {
 public:
  explicit TReopenedTable(TVLTTable& Table) : FTable(Table), FWasActive(Table.Active()) {
    if (FWasActive) {
      FTable.CheckBrowseMode();
      if (!FTable.IsEmpty()) FBookmark = FTable.GetBookmark();
      FTable.Close();
    }
    FTable.Open();
  }
  ~TReopenedTable() {
    try {
      if (!FWasActive) {
        FTable.Close();
      } else if (FTable.Active() && !FBookmark.empty() && FTable.BookmarkValid(FBookmark)) {
        FTable.GotoBookmark(FBookmark);
      }
    } catch (...) {
    }
  }
  TReopenedTable(const TReopenedTable&) = delete;
  TReopenedTable& operator=(const TReopenedTable&) = delete;

 private:
  TVLTTable& FTable;
  bool FWasActive;
  TVLTBookmark FBookmark;
};

// Fires an "after" event when the scope ends, also by error (a wait window must close).
class TAfterEvent {
 public:
  TAfterEvent(const TVLTDataSet::TDataSetNotifyEvent& Event, TVLTTable& Table)
      : FEvent(Event), FTable(Table) {}
  ~TAfterEvent() {
    if (!FEvent) return;
    try {
      FEvent(FTable);
    } catch (...) {
    }
  }
  TAfterEvent(const TAfterEvent&) = delete;
  TAfterEvent& operator=(const TAfterEvent&) = delete;

 private:
  const TVLTDataSet::TDataSetNotifyEvent& FEvent;
  TVLTTable& FTable;
};

}  // namespace

bool TVLTTable::CopyTable(TVLTDatabase& DestDatabase, const std::string& NewTableName,
                          std::string& Log, bool& Continue, bool IgnoreErrors,
                          bool OverwriteExistingTable, bool CopyIndexes, int32_t MinProgress,
                          int32_t MaxProgress) {
  TReopenedTable Reopened(*this);
  TSuspendedMasterLink WholeTable(*this);
  return CopyTableInto(DestDatabase, NewTableName, Log, Continue, IgnoreErrors,
                       OverwriteExistingTable, CopyIndexes, MinProgress, MaxProgress);
}

bool TVLTTable::CopyTable(const std::string& NewTableName, std::string& Log, bool& Continue,
                          const std::string& DestDatabaseFileName,
                          const std::string& DestDatabasePassword, bool IgnoreErrors,
                          bool OverwriteExistingTable, bool CopyIndexes, int32_t MinProgress,
                          int32_t MaxProgress) {
  if (SameText(Trimmed(DestDatabaseFileName), "MEMORY"))
    throw EVLTException(30462,
                        "Cannot copy table '%s' into the in-memory database: in-memory tables "
                        "are not available",
                        {FTableName});
  TReopenedTable Reopened(*this);
  TSuspendedMasterLink WholeTable(*this);
  // Checked before the destination is opened: the source's own connection may keep others out.
  if (SameText(NewTableName, FTableName) &&
      SameDatabaseFile(DestDatabaseFileName, FDatabase->DatabaseFileName())) {
    const std::string Text =
        "Cannot copy table '" + FDatabaseName + "." + FTableName + "' into it self";
    if (!IgnoreErrors) throw EVLTException(30447, Text);
    Log += Text + "\n";
    return false;
  }
  TVLTDatabase TempDb;
  TempDb.FName = "TempDb";
  TempDb.SetSessionName(FDatabase->SessionName());
  TempDb.SetDatabaseName("TempDb" + VLTNewGuidText());
  TempDb.SetDatabaseFileName(DestDatabaseFileName);
  TempDb.FPassword = DestDatabasePassword;
  TempDb.FCryptoAlgorithm = FDatabase->FCryptoAlgorithm;  // the file's own cipher wins on open
  TempDb.FMultiUser = FDatabase->FMultiUser;
  TempDb.FSilentMode = true;
  try {
    TempDb.Open();
  } catch (const std::exception& E) {
    if (!IgnoreErrors) throw;
    Log += std::string(E.what()) + "\n";
    return false;
  }
  const bool Result = CopyTableInto(TempDb, NewTableName, Log, Continue, IgnoreErrors,
                                    OverwriteExistingTable, CopyIndexes, MinProgress, MaxProgress);
  TempDb.Close();
  return Result;
}

bool TVLTTable::CopyTable(const std::string& NewTableName, const std::string& DestDatabaseFileName,
                          const std::string& DestDatabasePassword) {
  std::string Log;
  bool Continue = true;
  return CopyTable(NewTableName, Log, Continue, DestDatabaseFileName, DestDatabasePassword, false,
                   false, true, 0, 100);
}

bool TVLTTable::CopyTableInto(TVLTDatabase& DestDatabase, const std::string& NewTableName,
                              std::string& Log, bool& Continue, bool IgnoreErrors,
                              bool OverwriteExistingTable, bool CopyIndexes, int32_t MinProgress,
                              int32_t MaxProgress) {
  auto Fail = [&](const EVLTException& E) {
    if (!IgnoreErrors) throw E;
    Log += std::string(E.what()) + "\n";
    return false;
  };
  if (SameText(NewTableName, FTableName) &&
      (&DestDatabase == FDatabase ||
       SameDatabaseFile(DestDatabase.DatabaseFileName(), FDatabase->DatabaseFileName())))
    return Fail(EVLTException(30447, "Cannot copy table '" + FDatabaseName + "." + FTableName +
                                         "' into it self"));
  TVLTCursor& Src = *FHandle;
  for (int32_t I = 0; I < Src.VisibleFieldCount(); ++I) {
    const std::string& Name = (*Src.FVisibleFieldDefs)[I].FName;
    if (!FindField(Name))
      throw EVLTException(20297,
                          "Cannot copy table \"%s\". Field object for field \"%s\" is not created.",
                          {FTableName, Name});
  }

  if (BeforeCopy) BeforeCopy(*this);
  TAfterEvent FireAfter(AfterCopy, *this);
  TVLTTable Dest;
  Dest.FName = NewTableName;
  Dest.SetDatabaseName(DestDatabase.DatabaseName());
  Dest.FSessionName = DestDatabase.SessionName();
  Dest.SetTableName(NewTableName);
  Dest.AdvFieldDefs().Assign(FRestructureFieldDefs);
  if (CopyIndexes) Dest.AdvIndexDefs().Assign(FRestructureIndexDefs, true);
  if (Dest.Exists()) {
    if (!OverwriteExistingTable)
      return Fail(EVLTException(30448, "Table '%s.%s' already exists",
                                {DestDatabase.DatabaseName(), NewTableName}));
    Dest.DeleteTable();
  }
  try {
    Dest.CreateTable();
  } catch (const std::exception& E) {
    return Fail(EVLTException(30450, "Create table '%s.%s' error: '%s'",
                              {DestDatabase.DatabaseName(), NewTableName, std::string(E.what())}));
  }
  Dest.Open();

  // Destination field number of each source field (the same names by construction).
  TVLTCursor& Dst = *Dest.FHandle;
  std::vector<int32_t> DestNo(static_cast<size_t>(Src.VisibleFieldCount()), -1);
  for (int32_t I = 0; I < Src.VisibleFieldCount(); ++I)
    DestNo[static_cast<size_t>(I)] =
        Dst.FVisibleFieldDefs->GetDefNumberByName((*Src.FVisibleFieldDefs)[I].FName);

  const int64_t Total = std::max<int64_t>(1, RecordCount());
  int64_t RecNoCopied = 0;
  bool Completed = true;
  // Position: record number (in the table's current order) of the record shown. A record that
  // cannot be read is skipped by number, so one damaged page costs only its own records.
  int64_t Position = 1;
  auto SkipUnreadable = [&](int64_t From) {
    for (int64_t N = From; N <= Total; ++N) {
      try {
        SetRecNo(static_cast<int32_t>(N));
        Position = N;
        return true;
      } catch (const std::exception&) {
        Log += "Record #" + std::to_string(N) + " corrupted and skipped.\n";
      }
    }
    return false;
  };
  try {
    First();
  } catch (const std::exception&) {
    if (!IgnoreErrors) throw;
    if (!SkipUnreadable(1)) FEof = true;
  }
  while (!Eof()) {
    ++RecNoCopied;
    Dest.Append();
    for (int32_t I = 0; I < Src.VisibleFieldCount(); ++I) {
      if (DestNo[static_cast<size_t>(I)] < 0) continue;
      try {
        Src.SetCurrentRecordBuffer(FActiveBuffer);
        Dst.SetCurrentRecordBuffer(Dest.FActiveBuffer);
        Src.PositionOnRecord(Src.GetBufferRecordID(FActiveBuffer));
        Src.CopyFieldValue(I, false, DestNo[static_cast<size_t>(I)], Dst);
        Dest.FModified = true;
      } catch (const std::exception& E) {
        if (!IgnoreErrors) {
          Dest.Cancel();
          throw;
        }
        Log += "Error copying table \"" + FTableName + "\". Record #" + std::to_string(RecNoCopied) +
               ", field '" + (*Src.FVisibleFieldDefs)[I].FName +
               "' was copied with Null value due to error: " + E.what() + "\n";
      }
    }
    try {
      Dest.Post();
    } catch (const std::exception& E) {
      try {
        Dest.Cancel();
      } catch (...) {
      }
      if (!IgnoreErrors) throw;
      Log += "Error copying table \"" + FTableName + "\". Record #" + std::to_string(RecNoCopied) +
             " was not imported due to error: " + E.what() + "\n\n";
    }
    const int32_t Percent = MinProgress + static_cast<int32_t>((MaxProgress - MinProgress) *
                                                               std::min(RecNoCopied, Total) / Total);
    if (OnCopyProgress) OnCopyProgress(*this, Percent, Continue);
    if (!Continue) {
      Log += "Terminated by User.\n";
      Completed = false;
      break;
    }
    try {
      Next();
      ++Position;
    } catch (const std::exception&) {
      if (!IgnoreErrors) throw;
      Log += "Record #" + std::to_string(Position + 1) + " corrupted and skipped.\n";
      if (!SkipUnreadable(Position + 2)) break;
    }
  }
  Dest.Close();
  return Completed;
}

}  // namespace vlt
