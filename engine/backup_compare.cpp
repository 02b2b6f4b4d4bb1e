// Restore without writing: the plan of what a restore would do with each
// selected file, and the comparison of each with the file at its restore
// destination. Both walk the archive as Restore does (VisitRecords) and ask
// the same rules (restore_selection.h, restore_paths.h).
#include "backup.h"
#include "record_visitor.h"
#include "restore_paths.h"
#include "restore_selection.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>

namespace arcovelo {
namespace {

// The destination folder as Restore takes it: empty, or ending in a separator.
std::string DestinationFolder(std::string destPath)
{
    if (!destPath.empty() && !IsPathSeparator(destPath.back()))
        destPath += kPathSeparator;
    return destPath;
}

// Why a restore below `folder` would refuse `relative`: it passes through
// something that is not a folder (a link, a file). Folders still missing
// would be made. Empty when nothing stands in the way.
std::string ObstacleBelow(FileSystem& fs, const std::string& folder, const std::string& relative)
{
    std::string at = folder;
    for (std::size_t start = 0, end; (end = relative.find(kPathSeparator, start)) != std::string::npos;
         start = end + 1) {
        at += relative.substr(start, end - start);
        switch (fs.KindOf(at)) {
        case PathKind::Missing: return "";
        case PathKind::Folder: break;
        case PathKind::Link: return "passes through a link: " + at;
        default: return "not a folder: " + at;
        }
        at += kPathSeparator;
    }
    return "";
}

// Plans each file as RestoreRecord would decide it. Files the plan writes
// count as existing, with their stored stamp, for the records after them, and
// a later record for the same destination is not written over them.
class Planner : public RecordVisitor {
public:
    Planner(FileSystem& fs, std::string folder, TRestoreMode mode, bool fullPath, std::vector<TRestorePlanEntry>& plan)
        : fs_(fs), folder_(std::move(folder)), mode_(mode), fullPath_(fullPath), plan_(plan)
    {
    }

    Stream* Visit(const std::string& storedName, std::int32_t stamp) override
    {
        const Destination destination = DestinationFor(folder_, storedName, fullPath_);
        TRestorePlanEntry entry{storedName, destination.path, paWrite, {}};
        const auto written = written_.find(destination.path);
        const PathKind kind = written != written_.end() ? PathKind::File : fs_.KindOf(destination.path);
        const std::int32_t age = written != written_.end() ? written->second
                                 : kind == PathKind::Missing ? -1
                                                             : fs_.FileAge(destination.path);
        const bool exists = age != -1;
        if (!ModeAllowsRestore(mode_, exists, age, stamp)) {
            entry.action = !exists ? paSkipMissing : mode_ == rmNoOverwrite ? paSkipExists : paSkipNotNewer;
        } else if (written != written_.end()) {
            // Two records on one name (a restore without folders): the first stays.
            entry.action = paSkipExists;
            entry.reason = "already holds another file of this archive";
        } else {
            entry.reason = Refusal(destination, kind);
            entry.action = !entry.reason.empty() ? paRefuse : exists ? paReplace : paWrite;
            if (entry.action != paRefuse)
                written_[destination.path] = stamp;
        }
        plan_.push_back(std::move(entry));
        return nullptr;
    }

private:
    // The destination checks of a real restore, made without creating anything.
    std::string Refusal(const Destination& destination, PathKind kind)
    {
        if (!destination.safe)
            return folder_.empty() ? "cannot go back to its stored path on this system"
                                   : "not a plain name below the destination folder";
        if (!folder_.empty()) {
            // The folders of the previous file need no second look.
            const std::string parent = ParentFolder(destination.path);
            if (parent != clearFolder_) {
                std::string obstacle = ObstacleBelow(fs_, folder_, destination.path.substr(folder_.size()));
                if (!obstacle.empty())
                    return obstacle;
                clearFolder_ = parent;
            }
            if (kind == PathKind::Link)
                return "is a link inside the destination folder";
        }
        if (kind == PathKind::Folder)
            return "a folder is in the way";
        if (kind == PathKind::Other)
            return "not a regular file";
        const std::string parent = ParentFolder(destination.path);
        if (folder_.empty() && !parent.empty() && fs_.KindOf(parent) != PathKind::Missing && !fs_.FolderExists(parent))
            return "not a folder: " + parent;
        // An existing file is written if it may be (in place when its folder
        // may not be); a new one needs a folder that takes files.
        if (kind == PathKind::File && !fs_.MayWrite(destination.path))
            return "permission denied";
        if (kind == PathKind::Missing && fs_.FolderExists(parent) && !fs_.MayWrite(parent))
            return "permission denied: " + parent;
        return "";
    }

