// Primary indexes of one, two and three levels at every block size, plain and encrypted: the
// block chain every reader walks, the tree from the root, what pxlib reads of them, and the
// damage the reader must refuse.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "app/paradox/ParadoxCrypt.h"
#include "app/paradox/ParadoxError.h"
#include "app/paradox/ParadoxFile.h"
#include "app/paradox/ParadoxIndexFile.h"
#include "engine/base/VLTTypes.h"
#include "tests/app/PxlibCheck.h"
#include "tests/app/TestDirs.h"

namespace {

using namespace vlt::app;
using vlt::test::TTempDir;

// A table keyed on its alpha fields (one, or two of 255 at 16 KB so that three levels stay a
// few thousand blocks), with a long after them.
struct TShape {
  int BlockKB;
  std::vector<int> KeyWidths;
};

void PrintTo(const TShape& S, std::ostream* Os) {
  *Os << S.BlockKB << " KB blocks";
}

TParadoxHeader ShapeHeader(const TShape& S, uint32_t Key) {
  TParadoxHeader H;
  H.CodePage = 1252;
  H.SortOrderName = "ascii";
  H.Encryption = Key;
  H.BlockSize = S.BlockKB * 1024;
  H.KeyFields = static_cast<int>(S.KeyWidths.size());
  for (size_t I = 0; I < S.KeyWidths.size(); ++I)
    H.Fields.push_back({"Key" + std::to_string(I + 1), pxfAlpha, S.KeyWidths[I], 0, 0});
  H.Fields.push_back({"Num", pxfLong, 4, 0, 0});
  H.RecordSize = LayoutFields(H.Fields);
  return H;
}

// Records in key order: "K00000001" ... padded with zero bytes, then the number.
std::vector<std::string> ShapeRecords(const TParadoxHeader& H, size_t N) {
  std::vector<std::string> Out;
  Out.reserve(N);
  for (size_t I = 0; I < N; ++I) {
    std::string R(static_cast<size_t>(H.RecordSize), '\0');
    char Text[24];
    std::snprintf(Text, sizeof Text, "K%08zu", I + 1);
    for (size_t F = 0; F + 1 < H.Fields.size(); ++F)
      R.replace(static_cast<size_t>(H.Fields[F].Offset), 9, Text);
    const uint32_t V = static_cast<uint32_t>(I) ^ 0x80000000u;
    uint8_t* P = reinterpret_cast<uint8_t*>(R.data()) + H.Fields.back().Offset;
    P[0] = static_cast<uint8_t>(V >> 24), P[1] = static_cast<uint8_t>(V >> 16),
    P[2] = static_cast<uint8_t>(V >> 8), P[3] = static_cast<uint8_t>(V);
    Out.push_back(std::move(R));
  }
  return Out;
}

// The record count that needs Levels index levels: one more data block than Levels - 1 full
// levels of index blocks can name.
size_t RecordsForLevels(const TParadoxHeader& H, int Levels) {
  const size_t PerData = (static_cast<size_t>(H.BlockSize) - 6) / static_cast<size_t>(H.RecordSize);
  size_t KeyWidth = 0;
  for (int I = 0; I < H.KeyFields; ++I)
    KeyWidth += static_cast<size_t>(H.Fields[static_cast<size_t>(I)].Width);
  const size_t PerIndex = (static_cast<size_t>(H.BlockSize) - 6) / (KeyWidth + 6);
  size_t Blocks = 2;
  for (int L = 1; L < Levels; ++L) Blocks = (L == 1 ? PerIndex : Blocks * PerIndex);
  if (Levels > 1) ++Blocks;
  return Blocks * PerData;
}

void WriteShape(const std::string& Db, const TShape& S, uint32_t Key, int Levels) {
  TParadoxHeader H = ShapeHeader(S, Key);
  const std::vector<std::string> Records = ShapeRecords(H, RecordsForLevels(H, Levels));
  std::vector<const std::string*> Ptrs;
  for (const std::string& R : Records) Ptrs.push_back(&R);
  WriteParadoxFile(Db, H, Ptrs);
}

struct TBlockHead {
  int Next, Prev, Entries;
};

// The index file's header and the head of each of its blocks (decrypted).
TBlockHead BlockHead(const std::string& Bytes, const TParadoxHeader& H, int Block) {
  std::string B =
      Bytes.substr(static_cast<size_t>(H.HeaderSize) + static_cast<size_t>(Block - 1) * H.BlockSize,
                   static_cast<size_t>(H.BlockSize));
  if (H.Encryption)
    DecryptParadoxBlock(reinterpret_cast<uint8_t*>(B.data()), B.size(), H.Encryption,
                        static_cast<uint32_t>(Block));
  const uint8_t* P = reinterpret_cast<const uint8_t*>(B.data());
  const int16_t Last = vlt::LoadLE<int16_t>(P + 4);
  return {vlt::LoadLE<uint16_t>(P), vlt::LoadLE<uint16_t>(P + 2),
          Last < 0 ? 0 : Last / H.RecordSize + 1};
}

class ParadoxIndexLevels : public ::testing::TestWithParam<std::tuple<TShape, int, bool>> {};

TEST_P(ParadoxIndexLevels, OneChainThatPxlibAndTheTreeAgreeOn) {
  const auto& [Shape, Levels, Encrypted] = GetParam();
  TTempDir Dir;
  const std::string Db = Dir / "keyed.db";
  WriteShape(Db, Shape, Encrypted ? 0x5A17C3E1u : 0u, Levels);
  TParadoxFileImage Img = ReadParadoxFile(Db);
  std::vector<TParadoxFieldDesc> Keys(Img.Header.Fields.begin(),
                                      Img.Header.Fields.begin() + Img.Header.KeyFields);
  TParadoxIndexImage Ix = ReadParadoxIndex(Dir / "keyed.px", Keys);
  ASSERT_EQ(Ix.Levels, Levels);
  EXPECT_EQ(CheckParadoxIndexAgainstData(Ix, Img), "");

  // The chain: block 1 (the root) to the last, both ways, holding every entry the header counts.
  const TParadoxHeader& H = Ix.Header;
  const std::string Bytes = vlt::test::ReadFile(Dir / "keyed.px");
  EXPECT_EQ(H.FirstBlock, 1);
  EXPECT_EQ(H.IndexRoot, 1);
  EXPECT_EQ(H.LastBlock, H.FileBlocks);
  uint32_t Entries = 0;
  for (int B = 1; B <= H.FileBlocks; ++B) {
    TBlockHead Head = BlockHead(Bytes, H, B);
    EXPECT_EQ(Head.Next, B < H.FileBlocks ? B + 1 : 0) << "block " << B;
    EXPECT_EQ(Head.Prev, B - 1) << "block " << B;
    Entries += static_cast<uint32_t>(Head.Entries);
  }
  EXPECT_EQ(Entries, H.NumRecords);
  EXPECT_EQ(static_cast<uint32_t>(Ix.EntriesTotal), H.NumRecords);

  // What an independent reader makes of it.
  EXPECT_EQ(vlt::test::CheckWithPxlib(Db), "");
  vlt::test::TPxlibTable P = vlt::test::ReadWithPxlib(Db, Dir / "keyed.px");
  EXPECT_EQ(P.IndexEntries, static_cast<int>(H.NumRecords));
  EXPECT_EQ(P.IndexAttached, Levels <= 2);
}

std::string ShapeName(const ::testing::TestParamInfo<std::tuple<TShape, int, bool>>& I) {
  return std::to_string(std::get<0>(I.param).BlockKB) + "KB_" +
         std::to_string(std::get<1>(I.param)) + "levels" +
         (std::get<2>(I.param) ? "_encrypted" : "");
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, ParadoxIndexLevels,
                         ::testing::Combine(::testing::Values(TShape{1, {100}}, TShape{2, {200}},
                                                              TShape{4, {255}},
                                                              TShape{16, {255, 255}}),
                                            ::testing::Values(1, 2, 3), ::testing::Bool()),
                         ShapeName);

// A three-level index whose bytes the test then damages, one way per case.
class ParadoxIndexDamage : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteShape(Dir / "keyed.db", TShape{1, {100}}, 0, 3);
    Img = ReadParadoxFile(Dir / "keyed.db");
    Keys.assign(Img.Header.Fields.begin(), Img.Header.Fields.begin() + 1);
    Bytes = vlt::test::ReadFile(Dir / "keyed.px");
    H = ParseParadoxIndex(Bytes, "keyed.px", Keys).Header;
  }
  uint8_t* Block(int B) {
    return reinterpret_cast<uint8_t*>(Bytes.data()) + H.HeaderSize +
           static_cast<size_t>(B - 1) * H.BlockSize;
  }
  std::string Error() {
    try {
      ParseParadoxIndex(Bytes, "keyed.px", Keys);
    } catch (const EParadoxError& E) {
      return E.what();
    }
    return "";
  }
  TTempDir Dir;
  TParadoxFileImage Img;
  std::vector<TParadoxFieldDesc> Keys;
  std::string Bytes;
  TParadoxHeader H;
};

