#include "test_support.h"

#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <thread>
#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>

#include <cstddef>
#endif

namespace arcovelo::test {

std::vector<std::uint8_t> ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadText(const fs::path& path)
{
    const auto bytes = ReadBytes(path);
    return {bytes.begin(), bytes.end()};
}

void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const fs::path& path, const std::string& text) { WriteBytes(path, {text.begin(), text.end()}); }

std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed)
{
    std::mt19937 gen(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(gen());
    return bytes;
}

std::vector<std::uint8_t> TextBytes(std::size_t size)
{
    static const std::string words = "backup restore archivio volume disco file cartella ";
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(words[(i * 7 + i / 13) % words.size()]);
    return bytes;
}

void SetMtime(const fs::path& path, std::int64_t seconds)
{
    const auto at = std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
    std::error_code error;
    fs::last_write_time(path, fs::file_time_type::clock::from_sys(at), error);
    ASSERT_FALSE(error) << error.message();
}

std::int64_t Mtime(const fs::path& path)
{
    std::error_code error;
    const auto at = fs::file_time_type::clock::to_sys(fs::last_write_time(path, error));
    return std::chrono::floor<std::chrono::seconds>(at).time_since_epoch().count();
}

long ProcessId()
{
#ifdef _WIN32
    return ::_getpid();
#else
    return ::getpid();
#endif
}

void UseTempFolder(const fs::path& folder)
{
#ifdef _WIN32
    ::_putenv_s("TMP", folder.string().c_str());
#else
    if (folder.empty())
        ::unsetenv("TMPDIR");
    else
        ::setenv("TMPDIR", folder.c_str(), 1);
#endif
}

bool ScriptedHost::AskForDisk(const std::string& text)
{
    prompts.push_back(text);
    if (answers.empty())
        return false;
    const bool answer = answers.front();
    answers.erase(answers.begin());
    return answer;
}

namespace {

// Offers every read, write, sync and close of a stream to the owner's `fail`;
// `Base` is FileStream or PendingFile.
template <typename Base>
class FaultyStream : public Base {
public:
    FaultyStream(std::unique_ptr<Base> inner, std::string path, FaultyFileSystem& owner, bool source)
        : inner_(std::move(inner)), path_(std::move(path)), owner_(owner), source_(source)
    {
    }
    std::size_t Read(void* b, std::size_t n) override
    {
        Check(Op::Read);
        return inner_->Read(b, n);
    }
    std::size_t Write(const void* b, std::size_t n) override
    {
        Check(Op::Write);
        return inner_->Write(b, n);
    }
    std::int64_t Seek(std::int64_t o, SeekOrigin w) override { return inner_->Seek(o, w); }
    std::int64_t Position() override { return inner_->Position(); }
    std::int64_t Size() override { return inner_->Size() + (source_ ? owner_.extraReportedSize : 0); }
    std::int32_t DateStamp() override { return inner_->DateStamp(); }
    FileIdentity Identity() override { return source_ ? owner_.Reported(inner_->Identity()) : inner_->Identity(); }
    void Sync() override
    {
        Check(Op::Sync);
        inner_->Sync();
    }
    void Close() override
    {
        if (closed_)
            return;
        closed_ = true;
        inner_->Close();
        Check(Op::Close);
    }

protected:
    void Check(Op op)
    {
        if (owner_.Fails(op, path_))
            throw StreamError("injected failure on " + path_);
    }
    std::unique_ptr<Base> inner_;
    std::string path_;
    FaultyFileSystem& owner_;
    bool source_;
    bool closed_ = false;
};

class FaultyPendingFile final : public FaultyStream<PendingFile> {
public:
    using FaultyStream<PendingFile>::FaultyStream;
    void Commit(std::int32_t stamp) override
    {
        Check(Op::Commit);
        inner_->Commit(stamp);
    }
};

class FaultyFlags final : public ArchiveFlags {
public:
    FaultyFlags(std::unique_ptr<ArchiveFlags> inner, FaultyFileSystem& owner) : inner_(std::move(inner)), owner_(owner) {}
    std::vector<bool> AreSet(const std::vector<FileEntry>& files) override { return inner_->AreSet(files); }
    bool Clear(const std::vector<FileEntry>& files) override
    {
        return !owner_.Fails(Op::ClearFlag, files.empty() ? "" : files.front().path) && inner_->Clear(files);
    }

private:
    std::unique_ptr<ArchiveFlags> inner_;
    FaultyFileSystem& owner_;
};

}  // namespace

std::unique_ptr<FileStream> FaultyFileSystem::Wrap(std::unique_ptr<FileStream> inner, const std::string& path,
                                                   bool source)
{
    return std::make_unique<FaultyStream<FileStream>>(std::move(inner), path, *this, source);
}

std::unique_ptr<FileStream> FaultyFileSystem::OpenRead(const std::string& p)
{
    if (Fails(Op::OpenRead, p))
        throw StreamError("Cannot open file \"" + p + "\". injected");
    return Wrap(inner_->OpenRead(p), p, true);
}

std::unique_ptr<FileStream> FaultyFileSystem::Create(const std::string& p)
{
    if (Fails(Op::Create, p))
        throw StreamError("Cannot create file \"" + p + "\". injected");
    return Wrap(inner_->Create(p), p, false);
}

std::unique_ptr<FileStream> FaultyFileSystem::CreateUnique(const std::string& f, const std::string& prefix,
                                                           std::string& p)
{
    if (Fails(Op::CreateTemp, f + "/" + prefix))
        throw StreamError("Cannot create file \"" + f + "\". injected");
    auto inner = inner_->CreateUnique(f, prefix, p);
    return Wrap(std::move(inner), p, false);
}

std::unique_ptr<FileStream> FaultyFileSystem::CreateAside(const std::string& p, std::string& aside)
{
    if (Fails(Op::Create, p))
        throw StreamError("Cannot create file \"" + p + "\". injected");
    return Wrap(inner_->CreateAside(p, aside), p, false);
}

void FaultyFileSystem::MoveOver(const std::string& from, const std::string& to)
{
    if (Fails(Op::Rename, to))
        throw StreamError("Cannot rename file \"" + to + "\". injected");
    inner_->MoveOver(from, to);
}

std::unique_ptr<PendingFile> FaultyFileSystem::CreatePending(const std::string& path, bool seenMissing)
{
    if (Fails(Op::Create, path))
        throw StreamError("Cannot create file \"" + path + "\". injected");
    return std::make_unique<FaultyPendingFile>(inner_->CreatePending(path, seenMissing), path, *this, false);
}

void FaultyFileSystem::SyncFolder(const std::string& p)
{
    if (Fails(Op::SyncFolder, p))
        throw StreamError("Cannot flush folder \"" + p + "\". injected");
    inner_->SyncFolder(p);
}

std::unique_ptr<ArchiveFlags> FaultyFileSystem::OpenArchiveFlags()
{
    return std::make_unique<FaultyFlags>(inner_->OpenArchiveFlags(), *this);
}

void LetFileClockTick()
{
    // A file system may stamp a change finer than its coarse clock, up to a
    // tick ahead of it: a file stamped now marks the latest time given out.
    const auto probe = fs::temp_directory_path() / ("arcovelo-clock-" + std::to_string(FileClockNowNs()));
    WriteText(probe, "");
    FileIdentity stamped;
    const bool known = NativeFileSystem()->Identify(probe.string(), stamped);
    fs::remove(probe);
    const std::int64_t latest = known ? std::max(stamped.mtimeNs, stamped.ctimeNs) : 0;
    const std::int64_t now = FileClockNowNs();
    while (FileClockNowNs() == now || FileClockNowNs() <= latest)
        std::this_thread::yield();
}

bool FlagIsSet(FileSystem& fs, const std::string& path)
{
    FileIdentity identity;
    if (!fs.Identify(path, identity))
        return true;
    return fs.OpenArchiveFlags()->AreSet({{path, identity}}).front();
}

#ifndef _WIN32
int RunInChild(const std::function<int()>& body, bool ordinaryUser)
{
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        if (ordinaryUser && getuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            if (nobody == nullptr || setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 ||
                setuid(nobody->pw_uid) != 0)
                _exit(125);
        }
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
#endif

#ifdef __linux__
bool RefuseSystemCalls(const std::vector<RefusedCall>& calls)
{
#if defined(__x86_64__)
    constexpr std::uint32_t kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    constexpr std::uint32_t kArch = AUDIT_ARCH_AARCH64;
#else
    (void)calls;
    return false;
#endif
#if defined(__x86_64__) || defined(__aarch64__)
    const auto load = [](std::uint32_t offset) {
        return sock_filter BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offset);
    };
    std::vector<sock_filter> program{load(offsetof(seccomp_data, arch)),
                                     BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
                                     BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW)};
    for (const RefusedCall& call : calls) {
        // Each test that does not hold jumps past the rest of the call's block.
        std::vector<sock_filter> block{load(offsetof(seccomp_data, nr)),
                                       BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, std::uint32_t(call.number), 0, 0)};
        if (call.argument >= 0) {
            // The low half of a 64-bit argument: these machines are little-endian.
            block.push_back(load(std::uint32_t(offsetof(seccomp_data, args) + 8 * std::size_t(call.argument))));
            if (call.bits != 0) {
                block.push_back(BPF_STMT(BPF_ALU | BPF_AND | BPF_K, call.bits));
                block.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, call.bits, 0, 0));
            } else {
                block.push_back(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, call.atLeast, 0, 0));
            }
        }
        block.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (std::uint32_t(call.error) & SECCOMP_RET_DATA)));
        for (std::size_t i = 0; i < block.size(); ++i)
            if (BPF_CLASS(block[i].code) == BPF_JMP)
                block[i].jf = static_cast<std::uint8_t>(block.size() - 1 - i);
        program.insert(program.end(), block.begin(), block.end());
    }
    program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0) == 0;
