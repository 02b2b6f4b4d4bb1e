// The writing direction of TBackupFile: expansion of the file list, sizing,
// the file-ID list, the header, block groups of 16 KiB chunks, volume changes
// and the end marker.
#include "backup.h"
#include "backup_private.h"
#include "codec.h"
#include "dosdate.h"
#include "format.h"
#include "ordered_pipeline.h"
#include "restore_selection.h"
#include "task_queue.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <functional>
#include <unordered_map>

namespace arcovelo {
namespace {

int ZlibLevel(TCompressionLevel level)
{
    static const int levels[] = {1, 0, -1, 9};  // clFastest, clNone, clDefault, clMax
    return levels[level <= clMax ? level : clFastest];
}

// Only a trailing " /s" (blanks, then /s or /S) marks recursion: "/s" also
// occurs inside ordinary paths such as /srv or /home/u/src.
bool StripRecursionMarker(std::string& entry)
{
    const std::size_t n = entry.size();
    if (n < 3 || entry[n - 2] != '/' || (entry[n - 1] != 's' && entry[n - 1] != 'S'))
        return false;
    if (static_cast<unsigned char>(entry[n - 3]) > ' ')
        return false;
    entry = TrimBlanks(entry.substr(0, n - 2));
    return true;
}

// A source file as it was opened: its identity, date stamp and size then,
// and the stream while there is more of it to read.
struct OpenedFile {
    bool opened = false;
    FileIdentity identity;
    std::int32_t stamp = 0;
    std::int64_t size = 0;
    std::unique_ptr<FileStream> stream;

    static OpenedFile Of(FileStream& file) { return {true, file.Identity(), file.DateStamp(), file.Size(), nullptr}; }
};

// One chunk on its way: read by the caller's thread, compressed into its
// archive frame (length, then payload) by a worker. A small file is opened
// and read by the worker too, its only chunk in one WholeFile slot: for a
// small file the opening is most of the cost.
struct ChunkSlot {
    enum class Kind { Data, End, ReadError, WholeFile };
    Kind kind = Kind::Data;
    std::size_t file = 0;  // index in the work list
    std::array<std::uint8_t, kChunkSize> input{};
    std::size_t count = 0;
    std::array<std::uint8_t, 4 + kChunkSize> frame{};
    std::size_t payload = 0;
    CompressResult result = CompressResult::Compressed;

    // A WholeFile slot: the file to open, then what opening it found.
    FileSystem* fs = nullptr;
    const std::string* path = nullptr;
    OpenedFile opened;
};

// The chunk's frame: a compressed stream with its length, or, when the
// stream would not fit, the raw bytes with their negated count.
void CompressIntoFrame(ChunkSlot& slot, ChunkCompressor& compressor)
{
    std::size_t packed = 0;
    slot.result = compressor.Compress(slot.input.data(), slot.count, slot.frame.data() + 4, packed);
    if (slot.result == CompressResult::Error)
        return;
    std::int32_t length = static_cast<std::int32_t>(packed);
    slot.payload = packed;
    if (slot.result == CompressResult::Raw) {
        length = -static_cast<std::int32_t>(slot.count);
        slot.payload = slot.count;
        std::memcpy(slot.frame.data() + 4, slot.input.data(), slot.count);
    }
    const auto v = static_cast<std::uint32_t>(length);
    slot.frame[0] = std::uint8_t(v);
    slot.frame[1] = std::uint8_t(v >> 8);
    slot.frame[2] = std::uint8_t(v >> 16);
    slot.frame[3] = std::uint8_t(v >> 24);
}

// Reads the next chunk of `file`, no more than `left` bytes (a small file
// takes one read, not two), and counts it off.
void ReadChunk(ChunkSlot& slot, FileStream& file, std::int64_t& left)
{
    try {
        const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(left, kChunkSize));
        slot.count = file.Read(slot.input.data(), wanted);
        slot.kind = slot.count == 0 ? ChunkSlot::Kind::End : ChunkSlot::Kind::Data;
    } catch (const StreamError&) {
        slot.count = 0;
        slot.kind = ChunkSlot::Kind::ReadError;
    }
    left -= static_cast<std::int64_t>(slot.count);
}

// Opens a WholeFile slot's file and reads its first chunk, up to the size at
// opening. The stream is kept in the slot only when the file has more to read
// (it grew after it was listed), for the caller to read on. A file that cannot
// be opened leaves an End slot that says so.
void ReadWholeFile(ChunkSlot& slot)
{
    slot.count = 0;
    slot.kind = ChunkSlot::Kind::End;
    std::unique_ptr<FileStream> file;
    try {
        file = slot.fs->OpenRead(*slot.path);
        slot.opened = OpenedFile::Of(*file);
    } catch (const StreamError&) {
        slot.opened = OpenedFile{};
        return;
    }
    std::int64_t left = slot.opened.size;
    if (left > 0)
        ReadChunk(slot, *file, left);
    if (slot.kind == ChunkSlot::Kind::Data && left > 0)
        slot.opened.stream = std::move(file);
}

// A worker's share of a slot: the reading of a whole small file, then the compression.
void WorkOnSlot(ChunkSlot& slot, ChunkCompressor& compressor)
{
    if (slot.kind == ChunkSlot::Kind::WholeFile)
        ReadWholeFile(slot);
    if (slot.kind == ChunkSlot::Kind::Data)
        CompressIntoFrame(slot, compressor);
}

void WriteString(Stream& s, const std::string& text)
{
    s.WriteInt32(static_cast<std::int32_t>(text.size()));
    s.WriteBuffer(text.data(), text.size());
}

}  // namespace

