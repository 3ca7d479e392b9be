// Field manager: record buffer values, defaults and autoincrement values.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/core/VLTTableTestDoubles.h"

namespace vlt::test {
namespace {

std::unique_ptr<TVLTBaseFieldManager> MakeManager(TVLTFieldDefs& Defs) {
  auto Copy = std::make_unique<TVLTFieldDefs>();
  Copy->Assign(Defs);
  for (int32_t I = 0; I < Copy->Count(); ++I) (*Copy)[I].FObjectID = 100 + I;
  return std::make_unique<TVLTBaseFieldManager>(nullptr, std::move(Copy));
}

void ExpectCode(int32_t Code, const std::function<void()>& F, const std::string& Text = {}) {
  try {
    F();
    ADD_FAILURE() << "no exception, expected " << Code;
  } catch (const EVLTException& E) {
    EXPECT_EQ(E.NativeError(), Code) << E.what();
    if (!Text.empty()) {
      EXPECT_NE(std::string(E.what()).find(Text), std::string::npos) << E.what();
    }
  }
}

TEST(FieldManagerTest, NewRecordIsAllNullWithZeroData) {
  TVLTFieldDefs Defs;
  for (int I = 0; I < 9; ++I) AddField(Defs, "F" + std::to_string(I), aftInteger);
  auto FM = MakeManager(Defs);
  std::vector<uint8_t> B(static_cast<size_t>(FM->GetMemoryRecordBufferSize()), 0x55);
  FM->InitRecordBuffer(B.data());
  EXPECT_EQ(B[0], 0xFF);
  EXPECT_EQ(B[1], 0xFF);  // 9 fields: two bitmap bytes
  for (size_t I = 2; I < B.size(); ++I) EXPECT_EQ(B[I], 0) << I;
  for (int32_t I = 0; I < 9; ++I) EXPECT_FALSE(FM->GetFieldData(I, nullptr, B.data()));
}

TEST(FieldManagerTest, ExchangeConversions) {
  TVLTFieldDefs Defs;
  AddField(Defs, "S", aftShortint);
  AddField(Defs, "C", aftCardinal);
  AddField(Defs, "G", aftSingle);
  AddField(Defs, "E", aftExtended);
  AddField(Defs, "I", aftInteger);
  auto FM = MakeManager(Defs);
  std::vector<uint8_t> B(static_cast<size_t>(FM->GetMemoryRecordBufferSize()));
  FM->InitRecordBuffer(B.data());

  int16_t S = -5;
  FM->SetFieldData(0, &S, B.data());
  EXPECT_EQ(static_cast<int8_t>(B[static_cast<size_t>(FM->FieldDefs()[0].FMemoryOffset)]), -5);
  int16_t SOut = 0;
  ASSERT_TRUE(FM->GetFieldData(0, &SOut, B.data()));
  EXPECT_EQ(SOut, -5);

  int64_t C = 3000000000LL;  // above 2^31: must come back unchanged
  FM->SetFieldData(1, &C, B.data());
  int64_t COut = 0;
  ASSERT_TRUE(FM->GetFieldData(1, &COut, B.data()));
  EXPECT_EQ(COut, 3000000000LL);

  double G = 1.5, GOut = 0;
  FM->SetFieldData(2, &G, B.data());
  ASSERT_TRUE(FM->GetFieldData(2, &GOut, B.data()));
  EXPECT_EQ(GOut, 1.5);

  double E = -2.25, EOut = 0;
  FM->SetFieldData(3, &E, B.data());
  ASSERT_TRUE(FM->GetFieldData(3, &EOut, B.data()));
  EXPECT_EQ(EOut, -2.25);

  int32_t I = 77, IOut = 0;
  FM->SetFieldData(4, &I, B.data());
  ASSERT_TRUE(FM->GetFieldData(4, &IOut, B.data()));
  EXPECT_EQ(IOut, 77);
  FM->SetFieldData(4, nullptr, B.data());
  EXPECT_FALSE(FM->GetFieldData(4, &IOut, B.data()));
}

TEST(FieldManagerTest, EmptyStringsAreStoredAsNull) {
  TVLTFieldDefs Defs;
  AddField(Defs, "A", aftString, 10);
  AddField(Defs, "W", aftWideString, 10);
  auto FM = MakeManager(Defs);
  std::vector<uint8_t> B(static_cast<size_t>(FM->GetMemoryRecordBufferSize()));
  FM->InitRecordBuffer(B.data());
  char Text[11] = "abc";
  FM->SetFieldData(0, Text, B.data());
  EXPECT_TRUE(FM->GetFieldData(0, nullptr, B.data()));
  char Empty[11] = {0};
  FM->SetFieldData(0, Empty, B.data());
  EXPECT_FALSE(FM->GetFieldData(0, nullptr, B.data()));

  char16_t Wide[11] = u"x";
  FM->SetFieldData(1, Wide, B.data());
  EXPECT_TRUE(FM->GetFieldData(1, nullptr, B.data()));
  char16_t WideEmpty[11] = {0};
  FM->SetFieldData(1, WideEmpty, B.data());
  EXPECT_FALSE(FM->GetFieldData(1, nullptr, B.data()));
}

TEST(FieldManagerTest, FieldNumberChecks) {
  TVLTFieldDefs Defs;
  AddField(Defs, "A", aftInteger);
  auto FM = MakeManager(Defs);
  std::vector<uint8_t> B(static_cast<size_t>(FM->GetMemoryRecordBufferSize()));
  int32_t V = 1;
  ExpectCode(10000, [&] { FM->GetFieldData(1, &V, B.data()); },
             "Invalid field number - FieldNo = 1, FieldCount = 1");
  ExpectCode(10004, [&] { FM->SetFieldData(1, &V, B.data()); });
  ExpectCode(10003, [&] { FM->GetFieldData(0, &V, nullptr); });
  TVLTFieldDefs None;
  auto Empty = MakeManager(None);
  ExpectCode(10131, [&] { Empty->GetMemoryRecordBufferSize(); },
             "Error creating table - no fields were specified");
}

TEST(FieldManagerTest, DefaultsFillNonNullDefaultsOnly) {
  TVLTFieldDefs Defs;
  TVLTVariant Seven;
  Seven.SetAsInteger(7);
  AddField(Defs, "A", aftInteger).SetDefaultValue(Seven);
  AddField(Defs, "B", aftInteger);
  TVLTVariant Text;
  Text.SetAsAnsiString("hello world");
  AddField(Defs, "S", aftString, 5).SetDefaultValue(Text);  // cut to the field
  TVLTVariant Ten;
  Ten.SetAsInt64(10);
  AddField(Defs, "L", aftSmallint).SetDefaultValue(Ten);  // another type: cast to the field's
  auto FM = MakeManager(Defs);
  std::vector<uint8_t> B(static_cast<size_t>(FM->GetMemoryRecordBufferSize()));
  FM->InitRecordBuffer(B.data());
  FM->ApplyDefaultValuesToRecordBuffer(nullptr, B.data());
  int32_t A = 0;
  ASSERT_TRUE(FM->GetFieldData(0, &A, B.data()));
  EXPECT_EQ(A, 7);
  EXPECT_FALSE(FM->GetFieldData(1, nullptr, B.data()));
  char S[6] = {};
  ASSERT_TRUE(FM->GetFieldData(2, S, B.data()));
  EXPECT_STREQ(S, "hello");
  int16_t L = 0;
  ASSERT_TRUE(FM->GetFieldData(3, &L, B.data()));
  EXPECT_EQ(L, 10);
}

struct TAutoincCase {
  const char* Name;
  int64_t Increment, Initial, Min, Max;
  bool Cycled;
  std::vector<int64_t> Expected;  // values handed out; INT64_MIN = raises 20160
};

class AutoincTest : public ::testing::TestWithParam<TAutoincCase> {};

TEST_P(AutoincTest, Sequence) {
  const TAutoincCase& C = GetParam();
  TVLTFieldDefs Defs;
  TVLTFieldDef& F = AddField(Defs, "ID", aftAutoInc);
  F.FAutoincIncrement = C.Increment;
  F.FAutoincInitialValue = C.Initial;
  F.FAutoincMinValue = C.Min;
  F.FAutoincMaxValue = C.Max;
  F.FAutoincCycled = C.Cycled;
  auto FM = MakeManager(Defs);
  for (size_t I = 0; I < C.Expected.size(); ++I) {
    if (C.Expected[I] == INT64_MIN) {
      ExpectCode(20160, [&] { FM->IncrementLastAutoinc(0); },
                 "Autoinc max value exceeded for field 'ID'");
    } else {
      EXPECT_EQ(FM->IncrementLastAutoinc(0), C.Expected[I]) << "step " << I;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AutoincTest,
    ::testing::Values(
        TAutoincCase{"Defaults", 1, 0, 0, INT64_MAX, false, {1, 2, 3}},
        TAutoincCase{"IncrementZeroStillAdvances", 0, 0, 0, INT64_MAX, false, {1, 2}},
        TAutoincCase{"StepAndStart", 5, 10, 0, INT64_MAX, false, {15, 20}},
        TAutoincCase{"MaxNotCycled", 1, 0, 0, 3, false, {1, 2, 3, INT64_MIN}},
        TAutoincCase{"MaxCycled", 1, 0, 1, 3, true, {1, 2, 3, 1, 2}},
        TAutoincCase{"MaxZeroMeansNoLimit", 1, 0, 0, 0, false, {1, 2}},
        TAutoincCase{"NegativeStep", -1, 0, 0, INT64_MAX, false, {-1, -2}},
        TAutoincCase{"NoOverflowTrap", 1, INT64_MAX - 1, 5, INT64_MAX, true, {INT64_MAX, 5}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(FieldManagerTest, AutoincFieldNumberChecks) {
  TVLTFieldDefs Defs;
  AddField(Defs, "ID", aftAutoInc);
  auto FM = MakeManager(Defs);
  ExpectCode(30402, [&] { FM->IncrementLastAutoinc(1); }, "Field #1 not found");
}

TEST(FieldManagerTest, ExplicitValuesRaiseTheSequenceOnly) {
  TVLTFieldDefs Defs;
  AddField(Defs, "ID", aftAutoInc);
  AddField(Defs, "B", aftAutoIncByte);
  auto FM = MakeManager(Defs);
  TVLTSessionData Session;
  std::vector<uint8_t> B(static_cast<size_t>(FM->GetMemoryRecordBufferSize()));
  auto Insert = [&](std::optional<int32_t> ID) {
    FM->InitRecordBuffer(B.data());
    if (ID) FM->SetFieldData(0, &*ID, B.data());
    FM->ApplyAutoincsToRecordBuffer(&Session, B.data());
    int32_t Out = 0;
    EXPECT_TRUE(FM->GetFieldData(0, &Out, B.data()));
    return Out;
  };
  EXPECT_EQ(Insert(std::nullopt), 1);
  EXPECT_EQ(Insert(100), 100);
  EXPECT_EQ(Insert(std::nullopt), 101);
  EXPECT_EQ(Insert(5), 5);  // does not lower the sequence
  EXPECT_EQ(Insert(std::nullopt), 102);
  EXPECT_EQ(FM->GetLastAutoinc(&Session, 0), 102);
  // The byte field advanced with every generated record and is stored in one byte.
  EXPECT_EQ(FM->LastAutoIncValue(1), 5);
}

TEST(FieldManagerTest, ExplicitValueReadZeroExtended) {
  TVLTFieldDefs Defs;
  AddField(Defs, "S", aftAutoIncShortint);
  auto FM = MakeManager(Defs);
  std::vector<uint8_t> B(static_cast<size_t>(FM->GetMemoryRecordBufferSize()));
  FM->InitRecordBuffer(B.data());
  int16_t Minus1 = -1;
  FM->SetFieldData(0, &Minus1, B.data());
  FM->ApplyAutoincsToRecordBuffer(nullptr, B.data());
  EXPECT_EQ(FM->LastAutoIncValue(0), 255);
}

TEST(FieldManagerTest, LastAutoincPerSession) {
  TVLTFieldDefs Defs;
  AddField(Defs, "A", aftInteger);
  AddField(Defs, "ID", aftAutoInc);
  auto FM = MakeManager(Defs);
  TVLTSessionData S1, S2;
  S2.MultiUser = true;
  EXPECT_EQ(FM->GetLastAutoinc(&S1, 1), 0);  // nothing drawn yet: the manager's last value
  EXPECT_EQ(FM->GetNextAutoinc(&S1, 1), 1);
  EXPECT_EQ(FM->GetNextAutoinc(&S1, 1), 2);
  EXPECT_EQ(FM->GetLastAutoinc(&S1, 1), 2);
  ExpectCode(30012, [&] { FM->GetLastAutoinc(&S2, 1); },
             "No SequenceLastValue in session for sequence 'ID'. Call GetNextVal first");
  EXPECT_EQ(FM->GetNextAutoinc(&S2, 1), 3);
  EXPECT_EQ(FM->GetLastAutoinc(&S1, 1), 2);  // each session sees its own last value
  EXPECT_EQ(FM->GetLastAutoinc(&S2, 1), 3);
  EXPECT_EQ(FM->GetLastAutoinc(&S1, 0), 0);  // not an autoincrement field
}

TEST(FieldManagerTest, MostUpdatedRoundTrip) {
  TVLTFieldDefs Defs;
  AddField(Defs, "ID", aftAutoInc);
  AddField(Defs, "L", aftAutoIncLargeint);
  auto FM = MakeManager(Defs);
  FM->IncrementLastAutoinc(0);
  FM->SetLastAutoIncValue(1, -9);
  std::vector<uint8_t> Buf(static_cast<size_t>(FM->MostUpdatedSize()));
  int32_t Off = 0;
  FM->SaveMostUpdated(Buf.data(), Off);
  EXPECT_EQ(Off, 16);
  auto Other = MakeManager(Defs);
  Off = 0;
  Other->LoadMostUpdated(Buf.data(), Off);
  EXPECT_EQ(Other->LastAutoIncValue(0), 1);
  EXPECT_EQ(Other->LastAutoIncValue(1), -9);
}

TEST(FieldManagerTest, CompareRecordBuffersSeesBytesAfterAZero) {
  TVLTFieldDefs Defs;
  AddField(Defs, "I", aftInteger);
  auto FM = MakeManager(Defs);
  std::vector<uint8_t> A(static_cast<size_t>(FM->GetMemoryRecordBufferSize()));
  FM->InitRecordBuffer(A.data());
  int32_t V1 = 0x00000100, V2 = 0x00010100;  // equal low bytes, a zero byte, then different
  std::vector<uint8_t> B = A;
  FM->SetFieldData(0, &V1, A.data());
  FM->SetFieldData(0, &V2, B.data());
  EXPECT_FALSE(FM->CompareRecordBuffers(A.data(), B.data()));
  FM->SetFieldData(0, &V1, B.data());
  EXPECT_TRUE(FM->CompareRecordBuffers(A.data(), B.data()));
  FM->SetFieldData(0, nullptr, B.data());  // null bit differs, data equal
  EXPECT_FALSE(FM->CompareRecordBuffers(A.data(), B.data()));
}

TEST(FieldManagerTest, DiskAndMemoryLayoutsDifferInBlobSlots) {
  TVLTFieldDefs Defs;
  AddField(Defs, "I", aftInteger);
  AddField(Defs, "M", aftMemo);
  AddField(Defs, "J", aftInteger);
  auto FM = MakeManager(Defs);
  ASSERT_EQ(FM->GetMemoryRecordBufferSize() - FM->GetDiskRecordBufferSize(), 4);
  std::vector<uint8_t> Mem(static_cast<size_t>(FM->GetMemoryRecordBufferSize()));
  FM->InitRecordBuffer(Mem.data());
  int32_t I = 11, J = 22;
  FM->SetFieldData(0, &I, Mem.data());
  FM->SetFieldData(2, &J, Mem.data());
  std::vector<uint8_t> Disk(static_cast<size_t>(FM->GetDiskRecordBufferSize()), 0xEE);
  FM->MemRecordBufferToDiskRecordBuffer(Mem.data(), Disk.data());
  std::vector<uint8_t> Back(Mem.size(), 0xEE);
  FM->DiskRecordBufferToMemRecordBuffer(Disk.data(), Back.data());
  EXPECT_EQ(Back, Mem);
  EXPECT_TRUE(FM->BlobFieldsPresent());
}

TEST(FieldManagerTest, BlobBlockSizeZeroIsRefused) {
  TVLTFieldDefs Defs;
  AddField(Defs, "M", aftBlob).FBLOBBlockSize = 0;
  auto FM = MakeManager(Defs);
  ExpectCode(10421, [&] { FM->BlobFieldsPresent(); }, "BLOB block size should be > 0 for field M");
}

}  // namespace
}  // namespace vlt::test