#endif
}
#endif

namespace {

struct Cursor {
    const std::vector<std::uint8_t>& bytes;
    std::size_t at = 0;

    std::int32_t Int()
    {
        if (at + 4 > bytes.size())
            throw std::runtime_error("truncated at " + std::to_string(at));
        const auto v = std::uint32_t(bytes[at]) | std::uint32_t(bytes[at + 1]) << 8 |
                       std::uint32_t(bytes[at + 2]) << 16 | std::uint32_t(bytes[at + 3]) << 24;
        at += 4;
        return static_cast<std::int32_t>(v);
    }
    std::vector<std::uint8_t> Take(std::size_t n)
    {
        if (at + n > bytes.size())
            throw std::runtime_error("truncated at " + std::to_string(at));
        std::vector<std::uint8_t> out(bytes.begin() + std::ptrdiff_t(at), bytes.begin() + std::ptrdiff_t(at + n));
        at += n;
        return out;
    }
    std::string Text(std::size_t n)
    {
        const auto b = Take(n);
        return {b.begin(), b.end()};
    }
};

std::vector<ParsedChunk> ParseGroup(Cursor& c)
{
    if (c.Text(4) != std::string("EC2\0", 4))
        throw std::runtime_error("bad block tag at " + std::to_string(c.at - 4));
    std::vector<ParsedChunk> chunks;
    for (std::int32_t n = c.Int(); n != 0; n = c.Int())
        chunks.push_back({n, c.Take(static_cast<std::size_t>(n < 0 ? -n : n))});
    return chunks;
}

}  // namespace