struct TBackupFile::WriteRun {
    WriteRun(TCompressionLevel level, CodecKind codec, int workers)
        : makeCompressor([=] { return std::make_unique<ChunkCompressor>(ZlibLevel(level), codec); }),
          chunks(workers, makeCompressor, WorkOnSlot)
    {
    }

    std::function<std::unique_ptr<ChunkCompressor>()> makeCompressor;

    bool useStream = false;
    // The archive as it exists before the run, to leave it out of itself
    // whatever name (link, hard link) reaches it.
    bool archiveExists = false;
    FileIdentity archiveIdentity;
    std::vector<FileEntry> work;  // absolute names, byte for byte as found
    // One entry's walk never finds a name twice: from the second entry on,
    // every file listed so far, by the hash of its name, its index in `work`.
    bool lookUpSeen = false;
    std::unordered_multimap<std::size_t, std::size_t> seen;
    std::vector<std::string> fileList;
    std::string tempName;
    std::unique_ptr<FileStream> listFile;  // the file-ID list, already unlinked
    bool listInWork = false;
    std::unique_ptr<ArchiveFlags> flags;
    std::vector<FileEntry> archived;  // files held whole, as they were read

    Stream* archive = nullptr;  // `out`, which gathers writes for the volume or OutStream
    std::unique_ptr<BufferedWriter> out;
    std::unique_ptr<FileStream> volumeFile;
    std::string volumeName;
    unsigned volume = 1;
    std::int64_t volumeStart = 0;  // where the current volume's first record may begin

    // The file whose record is being written, as it was opened.
    std::size_t current = 0;
    OpenedFile source;
    std::int64_t remaining = 0;
    // The read-ahead runs on into the next files, so the workers always have
    // chunks to compress: each file is opened in turn (a small one by a
    // worker, in its WholeFile slot; one that cannot be opened is kept as
    // such for its record's turn) and read up to its size at opening, as its
    // record will take it.
    struct AheadFile {
        OpenedFile file;
        bool inSlot = false;  // a small file: what opening it found comes with its chunk
    };
    std::deque<AheadFile> opened;  // work[nextToOpen - opened.size()] onwards
    std::size_t nextToOpen = 0;
    FileStream* reading = nullptr;
    std::int64_t readRemaining = 0;
    // A small file that grew after it was listed is read on here, chunk by
    // chunk: the pipeline already holds the files after it.
    std::unique_ptr<FileStream> lateStream;
    std::unique_ptr<ChunkSlot> lateSlot;
    std::unique_ptr<ChunkCompressor> lateCompressor;

    OrderedPipeline<ChunkSlot, ChunkCompressor> chunks;

    ChunkSlot* NextChunk();
    bool Listed(std::size_t hash, const std::string& path) const
    {
        const auto [first, last] = seen.equal_range(hash);
        return std::any_of(first, last, [&](const auto& entry) { return work[entry.second].path == path; });
    }
};

