#include "app/conversion/FileUtil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/app/TestDirs.h"

namespace vlt::app {
namespace {

using test::ReadFile;
using test::TTempDir;
using test::WriteFile;

TEST(FileUtil, NameParts) {
  EXPECT_EQ(ExtractFileExt("/a/b/2012cont.bkp"), ".bkp");
  EXPECT_EQ(ExtractFileExt("/a.b/c"), "");
  EXPECT_EQ(ExtractFileExt("/a/b/x.BKP"), ".BKP");
  EXPECT_EQ(ExtractFilePath("/a/b/c.bkp"), "/a/b/");
  EXPECT_EQ(ExtractFileName("/a/b/c.bkp"), "c.bkp");
  EXPECT_EQ(JoinPath("/a/", "b"), "/a/b");
  EXPECT_EQ(JoinPath("/a", "b"), "/a/b");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("/a/b//"), "/a/b");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("/"), "/");
}

TEST(FileUtil, FindsFilesWithoutRegardToCase) {
  TTempDir T;
  WriteFile(T / "CONTFILE.DB", "x");
  WriteFile(T / "Funds.db", "y");
  EXPECT_EQ(FindFileNoCase(T.Path(), "contfile.db"), T / "CONTFILE.DB");
  EXPECT_EQ(FindFileNoCase(T.Path(), "funds.DB"), T / "Funds.db");
  EXPECT_EQ(FindFileNoCase(T.Path(), "servs.db"), "");
}

TEST(WriteLogFile, CrLfTruncatesAndSkipsEmptyBuffers) {
  TTempDir T;
  std::string Log = T / "Conversion_Log.txt";
  WriteLogFile(Log, {});
  EXPECT_FALSE(FileExists(Log));
  WriteFile(Log, "a much longer earlier log that must disappear\r\n");
  WriteLogFile(Log, {"Error copying \xE9t\xE9", "Conversion Complete"});
  EXPECT_EQ(ReadFile(Log), "Error copying \xE9t\xE9\r\nConversion Complete\r\n");
  WriteLogFile(Log, {});  // an empty buffer leaves the old log alone
  EXPECT_EQ(ReadFile(Log), "Error copying \xE9t\xE9\r\nConversion Complete\r\n");
  EXPECT_THROW(WriteLogFile(T / "missing/dir/log.txt", {"x"}), std::system_error);
}

}  // namespace
}  // namespace vlt::app
