// Field objects: the application's typed view of one column of a dataset's current record.
//
// A field object holds no value of its own: reading and writing go through its dataset to the
// current record buffer (the active record, or the key buffer while keys are edited). NULL is
// a state of its own (IsNull, Clear); reading a NULL field as a number gives 0, as text "".
//
// Data fields are numbered from 1 in definition order (FFieldNo); calculated and lookup fields
// have field number 0 and are kept by the dataset beside the record, in the calculated-fields
// area after the cursor's record buffer. Each takes a slot at FCalcOffset in that area:
//
//   OFFSET  SIZE                                 CONTENT
//   0       1                                    has-value flag (0 = NULL)
//   1       storage size of the field's type     the value in the record layout (strings
//           (strings: characters + terminator)   zero-terminated)
//
// A calculated field gets its value from the dataset's OnCalcFields handler, which runs (in the
// calculation state) whenever a record is read and, with AutoCalcFields, whenever a data field
// of the record being edited changes. A lookup field gets the LookupResultField of the record
// of LookupDataSet whose LookupKeyFields equal this dataset's KeyFields (NULL when none does or
// LookupDataSet is closed). Both kinds hold values of fixed size only: BLOB, memo and byte
// types cannot be calculated.
#pragma once

#include <cstdint>
#include <string>

#include "engine/expr/VLTFieldTypeTable.h"
#include "engine/expr/VLTVariant.h"

namespace vlt {

class TVLTDataSet;

enum TVLTFieldKind : uint8_t { fkData, fkCalculated, fkLookup };

// The customary name of a field type ("String", "Integer", ...), used in messages.
std::string FieldTypeName(TVLTDataSetFieldType T);

class TVLTField {
 public:
  TVLTField(TVLTDataSetFieldType DataType, std::string FieldName, int32_t Size = 0);
  virtual ~TVLTField() = default;
  TVLTField(const TVLTField&) = delete;
  TVLTField& operator=(const TVLTField&) = delete;

  const std::string& FieldName() const { return FFieldName; }
  const std::string& DisplayName() const { return FFieldName; }
  TVLTDataSetFieldType DataType() const { return FDataType; }
  int32_t Size() const { return FSize; }
  int32_t FieldNo() const { return FFieldNo; }
  TVLTDataSet* DataSet() const { return FDataSet; }
  bool IsBlob() const;

  bool IsNull() const;
  void Clear();

  // Value as the engine's variant (NULL variant for a NULL field).
  TVLTVariant AsVariant() const;
  // A NULL variant clears the field. Validation runs first (ranges, texts).
  void SetAsVariant(const TVLTVariant& Value);

  std::string AsString() const;
  virtual void SetAsString(const std::string& Value);
  int32_t AsInteger() const;
  virtual void SetAsInteger(int32_t Value);
  int64_t AsLargeInt() const;
  virtual void SetAsLargeInt(int64_t Value);
  double AsFloat() const;
  virtual void SetAsFloat(double Value);
  double AsCurrency() const;
  void SetAsCurrency(double Value);
  bool AsBoolean() const;
  virtual void SetAsBoolean(bool Value);
  // Calendar date-time: days since 1899-12-30 with the time as the fraction.
  double AsDateTime() const;
  void SetAsDateTime(double Value);

  // The storage type field values are exchanged in.
  TVLTBaseFieldType BaseType() const;

  bool FRequired = false;
  bool FReadOnly = false;
  TVLTFieldKind FFieldKind = fkData;
  // Lookup fields: the dataset searched, its key fields and result field, and the fields of
  // this dataset that give the key values (field lists separated by ';').
  TVLTDataSet* FLookupDataSet = nullptr;
  std::string FLookupKeyFields;
  std::string FLookupResultField;
  std::string FKeyFields;

 protected:
  friend class TVLTDataSet;
  [[noreturn]] void FieldError(const std::string& Message) const;
  // Range check of integer fields; "%g is not a valid value for field '%s'. The allowed range
  // is %g to %g".
  void CheckRange(double Value, double Min, double Max) const;

  TVLTDataSetFieldType FDataType;
  std::string FFieldName;
  int32_t FSize;
  int32_t FFieldNo = 0;
  int32_t FCalcOffset = 0;  // slot in the calculated-fields area
  TVLTDataSet* FDataSet = nullptr;
};

// The field kinds the application declares. They differ in type and in the checks of their
// setters.
class TVLTStringField : public TVLTField {
 public:
  TVLTStringField(std::string Name, int32_t Size, bool Fixed = false)
      : TVLTField(Fixed ? ftFixedChar : ftString, std::move(Name), Size) {}
};
class TVLTIntegerField : public TVLTField {
 public:
  explicit TVLTIntegerField(std::string Name, TVLTDataSetFieldType T = ftInteger)
      : TVLTField(T, std::move(Name)) {}
  void SetAsString(const std::string& Value) override;
  void SetAsInteger(int32_t Value) override { SetAsLargeInt(Value); }
  void SetAsLargeInt(int64_t Value) override;
  void SetAsFloat(double Value) override;
};
class TVLTSmallintField : public TVLTIntegerField {
 public:
  explicit TVLTSmallintField(std::string Name) : TVLTIntegerField(std::move(Name), ftSmallint) {}
};
class TVLTWordField : public TVLTIntegerField {
 public:
  explicit TVLTWordField(std::string Name) : TVLTIntegerField(std::move(Name), ftWord) {}
};
class TVLTAutoIncField : public TVLTIntegerField {
 public:
  explicit TVLTAutoIncField(std::string Name) : TVLTIntegerField(std::move(Name), ftAutoInc) {}
};
class TVLTLargeintField : public TVLTIntegerField {
 public:
  explicit TVLTLargeintField(std::string Name) : TVLTIntegerField(std::move(Name), ftLargeint) {}
};
class TVLTFloatField : public TVLTField {
 public:
  explicit TVLTFloatField(std::string Name, TVLTDataSetFieldType T = ftFloat)
      : TVLTField(T, std::move(Name)) {}
  void SetAsString(const std::string& Value) override;
};
class TVLTCurrencyField : public TVLTFloatField {
 public:
  explicit TVLTCurrencyField(std::string Name) : TVLTFloatField(std::move(Name), ftCurrency) {}
};
class TVLTBooleanField : public TVLTField {
 public:
  explicit TVLTBooleanField(std::string Name) : TVLTField(ftBoolean, std::move(Name)) {}
  void SetAsString(const std::string& Value) override;
};
class TVLTDateTimeField : public TVLTField {
 public:
  explicit TVLTDateTimeField(std::string Name, TVLTDataSetFieldType T = ftDateTime)
      : TVLTField(T, std::move(Name)) {}
};
class TVLTDateField : public TVLTDateTimeField {
 public:
  explicit TVLTDateField(std::string Name) : TVLTDateTimeField(std::move(Name), ftDate) {}
};
class TVLTTimeField : public TVLTDateTimeField {
 public:
  explicit TVLTTimeField(std::string Name) : TVLTDateTimeField(std::move(Name), ftTime) {}
};
// BLOB and memo fields read and write their whole content as text through a BLOB stream.
class TVLTBlobField : public TVLTField {
 public:
  explicit TVLTBlobField(std::string Name, TVLTDataSetFieldType T = ftBlob)
      : TVLTField(T, std::move(Name)) {}
};
class TVLTMemoField : public TVLTBlobField {
 public:
  explicit TVLTMemoField(std::string Name) : TVLTBlobField(std::move(Name), ftMemo) {}
};

}  // namespace vlt