// The next chunk of the current file: from the pipeline, or read and
// compressed here when a worker opened the file and it had grown past one
// chunk. Null when the file has nothing more.
ChunkSlot* TBackupFile::WriteRun::NextChunk()
{
    if (!chunks.Empty() && chunks.Front().file == current)
        return &chunks.Front();
    if (!lateStream || remaining <= 0)
        return nullptr;
    if (!lateSlot) {
        lateSlot = std::make_unique<ChunkSlot>();
        lateCompressor = makeCompressor();
    }
    ChunkSlot& slot = *lateSlot;
    slot.file = current;
    std::int64_t left = remaining;
    ReadChunk(slot, *lateStream, left);
    if (slot.kind == ChunkSlot::Kind::Data)
        CompressIntoFrame(slot, *lateCompressor);
    return &slot;
}

bool TBackupFile::Backup(const std::vector<std::string>& FileList, const std::string& ArchiveName)
{
    WriteRun run(compressionLevel_, codec_, workers_);
    run.useStream = ArchiveName == format::kStreamName;
    errorCode_ = 0;
    errorDetail_.clear();
    hiddenFoldersSkipped_ = 0;
    BusyFlag busy(busy_);
    if (!run.useStream)
        run.archiveExists = fs_->Identify(ArchiveName, run.archiveIdentity);
    if (backupMode_ == bmIncremental || setArchiveFlag_)
        run.flags = fs_->OpenArchiveFlags();

    {
        TaskQueue listings(workers_ - 1);
        for (const auto& entry : FileList) {
            if (!run.work.empty() && !run.lookUpSeen)
                IndexListedFiles(run);
            ExpandEntry(run, listings, entry);
        }
    }
    decltype(run.seen)().swap(run.seen);  // needed only while expanding
    if (backupMode_ == bmIncremental)
        KeepFlaggedFiles(run);

    bool result = false;
    continueFlag_ = true;
    ReportProgress("", 0);
    totalSize_ = 0;
    processedCount_ = 0;
    TakeSizes(run);
    if (saveFileID_)
        SaveFileList(run);
    OpenArchive(run, ArchiveName);

    for (std::size_t i = 0; i < run.work.size() && continueFlag_; ++i)
        WriteFileRecord(run, i);

    if (continueFlag_) {
        try {
            run.archive->WriteInt32(0);
            result = true;
        } catch (const StreamError&) {
            Fail(errWriteArchive);
        }
    }
    FinishArchive(run);
    if (errorCode_ != 0)
        result = false;
    // Only an archive that is whole and on stable storage lets the flags go:
    // a stopped, failed or killed run leaves every flag as it was.
    if (result && setArchiveFlag_)
        run.flags->Clear(run.archived);
    run.listFile.reset();

    ReportProgress("", 100);
    busy_ = false;
    if (errorCode_ != 0)
        ReportError();
    return result;
}

// Expands one entry of the list as the user typed it (blanks around it are
// not part of it). A plain name that finds no file is said: it was asked for.
void TBackupFile::ExpandEntry(WriteRun& run, TaskQueue& listings, const std::string& entry)
{
    std::string text = StoredName(TrimBlanks(entry));
    const bool recursive = StripRecursionMarker(text);
    const auto slash = std::find_if(text.rbegin(), text.rend(), IsPathSeparator);
    const std::string folder = text.substr(0, std::size_t(text.rend() - slash));
    const std::string mask = text.substr(folder.size());
    const std::size_t found = ExpandListing(run, listings, folder, mask, fs_->ListFolder(folder, mask, recursive));
    const bool plainName = !mask.empty() && mask.find_first_of("*?") == std::string::npos;
    if (plainName && !recursive && found == 0)
        Warn("Cannot find file \"" + text + "\"");
}

