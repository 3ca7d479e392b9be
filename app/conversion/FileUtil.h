// File helpers of the application: existence tests, name parts, case-insensitive look-up inside
// a backup folder (backups come from a case-insensitive file system), directory listing and the
// conversion log writer.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vlt::app {

constexpr char kPathDelim = '/';

bool FileExists(const std::string& Path);       // a file (not a folder)
bool DirectoryExists(const std::string& Path);  // a folder
std::string IncludeTrailingPathDelimiter(std::string_view Path);
std::string ExcludeTrailingPathDelimiter(std::string_view Path);
// The part from the last '.' of the last path element, or "" when it has none.
std::string ExtractFileExt(std::string_view Path);
// The text up to and including the last path delimiter ("" when there is none).
std::string ExtractFilePath(std::string_view Path);
std::string ExtractFileName(std::string_view Path);
// Whether S ends with Suffix, compared exactly.
bool EndsWith(std::string_view S, std::string_view Suffix);
// Dir joined with Name by exactly one delimiter.
std::string JoinPath(std::string_view Dir, std::string_view Name);

// One entry of a directory listing.
struct TDirEntry {
  std::string Name;
  bool IsDirectory = false;
};
// The entries of Dir in the order the file system yields them, without "." and "..". An
// unreadable or missing folder lists nothing.
std::vector<TDirEntry> ListDirectory(const std::string& Dir);

// The path of the file in Dir whose name equals Name without regard to case; the exact name
// wins when several match. Empty when there is none.
std::string FindFileNoCase(const std::string& Dir, std::string_view Name);

// The folder in Dir whose name equals Name without regard to case; the exact name wins. Empty
// when there is none.
std::string FindDirNoCase(const std::string& Dir, std::string_view Name);

// An exclusive lock on a folder, held from construction to destruction, that keeps a second
// conversion out of a backup folder: flock on the folder's own descriptor, so nothing is added
// to the folder. Held() is false when another process holds it (or the folder cannot be opened).
class TFolderLock {
 public:
  explicit TFolderLock(const std::string& Dir);
  ~TFolderLock();
  TFolderLock(TFolderLock&& Other) noexcept : FFd(Other.FFd) { Other.FFd = -1; }
  TFolderLock(const TFolderLock&) = delete;
  TFolderLock& operator=(const TFolderLock&) = delete;
  TFolderLock& operator=(TFolderLock&&) = delete;
  bool Held() const { return FFd >= 0; }

 private:
  int FFd = -1;
};

// Removes a file; false when it could not be removed (a missing file counts as removed).
bool DeleteFileIfExists(const std::string& Path);

// Renames From to To unless To exists; false when the rename did not happen.
bool RenameNoReplace(const std::string& From, const std::string& To);

// Copies From to To byte for byte, replacing To: the copy is written to a temporary file beside
// To, synced, and renamed over it, so To is always either the old or the whole new file. The
// copy takes From's permissions, owner and group.
// Throws std::system_error naming the file on failure (and leaves no temporary file behind).
void CopyFileReplacing(const std::string& From, const std::string& To);

// Writes Lines to Path, each ending in CR LF, as they stand (8-bit text); creates or truncates
// the file. Nothing is written, and no file is made, when Lines is empty. Throws
// std::system_error when the file cannot be written.
void WriteLogFile(const std::string& Path, const std::vector<std::string>& Lines);

}  // namespace vlt::app
