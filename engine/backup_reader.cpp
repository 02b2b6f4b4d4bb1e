// The reading direction of TBackupFile: archive info, restore and the archive
// check. All three walk the archive through ReadBlockGroup; lengths read from
// an archive are checked before anything is allocated or read from them, so a
// damaged or hostile archive is reported, never trusted.
#include "backup.h"
#include "backup_private.h"
#include "codec.h"
#include "format.h"
#include "ordered_pipeline.h"
#include "record_visitor.h"
#include "restore_paths.h"
#include "restore_selection.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <exception>
#include <future>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace arcovelo {
namespace {

[[noreturn]] void ThrowInvalidArchive() { throw ArchiveError(ErrorMessage(errInvalidArchive)); }

// True when `line` ends like an entry of the file-ID list: a TAB, a date
// stamp (decimal, maybe negative), "=" and a size.
bool EndsWithEntry(std::string_view line)
{
    const auto tab = line.rfind('\t');
    if (tab == std::string_view::npos)
        return false;
    std::size_t at = tab + 1;
    if (at < line.size() && line[at] == '-')
        ++at;
    const auto digits = [&] {
        const std::size_t start = at;
        while (at < line.size() && line[at] >= '0' && line[at] <= '9')
            ++at;
        return at > start;
    };
    if (!digits() || at >= line.size() || line[at] != '=')
        return false;
    ++at;
    return digits() && at == line.size();
}

// The lines of the file-ID list. A line end (CR LF, CR or LF) ends a line only
// where an entry ends, so a name that holds line ends stays in one line. More
// possible lines than `most` make the archive invalid, which bounds the memory
// a crafted list can take.
std::vector<std::string> SplitLines(const std::vector<std::uint8_t>& bytes, std::int64_t most)
{
    std::int64_t ends = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\n' || (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n')))
            ++ends;
    if (ends + 1 > most)
        ThrowInvalidArchive();
    // Each line is made at its own size: a million names are the list's
    // biggest cost in memory.
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::vector<std::string> lines;
    lines.reserve(std::size_t(ends) + 1);
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n')
            continue;
        const std::size_t length = c == '\r' && i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
        if (EndsWithEntry(text.substr(start, i - start))) {
            lines.emplace_back(text.substr(start, i - start));
            start = i + length;
        }
        i += length - 1;
    }
    if (start < text.size())
        lines.emplace_back(text.substr(start));
    return lines;
}

// The folders a restore made, and why one could not be made.
struct FolderWork {
    std::set<std::string>& madeIn;  // the parent of each folder made, to be synced
    std::unordered_set<std::string>& made;  // each folder made
    std::string problem;            // "<folder>: <reason>" when one could not be made

    // Makes `folder`, whose parent exists. False, with the reason, on failure.
    bool Make(FileSystem& fs, const std::string& folder)
    {
        errno = 0;
        if (fs.CreateFolder(folder)) {
            madeIn.insert(ParentFolder(folder));
            made.insert(folder);
            return true;
        }
        const int error = errno;
        problem = folder + ": " + (error != 0 ? std::strerror(error) : "cannot be created");
        return false;
    }
};

// Calls `visit` with each well-formed entry of the file-ID list `text`.
template <typename Visit>
void ForEachListedFile(const std::vector<std::uint8_t>& text, Visit visit)
{
    for (const auto& line : SplitLines(text, format::kMaxFileListLines)) {
        format::ListedFile file;
        if (format::ParseListedFile(line, file))
            visit(file);
    }
}

// Creates `folder` and its missing parents, links followed as the system
// follows them. True when the folder exists afterwards.
bool ForceFolders(FileSystem& fs, const std::string& folder, FolderWork& work)
{
    if (folder.empty() || fs.FolderExists(folder))
        return !folder.empty();
    const std::string parent = ParentFolder(folder);
    if (parent != folder && !parent.empty())
        ForceFolders(fs, parent, work);
    return work.Make(fs, folder);
}

// Creates the folders of `relative` (all but its last part) below `root`
// (which ends in a separator) one by one, refusing to pass through a link, so
// nothing can be written outside `root`. False in `safe` when the path is
// refused; the result is false when a folder could not be made (a file in the
// way among them).
bool CreateFoldersBelow(FileSystem& fs, const std::string& root, const std::string& relative, bool& safe,
                        FolderWork& work)
{
    std::string at = root;
    std::size_t start = 0;
    const auto nextSeparator = [&] {
        const auto found = std::find_if(relative.begin() + std::ptrdiff_t(start), relative.end(), IsPathSeparator);
        return found == relative.end() ? std::string::npos : std::size_t(found - relative.begin());
    };
    for (std::size_t slash = nextSeparator(); slash != std::string::npos; slash = nextSeparator()) {
        at += relative.substr(start, slash - start);
        switch (fs.KindOf(at)) {
        case PathKind::Missing:
            if (!work.Make(fs, at))
                return false;
            break;
        case PathKind::Folder:
            break;
        case PathKind::Link:
            safe = false;
            return true;
        default:
            work.problem = at + ": " + std::strerror(ENOTDIR);
            return false;
        }
        at += kPathSeparator;
        start = slash + 1;
    }
    return true;
}

