// Windows implementation of the engine's file-system services. Names are
// UTF-8 inside the engine and UTF-16 at the Win32 calls, converted here only;
// every call gets the long form of its path ("\\?\C:\..."), so neither
// MAX_PATH nor Win32's trimming of trailing dots and blanks applies. The
// archive attribute is the file system's own.
#include "aside_names.h"
#include "dosdate.h"
#include "platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <aclapi.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>

namespace arcovelo {
namespace {

// A name that is not UTF-8 is refused, never given a substitute character:
// two such names would become one file.
std::wstring Wide(const std::string& text)
{
    if (text.empty())
        return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), nullptr, 0);
    if (n == 0)
        throw StreamError("The name \"" + text + "\" is not UTF-8");
    std::wstring out(std::size_t(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), out.data(), n);
    return out;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string SystemMessage(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = n != 0 && text != nullptr ? std::wstring(text, n) : L"System error " + std::to_wstring(error);
    ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return Narrow(message);
}

[[noreturn]] void ThrowFileError(const char* what, const std::string& path, DWORD error)
{
    throw StreamError(std::string(what) + " \"" + path + "\". " + SystemMessage(error));
}

bool IsAbsence(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
           error == ERROR_BAD_NETPATH || error == ERROR_BAD_NET_NAME || error == ERROR_DIRECTORY;
}

// The absolute form of `path` as Win32 folds it ("." and "..", '/' to '\').
std::wstring FullPath(const std::wstring& path)
{
    const DWORD n = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        return path;
    std::wstring out(n, L'\0');
    const DWORD used = ::GetFullPathNameW(path.c_str(), n, out.data(), nullptr);
    out.resize(used < n ? used : 0);
    return out.empty() ? path : out;
}

// The path every call is given: absolute, '\'-separated, with the prefix that
// lifts the MAX_PATH limit ("\\?\C:\..." or "\\?\UNC\server\...").
std::wstring LongPath(const std::string& path)
{
    std::wstring w = Wide(path.empty() ? "." : path);
    if (w.rfind(L"\\\\?\\", 0) == 0)
        return w;
    w = FullPath(w);
    if (w.rfind(L"\\\\?\\", 0) == 0 || w.rfind(L"\\\\.\\", 0) == 0)
        return w;
    if (w.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + w.substr(2);
    return L"\\\\?\\" + w;
}

// Times: Win32 counts 100 ns from 1601, the engine nanoseconds from 1970.
constexpr std::int64_t kEpochDifference = 116444736000000000LL;

std::int64_t Nanoseconds(const FILETIME& ft)
{
    const std::int64_t ticks = std::int64_t(std::uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime);
    return (ticks - kEpochDifference) * 100;
}

FILETIME FileTimeOf(std::time_t t)
{
    const auto ticks = static_cast<std::uint64_t>(std::int64_t(t) * 10000000 + kEpochDifference);
    FILETIME ft;
    ft.dwLowDateTime = DWORD(ticks);
    ft.dwHighDateTime = DWORD(ticks >> 32);
    return ft;
}

std::int32_t StampOf(const FILETIME& ft) { return DosStampFromTime(std::time_t(Nanoseconds(ft) / 1000000000)); }

std::int64_t SizeOf(DWORD high, DWORD low) { return std::int64_t(std::uint64_t(high) << 32 | low); }

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info)
{
    FileIdentity id;
    id.device = info.dwVolumeSerialNumber;
    id.inode = std::uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    id.size = SizeOf(info.nFileSizeHigh, info.nFileSizeLow);
    id.mtimeNs = Nanoseconds(info.ftLastWriteTime);
    id.ctimeNs = Nanoseconds(info.ftCreationTime);
    return id;
}

// What an enumeration or an attribute query says; the file index is unknown
// there (0), so the identity is completed by Identify where it matters.
template <typename Data>
FileIdentity ListedIdentityOf(const Data& data)
{
    FileIdentity id;
    id.size = SizeOf(data.nFileSizeHigh, data.nFileSizeLow);
    id.mtimeNs = Nanoseconds(data.ftLastWriteTime);
    id.ctimeNs = Nanoseconds(data.ftCreationTime);
    return id;
}

// The long form of `path`, or false with ERROR_NO_UNICODE_TRANSLATION as the
// last error when the name is not UTF-8 (no file has such a name here).
bool LongPathOf(const std::string& path, std::wstring& out)
{
    try {
        out = LongPath(path);
        return true;
    } catch (const StreamError&) {
        ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return false;
    }
}

// Opens `path` with `access`, every kind of sharing allowed.
HANDLE OpenHandle(const std::string& path, DWORD access, DWORD disposition, DWORD flags)
{
    std::wstring name;
    if (!LongPathOf(path, name))
        return INVALID_HANDLE_VALUE;
    return ::CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, flags, nullptr);
}

bool Attributes(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data)
{
    std::wstring name;
    return !path.empty() && LongPathOf(path, name) &&
           ::GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data) != 0;
}

bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// The FileStream services over a handle; `Base` is FileStream or one of its
// refinements.
template <typename Base>
class WindowsStream : public Base {
public:
    WindowsStream(HANDLE handle, std::string path) : handle_(handle), path_(std::move(path)) {}
    // A file opened for reading answers its size, date and identity from what
    // was asked when it was opened.
    WindowsStream(HANDLE handle, std::string path, const BY_HANDLE_FILE_INFORMATION& opened)
        : handle_(handle), path_(std::move(path)), opened_(opened), readOnly_(true)
    {
    }
    ~WindowsStream() override
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle_);
    }

    std::size_t Read(void* buffer, std::size_t count) override
    {
        return Transfer(count, "Stream read error: ", [&](std::size_t done, DWORD ask, DWORD& n) {
            return ::ReadFile(handle_, static_cast<char*>(buffer) + done, ask, &n, nullptr);
        });
    }

    std::size_t Write(const void* buffer, std::size_t count) override
    {
        return Transfer(count, "Stream write error: ", [&](std::size_t done, DWORD ask, DWORD& n) {
            return ::WriteFile(handle_, static_cast<const char*>(buffer) + done, ask, &n, nullptr);
        });
    }

    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override
    {
        const DWORD method = origin == SeekOrigin::Begin ? FILE_BEGIN : origin == SeekOrigin::Current ? FILE_CURRENT : FILE_END;
        LARGE_INTEGER distance;
        distance.QuadPart = offset;
        LARGE_INTEGER result;
        if (!::SetFilePointerEx(handle_, distance, &result, method))
            throw StreamError("Stream seek error: " + SystemMessage(::GetLastError()));
        position_ = result.QuadPart;
        return position_;
    }

    std::int64_t Position() override { return position_; }

    std::int64_t Size() override
    {
        const BY_HANDLE_FILE_INFORMATION info = Information();
        return SizeOf(info.nFileSizeHigh, info.nFileSizeLow);
    }

    std::int32_t DateStamp() override { return StampOf(Information().ftLastWriteTime); }

    FileIdentity Identity() override { return IdentityOf(Information()); }

    void Sync() override
    {
        if (!::FlushFileBuffers(handle_))
            ThrowFileError("Cannot flush file", path_, ::GetLastError());
    }

    void Close() override
    {
        if (handle_ == INVALID_HANDLE_VALUE)
            return;
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        if (!::CloseHandle(handle))
            ThrowFileError("Cannot close file", path_, ::GetLastError());
    }

protected:
    // Repeats `step` (a read or a write of at most 1 GiB of the bytes left)
    // until `count` bytes moved or the file ends.
    template <typename Step>
    std::size_t Transfer(std::size_t count, const char* failure, Step step)
    {
        std::size_t done = 0;
        while (done < count) {
            DWORD n = 0;
            if (!step(done, DWORD(std::min<std::size_t>(count - done, 1u << 30)), n))
                throw StreamError(failure + SystemMessage(::GetLastError()));
            if (n == 0)
                break;
            done += n;
        }
        position_ += std::int64_t(done);
        return done;
    }

    BY_HANDLE_FILE_INFORMATION Information()
    {
        if (readOnly_)
            return opened_;
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(handle_, &info))
            ThrowFileError("Cannot read attributes of", path_, ::GetLastError());
        return info;
    }

    HANDLE handle_;
    std::string path_;
    std::int64_t position_ = 0;
    BY_HANDLE_FILE_INFORMATION opened_{};
    bool readOnly_ = false;
};

using WindowsFileStream = WindowsStream<FileStream>;

std::string Join(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    return IsPathSeparator(folder.back()) ? folder + name : folder + "\\" + name;
}

std::string Shown(const std::string& folder) { return folder.empty() ? "." : folder; }

// Calls `visit(data)` for every entry of `folder` matching `mask` as Windows
// matches masks ("*.*" every name, the short names too), "." and ".." left
// out. Returns the error that ended the enumeration early, 0 when none.
template <typename Visit>
DWORD FindEach(const std::string& folder, const std::string& mask, Visit visit)
{
    WIN32_FIND_DATAW data;
    std::wstring pattern;
    if (!LongPathOf(Join(Shown(folder), mask), pattern))
        return ::GetLastError();
    const HANDLE find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                           FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : ::GetLastError();
    do {
        if (std::wcscmp(data.cFileName, L".") != 0 && std::wcscmp(data.cFileName, L"..") != 0)
            visit(data);
    } while (::FindNextFileW(find, &data));
    const DWORD error = ::GetLastError();
    ::FindClose(find);
    return error == ERROR_NO_MORE_FILES ? 0 : error;
}

