#include "app/ParadoxIndexFile.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "app/ParadoxCrypt.h"
#include "app/ParadoxError.h"
#include "app/ParadoxFile.h"
#include "engine/core/VLTTypes.h"

namespace vlt::app {

namespace {

uint16_t EncodeShort(int V) { return static_cast<uint16_t>(static_cast<uint16_t>(V) ^ 0x8000u); }
// Block numbers and counts are read as unsigned: a table may have up to 65535 blocks.
int DecodeShort(const uint8_t* P) { return static_cast<uint16_t>(((P[0] << 8) | P[1]) ^ 0x8000); }
void PutShortBE(uint8_t* P, int V) {
  uint16_t E = EncodeShort(V);
  P[0] = static_cast<uint8_t>(E >> 8);
  P[1] = static_cast<uint8_t>(E);
}

}  // namespace

std::string BuildParadoxIndex(const TParadoxHeader& Data, const std::vector<TParadoxIndexEntry>& Leaves) {
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
  const size_t PerBlock = (static_cast<size_t>(H.BlockSize) - kPxBlockHeaderSize) / static_cast<size_t>(H.RecordSize);
  if (PerBlock < 2) throw EParadoxError("Table \"" + Data.TableName + "\": the primary key is too long for its index.");

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
  // Number the blocks top-down: the root is block 1.
  std::vector<std::vector<int>> Numbers(Levels.size());
  int Next = 1;
  for (size_t L = Levels.size(); L-- > 0;)
    for (size_t I = 0; I < Levels[L].size(); ++I) Numbers[L].push_back(Next++);
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
      uint8_t* P = reinterpret_cast<uint8_t*>(Out.data()) + H.HeaderSize + static_cast<size_t>(No - 1) * H.BlockSize;
      StoreLE<uint16_t>(P, static_cast<uint16_t>(I + 1 < Levels[L].size() ? Numbers[L][I + 1] : 0));
      StoreLE<uint16_t>(P + 2, static_cast<uint16_t>(I > 0 ? Numbers[L][I - 1] : 0));
      StoreLE<int16_t>(P + 4, static_cast<int16_t>((B.size() - 1) * H.RecordSize));
      uint8_t* R = P + kPxBlockHeaderSize;
      for (const TParadoxIndexEntry& E : B) {
        std::memcpy(R, E.Key.data(), std::min(E.Key.size(), static_cast<size_t>(KeyWidth)));
        PutShortBE(R + KeyWidth, E.Block);
        PutShortBE(R + KeyWidth + 2, E.Count);
        PutShortBE(R + KeyWidth + 4, 0);
        R += H.RecordSize;
      }
      if (H.Encryption != 0) EncryptParadoxBlock(P, static_cast<size_t>(H.BlockSize), H.Encryption, static_cast<uint32_t>(No));
    }
  }
  return Out;
}

TParadoxIndexImage ReadParadoxIndex(const std::string& Path, const std::vector<TParadoxFieldDesc>& KeyFields) {
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
  if (H.FileType != pxtPrimaryIndex) Bad("not a primary index file");
  if (H.Fields.size() != KeyFields.size()) Bad("its key does not match the table");
  for (size_t I = 0; I < KeyFields.size(); ++I)
    if (H.Fields[I].Kind != KeyFields[I].Kind || H.Fields[I].Width != KeyFields[I].Width) Bad("its key does not match the table");
  const int KeyWidth = H.RecordSize - 6;
  Img.Levels = H.IndexLevels;
  if (H.FileBlocks == 0 || H.IndexLevels == 0) return Img;
  if (H.IndexLevels > 8) Bad("too many levels");
  const uint64_t BlocksInFile = (Bytes.size() - H.HeaderSize + H.BlockSize - 1) / static_cast<uint64_t>(H.BlockSize);
  std::vector<bool> Seen(BlocksInFile + 1, false);
  std::function<void(int, int)> Visit = [&](int Block, int Level) {
    if (Block < 1 || static_cast<uint64_t>(Block) > BlocksInFile)
      Bad("block " + std::to_string(Block) + " lies outside the file");
    if (Seen[Block]) Bad("block " + std::to_string(Block) + " is reached twice");
    Seen[Block] = true;
    uint64_t Start = static_cast<uint64_t>(H.HeaderSize) + static_cast<uint64_t>(Block - 1) * H.BlockSize;
    if (Start + kPxBlockHeaderSize > Bytes.size())
      Bad("block " + std::to_string(Block) + " is cut off");
    // Only the used part of a last block need be present; an encrypted block in whole pieces.
    uint64_t Present = std::min<uint64_t>(H.BlockSize, Bytes.size() - Start);
    const uint8_t* B = D + Start;
    std::string Plain;
    if (H.Encryption != 0) {
      Present -= Present % kPxCryptPiece;
      if (Present < kPxBlockHeaderSize) Bad("block " + std::to_string(Block) + " is cut off");
      Plain.assign(Bytes, Start, Present);
      DecryptParadoxBlock(reinterpret_cast<uint8_t*>(Plain.data()), Plain.size(), H.Encryption, static_cast<uint32_t>(Block));
      B = reinterpret_cast<const uint8_t*>(Plain.data());
    }
    int16_t Last = LoadLE<int16_t>(B + 4);
    int Count = Last < 0 ? 0 : Last / H.RecordSize + 1;
    if (Last >= 0 && Last % H.RecordSize != 0) Bad("bad entry count");
    uint64_t Used = kPxBlockHeaderSize + static_cast<uint64_t>(Count) * H.RecordSize;
    if (Used > static_cast<uint64_t>(H.BlockSize) || Used > Present)
      Bad("block " + std::to_string(Block) + " is cut off");
    for (int I = 0; I < Count; ++I) {
      const uint8_t* R = B + kPxBlockHeaderSize + static_cast<uint64_t>(I) * H.RecordSize;
      TParadoxIndexEntry E{
          std::string(reinterpret_cast<const char*>(R), static_cast<size_t>(KeyWidth)),
          DecodeShort(R + KeyWidth), DecodeShort(R + KeyWidth + 2)};
      ++Img.EntriesTotal;
      if (Level > 1)
        Visit(E.Block, Level - 1);
      else
        Img.Leaves.push_back(std::move(E));
    }
  };
  Visit(H.IndexRoot, H.IndexLevels);
  return Img;
}

}  // namespace vlt::app
