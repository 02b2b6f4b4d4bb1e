// POSIX implementation of the engine's file-system services. Paths are the
// file system's bytes, case kept; names sort by their bytes so the same tree
// always gives the same archive.
#include "archive_flags.h"
#include "aside_names.h"
#include "dosdate.h"
#include "platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <mutex>
#include <set>
#include <signal.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace arcovelo {
namespace {

std::string SystemMessage(int error) { return std::strerror(error); }

[[noreturn]] void ThrowFileError(const char* what, const std::string& path, int error)
{
    throw StreamError(std::string(what) + " \"" + path + "\". " + SystemMessage(error));
}

std::int64_t Nanoseconds(const timespec& ts) { return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec; }

// The owner's permission bits decide for the owner, access control lists
// or not.
bool OwnerMayRead(const struct stat& st)
{
    static const uid_t self = ::geteuid();
    return st.st_uid == self && (st.st_mode & S_IRUSR) != 0;
}

FileIdentity IdentityOf(const struct stat& st)
{
    FileIdentity id;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.mtimeNs = Nanoseconds(st.st_mtim);
    id.ctimeNs = Nanoseconds(st.st_ctim);
    return id;
}

// The FileStream services over a descriptor; `Base` is FileStream or one of
// its refinements.
template <typename Base>
class PosixStream : public Base {
public:
    PosixStream(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    // A file opened for reading answers its size, date and identity from the
    // stat taken when it was opened: one system call, not one per question.
    PosixStream(int fd, std::string path, const struct stat& opened)
        : fd_(fd), path_(std::move(path)), opened_(opened), readOnly_(true)
    {
    }
    ~PosixStream() override
    {
        if (fd_ >= 0)
            ::close(fd_);
    }

    std::size_t Read(void* buffer, std::size_t count) override
    {
        return Transfer(count, "Stream read error: ", [&](std::size_t done) {
            return ::read(fd_, static_cast<char*>(buffer) + done, count - done);
        });
    }

    std::size_t Write(const void* buffer, std::size_t count) override
    {
        return Transfer(count, "Stream write error: ", [&](std::size_t done) {
            return ::write(fd_, static_cast<const char*>(buffer) + done, count - done);
        });
    }

    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override
    {
        const int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
        const off_t result = ::lseek(fd_, static_cast<off_t>(offset), whence);
        if (result < 0)
            throw StreamError("Stream seek error: " + SystemMessage(errno));
        position_ = result;
        return position_;
    }

    std::int64_t Position() override { return position_; }

    std::int64_t Size() override { return Stat().st_size; }

    std::int32_t DateStamp() override { return DosStampFromTime(Stat().st_mtim.tv_sec); }

    FileIdentity Identity() override { return IdentityOf(Stat()); }

    void Sync() override
    {
        if (::fsync(fd_) != 0)
            throw StreamError("Cannot flush file \"" + path_ + "\". " + SystemMessage(errno));
    }

    void Close() override
    {
        if (fd_ < 0)
            return;
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0 && errno != EINTR)
            throw StreamError("Cannot close file \"" + path_ + "\". " + SystemMessage(errno));
    }

protected:
    // Repeats `step` (a read or a write of the bytes left) until `count` bytes
    // moved or the file ends; interrupted calls are retried.
    template <typename Step>
    std::size_t Transfer(std::size_t count, const char* failure, Step step)
    {
        std::size_t done = 0;
        while (done < count) {
            const ssize_t n = step(done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                throw StreamError(failure + SystemMessage(errno));
            if (n == 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        position_ += static_cast<std::int64_t>(done);
        return done;
    }

    struct stat Stat()
    {
        if (readOnly_)
            return opened_;
        struct stat st {};
        if (::fstat(fd_, &st) != 0)
            throw StreamError("Cannot read attributes of \"" + path_ + "\". " + SystemMessage(errno));
        return st;
    }

    int fd_;
    std::string path_;
    std::int64_t position_ = 0;
    struct stat opened_ {};
    bool readOnly_ = false;
};

using PosixFileStream = PosixStream<FileStream>;

std::string Join(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The text after the last separator of `path`.
std::string FileNamePart(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// True when `path` is absolute and has no ".", ".." or empty part (a
// trailing separator aside): folding would give it back unchanged.
bool IsFolded(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return false;
    std::size_t start = 1;
    while (start < path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::size_t length = end - start;
        if (length == 0 || (path[start] == '.' && (length == 1 || (length == 2 && path[start + 1] == '.'))))
            return false;
        start = end + 1;
    }
    return true;
}

// Errors that mean "no such file here", not that something could not be read.
bool IsAbsence(int error) { return error == ENOENT || error == ENOTDIR || error == ELOOP; }

std::string Shown(const std::string& folder) { return folder.empty() ? "." : folder; }

bool IsRegularFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool GlobMatch(const char* name, const char* mask)
{
    // Iterative * / ? matcher with one back-track point: linear in practice.
    const char* starMask = nullptr;
    const char* starName = nullptr;
    while (*name) {
        if (*mask == '?' || (*mask == *name && *mask != '*')) {
            ++name;
            ++mask;
        } else if (*mask == '*') {
            starMask = mask++;
            starName = name;
        } else if (starMask) {
            mask = starMask + 1;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*mask == '*')
        ++mask;
    return *mask == '\0';
}

// True when `name` matches `mask` (* any run, ? one character; "*.*" every name).
bool MatchesMask(const std::string& name, const std::string& mask)
{
    if (mask == "*.*" || mask == "*")
        return true;
    return GlobMatch(name.c_str(), mask.c_str());
}

// Reads a folder's entries with one descriptor: names, and what stat says
// of those that matter.
class FolderReader {
public:
    explicit FolderReader(const std::string& folder) : folder_(folder), dir_(::opendir(Shown(folder).c_str()))
    {
        if (dir_ == nullptr)
            Problem("Cannot read folder \"" + Shown(folder) + "\". " + SystemMessage(errno));
    }
    ~FolderReader()
    {
        if (dir_ != nullptr)
            ::closedir(dir_);
    }
    FolderReader(const FolderReader&) = delete;
    FolderReader& operator=(const FolderReader&) = delete;

    // Calls `visit(name, d_type)` for every entry but "." and "..".
    template <typename Visit>
    void ForEach(Visit visit)
    {
        if (dir_ == nullptr)
            return;
        errno = 0;
        while (const dirent* entry = ::readdir(dir_)) {
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0)
                visit(std::string(name), entry->d_type);
            errno = 0;
        }
        if (errno != 0)
            Problem("Cannot read folder \"" + Shown(folder_) + "\". " + SystemMessage(errno));
    }

    // stat of an entry (links followed unless `noFollow`); a missing entry or
    // a link to nothing is not a problem, anything else is.
    bool Stat(const std::string& name, struct stat& st, bool noFollow = false)
    {
        const int flags = noFollow ? AT_SYMLINK_NOFOLLOW : 0;
        const int fd = dir_ != nullptr ? ::dirfd(dir_) : AT_FDCWD;
        const std::string at = dir_ != nullptr ? name : Join(folder_, name);
        if (::fstatat(fd, at.c_str(), &st, flags) == 0)
            return true;
        if (!IsAbsence(errno))
            Problem("Cannot read \"" + Join(folder_, name) + "\". " + SystemMessage(errno));
        return false;
    }

    std::string problem;

private:
    void Problem(const std::string& text)
    {
        if (problem.empty())
            problem = text;
    }
    std::string folder_;
    DIR* dir_;
};

// The process `pid` no longer runs.
bool ProcessGone(long pid) { return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

// A restore's named temporary file is ".arcovelo-<pid>-<six letters or
// digits>": the process's number lets a later restore tell the leftovers of a
// killed one from those of a running one.
constexpr char kTemporaryStem[] = ".arcovelo-";
constexpr std::size_t kTemporaryRandomLength = 6;

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAsciiAlnum(char c) { return IsAsciiDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string TemporaryPrefix(const std::string& folder)
{
    return Join(Shown(folder), kTemporaryStem + std::to_string(::getpid()) + "-");
}

// The process number in `name` when it has exactly the shape of a restore's
// temporary name, else 0.
long TemporaryOwner(const std::string& name)
{
    const std::size_t stem = sizeof kTemporaryStem - 1;
    if (name.compare(0, stem, kTemporaryStem) != 0)
        return 0;
    std::size_t at = stem;
    while (at < name.size() && IsAsciiDigit(name[at]))
        ++at;
    const std::size_t digits = at - stem;
    if (digits == 0 || digits > 9 || name[stem] == '0' || at >= name.size() || name[at] != '-' ||
        name.size() != at + 1 + kTemporaryRandomLength)
        return 0;
    if (!std::all_of(name.begin() + std::ptrdiff_t(at + 1), name.end(), IsAsciiAlnum))
        return 0;
    return std::strtol(name.c_str() + stem, nullptr, 10);
}

// True for what a killed restore of this user left: a regular file (not a
// link, which is never followed) with no other name, owned by this user.
bool IsOwnLeftover(int folder, const std::string& name)
{
    struct stat st {};
    return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
           st.st_nlink == 1 && st.st_uid == ::geteuid();
}

// Removes from `folder` the temporary files of restores whose process is
// gone. Nothing else is touched: not a name of another shape, not another
// user's file, not a file with other links, nothing through a link.
void RemoveLeftovers(const std::string& folder)
{
    const int fd = ::open(Shown(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;  // an unreadable folder has nothing we could remove
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return;
    }
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (ProcessGone(TemporaryOwner(name)))
            stale.push_back(name);
    }
    for (const auto& name : stale)
        if (IsOwnLeftover(fd, name))
            ::unlinkat(fd, name.c_str(), 0);
    ::closedir(dir);
}

// The start of this process's aside names for `path`, in its folder.
std::string AsidePrefix(const std::string& path)
{
    return Join(Shown(ParentFolder(path)), AsideNamePrefix(FileNamePart(path), unsigned(::getpid())));
}

// Tries names of `prefix`, random letters and `suffix` until `make(name)`
// makes one (0 or more) or fails otherwise than because the name is taken
// (-1, errno). The name made is in `path`.
template <typename Make>
int WithFreeName(const std::string& prefix, const char* suffix, std::string& path, Make make)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static thread_local std::uint64_t state =
        std::uint64_t(::getpid()) << 32 ^ std::uint64_t(std::time(nullptr)) ^ std::uint64_t(std::uintptr_t(&path));
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string name = prefix;
        for (std::size_t i = 0; i < kTemporaryRandomLength; ++i) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            name += letters[(state >> 33) % (sizeof letters - 1)];
        }
        name += suffix;
        const int made = make(name);
        if (made >= 0) {
            path = name;
            return made;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

// Creates a new file of such a name with O_EXCL and `flags`; the
// descriptor, its name in `path`.
int CreateNamed(const std::string& prefix, int flags, mode_t mode, std::string& path, const char* suffix = "")
{
    return WithFreeName(prefix, suffix, path, [&](const std::string& name) {
        return ::open(name.c_str(), flags | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    });
}

// The process's file-creation mask, read without changing it where the
// system tells it.
mode_t ProcessUmask()
{
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status) != nullptr)
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found)
            return static_cast<mode_t>(mask);
    }
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    const mode_t mask = ::umask(077);
    ::umask(mask);
    return mask;
}

// Unnamed files (O_TMPFILE) can be given a name through /proc only.
bool CanLinkUnnamedFiles()
{
    static const bool can = ::access("/proc/self/fd", X_OK) == 0;
    return can;
}

// A folder held open while restored files are created and named in it, so
// that each is reached by its name in the folder rather than by walking its
// whole path again. It closes with the last pending file that uses it.
struct FolderHandle {
    FolderHandle(std::string p, int descriptor) : path(std::move(p)), fd(descriptor) {}
    ~FolderHandle() { ::close(fd); }
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;
    const std::string path;
    const int fd;
};

// Creates the data file of a restore in `folder` (reached through `handle`
// when there is one): unnamed where the system allows it (no other user can
// reach it), else a hidden temporary name in `path`, private to the user
// until it is sealed. -1 and errno on failure.
int CreateDataFile(const std::string& folder, const FolderHandle* handle, std::string& path)
{
    path.clear();
#ifdef O_TMPFILE
    if (CanLinkUnnamedFiles()) {
        const int fd = handle != nullptr ? ::openat(handle->fd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666)
                                         : ::open(Shown(folder).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
            return fd;
    }
#endif
    return CreateNamed(TemporaryPrefix(folder), O_RDWR, 0600, path);
}

// Gives the unnamed file `fd` the name `path` (its name in `folder` when
// that is given): by the descriptor itself where the process may (it needs
// CAP_DAC_READ_SEARCH, which root has; no lookup in /proc), else through
// /proc. 0, or -1 and errno.
int LinkUnnamed(int fd, const std::string& path, const FolderHandle* folder = nullptr)
{
    static std::atomic<bool> byDescriptor{::geteuid() == 0};
    const int at = folder != nullptr ? folder->fd : AT_FDCWD;
    const std::string name = folder != nullptr ? FileNamePart(path) : path;
    if (byDescriptor && ::linkat(fd, "", at, name.c_str(), AT_EMPTY_PATH) == 0)
        return 0;
    const int refused = errno;
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const int result = ::linkat(AT_FDCWD, self.c_str(), at, name.c_str(), AT_SYMLINK_FOLLOW);
    if (result == 0 && byDescriptor && refused == ENOENT)
        byDescriptor = false;  // not permitted here after all
    return result;
}

void SetTime(int fd, std::int32_t stamp)
{
    std::time_t t = 0;
    if (!TimeFromDosStamp(stamp, t))
        return;  // not a date: the file keeps the time it was written at
    const timespec times[2] = {{0, UTIME_OMIT}, {t, 0}};
    ::futimens(fd, times);  // a time not kept leaves the content whole: not a failure
}

// A restored file: written to an unnamed or hidden file first, then put in
// place by Commit. When the destination has other hard links, or its folder
// may not be written, the data are copied into the destination itself once
// they are complete, so the other names see them and the folder is not needed.
class PosixPendingFile final : public PosixStream<PendingFile> {
public:
    struct Plan {
        std::string destination;
        std::string tempPath;  // "" for an unnamed file
        bool exists = false;
        bool inPlace = false;
        struct stat old {};
        std::shared_ptr<FolderHandle> folder;  // the destination's folder, when held open
    };

    PosixPendingFile(int fd, Plan plan) : PosixStream<PendingFile>(fd, plan.destination), plan_(std::move(plan)) {}
    ~PosixPendingFile() override
    {
        if (!plan_.tempPath.empty())
            ::unlink(plan_.tempPath.c_str());
    }

    void Commit(std::int32_t stamp) override
    {
        Seal(stamp);
        if (!plan_.inPlace)
            Sync();
        Place();
    }

    // Everything but durability and the name; the data start going to storage.
    void Seal(std::int32_t stamp) override
    {
        stamp_ = stamp;
        if (plan_.inPlace)
            return;  // the destination gets the mode, owner and time it has
        if (plan_.exists)
            KeepOwnerAndMode();
        else if (!plan_.tempPath.empty() && ::fchmod(fd_, 0666 & ~ProcessUmask()) != 0)
            Fail(errno);  // a new file gets the mode it would have been created with
        SetTime(fd_, stamp);
        // A large file starts going to storage now; small ones wait for the
        // batch's syncfs, which writes them together (one request each
        // would cost more than their data).
        constexpr std::int64_t kEarlyWriteBack = 1 << 20;
        if (position_ >= kEarlyWriteBack)
            ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
    }

    // Once the data are durable (Commit, or SyncSealed for a batch).
    void Place() override
    {
        if (plan_.inPlace)
            CopyIntoDestination(stamp_);
        else
            PutInPlace();
        Close();
    }

    int Descriptor() const { return fd_; }
    const std::string& Destination() const { return plan_.destination; }

private:
    void Fail(int error) { ThrowFileError("Cannot create file", plan_.destination, error); }

    void KeepOwnerAndMode()
    {
        // Owner first: a change of owner clears the set-user-ID bits.
        if (::fchown(fd_, plan_.old.st_uid, plan_.old.st_gid) != 0) {
            // Not permitted: keep the group if we may, else the file stays ours.
            const int ignored = ::fchown(fd_, static_cast<uid_t>(-1), plan_.old.st_gid);
            (void)ignored;
        }
        if (::fchmod(fd_, plan_.old.st_mode & 07777) != 0)
            Fail(errno);
    }

    // A new name by link (an unnamed file) or rename, over the destination.
    void PutInPlace()
    {
        if (plan_.tempPath.empty()) {
            if (!plan_.exists && LinkUnnamed(fd_, plan_.destination, plan_.folder.get()) == 0)
                return;
            if (!plan_.exists && errno != EEXIST)
                Fail(errno);
            // A name cannot be linked over another: link beside it, then rename.
            std::string temp;
            for (int attempt = 0; attempt < 100 && temp.empty(); ++attempt) {
                std::string candidate;
                const int fd = CreateNamed(TemporaryPrefix(ParentFolder(plan_.destination)), O_RDONLY, 0600, candidate);
                if (fd < 0)
                    Fail(errno);
                ::close(fd);
                ::unlink(candidate.c_str());
                if (LinkUnnamed(fd_, candidate) == 0)
                    temp = candidate;
                else if (errno != EEXIST)
                    Fail(errno);
            }
            plan_.tempPath = temp;
        }
        if (::rename(plan_.tempPath.c_str(), plan_.destination.c_str()) != 0) {
            const int error = errno;
            ::unlink(plan_.tempPath.c_str());
            Fail(error);
        }
        plan_.tempPath.clear();
    }

    // The destination's blocks for `size` bytes, reserved before any of its
    // bytes change, so that a full disk fails here and leaves the old content
    // whole. Where the file system cannot reserve without changing the size,
    // the tail is allocated and taken back on failure. 0, or an errno.
    static int ReserveSpace(int out, off_t size)
    {
        if (size == 0 || ::fallocate(out, FALLOC_FL_KEEP_SIZE, 0, size) == 0)
            return 0;
        if (errno != EOPNOTSUPP && errno != ENOSYS) {
            const int error = errno;
            GiveBackReserved(out, size);
            return error;
        }
        struct stat st {};
        if (::fstat(out, &st) != 0)
            return errno;
        if (st.st_size >= size)
            return 0;
        const int error = ::posix_fallocate(out, st.st_size, size - st.st_size);
        if (error != 0) {
            // The zeros added are taken back where we can; the old bytes never changed.
            const int ignored = ::ftruncate(out, st.st_size);
            (void)ignored;
        }
        return error;
    }

    // A reservation that failed (a full disk) may have taken some blocks past
    // the file's end before it gave up: they are given back, so that a
    // refused restore does not leave the disk full. Cutting the file to its
    // own size frees what lies past its end.
    static void GiveBackReserved(int out, off_t size)
    {
        struct stat st {};
        if (::fstat(out, &st) == 0 && st.st_size < size) {
            const int ignored = ::ftruncate(out, st.st_size);
            (void)ignored;  // the old bytes never changed; what could not be given back is only space
        }
    }

    void CopyIntoDestination(std::int32_t stamp)
    {
        const int out = ::open(plan_.destination.c_str(), O_WRONLY | O_CLOEXEC);
        if (out < 0)
            Fail(errno);
        struct stat data {};
        const int refused = ::fstat(fd_, &data) != 0 ? errno : ReserveSpace(out, data.st_size);
        if (refused != 0) {
            ::close(out);
            Fail(refused);
        }
        std::vector<char> buffer(1 << 16);
        off_t at = 0;
        bool ok = true;
        for (ssize_t n; ok && (n = ::pread(fd_, buffer.data(), buffer.size(), at)) != 0;) {
            ok = n > 0 || errno == EINTR;
            for (ssize_t done = 0; ok && n > 0 && done < n;) {
                const ssize_t w = ::pwrite(out, buffer.data() + done, static_cast<std::size_t>(n - done), at + done);
                ok = w > 0 || (w < 0 && errno == EINTR);
                done += w > 0 ? w : 0;
            }
            at += n > 0 ? n : 0;
        }
        ok = ok && ::ftruncate(out, at) == 0;
        if (ok)
            SetTime(out, stamp);
        ok = ok && ::fsync(out) == 0;
        const int error = errno;
        ::close(out);
        if (!ok)
            Fail(error);
    }

    Plan plan_;
    std::int32_t stamp_ = 0;
};

class PosixFileSystem final : public FileSystem {
public:
    // An empty `flagStorePath` takes ArchiveFlagStore::DefaultPath() at each run.
    explicit PosixFileSystem(std::string flagStorePath) : flagStorePath_(std::move(flagStorePath)) {}

    FolderListing ListFolder(const std::string& folder, const std::string& mask, bool withFolders) override
    {
        FolderListing out;
        const bool wild = mask.find_first_of("*?") != std::string::npos;
        if (!wild && !withFolders) {
            // A plain name: no need to read the whole folder.
            const std::string path = Join(folder, mask);
            struct stat st {};
            if (mask.empty())
                return out;
            if (::stat(path.c_str(), &st) == 0) {
                if (S_ISREG(st.st_mode))
                    out.files.push_back({mask, IdentityOf(st), OwnerMayRead(st)});
            } else if (!IsAbsence(errno)) {
                out.problem = "Cannot read \"" + path + "\". " + SystemMessage(errno);
            }
            return out;
        }
        FolderReader reader(folder);
        reader.ForEach([&](const std::string& name, unsigned char type) {
            struct stat st {};
            if ((wild ? MatchesMask(name, mask) : name == mask) && type != DT_DIR && reader.Stat(name, st) &&
                S_ISREG(st.st_mode))
                out.files.push_back({name, IdentityOf(st), OwnerMayRead(st)});
            if (!withFolders)
                return;
            if (type == DT_DIR || (type == DT_UNKNOWN && reader.Stat(name, st, true) && S_ISDIR(st.st_mode)))
                (name[0] == '.' ? out.hiddenFolders : out.folders).push_back(name);  // hidden: entered when asked
        });
        const auto byPath = [](const FileEntry& a, const FileEntry& b) { return a.path < b.path; };
        std::sort(out.files.begin(), out.files.end(), byPath);
        std::sort(out.folders.begin(), out.folders.end());
        out.problem = reader.problem;
        return out;
    }

    std::string AbsolutePath(const std::string& path) override
    {
        if (IsFolded(path))
            return path;  // as is every name a listing finds below a folded folder
        std::string full = path;
        if (full.empty() || full[0] != '/') {
            char cwd[4096];
            const std::string base = ::getcwd(cwd, sizeof cwd) ? cwd : "/";
            full = Join(base, path);
        }
        // Fold ".", ".." and repeated separators, as the name is written.
        std::vector<std::string> parts;
        std::size_t start = 0;
        while (start <= full.size()) {
            std::size_t end = full.find('/', start);
            if (end == std::string::npos)
                end = full.size();
            const std::string part = full.substr(start, end - start);
            if (part == "..") {
                if (!parts.empty())
                    parts.pop_back();
            } else if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            start = end + 1;
        }
        std::string result;
        for (const auto& part : parts)
            result += "/" + part;
        if (result.empty())
            result = "/";
        else if (full.back() == '/')
            result += "/";
        return result;
    }

    std::string ResolveLinks(const std::string& path) override
    {
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (resolved == nullptr)
            return path;
        std::string result = resolved;
        std::free(resolved);
        return result;
    }

    bool Identify(const std::string& path, FileIdentity& identity) override
    {
        struct stat st {};
        if (path.empty() || ::stat(path.c_str(), &st) != 0)
            return false;
        identity = IdentityOf(st);
        return true;
    }

    bool CheckReadable(const std::string& path) override
    {
        if (::access(path.c_str(), R_OK) == 0)
            return true;
        if (IsAbsence(errno))
            return false;
        ThrowFileError("Cannot open file", path, errno);
    }

    bool FileExists(const std::string& path) override { return !path.empty() && IsRegularFile(path); }

    bool FolderExists(const std::string& path) override
    {
        struct stat st {};
        return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }

    PathKind KindOf(const std::string& path) override
    {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0)
            return PathKind::Missing;
        if (S_ISLNK(st.st_mode))
            return PathKind::Link;
        if (S_ISDIR(st.st_mode))
            return PathKind::Folder;
        return S_ISREG(st.st_mode) ? PathKind::File : PathKind::Other;
    }

    bool MayWrite(const std::string& path) override
    {
        return ::access(path.c_str(), FolderExists(path) ? W_OK | X_OK : W_OK) == 0;
    }

    std::int32_t FileAge(const std::string& path) override
    {
        struct stat st {};
        if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return -1;
        return DosStampFromTime(st.st_mtim.tv_sec);
    }

    std::unique_ptr<FileStream> OpenRead(const std::string& path) override
    {
        // Non-blocking open so that a FIFO put in a file's place cannot hang
        // us; on a regular file the flag changes nothing, so it stays.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            ThrowFileError("Cannot open file", path, errno);
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            ThrowFileError("Cannot open file", path, EINVAL);
        }
        return std::make_unique<PosixFileStream>(fd, path, st);
    }

    std::unique_ptr<FileStream> Create(const std::string& path) override
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0)
            ThrowFileError("Cannot create file", path, errno);
        return std::make_unique<PosixFileStream>(fd, path);
    }

    std::unique_ptr<FileStream> CreateUnique(const std::string& folder, const std::string& prefix,
                                             std::string& path) override
    {
        // Private to the user (the file-ID list names every file backed up),
        // and unlinked at once so that not even a killed run leaves it behind.
        const int fd = CreateNamed(Join(Shown(folder), prefix), O_RDWR, 0600, path);
        if (fd < 0)
            ThrowFileError("Cannot create file", Join(Shown(folder), prefix), errno);
        ::unlink(path.c_str());
        return std::make_unique<PosixFileStream>(fd, path);
    }

    std::unique_ptr<FileStream> CreateAside(const std::string& path, std::string& asidePath) override
    {
        const std::string prefix = AsidePrefix(path);
        // What could not be written in place is not replaced either: a folder,
        // a file without write permission. A replaced file's permission bits
        // carry over, so that a private archive is not readable by others
        // while its successor is written.
        struct stat old {};
        const bool exists = ::stat(path.c_str(), &old) == 0;
        if (exists && S_ISDIR(old.st_mode))
            ThrowFileError("Cannot create file", path, EISDIR);
        if (exists && ::access(path.c_str(), W_OK) != 0)
            ThrowFileError("Cannot create file", path, errno);
        const bool replaces = exists && S_ISREG(old.st_mode);
        const int fd = CreateNamed(prefix, O_WRONLY, replaces ? 0600 : 0666, asidePath, kAsideNameSuffix);
        if (fd < 0)
            ThrowFileError("Cannot create file", path, errno);
        if (replaces && ::fchmod(fd, old.st_mode & 07777) != 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(asidePath.c_str());
            ThrowFileError("Cannot create file", path, error);
        }
        return std::make_unique<PosixFileStream>(fd, asidePath);
    }

    void RemoveStaleAside(const std::string& folder,
                          const std::function<bool(const std::string& target)>& wanted) override
    {
        std::vector<std::string> stale;
        FolderReader reader(folder);
        reader.ForEach([&](const std::string& name, unsigned char) {
            std::string target;
            unsigned long pid = 0;
            if (ParseAsideName(name, target, pid) && wanted(target) && ProcessGone(long(pid)))
                stale.push_back(Join(Shown(folder), name));
        });
        for (const auto& path : stale) {
            struct stat st {};
            if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == ::geteuid())
                ::unlink(path.c_str());
        }
    }

