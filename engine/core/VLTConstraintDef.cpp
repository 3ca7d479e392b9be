#include "engine/core/VLTConstraintDef.h"

#include "engine/base/VLTExcept.h"
#include "engine/protect/VLTStream.h"

namespace vlt {

namespace {
// Native codes of the constraints' stream fields (read, write).
constexpr int32_t kReadType = 10219, kWriteType = 10220;
constexpr int32_t kReadSchemaID = 10221, kWriteSchemaID = 10222;
constexpr int32_t kReadTableID = 10223, kWriteTableID = 10224;
constexpr int32_t kReadColumnID = 10225, kWriteColumnID = 10226;
constexpr int32_t kReadSchemaName = 10227, kWriteSchemaName = 10228;
constexpr int32_t kReadTableName = 10229, kWriteTableName = 10230;
constexpr int32_t kReadColumnName = 10231, kWriteColumnName = 10232;
constexpr int32_t kReadIndexID = 10233, kWriteIndexID = 10234;
constexpr int32_t kReadIndexName = 10235, kWriteIndexName = 10236;
constexpr int32_t kReadColumnCount = 10237, kWriteColumnCount = 10238;
constexpr int32_t kReadKeyColumnID = 10239, kWriteKeyColumnID = 10240;
constexpr int32_t kReadKeyColumnName = 10241, kWriteKeyColumnName = 10242;
constexpr int32_t kBadImage = 30303;
constexpr int32_t kBadColumnCount = 30304;
constexpr int32_t kMaxColumns = 4096;

// A name stored with its own length in front: N = L + 1, then the short string image. Prefix is
// the width of N (1 or 4 bytes).
template <typename TPrefix>
void WriteFramedName(TVLTStream& Stream, std::string_view Name, int32_t Code) {
  if (Name.size() > 255) Name = Name.substr(0, 255);
  VLTWriteLE<TPrefix>(Stream, static_cast<TPrefix>(Name.size() + 1), Code);
  VLTWriteName(Stream, Name, Code);
}

template <typename TPrefix>
void ReadFramedName(TVLTStream& Stream, std::string& Name, int32_t Code) {
  int64_t N = static_cast<int64_t>(VLTReadLE<TPrefix>(Stream, Code));
  if (N < 1 || N > 256) throw EVLTException(kBadImage, "Invalid name length %d in constraint", {N});
  VLTReadName(Stream, Name, Code);
  if (static_cast<int64_t>(Name.size()) + 1 != N)
    throw EVLTException(kBadImage, "Invalid name length %d in constraint", {N});
}
}  // namespace

// ---- not null ----

void TVLTConstraintDefNotNull::SetNames(std::string_view ColumnName, std::string_view TableName,
                                        std::string_view SchemaName) {
  FColumnName = std::string(ColumnName.substr(0, 255));
  FTableName = std::string(TableName.substr(0, 255));
  FTableSchemaName = std::string(SchemaName.substr(0, 255));
  FSchemaName = FTableSchemaName;
}

void TVLTConstraintDefNotNull::Assign(const TVLTMetaObjectDef& Source) {
  TVLTMetaObjectDef::Assign(Source);
  const auto& S = static_cast<const TVLTConstraintDefNotNull&>(Source);
  FTableSchemaName = S.FTableSchemaName;
  FTableSchemaObjectID = S.FTableSchemaObjectID;
  FTableName = S.FTableName;
  FTableObjectID = S.FTableObjectID;
  FColumnName = S.FColumnName;
  FColumnObjectID = S.FColumnObjectID;
}

void TVLTConstraintDefNotNull::LoadFromStream(TVLTStream& Stream) {
  TVLTMetaObjectDef::LoadFromStream(Stream);
  FTableSchemaObjectID = VLTReadLE<int32_t>(Stream, kReadSchemaID);
  FTableObjectID = VLTReadLE<int32_t>(Stream, kReadTableID);
  FColumnObjectID = VLTReadLE<int32_t>(Stream, kReadColumnID);
  ReadFramedName<uint8_t>(Stream, FTableSchemaName, kReadSchemaName);
  ReadFramedName<uint8_t>(Stream, FTableName, kReadTableName);
  ReadFramedName<uint8_t>(Stream, FColumnName, kReadColumnName);
}

void TVLTConstraintDefNotNull::SaveToStream(TVLTStream& Stream) const {
  TVLTMetaObjectDef::SaveToStream(Stream);
  VLTWriteLE<int32_t>(Stream, FTableSchemaObjectID, kWriteSchemaID);
  VLTWriteLE<int32_t>(Stream, FTableObjectID, kWriteTableID);
  VLTWriteLE<int32_t>(Stream, FColumnObjectID, kWriteColumnID);
  WriteFramedName<uint8_t>(Stream, FTableSchemaName, kWriteSchemaName);
  WriteFramedName<uint8_t>(Stream, FTableName, kWriteTableName);
  WriteFramedName<uint8_t>(Stream, FColumnName, kWriteColumnName);
}

// ---- check ----

void TVLTConstraintDefCheck::Assign(const TVLTMetaObjectDef& Source) {
  TVLTConstraintDefNotNull::Assign(Source);
  const auto& S = static_cast<const TVLTConstraintDefCheck&>(Source);
  FMinValue = S.FMinValue;
  FMaxValue = S.FMaxValue;
}

void TVLTConstraintDefCheck::LoadFromStream(TVLTStream& Stream) {
  TVLTConstraintDefNotNull::LoadFromStream(Stream);
  FMinValue.LoadFromStream(Stream);
  FMaxValue.LoadFromStream(Stream);
}

void TVLTConstraintDefCheck::SaveToStream(TVLTStream& Stream) const {
  TVLTConstraintDefNotNull::SaveToStream(Stream);
  FMinValue.SaveToStream(Stream);
  FMaxValue.SaveToStream(Stream);
}

// ---- unique and primary key ----

void TVLTConstraintDefUnique::Assign(const TVLTMetaObjectDef& Source) {
  TVLTMetaObjectDef::Assign(Source);
  const auto& S = static_cast<const TVLTConstraintDefUnique&>(Source);
  FTableSchemaName = S.FTableSchemaName;
  FTableSchemaObjectID = S.FTableSchemaObjectID;
  FTableName = S.FTableName;
  FTableObjectID = S.FTableObjectID;
  FIndexName = S.FIndexName;
  FIndexObjectID = S.FIndexObjectID;
  Columns = S.Columns;
}

void TVLTConstraintDefUnique::LoadFromStream(TVLTStream& Stream) {
  TVLTMetaObjectDef::LoadFromStream(Stream);
  FTableSchemaObjectID = VLTReadLE<int32_t>(Stream, kReadSchemaID);
  FTableObjectID = VLTReadLE<int32_t>(Stream, kReadTableID);
  FIndexObjectID = VLTReadLE<int32_t>(Stream, kReadIndexID);
  ReadFramedName<int32_t>(Stream, FTableSchemaName, kReadSchemaName);
  ReadFramedName<int32_t>(Stream, FTableName, kReadTableName);
  ReadFramedName<int32_t>(Stream, FIndexName, kReadIndexName);
  int32_t K = VLTReadLE<int32_t>(Stream, kReadColumnCount);
  if (K < 0 || K > kMaxColumns)
    throw EVLTException(kBadColumnCount, "Invalid column count %d of constraint '%s'", {int64_t{K}, FName});
  Columns.clear();
  for (int32_t I = 0; I < K; ++I) {
    TVLTConstraintColumn C;
    C.ColumnObjectID = VLTReadLE<int32_t>(Stream, kReadKeyColumnID);
    ReadFramedName<int32_t>(Stream, C.ColumnName, kReadKeyColumnName);
    Columns.push_back(std::move(C));
  }
}

void TVLTConstraintDefUnique::SaveToStream(TVLTStream& Stream) const {
  TVLTMetaObjectDef::SaveToStream(Stream);
  VLTWriteLE<int32_t>(Stream, FTableSchemaObjectID, kWriteSchemaID);
  VLTWriteLE<int32_t>(Stream, FTableObjectID, kWriteTableID);
  VLTWriteLE<int32_t>(Stream, FIndexObjectID, kWriteIndexID);
  WriteFramedName<int32_t>(Stream, FTableSchemaName, kWriteSchemaName);
  WriteFramedName<int32_t>(Stream, FTableName, kWriteTableName);
  WriteFramedName<int32_t>(Stream, FIndexName, kWriteIndexName);
  VLTWriteLE<int32_t>(Stream, static_cast<int32_t>(Columns.size()), kWriteColumnCount);
  for (const TVLTConstraintColumn& C : Columns) {
    VLTWriteLE<int32_t>(Stream, C.ColumnObjectID, kWriteKeyColumnID);
    WriteFramedName<int32_t>(Stream, C.ColumnName, kWriteKeyColumnName);
  }
}

// ---- the list ----

std::unique_ptr<TVLTConstraintDef> TVLTConstraintDefs::Create(TVLTConstraintType Type) {
  switch (Type) {
    case ctPK: return std::make_unique<TVLTConstraintDefPrimary>();
    case ctUnique: return std::make_unique<TVLTConstraintDefUnique>();
    case ctNotNull: return std::make_unique<TVLTConstraintDefNotNull>();
    case ctCheck: return std::make_unique<TVLTConstraintDefCheck>();
    default: throw EVLTException(30035, "Not implemented yet");
  }
}

TVLTConstraintDefPrimary& TVLTConstraintDefs::AddPK() {
  return static_cast<TVLTConstraintDefPrimary&>(Add(Create(ctPK)));
}
TVLTConstraintDefUnique& TVLTConstraintDefs::AddUnique() {
  return static_cast<TVLTConstraintDefUnique&>(Add(Create(ctUnique)));
}
TVLTConstraintDefNotNull& TVLTConstraintDefs::AddNotNull() {
  return static_cast<TVLTConstraintDefNotNull&>(Add(Create(ctNotNull)));
}
TVLTConstraintDefCheck& TVLTConstraintDefs::AddCheck() {
  return static_cast<TVLTConstraintDefCheck&>(Add(Create(ctCheck)));
}

std::unique_ptr<TVLTMetaObjectDef> TVLTConstraintDefs::CreateCopyOf(const TVLTMetaObjectDef& Source) {
  std::unique_ptr<TVLTConstraintDef> Def =
      Create(static_cast<const TVLTConstraintDef&>(Source).FConstraintType);
  Def->Assign(Source);
  return Def;
}

std::unique_ptr<TVLTMetaObjectDef> TVLTConstraintDefs::LoadOne(TVLTStream& Stream) {
  uint8_t Type = VLTReadLE<uint8_t>(Stream, kReadType);
  if (Type != ctPK && Type != ctUnique && Type != ctNotNull && Type != ctCheck)
    throw EVLTException(30316, "Unknown Constraint Type: '%d'", {int64_t{Type}});
  std::unique_ptr<TVLTConstraintDef> Def = Create(static_cast<TVLTConstraintType>(Type));
  Def->LoadFromStream(Stream);
  return Def;
}

void TVLTConstraintDefs::SaveOne(TVLTStream& Stream, const TVLTMetaObjectDef& Def) const {
  VLTWriteLE<uint8_t>(Stream, static_cast<const TVLTConstraintDef&>(Def).FConstraintType, kWriteType);
  Def.SaveToStream(Stream);
}

}  // namespace vlt
