// The native error codes of EVLTException, by layer, each with the text raised with it. The
// numbers are part of the engine's interface: stored logs, the command-line tools, callers and
// other processes compare them, so a code never changes and is never reused for another check.
// Each check site has a code of its own (10xxx general, stream and file errors; 20xxx storage,
// index, lock and session errors; 30xxx metadata, type, constraint and expression errors);
// internal consistency checks raise "Nil pointer occured" (VLTRaiseNilPointer) with theirs.
//
// Where a helper raises (VLTSeekStream, VLTReadBuffer, VLTWriteBuffer, VLTCopyStream, the file
// layer's ReadBuffer / WriteBuffer), the site passes the code and the helper's text is named.
#pragma once

#include <cstdint>

namespace vlt {

// ---- shared by every layer ----

// "<what> check failed: %s": a CheckInvariants found a broken invariant (a debug aid).
inline constexpr int32_t kErrInvariantCheck = 20981;

// ---- base: memory manager ----

inline constexpr int32_t kErrMemoryLimit = 30004;     // "Memory limit exceeded (Limit = %d bytes)"
inline constexpr int32_t kErrInvalidPointer = 30005;  // "Invalid pointer"
inline constexpr int32_t kErrAllocateZero = 30286;    // "Cannot allocate 0 bytes"

// ---- protect: streams, files, compressed streams, page encryption ----

// TVLTStream (LoadFromStream / SaveToStream / CopyFrom).
inline constexpr int32_t kErrStreamBlockSizeZero = 10418;  // "Stream block size = 0 is not allowed"
inline constexpr int32_t kErrStreamLoadRead = 10419;       // stream read
inline constexpr int32_t kErrStreamLoadWrite = 10420;      // stream write
inline constexpr int32_t kErrStreamSaveRead = 10422;       // stream read
inline constexpr int32_t kErrStreamSaveWrite = 10423;      // stream write
inline constexpr int32_t kErrStreamLoadSeek = 10425;       // stream seek

// TVLTFileStream.
inline constexpr int32_t kErrFileOpen = 10104;    // "Cannot open file. FileName = %s, Mode = %d"
inline constexpr int32_t kErrFileCreate = 10105;  // "Cannot create file. FileName = %s"
// "Cannot set file size. FileName = %s, Size = %d"
inline constexpr int32_t kErrFileSetSize = 10106;
inline constexpr int32_t kErrTempFileCreate = 10108;  // "Cannot create file. FileName = %s"

// TVLTTemporaryStream: the switch from memory to a temporary file.
inline constexpr int32_t kErrTemporarySwitchWrite = 10109;  // stream write
inline constexpr int32_t kErrTemporarySwitchSeek = 10112;   // stream seek

// TVLTCompressedBLOBStream.
inline constexpr int32_t kErrCompressedLoadSeek = 10080;  // stream seek
// "Stream size = %d too small. Should be at least = %d"
inline constexpr int32_t kErrCompressedPlainTooSmall = 10081;
// "Stream size = %d too small. Should be at least = %d"; stream read of a block header
inline constexpr int32_t kErrCompressedChainTooSmall = 10082;
inline constexpr int32_t kErrCompressedLoadEndSeek = 10083;  // stream seek
// "Invalid block header. Block = %d, Position = %d"
inline constexpr int32_t kErrCompressedHeaderLink = 10084;
// "Compress buffer failed. CompAlg = %d, CompMode = %d, InSize = %d, OutSize = %d"
inline constexpr int32_t kErrCompressedCompress = 10085;
// "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read =
// %d"; stream read of a block's data
inline constexpr int32_t kErrCompressedBlockRead = 10086;
// "Decompress buffer failed. CompAlg = %d, InSize = %d, OutSize = %d"
inline constexpr int32_t kErrCompressedDecompress = 10087;
// "Decompress buffer failed. UncompSize = %d, Header.UncompSize = %d"
inline constexpr int32_t kErrCompressedBlockSize = 10088;
// "Decompress buffer failed. CheckSum = %d, Header.Crc32 = %d"
inline constexpr int32_t kErrCompressedChecksum = 10089;
// "Cannot read from stream. ReadSize = %d"
inline constexpr int32_t kErrCompressedReadSize = 10090;
inline constexpr int32_t kErrCompressedBlockSeek = 10091;  // stream seek
inline constexpr int32_t kErrCompressedWriteSeek = 10092;  // stream seek
// "Invalid stream size = %d. Should be = %d"
inline constexpr int32_t kErrCompressedCutSize = 10093;
inline constexpr int32_t kErrCompressedPlainSeek = 10094;  // stream seek
// "Error writing to stream"
inline constexpr int32_t kErrCompressedRewrite = 10095;
// "Invalid extension size. NewSize = %d, UncompressedSize = %d, ExtensionSize = %d"
inline constexpr int32_t kErrCompressedExtension = 10098;
inline constexpr int32_t kErrCompressedHeaderWrite = 10100;  // stream write
inline constexpr int32_t kErrCompressedDataWrite = 10101;    // stream write
inline constexpr int32_t kErrNilContainingStream = 10102;    // "Nil pointer occured"
inline constexpr int32_t kErrCompressedCreateSeek = 10103;   // stream seek

// TVLTDatabaseCipher.
// "Cannot encrypt the password control block"
inline constexpr int32_t kErrControlBlockEncrypt = 30440;
// "Decrypt page error. Check CRC failed. PageNo: %d"
inline constexpr int32_t kErrDecryptPageCRC = 30446;

// ---- disk: the single-file engine ----

// VLTActiveSessionsFile
// "Cannot unlock sessions file"
inline constexpr int32_t kErrCannotUnlockSessionsFileInMultiUserConnect = 20093;
// "Cannot connect session. Maximum connections quantity exceeded or database is open in single-
// user mode"
inline constexpr int32_t kErrCannotConnectSessionMaximum = 20094;
// "Cannot disconnect session"
inline constexpr int32_t kErrCannotDisconnectSession = 20095;
// "Cannot unlock sessions file" (multi-user disconnect)
inline constexpr int32_t kErrSessionsUnlockMultiDisconnect = 20096;
// "Cannot unlock sessions file"
inline constexpr int32_t kErrCannotUnlockSessionsFileInSingleUserConnect = 20240;
// "Cannot unlock sessions file" (single-user disconnect)
inline constexpr int32_t kErrSessionsUnlockSingleDisconnect = 20241;
// "Cannot lock sessions file" (multi-user connect)
inline constexpr int32_t kErrSessionsLockMultiConnect = 20243;
// "Cannot lock sessions file" (multi-user disconnect)
inline constexpr int32_t kErrSessionsLockMultiDisconnect = 20244;
// "Cannot lock sessions file" (single-user connect)
inline constexpr int32_t kErrSessionsLockSingleConnect = 20245;
// "Cannot lock sessions file" (single-user disconnect)
inline constexpr int32_t kErrSessionsLockSingleDisconnect = 20246;
// "Cannot lock sessions file" (counting connections)
inline constexpr int32_t kErrSessionsLockCount = 20247;
// "Cannot unlock sessions file" (counting connections)
inline constexpr int32_t kErrSessionsUnlockCount = 30484;

// VLTDatabaseFile
// "Cannot create file: '%s' Error code: %d. ErrorMessage: %s"
inline constexpr int32_t kErrCannotCreateFileError = 30361;
// "Cannot delete file: '%s' Error code: %d. ErrorMessage: %s"
inline constexpr int32_t kErrCannotDeleteFileError = 30362;
// "Cannot open file:'%s' Error code: %d. ErrorMessage: %s"
inline constexpr int32_t kErrCannotOpenFileError = 30364;
// "Cannot close file:'%s' Error code: %d. ErrorMessage: %s"
inline constexpr int32_t kErrCannotCloseFileError = 30365;
// "Unknown Access mode: '%d'"
inline constexpr int32_t kErrUnknownAccessMode = 30366;
// "Unknown Share mode: '%d'"
inline constexpr int32_t kErrUnknownShareMode = 30367;
// "Cannot Truncate File '%s' to %d bytes. ErrorCode:%d. ErrorMessage: %s"
inline constexpr int32_t kErrCannotTruncateFileBytes = 30370;
// "Cannot Get File Size for file: '%s'. ErrorCode:%d. ErrorMessage: %s"
inline constexpr int32_t kErrCannotGetFileSize = 30371;
// "Cannot Set File Position to %d. FileName='%s'. FilePosition = %d, FileSize = %d"
inline constexpr int32_t kErrCannotSetFilePosition = 30372;
// "Cannot Get File Position. FileName='%s' ErrorCode:%d. ErrorMessage: %s"
inline constexpr int32_t kErrCannotGetFilePosition = 30373;
// "Cannot create file with blank FileName"
inline constexpr int32_t kErrCannotCreateFileBlank = 30374;
// "Cannot delete file: '%s': it is not open exclusively"
inline constexpr int32_t kErrCannotDeleteFileNot = 30376;
// "Cannot perform this operation (%s) on a closed file"
inline constexpr int32_t kErrCannotPerformOperationClosedInCheckOpened = 30376;
// "Cannot perform this operation (%s) on a opened file"
inline constexpr int32_t kErrCannotPerformOperationOpened = 30377;
// "Cannot rename file '%s' to '%s' ErrorCode:%d. ErrorMessage: %s"
inline constexpr int32_t kErrCannotRenameFileErrorCode = 30378;
// "Cannot flush file buffers for file: '%s'. ErrorCode:%d. ErrorMessage: %s"
inline constexpr int32_t kErrCannotFlushFileBuffers = 30379;

// VLTDiskBlob
// "Stream block size = 0 is not allowed"
inline constexpr int32_t kErrStreamBlockSizeNot = 20149;
// "Nil pointer occured"
inline constexpr int32_t kErrNilPageManager = 20150;
// "Cannot read BLOB field value"
inline constexpr int32_t kErrCannotReadBLOBField = 20162;
// "Field %d is not a BLOB field"
inline constexpr int32_t kErrFieldNotBLOBField = 20163;
// "Cannot read BLOB stream"
inline constexpr int32_t kErrCannotReadBLOBStream = 20165;
// "Cannot write BLOB field value"
inline constexpr int32_t kErrCannotWriteBLOBField = 20165;
// "Cannot find blob field"
inline constexpr int32_t kErrCannotFindBlobField = 20171;
// "Invalid blob field ID"
inline constexpr int32_t kErrInvalidBlobFieldID = 20172;
// "Invalid blob field size"
inline constexpr int32_t kErrInvalidBlobFieldSize = 20248;
// "Cannot add blob. Page is full: BlobCount=%d, BlobOffset=%d, BlobSize=%d, PageDataSize=%d,
// SizeInBlobPageIndex=%d"
inline constexpr int32_t kErrCannotAddBlobPage = 20290;
// "Damaged blob page %d: entry header at %d runs past the page"
inline constexpr int32_t kErrDamagedBlobPageEntry = 20291;

// VLTDiskDatabaseData
// "Error - database file is not opened."
inline constexpr int32_t kErrFileNotOpened = 10459;
// "Pointer is nil" (no table list)
inline constexpr int32_t kErrNilTableListAddTable = 20126;
// "Pointer is nil" (no table list)
inline constexpr int32_t kErrNilTableListOpenTable = 20129;
// "Pointer is nil" (no table list)
inline constexpr int32_t kErrNilTableListRemoveTable = 20130;
// "Pointer is nil" (no table list)
inline constexpr int32_t kErrNilTableListRenameTable = 20131;
// "Some table locks still exist"
inline constexpr int32_t kErrSomeTableLocksStillInDisconnectSession = 20201;
// "Database tables are locked"
inline constexpr int32_t kErrDatabaseTablesAreLocked = 20210;
// "Cannot unlock database tables"
inline constexpr int32_t kErrCannotUnlockDatabaseTables = 20211;
// "Cannot commit changes. Locks of modified tables failed"
inline constexpr int32_t kErrCannotCommitChangesLocks = 20233;
// "Cannot open database in multi-user and signle-user mode at the same time"
inline constexpr int32_t kErrCannotOpenDatabaseMulti = 20235;
// "Invalid database format"
inline constexpr int32_t kErrInvalidDatabaseFormat = 20237;
// "Unknown crypto algorithm: %d"
inline constexpr int32_t kErrUnknownCryptoAlgorithm = 20251;

// VLTDiskPageManager
// ""Error - database file is not opened." (writing)"
inline constexpr int32_t kErrFileNotOpenedForWrite = 10460;
// "Error - database file %s is in use."
inline constexpr int32_t kErrDatabaseFileUseInCreateAndOpenDatabase = 10461;
// "Error - database file %s is in use."
inline constexpr int32_t kErrDatabaseFileUseInOpenDatabase = 10462;
// file write of the database header
inline constexpr int32_t kErrWriteDBHeader = 10462;
// file read of the database header
inline constexpr int32_t kErrReadDBHeader = 10464;
// file write of a page
inline constexpr int32_t kErrWritePage = 10469;
// "Invalid file format. Found signature: '%s', expected: '%s'"
inline constexpr int32_t kErrInvalidFileFormatFound = 10470;
// "Invalid PageNo = %d"
inline constexpr int32_t kErrInvalidPageNo = 10471;
// file read of part of a page
inline constexpr int32_t kErrReadPageRegion = 10474;
// file write of part of a page
inline constexpr int32_t kErrWritePageRegion = 10475;
// "Error - invalid page offset = %d, page size = %d"
inline constexpr int32_t kErrInvalidPageOffsetPageInReadPageRegion = 10476;
// "Error - invalid page offset = %d, page size = %d"
inline constexpr int32_t kErrInvalidPageOffsetPageInWritePageRegion = 10477;
// "Cannot write changes. Database file was modified by an external application"
inline constexpr int32_t kErrCannotWriteChangesDatabase = 20196;
// "Database is locked"
inline constexpr int32_t kErrDatabaseLockedInApplyChanges = 20213;
// "Database is locked"
inline constexpr int32_t kErrDatabaseLockedInOpenDatabase = 20230;
// "Database is locked" (the header lock for an allocation)
inline constexpr int32_t kErrDatabaseLockedAllocate = 20231;
// "Database is locked"
inline constexpr int32_t kErrDatabaseLockedInPageCount = 20236;
// ""Error - database file is not opened.""
inline constexpr int32_t kErrFileNotOpenedObjectID = 30399;
// file read of the object-id counter
inline constexpr int32_t kErrReadLastObjectID = 30400;
// "Cannot get NextObjectID. File area is Locked."
inline constexpr int32_t kErrCannotGetNextObjectIDFile = 30401;
// file write of the object-id counter
inline constexpr int32_t kErrWriteLastObjectID = 30404;
// "Cannot delete PFS or EAM page. PageNo=%d"
inline constexpr int32_t kErrCannotDeletePFSEAM = 30434;
// ""Error - database file is not opened.""
inline constexpr int32_t kErrFileNotOpenedReadCrypto = 30436;
// ""Error - database file is not opened.""
inline constexpr int32_t kErrFileNotOpenedWriteCrypto = 30437;
// file write of the crypto header
inline constexpr int32_t kErrWriteCryptoHeader = 30438;
// file read of the crypto header
inline constexpr int32_t kErrReadCryptoHeader = 30439;
// ""Error - database file is not opened.""
inline constexpr int32_t kErrFileNotOpenedReadLockedBytes = 30441;
// file read of the locked bytes record
inline constexpr int32_t kErrReadLockedBytes = 30442;
// ""Error - database file is not opened.""
inline constexpr int32_t kErrFileNotOpenedWriteLockedBytes = 30443;
// file write of the locked bytes record
inline constexpr int32_t kErrWriteLockedBytes = 30444;
// ""Cannot open database - incorrect password""
inline constexpr int32_t kErrIncorrectPassword = 30445;
// "Cannot commit changes. The database was restored after another process stopped in the middle of
// a commit; repeat the transaction"
inline constexpr int32_t kErrCannotCommitChangesDatabase = 30542;

// VLTDiskRecordManager
// "Cannot add data item to page. Page is full"
inline constexpr int32_t kErrCannotAddDataItem = 20106;
// "Cannot set RecNo greater than RecordCount"
inline constexpr int32_t kErrCannotSetRecNoGreater = 20113;
// "Record not found. PageNo=%d, PageRecordCount=%d"
inline constexpr int32_t kErrRecordNotFoundPageNo = 20143;
// "Record not found"
inline constexpr int32_t kErrRecordNotFoundInNavigateNext20144 = 20144;
// "Record not found"
inline constexpr int32_t kErrRecordNotFoundInNavigateNext20145 = 20145;
// "Record not found"
inline constexpr int32_t kErrRecordNotFoundInNavigatePrior20146 = 20146;
// "Record not found"
inline constexpr int32_t kErrRecordNotFoundInNavigatePrior20147 = 20147;
// "Record not found"
inline constexpr int32_t kErrRecordNotFoundInSetRecNo = 20148;
// "Invalid page type. Possible data corruption. Expecting type %d, but found %d (page %d of table
// '%s')"
inline constexpr int32_t kErrInvalidPageTypePossible = 20153;
// stream read of an index root in the metadata
inline constexpr int32_t kErrReadIndexRoot = 20170;
// stream write of an index root in the metadata
inline constexpr int32_t kErrWriteIndexRoot = 20171;
// "Cannot create table. Record is too large to fit in current database page. Please increase page
// size of database file or decrease record size"
inline constexpr int32_t kErrCannotCreateTableRecord = 20174;
// "Invalid table RecordPageIndex. Page %d: %s"
inline constexpr int32_t kErrInvalidTableRecordPageIndexPage = 20292;

// VLTDiskTableData
// "Cannot repair page index for large table. Table name: "%s""
inline constexpr int32_t kErrCannotRepairPageIndex = 10512;
// "Error creating table - no fields were specified"
inline constexpr int32_t kErrCreatingTableNoFields = 20128;
// "Nil pointer occured"
inline constexpr int32_t kErrNilBlobManagerInReadBLOBField = 20161;
// "Invalid table header data"
inline constexpr int32_t kErrInvalidTableHeaderData = 20164;
// "Nil pointer occured"
inline constexpr int32_t kErrNilBlobManagerInWriteBLOBFieldToRecordBuffer = 20166;
// ""Nil pointer occured""
inline constexpr int32_t kErrNilDiskDatabase = 20176;
// ""Pointer is nil""
inline constexpr int32_t kErrNilMostUpdatedFileLoad = 20176;
// "Nil pointer occured"
inline constexpr int32_t kErrNilTableMostUpdatedFile = 20177;
// "Nil pointer occured"
inline constexpr int32_t kErrNilFieldManagerInLoadMostUpdated = 20178;
// "Nil pointer occured"
inline constexpr int32_t kErrNilInSaveMetadataFile = 20179;
// "Nil pointer occured"
inline constexpr int32_t kErrNilInLoadMetadataFile = 20180;
// "Nil pointer occured"
inline constexpr int32_t kErrNilRecordManagerCount = 20181;
// "Nil pointer occured"
inline constexpr int32_t kErrNilRMInInternalSetRecNo = 20182;
// "Nil pointer occured"
inline constexpr int32_t kErrNilRMInInternalGetRecNo = 20183;
// "Nil pointer occured"
inline constexpr int32_t kErrNilFieldManagerInLastAutoincValue = 20184;
// "Nil pointer occured"
inline constexpr int32_t kErrNilRMInGetRecordBitmapSize = 20185;
// "Nil pointer occured"
inline constexpr int32_t kErrNilTableLocksFileInLockTable = 20186;
// "Nil pointer occured"
inline constexpr int32_t kErrNilTableLocksFileInUnlockTable = 20188;
// "Nil pointer occured"
inline constexpr int32_t kErrNilTableLocksFileInLockRecord = 20190;
// "Nil pointer occured"
inline constexpr int32_t kErrNilTableLocksFileInUnlockRecord = 20191;
// "Nil pointer occured"
inline constexpr int32_t kErrNilTableLocksFileInIsRecordLocked = 20192;
// "Nil pointer occured"
inline constexpr int32_t kErrNilBackingDiskDatabase = 20193;
// "Cannot access table '%s' in exclusive mode. Table is open by another user"
inline constexpr int32_t kErrCannotAccessTableExclusiveInOpenTable20208 = 20208;
// "Cannot open table '%s'. Table is locked"
inline constexpr int32_t kErrCannotOpenTableTable = 20209;
// "Table is locked"
inline constexpr int32_t kErrTableLockedInLocate = 20214;
// "Table is locked"
inline constexpr int32_t kErrTableLockedInFindKey = 20215;
// "Table is locked"
inline constexpr int32_t kErrTableLockedInInternalGetRecordCount = 20218;
// "Table is locked"
inline constexpr int32_t kErrTableLockedInInternalSetRecNo = 20219;
// "Table is locked"
inline constexpr int32_t kErrTableLockedInInternalGetRecNo = 20220;
// "Cannot access table '%s' in exclusive mode. Table is open by other cursors"
inline constexpr int32_t kErrCannotAccessTableExclusiveInOpenTable20242 = 20242;

// VLTDiskTablePagesCache
// "Invalid Session ID"
inline constexpr int32_t kErrInvalidSessionID = 20186;

// VLTFreeSpaceManager
// "Database is locked" (the header lock for a release)
inline constexpr int32_t kErrDatabaseLockedFree = 20232;
// "Error reading database file page. Page No: %d, type %d"
inline constexpr int32_t kErrReadingDatabaseFilePage = 20299;
// "Wrong page type. Found '%s', but expecting: '%s'" (a bitmap page)
inline constexpr int32_t kErrBitmapTypeSearch = 30423;
// "Wrong page type. Found '%s', but expecting: '%s'" (a bitmap page)
inline constexpr int32_t kErrBitmapTypeSetPFSBit = 30424;
// "Page: %d already used"
inline constexpr int32_t kErrPageAlreadyUsed = 30425;
// "Page: %d already free"
inline constexpr int32_t kErrPageAlreadyFree = 30427;
// "Wrong page type. Found '%s', but expecting: '%s'" (a bitmap page)
inline constexpr int32_t kErrBitmapTypeUpdateEAM = 30428;
// ""Page: %d cannot be addressed. TotalPageCount=%d"; also the page type check of a PFS page"
inline constexpr int32_t kErrPageCannotBeAddressed = 30430;
// ""Page: %d cannot be addressed. TotalPageCount=%d""
inline constexpr int32_t kErrPageCannotBeAddressedUpdateEAM = 30431;
// "Wrong page type. Found '%s', but expecting: '%s'" (a bitmap page)
inline constexpr int32_t kErrBitmapTypeFindLastUsed = 30432;

// VLTInternalFile
// "Invalid PageType found: %d but expecting: %d"
inline constexpr int32_t kErrInvalidPageTypeFoundBut = 20155;
// "Cannot perform this operation (%s) on closed internal file"
inline constexpr int32_t kErrCannotPerformOperationClosedInCheckOpen20156 = 20156;
// "Cannot create internal file. File already exists. StartPageNo=%d"
inline constexpr int32_t kErrCannotCreateInternalFileInCreateFile20157 = 20157;
// "Cannot write after end of file. FileSize=%d. Position=%d, Count=%d"
inline constexpr int32_t kErrCannotWriteAfterEnd = 20158;
// "Seek position bigger than file size. FileSize=%d. Position=%d"
inline constexpr int32_t kErrSeekPositionBiggerFile = 20159;
// "Table file compression error"
inline constexpr int32_t kErrTableFileCompressionError = 20187;
// "Table file decompression error. Possible table corruption (%s)"
inline constexpr int32_t kErrTableFileDecompressionError = 20189;
// "Cannot read after end of file. FileSize=%d. Position=%d, Count=%d"
inline constexpr int32_t kErrCannotReadAfterEnd = 20249;
// "Error getting %d-th table file page. Probably database is corrupted and needs repair."
inline constexpr int32_t kErrGettingThTableFile = 20300;
// "Invalid page number"
inline constexpr int32_t kErrInvalidPageNumber = 20301;
// "Nil pointer occured"
inline constexpr int32_t kErrNilDataInCreateFile = 20380;
// "Cannot create internal file. File already exists. StartPageNo=%d"
inline constexpr int32_t kErrCannotCreateInternalFileInCreateFile30383 = 30383;
// "Cannot read internal file. FileSize=%d. ReadSize=%d"
inline constexpr int32_t kErrCannotReadInternalFileInReadFile = 30387;
// "Cannot read internal file. Wanted %d bytes, but only %d bytes found"
inline constexpr int32_t kErrCannotReadInternalFileInGetCheckedSize = 30388;
// "Cannot perform this operation (%s) on closed internal file"
inline constexpr int32_t kErrCannotPerformOperationClosedInCheckOpen30389 = 30389;
// "Invalid internal file size: %d"
inline constexpr int32_t kErrInvalidInternalFileSize = 30390;
// "Cannot write internal file. WriteSize=%d"
inline constexpr int32_t kErrCannotWriteInternalFile = 30391;
// "Internal file chain is damaged. StartPageNo=%d. NextPageNo=%d"
inline constexpr int32_t kErrInternalFileChainDamaged = 30394;

// VLTRecordPage
// "Invalid number of records on page"
inline constexpr int32_t kErrInvalidNumberRecordsPage = 20140;
// "Nil pointer occured"
inline constexpr int32_t kErrNilRecordPageData = 20141;

// VLTRollbackJournal
// file write of the rollback journal
inline constexpr int32_t kErrJournalWrite = 30540;

// VLTSystemDirectory
// "Error creating SystemDirectory. SystemDirectoryPageNo=%d. Real PageNo=%d."
inline constexpr int32_t kErrCreatingSystemDirectory = 30392;

// VLTTableList
// "Table list file already opened."
inline constexpr int32_t kErrTableListFileAlready = 30393;
// "Cannot create table. Table '%s' already exists"
inline constexpr int32_t kErrCannotCreateTableTable = 30395;
// "Table '%s' does not exist."
inline constexpr int32_t kErrTableDoesNotExistInOpenTable = 30396;
// "Table '%s' does not exist."
inline constexpr int32_t kErrTableDoesNotExistInRenameTable = 30397;
// "Cannot rename table. Table '%s' already exists"
inline constexpr int32_t kErrCannotRenameTableTable = 30398;
// "Table '%s' does not exist."
inline constexpr int32_t kErrTableDoesNotExistInRemoveTable = 30405;

// VLTTableLockManager
// "Cannot set table lock. Try to repair the database or increase number of allowed connections"
inline constexpr int32_t kErrCannotSetTableLockInListOf = 20200;
// "Cannot remove table lock. Lock not found"
inline constexpr int32_t kErrCannotRemoveTableLock = 20202;
// "Cannot set table lock"
inline constexpr int32_t kErrCannotSetTableLockInLockTable = 20203;
// "Cannot unlock table"
inline constexpr int32_t kErrCannotUnlockTable = 20204;
// "Cannot lock record"
inline constexpr int32_t kErrCannotLockRecord = 20205;
// "Cannot unlock record"
inline constexpr int32_t kErrCannotUnlockRecord = 20206;
// "Some table locks still exist"
inline constexpr int32_t kErrSomeTableLocksStillInAddRWLocksBeforeCommit = 20234;

// VLTTableLocks
// "Nil pointer occured" (locks file not open)
inline constexpr int32_t kErrLocksFileClosedStartPageNo = 10483;
// "Nil pointer occured" (locks file not open)
inline constexpr int32_t kErrLocksFileClosedLockTable = 10489;
// "Nil pointer occured" (locks file not open)
inline constexpr int32_t kErrLocksFileClosedIsTableLocked = 10490;
// "Nil pointer occured" (locks file not open)
inline constexpr int32_t kErrLocksFileClosedLockRecord = 10491;
// "Nil pointer occured" (locks file not open)
inline constexpr int32_t kErrLocksFileClosedUnlockRecord = 10492;
// "Nil pointer occured" (locks file not open)
inline constexpr int32_t kErrLocksFileClosedIsRecordLocked = 10493;
// "Nil pointer occured" (locks file not open)
inline constexpr int32_t kErrLocksFileClosedUnlockTable = 10494;

}  // namespace vlt
