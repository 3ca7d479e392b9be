#include "engine/core/VLTConstraintManager.h"

#include <random>

#include "engine/base/VLTExcept.h"
#include "engine/core/VLTDatabaseData.h"
#include "engine/core/VLTTableData.h"

namespace vlt {

namespace {

// A failed check: raised, or reported as false.
struct TCheckFailure {
  int32_t Code;
  std::string Message;
};

}  // namespace

TVLTBaseConstraintManager::TVLTBaseConstraintManager(TVLTTableData* TableData,
                                                     std::unique_ptr<TVLTConstraintDefs> Defs)
    : FConstraintDefs(Defs ? std::move(Defs) : std::make_unique<TVLTConstraintDefs>()),
      FTableData(TableData) {}

TVLTBaseConstraintManager::~TVLTBaseConstraintManager() = default;

void TVLTBaseConstraintManager::LoadMetadata(TVLTStream& Stream) {
  FConstraintDefs->LoadFromStream(Stream);
}

void TVLTBaseConstraintManager::SaveMetadata(TVLTStream& Stream) const {
  FConstraintDefs->SaveToStream(Stream);
}

bool TVLTBaseConstraintManager::CheckConstraints(TVLTSessionID SessionID,
                                                 const uint8_t* NewRecordBuffer, bool CheckUnique,
                                                 bool RaiseErrors, const TVLTPageItemID& RecordID,
                                                 bool ToInsert, const uint8_t* OldRecordBuffer) {
  if (!NewRecordBuffer) VLTRaiseNilPointer(30025);
  TVLTBaseFieldManager* FM = FTableData->FieldManager();
  if (!FM) VLTRaiseNilPointer(30023);
  TVLTFieldDefs& Fields = FM->FieldDefs();

  auto Fail = [RaiseErrors](int32_t Code, std::string_view Format,
                            std::initializer_list<TVLTFormatArg> Args) {
    if (RaiseErrors) throw EVLTException(Code, Format, Args);
    return false;
  };

  for (int32_t I = 0; I < FConstraintDefs->Count(); ++I) {
    TVLTConstraintDef& Def = (*FConstraintDefs)[I];
    switch (Def.FConstraintType) {
      case ctPK:
      case ctUnique: {
        if (!CheckUnique) break;
        auto& U = static_cast<TVLTConstraintDefUnique&>(Def);
        if (Def.FConstraintType == ctPK) {
          std::string Names;
          bool AllNull = true;
          for (const TVLTConstraintColumn& C : U.Columns) {
            if (!Names.empty()) Names += ",";
            Names += C.ColumnName;
            int32_t FieldNo = Fields.GetDefNumberByObjectId(C.ColumnObjectID);
            if (FieldNo < 0) FieldNo = Fields.GetDefNumberByName(C.ColumnName);
            if (FieldNo >= 0 && !VLTIsFieldNull(NewRecordBuffer, FieldNo)) AllNull = false;
          }
          if (AllNull)
            return Fail(30330, "Constraint '%s' violated. Value in field '%s' cannot be null",
                        {Def.FName, Names});
        }
        if (FTableData->IsUniqueConstraintFailed(SessionID, U.FIndexObjectID, RecordID, ToInsert,
                                                 OldRecordBuffer, NewRecordBuffer)) {
          if (Def.FConstraintType == ctPK)
            return Fail(30319, "Primary Key constraint '%s' violated. Duplicate found.", {Def.FName});
          return Fail(30320, "Constraint unique '%s' violated. Duplicate found.", {Def.FName});
        }
        break;
      }
      case ctNotNull: {
        auto& N = static_cast<TVLTConstraintDefNotNull&>(Def);
        const int32_t FieldNo = Fields.GetDefNumberByObjectId(N.FColumnObjectID);
        if (FieldNo < 0) throw EVLTException(30024, "Field #%d not found", {int64_t{N.FColumnObjectID}});
        if (VLTIsFieldNull(NewRecordBuffer, FieldNo))
          return Fail(30026, "Constraint '%s' violated. Value in field '%s' cannot be null",
                      {Def.FName, Fields[FieldNo].FName});
        break;
      }
      case ctCheck: {
        auto& C = static_cast<TVLTConstraintDefCheck&>(Def);
        const int32_t FieldNo = Fields.GetDefNumberByObjectId(C.FColumnObjectID);
        if (FieldNo < 0) throw EVLTException(30028, "Field #%d not found", {int64_t{C.FColumnObjectID}});
        if (VLTIsFieldNull(NewRecordBuffer, FieldNo)) break;
        TVLTVariant Value;
        FM->GetFieldValue(FieldNo, NewRecordBuffer, Value);
        if (Value.IsNull()) break;
        if (!C.FMinValue.IsNull() && C.FMinValue.Compare(Value, false, false, false) == vcrGreater)
          return Fail(30029, "Constraint '%s' violated. Value in field '%s' cannot be lower than '%s'",
                      {Def.FName, Fields[FieldNo].FName, C.FMinValue.AsAnsiString()});
        if (!C.FMaxValue.IsNull() && C.FMaxValue.Compare(Value, false, false, false) == vcrLess)
          return Fail(30030,
                      "Constraint '%s' violated. Value in field '%s' cannot be greater than '%s'",
                      {Def.FName, Fields[FieldNo].FName, C.FMaxValue.AsAnsiString()});
        break;
      }
      default:
        throw EVLTException(30036, "Not implemented yet");
    }
  }
  return true;
}

void TVLTBaseConstraintManager::LinkObjectId(TVLTConstraintDef& Def) {
  TVLTBaseFieldManager* FM = FTableData->FieldManager();
  if (!FM) VLTRaiseNilPointer(30039);
  TVLTFieldDefs& Fields = FM->FieldDefs();
  switch (Def.FConstraintType) {
    case ctPK:
    case ctUnique: {
      const bool PK = Def.FConstraintType == ctPK;
      auto& U = static_cast<TVLTConstraintDefUnique&>(Def);
      TVLTBaseIndexManager* IM = FTableData->IndexManager();
      TVLTIndexDef* Index = IM ? IM->IndexDefs().GetIndexDefByName(U.FIndexName) : nullptr;
      if (!Index) throw EVLTException(PK ? 30325 : 30326, "Index '%s' not found", {U.FIndexName});
      U.FIndexObjectID = Index->FObjectID;
      for (TVLTConstraintColumn& C : U.Columns) {
        TVLTFieldDef* F = Fields.GetFieldDefByName(C.ColumnName);
        if (!F) throw EVLTException(PK ? 30331 : 30332, "Field '%s' not found", {C.ColumnName});
        C.ColumnObjectID = F->FObjectID;
      }
      break;
    }
    case ctNotNull:
    case ctCheck: {
      auto& N = static_cast<TVLTConstraintDefNotNull&>(Def);
      TVLTFieldDef* F = Fields.GetFieldDefByName(N.FColumnName);
      if (!F) throw EVLTException(30027, "Field '%s' not found", {N.FColumnName});
      N.FColumnObjectID = F->FObjectID;
      break;
    }
    default:
      throw EVLTException(30037, "Not implemented yet");
  }
}

void TVLTBaseConstraintManager::LinkObjectIds() {
  for (int32_t I = 0; I < FConstraintDefs->Count(); ++I) LinkObjectId((*FConstraintDefs)[I]);
}

void TVLTBaseConstraintManager::FillConstraintAutoNames() {
  static thread_local std::minstd_rand Random(std::random_device{}());
  for (int32_t I = 0; I < FConstraintDefs->Count(); ++I) {
    TVLTConstraintDef& Def = (*FConstraintDefs)[I];
    if (!Def.FName.empty()) continue;
    std::string Base;
    if (Def.FConstraintType == ctNotNull)
      Base = "$C_NotNull$";
    else if (Def.FConstraintType == ctCheck)
      Base = "$C_Check$";
    else
      throw EVLTException(30038, "Not implemented yet");
    Base += FTableData->TableName() + "$" + static_cast<TVLTConstraintDefNotNull&>(Def).FColumnName;
    Def.SetName(Base);
    // The name must be unique in the list; each try replaces the previous number.
    auto Used = [this, &Def]() {
      for (int32_t J = 0; J < FConstraintDefs->Count(); ++J) {
        const TVLTConstraintDef& Other = (*FConstraintDefs)[J];
        if (&Other != &Def && SameText(Other.FName, Def.FName)) return true;
      }
      return false;
    };
    while (Used()) Def.SetName(Base + std::to_string(Random() % 65535));
  }
}

void TVLTBaseConstraintManager::AddConstraintFromIndex(const TVLTIndexDef& IndexDef) {
  if (!IndexDef.FPrimary && !IndexDef.FUnique) return;
  std::unique_ptr<TVLTConstraintDefUnique> Def;
  std::string Name;
  if (IndexDef.FPrimary) {
    Def = std::make_unique<TVLTConstraintDefPrimary>();
    Name = "C_PK";
  } else {
    Def = std::make_unique<TVLTConstraintDefUnique>();
    Name = "C_Unique";
  }
  for (const TVLTIndexColumn& C : IndexDef.FIndexColumns) {
    Name += "$" + C.FFieldName;
    Def->Columns.push_back({C.FFieldName, kNoObjectID});
  }
  Def->SetName(Name);  // cut to 255 characters
  Def->FIndexName = IndexDef.FName;
  Def->FIndexObjectID = IndexDef.FObjectID;
  Def->FTableName = FTableData->TableName();
  if (TVLTDatabaseData* DB = FTableData->DatabaseData()) Def->FObjectID = DB->GetNewObjectId();
  LinkObjectId(*Def);  // before adding: a constraint that cannot be linked is not kept
  FConstraintDefs->Add(std::move(Def));
}

void TVLTBaseConstraintManager::DeleteConstraintForIndexID(TVLTObjectID IndexObjectID) {
  for (int32_t I = 0; I < FConstraintDefs->Count(); ++I) {
    TVLTConstraintDef& Def = (*FConstraintDefs)[I];
    if ((Def.FConstraintType == ctPK || Def.FConstraintType == ctUnique) &&
        static_cast<TVLTConstraintDefUnique&>(Def).FIndexObjectID == IndexObjectID) {
      FConstraintDefs->Delete(I);
      return;
    }
  }
}

}  // namespace vlt
