// The writing direction of TBackupFile: expansion of the file list, sizing,
// the file-ID list, the header, block groups of 16 KiB chunks, volume changes
// and the end marker.
#include "backup.h"
#include "backup_private.h"
#include "codec.h"
#include "format.h"
#include "ordered_pipeline.h"

#include <array>
#include <cstring>
#include <unordered_set>

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

// One chunk on its way: read by the caller's thread, compressed into its
// archive frame (length, then payload) by a worker.
struct ChunkSlot {
    enum class Kind { Data, End, ReadError };
    Kind kind = Kind::Data;
    std::array<std::uint8_t, kChunkSize> input{};
    std::size_t count = 0;
    std::array<std::uint8_t, 4 + kChunkSize> frame{};
    std::size_t payload = 0;
    CompressResult result = CompressResult::Compressed;
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

void WriteString(Stream& s, const std::string& text)
{
    s.WriteInt32(static_cast<std::int32_t>(text.size()));
    s.WriteBuffer(text.data(), text.size());
}

}  // namespace

struct TBackupFile::WriteRun {
    WriteRun(TCompressionLevel level, CodecKind codec, int workers)
        : chunks(
              workers, [=] { return std::make_unique<ChunkCompressor>(ZlibLevel(level), codec); }, CompressIntoFrame)
    {
    }

    bool useStream = false;
    std::string archivePath;  // absolute, to leave the archive out of itself
    std::vector<std::string> work;
    std::unordered_set<std::string> seen;
    std::vector<std::string> fileList;
    std::string tempName;
    bool listInWork = false;

    Stream* archive = nullptr;
    std::unique_ptr<FileStream> volumeFile;
    std::string volumeName;
    unsigned volume = 1;

    std::unique_ptr<FileStream> source;
    std::int64_t remaining = 0;
    // Read-ahead of the current file: it mirrors `remaining`, so it reads
    // exactly the chunks the writer will take.
    std::int64_t readRemaining = 0;
    bool readEnded = false;

    OrderedPipeline<ChunkSlot, ChunkCompressor> chunks;
};

bool TBackupFile::Backup(const std::vector<std::string>& FileList, const std::string& ArchiveName)
{
    WriteRun run(compressionLevel_, codec_, workers_);
    run.useStream = ArchiveName == format::kStreamName;
    errorCode_ = 0;
    BusyFlag busy(busy_);
    if (!run.useStream)
        run.archivePath = fs_->AbsolutePath(ArchiveName);

    for (const auto& entry : FileList)
        ExpandEntry(run, entry);

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
        if (fs_->FileExists(run.work[i]))
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

    if (!run.tempName.empty() && fs_->FileExists(run.tempName))
        fs_->DeleteFile(run.tempName);
    ReportProgress("", 100);
    busy_ = false;
    if (errorCode_ != 0)
        ReportError();
    return result;
}

// Expands one entry into the work list: subfolders first (depth first) when
// the entry ends in " /s", then the entry's own matches.
void TBackupFile::ExpandEntry(WriteRun& run, const std::string& entry)
{
    std::string text = TrimBlanks(entry);
    const bool recursive = StripRecursionMarker(text);
    const auto slash = text.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : text.substr(0, slash + 1);
    const std::string mask = text.substr(folder.size());
    if (recursive)
        for (const auto& sub : fs_->ListFolders(folder))
            ExpandEntry(run, fs_->AbsolutePath(folder + sub + "/" + mask) + " /s");
    for (const auto& name : fs_->ListFiles(folder, mask))
        AddExpandedFile(run, fs_->AbsolutePath(folder + name));
}

void TBackupFile::AddExpandedFile(WriteRun& run, const std::string& name)
{
    if (!run.seen.insert(name).second)
        return;
    if (!run.useStream && name == run.archivePath)
        return;
    if (backupMode_ == bmIncremental && !fs_->ArchiveFlag(name))
        return;
    run.work.push_back(name);
}

// Sizing pass: the total of all sizes and, with SaveFileID, one line per file.
// A file that exists but cannot be opened leaves Backup as a StreamError.
void TBackupFile::TakeSizes(WriteRun& run)
{
    for (const auto& name : run.work) {
        if (!fs_->FileExists(name))
            continue;
        std::int64_t size = 0;
        {
            auto file = fs_->OpenRead(name);
            size = file->Size();
        }
        totalSize_ += size;
        if (saveFileID_)
            run.fileList.push_back(name + "\t" + std::to_string(fs_->FileAge(name)) + "=" + std::to_string(size));
    }
}

// The file-ID list goes through a temporary file so that it is archived like
// any other file, as the archive's first record.
void TBackupFile::SaveFileList(WriteRun& run)
{
    std::string text;
    for (const auto& line : run.fileList)
        text += line + "\r\n";
    run.fileList.clear();
    try {
        auto file = fs_->CreateUnique(fs_->TempFolder(), "FID", run.tempName);
        file->WriteBuffer(text.data(), text.size());
        file->Close();
        run.work.insert(run.work.begin(), run.tempName);
        run.listInWork = true;
        totalSize_ += static_cast<std::int64_t>(text.size());
    } catch (const StreamError&) {
        Fail(errTempFile);
    }
}

