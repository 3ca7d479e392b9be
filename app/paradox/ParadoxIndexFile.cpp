#include "app/paradox/ParadoxIndexFile.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "app/paradox/ParadoxCrypt.h"
#include "app/paradox/ParadoxError.h"
#include "app/paradox/ParadoxFile.h"
#include "engine/base/VLTTypes.h"

namespace vlt::app {

namespace {

uint16_t EncodeShort(int V) {
  return static_cast<uint16_t>(static_cast<uint16_t>(V) ^ 0x8000u);
}
// Block numbers and counts are read as unsigned: a table may have up to 65535 blocks.
int DecodeShort(const uint8_t* P) {
  return static_cast<uint16_t>(((P[0] << 8) | P[1]) ^ 0x8000);
}
void PutShortBE(uint8_t* P, int V) {
  uint16_t E = EncodeShort(V);
  P[0] = static_cast<uint8_t>(E >> 8);
  P[1] = static_cast<uint8_t>(E);
}

}  // namespace

std::string BuildParadoxIndex(const TParadoxHeader& Data,
                              const std::vector<TParadoxIndexEntry>& Leaves) {
  TParadoxHeader H;
  H.FileType = pxtPrimaryIndex;
  H.Version = Data.Version;
  H.BlockSize = Data.BlockSize;
  H.HeaderSize = 2048;
  H.SortOrder = Data.SortOrder;
  H.Encryption = Data.Encryption;
  H.TableName = Data.TableName;
  size_t Dot = H.TableName.find_last_of('.');
  H.TableName = (Dot == std::string::npos ? H.TableName : H.TableName.substr(0, Dot)) + ".PX";
  H.Fields.assign(Data.Fields.begin(), Data.Fields.begin() + Data.KeyFields);
  const int KeyWidth = LayoutFields(H.Fields);
  H.RecordSize = KeyWidth + 6;
  const size_t PerBlock =
      (static_cast<size_t>(H.BlockSize) - kPxBlockHeaderSize) / static_cast<size_t>(H.RecordSize);
  if (PerBlock < 2)
    throw EParadoxError("Table \"" + Data.TableName +
                        "\": the primary key is too long for its index.");

  // Levels bottom-up: each level is a list of blocks, each block a list of entries.
  using TBlock = std::vector<TParadoxIndexEntry>;
  std::vector<std::vector<TBlock>> Levels;
  std::vector<TParadoxIndexEntry> Cur = Leaves;
  if (!Cur.empty()) {
    while (true) {
      std::vector<TBlock> Blocks;
      for (size_t I = 0; I < Cur.size(); I += PerBlock)
        Blocks.emplace_back(Cur.begin() + I, Cur.begin() + std::min(Cur.size(), I + PerBlock));
      Levels.push_back(Blocks);
      if (Blocks.size() == 1) break;
      std::vector<TParadoxIndexEntry> Up;
      for (const TBlock& B : Blocks) {
        int Sum = 0;
        for (const TParadoxIndexEntry& E : B) Sum = std::min(32767, Sum + E.Count);
        Up.push_back({B.front().Key, 0, Sum});
      }
      Cur = std::move(Up);
    }
  }
  // Every block lies on one chain, top-down: the root first (block 1), then each level's blocks
  // in key order down to the leaves. A block's number is its place on the chain.
  std::vector<std::vector<int>> Numbers(Levels.size());
  int Next = 1;
  for (size_t L = Levels.size(); L-- > 0;)
    for (size_t I = 0; I < Levels[L].size(); ++I) Numbers[L].push_back(Next++);
  if (Next - 1 > 65535)
    throw EParadoxError("Table \"" + Data.TableName + "\" is too large for its primary index.");
  for (size_t L = 1; L < Levels.size(); ++L)
    for (size_t I = 0, Child = 0; I < Levels[L].size(); ++I)
      for (TParadoxIndexEntry& E : Levels[L][I]) E.Block = Numbers[L - 1][Child++];

  int Total = 0;
  for (auto& Lv : Levels)
    for (auto& B : Lv) Total += static_cast<int>(B.size());
  H.NumRecords = static_cast<uint32_t>(Total);
  H.FileBlocks = static_cast<uint16_t>(Next - 1);
  H.FirstBlock = H.FileBlocks ? 1 : 0;
  H.LastBlock = H.FileBlocks;
  H.IndexRoot = 1;
  H.IndexLevels = static_cast<uint8_t>(Levels.size());
  std::string Out = BuildParadoxHeader(H);
  Out.resize(Out.size() + static_cast<size_t>(H.FileBlocks) * H.BlockSize, '\0');
  for (size_t L = 0; L < Levels.size(); ++L) {
    for (size_t I = 0; I < Levels[L].size(); ++I) {
      const TBlock& B = Levels[L][I];
      int No = Numbers[L][I];
      uint8_t* P = reinterpret_cast<uint8_t*>(Out.data()) + H.HeaderSize +
                   static_cast<size_t>(No - 1) * H.BlockSize;
      StoreLE<uint16_t>(P, static_cast<uint16_t>(No < H.FileBlocks ? No + 1 : 0));
      StoreLE<uint16_t>(P + 2, static_cast<uint16_t>(No - 1));
      StoreLE<int16_t>(P + 4, static_cast<int16_t>((B.size() - 1) * H.RecordSize));
      uint8_t* R = P + kPxBlockHeaderSize;
      for (const TParadoxIndexEntry& E : B) {
        std::memcpy(R, E.Key.data(), std::min(E.Key.size(), static_cast<size_t>(KeyWidth)));
        PutShortBE(R + KeyWidth, E.Block);
        PutShortBE(R + KeyWidth + 2, E.Count);
        PutShortBE(R + KeyWidth + 4, 0);
        R += H.RecordSize;
      }
      if (H.Encryption != 0)
        EncryptParadoxBlock(P, static_cast<size_t>(H.BlockSize), H.Encryption,
                            static_cast<uint32_t>(No));
    }
  }
  return Out;
}

TParadoxIndexImage ReadParadoxIndex(const std::string& Path,
                                    const std::vector<TParadoxFieldDesc>& KeyFields) {
  return ParseParadoxIndex(ReadWholeFile(Path), Path, KeyFields);
}

TParadoxIndexImage ParseParadoxIndex(const std::string& Bytes, const std::string& Path,
                                     const std::vector<TParadoxFieldDesc>& KeyFields) {
  const uint8_t* D = reinterpret_cast<const uint8_t*>(Bytes.data());
  TParadoxIndexImage Img;
  Img.Header = ParseParadoxHeader(D, Bytes.size(), Path);
  const TParadoxHeader& H = Img.Header;
  auto Bad = [&](const std::string& What) {
    throw EParadoxError("Index \"" + Path + "\" is damaged: " + What + ".");
  };
  auto Name = [](int Block) { return "block " + std::to_string(Block); };
  if (H.FileType != pxtPrimaryIndex) Bad("not a primary index file");
  if (H.Fields.size() != KeyFields.size()) Bad("its key does not match the table");
  for (size_t I = 0; I < KeyFields.size(); ++I)
    if (H.Fields[I].Kind != KeyFields[I].Kind || H.Fields[I].Width != KeyFields[I].Width)
      Bad("its key does not match the table");
  const int KeyWidth = H.RecordSize - 6;
  Img.Levels = H.IndexLevels;
  if (H.FileBlocks == 0 || H.IndexLevels == 0) {
    if (H.NumRecords != 0)
      Bad("the header counts " + std::to_string(H.NumRecords) + " entries but no index blocks");
    return Img;
  }
  if (H.IndexLevels > 8) Bad("too many levels");
  const uint64_t BlocksInFile =
      (Bytes.size() - H.HeaderSize + H.BlockSize - 1) / static_cast<uint64_t>(H.BlockSize);

  // Every block of the file lies on one chain, from the header's first block to its last, and
  // the header counts the entries of the whole chain: other readers read the index as a table
  // along it. Each block is decoded once, here; the tree walk below uses what the chain found.
  struct TBlock {
    std::vector<TParadoxIndexEntry> Entries;
    bool Reached = false;  // by the walk from the root
  };
  std::vector<std::unique_ptr<TBlock>> Blocks(BlocksInFile + 1);
  std::string Plain;
  int Prev = 0;
  uint64_t ChainBlocks = 0, ChainEntries = 0;
  for (int Block = H.FirstBlock; Block != 0;) {
    if (Block < 1 || static_cast<uint64_t>(Block) > BlocksInFile)
      Bad(Name(Block) + " lies outside the file");
    if (Blocks[Block]) Bad("its block chain runs in a circle at " + Name(Block));
    uint64_t Start =
        static_cast<uint64_t>(H.HeaderSize) + static_cast<uint64_t>(Block - 1) * H.BlockSize;
    if (Start + kPxBlockHeaderSize > Bytes.size()) Bad(Name(Block) + " is cut off");
    // Only the used part of a last block need be present; an encrypted block in whole pieces.
    uint64_t Present = std::min<uint64_t>(H.BlockSize, Bytes.size() - Start);
    const uint8_t* B = D + Start;
    if (H.Encryption != 0) {
      Present -= Present % kPxCryptPiece;
      if (Present < kPxBlockHeaderSize) Bad(Name(Block) + " is cut off");
      Plain.assign(Bytes, Start, Present);
      DecryptParadoxBlock(reinterpret_cast<uint8_t*>(Plain.data()), Plain.size(), H.Encryption,
                          static_cast<uint32_t>(Block));
      B = reinterpret_cast<const uint8_t*>(Plain.data());
    }
    const int Next = LoadLE<uint16_t>(B), Back = LoadLE<uint16_t>(B + 2);
    if (Back != Prev)
      Bad(Name(Block) + " names block " + std::to_string(Back) +
          " as the one before it, the chain comes from " +
          (Prev ? Name(Prev) : std::string("the header")));
    int16_t Last = LoadLE<int16_t>(B + 4);
    int Count = Last < 0 ? 0 : Last / H.RecordSize + 1;
    if (Last >= 0 && Last % H.RecordSize != 0) Bad("bad entry count in " + Name(Block));
    uint64_t Used = kPxBlockHeaderSize + static_cast<uint64_t>(Count) * H.RecordSize;
    if (Used > static_cast<uint64_t>(H.BlockSize) || Used > Present)
      Bad(Name(Block) + " is cut off");
    auto& T = Blocks[Block] = std::make_unique<TBlock>();
    T->Entries.reserve(static_cast<size_t>(Count));
    for (int I = 0; I < Count; ++I) {
      const uint8_t* R = B + kPxBlockHeaderSize + static_cast<uint64_t>(I) * H.RecordSize;
      T->Entries.push_back(
          {std::string(reinterpret_cast<const char*>(R), static_cast<size_t>(KeyWidth)),
           DecodeShort(R + KeyWidth), DecodeShort(R + KeyWidth + 2)});
    }
    ++ChainBlocks;
    ChainEntries += static_cast<uint64_t>(Count);
    Prev = Block;
    Block = Next;
  }
  if (Prev != H.LastBlock)
    Bad("its block chain ends at " + Name(Prev) + ", the header names block " +
        std::to_string(H.LastBlock) + " as the last");
  if (ChainBlocks != H.FileBlocks)
    Bad(std::to_string(ChainBlocks) + " blocks lie on its chain, the header counts " +
        std::to_string(H.FileBlocks));
  if (ChainEntries != H.NumRecords)
    Bad(std::to_string(ChainEntries) + " entries lie on its chain, the header counts " +
        std::to_string(H.NumRecords));

  // The tree from the root: each block of the chain once, levels as the header counts them.
  std::vector<std::pair<int, int>> Stack{{H.IndexRoot, H.IndexLevels}};  // block, level
  std::vector<int> Order;  // leaf blocks, in key order
  while (!Stack.empty()) {
    auto [Block, Level] = Stack.back();
    Stack.pop_back();
    if (Block < 1 || static_cast<uint64_t>(Block) > BlocksInFile)
      Bad(Name(Block) + " lies outside the file");
    TBlock* T = Blocks[Block].get();
    if (!T) Bad(Name(Block) + " of the tree is not on the block chain");
    if (T->Reached) Bad(Name(Block) + " is reached twice");
    T->Reached = true;
    Img.EntriesTotal += static_cast<int>(T->Entries.size());
    if (Level == 1) {
      Order.push_back(Block);
      continue;
    }
    for (size_t I = T->Entries.size(); I-- > 0;) Stack.push_back({T->Entries[I].Block, Level - 1});
  }
  for (uint64_t B = 1; B <= BlocksInFile; ++B)
    if (Blocks[B] && !Blocks[B]->Reached)
      Bad(Name(static_cast<int>(B)) + " is on the block chain but not in the tree");
  for (int B : Order)
    for (TParadoxIndexEntry& E : Blocks[B]->Entries) Img.Leaves.push_back(std::move(E));
  return Img;
}

std::string CheckParadoxIndexAgainstData(const TParadoxIndexImage& Index,
                                         const TParadoxFileImage& Data) {
  std::vector<const TParadoxBlockRef*> Used;
  for (const TParadoxBlockRef& B : Data.Blocks)
    if (B.Count > 0) Used.push_back(&B);
  if (Used.size() != Index.Leaves.size())
    return "its leaves name " + std::to_string(Index.Leaves.size()) +
           " data blocks, the table has " + std::to_string(Used.size());
  for (size_t I = 0; I < Used.size(); ++I) {
    const TParadoxIndexEntry& E = Index.Leaves[I];
    const TParadoxBlockRef& B = *Used[I];
    const std::string Place = "leaf entry " + std::to_string(I + 1);
    if (E.Block != B.Block)
      return Place + " names data block " + std::to_string(E.Block) +
             ", the table's chain has block " + std::to_string(B.Block) + " there";
    if (E.Count != B.Count)
      return Place + " counts " + std::to_string(E.Count) + " records, data block " +
             std::to_string(B.Block) + " holds " + std::to_string(B.Count);
    if (Data.Records[B.FirstRecord].compare(0, E.Key.size(), E.Key) != 0)
      return Place + " does not hold the first key of data block " + std::to_string(B.Block);
  }
  return {};
}

}  // namespace vlt::app