// A hidden or system folder, or a reparse point (junction, link), is never
// entered: the last keeps recursion out of loops.
bool MayEnter(DWORD attributes)
{
    return IsFolder(attributes) &&
           (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

// A hidden or system folder that is no reparse point: entered when asked.
bool IsHiddenFolder(DWORD attributes)
{
    return IsFolder(attributes) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
           (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
}

// Names sort by their lowered bytes (as they are stored), then by their bytes.
bool StoredOrder(const std::string& a, const std::string& b)
{
    const std::string la = StoredName(a);
    const std::string lb = StoredName(b);
    return la != lb ? la < lb : a < b;
}

// The process `pid` no longer runs.
bool ProcessGone(DWORD pid)
{
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr)
        return ::GetLastError() == ERROR_INVALID_PARAMETER;
    const bool gone = ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    ::CloseHandle(process);
    return gone;
}

const std::string kTemporaryPrefix = "~arcovelo-";
constexpr std::size_t kTemporaryRandomLength = 6;
const std::string kTemporarySuffix = ".tmp";

// Temporary files of a restore carry the process's number, so a later restore
// can tell the leftovers of a killed one from those of a running one.
std::string TemporaryPrefix(const std::string& folder)
{
    return Join(Shown(folder), kTemporaryPrefix + std::to_string(::GetCurrentProcessId()) + "-");
}

bool IsRandomLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// The process number in `name` when it has exactly the shape CreateNamed
// gives a restore's temporary file ("~arcovelo-<pid>-xxxxxx.tmp"), else 0.
DWORD TemporaryOwnerOf(const std::string& name)
{
    if (name.compare(0, kTemporaryPrefix.size(), kTemporaryPrefix) != 0)
        return 0;
    const std::size_t digits = kTemporaryPrefix.size();
    std::size_t at = digits;
    while (at < name.size() && name[at] >= '0' && name[at] <= '9')
        ++at;
    if (at == digits || at - digits > 10 || name[digits] == '0' ||
        name.size() != at + 1 + kTemporaryRandomLength + kTemporarySuffix.size() || name[at] != '-' ||
        !std::all_of(name.begin() + std::ptrdiff_t(at + 1), name.begin() + std::ptrdiff_t(at + 1 + kTemporaryRandomLength),
                     IsRandomLetter) ||
        name.compare(at + 1 + kTemporaryRandomLength, kTemporarySuffix.size(), kTemporarySuffix) != 0)
        return 0;
    const unsigned long long pid = std::stoull(name.substr(digits, at - digits));
    return pid <= 0xFFFFFFFFull ? DWORD(pid) : 0;
}

// The security identifier `kind` (TokenUser or TokenOwner) of this process's
// user, or empty.
std::vector<BYTE> TokenSid(TOKEN_INFORMATION_CLASS kind)
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    ::GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    const bool read = size != 0 && ::GetTokenInformation(token, kind, buffer.data(), size, &size);
    ::CloseHandle(token);
    if (!read)
        return {};
    const PSID sid = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                                       : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
    const auto* bytes = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(bytes, bytes + ::GetLengthSid(sid));
}

bool SameSid(PSID sid, const std::vector<BYTE>& other)
{
    return !other.empty() && ::EqualSid(sid, const_cast<BYTE*>(other.data()));
}

// The open file is owned by this process's user (or by the owner it gives
// new files); a file system that tells no owner counts as the user's.
bool OwnedByThisUser(HANDLE file)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                          &descriptor) != ERROR_SUCCESS)
        return true;
    static const std::vector<BYTE> user = TokenSid(TokenUser);
    static const std::vector<BYTE> defaultOwner = TokenSid(TokenOwner);
    const bool ours = owner == nullptr || SameSid(owner, user) || SameSid(owner, defaultOwner);
    ::LocalFree(descriptor);
    return ours;
}

// The open file is the one `path` names itself, not one a link led to: a
// layer that shows links as plain files (Wine shows POSIX symbolic links so)
// still names the file it reached.
bool ReachedDirectly(HANDLE file, const std::string& path)
{
    std::wstring reached(32768, L'\0');
    const DWORD n = ::GetFinalPathNameByHandleW(file, reached.data(), DWORD(reached.size()), FILE_NAME_NORMALIZED);
    if (n == 0 || n >= reached.size())
        return false;
    reached.resize(n);
    const std::wstring named = LongPath(path);
    return ::CompareStringOrdinal(reached.c_str(), int(reached.size()), named.c_str(), int(named.size()), TRUE) ==
           CSTR_EQUAL;
}

