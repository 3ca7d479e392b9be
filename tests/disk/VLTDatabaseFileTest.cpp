#include "engine/disk/VLTDatabaseFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/base/VLTExcept.h"

namespace vlt {
namespace {

namespace fs = std::filesystem;

class DatabaseFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/vlt_dbfile_XXXXXX";
    ASSERT_NE(mkdtemp(Tmpl), nullptr);
    Dir = Tmpl;
    Path = Dir + "/test.vlt";
  }
  void TearDown() override {
    std::error_code Ec;
    fs::permissions(Path, fs::perms::owner_all, Ec);
    fs::remove_all(Dir, Ec);
  }

  // A file of N pattern bytes, written without the class under test.
  void MakeFile(const std::string& P, size_t N) {
    std::FILE* F = std::fopen(P.c_str(), "wb");
    ASSERT_NE(F, nullptr);
    for (size_t I = 0; I < N; ++I) std::fputc(static_cast<int>(I * 7 % 251), F);
    std::fclose(F);
  }
  std::vector<uint8_t> Contents(const std::string& P) {
    std::vector<uint8_t> V;
    if (std::FILE* F = std::fopen(P.c_str(), "rb")) {
      int C;
      while ((C = std::fgetc(F)) != EOF) V.push_back(static_cast<uint8_t>(C));
      std::fclose(F);
    }
    return V;
  }

  // Runs Body in a child process, which opens the file on its own; answers the child's exit
  // code (Body's result, or 99 when it threw).
  static int InChild(const std::function<int()>& Body) {
    pid_t Pid = fork();
    if (Pid == 0) {
      int Code = 99;
      try {
        Code = Body();
      } catch (...) {
      }
      _exit(Code);
    }
    int Status = 0;
    waitpid(Pid, &Status, 0);
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  }

  std::string Dir, Path;
};

int32_t CodeOf(const std::function<void()>& F) {
  try {
    F();
  } catch (const EVLTException& E) {
    return E.NativeError();
  }
  return 0;
}

std::string MessageOf(const std::function<void()>& F) {
  try {
    F();
  } catch (const EVLTException& E) {
    return E.Message();
  }
  return {};
}

// ---- opening, data and size ----

TEST_F(DatabaseFileTest, CreateWriteReadSizeAndClose) {
  TVLTDatabaseFile F;
  F.CreateAndOpenFile(Path);
  EXPECT_TRUE(F.IsOpened());
  EXPECT_EQ(F.AccessMode(), amReadWrite);
  EXPECT_EQ(F.ShareMode(), smExclusive);
  EXPECT_EQ(F.GetSize(), 0);

  const char Text[] = "VAULTR1XDATABASE";
  F.WriteBuffer(Text, 16, 380, 10469);
  EXPECT_EQ(F.GetSize(), 396);
  EXPECT_EQ(F.Position(), 396);
  char Back[16];
  F.ReadBuffer(Back, 16, 380, 10474);
  EXPECT_EQ(0, std::memcmp(Back, Text, 16));
  char Zero[4] = {1, 1, 1, 1};
  ASSERT_TRUE(F.ReadBuffer(Zero, 4, 10));  // the gap reads as zeros
  EXPECT_EQ(std::vector<char>(Zero, Zero + 4), std::vector<char>(4, 0));

  F.SetSize(380 + 6 * 512);
  EXPECT_EQ(F.GetSize(), 3452);
  EXPECT_EQ(F.Position(), 3452);
  F.SetSize(390);
  EXPECT_EQ(F.Size(), 390);
  F.SetPosition(5);
  EXPECT_EQ(F.GetPosition(), 5);
  EXPECT_EQ(F.Seek(-10, SEEK_END), 380);
  F.FlushFileBuffers();
  F.CloseFile();
  EXPECT_FALSE(F.IsOpened());
  EXPECT_EQ(F.Handle(), -1);
  EXPECT_EQ(fs::file_size(Path), 390u);
}

