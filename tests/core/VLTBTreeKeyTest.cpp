// Keys of record indexes: layout from the index columns, comparison by base type, NULLs,
// descending and case-insensitive columns, and truncated string parts whose ties are settled by
// the full values of the records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <tuple>
#include <map>
#include <random>
#include <set>

#include "engine/core/VLTBTree.h"
#include "engine/core/VLTTableData.h"
#include "engine/core/VLTFieldDef.h"
#include "engine/core/VLTIndexDef.h"
#include "engine/expr/VLTLocale.h"
#include "tests/core/VLTPageTestUtil.h"

namespace vlt {
namespace {

using test::CodeOf;
using test::TMemPageManager;

constexpr TVLTSessionID kS = 0;

TEST(BTreeKey, CompareValuesByBaseType) {
  struct TCase {
    const char* Name;
    TVLTBaseFieldType Type;
    std::vector<uint8_t> A, B;
    int Expected;
  };
  auto I32 = [](int32_t V) {
    std::vector<uint8_t> B(4);
    StoreLE(B.data(), V);
    return B;
  };
  auto U32 = [](uint32_t V) {
    std::vector<uint8_t> B(4);
    StoreLE(B.data(), V);
    return B;
  };
  auto Dbl = [](double V) {
    std::vector<uint8_t> B(8);
    StoreLE(B.data(), V);
    return B;
  };
  auto DT = [](int32_t D, int32_t T) {
    std::vector<uint8_t> B(8);
    StoreLE(B.data(), D);
    StoreLE(B.data() + 4, T);
    return B;
  };
  auto Ext = [](long double V) {
    std::vector<uint8_t> B(10);
    std::memcpy(B.data(), &V, 10);
    return B;
  };
  auto Str = [](const char* S, size_t Size) {
    std::vector<uint8_t> B(Size, 0);
    std::memcpy(B.data(), S, std::strlen(S));
    return B;
  };
  auto WStr = [](const char16_t* S, size_t Units) {
    std::vector<uint8_t> B(Units * 2, 0);
    for (size_t I = 0; S[I]; ++I) StoreLE<uint16_t>(B.data() + 2 * I, S[I]);
    return B;
  };
  const std::vector<TCase> Cases = {
      {"signed negative", bftSignedInt32, I32(-5), I32(3), -1},
      {"signed equal", bftSignedInt32, I32(7), I32(7), 0},
      {"unsigned high bit", bftUnsignedInt32, U32(0x80000000u), U32(1), 1},
      {"int8", bftSignedInt8, {0xFF}, {0x01}, -1},
      {"uint8", bftUnsignedInt8, {0xFF}, {0x01}, 1},
      {"date", bftDate, I32(738000), I32(737999), 1},
      {"datetime by date first", bftDateTime, DT(10, 0), DT(9, 86399999), 1},
      {"datetime then time", bftDateTime, DT(10, 5), DT(10, 6), -1},
      {"double", bftDouble, Dbl(-0.5), Dbl(0.25), -1},
      {"currency", bftCurrency, Dbl(12.5), Dbl(12.5), 0},
      {"extended", bftExtended, Ext(1e300L * 1e100L), Ext(1.0L), 1},
      {"logical false first", bftLogical, {0, 0}, {5, 0}, -1},
      {"logical true equal", bftLogical, {1, 0}, {2, 0}, 0},
      {"string", bftVarchar, Str("apple", 11), Str("banana", 11), -1},
      {"string prefix", bftVarchar, Str("app", 11), Str("apple", 11), -1},
      {"string collation", bftVarchar, Str("b", 11), Str("C", 11), -1},
      {"wide string", bftWideVarchar, WStr(u"zeta", 8), WStr(u"alpha", 8), 1},
  };
  for (const TCase& C : Cases)
    EXPECT_EQ(CompareKeyValues(C.Type, C.A.data(), C.B.data(), static_cast<int32_t>(C.A.size()),
                               -1, false),
              C.Expected)
        << C.Name;
  EXPECT_EQ(CompareKeyValues(bftVarchar, Str("ABC", 4).data(), Str("abc", 4).data(), 4, -1, true), 0);
  EXPECT_NE(CompareKeyValues(bftVarchar, Str("ABC", 4).data(), Str("abc", 4).data(), 4, -1, false), 0);
  // A partial comparison looks at the first characters only.
  EXPECT_EQ(CompareKeyValues(bftVarchar, Str("Smith", 8).data(), Str("Smi", 8).data(), 8, 3, false), 0);
  EXPECT_EQ(CodeOf([&] { CompareKeyValues(bftBlob, nullptr, nullptr, 0, -1, false); }), 30044);
}

// A table of records in memory: field definitions, records by identifier, and the reader the
// key reference fetches full values through.
struct TTable : TVLTKeyRecordReader {
  TTable() {
    auto& Id = Fields.AddNew();
    Id.SetName("Id");
    Id.SetFieldDefDataType(aftInteger, 0);
    auto& Name = Fields.AddNew();
    Name.SetName("Name");
    Name.SetFieldDefDataType(aftString, 50);
    auto& WName = Fields.AddNew();
    WName.SetName("WName");
    WName.SetFieldDefDataType(aftWideString, 30);
    auto& Memo = Fields.AddNew();
    Memo.SetName("Memo");
    Memo.SetFieldDefDataType(aftMemo, 0);
    Fields.RecalcFieldOffsets();
  }
  std::vector<uint8_t> NewRecord() const {
    std::vector<uint8_t> R(static_cast<size_t>(Fields.GetMemoryRecordBufferSize()), 0);
    std::memset(R.data(), 0xFF, static_cast<size_t>(Fields.NullBitmapSize()));
    return R;
  }
  void SetInt(std::vector<uint8_t>& R, int32_t FieldNo, int32_t V) const {
    R[0] &= static_cast<uint8_t>(~(1 << FieldNo));
    StoreLE(R.data() + Fields[FieldNo].FMemoryOffset, V);
  }
  void SetStr(std::vector<uint8_t>& R, int32_t FieldNo, const std::string& S) const {
    if (S.empty()) return;  // empty strings are NULL
    R[0] &= static_cast<uint8_t>(~(1 << FieldNo));
    std::memcpy(R.data() + Fields[FieldNo].FMemoryOffset, S.c_str(), S.size() + 1);
  }
  void SetWide(std::vector<uint8_t>& R, int32_t FieldNo, const std::u16string& S) const {
    R[0] &= static_cast<uint8_t>(~(1 << FieldNo));
    for (size_t I = 0; I < S.size(); ++I)
      StoreLE<uint16_t>(R.data() + Fields[FieldNo].FMemoryOffset + 2 * I, S[I]);
  }
  bool ReadKeyRecord(TVLTSessionID, const TVLTPageItemID& Id, uint8_t* Buffer) override {
    ++Reads;
    auto It = Records.find(Id);
    if (It == Records.end()) return false;
    std::memcpy(Buffer, It->second.data(), It->second.size());
    return true;
  }

