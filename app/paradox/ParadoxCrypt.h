// The block scrambling of password-protected Paradox tables (versions 3.5 to 7).
//
// A protected table stores a 32-bit password checksum in its header (data files of 4.0 and
// later at 0x5C, with 0xFF00FF00 at 0x25; older data files and index files at 0x25). Every
// block after the header, its 6-byte block header included, is scrambled in pieces of 256
// bytes. Inside a piece the bytes are moved by a fixed permutation that is rotated by the
// block number, and each byte is masked with three table values chosen by its position, by the
// two low bytes of the checksum and by the piece's place in the block. The password itself is
// not needed to read such a table: the checksum in the header is the whole key.
//
// BLOB files (.mb) of a protected table use the same pieces with a rotation and a mask that
// depend on the checksum only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vlt::app {

constexpr size_t kPxCryptPiece = 256;

// Block Number (counted from 1, as in the block chain) of a data or index file. Size must be a
// multiple of kPxCryptPiece.
void DecryptParadoxBlock(uint8_t* Block, size_t Size, uint32_t Key, uint32_t Number);
void EncryptParadoxBlock(uint8_t* Block, size_t Size, uint32_t Key, uint32_t Number);

// Every whole piece of a BLOB file image; a piece cut off at the end stays as it is.
void DecryptParadoxBlobData(uint8_t* Data, size_t Size, uint32_t Key);
void EncryptParadoxBlobData(uint8_t* Data, size_t Size, uint32_t Key);

}  // namespace vlt::app