// Reads and writes name their position; the file position afterwards is where the transfer
// ended (as a seek followed by the transfer leaves it), and explicit positioning wins over it.
TEST_F(DatabaseFileTest, ThePositionFollowsTheLastTransfer) {
  TVLTDatabaseFile F;
  F.CreateAndOpenFile(Path);
  const std::vector<uint8_t> Data(100, 0x5A);
  F.WriteBuffer(Data.data(), 100, 0, 10469);
  std::vector<uint8_t> Back(16);
  struct TStep {
    const char* Name;
    std::function<void()> Act;
    int64_t Position;
  };
  const TStep Steps[] = {
      {"write", [&] { F.WriteBuffer(Data.data(), 10, 40, 10469); }, 50},
      {"read", [&] { F.ReadBuffer(Back.data(), 8, 20, 10474); }, 28},
      {"relative seek after a write",
       [&] {
         F.WriteBuffer(Data.data(), 4, 60, 10469);
         F.Seek(6, SEEK_CUR);
       },
       70},
      {"set position after a read",
       [&] {
         F.ReadBuffer(Back.data(), 4, 0, 10474);
         F.SetPosition(33);
       },
       33},
      {"size after a write",
       [&] {
         F.WriteBuffer(Data.data(), 4, 90, 10469);
         F.SetSize(120);
       },
       120},
      {"short read stops at the end", [&] { EXPECT_FALSE(F.ReadBuffer(Back.data(), 16, 110)); },
       120},
      {"write after the end grows the file", [&] { F.WriteBuffer(Data.data(), 5, 200, 10469); },
       205},
  };
  for (const TStep& S : Steps) {
    S.Act();
    EXPECT_EQ(F.GetPosition(), S.Position) << S.Name;
  }
  EXPECT_EQ(F.GetSize(), 205);
  EXPECT_EQ(Contents(Path)[44], 0x5A);
  EXPECT_EQ(Contents(Path)[150], 0);  // the gap reads as zeros
  // A negative position is refused without touching the file.
  EXPECT_FALSE(F.ReadBuffer(Back.data(), 4, -8));
  EXPECT_EQ(CodeOf([&] { F.WriteBuffer(Data.data(), 4, -8, 10469); }), 10469);
  EXPECT_EQ(F.GetSize(), 205);
  F.CloseFile();
}

TEST_F(DatabaseFileTest, ReadingPastTheEnd) {
  MakeFile(Path, 10);
  TVLTDatabaseFile F;
  F.OpenFile(Path, amReadOnly, smShareDenyNone);
  uint8_t Buf[8];
  EXPECT_FALSE(F.ReadBuffer(Buf, 8, 5));
  EXPECT_TRUE(F.ReadBuffer(Buf, 5, 5));
  std::string M = MessageOf([&] { F.ReadBuffer(Buf, 8, 5, 10474); });
  EXPECT_EQ(CodeOf([&] { F.ReadBuffer(Buf, 8, 5, 10474); }), 10474);
  EXPECT_NE(M.find("Cannot Read from file: '" + Path + "' Position = 5, Count = 8"),
            std::string::npos)
      << M;
  EXPECT_NE(M.find("FileSize = 10, ErrorCode:"), std::string::npos) << M;
  EXPECT_TRUE(F.IsOpened());  // a failed read leaves the file open
}

TEST_F(DatabaseFileTest, CreateReplacesAnExistingFileButNotOneInUse) {
  MakeFile(Path, 100);
  {
    TVLTDatabaseFile Other;
    Other.OpenFile(Path, amReadOnly, smShareDenyNone);
    TVLTDatabaseFile F;
    EXPECT_EQ(CodeOf([&] { F.CreateAndOpenFile(Path); }), 30361);
    EXPECT_FALSE(F.IsOpened());
    EXPECT_EQ(Contents(Path).size(), 100u);  // the file in use is untouched
  }
  chmod(Path.c_str(), 0444);  // read-only files are replaced as well
  TVLTDatabaseFile F;
  F.CreateAndOpenFile(Path);
  EXPECT_EQ(F.GetSize(), 0);
}

TEST_F(DatabaseFileTest, OpenAndCreateErrors) {
  TVLTDatabaseFile F;
  EXPECT_EQ(CodeOf([&] { F.CreateAndOpenFile("  "); }), 30374);
  EXPECT_EQ(MessageOf([&] { F.CreateAndOpenFile(""); }),
            "Cannot create file with blank FileName - Native error: 30374");
  EXPECT_EQ(CodeOf([&] { F.CreateAndOpenFile(Dir + "/no/such/dir/x.vlt"); }), 30361);

  std::string M = MessageOf([&] { F.OpenFile(Dir + "/missing.vlt", amReadWrite, smExclusive); });
  EXPECT_NE(M.find("Cannot open file:'" + Dir + "/missing.vlt' Error code: 2. ErrorMessage: "),
            std::string::npos)
      << M;
  EXPECT_NE(M.find("- Native error: 30364"), std::string::npos);
  EXPECT_EQ(CodeOf([&] { F.OpenFile(Dir, amReadOnly, smShareDenyNone); }), 30364);

  MakeFile(Path, 4);
  EXPECT_EQ(MessageOf([&] { F.OpenFile(Path, static_cast<TVLTAccessMode>(2), smExclusive); }),
            "Unknown Access mode: '2' - Native error: 30366");
  EXPECT_EQ(CodeOf([&] { F.OpenFile(Path, amReadOnly, static_cast<TVLTShareMode>(3)); }), 30367);

  F.OpenFile(Path, amReadOnly, smShareDenyNone);
  EXPECT_EQ(MessageOf([&] { F.OpenFile(Path, amReadOnly, smShareDenyNone); }),
            "Cannot perform this operation (OpenFile) on a opened file - Native error: 30377");
  EXPECT_EQ(MessageOf([&] { F.CreateAndOpenFile(Path); }),
            "Cannot perform this operation (CreateFile) on a opened file - Native error: 30377");
}

