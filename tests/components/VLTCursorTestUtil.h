// A database of in-memory test tables registered in the engine registry, an engine session
// connected to it and helpers that drive cursors as a dataset does.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/VLTEngineRegistry.h"
#include "engine/components/VLTLocalCursor.h"
#include "engine/components/VLTLocalSession.h"
#include "tests/core/VLTTableTestDoubles.h"

namespace vlt::test {

inline int32_t CursorCodeOf(auto&& F) {
  try {
    F();
  } catch (const EVLTException& E) {
    return E.NativeError();
  }
  return 0;
}

// The registry owns the database; the environment removes it again.
struct TCursorEnv {
  TLog Log;
  TVLTDatabaseData* DB = nullptr;
  TVLTLocalSession Session;

  explicit TCursorEnv(std::unique_ptr<TVLTDatabaseData> Data = nullptr, bool MultiUser = false) {
    VLTStartEngine();
    if (!Data) Data = std::make_unique<TTestDatabaseData>(&Log);
    DB = Data.get();
    VLTEngineRegistry().Add(std::move(Data));
    Session.FDatabaseName = "Test";
    Session.FDatabaseFileName = DB->DatabaseName();
    Session.MultiUser = MultiUser;
    Session.SetConnected(true);
    Session.MultiUser = MultiUser;
  }
  ~TCursorEnv() {
    Session.SetConnected(false);
    VLTEngineRegistry().Remove(DB);
  }

  std::unique_ptr<TVLTLocalCursor> NewCursor(const std::string& Table = "T") {
    auto C = std::make_unique<TVLTLocalCursor>();
    C->SetSession(&Session);
    C->FTableName = Table;
    C->FLockWaits = {2, 1, 2, 1, 2, 1, 2, 1, 2, 1};
    return C;
  }
  // Fields V (integer), S (string of 20), index IV on V; V may not be NULL when asked.
  void CreateTable(const std::string& Table = "T", bool NotNullV = false, int32_t ExtraFields = 0) {
    TVLTFieldDefs F;
    AddField(F, "V", aftInteger);
    AddField(F, "S", aftString, 20);
    for (int32_t I = 0; I < ExtraFields; ++I) AddField(F, "X" + std::to_string(I), aftInteger);
    TVLTIndexDefs X;
    AddIndexDef(X, "IV", {"V"});
    TVLTConstraintDefs C;
    if (NotNullV) C.AddNotNull().FColumnName = "V";
    NewCursor(Table)->CreateTable(F, X, C);
  }
};

// One open cursor with a record buffer and an edit buffer, as a dataset holds them.
struct TOpenCursor {
  std::unique_ptr<TVLTLocalCursor> C;
  std::vector<uint8_t> Buf, Edit;

  TOpenCursor(TCursorEnv& Env, const std::string& Table = "T") : C(Env.NewCursor(Table)) {
    C->OpenTableByFieldDefs(nullptr, nullptr, nullptr);
    C->InternalInitFieldDefs();
    Buf.assign(static_cast<size_t>(C->FRecordBufferSize), 0);
    Edit = Buf;
    C->SetCurrentRecordBuffer(Buf.data());
  }
  int32_t Post(int32_t V, const char* S = nullptr) {
    C->InternalInitRecord(Buf.data(), true);
    C->SetFieldData(0, &V, Buf.data());
    if (S) {
      char Field[256] = {};  // the field manager copies the field's whole size
      std::strncpy(Field, S, sizeof Field - 1);
      C->SetFieldData(1, Field, Buf.data());
    }
    C->InternalPost(true);
    return C->FErrorCode;
  }
  int32_t V() const {
    int32_t Out = 0;
    return C->GetFieldData(0, &Out, Buf.data()) ? Out : INT32_MIN;
  }
  // Moves to the first record whose V is Value, as a dataset shows it.
  bool GoToValue(int32_t Value) {
    C->InternalFirst();
    while (C->GetRecordBuffer(grmNext) == grrOK)
      if (V() == Value) return true;
    return false;
  }
  // Edit as the dataset does it: keep the shown record, then ask the cursor.
  int32_t BeginEdit() {
    Edit = Buf;
    C->SetEditRecordBuffer(Edit.data());
    C->InternalEdit();
    return C->FErrorCode;
  }
  int32_t PostEdit(int32_t NewV) {
    C->SetFieldData(0, &NewV, Buf.data());
    C->InternalPost(false);
    return C->FErrorCode;
  }
  int32_t Delete() {
    C->InternalDelete();
    return C->FErrorCode;
  }
  std::vector<int32_t> Walk(TVLTGetRecordMode Mode = grmNext) {
    std::vector<int32_t> Out;
    if (Mode == grmNext)
      C->InternalFirst();
    else
      C->InternalLast();
    while (C->GetRecordBuffer(Mode) == grrOK) Out.push_back(V());
    return Out;
  }
};

}  // namespace vlt::test
