// The engine definitions of a table component: the index-column rules (VLTTableEngineDefs.h),
// building the engine's field, index and constraint definitions from the component-level and
// extended definitions (CreateTable), and reading the extended definitions back from an open
// table (RestructureFieldDefs, RestructureIndexDefs, the input of copying and restructuring).
#include "engine/components/VLTTableEngineDefs.h"

#include <cstdlib>

#include "engine/base/VLTExcept.h"
#include "engine/components/VLTTable.h"

namespace vlt {

namespace {

bool IsSizedType(TVLTAdvancedFieldType T) {
  return T == aftChar || T == aftString || T == aftWideChar || T == aftWideString || T == aftGuid ||
         T == aftBytes || T == aftVarBytes;
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

}  // namespace

TVLTIndexColumnRules::TVLTIndexColumnRules(const std::string& Fields, const std::string& DescFields,
                                           const std::string& CaseInsFields, uint8_t Options)
    : FNames(VLTSplitFieldList(Fields)),
      FDesc(VLTSplitFieldList(DescFields)),
      FCaseIns(VLTSplitFieldList(CaseInsFields)),
      FDescGiven(!DescFields.empty()),
      FCaseInsGiven(!CaseInsFields.empty()),
      FOptions(Options) {}

bool TVLTIndexColumnRules::Descending(const std::string& FieldName) const {
  return ContainsName(FDesc, FieldName) || ((FOptions & ixDescending) && FDesc.empty());
}

bool TVLTIndexColumnRules::CaseInsensitive(const std::string& FieldName) const {
  return ContainsName(FCaseIns, FieldName) || ((FOptions & ixCaseInsensitive) && FCaseIns.empty());
}

TVLTIndexColumn TVLTIndexColumnRules::Column(size_t K, int32_t MaxIndexedSize) const {
  TVLTIndexColumn Col;
  Col.FFieldName = FNames.at(K);
  Col.FDescending = Descending(Col.FFieldName);
  Col.FCaseInsensitive = CaseInsensitive(Col.FFieldName);
  Col.FMaxIndexedSize = MaxIndexedSize;
  return Col;
}

bool TVLTIndexColumnRules::SameList(const std::vector<std::string>& List) const {
  const std::string A = VLTJoinFieldList(List), B = VLTJoinFieldList(FNames);
  return A.size() == B.size() && SameText(A, B);
}

int32_t VLTIndexedSize(const std::string& Given, TVLTAdvancedFieldType T) {
  const int32_t Size = std::atoi(Given.c_str());
  return Size > 0 && T != aftGuid && IsSizedType(T) ? Size : kVLTDefaultMaxIndexedSize;
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
    FRestructureIndexDefs.Add(D.FName, VLTJoinFieldList(Names), Options, D.FTemporary,
                              VLTJoinFieldList(Desc), VLTJoinFieldList(CaseIns),
                              VLTJoinFieldList(Sizes));
  }
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
      throw EVLTException(
          30453, "Cannot create table '%s' with field: %s %s(%d)",
          {FTableName, A.FName, std::string(SqlNameOfAdvanced(A.FDataType)), int64_t{A.FSize}});
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
      const TVLTIndexColumnRules Rules(A.FFields, A.FDescFields, A.FCaseInsFields, A.FOptions);
      if (Rules.AllDescending()) Options |= ixDescending;
      if (Rules.AllCaseInsensitive()) Options |= ixCaseInsensitive;
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
    const TVLTIndexColumnRules Rules(A.FFields, A.FDescFields, A.FCaseInsFields, A.FOptions);
    const std::vector<std::string>& Names = Rules.Names();
    if (Names.empty()) throw EVLTException(20049, "Cannot find index field '%s'", {A.FFields});
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
      const int32_t Size =
          VLTIndexedSize(K < Sizes.size() ? Sizes[K] : std::string(), F->FDataType);
      TVLTIndexColumn Col = Rules.Column(K, Size);
      Col.FFieldName = F->FName;
      SizesOut += (K ? ";" : "") + std::to_string(Size);
      D.FIndexColumns.push_back(Col);
    }
    A.FMaxIndexedSizes = SizesOut;
    if (D.FPrimary || D.FUnique) {
      TVLTConstraintDefUnique& U = D.FPrimary
                                       ? static_cast<TVLTConstraintDefUnique&>(Constraints.AddPK())
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

}  // namespace vlt