// Deletes `path` only when it is what a killed restore leaves: a regular
// file with one name, owned by this user, reached without following a
// reparse point or any other link. It is deleted through the handle that was
// checked, so nothing can be swapped in between. A leftover that stays is
// harmless: the next restore into the folder tries again.
void RemoveLeftover(const std::string& path)
{
    const HANDLE handle = OpenHandle(path, DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    BY_HANDLE_FILE_INFORMATION info{};
    constexpr DWORD kNotAFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    if (::GetFileType(handle) == FILE_TYPE_DISK && ::GetFileInformationByHandle(handle, &info) &&
        (info.dwFileAttributes & kNotAFile) == 0 && info.nNumberOfLinks == 1 && ReachedDirectly(handle, path) &&
        OwnedByThisUser(handle)) {
        FILE_DISPOSITION_INFO dispose{};
        dispose.DeleteFile = TRUE;
        ::SetFileInformationByHandle(handle, FileDispositionInfo, &dispose, sizeof dispose);
    }
    ::CloseHandle(handle);
}

// Removes the temporary files of restores whose process is gone.
void RemoveLeftovers(const std::string& folder)
{
    std::vector<std::string> stale;
    FindEach(folder, kTemporaryPrefix + "*" + kTemporarySuffix, [&](const WIN32_FIND_DATAW& data) {
        const std::string name = Narrow(data.cFileName);
        const DWORD pid = TemporaryOwnerOf(name);
        if (pid != 0 && !IsFolder(data.dwFileAttributes) && ProcessGone(pid))
            stale.push_back(name);
    });
    for (const auto& name : stale)
        RemoveLeftover(Join(folder, name));
}

// The start of this process's aside names for `path`, in its folder.
std::string AsidePrefix(const std::string& path)
{
    const std::string folder = ParentFolder(path);
    const std::string name = path.substr(folder.empty() ? 0 : folder.size() + (IsPathSeparator(folder.back()) ? 0 : 1));
    return Join(Shown(folder), AsideNamePrefix(name, ::GetCurrentProcessId()));
}

// Tries names of `prefix`, random letters and `suffix` until `make(name)`
// makes one, or fails otherwise than because the name is taken (the last
// error then says why). The name made is in `path`.
template <typename Make>
bool WithFreeName(const std::string& prefix, const std::string& suffix, std::string& path, Make make)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static thread_local std::uint64_t state = std::uint64_t(::GetCurrentProcessId()) << 32 ^ ::GetTickCount64() ^
                                              std::uint64_t(std::uintptr_t(&path));
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string name = prefix;
        for (std::size_t i = 0; i < kTemporaryRandomLength; ++i) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            name += letters[(state >> 33) % (sizeof letters - 1)];
        }
        name += suffix;
        if (make(name)) {
            path = name;
            return true;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    ::SetLastError(ERROR_FILE_EXISTS);
    return false;
}

// Creates a new file of such a name (by default ending in ".tmp"); the
// handle, its name in `path`.
HANDLE CreateNamed(const std::string& prefix, DWORD access, DWORD flags, std::string& path,
                   const std::string& suffix = kTemporarySuffix)
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    WithFreeName(prefix, suffix, path, [&](const std::string& name) {
        handle = ::CreateFileW(LongPath(name).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, CREATE_NEW, flags, nullptr);
        return handle != INVALID_HANDLE_VALUE;
    });
    return handle;
}

// Gives the open file the last-write time of `stamp` (a stamp that is not a
// date leaves the time as written) and exactly `attributes`.
bool SetTimeAndAttributes(HANDLE handle, std::int32_t stamp, DWORD attributes)
{
    FILE_BASIC_INFO info{};  // times left 0 are not changed
    std::time_t t = 0;
    if (TimeFromDosStamp(stamp, t)) {
        const FILETIME ft = FileTimeOf(t);
        info.LastWriteTime.LowPart = ft.dwLowDateTime;
        info.LastWriteTime.HighPart = LONG(ft.dwHighDateTime);
    }
    info.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(handle, FileBasicInfo, &info, sizeof info) != 0;
}

// The attributes a restored file gets: a replaced file keeps exactly those it
// had, a new one is a plain file (with the archive attribute, as any new file).
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// A restored file: written to a hidden temporary file beside its destination
// and moved over it by Commit, with write-through, once its data are flushed.
// A destination with other hard links gets the data copied into it instead,
// so the other names see them.
class WindowsPendingFile final : public WindowsStream<PendingFile> {
public:
    struct Plan {
        std::string destination;
        std::string tempPath;
        bool exists = false;
        bool inPlace = false;
        DWORD oldAttributes = 0;
    };

    WindowsPendingFile(HANDLE handle, Plan plan)
        : WindowsStream<PendingFile>(handle, plan.destination), plan_(std::move(plan))
    {
    }
    ~WindowsPendingFile() override
    {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
        if (!plan_.tempPath.empty())
            ::DeleteFileW(LongPath(plan_.tempPath).c_str());
    }

    void Commit(std::int32_t stamp) override
    {
        Seal(stamp);
        Place();
    }

    // The temporary file, hidden while it is written, takes the time and the
    // attributes the restored file is to have.
    void Seal(std::int32_t stamp) override
    {
        stamp_ = stamp;
        if (!plan_.inPlace && !SetTimeAndAttributes(handle_, stamp, RestoredAttributes()))
            Fail(::GetLastError());
    }

    void Place() override
    {
        if (plan_.inPlace) {
            CopyIntoDestination();
            Close();
            return;
        }
        Sync();  // the content is on storage before it is moved in
        Close();
        MoveIntoPlace();
    }

private:
    void Fail(DWORD error) { ThrowFileError("Cannot create file", plan_.destination, error); }