TEST_F(DatabaseFileTest, EveryOperationOnAClosedFileNamesItself) {
  TVLTDatabaseFile F;
  uint8_t B[4] = {};
  int64_t Off = 0;
  const std::pair<const char*, std::function<void()>> Ops[] = {
      {"Seek", [&] { F.Seek(0, SEEK_SET); }},
      {"SetPosition", [&] { F.SetPosition(0); }},
      {"GetPosition", [&] { F.GetPosition(); }},
      {"SetSize", [&] { F.SetSize(0); }},
      {"GetSize", [&] { F.GetSize(); }},
      {"GetSize", [&] { F.Size(); }},
      {"ReadBuffer", [&] { F.ReadBuffer(B, 4, 0); }},
      {"ReadBuffer", [&] { F.ReadBuffer(B, 4, 0, 10474); }},
      {"WriteBuffer", [&] { F.WriteBuffer(B, 4, 0, 10469); }},
      {"FlushFileBuffers", [&] { F.FlushFileBuffers(); }},
      {"LockByte", [&] { F.LockByte(0, 1); }},
      {"UnlockByte", [&] { F.UnlockByte(0, 1); }},
      {"IsByteLocked", [&] { F.IsByteLocked(0); }},
      {"IsRegionLocked", [&] { F.IsRegionLocked(0, 1); }},
      {"CloseFile", [&] { F.CloseFile(); }},
      {"FindSignature", [&] { F.FindSignature(Off); }},
  };
  for (const auto& [Name, Op] : Ops)
    EXPECT_EQ(MessageOf(Op), std::string("Cannot perform this operation (") + Name +
                                 ") on a closed file - Native error: 30376");
}

TEST_F(DatabaseFileTest, ReadOnlyAttribute) {
  MakeFile(Path, 16);
  chmod(Path.c_str(), 0444);
  EXPECT_TRUE(TVLTDatabaseFile::IsFileReadOnly(Path));
  EXPECT_FALSE(TVLTDatabaseFile::IsFileWritable(Path, true));
  TVLTDatabaseFile F;
  std::string M = MessageOf([&] { F.OpenFile(Path, amReadWrite, smShareDenyNone); });
  EXPECT_NE(M.find("Error code: 13."), std::string::npos) << M;  // EACCES, even for root
  F.OpenFile(Path, amReadOnly, smShareDenyNone);
  uint8_t B = 1;
  EXPECT_EQ(CodeOf([&] { F.WriteBuffer(&B, 1, 0, 10469); }), 10469);
  EXPECT_TRUE(F.IsOpened());
}

// ---- share modes ----

struct TOpenMode {
  TVLTAccessMode Access;
  TVLTShareMode Share;
  const char* Name;
};
const TOpenMode kModes[] = {
    {amReadOnly, smExclusive, "R_Exclusive"},      {amReadOnly, smShareDenyNone, "R_DenyNone"},
    {amReadOnly, smShareDenyWrite, "R_DenyWrite"}, {amReadWrite, smExclusive, "RW_Exclusive"},
    {amReadWrite, smShareDenyNone, "RW_DenyNone"}, {amReadWrite, smShareDenyWrite, "RW_DenyWrite"},
};
// kAllowed[first][second]: may the second open succeed while the first is open? (Each open is
// allowed when its access is shared by the other and the other's access is shared by it.)
const bool kAllowed[6][6] = {
    /* R_Exclusive  */ {0, 0, 0, 0, 0, 0},
    /* R_DenyNone   */ {0, 1, 1, 0, 1, 1},
    /* R_DenyWrite  */ {0, 1, 1, 0, 0, 0},
    /* RW_Exclusive */ {0, 0, 0, 0, 0, 0},
    /* RW_DenyNone  */ {0, 1, 0, 0, 1, 0},
    /* RW_DenyWrite */ {0, 1, 0, 0, 0, 0},
};

