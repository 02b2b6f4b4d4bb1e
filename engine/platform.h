// File-system services of the archive engine. Everything the engine asks of the
// platform goes through FileSystem, so the platform's specifics stay in one
// place (platform_posix.cpp) and tests can wrap it to inject failures.
#pragma once

#include "stream.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace arcovelo {

// What identifies a file's content at one moment. The archive-flag store keeps
// it for each backed-up file; any write changes at least the ctime.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t mtimeNs = 0;
    std::int64_t ctimeNs = 0;
    bool operator==(const FileIdentity&) const = default;
    // Both name one file (its content may have changed).
    bool SameFileAs(const FileIdentity& other) const { return device == other.device && inode == other.inode; }
};

// An open file.
class FileStream : public Stream {
public:
    // Last-write time as an MS-DOS packed local date-time. Throws StreamError.
    virtual std::int32_t DateStamp() = 0;
    // Identity of the open file now. Throws StreamError.
    virtual FileIdentity Identity() = 0;
    // Flushes the file's data to stable storage. Throws StreamError.
    virtual void Sync() = 0;
    // Closes the file; later calls do nothing. Throws StreamError when the
    // system reports that written data was lost.
    virtual void Close() = 0;
};

// A file found in a folder: its name there and what one stat said of it.
struct FileEntry {
    std::string path;
    FileIdentity identity;
    // The listing could tell that this process may read the file (its owner,
    // with the owner's read permission), so no separate check is needed.
    bool readable = false;
};

// What reading one folder found.
struct FolderListing {
    std::vector<FileEntry> files;     // regular files (or links to them) matching the mask
    std::vector<std::string> folders; // folders recursion may enter
    std::vector<std::string> hiddenFolders;  // with `withFolders`: hidden ones (not links), entered only when asked
    std::string problem;              // why the folder, or an entry of it, could not be read
};

// The archive attributes of one backup run. The store behind them is opened
// on first use; a store that cannot be opened, is locked by another process or
// is read-only counts as unavailable for the rest of the run, which is said
// once: every file then counts as changed and nothing is cleared.
class ArchiveFlags {
public:
    virtual ~ArchiveFlags() = default;
    // For each file, true when it changed since its flag was last cleared (or
    // was never cleared), judged by `identity` as found.
    virtual std::vector<bool> AreSet(const std::vector<FileEntry>& files) = 0;
    // Clears the flags of `files` together, in one step: each `identity` is
    // the content the archive holds. Returns false when nothing was cleared.
    virtual bool Clear(const std::vector<FileEntry>& files) = 0;
};

// A restored file on its way: written under no name (or a hidden temporary
// one beside its destination) and put in place only by Commit, so a failed or
// cancelled file leaves the destination as it was. Dropping it without Commit
// throws the data away.
class PendingFile : public FileStream {
public:
    // Puts the data in place of the destination with the last-write time of
    // `stamp` (a stamp that is not a date leaves the time as written). An
    // existing destination keeps its permission bits, its owner and group
    // (where the process may set them) and its hard links. The data are on
    // stable storage first; the folder's new entry is not (see SyncFolder).
    // Throws StreamError.
    virtual void Commit(std::int32_t stamp) = 0;

    // Commit in steps, for a batch of files: Seal each as it is complete
    // (mode, owner, time; its data start going to storage), make the batch's
    // data durable together with FileSystem::SyncSealed, then Place each.
    // By default Place commits the file on its own.
    virtual void Seal(std::int32_t stamp) { sealedStamp_ = stamp; }
    virtual void Place() { Commit(sealedStamp_); }

private:
    std::int32_t sealedStamp_ = 0;
};

// What lstat says of a path, links not followed.
enum class PathKind { Missing, File, Folder, Link, Other };

