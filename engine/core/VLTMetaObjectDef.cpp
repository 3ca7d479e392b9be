#include "engine/core/VLTMetaObjectDef.h"

#include <stdexcept>

#include "engine/base/VLTExcept.h"
#include "engine/protect/VLTStream.h"

namespace vlt {

namespace {
// Native codes of the stream fields handled here.
constexpr int32_t kReadCount = 10158, kWriteCount = 10159;
constexpr int32_t kReadName = 10164, kWriteName = 10165;
constexpr int32_t kReadObjectID = 10166, kWriteObjectID = 10167;
}  // namespace

void VLTReadName(TVLTStream& Stream, std::string& Name, int32_t Code) {
  uint8_t Length = VLTReadLE<uint8_t>(Stream, Code);
  Name.assign(Length, '\0');
  if (Length) VLTReadBuffer(Stream, Name.data(), Length, Code);
}

void VLTWriteName(TVLTStream& Stream, std::string_view Name, int32_t Code) {
  if (Name.size() > 255) Name = Name.substr(0, 255);
  VLTWriteLE<uint8_t>(Stream, static_cast<uint8_t>(Name.size()), Code);
  if (!Name.empty()) VLTWriteBuffer(Stream, Name.data(), static_cast<int64_t>(Name.size()), Code);
}

// ---- TVLTMetaObjectDef ----

void TVLTMetaObjectDef::Assign(const TVLTMetaObjectDef& Source) {
  FName = Source.FName;
  FObjectID = Source.FObjectID;
  FSchemaName = Source.FSchemaName;
  FSchemaID = Source.FSchemaID;
}

void TVLTMetaObjectDef::LoadFromStream(TVLTStream& Stream) {
  VLTReadName(Stream, FName, kReadName);
  FObjectID = VLTReadLE<int32_t>(Stream, kReadObjectID);
}

void TVLTMetaObjectDef::SaveToStream(TVLTStream& Stream) const {
  VLTWriteName(Stream, FName, kWriteName);
  VLTWriteLE<int32_t>(Stream, FObjectID, kWriteObjectID);
}

void TVLTMetaObjectDef::SetName(std::string_view Name) {
  FName = std::string(Name.substr(0, 255));
}

// ---- TVLTMetaObjectDefs ----

void TVLTMetaObjectDefs::RaiseIndexOutOfRange() {
  throw std::out_of_range("definition list index out of range");
}

size_t TVLTMetaObjectDefs::CheckIndex(int32_t Index) const {
  if (Index < 0 || static_cast<size_t>(Index) >= FDefsList.size()) RaiseIndexOutOfRange();
  return static_cast<size_t>(Index);
}

TVLTMetaObjectDef& TVLTMetaObjectDefs::Add(std::unique_ptr<TVLTMetaObjectDef> Def) {
  FDefsList.push_back(std::move(Def));
  return *FDefsList.back();
}

TVLTMetaObjectDef& TVLTMetaObjectDefs::AddCreated() { return Add(InternalAddCreated()); }

std::unique_ptr<TVLTMetaObjectDef> TVLTMetaObjectDefs::InternalAddCreated() {
  throw EVLTException(30339, "The method '%s' is not overrided in class '%s'",
                      {std::string("InternalAddCreated"), std::string(ClassName())});
}

int32_t TVLTMetaObjectDefs::GetDefNumberByName(std::string_view Name) const {
  for (size_t I = 0; I < FDefsList.size(); ++I)
    if (SameText(FDefsList[I]->FName, Name)) return static_cast<int32_t>(I);
  return -1;
}

TVLTMetaObjectDef* TVLTMetaObjectDefs::GetDefByName(std::string_view Name) const {
  int32_t I = GetDefNumberByName(Name);
  return I < 0 ? nullptr : FDefsList[I].get();
}

int32_t TVLTMetaObjectDefs::GetDefNumberByObjectId(TVLTObjectID ObjectID) const {
  for (size_t I = 0; I < FDefsList.size(); ++I)
    if (FDefsList[I]->FObjectID == ObjectID) return static_cast<int32_t>(I);
  return -1;
}

TVLTMetaObjectDef* TVLTMetaObjectDefs::GetDefByObjectId(TVLTObjectID ObjectID) const {
  int32_t I = GetDefNumberByObjectId(ObjectID);
  return I < 0 ? nullptr : FDefsList[I].get();
}

std::unique_ptr<TVLTMetaObjectDef> TVLTMetaObjectDefs::LoadOne(TVLTStream& Stream) {
  std::unique_ptr<TVLTMetaObjectDef> Def = InternalAddCreated();
  Def->LoadFromStream(Stream);
  return Def;
}

void TVLTMetaObjectDefs::SaveOne(TVLTStream& Stream, const TVLTMetaObjectDef& Def) const {
  Def.SaveToStream(Stream);
}

void TVLTMetaObjectDefs::LoadFromStream(TVLTStream& Stream) {
  Clear();
  int32_t N = VLTReadLE<int32_t>(Stream, kReadCount);
  FLoadedItemCount = N;
  // A damaged count must not make us allocate or loop without end: definitions are read one
  // at a time and a short stream stops the loop with its error.
  for (int32_t I = 0; I < N; ++I) FDefsList.push_back(LoadOne(Stream));
}

void TVLTMetaObjectDefs::SaveToStream(TVLTStream& Stream) const {
  int32_t N = 0;
  for (const auto& D : FDefsList)
    if (IsStored(*D)) ++N;
  VLTWriteLE<int32_t>(Stream, N, kWriteCount);
  for (const auto& D : FDefsList)
    if (IsStored(*D)) SaveOne(Stream, *D);
}

std::unique_ptr<TVLTMetaObjectDef> TVLTMetaObjectDefs::CreateCopyOf(const TVLTMetaObjectDef& Source) {
  std::unique_ptr<TVLTMetaObjectDef> Def = InternalAddCreated();
  Def->Assign(Source);
  return Def;
}

void TVLTMetaObjectDefs::Assign(const TVLTMetaObjectDefs& Source) {
  if (&Source == this) return;
  Clear();
  for (const auto& S : Source.FDefsList) {
    // Unnamed definitions (constraints before they are named) are not duplicates of each other.
    if (!S->FName.empty() && GetDefNumberByName(S->FName) >= 0)
      throw EVLTException(10424, "Duplicate field name %s", {S->FName});
    FDefsList.push_back(CreateCopyOf(*S));
  }
}

void TVLTMetaObjectDefs::Delete(int32_t Index) {
  FDefsList.erase(FDefsList.begin() + static_cast<ptrdiff_t>(CheckIndex(Index)));
}

void TVLTMetaObjectDefs::Insert(int32_t Index, std::unique_ptr<TVLTMetaObjectDef> Def) {
  if (Index < 0 || static_cast<size_t>(Index) > FDefsList.size())
    throw std::out_of_range("definition list index out of range");
  FDefsList.insert(FDefsList.begin() + Index, std::move(Def));
}

void TVLTMetaObjectDefs::Move(int32_t CurIndex, int32_t NewIndex) {
  size_t From = CheckIndex(CurIndex), To = CheckIndex(NewIndex);
  if (From == To) return;
  std::unique_ptr<TVLTMetaObjectDef> D = std::move(FDefsList[From]);
  FDefsList.erase(FDefsList.begin() + static_cast<ptrdiff_t>(From));
  FDefsList.insert(FDefsList.begin() + static_cast<ptrdiff_t>(To), std::move(D));
}

}  // namespace vlt