TEST_F(DatabaseFileTest, ShareModeMatrix) {
  MakeFile(Path, 8);
  for (int I = 0; I < 6; ++I)
    for (int J = 0; J < 6; ++J) {
      SCOPED_TRACE(std::string(kModes[I].Name) + " then " + kModes[J].Name);
      TVLTDatabaseFile First, Second;
      First.OpenFile(Path, kModes[I].Access, kModes[I].Share);
      int32_t Code = CodeOf([&] { Second.OpenFile(Path, kModes[J].Access, kModes[J].Share); });
      EXPECT_EQ(Code, kAllowed[I][J] ? 0 : 30364);
      EXPECT_EQ(Second.IsOpened(), kAllowed[I][J]);
      if (Code) {
        std::string M =
            MessageOf([&] { Second.OpenFile(Path, kModes[J].Access, kModes[J].Share); });
        EXPECT_NE(M.find("in use"), std::string::npos) << M;
      }
    }
}

TEST_F(DatabaseFileTest, ClosingReleasesTheShareMode) {
  MakeFile(Path, 8);
  TVLTDatabaseFile A, B;
  A.OpenFile(Path, amReadWrite, smExclusive);
  EXPECT_NE(CodeOf([&] { B.OpenFile(Path, amReadOnly, smShareDenyNone); }), 0);
  A.CloseFile();
  B.OpenFile(Path, amReadOnly, smShareDenyNone);
  EXPECT_TRUE(B.IsOpened());
}

TEST_F(DatabaseFileTest, ExclusiveOpenIsRefusedToAnotherProcess) {
  MakeFile(Path, 8);
  TVLTDatabaseFile F;
  F.OpenFile(Path, amReadWrite, smExclusive);
  EXPECT_EQ(InChild([&] {
              TVLTDatabaseFile C;
              return CodeOf([&] { C.OpenFile(Path, amReadOnly, smShareDenyNone); }) == 30364 ? 0
                                                                                              : 1;
            }),
            0);
  F.CloseFile();
  F.OpenFile(Path, amReadWrite, smShareDenyNone);
  EXPECT_EQ(InChild([&] {
              TVLTDatabaseFile C;
              C.OpenFile(Path, amReadWrite, smShareDenyNone);
              return C.IsOpened() ? 0 : 1;
            }),
            0);
}

// ---- byte locks ----

TEST_F(DatabaseFileTest, LocksBetweenTwoOpensOfOneProcess) {
  MakeFile(Path, 400);
  TVLTDatabaseFile A, B;
  A.OpenFile(Path, amReadWrite, smShareDenyNone);
  B.OpenFile(Path, amReadWrite, smShareDenyNone);

  ASSERT_TRUE(A.LockByte(360, 1));
  EXPECT_TRUE(B.IsByteLocked(360));
  EXPECT_FALSE(B.IsByteLocked(359));
  EXPECT_TRUE(B.IsRegionLocked(350, 20));
  EXPECT_FALSE(B.LockByte(360, 1));
  EXPECT_FALSE(B.UnlockByte(360, 1));  // not B's lock
  EXPECT_TRUE(A.IsByteLocked(360));    // what a second lock through the same open would get
  EXPECT_TRUE(A.IsByteLocked(360));    // ... and the probe did not drop the lock
  EXPECT_TRUE(B.IsByteLocked(360));

  EXPECT_FALSE(A.LockByte(355, 10));   // overlaps its own lock
  EXPECT_FALSE(A.UnlockByte(360, 2));  // unlocking needs the region exactly as locked
  EXPECT_TRUE(A.UnlockByte(360, 1));
  EXPECT_FALSE(A.UnlockByte(360, 1));
  EXPECT_TRUE(B.LockByte(360, 1));
  EXPECT_FALSE(A.WasCriticalError());
}

TEST_F(DatabaseFileTest, LocksExcludeEachOtherWhateverTheAccessMode) {
  // Read-only opens (a database on a read-only file) lock the same bytes as writers do.
  MakeFile(Path, 8);
  const std::pair<TVLTAccessMode, TVLTAccessMode> Pairs[] = {
      {amReadOnly, amReadOnly}, {amReadOnly, amReadWrite},
      {amReadWrite, amReadOnly}, {amReadWrite, amReadWrite}};
  for (auto [First, Second] : Pairs) {
    SCOPED_TRACE(std::to_string(First) + "/" + std::to_string(Second));
    TVLTDatabaseFile A, B;
    A.OpenFile(Path, First, smShareDenyNone);
    B.OpenFile(Path, Second, smShareDenyNone);
    ASSERT_TRUE(A.LockByte(356, 2));
    EXPECT_TRUE(B.IsRegionLocked(357, 1));
    EXPECT_FALSE(B.LockByte(357, 1));
    EXPECT_TRUE(A.UnlockByte(356, 2));
    EXPECT_TRUE(B.LockByte(357, 1));
    EXPECT_FALSE(A.LockByte(356, 2));
  }
}

