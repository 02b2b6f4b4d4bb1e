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
#include <set>
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
    std::string failure;  // why it could not be opened

    static OpenedFile Of(FileStream& file) { return {true, file.Identity(), file.DateStamp(), file.Size(), nullptr, {}}; }
    static OpenedFile Failed(const StreamError& e) { return {false, {}, 0, 0, nullptr, e.what()}; }
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
    std::string failure;  // a ReadError slot: what the system said

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
    } catch (const StreamError& e) {
        slot.count = 0;
        slot.kind = ChunkSlot::Kind::ReadError;
        slot.failure = e.what();
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
    } catch (const StreamError& e) {
        slot.opened = OpenedFile::Failed(e);
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

// A file's times are only as fine as the clock the file system stamps them
// with, which ticks every few milliseconds (or, where times are kept in whole
// seconds, every second or two): a same-size rewrite in the tick the file was
// read in leaves size, mtime and ctime as they were, and a cleared flag would
// then hide the new content from every later incremental backup. A file
// stamped at or after the tick the run started in (two seconds before it for
// whole-second times) keeps its flag and is simply taken again next time.
bool ChangedTooLateToTell(const FileIdentity& file, std::int64_t startTickNs)
{
    constexpr std::int64_t kSecond = 1'000'000'000;
    const std::int64_t changed = std::max(file.mtimeNs, file.ctimeNs);
    const bool wholeSeconds = file.mtimeNs % kSecond == 0 && file.ctimeNs % kSecond == 0;
    return changed >= startTickNs - (wholeSeconds ? 2 * kSecond : 0);
}

// Keeps the entries of `files` whose `keep` is set, in order, in place: a
// million names are not copied.
void KeepMarked(std::vector<FileEntry>& files, const std::vector<char>& keep)
{
    std::size_t kept = 0;
    for (std::size_t i = 0; i < files.size(); ++i)
        if (keep[i] && kept++ != i)
            files[kept - 1] = std::move(files[i]);
    files.resize(kept);
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
    // The volumes of the archive as it exists before the run (the first, then
    // .002 on), to leave them out of the backup whatever name (link, hard
    // link) reaches them, and to remove those the new archive no longer has.
    struct OldVolume {
        std::string name;
        FileIdentity identity;
    };
    std::vector<OldVolume> oldVolumes;
    std::vector<FileEntry> work;  // absolute names, byte for byte as found (stored as StoredName gives them)
    // One entry's walk never finds a name twice: from the second entry on,
    // every file listed so far, by the hash of its name, its index in `work`.
    bool lookUpSeen = false;
    std::unordered_multimap<std::size_t, std::size_t> seen;
    std::vector<char> listed;  // each file of `work` has its line in the file-ID list
    std::string tempName;
    std::unique_ptr<FileStream> listFile;  // the file-ID list, already unlinked
    bool listInWork = false;
    std::unique_ptr<ArchiveFlags> flags;
    // Each file of `work` the archive holds whole; its identity in `work`
    // is then the one it had when it was read.
    std::vector<char> held;

    Stream* archive = nullptr;  // `out`, which gathers writes for the volume or OutStream
    std::unique_ptr<BufferedWriter> out;
    std::unique_ptr<FileStream> volumeFile;
    std::string volumeName;
    // Volumes are written under hidden names beside their own and take their
    // names only when whole, so the archive they replace stays as it was
    // until then. A person who changes disks gets each volume in place
    // before being asked for the next disk; otherwise all go in at the end.
    struct AsideVolume {
        std::string aside;
        std::string name;
    };
    std::vector<AsideVolume> aside;
    bool placeEachVolume = false;
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
    // An archive named through a link is written where the link leads, each
    // of its volumes beside the first.
    const std::string archiveName = run.useStream ? ArchiveName : TargetOf(ArchiveName);
    errorCode_ = 0;
    errorDetail_.clear();
    hiddenFoldersSkipped_ = 0;
    BusyFlag busy(busy_);
    const std::int64_t startTickNs = FileClockNowNs();
    if (!run.useStream) {
        RemoveStaleAside(archiveName);
        FindOldVolumes(run, archiveName);
        run.placeEachVolume = OnNeedDisk || host_->AsksPersonForDisks();
    }
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
    SettleSharedStoredNames(run);
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
    std::vector<char>().swap(run.listed);
    OpenArchive(run, archiveName);
    run.held.assign(run.work.size(), 0);

    for (std::size_t i = 0; i < run.work.size() && continueFlag_; ++i)
        WriteFileRecord(run, i);

    if (continueFlag_) {
        try {
            run.archive->WriteInt32(0);
            result = true;
        } catch (const StreamError& e) {
            FailWritingArchive(run, e);
        }
    }
    FinishArchive(run);
    if (errorCode_ != 0)
        result = false;
    // A run killed while its volumes took their names left second names of
    // the volumes this run has now replaced: they are single links now, and go.
    if (result && !run.useStream)
        RemoveStaleAside(archiveName);
    // Only an archive that is whole and on stable storage lets the flags go:
    // a stopped, failed or killed run leaves every flag as it was.
    if (result && setArchiveFlag_)
        run.flags->Clear(TakeHeldFiles(run, startTickNs));
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
    std::string text = TrimBlanks(entry);
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
        Subfolder sub{fs_->AbsolutePath(folder + name) + kPathSeparator};
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
        file.path = fs_->AbsolutePath(folder + name);
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
    if (!run.oldVolumes.empty() && IsTheArchive(run, file))
        return;  // a volume of the archive itself, under whatever name
    if (run.lookUpSeen)
        run.seen.emplace(hash, run.work.size());
    run.work.push_back(std::move(file));
}

// Names that one stored name stands for: one file reached by names of another
// case is kept once; two files whose names differ only in case (a folder
// that tells case apart) are both kept, with their own bytes, and said; two
// files the system lists under one and the same name (names it cannot
// translate) cannot be opened each by its own name and are left out, and said.
void TBackupFile::SettleSharedStoredNames(WriteRun& run)
{
    if constexpr (!kStoredNamesFold)
        return;  // names are stored as found, and the walk lists no name twice
    std::unordered_map<std::string, std::size_t> first;  // stored name: its first index in `work`
    std::vector<char> drop(run.work.size(), 0);
    bool dropping = false;
    for (std::size_t i = 0; i < run.work.size(); ++i) {
        const auto [earlier, fresh] = first.emplace(StoredName(run.work[i].path), i);
        if (fresh)
            continue;
        const std::string& was = run.work[earlier->second].path;
        const std::string& is = run.work[i].path;
        if (was == is) {
            Warn("Files listed under one name \"" + is + "\" cannot be told apart: not backed up");
            drop[earlier->second] = drop[i] = 1;
        } else if (IsSameFile(was, is)) {
            drop[i] = 1;
        } else {
            Warn("Files \"" + was + "\" and \"" + is + "\" are both stored as \"" + earlier->first + "\"");
            continue;
        }
        dropping = true;
    }
    if (!dropping)
        return;
    std::vector<FileEntry> kept;
    for (std::size_t i = 0; i < run.work.size(); ++i)
        if (!drop[i])
            kept.push_back(std::move(run.work[i]));
    run.work = std::move(kept);
}

bool TBackupFile::IsSameFile(const std::string& a, const std::string& b)
{
    FileIdentity first;
    FileIdentity second;
    return fs_->Identify(a, first) && fs_->Identify(b, second) && first.SameFileAs(second);
}

void TBackupFile::IndexListedFiles(WriteRun& run)
{
    for (std::size_t i = 0; i < run.work.size(); ++i)
        run.seen.emplace(std::hash<std::string>{}(run.work[i].path), i);
    run.lookUpSeen = true;
}

// Compared with every volume by device and file number; where a listing does
// not tell the file number (0), a file of a volume's size is asked for it.
bool TBackupFile::IsTheArchive(WriteRun& run, const FileEntry& file)
{
    FileIdentity id = file.identity;
    const auto sameSize = [&](const WriteRun::OldVolume& v) { return v.identity.size == id.size; };
    if (id.inode == 0 &&
        (std::none_of(run.oldVolumes.begin(), run.oldVolumes.end(), sameSize) || !fs_->Identify(file.path, id)))
        return false;
    return std::any_of(run.oldVolumes.begin(), run.oldVolumes.end(), [&](const WriteRun::OldVolume& v) {
        return v.identity.SameFileAs(id);
    });
}

// The archive's volumes as they are now: the first, then .002, .003, ... as
// long as they follow each other.
void TBackupFile::FindOldVolumes(WriteRun& run, const std::string& archiveName)
{
    std::string name = archiveName;
    FileIdentity identity;
    for (unsigned volume = 1; volume <= format::kLastVolume && fs_->Identify(name, identity); ++volume) {
        run.oldVolumes.push_back({name, identity});
        name = format::NextVolumeName(archiveName, format::VolumeDigits(volume + 1));
    }
}

// What killed runs left beside the archive or any of its volumes goes.
void TBackupFile::RemoveStaleAside(const std::string& archiveName)
{
    const std::string path = fs_->AbsolutePath(archiveName);
    const std::string folder = ParentFolder(path);
    const std::string archive = StoredName(path.substr(folder.size() + (IsPathSeparator(folder.back()) ? 0 : 1)));
    const std::string stem = StoredName(format::NextVolumeName(archive, ""));
    fs_->RemoveStaleAside(folder, [&](const std::string& found) {
        const std::string target = StoredName(found);
        if (target == archive)
            return true;
        return target.size() == stem.size() + 3 && target.compare(0, stem.size(), stem) == 0 &&
               std::all_of(target.begin() + std::ptrdiff_t(stem.size()), target.end(),
                           [](char c) { return c >= '0' && c <= '9'; });
    });
}

// An incremental backup takes the files whose flag is set, asked all at once.
void TBackupFile::KeepFlaggedFiles(WriteRun& run)
{
    const std::vector<bool> set = run.flags->AreSet(run.work);
    KeepMarked(run.work, std::vector<char>(set.begin(), set.end()));
}

// The files whose flags the finished archive lets go, taken out of the run:
// those it holds whole, as they were read, but none changed too late in the
// run to tell.
std::vector<FileEntry> TBackupFile::TakeHeldFiles(WriteRun& run, std::int64_t startTickNs)
{
    for (std::size_t i = 0; i < run.work.size(); ++i)
        run.held[i] = run.held[i] && !ChangedTooLateToTell(run.work[i].identity, startTickNs);
    KeepMarked(run.work, run.held);
    return std::move(run.work);
}

// Sizing pass: the total of all sizes, from what the enumeration found, and
// which files the file-ID list names. A file that exists but cannot be
// opened leaves Backup as a StreamError; one that is gone since it was found
// is said when its record is due.
void TBackupFile::TakeSizes(WriteRun& run)
{
    run.listed = CheckReadable(run.work);
    for (std::size_t i = 0; i < run.work.size(); ++i)
        totalSize_ += run.listed[i] ? run.work[i].identity.size : 0;
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
                range->readable.push_back(files[i].readable || fs->CheckReadable(files[i].path));
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

// The file-ID list, one line per file the sizing pass counted, goes through
// a temporary file so that it is archived like any other file, as the
// archive's first record.
void TBackupFile::SaveFileList(WriteRun& run)
{
    try {
        run.listFile = fs_->CreateUnique(fs_->TempFolder(), "FID", run.tempName);
        BufferedWriter text(*run.listFile);
        std::string line;
        for (std::size_t i = 0; i < run.work.size(); ++i) {
            if (!run.listed[i])
                continue;
            const FileIdentity& found = run.work[i].identity;
            const std::int32_t stamp = DosStampFromTime(static_cast<std::time_t>(found.mtimeNs / 1000000000));
            line = StoredName(run.work[i].path) + "\t" + std::to_string(stamp) + "=" + std::to_string(found.size);
            line += "\r\n";
            text.WriteBuffer(line.data(), line.size());
        }
        text.Flush();
        run.work.insert(run.work.begin(), FileEntry{run.tempName, {}});
        run.listInWork = true;
        totalSize_ += text.Position();
    } catch (const StreamError& e) {
        Fail(errTempFile, FailureDetail(fs_->TempFolder(), e));
    }
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
        Fail(errWriteArchive, archiveName + ": the title is longer than " +
                                  std::to_string(format::kMaxTitleLength) + " bytes");
        return;
    }
    try {
        if (run.useStream) {
            run.volumeName = archiveName;
            if (outStream_ == nullptr)
                throw StreamError("No output stream");
            run.archive = outStream_;
        } else {
            CreateVolume(run, archiveName);
        }
        run.out = std::make_unique<BufferedWriter>(run.useStream ? *outStream_ : *run.volumeFile);
        run.archive = run.out.get();
        WriteString(*run.archive, backupTitle_);
        run.archive->WriteInt32(static_cast<std::int32_t>(std::min(totalSize_, format::kMaxHeaderValue)));
        run.archive->WriteInt32(fileCount_);
        run.volumeStart = run.archive->Position();
    } catch (const StreamError& e) {
        FailWritingArchive(run, e);
    }
}

// Creates the volume `name` under its aside name.
void TBackupFile::CreateVolume(WriteRun& run, const std::string& name)
{
    run.volumeName = name;
    std::string aside;
    run.volumeFile = fs_->CreateAside(TargetOf(name), aside);
    run.aside.push_back({std::move(aside), name});
}

// Gives the whole volumes written so far their names, the first volume last,
// and puts the folder's new entries on stable storage. Several volumes cannot
// take their names in one step: each volume they replace keeps a second name
// until all are in place, and should one not take its name (or the folder
// not reach stable storage), the replaced volumes take theirs back, so that
// the folder does not hold old and new volumes mixed.
void TBackupFile::PlaceVolumes(WriteRun& run)
{
    const bool keep = run.aside.size() > 1;
    std::vector<PlacedVolume> placed;
    try {
        for (auto volume = run.aside.rbegin(); volume != run.aside.rend(); ++volume) {
            PlacedVolume p;
            p.target = TargetOf(volume->name);
            p.replaced = fs_->KindOf(p.target) != PathKind::Missing;
            if (keep && p.replaced)
                fs_->KeepAside(p.target, p.kept);
            placed.push_back(std::move(p));
            fs_->MoveOver(volume->aside, placed.back().target);
            placed.back().moved = true;
        }
        // A volume may lead elsewhere through a link: each folder that
        // received one is flushed.
        std::set<std::string> folders;
        for (const auto& p : placed)
            folders.insert(ParentFolder(fs_->AbsolutePath(p.target)));
        for (const auto& folder : folders)
            fs_->SyncFolder(folder);
    } catch (const StreamError&) {
        if (keep)
            PutBackVolumes(placed);
        throw;
    }
    run.aside.clear();
    for (const auto& p : placed)
        if (!p.kept.empty())
            fs_->RemoveFile(p.kept);
}

// The volumes that replaced others give the names back, and those that
// replaced nothing go; a replaced volume that was not kept cannot come back,
// and one that cannot take its name back is said where it stays.
void TBackupFile::PutBackVolumes(const std::vector<PlacedVolume>& placed)
{
    for (const auto& p : placed) {
        if (!p.moved) {
            if (!p.kept.empty())
                fs_->RemoveFile(p.kept);  // its volume never left
        } else if (!p.replaced) {
            fs_->RemoveFile(p.target);
        } else if (!p.kept.empty()) {
            try {
                fs_->MoveOver(p.kept, p.target);
            } catch (const StreamError&) {
                Warn("The previous volume \"" + p.target + "\" is kept as \"" + p.kept + "\"");
            }
        }
    }
}

// A volume named through a link is written, and read, where the link leads,
// as writing in place did.
std::string TBackupFile::TargetOf(const std::string& volumeName)
{
    return fs_->KindOf(volumeName) == PathKind::Link ? fs_->ResolveLinks(volumeName) : volumeName;
}

// A run that did not complete leaves nothing under any aside name.
void TBackupFile::DiscardAsideVolumes(WriteRun& run)
{
    for (const auto& volume : run.aside)
        fs_->RemoveFile(volume.aside);
    run.aside.clear();
}

// The volumes of the replaced archive past the new archive's last go, so that
// a shorter archive does not leave the old one's tail beside it. Only files
// that are still the volumes found at the start are removed.
void TBackupFile::RemoveOldVolumesPast(WriteRun& run, unsigned lastVolume)
{
    bool removed = false;
    for (std::size_t i = lastVolume; i < run.oldVolumes.size(); ++i) {
        FileIdentity now;
        const auto& old = run.oldVolumes[i];
        if (fs_->Identify(old.name, now) && now.SameFileAs(old.identity) &&
            fs_->KindOf(old.name) == PathKind::File)
            removed = fs_->RemoveFile(old.name) || removed;
    }
    if (removed)
        fs_->SyncFolder(ParentFolder(fs_->AbsolutePath(run.volumeName)));
}

// Code 4, with the archive's name and what the system said.
void TBackupFile::FailWritingArchive(WriteRun& run, const StreamError& error)
{
    Fail(errWriteArchive, FailureDetail(run.volumeName, error));
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
    currentFile_ = isList ? format::kFileListName : StoredName(name);
    try {
        ChangeVolumeBeforeRecord(run, currentFile_);
        if (!continueFlag_)
            return;
        WriteString(*run.archive, currentFile_);
    } catch (const StreamError& e) {
        FailWritingArchive(run, e);
        return;
    }
    currentFile_ = name;

    bool complete = false;
    const std::int64_t processedBefore = bytesProcessed_;
    try {
        if (!run.source.opened)
            throw StreamError(run.source.failure.empty() ? "Cannot open file \"" + name + "\"" : run.source.failure);
        run.archive->WriteInt32(run.source.stamp);
        run.remaining = run.source.size;
        do {
            WriteBlockGroup(run);
            complete = run.remaining <= 0 && errorCode_ == 0;
        } while (continueFlag_ && run.remaining > 0);
        if (!isList)
            ++processedCount_;
    } catch (const StreamError& e) {
        Fail(errReadFile, FailureDetail(name, e));
        complete = false;
    }
    if (!continueFlag_)
        DropReadAhead(run);  // what was read ahead of a stop or failure goes
    if (complete && !isList) {
        WarnOfChangedSize(run, index, bytesProcessed_ - processedBefore);
        run.work[index].identity = run.source.identity;
        run.held[index] = 1;
        if (OnFileWritten)
            OnFileWritten(this, name);
    }
    run.source = OpenedFile{};
    run.lateStream.reset();
}

// A file whose size changed between the listing and its reading is archived
// as it was read, but its line in the file-ID list, written first, keeps the
// size it was listed with: the disagreement is said, so that a check of the
// archive that finds it is no surprise.
void TBackupFile::WarnOfChangedSize(const WriteRun& run, std::size_t index, std::int64_t stored)
{
    const FileEntry& file = run.work[index];
    if (run.listInWork && stored != file.identity.size)
        Warn("File \"" + file.path + "\" changed while it was backed up: the archive holds " +
             std::to_string(stored) + " bytes of it, its file-ID list " + std::to_string(file.identity.size));
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
    } catch (const StreamError& e) {
        FailWritingArchive(run, e);
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
    } catch (const StreamError& e) {
        file = OpenedFile::Failed(e);  // said when its record is due
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
        const std::string failure = readError ? slot.failure : std::string();
        done();
        if (readError)
            Fail(errReadFile, FailureDetail(currentFile_, failure));
        else
            run.remaining = 0;  // the file shrank while being read: its data ends here
        return false;
    }
    run.remaining -= static_cast<std::int64_t>(slot.count);
    bytesProcessed_ += static_cast<std::int64_t>(slot.count);
    if (slot.result == CompressResult::Error) {
        done();
        Fail(errCompression, currentFile_ + ": the compressor reported an error");
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
        Fail(errWriteArchive, run.volumeName + ": an archive has at most " + std::to_string(format::kLastVolume) +
                                  " volumes");
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
    if (run.placeEachVolume) {
        // The disk may be taken out next. The replaced archive is gone with
        // its first volume: its later ones would only continue the new
        // archive with old data if this run ends here.
        PlaceVolumes(run);
        RemoveOldVolumesPast(run, run.volume - 1);
    }
    if (!AskForDisk(static_cast<std::uint16_t>(run.volume)))
        return;
    CreateVolume(run, format::NextVolumeName(run.volumeName, digits));
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

// Closes the last volume. A completed archive takes its name (every volume
// that is not in place yet, together) only once its data are on stable
// storage, and is reported as written once its folder entries are too. A run
// that did not complete removes what it wrote: the archive it was to replace
// stays as it was.
void TBackupFile::FinishArchive(WriteRun& run)
{
    try {
        if (run.out)
            run.out->Flush();
    } catch (const StreamError& e) {
        if (errorCode_ == 0)
            FailWritingArchive(run, e);
    }
    if (run.useStream)
        return;
    try {
        if (continueFlag_ && run.volumeFile) {
            run.volumeFile->Sync();
            run.volumeFile->Close();
            PlaceVolumes(run);
            RemoveOldVolumesPast(run, run.volume);
        }
    } catch (const StreamError& e) {
        FailWritingArchive(run, e);
    }
    if (run.volumeFile) {
        try {
            run.volumeFile->Close();
        } catch (const StreamError&) {
            // The run has already failed or been stopped; what it wrote goes next.
        }
        run.volumeFile.reset();
    }
    DiscardAsideVolumes(run);
}

}  // namespace arcovelo