// One chunk of a block group read ahead by the caller's thread; a worker
// inflates a compressed one. A failure met while reading ahead is kept and
// raised when the chunk's turn comes, as if it had been read then.
struct InflateSlot {
    std::int32_t length = 0;  // 0: the group end
    std::exception_ptr failure;
    std::array<std::uint8_t, kChunkSize> input{};
    std::array<std::uint8_t, kChunkSize> output{};
    std::size_t count = 0;
    InflateResult result = InflateResult::Ok;
};

std::size_t NameHash(const std::string& name) { return std::hash<std::string>{}(name); }

void InflateChunk(InflateSlot& slot, ChunkInflater& inflater)
{
    slot.result = inflater.Inflate(slot.input.data(), std::size_t(slot.length), slot.output.data(), slot.count);
}

}  // namespace

struct TBackupFile::ReadRun {
    enum class Purpose { Info, Restore, Test };
    ReadRun(Purpose p, const std::string& archiveName, CodecKind codec, int workers)
        : purpose(p),
          useStream(archiveName == format::kStreamName),
          archiveName(archiveName),
          chunks(workers, [codec] { return std::make_unique<ChunkInflater>(codec); }, InflateChunk)
    {
    }

    Purpose purpose;
    bool useStream;
    std::string archiveName;  // follows the volumes
    std::unique_ptr<FileStream> volumeFile;
    std::unique_ptr<BufferedReader> volumeReader;  // reads `volumeFile` in large blocks
    Stream* archive = nullptr;
    unsigned volume = 1;
    bool atRecordStart = false;

    std::string folder;  // destination folder: "" or ending in a separator
    std::string storedName;
    std::int32_t storedStamp = 0;
    bool doRestore = true;

    // The file being restored is put in place of `destPath` only once its
    // last part is complete.
    std::unique_ptr<PendingFile> destFile;
    std::string destPath;
    std::int32_t destStamp = 0;
    bool destComplete = false;
    std::set<std::string> touchedFolders;  // synced once, after their files
    // Every name this run has put a file at, or will: a later record of the
    // same run does not replace it (both the name asked for and the file
    // behind a link). Kept by the names' 64-bit hashes, so that a million
    // names cost a few MiB: two names of one run share a hash about once in
    // ten million runs of a million files.
    std::unordered_set<std::size_t> namesWritten;
    std::string folderProblem;  // why the folder a file needs could not be made
    // Complete files waiting to be made durable together and put in place.
    struct Sealed {
        std::unique_ptr<PendingFile> file;
        std::string destination;  // links resolved
        std::string asked;        // as the record named it
        std::exception_ptr failure;  // why it could not be put in place
    };
    struct Batch {
        std::vector<Sealed> files;
        std::unordered_set<std::string> names;  // both names of each file, as the file system compares them
        std::int64_t bytes = 0;
        bool Holds(const std::string& name) const { return names.count(ComparedName(name)) != 0; }
        const std::string& Add(const std::string& name) { return *names.insert(ComparedName(name)).first; }
    };
    Batch filling;                 // the files being sealed now
    Batch syncing;                 // the previous batch, made durable by `syncer`
    std::future<void> syncer;      // valid while `syncing` is on its way to storage and into place
    // No file waiting in a batch has this folder's name or one of a folder
    // above it: the files of one folder do not look at its parents again.
    std::string clearFolder;
    std::size_t batchFiles = 128;  // sealed files a batch may hold
    std::string lastFolderMade;  // the folder the previous file needed, made or found
    std::unordered_set<std::string> foldersMade;  // by this run: nothing but its own files are in them

    NullStream discard;
    std::vector<ArchiveDamage>* damage = nullptr;
    // A check compares each record's decoded size with its file-ID list
    // entry, and the number of records with the header's file count.
    MemoryStream listText;
    Stream* checked = &discard;  // where the current record decodes to
    std::int64_t recordStart = 0;
    std::int32_t fileRecords = 0;
    std::unordered_map<std::string, std::deque<std::int64_t>> listedSizes;
    std::int64_t outputLimit = -1;
    int chunk = 0;

    OrderedPipeline<InflateSlot, ChunkInflater> chunks;
    bool groupReadAhead = false;  // the current group's end has been read ahead

    bool selecting = false;         // only what Selection() takes is walked
    std::unique_ptr<MemoryStream> selectionList;  // the file-ID list while it is read, all its volumes
    bool selectionCounted = false;  // FileCount and TotalSize came from the file-ID list
    std::int32_t selectedFiles = 0;
    std::vector<bool> patternTook;     // each include pattern took some stored name
    RecordVisitor* visitor = nullptr;  // set: records are looked at, not restored
    Stream* visitSink = nullptr;       // where the visited file's data go, if anywhere
};

void TBackupFile::OpenForReading(ReadRun& run, const std::string& archiveName)
{
    run.volume = 1;
    if (run.useStream) {
        if (inStream_ == nullptr)
            throw StreamError("No input stream");
        run.archiveName = archiveName;
        run.archive = inStream_;
        return;
    }
    // An archive named through a link is read where the link leads, its
    // later volumes beside the first, where the backup wrote them.
    run.archiveName = TargetOf(archiveName);
    OpenVolume(run, run.archiveName);
}

