#include "engine/core/VLTBTreeKey.h"

#include <cstring>
#include <string>

#include "engine/base/VLTExcept.h"
#include "engine/core/VLTFieldDef.h"
#include "engine/core/VLTIndexDef.h"
#include "engine/expr/VLTLocale.h"

namespace vlt {

namespace {

template <typename T>
int Cmp(T A, T B) {
  return A < B ? -1 : (B < A ? 1 : 0);
}

template <typename T>
int CmpLE(const uint8_t* A, const uint8_t* B) {
  return Cmp(LoadLE<T>(A), LoadLE<T>(B));
}

long double LoadExtended(const uint8_t* P) {
  long double V = 0;
  std::memcpy(&V, P, 10);  // x87 80-bit layout; the padding stays zero
  return V;
}

// Characters of an 8-bit string stored in at most Length bytes (up to its first zero).
size_t AnsiLength(const uint8_t* P, int32_t Length) {
  size_t N = 0;
  while (static_cast<int32_t>(N) < Length && P[N] != 0) ++N;
  return N;
}

// UTF-16 units of a wide string stored in at most Length bytes (up to its first zero unit).
size_t WideLength(const uint8_t* P, int32_t Length) {
  size_t N = 0;
  while (static_cast<int32_t>(N * 2 + 1) < Length && LoadLE<uint16_t>(P + N * 2) != 0) ++N;
  return N;
}

// Whether a truncated string part fills its stored prefix of Bytes bytes (no terminating zero
// inside it): only then can the values differ beyond what the key holds.
bool FillsPrefix(TVLTBaseFieldType T, const uint8_t* Value, int32_t Bytes) {
  if (!IsStringBaseType(T) && T != bftBytes) return true;  // a cut number says nothing
  if (IsWideStringBaseType(T)) return static_cast<int32_t>(WideLength(Value, Bytes) * 2 + 1) >= Bytes;
  return static_cast<int32_t>(AnsiLength(Value, Bytes)) >= Bytes;
}

}  // namespace

int CompareKeyValues(TVLTBaseFieldType DataType, const uint8_t* A, const uint8_t* B,
                     int32_t Length, int32_t CompareLength, bool CaseInsensitive) {
  switch (DataType) {
    case bftSignedInt8:
      return CmpLE<int8_t>(A, B);
    case bftSignedInt16:
      return CmpLE<int16_t>(A, B);
    case bftSignedInt32:
    case bftDate:
    case bftTime:
      return CmpLE<int32_t>(A, B);
    case bftSignedInt64:
      return CmpLE<int64_t>(A, B);
    case bftUnsignedInt8:
      return CmpLE<uint8_t>(A, B);
    case bftUnsignedInt16:
      return CmpLE<uint16_t>(A, B);
    case bftUnsignedInt32:
      return CmpLE<uint32_t>(A, B);
    case bftDateTime: {
      int R = CmpLE<int32_t>(A, B);
      return R != 0 ? R : CmpLE<int32_t>(A + 4, B + 4);
    }
    case bftSingle:
      return CmpLE<float>(A, B);
    case bftDouble:
    case bftCurrency:
      return CmpLE<double>(A, B);
    case bftExtended:
      return Cmp(LoadExtended(A), LoadExtended(B));
    case bftLogical:
      return Cmp(LoadLE<uint16_t>(A) != 0, LoadLE<uint16_t>(B) != 0);
    case bftChar:
    case bftVarchar:
    case bftBytes: {
      size_t LA = AnsiLength(A, Length), LB = AnsiLength(B, Length);
      if (CompareLength >= 0) {
        LA = std::min(LA, static_cast<size_t>(CompareLength));
        LB = std::min(LB, static_cast<size_t>(CompareLength));
      }
      return TVLTLocale::Instance().CompareRaw(A, LA, false, B, LB, false, CaseInsensitive);
    }
    case bftWideChar:
    case bftWideVarchar: {
      size_t LA = WideLength(A, Length), LB = WideLength(B, Length);
      if (CompareLength >= 0) {
        LA = std::min(LA, static_cast<size_t>(CompareLength));
        LB = std::min(LB, static_cast<size_t>(CompareLength));
      }
      return TVLTLocale::Instance().CompareRaw(A, LA, true, B, LB, true, CaseInsensitive);
    }
    default:
      throw EVLTException(30044, "Cannot compare Incompatible DataTypes: '%s' and '%s'",
                          {std::string(BaseFieldTypeName(DataType)),
                           std::string(BaseFieldTypeName(DataType))});
  }
}

// ---- TVLTBTreeKeyRef ----

void TVLTBTreeKeyRef::SetPartCount(int32_t Count) {
  Parts.resize(static_cast<size_t>(Count < 0 ? 0 : Count));
  FCompareFieldCount = PartCount();
}

int32_t TVLTBTreeKeyRef::CompareLength(int32_t) const { return -1; }

int TVLTBTreeKeyRef::CompareShortKeys(const uint8_t* Key1, const uint8_t* Key2,
                                      const uint8_t* Reference2, const uint8_t* Reference1,
                                      TVLTSessionID SessionID, bool MayUseFullKeys) {
  int32_t N = std::min(FCompareFieldCount, PartCount());
  for (int32_t I = 0; I < N; ++I) {
    const TVLTKeyPart& P = Parts[static_cast<size_t>(I)];
    const uint8_t* A = Key1 + P.OffsetInShortKeyBuffer;
    const uint8_t* B = Key2 + P.OffsetInShortKeyBuffer;
    bool NullA = A[0] != 0, NullB = B[0] != 0;
    int R;
    if (NullA || NullB) {
      R = NullA == NullB ? 0 : (NullA ? -1 : 1);
    } else {
      int32_t Len = CompareLength(I);
      // The stored value bytes plus the two zero bytes that terminate a filled prefix.
      R = CompareKeyValues(P.DataType, A + 1, B + 1, P.ShortSize - 1, Len, P.CaseInsensitive);
      if (R == 0 && P.AddedSize != 0) {
        int32_t Prefix = P.ShortSize - 1 - P.AddedSize;
        bool Filled = FillsPrefix(P.DataType, A + 1, Prefix) || FillsPrefix(P.DataType, B + 1, Prefix);
        // A partial comparison shorter than the prefix is decided by the prefix alone.
        if (Filled && Len >= 0 && Len * (IsWideStringBaseType(P.DataType) ? 2 : 1) <= Prefix)
          Filled = false;
        if (Filled) {
          if (!MayUseFullKeys) return 0;
          if (Reference2 != nullptr) {
            TVLTBuffer Full1(FFullKeySize), Full2(FFullKeySize);
            MakeFullKeyForReference(SessionID, Reference1, Full1.data());
            MakeFullKeyForReference(SessionID, Reference2, Full2.data());
            return CompareFullKeys(Full1.data(), Full2.data());
          }
        }
      }
    }
    if (P.Descending) R = -R;
    if (R != 0) return R;
  }
  return 0;
}

int TVLTBTreeKeyRef::CompareFullKeys(const uint8_t* Key1, const uint8_t* Key2) {
  int32_t N = std::min(FCompareFieldCount, PartCount());
  for (int32_t I = 0; I < N; ++I) {
    const TVLTKeyPart& P = Parts[static_cast<size_t>(I)];
    const uint8_t* A = Key1 + P.OffsetInFullKeyBuffer;
    const uint8_t* B = Key2 + P.OffsetInFullKeyBuffer;
    bool NullA = A[0] != 0, NullB = B[0] != 0;
    int R;
    if (NullA || NullB)
      R = NullA == NullB ? 0 : (NullA ? -1 : 1);
    else
      R = CompareKeyValues(P.DataType, A + 1, B + 1, P.FullSize - 1, CompareLength(I),
                           P.CaseInsensitive);
    if (P.Descending) R = -R;
    if (R != 0) return R;
  }
  return 0;
}

int TVLTBTreeKeyRef::CompareReferences(const uint8_t* Reference1,
                                       const uint8_t* Reference2) const {
  int R = std::memcmp(Reference1, Reference2, FReferenceSize);
  return R < 0 ? -1 : (R > 0 ? 1 : 0);
}

void TVLTBTreeKeyRef::MakeFullKeyForReference(TVLTSessionID, const uint8_t*, uint8_t*) {
  throw EVLTException(20170, "Cannot retrieve record for index");
}

// ---- TVLTPageKeyRef ----

TVLTPageKeyRef::TVLTPageKeyRef() {
  TVLTKeyPart P;
  P.ShortSize = 4;
  P.FullSize = 4;
  P.DataType = bftSignedInt32;
  Parts.push_back(P);
  FCompareFieldCount = 1;
  FShortKeySize = 4;
  FFullKeySize = 4;
  FReferenceSize = 2;
}

int TVLTPageKeyRef::CompareShortKeys(const uint8_t* Key1, const uint8_t* Key2, const uint8_t*,
                                     const uint8_t*, TVLTSessionID, bool) {
  return CmpLE<int32_t>(Key1, Key2);
}

int TVLTPageKeyRef::CompareFullKeys(const uint8_t* Key1, const uint8_t* Key2) {
  return CmpLE<int32_t>(Key1, Key2);
}

int TVLTPageKeyRef::CompareReferences(const uint8_t* Reference1, const uint8_t* Reference2) const {
  return Cmp(LoadLE<uint16_t>(Reference1), LoadLE<uint16_t>(Reference2));
}

// ---- TVLTRecordKeyRef ----

TVLTRecordKeyRef::TVLTRecordKeyRef() { FReferenceSize = TVLTPageItemID::kStoredSize; }

void TVLTRecordKeyRef::Assign(const TVLTIndexDef& IndexDef, const TVLTFieldDefs* FieldDefs) {
  if (FieldDefs == nullptr) throw EVLTException(20045, "Pointer is nil");
  std::vector<TVLTKeyPart> NewParts;
  int32_t ShortOffset = 0, FullOffset = 0;
  for (const TVLTIndexColumn& C : IndexDef.FIndexColumns) {
    int32_t FieldNo = -1;
    for (int32_t I = 0; I < FieldDefs->Count(); ++I)
      if (SameText((*FieldDefs)[I].FName, C.FFieldName)) {
        FieldNo = I;
        break;
      }
    if (FieldNo < 0) throw EVLTException(20043, "Cannot find index field '%s'", {C.FFieldName});
    const TVLTFieldDef& F = (*FieldDefs)[FieldNo];
    if (IsBlobBaseType(F.FBaseFieldType))
      throw EVLTException(
          20295,
          "Cannot index BLOB field '%s'. Direct indexing of BLOB fields is not supported yet, "
          "please use CAST(blob_field, string) function to convert BLOB field to a string "
          "expression before indexing.",
          {C.FFieldName});
    TVLTKeyPart P;
    P.FieldNo = FieldNo;
    P.OffsetInRecordBuffer = F.FMemoryOffset;
    P.DataType = F.FBaseFieldType;
    P.Descending = C.FDescending;
    P.CaseInsensitive = C.FCaseInsensitive;
    P.FullSize = F.FMemoryDataSize + 1;
    int32_t MaxIndexed = C.FMaxIndexedSize < 0 ? 0 : C.FMaxIndexedSize;
    if (MaxIndexed < F.FMemoryDataSize) {
      P.ShortSize = MaxIndexed + 3;
      P.AddedSize = 2;
    } else {
      P.ShortSize = F.FMemoryDataSize + 1;
      P.AddedSize = 0;
    }
    P.OffsetInShortKeyBuffer = ShortOffset;
    P.OffsetInFullKeyBuffer = FullOffset;
    ShortOffset += P.ShortSize;
    FullOffset += P.FullSize;
    NewParts.push_back(P);
  }
  if (ShortOffset > 0xFFFF || FullOffset > 0xFFFF)
    throw EVLTException(20296, "Index key too large: %d bytes", {int64_t{FullOffset}});
  Parts = std::move(NewParts);
  FShortKeySize = static_cast<uint16_t>(ShortOffset);
  FFullKeySize = static_cast<uint16_t>(FullOffset);
  FCompareFieldCount = PartCount();
  FCompareLengths.assign(Parts.size(), -1);
  if (FieldDefs->Count() > 0)
    FRecordScratch = TVLTBuffer(static_cast<size_t>(FieldDefs->GetMemoryRecordBufferSize()));
}

void TVLTRecordKeyRef::SetPartCount(int32_t Count) {
  TVLTBTreeKeyRef::SetPartCount(Count);
  FCompareLengths.assign(Parts.size(), -1);
}

int TVLTRecordKeyRef::CompareReferences(const uint8_t* Reference1,
                                        const uint8_t* Reference2) const {
  auto A = TVLTPageItemID::LoadFrom(Reference1), B = TVLTPageItemID::LoadFrom(Reference2);
  return A < B ? -1 : (B < A ? 1 : 0);
}

void TVLTRecordKeyRef::MakeShortKeyFromRecordBuffer(const uint8_t* RecordBuffer, uint8_t* Key) {
  LRecordBuffer = RecordBuffer;
  std::memset(Key, 0, FShortKeySize);
  for (const TVLTKeyPart& P : Parts) {
    uint8_t* Dst = Key + P.OffsetInShortKeyBuffer;
    bool IsNull = (RecordBuffer[P.FieldNo / 8] >> (P.FieldNo % 8)) & 1;
    if (IsNull) {
      Dst[0] = 1;
      continue;
    }
    std::memcpy(Dst + 1, RecordBuffer + P.OffsetInRecordBuffer,
                static_cast<size_t>(P.ShortSize - 1 - P.AddedSize));
  }
}

void TVLTRecordKeyRef::MakeFullKeyFromRecordBuffer(const uint8_t* RecordBuffer,
                                                   uint8_t* Key) const {
  std::memset(Key, 0, FFullKeySize);
  for (const TVLTKeyPart& P : Parts) {
    uint8_t* Dst = Key + P.OffsetInFullKeyBuffer;
    bool IsNull = (RecordBuffer[P.FieldNo / 8] >> (P.FieldNo % 8)) & 1;
    if (IsNull) {
      Dst[0] = 1;
      continue;
    }
    std::memcpy(Dst + 1, RecordBuffer + P.OffsetInRecordBuffer,
                static_cast<size_t>(P.FullSize - 1));
  }
}

void TVLTRecordKeyRef::SetPartialCompare(const uint8_t* RecordBuffer, bool PartialCompare) {
  FCompareLengths.assign(Parts.size(), -1);
  if (!PartialCompare || RecordBuffer == nullptr) return;
  for (size_t I = 0; I < Parts.size(); ++I) {
    const TVLTKeyPart& P = Parts[I];
    if (!IsStringBaseType(P.DataType)) continue;
    const uint8_t* V = RecordBuffer + P.OffsetInRecordBuffer;
    FCompareLengths[I] = static_cast<int32_t>(IsWideStringBaseType(P.DataType)
                                                  ? WideLength(V, P.FullSize - 1)
                                                  : AnsiLength(V, P.FullSize - 1));
  }
}

int32_t TVLTRecordKeyRef::CompareLength(int32_t I) const {
  return static_cast<size_t>(I) < FCompareLengths.size() ? FCompareLengths[static_cast<size_t>(I)]
                                                         : -1;
}

void TVLTRecordKeyRef::MakeFullKeyForReference(TVLTSessionID SessionID, const uint8_t* Reference,
                                               uint8_t* Key) {
  if (Reference == nullptr) {
    if (LRecordBuffer == nullptr) throw EVLTException(20170, "Cannot retrieve record for index");
    MakeFullKeyFromRecordBuffer(LRecordBuffer, Key);
    return;
  }
  if (LRecordReader == nullptr || FRecordScratch.size() == 0 ||
      !LRecordReader->ReadKeyRecord(SessionID, TVLTPageItemID::LoadFrom(Reference),
                                    FRecordScratch.data()))
    throw EVLTException(20170, "Cannot retrieve record for index");
  MakeFullKeyFromRecordBuffer(FRecordScratch.data(), Key);
}

}  // namespace vlt