// The engine's view of files and folders. ListFolder, CheckReadable and
// OpenRead (and the streams it opens) are called from several threads at
// once: a backup lists, checks and reads small files on its helpers.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Reads `folder` (empty: the current one): the regular files (or links to
    // regular files) whose names match `mask` (* and ?; "*.*" matches every
    // name), hidden ones included, and with `withFolders` the folders recursion
    // may enter (not hidden, not links). Both sorted by their bytes. A mask
    // without wildcards names one file and reads no folder unless `withFolders`.
    virtual FolderListing ListFolder(const std::string& folder, const std::string& mask, bool withFolders) = 0;
    // Absolute form of `path` against the current folder, "." and ".." folded.
    virtual std::string AbsolutePath(const std::string& path) = 0;
    // `path` with its links resolved, or unchanged when it cannot be resolved.
    virtual std::string ResolveLinks(const std::string& path) = 0;
    // What stat (links followed) says of an existing path; false when it is missing.
    virtual bool Identify(const std::string& path, FileIdentity& identity) = 0;

    // True when the file at `path` may be opened for reading, false when it is
    // missing; throws StreamError, as OpenRead would, when it exists but may
    // not be read.
    virtual bool CheckReadable(const std::string& path) = 0;
    // True for a regular file, links followed.
    virtual bool FileExists(const std::string& path) = 0;
    // True for a folder, links followed.
    virtual bool FolderExists(const std::string& path) = 0;
    virtual PathKind KindOf(const std::string& path) = 0;
    // True when this process may write the existing file `path`, or create
    // files in the existing folder `path`, as the system's permissions say.
    virtual bool MayWrite(const std::string& path) = 0;
    // The file's last-write date stamp, or -1 when it is not an existing file.
    virtual std::int32_t FileAge(const std::string& path) = 0;

    // Opens for reading, other readers and writers allowed. Throws StreamError.
    virtual std::unique_ptr<FileStream> OpenRead(const std::string& path) = 0;
    // Creates or truncates for writing. Throws StreamError.
    virtual std::unique_ptr<FileStream> Create(const std::string& path) = 0;
    // Creates a new, uniquely named file in `folder` whose name starts with
    // `prefix`, open for writing and reading back, and stores its path in
    // `path`. The name is gone from the folder at once: nothing is left behind
    // whatever ends the process. Throws StreamError.
    virtual std::unique_ptr<FileStream> CreateUnique(const std::string& folder, const std::string& prefix,
                                                     std::string& path) = 0;
    // Begins a file that will replace (or create) the regular file `path`;
    // `seenMissing`: the caller has just found nothing there, so the
    // destination need not be looked at again. Throws StreamError when it
    // cannot be created or the destination cannot be written.
    virtual std::unique_ptr<PendingFile> CreatePending(const std::string& path, bool seenMissing) = 0;
    // The folder for temporary files.
    virtual std::string TempFolder() = 0;

    // Creates a new file beside `path`, in its folder, under a hidden name of
    // the aside shape (aside_names.h) for this process, open for writing and
    // made as Create makes a file; its path in `asidePath`. Throws StreamError.
    virtual std::unique_ptr<FileStream> CreateAside(const std::string& path, std::string& asidePath) = 0;
    // Removes from `folder` the aside files whose target `wanted` accepts and
    // whose process no longer runs: regular files with one link, owned by this
    // user, never through a link.
    virtual void RemoveStaleAside(const std::string& folder,
                                  const std::function<bool(const std::string& target)>& wanted) = 0;
    // Gives the existing file `path` a second name beside it, of the aside
    // shape for this process (a hard link), so that it can take its name back
    // after another file replaced it; that name in `asidePath`. False where
    // the file system makes no such link: the file is then not kept.
    virtual bool KeepAside(const std::string& path, std::string& asidePath)
    {
        (void)path;
        (void)asidePath;
        return false;
    }
    // Renames `from` to `to` in the same folder, replacing what `to` named.
    // The folder's entry is not on stable storage yet (see SyncFolder).
    // Throws StreamError.
    virtual void MoveOver(const std::string& from, const std::string& to) = 0;
    // Removes the file `path` (a link itself, never what it points to);
    // false when nothing was removed.
    virtual bool RemoveFile(const std::string& path) = 0;

    // Creates one folder whose parent exists. Returns false on failure.
    virtual bool CreateFolder(const std::string& path) = 0;
    // Flushes a folder's entries (new names, renames) to stable storage.
    // Throws StreamError.
    virtual void SyncFolder(const std::string& path) = 0;
    // Puts the data of sealed pending files on stable storage, all together.
    // Files this file system did not make are left to their own Place.
    // Throws StreamError.
    virtual void SyncSealed(const std::vector<PendingFile*>& files) { (void)files; }
    // How many sealed files may wait for SyncSealed at once (each may hold
    // an open file).
    virtual std::size_t MaxSealedFiles() { return 128; }

    // The archive attributes, for one backup run.
    virtual std::unique_ptr<ArchiveFlags> OpenArchiveFlags() = 0;
};

// The platform's own file system; one instance shared by every engine, its
// archive flags kept in ArchiveFlagStore::DefaultPath().
std::shared_ptr<FileSystem> NativeFileSystem();
// A separate instance whose archive flags live in `flagStorePath`.
std::shared_ptr<FileSystem> MakeNativeFileSystem(const std::string& flagStorePath);

// Parent folder of `path` (text before the last separator, the root kept),
// "" when none.
std::string ParentFolder(const std::string& path);

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// True for a character that separates folders: '/' on POSIX, '\\' and '/'
// on Windows.
bool IsPathSeparator(char c);

// The name a file found by expansion is stored under: on Windows, whose
// names ignore case, its letters A-Z lowered (the format's rule); elsewhere
// unchanged.
std::string StoredName(std::string path);
// Whether StoredName changes names, so that two names found may be stored
// alike.
#ifdef _WIN32
inline constexpr bool kStoredNamesFold = true;
#else
inline constexpr bool kStoredNamesFold = false;
#endif

// The form in which the file system compares `path` with other names, so
// that two names of one file have one form: on Windows its letters
// upper-cased as the system compares them; elsewhere unchanged.
#ifdef _WIN32
std::string ComparedName(const std::string& path);
#else
inline const std::string& ComparedName(const std::string& path) { return path; }
#endif

// The time, in nanoseconds since 1970, that the file system would stamp on a
// file changed now: the start of the current tick of its coarse clock.
std::int64_t FileClockNowNs();

// Lets the process hold as many open files as the system allows it (a
// restore keeps a batch of files open until they are made durable).
void RaiseOpenFileLimit();

// Local time of `t` under the time-zone rules of that date; false when the
// time cannot be represented.
bool LocalTimeOf(std::time_t t, std::tm& local);
// The time of a local date-time (as mktime, tm_isdst -1); false when there is none.
bool TimeOfLocal(const std::tm& local, std::time_t& t);

}  // namespace arcovelo