// Reads the volume file `name` from its start, in large blocks.
void TBackupFile::OpenVolume(ReadRun& run, const std::string& name)
{
    run.volumeFile = fs_->OpenRead(name);
    run.volumeReader = std::make_unique<BufferedReader>(*run.volumeFile);
    run.archive = run.volumeReader.get();
}

// The digits of the volume a volume-change record names. The writer always
// goes on with the next number: any other means volumes swapped, missing or
// from another archive, and a stream has no next volume at all.
std::string TBackupFile::NextVolumeDigits(ReadRun& run, const std::string& record)
{
    std::string digits;
    if (run.useStream || !format::VolumeRecordDigits(record, digits) || std::stoul(digits) != run.volume + 1)
        ThrowInvalidArchive();
    return digits;
}

void TBackupFile::ReadHeader(ReadRun& run, std::string* title)
{
    const std::int32_t length = run.archive->ReadInt32();
    if (length < 0)
        ThrowInvalidArchive();
    std::string text = ReadName(run, length, format::kMaxTitleLength);
    if (title != nullptr)
        *title = std::move(text);
    totalSize_ = run.archive->ReadInt32();
    fileCount_ = run.archive->ReadInt32();
}

// Reads a length-prefixed text whose length was just read; refuses lengths
// beyond `limit` or beyond the bytes the archive still holds.
std::string TBackupFile::ReadName(ReadRun& run, std::int32_t length, std::int32_t limit)
{
    if (length > limit)
        ThrowInvalidArchive();
    if (length > run.archive->Size() - run.archive->Position())
        throw StreamError("Stream read error");
    std::string text(static_cast<std::size_t>(length), '\0');
    run.archive->ReadBuffer(text.data(), text.size());
    return text;
}

// Reads one block group: tag, chunks, group end. Extracting decodes into
// `dest` (compressed chunks inflated ahead by the workers); otherwise the
// payloads are passed over by seeking. True when the group end was read
// (false when stopped first).
bool TBackupFile::ReadBlockGroup(ReadRun& run, Stream* dest, bool extract)
{
    std::uint8_t tag[4];
    run.archive->ReadBuffer(tag, 4);
    if (std::memcmp(tag, format::kBlockTag, 4) != 0)
        ThrowInvalidArchive();
    run.chunks.Clear();
    run.groupReadAhead = false;
    std::int64_t produced = 0;
    std::int32_t length = -1;
    run.chunk = 0;
    while (length != 0 && continueFlag_) {
        std::int64_t output = 0;
        if (extract) {
            length = TakeChunk(run, dest, output);
        } else {
            length = run.archive->ReadInt32();
            const std::int64_t size = length < 0 ? -std::int64_t(length) : std::int64_t(length);
            if (size > std::int64_t(kChunkSize))
                ThrowInvalidArchive();
            run.archive->Seek(size, SeekOrigin::Current);
        }
        produced += output;
        if (run.outputLimit >= 0 && produced > run.outputLimit)
            ThrowInvalidArchive();
        Yield();
        if (dest != nullptr && run.purpose != ReadRun::Purpose::Info) {
            bytesProcessed_ += output;
            Progress(currentFile_);
        }
    }
    run.chunks.Clear();  // chunks read ahead of a stop are dropped
    return length == 0;
}

// Reads the group's next chunks ahead, up to its end or the first failure.
void TBackupFile::ReadChunksAhead(ReadRun& run)
{
    while (!run.chunks.Full() && !run.groupReadAhead) {
        InflateSlot& slot = run.chunks.Acquire();
        slot.failure = nullptr;
        bool needsWork = false;
        try {
            slot.length = run.archive->ReadInt32();
            const std::int64_t size = slot.length < 0 ? -std::int64_t(slot.length) : std::int64_t(slot.length);
            if (size > std::int64_t(kChunkSize))
                ThrowInvalidArchive();
            run.archive->ReadBuffer(slot.input.data(), std::size_t(size));
            needsWork = slot.length > 0;
            run.groupReadAhead = slot.length == 0;
        } catch (const std::exception&) {
            slot.failure = std::current_exception();
            run.groupReadAhead = true;  // nothing after a failure is read
        }
        run.chunks.Submit(needsWork);
    }
}

// Takes the next chunk in order and writes what it decodes to `dest`; returns
// its length (0 for the group end). A zlib error records code 6 after writing
// what was decoded; a stream that does not end within its bytes, or would
// decode to more than a chunk, is an invalid archive. Checking collects both
// as damage.
std::int32_t TBackupFile::TakeChunk(ReadRun& run, Stream* dest, std::int64_t& output)
{
    ReadChunksAhead(run);
    if (run.chunks.Empty())
        ThrowInvalidArchive();  // nothing read ahead: the group has no end
    InflateSlot& slot = run.chunks.Front();
    if (slot.failure) {
        const std::exception_ptr failure = slot.failure;
        run.chunks.Pop();
        std::rethrow_exception(failure);
    }
    const std::int32_t length = slot.length;
    if (length == 0) {
        run.chunks.Pop();
        return 0;
    }
    ++run.chunk;
    if (length < 0) {
        dest->WriteBuffer(slot.input.data(), std::size_t(-std::int64_t(length)));
        output = -std::int64_t(length);
        run.chunks.Pop();
        return length;
    }
    const InflateResult result = slot.result;
    const std::size_t count = slot.count;
    if (result != InflateResult::Ok && run.damage != nullptr) {
        run.damage->push_back({run.storedName, "chunk " + std::to_string(run.chunk) +
                                                   (result == InflateResult::Error
                                                        ? ": compressed data are corrupt"
                                                        : ": compressed data do not end within the chunk")});
        run.chunks.Pop();
        return length;
    }
    if (result == InflateResult::Invalid) {
        run.chunks.Pop();
        ThrowInvalidArchive();
    }
    dest->WriteBuffer(slot.output.data(), count);
    run.chunks.Pop();
    output = static_cast<std::int64_t>(count);
    if (result == InflateResult::Error)
        Fail(errCompression);
    return length;
}

