// TBackupFile: the archive engine. Packs a list of files and masks into a .bck
// archive of independent 16 KiB zlib chunks, optionally split into volumes,
// and reads such an archive back (title, counts, file-ID list, files).
//
// Threading: every operation runs synchronously on the caller's thread and
// yields to the host after each chunk; an instance runs one operation at a time.
//
// Failures: operations answer a Boolean; the reason is an error code (1-7,
// kErrorMessages) delivered once through OnError or the host's error box.
// A few failures leave an operation as an exception (StreamError or
// ArchiveError) carrying their message.
//
// Stream archives (":STREAM"): Backup never splits an archive written to
// OutStream, whatever MaxSize says, since a caller's stream has no next volume;
// a volume-change record met while reading InStream is an invalid archive.
#pragma once

#include "codec.h"
#include "host.h"
#include "platform.h"
#include "stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

namespace arcovelo {

enum TBackupMode : std::uint8_t { bmAll = 0, bmIncremental = 1 };
enum TRestoreMode : std::uint8_t { rmAll = 0, rmNoOverwrite = 1, rmNewer = 2, rmExisting = 3, rmExistingNewer = 4 };
enum TCompressionLevel : std::uint8_t { clFastest = 0, clNone = 1, clDefault = 2, clMax = 3 };
using TPercentage = std::uint8_t;  // 0..100

// Error codes; kErrorMessages[code] is the exact message.
enum : int {
    errReadFile = 1,
    errOverwrite = 2,  // defined with its message; no operation records it
    errReadArchive = 3,
    errWriteArchive = 4,
    errInvalidArchive = 5,
    errCompression = 6,
    errTempFile = 7,
};
// The message of an error code, empty outside 1..7.
std::string ErrorMessage(int code);

// Raised where an archive cannot be read at all: "Cannot read archive" and
// "Invalid archive type".
class ArchiveError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TBackupFile;
class TaskQueue;
class RecordVisitor;
using TProgressEvent = std::function<void(TBackupFile* Sender, const std::string& Filename, TPercentage Percent,
                                          bool& Continue)>;
using TNeedDiskEvent = std::function<void(TBackupFile* Sender, std::uint16_t DiskID, bool& Continue)>;
using TRestoreFileEvent =
    std::function<void(TBackupFile* Sender, std::string& Filename, std::int32_t FA, bool& DoRestore)>;
using TFileRestoredEvent = std::function<void(TBackupFile* Sender, std::string& Filename, Stream& Stream)>;
using TBackupErrorEvent = std::function<void(TBackupFile* Sender, int Error, const std::string& ErrString)>;
// A file Backup has written whole into the archive.
using TFileWrittenEvent = std::function<void(TBackupFile* Sender, const std::string& Filename)>;
// Something Backup was asked to take and could not: a folder it cannot read,
// a path too long to open, a listed file that is not there (any more).
using TBackupWarningEvent = std::function<void(TBackupFile* Sender, const std::string& Text)>;

// Which stored names a restore takes. With `include` empty every file is
// taken; otherwise a file is taken when a pattern of `include` matches it and
// none of `exclude` does. A pattern is an exact stored name, a mask (* and ?)
// matched against the whole stored name, or a folder name that takes every
// name stored below it; a pattern without a separator matches any one file or
// folder name of the stored path ("*.log", "cache"). Names compare as the
// platform compares them (restore_selection.h).
struct TRestoreSelection {
    std::vector<std::string> include;
    std::vector<std::string> exclude;
    // Stored names taken as they are, never as masks or folders: the rows a
    // person picked from the file-ID list (a name may hold '*' or '?').
    std::unordered_set<std::string> names{};
    bool empty() const { return include.empty() && exclude.empty() && names.empty(); }
};

// What a restore would do with one selected file (PlanRestore).
enum TPlanAction : std::uint8_t {
    paWrite,         // a new file
    paReplace,       // over the file there
    paSkipExists,    // the mode writes no existing file
    paSkipNotNewer,  // the file there is as new as the stored one, or newer
    paSkipMissing,   // the mode writes only over existing files
    paRefuse,        // the restore would fail here (code 1): see `reason`
};
struct TRestorePlanEntry {
    std::string name;         // as stored
    std::string destination;  // where the restore puts it
    TPlanAction action = paWrite;
    std::string reason;       // paRefuse: why the destination cannot be written
};

// How a selected file compares with the file at its restore destination.
enum TCompareResult : std::uint8_t {
    crSame,        // the same bytes
    crDiffers,     // other bytes, or another length
    crMissing,     // no file there
    crUnreadable,  // a file there that cannot be read, or no place to put it
};
struct TCompareEntry {
    std::string name;         // as stored
    std::string destination;  // where the restore puts it
    TCompareResult result = crSame;
};

// One problem found by TestArchive.
struct ArchiveDamage {
    std::string file;  // stored name of the record, empty outside any record
    std::string what;
};

class TBackupFile {
public:
    TBackupFile();
    ~TBackupFile();
    TBackupFile(const TBackupFile&) = delete;
    TBackupFile& operator=(const TBackupFile&) = delete;