TEST_F(DatabaseFileTest, SlotBytesAreHandedOutOncePerOpen) {
  // Two sessions of one database share one file object; each must get its own slot byte.
  MakeFile(Path, 8);
  TVLTDatabaseFile F;
  F.OpenFile(Path, amReadWrite, smShareDenyNone);
  const int64_t Slots = 1000;
  auto Take = [&] {
    for (int64_t I = 0; I < 4; ++I)
      if (F.LockByte(Slots + I, 1)) return I;
    return int64_t{-1};
  };
  EXPECT_EQ(Take(), 0);
  EXPECT_EQ(Take(), 1);
  EXPECT_TRUE(F.IsRegionLocked(Slots, 4));
  EXPECT_TRUE(F.UnlockByte(Slots, 1));
  EXPECT_EQ(Take(), 0);
}

TEST_F(DatabaseFileTest, LockArgumentsOutsideTheUsableRange) {
  MakeFile(Path, 8);
  TVLTDatabaseFile F;
  F.OpenFile(Path, amReadWrite, smShareDenyNone);
  EXPECT_FALSE(F.LockByte(10, 0));  // zero bytes would mean "to the end of all offsets"
  EXPECT_FALSE(F.LockByte(-1, 1));
  EXPECT_FALSE(F.LockByte(TVLTDatabaseFile::kShareLockBase - 1, 2));
  EXPECT_FALSE(F.IsRegionLocked(10, 0));
  EXPECT_TRUE(F.IsByteLocked(TVLTDatabaseFile::kShareLockBase));
  // 64-bit offsets far beyond the end of the file lock normally.
  const int64_t Far = INT64_C(0x100000010);
  EXPECT_TRUE(F.LockByte(Far, 1));
  EXPECT_TRUE(F.LockByte(INT64_C(380) + INT64_C(2147483646) * 65535, 1));
  TVLTDatabaseFile G;
  G.OpenFile(Path, amReadWrite, smShareDenyNone);
  EXPECT_TRUE(G.IsByteLocked(Far));
  EXPECT_FALSE(G.IsByteLocked(Far + 1));
}

TEST_F(DatabaseFileTest, LocksAreSeenByAnotherProcess) {
  MakeFile(Path, 400);
  TVLTDatabaseFile F;
  F.OpenFile(Path, amReadWrite, smShareDenyNone);
  ASSERT_TRUE(F.LockByte(358, 1));  // e.g. the header lock byte
  auto ChildSees = [&](int64_t Offset) {
    return InChild([&] {
      TVLTDatabaseFile C;
      C.OpenFile(Path, amReadWrite, smShareDenyNone);
      bool Locked = C.IsByteLocked(Offset);
      bool Got = C.LockByte(Offset, 1);
      return (Locked ? 1 : 0) | (Got ? 2 : 0);
    });
  };
  EXPECT_EQ(ChildSees(358), 1);  // locked, and the child cannot take it
  EXPECT_EQ(ChildSees(357), 2);  // a neighbour is free
  ASSERT_TRUE(F.UnlockByte(358, 1));
  EXPECT_EQ(ChildSees(358), 2);
}

TEST_F(DatabaseFileTest, LockOfAnotherProcessVanishesWhenItEnds) {
  MakeFile(Path, 400);
  int ToParent[2], ToChild[2];
  ASSERT_EQ(pipe(ToParent), 0);
  ASSERT_EQ(pipe(ToChild), 0);
  pid_t Pid = fork();
  if (Pid == 0) {
    TVLTDatabaseFile C;
    C.OpenFile(Path, amReadWrite, smShareDenyNone);
    char X = C.LockByte(376, 1) ? 'L' : 'F';
    (void)!write(ToParent[1], &X, 1);
    (void)!read(ToChild[0], &X, 1);  // hold the lock until told to end
    _exit(0);
  }
  char X = 0;
  ASSERT_EQ(read(ToParent[0], &X, 1), 1);
  ASSERT_EQ(X, 'L');
  TVLTDatabaseFile F;
  F.OpenFile(Path, amReadWrite, smShareDenyNone);
  EXPECT_TRUE(F.IsByteLocked(376));
  EXPECT_FALSE(F.LockByte(376, 1));
  EXPECT_FALSE(F.WasCriticalError());
  (void)!write(ToChild[1], &X, 1);
  waitpid(Pid, nullptr, 0);
  EXPECT_FALSE(F.IsByteLocked(376));
  EXPECT_TRUE(F.LockByte(376, 1));
  for (int Fd : {ToParent[0], ToParent[1], ToChild[0], ToChild[1]}) close(Fd);
}

