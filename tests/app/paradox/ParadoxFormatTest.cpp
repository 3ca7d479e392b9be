// The field codec, dates, code pages, CSV quoting, and damaged files: every damaged or foreign
// input gives an EParadoxError, never a crash.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "app/paradox/ParadoxCodePage.h"
#include "app/paradox/ParadoxCrypt.h"
#include "app/paradox/ParadoxDump.h"
#include "app/paradox/ParadoxError.h"
#include "app/paradox/ParadoxFile.h"
#include "app/paradox/ParadoxSortOrder.h"
#include "app/paradox/ParadoxTable.h"
#include "app/paradox/ParadoxValue.h"
#include "tests/app/TestDirs.h"

namespace {

using namespace vlt::app;

TEST(ParadoxFormat, FieldCodecRoundTrips) {
  TParadoxCodePage CP(1252);
  struct TCase {
    const char* Name;
    TParadoxFieldKind Kind;
    int Size;
    TParadoxValue In, Out;
  } Cases[] = {
      {"short", pxfShort, 0, TParadoxValue::Integer(-32767), TParadoxValue::Integer(-32767)},
      {"short zero", pxfShort, 0, TParadoxValue::Integer(0), TParadoxValue::Integer(0)},
      {"long", pxfLong, 0, TParadoxValue::Integer(-5), TParadoxValue::Integer(-5)},
      {"long from bool", pxfLong, 0, TParadoxValue::Boolean(true), TParadoxValue::Integer(1)},
      {"long from text", pxfLong, 0, TParadoxValue::String(" 42 "), TParadoxValue::Integer(42)},
      {"number", pxfNumber, 0, TParadoxValue::Floating(-1.387), TParadoxValue::Floating(-1.387)},
      {"number zero", pxfNumber, 0, TParadoxValue::Floating(0), TParadoxValue::Floating(0)},
      {"money", pxfMoney, 0, TParadoxValue::Currency(1234.56), TParadoxValue::Currency(1234.56)},
      {"logical", pxfLogical, 0, TParadoxValue::Boolean(false), TParadoxValue::Boolean(false)},
      {"date", pxfDate, 0, TParadoxValue::Date(DateToDays({2012, 2, 29})),
       TParadoxValue::Date(DateToDays({2012, 2, 29}))},
      {"time", pxfTime, 0, TParadoxValue::Time(37800000), TParadoxValue::Time(37800000)},
      {"alpha", pxfAlpha, 5, TParadoxValue::String("abc"), TParadoxValue::String("abc")},
      {"alpha cut", pxfAlpha, 3, TParadoxValue::String("abcdef"), TParadoxValue::String("abc")},
      {"alpha 1252", pxfAlpha, 5, TParadoxValue::String("\xE9t\xE9"),
       TParadoxValue::String("\xE9t\xE9")},
      {"alpha from int", pxfAlpha, 5, TParadoxValue::Integer(12), TParadoxValue::String("12")},
      {"null", pxfLong, 0, TParadoxValue::Null(), TParadoxValue::Null()},
  };
  for (const TCase& C : Cases) {
    std::vector<TParadoxFieldDesc> F(1);
    F[0].Kind = C.Kind;
    F[0].DescSize = C.Size;
    LayoutFields(F);
    std::string Rec(static_cast<size_t>(F[0].Width), '\0');
    EncodeField(F[0], reinterpret_cast<uint8_t*>(Rec.data()), C.In, CP, C.Name);
    EXPECT_EQ(DecodeField(F[0], reinterpret_cast<const uint8_t*>(Rec.data()), CP, TTextForm::Ansi,
                          nullptr, "t"),
              C.Out)
        << C.Name;
  }
}

TEST(ParadoxFormat, EncodingsSortLikeValues) {
  TParadoxCodePage CP(1252);
  TParadoxFieldDesc F;
  F.Kind = pxfNumber;
  F.Width = 8;
  double Values[] = {-1e9, -2.5, -0.001, 0, 0.001, 3, 1e12};
  std::string Prev;
  for (double V : Values) {
    std::string Rec(8, '\0');
    EncodeField(F, reinterpret_cast<uint8_t*>(Rec.data()), TParadoxValue::Floating(V), CP, "n");
    if (!Prev.empty()) {
      EXPECT_LT(Prev, Rec) << V;
    }
    Prev = Rec;
  }
}

TEST(ParadoxFormat, BadValuesAreRefused) {
  TParadoxCodePage CP(1252);
  TParadoxFieldDesc F;
  F.Kind = pxfShort;
  F.Width = 2;
  std::string Rec(2, '\0');
  EXPECT_THROW(EncodeField(F, reinterpret_cast<uint8_t*>(Rec.data()), TParadoxValue::Integer(40000),
                           CP, "s"),
               EParadoxError);
  EXPECT_THROW(
      EncodeField(F, reinterpret_cast<uint8_t*>(Rec.data()), TParadoxValue::String("x"), CP, "s"),
      EParadoxError);
  F.Kind = pxfMemo;
  F.Width = 20;
  Rec.assign(20, '\0');
  EXPECT_THROW(
      EncodeField(F, reinterpret_cast<uint8_t*>(Rec.data()), TParadoxValue::String("x"), CP, "m"),
      EParadoxError);
}

TEST(ParadoxFormat, DatesAndNumbersAsText) {
  EXPECT_EQ(DateToDays({1, 1, 1}), 1);
  EXPECT_EQ(DaysToDate(DateToDays({2018, 1, 2})), (TParadoxDate{2018, 1, 2}));
  EXPECT_FALSE(IsValidDate({2013, 2, 29}));
  EXPECT_EQ(ValueToText(TParadoxValue::Time(34 * 60 * 1000 + 5)), "00:34:00.005");
  EXPECT_EQ(ValueToText(TParadoxValue::DateTime(DateToDays({2000, 3, 1}) * 86400000.0 + 3600000)),
            "2000-03-01 01:00:00");
  EXPECT_EQ(ShortestDecimal(200.36), "200.36");
  EXPECT_EQ(ShortestDecimal(1e21), "1000000000000000000000");
  EXPECT_EQ(ShortestDecimal(-0.0), "0");
  EXPECT_EQ(CsvCell("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvCell("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvCell("plain"), "plain");
}

TEST(ParadoxFormat, CodePages) {
  TParadoxCodePage Dos(437);
  EXPECT_EQ(Dos.ToWin1252("\x82"), "\xE9");  // e acute
  EXPECT_EQ(Dos.FromWin1252("\xE9"), "\x82");
  EXPECT_EQ(Dos.ToUtf8("\x82"), "\xC3\xA9");
  EXPECT_EQ(Dos.ToWin1252("\xB3"), "?");  // a box-drawing line has no Windows-1252 byte
  TParadoxCodePage None(0);
  EXPECT_EQ(None.CodePage(), 437);
}

// A small valid table to damage.
std::string ValidTable(const vlt::test::TTempDir& Dir) {
  TParadoxTable T;
  T.SetDatabaseName(Dir.Path());
  T.SetTableName("v.db");
  T.FieldDefs() = {{"Num", ftInteger, 0, false}, {"Name", ftString, 20, false}};
  T.IndexDefs() = {{"", "Num", ixPrimary | ixUnique}};
  T.CreateTable();
  T.Open();
  for (int I = 0; I < 200; ++I) {
    T.Append();
    T.Fields(0).SetAsInteger(I);
    T.Fields(1).SetAsString("name " + std::to_string(I));
    T.Post();
  }
  T.Close();
  return vlt::test::ReadFile(Dir / "v.db");
}

TEST(ParadoxFormat, DamagedFilesGiveErrors) {
  vlt::test::TTempDir Dir;
  const std::string Good = ValidTable(Dir);
  EXPECT_EQ(ParseParadoxFile(Good, "v").Records.size(), 200u);
  struct {
    const char* Name;
    size_t Offset;
    std::string Bytes;
  } Cases[] = {
      {"record size", 0x00, std::string("\x05\x00", 2)},
      {"header size", 0x02, std::string("\xFF\xFF", 2)},
      {"file type", 0x04, "\x09"},
      {"block size", 0x05, "\x05"},
      {"first block", 0x0E, std::string("\xFF\x00", 2)},
      {"field count", 0x21, std::string("\x00\x00", 2)},
      {"key count", 0x23, std::string("\x09\x00", 2)},
      {"version", 0x39, "\x02"},
      {"field type", 0x78, "\x33"},
      {"field size", 0x7B, std::string("\x00", 1)},
      {"block chain loop", 2048, std::string("\x01\x00", 2)},
      {"block count", 2048 + 4, std::string("\x00\x7F", 2)},
      {"record count uneven", 2048 + 4, std::string("\x03\x00", 2)},
  };
  for (const auto& C : Cases) {
    std::string Bad = Good;
    std::memcpy(Bad.data() + C.Offset, C.Bytes.data(), C.Bytes.size());
    EXPECT_THROW(ParseParadoxFile(Bad, "v"), EParadoxError) << C.Name;
  }
  for (size_t Len :
       {size_t{0}, size_t{10}, size_t{0x58}, size_t{0x100}, size_t{2049}, Good.size() - 1500})
    EXPECT_THROW(ParseParadoxFile(Good.substr(0, Len), "v"), EParadoxError) << Len;
  EXPECT_THROW(ParseParadoxFile(std::string(4096, 'x'), "v"), EParadoxError);
  // A .px is not a table.
  EXPECT_THROW(ParseParadoxFile(vlt::test::ReadFile(Dir / "v.px"), "v.px"), EParadoxError);
}

TEST(ParadoxFormat, RandomDamageNeverCrashes) {
  vlt::test::TTempDir Dir;
  const std::string Good = ValidTable(Dir);
  std::mt19937 Rng(11);
  for (int I = 0; I < 300; ++I) {
    std::string Bad = Good;
    for (int K = 0; K < 4; ++K) Bad[Rng() % 2200] = static_cast<char>(Rng());
    try {
      TParadoxFileImage Img = ParseParadoxFile(Bad, "v");
      TParadoxCodePage CP(Img.Header.CodePage);
      for (const std::string& R : Img.Records)
        for (const TParadoxFieldDesc& F : Img.Header.Fields)
          (void)ValueToText(DecodeField(F, reinterpret_cast<const uint8_t*>(R.data()), CP,
                                        TTextForm::Utf8, nullptr, "v"));
    } catch (const EParadoxError&) {
    }
  }
}

TEST(ParadoxFormat, BlockScramblingRoundTripsAndDependsOnKeyAndBlock) {
  std::mt19937 Rng(3);
  std::string Plain(4096, '\0');
  for (char& C : Plain) C = static_cast<char>(Rng());
  auto Scrambled = [&](uint32_t Key, uint32_t Block) {
    std::string S = Plain;
    EncryptParadoxBlock(reinterpret_cast<uint8_t*>(S.data()), S.size(), Key, Block);
    return S;
  };
  for (uint32_t Key : {0x0A25E09Au, 0x00000001u, 0xFFFFFFFFu})
    for (uint32_t Block : {1u, 2u, 255u, 256u, 65535u}) {
      std::string S = Scrambled(Key, Block);
      EXPECT_NE(S, Plain);
      DecryptParadoxBlock(reinterpret_cast<uint8_t*>(S.data()), S.size(), Key, Block);
      EXPECT_EQ(S, Plain) << Key << " " << Block;
    }
  EXPECT_NE(Scrambled(0x0A25E09Au, 1), Scrambled(0x0A25E09Au, 2));
  EXPECT_NE(Scrambled(0x0A25E09Au, 1), Scrambled(0x0A25E09Bu, 1));
  EXPECT_NE(Scrambled(0x0A25E09Au, 1), Scrambled(0x0A25E19Au, 1));
  // Only the two low bytes of the checksum and the low byte of the block number count.
  EXPECT_EQ(Scrambled(0x0A25E09Au, 1), Scrambled(0xFFFFE09Au, 257));
  // Pieces of one block differ even when their plain bytes are equal.
  std::string Zero(512, '\0');
  EncryptParadoxBlock(reinterpret_cast<uint8_t*>(Zero.data()), Zero.size(), 0x1234u, 1);
  EXPECT_NE(Zero.substr(0, 256), Zero.substr(256));
  std::string Blob = Plain.substr(0, 1000);  // a cut-off last piece stays as it is
  EncryptParadoxBlobData(reinterpret_cast<uint8_t*>(Blob.data()), Blob.size(), 0x0A25E09Au);
  EXPECT_EQ(Blob.substr(768), Plain.substr(768, 232));
  DecryptParadoxBlobData(reinterpret_cast<uint8_t*>(Blob.data()), Blob.size(), 0x0A25E09Au);
  EXPECT_EQ(Blob, Plain.substr(0, 1000));
}

TEST(ParadoxFormat, PasswordInformationInTheHeaderIsFoundAndKept) {
  // An encrypted table's header may hold none, a byte per field or 256 bytes of password
  // information before the field numbers; the sort order name comes after them.
  for (size_t Info : {size_t{0}, size_t{3}, size_t{256}}) {
    TParadoxHeader H;
    H.CodePage = 1252;
    H.SortOrderName = "intl";
    H.Encryption = 0xCAFE1234u;
    H.AuxPasswords = Info == 256 ? 2 : 0;
    H.CryptInfo.assign(Info, '\x07');
    H.Fields = {{"A", pxfAlpha, 5, 0, 0}, {"B", pxfLong, 4, 0, 0}, {"C", pxfShort, 2, 0, 0}};
    H.RecordSize = LayoutFields(H.Fields);
    std::string Bytes = BuildParadoxHeader(H);
    TParadoxHeader R =
        ParseParadoxHeader(reinterpret_cast<const uint8_t*>(Bytes.data()), Bytes.size(), "t.db");
    EXPECT_EQ(R.Encryption, 0xCAFE1234u) << Info;
    EXPECT_EQ(R.CryptInfo, H.CryptInfo) << Info;
    EXPECT_EQ(R.AuxPasswords, H.AuxPasswords) << Info;
    EXPECT_EQ(R.SortOrderName, "intl") << Info;
  }
}

TEST(ParadoxFormat, SortOrderNamesAndIds) {
  struct TCase {
    uint8_t Id;
    const char* Name;
    TParadoxCollation C;
  } Cases[] = {
      {0, "", TParadoxCollation::Ascii},
      {0, "ascii", TParadoxCollation::Ascii},
      {0xB7, "", TParadoxCollation::International},
      {0, "INTL", TParadoxCollation::International},
      {0, "ANSIINTL", TParadoxCollation::International},
      {0x82, "", TParadoxCollation::NorDan},
      {0, "nordan40", TParadoxCollation::NorDan},
      {0xF0, "", TParadoxCollation::SwedFin},
      {0x5D, "", TParadoxCollation::Spanish},
      {0, "ansispan", TParadoxCollation::Spanish},
      {0x4C, "", TParadoxCollation::Unknown},
      {0xB7, "japan", TParadoxCollation::Unknown},
  };
  for (const TCase& T : Cases)
    EXPECT_EQ(CollationOf(T.Id, T.Name), T.C) << T.Name << " " << int(T.Id);
  // The DOS code pages place letters elsewhere; the order is the same.
  TParadoxAlphaOrder Intl437(TParadoxCollation::International, TParadoxCodePage(437));
  auto Less = [&](const char* A, const char* B) {
    return Intl437.Compare(reinterpret_cast<const uint8_t*>(A), std::strlen(A),
                           reinterpret_cast<const uint8_t*>(B), std::strlen(B)) < 0;
  };
  EXPECT_TRUE(Less("\x82mile", "Eve"));  // e acute in 437
  EXPECT_TRUE(Less("emile", "\x82mile"));
  EXPECT_TRUE(Less("M\x81ller", "Mullet"));  // u diaeresis (byte order would put it last)
  EXPECT_FALSE(Less("abc", "abc"));
}

}  // namespace
