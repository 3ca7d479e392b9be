#include "app/paradox/ParadoxDump.h"

#include <cstdio>
#include <memory>

#include "app/paradox/ParadoxBlob.h"
#include "app/paradox/ParadoxError.h"
#include "app/paradox/ParadoxFile.h"
#include "app/paradox/ParadoxIndexFile.h"
#include "app/paradox/ParadoxSortOrder.h"
#include "app/paradox/ParadoxValue.h"

namespace vlt::app {

std::string CsvCell(const std::string& S) {
  if (S.find_first_of(",\"\r\n") == std::string::npos) return S;
  std::string Out = "\"";
  for (char C : S) {
    if (C == '"') Out += '"';
    Out += C;
  }
  Out += '"';
  return Out;
}

std::string DumpText(const TParadoxValue& V) {
  if (V.Kind != TParadoxValue::vkBytes) return ValueToText(V);
  static const char kDigits[] = "0123456789ABCDEF";
  std::string Hex;
  Hex.reserve(V.Str.size() * 2);
  for (unsigned char C : V.Str) {
    Hex += kDigits[C >> 4];
    Hex += kDigits[C & 15];
  }
  return Hex;
}

void WriteParadoxInfo(const std::string& Path, std::ostream& Out) {
  TParadoxFileImage Img = ReadParadoxFile(Path);
  const TParadoxHeader& H = Img.Header;
  TParadoxCodePage CP(H.CodePage);
  Out << "file: " << Path << "\n";
  if (H.Encryption != 0) {
    char Key[16];
    std::snprintf(Key, sizeof Key, "%08X", H.Encryption);
    Out << "encrypted: yes (password checksum 0x" << Key << ")\n";
  }
  Out << "version: " << H.VersionText() << " (0x" << std::hex << static_cast<int>(H.Version)
      << std::dec << ")\n";
  Out << "table type: " << (H.FileType == pxtKeyedDB ? "keyed" : "unkeyed") << "\n";
  Out << "table name: " << CP.ToUtf8(H.TableName) << "\n";
  Out << "code page: " << (H.CodePage ? std::to_string(H.CodePage) : std::string("none")) << "\n";
  const TParadoxCollation Order = CollationOf(H.SortOrder, H.SortOrderName);
  Out << "sort order: " << static_cast<int>(H.SortOrder)
      << (H.SortOrderName.empty() ? "" : " (" + H.SortOrderName + ")") << ": "
      << (Order == TParadoxCollation::Unknown ? "unknown (readable; keys cannot be written)"
                                              : CollationText(Order))
      << "\n";
  Out << "block size: " << H.BlockSize << "\n";
  Out << "header size: " << H.HeaderSize << "\n";
  Out << "record size: " << H.RecordSize << "\n";
  Out << "file blocks: " << H.FileBlocks << "\n";
  Out << "auto increment: " << H.AutoInc << "\n";
  Out << "records: " << Img.Records.size() << "\n";
  Out << "fields: " << H.Fields.size() << "\n";
  for (size_t I = 0; I < H.Fields.size(); ++I) {
    const TParadoxFieldDesc& F = H.Fields[I];
    Out << "  " << (I + 1) << ": " << CP.ToUtf8(F.Name) << " " << FieldKindLetter(F.Kind);
    if (F.Kind == pxfAlpha || F.Kind == pxfBytes || F.Kind == pxfBCD) Out << F.DescSize;
    Out << " (" << FieldTypeName(FieldTypeOfKind(F.Kind)) << ")";
    if (static_cast<int>(I) < H.KeyFields) Out << " *key";
    Out << "\n";
  }
  Out << "key fields: " << H.KeyFields << "\n";
  for (const std::string& X : FindSecondaryIndexFiles(Path))
    Out << "secondary index file: " << X << "\n";
  std::string Px = FindSiblingFile(Path, ".px");
  if (Px.empty()) {
    Out << "primary index: none\n";
    return;
  }
  try {
    std::vector<TParadoxFieldDesc> Keys(H.Fields.begin(), H.Fields.begin() + H.KeyFields);
    TParadoxIndexImage Ix = ReadParadoxIndex(Px, Keys);
    int Covered = 0;
    for (const TParadoxIndexEntry& E : Ix.Leaves) Covered += E.Count;
    Out << "primary index: " << Px << ", " << Ix.Levels << " level(s), " << Ix.Leaves.size()
        << " leaf entries covering " << Covered << " records\n";
  } catch (const EParadoxError& E) {
    Out << "primary index: " << Px << ": " << E.what() << "\n";
  }
}

void WriteParadoxCsv(const std::string& Path, std::ostream& Out) {
  TParadoxFileImage Img = ReadParadoxFile(Path);
  const TParadoxHeader& H = Img.Header;
  TParadoxCodePage CP(H.CodePage);
  std::unique_ptr<TParadoxBlobFile> Blobs;
  std::string Mb = FindSiblingFile(Path, ".mb");
  if (!Mb.empty()) {
    try {
      Blobs = std::make_unique<TParadoxBlobFile>(Mb, H.Encryption);
    } catch (const EParadoxError&) {
    }
  }
  for (size_t I = 0; I < H.Fields.size(); ++I)
    Out << (I ? "," : "") << CsvCell(CP.ToUtf8(H.Fields[I].Name));
  Out << "\n";
  for (const std::string& R : Img.Records) {
    for (size_t I = 0; I < H.Fields.size(); ++I) {
      std::string Text;
      try {
        Text = DumpText(DecodeField(H.Fields[I], reinterpret_cast<const uint8_t*>(R.data()), CP,
                                    TTextForm::Utf8, Blobs.get(), Path));
      } catch (const EParadoxError&) {
        Text = "<blob not read>";
      }
      Out << (I ? "," : "") << CsvCell(Text);
    }
    Out << "\n";
  }
}

}  // namespace vlt::app