  TVLTFieldDefs Fields;
  std::map<TVLTPageItemID, std::vector<uint8_t>> Records;
  int Reads = 0;
};

TVLTIndexDef IndexOn(std::vector<std::string> Names, int32_t MaxIndexed = 20, bool Desc = false,
                     bool NoCase = false) {
  TVLTIndexDef D;
  for (const std::string& N : Names) {
    TVLTIndexColumn C;
    C.FFieldName = N;
    C.FMaxIndexedSize = MaxIndexed;
    C.FDescending = Desc;
    C.FCaseInsensitive = NoCase;
    D.FIndexColumns.push_back(C);
  }
  return D;
}

TEST(BTreeKey, RecordKeyLayout) {
  TTable T;
  TVLTRecordKeyRef K;
  K.Assign(IndexOn({"Id", "Name", "WName"}), &T.Fields);
  ASSERT_EQ(K.PartCount(), 3);
  // Integer: flag + 4 bytes, not truncated.
  EXPECT_EQ(K.Parts[0].ShortSize, 5);
  EXPECT_EQ(K.Parts[0].AddedSize, 0);
  // Varchar(50): memory size 51 > 20, so 1 flag + 20 characters + 2 zero bytes.
  EXPECT_EQ(K.Parts[1].ShortSize, 23);
  EXPECT_EQ(K.Parts[1].FullSize, 52);
  EXPECT_EQ(K.Parts[1].AddedSize, 2);
  EXPECT_EQ(K.Parts[1].OffsetInShortKeyBuffer, 5);
  EXPECT_EQ(K.Parts[2].ShortSize, 23);
  EXPECT_EQ(K.Parts[2].FullSize, 63);
  EXPECT_EQ(K.FShortKeySize, 5 + 23 + 23);
  EXPECT_EQ(K.FFullKeySize, 5 + 52 + 63);
  EXPECT_EQ(K.FReferenceSize, 6);
  EXPECT_TRUE(K.HasTruncatedParts());

  auto R = T.NewRecord();
  T.SetInt(R, 0, 9);
  T.SetStr(R, 1, "abcdefghijklmnopqrstuvwxyz");
  std::vector<uint8_t> Key(K.FShortKeySize, 0xEE);
  K.MakeShortKeyFromRecordBuffer(R.data(), Key.data());
  EXPECT_EQ(Key[0], 0);
  EXPECT_EQ(LoadLE<int32_t>(&Key[1]), 9);
  EXPECT_EQ(Key[5], 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&Key[6]), 20), "abcdefghijklmnopqrst");
  EXPECT_EQ(Key[26], 0);
  EXPECT_EQ(Key[27], 0);
  EXPECT_EQ(Key[28], 1);  // WName is NULL
  for (int I = 29; I < 51; ++I) EXPECT_EQ(Key[static_cast<size_t>(I)], 0) << I;

