#include "app/paradox/ParadoxFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <utility>
#include <vector>

#include "app/paradox/ParadoxCrypt.h"
#include "app/paradox/ParadoxError.h"
#include "app/paradox/ParadoxIndexFile.h"
#include "engine/base/VLTTypes.h"

namespace vlt::app {

namespace {

void WriteAll(int Fd, const std::string& Bytes, const std::string& Path) {
  size_t Done = 0;
  while (Done < Bytes.size()) {
    ssize_t N = ::write(Fd, Bytes.data() + Done, Bytes.size() - Done);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0)
      throw EParadoxError("Cannot write file \"" + Path + "\": " + std::strerror(errno) + ".");
    Done += static_cast<size_t>(N);
  }
}

std::atomic<TParadoxWriteObserver> WriteObserver{nullptr};

std::string TempNameFor(const std::string& Path) {
  return Path + ".vlt-new";
}

std::mutex BrokenLinksLock;
std::vector<std::string> BrokenLinks;

// Writes Bytes to Temp, a new file that is to replace Like (or stand beside it, when Like is a
// sibling of another name): it takes Like's permissions, owner and group where Like exists, so
// that a table readable by its owner alone stays so. Replacing a file with more than one name
// breaks the link; that is recorded for the run's report.
void WriteTemp(const std::string& Temp, const std::string& Bytes, const std::string& Like) {
  struct stat Orig {};
  const bool HasOrig = !Like.empty() && ::stat(Like.c_str(), &Orig) == 0 && S_ISREG(Orig.st_mode);
  int Fd = ::open(Temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                  HasOrig ? (Orig.st_mode & 0777) : 0644);
  if (Fd < 0)
    throw EParadoxError("Cannot create file \"" + Temp + "\": " + std::strerror(errno) + ".");
  try {
    if (HasOrig) {
      // The owner first: changing it may clear set-id bits, which the mode then restores. A
      // caller that may not give the file away keeps it as its own.
      if (::fchown(Fd, Orig.st_uid, Orig.st_gid) != 0 && errno != EPERM)
        throw EParadoxError("Cannot write file \"" + Temp + "\": " + std::strerror(errno) + ".");
      if (::fchmod(Fd, Orig.st_mode & 07777) != 0)
        throw EParadoxError("Cannot write file \"" + Temp + "\": " + std::strerror(errno) + ".");
    }
    WriteAll(Fd, Bytes, Temp);
    if (::fsync(Fd) != 0)
      throw EParadoxError("Cannot write file \"" + Temp + "\": " + std::strerror(errno) + ".");
  } catch (...) {
    ::close(Fd);
    ::unlink(Temp.c_str());
    throw;
  }
  if (::close(Fd) != 0) {
    ::unlink(Temp.c_str());
    throw EParadoxError("Cannot write file \"" + Temp + "\": " + std::strerror(errno) + ".");
  }
}

// Records that replacing Path breaks its other names.
void NoteReplacing(const std::string& Path) {
  struct stat St {};
  if (::stat(Path.c_str(), &St) == 0 && S_ISREG(St.st_mode) && St.st_nlink > 1) {
    std::lock_guard<std::mutex> G(BrokenLinksLock);
    BrokenLinks.push_back(Path);
  }
}

// Whether Path is a file holding exactly Bytes (read only when the sizes agree).
bool FileHolds(const std::string& Path, const std::string& Bytes) {
  struct stat St;
  if (::stat(Path.c_str(), &St) != 0 || !S_ISREG(St.st_mode) ||
      static_cast<uint64_t>(St.st_size) != Bytes.size())
    return false;
  try {
    return ReadWholeFile(Path) == Bytes;
  } catch (const EParadoxError&) {
    return false;
  }
}

void RenameInto(const std::string& Temp, const std::string& Path) {
  if (::rename(Temp.c_str(), Path.c_str()) != 0) {
    int E = errno;
    ::unlink(Temp.c_str());
    throw EParadoxError("Cannot replace file \"" + Path + "\": " + std::strerror(E) + ".");
  }
}

}  // namespace

std::string ReadWholeFile(const std::string& Path) {
  std::ifstream F(Path, std::ios::binary);
  if (!F) throw EParadoxError("Cannot open table \"" + Path + "\": " + std::strerror(errno) + ".");
  std::stringstream S;
  S << F.rdbuf();
  if (F.bad()) throw EParadoxError("Cannot read table \"" + Path + "\".");
  return S.str();
}

void WriteFileAtomically(const std::string& Path, const std::string& Bytes) {
  std::string Temp = TempNameFor(Path);
  WriteTemp(Temp, Bytes, Path);
  NoteReplacing(Path);
  RenameInto(Temp, Path);
}