// Walks the records after the header until the end marker (true), a stop
// (false) or an exception.
bool TBackupFile::WalkRecords(ReadRun& run)
{
    while (continueFlag_) {
        run.atRecordStart = true;
        const std::int32_t length = run.archive->ReadInt32();
        run.atRecordStart = false;
        if (length == 0)
            return true;
        if (length < 0)
            continue;  // passed over: the next four bytes are read as a name length
        const std::string name = ReadName(run, length, format::kMaxNameLength);
        if (format::IsVolumeRecord(name)) {
            run.destComplete = false;  // the file goes on in the next volume
            if (!ChangeReadVolume(run, name))
                return false;
            ContinueRecord(run);
            continue;
        }
        FinishDestinationFile(run);  // no continuation followed: that file is whole
        if (!continueFlag_)
            return false;
        if (run.purpose == ReadRun::Purpose::Test)
            CheckRecordAgainstList(run);
        run.storedName = name;
        run.storedStamp = run.archive->ReadInt32();
        if (run.selecting && !TakeSelected(run))
            continue;
        if (run.purpose == ReadRun::Purpose::Test) {
            currentFile_ = name;
            const bool isList = name == format::kFileListName && processedCount_ == 0;
            run.checked = isList ? static_cast<Stream*>(&run.listText) : &run.discard;
            run.recordStart = run.checked->Size();
            run.fileRecords += isList ? 0 : 1;
            ReadBlockGroup(run, run.checked, true);
            ++processedCount_;
        } else if (run.visitor != nullptr) {
            VisitRecord(run);
        } else {
            RestoreRecord(run);
        }
    }
    return false;
}

void TBackupFile::CloseReadVolume(ReadRun& run)
{
    run.archive = nullptr;
    run.volumeReader.reset();
    run.volumeFile.reset();
}

// Follows a volume-change record: asks for the disk (at least once) until the
// next volume exists or the user cancels, then opens it. Volumes only go
// forward, so a damaged archive cannot send the reader round in a circle.
// Opens the volume a volume-change record names when it is already in its
// place, without asking anybody; false when it is not there.
bool TBackupFile::OpenNextVolumeQuietly(ReadRun& run, const std::string& record)
{
    const std::string next = format::NextVolumeName(run.archiveName, NextVolumeDigits(run, record));
    if (!fs_->FileExists(next))
        return false;
    CloseReadVolume(run);
    run.archiveName = next;
    run.volume += 1;
    OpenVolume(run, next);
    return true;
}

// The next record's name, "" at the end marker or where the archive ends.
std::string TBackupFile::ReadRecordName(ReadRun& run)
{
    while (run.archive->Size() - run.archive->Position() >= 4) {
        const std::int32_t length = run.archive->ReadInt32();
        if (length == 0)
            return "";
        if (length > 0)
            return ReadName(run, length, format::kMaxNameLength);
    }
    return "";
}

// The file-ID list, which may begin on the second volume (the first held no
// more than the header) and may go on over several: read whole from the
// volumes in place, or not at all.
void TBackupFile::ReadFileList(ReadRun& run, std::vector<std::string>& list)
{
    std::string name = ReadRecordName(run);
    if (format::IsVolumeRecord(name)) {
        if (!OpenNextVolumeQuietly(run, name))
            return;
        ReadBlockGroup(run, nullptr, false);  // the empty continuation of no file
        name = ReadRecordName(run);
    }
    if (name != format::kFileListName)
        return;
    run.archive->ReadInt32();  // the list's own date stamp
    continueFlag_ = true;
    MemoryStream text;
    run.outputLimit = format::kMaxFileListBytes;
    ReadBlockGroup(run, &text, true);
    while (errorCode_ == 0 && format::IsVolumeRecord(name = ReadRecordName(run))) {
        if (!OpenNextVolumeQuietly(run, name))
            return;
        ReadBlockGroup(run, &text, true);
        if (text.Size() > format::kMaxFileListBytes)
            ThrowInvalidArchive();
    }
    if (errorCode_ != 0)
        ThrowInvalidArchive();
    list = SplitLines(text.Bytes(), format::kMaxFileListLines);
}

