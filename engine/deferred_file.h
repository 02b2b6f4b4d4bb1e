// A restored file for a destination that does not exist yet, kept in memory
// while it is small: the file itself is created, written and sealed later,
// by Create, on whichever thread makes its batch durable, so the thread that
// reads the archive does not wait for the file system file by file. Once its
// data outgrow the memory allowed, it becomes a pending file at once and
// writes on directly.
#pragma once

#include "platform.h"

#include <memory>
#include <string>
#include <vector>

namespace arcovelo {

class DeferredFile final : public PendingFile {
public:
    // Bytes kept in memory before the file is created where it is written.
    static constexpr std::size_t kMostKept = 256 * 1024;

    DeferredFile(FileSystem& fs, std::string destination);

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    std::int64_t Position() override;
    std::int64_t Size() override;
    std::int32_t DateStamp() override;
    FileIdentity Identity() override;
    void Sync() override;
    void Close() override;
    void Commit(std::int32_t stamp) override;
    void Seal(std::int32_t stamp) override;
    void Place() override;

    // The data kept in memory, if any, go into a new pending file, which is
    // sealed if this one was. Called once per file, from any one thread.
    // Throws StreamError.
    void Create();
    // The pending file, once created (for FileSystem::SyncSealed).
    PendingFile* Created() const { return file_.get(); }
    // Bytes still held in memory.
    std::size_t Kept() const { return kept_.size(); }

private:
    PendingFile& File();

    FileSystem& fs_;
    std::string destination_;
    std::vector<std::uint8_t> kept_;
    std::unique_ptr<PendingFile> file_;
    bool sealed_ = false;
    std::int32_t stamp_ = 0;
};

}  // namespace arcovelo