    FileSystem& fs_;
    std::string folder_;
    TRestoreMode mode_;
    bool fullPath_;
    std::vector<TRestorePlanEntry>& plan_;
    std::map<std::string, std::int32_t> written_;
    std::string clearFolder_;  // below the destination folder, nothing in the way up to here
};

// Takes a file's decoded data and compares them with the file on disk as they
// come; once they differ (or the disk cannot be read) the rest is only taken.
class ComparingStream : public Stream {
public:
    ComparingStream(std::unique_ptr<FileStream> disk, TCompareEntry& entry) : disk_(std::move(disk)), entry_(entry) {}

    std::size_t Read(void*, std::size_t) override { throw StreamError("Stream read error"); }
    std::size_t Write(const void* buffer, std::size_t count) override
    {
        if (entry_.result == crSame)
            CompareWith(static_cast<const std::uint8_t*>(buffer), count);
        compared_ += static_cast<std::int64_t>(count);
        return count;
    }
    std::int64_t Seek(std::int64_t, SeekOrigin) override { throw StreamError("Stream seek error"); }
    std::int64_t Position() override { return compared_; }
    std::int64_t Size() override { return compared_; }

    // The file on disk may not go on beyond the stored data.
    void Finish()
    {
        if (entry_.result != crSame)
            return;
        try {
            std::uint8_t extra;
            if (disk_->Read(&extra, 1) != 0)
                entry_.result = crDiffers;
        } catch (const StreamError&) {
            entry_.result = crUnreadable;
        }
    }

private:
    void CompareWith(const std::uint8_t* data, std::size_t count)
    {
        try {
            while (count > 0 && entry_.result == crSame) {
                const std::size_t part = std::min(count, onDisk_.size());
                const std::size_t got = disk_->Read(onDisk_.data(), part);
                if (got == 0 || std::memcmp(onDisk_.data(), data, got) != 0)
                    entry_.result = crDiffers;
                data += got;
                count -= got;
            }
        } catch (const StreamError&) {
            entry_.result = crUnreadable;
        }
    }

    std::unique_ptr<FileStream> disk_;
    TCompareEntry& entry_;
    std::int64_t compared_ = 0;
    std::array<std::uint8_t, 16384> onDisk_{};
};

// Compares each file with its restore destination. The comparison of a file
// ends when the next file record begins (a file may go on in the next volume).
class Comparer : public RecordVisitor {
public:
    Comparer(FileSystem& fs, std::string folder, bool fullPath, std::vector<TCompareEntry>& entries)
        : fs_(fs), folder_(std::move(folder)), fullPath_(fullPath), entries_(entries)
    {
    }

    Stream* Visit(const std::string& storedName, std::int32_t) override
    {
        Finish();
        const Destination destination = DestinationFor(folder_, storedName, fullPath_);
        entries_.push_back({storedName, destination.path, crSame});
        const std::size_t index = entries_.size() - 1;
        if (!destination.safe) {
            entries_[index].result = crUnreadable;
            return nullptr;
        }
        if (!fs_.FileExists(destination.path)) {
            entries_[index].result = crMissing;
            return nullptr;
        }
        try {
            current_ = std::make_unique<ComparingStream>(fs_.OpenRead(destination.path), entries_[index]);
        } catch (const StreamError&) {
            entries_[index].result = crUnreadable;
            return nullptr;
        }
        return current_.get();
    }

    void Finish()
    {
        if (current_)
            current_->Finish();
        current_.reset();
    }

private:
    FileSystem& fs_;
    std::string folder_;
    bool fullPath_;
    std::vector<TCompareEntry>& entries_;
    std::unique_ptr<ComparingStream> current_;
};

}  // namespace

bool TBackupFile::PlanRestore(const std::string& ArchiveName, const std::string& DestPath,
                              std::vector<TRestorePlanEntry>& plan)
{
    Planner planner(*fs_, DestinationFolder(DestPath), restoreMode_, restoreFullPath_, plan);
    return VisitRecords(ArchiveName, planner);
}

bool TBackupFile::Compare(const std::string& ArchiveName, const std::string& DestPath,
                          std::vector<TCompareEntry>& entries)
{
    Comparer comparer(*fs_, DestinationFolder(DestPath), restoreFullPath_, entries);
    const bool complete = VisitRecords(ArchiveName, comparer);
    comparer.Finish();
    return complete;
}

}  // namespace arcovelo
