#include "app/paradox/ParadoxHeader.h"

#include <cstring>

#include "app/paradox/ParadoxError.h"
#include "engine/base/VLTTypes.h"

namespace vlt::app {

namespace {

[[noreturn]] void Bad(const std::string& FileName, const std::string& What) {
  throw EParadoxError("\"" + FileName + "\" is not a valid Paradox table: " + What + ".");
}

size_t TableNameLength(uint8_t Version) {
  return Version >= 12 ? 261 : 79;
}

bool ValidBlockKiB(int K) {
  return (K >= 1 && K <= 4) || K == 8 || K == 16 || K == 32;
}

// Whether N field numbers (1 to 255) start at Pos, followed by a printable NUL-terminated name.
bool LooksLikeFieldNumbers(const uint8_t* D, size_t Pos, size_t N, size_t Avail) {
  if (Pos + 2 * N >= Avail) return false;
  for (size_t I = 0; I < N; ++I) {
    uint16_t V = LoadLE<uint16_t>(D + Pos + 2 * I);
    if (V < 1 || V > 255) return false;
  }
  for (size_t P = Pos + 2 * N; P < Avail; ++P) {
    if (D[P] == 0) return P > Pos + 2 * N;
    if (D[P] < 0x20 || D[P] >= 0x7F) return false;
  }
  return false;
}

}  // namespace

std::string TParadoxHeader::VersionText() const {
  if (Version == 3) return "3.0";
  if (Version == 4) return "3.5";
  if (Version >= 5 && Version <= 9) return "4.x";
  if (Version == 10 || Version == 11) return "5.x";
  if (Version == 12) return "7.x";
  return "unknown";
}

int LayoutFields(std::vector<TParadoxFieldDesc>& Fields) {
  int Offset = 0;
  for (TParadoxFieldDesc& F : Fields) {
    F.Width = StoredFieldSize(F.Kind, F.DescSize);
    F.Offset = Offset;
    Offset += F.Width;
  }
  return Offset;
}

TParadoxHeader ParseParadoxHeader(const uint8_t* D, size_t Size, const std::string& FileName) {
  if (Size < kPxCommonHeaderSize) Bad(FileName, "the file is too short for a header");
  TParadoxHeader H;
  H.RecordSize = LoadLE<uint16_t>(D + 0x00);
  H.HeaderSize = LoadLE<uint16_t>(D + 0x02);
  H.FileType = D[0x04];
  int BlockKiB = D[0x05];
  H.NumRecords = LoadLE<uint32_t>(D + 0x06);
  H.FileBlocks = LoadLE<uint16_t>(D + 0x0C);
  H.FirstBlock = LoadLE<uint16_t>(D + 0x0E);
  H.LastBlock = LoadLE<uint16_t>(D + 0x10);
  H.IndexRoot = LoadLE<uint16_t>(D + 0x1E);
  H.IndexLevels = D[0x20];
  int NumFields = LoadLE<int16_t>(D + 0x21);
  H.KeyFields = LoadLE<int16_t>(D + 0x23);
  H.SortOrder = D[0x29];
  H.Version = D[0x39];
  H.AutoInc = LoadLE<uint32_t>(D + 0x49);
  H.AuxPasswords = D[0x3D];

  if (H.FileType > 8) Bad(FileName, "unknown file type " + std::to_string(H.FileType));
  if (H.Version < 3 || H.Version > 12)
    Bad(FileName, "unknown file version " + std::to_string(H.Version));
  if (!ValidBlockKiB(BlockKiB)) Bad(FileName, "unknown block size");
  H.BlockSize = BlockKiB * 1024;
  if (H.RecordSize == 0) Bad(FileName, "record size 0");
  if (NumFields < 1 || NumFields > 255) Bad(FileName, "field count " + std::to_string(NumFields));
  if (H.KeyFields < 0 || H.KeyFields > NumFields)
    Bad(FileName, "key field count " + std::to_string(H.KeyFields));
  if (H.FileType != pxtKeyedDB && H.IsDataFile()) H.KeyFields = 0;

  const bool Data = H.IsDataFile();
  const size_t DescStart = (Data && H.Version >= 5) ? kPxDataHeaderEnd : kPxCommonHeaderSize;
  if (static_cast<size_t>(H.HeaderSize) < DescStart) Bad(FileName, "header size too small");
  if (static_cast<size_t>(H.HeaderSize) > Size)
    Bad(FileName, "the file is shorter than its header");
  const size_t Avail = static_cast<size_t>(H.HeaderSize);

  uint32_t E1 = LoadLE<uint32_t>(D + 0x25);
  H.Encryption = E1;
  if (Data && H.Version >= 5) {
    H.CodePage = LoadLE<uint16_t>(D + 0x6A);
    if (E1 == kPxEncryptionMoved) H.Encryption = LoadLE<uint32_t>(D + 0x5C);
  } else if (E1 == kPxEncryptionMoved) {
    H.Encryption = 0;
  }

  size_t Pos = DescStart;
  if (Pos + 2 * static_cast<size_t>(NumFields) > Avail)
    Bad(FileName, "the field descriptors are cut off");
  H.Fields.resize(static_cast<size_t>(NumFields));
  for (int I = 0; I < NumFields; ++I) {
    H.Fields[I].Kind = static_cast<TParadoxFieldKind>(D[Pos]);
    H.Fields[I].DescSize = D[Pos + 1];
    Pos += 2;
  }
  Pos += 4;  // table name pointer
  if (Data) Pos += 4 * static_cast<size_t>(NumFields);
  size_t NameLen = TableNameLength(H.Version);
  if (Pos + NameLen <= Avail) {
    const char* P = reinterpret_cast<const char*>(D + Pos);
    H.TableName.assign(P, strnlen(P, NameLen));
  } else if (Data) {
    Bad(FileName, "the table name is cut off");
  }
  Pos += NameLen;
  if (Data) {
    for (int I = 0; I < NumFields; ++I) {
      if (Pos >= Avail) Bad(FileName, "the field names are cut off");
      const char* P = reinterpret_cast<const char*>(D + Pos);
      size_t L = strnlen(P, Avail - Pos);
      if (Pos + L >= Avail) Bad(FileName, "the field names are cut off");
      H.Fields[I].Name.assign(P, L);
      Pos += L + 1;
    }
    // An encrypted table may keep password information before the field numbers. Its size is
    // not stored: take the first of the known sizes after which field numbers and a sort
    // order name follow.
    size_t Info = 0;
    if (H.Encryption != 0) {
      const size_t N = static_cast<size_t>(NumFields);
      for (size_t L : {size_t{0}, N, size_t{256}})
        if (LooksLikeFieldNumbers(D, Pos + L, N, Avail)) {
          Info = L;
          break;
        }
      H.CryptInfo.assign(reinterpret_cast<const char*>(D + Pos), std::min(Info, Avail - Pos));
    }
    Pos += Info + 2 * static_cast<size_t>(NumFields);  // field numbers
    if (Pos < Avail) {
      const char* P = reinterpret_cast<const char*>(D + Pos);
      H.SortOrderName.assign(P, strnlen(P, Avail - Pos));
    }
  }
  // Now that the fields have names, check their types and sizes.
  for (int I = 0; I < NumFields; ++I) {
    TParadoxFieldDesc& F = H.Fields[I];
    std::string Which =
        F.Name.empty() ? "field " + std::to_string(I + 1) : "field \"" + F.Name + "\"";
    if (!IsKnownFieldKind(F.Kind))
      throw EParadoxError("Table \"" + FileName + "\": " + Which +
                          " has a type this reader does not know (0x" +
                          [&] {
                            char B[8];
                            std::snprintf(B, sizeof B, "%02X", static_cast<unsigned>(F.Kind));
                            return std::string(B);
                          }() +
                          ").");
    bool SizeOk = true;
    switch (F.Kind) {
      case pxfAlpha:
      case pxfBytes:
        SizeOk = F.DescSize >= 1;
        break;
      case pxfMemo:
      case pxfBlob:
      case pxfFmtMemo:
      case pxfOLE:
      case pxfGraphic:
        SizeOk = F.DescSize >= 10;
        break;
      case pxfBCD:
        SizeOk = F.DescSize <= 32;
        break;
      default:
        break;
    }
    if (!SizeOk) Bad(FileName, Which + " has an impossible size " + std::to_string(F.DescSize));
  }
  int RecordSize = LayoutFields(H.Fields);
  // A .px record holds the key and three more short values.
  int Expected = Data ? RecordSize : RecordSize + 6;
  if (Expected != H.RecordSize) Bad(FileName, "the record size does not match the fields");
  if (H.RecordSize + static_cast<int>(kPxBlockHeaderSize) > H.BlockSize)
    Bad(FileName, "records larger than a block");
  return H;
}

std::string BuildParadoxHeader(TParadoxHeader& H) {
  const bool Data = H.IsDataFile();
  if (H.Version < 5) H.Version = 0x0B;
  const size_t N = H.Fields.size();
  const size_t DescStart = Data ? kPxDataHeaderEnd : kPxCommonHeaderSize;
  const size_t NameLen = TableNameLength(H.Version);
  std::string SortName = H.SortOrderName.empty() ? std::string("ascii") : H.SortOrderName;
  size_t NamesLen = 0;
  for (const TParadoxFieldDesc& F : H.Fields) NamesLen += F.Name.size() + 1;
  size_t Needed = DescStart + 2 * N + 4 + NameLen;
  const std::string CryptInfo = (Data && H.Encryption != 0) ? H.CryptInfo : std::string();
  if (Data) Needed += 4 * N + NamesLen + CryptInfo.size() + 2 * N + SortName.size() + 1;
  if (static_cast<size_t>(H.HeaderSize) < Needed)
    H.HeaderSize = static_cast<int>((Needed + 2047) / 2048 * 2048);
  std::string Out(static_cast<size_t>(H.HeaderSize), '\0');
  uint8_t* D = reinterpret_cast<uint8_t*>(Out.data());

  StoreLE<uint16_t>(D + 0x00, static_cast<uint16_t>(H.RecordSize));
  StoreLE<uint16_t>(D + 0x02, static_cast<uint16_t>(H.HeaderSize));
  D[0x04] = H.FileType;
  D[0x05] = static_cast<uint8_t>(H.BlockSize / 1024);
  StoreLE<uint32_t>(D + 0x06, H.NumRecords);
  StoreLE<uint16_t>(D + 0x0A, H.FileBlocks);
  StoreLE<uint16_t>(D + 0x0C, H.FileBlocks);
  StoreLE<uint16_t>(D + 0x0E, H.FirstBlock);
  StoreLE<uint16_t>(D + 0x10, H.LastBlock);
  StoreLE<uint16_t>(D + 0x12, Data ? 12 : 17);
  StoreLE<uint16_t>(D + 0x1E, H.IndexRoot);
  D[0x20] = H.IndexLevels;
  StoreLE<int16_t>(D + 0x21, static_cast<int16_t>(N));
  StoreLE<int16_t>(D + 0x23, static_cast<int16_t>(Data ? H.KeyFields : 0));
  // Data files keep the checksum at 0x5C, index files at 0x25.
  StoreLE<uint32_t>(D + 0x25, Data ? kPxEncryptionMoved : H.Encryption);
  D[0x29] = H.SortOrder;
  if (Data) {
    D[0x2D] = 2;
    D[0x2E] = 1;
  } else {
    D[0x2C] = 102;
  }
  D[0x39] = H.Version;
  StoreLE<uint16_t>(D + 0x3A, H.FileBlocks);
  if (Data) {
    if (H.Encryption != 0) D[0x3D] = H.AuxPasswords;
    D[0x3E] = 0x1F;
    D[0x3F] = 0x0F;
    D[0x56] = 0x20;
  }
  StoreLE<uint32_t>(D + 0x49, H.AutoInc);
  StoreLE<uint16_t>(D + 0x51, static_cast<uint16_t>(Needed));
  if (Data) {
    StoreLE<uint16_t>(D + 0x58, static_cast<uint16_t>(0x0100 | H.Version));
    StoreLE<uint16_t>(D + 0x5A, static_cast<uint16_t>(0x0100 | H.Version));
    StoreLE<uint32_t>(D + 0x5C, H.Encryption);
    StoreLE<uint16_t>(D + 0x64, static_cast<uint16_t>(N + 1));
    StoreLE<uint16_t>(D + 0x68, static_cast<uint16_t>(N));
    StoreLE<uint16_t>(D + 0x6A, static_cast<uint16_t>(H.CodePage));
    D[0x6C] = 1;
    D[0x6D] = 1;
  }
  size_t Pos = DescStart;
  for (const TParadoxFieldDesc& F : H.Fields) {
    D[Pos++] = F.Kind;
    D[Pos++] = static_cast<uint8_t>(F.DescSize);
  }
  Pos += 4;
  if (Data) Pos += 4 * N;
  std::memcpy(D + Pos, H.TableName.data(), std::min(H.TableName.size(), NameLen - 1));
  Pos += NameLen;
  if (Data) {
    for (const TParadoxFieldDesc& F : H.Fields) {
      std::memcpy(D + Pos, F.Name.data(), F.Name.size());
      Pos += F.Name.size() + 1;
    }
    std::memcpy(D + Pos, CryptInfo.data(), CryptInfo.size());
    Pos += CryptInfo.size();
    for (size_t I = 0; I < N; ++I, Pos += 2)
      StoreLE<uint16_t>(D + Pos, static_cast<uint16_t>(I + 1));
    std::memcpy(D + Pos, SortName.data(), SortName.size());
  }
  return Out;
}

}  // namespace vlt::app