TEST_F(DatabaseFileTest, LockSurvivesTheClosingOfOtherDescriptorsOfTheFile) {
  // Per-process record locks would be dropped here: closing any descriptor of a file releases
  // all of the process's locks on it.
  MakeFile(Path, 400);
  TVLTDatabaseFile F;
  F.OpenFile(Path, amReadWrite, smShareDenyNone);
  ASSERT_TRUE(F.LockByte(357, 1));
  {
    TVLTDatabaseFile Other;
    Other.OpenFile(Path, amReadOnly, smShareDenyNone);
    Other.CloseFile();
  }
  close(open(Path.c_str(), O_RDONLY));
  EXPECT_TRUE(TVLTDatabaseFile::IsFileWritable(Path, true));  // the probe opens and closes too
  EXPECT_EQ(InChild([&] {
              TVLTDatabaseFile C;
              C.OpenFile(Path, amReadOnly, smShareDenyNone);
              return C.IsByteLocked(357) ? 0 : 1;
            }),
            0);
}

// ---- recovery ----

TEST_F(DatabaseFileTest, ReadReopensAHandleThatWentBad) {
  MakeFile(Path, 64);
  TVLTDatabaseFile F;
  F.SetReopenDelayMS(100);
  F.OpenFile(Path, amReadWrite, smShareDenyNone);
  // The file disappears with the handle and comes back while the reopen attempts run.
  close(F.Handle());
  const std::string Away = Dir + "/away.vlt";
  ASSERT_EQ(rename(Path.c_str(), Away.c_str()), 0);
  std::thread Back([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    rename(Away.c_str(), Path.c_str());
  });
  uint8_t Buf[8];
  bool Ok = F.ReadBuffer(Buf, 8, 8);
  Back.join();
  ASSERT_TRUE(Ok);
  EXPECT_EQ(Buf[1], 7 * 9 % 251);
  EXPECT_TRUE(F.IsOpened());
  EXPECT_EQ(F.GetSize(), 64);
}

TEST_F(DatabaseFileTest, ReadFailsWhenTheFileStaysUnreachable) {
  MakeFile(Path, 64);
  TVLTDatabaseFile F;
  F.SetReopenDelayMS(5);
  F.OpenFile(Path, amReadWrite, smShareDenyNone);
  close(F.Handle());
  ASSERT_EQ(unlink(Path.c_str()), 0);
  uint8_t Buf[8];
  EXPECT_FALSE(F.ReadBuffer(Buf, 8, 0));
  EXPECT_EQ(CodeOf([&] { F.WriteBuffer(Buf, 8, 0, 10469); }), 10469);
  EXPECT_EQ(CodeOf([&] { F.GetSize(); }), 30371);
  // The message says why the file could not be reached again.
  std::string M = MessageOf([&] { F.GetSize(); });
  EXPECT_NE(M.find("ErrorCode:2. ErrorMessage: No such file or directory"), std::string::npos)
      << M;
  EXPECT_TRUE(F.IsOpened());
  // The next call recovers once the file is back.
  MakeFile(Path, 32);
  EXPECT_EQ(F.GetSize(), 32);
}

TEST_F(DatabaseFileTest, CriticalLockErrorReportsSuccessUntilTheHandleWorksAgain) {
  MakeFile(Path, 64);
  TVLTDatabaseFile Holder, F;
  Holder.OpenFile(Path, amReadWrite, smShareDenyNone);
  ASSERT_TRUE(Holder.LockByte(20, 1));
  F.SetReopenDelayMS(5);
  F.OpenFile(Path, amReadWrite, smShareDenyNone);
  close(F.Handle());  // the handle goes bad (as after a network failure)
  EXPECT_TRUE(F.LockByte(20, 1));  // reported as taken so a waiting caller goes on ...
  EXPECT_TRUE(F.WasCriticalError());
  uint8_t B[4];
  EXPECT_TRUE(F.ReadBuffer(B, 4, 0));  // ... and its next read reopens the file
  EXPECT_FALSE(F.LockByte(20, 1));     // a plain conflict is reported as such again
  EXPECT_FALSE(F.WasCriticalError());
}