std::vector<std::string> TakeBrokenLinks() {
  std::lock_guard<std::mutex> G(BrokenLinksLock);
  return std::exchange(BrokenLinks, {});
}

bool PathIsFile(const std::string& Path) {
  struct stat St;
  return ::stat(Path.c_str(), &St) == 0 && S_ISREG(St.st_mode);
}

std::string FindParadoxFile(const std::string& Dir, const std::string& Name) {
  std::string D = Dir.empty() ? "." : Dir;
  std::string Exact = D + (D.back() == '/' ? "" : "/") + Name;
  if (PathIsFile(Exact)) return Exact;
  DIR* H = ::opendir(D.c_str());
  if (!H) return {};
  std::string Found;
  while (dirent* E = ::readdir(H)) {
    if (SameText(E->d_name, Name)) {
      std::string P = D + (D.back() == '/' ? "" : "/") + E->d_name;
      if (PathIsFile(P)) {
        Found = P;
        break;
      }
    }
  }
  ::closedir(H);
  return Found;
}

std::string SiblingFile(const std::string& Path, const std::string& Ext) {
  size_t Slash = Path.find_last_of('/');
  size_t Dot = Path.find_last_of('.');
  std::string Stem = (Dot == std::string::npos || (Slash != std::string::npos && Dot < Slash))
                         ? Path
                         : Path.substr(0, Dot);
  std::string OldExt = Path.substr(Stem.size());
  bool Upper = OldExt.size() > 1 && std::isupper(static_cast<unsigned char>(OldExt[1]));
  std::string E = Ext;
  for (char& C : E)
    C = static_cast<char>(Upper ? std::toupper(static_cast<unsigned char>(C))
                                : std::tolower(static_cast<unsigned char>(C)));
  return Stem + E;
}

std::string FindSiblingFile(const std::string& Path, const std::string& Ext) {
  std::string S = SiblingFile(Path, Ext);
  size_t Slash = S.find_last_of('/');
  std::string Dir = Slash == std::string::npos ? "." : S.substr(0, Slash);
  std::string Name = Slash == std::string::npos ? S : S.substr(Slash + 1);
  return FindParadoxFile(Dir, Name);
}

TParadoxFileImage ParseParadoxFile(const std::string& Bytes, const std::string& Name) {
  TParadoxFileImage Img;
  const uint8_t* D = reinterpret_cast<const uint8_t*>(Bytes.data());
  Img.Header = ParseParadoxHeader(D, Bytes.size(), Name);
  TParadoxHeader& H = Img.Header;
  if (!H.IsDataFile())
    throw EParadoxError("\"" + Name + "\" is an index file of a Paradox table, not a table.");
  // Walk the chain. Every block number must lie inside the file and be visited once.
  const uint64_t Avail = Bytes.size() - static_cast<uint64_t>(H.HeaderSize);
  const uint64_t BlocksInFile = (Avail + H.BlockSize - 1) / static_cast<uint64_t>(H.BlockSize);
  std::vector<bool> Seen(BlocksInFile + 1, false);
  std::string Plain;  // the block being read, when the table is encrypted
  uint32_t Block = H.FirstBlock;
  if (H.NumRecords == 0 && H.FileBlocks == 0) Block = 0;
  while (Block != 0) {
    if (Block > BlocksInFile)
      throw EParadoxError("Table \"" + Name + "\" is damaged: block " + std::to_string(Block) +
                          " lies outside the file.");
    if (Seen[Block])
      throw EParadoxError("Table \"" + Name + "\" is damaged: its block chain runs in a circle.");
    Seen[Block] = true;
    uint64_t Start = static_cast<uint64_t>(H.HeaderSize) +
                     static_cast<uint64_t>(Block - 1) * static_cast<uint64_t>(H.BlockSize);
    if (Start + kPxBlockHeaderSize > Bytes.size())
      throw EParadoxError("Table \"" + Name + "\" is damaged: block " + std::to_string(Block) +
                          " is cut off.");
    const uint8_t* B = D + Start;
    // Bytes of the block that can be relied on: an encrypted block only in whole pieces.
    uint64_t Present = std::min<uint64_t>(H.BlockSize, Bytes.size() - Start);
    if (H.Encryption != 0) {
      Present -= Present % kPxCryptPiece;
      if (Present < kPxBlockHeaderSize)
        throw EParadoxError("Table \"" + Name + "\" is damaged: block " + std::to_string(Block) +
                            " is cut off.");
      Plain.assign(Bytes, Start, Present);
      DecryptParadoxBlock(reinterpret_cast<uint8_t*>(Plain.data()), Plain.size(), H.Encryption,
                          Block);
      B = reinterpret_cast<const uint8_t*>(Plain.data());
    }
    uint16_t Next = LoadLE<uint16_t>(B);
    int16_t Last = LoadLE<int16_t>(B + 4);
    int Count = 0;
    if (Last >= 0) {
      if (Last % H.RecordSize != 0)
        throw EParadoxError("Table \"" + Name + "\" is damaged: block " + std::to_string(Block) +
                            " has a bad record count.");
      Count = Last / H.RecordSize + 1;
    }
    uint64_t Used =
        kPxBlockHeaderSize + static_cast<uint64_t>(Count) * static_cast<uint64_t>(H.RecordSize);
    if (Used > static_cast<uint64_t>(H.BlockSize))
      throw EParadoxError("Table \"" + Name + "\" is damaged: block " + std::to_string(Block) +
                          " claims more records than it can hold.");
    if (Used > Present)
      throw EParadoxError("Table \"" + Name + "\" is damaged: block " + std::to_string(Block) +
                          " is cut off.");
    Img.Blocks.push_back({static_cast<int>(Block), Img.Records.size(), Count});
    for (int I = 0; I < Count; ++I)
      Img.Records.emplace_back(reinterpret_cast<const char*>(B) + kPxBlockHeaderSize +
                                   static_cast<uint64_t>(I) * H.RecordSize,
                               static_cast<size_t>(H.RecordSize));
    Block = Next;
  }
  return Img;
}

