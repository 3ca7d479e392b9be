// Definitions of database objects (fields, indexes, constraints) and their owning lists.
//
// Every definition starts, in the metadata stream, with the meta object part:
//
//   OFFSET SIZE CONTENT
//   0      1    L, length of the name
//   1      L    name (8-bit characters)
//   1+L    4    FObjectID (Int32)
//
// A list is stored as a 4-byte count followed by its definitions. Lists own their definitions:
// deleting, replacing or clearing an entry frees it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/VLTTypes.h"

namespace vlt {

class TVLTStream;

class TVLTMetaObjectDef {
 public:
  virtual ~TVLTMetaObjectDef() = default;

  // Copies what the definition holds from Source (of the same kind).
  virtual void Assign(const TVLTMetaObjectDef& Source);
  virtual void LoadFromStream(TVLTStream& Stream);
  virtual void SaveToStream(TVLTStream& Stream) const;

  // Cuts names longer than 255 characters.
  void SetName(std::string_view Name);

  std::string FName;               // at most 255 8-bit characters
  TVLTObjectID FObjectID = kNoObjectID;
  std::string FSchemaName;         // not stored
  int32_t FSchemaID = -1;          // not stored
};

class TVLTMetaObjectDefs {
 public:
  TVLTMetaObjectDefs() = default;
  virtual ~TVLTMetaObjectDefs() = default;
  TVLTMetaObjectDefs(const TVLTMetaObjectDefs&) = delete;
  TVLTMetaObjectDefs& operator=(const TVLTMetaObjectDefs&) = delete;

  virtual int32_t Count() const { return static_cast<int32_t>(FDefsList.size()); }
  // Inline: the field loops of record reads run it for every field of every record.
  TVLTMetaObjectDef& Item(int32_t Index) const {
    if (Index < 0 || static_cast<size_t>(Index) >= FDefsList.size()) RaiseIndexOutOfRange();
    return *FDefsList[static_cast<size_t>(Index)];
  }

  // Appends Def and returns it.
  virtual TVLTMetaObjectDef& Add(std::unique_ptr<TVLTMetaObjectDef> Def);
  // Creates a definition of the list's own kind, appends and returns it.
  TVLTMetaObjectDef& AddCreated();

  // Linear searches; names compare without regard to case. -1 / nullptr when missing.
  int32_t GetDefNumberByName(std::string_view Name) const;
  TVLTMetaObjectDef* GetDefByName(std::string_view Name) const;
  int32_t GetDefNumberByObjectId(TVLTObjectID ObjectID) const;
  TVLTMetaObjectDef* GetDefByObjectId(TVLTObjectID ObjectID) const;

  // Reading clears the list first; a failure part-way leaves the definitions read so far.
  virtual void LoadFromStream(TVLTStream& Stream);
  virtual void SaveToStream(TVLTStream& Stream) const;
  // Clears, then copies every definition of Source into a new one, in order. A name already
  // present raises 10424 "Duplicate field name %s" (empty names never clash).
  virtual void Assign(const TVLTMetaObjectDefs& Source);
  virtual void Delete(int32_t Index);
  virtual void Insert(int32_t Index, std::unique_ptr<TVLTMetaObjectDef> Def);
  virtual void Move(int32_t CurIndex, int32_t NewIndex);
  virtual void Clear() { FDefsList.clear(); }

  int32_t LoadedItemCount() const { return FLoadedItemCount; }

 protected:
  // A new, empty definition of the list's kind. The base list has none and raises 30339.
  virtual std::unique_ptr<TVLTMetaObjectDef> InternalAddCreated();
  virtual std::string_view ClassName() const { return "TVLTMetaObjectDefs"; }
  // Creates the copy of one source definition for Assign (a constraint list picks the class by
  // the source's type).
  virtual std::unique_ptr<TVLTMetaObjectDef> CreateCopyOf(const TVLTMetaObjectDef& Source);
  // Loads one definition; the constraint list reads its type byte first.
  virtual std::unique_ptr<TVLTMetaObjectDef> LoadOne(TVLTStream& Stream);
  virtual void SaveOne(TVLTStream& Stream, const TVLTMetaObjectDef& Def) const;
  virtual bool IsStored(const TVLTMetaObjectDef&) const { return true; }

  size_t CheckIndex(int32_t Index) const;
  [[noreturn]] static void RaiseIndexOutOfRange();

  std::vector<std::unique_ptr<TVLTMetaObjectDef>> FDefsList;
  int32_t FLoadedItemCount = 0;
};

// A list of one definition class, with typed access.
template <typename TDef>
class TVLTTypedDefs : public TVLTMetaObjectDefs {
 public:
  TDef& operator[](int32_t Index) const { return static_cast<TDef&>(Item(Index)); }
  TDef* GetByName(std::string_view Name) const { return static_cast<TDef*>(GetDefByName(Name)); }
  TDef* GetByObjectId(TVLTObjectID Id) const { return static_cast<TDef*>(GetDefByObjectId(Id)); }
  TDef& AddNew() { return static_cast<TDef&>(AddCreated()); }

 protected:
  std::unique_ptr<TVLTMetaObjectDef> InternalAddCreated() override { return std::make_unique<TDef>(); }
};

// Short strings of the metadata stream: a length byte and up to 255 characters.
void VLTReadName(TVLTStream& Stream, std::string& Name, int32_t Code);
void VLTWriteName(TVLTStream& Stream, std::string_view Name, int32_t Code);

}  // namespace vlt