ParsedArchive ParseVolume(const std::vector<std::uint8_t>& bytes, bool first, bool upToCut)
{
    ParsedArchive a;
    Cursor c{bytes};
    try {
        if (first) {
            a.title = c.Text(static_cast<std::size_t>(c.Int()));
            a.totalSize = c.Int();
            a.fileCount = c.Int();
        } else {
            a.records.push_back({"(continued)", 0, ParseGroup(c), false});
        }
    } catch (const std::runtime_error&) {
        if (!upToCut)
            throw;
        return a;
    }
    while (c.at < bytes.size()) {
        ParsedRecord r;
        try {
            const std::int32_t length = c.Int();
            if (length == 0) {
                a.endMarker = true;
                break;
            }
            r.name = c.Text(static_cast<std::size_t>(length));
            if (r.name.rfind("NEXT:DISK", 0) == 0) {
                r.volumeChange = true;
                a.records.push_back(r);
                break;
            }
            r.stamp = c.Int();
            r.chunks = ParseGroup(c);
        } catch (const std::runtime_error&) {
            if (!upToCut)
                throw;
            return a;
        }
        a.records.push_back(r);
    }
    if (c.at != bytes.size())
        throw std::runtime_error("bytes after the last record");
    return a;
}

std::vector<std::uint8_t> DecodeChunks(const std::vector<ParsedChunk>& chunks)
{
    std::vector<std::uint8_t> out;
    for (const auto& chunk : chunks) {
        if (chunk.length < 0) {
            out.insert(out.end(), chunk.payload.begin(), chunk.payload.end());
            continue;
        }
        std::vector<std::uint8_t> plain(16384);
        uLongf size = plain.size();
        if (uncompress(plain.data(), &size, chunk.payload.data(), chunk.payload.size()) != Z_OK)
            throw std::runtime_error("chunk does not decompress");
        out.insert(out.end(), plain.begin(), plain.begin() + std::ptrdiff_t(size));
    }
    return out;
}

#ifdef _WIN32
namespace {

// std::filesystem gives up on paths beyond MAX_PATH; Win32's "\\?\" form does not.
void RemoveLongTree(const std::wstring& path)
{
    WIN32_FIND_DATAW entry;
    const HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveLongTree(path + L"\\" + name);
            else
                ::DeleteFileW((path + L"\\" + name).c_str());
        } while (::FindNextFileW(find, &entry));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(path.c_str());
}

}  // namespace
#endif

void EngineTest::SetUp()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // Named as the engine stores names (lower case on Windows), so a test can
    // compare a stored name with the path it made; the random part keeps a
    // reused process number (Wine's are small) from meeting an old folder.
    root = StoredName((fs::temp_directory_path() / ("arcovelo-" + std::string(info->test_suite_name()) + "-" +
                                                     info->name() + "-" + std::to_string(ProcessId()) + "-" +
                                                     std::to_string(std::random_device()() % 1000000)))
                          .string());
    fs::create_directories(root);
    native = MakeNativeFileSystem((root / "state" / "flags.sqlite").string());
    host = std::make_shared<ScriptedHost>();
    engine.SetFileSystem(native);
    engine.SetHost(host);
}

void EngineTest::TearDown()
{
    std::error_code ignored;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ignored);
#ifdef _WIN32
    RemoveLongTree(L"\\\\?\\" + root.wstring());  // paths beyond MAX_PATH too
#else
    fs::remove_all(root, ignored);
#endif
}

}  // namespace arcovelo::test