// A check's look at the record just read whole: the file-ID list's entries
// are kept, a file's decoded size is compared with its entry.
void TBackupFile::CheckRecordAgainstList(ReadRun& run)
{
    if (run.storedName.empty())
        return;
    if (run.checked == &run.listText) {
        ForEachListedFile(run.listText.Bytes(),
                          [&](const format::ListedFile& file) { run.listedSizes[file.name].push_back(file.size); });
        run.checked = &run.discard;
        return;
    }
    auto listed = run.listedSizes.find(run.storedName);
    if (listed == run.listedSizes.end() || listed->second.empty())
        return;
    const std::int64_t expected = listed->second.front();
    listed->second.pop_front();
    const std::int64_t decoded = run.checked->Size() - run.recordStart;
    if (decoded != expected)
        run.damage->push_back({run.storedName, "holds " + std::to_string(decoded) + " bytes, the file-ID list says " +
                                                   std::to_string(expected)});
}

bool TBackupFile::ChangeReadVolume(ReadRun& run, const std::string& record)
{
    const std::string digits = NextVolumeDigits(run, record);
    const unsigned number = run.volume + 1;
    CloseReadVolume(run);
    do {
        AskForDisk(static_cast<std::uint16_t>(number));
        run.archiveName = format::NextVolumeName(run.archiveName, digits);
    } while (continueFlag_ && !fs_->FileExists(run.archiveName));
    if (!continueFlag_)
        return false;
    run.volume = number;
    OpenVolume(run, run.archiveName);
    return true;
}

void TBackupFile::RestoreRecord(ReadRun& run)
{
    const Destination destination = DestinationFor(run.folder, run.storedName, restoreFullPath_);
    currentFile_ = destination.path;
    SettlePendingFor(run, currentFile_);
    // One look at the destination serves the mode, the link test and the
    // file itself; its date only when there is a file. A folder this run
    // made holds only the files this run wrote there.
    const bool surelyMissing =
        run.foldersMade.count(ParentFolder(currentFile_)) != 0 && run.namesWritten.count(NameHash(currentFile_)) == 0;
    PathKind kind = surelyMissing ? PathKind::Missing : fs_->KindOf(currentFile_);
    const std::int32_t age = kind == PathKind::Missing ? -1 : fs_->FileAge(currentFile_);  // -1: no such file
    run.doRestore = ModeAllowsRestore(restoreMode_, age != -1, age, run.storedStamp);
    if (run.storedName == format::kFileListName) {
        run.doRestore = false;  // the file-ID list is never written out
    } else if (OnRestoreFile) {
        OnRestoreFile(this, currentFile_, run.storedStamp, run.doRestore);
        if (currentFile_ != destination.path) {
            SettlePendingFor(run, currentFile_);
            kind = fs_->KindOf(currentFile_);
        }
    }
    if (run.doRestore && run.namesWritten.count(NameHash(currentFile_)) != 0) {
        // Two records that land on one name (a restore without folders): the
        // first stays, the later one is said, not merged into it.
        Warn("File \"" + run.storedName + "\" not restored: \"" + currentFile_ +
             "\" already holds another file of this archive");
        run.doRestore = false;
    }

    bool safe = destination.safe || currentFile_ != destination.path;
    if (run.doRestore && safe && !PlaceDestination(run, kind, safe)) {
        Fail(errReadFile, run.folderProblem);  // a folder it needs cannot be made: nothing restored there is said
        return;
    }
    if (!run.doRestore) {
        ReadBlockGroup(run, nullptr, false);
        return;
    }
    try {
        if (!safe)
            throw StreamError("Cannot create file \"" + currentFile_ + "\". " +
                              (kind == PathKind::Other ? "Not a regular file" : "Outside the destination folder"));
        BeginDestinationFile(run, kind);
        run.destComplete = ReadBlockGroup(run, run.destFile.get(), true);
    } catch (const std::runtime_error& e) {
        Fail(errReadFile, FailureDetail(currentFile_, e));
    }
    run.destComplete = run.destComplete && errorCode_ == 0;
    if (run.destFile && OnFileRestored)
        OnFileRestored(this, currentFile_, *run.destFile);
}

// The block group that continues the current file at the start of a new volume.
void TBackupFile::ContinueRecord(ReadRun& run)
{
    if (run.purpose == ReadRun::Purpose::Test) {
        ReadBlockGroup(run, run.checked, true);
        return;
    }
    if (run.selectionList) {
        ReadSelectionList(run);
        return;
    }
    if (run.visitor != nullptr) {
        ReadBlockGroup(run, run.visitSink, run.visitSink != nullptr);
        return;
    }
    if (!run.doRestore || !run.destFile) {
        ReadBlockGroup(run, nullptr, false);
        return;
    }
    try {
        run.destComplete = ReadBlockGroup(run, run.destFile.get(), true) && errorCode_ == 0;
    } catch (const std::exception&) {
        if (OnFileRestored)
            OnFileRestored(this, currentFile_, *run.destFile);
        throw;
    }
    if (OnFileRestored)
        OnFileRestored(this, currentFile_, *run.destFile);
}

