#include "app/paradox/ParadoxTable.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/paradox/ParadoxError.h"
#include "app/paradox/ParadoxFile.h"
#include "engine/base/VLTTypes.h"

namespace vlt::app {

// ---- TParadoxField ----

const std::string& TParadoxField::FieldName() const {
  return FTable->FFieldNames[static_cast<size_t>(FIndex)];
}

TFieldType TParadoxField::DataType() const {
  return FieldTypeOfKind(FTable->Header().Fields[static_cast<size_t>(FIndex)].Kind);
}

int TParadoxField::Size() const {
  const TParadoxFieldDesc& D = FTable->Header().Fields[static_cast<size_t>(FIndex)];
  return (D.Kind == pxfAlpha || D.Kind == pxfBytes || D.Kind == pxfBCD) ? D.DescSize : 0;
}

bool TParadoxField::IsNull() const {
  const uint8_t* R = FTable->RecordBytes();
  return !R || FieldIsNull(FTable->Header().Fields[static_cast<size_t>(FIndex)], R);
}

TParadoxValue TParadoxField::AsVariant() const {
  const uint8_t* R = FTable->RecordBytes();
  if (!R) return {};
  TParadoxTableData& D = *FTable->FData;
  return DecodeField(D.Header().Fields[static_cast<size_t>(FIndex)], R, D.CodePage(),
                     TTextForm::Ansi, D.Blobs(), D.Path());
}

int32_t TParadoxField::AsInteger() const {
  TParadoxValue V = AsVariant();
  switch (V.Kind) {
    case TParadoxValue::vkNull:
      return 0;
    case TParadoxValue::vkFloat:
    case TParadoxValue::vkCurrency:
    case TParadoxValue::vkDateTime:
      if (!std::isfinite(V.Float) || std::fabs(V.Float) > 2147483647.0)
        FTable->Fail("field \"" + FieldName() + "\": value out of range");
      return static_cast<int32_t>(std::llround(V.Float));
    case TParadoxValue::vkString: {
      char* End = nullptr;
      long L = std::strtol(V.Str.c_str(), &End, 10);
      if (V.Str.empty() || *End) FTable->Fail("'" + V.Str + "' is not a valid integer value");
      return static_cast<int32_t>(L);
    }
    case TParadoxValue::vkBytes:
      FTable->Fail("field \"" + FieldName() + "\" cannot be read as an integer");
    default:
      return static_cast<int32_t>(V.Int);
  }
}

std::string TParadoxField::AsString() const {
  TParadoxValue V = AsVariant();
  switch (V.Kind) {
    case TParadoxValue::vkBoolean:
      return V.Int ? "True" : "False";
    case TParadoxValue::vkDate: {
      if (V.Int < 1 || V.Int > 3652059) return ValueToText(V);
      TParadoxDate D = DaysToDate(static_cast<int32_t>(V.Int));
      return std::to_string(D.Month) + "/" + std::to_string(D.Day) + "/" + std::to_string(D.Year);
    }
    default:
      return ValueToText(V);
  }
}

std::string TParadoxField::AsUtf8() const {
  const uint8_t* R = FTable->RecordBytes();
  if (!R) return {};
  TParadoxTableData& D = *FTable->FData;
  return ValueToText(DecodeField(D.Header().Fields[static_cast<size_t>(FIndex)], R, D.CodePage(),
                                 TTextForm::Utf8, D.Blobs(), D.Path()));
}

bool TParadoxField::AsBoolean() const {
  TParadoxValue V = AsVariant();
  switch (V.Kind) {
    case TParadoxValue::vkNull:
      return false;
    case TParadoxValue::vkString:
      if (SameText(V.Str, "true")) return true;
      if (SameText(V.Str, "false")) return false;
      FTable->Fail("'" + V.Str + "' is not a valid boolean value");
    case TParadoxValue::vkFloat:
    case TParadoxValue::vkCurrency:
      return V.Float != 0;
    default:
      return V.Int != 0;
  }
}

double TParadoxField::AsFloat() const {
  TParadoxValue V = AsVariant();
  switch (V.Kind) {
    case TParadoxValue::vkNull:
      return 0;
    case TParadoxValue::vkFloat:
    case TParadoxValue::vkCurrency:
    case TParadoxValue::vkDateTime:
      return V.Float;
    case TParadoxValue::vkString: {
      char* End = nullptr;
      double D = std::strtod(V.Str.c_str(), &End);
      if (V.Str.empty() || *End)
        FTable->Fail("'" + V.Str + "' is not a valid floating point value");
      return D;
    }
    case TParadoxValue::vkBytes:
      FTable->Fail("field \"" + FieldName() + "\" cannot be read as a number");
    default:
      return static_cast<double>(V.Int);
  }
}

TParadoxDate TParadoxField::AsDate() const {
  TParadoxValue V = AsVariant();
  int64_t Days = 0;
  if (V.Kind == TParadoxValue::vkNull) return {};
  if (V.Kind == TParadoxValue::vkDate)
    Days = V.Int;
  else if (V.Kind == TParadoxValue::vkDateTime)
    Days = static_cast<int64_t>(std::floor(V.Float / 86400000.0));
  else
    FTable->Fail("field \"" + FieldName() + "\" is not a date field");
  if (Days < 1 || Days > 3652059)
    FTable->Fail("field \"" + FieldName() + "\" holds an invalid date");
  return DaysToDate(static_cast<int32_t>(Days));
}

void TParadoxField::SetAsVariant(const TParadoxValue& V) {
  uint8_t* R = FTable->EditBytes(FIndex);
  TParadoxTableData& D = *FTable->FData;
  EncodeField(D.Header().Fields[static_cast<size_t>(FIndex)], R, V, D.CodePage(), FieldName());
}
void TParadoxField::SetAsInteger(int32_t V) {
  SetAsVariant(TParadoxValue::Integer(V));
}
void TParadoxField::SetAsString(const std::string& V) {
  SetAsVariant(V.empty() ? TParadoxValue::Null() : TParadoxValue::String(V));
}
void TParadoxField::SetAsFloat(double V) {
  SetAsVariant(TParadoxValue::Floating(V));
}
void TParadoxField::SetAsCurrency(double V) {
  SetAsVariant(TParadoxValue::Currency(V));
}
void TParadoxField::SetAsBoolean(bool V) {
  SetAsVariant(TParadoxValue::Boolean(V));
}
void TParadoxField::SetAsDate(const TParadoxDate& V) {
  if (!IsValidDate(V)) FTable->Fail("field \"" + FieldName() + "\": invalid date");
  SetAsVariant(TParadoxValue::Date(DateToDays(V)));
}
void TParadoxField::Clear() {
  SetAsVariant(TParadoxValue::Null());
}

// ---- TParadoxTable ----

TParadoxTable::~TParadoxTable() {
  try {
    Close();
  } catch (const std::exception& E) {
    std::fprintf(stderr, "%s\n", E.what());
  }
}

void TParadoxTable::Fail(const std::string& What) const {
  throw EParadoxError("Table \"" + (FTableName.empty() ? std::string("?") : FTableName) +
                      "\": " + What + ".");
}

void TParadoxTable::CheckActive() const {
  if (!FData) Fail("the table is not open");
}

void TParadoxTable::CheckBrowse(const char* Op) const {
  CheckActive();
  if (FState != dsBrowse) Fail(std::string("cannot ") + Op + " while a record is being edited");
}

void TParadoxTable::SetDatabaseName(const std::string& Dir) {
  if (FData) Fail("cannot change the directory of an open table");
  FDatabaseName = Dir;
}

void TParadoxTable::SetTableName(const std::string& Name) {
  if (FData) Fail("cannot change the name of an open table");
  FTableName = Name;
}

std::string TParadoxTable::FilePath() const {
  std::string Name = FTableName;
  size_t Slash = Name.find_last_of('/');
  if (Name.find('.', Slash == std::string::npos ? 0 : Slash + 1) == std::string::npos)
    Name += ".db";
  if (!Name.empty() && Name[0] == '/') return Name;
  std::string Dir = FDatabaseName.empty() ? "." : FDatabaseName;
  while (Dir.size() > 1 && Dir.back() == '/') Dir.pop_back();
  std::string Found = FindParadoxFile(Dir, Name);
  return Found.empty() ? Dir + "/" + Name : Found;
}

const TParadoxHeader& TParadoxTable::Header() const {
  CheckActive();
  return FData->Header();
}

void TParadoxTable::Open() {
  if (FData) return;
  if (FTableName.empty()) throw EParadoxError("Table name is missing.");
  std::string Path = FilePath();
  if (!PathIsFile(Path)) throw EParadoxError("Table \"" + Path + "\" does not exist.");
  std::shared_ptr<TParadoxTableData> D = TParadoxTableData::Acquire(Path);
  const TParadoxHeader& H = D->Header();
  // Index field names must exist before the table counts as open.
  std::vector<int> IndexFields;
  for (const std::string& N : SplitFieldList(FIndexFieldNames)) {
    int Found = -1;
    for (size_t I = 0; I < H.Fields.size(); ++I)
      if (SameText(D->CodePage().ToWin1252(H.Fields[I].Name), N)) Found = static_cast<int>(I);
    if (Found < 0)
      throw EParadoxError("Table \"" + FTableName + "\": field '" + N + "' not found.");
    IndexFields.push_back(Found);
  }
  FData = D;
  FOrderVersion = UINT64_MAX;
  FData->Attach(this);
  FIndexFields = IndexFields;
  FIndexVersion = ~0ull;
  FFields.clear();
  FFieldNames.clear();
  for (size_t I = 0; I < H.Fields.size(); ++I) {
    FFields.emplace_back(this, static_cast<int>(I));
    FFieldNames.push_back(FData->CodePage().ToWin1252(H.Fields[I].Name));
  }
  FState = dsBrowse;
  try {
    ApplyFilter();
  } catch (...) {
    Close();
    throw;
  }
  First();
}

void TParadoxTable::Close() {
  if (!FData) return;
  FState = dsInactive;
  FFilterSet.reset();
  FFilter.reset();
  FIndexView.clear();
  FCurrent = nullptr;
  FEditing = nullptr;
  FEof = FBof = true;
  std::shared_ptr<TParadoxTableData> D = std::move(FData);
  FData.reset();
  FOrderVersion = UINT64_MAX;
  D->Detach(this);
  FFields.clear();
  if (D->CursorCount() == 0) D->Flush();
}

// ---- views ----

bool TParadoxTable::Visible(const TParadoxRecord* Rec) const {
  return !FFilter || FFilter->Matches(reinterpret_cast<const uint8_t*>(Rec->Data.data()),
                                      FData->Header().Fields, FData->CodePage());
}

void TParadoxTable::ApplyFilter() {
  FFilter.reset();
  FFilterSet.reset();
  if (!FData || !FFiltered || FFilterText.find_first_not_of(" \t") == std::string::npos) return;
  TParadoxFilter F = TParadoxFilter::Parse(FFilterText, FData->Header().Fields, FData->CodePage());
  FFilter = std::move(F);
  FFilterSet = std::make_unique<TParadoxRecordSet>(TParadoxRecordOrder{FData.get()});
  for (TParadoxRecord* R : FData->Order())
    if (Visible(R)) FFilterSet->insert(FFilterSet->end(), R);
}

void TParadoxTable::RefreshIndexView() {
  if (FIndexVersion == FData->Version()) return;
  FIndexView.assign(FData->Order().begin(), FData->Order().end());
  const auto& Fields = FData->Header().Fields;
  std::stable_sort(
      FIndexView.begin(), FIndexView.end(), [&](const TParadoxRecord* A, const TParadoxRecord* B) {
        for (int I : FIndexFields) {
          int C = FData->CompareField(Fields[static_cast<size_t>(I)],
                                      reinterpret_cast<const uint8_t*>(A->Data.data()),
                                      reinterpret_cast<const uint8_t*>(B->Data.data()));
          if (C) return C < 0;
        }
        return false;
      });
  FIndexVersion = FData->Version();
  FIndexPos = 0;
  if (FCurrent) {
    auto It = std::find(FIndexView.begin(), FIndexView.end(), FCurrent);
    FIndexPos = It == FIndexView.end() ? 0 : static_cast<size_t>(It - FIndexView.begin());
  }
}

void TParadoxTable::First() {
  CheckBrowse("move");
  FCurrent = nullptr;
  if (UsesIndexView()) {
    RefreshIndexView();
    for (size_t I = 0; I < FIndexView.size(); ++I)
      if (Visible(FIndexView[I])) {
        FCurrent = FIndexView[I];
        FIndexPos = I;
        break;
      }
  } else {
    const TParadoxRecordSet& S = FFilterSet ? *FFilterSet : FData->Order();
    if (!S.empty()) FCurrent = *S.begin();
    if (!FFilterSet && FCurrent) {
      FOrderPos = S.begin();
      FOrderVersion = FData->Version();
    }
  }
  FBof = true;
  FEof = FCurrent == nullptr;
}

void TParadoxTable::Last() {
  CheckBrowse("move");
  FCurrent = nullptr;
  if (UsesIndexView()) {
    RefreshIndexView();
    for (size_t I = FIndexView.size(); I-- > 0;)
      if (Visible(FIndexView[I])) {
        FCurrent = FIndexView[I];
        FIndexPos = I;
        break;
      }
  } else {
    const TParadoxRecordSet& S = FFilterSet ? *FFilterSet : FData->Order();
    if (!S.empty()) FCurrent = *S.rbegin();
  }
  FEof = true;
  FBof = FCurrent == nullptr;
}

void TParadoxTable::Next() {
  CheckBrowse("move");
  if (!FCurrent) {
    FEof = true;
    return;
  }
  FBof = false;
  if (UsesIndexView()) {
    RefreshIndexView();
    for (size_t I = FIndexPos + 1; I < FIndexView.size(); ++I)
      if (Visible(FIndexView[I])) {
        FCurrent = FIndexView[I];
        FIndexPos = I;
        FEof = false;
        return;
      }
    FEof = true;
    return;
  }
  const TParadoxRecordSet& S = FFilterSet ? *FFilterSet : FData->Order();
  const bool Placed = !FFilterSet && FOrderVersion == FData->Version() && FOrderPos != S.end() &&
                      *FOrderPos == FCurrent;
  auto It = Placed ? std::next(FOrderPos) : S.upper_bound(FCurrent);
  if (It == S.end()) {
    FEof = true;
    return;
  }
  FCurrent = *It;
  if (!FFilterSet) {
    FOrderPos = It;
    FOrderVersion = FData->Version();
  }
  FEof = false;
}

void TParadoxTable::Prior() {
  CheckBrowse("move");
  if (!FCurrent) {
    FBof = true;
    return;
  }
  FEof = false;
  if (UsesIndexView()) {
    RefreshIndexView();
    for (size_t I = FIndexPos; I-- > 0;)
      if (Visible(FIndexView[I])) {
        FCurrent = FIndexView[I];
        FIndexPos = I;
        FBof = false;
        return;
      }
    FBof = true;
    return;
  }
  const TParadoxRecordSet& S = FFilterSet ? *FFilterSet : FData->Order();
  auto It = S.lower_bound(FCurrent);
  if (It == S.begin()) {
    FBof = true;
    return;
  }
  FCurrent = *--It;
  FBof = false;
}

void TParadoxTable::SetIndexFieldNames(const std::string& Fields) {
  if (FData) {
    CheckBrowse("change the index");
    std::vector<int> IndexFields;
    const TParadoxHeader& H = FData->Header();
    for (const std::string& N : SplitFieldList(Fields)) {
      int Found = -1;
      for (size_t I = 0; I < H.Fields.size(); ++I)
        if (SameText(FFieldNames[I], N)) Found = static_cast<int>(I);
      if (Found < 0) Fail("field '" + N + "' not found");
      IndexFields.push_back(Found);
    }
    FIndexFieldNames = Fields;
    FIndexFields = IndexFields;
    FIndexVersion = ~0ull;
    First();
    return;
  }
  FIndexFieldNames = Fields;
}

// ---- fields ----

TParadoxField& TParadoxTable::Fields(int Index) {
  CheckActive();
  if (Index < 0 || Index >= FieldCount())
    Fail("field index " + std::to_string(Index) + " out of range");
  return FFields[static_cast<size_t>(Index)];
}

TParadoxField* TParadoxTable::FindField(const std::string& Name) {
  if (!FData) return nullptr;
  for (size_t I = 0; I < FFieldNames.size(); ++I)
    if (SameText(FFieldNames[I], Name)) return &FFields[I];
  return nullptr;
}

TParadoxField& TParadoxTable::FieldByName(const std::string& Name) {
  CheckActive();
  TParadoxField* F = FindField(Name);
  if (!F) Fail("field '" + Name + "' not found");
  return *F;
}

const uint8_t* TParadoxTable::RecordBytes() const {
  if (FState == dsEdit || FState == dsInsert)
    return reinterpret_cast<const uint8_t*>(FBuffer.data());
  if (!FCurrent) return nullptr;
  return reinterpret_cast<const uint8_t*>(FCurrent->Data.data());
}

uint8_t* TParadoxTable::EditBytes(int) {
  CheckActive();
  if (FState != dsEdit && FState != dsInsert) Fail("dataset not in edit or insert mode");
  return reinterpret_cast<uint8_t*>(FBuffer.data());
}

int32_t TParadoxTable::RecordCount() const {
  CheckActive();
  return static_cast<int32_t>(FFilterSet ? FFilterSet->size() : FData->RecordCount());
}

void TParadoxTable::SetFilter(const std::string& Text) {
  if (FState == dsEdit || FState == dsInsert)
    Fail("cannot change the filter while a record is being edited");
  std::string Old = FFilterText;
  FFilterText = Text;
  if (FData && FFiltered) {
    try {
      ApplyFilter();
    } catch (...) {
      FFilterText = Old;
      ApplyFilter();
      throw;
    }
    First();
  }
}

void TParadoxTable::SetFiltered(bool On) {
  if (FState == dsEdit || FState == dsInsert)
    Fail("cannot change the filter while a record is being edited");
  if (On == FFiltered) return;
  FFiltered = On;
  if (FData) {
    try {
      ApplyFilter();
    } catch (...) {
      FFiltered = false;
      ApplyFilter();
      throw;
    }
    First();
  }
}

// ---- changes ----

void TParadoxTable::Edit() {
  CheckActive();
  if (FReadOnly) Fail("cannot modify a read-only table");
  if (FState == dsEdit || FState == dsInsert) return;
  if (!FCurrent) Fail("there is no current record to edit");
  FBuffer = FCurrent->Data;
  FEditing = FCurrent;
  FState = dsEdit;
}

void TParadoxTable::Append() {
  CheckActive();
  if (FReadOnly) Fail("cannot modify a read-only table");
  if (FState == dsEdit || FState == dsInsert) Fail("a record is already being edited");
  FBuffer.assign(static_cast<size_t>(FData->Header().RecordSize), '\0');
  FEditing = nullptr;
  FState = dsInsert;
}

void TParadoxTable::Cancel() {
  if (FState == dsEdit || FState == dsInsert) FState = dsBrowse;
  FEditing = nullptr;
}

void TParadoxTable::PlaceAfterChange(TParadoxRecord* Rec) {
  FEof = FBof = false;
  if (Visible(Rec)) {
    FCurrent = Rec;
    if (UsesIndexView()) RefreshIndexView();
    return;
  }
  // The record left the filter: go on with the next visible record, else the last one.
  if (UsesIndexView()) {
    FCurrent = Rec;
    RefreshIndexView();
    for (size_t I = FIndexPos + 1; I < FIndexView.size(); ++I)
      if (Visible(FIndexView[I])) {
        FCurrent = FIndexView[I];
        FIndexPos = I;
        return;
      }
    FCurrent = nullptr;
    FEof = true;
    return;
  }
  auto It = FFilterSet->upper_bound(Rec);
  if (It != FFilterSet->end()) {
    FCurrent = *It;
  } else {
    FCurrent = FFilterSet->empty() ? nullptr : *FFilterSet->rbegin();
    FEof = true;
  }
}

void TParadoxTable::Post() {
  CheckActive();
  if (FState != dsEdit && FState != dsInsert) return;
  const TParadoxHeader& H = FData->Header();
  TParadoxRecord* Rec;
  if (FState == dsInsert) {
    for (const TParadoxFieldDesc& F : H.Fields)
      if (F.Kind == pxfAutoInc && FieldIsNull(F, reinterpret_cast<const uint8_t*>(FBuffer.data())))
        EncodeField(F, reinterpret_cast<uint8_t*>(FBuffer.data()),
                    TParadoxValue::Integer(FData->NextAutoInc()), FData->CodePage(), F.Name);
    Rec = FData->Insert(FBuffer);
  } else {
    if (!FEditing || !FData->Find(FEditing->Seq)) {
      FState = dsBrowse;
      Fail("the record being edited was deleted");
    }
    Rec = FEditing;
    FData->Update(Rec, FBuffer);
  }
  FState = dsBrowse;
  FEditing = nullptr;
  PlaceAfterChange(Rec);
}

void TParadoxTable::Delete() {
  CheckActive();
  if (FState == dsInsert) {
    Cancel();
    return;
  }
  if (FState == dsEdit) Cancel();
  if (FReadOnly) Fail("cannot modify a read-only table");
  if (!FCurrent) Fail("there is no current record to delete");
  FData->Remove(FCurrent);
}

// ---- notifications ----

void TParadoxTable::RecordLeaving(TParadoxRecord* Rec) {
  if (FFilterSet) FFilterSet->erase(Rec);
}

void TParadoxTable::RecordArrived(TParadoxRecord* Rec) {
  if (FFilterSet && Visible(Rec)) FFilterSet->insert(Rec);
}

void TParadoxTable::RecordRemoving(TParadoxRecord* Rec) {
  if (FEditing == Rec) {
    FEditing = nullptr;
    if (FState == dsEdit) FState = dsBrowse;
  }
  if (FCurrent != Rec) return;
  // Move to the next visible record, else to the previous one.
  TParadoxRecord* Next = nullptr;
  TParadoxRecord* Prev = nullptr;
  if (UsesIndexView()) {
    RefreshIndexView();
    for (size_t I = FIndexPos + 1; I < FIndexView.size() && !Next; ++I)
      if (Visible(FIndexView[I])) Next = FIndexView[I];
    for (size_t I = FIndexPos; I-- > 0 && !Prev;)
      if (Visible(FIndexView[I])) Prev = FIndexView[I];
  } else {
    const TParadoxRecordSet& S = FFilterSet ? *FFilterSet : FData->Order();
    auto It = S.upper_bound(Rec);
    if (It != S.end()) Next = *It;
    auto Lo = S.lower_bound(Rec);
    if (Lo != S.begin()) Prev = *--Lo;
  }
  FCurrent = Next ? Next : Prev;
  FEof = Next == nullptr;
  FBof = FCurrent == nullptr;
  FIndexVersion = ~0ull;
}

// ---- bookmarks ----

TParadoxBookmark TParadoxTable::GetBookmark() const {
  CheckActive();
  return FCurrent ? FCurrent->Seq : 0;
}

bool TParadoxTable::BookmarkValid(TParadoxBookmark B) const {
  if (!FData || B == 0) return false;
  TParadoxRecord* R = FData->Find(B);
  return R && (!FFilter || Visible(R));
}

void TParadoxTable::GotoBookmark(TParadoxBookmark B) {
  CheckBrowse("move");
  TParadoxRecord* R = B ? FData->Find(B) : nullptr;
  if (!R) Fail("record/key deleted");
  FCurrent = R;
  FEof = FBof = false;
  if (UsesIndexView()) {
    FIndexVersion = ~0ull;
    RefreshIndexView();
  }
}

void TParadoxTable::CheckInvariants() const {
  CheckActive();
  FData->CheckInvariants();
  if (!FFilterSet) return;
  size_t Visible = 0;
  for (TParadoxRecord* R : FData->Order())
    if (this->Visible(R)) {
      ++Visible;
      if (!FFilterSet->count(R)) Fail("a visible record is missing from the filter set");
    }
  if (Visible != FFilterSet->size()) Fail("the filter set holds records that are not visible");
}

// ---- definitions ----

void TParadoxTable::ReadHeaderFromFile(TParadoxHeader& H) const {
  if (FData) {
    H = FData->Header();
    return;
  }
  if (FTableName.empty()) throw EParadoxError("Table name is missing.");
  std::string Path = FilePath();
  if (!PathIsFile(Path)) throw EParadoxError("Table \"" + Path + "\" does not exist.");
  std::string Bytes = ReadWholeFile(Path);
  H = ParseParadoxHeader(reinterpret_cast<const uint8_t*>(Bytes.data()), Bytes.size(), Path);
  if (!H.IsDataFile()) throw EParadoxError("\"" + Path + "\" is not a Paradox table.");
}

void TParadoxTable::UpdateFieldDefs() {
  TParadoxHeader H;
  ReadHeaderFromFile(H);
  TParadoxCodePage CP(H.CodePage);
  FFieldDefs.clear();
  for (const TParadoxFieldDesc& F : H.Fields) {
    int Size = (F.Kind == pxfAlpha || F.Kind == pxfBytes || F.Kind == pxfBCD) ? F.DescSize : 0;
    if (F.Kind == pxfMemo || F.Kind == pxfBlob || F.Kind == pxfFmtMemo || F.Kind == pxfOLE ||
        F.Kind == pxfGraphic)
      Size = F.DescSize - 10;
    FFieldDefs.push_back({CP.ToWin1252(F.Name), FieldTypeOfKind(F.Kind), Size, false});
  }
}

void TParadoxTable::UpdateIndexDefs() {
  TParadoxHeader H;
  ReadHeaderFromFile(H);
  TParadoxCodePage CP(H.CodePage);
  FIndexDefs.clear();
  if (H.KeyFields > 0) {
    std::string Fields;
    for (int I = 0; I < H.KeyFields; ++I) {
      if (I) Fields += ';';
      Fields += CP.ToWin1252(H.Fields[static_cast<size_t>(I)].Name);
    }
    FIndexDefs.push_back({"", Fields, static_cast<uint8_t>(ixPrimary | ixUnique)});
  }
}

namespace {

// The number of leading fields named by Fields, which must be the first fields in order.
int LeadingKeyCount(const std::vector<std::string>& Names, const std::string& Fields,
                    const std::string& Table) {
  std::vector<std::string> Key = SplitFieldList(Fields);
  if (Key.empty())
    throw EParadoxError("Table \"" + Table + "\": the primary index names no fields.");
  if (Key.size() > Names.size())
    throw EParadoxError("Table \"" + Table +
                        "\": the primary index names more fields than the table has.");
  for (size_t I = 0; I < Key.size(); ++I)
    if (!SameText(Key[I], Names[I]))
      throw EParadoxError(
          "Table \"" + Table +
          "\": the fields of a primary index must be the first fields of the table, in order ('" +
          Key[I] + "').");
  return static_cast<int>(Key.size());
}

void RemoveFile(const std::string& Path) {
  if (!Path.empty()) ::unlink(Path.c_str());
}

}  // namespace

void TParadoxTable::CreateTable() {
  if (FData) Fail("cannot create a table that is open");
  if (FTableName.empty()) throw EParadoxError("Table name is missing.");
  if (FFieldDefs.empty()) Fail("no fields are defined");
  TParadoxHeader H;
  H.Version = 0x0B;
  H.CodePage = 1252;
  H.SortOrder = 0;
  H.SortOrderName = "ascii";
  H.Encryption = FEncryptionKey;
  std::vector<std::string> Names;
  TParadoxCodePage CP(1252);
  for (const TParadoxFieldDef& D : FFieldDefs) {
    if (D.Name.empty()) Fail("a field has no name");
    if (D.Name.size() > 25) Fail("field name '" + D.Name + "' is longer than 25 characters");
    for (const std::string& N : Names)
      if (SameText(N, D.Name)) Fail("field '" + D.Name + "' is defined twice");
    TParadoxFieldKind K;
    if (!KindOfFieldType(D.DataType, K))
      Fail("field '" + D.Name + "' has a type that cannot be created (" +
           std::string(FieldTypeName(D.DataType)) + ")");
    TParadoxFieldDesc F;
    F.Name = D.Name;
    F.Kind = K;
    if (K == pxfAlpha || K == pxfBytes) {
      if (D.Size < 1 || D.Size > 255) Fail("field '" + D.Name + "' needs a size from 1 to 255");
      F.DescSize = D.Size;
    } else {
      F.DescSize = StoredFieldSize(K, 0);
    }
    H.Fields.push_back(F);
    Names.push_back(D.Name);
  }
  if (FIndexDefs.size() > 1) Fail("only the primary index can be created");
  if (!FIndexDefs.empty()) {
    const TParadoxIndexDef& I = FIndexDefs[0];
    if (!(I.Options & ixPrimary)) Fail("only a primary index can be created");
    H.KeyFields = LeadingKeyCount(Names, I.Fields, FTableName);
  }
  H.RecordSize = LayoutFields(H.Fields);
  if (H.RecordSize > 32 * 1024 - 6) Fail("the record is too long");
  H.BlockSize = 2048;
  while (H.RecordSize + 6 > H.BlockSize) H.BlockSize *= 2;
  std::string Path = FilePath();
  if (TParadoxTableData::IsOpen(Path)) Fail("the table is in use");
  size_t Slash = Path.find_last_of('/');
  H.TableName = Slash == std::string::npos ? Path : Path.substr(Slash + 1);
  // Replace the old table: its index and BLOB files go with it.
  RemoveFile(FindSiblingFile(Path, ".px"));
  RemoveFile(FindSiblingFile(Path, ".mb"));
  WriteParadoxFile(Path, H, {});
}

void TParadoxTable::AddIndex(const std::string& Name, const std::string& Fields, uint8_t Options) {
  if (!(Options & ixPrimary) || !Name.empty())
    Fail("only the unnamed primary index can be added to a Paradox table");
  if (FState == dsEdit || FState == dsInsert)
    Fail("cannot add an index while a record is being edited");
  std::shared_ptr<TParadoxTableData> D = FData;
  if (!D) {
    if (FTableName.empty()) throw EParadoxError("Table name is missing.");
    std::string Path = FilePath();
    if (!PathIsFile(Path)) throw EParadoxError("Table \"" + Path + "\" does not exist.");
    D = TParadoxTableData::Acquire(Path);
  }
  std::vector<std::string> Names;
  for (const TParadoxFieldDesc& F : D->Header().Fields)
    Names.push_back(D->CodePage().ToWin1252(F.Name));
  int Keys = LeadingKeyCount(Names, Fields, FTableName);
  D->SetPrimaryKey(Keys);
  D->MarkModified();
  D->Flush();
  if (FData) {
    FIndexVersion = ~0ull;
    First();
  }
}

}  // namespace vlt::app