TEST_F(ParadoxIndexDamage, ChainsThatOtherReadersWouldMisreadAreRefused) {
  ASSERT_GE(H.FileBlocks, 4);
  const std::string Sound = Bytes;
  // The leaves chained on their own, the root alone: the layout that other readers reject.
  vlt::StoreLE<uint16_t>(Block(1), 0);
  vlt::StoreLE<uint16_t>(Block(2) + 2, 0);
  EXPECT_NE(Error().find("is damaged"), std::string::npos) << Error();
  // A chain that loops back.
  Bytes = Sound;
  vlt::StoreLE<uint16_t>(Block(3), 2);
  EXPECT_NE(Error().find("runs in a circle"), std::string::npos) << Error();
  // A back link that disagrees.
  Bytes = Sound;
  vlt::StoreLE<uint16_t>(Block(3) + 2, 1);
  EXPECT_NE(Error().find("as the one before it"), std::string::npos) << Error();
  // The header's entry count.
  Bytes = Sound;
  vlt::StoreLE<uint32_t>(reinterpret_cast<uint8_t*>(Bytes.data()) + 6, H.NumRecords - 1);
  EXPECT_NE(Error().find("entries lie on its chain"), std::string::npos) << Error();
  // A chain cut short of the last block.
  Bytes = Sound;
  vlt::StoreLE<uint16_t>(Block(H.FileBlocks - 1), 0);
  EXPECT_NE(Error().find("ends at block"), std::string::npos) << Error();
  Bytes = Sound;
  EXPECT_EQ(Error(), "");
}

