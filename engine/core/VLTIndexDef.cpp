#include "engine/core/VLTIndexDef.h"

#include "engine/base/VLTExcept.h"
#include "engine/core/VLTFieldDef.h"
#include "engine/protect/VLTStream.h"

namespace vlt {

namespace {
// Native codes of the index definition's stream fields (read, write).
constexpr int32_t kReadType = 10344, kWriteType = 10345;
constexpr int32_t kReadUnique = 10346, kWriteUnique = 10347;
constexpr int32_t kReadPrimary = 10348, kWritePrimary = 10349;
constexpr int32_t kReadColumnCount = 10350, kWriteColumnCount = 10351;
constexpr int32_t kReadRoot = 10352, kWriteRoot = 10353;
constexpr int32_t kReadColumnName = 10354, kWriteColumnName = 10355;
constexpr int32_t kReadDescending = 10356, kWriteDescending = 10357;
constexpr int32_t kReadCase = 10358, kWriteCase = 10359;
constexpr int32_t kReadMaxSize = 10360, kWriteMaxSize = 10361;
constexpr int32_t kBadColumnCount = 30414;
// An index cannot have more columns than a table has fields, and a name is at most 255
// characters; a count beyond this is damage.
constexpr int32_t kMaxColumns = 4096;

void CheckLengths(size_t L1, size_t L2, int32_t Code) {
  if (L1 != L2)
    throw EVLTException(Code, "Error - different list lengths. L1 = %d, L2 = %d",
                        {int64_t(L1), int64_t(L2)});
}
}  // namespace

void TVLTIndexDef::AssignByNames(const std::vector<std::string>& FieldNames,
                                 const std::vector<std::string>& AscDescList,
                                 const std::vector<std::string>& CaseSensitivityList) {
  CheckLengths(FieldNames.size(), AscDescList.size(), 10278);
  CheckLengths(FieldNames.size(), CaseSensitivityList.size(), 10279);
  SetColumnCount(static_cast<int32_t>(FieldNames.size()));
  for (size_t I = 0; I < FieldNames.size(); ++I) {
    TVLTIndexColumn& C = FIndexColumns[I];
    C.FFieldName = FieldNames[I];
    C.FDescending = AscDescList[I] == "DESC";
    C.FCaseInsensitive = CaseSensitivityList[I] == "NO_CASE";
    C.FMaxIndexedSize = 20;
  }
}

void TVLTIndexDef::Assign(const TVLTMetaObjectDef& Source) {
  TVLTMetaObjectDef::Assign(Source);
  const auto& S = static_cast<const TVLTIndexDef&>(Source);
  FIndexType = S.FIndexType;
  FUnique = S.FUnique;
  FPrimary = S.FPrimary;
  FRootPageNo = S.FRootPageNo;
  FIndexColumns = S.FIndexColumns;
  FTemporary = S.FTemporary;
  FSessionID = S.FSessionID;
  FTableState = S.FTableState;
  FNeedRebuild = S.FNeedRebuild;
}

void TVLTIndexDef::LoadFromStream(TVLTStream& Stream) {
  TVLTMetaObjectDef::LoadFromStream(Stream);
  uint8_t Type = VLTReadLE<uint8_t>(Stream, kReadType);
  FIndexType = Type == itAnotherOne ? itAnotherOne : itBTree;
  FUnique = VLTReadLE<uint8_t>(Stream, kReadUnique) != 0;
  FPrimary = VLTReadLE<uint8_t>(Stream, kReadPrimary) != 0;
  int32_t Columns = VLTReadLE<int32_t>(Stream, kReadColumnCount);
  if (Columns < 0 || Columns > kMaxColumns)
    throw EVLTException(kBadColumnCount, "Invalid column count %d of index '%s'",
                        {int64_t{Columns}, FName});
  FRootPageNo = VLTReadLE<int32_t>(Stream, kReadRoot);
  FIndexColumns.clear();
  for (int32_t I = 0; I < Columns; ++I) {
    TVLTIndexColumn C;
    VLTReadName(Stream, C.FFieldName, kReadColumnName);
    C.FDescending = VLTReadLE<uint8_t>(Stream, kReadDescending) != 0;
    C.FCaseInsensitive = VLTReadLE<uint8_t>(Stream, kReadCase) != 0;
    C.FMaxIndexedSize = VLTReadLE<int32_t>(Stream, kReadMaxSize);
    FIndexColumns.push_back(std::move(C));
  }
  FTemporary = false;
}

void TVLTIndexDef::SaveToStream(TVLTStream& Stream) const {
  TVLTMetaObjectDef::SaveToStream(Stream);
  VLTWriteLE<uint8_t>(Stream, FIndexType, kWriteType);
  VLTWriteLE<uint8_t>(Stream, FUnique ? 1 : 0, kWriteUnique);
  VLTWriteLE<uint8_t>(Stream, FPrimary ? 1 : 0, kWritePrimary);
  VLTWriteLE<int32_t>(Stream, ColumnCount(), kWriteColumnCount);
  VLTWriteLE<int32_t>(Stream, FRootPageNo, kWriteRoot);
  for (const TVLTIndexColumn& C : FIndexColumns) {
    VLTWriteName(Stream, C.FFieldName, kWriteColumnName);
    VLTWriteLE<uint8_t>(Stream, C.FDescending ? 1 : 0, kWriteDescending);
    VLTWriteLE<uint8_t>(Stream, C.FCaseInsensitive ? 1 : 0, kWriteCase);
    VLTWriteLE<int32_t>(Stream, C.FMaxIndexedSize, kWriteMaxSize);
  }
}

void TVLTIndexDefs::Replace(int32_t Index, std::unique_ptr<TVLTIndexDef> Def) {
  FDefsList[CheckIndex(Index)] = std::move(Def);
}

TVLTObjectID TVLTIndexDefs::FindIndex(const std::vector<std::string>* FieldNames,
                                      const std::vector<std::string>* AscDescList,
                                      const TVLTFieldDefs* FieldDefs, TVLTSessionID SessionID,
                                      const std::vector<std::string>* CaseSensitivityList) const {
  if (!FieldNames) VLTRaiseNilPointer(10389);
  if (!AscDescList) VLTRaiseNilPointer(10390);
  if (!CaseSensitivityList) VLTRaiseNilPointer(10391);
  CheckLengths(FieldNames->size(), AscDescList->size(), 10276);
  CheckLengths(FieldNames->size(), CaseSensitivityList->size(), 10277);

  for (int32_t N = 0; N < Count(); ++N) {
    const TVLTIndexDef& Index = (*this)[N];
    if (Index.FIndexColumns.size() < FieldNames->size()) continue;
    if (Index.FTemporary && Index.FSessionID != SessionID) continue;
    bool Match = true;
    for (size_t I = 0; Match && I < FieldNames->size(); ++I) {
      const TVLTIndexColumn& C = Index.FIndexColumns[I];
      const std::string& Order = (*AscDescList)[I];
      const std::string& Case = (*CaseSensitivityList)[I];
      if (!SameText(C.FFieldName, (*FieldNames)[I])) Match = false;
      else if (Order == "ASC" && C.FDescending) Match = false;
      else if (Order == "DESC" && !C.FDescending) Match = false;
      else if (Case == "NO_CASE" && !C.FCaseInsensitive) Match = false;
      else if (Case == "CASE" && C.FCaseInsensitive) {
        const TVLTFieldDef* F = FieldDefs ? FieldDefs->GetFieldDefByName((*FieldNames)[I]) : nullptr;
        if (F && IsStringBaseType(F->FBaseFieldType)) Match = false;
      }
    }
    if (Match) return Index.FObjectID;
  }
  return -1;
}

}  // namespace vlt