    // --- published attributes
    std::string Version() const { return "5.00"; }
    void SetVersion(const std::string&) {}  // accepted, no effect

    const std::string& BackupTitle() const { return backupTitle_; }
    void SetBackupTitle(const std::string& v) { backupTitle_ = v; }

    TBackupMode BackupMode() const { return backupMode_; }
    // Switching to bmIncremental also sets SetArchiveFlag.
    void SetBackupMode(TBackupMode v);

    TCompressionLevel CompressionLevel() const { return compressionLevel_; }
    void SetCompressionLevel(TCompressionLevel v) { compressionLevel_ = v; }

    TRestoreMode RestoreMode() const { return restoreMode_; }
    void SetRestoreMode(TRestoreMode v) { restoreMode_ = v; }

    // Largest volume in bytes; 0 = one volume of any size.
    std::int32_t MaxSize() const { return maxSize_; }
    void SetMaxSize(std::int32_t v) { maxSize_ = v; }

    bool SetArchiveFlag() const { return setArchiveFlag_; }
    void SetSetArchiveFlag(bool v) { setArchiveFlag_ = v; }

    bool RestoreFullPath() const { return restoreFullPath_; }
    void SetRestoreFullPath(bool v) { restoreFullPath_ = v; }

    bool SaveFileID() const { return saveFileID_; }
    void SetSaveFileID(bool v) { saveFileID_ = v; }

    // What Backup leaves out while it expands its entries: file and folder
    // names or masks, or paths with a separator (LeavesOut in
    // restore_selection.h); an excluded folder is not entered.
    const std::vector<std::string>& BackupExclude() const { return backupExclude_; }
    void SetBackupExclude(std::vector<std::string> v) { backupExclude_ = std::move(v); }
    // Whether recursion enters hidden folders too (default: no).
    bool BackupHidden() const { return backupHidden_; }
    void SetBackupHidden(bool v) { backupHidden_ = v; }

    // The files Restore takes (default: all of them).
    const TRestoreSelection& Selection() const { return selection_; }
    void SetSelection(TRestoreSelection v) { selection_ = std::move(v); }

    TProgressEvent OnProgress;
    TNeedDiskEvent OnNeedDisk;
    TRestoreFileEvent OnRestoreFile;
    TFileRestoredEvent OnFileRestored;
    TBackupErrorEvent OnError;
    // Unassigned: the host's ShowWarning.
    TBackupWarningEvent OnWarning;
    TFileWrittenEvent OnFileWritten;

    // --- public, read-only results of the last operation
    std::int32_t FileCount() const { return fileCount_; }
    // Backup: the real total of source bytes (the header keeps at most 2^31-1);
    // readers: the header's value.
    std::int64_t TotalSize() const { return totalSize_; }
    std::int32_t ProcessedCount() const { return processedCount_; }
    std::int64_t BytesProcessed() const { return bytesProcessed_; }
    std::int64_t BytesWritten() const { return bytesWritten_; }
    // Hidden folders the last Backup came upon and did not enter.
    std::int32_t HiddenFoldersSkipped() const { return hiddenFoldersSkipped_; }
    // Code of the failure that stopped the last operation; 0 when none.
    int ErrorCode() const { return errorCode_; }
    // What lies behind ErrorCode for a person to read: the file and the
    // system's reason ("/home/ann/x.odt: No space left on device"); empty when
    // nothing more is known.
    const std::string& ErrorDetail() const { return errorDetail_; }

    Stream* OutStream() const { return outStream_; }
    void SetOutStream(Stream* s) { outStream_ = s; }
    Stream* InStream() const { return inStream_; }
    void SetInStream(Stream* s) { inStream_ = s; }

    // --- speed: workers for listing, compressing and inflating, the caller's
    // thread included (1 = all on the caller's thread), and the chunk codec.
    // The archive bytes, the callbacks and the counters do not depend on the
    // number of workers.
    int Workers() const { return workers_; }
    void SetWorkers(int n) { workers_ = n < 1 ? 1 : n; }
    CodecKind Codec() const { return codec_; }
    void SetCodec(CodecKind kind) { codec_ = kind; }