// Creates the first volume (or takes OutStream) and writes the header. Runs
// even after a failed file-ID list, leaving an archive of just the header.
void TBackupFile::OpenArchive(WriteRun& run, const std::string& archiveName)
{
    run.volume = 1;
    fileCount_ = static_cast<std::int32_t>(run.work.size() - (run.listInWork ? 1 : 0));
    try {
        if (run.useStream) {
            if (outStream_ == nullptr)
                throw StreamError("No output stream");
            run.archive = outStream_;
        } else {
            run.volumeName = archiveName;
            run.volumeFile = fs_->Create(archiveName);
            run.archive = run.volumeFile.get();
        }
        WriteString(*run.archive, backupTitle_);
        run.archive->WriteInt32(static_cast<std::int32_t>(std::min(totalSize_, format::kMaxHeaderValue)));
        run.archive->WriteInt32(fileCount_);
    } catch (const StreamError&) {
        Fail(errWriteArchive);
    }
    bytesProcessed_ = 0;
    bytesWritten_ = 0;
}

void TBackupFile::WriteFileRecord(WriteRun& run, std::size_t index)
{
    const bool isList = run.listInWork && index == 0;
    const std::string name = TrimBlanks(run.work[index]);
    currentFile_ = isList ? format::kFileListName : name;
    try {
        WriteString(*run.archive, currentFile_);
    } catch (const StreamError&) {
        Fail(errWriteArchive);
        return;
    }
    currentFile_ = name;

    bool complete = false;
    FileIdentity identity;
    try {
        run.source = fs_->OpenRead(name);
        identity = run.source->Identity();
        run.archive->WriteInt32(run.source->DateStamp());
        run.remaining = run.source->Size();
        run.readRemaining = run.remaining;
        run.readEnded = false;
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
    run.chunks.Clear();  // chunks read ahead of a stop or failure are dropped
    run.source.reset();
    // A file cut short keeps its flag, so the next incremental backup takes
    // it again: the archive does not hold it whole.
    if (setArchiveFlag_ && complete && !isList)
        fs_->ClearArchiveFlag(name, identity);
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

// Keeps the pipeline full with the current file's next chunks.
void TBackupFile::ReadAhead(WriteRun& run)
{
    while (!run.chunks.Full() && !run.readEnded && run.readRemaining > 0) {
        ChunkSlot& slot = run.chunks.Acquire();
        try {
            slot.count = run.source->Read(slot.input.data(), kChunkSize);
            slot.kind = slot.count == 0 ? ChunkSlot::Kind::End : ChunkSlot::Kind::Data;
        } catch (const StreamError&) {
            slot.kind = ChunkSlot::Kind::ReadError;
        }
        run.readEnded = slot.kind != ChunkSlot::Kind::Data;
        run.readRemaining -= static_cast<std::int64_t>(slot.count);
        run.chunks.Submit(slot.kind == ChunkSlot::Kind::Data);
    }
}

// Takes the next chunk of the current file and writes it; false when the
// file ended early or the chunk failed. Archive write failures leave as
// StreamError.
bool TBackupFile::WriteChunk(WriteRun& run)
{
    ReadAhead(run);
    if (run.chunks.Empty()) {
        run.remaining = 0;  // nothing more can be read: the file ends here
        return false;
    }
    ChunkSlot& slot = run.chunks.Front();
    if (slot.kind != ChunkSlot::Kind::Data) {
        const bool readError = slot.kind == ChunkSlot::Kind::ReadError;
        run.chunks.Pop();
        if (readError)
            Fail(errReadFile);
        else
            run.remaining = 0;  // the file shrank while being read: its data ends here
        return false;
    }
    run.remaining -= static_cast<std::int64_t>(slot.count);
    bytesProcessed_ += static_cast<std::int64_t>(slot.count);
    if (slot.result == CompressResult::Error) {
        run.chunks.Pop();
        Fail(errCompression);
        return false;
    }
    // A chunk goes out in one write: its length, then its payload.
    const std::size_t payload = slot.payload;
    run.archive->WriteBuffer(slot.frame.data(), 4 + payload);
    run.chunks.Pop();
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
    run.volumeFile->Sync();
    run.volumeFile->Close();
    run.volumeFile.reset();
    run.archive = nullptr;
    if (!AskForDisk(static_cast<std::uint16_t>(run.volume)))
        return;
    run.volumeName = format::NextVolumeName(run.volumeName, digits);
    run.volumeFile = fs_->Create(run.volumeName);
    run.archive = run.volumeFile.get();
}

// Closes the last volume. A completed archive is only reported as written once
// its data and its folder entry are on stable storage.
void TBackupFile::FinishArchive(WriteRun& run)
{
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