    bool KeepAside(const std::string& path, std::string& asidePath) override
    {
        return WithFreeName(AsidePrefix(path), kAsideNameSuffix, asidePath, [&](const std::string& name) {
                   return ::link(path.c_str(), name.c_str());
               }) == 0;
    }

    void MoveOver(const std::string& from, const std::string& to) override
    {
        if (::rename(from.c_str(), to.c_str()) != 0)
            ThrowFileError("Cannot rename file", to, errno);
    }

    bool RemoveFile(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

    std::unique_ptr<PendingFile> CreatePending(const std::string& path, bool seenMissing) override
    {
        PosixPendingFile::Plan plan;
        plan.destination = path;
        plan.exists = !seenMissing && ::stat(path.c_str(), &plan.old) == 0;
        if (plan.exists && !S_ISREG(plan.old.st_mode))
            ThrowFileError("Cannot create file", path, S_ISDIR(plan.old.st_mode) ? EISDIR : EINVAL);
        if (plan.exists && ::access(path.c_str(), W_OK) != 0)
            ThrowFileError("Cannot create file", path, errno);
        plan.inPlace = plan.exists && plan.old.st_nlink > 1;
        const std::string folder = ParentFolder(path);
        ForgetLeftoversOnce(folder);
        if (!plan.inPlace)
            plan.folder = HoldFolder(folder);
        int fd = plan.inPlace ? CreateDataFile(TempFolder(), nullptr, plan.tempPath)
                              : CreateDataFile(folder, plan.folder.get(), plan.tempPath);
        if (fd < 0 && plan.exists && (errno == EACCES || errno == EPERM)) {
            // A writable file in a folder we may not write: fill it in place.
            plan.inPlace = true;
            fd = CreateDataFile(TempFolder(), nullptr, plan.tempPath);
        }
        if (fd < 0)
            ThrowFileError("Cannot create file", path, errno);
        return std::make_unique<PosixPendingFile>(fd, std::move(plan));
    }

    std::string TempFolder() override
    {
        const char* dir = std::getenv("TMPDIR");
        return dir && *dir ? dir : "/tmp";
    }

    bool CreateFolder(const std::string& path) override
    {
        return ::mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && FolderExists(path));
    }