    // --- services; by default the native file system and a headless host
    void SetFileSystem(std::shared_ptr<FileSystem> fs) { fs_ = std::move(fs); }
    FileSystem& Files() { return *fs_; }
    void SetHost(std::shared_ptr<BackupHost> host) { host_ = std::move(host); }

    // --- operations
    // Writes every file matched by `FileList` (names or masks, each optionally
    // followed by " /s") into `ArchiveName`. True only when the end marker was
    // written and every volume is on stable storage; only then are the archive
    // flags cleared (with SetArchiveFlag), all together. What cannot be taken
    // goes to OnWarning and leaves the result alone. Throws StreamError when a
    // listed file exists but cannot be opened while sizes are taken.
    bool Backup(const std::vector<std::string>& FileList, const std::string& ArchiveName);
    // 100 - BytesWritten*100/TotalSize of the last Backup; 0 when TotalSize is 0.
    std::int32_t CompressionRate() const;

    // Reads title, counts and (into `List`, when given and present) the
    // file-ID list lines. A missing file returns silently; codes 3 and 5 are
    // reported at once.
    void GetArchiveInfo(const std::string& ArchiveName, std::vector<std::string>* List, std::string& Title);
    // Restores the archive to the stored paths (`DestPath` empty) or below
    // `DestPath`. True when the whole archive was read without failure or
    // cancellation. Throws ArchiveError("Cannot read archive") when the header
    // cannot be read, and ArchiveError/StreamError where reading between
    // records fails (an archive without end marker ends that way).
    bool Restore(const std::string& ArchiveName, const std::string& DestPath);
    // Reads every record of every volume and decodes every chunk, writing
    // nothing. Problems go to `damage`; true when the archive is complete and
    // sound. Volume prompts work as in Restore.
    bool TestArchive(const std::string& ArchiveName, std::vector<ArchiveDamage>& damage);
    // What Restore(ArchiveName, DestPath) would do with each selected file
    // under RestoreMode and RestoreFullPath, with the same destination checks,
    // writing nothing (OnRestoreFile is not asked). A refused destination is
    // listed and the plan goes on, where Restore would stop. True when the
    // whole archive was read; fails and throws as Restore does.
    bool PlanRestore(const std::string& ArchiveName, const std::string& DestPath,
                     std::vector<TRestorePlanEntry>& plan);
    // Decodes each selected file and compares it byte for byte with the file
    // at its restore destination (DestPath and RestoreFullPath as for
    // Restore), writing nothing. True when the whole archive was read,
    // whatever the files compare as; fails and throws as Restore does.
    bool Compare(const std::string& ArchiveName, const std::string& DestPath, std::vector<TCompareEntry>& entries);

    bool Busy() const { return busy_; }
    void Stop() { continueFlag_ = false; }

private:
    struct WriteRun;
    struct ReadRun;

    // writer
    void ExpandEntry(WriteRun& run, TaskQueue& listings, const std::string& entry);
    std::size_t ExpandListing(WriteRun& run, TaskQueue& listings, const std::string& folder, const std::string& mask,
                              FolderListing listing);
    void AddExpandedFile(WriteRun& run, FileEntry file);
    std::vector<std::string> FoldersToEnter(const std::string& folder, FolderListing& listing);
    void IndexListedFiles(WriteRun& run);
    void SettleSharedStoredNames(WriteRun& run);
    bool IsSameFile(const std::string& a, const std::string& b);
    bool IsTheArchive(WriteRun& run, const FileEntry& file);
    void KeepFlaggedFiles(WriteRun& run);
    std::vector<FileEntry> TakeHeldFiles(WriteRun& run, std::int64_t startTickNs);
    void TakeSizes(WriteRun& run);
    std::vector<char> CheckReadable(const std::vector<FileEntry>& files);
    void SaveFileList(WriteRun& run);
    void OpenArchive(WriteRun& run, const std::string& archiveName);
    void WriteFileRecord(WriteRun& run, std::size_t index);
    void WarnOfChangedSize(const WriteRun& run, std::size_t index, std::int64_t stored);
    void WriteBlockGroup(WriteRun& run);
    void TakeOpenedFile(WriteRun& run);
    bool WriteChunk(WriteRun& run);
    bool OpenAhead(WriteRun& run);
    void ReadAhead(WriteRun& run);
    void DropReadAhead(WriteRun& run);
    void ChangeVolume(WriteRun& run);
    void ChangeVolumeBeforeRecord(WriteRun& run, const std::string& name);
    void FinishArchive(WriteRun& run);
    void FindOldVolumes(WriteRun& run, const std::string& archiveName);
    void RemoveStaleAside(const std::string& archiveName);
    void CreateVolume(WriteRun& run, const std::string& name);
    void PlaceVolumes(WriteRun& run);
    // A volume given its name (once `moved`): the file it replaced, if any,
    // under its second name.
    struct PlacedVolume {
        std::string target;
        bool replaced = false;
        std::string kept;
        bool moved = false;
    };
    void PutBackVolumes(const std::vector<PlacedVolume>& placed);
    std::string TargetOf(const std::string& volumeName);
    void DiscardAsideVolumes(WriteRun& run);
    void RemoveOldVolumesPast(WriteRun& run, unsigned lastVolume);
    void FailWritingArchive(WriteRun& run, const StreamError& error);

