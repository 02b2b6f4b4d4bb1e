// Shared helpers of the engine tests: a scratch folder per test, file helpers,
// a scripted host, a failing file system and a small independent archive parser.
#pragma once

#include "backup.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace arcovelo::test {

namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadBytes(const fs::path& path);
std::string ReadText(const fs::path& path);
void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes);
void WriteText(const fs::path& path, const std::string& text);
// Bytes that zlib cannot shrink.
std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed = 1);
// Bytes that compress well.
std::vector<std::uint8_t> TextBytes(std::size_t size);
// Sets a file's modification time to `seconds` since the epoch.
void SetMtime(const fs::path& path, std::int64_t seconds);
std::int64_t Mtime(const fs::path& path);
long ProcessId();
// Returns once the clock file times are stamped with has ticked: files written
// before the call are then older than anything a backup started after it
// reads (a backup keeps the flag of a file changed in its own first tick).
void LetFileClockTick();
// Points the folder for temporary files at `folder`; an empty path restores
// the system's.
void UseTempFolder(const fs::path& folder);

// Answers disk prompts from a script and records every text it was shown.
class ScriptedHost : public BackupHost {
public:
    bool AskForDisk(const std::string& text) override;
    void ShowError(const std::string& text) override { errors.push_back(text); }
    void ShowWarning(const std::string& text) override { warnings.push_back(text); }
    void ProcessMessages() override { ++yields; }
    bool AsksPersonForDisks() const override { return asksPerson; }

    bool asksPerson = true;     // false: the answers come without anybody changing disks
    std::vector<bool> answers;  // taken in order; Cancel once they run out
    std::vector<std::string> prompts;
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
    int yields = 0;
};

// Wraps a file system; every operation is first offered to `fail`, which
// answers true to make it fail as the system would.
enum class Op { OpenRead, Create, CreateTemp, Read, Write, Sync, Close, ClearFlag, Commit, SyncFolder, Rename };
class FaultyFileSystem : public FileSystem {
public:
    explicit FaultyFileSystem(std::shared_ptr<FileSystem> inner) : inner_(std::move(inner)) {}
    std::function<bool(Op, const std::string& path)> fail = [](Op, const std::string&) { return false; };
    // Added to the size a source file reports, to imitate a file that shrinks.
    std::int64_t extraReportedSize = 0;
    // Added to the sizes a listing reports only, to imitate a file that grows
    // after it was listed.
    std::int64_t listedSizeChange = 0;
    // Times cut to whole seconds in listings and opened files, as a file
    // system with a coarse clock keeps them.
    bool wholeSecondTimes = false;
    FileIdentity Reported(FileIdentity id) const
    {
        if (wholeSecondTimes) {
            id.mtimeNs -= id.mtimeNs % 1'000'000'000;
            id.ctimeNs -= id.ctimeNs % 1'000'000'000;
        }
        return id;
    }