    void SyncFolder(const std::string& path) override
    {
        const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            ThrowFileError("Cannot open folder", path, errno);
        const int result = ::fsync(fd);
        const int error = errno;
        ::close(fd);
        if (result != 0 && error != EINVAL)  // some file systems cannot sync folders
            ThrowFileError("Cannot flush folder", path, error);
    }

    // One syncfs per file system holding sealed files, instead of an fsync
    // (a journal commit) per file. Files of one folder share a file system:
    // one fstat a folder finds it.
    void SyncSealed(const std::vector<PendingFile*>& files) override
    {
        std::set<std::string> folders;
        std::set<dev_t> synced;
        for (PendingFile* file : files) {
            const auto* posix = dynamic_cast<PosixPendingFile*>(file);
            struct stat st {};
            if (posix == nullptr || !folders.insert(ParentFolder(posix->Destination())).second ||
                ::fstat(posix->Descriptor(), &st) != 0 || !synced.insert(st.st_dev).second)
                continue;
            if (::syncfs(posix->Descriptor()) != 0)
                ThrowFileError("Cannot flush file", posix->Destination(), errno);
        }
    }

    // Each sealed file keeps its descriptor until it is placed, and two
    // batches may wait at once (one filling, one on its way to storage): a
    // batch takes half of the descriptors still free, less a few for the
    // archive, folders and the file being written, and no more than 4096
    // files (fewer batches, fewer syncs).
    std::size_t MaxSealedFiles() override
    {
        constexpr std::size_t kMostSealed = 4096;
        constexpr std::size_t kKeptFree = 8;
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
            limit.rlim_cur / 4 >= kMostSealed)
            return kMostSealed;
        const std::size_t most = std::size_t(limit.rlim_cur);
        const std::size_t used = OpenDescriptors(most);
        const std::size_t free = most > used + kKeptFree ? most - used - kKeptFree : 0;
        return std::max<std::size_t>(free / 2, 1);
    }