// The files of `folder` matching `mask` as `listing` found them, and with the
// folders it found those below them, subfolders first (depth first). The
// subfolders are listed ahead by helpers while the walk goes down the first.
// Names found here are used byte for byte. Returns how many files matched,
// those already listed included.
std::size_t TBackupFile::ExpandListing(WriteRun& run, TaskQueue& listings, const std::string& folder,
                                       const std::string& mask, FolderListing listing)
{
    if (!listing.problem.empty())
        Warn(listing.problem);
    struct Subfolder {
        std::string path;
        std::shared_ptr<FolderListing> listing = std::make_shared<FolderListing>();
        TaskQueue::Id task = 0;
    };
    std::vector<Subfolder> subfolders;
    for (const auto& name : FoldersToEnter(folder, listing)) {
        Subfolder sub{StoredName(fs_->AbsolutePath(folder + name)) + kPathSeparator};
        sub.task = listings.Add([fs = fs_, path = sub.path, mask, out = sub.listing] {
            *out = fs->ListFolder(path, mask, true);
        });
        subfolders.push_back(std::move(sub));
    }
    std::size_t found = listing.files.size();
    for (auto& sub : subfolders) {
        listings.Wait(sub.task);
        found += ExpandListing(run, listings, sub.path, mask, std::move(*sub.listing));
    }
    for (auto& file : listing.files) {
        const std::string name = file.path;
        file.path = StoredName(fs_->AbsolutePath(folder + name));
        if (!LeavesOut(backupExclude_, name, file.path))
            AddExpandedFile(run, std::move(file));
    }
    return found;
}

void TBackupFile::AddExpandedFile(WriteRun& run, FileEntry file)
{
    const std::size_t hash = std::hash<std::string>{}(file.path);
    if (run.lookUpSeen && run.Listed(hash, file.path))
        return;
    if (run.archiveExists && IsTheArchive(run, file))
        return;  // the archive itself, under whatever name
    if (run.lookUpSeen)
        run.seen.emplace(hash, run.work.size());
    run.work.push_back(std::move(file));
}

void TBackupFile::IndexListedFiles(WriteRun& run)
{
    for (std::size_t i = 0; i < run.work.size(); ++i)
        run.seen.emplace(std::hash<std::string>{}(run.work[i].path), i);
    run.lookUpSeen = true;
}

// Compared by device and file number; where a listing does not tell the file
// number (0), a file of the archive's size is asked for it.
bool TBackupFile::IsTheArchive(WriteRun& run, const FileEntry& file)
{
    FileIdentity id = file.identity;
    if (id.inode == 0 && (id.size != run.archiveIdentity.size || !fs_->Identify(file.path, id)))
        return false;
    return id.device == run.archiveIdentity.device && id.inode == run.archiveIdentity.inode;
}

// An incremental backup takes the files whose flag is set, asked all at once.
void TBackupFile::KeepFlaggedFiles(WriteRun& run)
{
    const std::vector<bool> set = run.flags->AreSet(run.work);
    std::vector<FileEntry> flagged;
    for (std::size_t i = 0; i < run.work.size(); ++i)
        if (set[i])
            flagged.push_back(std::move(run.work[i]));
    run.work = std::move(flagged);
}

// Sizing pass: the total of all sizes and, with SaveFileID, one line per
// file, from what the enumeration found. A file that exists but cannot be
// opened leaves Backup as a StreamError; one that is gone since it was found
// is said when its record is due.
void TBackupFile::TakeSizes(WriteRun& run)
{
    const std::vector<char> readable = CheckReadable(run.work);
    for (std::size_t i = 0; i < run.work.size(); ++i) {
        if (!readable[i])
            continue;
        const auto& [name, found] = run.work[i];
        totalSize_ += found.size;
        if (saveFileID_) {
            const std::int32_t stamp = DosStampFromTime(static_cast<std::time_t>(found.mtimeNs / 1000000000));
            run.fileList.push_back(name + "\t" + std::to_string(stamp) + "=" + std::to_string(found.size));
        }
    }
}

// Whether each file may be read (false: it is missing), asked in ranges on
// helper threads; the first file in list order that exists but may not be
// read throws its StreamError here.
std::vector<char> TBackupFile::CheckReadable(const std::vector<FileEntry>& files)
{
    // About sixteen ranges, so that helpers and caller share the work evenly.
    const std::size_t rangeSize = std::max<std::size_t>(64, files.size() / 16);
    struct Range {
        std::vector<char> readable;
        TaskQueue::Id task = 0;
    };
    std::vector<std::shared_ptr<Range>> ranges;
    TaskQueue checks(workers_ - 1);
    for (std::size_t first = 0; first < files.size(); first += rangeSize) {
        auto range = std::make_shared<Range>();
        const std::size_t end = std::min(files.size(), first + rangeSize);
        range->task = checks.Add([fs = fs_, &files, first, end, range] {
            for (std::size_t i = first; i < end; ++i)
                range->readable.push_back(fs->CheckReadable(files[i].path));
        });
        ranges.push_back(std::move(range));
    }
    std::vector<char> readable;
    readable.reserve(files.size());
    for (const auto& range : ranges) {
        checks.Wait(range->task);  // a range ends at its first failure, thrown here
        readable.insert(readable.end(), range->readable.begin(), range->readable.end());
    }
    return readable;
}

