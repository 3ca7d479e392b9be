// The conversion driver: one run over the backup folders of a chosen folder, handing each folder
// to the five data areas in their fixed order, writing the conversion logs and ending with one
// message. The areas decide for themselves whether a folder is their business.
//
// Run life cycle (ConvertData):
//
//   step  what                                               method
//   1     switch the window to converting                    TConversionUI::SetConverting(true)
//   2     prepare the contributions database component       PrepareContributionsDatabase
//   3-5   find the backup folders                             GetBkpDirs
//   6     per folder while ConversionError is 0, each area    ConvertContributions, WriteLog,
//         of the table of areas (Areas.h) in its order:        ConvertPayroll .. ConvertLedger
//         contributions and its log, then the table copies
//   7     the final message                                   FinalMessage
//   8     back to idle                                        TConversionUI::SetConverting(false)
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/conversion/Areas.h"
#include "app/conversion/ConversionUI.h"

namespace vlt::app {

class TTargetComponents;
class TContributionsRun;
struct TRunReport;

// The final message texts.
inline constexpr const char* kMsgNoBackups = "No backups found to convert.";
inline constexpr const char* kMsgComplete = "Conversion Complete.";
inline constexpr const char* kMsgErrors =
    "Errors occured during the conversion.\r\nContact XLQ support for further assistance.";
inline constexpr const char* kMsgFolderBusy = "This backup is being converted by another program.";
inline constexpr const char* kMsgInvalidFolder = "Folder selected is invalid or not accessible.";
inline constexpr const char* kSelectCaption = "Select Backup to Convert";
inline constexpr const char* kMsgStopConversion = "A conversion is in progress. Stop it?";

// How a run ended, for front ends that need more than the message boxes.
// Cancelled: a stop request ended the run at a record boundary (no final message box).
enum class TRunOutcome { NoBackups, Complete, Errors, Cancelled };

class TConverter {
 public:
  explicit TConverter(TConversionUI& UI);
  virtual ~TConverter();
  TConverter(const TConverter&) = delete;
  TConverter& operator=(const TConverter&) = delete;

  // Once, when the main window is created: registers the extended index definitions of the
  // ledger tables on their components.
  virtual void FormCreate();

  // The whole run over FolderText (the text of the folder edit).
  TRunOutcome ConvertData(const std::string& FolderText);

  // Appends to List the full paths of the backup folders directly inside Directory, in the order
  // the listing yields them: folders whose names end exactly in ".bkp".
  static void GetBkpDirs(const std::string& Directory, std::vector<std::string>& List);

  // Folder choice: Chosen is what the folder dialog returned (empty = cancelled). Returns the
  // new text of the folder edit, or Current unchanged (after an error box for a bad folder).
  std::string SelectFolder(const std::string& Chosen, const std::string& Current);

  // The table-copy area conversions. Each returns 1 when it created and filled its target
  // database, else 0; each reads BackupDir, writes its own log file and empties the log buffer.
  // ConvertCopyArea does it for any table-copy area from its row of the table of areas; the named
  // ones are the entry points the driver calls for their areas (ConvertCopyArea of the area).
  int32_t ConvertCopyArea(TArea Area);
  virtual int32_t ConvertPayroll();
  virtual int32_t ConvertChkSch();
  virtual int32_t ConvertLoans();
  virtual int32_t ConvertLedger();

  // The target database and table components (made on first use; starts the engine).
  TTargetComponents& Targets();

  // After each run: every table of every table-copy area converted in it compared with its
  // sources, and every backup folder's files hashed before and after (on by default).
  void SetVerify(bool On) { FVerify = On; }
  // The engine's own table check as part of the verification (off: it reads every page again).
  void SetCheckTables(bool On) { FCheckTables = On; }
  // The free bytes of the file system a folder lies on (tests give their own).
  std::function<uint64_t(const std::string&)> FreeSpaceOf;
  const TRunReport& Report() const { return *FReport; }

  // Run state.
  const std::string& BackupDir() const { return FBackupDir; }
  int32_t ConversionError() const { return FConversionError; }
  int32_t ConvertedCount() const { return FConvertedCount; }
  std::vector<std::string>& LogBuffer() { return FLog; }

  // Writes the log buffer (8-bit text, CR LF) to FileName inside BackupDir when it holds a line.
  void WriteLog(const std::string& FileName);

  // At a record boundary: raises TConversionCancelled when the user asked to stop.
  void CheckCancelled();

 protected:
  // Once per run, before any folder: gives the contributions database component its settings.
  virtual void PrepareContributionsDatabase();
  // The contributions step for BackupDir; returns true when it counted a conversion. It may set
  // ConversionError and leaves its log lines in the buffer for the driver.
  virtual bool ConvertContributions();
  // Called by the contributions step just before its working tables are deleted (for tests).
  virtual void InspectWorkingTables() {}

  void SetConversionError(int32_t Code) { FConversionError = Code; }
  void AddLog(std::string Line) { FLog.push_back(std::move(Line)); }
  TConversionUI& UI() { return FUI; }

 private:
  friend class TContributionsRun;

  TRunOutcome RunFolders(const std::string& FolderText);
  // The contributions step of the run for BackupDir: the conversion, its log, its outcome and
  // its verification.
  void RunContributions();
  // Runs one table-copy area's conversion, counts it and verifies what it wrote.
  void Count(TArea Area, const std::function<int32_t()>& Convert);
  // Refuses Area when the backup folder's file system has less room than the area needs while
  // it converts: the message goes to the area's log and the area counts as failed. True when
  // the area may go on.
  bool RoomFor(TArea Area);

  // The skeleton of the table-copy areas (after the folder and source conditions held): the
  // bar's range and step, the database component's settings, Body inside one error handler,
  // the closing line and the log file. An error that reaches the handler is logged; when the
  // area had not finished, its partial database (and compaction file) is closed and deleted so
  // that a later run converts the area again. Body returns the area's result.
  int32_t RunCopyArea(TArea Area, const std::string& TargetFile, const std::string& LogFile,
                      int Step, const char* ClosingLine, const std::function<int32_t()>& Body,
                      const std::function<void()>& BeforeLog = {});
  // Copies each pair into its target table, stepping the bar after each table that opened.
  void CopyPairs(TArea Area, std::span<const TCopyPair> Pairs, bool EventsBetweenTables);
  // One pair with per-record progress (check schedule, loans); a source that cannot be opened
  // ends the area with an error.
  void CopyWithRecordProgress(TArea Area, const TCopyPair& Pair);
  // Closes the area's tables and database, compacts the file, and publishes it under the
  // target's name (the database component names the temporary file).
  void CloseAndCompact(TArea Area);
  // Clears what interrupted runs left in every backup folder of the run; the notes go to the
  // report and, through TakeRecoveryNotes, to the start of the area's log.
  void RecoverFolders(const std::vector<std::string>& Backups);
  void TakeRecoveryNotes(TArea Area);
  // The database of an area without its sources: its tables, empty (nothing logged).
  void MakeEmptyDatabase(TArea Area, const std::string& TargetFile);

  TConversionUI& FUI;
  std::string FBackupDir;
  int32_t FConversionError = 0;
  int32_t FConvertedCount = 0;
  std::vector<std::string> FLog;
  std::unique_ptr<TTargetComponents> FTargets;
  bool FVerify = true;
  bool FCheckTables = true;
  std::unique_ptr<TRunReport> FReport;
  // Recovery notes waiting for their area's log, by backup folder and area.
  std::map<std::pair<std::string, TArea>, std::vector<std::string>> FRecoveryNotes;
};

}  // namespace vlt::app
