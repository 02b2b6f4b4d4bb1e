// POSIX implementation of the engine's file-system services. Paths are the
// file system's bytes, case kept; names sort by their bytes so the same tree
// always gives the same archive.
#include "archive_flags.h"
#include "dosdate.h"
#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
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

class PosixFileStream final : public FileStream {
public:
    PosixFileStream(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixFileStream() override
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

private:
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
        struct stat st {};
        if (::fstat(fd_, &st) != 0)
            throw StreamError("Cannot read attributes of \"" + path_ + "\". " + SystemMessage(errno));
        return st;
    }

    int fd_;
    std::string path_;
    std::int64_t position_ = 0;
};

// Calls `visit(name, d_type)` for every entry of `folder` but "." and "..".
template <typename Visit>
void ForEachEntry(const std::string& folder, Visit visit)
{
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        visit(std::string(name), entry->d_type);
    }
    ::closedir(dir);
}

std::string Join(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

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

class PosixFileSystem final : public FileSystem {
public:
    explicit PosixFileSystem(std::string flagStorePath) : flags_(std::move(flagStorePath)) {}

    std::vector<std::string> ListFiles(const std::string& folder, const std::string& mask) override
    {
        std::vector<std::string> names;
        const bool wild = mask.find_first_of("*?") != std::string::npos;
        if (!wild) {
            // A plain name: no need to read the whole folder.
            if (!mask.empty() && IsRegularFile(Join(folder, mask)))
                names.push_back(mask);
            return names;
        }
        ForEachEntry(folder, [&](const std::string& name, unsigned char type) {
            if (!MatchesMask(name, mask))
                return;
            if (type == DT_REG || ((type == DT_LNK || type == DT_UNKNOWN) && IsRegularFile(Join(folder, name))))
                names.push_back(name);
        });
        std::sort(names.begin(), names.end());
        return names;
    }

    std::vector<std::string> ListFolders(const std::string& folder) override
    {
        std::vector<std::string> names;
        ForEachEntry(folder, [&](const std::string& name, unsigned char type) {
            if (name[0] == '.')
                return;  // hidden
            if (type == DT_DIR) {
                names.push_back(name);
            } else if (type == DT_UNKNOWN) {
                struct stat st {};
                if (::lstat(Join(folder, name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                    names.push_back(name);
            }
        });
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string AbsolutePath(const std::string& path) override
    {
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

    std::int32_t FileAge(const std::string& path) override
    {
        struct stat st {};
        if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return -1;
        return DosStampFromTime(st.st_mtim.tv_sec);
    }

    bool CanWrite(const std::string& path) override { return ::access(path.c_str(), W_OK) == 0; }

    std::unique_ptr<FileStream> OpenRead(const std::string& path) override
    {
        // Non-blocking open so that a FIFO put in a file's place cannot hang us.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            ThrowFileError("Cannot open file", path, errno);
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            ThrowFileError("Cannot open file", path, EINVAL);
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        return std::make_unique<PosixFileStream>(fd, path);
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
        // Private to the user: the file-ID list names every file backed up.
        return CreateNew(Join(folder.empty() ? "." : folder, prefix), 0600, path);
    }

    std::unique_ptr<FileStream> CreateBeside(const std::string& path, std::string& tempPath) override
    {
        const std::string folder = ParentFolder(path);
        return CreateNew(Join(folder.empty() ? "." : folder, ".arcovelo-"), 0666, tempPath);
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

    bool DeleteFile(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

    void Rename(const std::string& from, const std::string& to) override
    {
        if (::rename(from.c_str(), to.c_str()) != 0)
            ThrowFileError("Cannot create file", to, errno);
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

    bool SetDateStamp(const std::string& path, std::int32_t stamp) override
    {
        std::time_t t = 0;
        if (!TimeFromDosStamp(stamp, t))
            return true;  // not a date: the file keeps the time it was written at
        const timespec times[2] = {{0, UTIME_OMIT}, {t, 0}};
        return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
    }

    bool ArchiveFlag(const std::string& path) override
    {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            return true;
        return flags_.IsSet(AbsolutePath(path), IdentityOf(st));
    }

    void ClearArchiveFlag(const std::string& path, const FileIdentity& identity) override
    {
        flags_.Clear(AbsolutePath(path), identity);
    }

private:
    // Creates `prefix` + six random characters with O_EXCL, trying new names
    // until one is free.
    static std::unique_ptr<FileStream> CreateNew(const std::string& prefix, mode_t mode, std::string& path)
    {
        static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        static thread_local std::uint64_t state =
            std::uint64_t(::getpid()) << 32 ^ std::uint64_t(std::time(nullptr)) ^ std::uint64_t(std::uintptr_t(&path));
        for (int attempt = 0; attempt < 1000; ++attempt) {
            std::string name = prefix;
            for (int i = 0; i < 6; ++i) {
                state = state * 6364136223846793005ULL + 1442695040888963407ULL;
                name += letters[(state >> 33) % (sizeof letters - 1)];
            }
            const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd >= 0) {
                path = name;
                return std::make_unique<PosixFileStream>(fd, path);
            }
            if (errno != EEXIST)
                ThrowFileError("Cannot create file", name, errno);
        }
        ThrowFileError("Cannot create file", prefix, EEXIST);
    }

    ArchiveFlagStore flags_;
};

}  // namespace

std::shared_ptr<FileSystem> NativeFileSystem()
{
    static const auto instance = std::make_shared<PosixFileSystem>(ArchiveFlagStore::DefaultPath());
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

bool MatchesMask(const std::string& name, const std::string& mask)
{
    if (mask == "*.*" || mask == "*")
        return true;
    return GlobMatch(name.c_str(), mask.c_str());
}

}  // namespace arcovelo