    // reader
    bool BeginWalk(ReadRun& run, const std::string& archiveName);
    void OpenForReading(ReadRun& run, const std::string& archiveName);
    void OpenVolume(ReadRun& run, const std::string& name);
    std::string NextVolumeDigits(ReadRun& run, const std::string& record);
    void ReadHeader(ReadRun& run, std::string* title);
    std::string ReadName(ReadRun& run, std::int32_t length, std::int32_t limit);
    bool ReadBlockGroup(ReadRun& run, Stream* dest, bool extract);
    void ReadChunksAhead(ReadRun& run);
    std::int32_t TakeChunk(ReadRun& run, Stream* dest, std::int64_t& output);
    bool WalkRecords(ReadRun& run);
    bool ChangeReadVolume(ReadRun& run, const std::string& record);
    bool OpenNextVolumeQuietly(ReadRun& run, const std::string& record);
    std::string ReadRecordName(ReadRun& run);
    void ReadFileList(ReadRun& run, std::vector<std::string>& list);
    void CheckRecordAgainstList(ReadRun& run);
    void NotePatternsTaking(ReadRun& run, const std::string& storedName);
    void WarnUnmatchedPatterns(ReadRun& run);
    void CloseReadVolume(ReadRun& run);
    void RestoreRecord(ReadRun& run);
    void ContinueRecord(ReadRun& run);
    bool PlaceDestination(ReadRun& run, PathKind kind, bool& safe);
    void BeginDestinationFile(ReadRun& run, PathKind kind);
    void FinishDestinationFile(ReadRun& run);
    void PlaceSealedFiles(ReadRun& run);
    void HandOverBatch(ReadRun& run);
    void SyncBatchAside(ReadRun& run);
    void NoteWaitingName(ReadRun& run, const std::string& name);
    bool PlaceSyncedBatch(ReadRun& run);
    void SettlePendingFor(ReadRun& run, const std::string& destination);
    void SyncTouchedFolders(ReadRun& run);
    void OpenArchiveToWalk(ReadRun& run, const std::string& archiveName);
    bool TakeSelected(ReadRun& run);
    void ReadSelectionList(ReadRun& run);
    void CountSelection(ReadRun& run);
    void VisitRecord(ReadRun& run);
    bool VisitRecords(const std::string& ArchiveName, RecordVisitor& visitor);

    // shared
    bool AskForDisk(std::uint16_t volume);
    void Progress(const std::string& fileName);
    void ReportProgress(const std::string& fileName, TPercentage percent);
    void Yield();
    void Fail(int code, std::string detail = {});
    void ReportError();
    void Warn(const std::string& text);

    std::string backupTitle_;
    TBackupMode backupMode_ = bmAll;
    TCompressionLevel compressionLevel_ = clFastest;
    TRestoreMode restoreMode_ = rmAll;
    std::int32_t maxSize_ = 0;
    bool setArchiveFlag_ = false;
    bool restoreFullPath_ = false;
    bool saveFileID_ = false;

    std::int32_t fileCount_ = 0;
    std::int64_t totalSize_ = 0;
    std::int32_t processedCount_ = 0;
    std::int64_t bytesProcessed_ = 0;
    std::int64_t bytesWritten_ = 0;
    std::string currentFile_;
    bool busy_ = false;
    bool continueFlag_ = false;
    int errorCode_ = 0;
    std::string errorDetail_;
    TRestoreSelection selection_;
    std::vector<std::string> backupExclude_;
    bool backupHidden_ = false;
    std::int32_t hiddenFoldersSkipped_ = 0;

    Stream* outStream_ = nullptr;
    Stream* inStream_ = nullptr;
    std::shared_ptr<FileSystem> fs_;
    std::shared_ptr<BackupHost> host_;
    int workers_;
    CodecKind codec_ = DefaultCodec();
};

}  // namespace arcovelo