    std::unique_ptr<ArchiveFlags> OpenArchiveFlags() override
    {
        return std::make_unique<ArchiveFlagStore>(flagStorePath_.empty() ? ArchiveFlagStore::DefaultPath()
                                                                         : flagStorePath_);
    }

private:
    // How many of the descriptors below `limit` are open.
    static std::size_t OpenDescriptors(std::size_t limit)
    {
        std::size_t open = 0;
        for (std::size_t fd = 0; fd < limit; ++fd)
            open += ::fcntl(int(fd), F_GETFD) != -1 ? 1 : 0;
        return open;
    }

    // The folder's open handle while a pending file still uses it, else a new
    // one; null when it cannot be opened (the path is then used).
    std::shared_ptr<FolderHandle> HoldFolder(const std::string& folder)
    {
        std::lock_guard lock(folderMutex_);
        if (auto held = heldFolder_.lock(); held && held->path == folder)
            return held;
        const int fd = ::open(Shown(folder).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return nullptr;
        auto held = std::make_shared<FolderHandle>(folder, fd);
        heldFolder_ = held;
        return held;
    }

    // The first restore into a folder in this process clears what killed
    // restores left there.
    void ForgetLeftoversOnce(const std::string& folder)
    {
        std::lock_guard lock(cleanedMutex_);
        if (cleaned_.insert(folder).second)
            RemoveLeftovers(folder);
    }

    std::string flagStorePath_;
    std::mutex folderMutex_;
    std::weak_ptr<FolderHandle> heldFolder_;  // no folder stays open once its files are placed
    std::mutex cleanedMutex_;
    std::set<std::string> cleaned_;
};

}  // namespace