    FolderListing ListFolder(const std::string& f, const std::string& m, bool sub) override
    {
        FolderListing listing = inner_->ListFolder(f, m, sub);
        for (auto& file : listing.files) {
            file.identity = Reported(file.identity);
            file.identity.size += extraReportedSize + listedSizeChange;
            file.readable = false;  // so that CheckReadable can fail it
        }
        return listing;
    }
    bool CheckReadable(const std::string& p) override
    {
        if (Fails(Op::OpenRead, p))
            throw StreamError("Cannot open file \"" + p + "\". injected");
        return inner_->CheckReadable(p);
    }
    std::string AbsolutePath(const std::string& p) override { return inner_->AbsolutePath(p); }
    std::string ResolveLinks(const std::string& p) override { return inner_->ResolveLinks(p); }
    bool Identify(const std::string& p, FileIdentity& id) override { return inner_->Identify(p, id); }
    bool FileExists(const std::string& p) override { return inner_->FileExists(p); }
    bool FolderExists(const std::string& p) override { return inner_->FolderExists(p); }
    PathKind KindOf(const std::string& p) override { return inner_->KindOf(p); }
    bool MayWrite(const std::string& p) override { return inner_->MayWrite(p); }
    std::int32_t FileAge(const std::string& p) override { return inner_->FileAge(p); }
    std::unique_ptr<FileStream> OpenRead(const std::string& p) override;
    std::unique_ptr<FileStream> Create(const std::string& p) override;
    std::unique_ptr<FileStream> CreateUnique(const std::string& f, const std::string& prefix, std::string& p) override;
    std::unique_ptr<PendingFile> CreatePending(const std::string& p, bool seenMissing) override;
    // An aside file is offered to `fail` (Create, Write, ...) under the name
    // it is written for.
    std::unique_ptr<FileStream> CreateAside(const std::string& p, std::string& aside) override;
    void RemoveStaleAside(const std::string& f, const std::function<bool(const std::string&)>& wanted) override
    {
        inner_->RemoveStaleAside(f, wanted);
    }
    bool KeepAside(const std::string& p, std::string& aside) override { return inner_->KeepAside(p, aside); }
    void MoveOver(const std::string& from, const std::string& to) override;
    bool RemoveFile(const std::string& p) override { return inner_->RemoveFile(p); }
    std::string TempFolder() override { return inner_->TempFolder(); }
    bool CreateFolder(const std::string& p) override { return inner_->CreateFolder(p); }
    void SyncFolder(const std::string& p) override;
    std::unique_ptr<ArchiveFlags> OpenArchiveFlags() override;

    // Asks `fail`, one caller at a time: workers open and read small files.
    bool Fails(Op op, const std::string& path)
    {
        std::lock_guard lock(failMutex_);
        return fail(op, path);
    }

private:
    std::mutex failMutex_;
    std::unique_ptr<FileStream> Wrap(std::unique_ptr<FileStream> inner, const std::string& path, bool source);
    std::shared_ptr<FileSystem> inner_;
};

// True when the archive flag of the file at `path` is set in `fs`'s store.
bool FlagIsSet(FileSystem& fs, const std::string& path);

#ifndef _WIN32
// Runs `body` in a child process (with `ordinaryUser`, as the user "nobody"
// when the tests run as root); the result is the child's exit status, or
// 128 + the signal that ended it.
int RunInChild(const std::function<int()>& body, bool ordinaryUser = false);
#endif

#ifdef __linux__
// A system call the kernel refuses with `error`: always, or when the low 32
// bits of its argument `argument` are at least `atLeast`, or (with `bits`)
// have all of `bits` set.
struct RefusedCall {
    long number;
    int error;
    int argument = -1;
    std::uint32_t atLeast = 0;
    std::uint32_t bits = 0;
};
// Makes the calling process refuse `calls` from now on, for good: call it in
// a child process only. False when this system cannot filter its calls.
bool RefuseSystemCalls(const std::vector<RefusedCall>& calls);
#endif

// An archive as the tests see it, parsed without the engine's reader.
struct ParsedChunk {
    std::int32_t length = 0;
    std::vector<std::uint8_t> payload;
};
struct ParsedRecord {
    std::string name;
    std::int32_t stamp = 0;
    std::vector<ParsedChunk> chunks;  // empty for a volume-change record
    bool volumeChange = false;
};
struct ParsedArchive {
    std::string title;
    std::int32_t totalSize = 0;
    std::int32_t fileCount = 0;
    std::vector<ParsedRecord> records;
    bool endMarker = false;
};
// Parses one volume (`first` false: a continuation volume, which starts with a
// block group and no header). Throws std::runtime_error on a malformed layout,
// or, with `upToCut`, returns the records that are complete before it.
ParsedArchive ParseVolume(const std::vector<std::uint8_t>& bytes, bool first = true, bool upToCut = false);
// Decodes a parsed record's chunks back to the file's bytes.
std::vector<std::uint8_t> DecodeChunks(const std::vector<ParsedChunk>& chunks);

// A scratch folder removed after the test; archive flags kept inside it.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    fs::path root;
    std::shared_ptr<FileSystem> native;
    std::shared_ptr<ScriptedHost> host;
    TBackupFile engine;
};

}  // namespace arcovelo::test
