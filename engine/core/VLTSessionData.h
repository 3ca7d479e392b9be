// TVLTSessionData: what the database data and the table data read from, and set on, one
// connected engine session. The engine session of the components layer derives from it (or
// holds one); the storage core never needs more of a session than this.
//
// The session-scoped named objects kept here are the last autoincrement values the session drew
// or inserted: one per sequence, keyed by the autoincrement field's object id.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/VLTTypes.h"

namespace vlt {

// The last value a session drew from (or inserted into) the sequence FObjectID.
struct TVLTSessionNamedObjectSequenceValue {
  TVLTObjectID FObjectID = kNoObjectID;  // -1 when known by name only
  std::string FName;                     // at most 255 characters
  int64_t FValue = 0;
};

struct TVLTSessionData {
  virtual ~TVLTSessionData() = default;

  TVLTSessionID SessionID = kNoSessionID;
  bool MultiUser = false;
  bool Exclusive = false;
  bool ReadOnly = false;
  bool RepairNeeded = false;
  bool InTransaction = false;
  TVLTDurability Durability = dsNormal;  // the first session to open the file sets it

  // nullptr when the session recorded no value for the sequence.
  const TVLTSessionNamedObjectSequenceValue* FindSequenceValue(TVLTObjectID ObjectID) const;
  // Records Value as the sequence's last value (creating the entry when needed).
  void SetSequenceValue(TVLTObjectID ObjectID, std::string_view Name, int64_t Value);
  // Forgets the sequence's last value (its field or table was deleted, and an object id is
  // never reused for another sequence); false when the session had recorded none.
  bool DeleteSequenceValue(TVLTObjectID ObjectID);
  const std::vector<TVLTSessionNamedObjectSequenceValue>& SequenceValues() const {
    return FSequenceValues;
  }

 private:
  std::vector<TVLTSessionNamedObjectSequenceValue> FSequenceValues;
};

}  // namespace vlt