TParadoxHeader ReadParadoxHeader(const std::string& Path) {
  if (!PathIsFile(Path)) throw EParadoxError("Table \"" + Path + "\" does not exist.");
  std::string Bytes = ReadWholeFile(Path);
  return ParseParadoxHeader(reinterpret_cast<const uint8_t*>(Bytes.data()), Bytes.size(), Path);
}

bool IsSecondaryIndexExtension(const std::string& Ext) {
  if (Ext.size() != 4 || Ext[0] != '.') return false;
  const char K = static_cast<char>(std::toupper(static_cast<unsigned char>(Ext[1])));
  if (K != 'X' && K != 'Y') return false;
  const unsigned char A = static_cast<unsigned char>(Ext[2]),
                      B = static_cast<unsigned char>(Ext[3]);
  if (std::toupper(A) == 'G') return std::isalnum(B) != 0;  // composite: .XG0, .YG0 ...
  return std::isxdigit(A) && std::isxdigit(B);              // one field: .X02, .Y0A ...
}

std::vector<std::string> FindSecondaryIndexFiles(const std::string& Path) {
  size_t Slash = Path.find_last_of('/');
  std::string Dir = Slash == std::string::npos ? "." : Path.substr(0, Slash);
  std::string Name = Slash == std::string::npos ? Path : Path.substr(Slash + 1);
  size_t Dot = Name.find_last_of('.');
  std::string Stem = Dot == std::string::npos ? Name : Name.substr(0, Dot);
  std::vector<std::string> Found;
  DIR* H = ::opendir(Dir.empty() ? "/" : Dir.c_str());
  if (!H) return Found;
  while (dirent* E = ::readdir(H)) {
    std::string N = E->d_name;
    if (N.size() != Stem.size() + 4 || !SameText(N.substr(0, Stem.size()), Stem)) continue;
    if (!IsSecondaryIndexExtension(N.substr(Stem.size()))) continue;
    std::string P = Dir + "/" + N;
    if (PathIsFile(P)) Found.push_back(P);
  }
  ::closedir(H);
  std::sort(Found.begin(), Found.end());
  return Found;
}

TParadoxFileImage ReadParadoxFile(const std::string& Path) {
  if (!PathIsFile(Path)) throw EParadoxError("Table \"" + Path + "\" does not exist.");
  return ParseParadoxFile(ReadWholeFile(Path), Path);
}