// Makes the destination's folders. Below a destination folder the path must
// stay inside it; elsewhere (the stored path, or where OnRestoreFile sent the
// file) folders are made as the system resolves them. False when a folder
// could not be made.
// The folder the previous file needed is not made or checked again.
bool TBackupFile::PlaceDestination(ReadRun& run, PathKind kind, bool& safe)
{
    const std::string& path = currentFile_;
    const std::string parent = ParentFolder(path);
    FolderWork work{run.touchedFolders, run.foldersMade, {}};
    const auto failed = [&] {
        run.folderProblem = work.problem.empty() ? parent + ": cannot be created" : work.problem;
        return false;
    };
    if (!run.folder.empty() && path.compare(0, run.folder.size(), run.folder) == 0) {
        const std::string relative = path.substr(run.folder.size());
        if (!IsPlainRelativePath(relative)) {
            safe = false;
            return true;
        }
        if (parent != run.lastFolderMade) {
            const std::string root = run.folder.size() > 1 ? run.folder.substr(0, run.folder.size() - 1) : run.folder;
            if (!ForceFolders(*fs_, root, work) || !CreateFoldersBelow(*fs_, run.folder, relative, safe, work))
                return failed();
            if (!safe)
                return true;
            run.lastFolderMade = parent;
        }
        safe = kind != PathKind::Link && kind != PathKind::Other;  // never through a link inside the destination
        return true;
    }
    if (parent.empty() || parent == run.lastFolderMade)
        return true;
    if (!ForceFolders(*fs_, parent, work))
        return failed();
    run.lastFolderMade = parent;
    return true;
}

// A destination still waiting in the batch is put in place before it is
// looked at again, and so is one whose name the destination needs as a
// folder, so each record sees what the ones before it did.
void TBackupFile::SettlePendingFor(ReadRun& run, const std::string& destination)
{
    if (run.filling.files.empty() && run.syncing.files.empty())
        return;
    const auto waits = [&run](const std::string& name) { return run.filling.Holds(name) || run.syncing.Holds(name); };
    const std::string folder = ParentFolder(destination);
    bool needed = waits(destination);
    if (!needed && folder != run.clearFolder) {
        for (std::string at = folder; !needed && !at.empty(); at = ParentFolder(at)) {
            needed = waits(at);
            if (ParentFolder(at) == at)
                break;
        }
        run.clearFolder = needed ? std::string() : folder;
    }
    if (needed)
        PlaceSealedFiles(run);
}

// A file joins the batch under `name`: the folder known to be clear of
// waiting files is no longer when the file takes its name or one above it.
void TBackupFile::NoteWaitingName(ReadRun& run, const std::string& name)
{
    const std::string& compared = run.filling.Add(name);
    const std::string& clear = ComparedName(run.clearFolder);
    if (clear.compare(0, compared.size(), compared) == 0 &&
        (clear.size() == compared.size() || IsPathSeparator(clear[compared.size()])))
        run.clearFolder.clear();
}

void TBackupFile::BeginDestinationFile(ReadRun& run, PathKind kind)
{
    // Only a link in the last place needs resolving: the system follows
    // linked folders itself.
    const bool link = kind == PathKind::Link;
    const std::string target = link ? fs_->ResolveLinks(currentFile_) : currentFile_;
    run.destFile = fs_->CreatePending(target, kind == PathKind::Missing);
    run.namesWritten.insert(NameHash(currentFile_));
    run.namesWritten.insert(NameHash(target));
    run.destPath = target;
    run.destStamp = run.storedStamp;
    run.destComplete = false;
}

// A complete file joins the batch that is put in place together; an
// incomplete one is thrown away, leaving whatever was at the destination
// untouched.
void TBackupFile::FinishDestinationFile(ReadRun& run)
{
    if (!run.destFile)
        return;
    auto file = std::move(run.destFile);
    if (!run.destComplete)
        return;
    try {
        file->Seal(run.destStamp);
        run.filling.bytes += file->Position();
        run.filling.files.push_back({std::move(file), run.destPath, currentFile_, nullptr});
        NoteWaitingName(run, run.destPath);
        NoteWaitingName(run, currentFile_);
    } catch (const StreamError& e) {
        Fail(errReadFile, FailureDetail(run.destPath, e));
    }
    constexpr std::int64_t kBatchBytes = 64LL << 20;
    if (run.filling.files.size() >= run.batchFiles || run.filling.bytes >= kBatchBytes)
        HandOverBatch(run);
}

// The batch's data reach stable storage together (one sync, not one per
// file), then each file replaces its destination, on a thread of their own
// while the next batch is written; a file that cannot be put in place keeps
// its failure for PlaceSyncedBatch. The caller's thread only reads the
// batch's names until then.
void TBackupFile::SyncBatchAside(ReadRun& run)
{
    run.syncing = std::move(run.filling);
    run.filling = {};
    run.syncer = std::async(std::launch::async, [fs = fs_, batch = &run.syncing] {
        std::vector<PendingFile*> files;
        for (const auto& s : batch->files)
            files.push_back(s.file.get());
        fs->SyncSealed(files);
        for (auto& s : batch->files) {
            try {
                s.file->Place();
            } catch (const StreamError&) {
                s.failure = std::current_exception();
            }
        }
    });
}