// Fails the calls it is told to, counting every attempt.
struct TFaults : TVLTFileFaultInjector {
  int FailReads = 0, FailWrites = 0, FailFlushes = 0;
  int Reads = 0, Writes = 0, Flushes = 0;
  int Error = ENOSPC;
  int BeforeRead(const std::string&, int64_t, size_t) override {
    ++Reads;
    return Reads <= FailReads ? Error : 0;
  }
  int BeforeWrite(const std::string&, int64_t, size_t) override {
    ++Writes;
    return Writes <= FailWrites ? Error : 0;
  }
  int BeforeFlush(const std::string&) override {
    ++Flushes;
    return Flushes <= FailFlushes ? Error : 0;
  }
};

class FaultTest : public DatabaseFileTest {
 protected:
  void SetUp() override {
    DatabaseFileTest::SetUp();
    MakeFile(Path, 64);
    F.OpenFile(Path, amReadWrite, smShareDenyNone);
    TVLTDatabaseFile::SetFaultInjector(&Faults);
  }
  void TearDown() override {
    TVLTDatabaseFile::SetFaultInjector(nullptr);
    DatabaseFileTest::TearDown();
  }
  TFaults Faults;
  TVLTDatabaseFile F;
};

TEST_F(FaultTest, AFailedWriteIsRetriedOnce) {
  Faults.FailWrites = 1;
  const uint8_t B[4] = {1, 2, 3, 4};
  F.WriteBuffer(B, 4, 8, 10469);
  EXPECT_EQ(Faults.Writes, 2);
  EXPECT_EQ(Contents(Path)[9], 2);
}

TEST_F(FaultTest, AWriteFailingTwiceRaisesWithTheSystemText) {
  Faults.FailWrites = 2;
  const uint8_t B[4] = {1, 2, 3, 4};
  std::string M = MessageOf([&] { F.WriteBuffer(B, 4, 8, 10469); });
  EXPECT_EQ(Faults.Writes, 2);  // exactly one retry
  EXPECT_NE(M.find("Cannot Write to file: '" + Path + "' Position = 8, Count = 4, FilePosition = "),
            std::string::npos)
      << M;
  EXPECT_NE(M.find("FileSize = 64, ErrorCode:28. ErrorMessage: No space left on device - Native "
                   "error: 10469"),
            std::string::npos)
      << M;
  EXPECT_EQ(Contents(Path)[9], 9 * 7 % 251);  // nothing written
  EXPECT_TRUE(F.IsOpened());
}

TEST_F(FaultTest, ReadsAndFlushesFollowTheSameRule) {
  Faults.Error = EIO;
  Faults.FailReads = 2;
  uint8_t B[4];
  EXPECT_FALSE(F.ReadBuffer(B, 4, 0));
  EXPECT_EQ(Faults.Reads, 2);
  EXPECT_TRUE(F.ReadBuffer(B, 4, 0));

  Faults.FailFlushes = 1;
  F.FlushFileBuffers();
  EXPECT_EQ(Faults.Flushes, 2);
  Faults.FailFlushes = 4;
  std::string M = MessageOf([&] { F.FlushFileBuffers(); });
  EXPECT_NE(M.find("Cannot flush file buffers for file: '" + Path + "'. ErrorCode:5."),
            std::string::npos)
      << M;
  EXPECT_NE(M.find("Native error: 30379"), std::string::npos);
}

// ---- header search ----

class FindSignatureTest : public DatabaseFileTest,
                          public ::testing::WithParamInterface<int64_t> {};

TEST_P(FindSignatureTest, FindsTheHeaderWhereverItStarts) {
  const int64_t At = GetParam();
  std::vector<uint8_t> Data(static_cast<size_t>(At + 200), 0x20);
  // A decoy: the signature with another header size, before the real one.
  if (At >= 40) {
    std::memcpy(&Data[10], "VAULTR1XDATABASE", 16);
    Data[26] = 77;
  }
  std::memcpy(&Data[At], "VAULTR1XDATABASE", 16);
  Data[At + 16] = 76;
  Data[At + 17] = 0;
  std::FILE* Fp = std::fopen(Path.c_str(), "wb");
  std::fwrite(Data.data(), 1, Data.size(), Fp);
  std::fclose(Fp);

  TVLTDatabaseFile F;
  F.OpenFile(Path, amReadOnly, smShareDenyNone);
  F.SetPosition(33);
  int64_t Offset = -1;
  ASSERT_TRUE(F.FindSignature(Offset));
  EXPECT_EQ(Offset, At);
  EXPECT_EQ(F.GetPosition(), 33);
}

// Window edges: a header straddling the end of the first 10000-byte window must still be found.
INSTANTIATE_TEST_SUITE_P(Offsets, FindSignatureTest,
                         ::testing::Values(0, 1, 100, 9982, 9983, 9984, 9990, 19966, 25000));

