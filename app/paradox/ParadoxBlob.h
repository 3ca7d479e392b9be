// The BLOB file (.mb) beside a table with memo or BLOB fields. Read only: values are found
// through the 10-byte pointer at the end of the field in the record.
//
// A pointer's offset names a block of the .mb file (offset & ~0xFF) and a slot (offset & 0xFF).
// Slot 0xFF: the block holds one value.
//   OFFSET SIZE CONTENT
//   0      1    block type 2
//   1      2    number of 4 KiB blocks
//   3      4    value length
//   7      2    modification number
//   9      ...  the value
// Other slots: the block (type 3) is shared by small values; its slot table starts at 12, 5
// bytes per slot:
//   OFFSET SIZE CONTENT
//   0      1    start of the value in 16-byte units from the block start
//   1      1    length in 16-byte units, rounded up
//   2      2    modification number
//   4      1    length modulo 16
// The BLOB file of an encrypted table may be scrambled like its table (ParadoxCrypt.h); a value
// whose block does not read as one in the file as stored is looked for in the decrypted file.
#pragma once

#include <cstdint>
#include <string>

namespace vlt::app {

class TParadoxBlobFile {
 public:
  // Reads the whole file; raises EParadoxError when it cannot be read.
  // Key: the table's password checksum (0 = not encrypted).
  explicit TParadoxBlobFile(const std::string& Path, uint32_t Key = 0);
  // The same over bytes in memory (Name is used in messages).
  static TParadoxBlobFile FromBytes(std::string Bytes, const std::string& Name, uint32_t Key = 0);

  // The value of a pointer; raises EParadoxError naming the field when the pointer leads
  // outside the file or to a block of the wrong kind.
  std::string Read(uint32_t Offset, uint32_t Length, const std::string& FieldName) const;

 private:
  TParadoxBlobFile() = default;
  void Decrypt(uint32_t Key);
  std::string ReadFrom(const std::string& Data, uint32_t Offset, uint32_t Length,
                       const std::string& FieldName) const;

  std::string FPath;
  std::string FData;
  std::string FDecrypted;  // empty when not encrypted
};

}  // namespace vlt::app
