// A cursor for expression tests: fields laid out by hand in a record buffer (null bitmap, then
// the fields packed), without tables or files.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "engine/expr/VLTExprCursor.h"
#include "engine/expr/VLTVariant.h"

namespace vlt::test {

class TExprTestCursor : public TVLTExprCursor {
 public:
  struct TField {
    std::string Name;
    TVLTBaseFieldType Type;
    int32_t Size;
    int32_t DataSize;
    int32_t Offset;
  };

  // Fields in order; strings of Size characters (plus terminator).
  TExprTestCursor& Add(const std::string& Name, TVLTBaseFieldType Type, int32_t Size = 0) {
    int32_t Data = FixedDataSize(Type);
    if (IsAnsiStringBaseType(Type)) Data = Size + 1;
    if (IsWideStringBaseType(Type)) Data = 2 * (Size + 1);
    FFields.push_back({Name, Type, Size, Data, 0});
    int32_t Offset = static_cast<int32_t>((FFields.size() + 7) / 8);
    for (TField& F : FFields) {
      F.Offset = Offset;
      Offset += F.DataSize;
    }
    FRecordSize = Offset;
    return *this;
  }

  // A record with every field null.
  std::vector<uint8_t> NewRecord() const {
    std::vector<uint8_t> R(static_cast<size_t>(FRecordSize), 0);
    for (size_t I = 0; I < FFields.size(); ++I) R[I / 8] |= static_cast<uint8_t>(1u << (I % 8));
    return R;
  }

  // Writes V (cast to the field's type) into the record; a null V sets the null bit.
  void Set(std::vector<uint8_t>& R, const std::string& Name, TVLTVariant V) const {
    for (size_t I = 0; I < FFields.size(); ++I) {
      const TField& F = FFields[I];
      if (F.Name != Name) continue;
      if (V.IsNullOrEmpty()) {
        R[I / 8] |= static_cast<uint8_t>(1u << (I % 8));
        return;
      }
      V.Cast(F.Type);
      std::memset(R.data() + F.Offset, 0, static_cast<size_t>(F.DataSize));
      const int32_t Unit = IsWideStringBaseType(F.Type) ? 2 : IsAnsiStringBaseType(F.Type) ? 1 : 0;
      const int32_t N = std::min(V.DataSize(), F.DataSize - Unit);
      std::memcpy(R.data() + F.Offset, V.Data(), static_cast<size_t>(N));
      R[I / 8] &= static_cast<uint8_t>(~(1u << (I % 8)));
      return;
    }
  }

  bool FindExprField(std::string_view Name, TVLTExprFieldInfo& Info) const override {
    for (size_t I = 0; I < FFields.size(); ++I) {
      const TField& F = FFields[I];
      if (F.Name.size() != Name.size() ||
          !std::equal(Name.begin(), Name.end(), F.Name.begin(),
                      [](char A, char B) { return std::toupper(A) == std::toupper(B); }))
        continue;
      Info.FieldName = F.Name;
      Info.FieldNo = static_cast<int32_t>(I);
      Info.Offset = F.Offset;
      Info.DataSize = F.DataSize;
      Info.FieldSize = F.Size;
      Info.BaseFieldType = F.Type;
      return true;
    }
    return false;
  }
  const uint8_t* ExprCurrentRecordBuffer() const override { return FCurrent; }
  int32_t ExprRecordSize() const override { return FRecordSize; }
  void ReadExprBlobText(int32_t, const uint8_t*, TVLTVariant& Value) override {
    Value.Clear(bftVarchar);
  }
  int32_t ExprSessionID() const override { return 0; }

  const uint8_t* FCurrent = nullptr;
  std::vector<TField> FFields;
  int32_t FRecordSize = 0;
};

}  // namespace vlt::test