TEST_F(DatabaseFileTest, FindSignatureAnswersFalseWithoutAHeader) {
  MakeFile(Path, 30000);
  TVLTDatabaseFile F;
  F.OpenFile(Path, amReadOnly, smShareDenyNone);
  int64_t Offset = -1;
  EXPECT_FALSE(F.FindSignature(Offset));
  F.CloseFile();
  MakeFile(Path, 10);  // shorter than a header
  F.OpenFile(Path, amReadOnly, smShareDenyNone);
  EXPECT_FALSE(F.FindSignature(Offset));
}

// ---- whole-file operations and the write probe ----

TEST_F(DatabaseFileTest, WriteProbeKeepsTheFileAsItWas) {
  MakeFile(Path, 50);
  auto Before = Contents(Path);
  EXPECT_TRUE(TVLTDatabaseFile::IsFileWritable(Path, false));
  EXPECT_EQ(Contents(Path), Before);

  const std::string Empty = Dir + "/empty.vlt";
  MakeFile(Empty, 0);
  EXPECT_TRUE(TVLTDatabaseFile::IsFileWritable(Empty, true));
  EXPECT_EQ(fs::file_size(Empty), 0u);  // no stray byte written into an empty file

  EXPECT_FALSE(TVLTDatabaseFile::IsFileWritable(Dir + "/missing.vlt", true));

  TVLTDatabaseFile Reader;
  Reader.OpenFile(Path, amReadOnly, smShareDenyNone);
  EXPECT_TRUE(TVLTDatabaseFile::IsFileWritable(Path, true));   // shares reading and writing
  EXPECT_FALSE(TVLTDatabaseFile::IsFileWritable(Path, false));  // would deny the reader
  Reader.CloseFile();
  Reader.OpenFile(Path, amReadOnly, smShareDenyWrite);
  EXPECT_FALSE(TVLTDatabaseFile::IsFileWritable(Path, true));
}

TEST_F(DatabaseFileTest, DeleteAndRenameNeverLoseAFileInUse) {
  MakeFile(Path, 20);
  const std::string Other = Dir + "/other.vlt";
  {
    TVLTDatabaseFile F;
    F.OpenFile(Path, amReadOnly, smShareDenyNone);
    EXPECT_EQ(CodeOf([&] { TVLTDatabaseFile::DeleteFile(Path); }), 30362);
    EXPECT_EQ(CodeOf([&] { TVLTDatabaseFile::RenameFile(Path, Other); }), 30378);
    EXPECT_TRUE(fs::exists(Path));
  }
  MakeFile(Other, 5);
  std::string M = MessageOf([&] { TVLTDatabaseFile::RenameFile(Path, Other); });
  EXPECT_NE(M.find("Cannot rename file '" + Path + "' to '" + Other + "' ErrorCode:17."),
            std::string::npos)
      << M;
  EXPECT_EQ(fs::file_size(Other), 5u);  // the existing target is never replaced

  TVLTDatabaseFile::DeleteFile(Other);
  TVLTDatabaseFile::RenameFile(Path, Other);
  EXPECT_FALSE(fs::exists(Path));
  EXPECT_EQ(fs::file_size(Other), 20u);
  EXPECT_EQ(CodeOf([&] { TVLTDatabaseFile::DeleteFile(Path); }), 30362);
  EXPECT_TRUE(TVLTDatabaseFile::FileExists(Other));
  EXPECT_FALSE(TVLTDatabaseFile::FileExists(Path));
  EXPECT_FALSE(TVLTDatabaseFile::FileExists(Dir));
}

// ---- design mode ----

TEST_F(DatabaseFileTest, DesignTimeOpensNest) {
  MakeFile(Path, 8);
  TVLTDatabaseFile F;
  F.OpenFile(Path, amReadWrite, smShareDenyNone);
  F.CloseFile();  // the page manager closes right after opening in design mode
  F.SetDesignMode(true);
  F.OpenFileForDesignTime();
  F.OpenFileForDesignTime();
  EXPECT_TRUE(F.IsOpened());
  EXPECT_EQ(F.AccessMode(), amReadWrite);
  EXPECT_EQ(F.DesignOpenCount(), 2);
  EXPECT_TRUE(F.UnlockByte(5, 1));  // a failing unlock reports success in design mode
  F.CloseFileForDesignTime();
  EXPECT_TRUE(F.IsOpened());
  F.CloseFileForDesignTime();
  EXPECT_FALSE(F.IsOpened());
  F.CloseFileForDesignTime();  // extra closes are harmless
  EXPECT_EQ(F.DesignOpenCount(), 0);
}

}  // namespace
}  // namespace vlt