// The file-ID list goes through a temporary file so that it is archived like
// any other file, as the archive's first record.
void TBackupFile::SaveFileList(WriteRun& run)
{
    try {
        run.listFile = fs_->CreateUnique(fs_->TempFolder(), "FID", run.tempName);
        BufferedWriter text(*run.listFile);
        for (const auto& line : run.fileList) {
            text.WriteBuffer(line.data(), line.size());
            text.WriteBuffer("\r\n", 2);
        }
        text.Flush();
        run.work.insert(run.work.begin(), FileEntry{run.tempName, {}});
        run.listInWork = true;
        totalSize_ += text.Position();
    } catch (const StreamError&) {
        Fail(errTempFile);
    }
    std::vector<std::string>().swap(run.fileList);
}

// Creates the first volume (or takes OutStream) and writes the header. Runs
// even after a failed file-ID list, leaving an archive of just the header.
void TBackupFile::OpenArchive(WriteRun& run, const std::string& archiveName)
{
    run.volume = 1;
    fileCount_ = static_cast<std::int32_t>(run.work.size() - (run.listInWork ? 1 : 0));
    bytesProcessed_ = 0;
    bytesWritten_ = 0;
    // A title no reader would accept is refused before anything is created.
    if (backupTitle_.size() > std::size_t(format::kMaxTitleLength)) {
        Fail(errWriteArchive);
        return;
    }
    try {
        if (run.useStream) {
            if (outStream_ == nullptr)
                throw StreamError("No output stream");
            run.archive = outStream_;
        } else {
            run.volumeName = archiveName;
            run.volumeFile = fs_->Create(archiveName);
        }
        run.out = std::make_unique<BufferedWriter>(run.useStream ? *outStream_ : *run.volumeFile);
        run.archive = run.out.get();
        WriteString(*run.archive, backupTitle_);
        run.archive->WriteInt32(static_cast<std::int32_t>(std::min(totalSize_, format::kMaxHeaderValue)));
        run.archive->WriteInt32(fileCount_);
        run.volumeStart = run.archive->Position();
    } catch (const StreamError&) {
        Fail(errWriteArchive);
    }
}

void TBackupFile::WriteFileRecord(WriteRun& run, std::size_t index)
{
    const bool isList = run.listInWork && index == 0;
    const std::string name = run.work[index].path;
    // Opened before its record (by the read-ahead): a file that is gone gets
    // no record and is said.
    while (run.nextToOpen <= index && OpenAhead(run)) {
    }
    run.current = index;
    TakeOpenedFile(run);
    if (!run.source.opened && !isList && !fs_->FileExists(name)) {
        Warn("File \"" + name + "\" vanished before it was backed up");
        return;
    }
    currentFile_ = isList ? format::kFileListName : name;
    try {
        ChangeVolumeBeforeRecord(run, currentFile_);
        if (!continueFlag_)
            return;
        WriteString(*run.archive, currentFile_);
    } catch (const StreamError&) {
        Fail(errWriteArchive);
        return;
    }
    currentFile_ = name;

    bool complete = false;
    try {
        if (!run.source.opened)
            throw StreamError("Cannot open file \"" + name + "\"");
        run.archive->WriteInt32(run.source.stamp);
        run.remaining = run.source.size;
        do {
            WriteBlockGroup(run);
            complete = run.remaining <= 0 && errorCode_ == 0;
        } while (continueFlag_ && run.remaining > 0);
        if (!isList)
            ++processedCount_;
    } catch (const StreamError&) {
        Fail(errReadFile);
        complete = false;
    }
    if (!continueFlag_)
        DropReadAhead(run);  // what was read ahead of a stop or failure goes
    if (complete && !isList) {
        run.archived.push_back({name, run.source.identity});
        if (OnFileWritten)
            OnFileWritten(this, name);
    }
    run.source = OpenedFile{};
    run.lateStream.reset();
}

