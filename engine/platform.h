// File-system services of the archive engine. Everything the engine asks of the
// platform goes through FileSystem, so the platform's specifics stay in one
// place (platform_posix.cpp) and tests can wrap it to inject failures.
#pragma once

#include "stream.h"

#include <cstdint>
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

// What lstat says of a path, links not followed.
enum class PathKind { Missing, File, Folder, Link, Other };

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Regular files (or links to regular files) in `folder` whose names match
    // `mask` (* and ?; "*.*" matches every name), sorted by their bytes. An
    // empty folder means the current one. Hidden files are included.
    virtual std::vector<std::string> ListFiles(const std::string& folder, const std::string& mask) = 0;
    // Folders in `folder` that recursion may enter: not hidden, not links,
    // neither "." nor "..", sorted by their bytes.
    virtual std::vector<std::string> ListFolders(const std::string& folder) = 0;
    // Absolute form of `path` against the current folder, "." and ".." folded.
    virtual std::string AbsolutePath(const std::string& path) = 0;
    // `path` with its links resolved, or unchanged when it cannot be resolved.
    virtual std::string ResolveLinks(const std::string& path) = 0;

    // True for a regular file, links followed.
    virtual bool FileExists(const std::string& path) = 0;
    // True for a folder, links followed.
    virtual bool FolderExists(const std::string& path) = 0;
    virtual PathKind KindOf(const std::string& path) = 0;
    // The file's last-write date stamp, or -1 when it is not an existing file.
    virtual std::int32_t FileAge(const std::string& path) = 0;
    // True when the current user may write the existing file at `path`.
    virtual bool CanWrite(const std::string& path) = 0;

    // Opens for reading, other readers and writers allowed. Throws StreamError.
    virtual std::unique_ptr<FileStream> OpenRead(const std::string& path) = 0;
    // Creates or truncates for writing. Throws StreamError.
    virtual std::unique_ptr<FileStream> Create(const std::string& path) = 0;
    // Creates a new, uniquely named file in `folder` whose name starts with
    // `prefix`; stores its path in `path`. Throws StreamError.
    virtual std::unique_ptr<FileStream> CreateUnique(const std::string& folder, const std::string& prefix,
                                                     std::string& path) = 0;
    // Creates a new, uniquely named hidden file in the folder of `path`, with
    // the permissions of a newly created file, to be renamed over `path` once
    // written; stores its name in `tempPath`. Throws StreamError.
    virtual std::unique_ptr<FileStream> CreateBeside(const std::string& path, std::string& tempPath) = 0;
    // The folder for temporary files.
    virtual std::string TempFolder() = 0;

    // Creates one folder whose parent exists. Returns false on failure.
    virtual bool CreateFolder(const std::string& path) = 0;
    virtual bool DeleteFile(const std::string& path) = 0;
    // Replaces `to` by `from` in one step. Throws StreamError.
    virtual void Rename(const std::string& from, const std::string& to) = 0;
    // Flushes a folder's entries (new names, renames) to stable storage.
    virtual void SyncFolder(const std::string& path) = 0;
    // Sets the last-write time from a packed date stamp. A stamp that is not a
    // valid date leaves the time alone. Returns false on failure.
    virtual bool SetDateStamp(const std::string& path, std::int32_t stamp) = 0;

    // The archive attribute: true when the file changed since its flag was
    // last cleared (or was never cleared).
    virtual bool ArchiveFlag(const std::string& path) = 0;
    // Clears the flag for the content the file had when it was `identity`.
    virtual void ClearArchiveFlag(const std::string& path, const FileIdentity& identity) = 0;
};

// The platform's own file system; one instance shared by every engine, its
// archive flags kept in ArchiveFlagStore::DefaultPath().
std::shared_ptr<FileSystem> NativeFileSystem();
// A separate instance whose archive flags live in `flagStorePath`.
std::shared_ptr<FileSystem> MakeNativeFileSystem(const std::string& flagStorePath);

// Parent folder of `path` (text before the last separator), "" when none.
std::string ParentFolder(const std::string& path);

// True when `name` matches `mask` (* any run, ? one character; "*.*" every name).
bool MatchesMask(const std::string& name, const std::string& mask);

}  // namespace arcovelo
