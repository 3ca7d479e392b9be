// TVLTVariant: storage, typed access and the stream image.
#include "engine/expr/VLTVariant.h"

#include <cmath>
#include <cstring>

#include "engine/base/VLTMemory.h"
#include "engine/base/VLTTypes.h"
#include "engine/expr/VLTLocale.h"
#include "engine/expr/VLTVariantInternal.h"
#include "engine/protect/VLTStream.h"

namespace vlt {

// ---- errors ----

EVLTConvertError::EVLTConvertError(int32_t NativeError, std::string_view Format,
                                   std::initializer_list<TVLTFormatArg> Args)
    : EVLTException(NativeError, Format, Args) {
  auto Formatted = VLTFormat(Format, Args);
  FText = Formatted ? *Formatted : std::string(Format);
}

void RaiseNull(int32_t Code) { throw EVLTException(Code, "Value is Null"); }

// ---- calendar date-times ----

TVLTDateTime CalendarToVLTDateTime(double Value) {
  double Whole = std::trunc(Value);
  auto MSecs = static_cast<int64_t>(std::llround(std::fabs(Value - Whole) * kMSecsPerDay));
  auto Days = static_cast<int64_t>(Whole);
  if (MSecs >= kMSecsPerDay) {  // rounding reached the next day
    MSecs -= kMSecsPerDay;
    Days += Value < 0 ? -1 : 1;
  }
  return {static_cast<int32_t>(Days + kDateDelta), static_cast<int32_t>(MSecs)};
}

double VLTDateTimeToCalendar(const TVLTDateTime& Value) {
  double Days = static_cast<double>(Value.Date) - kDateDelta;
  double Fraction = static_cast<double>(Value.Time) / kMSecsPerDay;
  return Days < 0 ? Days - Fraction : Days + Fraction;
}

// ---- life cycle ----

TVLTVariant::TVLTVariant(TVLTBaseFieldType DataType) : FDataType(DataType) {}

TVLTVariant::TVLTVariant(const TVLTVariant& Other) : FDataType(Other.FDataType) {
  if (!Other.IsNull()) TakeOwnBytes(Other.FPData, Other.FDataSize);
  FIsNull = Other.FIsNull;
}

TVLTVariant& TVLTVariant::operator=(const TVLTVariant& Other) {
  if (this != &Other) Assign(Other, true);
  return *this;
}

TVLTVariant::TVLTVariant(TVLTVariant&& Other) noexcept
    : FDataType(Other.FDataType),
      FDataSize(Other.FDataSize),
      FPData(Other.FPData),
      FIsNull(Other.FIsNull),
      FIsDataLinked(Other.FIsDataLinked),
      FHeap(Other.FHeap),
      FHeapCapacity(Other.FHeapCapacity) {
  if (Other.FPData == Other.FInline) {
    std::memcpy(FInline, Other.FInline, kInlineSize);
    FPData = FInline;
  }
  Other.FHeap = nullptr;
  Other.FHeapCapacity = 0;
  Other.Clear(Other.FDataType);
}

TVLTVariant& TVLTVariant::operator=(TVLTVariant&& Other) noexcept {
  if (this == &Other) return *this;
  ReleaseHeap();
  FDataType = Other.FDataType;
  FDataSize = Other.FDataSize;
  FPData = Other.FPData;
  FIsNull = Other.FIsNull;
  FIsDataLinked = Other.FIsDataLinked;
  FHeap = Other.FHeap;
  FHeapCapacity = Other.FHeapCapacity;
  if (Other.FPData == Other.FInline) {
    std::memcpy(FInline, Other.FInline, kInlineSize);
    FPData = FInline;
  }
  Other.FHeap = nullptr;
  Other.FHeapCapacity = 0;
  Other.Clear(Other.FDataType);
  return *this;
}

TVLTVariant::~TVLTVariant() { ReleaseHeap(); }

void TVLTVariant::ReleaseHeap() {
  if (FHeap) {
    if (FPData == FHeap) FPData = nullptr;
    TVLTMemoryManager::Instance().FreeMem(FHeap);
    FHeap = nullptr;
    FHeapCapacity = 0;
  }
}

uint8_t* TVLTVariant::Reserve(int32_t Size) {
  FIsDataLinked = false;
  if (Size <= kInlineSize) {
    FPData = FInline;
  } else {
    if (FHeapCapacity < Size) {
      ReleaseHeap();
      FHeap = static_cast<uint8_t*>(TVLTMemoryManager::Instance().GetMem(static_cast<size_t>(Size)));
      FHeapCapacity = Size;
    }
    FPData = FHeap;
  }
  FDataSize = Size;
  return FPData;
}

void TVLTVariant::TakeOwnBytes(const void* Buffer, int32_t Size) {
  if (Size <= 0 || Buffer == nullptr) {
    FPData = nullptr;
    FDataSize = 0;
    FIsDataLinked = false;
    FIsNull = true;
    return;
  }
  auto* B = static_cast<const uint8_t*>(Buffer);
  bool Inside = (B >= FInline && B < FInline + kInlineSize) ||
                (FHeap && B >= FHeap && B < FHeap + FHeapCapacity);
  if (Inside) {
    if (B == FPData && !FIsDataLinked) {  // already ours
      FDataSize = Size;
      FIsNull = false;
      return;
    }
    std::vector<uint8_t> Copy(B, B + Size);
    std::memcpy(Reserve(Size), Copy.data(), static_cast<size_t>(Size));
  } else {
    std::memcpy(Reserve(Size), B, static_cast<size_t>(Size));
  }
  FIsNull = false;
}

void TVLTVariant::Clear(TVLTBaseFieldType DataType) {
  FDataType = DataType;
  FPData = nullptr;
  FDataSize = 0;
  FIsNull = true;
  FIsDataLinked = false;
}

void TVLTVariant::SetDataType(TVLTBaseFieldType NewDataType) {
  if (IsNull()) {
    Clear(NewDataType);
    return;
  }
  try {
    Cast(NewDataType);
  } catch (const EVLTException&) {
    Clear(NewDataType);
  }
}

bool TVLTVariant::IsNullOrEmpty() const {
  if (IsNull()) return true;
  if (IsStringBaseType(FDataType)) return StrLen() == 0;
  return false;
}

void TVLTVariant::Assign(const TVLTVariant& Source, bool CopyData) {
  if (this == &Source) return;
  FDataType = Source.FDataType;
  if (Source.FPData == nullptr || Source.FDataSize <= 0) {
    Clear(Source.FDataType);
  } else if (CopyData) {
    TakeOwnBytes(Source.FPData, Source.FDataSize);
  } else {
    FPData = Source.FPData;
    FDataSize = Source.FDataSize;
    FIsDataLinked = true;
  }
  FIsNull = Source.FIsNull || FPData == nullptr;
}

void TVLTVariant::SetData(const void* Buffer, int32_t Size, bool Copy, TVLTBaseFieldType DataType) {
  if (Buffer == nullptr || Size <= 0) {
    Clear(DataType);
    return;
  }
  int32_t Fixed = FixedDataSize(DataType);
  if (Fixed != 0 && Size != Fixed)
    throw EVLTException(kErrInvalidDataSize, "Invalid data size %d for data type '%s'",
                        {int64_t{Size}, std::string(BaseFieldTypeName(DataType))});
  FDataType = DataType;
  if (Copy) {
    TakeOwnBytes(Buffer, Size);
  } else {
    FPData = static_cast<uint8_t*>(const_cast<void*>(Buffer));
    FDataSize = Size;
    FIsDataLinked = true;
  }
  FIsNull = false;
}

bool TVLTVariant::CopyDataToAddress(void* Buffer, int32_t MaxSize) const {
  if (IsNull()) return false;
  if (IsStringBaseType(FDataType) && StrLen() == 0) return false;
  if (MaxSize != -1 && MaxSize < FDataSize)
    throw EVLTException(kErrBufferSizeExceeded, "Buffer size exceeded");
  std::memcpy(Buffer, FPData, static_cast<size_t>(FDataSize));
  return true;
}

// ---- views ----

std::string_view TVLTVariant::AnsiView() const {
  if (IsNull()) return {};
  auto* P = reinterpret_cast<const char*>(FPData);
  if (IsAnsiStringBaseType(FDataType)) return {P, strnlen(P, static_cast<size_t>(FDataSize))};
  return {P, static_cast<size_t>(FDataSize)};
}

const uint8_t* TVLTVariant::WideUnits(size_t& Length) const {
  Length = 0;
  if (IsNull()) return FPData;
  size_t Units = static_cast<size_t>(FDataSize) / 2;
  if (IsWideStringBaseType(FDataType)) {
    while (Length < Units && (FPData[2 * Length] | FPData[2 * Length + 1]) != 0) ++Length;
  } else {
    Length = Units;
  }
  return FPData;
}

int32_t TVLTVariant::StrLen() const {
  if (IsNull() || !IsStringBaseType(FDataType)) return -1;
  if (IsWideStringBaseType(FDataType)) {
    size_t N;
    WideUnits(N);
    return static_cast<int32_t>(N);
  }
  return static_cast<int32_t>(AnsiView().size());
}

// ---- storing ----

void TVLTVariant::StoreString(std::string_view S, TVLTBaseFieldType Type) {
  FDataType = Type;
  if (S.empty()) {  // an empty string is null
    Clear(Type);
    return;
  }
  bool Terminated = Type != bftClob;
  auto Size = static_cast<int32_t>(S.size() + (Terminated ? 1 : 0));
  std::string Copy;  // S may point into our own storage
  if (!FIsDataLinked && FPData && S.data() >= reinterpret_cast<const char*>(FPData) &&
      S.data() < reinterpret_cast<const char*>(FPData) + FDataSize) {
    Copy.assign(S);
    S = Copy;
  }
  uint8_t* P = Reserve(Size);
  std::memcpy(P, S.data(), S.size());
  if (Terminated) P[S.size()] = 0;
  FIsNull = false;
}

void TVLTVariant::StoreWide(std::u16string_view S, TVLTBaseFieldType Type) {
  FDataType = Type;
  if (S.empty()) {
    Clear(Type);
    return;
  }
  bool Terminated = Type != bftWideClob;
  auto Size = static_cast<int32_t>((S.size() + (Terminated ? 1 : 0)) * 2);
  std::u16string Copy;
  if (!FIsDataLinked && FPData && reinterpret_cast<const uint8_t*>(S.data()) >= FPData &&
      reinterpret_cast<const uint8_t*>(S.data()) < FPData + FDataSize) {
    Copy.assign(S);
    S = Copy;
  }
  uint8_t* P = Reserve(Size);
  std::memcpy(P, S.data(), S.size() * 2);
  if (Terminated) P[Size - 2] = P[Size - 1] = 0;
  FIsNull = false;
}

TVLTVariant TVLTVariant::CastCopy(TVLTBaseFieldType Type) const {
  TVLTVariant T;
  T.Assign(*this, false);
  T.Cast(Type);
  return T;
}

void TVLTVariant::CheckNotNull(int32_t Code) const {
  if (IsNull()) RaiseNull(Code);
}

// ---- getters ----

namespace {
template <typename T>
T ReadAs(const TVLTVariant& V, TVLTBaseFieldType Type, int32_t NullCode) {
  if (V.IsNull()) RaiseNull(NullCode);
  if (V.DataType() == Type) return LoadLE<T>(V.Data());
  TVLTVariant C;
  C.Assign(V, false);
  C.Cast(Type);
  if (C.IsNull()) RaiseNull(NullCode);
  return LoadLE<T>(C.Data());
}
}  // namespace

int8_t TVLTVariant::AsShortint() const { return ReadAs<int8_t>(*this, bftSignedInt8, kErrValueIsNull); }
int16_t TVLTVariant::AsSmallint() const {
  return ReadAs<int16_t>(*this, bftSignedInt16, kErrValueIsNull);
}
int32_t TVLTVariant::AsInteger() const {
  return ReadAs<int32_t>(*this, bftSignedInt32, kErrValueIsNull);
}
int64_t TVLTVariant::AsInt64() const { return ReadAs<int64_t>(*this, bftSignedInt64, kErrValueIsNull); }
uint8_t TVLTVariant::AsByte() const { return ReadAs<uint8_t>(*this, bftUnsignedInt8, kErrValueIsNull); }
uint16_t TVLTVariant::AsWord() const {
  return ReadAs<uint16_t>(*this, bftUnsignedInt16, kErrValueIsNull);
}
uint32_t TVLTVariant::AsCardinal() const {
  return ReadAs<uint32_t>(*this, bftUnsignedInt32, kErrValueIsNull);
}
float TVLTVariant::AsSingle() const { return ReadAs<float>(*this, bftSingle, kErrValueIsNull); }
double TVLTVariant::AsDouble() const { return ReadAs<double>(*this, bftDouble, kErrValueIsNull); }
long double TVLTVariant::AsExtended() const {
  CheckNotNull(kErrValueIsNull);
  if (FDataType == bftExtended) return LoadExtended(FPData);
  TVLTVariant C = CastCopy(bftExtended);
  if (C.IsNull()) RaiseNull(kErrValueIsNull);
  return LoadExtended(C.FPData);
}
double TVLTVariant::AsCurrency() const { return ReadAs<double>(*this, bftCurrency, kErrValueIsNull); }
bool TVLTVariant::AsBoolean() const {
  return ReadAs<uint16_t>(*this, bftLogical, kErrLogicalIsNull) != 0;
}
int32_t TVLTVariant::AsVLTDate() const { return ReadAs<int32_t>(*this, bftDate, kErrValueIsNull); }
int32_t TVLTVariant::AsVLTTime() const { return ReadAs<int32_t>(*this, bftTime, kErrValueIsNull); }
TVLTDateTime TVLTVariant::AsVLTDateTime() const {
  CheckNotNull(kErrValueIsNull);
  const TVLTVariant* Src = this;
  TVLTVariant C;
  if (FDataType != bftDateTime) {
    C = CastCopy(bftDateTime);
    if (C.IsNull()) RaiseNull(kErrValueIsNull);
    Src = &C;
  }
  return {LoadLE<int32_t>(Src->FPData), LoadLE<int32_t>(Src->FPData + 4)};
}
double TVLTVariant::AsDate() const { return static_cast<double>(AsVLTDate()) - kDateDelta; }
double TVLTVariant::AsTime() const { return static_cast<double>(AsVLTTime()) / kMSecsPerDay; }
double TVLTVariant::AsDateTime() const { return VLTDateTimeToCalendar(AsVLTDateTime()); }

std::string TVLTVariant::AsAnsiString() const {
  if (IsNull()) return {};
  if (IsAnsiStringBaseType(FDataType) || FDataType == bftClob) return std::string(AnsiView());
  TVLTVariant C = CastCopy(bftVarchar);
  return std::string(C.AnsiView());
}

std::u16string TVLTVariant::AsWideString() const {
  if (IsNull()) return {};
  const TVLTVariant* Src = this;
  TVLTVariant C;
  if (!IsWideStringBaseType(FDataType) && FDataType != bftWideClob) {
    C = CastCopy(bftWideVarchar);
    Src = &C;
  }
  size_t N;
  const uint8_t* P = Src->WideUnits(N);
  std::u16string Out(N, u'\0');
  if (N) std::memcpy(Out.data(), P, N * 2);
  return Out;
}

TVLTPlatformVariant TVLTVariant::AsVariant() const {
  if (IsNull()) return std::monostate{};
  switch (FDataType) {
    case bftSignedInt8:
    case bftSignedInt16:
    case bftSignedInt32:
    case bftUnsignedInt8:
    case bftUnsignedInt16:
      return AsInteger();
    case bftSignedInt64:
    case bftUnsignedInt32:
      return AsInt64();
    case bftSingle:
    case bftDouble:
    case bftExtended:
    case bftCurrency:
      return AsDouble();
    case bftLogical:
      return AsBoolean();
    case bftDate:
    case bftTime:
    case bftDateTime:
      return TVLTCalendarDate{AsDateTime()};
    case bftWideChar:
    case bftWideVarchar:
    case bftWideClob:
      return AsWideString();
    default:
      return std::string(AnsiView());
  }
}

// ---- setters ----

namespace {
// Gives V the value Source holds: V takes Source's type when it has none, otherwise Source is
// converted to V's type.
void SetTyped(TVLTVariant& V, TVLTVariant&& Source) {
  if (V.DataType() != bftUnknown && V.DataType() != Source.DataType())
    Source.Cast(V.DataType());
  V = std::move(Source);
}
}  // namespace

template <typename T>
static void SetScalar(TVLTVariant& V, TVLTBaseFieldType Type, T Value) {
  TVLTVariant S;
  S.SetData(&Value, sizeof(T), true, Type);
  SetTyped(V, std::move(S));
}

void TVLTVariant::SetAsShortint(int8_t V) { SetScalar(*this, bftSignedInt8, V); }
void TVLTVariant::SetAsSmallint(int16_t V) { SetScalar(*this, bftSignedInt16, V); }
void TVLTVariant::SetAsInteger(int32_t V) { SetScalar(*this, bftSignedInt32, V); }
void TVLTVariant::SetAsInt64(int64_t V) { SetScalar(*this, bftSignedInt64, V); }
void TVLTVariant::SetAsByte(uint8_t V) { SetScalar(*this, bftUnsignedInt8, V); }
void TVLTVariant::SetAsWord(uint16_t V) { SetScalar(*this, bftUnsignedInt16, V); }
void TVLTVariant::SetAsCardinal(uint32_t V) { SetScalar(*this, bftUnsignedInt32, V); }
void TVLTVariant::SetAsSingle(float V) { SetScalar(*this, bftSingle, V); }
void TVLTVariant::SetAsDouble(double V) { SetScalar(*this, bftDouble, V); }
void TVLTVariant::SetAsExtended(long double V) {
  uint8_t B[kExtendedSize];
  StoreExtended(B, V);
  TVLTVariant S;
  S.SetData(B, kExtendedSize, true, bftExtended);
  SetTyped(*this, std::move(S));
}
void TVLTVariant::SetAsCurrency(double V) { SetScalar(*this, bftCurrency, V); }
void TVLTVariant::SetAsBoolean(bool V) { SetScalar<uint16_t>(*this, bftLogical, V ? 1 : 0); }
void TVLTVariant::SetAsVLTDate(int32_t DayNumber) { SetScalar(*this, bftDate, DayNumber); }
void TVLTVariant::SetAsVLTTime(int32_t MSecs) { SetScalar(*this, bftTime, MSecs); }
void TVLTVariant::SetAsVLTDateTime(const TVLTDateTime& V) {
  uint8_t B[8];
  StoreLE<int32_t>(B, V.Date);
  StoreLE<int32_t>(B + 4, V.Time);
  TVLTVariant S;
  S.SetData(B, 8, true, bftDateTime);
  SetTyped(*this, std::move(S));
}
void TVLTVariant::SetAsDate(double V) {
  SetAsVLTDate(CalendarToVLTDateTime(std::trunc(V)).Date);
}
void TVLTVariant::SetAsTime(double V) {
  int32_t T = CalendarToVLTDateTime(V - std::trunc(V)).Time;
  SetAsVLTTime(T);
}
void TVLTVariant::SetAsDateTime(double V) { SetAsVLTDateTime(CalendarToVLTDateTime(V)); }

void TVLTVariant::SetAsAnsiString(std::string_view V) {
  if (V.empty()) {  // an empty string is null; the type is kept
    if (FDataType == bftUnknown) FDataType = bftVarchar;
    SetNull();
    return;
  }
  if (FDataType == bftUnknown || IsAnsiStringBaseType(FDataType) || FDataType == bftClob) {
    StoreString(V, FDataType == bftUnknown ? bftVarchar : FDataType);
    return;
  }
  TVLTVariant S(bftVarchar);
  S.StoreString(V, bftVarchar);
  SetTyped(*this, std::move(S));
}

void TVLTVariant::SetAsWideString(std::u16string_view V) {
  if (V.empty()) {
    if (FDataType == bftUnknown) FDataType = bftWideVarchar;
    SetNull();
    return;
  }
  if (FDataType == bftUnknown || IsWideStringBaseType(FDataType) || FDataType == bftWideClob) {
    StoreWide(V, FDataType == bftUnknown ? bftWideVarchar : FDataType);
    return;
  }
  TVLTVariant S(bftWideVarchar);
  S.StoreWide(V, bftWideVarchar);
  SetTyped(*this, std::move(S));
}

void TVLTVariant::SetAsVariant(const TVLTPlatformVariant& V) {
  struct TVisitor {
    TVLTVariant& Self;
    void operator()(std::monostate) { Self.SetNull(); }
    void operator()(bool B) { Self.SetAsBoolean(B); }
    void operator()(int32_t I) { Self.SetAsInteger(I); }
    void operator()(int64_t I) { Self.SetAsInt64(I); }
    void operator()(double D) { Self.SetAsDouble(D); }
    void operator()(const std::string& S) { Self.SetAsAnsiString(S); }
    void operator()(const std::u16string& S) { Self.SetAsWideString(S); }
    void operator()(const TVLTCalendarDate& D) { Self.SetAsDateTime(D.Value); }
  };
  std::visit(TVisitor{*this}, V);
}

void TVLTVariant::TryToReduceWideStringToAnsiString() {
  if (IsNull() || !IsWideStringBaseType(FDataType)) return;
  std::u16string W = AsWideString();
  if (!WideFitsAnsi(W)) return;
  StoreString(WideToAnsi(W), bftVarchar);
}

// ---- stream image ----

namespace {

constexpr int32_t kCodeReadType = 10179;
constexpr int32_t kCodeReadNull = 10180;
constexpr int32_t kCodeReadSize = 10181;
constexpr int32_t kCodeReadData = 10182;
constexpr int32_t kCodeWriteType = 10183;
constexpr int32_t kCodeWriteNull = 10184;
constexpr int32_t kCodeWriteSize = 10185;
constexpr int32_t kCodeWriteData = 10186;

// A value can never be larger than this (the largest BLOB block the engine keeps in memory is
// far smaller); a larger size read from a file is damage, not a value.
constexpr int32_t kMaxValueSize = 1 << 30;

void ReadExact(TVLTStream& S, void* Buffer, int64_t Size, int32_t Code) {
  int64_t Pos = S.GetPosition();
  int64_t Got = S.Read(Buffer, Size);
  if (Got != Size)
    throw EVLTException(Code,
                        "Cannot read from stream. Position = %d, Stream size = %d, Block size = "
                        "%d, Bytes Read = %d",
                        {Pos, S.GetSize(), Size, Got < 0 ? int64_t{0} : Got});
}

void WriteExact(TVLTStream& S, const void* Buffer, int64_t Size, int32_t Code) {
  int64_t Pos = S.GetPosition();
  int64_t Put = S.Write(Buffer, Size);
  if (Put != Size)
    throw EVLTException(Code,
                        "Cannot write to stream. Position = %d, Stream size = %d, Block size = "
                        "%d, Bytes Write = %d",
                        {Pos, S.GetSize(), Size, Put < 0 ? int64_t{0} : Put});
}

// Checks a type byte and data size read from storage.
void CheckStoredType(uint8_t Type) {
  if (Type >= kBaseFieldTypeCount)
    throw EVLTException(kErrUnknownDataType, "Unknown DataType: '%s'",
                        {std::to_string(static_cast<int>(Type))});
}

void CheckStoredValue(uint8_t Type, int32_t Size) {
  CheckStoredType(Type);
  auto T = static_cast<TVLTBaseFieldType>(Type);
  int32_t Fixed = FixedDataSize(T);
  if (Size < 0 || Size > kMaxValueSize || (Fixed != 0 && Size != Fixed))
    throw EVLTException(kErrInvalidDataSize, "Invalid data size %d for data type '%s'",
                        {int64_t{Size}, std::string(BaseFieldTypeName(T))});
}

}  // namespace

void TVLTVariant::SaveToStream(TVLTStream& Stream) const {
  uint8_t Head[2] = {FDataType, static_cast<uint8_t>(IsNull() ? 1 : 0)};
  WriteExact(Stream, &Head[0], 1, kCodeWriteType);
  WriteExact(Stream, &Head[1], 1, kCodeWriteNull);
  if (IsNull()) return;
  uint8_t Size[4];
  StoreLE<int32_t>(Size, FDataSize);
  WriteExact(Stream, Size, 4, kCodeWriteSize);
  WriteExact(Stream, FPData, FDataSize, kCodeWriteData);
}

void TVLTVariant::LoadFromStream(TVLTStream& Stream) {
  uint8_t Type = 0, Null = 0;
  ReadExact(Stream, &Type, 1, kCodeReadType);
  ReadExact(Stream, &Null, 1, kCodeReadNull);
  CheckStoredType(Type);
  if (Null != 0) {
    Clear(static_cast<TVLTBaseFieldType>(Type));
    return;
  }
  uint8_t SizeBytes[4];
  ReadExact(Stream, SizeBytes, 4, kCodeReadSize);
  int32_t Size = LoadLE<int32_t>(SizeBytes);
  if (Size != 0) CheckStoredValue(Type, Size);
  if (Size > 0) {
    int64_t Left = Stream.GetSize() - Stream.GetPosition();
    if (Size > Left) {  // do not allocate what the stream cannot hold
      throw EVLTException(kCodeReadData,
                          "Cannot read from stream. Position = %d, Stream size = %d, Block size "
                          "= %d, Bytes Read = %d",
                          {Stream.GetPosition(), Stream.GetSize(), int64_t{Size}, Left});
    }
  }
  std::vector<uint8_t> Data(static_cast<size_t>(Size));
  if (Size > 0) ReadExact(Stream, Data.data(), Size, kCodeReadData);
  Clear(static_cast<TVLTBaseFieldType>(Type));
  if (Size > 0) {
    TakeOwnBytes(Data.data(), Size);
    FIsNull = false;
  }
}

void TVLTVariant::SaveToBytes(std::vector<uint8_t>& Out) const {
  Out.push_back(FDataType);
  Out.push_back(IsNull() ? 1 : 0);
  if (IsNull()) return;
  size_t At = Out.size();
  Out.resize(At + 4 + static_cast<size_t>(FDataSize));
  StoreLE<int32_t>(Out.data() + At, FDataSize);
  std::memcpy(Out.data() + At + 4, FPData, static_cast<size_t>(FDataSize));
}

void TVLTVariant::LoadFromBytes(const uint8_t* Data, size_t Size, size_t& Pos) {
  auto Short = [&](int32_t Code, size_t Need) {
    size_t Left = Pos <= Size ? Size - Pos : 0;
    throw EVLTException(Code,
                        "Cannot read from stream. Position = %d, Stream size = %d, Block size = "
                        "%d, Bytes Read = %d",
                        {static_cast<int64_t>(Pos), static_cast<int64_t>(Size),
                         static_cast<int64_t>(Need), static_cast<int64_t>(Left)});
  };
  if (Pos + 1 > Size) Short(kCodeReadType, 1);
  uint8_t Type = Data[Pos++];
  if (Pos + 1 > Size) Short(kCodeReadNull, 1);
  uint8_t Null = Data[Pos++];
  CheckStoredType(Type);
  if (Null != 0) {
    Clear(static_cast<TVLTBaseFieldType>(Type));
    return;
  }
  if (Pos + 4 > Size) Short(kCodeReadSize, 4);
  int32_t DataSize = LoadLE<int32_t>(Data + Pos);
  Pos += 4;
  if (DataSize != 0) CheckStoredValue(Type, DataSize);
  if (static_cast<size_t>(DataSize) > Size - Pos) Short(kCodeReadData, static_cast<size_t>(DataSize));
  Clear(static_cast<TVLTBaseFieldType>(Type));
  if (DataSize > 0) {
    TakeOwnBytes(Data + Pos, DataSize);
    FIsNull = false;
  }
  Pos += static_cast<size_t>(DataSize);
}

}  // namespace vlt