// The current file as it was opened: by the read-ahead, or by a worker, whose
// slot brings the first chunk too (left for WriteChunk when there is one).
void TBackupFile::TakeOpenedFile(WriteRun& run)
{
    WriteRun::AheadFile ahead = std::move(run.opened.front());
    run.opened.pop_front();
    if (!ahead.inSlot) {
        run.source = std::move(ahead.file);
        return;
    }
    ChunkSlot& slot = run.chunks.Front();
    run.source = std::move(slot.opened);
    run.lateStream = std::move(run.source.stream);
    if (slot.kind == ChunkSlot::Kind::End)
        run.chunks.Pop();
}

// One block group of the current file: tag, chunks until the file ends or the
// volume is full, group end; then the change to the next volume if needed.
void TBackupFile::WriteBlockGroup(WriteRun& run)
{
    try {
        run.archive->WriteBuffer(format::kBlockTag, 4);
        bytesWritten_ += 4;
        while (run.remaining > 0 && continueFlag_) {
            const bool volumeFull = maxSize_ != 0 && !run.useStream &&
                                    run.archive->Position() >= std::int64_t(maxSize_) - format::kVolumeReserve;
            if (volumeFull || !WriteChunk(run))
                break;
        }
        run.archive->WriteInt32(0);
        if (run.remaining > 0 && continueFlag_)
            ChangeVolume(run);
    } catch (const StreamError&) {
        Fail(errWriteArchive);
    }
}

// Opens the next file of the work list for the read-ahead, or hands a small
// one to a worker; false when there is none, or enough are open already.
bool TBackupFile::OpenAhead(WriteRun& run)
{
    constexpr std::size_t kMostOpenAhead = 64;
    if (run.nextToOpen >= run.work.size() || run.opened.size() >= kMostOpenAhead)
        return false;
    const std::size_t index = run.nextToOpen;
    const bool isList = run.listInWork && index == 0;
    run.reading = nullptr;
    if (!isList && run.work[index].identity.size <= std::int64_t(kChunkSize)) {
        if (run.chunks.Full())
            return false;
        ++run.nextToOpen;
        ChunkSlot& slot = run.chunks.Acquire();
        slot.kind = ChunkSlot::Kind::WholeFile;
        slot.file = index;
        slot.fs = fs_.get();
        slot.path = &run.work[index].path;
        run.chunks.Submit(true);
        run.opened.push_back({OpenedFile{}, true});
        return true;
    }
    ++run.nextToOpen;
    OpenedFile file;
    try {
        std::unique_ptr<FileStream> stream;
        if (isList) {
            stream = std::move(run.listFile);
            stream->Seek(0, SeekOrigin::Begin);
        } else {
            stream = fs_->OpenRead(run.work[index].path);
        }
        file = OpenedFile::Of(*stream);
        file.stream = std::move(stream);
    } catch (const StreamError&) {
        file = OpenedFile{};  // said when its record is due
    }
    run.readRemaining = file.size;
    if (file.size > 0)
        run.reading = file.stream.get();
    run.opened.push_back({std::move(file), false});
    return true;
}

// Keeps the pipeline full with the next chunks, of this file and the next.
void TBackupFile::ReadAhead(WriteRun& run)
{
    while (!run.chunks.Full()) {
        if (run.reading == nullptr) {
            if (!OpenAhead(run))
                return;
            continue;
        }
        ChunkSlot& slot = run.chunks.Acquire();
        slot.file = run.nextToOpen - 1;
        ReadChunk(slot, *run.reading, run.readRemaining);
        if (slot.kind != ChunkSlot::Kind::Data || run.readRemaining <= 0)
            run.reading = nullptr;
        run.chunks.Submit(slot.kind == ChunkSlot::Kind::Data);
    }
}

void TBackupFile::DropReadAhead(WriteRun& run)
{
    run.chunks.Clear();
    run.reading = nullptr;
    run.opened.clear();
    run.lateStream.reset();
}