// Waits for the batch on its way to storage and into place, and counts or
// reports each file. A batch whose data cannot be made durable is thrown
// away, the destinations untouched; the result is then false.
bool TBackupFile::PlaceSyncedBatch(ReadRun& run)
{
    if (!run.syncer.valid())
        return true;
    std::exception_ptr unsynced;
    try {
        run.syncer.get();
    } catch (const StreamError&) {
        unsynced = std::current_exception();
    }
    ReadRun::Batch batch = std::move(run.syncing);
    run.syncing = {};
    if (unsynced) {
        Fail(errReadFile, FailureDetail(batch.files.empty() ? std::string() : batch.files.front().asked, unsynced));
        return false;
    }
    for (const auto& s : batch.files) {
        if (s.failure) {
            Fail(errReadFile, FailureDetail(s.asked, s.failure));
            continue;
        }
        run.touchedFolders.insert(ParentFolder(s.destination));
        ++processedCount_;  // counted once it is in place
    }
    return true;
}

// The previous batch in place, the filled one on its way to storage. After a
// batch that could not be made durable the files still waiting are dropped.
void TBackupFile::HandOverBatch(ReadRun& run)
{
    if (!PlaceSyncedBatch(run))
        run.filling = {};
    else if (!run.filling.files.empty())
        SyncBatchAside(run);
}

// Every sealed file durable and in place, so a record may look at its
// destination.
void TBackupFile::PlaceSealedFiles(ReadRun& run)
{
    HandOverBatch(run);
    PlaceSyncedBatch(run);
}

// The restored files are in place and their new names on stable storage
// before Restore answers: each folder that received files is synced once.
void TBackupFile::SyncTouchedFolders(ReadRun& run)
{
    PlaceSealedFiles(run);
    for (const auto& folder : run.touchedFolders) {
        try {
            fs_->SyncFolder(folder);
        } catch (const StreamError& e) {
            Fail(errReadFile, FailureDetail(folder, e));
        }
    }
    run.touchedFolders.clear();
}

void TBackupFile::GetArchiveInfo(const std::string& ArchiveName, std::vector<std::string>* List, std::string& Title)
{
    ReadRun run(ReadRun::Purpose::Info, ArchiveName, codec_, 1);
    Title.clear();
    totalSize_ = 0;
    fileCount_ = 0;
    processedCount_ = 0;
    errorCode_ = 0;
    errorDetail_.clear();
    if (!run.useStream && fs_->KindOf(ArchiveName) == PathKind::Missing)
        return;
    try {
        OpenForReading(run, ArchiveName);
    } catch (const std::runtime_error&) {
        errorCode_ = errReadArchive;
        ReportError();
        return;
    }
    try {
        ReadHeader(run, &Title);
        if (List != nullptr)
            ReadFileList(run, *List);
    } catch (const std::runtime_error&) {
        errorCode_ = errInvalidArchive;
        ReportError();
    }
}

// Resets what a walk of the archive reports; false when there is no archive
// file to walk (nothing is reported then).
bool TBackupFile::BeginWalk(ReadRun& run, const std::string& archiveName)
{
    errorCode_ = 0;
    errorDetail_.clear();
    processedCount_ = 0;
    continueFlag_ = true;
    return run.useStream || fs_->KindOf(archiveName) != PathKind::Missing;
}

bool TBackupFile::Restore(const std::string& ArchiveName, const std::string& DestPath)
{
    ReadRun run(ReadRun::Purpose::Restore, ArchiveName, codec_, workers_);
    run.folder = DestPath;
    run.batchFiles = fs_->MaxSealedFiles();
    if (!run.folder.empty() && !IsPathSeparator(run.folder.back()))
        run.folder += kPathSeparator;
    if (!BeginWalk(run, ArchiveName))
        return false;

    BusyFlag busy(busy_);
    run.selecting = !selection_.empty();
    OpenArchiveToWalk(run, ArchiveName);
    bool whole = false;
    try {
        whole = WalkRecords(run);
    } catch (const std::exception&) {
        // An archive that ends right after a record, without end marker, was
        // cut short while that record was written: its group end does not
        // prove the file whole, so it is not put in place.
        if (run.atRecordStart)
            run.destComplete = false;
        FinishDestinationFile(run);
        SyncTouchedFolders(run);
        throw;
    }
    FinishDestinationFile(run);
    SyncTouchedFolders(run);
    CloseReadVolume(run);
    if (whole)
        WarnUnmatchedPatterns(run);

    const bool result = errorCode_ == 0 && continueFlag_;
    ReportProgress("", 100);
    busy_ = false;
    if (errorCode_ != 0)
        ReportError();
    return result;
}

bool TBackupFile::TestArchive(const std::string& ArchiveName, std::vector<ArchiveDamage>& damage)
{
    ReadRun run(ReadRun::Purpose::Test, ArchiveName, codec_, workers_);
    run.damage = &damage;
    errorCode_ = 0;
    errorDetail_.clear();
    processedCount_ = 0;
    continueFlag_ = true;
    const std::size_t before = damage.size();

    BusyFlag busy(busy_);
    try {
        OpenForReading(run, ArchiveName);
        ReadHeader(run, nullptr);
    } catch (const std::runtime_error& e) {
        damage.push_back({"", std::string("Cannot read archive: ") + e.what()});
        return false;
    }
    bytesProcessed_ = 0;
    bool complete = false;
    try {
        complete = WalkRecords(run);
        if (!complete)
            damage.push_back({"", "check stopped before the end of the archive"});
        if (complete) {
            CheckRecordAgainstList(run);
            if (run.fileRecords != fileCount_)
                damage.push_back({"", "the archive holds " + std::to_string(run.fileRecords) +
                                          " files, its header says " + std::to_string(fileCount_)});
        }
    } catch (const std::runtime_error& e) {
        if (run.atRecordStart && dynamic_cast<const StreamError*>(&e) != nullptr)
            damage.push_back({"", "the archive ends without its end marker: the backup did not complete"});
        else
            damage.push_back({run.storedName, std::string(e.what()) + " in volume " + run.archiveName});
    }
    CloseReadVolume(run);
    ReportProgress("", 100);
    return complete && damage.size() == before;
}

}  // namespace arcovelo