void WriteParadoxFile(const std::string& Path, TParadoxHeader& H,
                      const std::vector<const std::string*>& Records) {
  H.FileType = H.KeyFields > 0 ? pxtKeyedDB : pxtUnkeyedDB;
  if (H.Version < 5) H.Version = 0x0B;
  H.RecordSize = LayoutFields(H.Fields);
  // The smallest block size of at least the table's own that holds a record and keeps the
  // block count within 16 bits.
  static const int kSizes[] = {1, 2, 3, 4, 8, 16, 32};
  int BlockSize = 0;
  for (int K : kSizes) {
    int S = K * 1024;
    if (S < H.BlockSize) continue;
    if (H.RecordSize + static_cast<int>(kPxBlockHeaderSize) > S) continue;
    uint64_t Per = static_cast<uint64_t>((S - kPxBlockHeaderSize) / H.RecordSize);
    if ((Records.size() + Per - 1) / Per > 65535) continue;
    BlockSize = S;
    break;
  }
  if (BlockSize == 0)
    throw EParadoxError("Table \"" + Path + "\" is too large for a Paradox table.");
  if (BlockSize > 4096) H.Version = 12;
  H.BlockSize = BlockSize;
  const size_t PerBlock = (BlockSize - kPxBlockHeaderSize) / static_cast<size_t>(H.RecordSize);
  const size_t Blocks = (Records.size() + PerBlock - 1) / PerBlock;
  H.NumRecords = static_cast<uint32_t>(Records.size());
  H.FileBlocks = static_cast<uint16_t>(Blocks);
  H.FirstBlock = Blocks ? 1 : 0;
  H.LastBlock = static_cast<uint16_t>(Blocks);
  H.IndexRoot = 0;
  H.IndexLevels = 0;
  if (H.TableName.empty()) {
    size_t Slash = Path.find_last_of('/');
    H.TableName = Slash == std::string::npos ? Path : Path.substr(Slash + 1);
  }
  std::string Out = BuildParadoxHeader(H);
  std::vector<TParadoxIndexEntry> Leaves;
  size_t KeyWidth = 0;
  for (int I = 0; I < H.KeyFields; ++I) KeyWidth += static_cast<size_t>(H.Fields[I].Width);
  Out.reserve(Out.size() + Blocks * BlockSize);
  for (size_t B = 0; B < Blocks; ++B) {
    size_t First = B * PerBlock;
    size_t Count = std::min(PerBlock, Records.size() - First);
    std::string Blk(static_cast<size_t>(BlockSize), '\0');
    uint8_t* P = reinterpret_cast<uint8_t*>(Blk.data());
    StoreLE<uint16_t>(P, static_cast<uint16_t>(B + 1 < Blocks ? B + 2 : 0));
    StoreLE<uint16_t>(P + 2, static_cast<uint16_t>(B));
    StoreLE<int16_t>(P + 4, static_cast<int16_t>((Count - 1) * H.RecordSize));
    for (size_t I = 0; I < Count; ++I) {
      const std::string& R = *Records[First + I];
      if (R.size() != static_cast<size_t>(H.RecordSize))
        throw EParadoxError("Internal error: record size mismatch writing \"" + Path + "\".");
      std::memcpy(P + kPxBlockHeaderSize + I * H.RecordSize, R.data(), R.size());
    }
    if (H.Encryption != 0)
      EncryptParadoxBlock(P, Blk.size(), H.Encryption, static_cast<uint32_t>(B + 1));
    Out += Blk;
    if (H.KeyFields > 0)
      Leaves.push_back(
          {Records[First]->substr(0, KeyWidth), static_cast<int>(B + 1), static_cast<int>(Count)});
  }
  std::string PxPath = FindSiblingFile(Path, ".px");
  if (PxPath.empty()) PxPath = SiblingFile(Path, ".px");
  if (H.KeyFields > 0) {
    std::string Px = BuildParadoxIndex(H, Leaves);
    // A file that already holds these bytes is left as it is: rebuilding a sound table
    // changes nothing on disk.
    const bool WriteDb = !FileHolds(Path, Out), WritePx = !FileHolds(PxPath, Px);
    std::string DbTemp = TempNameFor(Path), PxTemp = TempNameFor(PxPath);
    if (WriteDb) WriteTemp(DbTemp, Out, Path);
    try {
      // A new index takes its table's permissions.
      if (WritePx) WriteTemp(PxTemp, Px, PathIsFile(PxPath) ? PxPath : Path);
    } catch (...) {
      if (WriteDb) ::unlink(DbTemp.c_str());
      throw;
    }
    if (WriteDb) {
      NoteReplacing(Path);
      RenameInto(DbTemp, Path);
    }
    if (WritePx) {
      NoteReplacing(PxPath);
      RenameInto(PxTemp, PxPath);
    }
  } else {
    if (!FileHolds(Path, Out)) WriteFileAtomically(Path, Out);
    if (PathIsFile(PxPath)) ::unlink(PxPath.c_str());
  }
  if (TParadoxWriteObserver O = WriteObserver.load()) O(Path);
}

void SetParadoxWriteObserver(TParadoxWriteObserver Observer) {
  WriteObserver.store(Observer);
}

}  // namespace vlt::app