// Takes the next chunk of the current file and writes it; false when the
// file ended early or the chunk failed. Archive write failures leave as
// StreamError.
bool TBackupFile::WriteChunk(WriteRun& run)
{
    ReadAhead(run);
    ChunkSlot* next = run.NextChunk();
    if (next == nullptr) {
        run.remaining = 0;  // nothing more can be read: the file ends here
        return false;
    }
    ChunkSlot& slot = *next;
    const auto done = [&] {
        if (&slot != run.lateSlot.get())
            run.chunks.Pop();
    };
    if (slot.kind != ChunkSlot::Kind::Data) {
        const bool readError = slot.kind == ChunkSlot::Kind::ReadError;
        done();
        if (readError)
            Fail(errReadFile);
        else
            run.remaining = 0;  // the file shrank while being read: its data ends here
        return false;
    }
    run.remaining -= static_cast<std::int64_t>(slot.count);
    bytesProcessed_ += static_cast<std::int64_t>(slot.count);
    if (slot.result == CompressResult::Error) {
        done();
        Fail(errCompression);
        return false;
    }
    // A chunk goes out in one write: its length, then its payload.
    const std::size_t payload = slot.payload;
    run.archive->WriteBuffer(slot.frame.data(), 4 + payload);
    done();
    bytesWritten_ += 4 + static_cast<std::int64_t>(payload);

    Yield();
    Progress(currentFile_);
    return true;
}

// Ends the full volume with a volume-change record, puts it on stable storage
// (the user may take the disk out next), asks for the next disk and creates
// the next volume.
void TBackupFile::ChangeVolume(WriteRun& run)
{
    if (run.volume >= format::kLastVolume) {
        // Three digits name volumes up to .999; there is no volume 1000.
        Fail(errWriteArchive);
        return;
    }
    ++run.volume;
    const std::string digits = format::VolumeDigits(run.volume);
    WriteString(*run.archive, std::string(format::kVolumeMarker) + digits);
    run.out->Flush();
    run.volumeFile->Sync();
    run.volumeFile->Close();
    run.volumeFile.reset();
    run.archive = nullptr;
    run.out.reset();
    if (!AskForDisk(static_cast<std::uint16_t>(run.volume)))
        return;
    run.volumeName = format::NextVolumeName(run.volumeName, digits);
    run.volumeFile = fs_->Create(run.volumeName);
    run.out = std::make_unique<BufferedWriter>(*run.volumeFile);
    run.archive = run.out.get();
    run.volumeStart = 0;
}

// Records are written whole into a volume where they fit: when the next
// record could not end within MaxSize (with the volume-change record that may
// follow it), the volume ends before it. The new volume then starts with the
// empty block group that the format expects there, continuing the previous
// file by nothing. A volume that holds no record yet takes the record anyway.
void TBackupFile::ChangeVolumeBeforeRecord(WriteRun& run, const std::string& name)
{
    if (maxSize_ == 0 || run.useStream || run.archive->Position() <= run.volumeStart)
        return;
    if (run.archive->Position() + format::kRecordReserve + std::int64_t(name.size()) <= maxSize_)
        return;
    ChangeVolume(run);
    if (!continueFlag_ || run.archive == nullptr)
        return;
    run.archive->WriteBuffer(format::kBlockTag, 4);
    run.archive->WriteInt32(0);
    bytesWritten_ += 4;
    run.volumeStart = run.archive->Position();
}

// Closes the last volume. A completed archive is only reported as written once
// its data and its folder entry are on stable storage.
void TBackupFile::FinishArchive(WriteRun& run)
{
    // What a stopped or failed run wrote stays in its volume too.
    try {
        if (run.out)
            run.out->Flush();
    } catch (const StreamError&) {
        if (errorCode_ == 0)
            Fail(errWriteArchive);
    }
    if (!run.volumeFile)
        return;
    try {
        if (continueFlag_) {
            run.volumeFile->Sync();
            run.volumeFile->Close();
            fs_->SyncFolder(ParentFolder(fs_->AbsolutePath(run.volumeName)));
        }
    } catch (const StreamError&) {
        Fail(errWriteArchive);
    }
    try {
        run.volumeFile->Close();
    } catch (const StreamError&) {
        // The run has already failed or been stopped; its archive is incomplete anyway.
    }
    run.volumeFile.reset();
}

}  // namespace arcovelo