namespace arcovelo {

// Opens the archive and reads its header for a walk of its records; throws
// ArchiveError("Cannot read archive") when either fails.
void TBackupFile::OpenArchiveToWalk(ReadRun& run, const std::string& archiveName)
{
    try {
        OpenForReading(run, archiveName);
        ReadHeader(run, nullptr);
    } catch (const std::runtime_error&) {
        throw ArchiveError(ErrorMessage(errReadArchive));
    }
    bytesProcessed_ = 0;
    if (!selection_.empty())
        fileCount_ = 0;  // counted as the selected files are met, unless the file-ID list tells
}

// The walk limited to Selection(): the file-ID list gives the selected files'
// count and size, and a record that is not selected is passed over by seeking,
// never offered to OnRestoreFile nor counted. True when the record is taken.
void TBackupFile::NotePatternsTaking(ReadRun& run, const std::string& storedName)
{
    run.patternTook.resize(selection_.include.size());
    for (std::size_t i = 0; i < selection_.include.size(); ++i)
        if (!run.patternTook[i] && PatternTakes(selection_.include[i], storedName))
            run.patternTook[i] = true;
}

// A name asked for that nothing in the whole archive matched is said: it may
// be mistyped, and an empty restore is no success.
void TBackupFile::WarnUnmatchedPatterns(ReadRun& run)
{
    run.patternTook.resize(selection_.include.size());
    for (std::size_t i = 0; i < selection_.include.size(); ++i)
        if (!run.patternTook[i])
            Warn("Nothing in the archive matches \"" + selection_.include[i] + "\"");
}

bool TBackupFile::TakeSelected(ReadRun& run)
{
    if (run.selectionList)
        CountSelection(run);  // the list is whole: a file record follows it
    if (run.storedName == format::kFileListName) {
        if (selection_.empty()) {
            ReadBlockGroup(run, nullptr, false);
        } else {
            run.selectionList = std::make_unique<MemoryStream>();
            ReadSelectionList(run);
        }
        return false;
    }
    NotePatternsTaking(run, run.storedName);
    if (!IsSelected(selection_, run.storedName)) {
        run.doRestore = false;
        run.visitSink = nullptr;
        ReadBlockGroup(run, nullptr, false);
        return false;
    }
    ++run.selectedFiles;
    if (!run.selectionCounted)
        fileCount_ = run.selectedFiles;
    return true;
}

// Reads one block group of the file-ID list (it may go on over volumes).
void TBackupFile::ReadSelectionList(ReadRun& run)
{
    // Read as GetArchiveInfo reads it: its bytes are no progress of the restore.
    const auto purpose = std::exchange(run.purpose, ReadRun::Purpose::Info);
    run.outputLimit = format::kMaxFileListBytes - run.selectionList->Size();
    ReadBlockGroup(run, run.selectionList.get(), true);
    run.outputLimit = -1;
    run.purpose = purpose;
}

// Sets FileCount and TotalSize to the selected files' count and size, as the
// file-ID list gives them, so that progress runs over the selected files alone.
void TBackupFile::CountSelection(ReadRun& run)
{
    const std::unique_ptr<MemoryStream> text = std::move(run.selectionList);
    if (errorCode_ != 0)
        return;
    std::int32_t count = 0;
    std::int64_t size = 0;
    ForEachListedFile(text->Bytes(), [&](const format::ListedFile& file) {
        if (IsSelected(selection_, file.name)) {
            ++count;
            size += file.size;
        }
    });
    fileCount_ = count;
    totalSize_ = size;
    run.selectionCounted = true;
}

void TBackupFile::VisitRecord(ReadRun& run)
{
    currentFile_ = run.storedName;
    run.visitSink = run.visitor->Visit(run.storedName, run.storedStamp);
    ReadBlockGroup(run, run.visitSink, run.visitSink != nullptr);
}

// Walks the archive as Restore does, Selection() included, handing each
// selected file record to `visitor` instead of restoring it.
bool TBackupFile::VisitRecords(const std::string& ArchiveName, RecordVisitor& visitor)
{
    ReadRun run(ReadRun::Purpose::Restore, ArchiveName, codec_, workers_);
    run.visitor = &visitor;
    run.selecting = true;
    if (!BeginWalk(run, ArchiveName))
        return false;

    BusyFlag busy(busy_);
    OpenArchiveToWalk(run, ArchiveName);
    const bool complete = WalkRecords(run);
    CloseReadVolume(run);
    if (complete)
        WarnUnmatchedPatterns(run);
    ReportProgress("", 100);
    busy_ = false;
    if (errorCode_ != 0)
        ReportError();
    return complete && errorCode_ == 0;
}

}  // namespace arcovelo