  EXPECT_EQ(CodeOf([&] { K.Assign(IndexOn({"Nope"}), &T.Fields); }), 20043);
  EXPECT_EQ(CodeOf([&] { K.Assign(IndexOn({"Memo"}), &T.Fields); }), 20295);
  EXPECT_EQ(CodeOf([&] { K.Assign(IndexOn({"Id"}), nullptr); }), 20045);
}

// A record index over TTable records, kept in a B-tree of small pages.
struct TIndexFixture {
  explicit TIndexFixture(TVLTIndexDef Def, uint16_t PageSize = 512) : PM(PageSize), Tree(&PM, &Key) {
    Key.Assign(Def, &T.Fields);
    Key.SetRecordReader(&T);
    Tree.CreateRoot(kS);
  }
  TVLTPageItemID Add(std::vector<uint8_t> R) {
    TVLTPageItemID Id{static_cast<int32_t>(T.Records.size() + 1), 3};
    T.Records[Id] = R;
    std::vector<uint8_t> K(Key.FShortKeySize);
    uint8_t Ref[6];
    Key.MakeShortKeyFromRecordBuffer(T.Records[Id].data(), K.data());
    Id.SaveTo(Ref);
    Tree.Insert(kS, K.data(), Ref);
    return Id;
  }
  bool Remove(TVLTPageItemID Id) {
    std::vector<uint8_t> K(Key.FShortKeySize);
    uint8_t Ref[6];
    Key.MakeShortKeyFromRecordBuffer(T.Records[Id].data(), K.data());
    Id.SaveTo(Ref);
    return Tree.Delete(kS, K.data(), Ref);
  }
  // Whether an entry with the key of R exists (the unique test).
  bool Exists(const std::vector<uint8_t>& R) {
    std::vector<uint8_t> K(Key.FShortKeySize);
    Key.MakeShortKeyFromRecordBuffer(R.data(), K.data());
    TVLTKeyPath P;
    return Tree.FindByCondition(kS, true, scEqual, K.data(), P);
  }
  std::vector<TVLTPageItemID> Order() {
    std::vector<TVLTPageItemID> V;
    Tree.ForEachEntry(kS, [&](const uint8_t*, const uint8_t* Ref, const TVLTKeyPath&) {
      V.push_back(TVLTPageItemID::LoadFrom(Ref));
      return true;
    });
    return V;
  }