std::shared_ptr<FileSystem> NativeFileSystem()
{
    static const auto instance = std::make_shared<PosixFileSystem>("");
    return instance;
}

std::shared_ptr<FileSystem> MakeNativeFileSystem(const std::string& flagStorePath)
{
    return std::make_shared<PosixFileSystem>(flagStorePath);
}

std::string ParentFolder(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return "";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsPathSeparator(char c) { return c == '/'; }

std::int64_t FileClockNowNs()
{
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);  // the clock file times are taken from
    return Nanoseconds(now);
}

void RaiseOpenFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);  // stays as it was when refused
    }
}

std::string StoredName(std::string path) { return path; }

bool LocalTimeOf(std::time_t t, std::tm& local) { return localtime_r(&t, &local) != nullptr; }

// Not mktime: glibc's looks at /etc/localtime again on every call, one stat
// per restored file. The wall-clock reading taken as UTC, less the offset in
// force at the moment found (a few rounds settle it across a change of
// summer time).
bool TimeOfLocal(const std::tm& local, std::time_t& t)
{
    std::tm reading = local;
    const std::time_t asUtc = ::timegm(&reading);
    std::time_t candidate = asUtc;
    for (int round = 0; round < 3; ++round) {
        std::tm seen{};
        if (::localtime_r(&candidate, &seen) == nullptr)
            return false;
        const std::time_t next = asUtc - (::timegm(&seen) - candidate);
        if (next == candidate)
            break;
        candidate = next;
    }
    t = candidate;
    return true;
}

}  // namespace arcovelo