TEST_F(ParadoxIndexDamage, AnIndexOfOtherDataIsNotTheTablesIndex) {
  TParadoxIndexImage Ix = ParseParadoxIndex(Bytes, "keyed.px", Keys);
  ASSERT_EQ(CheckParadoxIndexAgainstData(Ix, Img), "");
  TParadoxIndexImage Counted = Ix;
  Counted.Leaves[1].Count -= 1;
  EXPECT_NE(CheckParadoxIndexAgainstData(Counted, Img).find("counts"), std::string::npos);
  TParadoxIndexImage Keyed = Ix;
  Keyed.Leaves[2].Key[1] = 'X';
  EXPECT_NE(CheckParadoxIndexAgainstData(Keyed, Img).find("first key"), std::string::npos);
  TParadoxIndexImage Short = Ix;
  Short.Leaves.pop_back();
  EXPECT_NE(CheckParadoxIndexAgainstData(Short, Img).find("data blocks"), std::string::npos);
}

TEST(ParadoxIndexRewrite, ASoundTableRebuiltUnchangedKeepsItsFiles) {
  TTempDir Dir;
  const std::string Db = Dir / "keyed.db";
  WriteShape(Db, TShape{2, {200}}, 0, 2);
  struct stat Before {};
  ASSERT_EQ(::stat((Dir / "keyed.px").c_str(), &Before), 0);
  const std::string DbBytes = vlt::test::ReadFile(Db),
                    PxBytes = vlt::test::ReadFile(Dir / "keyed.px");
  WriteShape(Db, TShape{2, {200}}, 0, 2);
  struct stat After {};
  ASSERT_EQ(::stat((Dir / "keyed.px").c_str(), &After), 0);
  EXPECT_EQ(Before.st_ino, After.st_ino);  // not replaced
  EXPECT_EQ(vlt::test::ReadFile(Db), DbBytes);
  EXPECT_EQ(vlt::test::ReadFile(Dir / "keyed.px"), PxBytes);
}

TEST(ParadoxIndexRewrite, AReplacedTableKeepsItsPermissionsAndOwnerAndTellsOfABrokenLink) {
  TTempDir Dir;
  const std::string Db = Dir / "keyed.db", Px = Dir / "keyed.px";
  WriteShape(Db, TShape{2, {200}}, 0, 1);
  ASSERT_EQ(::chmod(Db.c_str(), 0600), 0);
  ASSERT_EQ(::chmod(Px.c_str(), 0640), 0);
  const bool Root = ::geteuid() == 0;
  if (Root) {
    ASSERT_EQ(::chown(Db.c_str(), 1234, 5678), 0);
    ASSERT_EQ(::chown(Px.c_str(), 1234, 5678), 0);
  }
  ASSERT_EQ(::link(Db.c_str(), (Dir / "other-name.db").c_str()), 0);
  (void)TakeBrokenLinks();
  WriteShape(Db, TShape{2, {200}}, 0, 2);  // other records: both files are replaced
  struct stat D {
  }, P{};
  ASSERT_EQ(::stat(Db.c_str(), &D), 0);
  ASSERT_EQ(::stat(Px.c_str(), &P), 0);
  EXPECT_EQ(D.st_mode & 0777, 0600u);
  EXPECT_EQ(P.st_mode & 0777, 0640u);
  if (Root) {
    EXPECT_EQ(D.st_uid, 1234u);
    EXPECT_EQ(D.st_gid, 5678u);
    EXPECT_EQ(P.st_uid, 1234u);
  }
  EXPECT_EQ(TakeBrokenLinks(), std::vector<std::string>{Db});
  EXPECT_TRUE(TakeBrokenLinks().empty());

  // A table that gets its first index: the index takes the table's permissions.
  std::filesystem::remove(Px);
  WriteShape(Db, TShape{2, {200}}, 0, 1);
  ASSERT_EQ(::stat(Px.c_str(), &P), 0);
  EXPECT_EQ(P.st_mode & 0777, 0600u);
}

}  // namespace