  TTable T;
  TMemPageManager PM;
  TVLTRecordKeyRef Key;
  TVLTBTree Tree;
};

TEST(BTreeKey, TruncatedStringsOrderedAndUniqueByFullValue) {
  TIndexFixture X(IndexOn({"Name"}));
  const std::string Prefix = "ABCDEFGHIJKLMNOPQRST";  // exactly the 20 stored characters
  std::vector<std::string> Values = {Prefix + "zz", Prefix + "b", Prefix, Prefix + "a",
                                     Prefix.substr(0, 19), Prefix + "ab"};
  std::map<TVLTPageItemID, std::string> ById;
  for (const std::string& V : Values) {
    auto R = X.T.NewRecord();
    X.T.SetStr(R, 1, V);
    ById[X.Add(R)] = V;
  }
  X.Tree.CheckIntegrity(kS);
  std::vector<std::string> Got;
  for (TVLTPageItemID Id : X.Order()) Got.push_back(ById[Id]);
  std::vector<std::string> Want = {Prefix.substr(0, 19), Prefix, Prefix + "a", Prefix + "ab",
                                   Prefix + "b", Prefix + "zz"};
  EXPECT_EQ(Got, Want);
  EXPECT_GT(X.T.Reads, 0);  // ties were settled by reading the records

  // The unique test: equal only as a whole.
  for (const std::string& V : Values) {
    auto R = X.T.NewRecord();
    X.T.SetStr(R, 1, V);
    EXPECT_TRUE(X.Exists(R)) << V;
  }
  for (const std::string& V : {Prefix + "c", Prefix + "aa", Prefix.substr(0, 18)}) {
    auto R = X.T.NewRecord();
    X.T.SetStr(R, 1, V);
    EXPECT_FALSE(X.Exists(R)) << V;
  }
  // Deleting one of the tied values removes exactly its entry.
  auto It = std::find_if(ById.begin(), ById.end(), [&](auto& P) { return P.second == Prefix + "a"; });
  ASSERT_TRUE(X.Remove(It->first));
  auto R = X.T.NewRecord();
  X.T.SetStr(R, 1, Prefix + "a");
  EXPECT_FALSE(X.Exists(R));
  X.T.SetStr(R, 1, Prefix + "ab");
  EXPECT_TRUE(X.Exists(R));
  X.Tree.CheckIntegrity(kS);
}

TEST(BTreeKey, ZeroIndexedSizeOrdersByFullValues) {
  TIndexFixture X(IndexOn({"Name"}, 0));
  EXPECT_EQ(X.Key.Parts[0].ShortSize, 3);  // flag and the two zero bytes only
  std::map<TVLTPageItemID, std::string> ById;
  std::mt19937 Rng(3);
  std::multiset<std::string> Model;
  for (int I = 0; I < 300; ++I) {
    std::string V = std::string(1, static_cast<char>('a' + Rng() % 26)) + std::to_string(Rng() % 50);
    auto R = X.T.NewRecord();
    X.T.SetStr(R, 1, V);
    ById[X.Add(R)] = V;
    Model.insert(V);
  }
  X.Tree.CheckIntegrity(kS);
  std::vector<std::string> Got;
  for (TVLTPageItemID Id : X.Order()) Got.push_back(ById[Id]);
  // Equal strings keep record-identifier order; the model sorts by the same collation only for
  // these plain lowercase/digit strings.
  std::vector<std::string> Sorted = Got;
  std::stable_sort(Sorted.begin(), Sorted.end(), [](const std::string& A, const std::string& B) {
    return TVLTLocale::Instance().CompareAnsi(A, B, false) < 0;
  });
  EXPECT_EQ(Got, Sorted);
  EXPECT_EQ(Got.size(), Model.size());
}