    void MoveIntoPlace()
    {
        if (!::MoveFileExW(LongPath(plan_.tempPath).c_str(), LongPath(plan_.destination).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            Fail(::GetLastError());
        plan_.tempPath.clear();
    }

    DWORD RestoredAttributes() const
    {
        return plan_.exists ? plan_.oldAttributes & kSettableAttributes : FILE_ATTRIBUTE_ARCHIVE;
    }

    // Room for the new content is taken before its first byte is written, so
    // a disk that is too full leaves the old content whole. (A smaller size
    // is set only at the end: a smaller allocation would cut the file now.)
    // Where the allocation cannot be asked for, the file is lengthened
    // instead, which Windows file systems allocate at once; the old bytes
    // stay as they are either way.
    bool ReserveSpace(HANDLE out)
    {
        LARGE_INTEGER oldSize{};
        LARGE_INTEGER newSize{};
        if (!::GetFileSizeEx(out, &oldSize) || !::GetFileSizeEx(handle_, &newSize))
            return false;
        if (newSize.QuadPart <= oldSize.QuadPart)
            return true;
        FILE_ALLOCATION_INFO reserve{};
        reserve.AllocationSize = newSize;
        if (::SetFileInformationByHandle(out, FileAllocationInfo, &reserve, sizeof reserve))
            return true;
        const DWORD error = ::GetLastError();
        if (error != ERROR_CALL_NOT_IMPLEMENTED && error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED &&
            error != ERROR_INVALID_PARAMETER)
            return false;
        return ::SetFilePointerEx(out, newSize, nullptr, FILE_BEGIN) && ::SetEndOfFile(out) &&
               ::SetFilePointerEx(out, LARGE_INTEGER{}, nullptr, FILE_BEGIN);
    }

    void CopyIntoDestination()
    {
        const HANDLE out = OpenHandle(plan_.destination, GENERIC_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
        if (out == INVALID_HANDLE_VALUE)
            Fail(::GetLastError());
        std::vector<char> buffer(1 << 16);
        bool ok = ReserveSpace(out) && ::SetFilePointer(handle_, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
        for (DWORD n = 1; ok && n != 0;) {
            DWORD written = 0;
            ok = ::ReadFile(handle_, buffer.data(), DWORD(buffer.size()), &n, nullptr) &&
                 (n == 0 || (::WriteFile(out, buffer.data(), n, &written, nullptr) && written == n));
        }
        ok = ok && ::SetEndOfFile(out) && SetTimeAndAttributes(out, stamp_, RestoredAttributes());
        ok = ok && ::FlushFileBuffers(out);
        const DWORD error = ::GetLastError();
        ::CloseHandle(out);
        if (!ok)
            Fail(error);
    }

    Plan plan_;
    std::int32_t stamp_ = 0;
};

// The archive attribute as the file system keeps it: set by the system on
// every write, cleared here only for a file still as the archive holds it.
class WindowsArchiveAttributes final : public ArchiveFlags {
public:
    std::vector<bool> AreSet(const std::vector<FileEntry>& files) override
    {
        std::vector<bool> set;
        set.reserve(files.size());
        for (const auto& file : files) {
            const DWORD attributes = ::GetFileAttributesW(LongPath(file.path).c_str());
            set.push_back(attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_ARCHIVE) != 0);
        }
        return set;
    }

    bool Clear(const std::vector<FileEntry>& files) override
    {
        bool cleared = false;
        for (const auto& file : files) {
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (!Attributes(file.path, data))
                continue;
            const FileIdentity now = ListedIdentityOf(data);
            if (now.size != file.identity.size || now.mtimeNs != file.identity.mtimeNs)
                continue;  // written since it was archived: it stays set
            cleared |= ::SetFileAttributesW(LongPath(file.path).c_str(),
                                            data.dwFileAttributes & ~DWORD(FILE_ATTRIBUTE_ARCHIVE)) != 0;
        }
        return cleared;
    }
};

class WindowsFileSystem final : public FileSystem {
public:
    FolderListing ListFolder(const std::string& folder, const std::string& mask, bool withFolders) override
    {
        FolderListing out;
        const bool wild = mask.find_first_of("*?") != std::string::npos;
        if (!wild && !withFolders) {
            // A plain name: no need to read the whole folder.
            WIN32_FILE_ATTRIBUTE_DATA data;
            const std::string path = Join(folder, mask);
            if (mask.empty())
                return out;
            if (Attributes(path, data)) {
                if (!IsFolder(data.dwFileAttributes))
                    out.files.push_back({mask, ListedIdentityOf(data)});
            } else if (const DWORD error = ::GetLastError(); !IsAbsence(error)) {
                out.problem = "Cannot read \"" + path + "\". " + SystemMessage(error);
            }
            return out;
        }
        DWORD error = FindEach(folder, mask, [&](const WIN32_FIND_DATAW& data) {
            if (!IsFolder(data.dwFileAttributes))
                out.files.push_back({Narrow(data.cFileName), ListedIdentityOf(data)});
        });
        if (withFolders && error == 0)
            error = FindEach(folder, "*", [&](const WIN32_FIND_DATAW& data) {
                if (MayEnter(data.dwFileAttributes))
                    out.folders.push_back(Narrow(data.cFileName));
                else if (IsHiddenFolder(data.dwFileAttributes))
                    out.hiddenFolders.push_back(Narrow(data.cFileName));
            });
        if (error != 0)
            out.problem = "Cannot read folder \"" + Shown(folder) + "\". " + SystemMessage(error);
        std::sort(out.files.begin(), out.files.end(),
                  [](const FileEntry& a, const FileEntry& b) { return StoredOrder(a.path, b.path); });
        std::sort(out.folders.begin(), out.folders.end(), StoredOrder);
        return out;
    }

    std::string AbsolutePath(const std::string& path) override { return Narrow(FullPath(Wide(path.empty() ? "." : path))); }

    std::string ResolveLinks(const std::string& path) override
    {
        const HANDLE handle = OpenHandle(path, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
        if (handle == INVALID_HANDLE_VALUE)
            return path;
        std::wstring out(32768, L'\0');
        const DWORD n = ::GetFinalPathNameByHandleW(handle, out.data(), DWORD(out.size()), FILE_NAME_NORMALIZED);
        ::CloseHandle(handle);
        if (n == 0 || n >= out.size())
            return path;
        out.resize(n);
        if (out.rfind(L"\\\\?\\UNC\\", 0) == 0)
            return Narrow(L"\\\\" + out.substr(8));
        return Narrow(out.rfind(L"\\\\?\\", 0) == 0 ? out.substr(4) : out);
    }

    bool Identify(const std::string& path, FileIdentity& identity) override
    {
        if (path.empty())
            return false;
        const HANDLE handle = OpenHandle(path, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
        if (handle == INVALID_HANDLE_VALUE)
            return false;
        BY_HANDLE_FILE_INFORMATION info{};
        const bool known = ::GetFileInformationByHandle(handle, &info) != 0;
        ::CloseHandle(handle);
        if (known)
            identity = IdentityOf(info);
        return known;
    }

    bool CheckReadable(const std::string& path) override
    {
        const HANDLE handle = OpenHandle(path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
        if (handle != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle);
            return true;
        }
        if (IsAbsence(::GetLastError()))
            return false;
        ThrowFileError("Cannot open file", path, ::GetLastError());
    }

    bool FileExists(const std::string& path) override
    {
        WIN32_FILE_ATTRIBUTE_DATA data;
        return Attributes(path, data) && !IsFolder(data.dwFileAttributes);
    }

    bool FolderExists(const std::string& path) override
    {
        WIN32_FILE_ATTRIBUTE_DATA data;
        return Attributes(path, data) && IsFolder(data.dwFileAttributes);
    }

    PathKind KindOf(const std::string& path) override
    {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!Attributes(path, data))
            return PathKind::Missing;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return PathKind::Link;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE)
            return PathKind::Other;
        return IsFolder(data.dwFileAttributes) ? PathKind::Folder : PathKind::File;
    }

    // A read-only file is refused as a restore refuses it; folders take files.
    bool MayWrite(const std::string& path) override
    {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        return !Attributes(path, data) || IsFolder(data.dwFileAttributes) ||
               (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0;
    }

    std::int32_t FileAge(const std::string& path) override
    {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!Attributes(path, data) || IsFolder(data.dwFileAttributes))
            return -1;
        return StampOf(data.ftLastWriteTime);
    }

    std::unique_ptr<FileStream> OpenRead(const std::string& path) override
    {
        const HANDLE handle = OpenHandle(path, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
        if (handle == INVALID_HANDLE_VALUE)
            ThrowFileError("Cannot open file", path, ::GetLastError());
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(handle, &info) || IsFolder(info.dwFileAttributes) ||
            ::GetFileType(handle) != FILE_TYPE_DISK) {
            ::CloseHandle(handle);
            ThrowFileError("Cannot open file", path, ERROR_INVALID_FUNCTION);
        }
        return std::make_unique<WindowsFileStream>(handle, path, info);
    }

    std::unique_ptr<FileStream> Create(const std::string& path) override
    {
        // OPEN_ALWAYS and a cut to 0, so a hidden or system file can be
        // replaced too (CREATE_ALWAYS refuses them).
        const HANDLE handle = ::CreateFileW(LongPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            ThrowFileError("Cannot create file", path, ::GetLastError());
        if (!::SetEndOfFile(handle)) {
            const DWORD error = ::GetLastError();
            ::CloseHandle(handle);
            ThrowFileError("Cannot create file", path, error);
        }
        return std::make_unique<WindowsFileStream>(handle, path);
    }

    std::unique_ptr<FileStream> CreateUnique(const std::string& folder, const std::string& prefix,
                                             std::string& path) override
    {
        // Deleted by the system when its handle closes, however the process ends.
        const HANDLE handle = CreateNamed(Join(Shown(folder), prefix), GENERIC_READ | GENERIC_WRITE | DELETE,
                                          FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, path);
        if (handle == INVALID_HANDLE_VALUE)
            ThrowFileError("Cannot create file", Join(Shown(folder), prefix), ::GetLastError());
        return std::make_unique<WindowsFileStream>(handle, path);
    }

    std::unique_ptr<FileStream> CreateAside(const std::string& path, std::string& asidePath) override
    {
        const std::string prefix = AsidePrefix(path);
        // What could not be written in place is not replaced either.
        WIN32_FILE_ATTRIBUTE_DATA old{};
        if (Attributes(path, old) && IsFolder(old.dwFileAttributes))
            ThrowFileError("Cannot create file", path, ERROR_DIRECTORY);
        if (old.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            ThrowFileError("Cannot create file", path, ERROR_ACCESS_DENIED);
        // Normal attributes: the moved file keeps them, and an archive is no
        // temporary file once it is in place.
        const HANDLE handle =
            CreateNamed(prefix, GENERIC_READ | GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL, asidePath, kAsideNameSuffix);
        if (handle == INVALID_HANDLE_VALUE)
            ThrowFileError("Cannot create file", path, ::GetLastError());
        return std::make_unique<WindowsFileStream>(handle, asidePath);
    }

    void RemoveStaleAside(const std::string& folder,
                          const std::function<bool(const std::string& target)>& wanted) override
    {
        std::vector<std::string> stale;
        FindEach(folder, "*" + std::string(kAsideNameSuffix), [&](const WIN32_FIND_DATAW& data) {
            std::string target;
            unsigned long pid = 0;
            const std::string name = Narrow(data.cFileName);
            const bool plainFile = (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
            if (plainFile && ParseAsideName(name, target, pid) && wanted(target) && ProcessGone(DWORD(pid)))
                stale.push_back(Join(Shown(folder), name));
        });
        for (const auto& path : stale)
            RemoveLoneFile(path);
    }

    bool KeepAside(const std::string& path, std::string& asidePath) override
    {
        return WithFreeName(AsidePrefix(path), kAsideNameSuffix, asidePath, [&](const std::string& aside) {
            return ::CreateHardLinkW(LongPath(aside).c_str(), LongPath(path).c_str(), nullptr) != 0;
        });
    }

    void MoveOver(const std::string& from, const std::string& to) override
    {
        if (!::MoveFileExW(LongPath(from).c_str(), LongPath(to).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            ThrowFileError("Cannot rename file", to, ::GetLastError());
    }

    bool RemoveFile(const std::string& path) override { return ::DeleteFileW(LongPath(path).c_str()) != 0; }

    std::unique_ptr<PendingFile> CreatePending(const std::string& path, bool seenMissing) override
    {
        WindowsPendingFile::Plan plan;
        plan.destination = path;
        const HANDLE old = seenMissing ? INVALID_HANDLE_VALUE
                                       : OpenHandle(path, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
        if (old != INVALID_HANDLE_VALUE) {
            BY_HANDLE_FILE_INFORMATION info{};
            plan.exists = ::GetFileInformationByHandle(old, &info) != 0;
            ::CloseHandle(old);
            plan.oldAttributes = info.dwFileAttributes;
            plan.inPlace = plan.exists && info.nNumberOfLinks > 1;
            if (plan.exists && IsFolder(info.dwFileAttributes))
                ThrowFileError("Cannot create file", path, ERROR_DIRECTORY);
            if (plan.exists && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY))
                ThrowFileError("Cannot create file", path, ERROR_ACCESS_DENIED);
        }
        const std::string folder = plan.inPlace ? TempFolder() : ParentFolder(path);
        ForgetLeftoversOnce(folder);
        const HANDLE handle = CreateNamed(TemporaryPrefix(folder), GENERIC_READ | GENERIC_WRITE,
                                          FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, plan.tempPath);
        if (handle == INVALID_HANDLE_VALUE)
            ThrowFileError("Cannot create file", path, ::GetLastError());
        return std::make_unique<WindowsPendingFile>(handle, std::move(plan));
    }

    std::string TempFolder() override
    {
        wchar_t buffer[MAX_PATH + 2];
        const DWORD n = ::GetTempPathW(MAX_PATH + 2, buffer);
        std::string folder = n != 0 && n <= MAX_PATH + 1 ? Narrow(std::wstring(buffer, n)) : ".";
        if (folder.size() > 3 && IsPathSeparator(folder.back()))
            folder.pop_back();
        return folder;
    }

    bool CreateFolder(const std::string& path) override
    {
        std::wstring name;
        return (LongPathOf(path, name) && ::CreateDirectoryW(name.c_str(), nullptr)) ||
               (::GetLastError() == ERROR_ALREADY_EXISTS && FolderExists(path));
    }

    // Names are moved in with MOVEFILE_WRITE_THROUGH, which returns only once
    // the move is on stable storage: nothing is left to flush in the folder.
    void SyncFolder(const std::string& path) override
    {
        if (!path.empty() && !FolderExists(path))
            ThrowFileError("Cannot open folder", path, ERROR_PATH_NOT_FOUND);
    }

    std::unique_ptr<ArchiveFlags> OpenArchiveFlags() override { return std::make_unique<WindowsArchiveAttributes>(); }

private:
    // Deletes `path` through a handle on the entry itself (never what a
    // reparse point leads to), and only when it has no other link.
    static void RemoveLoneFile(const std::string& path)
    {
        const HANDLE handle = OpenHandle(path, DELETE | FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
        if (handle == INVALID_HANDLE_VALUE)
            return;
        BY_HANDLE_FILE_INFORMATION info{};
        if (::GetFileInformationByHandle(handle, &info) && info.nNumberOfLinks == 1 &&
            (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
            FILE_DISPOSITION_INFO disposition{TRUE};
            ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
        }
        ::CloseHandle(handle);
    }

    void ForgetLeftoversOnce(const std::string& folder)
    {
        std::lock_guard lock(cleanedMutex_);
        if (cleaned_.insert(folder).second)
            RemoveLeftovers(folder);
    }

    std::mutex cleanedMutex_;
    std::set<std::string> cleaned_;
};

}  // namespace

std::shared_ptr<FileSystem> NativeFileSystem()
{
    static const auto instance = std::make_shared<WindowsFileSystem>();
    return instance;
}

// Windows keeps the archive attribute with each file: there is no store.
std::shared_ptr<FileSystem> MakeNativeFileSystem(const std::string&) { return std::make_shared<WindowsFileSystem>(); }

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

// Win32 handles have no per-process limit worth raising.
std::int64_t FileClockNowNs()
{
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);  // the clock file times are taken from
    return Nanoseconds(now);
}

void RaiseOpenFileLimit() {}

std::string ParentFolder(const std::string& path)
{
    const auto cut = path.find_last_of("\\/");
    if (cut == std::string::npos)
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : "";
    const bool driveRoot = cut == 2 && path[1] == ':';
    return cut == 0 || driveRoot ? path.substr(0, cut + 1) : path.substr(0, cut);
}

std::string StoredName(std::string path)
{
    for (char& c : path)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return path;
}

std::string ComparedName(const std::string& path)
{
    std::wstring wide;
    try {
        wide = Wide(path);
    } catch (const StreamError&) {
        return StoredName(path);  // no file has such a name here
    }
    ::CharUpperBuffW(wide.data(), DWORD(wide.size()));
    return Narrow(wide);
}

namespace {

// The zone's rules for `year`: its bias and daylight-saving dates as they were
// that year (Windows keeps the changes of each zone's rules), asked of the
// system once per year.
bool ZoneRulesOf(int year, TIME_ZONE_INFORMATION& rules)
{
    static std::mutex mutex;
    static std::map<int, TIME_ZONE_INFORMATION> known;
    std::lock_guard lock(mutex);
    if (const auto it = known.find(year); it != known.end()) {
        rules = it->second;
        return true;
    }
    DYNAMIC_TIME_ZONE_INFORMATION zone{};
    if (year < 1601 || year > 30827 || ::GetDynamicTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID ||
        !::GetTimeZoneInformationForYear(USHORT(year), &zone, &rules))
        return false;
    known.emplace(year, rules);
    return true;
}

// `utc` in local time under the rules of the local year (which differs from
// the UTC year only in the hours around New Year).
bool LocalSystemTime(const SYSTEMTIME& utc, SYSTEMTIME& here)
{
    TIME_ZONE_INFORMATION rules;
    if (!ZoneRulesOf(utc.wYear, rules) || !::SystemTimeToTzSpecificLocalTime(&rules, &utc, &here))
        return false;
    return here.wYear == utc.wYear ||
           (ZoneRulesOf(here.wYear, rules) && ::SystemTimeToTzSpecificLocalTime(&rules, &utc, &here));
}

}  // namespace

// Local time under the rules in force at that date (daylight saving time as
// it was then), as the POSIX build does, not under today's rules.
bool LocalTimeOf(std::time_t t, std::tm& local)
{
    const FILETIME ft = FileTimeOf(t);
    SYSTEMTIME utc;
    SYSTEMTIME here;
    if (!::FileTimeToSystemTime(&ft, &utc) || !LocalSystemTime(utc, here))
        return false;
    local = {};
    local.tm_year = here.wYear - 1900;
    local.tm_mon = here.wMonth - 1;
    local.tm_mday = here.wDay;
    local.tm_hour = here.wHour;
    local.tm_min = here.wMinute;
    local.tm_sec = here.wSecond;
    local.tm_wday = here.wDayOfWeek;
    local.tm_isdst = -1;
    return true;
}

bool TimeOfLocal(const std::tm& local, std::time_t& t)
{
    SYSTEMTIME here{};
    here.wYear = WORD(local.tm_year + 1900);
    here.wMonth = WORD(local.tm_mon + 1);
    here.wDay = WORD(local.tm_mday);
    here.wHour = WORD(local.tm_hour);
    here.wMinute = WORD(local.tm_min);
    here.wSecond = WORD(local.tm_sec);
    TIME_ZONE_INFORMATION rules;
    SYSTEMTIME utc;
    FILETIME ft;
    if (!ZoneRulesOf(local.tm_year + 1900, rules) || !::TzSpecificLocalTimeToSystemTime(&rules, &here, &utc) ||
        !::SystemTimeToFileTime(&utc, &ft))
        return false;
    t = std::time_t(Nanoseconds(ft) / 1000000000);
    return true;
}

}  // namespace arcovelo