TEST(BTreeKey, NullsFirstAscendingLastDescending) {
  for (bool Desc : {false, true}) {
    TIndexFixture X(IndexOn({"Id"}, 20, Desc));
    std::vector<std::optional<int32_t>> Values = {5, std::nullopt, -3, 12, std::nullopt, 0};
    std::map<TVLTPageItemID, std::optional<int32_t>> ById;
    for (auto V : Values) {
      auto R = X.T.NewRecord();
      if (V) X.T.SetInt(R, 0, *V);
      ById[X.Add(R)] = V;
    }
    X.Tree.CheckIntegrity(kS);
    std::vector<std::optional<int32_t>> Got;
    for (TVLTPageItemID Id : X.Order()) Got.push_back(ById[Id]);
    std::vector<std::optional<int32_t>> Want =
        Desc ? std::vector<std::optional<int32_t>>{12, 5, 0, -3, std::nullopt, std::nullopt}
             : std::vector<std::optional<int32_t>>{std::nullopt, std::nullopt, -3, 0, 5, 12};
    EXPECT_EQ(Got, Want) << "descending " << Desc;
  }
}

TEST(BTreeKey, CaseInsensitiveColumnTreatsCaseVariantsAsDuplicates) {
  TIndexFixture X(IndexOn({"Name"}, 20, false, true));
  auto R = X.T.NewRecord();
  X.T.SetStr(R, 1, "Miller");
  X.Add(R);
  auto Q = X.T.NewRecord();
  X.T.SetStr(Q, 1, "MILLER");
  EXPECT_TRUE(X.Exists(Q));
  X.T.SetStr(Q, 1, "Millers");
  EXPECT_FALSE(X.Exists(Q));
}

TEST(BTreeKey, WideTruncatedStrings) {
  TIndexFixture X(IndexOn({"WName"}));
  // 20 bytes hold 10 UTF-16 characters.
  std::u16string P = u"0123456789";
  std::map<TVLTPageItemID, std::u16string> ById;
  for (const std::u16string& V : {P + u"b", P, P + u"a", P.substr(0, 9)}) {
    auto R = X.T.NewRecord();
    X.T.SetWide(R, 2, V);
    ById[X.Add(R)] = V;
  }
  X.Tree.CheckIntegrity(kS);
  std::vector<std::u16string> Got;
  for (TVLTPageItemID Id : X.Order()) Got.push_back(ById[Id]);
  EXPECT_EQ(Got, (std::vector<std::u16string>{P.substr(0, 9), P, P + u"a", P + u"b"}));
}

TEST(BTreeKey, RandomTruncatedKeysAgainstModel) {
  // Many values share long prefixes, so most ties need the full values; the tree stays ordered
  // and every deletion finds its entry.
  TIndexFixture X(IndexOn({"Name", "Id"}), 256);
  std::mt19937 Rng(11);
  std::map<TVLTPageItemID, std::pair<std::string, int32_t>> Live;
  for (int Batch = 0; Batch < 12; ++Batch) {
    for (int I = 0; I < 30; ++I) {
      if (Rng() % 3 != 0 || Live.empty()) {
        std::string V = std::string(20 + Rng() % 3, 'k') + static_cast<char>('a' + Rng() % 4);
        int32_t N = static_cast<int32_t>(Rng() % 5);
        auto R = X.T.NewRecord();
        X.T.SetStr(R, 1, V);
        X.T.SetInt(R, 0, N);
        Live[X.Add(R)] = {V, N};
      } else {
        auto It = Live.begin();
        std::advance(It, Rng() % Live.size());
        ASSERT_TRUE(X.Remove(It->first));
        Live.erase(It);
      }
    }
    X.Tree.CheckIntegrity(kS);
    std::vector<std::tuple<std::string, int32_t, TVLTPageItemID>> Want, Got;
    for (auto& [Id, V] : Live) Want.emplace_back(V.first, V.second, Id);
    std::sort(Want.begin(), Want.end());  // plain ASCII letters: byte order is collation order
    for (TVLTPageItemID Id : X.Order()) Got.emplace_back(Live[Id].first, Live[Id].second, Id);
    ASSERT_EQ(Got, Want);
  }
}

}  // namespace
}  // namespace vlt
